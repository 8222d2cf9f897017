// Ways cut at area borders and closed along them, checked against what every
// split must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

#include "splitter/areas/AreaGeometry.h"
#include "splitter/clip/ClipContext.h"
#include "tests/splitter/clip/PassHarness.h"

using namespace Splitter;

namespace {

using namespace test;

// The area holding border nodes gets, of a building beyond them, a piece with
// no area: it must still reach those nodes, as a line.
TEST(ClipContext, PiecesAlongTheBorderStayLinesThroughTheirNodes)
{
    const char* sides = "n1 1 0.2; n2 1 0.4; n3 1.5 0.4; n4 1.5 0.2; n5 1 0.6; n6 1 0.8; n7 0.5 0.8; n8 0.5 0.6;"
                        "w10 1 2 3 4 1 building=yes; w11 5 6 7 8 5 building=yes";
    // Dips into the west twice and runs along the meridian between the dips.
    const char* dips = "n1 1.5 0.1; n2 0.5 0.1; n3 0.5 0.2; n4 1.2 0.2; n5 1 0.3; n6 1 0.5; n7 1.2 0.6; n8 0.5 0.7;"
                       "n9 0.5 0.8; n10 1.5 0.8; w20 1 2 3 4 5 6 7 8 9 10 1 landuse=meadow";
    for (const char* input : {sides, dips}) {
        CPassHarness pass(TwoAreas());
        ExpectSoundSplit(pass, ParseInput(input), "along the border");
        const std::vector<OSM::TWay>& west = pass.Output(0).ways;
        EXPECT_TRUE(std::any_of(west.begin(), west.end(), [](const OSM::TWay& way) {
            return way.nodeRefs.Count() == 2 && way.nodeRefs[0] != way.nodeRefs[1] && way.nodeRefs[0] < 10;
        })) << "no line through the border nodes";
    }
}

TRing DegreeRing(std::initializer_list<std::pair<double, double>> corners)
{
    TRing ring;
    for (auto [lon, lat] : corners)
        ring.PushBack({MapUnits::FromDegrees(lon), MapUnits::FromDegrees(lat)});
    ring.PushBack(ring[0]);
    return ring;
}

// Where a new border node lies, to the map unit: the exact crossing rounded
// to the nearest unit, on level, upright and sloping borders.
TEST(ClipContext, NewBorderNodesLieAtTheRoundedCrossing)
{
    // Two triangles sharing a sloping edge, beside two rectangles.
    const std::vector<TRing> areas = {DegreeRing({{0, 1}, {1, 1}, {0, 0}}), DegreeRing({{1, 1}, {1, 0}, {0, 0}}),
                                      DegreeRect(1, 0, 2, 0.5), DegreeRect(1, 0.5, 2, 1)};
    const char* input = "n1 0.1234567 0.7654321; n2 1.7654321 0.1234567; n3 1.3333333 0.9876543;"
                        "n4 0.9876543 0.0123457; n5 1.2222221 0.3131313; n6 1.6767677 0.8888889;"
                        "w10 1 2 barrier=fence; w11 3 4 barrier=fence; w12 5 6 2 barrier=fence";
    CPassHarness pass(areas);
    ASSERT_TRUE(pass.Run(PbfInput(ParseInput(input))).ok);
    std::vector<std::tuple<uint32_t, int32_t, int32_t>> made;
    for (uint32_t area = 0; area < pass.OutputCount(); ++area)
        for (const OSM::TNode& node : pass.Output(area).nodes)
            if (node.id > 6)
                made.emplace_back(area, node.position.x, node.position.y);
    std::sort(made.begin(), made.end());
    // Worked out with exact fractions; 9734927.5 rounds up.
    const std::vector<std::tuple<uint32_t, int32_t, int32_t>> expected = {
        {0, 4907210, 4907210},  {1, 4907210, 4907210},  {1, 8388608, 395759},   {1, 8388608, 3546061},
        {2, 8388608, 395759},   {2, 8388608, 3546061},  {2, 9734928, 4194304},  {2, 11490296, 4194304},
        {2, 14443631, 4194304}, {3, 9734928, 4194304},  {3, 11490296, 4194304}, {3, 14443631, 4194304}};
    EXPECT_EQ(made, expected);
}

// A run cleans each polygon once and the clipping takes it as it is, so
// cleaning a clean polygon must change nothing: anticlockwise and open, with
// a repeated point, without area, and with edges split into parts.
TEST(ClipContext, CleaningACleanPolygonChangesNothing)
{
    constexpr int32_t kWide = 0x50000000;  // narrower edges are never split
    for (const std::vector<CGeoPoint>& points : std::vector<std::vector<CGeoPoint>>{
             {{0, 0}, {0, 10}, {10, 10}, {10, 0}}, {{0, 0}, {0, 0}, {10, 0}, {10, 10}, {0, 0}},
             {{0, 0}, {5, 0}, {10, 0}}, {{-kWide, 0}, {-kWide, 10}, {kWide - 1, 10}, {kWide - 1, 0}}}) {
        TRing ring;
        ring.Append(points.data(), points.size());
        const TRing once = Clip::CAreaClipContext::CleanPolygon(ring);
        const TRing twice = Clip::CAreaClipContext::CleanPolygon(once);
        EXPECT_TRUE(std::equal(once.begin(), once.end(), twice.begin(), twice.end())) << points.size();
        EXPECT_EQ(Geometry::IsClockwise(once), points.size() != 3) << "clockwise unless without area";
    }
}

}  // namespace
