// Closing cut polygons and multipolygon rings along the area border, seen
// through whole passes over tiny inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "splitter/AreaGeometry.h"
#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

constexpr int64_t kNew = TAreaOutput::kFirstNewId;

std::vector<TRing> TwoAreas() { return {DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1)}; }

std::vector<CGeoPoint> Points(std::initializer_list<std::pair<double, double>> degrees)
{
    std::vector<CGeoPoint> points;
    for (auto [lon, lat] : degrees)
        points.push_back(PointAt(lon, lat));
    return points;
}

bool IsClockwise(const std::vector<CGeoPoint>& shape)
{
    return Geometry::IsClockwise(shape.data(), shape.size() - 1);
}

// A square from 0.5 to 1.5 east and 0.25 to 0.75 north, cut by the meridian 1.
const std::vector<TTestNode> kSquare = {NodeAt(1, 0.5, 0.25), NodeAt(2, 0.5, 0.75), NodeAt(3, 1.5, 0.75),
                                        NodeAt(4, 1.5, 0.25)};

void ExpectSquareHalves(CPassHarness& pass)
{
    const CRecordingWriter& west = pass.Output(0);
    const CRecordingWriter& east = pass.Output(1);
    ASSERT_EQ(west.ways.size(), 1u);
    ASSERT_EQ(east.ways.size(), 1u);
    const OSM::TWay& w = west.ways[0];
    const OSM::TWay& e = east.ways[0];
    EXPECT_EQ(TagText(w), "building=yes");
    EXPECT_EQ(TagText(e), "building=yes");
    EXPECT_EQ(w.id, kNew);
    EXPECT_EQ(e.id, kNew);
    ASSERT_EQ(w.nodeRefs.Count(), 5u);
    EXPECT_EQ(w.nodeRefs[1], 1);
    EXPECT_EQ(w.nodeRefs[2], 2);
    EXPECT_EQ(Shape(west, w), Points({{1, 0.25}, {0.5, 0.25}, {0.5, 0.75}, {1, 0.75}, {1, 0.25}}));
    ASSERT_EQ(e.nodeRefs.Count(), 5u);
    EXPECT_EQ(e.nodeRefs[1], 3);
    EXPECT_EQ(e.nodeRefs[2], 4);
    EXPECT_EQ(Shape(east, e), Points({{1, 0.75}, {1.5, 0.75}, {1.5, 0.25}, {1, 0.25}, {1, 0.75}}));
    for (const CRecordingWriter* out : {&west, &east}) {
        EXPECT_TRUE(out->relations.empty()) << "one piece per area: no multipolygon";
        EXPECT_EQ(out->nodes.size(), 4u) << "two inner nodes, two border nodes";
        for (const OSM::TNode& node : out->nodes)
            EXPECT_TRUE(node.tags.Empty()) << "border nodes of a building carry no tag";
        ExpectSelfContained(*out, "square");
    }
}

TEST(ClipContext, BuildingCutByAStraightBorderIsClosedInEachArea)
{
    {
        SCOPED_TRACE("clockwise, starting inside the west area");
        CPassHarness pass(TwoAreas());
        ASSERT_TRUE(pass.Run(PbfInput(kSquare, {{10, {1, 2, 3, 4, 1}, {{"building", "yes"}}}})).ok);
        ExpectSquareHalves(pass);
    }
    {
        SCOPED_TRACE("counter-clockwise, starting elsewhere");
        CPassHarness pass(TwoAreas());
        ASSERT_TRUE(pass.Run(PbfInput(kSquare, {{10, {2, 1, 4, 3, 2}, {{"building", "yes"}}}})).ok);
        ExpectSquareHalves(pass);
    }
    {
        SCOPED_TRACE("counter-clockwise, starting in the east area");
        CPassHarness pass(TwoAreas());
        ASSERT_TRUE(pass.Run(PbfInput(kSquare, {{10, {3, 2, 1, 4, 3}, {{"building", "yes"}}}})).ok);
        const CRecordingWriter& west = pass.Output(0);
        const CRecordingWriter& east = pass.Output(1);
        ASSERT_EQ(west.ways.size(), 1u);
        ASSERT_EQ(east.ways.size(), 1u);
        for (const CRecordingWriter* out : {&west, &east}) {
            std::vector<CGeoPoint> shape = Shape(*out, out->ways[0]);
            ASSERT_EQ(shape.size(), 5u);
            EXPECT_EQ(shape.front(), shape.back());
            EXPECT_TRUE(IsClockwise(shape));
        }
    }
}

TEST(ClipContext, BuildingAtACornerIsClosedThroughTheCorner)
{
    // A square around the north-east corner of the west area; north of
    // latitude 1 lies outside both areas.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.75, 0.75), NodeAt(2, 0.75, 1.25), NodeAt(3, 1.25, 1.25),
                                          NodeAt(4, 1.25, 0.75)};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, {{10, {1, 2, 3, 4, 1}, {{"building", "yes"}}}})).ok);

    const CRecordingWriter& west = pass.Output(0);
    const CRecordingWriter& east = pass.Output(1);
    ASSERT_EQ(west.ways.size(), 1u);
    ASSERT_EQ(east.ways.size(), 1u);
    EXPECT_EQ(Shape(west, west.ways[0]), Points({{1, 0.75}, {0.75, 0.75}, {0.75, 1}, {1, 1}, {1, 0.75}}));
    EXPECT_EQ(Shape(east, east.ways[0]), Points({{1.25, 1}, {1.25, 0.75}, {1, 0.75}, {1, 1}, {1.25, 1}}));
    EXPECT_EQ(west.ways[0].nodeRefs[1], 1);
    EXPECT_EQ(east.ways[0].nodeRefs[1], 4);
    EXPECT_EQ(west.nodes.size(), 1u + 3u);
    EXPECT_EQ(east.nodes.size(), 1u + 3u);
    ExpectSelfContained(west, "west");
    ExpectSelfContained(east, "east");
}

TEST(ClipContext, ClosedWayStartingInsideThatLeavesAndReturnsIsOnePiece)
{
    // Starts in the west, leaves east through the meridian 1 and comes back.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.5, 0.5), NodeAt(2, 0.25, 0.5), NodeAt(3, 0.25, 0.75),
                                          NodeAt(4, 1.5, 0.75), NodeAt(5, 1.5, 0.25), NodeAt(6, 0.5, 0.25)};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, {{10, {1, 2, 3, 4, 5, 6, 1}, {{"landuse", "meadow"}}}})).ok);

    const CRecordingWriter& west = pass.Output(0);
    ASSERT_EQ(west.ways.size(), 1u);
    EXPECT_EQ(west.ways[0].id, kNew);
    EXPECT_EQ(pass.Counters(0).nextWayId, kNew + 1) << "the joined piece's id is handed back";
    EXPECT_EQ(Shape(west, west.ways[0]),
              Points({{1, 0.25}, {0.5, 0.25}, {0.5, 0.5}, {0.25, 0.5}, {0.25, 0.75}, {1, 0.75}, {1, 0.25}}));
    EXPECT_TRUE(west.relations.empty());
    ExpectSelfContained(west, "west");
    ExpectSelfContained(pass.Output(1), "east");
}

TEST(ClipContext, BuildingAlongTheBorderStaysAWayThroughTheBorderNodesOfTheOtherArea)
{
    // A building on each side of the meridian 1, each with its side on it.
    // The area holding the border nodes gets, of the building beyond them, a
    // piece with no area: it must still reach those nodes, as a line.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 1, 0.2),   NodeAt(2, 1, 0.4),   NodeAt(3, 1.5, 0.4),
                                          NodeAt(4, 1.5, 0.2), NodeAt(5, 1, 0.6),   NodeAt(6, 1, 0.8),
                                          NodeAt(7, 0.5, 0.8), NodeAt(8, 0.5, 0.6)};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, {{10, {1, 2, 3, 4, 1}, {{"building", "yes"}}},
                                          {11, {5, 6, 7, 8, 5}, {{"building", "yes"}}}}))
                    .ok);
    const int32_t holder = pass.LocateArea(PointAt(1, 0.5));
    ASSERT_GE(holder, 0);
    const CRecordingWriter& own = pass.Output(uint32_t(holder));
    const CRecordingWriter& other = pass.Output(uint32_t(1 - holder));
    for (const CRecordingWriter* out : {&own, &other}) {
        ExpectSelfContained(*out, "out");
        EXPECT_TRUE(out->relations.empty());
        for (const OSM::TNode& node : out->nodes)
            EXPECT_TRUE(node.id >= kNew || std::any_of(out->ways.begin(), out->ways.end(), [&](const OSM::TWay& w) {
                            return std::count(w.nodeRefs.begin(), w.nodeRefs.end(), node.id) > 0;
                        })) << "node " << node.id << " on no way of its area";
    }
    // The building on the holder's side is whole; the other one is closed
    // along the border where it lies and a line of the two border nodes in
    // the holder, no ring of two points.
    const OSM::TWay* whole = own.Way(holder == 0 ? 11 : 10);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->nodeRefs.Count(), 5u);
    ASSERT_EQ(own.ways.size(), 2u);
    const OSM::TWay& line = own.ways[1];
    EXPECT_EQ(TagText(line), "building=yes");
    const std::set<int64_t> borderNodes = holder == 0 ? std::set<int64_t>{1, 2} : std::set<int64_t>{5, 6};
    EXPECT_EQ(std::set<int64_t>(line.nodeRefs.begin(), line.nodeRefs.end()), borderNodes);
    EXPECT_EQ(line.nodeRefs.Count(), 2u);
    ASSERT_EQ(other.ways.size(), 1u);
    EXPECT_EQ(other.ways[0].nodeRefs.Count(), 5u);
    EXPECT_EQ(other.ways[0].nodeRefs[0], other.ways[0].nodeRefs.Back());
}

TEST(ClipContext, PieceAlongTheBorderIsNoRingOfTheNewMultipolygon)
{
    // Lies east of the meridian 1, dips into the west twice and runs along
    // the meridian between the dips, through nodes 4 and 5.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 1.5, 0.1), NodeAt(2, 0.5, 0.1), NodeAt(3, 0.5, 0.2),
                                          NodeAt(4, 1.2, 0.2), NodeAt(5, 1, 0.3),   NodeAt(6, 1, 0.5),
                                          NodeAt(7, 1.2, 0.6), NodeAt(8, 0.5, 0.7), NodeAt(9, 0.5, 0.8),
                                          NodeAt(10, 1.5, 0.8)};
    ASSERT_TRUE(
        pass.Run(PbfInput(nodes, {{20, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1}, {{"landuse", "meadow"}}}})).ok);
    const int32_t holder = pass.LocateArea(PointAt(1, 0.4));
    ASSERT_GE(holder, 0);
    const CRecordingWriter& own = pass.Output(uint32_t(holder));
    ExpectSelfContained(own, "own");
    ExpectSelfContained(pass.Output(uint32_t(1 - holder)), "other");
    std::vector<const OSM::TWay*> lines;
    for (const OSM::TWay& way : own.ways)
        if (way.nodeRefs[0] != way.nodeRefs.Back())
            lines.push_back(&way);
    ASSERT_EQ(lines.size(), 1u) << "the stretch along the border";
    EXPECT_EQ(std::set<int64_t>(lines[0]->nodeRefs.begin(), lines[0]->nodeRefs.end()), (std::set<int64_t>{5, 6}));
    EXPECT_EQ(TagText(*lines[0]), "landuse=meadow");
    if (holder == 0) {
        ASSERT_EQ(own.relations.size(), 1u) << "the two dips";
        const OSM::TRelation& mp = own.relations[0];
        ASSERT_EQ(mp.members.Count(), 2u);
        for (const OSM::TMember& m : mp.members)
            EXPECT_NE(m.ref, lines[0]->id);
        ExpectClosedRings(own, mp, "dips");
    }
}

TEST(ClipContext, ClosedWayEnteringTwiceBecomesAMultipolygon)
{
    // Lies north of the west area and dips into it twice, at 0.625 to 0.875
    // and at 0.125 to 0.375 east.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.125, 1.5),  NodeAt(2, 0.875, 1.5),  NodeAt(3, 0.875, 0.5),
                                          NodeAt(4, 0.625, 0.5),  NodeAt(5, 0.625, 1.25), NodeAt(6, 0.375, 1.25),
                                          NodeAt(7, 0.375, 0.5),  NodeAt(8, 0.125, 0.5)};
    const std::vector<TTestRelation> unrelated = {{50, {{OSM::kNode, 3, ""}}, {{"type", "site"}}}};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, {{10, {1, 2, 3, 4, 5, 6, 7, 8, 1}, {{"landuse", "forest"}, {"name", "Wood"}}}},
                                  unrelated))
                    .ok);

    const CRecordingWriter& west = pass.Output(0);
    ASSERT_EQ(west.ways.size(), 2u);
    const OSM::TWay& right = west.ways[0];
    const OSM::TWay& left = west.ways[1];
    EXPECT_EQ(Shape(west, right), Points({{0.875, 1}, {0.875, 0.5}, {0.625, 0.5}, {0.625, 1}, {0.875, 1}}));
    EXPECT_EQ(Shape(west, left), Points({{0.375, 1}, {0.375, 0.5}, {0.125, 0.5}, {0.125, 1}, {0.375, 1}}));
    EXPECT_TRUE(right.tags.Empty());
    EXPECT_TRUE(left.tags.Empty());

    ASSERT_EQ(west.relations.size(), 2u);
    EXPECT_EQ(west.relations[0].id, 50);
    const OSM::TRelation& mp = west.relations[1];
    EXPECT_EQ(mp.id, kNew);
    EXPECT_EQ(TagText(mp), "landuse=forest;name=Wood;type=multipolygon");
    EXPECT_EQ(MemberText(mp), "w" + std::to_string(right.id) + ":outer,w" + std::to_string(left.id) + ":outer");
    EXPECT_EQ(mp.info.version, 1);
    EXPECT_EQ(west.kinds, "nnnnnnnnwwrr");
    ExpectClosedRings(west, mp, "west");
    ExpectSelfContained(west, "west");
    EXPECT_TRUE(pass.Output(1).kinds.empty());
}

TEST(ClipContext, LakeAcrossABorderGetsClosingWaysInEachArea)
{
    CPassHarness pass(TwoAreas());
    std::vector<TTestNode> nodes = kSquare;  // the lake, nodes 1 to 4
    for (TTestNode n : {NodeAt(11, 0.25, 0.0625), NodeAt(12, 0.25, 0.1875), NodeAt(13, 1.75, 0.1875),
                        NodeAt(14, 1.75, 0.0625),                                // a second lake, of two ways
                        NodeAt(15, 0.3125, 0.09375), NodeAt(16, 0.3125, 0.15625), NodeAt(17, 0.4375, 0.15625),
                        NodeAt(18, 0.4375, 0.09375),                             // its island
                        NodeAt(21, 0.5, 0.875), NodeAt(22, 1.5, 0.875)})        // an unclosed ring
        nodes.push_back(n);
    const std::vector<TTestWay> ways = {
        {10, {1, 2, 3, 4, 1}, {}},
        {20, {11, 12, 13}, {{"note", "north shore"}}},
        {21, {11, 14, 13}, {{"note", "south shore"}}},  // drawn the same way round as 20
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

    for (uint32_t o = 0; o < 2; ++o) {
        const std::string label = o == 0 ? "west" : "east";
        SCOPED_TRACE(label);
        const CRecordingWriter& out = pass.Output(o);
        ExpectSelfContained(out, label);

        const OSM::TRelation* lake = out.Relation(100);
        ASSERT_NE(lake, nullptr);
        ASSERT_EQ(lake->members.Count(), 2u) << MemberText(*lake);
        const OSM::TWay* piece = out.Way(lake->members[0].ref);
        const OSM::TWay* closing = out.Way(lake->members[1].ref);
        ASSERT_TRUE(piece && closing);
        EXPECT_EQ(lake->members[0].role, "outer");
        EXPECT_EQ(lake->members[1].role, "outer");
        EXPECT_EQ(Refs(*piece)[1], o == 0 ? 1 : 3);
        EXPECT_EQ(Refs(*piece)[2], o == 0 ? 2 : 4);
        EXPECT_EQ(closing->nodeRefs[0], piece->nodeRefs.Back());
        EXPECT_EQ(closing->nodeRefs.Back(), piece->nodeRefs[0]);
        for (CGeoPoint p : Shape(out, *closing))
            EXPECT_EQ(p.x, MapUnits::FromDegrees(1)) << "the closing way runs along the border";
        EXPECT_EQ(TagText(*lake), "type=multipolygon;natural=water");
        ExpectClosedRings(out, *lake, label);

        const OSM::TRelation* twoWays = out.Relation(101);
        ASSERT_NE(twoWays, nullptr);
        ExpectClosedRings(out, *twoWays, label);
        int inner = 0;
        for (const OSM::TMember& m : twoWays->members)
            inner += m.role == "inner";
        EXPECT_EQ(inner, o == 0 ? 1 : 0) << MemberText(*twoWays);
        if (o == 0) {
            EXPECT_NE(MemberText(*twoWays).find("w22:inner"), std::string::npos) << "the island, unchanged";
        }

        // The unclosed ring still lists its piece, which has real nodes.
        const OSM::TRelation* open = out.Relation(102);
        ASSERT_NE(open, nullptr);
        ASSERT_EQ(open->members.Count(), 1u) << MemberText(*open);
        const OSM::TWay* openPiece = out.Way(open->members[0].ref);
        ASSERT_NE(openPiece, nullptr);
        EXPECT_EQ(openPiece->nodeRefs.Count(), 2u);
        EXPECT_EQ(Refs(*openPiece)[o == 0 ? 0 : 1], o == 0 ? 21 : 22);
    }
}

}  // namespace

TEST(ClipContext, ClosingWaysAndClosedLinesInventNoLineFeatures)
{
    // A boundary whose western half follows a road, and a closed fence and a
    // hedged field, all cut by the meridian 1.
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
    const std::vector<TTestRelation> relations = {
        {100, {{OSM::kWay, 10, "outer"}, {OSM::kWay, 11, "outer"}},
         {{"type", "boundary"}, {"boundary", "administrative"}, {"admin_level", "8"}}}};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, ways, relations)).ok);

    for (uint32_t o = 0; o < 2; ++o) {
        const CRecordingWriter& out = pass.Output(o);
        SCOPED_TRACE(o == 0 ? "west" : "east");
        ExpectSelfContained(out, "out");
        const OSM::TRelation* boundary = out.Relation(100);
        ASSERT_NE(boundary, nullptr);
        ExpectClosedRings(out, *boundary, "boundary");
        for (const OSM::TMember& m : boundary->members) {
            const OSM::TWay* way = out.Way(m.ref);
            ASSERT_NE(way, nullptr);
            if (std::all_of(way->nodeRefs.begin(), way->nodeRefs.end(), [](int64_t n) { return n >= kNew; })) {
                // the closing way along the border
                EXPECT_EQ(TagText(*way), "boundary=administrative;admin_level=8");
            }
        }
        EXPECT_EQ(out.WaysTagged("highway", "residential").size(), 1u) << "the road's own piece only";
        const auto fence = out.WaysTagged("barrier", "fence");
        ASSERT_EQ(fence.size(), 1u);
        EXPECT_NE(fence[0]->nodeRefs[0], fence[0]->nodeRefs.Back()) << "cut as a line, not closed along the border";
        const auto field = out.WaysTagged("landuse", "meadow");
        ASSERT_EQ(field.size(), 1u);
        EXPECT_EQ(field[0]->nodeRefs[0], field[0]->nodeRefs.Back()) << "an area stays closed";
    }
}

TEST(ClipContext, InnerRingCutByTheBorderBecomesANotchInTheOuterBoundary)
{
    // A lake from 0.25 to 1.75 east with an island from 0.75 to 1.25, both
    // cut by the meridian 1; the island's ring is drawn clockwise too.
    CPassHarness pass(TwoAreas());
    const std::vector<TTestNode> nodes = {NodeAt(1, 0.25, 0.125), NodeAt(2, 0.25, 0.875), NodeAt(3, 1.75, 0.875),
                                          NodeAt(4, 1.75, 0.125), NodeAt(5, 0.75, 0.375), NodeAt(6, 0.75, 0.625),
                                          NodeAt(7, 1.25, 0.625), NodeAt(8, 1.25, 0.375)};
    const std::vector<TTestWay> ways = {{10, {1, 2, 3, 4, 1}, {}}, {11, {5, 6, 7, 8, 5}, {}}};
    const std::vector<TTestRelation> relations = {
        {100, {{OSM::kWay, 10, "outer"}, {OSM::kWay, 11, "inner"}}, {{"type", "multipolygon"}}}};
    ASSERT_TRUE(pass.Run(PbfInput(nodes, ways, relations)).ok);

    for (uint32_t o = 0; o < 2; ++o) {
        const CRecordingWriter& out = pass.Output(o);
        SCOPED_TRACE(o == 0 ? "west" : "east");
        const OSM::TRelation* lake = out.Relation(100);
        ASSERT_NE(lake, nullptr);
        ExpectClosedRings(out, *lake, "lake");
        // The border runs along the lake from 0.125 to 0.375 and from 0.625
        // to 0.875 only: not along the island, and not twice.
        double along = 0;
        for (const OSM::TMember& m : lake->members) {
            EXPECT_EQ(m.role, "outer") << MemberText(*lake);
            const std::vector<CGeoPoint> shape = Shape(out, *out.Way(m.ref));
            if (std::all_of(shape.begin(), shape.end(), [](CGeoPoint p) { return p.x == PointAt(1, 0).x; }))
                along += std::abs(MapUnits::ToDegrees(shape.back().y) - MapUnits::ToDegrees(shape.front().y));
        }
        EXPECT_DOUBLE_EQ(along, 0.5) << MemberText(*lake);
    }
}
