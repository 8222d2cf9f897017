// A pass keeps the node positions of its first reading for clipping, up to a
// limit, and reads only the rest again: whatever the limit, every output is
// the same as when all positions are read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

// Nodes in several blocks, some outside every area; ways of a few nodes,
// open and closed, some through a node the input lacks; multipolygons. With
// negativeIds the first ids are -1, -2, ... in file order; with repeatedNode
// one node comes twice, at two places.
std::string RandomInput(std::mt19937& random, bool negativeIds, bool repeatedNode)
{
    std::uniform_real_distribution<double> lon(-0.5, 3.5), lat(-0.5, 2.5);
    std::vector<TTestNode> nodes;
    for (int i = 0; i < 240; ++i) {
        const int64_t id = negativeIds && i < 40 ? -1 - i : 1 + 2 * i + int64_t(random() % 2);
        const TTags tags = random() % 10 == 0 ? TTags{{"name", std::to_string(i)}} : TTags{};
        nodes.push_back(NodeAt(id, lon(random), lat(random), tags));
    }
    std::vector<TTestWay> ways;
    if (repeatedNode) {
        // Read again, its last position counts; the way through it crosses
        // a border either way. Its block holds no other position to read.
        std::uniform_real_distribution<double> inLon(0, 3), inLat(0, 2);
        for (int i = 100; i < 150; ++i)
            nodes[i] = NodeAt(nodes[i].id, inLon(random), inLat(random));
        nodes[100] = NodeAt(nodes[100].id, 0.5, 0.5);
        nodes[101] = NodeAt(nodes[101].id, 1.5, 0.5);
        nodes.insert(nodes.begin() + 101, NodeAt(nodes[100].id, 2.5, 1.5));
        ways.push_back({5, {nodes[100].id, nodes[102].id}, {}});
    }
    for (int64_t w = 1; w <= 50; ++w) {
        TTestWay& way = ways.emplace_back(TTestWay{w * 10, {}, {{w % 3 == 0 ? "highway" : "building", "yes"}}});
        const int length = 2 + int(random() % 6);
        for (int k = 0; k < length; ++k)
            way.refs.push_back(random() % 30 == 0 ? 9999 : nodes[random() % nodes.size()].id);
        if (w % 4 == 0 && length >= 3)
            way.refs.push_back(way.refs.front());
    }
    std::vector<TTestRelation> relations;
    for (int64_t r = 1; r <= 8; ++r) {
        TTestRelation& relation = relations.emplace_back(TTestRelation{r, {}, {{"type", "multipolygon"}}});
        for (int m = 0; m < 1 + int(random() % 3); ++m)
            relation.members.push_back({OSM::kWay, ways[random() % ways.size()].id, m == 0 ? "outer" : "inner"});
    }
    std::string file = HeaderBlob();
    for (size_t first = 0; first < nodes.size(); first += 50)
        file += DataBlobs({{nodes.begin() + first, nodes.begin() + std::min(first + 50, nodes.size())}});
    return file + DataBlobs({{}, ways, relations});
}

TEST(KeptPoints, AnyLimitGivesTheOutputsOfReadingAgain)
{
    const struct {
        const char* name;
        bool negativeIds, repeatedNode;
        uint32_t maxAreas;  // 0: one pass
    } cases[] = {{"one pass", false, false, 0},
                 {"passes of two areas", false, false, 2},
                 {"negative ids", true, false, 0},
                 {"a node twice", false, true, 0}};
    std::mt19937 random(16);
    for (const auto& c : cases) {
        for (int round = 0; round < 6; ++round) {
            const std::string input = RandomInput(random, c.negativeIds, c.repeatedNode);
            auto run = [&](std::optional<uint64_t> kept) {
                CPassHarness pass({DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1), DegreeRect(0, 1, 2, 2),
                                   DegreeRect(2, 0, 3, 2)});
                const TPassResult result = pass.Run(input, c.maxAreas, kept);
                return std::to_string(result.ok) + ' ' + result.printed + '\n' + PassText(pass);
            };
            const std::string reread = run(0);
            for (std::optional<uint64_t> kept : {std::optional<uint64_t>(), std::optional<uint64_t>(1),
                                                 std::optional<uint64_t>(60), std::optional<uint64_t>(1000)})
                EXPECT_EQ(run(kept), reread) << c.name << ", round " << round << ", limit " << kept.value_or(~0ull);
        }
    }
}

// A node one map unit south-west of 0,0 is a position like any other, not
// one that is missing.
TEST(KeptPoints, PointNextToTheOriginIsKnown)
{
    for (uint64_t kept : {0, 1000}) {
        CPassHarness pass({DegreeRect(-1, -1, 0, 1), DegreeRect(0, -1, 1, 1)});
        const std::string input = PbfInput(ParseInput("n1 -0.5 0.5; n2 -1e-7 -1e-7; n3 0.5 0.5; w10 1 2 3"));
        const TPassResult result = pass.Run(input, 0, kept);
        EXPECT_TRUE(result.ok && result.printed.empty()) << "limit " << kept << ": " << result.printed;
        const CRecordingWriter& west = pass.Output(0);
        ASSERT_TRUE(west.ways.size() == 1 && west.Node(2) != nullptr) << "limit " << kept;
        EXPECT_EQ(west.ways[0].nodeRefs.Count(), 3u) << "limit " << kept;
        EXPECT_EQ(west.Node(2)->position, (CGeoPoint{-1, -1})) << "limit " << kept;
    }
}

}  // namespace
