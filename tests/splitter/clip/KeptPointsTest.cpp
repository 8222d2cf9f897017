// A pass keeps the node positions of its first reading for clipping, up to a
// limit, and reads only the rest again: whatever the limit, every output is
// the same as when all positions are read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/splitter/clip/PassHarness.h"

namespace {

using namespace test;

// The shared random input in blocks of eight nodes, a way through a node it
// lacks. With negativeIds the first ids are -1, -2, ... in file order; with
// repeatedNode node 1 comes twice, its way crossing a border either way.
std::string KeptPointsInput(std::mt19937& random, bool negativeIds, bool repeatedNode)
{
    TTestInput input = RandomInput(random);
    input.ways.push_back({1000, {1, 2, 9999, 3}, {{"highway", "yes"}}});
    if (repeatedNode) {
        input.nodes[0] = NodeAt(1, 0.5, 0.5);
        input.nodes[1] = NodeAt(2, 1.5, 0.5);
        input.nodes.insert(input.nodes.begin() + 1, NodeAt(1, 1.5, 1.5));
    }
    auto rename = [negativeIds](int64_t& id) { id = negativeIds && id <= 5 ? -id : id; };
    for (TTestNode& node : input.nodes)
        rename(node.id);
    for (TTestWay& way : input.ways)
        std::ranges::for_each(way.refs, rename);
    for (TTestRelation& relation : input.relations)
        for (TTestMember& member : relation.members)
            if (member.type == OSM::kNode)
                rename(member.ref);
    std::string file = HeaderBlob();
    for (size_t first = 0; first < input.nodes.size(); first += 8)
        file += DataBlobs({{input.nodes.begin() + first, input.nodes.begin() + std::min(first + 8, input.nodes.size())}});
    return file + DataBlobs({{}, input.ways, input.relations});
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
        for (int round = 0; round < 20; ++round) {
            const std::string input = KeptPointsInput(random, c.negativeIds, c.repeatedNode);
            auto run = [&](std::optional<uint64_t> kept) {
                CPassHarness pass({DegreeRect(0, 0, 1, 1), DegreeRect(1, 0, 2, 1), DegreeRect(0, 1, 1, 2),
                                   DegreeRect(1, 1, 2, 2)});
                const TPassResult result = pass.Run(input, c.maxAreas, kept);
                return std::to_string(result.ok) + ' ' + result.printed + '\n' + PassText(pass);
            };
            const std::string reread = run(0);
            for (std::optional<uint64_t> kept : {std::optional<uint64_t>(), std::optional<uint64_t>(1),
                                                 std::optional<uint64_t>(20), std::optional<uint64_t>(1000)})
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
        ASSERT_TRUE(west.ways.size() == 1 && Find(west.nodes, 2) != nullptr) << "limit " << kept;
        EXPECT_EQ(west.ways[0].nodeRefs.Count(), 3u) << "limit " << kept;
        EXPECT_EQ(Find(west.nodes, 2)->position, (CGeoPoint{-1, -1})) << "limit " << kept;
    }
}

}  // namespace
