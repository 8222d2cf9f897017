// One pass over tiny synthetic inputs: which area gets which node, way,
// piece and relation, with which ids, tags and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "common/OSM/DataReader.h"
#include "splitter/AreaGeometry.h"
#include "splitter/clip/PassDistributor.h"
#include "tests/splitter/clip/PassHarness.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace test;

constexpr int64_t kNew = TAreaOutput::kFirstNewId;

// West and east halves of a 2 x 1 degree block, sharing the meridian 1.
std::vector<TRing> TwoAreas() { return {DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1)}; }

// Every record of every output of pass, as PassText gives them.
void ExpectPass(CPassHarness& pass, const std::string& expected) { EXPECT_EQ(PassText(pass), expected); }

TEST(PassDistributor, NodesOnBordersAndCornersGoToOneAreaTagged)
{
    // Border nodes get garmin:extnode=yes unless they have a value of their
    // own; a border shared by both areas goes to one of them, an area's own
    // outer border to it.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {
        NodeAt(1, 0.5, 0.5),                               // inside the west area
        NodeAt(2, 1, 0.5),                                 // on the shared border
        NodeAt(3, 1, 1),                                   // shared corners
        NodeAt(4, 1, 0),
        NodeAt(5, 0, 0),                                   // corner of the west area only
        NodeAt(6, 2, 0.25),                                // east border of the east area
        NodeAt(7, 1, 0.75, {{"garmin:extnode", "no"}}),    // a tag of its own
        NodeAt(8, 1.5, 0.5, {{"garmin:extnode", "yes"}}),  // inside, already tagged
        NodeAt(9, 3, 0.5),                                 // outside every area
        NodeAt(10, 0.5, 1, {{"name", "top"}}),             // north border of the west area
    };
    ASSERT_TRUE(pass.Run(PbfInput(nodes)).ok);
    ExpectPass(pass, "== 0: n1 0.5,0.5; n2 1,0.5 garmin:extnode=yes; n3 1,1 garmin:extnode=yes;"
                     " n4 1,0 garmin:extnode=yes; n5 0,0 garmin:extnode=yes; n7 1,0.75 garmin:extnode=no;"
                     " n10 0.5,1 name=top;garmin:extnode=yes;\n"
                     "== 1: n6 2,0.25 garmin:extnode=yes; n8 1.5,0.5 garmin:extnode=yes;\n");
    for (const TTestNode& node : nodes)
        if (node.id != 9) {
            const int32_t area = pass.Output(0).Node(node.id) != nullptr ? 0 : 1;
            EXPECT_EQ(area, pass.LocateArea(pass.Output(uint32_t(area)).Node(node.id)->position)) << node.id;
        }
}

TEST(PassDistributor, WaysAreCutWhereTheyCrossBorders)
{
    // Out through the north border at 0.25 and back in at 0.75: two pieces
    // with new ids, through untagged border nodes (not a highway).
    const std::vector<TTestNode> stream = {NodeAt(1, 0.125, 0.5), NodeAt(2, 0.375, 1.5), NodeAt(3, 0.625, 1.5),
                                           NodeAt(4, 0.875, 0.5)};
    CPassHarness out(TwoAreas());
    ASSERT_TRUE(out.Run(PbfInput(stream, {{10, {1, 2, 3, 4}, {{"waterway", "stream"}}}})).ok);
    ExpectPass(out, "== 0: n1 0.125,0.5; n4 0.875,0.5; n+0 0.25,1; n+1 0.75,1; w+0 1,+0 waterway=stream;"
                    " w+1 +1,4 waterway=stream;\n"
                    "== 1:\n");
    EXPECT_EQ(out.Output(0).kinds, "nnnnww");
    EXPECT_EQ(out.Output(0).nodes.back().info.version, 1);

    // A path along the shared border keeps its border stretch with the
    // border nodes' area; the other side gets one new node where the path
    // leaves the border. The wall on the border is written unchanged.
    CPassHarness along(TwoAreas());
    ASSERT_TRUE(along.Run(PbfInput({NodeAt(1, 0.5, 0.25), NodeAt(2, 1, 0.25), NodeAt(3, 1, 0.75), NodeAt(4, 1.5, 0.75)},
                                   {{10, {1, 2, 3, 4}, {{"highway", "path"}}}, {11, {2, 3}, {{"barrier", "wall"}}}}))
                    .ok);
    ExpectPass(along, "== 0: n1 0.5,0.25; n2 1,0.25 garmin:extnode=yes; n3 1,0.75 garmin:extnode=yes;"
                      " w11 2,3 barrier=wall; w+0 1,2,3 highway=path;\n"
                      "== 1: n4 1.5,0.75; n+0 1,0.75 garmin:extnode=yes; w+0 +0,4 highway=path;\n");

    // Across 180 degrees, the short way round.
    CPassHarness antimeridian({DegreeRect(179, 0, 180, 1), DegreeRect(-180, 0, -179, 1)});
    ASSERT_TRUE(antimeridian
                    .Run(PbfInput({NodeAt(1, 179.5, 0.5), NodeAt(2, -179.5, 0.5), NodeAt(3, 179.75, 0.25),
                                   NodeAt(4, -179.75, 0.75)},
                                  {{10, {1, 2}, {{"highway", "primary"}}}, {11, {3, 4}, {{"highway", "service"}}}}))
                    .ok);
    ExpectPass(antimeridian, "== 0: n1 179.5,0.5; n3 179.75,0.25; n+0 180,0.5 garmin:extnode=yes;"
                             " n+1 180,0.5 garmin:extnode=yes; w+0 1,+0 highway=primary; w+1 3,+1 highway=service;\n"
                             "== 1: n2 -179.5,0.5; n4 -179.75,0.75; n+0 -180,0.5 garmin:extnode=yes;"
                             " n+1 -180,0.5 garmin:extnode=yes; w+0 +0,2 highway=primary; w+1 +1,4 highway=service;\n");

    // Edges of 340 degrees: taken the short way round they would run through
    // the antimeridian, and the cut at 10 degrees east would be missed.
    CPassHarness wide({DegreeRect(-170, 0, 170, 1), DegreeRect(-170, 1, 170, 2)});
    ASSERT_TRUE(wide.Run(PbfInput({NodeAt(1, 10, 0.5), NodeAt(2, 10, 1.5)}, {{10, {1, 2}, {{"highway", "primary"}}}})).ok);
    ExpectPass(wide, "== 0: n1 10,0.5; n+0 10,1 garmin:extnode=yes; w+0 1,+0 highway=primary;\n"
                     "== 1: n2 10,1.5; n+0 10,1 garmin:extnode=yes; w+0 +0,2 highway=primary;\n");

    // Ways of one node, or of one node twice, go where the node is.
    CPassHarness short_(TwoAreas());
    ASSERT_TRUE(short_.Run(PbfInput({NodeAt(1, 0.5, 0.5), NodeAt(2, 1.5, 0.5), NodeAt(3, 3, 0.5)},
                                    {{10, {1}, {{"name", "a"}}}, {11, {3}, {}}, {12, {2, 2}, {}}, {13, {}, {}}, {14, {2}, {}}}))
                    .ok);
    ExpectPass(short_, "== 0: n1 0.5,0.5; w10 1 name=a;\n"
                       "== 1: n2 1.5,0.5; w12 2,2; w14 2;\n");
}

TEST(PassDistributor, HighwayPiecesShareBorderNodesAndTakeIdsAboveTheInput)
{
    const int64_t n = 20000000000;  // input ids above the first new id, printed as "+" ids too
    const int64_t w = 30000000000;
    const std::vector<TTestNode> nodes = {
        NodeAt(n + 1, 0.5, 0.5), NodeAt(n + 2, 1.5, 0.5),
        // Out at 0.25 on the north border and in again at the same place.
        NodeAt(n + 3, 0.125, 0.5), NodeAt(n + 4, 0.375, 1.5), NodeAt(n + 5, 0.125, 1.5), NodeAt(n + 6, 0.375, 0.5),
        // The same at 0.75, as a highway.
        NodeAt(n + 7, 0.625, 0.5), NodeAt(n + 8, 0.875, 1.5), NodeAt(n + 9, 0.625, 1.5), NodeAt(n + 10, 0.875, 0.5)};
    const std::vector<TTestWay> ways = {{w, {n + 1, n + 2}, {{"highway", "residential"}}},
                                        {w + 1, {n + 3, n + 4, n + 5, n + 6}, {{"barrier", "fence"}}},
                                        {w + 2, {n + 7, n + 8, n + 9, n + 10}, {{"highway", "track"}}}};
    const std::string input = PbfInput(nodes, ways);
    // Across the shared border a tagged border node on each side; pieces
    // meeting the border at one place share one node, tagged for highways.
    CPassHarness pass(TwoAreas());
    ASSERT_TRUE(pass.Run(input).ok);
    ExpectPass(pass, "== 0: n+10000000001 0.5,0.5; n+10000000003 0.125,0.5; n+10000000006 0.375,0.5;"
                     " n+10000000007 0.625,0.5; n+10000000010 0.875,0.5; n+10000000011 1,0.5 garmin:extnode=yes;"
                     " n+10000000012 0.25,1; n+10000000013 0.75,1 garmin:extnode=yes;"
                     " w+20000000003 +10000000001,+10000000011 highway=residential;"
                     " w+20000000004 +10000000003,+10000000012 barrier=fence;"
                     " w+20000000005 +10000000012,+10000000006 barrier=fence;"
                     " w+20000000006 +10000000007,+10000000013 highway=track;"
                     " w+20000000007 +10000000013,+10000000010 highway=track;\n"
                     "== 1: n+10000000002 1.5,0.5; n+10000000011 1,0.5 garmin:extnode=yes;"
                     " w+20000000003 +10000000011,+10000000002 highway=residential;\n");
    EXPECT_EQ(pass.Counters(0).nextNodeId, n + 11 + 3);
    EXPECT_EQ(pass.Counters(1).nextNodeId, n + 11 + 1);
    // Both areas in one output: one run of new ids.
    CPassHarness shared(TwoAreas(), {0, 0});
    ASSERT_TRUE(shared.Run(input).ok);
    ExpectPass(shared, "== 0: n+10000000001 0.5,0.5; n+10000000002 1.5,0.5; n+10000000003 0.125,0.5;"
                       " n+10000000006 0.375,0.5; n+10000000007 0.625,0.5; n+10000000010 0.875,0.5;"
                       " n+10000000011 1,0.5 garmin:extnode=yes; n+10000000012 1,0.5 garmin:extnode=yes;"
                       " n+10000000013 0.25,1; n+10000000014 0.75,1 garmin:extnode=yes;"
                       " w+20000000003 +10000000001,+10000000011 highway=residential;"
                       " w+20000000004 +10000000012,+10000000002 highway=residential;"
                       " w+20000000005 +10000000003,+10000000013 barrier=fence;"
                       " w+20000000006 +10000000013,+10000000006 barrier=fence;"
                       " w+20000000007 +10000000007,+10000000014 highway=track;"
                       " w+20000000008 +10000000014,+10000000010 highway=track;\n");
    EXPECT_EQ(shared.Counters(0).nextNodeId, n + 15);
    EXPECT_EQ(shared.Counters(0).nextWayId, w + 9);
}

TEST(PassDistributor, WaysWithMissingNodesKeepTheRunsThatArePresent)
{
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {
        NodeAt(1, 0.5, 0.5), NodeAt(2, 1.5, 0.5),
        NodeAt(4, 0.5, 91),                         // latitude off the globe
        NodeAt(5, 200, 0.5),                        // longitude off the globe
        NodeAt(6, 0.25, 0.25), NodeAt(7, 1.25, 0.25), NodeAt(8, 1.25, 0.75),
        NodeAt(9, 0.2, 0.8), NodeAt(10, 0.3, 0.8), NodeAt(11, 0.25, 0.9)};
    const std::vector<TTestWay> ways = {{20, {1, 2, 999}, {{"highway", "road"}}},
                                        {21, {1, 4}, {{"highway", "road"}}},
                                        {22, {5, 1}, {{"highway", "road"}}},
                                        {23, {6, 7, 8, 998, 6}, {{"building", "yes"}}},  // cut as a line
                                        {24, {1, 2}, {{"highway", "road"}}},
                                        {25, {1, 6, 997, 7, 8}, {{"highway", "path"}}},  // one run per area
                                        {26, {9, 10, 996, 11, 9}, {{"landuse", "grass"}}}};  // runs meet at 9
    const std::vector<TTestRelation> relations = {{30, {{OSM::kWay, 25, "a"}, {OSM::kWay, 23, "b"}}, {}}};
    TPassResult result = pass.Run(PbfInput(nodes, ways, relations));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.printed, "Node 999 is missing\nNode 4 is missing\nNode 5 is missing\nNode 998 is missing\n"
                              "Node 997 is missing\nNode 996 is missing\n");
    ExpectPass(pass, "== 0: n1 0.5,0.5; n6 0.25,0.25; n9 0.2,0.8; n10 0.3,0.8; n11 0.25,0.9;"
                     " n+0 1,0.5 garmin:extnode=yes; n+1 1,0.25; n+2 1,0.5 garmin:extnode=yes; w25 1,6 highway=path;"
                     " w26 11,9,10 landuse=grass; w+0 1,+0 highway=road; w+1 6,+1 building=yes;"
                     " w+2 1,+2 highway=road; r30 w25:a,w+1:b;\n"
                     "== 1: n2 1.5,0.5; n7 1.25,0.25; n8 1.25,0.75; n+0 1,0.5 garmin:extnode=yes; n+1 1,0.25;"
                     " n+2 1,0.5 garmin:extnode=yes; w+0 +0,2 highway=road; w+1 +1,7,8 building=yes;"
                     " w+2 +2,2 highway=road; w+3 7,8 highway=path; r30 w+3:a,w+1:b;\n");
}

TEST(PassDistributor, EveryFileIsSortedByTypeAndId)
{
    // Two closed ways that cross the shared border four times: two pieces,
    // and a new multipolygon, in each area.
    std::vector<TTestNode> nodes;
    std::vector<TTestWay> ways = {{5, {1, 2, 999}, {{"highway", "path"}}},  // a run kept whole, with its id
                                  {7, {1, 2}, {{"highway", "path"}}}};
    nodes = {NodeAt(1, 0.1, 0.1), NodeAt(2, 0.2, 0.1)};
    for (int64_t w : {20, 21}) {
        const double y = w == 20 ? 0 : 0.05;
        const std::vector<std::pair<double, double>> zigzag = {{0.5, 0.2}, {1.5, 0.2}, {1.5, 0.4}, {0.7, 0.4},
                                                               {0.7, 0.6}, {1.5, 0.6}, {1.5, 0.8}, {0.5, 0.8}};
        TTestWay way{w, {}, {{"building", "yes"}}};
        for (const auto& [lon, lat] : zigzag) {
            nodes.push_back(NodeAt(w * 10 + int64_t(way.refs.size()), lon, lat + y));
            way.refs.push_back(nodes.back().id);
        }
        way.refs.push_back(way.refs[0]);
        ways.push_back(way);
    }
    const std::string input = PbfInput(nodes, ways);
    for (const std::vector<uint32_t>& outputOf : {std::vector<uint32_t>{}, std::vector<uint32_t>{0, 0}}) {
        CPassHarness pass(TwoAreas(), outputOf);
        ASSERT_TRUE(pass.Run(input).ok);
        for (uint32_t o = 0; o < pass.OutputCount(); ++o) {
            const CRecordingWriter& out = pass.Output(o);
            ExpectSelfContained(out, "output " + std::to_string(o) + " of " + std::to_string(pass.OutputCount()));
            EXPECT_EQ(out.relations.size(), outputOf.empty() ? 2u : 4u);
        }
        ASSERT_NE(pass.Output(0).Way(5), nullptr);
        EXPECT_EQ(Refs(*pass.Output(0).Way(5)), (std::vector<int64_t>{1, 2}));
    }
}

TEST(PassDistributor, OutputsDoNotDependOnWhichAreasShareAPass)
{
    // Three areas in a row. A way crosses the middle one without a node in
    // it; nodes lie on the borders between them.
    const std::vector<TRing> rings = {DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1), DegreeRect(2, 0, 3, 1)};
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.5, 0.5), NodeAt(2, 2.5, 0.6),  NodeAt(3, 1, 0.25),
                                          NodeAt(4, 1.5, 0.25), NodeAt(5, 2, 0.75), NodeAt(6, 0.5, 0.9)};
    const std::vector<TTestWay> ways = {{10, {1, 2}, {{"highway", "primary"}}},
                                        {11, {3, 4, 5}, {{"highway", "path"}}},
                                        {12, {6, 2}, {{"waterway", "river"}}}};
    const std::vector<TTestRelation> relations = {{20, {{OSM::kWay, 10, ""}, {OSM::kWay, 11, ""}}, {}}};
    const std::string input = PbfInput(nodes, ways, relations);
    CPassHarness whole(rings);
    ASSERT_TRUE(whole.Run(input).ok);
    ASSERT_EQ(whole.Output(1).WaysTagged("highway", "primary").size(), 1u) << "the middle gets a piece";
    for (uint32_t maxAreas : {1u, 2u}) {
        CPassHarness passes(rings);
        ASSERT_TRUE(passes.Run(input, maxAreas).ok);
        EXPECT_EQ(PassText(passes), PassText(whole)) << maxAreas << " area(s) per pass";
    }
}

// --- Relations -------------------------------------------------------------

TEST(PassDistributor, RelationsAreCopiedWhereTheirMembersAre)
{
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.5, 0.5), NodeAt(2, 1.5, 0.5), NodeAt(3, 0.25, 0.25),
                                          NodeAt(4, 1.75, 0.75), NodeAt(5, 3, 3)};
    const std::vector<TTestWay> ways = {{10, {1, 2}, {{"highway", "primary"}}}};
    const std::vector<TTestRelation> relations = {
        // Ancestors with smaller ids than the route, so the walk has passed them.
        {1, {{OSM::kRelation, 2, "sub"}}, {{"name", "grandparent"}}},
        {2, {{OSM::kRelation, 3, "route"}}, {}},
        {3, {{OSM::kWay, 10, "forward"}}, {{"type", "route"}}},
        // Ancestors with larger ids.
        {4, {{OSM::kRelation, 3, ""}}, {}},
        {5, {{OSM::kRelation, 4, ""}}, {}},
        // A cycle, present through a node in the west only.
        {6, {{OSM::kRelation, 7, ""}, {OSM::kNode, 3, "stop"}}, {}},
        {7, {{OSM::kRelation, 6, ""}}, {}},
        // A relation listing itself, present in the east only.
        {8, {{OSM::kRelation, 8, "self"}, {OSM::kNode, 4, ""}}, {}},
        // Nothing in any area.
        {9, {{OSM::kNode, 5, ""}, {OSM::kWay, 77, ""}, {OSM::kRelation, 99, ""}}, {}},
    };
    ASSERT_TRUE(pass.Run(PbfInput(nodes, ways, relations)).ok);
    ExpectPass(pass, "== 0: n1 0.5,0.5; n3 0.25,0.25; n+0 1,0.5 garmin:extnode=yes; w+0 1,+0 highway=primary;"
                     " r1 r2:sub name=grandparent; r2 r3:route; r3 w+0:forward type=route; r4 r3:; r5 r4:;"
                     " r6 r7:,n3:stop; r7 r6:;\n"
                     "== 1: n2 1.5,0.5; n4 1.75,0.75; n+0 1,0.5 garmin:extnode=yes; w+0 +0,2 highway=primary;"
                     " r1 r2:sub name=grandparent; r2 r3:route; r3 w+0:forward type=route; r4 r3:; r5 r4:;"
                     " r8 r8:self,n4:;\n");
}

TEST(PassDistributor, RelationsReachTheirParentsInFilesWithoutWays)
{
    // Without way blocks the relation stages must still start at the first
    // relation. Then the same with both areas writing to output 0, as with
    // --multi-contour: one copy of each relation, each member once.
    const std::string input = PbfInput({NodeAt(1, 0.5, 0.5), NodeAt(2, 1.5, 0.5)}, {},
                                       {{5, {{OSM::kNode, 1, "a"}, {OSM::kNode, 2, "b"}}, {{"type", "route"}}},
                                        {6, {{OSM::kRelation, 5, "child"}, {OSM::kNode, 2, "c"}}, {{"type", "superroute"}}}});
    CPassHarness apart(TwoAreas());
    ASSERT_TRUE(apart.Run(input).ok);
    ExpectPass(apart, "== 0: n1 0.5,0.5; r5 n1:a type=route; r6 r5:child type=superroute;\n"
                      "== 1: n2 1.5,0.5; r5 n2:b type=route; r6 r5:child,n2:c type=superroute;\n");
    CPassHarness shared(TwoAreas(), {0, 0});
    ASSERT_TRUE(shared.Run(input).ok);
    ExpectPass(shared, "== 0: n1 0.5,0.5; n2 1.5,0.5; r5 n1:a,n2:b type=route; r6 r5:child,n2:c type=superroute;\n");
}

TEST(PassDistributor, ParentsListOnlyChildrenWrittenInTheirFile)
{
    // Ways that start on the shared border and leave it either way: where
    // a way's piece is no more than its border node, the child relation is
    // not written, and its parent must not list it there.
    CPassHarness pass(TwoAreas());
    ASSERT_TRUE(pass.Run(PbfInput({NodeAt(1, 1, 0.5), NodeAt(2, 0.5, 0.5), NodeAt(3, 1.5, 0.5)},
                                  {{10, {1, 2}, {}}, {11, {1, 3}, {}}},
                                  {{20, {{OSM::kWay, 10, ""}}, {}}, {21, {{OSM::kWay, 11, ""}}, {}},
                                   {30, {{OSM::kRelation, 20, ""}}, {}}, {31, {{OSM::kRelation, 21, ""}}, {}}}))
                    .ok);
    ExpectPass(pass, "== 0: n1 1,0.5 garmin:extnode=yes; n2 0.5,0.5; w10 1,2; r20 w10:; r30 r20:;\n"
                     "== 1: n3 1.5,0.5; n+0 1,0.5; w+0 +0,3; r21 w+0:; r31 r21:;\n");
}

TEST(PassDistributor, DeepChainOfNestedRelationsIsCopiedWhole)
{
    // Relation k holds relation k + 1; the last holds a node. Every parent
    // has a smaller id than its child, the order that needs the most
    // propagation.
    constexpr int64_t kDepth = 100000;
    std::vector<TTestRelation> relations;
    relations.reserve(kDepth);
    for (int64_t k = 1; k < kDepth; ++k)
        relations.push_back({k, {{OSM::kRelation, k + 1, ""}}, {}});
    relations.push_back({kDepth, {{OSM::kNode, 1, ""}}, {}});
    CPassHarness pass(TwoAreas());
    ASSERT_TRUE(pass.Run(PbfInput({NodeAt(1, 0.5, 0.5)}, {}, relations)).ok);

    const CRecordingWriter& west = pass.Output(0);
    ASSERT_EQ(west.relations.size(), size_t(kDepth));
    for (int64_t k = 1; k <= kDepth; ++k) {
        const OSM::TRelation& copy = west.relations[size_t(k - 1)];
        ASSERT_EQ(copy.id, k);
        ASSERT_EQ(copy.members.Count(), 1u);
        ASSERT_EQ(copy.members[0].ref, k < kDepth ? k + 1 : 1);
    }
    EXPECT_TRUE(pass.Output(1).relations.empty());
}

// --- Malformed input -------------------------------------------------------

TEST(PassDistributor, IdsBeyondFortySevenBitsEndTheRun)
{
    const int64_t tooLarge = int64_t(1) << 47;
    const int64_t tooSmall = -(int64_t(1) << 47) - 1;
    struct TCase {
        const char* what;
        std::string input;
    };
    const std::vector<TTestNode> fine = {NodeAt(1, 0.5, 0.5), NodeAt(2, 1.5, 0.5)};
    const std::vector<TCase> cases = {
        {"node id", PbfInput({NodeAt(1, 0.5, 0.5), NodeAt(tooLarge, 5, 5)})},
        {"negative node id", PbfInput({NodeAt(tooSmall, 0.5, 0.5)})},
        {"way id", PbfInput(fine, {{tooLarge, {1, 2}, {}}})},
        {"relation id", PbfInput(fine, {}, {{tooLarge, {{OSM::kNode, 1, ""}}, {}}})},
        {"way member id", PbfInput(fine, {}, {{5, {{OSM::kWay, tooLarge, ""}}, {}}})},
    };
    for (const TCase& c : cases) {
        CPassHarness pass(TwoAreas());
        EXPECT_THROW(pass.Run(c.input), OSM::CDataReader::CBadFileException) << c.what;
    }

    // The largest id that fits is an ordinary id.
    const int64_t largest = (int64_t(1) << 47) - 1;
    CPassHarness pass(TwoAreas());
    ASSERT_TRUE(pass.Run(PbfInput({NodeAt(largest - 1, 1.5, 0.5), NodeAt(largest, 0.5, 0.5)},
                                  {{largest, {largest, largest - 1}, {{"highway", "x"}}}},
                                  {{largest, {{OSM::kWay, largest, ""}}, {}}}))
                    .ok);
    EXPECT_NE(pass.Output(0).Node(largest), nullptr);
    ASSERT_NE(pass.Output(0).Relation(largest), nullptr);
    EXPECT_EQ(pass.Output(0).Relation(largest)->members.Count(), 1u);
    EXPECT_EQ(pass.Counters(0).nextNodeId, largest + 2) << "one border node";
}

TEST(PassDistributor, EntitiesOutOfOrderEndTheRun)
{
    const std::string nodes = NodeBlob({NodeAt(1, 0.5, 0.5), NodeAt(2, 1.5, 0.5)});
    const std::string moreNodes = NodeBlob({NodeAt(3, 0.25, 0.5)});
    const std::string ways = WayBlob({{10, {1, 2}, {}}});
    const std::string relations = RelationBlob({{20, {{OSM::kNode, 1, ""}}, {}}});
    // Ids going down within a kind: tiles written in input order would not
    // be sorted. Negative ids come first, by absolute value.
    const std::string negative = NodeBlob({NodeAt(0, 0.5, 0.5), NodeAt(-1, 0.5, 0.5), NodeAt(-2, 1.5, 0.5)});
    for (const std::string& input :
         {HeaderBlob() + nodes + ways + moreNodes, HeaderBlob() + nodes + relations + ways,
          HeaderBlob() + nodes + ways + relations + moreNodes, HeaderBlob() + moreNodes + nodes,
          HeaderBlob() + nodes + WayBlob({{11, {1, 2}, {}}, {10, {2, 1}, {}}}),
          HeaderBlob() + nodes + RelationBlob({{21, {}, {}}}) + relations, HeaderBlob() + nodes + negative}) {
        CPassHarness pass(TwoAreas());
        EXPECT_THROW(pass.Run(input), OSM::CDataReader::CBadFileException);
    }
    CPassHarness pass(TwoAreas());
    EXPECT_TRUE(pass.Run(HeaderBlob() + negative + nodes + ways + relations).ok);
    ExpectSelfContained(pass.Output(0), "west");
}

// --- Overlapping areas -----------------------------------------------------

TEST(PassDistributor, OverlappingAreasGiveSelfContainedOutputs)
{
    // The second area covers the east half of the first and more.
    CPassHarness pass({DegreeRect(0, 0, 1, 1), DegreeRect(0.5, 0.25, 1.5, 1.25)});
    std::vector<TTestNode> nodes;
    int64_t id = 1;
    // A grid over both areas and around them, borders included.
    for (int i = 0; i <= 8; ++i)
        for (int j = 0; j <= 8; ++j)
            nodes.push_back(NodeAt(id++, -0.25 + 0.25 * i, -0.25 + 0.25 * j));
    auto at = [](int i, int j) { return int64_t(i * 9 + j + 1); };
    std::vector<TTestWay> ways;
    int64_t wayId = 1000;
    for (int j = 0; j <= 8; ++j) {  // rows and columns, as highways and as plain lines
        std::vector<int64_t> row, column;
        for (int i = 0; i <= 8; ++i) {
            row.push_back(at(i, j));
            column.push_back(at(j, i));
        }
        ways.push_back({wayId++, row, {{"highway", "residential"}}});
        ways.push_back({wayId++, column, {{"fence", "yes"}}});
    }
    // From the overlap into the part of one area only, either way.
    ways.push_back({wayId++, {at(4, 4), at(2, 4), at(1, 5)}, {{"highway", "path"}}});
    ways.push_back({wayId++, {at(4, 4), at(6, 4), at(7, 5)}, {{"highway", "path"}}});
    // Diagonals and closed rings over the overlap.
    ways.push_back({wayId++, {at(0, 0), at(2, 2), at(4, 4), at(6, 6), at(8, 8)}, {{"highway", "path"}}});
    ways.push_back({wayId++, {at(1, 1), at(1, 7), at(7, 7), at(7, 1), at(1, 1)}, {{"building", "yes"}}});
    ways.push_back({wayId++, {at(3, 2), at(3, 6), at(6, 6), at(6, 2), at(3, 2)}, {{"landuse", "grass"}}});
    ways.push_back({wayId++, {at(2, 3), at(6, 3), at(6, 5), at(2, 5), at(2, 3)}, {}});
    ways.push_back({wayId++, {at(4, 0), at(4, 8), at(5, 8), at(5, 0), at(4, 0)}, {}});
    const std::vector<TTestRelation> relations = {
        {1, {{OSM::kWay, wayId - 2, "outer"}, {OSM::kWay, wayId - 3, "inner"}}, {{"type", "multipolygon"}}},
        {2, {{OSM::kWay, wayId - 1, "outer"}}, {{"type", "multipolygon"}}},
        {3, {{OSM::kWay, 1000, ""}, {OSM::kRelation, 1, ""}, {OSM::kRelation, 2, ""}}, {{"type", "route"}}}};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, ways, relations)).ok);

    ExpectSelfContained(pass.Output(0), "first");
    ExpectSelfContained(pass.Output(1), "second");
    std::set<int64_t> seen;
    for (uint32_t o = 0; o < 2; ++o) {
        for (const OSM::TNode& node : pass.Output(o).nodes)
            if (node.id < kNew) {
                EXPECT_TRUE(seen.insert(node.id).second) << "node " << node.id << " in both areas";
            }
        // A piece entering where the areas overlap begins without a crossing;
        // it is not the way itself.
        for (const OSM::TWay& way : pass.Output(o).ways)
            if (way.id < kNew) {
                EXPECT_EQ(Refs(way), ways[uint64_t(way.id - 1000)].refs) << "way " << way.id << " in area " << o;
            }
    }
}

TEST(PassDistributor, DegenerateRingsOfAMultipolygonEndTheirWalks)
{
    // An outer ring across the border with members of no extent: a way
    // [n, n] and a ring whose points all coincide.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.5, 0.25), NodeAt(2, 1.5, 0.25), NodeAt(3, 1.5, 0.75),
                                          NodeAt(4, 0.5, 0.75), NodeAt(5, 0.75, 0.5), NodeAt(6, 1.25, 0.5)};
    const std::vector<TTestWay> ways = {{10, {1, 4, 3, 2, 1}, {}}, {11, {5, 5}, {}}, {12, {6, 6, 6, 6}, {}}};
    const std::vector<TTestRelation> relations = {
        {7, {{OSM::kWay, 10, "outer"}, {OSM::kWay, 11, "inner"}, {OSM::kWay, 12, "inner"}},
         {{"type", "multipolygon"}}}};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, ways, relations)).ok);
    for (uint32_t o = 0; o < 2; ++o) {
        const CRecordingWriter& out = pass.Output(o);
        ExpectSelfContained(out, "output " + std::to_string(o));
        ASSERT_NE(out.Relation(7), nullptr) << o;
        ExpectClosedRings(out, *out.Relation(7), "output " + std::to_string(o));
    }
}

}  // namespace

// --- Across the antimeridian ------------------------------------------------

// Longitude in degrees in a frame without a seam near 180 degrees.
double Unwrapped(int32_t x)
{
    double lon = MapUnits::ToDegrees(x);
    return lon < 0 ? lon + 360 : lon;
}

// Twice the signed area of the edges of way (negative when clockwise), and
// its length, both in the unwrapped frame.
std::pair<double, double> AreaAndLength(const CRecordingWriter& output, const OSM::TWay& way)
{
    const std::vector<CGeoPoint> shape = Shape(output, way);
    double area = 0, length = 0;
    for (size_t i = 0; i + 1 < shape.size(); ++i) {
        double x0 = Unwrapped(shape[i].x), y0 = MapUnits::ToDegrees(shape[i].y);
        double x1 = Unwrapped(shape[i + 1].x), y1 = MapUnits::ToDegrees(shape[i + 1].y);
        area += x0 * y1 - x1 * y0;
        length += std::hypot(x1 - x0, y1 - y0);
    }
    return {area, length};
}

TEST(PassDistributor, FeaturesAcrossTheAntimeridianAreCutWhereTheyLie)
{
    // A road through both names of the meridian, a lake drawn either way
    // round, and a wood whose ring is two member ways, all across 180.
    const std::vector<TTestNode> nodes = {
        NodeAt(1, 172, 5.25), NodeAt(2, 180, 5.25),  NodeAt(3, -179, 5.75), NodeAt(4, -180, 6.25),
        NodeAt(5, -172, 6.25), NodeAt(11, 178, 4),   NodeAt(12, -178, 4),   NodeAt(13, -178, 2),
        NodeAt(14, 178, 2),   NodeAt(21, 176, 8),    NodeAt(22, -176, 8),   NodeAt(23, -176, 7),
        NodeAt(24, 176, 7),   NodeAt(30, -180, 9.5), NodeAt(31, 180, 0.5)};
    const TTags water = {{"natural", "water"}};
    struct TLayout {
        const char* name;
        std::vector<TRing> rings;
    };
    const TLayout layouts[] = {
        {"tiles meeting at 180", {DegreeRect(170, 0, 180, 10), DegreeRect(-180, 0, -170, 10)}},
        {"a tile across 180",
         {DegreeRect(165, 0, 177, 10), DegreeRect(177, 0, -177, 10), DegreeRect(-177, 0, -165, 10)}},
        {"quarters across 180", {DegreeRect(170, 0, 179, 5), DegreeRect(179, 0, -170, 5), DegreeRect(170, 5, -179, 10),
                                 DegreeRect(-179, 5, -170, 10)}},
    };
    for (const TLayout& layout : layouts) {
        for (bool clockwise : {true, false}) {
            const std::string label = std::string(layout.name) + (clockwise ? ", lake clockwise" : ", lake drawn back");
            std::vector<int64_t> lake = {11, 12, 13, 14, 11};
            if (!clockwise)
                std::reverse(lake.begin(), lake.end());
            const std::vector<TTestWay> ways = {{100, {1, 2, 3, 4, 5}, {{"highway", "primary"}}},
                                                {101, lake, water},
                                                {102, {21, 22, 23}, {}},
                                                {103, {23, 24, 21}, {}}};
            const std::vector<TTestRelation> relations = {
                {200, {{OSM::kWay, 102, "outer"}, {OSM::kWay, 103, "outer"}}, {{"type", "multipolygon"}}}};
            CPassHarness pass(layout.rings);
            ASSERT_TRUE(pass.Run(PbfInput(nodes, ways, relations)).ok) << label;

            std::map<int64_t, int> copies;
            double road = 0, lakeArea = 0, woodArea = 0;
            for (uint32_t o = 0; o < pass.OutputCount(); ++o) {
                const CRecordingWriter& out = pass.Output(o);
                ExpectSelfContained(out, label);
                for (const OSM::TNode& node : out.nodes)
                    if (node.id < kNew)
                        ++copies[node.id];
                // Border nodes on 180 degrees take the name the tile's corners there have.
                for (const CGeoPoint& corner : layout.rings[o]) {
                    if (Geometry::LonDiff(corner.x, MapUnits::k180) != 0)
                        continue;
                    for (const OSM::TNode& node : out.nodes) {
                        if (node.id >= kNew && Geometry::LonDiff(node.position.x, MapUnits::k180) == 0) {
                            EXPECT_EQ(node.position.x, MapUnits::Natural(corner.x)) << label << ", node " << node.id;
                        }
                    }
                }
                for (const OSM::TWay& way : out.ways) {
                    auto [area, length] = AreaAndLength(out, way);
                    if (way.FindTag("highway") != nullptr)
                        road += length;
                    if (way.FindTag("natural") != nullptr) {
                        EXPECT_EQ(way.nodeRefs[0], way.nodeRefs.Back()) << label << ", way " << way.id;
                        lakeArea += area;
                    }
                }
                if (const OSM::TRelation* wood = out.Relation(200)) {
                    ExpectClosedRings(out, *wood, label);
                    for (const OSM::TMember& member : wood->members)
                        woodArea += AreaAndLength(out, *out.Way(member.ref)).first;
                }
            }
            for (const TTestNode& node : nodes)
                EXPECT_EQ(copies[node.id], 1) << label << ", node " << node.id;
            EXPECT_NEAR(road, 16 + 2 * std::hypot(1, 0.5), 1e-5) << label;
            EXPECT_NEAR(std::fabs(lakeArea), 2 * 8.0, 1e-5) << label;
            EXPECT_NEAR(woodArea, -2 * 8.0, 1e-5) << label << ": the wood is drawn clockwise";
        }
    }
}
