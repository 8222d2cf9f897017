// Reading ahead on a thread changes nothing a reader's caller sees: the
// entities, the failures and where they are met, the positions, the seeks.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/OSM/PBFReader.h"
#include "common/OSM/ReadAhead.h"
#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using CBadFile = OSM::CDataReader::CBadFileException;
using OSM::CPBFReaderAdapter;
using TLines = std::vector<std::string>;

constexpr uint32_t kDepths[] = {0, 1, OSM::kReadAheadBlocks};

// An input served from memory, or from a file of the shared data.
struct TInput {
    explicit TInput(const std::string& bytes, bool isFile = false) : memory(isFile ? "" : bytes)
    {
        EXPECT_TRUE(isFile ? disk.Open(test::DataFile(bytes)) && adapter.Open(disk) : adapter.Open(memory));
    }
    test::CMemoryReadStream memory;
    CFileReadStream disk{65536};
    CPBInputAdapter adapter;
};

std::string Entity(CPBFReaderAdapter& reader)
{
    return std::to_string(reader.Position()) + " " + test::Describe(reader.GetType(), *reader.GetEntity());
}

// The entities read up to the end or to the first failure, whose reason and
// blob offset close the record; every fifth is read again after StepBack.
TLines Read(TInput& in, CPBFReaderAdapter& reader, uint64_t limit = UINT64_MAX)
{
    TLines out;
    try {
        while (out.size() < limit && reader.ReadNext()) {
            out.push_back(Entity(reader));
            if (out.size() % 5 == 0) {
                reader.StepBack();
                EXPECT_TRUE(reader.ReadNext());
                EXPECT_EQ(Entity(reader), out.back());
            }
        }
    } catch (const CBadFile& e) {
        out.push_back("bad file: " + e.reason + " at " + std::to_string(in.adapter.BlobOffset()));
    }
    return out;
}

OSMPBF::PrimitiveBlock Block(OSM::EEntityType kind, int64_t first, int count)
{
    OSMPBF::PrimitiveBlock block;
    OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
    std::vector<test::TTestNode> nodes;
    for (int i = 0; i < count; ++i) {
        if (kind == OSM::kNode)
            nodes.push_back({first + i, 100 * i, -70 * i, {{"n", std::to_string(i)}}});
        else if (kind == OSM::kWay)
            test::AddWay(block, group, first + i, {i + 1, 1}, {{"highway", "r" + std::to_string(i % 3)}});
        else
            test::AddRelation(block, group, first + i, {{OSM::kWay, first + i, "outer"}});
    }
    if (kind == OSM::kNode)
        test::AddDenseNodes(block, group, nodes);
    return block;
}

// Many small blocks of every kind, with blobs of other types and blocks
// without groups between them, so that the queue fills and wraps.
std::string SyntheticFile()
{
    std::string file = test::HeaderBlob();
    const std::string other = test::FrameBlob("OSMOther", test::MakeBlob("x"));
    OSMPBF::PrimitiveBlock noGroups;
    test::StringIndex(noGroups, "");
    const std::string empty = test::DataBlob(noGroups);
    for (int b = 0; b < 12; ++b)
        file += (b % 4 == 1 ? other : b % 4 == 2 ? empty : "") + test::DataBlob(Block(OSM::kNode, 1 + 10 * b, 7 + b % 3));
    for (int b = 0; b < 9; ++b)
        file += (b % 3 == 0 ? other : "") +
                test::DataBlob(Block(OSM::kWay, 1 + 10 * b, 4 + b % 5), test::ECompression::kRaw);
    for (int b = 0; b < 5; ++b)
        file += test::DataBlob(Block(OSM::kRelation, 1 + 10 * b, 3));
    return file;
}

// Runs read over a fresh input once per depth and expects the same from each.
TLines SameAtEveryDepth(const std::function<std::unique_ptr<TInput>()>& open,
                        const std::function<TLines(TInput&, CPBFReaderAdapter&)>& read)
{
    TLines first;
    for (uint32_t depth : kDepths) {
        std::unique_ptr<TInput> in = open();
        TLines got;
        try {
            CPBFReaderAdapter reader(in->adapter, depth);
            got = read(*in, reader);
        } catch (const CBadFile& e) {
            got.push_back("bad file at start: " + e.reason + " at " + std::to_string(in->adapter.BlobOffset()));
        }
        if (depth == 0)
            first = got;
        EXPECT_EQ(got, first) << "read ahead by " << depth;
    }
    EXPECT_FALSE(first.empty());
    return first;
}

auto Synthetic() { return std::make_unique<TInput>(SyntheticFile()); }
TLines ReadAll(TInput& in, CPBFReaderAdapter& reader) { return Read(in, reader); }

TEST(ReadAhead, SameEntitiesAsReadingInTurn)
{
    for (const char* file : {"monaco.osm.pbf", "liechtenstein.osm.pbf", "testadmins.osm.pbf", "malta.osm.pbf"}) {
        const TLines all = SameAtEveryDepth([file] { return std::make_unique<TInput>(file, true); }, ReadAll);
        EXPECT_EQ(all.back().find(" r"), all.back().find(" ")) << file << " ends in a relation: " << all.back();
    }
    EXPECT_EQ(SameAtEveryDepth(Synthetic, ReadAll).size(), 96u + 52u + 15u);
}

// The failure is met at the block where reading in turn meets it, after
// every entity before it, and the input names that blob.
TEST(ReadAhead, MalformedBlobMetAtItsPlace)
{
    const std::string good = SyntheticFile();
    const std::vector<test::TBlobSpan> spans = test::SplitBlobs(good);
    OSMPBF::PrimitiveBlock badString = Block(OSM::kWay, 1000, 3);
    badString.mutable_primitivegroup(0)->mutable_ways(2)->set_keys(0, 999);
    OSMPBF::Blob notZlib = test::MakeBlob("payload");
    notZlib.set_zlib_data("no zlib");
    const std::string cut = test::DataBlob(Block(OSM::kNode, 500, 3));
    for (const std::string& bad : {std::string("\0\1\0\0", 4), test::FrameBlob("OSMData", notZlib),
                                   test::FrameBlob("OSMData", test::MakeBlob("\xff\xff\xff")),
                                   test::DataBlob(badString), cut.substr(0, cut.size() - 3)}) {
        // Far enough into the file that the reading thread runs ahead to it.
        for (size_t at : {size_t(4), spans.size() / 2, spans.size()}) {
            const size_t offset = at < spans.size() ? spans[at].offset : good.size();
            const std::string bytes = good.substr(0, offset) + bad + good.substr(offset);
            const TLines got = SameAtEveryDepth([&] { return std::make_unique<TInput>(bytes); }, ReadAll);
            EXPECT_EQ(got.back().rfind("bad file: ", 0), 0u) << got.back();
            EXPECT_TRUE(got.back().ends_with(" at " + std::to_string(offset))) << got.back();
        }
    }
}

// Seeks drop what was read ahead: reading on from a seek gives what a
// reader made fresh there gives, whatever was read before it.
TEST(ReadAhead, SeeksMidStream)
{
    const auto seekAround = [](TInput& in, CPBFReaderAdapter& reader) {
        TLines got = Read(in, reader, 9);
        const auto append = [&got](const TLines& more) { got.insert(got.end(), more.begin(), more.end()); };
        const uint64_t size = reader.Size();
        for (OSM::EEntityType kind : {OSM::kRelation, OSM::kWay, OSM::kNode}) {
            const uint64_t offset = reader.FirstBlockOffset(kind).value_or(0);
            got.push_back("seek " + std::to_string(offset));
            EXPECT_TRUE(reader.Seek(offset));
            append(Read(in, reader, 20 + 30 * kind));
        }
        // Back to the start, twice in a row, then to the end.
        EXPECT_TRUE(reader.Seek(0));
        EXPECT_TRUE(reader.Seek(0));
        append(Read(in, reader));
        EXPECT_FALSE(reader.Seek(size));
        EXPECT_FALSE(reader.ReadNext());
        EXPECT_EQ(reader.Position(), size);
        // Beyond the end: the stream refuses, and so does every later read.
        EXPECT_THROW(reader.Seek(size + 1), TStreamException);
        EXPECT_THROW(reader.Seek(size + 1), TStreamException);
        EXPECT_TRUE(reader.Seek(0));
        EXPECT_TRUE(reader.ReadNext());
        got.push_back(Entity(reader));
        return got;
    };
    SameAtEveryDepth(Synthetic, seekAround);
    SameAtEveryDepth([] { return std::make_unique<TInput>("monaco.osm.pbf", true); }, seekAround);
}

// The blocks themselves, as the node reading of the automatic split takes
// them: the same blocks and offsets, and the end repeated once reached.
TEST(ReadAhead, BlocksAndOffsets)
{
    TLines first;
    for (uint32_t depth : kDepths) {
        TInput in(SyntheticFile());
        OSM::CReadAhead blocks(in.adapter, 0, depth);
        TLines got;
        while (const OSM::TDataBlock* data = blocks.Next()) {
            got.push_back(std::to_string(data->start) + " " + std::to_string(data->blobOffset) + " " +
                          std::to_string(data->end) + " " + std::to_string(data->block.ByteSizeLong()));
            EXPECT_EQ(blocks.Position(), data->end);
            EXPECT_EQ(in.adapter.BlobOffset(), data->blobOffset);
        }
        EXPECT_EQ(blocks.Next(), nullptr);
        EXPECT_EQ(blocks.Position(), in.memory.Size());
        if (depth == 0)
            first = got;
        EXPECT_EQ(got, first) << depth;
    }
    EXPECT_EQ(first.size(), 12u + 3u + 9u + 5u);  // the blocks without groups count too
}

}  // namespace
