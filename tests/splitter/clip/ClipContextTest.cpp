// Closing cut polygons and multipolygon rings along the area border, seen
// through whole passes over tiny inputs: every record of every output.
#include <gtest/gtest.h>

#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

std::vector<TRing> TwoAreas() { return {DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1)}; }

// Every record of every output of pass, as PassText gives them.
void ExpectPass(CPassHarness& pass, const std::string& expected) { EXPECT_EQ(PassText(pass), expected); }

// A square from 0.5 to 1.5 east and 0.25 to 0.75 north, cut by the meridian 1.
const std::vector<TTestNode> kSquare = {NodeAt(1, 0.5, 0.25), NodeAt(2, 0.5, 0.75), NodeAt(3, 1.5, 0.75),
                                        NodeAt(4, 1.5, 0.25)};

TEST(ClipContext, BuildingsCutByTheBorderAreClosedAlongIt)
{
    // The square drawn clockwise or not, starting in either area: closed
    // clockwise in each, through untagged border nodes, no multipolygon.
    const std::string halves = "== 0: n1 0.5,0.25; n2 0.5,0.75; n+0 1,0.75; n+1 1,0.25;"
                               " w+0 +1,1,2,+0,+1 building=yes;\n"
                               "== 1: n3 1.5,0.75; n4 1.5,0.25; n+0 1,0.25; n+1 1,0.75;"
                               " w+0 +1,3,4,+0,+1 building=yes;\n";
    for (std::vector<int64_t> refs : {std::vector<int64_t>{1, 2, 3, 4, 1}, {2, 1, 4, 3, 2}, {3, 2, 1, 4, 3}}) {
        CPassHarness pass(TwoAreas());
        ASSERT_TRUE(pass.Run(PbfInput(kSquare, {{10, refs, {{"building", "yes"}}}})).ok);
        ExpectPass(pass, halves);
    }
    // Around the north-east corner of the west area, north of which lies
    // no area: closed through the corner.
    CPassHarness corner(TwoAreas());
    ASSERT_TRUE(corner.Run(PbfInput({NodeAt(1, 0.75, 0.75), NodeAt(2, 0.75, 1.25), NodeAt(3, 1.25, 1.25),
                                     NodeAt(4, 1.25, 0.75)},
                                    {{10, {1, 2, 3, 4, 1}, {{"building", "yes"}}}}))
                    .ok);
    ExpectPass(corner, "== 0: n1 0.75,0.75; n+0 0.75,1; n+1 1,0.75; n+2 1,1; w+0 +1,1,+0,+2,+1 building=yes;\n"
                       "== 1: n4 1.25,0.75; n+0 1,0.75; n+1 1.25,1; n+2 1,1; w+0 +1,4,+0,+2,+1 building=yes;\n");
    // Starts in the west, leaves east through the meridian 1 and comes back:
    // one piece, whose id is handed back.
    CPassHarness back(TwoAreas());
    ASSERT_TRUE(back.Run(PbfInput({NodeAt(1, 0.5, 0.5), NodeAt(2, 0.25, 0.5), NodeAt(3, 0.25, 0.75),
                                   NodeAt(4, 1.5, 0.75), NodeAt(5, 1.5, 0.25), NodeAt(6, 0.5, 0.25)},
                                  {{10, {1, 2, 3, 4, 5, 6, 1}, {{"landuse", "meadow"}}}}))
                    .ok);
    ExpectPass(back, "== 0: n1 0.5,0.5; n2 0.25,0.5; n3 0.25,0.75; n6 0.5,0.25; n+0 1,0.75; n+1 1,0.25;"
                     " w+0 +1,6,1,2,3,+0,+1 landuse=meadow;\n"
                     "== 1: n4 1.5,0.75; n5 1.5,0.25; n+0 1,0.25; n+1 1,0.75; w+0 +1,4,5,+0,+1 landuse=meadow;\n");
    EXPECT_EQ(back.Counters(0).nextWayId, TAreaOutput::kFirstNewId + 1);
}

TEST(ClipContext, PiecesAlongTheBorderStayLinesThroughTheirNodes)
{
    // A building on each side of the meridian 1, each with its side on it.
    // The area holding the border nodes gets, of the building beyond them, a
    // piece with no area: it must still reach those nodes, as a line, no
    // ring of two points.
    CPassHarness pass(TwoAreas());
    ASSERT_TRUE(pass.Run(PbfInput({NodeAt(1, 1, 0.2), NodeAt(2, 1, 0.4), NodeAt(3, 1.5, 0.4), NodeAt(4, 1.5, 0.2),
                                   NodeAt(5, 1, 0.6), NodeAt(6, 1, 0.8), NodeAt(7, 0.5, 0.8), NodeAt(8, 0.5, 0.6)},
                                  {{10, {1, 2, 3, 4, 1}, {{"building", "yes"}}},
                                   {11, {5, 6, 7, 8, 5}, {{"building", "yes"}}}}))
                    .ok);
    ExpectPass(pass, "== 0: n1 1,0.2 garmin:extnode=yes; n2 1,0.4 garmin:extnode=yes; n5 1,0.6 garmin:extnode=yes;"
                     " n6 1,0.8 garmin:extnode=yes; n7 0.5,0.8; n8 0.5,0.6; w11 5,6,7,8,5 building=yes;"
                     " w+0 1,2 building=yes;\n"
                     "== 1: n3 1.5,0.4; n4 1.5,0.2; n+0 1,0.2; n+1 1,0.4; w+0 +1,3,4,+0,+1 building=yes;\n");

    // Lies east of the meridian 1, dips into the west twice and runs along
    // the meridian between the dips, through nodes 5 and 6: that stretch is
    // a line, no ring of the dips' new multipolygon.
    CPassHarness dips(TwoAreas());
    ASSERT_TRUE(dips.Run(PbfInput({NodeAt(1, 1.5, 0.1), NodeAt(2, 0.5, 0.1), NodeAt(3, 0.5, 0.2), NodeAt(4, 1.2, 0.2),
                                   NodeAt(5, 1, 0.3), NodeAt(6, 1, 0.5), NodeAt(7, 1.2, 0.6), NodeAt(8, 0.5, 0.7),
                                   NodeAt(9, 0.5, 0.8), NodeAt(10, 1.5, 0.8)},
                                  {{20, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1}, {{"landuse", "meadow"}}}}))
                    .ok);
    ExpectPass(dips, "== 0: n2 0.5,0.1; n3 0.5,0.2; n5 1,0.3 garmin:extnode=yes; n6 1,0.5 garmin:extnode=yes;"
                     " n8 0.5,0.7; n9 0.5,0.8; n+0 1,0.2; n+1 1,0.1; n+2 1,0.8; n+3 1,0.6285715; w+0 +1,2,3,+0,+1;"
                     " w+1 5,6 landuse=meadow; w+2 +3,8,9,+2,+3; r+0 w+0:outer,w+2:outer landuse=meadow;"
                     "type=multipolygon;\n"
                     "== 1: n1 1.5,0.1; n4 1.2,0.2; n7 1.2,0.6; n10 1.5,0.8; n+0 1,0.1; n+1 1,0.8; n+2 1,0.3;"
                     " n+3 1,0.2; n+4 1,0.6285715; n+5 1,0.5; w+0 +1,10,1,+0,+3; w+1 +3,4,+2,+5; w+2 +5,7,+4,+1;"
                     " r+0 w+0:outer,w+1:outer,w+2:outer landuse=meadow;type=multipolygon;\n");
    ExpectClosedRings(dips.Output(0), dips.Output(0).relations.at(0), "dips");
}

TEST(ClipContext, ClosedWayEnteringTwiceBecomesAMultipolygon)
{
    // Lies north of the west area and dips into it twice, at 0.625 to 0.875
    // and at 0.125 to 0.375 east: two untagged rings of a new multipolygon
    // that takes the way's tags, after the unrelated relation.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.125, 1.5), NodeAt(2, 0.875, 1.5),  NodeAt(3, 0.875, 0.5),
                                          NodeAt(4, 0.625, 0.5), NodeAt(5, 0.625, 1.25), NodeAt(6, 0.375, 1.25),
                                          NodeAt(7, 0.375, 0.5), NodeAt(8, 0.125, 0.5)};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, {{10, {1, 2, 3, 4, 5, 6, 7, 8, 1}, {{"landuse", "forest"}, {"name", "Wood"}}}},
                                  {{50, {{OSM::kNode, 3, ""}}, {{"type", "site"}}}}))
                    .ok);
    ExpectPass(pass, "== 0: n3 0.875,0.5; n4 0.625,0.5; n7 0.375,0.5; n8 0.125,0.5; n+0 0.625,1; n+1 0.875,1;"
                     " n+2 0.125,1; n+3 0.375,1; w+0 +1,3,4,+0,+1; w+1 +3,7,8,+2,+3; r50 n3: type=site;"
                     " r+0 w+0:outer,w+1:outer landuse=forest;name=Wood;type=multipolygon;\n"
                     "== 1:\n");
    const CRecordingWriter& west = pass.Output(0);
    EXPECT_EQ(west.kinds, "nnnnnnnnwwrr");
    EXPECT_EQ(west.relations.at(1).info.version, 1);
    ExpectClosedRings(west, west.relations[1], "west");
}

TEST(ClipContext, MultipolygonRingsCutByTheBorderAreClosedAlongIt)
{
    // A lake of one way; a second lake of two ways drawn the same way round,
    // with an island; and a ring that does not close.
    CPassHarness pass(TwoAreas());
    std::vector<TTestNode> nodes = kSquare;
    for (TTestNode n : {NodeAt(11, 0.25, 0.0625), NodeAt(12, 0.25, 0.1875), NodeAt(13, 1.75, 0.1875),
                        NodeAt(14, 1.75, 0.0625), NodeAt(15, 0.3125, 0.09375), NodeAt(16, 0.3125, 0.15625),
                        NodeAt(17, 0.4375, 0.15625), NodeAt(18, 0.4375, 0.09375), NodeAt(21, 0.5, 0.875),
                        NodeAt(22, 1.5, 0.875)})
        nodes.push_back(n);
    const std::vector<TTestWay> ways = {{10, {1, 2, 3, 4, 1}, {}},
                                        {20, {11, 12, 13}, {{"note", "north shore"}}},
                                        {21, {11, 14, 13}, {{"note", "south shore"}}},
                                        {22, {15, 16, 17, 18, 15}, {}},
                                        {30, {21, 22}, {}}};
    const std::vector<TTestRelation> relations = {
        {100, {{OSM::kWay, 10, "outer"}}, {{"type", "multipolygon"}, {"natural", "water"}}},
        {101, {{OSM::kWay, 20, "outer"}, {OSM::kWay, 21, "outer"}, {OSM::kWay, 22, "inner"}},
         {{"type", "multipolygon"}}},
        {102, {{OSM::kWay, 30, "outer"}, {OSM::kWay, 31, "outer"}}, {{"type", "multipolygon"}}}};
    TPassResult result = pass.Run(PbfInput(nodes, ways, relations));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.printed, "Way 31 is missing\nMultipolygon 102 has unclosed ring, way 30\n");
    ExpectPass(pass, "== 0: n1 0.5,0.25; n2 0.5,0.75; n11 0.25,0.0625; n12 0.25,0.1875; n15 0.3125,0.09375;"
                     " n16 0.3125,0.15625; n17 0.4375,0.15625; n18 0.4375,0.09375; n21 0.5,0.875; n+0 1,0.75;"
                     " n+1 1,0.25; n+2 1,0.1875; n+3 1,0.0625; n+4 1,0.875; w22 15,16,17,18,15; w+0 +1,1,2,+0;"
                     " w+1 11,12,+2 note=north shore; w+2 11,+3 note=south shore; w+3 21,+4; w+4 +0,+1;"
                     " w+5 +2,+3 note=north shore; r100 w+0:outer,w+4:outer type=multipolygon;natural=water;"
                     " r101 w+1:outer,w+2:outer,w22:inner,w+5:outer type=multipolygon;"
                     " r102 w+3:outer type=multipolygon;\n"
                     "== 1: n3 1.5,0.75; n4 1.5,0.25; n13 1.75,0.1875; n14 1.75,0.0625; n22 1.5,0.875; n+0 1,0.25;"
                     " n+1 1,0.75; n+2 1,0.1875; n+3 1,0.0625; n+4 1,0.875; w+0 +1,3,4,+0;"
                     " w+1 +2,13 note=north shore; w+2 +3,14,13 note=south shore; w+3 +4,22; w+4 +0,+1;"
                     " w+5 +3,+2 note=south shore; r100 w+0:outer,w+4:outer type=multipolygon;natural=water;"
                     " r101 w+1:outer,w+2:outer,w+5:outer type=multipolygon; r102 w+3:outer type=multipolygon;\n");
    for (uint32_t o = 0; o < 2; ++o)
        for (int64_t id : {100, 101})
            ExpectClosedRings(pass.Output(o), *pass.Output(o).Relation(id), "output " + std::to_string(o));

    // A lake with an island, both cut: the island becomes a notch in the
    // outer boundary, along the border only where the lake is.
    CPassHarness notch(TwoAreas());
    ASSERT_TRUE(notch.Run(PbfInput({NodeAt(1, 0.25, 0.125), NodeAt(2, 0.25, 0.875), NodeAt(3, 1.75, 0.875),
                                    NodeAt(4, 1.75, 0.125), NodeAt(5, 0.75, 0.375), NodeAt(6, 0.75, 0.625),
                                    NodeAt(7, 1.25, 0.625), NodeAt(8, 1.25, 0.375)},
                                   {{10, {1, 2, 3, 4, 1}, {}}, {11, {5, 6, 7, 8, 5}, {}}},
                                   {{100, {{OSM::kWay, 10, "outer"}, {OSM::kWay, 11, "inner"}}, {{"type", "multipolygon"}}}}))
                    .ok);
    ExpectPass(notch, "== 0: n1 0.25,0.125; n2 0.25,0.875; n5 0.75,0.375; n6 0.75,0.625; n+0 1,0.875; n+1 1,0.125;"
                      " n+2 1,0.625; n+3 1,0.375; w+0 +1,1,2,+0; w+1 +3,5,6,+2; w+2 +0,+2; w+3 +3,+1;"
                      " r100 w+0:outer,w+1:outer,w+2:outer,w+3:outer type=multipolygon;\n"
                      "== 1: n3 1.75,0.875; n4 1.75,0.125; n7 1.25,0.625; n8 1.25,0.375; n+0 1,0.125; n+1 1,0.875;"
                      " n+2 1,0.375; n+3 1,0.625; w+0 +1,3,4,+0; w+1 +3,7,8,+2; w+2 +0,+2; w+3 +3,+1;"
                      " r100 w+0:outer,w+1:outer,w+2:outer,w+3:outer type=multipolygon;\n");
    for (uint32_t o = 0; o < 2; ++o)
        ExpectClosedRings(notch.Output(o), *notch.Output(o).Relation(100), "output " + std::to_string(o));
}

TEST(ClipContext, ClosingWaysAndClosedLinesInventNoLineFeatures)
{
    // A boundary whose western half follows a road, and a closed fence and a
    // hedged field, all cut by the meridian 1: closing ways take only the
    // boundary's tags, the fence is cut as a line, the field stays closed.
    CPassHarness pass(TwoAreas());
    std::vector<TTestNode> nodes = kSquare;
    for (int k = 0; k < 8; ++k) {  // the fence, then the field below it
        const double lon = k % 4 < 2 ? 0.75 : 1.25, lat = k % 4 == 1 || k % 4 == 2 ? 0.625 : 0.375;
        nodes.push_back(NodeAt(5 + k, lon, k < 4 ? lat : lat - 0.0625));
    }
    const TTags road = {{"highway", "residential"}, {"name", "Main Street"}, {"boundary", "administrative"},
                        {"admin_level", "8"}};
    const std::vector<TTestWay> ways = {{10, {1, 2, 3}, road},
                                        {11, {3, 4, 1}, {{"boundary", "administrative"}, {"admin_level", "8"}}},
                                        {20, {5, 6, 7, 8, 5}, {{"barrier", "fence"}}},
                                        {21, {9, 10, 11, 12, 9}, {{"barrier", "hedge"}, {"landuse", "meadow"}}}};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, ways,
                                  {{100, {{OSM::kWay, 10, "outer"}, {OSM::kWay, 11, "outer"}},
                                    {{"type", "boundary"}, {"boundary", "administrative"}, {"admin_level", "8"}}}}))
                    .ok);
    ExpectPass(pass, "== 0: n1 0.5,0.25; n2 0.5,0.75; n5 0.75,0.375; n6 0.75,0.625; n9 0.75,0.3125; n10 0.75,0.5625;"
                     " n+0 1,0.625; n+1 1,0.375; n+2 1,0.5625; n+3 1,0.3125; n+4 1,0.75 garmin:extnode=yes;"
                     " n+5 1,0.25; w+0 1,2,+4 highway=residential;name=Main Street;boundary=administrative;"
                     "admin_level=8; w+1 +5,1 boundary=administrative;admin_level=8; w+2 +1,5,6,+0 barrier=fence;"
                     " w+3 +3,9,10,+2,+3 barrier=hedge;landuse=meadow; w+4 +4,+5 boundary=administrative;"
                     "admin_level=8; r100 w+0:outer,w+1:outer,w+4:outer type=boundary;boundary=administrative;"
                     "admin_level=8;\n"
                     "== 1: n3 1.5,0.75; n4 1.5,0.25; n7 1.25,0.625; n8 1.25,0.375; n11 1.25,0.5625; n12 1.25,0.3125;"
                     " n+0 1,0.375; n+1 1,0.625; n+2 1,0.3125; n+3 1,0.5625; n+4 1,0.75 garmin:extnode=yes;"
                     " n+5 1,0.25; w+0 +4,3 highway=residential;name=Main Street;boundary=administrative;"
                     "admin_level=8; w+1 3,4,+5 boundary=administrative;admin_level=8; w+2 +1,7,8,+0 barrier=fence;"
                     " w+3 +3,11,12,+2,+3 barrier=hedge;landuse=meadow; w+4 +5,+4 boundary=administrative;"
                     "admin_level=8; r100 w+0:outer,w+1:outer,w+4:outer type=boundary;boundary=administrative;"
                     "admin_level=8;\n");
    for (uint32_t o = 0; o < 2; ++o)
        ExpectClosedRings(pass.Output(o), *pass.Output(o).Relation(100), "output " + std::to_string(o));
}

}  // namespace
