// The start-up id check reads only a few blocks of a sorted input, and
// still names the first id outside the range, as a scan of every id would.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/OSM/DataReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "splitter/InputIds.h"
#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using OSM::TId;

constexpr TId kLow = Clip::kMinKeyId;
constexpr TId kHigh = kMaxInputId;

// ids split into blocks of per, as nodes (dense) or ways.
std::string Blocks(const std::vector<TId>& ids, bool ways, size_t per)
{
    std::string out;
    for (size_t first = 0; first < ids.size(); first += per) {
        OSMPBF::PrimitiveBlock block;
        OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
        std::vector<test::TTestNode> nodes;
        for (size_t i = first; i < ids.size() && i < first + per; ++i) {
            nodes.push_back({ids[i], 0, 0, {}});
            if (ways)
                test::AddWay(block, group, ids[i], {1});
        }
        if (!ways)
            test::AddDenseNodes(block, group, nodes);
        out += test::DataBlob(block);
    }
    return out;
}

// Ids in the order of a sorted file: 0 and the negative ones by absolute
// value, then the positive ones; some beyond either end of the range.
std::vector<TId> SortedIds(int negative, int tooLow, int positive, int tooHigh)
{
    std::vector<TId> ids;
    for (int i = 1; i <= negative; ++i)
        ids.push_back(kLow + negative - i);
    for (int i = 1; i <= tooLow; ++i)
        ids.push_back(kLow - i);
    for (int i = 1; i <= positive; ++i)
        ids.push_back(kHigh - positive + i);
    for (int i = 1; i <= tooHigh; ++i)
        ids.push_back(kHigh + i);
    return ids;
}

// What a check of every id in file order prints first, or nothing.
std::string FirstOutside(const std::string& kind, const std::vector<TId>& ids)
{
    for (TId id : ids) {
        if (id < kLow || id > kHigh)
            return "in.pbf: " + kind + " " + std::to_string(id) + " lies outside the ids this program splits, " +
                   std::to_string(kLow) + " to " + std::to_string(kHigh) +
                   ", which leave room for the ids of new objects\n";
    }
    return "";
}

// Checks a file of nodes and ways in blocks of per, among a relation and
// blobs of other types.
void ExpectFirstOutside(const std::vector<TId>& nodes, const std::vector<TId>& ways, size_t per)
{
    const std::string other = test::FrameBlob("OSMOther", test::MakeBlob("x"));
    OSMPBF::PrimitiveBlock relations;
    test::AddRelation(relations, *relations.add_primitivegroup(), 1, {});
    test::CMemoryReadStream stream(test::HeaderBlob() + Blocks(nodes, false, per) + other + Blocks(ways, true, per) +
                                   test::DataBlob(relations) + other);
    CPBInputAdapter input;
    ASSERT_TRUE(input.Open(stream));
    bool fits = false;
    const std::string printed = test::CaptureStdout([&] { fits = CheckInputIds(input, "in.pbf"); });
    const std::string want = FirstOutside("node", nodes) + FirstOutside("way", ways);
    EXPECT_EQ(printed, want.substr(0, want.find('\n') + 1));
    EXPECT_EQ(fits, want.empty());
}

TEST(InputIdsSearch, FindsTheFirstIdOutsideAmongManyBlocks)
{
    std::mt19937 random(4);
    auto count = [&](uint32_t most) { return random() % 2 == 0 ? 0 : int(random() % most); };
    for (int round = 0; round < 300; ++round) {
        const std::vector<TId> nodes = SortedIds(count(40), count(30), count(200), count(30));
        const std::vector<TId> ways = SortedIds(count(20), count(5), count(50), count(5));
        ExpectFirstOutside(nodes, ways, 1 + random() % 8);
    }
    // Unsorted within its one block: checked whole all the same.
    ExpectFirstOutside({5, kHigh + 7, 6, kLow - 3}, {}, 10);
    ExpectFirstOutside({0, 0, 1, 2, 3}, {kHigh + 1}, 2);
}

// The framing of every blob is checked: a malformed one anywhere is met.
TEST(InputIdsSearch, WalksTheFramingOfEveryBlob)
{
    const std::string nodes = Blocks(SortedIds(0, 0, 100, 0), false, 5);
    test::CMemoryReadStream stream(test::HeaderBlob() + nodes + std::string("\0\1\0\0", 4) + nodes);
    CPBInputAdapter input;
    ASSERT_TRUE(input.Open(stream));
    try {
        CheckInputIds(input, "in.pbf");
        ADD_FAILURE() << "no failure";
    } catch (const OSM::CDataReader::CBadFileException& e) {
        EXPECT_EQ(e.reason, "blob header size 65536 is out of range");
        EXPECT_EQ(input.BlobOffset(), test::HeaderBlob().size() + nodes.size());
    }
}

}  // namespace
