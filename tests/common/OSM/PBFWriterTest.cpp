#include "common/OSM/PBFWriter.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/streams/FileStream.h"
#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

OSM::TNode Node(OSM::TId id, int32_t lon = 0, int32_t lat = 0)
{
    OSM::TNode node;
    node.id = id;
    node.info.version = 1;
    node.position = {lon, lat};
    return node;
}

OSM::TWay Way(OSM::TId id, std::vector<OSM::TId> refs = {})
{
    OSM::TWay way;
    way.id = id;
    way.info.version = 1;
    for (OSM::TId ref : refs)
        way.nodeRefs.PushBack(ref);
    return way;
}

std::vector<std::string> Strings(const OSMPBF::PrimitiveBlock& block)
{
    return {block.stringtable().s().begin(), block.stringtable().s().end()};
}

template <typename TField>
std::vector<int64_t> Values(const TField& field)
{
    return {field.begin(), field.end()};
}

// Writes into a fresh file and decodes what came out, checking the framing of
// every blob on the way.
class CPBFWriterTest : public ::testing::Test {
protected:
    std::string Path() const { return m_dir / "out.osm.pbf"; }

    void Open() { ASSERT_TRUE(m_writer.Open(Path())); }

    // The data blocks, once the file is closed; the header blob is checked.
    std::vector<OSMPBF::PrimitiveBlock> Blocks()
    {
        m_writer.Close();
        const std::string file = test::ReadFile(Path());
        std::vector<OSMPBF::PrimitiveBlock> blocks;
        std::vector<test::TBlobSpan> spans = test::SplitBlobs(file);
        EXPECT_FALSE(spans.empty());
        for (size_t i = 0; i < spans.size(); ++i) {
            std::string_view framed = std::string_view(file).substr(spans[i].offset, spans[i].size);
            std::string payload = Payload(framed);
            if (i == 0) {
                EXPECT_EQ(spans[i].type, "OSMHeader");
                OSMPBF::HeaderBlock header;
                EXPECT_TRUE(header.ParseFromString(payload));
                EXPECT_EQ(header.required_features_size(), 2);
                EXPECT_EQ(header.required_features(0), "OsmSchema-V0.6");
                EXPECT_EQ(header.required_features(1), "DenseNodes");
                EXPECT_EQ(header.writingprogram(), "Tovimar OSM splitter 1.09.48");
                EXPECT_FALSE(header.has_bbox());
                EXPECT_EQ(header.optional_features_size(), 1);
                for (const std::string& feature : header.optional_features())
                    EXPECT_EQ(feature, "Sort.Type_then_ID");
                EXPECT_FALSE(header.has_source());
                continue;
            }
            EXPECT_EQ(spans[i].type, "OSMData");
            blocks.emplace_back();
            EXPECT_TRUE(blocks.back().ParseFromString(payload));
            EXPECT_FALSE(blocks.back().has_granularity());
            EXPECT_FALSE(blocks.back().has_date_granularity());
            EXPECT_FALSE(blocks.back().has_lat_offset());
            EXPECT_FALSE(blocks.back().has_lon_offset());
        }
        return blocks;
    }

    // The payload of a framed blob: zlib data at the default level, whose
    // raw size is stated.
    static std::string Payload(std::string_view framed)
    {
        uint32_t headerSize = uint32_t(uint8_t(framed[0])) << 24 | uint32_t(uint8_t(framed[1])) << 16 |
                              uint32_t(uint8_t(framed[2])) << 8 | uint32_t(uint8_t(framed[3]));
        OSMPBF::BlobHeader header;
        EXPECT_TRUE(header.ParseFromArray(framed.data() + 4, int(headerSize)));
        EXPECT_FALSE(header.has_indexdata());
        OSMPBF::Blob blob;
        std::string_view body = framed.substr(4 + headerSize);
        EXPECT_EQ(body.size(), size_t(header.datasize()));
        EXPECT_TRUE(blob.ParseFromArray(body.data(), int(body.size())));
        EXPECT_FALSE(blob.has_raw());
        EXPECT_TRUE(blob.has_zlib_data());
        EXPECT_EQ(blob.zlib_data().substr(0, 2), "\x78\x9C");
        std::string payload = test::Inflate(blob.zlib_data());
        EXPECT_EQ(payload.size(), size_t(blob.raw_size()));
        return payload;
    }

    void WriteNodes(OSM::TId first, int count)
    {
        for (int i = 0; i < count; ++i)
            m_writer.WriteNode(Node(first + i));
    }

    test::CTempDir m_dir;
    OSM::CPBFWriter m_writer;
};

// The number of entities of each group of block, "d" dense, "w" ways, "r"
// relations.
std::string Groups(const OSMPBF::PrimitiveBlock& block)
{
    std::string text;
    for (const OSMPBF::PrimitiveGroup& group : block.primitivegroup()) {
        EXPECT_EQ(group.nodes_size(), 0);
        if (group.has_dense())
            text += "d" + std::to_string(group.dense().id_size());
        if (group.ways_size() != 0)
            text += "w" + std::to_string(group.ways_size());
        if (group.relations_size() != 0)
            text += "r" + std::to_string(group.relations_size());
        text += " ";
    }
    return text;
}

TEST_F(CPBFWriterTest, AnEmptyFileHoldsOnlyTheHeader)
{
    Open();
    EXPECT_TRUE(Blocks().empty());
}

TEST_F(CPBFWriterTest, DestructorCompletesAnUnclosedFile)
{
    {
        OSM::CPBFWriter writer;
        ASSERT_TRUE(writer.Open(Path()));
        writer.WriteNode(Node(1));
    }
    std::vector<test::TBlobSpan> spans = test::SplitBlobs(test::ReadFile(Path()));
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[1].type, "OSMData");
}

TEST_F(CPBFWriterTest, ReopenCompletesThePreviousFile)
{
    Open();
    m_writer.WriteNode(Node(1));
    const std::string second = m_dir / "second.osm.pbf";
    ASSERT_TRUE(m_writer.Open(second));
    EXPECT_EQ(test::SplitBlobs(test::ReadFile(Path())).size(), 2u);
    m_writer.Close();
    EXPECT_EQ(test::SplitBlobs(test::ReadFile(second)).size(), 1u);
}

TEST_F(CPBFWriterTest, OpenFailsForAMissingDirectory)
{
    EXPECT_FALSE(m_writer.Open(m_dir / "missing/out.osm.pbf"));
}

TEST_F(CPBFWriterTest, BlocksHoldExactly8000Entities)
{
    for (int count : {7999, 8000, 8001}) {
        SCOPED_TRACE(count);
        Open();
        WriteNodes(1, count);
        std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
        if (count == 8001) {
            ASSERT_EQ(blocks.size(), 2u);
            EXPECT_EQ(Groups(blocks[0]), "d8000 ");
            EXPECT_EQ(Groups(blocks[1]), "d1 ");
        } else {
            ASSERT_EQ(blocks.size(), 1u);
            EXPECT_EQ(Groups(blocks[0]), "d" + std::to_string(count) + " ");
        }
    }
}

TEST_F(CPBFWriterTest, BlocksCountEntitiesOfEveryKind)
{
    Open();
    WriteNodes(1, 8000);
    m_writer.WriteWay(Way(1));
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(Groups(blocks[0]), "d8000 ");
    EXPECT_EQ(Groups(blocks[1]), "w1 ");

    Open();
    WriteNodes(1, 3000);
    for (int i = 0; i < 3000; ++i)
        m_writer.WriteWay(Way(i));
    OSM::TRelation relation;
    for (int i = 0; i < 2001; ++i) {
        relation.id = i;
        m_writer.WriteRelation(relation);
    }
    blocks = Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(Groups(blocks[0]), "d3000 w3000 r2000 ");
    EXPECT_EQ(Groups(blocks[1]), "r1 ");
}

TEST_F(CPBFWriterTest, DenseNodesAreSortedByIdWaysKeepTheirOrder)
{
    Open();
    for (OSM::TId id : {5, 3, 4})
        m_writer.WriteNode(Node(id, int32_t(id) * 8388608, -int32_t(id) * 8388608));
    // Negative ids, of objects not uploaded yet, come first in a sorted file.
    for (OSM::TId id : {-2, -1})
        m_writer.WriteNode(Node(id, 0, 0));
    for (OSM::TId id : {9, 7, 8})
        m_writer.WriteWay(Way(id));
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(Groups(blocks[0]), "d5 w3 ");
    const OSMPBF::DenseNodes& dense = blocks[0].primitivegroup(0).dense();
    EXPECT_EQ(Values(dense.id()), (std::vector<int64_t>{-1, -1, 5, 1, 1}));
    EXPECT_EQ(Values(dense.lon()), (std::vector<int64_t>{0, 0, 30000000, 10000000, 10000000}));
    EXPECT_EQ(Values(dense.lat()), (std::vector<int64_t>{0, 0, -30000000, -10000000, -10000000}));
    const OSMPBF::PrimitiveGroup& ways = blocks[0].primitivegroup(1);
    EXPECT_EQ(ways.ways(0).id(), 9);
    EXPECT_EQ(ways.ways(1).id(), 7);
    EXPECT_EQ(ways.ways(2).id(), 8);
}

TEST_F(CPBFWriterTest, CoordinatesRoundHalfAwayFromZero)
{
    Open();
    m_writer.WriteNode(Node(1, 0x59FFFFFF, -1));
    m_writer.WriteNode(Node(2, INT32_MIN, 1));
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    const OSMPBF::DenseNodes& dense = blocks[0].primitivegroup(0).dense();
    // 2^31 units are 256 degrees.
    EXPECT_EQ(Values(dense.lon()), (std::vector<int64_t>{1799999999, -2560000000 - 1799999999}));
    EXPECT_EQ(Values(dense.lat()), (std::vector<int64_t>{-1, 2}));
}

TEST_F(CPBFWriterTest, DenseInfoIsDeltaCodedButVersions)
{
    Open();
    OSM::TNode node = Node(1);
    node.info = {7, 100, "alice", 50, 1999, 1};
    m_writer.WriteNode(node);
    node.id = 2;
    node.info = {7, 90, "bob", 55, 5000, 1};
    m_writer.WriteNode(node);
    node.id = 3;
    node.info = {2, 90, "alice", 55, -1999, 1};
    m_writer.WriteNode(node);
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(Strings(blocks[0]), (std::vector<std::string>{"", "alice", "bob"}));
    const OSMPBF::DenseInfo& info = blocks[0].primitivegroup(0).dense().denseinfo();
    EXPECT_EQ(Values(info.version()), (std::vector<int64_t>{7, 7, 2}));
    // Milliseconds are cut toward zero to seconds: 1999 ms is 1 s.
    EXPECT_EQ(Values(info.timestamp()), (std::vector<int64_t>{1, 4, -6}));
    EXPECT_EQ(Values(info.changeset()), (std::vector<int64_t>{50, 5, 0}));
    EXPECT_EQ(Values(info.uid()), (std::vector<int64_t>{100, -10, 0}));
    EXPECT_EQ(Values(info.user_sid()), (std::vector<int64_t>{1, 1, -1}));
    EXPECT_EQ(info.visible_size(), 0);
}

TEST_F(CPBFWriterTest, KeysValsStartAtTheFirstTaggedNode)
{
    Open();
    WriteNodes(1, 2);
    OSM::TNode tagged = Node(3);
    tagged.AddTag("b", "y");
    tagged.AddTag("a", "x");
    m_writer.WriteNode(tagged);
    m_writer.WriteNode(Node(4));
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    // "", then the user name "" and the tag strings in byte order.
    EXPECT_EQ(Strings(blocks[0]), (std::vector<std::string>{"", "", "a", "b", "x", "y"}));
    EXPECT_EQ(Values(blocks[0].primitivegroup(0).dense().keys_vals()),
              (std::vector<int64_t>{0, 0, 3, 5, 2, 4, 0, 0}));
}

TEST_F(CPBFWriterTest, UntaggedNodesHaveNoKeysVals)
{
    Open();
    WriteNodes(1, 3);
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].primitivegroup(0).dense().keys_vals_size(), 0);
}

TEST_F(CPBFWriterTest, StringsAreSortedByteForByte)
{
    Open();
    OSM::TNode node = Node(1);
    node.AddTag("name", "Main Street");
    node.AddTag("Name", "MAIN STREET");
    node.AddTag("name", "main street");
    node.AddTag("b", "B");
    m_writer.WriteNode(node);
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(Strings(blocks[0]), (std::vector<std::string>{"", "", "B", "MAIN STREET", "Main Street", "Name", "b",
                                                            "main street", "name"}));
    EXPECT_EQ(Values(blocks[0].primitivegroup(0).dense().keys_vals()),
              (std::vector<int64_t>{8, 4, 5, 3, 8, 7, 6, 2, 0}));
}

TEST_F(CPBFWriterTest, TheMostUsedStringsTakeTheOneByteIndices)
{
    // 124 values used twice, the key and the empty user name used by every
    // node, and 100 values used once: the "c" values sort before the "h"
    // ones, yet come after them.
    auto value = [](char prefix, int i) {
        char text[8];
        std::snprintf(text, sizeof text, "%c%03d", prefix, i);
        return std::string(text);
    };
    Open();
    OSM::TId id = 1;
    for (int i = 0; i < 124; ++i)
        for (int twice = 0; twice < 2; ++twice) {
            OSM::TNode node = Node(id++);
            node.AddTag("k", value('h', i));
            m_writer.WriteNode(node);
        }
    for (int i = 0; i < 100; ++i) {
        OSM::TNode node = Node(id++);
        node.AddTag("k", value('c', i));
        m_writer.WriteNode(node);
    }
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    std::vector<std::string> expected = {"", ""};
    for (int i = 0; i < 124; ++i)
        expected.push_back(value('h', i));
    expected.push_back("k");
    for (int i = 0; i < 100; ++i)
        expected.push_back(value('c', i));
    EXPECT_EQ(Strings(blocks[0]), expected);
}

TEST_F(CPBFWriterTest, WaysAndRelationsCarryFullInfo)
{
    Open();
    OSM::TWay way = Way(10, {5, 3, 8});
    way.info = {-1, 0, "", 0, 0, 0};
    way.AddTag("highway", "track");
    m_writer.WriteWay(way);
    OSM::TRelation relation;
    relation.id = 11;
    relation.info = {3, 4, "u", 5, 6999, 1};
    relation.members.PushBack({OSM::kWay, 10, "outer"});
    relation.members.PushBack({OSM::kNode, 5, ""});
    relation.members.PushBack({OSM::kRelation, 12, "subarea"});
    relation.AddTag("type", "multipolygon");
    m_writer.WriteRelation(relation);
    std::vector<OSMPBF::PrimitiveBlock> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(Groups(blocks[0]), "w1 r1 ");
    std::vector<std::string> strings = Strings(blocks[0]);
    EXPECT_EQ(strings, (std::vector<std::string>{"", "", "highway", "multipolygon", "outer", "subarea", "track",
                                                 "type", "u"}));

    const OSMPBF::Way& w = blocks[0].primitivegroup(0).ways(0);
    EXPECT_EQ(w.id(), 10);
    EXPECT_EQ(Values(w.keys()), (std::vector<int64_t>{2}));
    EXPECT_EQ(Values(w.vals()), (std::vector<int64_t>{6}));
    EXPECT_EQ(Values(w.refs()), (std::vector<int64_t>{5, -2, 5}));
    ASSERT_TRUE(w.has_info());
    EXPECT_TRUE(w.info().has_version() && w.info().has_timestamp() && w.info().has_changeset() &&
                w.info().has_uid() && w.info().has_user_sid());
    EXPECT_FALSE(w.info().has_visible());
    EXPECT_EQ(w.info().version(), -1);
    EXPECT_EQ(w.info().user_sid(), 1u);

    const OSMPBF::Relation& r = blocks[0].primitivegroup(1).relations(0);
    EXPECT_EQ(r.id(), 11);
    EXPECT_EQ(Values(r.keys()), (std::vector<int64_t>{7}));
    EXPECT_EQ(Values(r.vals()), (std::vector<int64_t>{3}));
    EXPECT_EQ(Values(r.roles_sid()), (std::vector<int64_t>{4, 1, 5}));
    EXPECT_EQ(Values(r.memids()), (std::vector<int64_t>{10, -5, 7}));
    EXPECT_EQ(Values(r.types()), (std::vector<int64_t>{1, 0, 2}));
    EXPECT_EQ(r.info().version(), 3);
    EXPECT_EQ(r.info().uid(), 4);
    EXPECT_EQ(r.info().changeset(), 5);
    EXPECT_EQ(r.info().timestamp(), 6);
    EXPECT_EQ(strings[r.info().user_sid()], "u");
    EXPECT_FALSE(r.info().has_visible());
}

// Reads the file at path back and returns what line(reader) makes of each
// entity, joined.
template <class FLine>
std::string ReadEach(const std::string& path, FLine line)
{
    CFileReadStream stream(65536);
    EXPECT_TRUE(stream.Open(path));
    CPBInputAdapter source;
    EXPECT_TRUE(source.Open(stream));
    OSM::CPBFReaderAdapter reader(source);
    std::string out;
    while (reader.ReadNext())
        out += line(reader);
    return out;
}

// Every entity as the reader gives it back, one line each.
std::string ReadBack(const std::string& path)
{
    return ReadEach(path, [](OSM::CPBFReaderAdapter& reader) {
        std::string out;
        const OSM::TEntity& e = *reader.GetEntity();
        out += std::to_string(reader.GetType()) + " " + std::to_string(e.id) + " v" + std::to_string(e.info.version) +
               " u" + std::to_string(e.info.uid) + ":" + e.info.user + " c" + std::to_string(e.info.changeset) +
               " t" + std::to_string(e.info.timestamp);
        for (const OSM::TTag& tag : e.tags)
            out += " " + tag.key + "=" + tag.value;
        if (reader.GetType() == OSM::kNode) {
            out += " @" + std::to_string(reader.Node().position.x) + "," + std::to_string(reader.Node().position.y);
        } else if (reader.GetType() == OSM::kWay) {
            for (OSM::TId ref : reader.Way().nodeRefs)
                out += " " + std::to_string(ref);
        } else {
            for (const OSM::TMember& m : reader.Relation().members)
                out += " " + std::to_string(m.type) + ":" + std::to_string(m.ref) + "@" + m.role;
        }
        return out + "\n";
    });
}

TEST_F(CPBFWriterTest, LetterCaseSurvivesARoundTrip)
{
    Open();
    OSM::TNode node = Node(1, 0x59FFFFFF, -1);
    node.AddTag("name", "Main Street");
    node.AddTag("Name", "MAIN STREET");
    m_writer.WriteNode(node);
    OSM::TWay way = Way(2, {1});
    way.info.user = "Alice";
    way.AddTag("NAME", "main street");
    m_writer.WriteWay(way);
    OSM::TRelation relation;
    relation.id = 3;
    relation.info.user = "alice";
    relation.members.PushBack({OSM::kWay, 2, "Outer"});
    relation.members.PushBack({OSM::kNode, 1, "outer"});
    m_writer.WriteRelation(relation);
    m_writer.Close();
    EXPECT_EQ(ReadBack(Path()), "0 1 v1 u0: c0 t0 name=Main Street Name=MAIN STREET @1509949439,-1\n"
                                "1 2 v1 u0:Alice c0 t0 NAME=main street 1\n"
                                "2 3 v0 u0:alice c0 t0 1:2@Outer 0:1@outer\n");
}

// Readers refuse them; the input they come from is damaged.
TEST_F(CPBFWriterTest, MetadataOutsideTheFormatIsWrittenAsAbsent)
{
    Open();
    for (OSM::TId id : {1, 2}) {
        OSM::TNode node = Node(id);
        node.info = {id == 1 ? -5 : INT32_MIN, id == 1 ? -3 : INT32_MIN, "u", id == 1 ? -1 : INT64_MIN, 0, 1};
        m_writer.WriteNode(node);
    }
    m_writer.WriteNode(Node(3));  // the deltas from absent values are right
    OSM::TWay way = Way(4, {1});
    way.info = {-2, -1, "", int64_t(UINT32_MAX) + 1, 0, 1};
    m_writer.WriteWay(way);
    OSM::TRelation relation;
    relation.id = 5;
    relation.info = {-1, INT32_MIN, "", -7, 0, 1};
    m_writer.WriteRelation(relation);
    m_writer.Close();
    EXPECT_EQ(ReadBack(Path()), "0 1 v-1 u0:u c0 t0 @0,0\n"
                                "0 2 v-1 u0:u c0 t0 @0,0\n"
                                "0 3 v1 u0: c0 t0 @0,0\n"
                                "1 4 v-1 u0: c0 t0 1\n"
                                "2 5 v-1 u0: c0 t0\n");
    const std::string command = "osmium fileinfo -e " + Path() + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// Refs that jump far take nine or ten bytes each.
OSM::TWay FarJumpingWay(OSM::TId id, int refs)
{
    OSM::TWay way = Way(id);
    for (int i = 0; i < refs; ++i)
        way.nodeRefs.PushBack(i % 2 ? int64_t(1) << 62 : 0);
    return way;
}

// The ways of a file with their ref counts, one "id:count" each.
std::string WayRefCounts(const std::string& path)
{
    return ReadEach(path, [](OSM::CPBFReaderAdapter& reader) {
        return std::to_string(reader.GetId()) + ":" + std::to_string(reader.Way().nodeRefs.Count()) + " ";
    });
}

TEST_F(CPBFWriterTest, BlocksStayWithinTheRecommendedSize)
{
    // 2000 ways of 2000 such refs take 38 MB: one block would be unreadable.
    Open();
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        m_writer.WriteWay(FarJumpingWay(i, 2000));
        expected += std::to_string(i) + ":2000 ";
    }
    m_writer.Close();
    const std::string file = test::ReadFile(Path());
    std::vector<test::TBlobSpan> spans = test::SplitBlobs(file);
    ASSERT_EQ(spans.size(), 4u);
    for (const test::TBlobSpan& span : spans)
        EXPECT_LE(Payload(std::string_view(file).substr(span.offset, span.size)).size(), OSM::CPBFWriter::kBlockBytes);
    EXPECT_EQ(WayRefCounts(Path()), expected);
    const std::string command = "osmium fileinfo -e " + Path() + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(CPBFWriterTest, AnEntityTooLargeForAnyBlockIsRefused)
{
    Open();
    m_writer.WriteWay(FarJumpingWay(1, 3));
    m_writer.WriteWay(FarJumpingWay(2, 1 << 20));  // 10 MB, written before the next
    const std::string printed = test::CaptureStdout([&] {
        try {
            m_writer.WriteWay(FarJumpingWay(3, 3600000));
            FAIL() << "a way of 34 MB was written";
        } catch (const TStreamException& e) {
            EXPECT_EQ(e.code, TStreamException::kWrite);
        }
    });
    EXPECT_NE(printed.find(Path() + ": way 3 takes 3"), std::string::npos) << printed;
    EXPECT_NE(printed.find(" bytes, more than a PBF block may hold\n"), std::string::npos) << printed;
    m_writer.Close();  // the refused way is gone
    EXPECT_EQ(WayRefCounts(Path()), "1:3 2:1048576 ");
    EXPECT_EQ(test::SplitBlobs(test::ReadFile(Path())).size(), 2u);
}

// Many blocks of varied entities, so that every reused buffer is refilled.
void WriteManyBlocks(OSM::CDataWriter& writer, std::string& expected)
{
    for (int i = 0; i < 20000; ++i) {
        OSM::TNode node = Node(2 * i + 1, i * 977 - 5000000, 3000000 - i * 311);
        node.info = {i % 5, i % 13, "user" + std::to_string(i % 300), 1000 + i / 7, 1300000000000LL + i * 1000LL, 1};
        if (i % 3 == 0)
            node.AddTag("name", "N" + std::to_string(i));
        writer.WriteNode(node);
        expected += "0 " + std::to_string(node.id) + " v" + std::to_string(node.info.version) + " u" +
                    std::to_string(node.info.uid) + ":" + node.info.user + " c" + std::to_string(node.info.changeset) +
                    " t" + std::to_string(node.info.timestamp) + (i % 3 == 0 ? " name=N" + std::to_string(i) : "") +
                    " @" + std::to_string(node.position.x) + "," + std::to_string(node.position.y) + "\n";
    }
    for (int i = 0; i < 9000; ++i) {
        OSM::TWay way = Way(i + 1, {2 * i + 1, 2 * i + 3, 1});
        way.AddTag("highway", i % 2 ? "primary" : "Primary");
        writer.WriteWay(way);
        expected += "1 " + std::to_string(i + 1) + " v1 u0: c0 t0 highway=" + (i % 2 ? "primary" : "Primary") + " " +
                    std::to_string(2 * i + 1) + " " + std::to_string(2 * i + 3) + " 1\n";
    }
}

TEST_F(CPBFWriterTest, ManyBlocksReadBackUnchanged)
{
    Open();
    std::string expected;
    WriteManyBlocks(m_writer, expected);
    m_writer.Close();
    EXPECT_EQ(ReadBack(Path()), expected);
    EXPECT_EQ(test::SplitBlobs(test::ReadFile(Path())).size(), 5u);
}

TEST_F(CPBFWriterTest, OsmiumReadsTheFile)
{
    Open();
    std::string expected;
    WriteManyBlocks(m_writer, expected);
    m_writer.Close();
    const std::string command = "osmium fileinfo -e " + Path() + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(CPBFWriterTest, CloseOnAFullDeviceThrows)
{
    ASSERT_TRUE(m_writer.Open("/dev/full"));
    WriteNodes(1, 10);
    try {
        m_writer.Close();
        FAIL() << "Close succeeded on /dev/full";
    } catch (const TStreamException& e) {
        EXPECT_EQ(e.code, TStreamException::kWrite);
    }
    m_writer.Close();  // already closed: nothing left to fail
}

TEST_F(CPBFWriterTest, InterleavedWritersWriteWhatOneWritesAlone)
{
    // Blocks of all writers share one background worker; each file must come
    // out as if its writer had been the only one.
    Open();
    std::string expected;
    WriteManyBlocks(m_writer, expected);
    m_writer.Close();
    const std::string alone = test::ReadFile(Path());

    constexpr int kWriters = 12;
    std::vector<std::unique_ptr<OSM::CPBFWriter>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(std::make_unique<OSM::CPBFWriter>());
        ASSERT_TRUE(writers.back()->Open(m_dir / ("w" + std::to_string(w) + ".osm.pbf")));
    }
    // The same entities to every writer, one entity each in turn.
    class CFanOut : public OSM::CDataWriter {
    public:
        explicit CFanOut(std::vector<std::unique_ptr<OSM::CPBFWriter>>& to) : m_to(to) {}
        void WriteNode(const OSM::TNode& n) override { for (auto& w : m_to) w->WriteNode(n); }
        void WriteWay(const OSM::TWay& w) override { for (auto& to : m_to) to->WriteWay(w); }
        void WriteRelation(const OSM::TRelation& r) override { for (auto& w : m_to) w->WriteRelation(r); }

    private:
        std::vector<std::unique_ptr<OSM::CPBFWriter>>& m_to;
    };
    CFanOut fanOut(writers);
    std::string same;
    WriteManyBlocks(fanOut, same);
    for (int w = 0; w < kWriters; ++w) {
        writers[w]->Close();
        EXPECT_EQ(test::ReadFile(m_dir / ("w" + std::to_string(w) + ".osm.pbf")), alone) << "writer " << w;
    }
}

TEST_F(CPBFWriterTest, AFailedBlockWriteIsReportedAndTheFileClosed)
{
    // The blocks reach /dev/full on the worker; the failure surfaces at the
    // next block or at the close, never later and never twice.
    ASSERT_TRUE(m_writer.Open("/dev/full"));
    int failures = 0;
    try {
        std::string expected;
        WriteManyBlocks(m_writer, expected);
    } catch (const TStreamException& e) {
        EXPECT_EQ(e.code, TStreamException::kWrite);
        ++failures;
    }
    try {
        m_writer.Close();
    } catch (const TStreamException& e) {
        EXPECT_EQ(e.code, TStreamException::kWrite);
        ++failures;
    }
    EXPECT_GE(failures, 1);
    EXPECT_NO_THROW(m_writer.Close());
    ASSERT_TRUE(m_writer.Open(Path()));  // the writer is usable again
    WriteNodes(1, 10);
    m_writer.Close();
    EXPECT_EQ(test::SplitBlobs(test::ReadFile(Path())).size(), 2u);
}

TEST_F(CPBFWriterTest, DestructorSwallowsAFailure)
{
    auto writer = std::make_unique<OSM::CPBFWriter>();
    ASSERT_TRUE(writer->Open("/dev/full"));
    for (OSM::TId id = 1; id <= 10; ++id)
        writer->WriteNode(Node(id));
    EXPECT_NO_THROW(writer.reset());
}

}  // namespace
