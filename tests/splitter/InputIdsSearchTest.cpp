// The start-up id check reads only a few blocks of a sorted input, and
// still names the first id outside the range, as a scan of every id would.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
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
        std::vector<test::TTestNode> nodes;
        for (size_t i = first; i < ids.size() && i < first + per; ++i)
            nodes.push_back({ids[i], 0, 0, {}});
        OSMPBF::PrimitiveBlock block;
        OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
        for (size_t i = 0; ways && i < nodes.size(); ++i)
            test::AddWay(block, group, nodes[i].id, {1});
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
std::string FirstOutside(const char* kind, const std::vector<TId>& ids)
{
    for (TId id : ids) {
        if (id < kLow || id > kHigh) {
            char line[300];
            std::snprintf(line, sizeof line,
                          "in.pbf: %s %" PRId64 " lies outside the ids this program splits, %" PRId64
                          " to %" PRId64 ", which leave room for the ids of new objects\n",
                          kind, id, kLow, kHigh);
            return line;
        }
    }
    return "";
}

TEST(InputIdsSearch, FindsTheFirstIdOutsideAmongManyBlocks)
{
    const struct {
        std::vector<TId> nodes, ways;
        size_t per;
    } cases[] = {
        {SortedIds(0, 0, 200, 0), SortedIds(0, 0, 50, 0), 7},
        {SortedIds(0, 0, 200, 1), SortedIds(0, 0, 50, 0), 7},
        {SortedIds(0, 0, 200, 30), SortedIds(0, 0, 50, 0), 3},
        {SortedIds(40, 1, 200, 0), SortedIds(0, 0, 50, 0), 7},
        {SortedIds(40, 25, 200, 9), SortedIds(0, 0, 50, 0), 4},
        {SortedIds(0, 0, 200, 0), SortedIds(0, 0, 50, 1), 7},
        {SortedIds(0, 0, 200, 0), SortedIds(10, 3, 50, 0), 5},
        {SortedIds(0, 0, 200, 0), SortedIds(13, 0, 0, 2), 2},
        {SortedIds(0, 1, 0, 0), SortedIds(0, 0, 1, 0), 1},
        {{0, 0, 1, 2, 3}, {kHigh + 1}, 2},
        {{}, SortedIds(5, 0, 5, 1), 2},
        // Unsorted within its one block: checked whole all the same.
        {{5, kHigh + 7, 6, kLow - 3}, {}, 10},
    };
    for (const auto& c : cases) {
        // A header, nodes, ways, a relation, and blobs of other types.
        const std::string other = test::FrameBlob("OSMOther", test::MakeBlob("x"));
        OSMPBF::PrimitiveBlock relations;
        test::AddRelation(relations, *relations.add_primitivegroup(), 1, {});
        const std::string bytes = test::HeaderBlob() + Blocks(c.nodes, false, c.per) + other +
                                  Blocks(c.ways, true, c.per) + test::DataBlob(relations) + other;
        std::string want = FirstOutside("node", c.nodes);
        if (want.empty())
            want = FirstOutside("way", c.ways);

        test::CMemoryReadStream stream(bytes);
        CPBInputAdapter input;
        ASSERT_TRUE(input.Open(stream));
        bool fits = false;
        const std::string printed = test::CaptureStdout([&] { fits = CheckInputIds(input, "in.pbf"); });
        EXPECT_EQ(printed, want);
        EXPECT_EQ(fits, want.empty()) << printed;
    }
}

// The framing of every blob is checked: a malformed one anywhere is met.
TEST(InputIdsSearch, WalksTheFramingOfEveryBlob)
{
    const std::string nodes = Blocks(SortedIds(0, 0, 100, 0), false, 5);
    const std::string bytes = test::HeaderBlob() + nodes + std::string("\0\1\0\0", 4) + nodes;
    test::CMemoryReadStream stream(bytes);
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
