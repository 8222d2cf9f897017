// A pass keeps the node positions of its first reading for clipping, up to a
// limit, and reads only the rest again: whatever the limit, every output is
// the same as when all positions are read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

// Every record of every output, and what the pass printed.
std::string Dump(CPassHarness& pass, const TPassResult& result)
{
    return std::to_string(result.ok) + ' ' + result.printed + '\n' + PassText(pass);
}

struct TCase {
    const char* name;
    bool negativeIds;   // the first ids negative, in file order -1, -2, ...
    bool repeatedNode;  // one node twice, at two places
    uint32_t maxAreas;  // 0: one pass
};

// Nodes in several blocks, some outside every area; ways of a few nodes,
// open and closed, some through a node the input lacks; multipolygons.
std::string RandomInput(std::mt19937& random, const TCase& c)
{
    std::uniform_real_distribution<double> lon(-0.5, 3.5), lat(-0.5, 2.5);
    std::vector<TTestNode> nodes;
    const int count = 240;
    for (int i = 0; i < count; ++i) {
        const int64_t id = c.negativeIds && i < 40 ? -1 - i : 1 + 2 * i + int64_t(random() % 2);
        TTags tags;
        if (random() % 10 == 0)
            tags = {{"name", std::to_string(i)}};
        nodes.push_back(NodeAt(id, lon(random), lat(random), tags));
    }
    std::vector<TTestWay> ways;
    if (c.repeatedNode) {
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
        TTestWay way{w * 10, {}, {}};
        const int length = 2 + int(random() % 6);
        for (int k = 0; k < length; ++k)
            way.refs.push_back(random() % 30 == 0 ? 9999 : nodes[random() % nodes.size()].id);
        if (w % 4 == 0 && length >= 3)
            way.refs.push_back(way.refs.front());
        way.tags = {{w % 3 == 0 ? "highway" : "building", "yes"}};
        ways.push_back(way);
    }
    std::vector<TTestRelation> relations;
    for (int64_t r = 1; r <= 8; ++r) {
        TTestRelation relation{r, {}, {{"type", "multipolygon"}}};
        for (int m = 0; m < 1 + int(random() % 3); ++m)
            relation.members.push_back({OSM::kWay, ways[random() % ways.size()].id, m == 0 ? "outer" : "inner"});
        relations.push_back(relation);
    }
    std::vector<std::string> blobs;
    for (size_t first = 0; first < nodes.size(); first += 50)
        blobs.push_back(NodeBlob({nodes.begin() + first, nodes.begin() + std::min(first + 50, nodes.size())}));
    blobs.push_back(WayBlob(ways));
    blobs.push_back(RelationBlob(relations));
    return PbfFile(blobs);
}

TEST(KeptPoints, AnyLimitGivesTheOutputsOfReadingAgain)
{
    const TCase cases[] = {
        {"one pass", false, false, 0},
        {"passes of two areas", false, false, 2},
        {"negative ids", true, false, 0},
        {"a node twice", false, true, 0},
    };
    std::mt19937 random(16);
    for (const TCase& c : cases) {
        for (int round = 0; round < 6; ++round) {
            const std::string input = RandomInput(random, c);
            auto run = [&](std::optional<uint64_t> kept) {
                CPassHarness pass({DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1), DegreeRect(0, 1, 2, 2),
                                   DegreeRect(2, 0, 3, 2)});
                const TPassResult result = pass.Run(input, c.maxAreas, kept);
                return Dump(pass, result);
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
        const TPassResult result = pass.Run(
            PbfInput({NodeAt(1, -0.5, 0.5), NodeAt(2, -1e-7, -1e-7), NodeAt(3, 0.5, 0.5)}, {{10, {1, 2, 3}, {}}}), 0,
            kept);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.printed, "") << "limit " << kept;
        ASSERT_EQ(pass.Output(0).ways.size(), 1u) << "limit " << kept;
        EXPECT_EQ(pass.Output(0).ways[0].nodeRefs.Count(), 3u) << "limit " << kept;
        const auto& nodes = pass.Output(0).nodes;
        auto two = std::find_if(nodes.begin(), nodes.end(), [](const OSM::TNode& n) { return n.id == 2; });
        ASSERT_NE(two, nodes.end()) << "limit " << kept;
        EXPECT_EQ(two->position, (CGeoPoint{-1, -1})) << "limit " << kept;
    }
}

}  // namespace
