// The PBF writer: the bytes of its blocks, their limits, and files that the
// reader and osmium read back unchanged.
#include "common/OSM/PBFWriter.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using test::MakeNode;
using test::MakeRelation;
using test::MakeWay;

// The data blocks of a file, after checking its header blob.
std::vector<OSMPBF::PrimitiveBlock> Blocks(const std::string& path)
{
    std::vector<OSMPBF::PrimitiveBlock> blocks;
    for (const test::TBlob& blob : test::SplitBlobs(test::ReadFile(path))) {
        if (blob.offset == 0) {
            EXPECT_EQ(blob.type + blob.payload, "OSMHeader\"\016OsmSchema-V0.6\"\nDenseNodes*\021Sort.Type_then_ID"
                                                "\202\001\034Tovimar OSM splitter 1.09.48");
            continue;
        }
        EXPECT_EQ(blob.type, "OSMData");
        EXPECT_TRUE(blocks.emplace_back().ParseFromString(blob.payload));
    }
    return blocks;
}

class PBFWriter : public testing::Test {
protected:
    // The path of a fresh file after write(writer) and Close().
    std::string Write(const std::function<void(OSM::CPBFWriter&)>& write)
    {
        OSM::CPBFWriter writer;
        EXPECT_TRUE(writer.Open(dir / "out.osm.pbf"));
        write(writer);
        writer.Close();
        return dir / "out.osm.pbf";
    }
    test::CTempDir dir;
};

// Nodes sorted by id, negative ones first; dense info delta-coded but the
// versions, milliseconds cut toward zero; keys_vals from the first node on;
// strings sorted byte for byte; coordinates rounded half away from zero, 2^31
// units are 256 degrees; ways and relations carry full info.
TEST_F(PBFWriter, BlockFields)
{
    const std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks(Write([](OSM::CPBFWriter& w) {
        w.WriteNode(MakeNode(-2, -2 * 8388608, 2 * 8388608, {}, {7, 100, "alice", 50, 1999, 1}));
        w.WriteNode(MakeNode(3, 3 * 8388608, -3 * 8388608, {{"name", "Main Street"}, {"Name", "MAIN STREET"}, {"b", "B"}},
                             {7, 90, "bob", 55, 5000, 1}));
        w.WriteNode(MakeNode(-1, 0x59FFFFFF, -1, {}, {2, 90, "alice", 55, -1999, 1}));
        w.WriteNode(MakeNode(5, INT32_MIN, 1, {}, {-1, 0, "", 0, 0, 0}));
        w.WriteWay(MakeWay(10, {5, 3, 8}, {{"highway", "track"}}, {-1, 0, "", 0, 0, 0}));
        w.WriteRelation(MakeRelation(11, {{OSM::kWay, 10, "outer"}, {OSM::kNode, 5, ""}, {OSM::kRelation, 12, "subarea"}},
                                     {{"type", "multipolygon"}}, {3, 4, "u", 5, 6999, 1}));
    }));
    ASSERT_EQ(blocks.size(), 1u);
    std::string hex;
    for (unsigned char c : blocks[0].SerializeAsString())
        hex.append(1, "0123456789abcdef"[c >> 4]).append(1, "0123456789abcdef"[c & 15]);
    EXPECT_EQ(hex, "0a730a000a000a01420a0b4d41494e205354524545540a0b4d61696e205374726565740a044e616d650a05616c6963650a01"
                   "620a03626f620a07686967687761790a0c6d756c7469706f6c79676f6e0a046e616d650a056f757465720a07737562617265"
                   "610a05747261636b0a04747970650a0175126312610a0401010a042a290a0d020707ffffffffffffffffff01120401040809"
                   "1a046e090a6d2206b4011413b3012a040c00040d420d0182b48913ffc1d72f828ece1c4a13fec7ceb40dfdfbd7c70d80c2d7"
                   "2fff8d82a613520a00000b0405030702000012241a22080a1201091a010e221308ffffffffffffffffff0110001800200028"
                   "0142030a030a12252223080b12010f1a010a220a0803100618052004281042030c010d4a0314090e5203010002");
}

// The 126 most used strings take the one-byte indices, in byte order, the
// rest follow in byte order: the "c" values sort before the "h" ones, yet
// come after them. The key and the empty user name are used by every node.
TEST_F(PBFWriter, TheStringTableKeepsItsOrder)
{
    auto value = [](char prefix, int i) { return prefix + std::to_string(1000 + i); };
    const std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks(Write([&](OSM::CPBFWriter& w) {
        for (int i = 0; i < 348; ++i)  // no string's uses in one run
            w.WriteNode(MakeNode(i + 1, 0, 0, {{"k", i < 248 ? value('h', i % 124) : value('c', i - 248)}}));
    }));
    std::vector<std::string> expected = {"", ""};
    for (int i = 0; i < 124; ++i)
        expected.push_back(value('h', i));
    expected.push_back("k");
    for (int i = 0; i < 100; ++i)
        expected.push_back(value('c', i));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(std::vector<std::string>(blocks[0].stringtable().s().begin(), blocks[0].stringtable().s().end()),
              expected);
}

// What the reader makes of the file, and whether osmium reads it all.
std::string ReadBack(const std::string& path)
{
    const std::string command = "osmium fileinfo -e " + path + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return test::DescribePbf(test::ReadFile(path));
}

// Metadata outside the format, from damaged input that readers would
// refuse, is written as absent; times in whole seconds. Blocks hold 8000
// entities of any kind.
TEST_F(PBFWriter, FilesReadBackUnchanged)
{
    const test::TEntitySet set = test::RandomEntities(7, 20000, 9000, 3001);
    const std::string path = Write([&set](OSM::CPBFWriter& w) {
        for (size_t i = 0; i < set.Count(); ++i)
            set.Write(w, i);
    });
    std::string groups;
    for (const OSMPBF::PrimitiveBlock& block : Blocks(path)) {
        for (const OSMPBF::PrimitiveGroup& g : block.primitivegroup())
            groups += std::to_string(g.dense().id_size() + g.ways_size() + g.relations_size()) + " ";
        groups += "| ";
    }
    EXPECT_EQ(groups, "8000 | 8000 | 4000 4000 | 5000 3000 | 1 | ");
    std::string expected;
    auto put = [&expected](OSM::EEntityType type, const auto& entities) {
        for (auto e : entities) {  // a copy, with the info as written
            OSM::TInfo& info = e.info;
            const bool changeset = info.changeset >= 0 && info.changeset <= int64_t(UINT32_MAX);
            info = {std::max(info.version, -1), std::max(info.uid, 0), info.user, changeset ? info.changeset : 0,
                    info.timestamp / 1000 * 1000, 0};
            expected += test::Describe(type, e);
        }
    };
    put(OSM::kNode, set.nodes);
    put(OSM::kWay, set.ways);
    put(OSM::kRelation, set.relations);
    EXPECT_EQ(ReadBack(path), expected);
}

// Refs that jump far take nine or ten bytes each.
OSM::TWay FarJumpingWay(OSM::TId id, int refs)
{
    OSM::TWay way = MakeWay(id);
    for (int i = 0; i < refs; ++i)
        way.nodeRefs.PushBack(i % 2 ? int64_t(1) << 62 : 0);
    return way;
}

// 2000 ways of 2000 such refs take 38 MB: one block would be unreadable.
// A way too large for any block is refused, and the file holds the blocks
// before it.
TEST_F(PBFWriter, BlocksStayWithinTheSizeReadersAccept)
{
    std::string printed;
    const std::string path = Write([&printed](OSM::CPBFWriter& w) {
        for (int i = 0; i < 2000; ++i)
            w.WriteWay(FarJumpingWay(i, 2000));
        printed = test::CaptureStdout([&w] { EXPECT_THROW(w.WriteWay(FarJumpingWay(2000, 3600000)), TStreamException); });
    });
    EXPECT_EQ(printed, dir / "out.osm.pbf: way 2000 takes 34200028 bytes, more than a PBF block may hold\n");
    const std::vector<test::TBlob> blobs = test::SplitBlobs(test::ReadFile(path));
    EXPECT_EQ(blobs.size(), 4u);
    for (const test::TBlob& blob : blobs)
        EXPECT_LE(blob.payload.size(), OSM::CPBFWriter::kBlockBytes);
    const std::string all = ReadBack(path);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2000);
}

}  // namespace
