// Ways cut at area borders, closed along them and joined into rings: shapes
// that once came out wrong, each checked against what every split must give.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

std::vector<TRing> TwoAreas() { return {DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1)}; }

const TTags kBuilding = {{"building", "yes"}}, kMeadow = {{"landuse", "meadow"}};
const TTags kMultipolygon = {{"type", "multipolygon"}};

// A square from 0.5 to 1.5 east and 0.25 to 0.75 north, cut by the meridian 1.
const std::vector<TTestNode> kSquare = {NodeAt(1, 0.5, 0.25), NodeAt(2, 0.5, 0.75), NodeAt(3, 1.5, 0.75),
                                        NodeAt(4, 1.5, 0.25)};

TTestInput BoundaryAndFences()
{
    // The western half of the boundary follows a road; the fence is closed,
    // the field below it is hedged.
    TTestInput input = {kSquare};
    for (int k = 0; k < 8; ++k) {
        const double lon = k % 4 < 2 ? 0.75 : 1.25, lat = k % 4 == 1 || k % 4 == 2 ? 0.625 : 0.375;
        input.nodes.push_back(NodeAt(5 + k, lon, k < 4 ? lat : lat - 0.0625));
    }
    const TTags boundary = {{"boundary", "administrative"}, {"admin_level", "8"}};
    TTags road = boundary, relation = boundary;
    road.emplace_back("highway", "residential");
    relation.emplace_back("type", "boundary");
    input.ways = {{10, {1, 2, 3}, road},
                  {11, {3, 4, 1}, boundary},
                  {20, {5, 6, 7, 8, 5}, {{"barrier", "fence"}}},
                  {21, {9, 10, 11, 12, 9}, {{"barrier", "hedge"}, {"landuse", "meadow"}}}};
    input.relations = {{100, {{OSM::kWay, 10, "outer"}, {OSM::kWay, 11, "outer"}}, relation}};
    return input;
}

TEST(ClipContext, CutShapesStayWholeAndClosed)
{
    const struct {
        const char* name;
        TTestInput input;
        const char* printed = "";
    } shapes[] = {
        {"a square drawn counter-clockwise", {kSquare, {{10, {2, 1, 4, 3, 2}, kBuilding}}}},
        {"around a corner beyond which lies no area",
         {{NodeAt(1, 0.75, 0.75), NodeAt(2, 0.75, 1.25), NodeAt(3, 1.25, 1.25), NodeAt(4, 1.25, 0.75)},
          {{10, {1, 2, 3, 4, 1}, kBuilding}}}},
        {"out through the meridian and back",
         {{NodeAt(1, 0.5, 0.5), NodeAt(2, 0.25, 0.5), NodeAt(3, 0.25, 0.75), NodeAt(4, 1.5, 0.75),
           NodeAt(5, 1.5, 0.25), NodeAt(6, 0.5, 0.25)},
          {{10, {1, 2, 3, 4, 5, 6, 1}, kMeadow}}}},
        {"dips into the west area twice",
         {{NodeAt(1, 0.125, 1.5), NodeAt(2, 0.875, 1.5), NodeAt(3, 0.875, 0.5), NodeAt(4, 0.625, 0.5),
           NodeAt(5, 0.625, 1.25), NodeAt(6, 0.375, 1.25), NodeAt(7, 0.375, 0.5), NodeAt(8, 0.125, 0.5)},
          {{10, {1, 2, 3, 4, 5, 6, 7, 8, 1}, {{"landuse", "forest"}, {"name", "Wood"}}}},
          {{50, {{OSM::kNode, 3, ""}}, {{"type", "site"}}}}}},
        {"lakes of one and of two ways, an island, a ring that does not close",
         {{NodeAt(1, 0.5, 0.25), NodeAt(2, 0.5, 0.75), NodeAt(3, 1.5, 0.75), NodeAt(4, 1.5, 0.25),
           NodeAt(11, 0.25, 0.0625), NodeAt(12, 0.25, 0.1875), NodeAt(13, 1.75, 0.1875), NodeAt(14, 1.75, 0.0625),
           NodeAt(15, 0.3125, 0.09375), NodeAt(16, 0.3125, 0.15625), NodeAt(17, 0.4375, 0.15625),
           NodeAt(18, 0.4375, 0.09375), NodeAt(21, 0.5, 0.875), NodeAt(22, 1.5, 0.875)},
          {{10, {1, 2, 3, 4, 1}},
           {20, {11, 12, 13}, {{"note", "north shore"}}},
           {21, {11, 14, 13}, {{"note", "south shore"}}},
           {22, {15, 16, 17, 18, 15}},
           {30, {21, 22}}},
          {{100, {{OSM::kWay, 10, "outer"}}, {{"type", "multipolygon"}, {"natural", "water"}}},
           {101, {{OSM::kWay, 20, "outer"}, {OSM::kWay, 21, "outer"}, {OSM::kWay, 22, "inner"}}, kMultipolygon},
           {102, {{OSM::kWay, 30, "outer"}, {OSM::kWay, 31, "outer"}}, kMultipolygon}}},
         "Way 31 is missing\nMultipolygon 102 has unclosed ring, way 30\n"},
        {"a lake with an island, both cut: a notch",
         {{NodeAt(1, 0.25, 0.125), NodeAt(2, 0.25, 0.875), NodeAt(3, 1.75, 0.875), NodeAt(4, 1.75, 0.125),
           NodeAt(5, 0.75, 0.375), NodeAt(6, 0.75, 0.625), NodeAt(7, 1.25, 0.625), NodeAt(8, 1.25, 0.375)},
          {{10, {1, 2, 3, 4, 1}}, {11, {5, 6, 7, 8, 5}}},
          {{100, {{OSM::kWay, 10, "outer"}, {OSM::kWay, 11, "inner"}}, kMultipolygon}}}},
        {"rings of no extent",
         {{NodeAt(1, 0.5, 0.25), NodeAt(2, 1.5, 0.25), NodeAt(3, 1.5, 0.75), NodeAt(4, 0.5, 0.75),
           NodeAt(5, 0.75, 0.5), NodeAt(6, 1.25, 0.5)},
          {{10, {1, 4, 3, 2, 1}}, {11, {5, 5}}, {12, {6, 6, 6, 6}}},
          {{7, {{OSM::kWay, 10, "outer"}, {OSM::kWay, 11, "inner"}, {OSM::kWay, 12, "inner"}}, kMultipolygon}}}},
        {"a boundary along a road, a closed fence, a hedged field", BoundaryAndFences()},
    };
    for (const auto& shape : shapes) {
        CPassHarness pass(TwoAreas());
        EXPECT_EQ(ExpectSoundSplit(pass, shape.input, shape.name).printed, shape.printed) << shape.name;
    }
}

TEST(ClipContext, PiecesAlongTheBorderStayLinesThroughTheirNodes)
{
    // The area holding border nodes gets, of a building beyond them, a piece
    // with no area: it must still reach those nodes, as a line.
    const TTestInput sides = {{NodeAt(1, 1, 0.2), NodeAt(2, 1, 0.4), NodeAt(3, 1.5, 0.4), NodeAt(4, 1.5, 0.2),
                               NodeAt(5, 1, 0.6), NodeAt(6, 1, 0.8), NodeAt(7, 0.5, 0.8), NodeAt(8, 0.5, 0.6)},
                              {{10, {1, 2, 3, 4, 1}, kBuilding}, {11, {5, 6, 7, 8, 5}, kBuilding}}};
    // Dips into the west twice and runs along the meridian between the dips.
    const TTestInput dips = {{NodeAt(1, 1.5, 0.1), NodeAt(2, 0.5, 0.1), NodeAt(3, 0.5, 0.2), NodeAt(4, 1.2, 0.2),
                              NodeAt(5, 1, 0.3), NodeAt(6, 1, 0.5), NodeAt(7, 1.2, 0.6), NodeAt(8, 0.5, 0.7),
                              NodeAt(9, 0.5, 0.8), NodeAt(10, 1.5, 0.8)},
                             {{20, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1}, kMeadow}}};
    for (const TTestInput& input : {sides, dips}) {
        CPassHarness pass(TwoAreas());
        ExpectSoundSplit(pass, input, "along the border");
        const std::vector<OSM::TWay>& west = pass.Output(0).ways;
        EXPECT_TRUE(std::any_of(west.begin(), west.end(), [](const OSM::TWay& way) {
            return way.nodeRefs.Count() == 2 && way.nodeRefs[0] != way.nodeRefs[1] && way.nodeRefs[0] < 10;
        })) << "no line through the border nodes";
    }
}

}  // namespace
