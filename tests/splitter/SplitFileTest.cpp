#include "splitter/SplitFile.h"

#include <cstdlib>
#include <random>
#include <regex>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

CGeoRect Bounds(const TArea& area) { return RingBounds(area.ring); }

// Degree lines win where they parse, with any blanks between '#' and ':'; a
// bad one is a comment and the integer edges stand. An area line right after
// an area line is an area of its own. A bad area line fails the file, and the
// areas before it stay.
TEST(SplitFile, LoadsAreaLinesAndTheirDegreeLines)
{
    const auto d = MapUnits::FromDegrees;
    const CGeoRect small = {0, 1800, 0, 1800};
    const struct {
        const char* lines;
        const char* result;  // the last area's name, or what the loader said after the file name
        CGeoRect last;       // the last area's edges; empty when the file fails
    } cases[] = {
        {"# only\n\n#comments\r\n1: 100,200 to 300,400", "1", {36000, 72000, 18000, 54000}},
        {"00000007: 0,0 to 10,10\r\n#  : 1.5,-2.25 to 3.0,4.0\r\n", "7", {d(-2.25), d(4.0), d(1.5), d(3.0)}},
        {"1: 0,0 to 10,10\n2: 10,10 to 20,20\n3: 0,0 to 10,10", "3", small},
        {"8: 0,0 to 10,10\n#       : 1.5,2.5 to 3.0", "8", small},
        {"1: 0,0 to 10,10\n# : 0,0 to 91,1", "1", small},
        {"1: 0,0 to 10,10\n# : 0,nan to 1,1", "1", small},
        {"1: 0,0 to 10", "bad area line \"1: 0,0 to 10\"", {}},
        {"x: 0,0 to 10,10", "bad area line \"x: 0,0 to 10,10\"", {}},
        {"1: 0,0 to 5000000,10", "bad area line \"1: 0,0 to 5000000,10\"", {}},  // beyond 90 degrees of latitude
        {"1: 0,-9000000 to 10,10", "bad area line \"1: 0,-9000000 to 10,10\"", {}},  // beyond 180 of longitude
        {"1: 0,0 to 10,99999999999999", "bad area line \"1: 0,0 to 10,99999999999999\"", {}},
        {"2: 0,100 to 10,-100\n# : 0,100 to 10,-100", "area 2 crosses 180 degrees and reaches more than 70", {}},
    };
    test::CTempDir dir;
    const std::string source = "areas.list";
    const std::regex areaLine("(^|\n)\\d");
    TAreaList areas;
    for (const auto& c : cases) {
        test::WriteFile(dir / "in", std::string("0: 0,0 to 1,1\n\n") + c.lines + "\n");
        bool loaded = false;
        const std::string said = test::CaptureStdout([&] { loaded = LoadSplitFile(dir / "in", areas, &source); });
        const bool loads = c.last.west != CGeoRect::kEmpty;
        EXPECT_EQ(loaded, loads) << said;
        if (!loads) {
            EXPECT_EQ(said.rfind(dir / "in: " + c.result, 0), 0u) << said;
            EXPECT_EQ(areas.Count(), 1u) << c.lines;
            continue;
        }
        const std::string text = c.lines;
        const std::sregex_iterator areaLines(text.begin(), text.end(), areaLine);
        ASSERT_EQ(areas.Count(), 1 + uint64_t(std::distance(areaLines, std::sregex_iterator()))) << c.lines;
        EXPECT_EQ(areas.Back().name, c.result);
        EXPECT_EQ(areas.Back().source, &source);
        EXPECT_EQ(Bounds(areas.Back()), c.last) << c.lines;
        EXPECT_EQ(areas.Back().ring[0], (CGeoPoint{c.last.west, c.last.north})) << c.lines;
    }
    EXPECT_EQ(test::CaptureStdout([&] { EXPECT_FALSE(LoadSplitFile(dir / "missing", areas, nullptr)); }),
              "Cannot open " + dir / "missing: No such file or directory\n");
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
    const int32_t d = MapUnits::kPerDegree, w = -10 * d, s = -20 * d, e = 30 * d, n = 40 * d;
    for (CGeoPoint p : {CGeoPoint{e, s}, CGeoPoint{w, s}, CGeoPoint{w, n}, CGeoPoint{e, n}, CGeoPoint{e, s}})
        b.ring.PushBack(p);
    // A ring across 180 degrees runs on past it; an edge on it is written +180.
    areas.EmplaceBack().ring = RectangleRing(178 * d, -18 * d, 182 * d, -17 * d);
    areas.EmplaceBack().ring = RectangleRing(170 * d, 0, 180 * d, 10 * d);
    ASSERT_TRUE(WriteSplitFile(dir / "areas.list", areas));
    EXPECT_EQ(test::ReadFile(dir / "areas.list"),
              "# List of areas\r\n#\r\n"
              "00000017: 100,-1 to 300,400\r\n#       : 0.002145,-0.000043 to 0.006438,0.008584\r\n\r\n"
              "00000000: -932067,-466033 to 1864135,1398101\r\n"
              "#       : -20.000000,-10.000000 to 40.000000,30.000000\r\n\r\n"
              "00000000: -838860,8295401 to -792257,-8295401\r\n"
              "#       : -18.000000,178.000000 to -17.000000,-178.000000\r\n\r\n"
              "00000000: 0,7922574 to 466033,8388608\r\n"
              "#       : 0.000000,170.000000 to 10.000000,180.000000\r\n\r\n");
    EXPECT_FALSE(WriteSplitFile(dir / "no/such/dir/areas.list", areas));
}

// Pairs of areas on both sides of a cut at c, the lower side ending at c and
// the upper one starting at c + 1 as the automatic split leaves them, or
// both at c as a loaded file does; their outer edges lie on the border of
// the whole set. Six decimals of a degree are about 8.4 map units.
TEST(SplitFile, RoundTripKeepsNeighboursTogetherAndTheBorderOut)
{
    std::mt19937 random(9);
    const int32_t d = MapUnits::kPerDegree, wide = 997;
    TAreaList areas;
    std::vector<std::pair<bool, int32_t>> pairs;  // along a meridian; c
    for (int32_t k = 0; k < 600; ++k) {
        // Cuts along a meridian, along a parallel, and along a meridian with
        // the lower side from 179 degrees, across 180.
        const int kind = int(random() % 3);
        const int64_t range = kind == 1 ? 80 * d : 170 * d;
        const int32_t c = kind == 2 ? -180 * d + 1 + int32_t(random() % uint32_t(d))
                                    : int32_t(int64_t(random() % uint64_t(2 * range)) - range);
        // Far apart, so that no two pairs meet.
        const int32_t across = k * 1000 - 80 * d, upper = random() % 4 == 0 ? c : c + 1;
        if (kind == 1) {
            areas.EmplaceBack().ring = RectangleRing(across, c - wide, across + wide, c);
            areas.EmplaceBack().ring = RectangleRing(across, upper, across + wide, c + wide);
        } else {
            areas.EmplaceBack().ring = RectangleRing(kind == 2 ? 179 * d : c - wide, across, c, across + wide);
            areas.EmplaceBack().ring = RectangleRing(upper, across, c + wide, across + wide);
        }
        pairs.push_back({kind != 1, c});
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
        const auto [meridian, c] = pairs[i / 2];
        const bool low = i % 2 == 0;
        const int64_t outward[] = {int64_t(x.west) - y.west, int64_t(x.south) - y.south,
                                   int64_t(y.east) - x.east, int64_t(y.north) - x.north};
        const int cutSide = (meridian ? 2 : 3) - (low ? 0 : 2);
        for (int side = 0; side < 4; ++side)
            EXPECT_TRUE(side == cutSide || (outward[side] >= 0 && outward[side] <= 9)) << i << " " << side;
        // Both sides of the cut come back on one line next to c.
        if (low) {
            const CGeoRect z = Bounds(loaded[i + 1]);
            const int32_t edge = meridian ? MapUnits::Natural(y.east) : y.north;
            EXPECT_EQ(edge, meridian ? z.west : z.south) << i;
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

}  // namespace
