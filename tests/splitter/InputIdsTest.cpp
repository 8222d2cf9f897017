// Ids of the input that would leave no room for the ids of new objects are
// refused before anything is written; the check reads only a few blocks of a
// sorted input, and still names the first id outside, as a scan would.
#include "splitter/InputIds.h"

#include <cctype>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/OSM/PBInputAdapter.h"
#include "splitter/Driver.h"
#include "tests/splitter/clip/PassHarness.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

using namespace test;
using OSM::TId;

constexpr TId kLow = Clip::kMinKeyId, kHigh = kMaxInputId;

// ids split into blocks of per, as ways or as nodes, dense and plain by turns.
std::string Blocks(const std::vector<TId>& ids, bool ways, size_t per)
{
    std::string out;
    for (size_t first = 0; first < ids.size(); first += per) {
        if (!ways && first / per % 2 == 1) {
            OSMPBF::PrimitiveBlock plain;
            OSMPBF::PrimitiveGroup& group = *plain.add_primitivegroup();
            for (size_t i = first; i < ids.size() && i < first + per; ++i) {
                OSMPBF::Node& node = *group.add_nodes();
                node.set_id(ids[i]);
                node.set_lat(0);
                node.set_lon(0);
            }
            plain.mutable_stringtable()->add_s("");
            out += DataBlob(plain);
            continue;
        }
        TTestInput block;
        for (size_t i = first; i < ids.size() && i < first + per; ++i)
            if (ways)
                block.ways.push_back({ids[i], {1}});
            else
                block.nodes.push_back({ids[i], 0, 0, {}});
        out += DataBlobs(block);
    }
    return out;
}

// Ids in the order of a sorted file: 0 and the negative ones by absolute
// value, then the positive ones; some beyond either end of the range.
std::vector<TId> SortedIds(int negative, int tooLow, int positive, int tooHigh)
{
    std::vector<TId> ids;
    for (TId id = kLow + negative - 1; id >= kLow - tooLow; --id)
        ids.push_back(id);
    for (TId id = kHigh - positive + 1; id <= kHigh + tooHigh; ++id)
        ids.push_back(id);
    return ids;
}

// Checks a file of nodes and ways in blocks of per, among a relation and
// blobs of other types: it names the first id outside, as a scan would.
void ExpectFirstOutside(const std::vector<TId>& nodes, const std::vector<TId>& ways, size_t per)
{
    std::string want;
    for (const auto& [kind, ids] : {std::pair{"node", &nodes}, std::pair{"way", &ways}})
        for (TId id : *ids)
            if (want.empty() && (id < kLow || id > kHigh))
                want = "in.pbf: " + std::string(kind) + " " + std::to_string(id) + " lies outside";
    const std::string other = FrameBlob("OSMOther", MakeBlob("x"));
    CMemoryReadStream stream(HeaderBlob() + Blocks(nodes, false, per) + other + Blocks(ways, true, per) +
                             DataBlobs({.relations = {{1}}}) + other);
    CPBInputAdapter input;
    ASSERT_TRUE(input.Open(stream));
    bool fits = false;
    const std::string printed = CaptureStdout([&] { fits = CheckInputIds(input, "in.pbf"); });
    EXPECT_EQ(printed.substr(0, printed.find(" the ids")), want);
    EXPECT_EQ(fits, want.empty());
}

TEST(InputIds, TheCheckFindsTheFirstIdOutsideAmongManyBlocks)
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

// Splits two nodes either side of the meridian 1 and a way between them,
// which the split cuts with a new node into two new pieces, and a route of
// the way; returns the exit code, what the run printed in printed.
int SplitCrossing(const CTempDir& dir, TId nodeId, TId wayId, TId relationId, TId wayMember, std::string& printed)
{
    WriteFile(dir / "in.osm.pbf", PbfInput({NodeAt(nodeId - 1, 0.5, 0.5), NodeAt(nodeId, 1.5, 0.5)},
                                           {{wayId, {nodeId - 1, nodeId}, {{"highway", "primary"}}}},
                                           {{relationId, {{OSM::kWay, wayMember, ""}}, {{"type", "route"}}}}));
    WriteSplitFile(dir / "areas.list", {{0, 0, 1, 1}, {1, 0, 2, 1}});
    const std::string splitFile = "--split-file=" + (dir / "areas.list"), output = "--output-dir=" + (dir / "out/");
    const std::string input = dir / "in.osm.pbf";
    const char* arguments[] = {"--pbf", splitFile.c_str(), output.c_str(), input.c_str()};
    int code = -1;
    printed = CaptureStdout([&] { code = RunSplitter(arguments, 4); });
    return code;
}

TEST(InputIds, IdsWithoutRoomForNewOnesAreRefusedBeforeAnyOutput)
{
    const TId over = kHigh + 1;
    const struct {
        TId node, way, relation, member;
        std::string printed;
    } cases[] = {
        {over, 5, 6, 5, "node 139637976727552 lies outside the ids this program splits, -140737488355328 to "
                        "139637976727551, which leave room for the ids of new objects\n"},
        {10, over, 6, over, "way 139637976727552 lies outside"},
        {10, 5, over, 5, "relation 139637976727552 lies outside"},
        {kLow, 5, 6, 5, "node -140737488355329 lies outside"},
        {10, 5, 6, TId(1) << 47, "relation 6 has a way member 140737488355328 that does not fit"},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        std::string printed;
        EXPECT_EQ(SplitCrossing(dir, c.node, c.way, c.relation, c.member, printed), kExitBadInput) << printed;
        EXPECT_NE(printed.find(dir / "in.osm.pbf: " + c.printed), std::string::npos) << printed;
        EXPECT_NE(printed.find("\nBad input file.\n"), std::string::npos) << printed;
        EXPECT_FALSE(FileExists(dir / "out")) << c.printed;
    }

    // The largest ids accepted: the new objects of an output take ids above
    // them, and all of them fit a pass's keys, so the program reads the output.
    CTempDir dir;
    std::string printed;
    ASSERT_EQ(SplitCrossing(dir, kHigh, kHigh, kHigh, kHigh, printed), kExitDone) << printed;
    for (const char* name : {"1.osm.pbf", "2.osm.pbf"}) {
        std::istringstream lines(DescribePbf(ReadFile(dir / "out/" + name)));
        std::string kinds;  // capitals for the objects the split made
        for (std::string line; std::getline(lines, line);) {
            const TId id = std::stoll(line.substr(1));
            EXPECT_TRUE(Clip::FitsKey(id)) << line;
            kinds += char(id > kHigh ? std::toupper(line[0]) : line[0]);
        }
        // A node of the input and a border node, a piece, the route.
        EXPECT_EQ(kinds, "nNWr") << name;
    }
}

}  // namespace
