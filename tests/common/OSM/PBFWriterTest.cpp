// The PBF writer: exact block bytes, block limits, files read back unchanged.
#include "common/OSM/PBFWriter.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace test;

// The data blocks of a file, after checking its header blob.
std::vector<OSMPBF::PrimitiveBlock> Blocks(const std::string& path)
{
    std::vector<OSMPBF::PrimitiveBlock> blocks;
    for (const TBlob& blob : SplitBlobs(ReadFile(path))) {
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
    CTempDir dir;
};

// Nodes sorted by id, negative ones first; milliseconds cut toward zero;
// coordinates rounded half away from zero; ways and relations carry full info.
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
    std::string hex;
    for (unsigned char c : blocks.at(0).SerializeAsString())
        hex.append(1, "0123456789abcdef"[c >> 4]).append(1, "0123456789abcdef"[c & 15]);
    EXPECT_EQ(hex, "0a730a000a000a01420a0b4d41494e205354524545540a0b4d61696e205374726565740a044e616d650a05616c6963650a01"
                   "620a03626f620a07686967687761790a0c6d756c7469706f6c79676f6e0a046e616d650a056f757465720a07737562617265"
                   "610a05747261636b0a04747970650a0175126312610a0401010a042a290a0d020707ffffffffffffffffff01120401040809"
                   "1a046e090a6d2206b4011413b3012a040c00040d420d0182b48913ffc1d72f828ece1c4a13fec7ceb40dfdfbd7c70d80c2d7"
                   "2fff8d82a613520a00000b0405030702000012241a22080a1201091a010e221308ffffffffffffffffff0110001800200028"
                   "0142030a030a12252223080b12010f1a010a220a0803100618052004281042030c010d4a0314090e5203010002");
}

// The 126 most used strings take the one-byte indices, each part in byte
// order: the "c" values sort before the "h" ones, yet come after them.
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
    EXPECT_EQ(std::vector<std::string>(blocks.at(0).stringtable().s().begin(), blocks[0].stringtable().s().end()),
              expected);
}

std::string ReadBack(const std::string& path)
{
    const std::string command = "osmium fileinfo -e " + path + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return DescribePbf(ReadFile(path));
}

// Writers side by side (ended by Close or destructor) share buffers and the
// blob worker; metadata outside the format is written as absent; 8000 a block.
TEST_F(PBFWriter, FilesWrittenSideBySideReadBackUnchanged)
{
    const int sizes[][3] = {{20000, 9000, 3001}, {0, 0, 0},        {1, 0, 0},       {5000, 2000, 1500},
                            {7999, 1, 0},        {12000, 300, 40}, {100, 9000, 10}, {0, 0, 8001}};
    const auto file = [this](size_t i) { return dir / (std::to_string(i) + ".osm.pbf"); };
    std::vector<TEntitySet> sets;
    std::vector<std::unique_ptr<OSM::CPBFWriter>> writers;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        sets.push_back(RandomEntities(uint32_t(7 + i), sizes[i][0], sizes[i][1], sizes[i][2]));
        ASSERT_TRUE(writers.emplace_back(std::make_unique<OSM::CPBFWriter>())->Open(file(i)));
    }
    for (size_t e = 0; e < sets[0].Count(); ++e)  // the first set is the largest
        for (size_t i = 0; i < sets.size(); ++i)
            if (e < sets[i].Count())
                sets[i].Write(*writers[i], e);
    for (size_t i = 0; i < writers.size(); i += 2)
        writers[i]->Close();
    writers.clear();  // the others end in their destructors
    std::string groups;
    for (const OSMPBF::PrimitiveBlock& block : Blocks(file(0))) {
        for (const OSMPBF::PrimitiveGroup& g : block.primitivegroup())
            groups += std::to_string(g.dense().id_size() + g.ways_size() + g.relations_size()) + " ";
        groups += "| ";
    }
    EXPECT_EQ(groups, "8000 | 8000 | 4000 4000 | 5000 3000 | 1 | ");
    for (size_t i = 0; i < sets.size(); ++i) {
        std::string expected;
        const auto put = [&expected](OSM::EEntityType type, const auto& entities) {
            for (auto e : entities) {  // a copy, with the info as written
                const bool changeset = e.info.changeset >= 0 && e.info.changeset <= int64_t(UINT32_MAX);
                e.info = {std::max(e.info.version, -1), std::max(e.info.uid, 0), e.info.user,
                          changeset ? e.info.changeset : 0, e.info.timestamp / 1000 * 1000, 0};
                expected += Describe(type, e);
            }
        };
        put(OSM::kNode, sets[i].nodes);
        put(OSM::kWay, sets[i].ways);
        put(OSM::kRelation, sets[i].relations);
        EXPECT_EQ(ReadBack(file(i)), expected) << i;
    }
}

// Blocks of one file are compressed side by side and may be done out of
// order: slow ones (long random tags) alternate with quick ones (bare nodes).
TEST_F(PBFWriter, BlocksCompressedSideBySideKeepTheFileOrder)
{
    constexpr int kBlocks = 12;
    std::minstd_rand random(5);
    const std::string path = Write([&](OSM::CPBFWriter& w) {
        for (int i = 0; i < kBlocks * int(OSM::CPBFWriter::kBlockEntities); ++i) {
            OSM::TNode node = MakeNode(i + 1);
            if (i / OSM::CPBFWriter::kBlockEntities % 2 == 0) {
                std::string noise(64, ' ');
                for (char& c : noise)
                    c = char('a' + random() % 26);
                node.AddTag("note", noise);
            }
            w.WriteNode(node);
        }
    });
    std::vector<int64_t> firstIds;
    for (const OSMPBF::PrimitiveBlock& block : Blocks(path))
        firstIds.push_back(block.primitivegroup(0).dense().id(0));
    std::vector<int64_t> expected;
    for (int b = 0; b < kBlocks; ++b)
        expected.push_back(b * int64_t(OSM::CPBFWriter::kBlockEntities) + 1);
    EXPECT_EQ(firstIds, expected);
}

// 2000 ways of 2000 refs jumping far (9 or 10 bytes each) take 38 MB, too
// much for one block; a way too large for any is refused, earlier blocks kept.
TEST_F(PBFWriter, BlocksStayWithinTheSizeReadersAccept)
{
    const auto jumping = [](OSM::TId id, int refs) {
        OSM::TWay way = MakeWay(id);
        for (int i = 0; i < refs; ++i)
            way.nodeRefs.PushBack(i % 2 ? int64_t(1) << 62 : 0);
        return way;
    };
    std::string printed;
    const std::string path = Write([&](OSM::CPBFWriter& w) {
        for (int i = 0; i < 2000; ++i)
            w.WriteWay(jumping(i, 2000));
        printed = CaptureStdout([&] { EXPECT_THROW(w.WriteWay(jumping(2000, 3600000)), TStreamException); });
    });
    EXPECT_EQ(printed, dir / "out.osm.pbf: way 2000 takes 34200028 bytes, more than a PBF block may hold\n");
    const std::vector<TBlob> blobs = SplitBlobs(ReadFile(path));
    EXPECT_EQ(blobs.size(), 4u);
    for (const TBlob& blob : blobs)
        EXPECT_LE(blob.payload.size(), OSM::CPBFWriter::kBlockBytes);
    const std::string all = ReadBack(path);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2000);
}

}  // namespace
