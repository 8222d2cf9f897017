#include "splitter/SplitFile.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

// Degree lines win where they parse, with any blanks between '#' and ':',
// and may name the corner the ring starts at; a bad one is a comment and
// the integer edges stand. An area line right after
// an area line is an area of its own. A bad area line fails the file, and the
// areas before it stay.
TEST(SplitFile, LoadsAreaLinesAndTheirDegreeLines)
{
    const auto d = MapUnits::FromDegrees;
    const CGeoRect small = {0, 1800, 0, 1800};
    const struct {
        const char* lines;
        uint64_t areas;      // loaded, after the one of the line before
        const char* result;  // the last area's name, or what the loader said after the file name
        CGeoRect last;       // the last area's edges
        unsigned corner = 0;  // its ring's first, clockwise from north-west
    } cases[] = {
        {"# only\n\n#comments\r\n1: 100,200 to 300,400", 1, "1", {36000, 72000, 18000, 54000}},
        {"00000007: 0,0 to 10,10\r\n#  : 1.5,-2.25 to 3.0,4.0\r\n", 1, "7", {d(-2.25), d(4.0), d(1.5), d(3.0)}},
        {"1: 0,0 to 10,10\n2: 10,10 to 20,20\n3: 0,0 to 10,10", 3, "3", small},
        {"8: 0,0 to 10,10\n#       : 1.5,2.5 to 3.0", 1, "8", small},
        {"9: 0,0 to 10,10\n# : 1,2 to 3,4 from SW", 1, "9", {d(2), d(4), d(1), d(3)}, 3},
        {"9: 0,0 to 10,10\n# : 1,2 to 3,4 from SWW", 1, "9", {d(2), d(4), d(1), d(3)}},
        {"1: 0,0 to 10,10\n# : 0,0 to 91,1", 1, "1", small},
        {"1: 0,0 to 10,10\n# : 0,nan to 1,1", 1, "1", small},
        {"1: 0,0 to 10", 0, "bad area line \"1: 0,0 to 10\"", {}},
        {"1: 0,-9000000 to 10,10", 0, "bad area line \"1: 0,-9000000 to 10,10\"", {}},  // beyond 180 of longitude
        {"1: 0,0 to 10,99999999999999", 0, "bad area line \"1: 0,0 to 10,99999999999999\"", {}},
        {"2: 0,100 to 10,-100\n# : 0,100 to 10,-100", 0, "area 2 crosses 180 degrees and reaches more than 70", {}},
    };
    test::CTempDir dir;
    const std::string source = "areas.list";
    for (const auto& c : cases) {
        test::WriteFile(dir / "in", std::string("0: 0,0 to 1,1\n\n") + c.lines + "\n");
        TAreaList areas;
        bool loaded = false;
        const std::string said = test::CaptureStdout([&] { loaded = LoadSplitFile(dir / "in", areas, &source); });
        ASSERT_EQ(areas.Count(), 1 + c.areas) << c.lines;
        EXPECT_EQ(loaded, c.areas > 0) << said;
        if (!loaded) {
            EXPECT_EQ(said.rfind(dir / "in: " + c.result, 0), 0u) << said;
            continue;
        }
        EXPECT_EQ(areas.Back().name, c.result);
        EXPECT_EQ(areas.Back().source, &source);
        EXPECT_EQ(RingBounds(areas.Back().ring), c.last) << c.lines;
        const CGeoPoint corners[] = {{c.last.west, c.last.north}, {c.last.east, c.last.north},
                                     {c.last.east, c.last.south}, {c.last.west, c.last.south}};
        EXPECT_EQ(areas.Back().ring[0], corners[c.corner]) << c.lines;
    }
}

TEST(SplitFile, WritesExactBytes)
{
    const int32_t d = MapUnits::kPerDegree, w = -10 * d, s = -20 * d, e = 30 * d, n = 40 * d;
    TAreaList areas;
    areas.EmplaceBack() = {nullptr, "000017", RectangleRing(-359, 18000, 72000, 54000)};
    // A piece of a cut starts where the cut was made, here at the south-east
    // corner: the edges still come out right.
    const CGeoPoint piece[] = {{e, s}, {w, s}, {w, n}, {e, n}, {e, s}};
    areas.EmplaceBack().ring.Append(piece, std::size(piece));
    // A ring across 180 degrees runs on past it; an edge on it is written +180.
    areas.EmplaceBack().ring = RectangleRing(178 * d, -18 * d, 182 * d, -17 * d);
    areas.EmplaceBack().ring = RectangleRing(170 * d, 0, 180 * d, 10 * d);
    test::CTempDir dir;
    ASSERT_TRUE(WriteSplitFile(dir / "areas.list", areas));
    EXPECT_EQ(test::ReadFile(dir / "areas.list"),
              "# List of areas\r\n#\r\n"
              "00000017: 100,-2 to 300,400\r\n#       : 0.0021458,-0.0000428 to 0.0064373,0.0085831\r\n\r\n"
              "00000000: -932068,-466034 to 1864136,1398102\r\n"
              "#       : -20.0000000,-10.0000000 to 40.0000000,30.0000000 from SE\r\n\r\n"
              "00000000: -838861,8295401 to -792257,-8295401\r\n"
              "#       : -18.0000000,178.0000000 to -17.0000000,-178.0000000\r\n\r\n"
              "00000000: 0,7922574 to 466034,8388608\r\n"
              "#       : 0.0000000,170.0000000 to 10.0000000,180.0000000\r\n\r\n");
    EXPECT_FALSE(WriteSplitFile(dir / "no/such/dir/areas.list", areas));
}

// Pairs of areas either side of a cut at c, the upper one from c + 1 as the
// split leaves them or from c as a loaded file does; their other edges are
// the border of the set; their rings start at any corner. With its degree
// lines the file loads back to the same rings; without them it still holds every point of the set, to
// one split-file step of 180 map units.
TEST(SplitFile, RoundTripKeepsTheAreasOrWithoutDegreesTheBorderOut)
{
    std::mt19937 random(9);
    const int32_t d = MapUnits::kPerDegree, wide = 997;
    TAreaList areas;
    std::vector<int32_t> cuts;
    for (int32_t k = 0; k < 600; ++k) {
        // Cuts along meridians (some with the lower side across 180) and parallels.
        const bool meridian = k % 2 == 0, across180 = meridian && random() % 2 == 0;
        const int64_t range = meridian ? 170 * d : 80 * d;
        const int32_t c = across180 ? -180 * d + 1 + int32_t(random() % uint32_t(d))
                                    : int32_t(int64_t(random() % uint64_t(2 * range)) - range);
        // Far apart, so that no two pairs meet.
        const int32_t along = k * 1000 - 80 * d, upper = random() % 4 == 0 ? c : c + 1;
        if (meridian) {
            areas.EmplaceBack().ring = RectangleRing(across180 ? 179 * d : c - wide, along, c, along + wide);
            areas.EmplaceBack().ring = RectangleRing(upper, along, c + wide, along + wide);
        } else {
            areas.EmplaceBack().ring = RectangleRing(along, c - wide, along + wide, c);
            areas.EmplaceBack().ring = RectangleRing(along, upper, along + wide, c + wide);
        }
        cuts.push_back(c);
    }
    for (TArea& area : areas) {
        std::rotate(area.ring.begin(), area.ring.begin() + random() % 4, area.ring.begin() + 4);
        area.ring[4] = area.ring[0];
    }
    test::CTempDir dir;
    ASSERT_TRUE(WriteSplitFile(dir / "a", areas));
    std::string integers = test::ReadFile(dir / "a");
    for (size_t at; (at = integers.find("#       :")) != std::string::npos;)
        integers.erase(at, integers.find('\n', at) + 1 - at);
    test::WriteFile(dir / "b", integers);
    for (const char* file : {"a", "b"}) {
        TAreaList loaded;
        ASSERT_TRUE(LoadSplitFile(dir / file, loaded, nullptr));
        ASSERT_EQ(loaded.Count(), areas.Count());
        for (uint64_t i = 0; i < areas.Count(); ++i) {
            if (file[0] == 'a') {
                EXPECT_TRUE(std::equal(areas[i].ring.begin(), areas[i].ring.end(), loaded[i].ring.begin(),
                                       loaded[i].ring.end()))
                    << i;
                continue;
            }
            const int32_t step = 179;
            // The border of the set comes back where it was or up to a step
            // further out, never further in; sides west, south, east, north.
            const CGeoRect x = RingBounds(areas[i].ring), y = RingBounds(loaded[i].ring);
            const bool meridian = i % 4 < 2, low = i % 2 == 0;
            const int64_t outward[] = {int64_t(x.west) - y.west, int64_t(x.south) - y.south,
                                       int64_t(y.east) - x.east, int64_t(y.north) - x.north};
            for (int side = 0; side < 4; ++side)
                EXPECT_TRUE(side == (meridian ? 2 : 3) - (low ? 0 : 2) ||
                            (outward[side] >= 0 && outward[side] <= step))
                    << file << i << " " << side;
            // Both sides of the cut come back on one line next to c.
            if (low) {
                const CGeoRect z = RingBounds(loaded[i + 1].ring);
                const int32_t edge = meridian ? MapUnits::Natural(y.east) : y.north;
                EXPECT_EQ(edge, meridian ? z.west : z.south) << file << i;
                EXPECT_LE(std::abs(edge - cuts[i / 2]), step) << file << i;
            }
        }
    }
}

}  // namespace
