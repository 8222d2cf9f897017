// Reading ahead on a thread changes nothing a reader's caller sees: the
// entities, the failures and where they are met, the positions, the seeks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/OSM/PBFReader.h"
#include "common/OSM/ReadAhead.h"
#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using CBadFile = OSM::CDataReader::CBadFileException;
using OSM::CPBFReaderAdapter;

constexpr uint32_t kDepths[] = {0, 1, OSM::kReadAheadBlocks};

// An input served from memory or from a file, its header checked.
struct TInput {
    explicit TInput(const std::string& bytes) : memory(bytes) { EXPECT_TRUE(adapter.Open(memory)); }
    explicit TInput(const char* file) : memory("")
    {
        EXPECT_TRUE(disk.Open(test::DataFile(file)));
        EXPECT_TRUE(adapter.Open(disk));
    }
    test::CMemoryReadStream memory;
    CFileReadStream disk{65536};
    CPBInputAdapter adapter;
};

// What the reader says of one entity, and where it stands in the file.
std::string Entity(CPBFReaderAdapter& reader)
{
    std::string s = std::to_string(reader.GetType()) + " " + std::to_string(reader.GetId()) + " @" +
                    std::to_string(reader.Position());
    const OSM::TEntity& e = *reader.GetEntity();
    s += " v" + std::to_string(e.info.version) + " " + e.info.user + " t" + std::to_string(e.info.timestamp);
    for (const OSM::TTag& tag : e.tags)
        s += " " + tag.key + "=" + tag.value;
    if (reader.GetType() == OSM::kNode)
        s += " " + std::to_string(reader.Node().position.Packed());
    else if (reader.GetType() == OSM::kWay)
        for (OSM::TId ref : reader.Way().nodeRefs)
            s += " " + std::to_string(ref);
    else
        for (const OSM::TMember& m : reader.Relation().members)
            s += " " + std::to_string(m.type) + ":" + std::to_string(m.ref) + ":" + m.role;
    return s;
}

// The entities read up to the end or to the first failure, whose reason
// and blob offset close the record. Every step entities, one is read again
// after StepBack.
std::vector<std::string> Read(CPBInputAdapter& adapter, CPBFReaderAdapter& reader, uint64_t limit = UINT64_MAX)
{
    std::vector<std::string> out;
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
        out.push_back("bad file: " + e.reason + " at " + std::to_string(adapter.BlobOffset()));
    }
    return out;
}

OSMPBF::PrimitiveBlock Nodes(int64_t first, int count)
{
    std::vector<test::TTestNode> nodes;
    for (int i = 0; i < count; ++i)
        nodes.push_back({first + i, 100 * i, -70 * i, {{"n", std::to_string(i)}}});
    OSMPBF::PrimitiveBlock block;
    test::AddDenseNodes(block, *block.add_primitivegroup(), nodes);
    return block;
}

OSMPBF::PrimitiveBlock Ways(int64_t first, int count)
{
    OSMPBF::PrimitiveBlock block;
    test::StringIndex(block, "");
    OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
    for (int i = 0; i < count; ++i) {
        OSMPBF::Way& way = *group.add_ways();
        way.set_id(first + i);
        way.add_keys(test::StringIndex(block, "highway"));
        way.add_vals(test::StringIndex(block, "road" + std::to_string(i % 3)));
        way.add_refs(i + 1);
        way.add_refs(1);
    }
    return block;
}

OSMPBF::PrimitiveBlock Relations(int64_t first, int count)
{
    OSMPBF::PrimitiveBlock block;
    test::StringIndex(block, "");
    OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
    for (int i = 0; i < count; ++i) {
        OSMPBF::Relation& relation = *group.add_relations();
        relation.set_id(first + i);
        relation.add_memids(first + i);
        relation.add_roles_sid(static_cast<int32_t>(test::StringIndex(block, "outer")));
        relation.add_types(OSMPBF::Relation::WAY);
    }
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
        file += (b % 4 == 1 ? other : b % 4 == 2 ? empty : "") + test::DataBlob(Nodes(1 + 10 * b, 7 + b % 3));
    for (int b = 0; b < 9; ++b)
        file += (b % 3 == 0 ? other : "") + test::DataBlob(Ways(1 + 10 * b, 4 + b % 5), test::ECompression::kRaw);
    for (int b = 0; b < 5; ++b)
        file += test::DataBlob(Relations(1 + 10 * b, 3));
    return file;
}

// Runs read over the input once per depth and expects the same from each.
std::vector<std::string> ExpectSameAtEveryDepth(
    const std::function<std::unique_ptr<TInput>()>& open,
    const std::function<std::vector<std::string>(TInput&, CPBFReaderAdapter&)>& read)
{
    std::vector<std::string> first;
    for (uint32_t depth : kDepths) {
        std::unique_ptr<TInput> in = open();
        std::vector<std::string> got;
        try {
            CPBFReaderAdapter reader(in->adapter, depth);
            got = read(*in, reader);
        } catch (const CBadFile& e) {
            got.push_back("bad file at start: " + e.reason + " at " + std::to_string(in->adapter.BlobOffset()));
        }
        if (depth == 0)
            first = got;
        else
            EXPECT_EQ(got, first) << "read ahead by " << depth;
    }
    EXPECT_FALSE(first.empty());
    return first;
}

TEST(ReadAhead, SameEntitiesAsReadingInTurn)
{
    const auto readAll = [](TInput& in, CPBFReaderAdapter& reader) { return Read(in.adapter, reader); };
    for (const char* file : {"monaco.osm.pbf", "liechtenstein.osm.pbf", "testadmins.osm.pbf", "malta.osm.pbf"}) {
        const std::vector<std::string> all =
            ExpectSameAtEveryDepth([file] { return std::make_unique<TInput>(file); }, readAll);
        EXPECT_EQ(all.back().rfind("2 ", 0), 0u) << file << " ends in a relation: " << all.back();
    }
    const std::vector<std::string> all =
        ExpectSameAtEveryDepth([] { return std::make_unique<TInput>(SyntheticFile()); }, readAll);
    EXPECT_EQ(all.size(), 96u + 52u + 15u);
}

// The failure is met at the block where reading in turn meets it, after
// every entity before it, and the input names that blob.
TEST(ReadAhead, MalformedBlobMetAtItsPlace)
{
    const std::string good = SyntheticFile();
    const std::vector<test::TBlobSpan> spans = test::SplitBlobs(good);
    OSMPBF::PrimitiveBlock badString = Ways(1000, 3);
    badString.mutable_primitivegroup(0)->mutable_ways(2)->set_keys(0, 999);
    const std::string cut = test::DataBlob(Nodes(500, 3));
    const struct {
        std::string name;
        std::string bad;
    } cases[] = {
        {"blob header too long", std::string("\0\1\0\0", 4)},
        {"not zlib", test::FrameBlob("OSMData", [] {
             OSMPBF::Blob blob = test::MakeBlob("payload");
             blob.set_zlib_data("no zlib");
             return blob;
         }())},
        {"no block", test::FrameBlob("OSMData", test::MakeBlob("\xff\xff\xff"))},
        {"string index", test::DataBlob(badString)},
        {"cut", cut.substr(0, cut.size() - 3)},
    };
    for (const auto& c : cases) {
        // Far enough into the file that the reading thread runs ahead to it.
        for (size_t at : {size_t(4), spans.size() / 2, spans.size()}) {
            const size_t badOffset = at < spans.size() ? spans[at].offset : good.size();
            const std::string bytes = good.substr(0, badOffset) + c.bad + good.substr(badOffset);
            const std::string where = " at " + std::to_string(badOffset);
            ExpectSameAtEveryDepth([&] { return std::make_unique<TInput>(bytes); },
                                   [&](TInput& in, CPBFReaderAdapter& reader) {
                                       std::vector<std::string> got = Read(in.adapter, reader);
                                       const std::string& last = got.back();
                                       EXPECT_EQ(last.rfind("bad file: ", 0), 0u) << c.name << " " << at;
                                       EXPECT_EQ(last.substr(last.size() - std::min(last.size(), where.size())),
                                                 where)
                                           << c.name << ": " << last;
                                       return got;
                                   });
        }
    }
}

// Seeks drop what was read ahead: reading on from a seek gives what a
// reader made fresh there gives, whatever was read before it.
TEST(ReadAhead, SeeksMidStream)
{
    const auto seekAround = [](TInput& in, CPBFReaderAdapter& reader) {
        std::vector<std::string> got = Read(in.adapter, reader, 9);
        const uint64_t size = reader.Size();
        for (OSM::EEntityType kind : {OSM::kRelation, OSM::kWay, OSM::kNode}) {
            const std::optional<uint64_t> offset = reader.FirstBlockOffset(kind);
            got.push_back("seek " + std::to_string(offset.value_or(0)));
            EXPECT_TRUE(reader.Seek(offset.value_or(0)));
            const std::vector<std::string> some = Read(in.adapter, reader, 20 + 30 * kind);
            got.insert(got.end(), some.begin(), some.end());
        }
        // Back to the start, twice in a row, then to the end.
        EXPECT_TRUE(reader.Seek(0));
        EXPECT_TRUE(reader.Seek(0));
        const std::vector<std::string> all = Read(in.adapter, reader);
        got.insert(got.end(), all.begin(), all.end());
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
    ExpectSameAtEveryDepth([] { return std::make_unique<TInput>(SyntheticFile()); }, seekAround);
    ExpectSameAtEveryDepth([] { return std::make_unique<TInput>("monaco.osm.pbf"); }, seekAround);
}

// The blocks themselves, as the node reading of the automatic split takes
// them: the same blocks and offsets, and the end repeated once reached.
TEST(ReadAhead, BlocksAndOffsets)
{
    std::vector<std::string> first;
    for (uint32_t depth : kDepths) {
        TInput in(SyntheticFile());
        OSM::CReadAhead blocks(in.adapter, 0, depth);
        std::vector<std::string> got;
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
        else
            EXPECT_EQ(got, first) << depth;
    }
    EXPECT_EQ(first.size(), 12u + 3u + 9u + 5u);  // the blocks without groups count too
}

}  // namespace
