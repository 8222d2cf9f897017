#include "splitter/SplitFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

CGeoRect Bounds(const TArea& area) { return RingBounds(area.ring); }

TEST(SplitFile, LoadsAreaAndDegreeLines)
{
    test::CTempDir dir;
    std::string source = "areas.list";
    TAreaList areas;

    test::WriteFile(dir / "comments", "# only\n\n#comments\r\n");
    EXPECT_TRUE(LoadSplitFile(dir / "comments", areas, &source));
    EXPECT_TRUE(areas.Empty());

    test::WriteFile(dir / "one", "1: 100,200 to 300,400\n\n");
    ASSERT_TRUE(LoadSplitFile(dir / "one", areas, &source));
    ASSERT_EQ(areas.Count(), 1u);
    EXPECT_EQ(areas[0].name, "1");
    EXPECT_EQ(areas[0].source, &source);
    ASSERT_EQ(areas[0].ring.Count(), 5u);
    const CGeoPoint clockwise[] = {{36000, 54000}, {72000, 54000}, {72000, 18000}, {36000, 18000}, {36000, 54000}};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(areas[0].ring[i], clockwise[i]) << i;

    // Degree lines win where they parse, with any blanks between '#' and ':'.
    test::WriteFile(dir / "degrees", "00000007: 0,0 to 10,10\r\n#  : 1.5,-2.25 to 3.0,4.0\r\n"
                                     "8: 0,0 to 10,10\n#       : 1.5,2.5 to 3.0\n");
    ASSERT_TRUE(LoadSplitFile(dir / "degrees", areas, &source));
    ASSERT_EQ(areas.Count(), 2u);
    EXPECT_EQ(areas[0].name, "7");
    EXPECT_EQ(Bounds(areas[0]), (CGeoRect{MapUnits::FromDegrees(-2.25), MapUnits::FromDegrees(4.0),
                                          MapUnits::FromDegrees(1.5), MapUnits::FromDegrees(3.0)}));
    EXPECT_EQ(Bounds(areas[1]), (CGeoRect{0, 1800, 0, 1800}));  // three numbers: the integers stand

    // An area line right after an area line is an area of its own.
    test::WriteFile(dir / "dense", "1: 0,0 to 10,10\n2: 10,10 to 20,20\n3: 20,20 to 30,30");
    ASSERT_TRUE(LoadSplitFile(dir / "dense", areas, &source));
    ASSERT_EQ(areas.Count(), 3u);
    EXPECT_EQ(areas[2].name, "3");
}

TEST(SplitFile, RejectsBadLinesAndValues)
{
    test::CTempDir dir;
    TAreaList areas;
    EXPECT_EQ(test::CaptureStdout([&] { EXPECT_FALSE(LoadSplitFile(dir / "missing", areas, nullptr)); }),
              "Cannot open " + dir / "missing: No such file or directory\n");

    const char* bad[] = {
        "1: 0,0 to 10\n",
        "x: 0,0 to 10,10\n",
        "1: 0,0 to 5000000,10\n",          // beyond 90 degrees of latitude
        "1: 0,-9000000 to 10,10\n",        // beyond 180 degrees of longitude
        "1: 0,0 to 10,99999999999999\n",   // would overflow 32 bits
        "1: 0,0 to 10,10\n# : 0,0 to 91,1\n",
        "1: 0,0 to 10,10\n# : 0,nan to 1,1\n",
        "1: 0,0 to 10,10\n# : 0,0 to 1,inf\n",
        "1: 0,0 to 10,10\n# : 0,-180.5 to 1,1\n",
    };
    for (const char* text : bad) {
        test::WriteFile(dir / "bad", std::string("0: 0,0 to 1,1\n\n") + text);
        bool loaded = false;
        const std::string said = test::CaptureStdout([&] { loaded = LoadSplitFile(dir / "bad", areas, nullptr); });
        if (std::string(text).find("# :") == std::string::npos) {
            EXPECT_FALSE(loaded) << text;
            // Names the file and the line.
            EXPECT_EQ(said, dir / "bad: bad area line \"" + std::string(text, std::strcspn(text, "\n")) + "\"\n");
            EXPECT_EQ(areas.Count(), 1u) << text;  // areas before the bad line stay
        } else {
            // A bad degree line is no degree line: it is skipped as a comment
            // and the integer edges stand.
            EXPECT_TRUE(loaded) << text;
            ASSERT_EQ(areas.Count(), 2u) << text;
            EXPECT_EQ(Bounds(areas[1]), (CGeoRect{0, 1800, 0, 1800})) << text;
        }
    }
}

TEST(SplitFile, WritesExactBytes)
{
    test::CTempDir dir;
    TAreaList areas;
    TArea& a = areas.EmplaceBack();
    a.name = "000017";
    a.ring = RectangleRing(-359, 18000, 72000, 54000);
    TArea& b = areas.EmplaceBack();
    b.name = "north";
    // A piece of a cut starts where the cut was made, here at the south-east
    // corner: the edges still come out right.
    const int32_t w = MapUnits::FromDegrees(-10), s = MapUnits::FromDegrees(-20);
    const int32_t e = MapUnits::FromDegrees(30), n = MapUnits::FromDegrees(40);
    for (CGeoPoint p : {CGeoPoint{e, s}, CGeoPoint{w, s}, CGeoPoint{w, n}, CGeoPoint{e, n}, CGeoPoint{e, s}})
        b.ring.PushBack(p);
    ASSERT_TRUE(WriteSplitFile(dir / "areas.list", areas));
    EXPECT_EQ(test::ReadFile(dir / "areas.list"),
              "# List of areas\r\n#\r\n"
              "00000017: 100,-1 to 300,400\r\n#       : 0.002145,-0.000043 to 0.006438,0.008584\r\n\r\n"
              "00000000: -932067,-466033 to 1864135,1398101\r\n"
              "#       : -20.000000,-10.000000 to 40.000000,30.000000\r\n\r\n");
    EXPECT_FALSE(WriteSplitFile(dir / "no/such/dir/areas.list", areas));
}

TEST(SplitFile, RoundTripKeepsNeighboursTogetherAndTheBorderOut)
{
    // Pairs of areas on both sides of a cut at c, the lower side ending at c
    // and the upper one starting at c + 1 as the automatic split leaves
    // them, or (shared) both at c as a loaded file does; their outer edges
    // lie on the border of the whole set. Six decimals of a degree are about
    // 8.4 map units, so every value of c mod 9 is met.
    struct TCut {
        bool longitude;
        int32_t from, to;  // c runs through [from, to)
        bool shared;
    };
    const int32_t d = MapUnits::kPerDegree;
    const TCut cuts[] = {
        {true, 9 * d, 9 * d + 200, false},
        {false, 47 * d, 47 * d + 200, false},
        {true, -12 * d - 100, -12 * d + 100, false},
        {false, -33 * d - 100, -33 * d + 100, false},
        {true, 9 * d + 1, 9 * d + 20, true},
        {true, -179 * d + 1, -179 * d + 20, false},  // the lower side from 179 degrees, across 180
    };
    TAreaList areas;
    std::vector<std::pair<TCut, int32_t>> pairs;
    for (const TCut& cut : cuts) {
        for (int32_t c = cut.from; c < cut.to; ++c) {
            // Far apart, so that no two pairs meet.
            const int32_t across = int32_t(pairs.size()) * 1000 - 80 * d, wide = 997;
            const int32_t upper = cut.shared ? c : c + 1;
            const int32_t west = cut.longitude && c < -178 * d ? 179 * d : c - wide;
            if (cut.longitude) {
                areas.EmplaceBack().ring = RectangleRing(west, across, c, across + wide);
                areas.EmplaceBack().ring = RectangleRing(upper, across, c + wide, across + wide);
            } else {
                areas.EmplaceBack().ring = RectangleRing(across, c - wide, across + wide, c);
                areas.EmplaceBack().ring = RectangleRing(across, upper, across + wide, c + wide);
            }
            pairs.push_back({cut, c});
        }
    }
    test::CTempDir dir;
    ASSERT_TRUE(WriteSplitFile(dir / "a", areas));
    TAreaList loaded;
    ASSERT_TRUE(LoadSplitFile(dir / "a", loaded, nullptr));
    ASSERT_EQ(loaded.Count(), areas.Count());
    for (uint64_t i = 0; i < areas.Count(); ++i) {
        // The border of the set comes back where it was or up to one step
        // of 1e-6 degree further out, never further in. Sides: west, south,
        // east, north; the cut is the lower area's east or north side and
        // the upper one's west or south.
        const CGeoRect x = Bounds(areas[i]), y = Bounds(loaded[i]);
        const auto [cut, c] = pairs[i / 2];
        const bool low = i % 2 == 0;
        const int64_t outward[] = {int64_t(x.west) - y.west, int64_t(x.south) - y.south,
                                   int64_t(y.east) - x.east, int64_t(y.north) - x.north};
        const int cutSide = (cut.longitude ? 2 : 3) - (low ? 0 : 2);
        for (int side = 0; side < 4; ++side) {
            if (side != cutSide) {
                EXPECT_GE(outward[side], 0) << i << " " << side;
                EXPECT_LE(outward[side], 9) << i << " " << side;
            }
        }
        // Both sides of the cut come back on one line next to c.
        if (low) {
            const CGeoRect z = Bounds(loaded[i + 1]);
            const int32_t edge = cut.longitude ? MapUnits::Natural(y.east) : y.north;
            EXPECT_EQ(edge, cut.longitude ? z.west : z.south) << i;
            EXPECT_LE(std::abs(edge - c), 5) << i;
        }
    }
    // What was read back comes back unchanged.
    ASSERT_TRUE(WriteSplitFile(dir / "b", loaded));
    TAreaList again;
    ASSERT_TRUE(LoadSplitFile(dir / "b", again, nullptr));
    for (uint64_t i = 0; i < loaded.Count(); ++i)
        EXPECT_EQ(Bounds(again[i]), Bounds(loaded[i])) << i;
}

TEST(SplitFile, AreasAcrossAndOnTheAntimeridianWriteBackUnchanged)
{
    test::CTempDir dir;
    // South, west, north, east in degrees. A west edge east of the east edge
    // crosses 180 degrees; its ring runs on past +180.
    const double rectangles[][4] = {
        {-18, 178, -17, -178}, {0, 170, 10, 180}, {0, -180, 10, -170}, {0, 180, 10, -170}, {0, -180, 10, 180}};
    std::string text = "# List of areas\r\n#\r\n";
    for (const auto& r : rectangles) {
        char line[256];
        std::snprintf(line, sizeof line, "%08u: %d,%d to %d,%d\r\n#       : %lf,%lf to %lf,%lf\r\n\r\n", 1u,
                      MapUnits::FromDegrees(r[0]) / 180, MapUnits::FromDegrees(r[1]) / 180,
                      MapUnits::FromDegrees(r[2]) / 180, MapUnits::FromDegrees(r[3]) / 180, r[0], r[1], r[2], r[3]);
        text += line;
    }
    test::WriteFile(dir / "in", text);
    TAreaList areas;
    ASSERT_TRUE(LoadSplitFile(dir / "in", areas, nullptr));
    ASSERT_EQ(areas.Count(), 5u);
    const double widths[] = {4, 10, 10, 10, 360};
    for (int i = 0; i < 5; ++i) {
        CGeoRect r = Bounds(areas[i]);
        EXPECT_EQ(int64_t(r.east) - r.west, int64_t(widths[i] * MapUnits::kPerDegree)) << i;
    }
    ASSERT_TRUE(WriteSplitFile(dir / "out", areas));
    EXPECT_EQ(test::ReadFile(dir / "out"), text);

    // A ring that would run more than 70 degrees past 180 is refused.
    test::WriteFile(dir / "wide", "1: 0,0 to 10,10\n\n2: 0,100 to 10,-100\n# : 0,100 to 10,-100\n");
    std::string printed = test::CaptureStdout([&] { EXPECT_FALSE(LoadSplitFile(dir / "wide", areas, nullptr)); });
    EXPECT_EQ(areas.Count(), 1u);
    EXPECT_NE(printed.find("wide: area 2 crosses 180 degrees"), std::string::npos) << printed;
}

}  // namespace
