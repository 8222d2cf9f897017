#include "common/OSM/PBFReader.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "common/OSM/PBInputAdapter.h"
#include "common/streams/FileStream.h"
#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using CBadFile = OSM::CDataReader::CBadFileException;
using OSM::CPBFReaderAdapter;
using test::TTestNode;

// A synthetic file served from memory, its header already checked.
struct TInput {
    explicit TInput(std::string bytes) : stream(std::move(bytes)) {}
    bool Open() { return adapter.Open(stream); }

    test::CMemoryReadStream stream;
    CPBInputAdapter adapter;
};

std::string File(const std::vector<std::string>& dataBlobs)
{
    std::string bytes = test::HeaderBlob();
    for (const std::string& blob : dataBlobs)
        bytes += blob;
    return bytes;
}

std::string Text(const OSM::TEntity& e)
{
    std::string s = std::to_string(e.id) + " v" + std::to_string(e.info.version) + " u" +
                    std::to_string(e.info.uid) + ":" + e.info.user + " c" + std::to_string(e.info.changeset) +
                    " t" + std::to_string(e.info.timestamp) + " vis" + std::to_string(e.info.visible);
    for (const OSM::TTag& tag : e.tags)
        s += " " + tag.key + "=" + tag.value;
    return s;
}

// One line per entity, with everything the records hold.
std::string Describe(OSM::CDataReader& reader)
{
    std::string out;
    while (reader.ReadNext()) {
        EXPECT_TRUE(reader.IsValid());
        switch (reader.GetType()) {
        case OSM::kNode: {
            const OSM::TNode& n = reader.Node();
            out += "n " + Text(n) + " @" + std::to_string(n.position.x) + "," + std::to_string(n.position.y);
            break;
        }
        case OSM::kWay: {
            const OSM::TWay& w = reader.Way();
            out += "w " + Text(w) + " [";
            for (OSM::TId ref : w.nodeRefs)
                out += " " + std::to_string(ref);
            out += " ]";
            break;
        }
        case OSM::kRelation: {
            const OSM::TRelation& r = reader.Relation();
            out += "r " + Text(r) + " [";
            for (const OSM::TMember& m : r.members)
                out += " " + std::to_string(m.type) + ":" + std::to_string(m.ref) + "@" + m.role;
            out += " ]";
            break;
        }
        }
        EXPECT_EQ(reader.GetId(), reader.GetEntity()->id);
        out += "\n";
    }
    EXPECT_FALSE(reader.IsValid());
    return out;
}

std::string DescribeFile(const std::string& bytes)
{
    TInput in(bytes);
    EXPECT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);
    return Describe(reader);
}

OSMPBF::PrimitiveBlock DenseBlock(const std::vector<TTestNode>& nodes)
{
    OSMPBF::PrimitiveBlock block;
    test::AddDenseNodes(block, *block.add_primitivegroup(), nodes);
    return block;
}

OSMPBF::PrimitiveBlock WayBlock(int64_t id, const std::vector<int64_t>& refs)
{
    OSMPBF::PrimitiveBlock block;
    OSMPBF::Way& way = *block.add_primitivegroup()->add_ways();
    way.set_id(id);
    int64_t last = 0;
    for (int64_t ref : refs) {
        way.add_refs(ref - last);
        last = ref;
    }
    test::StringIndex(block, "");
    return block;
}

OSMPBF::PrimitiveBlock RelationBlock(int64_t id)
{
    OSMPBF::PrimitiveBlock block;
    OSMPBF::Relation& relation = *block.add_primitivegroup()->add_relations();
    relation.set_id(id);
    relation.add_memids(7);
    relation.add_roles_sid(static_cast<int32_t>(test::StringIndex(block, "outer")));
    relation.add_types(OSMPBF::Relation::WAY);
    return block;
}

// ---------------------------------------------------------------------------
// The real extracts against an independent reader.

std::map<std::string, int64_t> Reference(const std::string& path)
{
    std::string command = "/usr/bin/python3 '" PBF_REFERENCE_SCRIPT "' '" + path + "'";
    std::map<std::string, int64_t> figures;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return figures;
    char name[64];
    unsigned long long value;
    while (std::fscanf(pipe, "%63s %llu", name, &value) == 2)
        figures[name] = static_cast<int64_t>(value);
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return figures;
}

constexpr char kSep = '\x1f';

std::string CanonicalHead(char kind, const OSM::TEntity& e)
{
    std::string s = std::string(1, kind) + kSep + std::to_string(e.id) + kSep + std::to_string(e.info.version) +
                    kSep + std::to_string(e.info.timestamp / 1000) + kSep + std::to_string(e.info.changeset) +
                    kSep + std::to_string(e.info.uid) + kSep + e.info.user;
    for (const OSM::TTag& tag : e.tags)
        s += kSep + tag.key + "=" + tag.value;
    return s;
}

uint64_t Crc(const std::string& s) { return crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())); }

class RealFile : public testing::TestWithParam<const char*> {};

TEST_P(RealFile, MatchesIndependentReader)
{
    const std::string path = test::DataFile(GetParam());
    std::map<std::string, int64_t> want = Reference(path);
    ASSERT_EQ(want.size(), 12u) << "the reference script failed";

    CFileReadStream stream(65536);
    ASSERT_TRUE(stream.Open(path));
    CPBInputAdapter adapter;
    ASSERT_TRUE(adapter.Open(stream));
    CPBFReaderAdapter reader(adapter);

    std::map<std::string, int64_t> got;
    uint64_t idSum = 0, digest = 0;
    CGeoRect box;
    const char kinds[] = "nwr";
    while (reader.ReadNext()) {
        OSM::TEntity& e = *reader.GetEntity();
        got["tags"] += int64_t(e.tags.Count());
        std::string text = CanonicalHead(kinds[reader.GetType()], e);
        if (reader.GetType() == OSM::kNode) {
            const CGeoPoint p = reader.Node().position;
            ++got["nodes"];
            idSum += uint64_t(e.id);
            if (box.IsEmpty())
                box = CGeoRect::OfPoint(p);
            box = {std::min(box.west, p.x), std::max(box.east, p.x), std::min(box.south, p.y),
                   std::max(box.north, p.y)};
            text += kSep + std::to_string(p.x) + kSep + std::to_string(p.y);
        } else if (reader.GetType() == OSM::kWay) {
            ++got["ways"];
            got["refs"] += int64_t(reader.Way().nodeRefs.Count());
            for (OSM::TId ref : reader.Way().nodeRefs)
                text += kSep + std::to_string(ref);
        } else {
            ++got["relations"];
            got["members"] += int64_t(reader.Relation().members.Count());
            for (const OSM::TMember& m : reader.Relation().members)
                text += kSep + std::string(1, kinds[m.type]) + std::to_string(m.ref) + "@" + m.role;
        }
        digest += Crc(text);
    }
    EXPECT_EQ(stream.Remaining(), 0u);
    got["node_id_sum"] = int64_t(idSum);
    got["digest"] = int64_t(digest);
    got["min_x"] = box.west;
    got["max_x"] = box.east;
    got["min_y"] = box.south;
    got["max_y"] = box.north;
    for (const auto& [name, value] : want)
        EXPECT_EQ(got[name], value) << name;
}

INSTANTIATE_TEST_SUITE_P(Data, RealFile,
                         testing::Values("monaco.osm.pbf", "liechtenstein.osm.pbf", "malta.osm.pbf",
                                         "testadmins.osm.pbf"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

TEST(PBFReader, RereadsFromFirstBlockOffsets)
{
    CFileReadStream stream(65536);
    ASSERT_TRUE(stream.Open(test::DataFile("monaco.osm.pbf")));
    CPBInputAdapter adapter;
    ASSERT_TRUE(adapter.Open(stream));
    CPBFReaderAdapter reader(adapter);
    const std::string all = Describe(reader);
    const auto nodes = reader.FirstBlockOffset(OSM::kNode);
    const auto ways = reader.FirstBlockOffset(OSM::kWay);
    const auto relations = reader.FirstBlockOffset(OSM::kRelation);
    ASSERT_TRUE(nodes && ways && relations);
    EXPECT_LT(*nodes, *ways);
    EXPECT_LT(*ways, *relations);

    // The reset the pipeline uses: back to the start, over the header blob.
    ASSERT_TRUE(reader.Seek(0));
    EXPECT_EQ(Describe(reader), all);
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kWay), ways);

    ASSERT_TRUE(reader.Seek(*ways));
    const std::string fromWays = Describe(reader);
    EXPECT_EQ(fromWays, all.substr(all.find("\nw ") + 1));

    ASSERT_TRUE(reader.Seek(*relations));
    EXPECT_EQ(Describe(reader), all.substr(all.find("\nr ") + 1));
}

TEST(PBFReader, AppendPositionsMatchesTheReader)
{
    CFileReadStream stream(65536);
    ASSERT_TRUE(stream.Open(test::DataFile("monaco.osm.pbf")));
    CPBInputAdapter adapter;
    ASSERT_TRUE(adapter.Open(stream));

    CGrowArray<CGeoPoint> points;
    OSMPBF::PrimitiveBlock block;
    bool error;
    while (adapter.ReadBlob(error)) {
        if (adapter.BlobType() != "OSMData")
            continue;
        OSM::ParsePrimitiveBlock(adapter.Payload(), block);
        for (const OSMPBF::PrimitiveGroup& group : block.primitivegroup())
            OSM::AppendPositions(block, group, points);
    }
    EXPECT_FALSE(error);

    stream.Seek(0);
    ASSERT_TRUE(adapter.ReadBlob(error));
    CPBFReaderAdapter reader(adapter);
    uint64_t i = 0;
    while (reader.ReadNext() && reader.GetType() == OSM::kNode) {
        ASSERT_LT(i, points.Count());
        ASSERT_EQ(reader.Node().position, points[i]) << "node " << reader.GetId();
        ++i;
    }
    EXPECT_EQ(i, points.Count());
}

// ---------------------------------------------------------------------------
// Decoding rules on synthetic blocks.

TEST(PBFReader, DeliversDenseNodesBeforePlainOnes)
{
    OSMPBF::PrimitiveBlock block = DenseBlock({{5, 10, 20, {{"a", "b"}}}, {9, 11, 21, {}}});
    OSMPBF::Node& plain = *block.mutable_primitivegroup(0)->add_nodes();
    plain.set_id(3);
    plain.set_lat(30);
    plain.set_lon(40);
    plain.add_keys(test::StringIndex(block, "k"));
    plain.add_vals(test::StringIndex(block, "v"));

    TInput in(File({test::DataBlob(block)}));
    ASSERT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 5);
    ASSERT_EQ(reader.Node().tags.Count(), 1u);
    EXPECT_EQ(reader.Node().tags[0].key, "a");
    EXPECT_EQ(reader.Node().info.version, 0);  // dense, no denseinfo
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 9);
    EXPECT_TRUE(reader.Node().tags.Empty());
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetType(), OSM::kNode);
    EXPECT_EQ(reader.GetId(), 3);
    EXPECT_EQ(reader.Node().info.version, -1);  // plain, no info
    ASSERT_EQ(reader.Node().tags.Count(), 1u);
    EXPECT_EQ(reader.Node().tags[0].value, "v");
    EXPECT_FALSE(reader.ReadNext());
}

TEST(PBFReader, DecodesWaysRelationsAndInfo)
{
    OSMPBF::PrimitiveBlock block;
    block.set_date_granularity(500);
    test::StringIndex(block, "");
    OSMPBF::PrimitiveGroup& ways = *block.add_primitivegroup();
    OSMPBF::Way& way = *ways.add_ways();
    way.set_id(100);
    for (int64_t delta : {10, 5, -3})
        way.add_refs(delta);
    way.add_keys(test::StringIndex(block, "highway"));
    way.add_vals(test::StringIndex(block, "residential"));
    OSMPBF::Info& info = *way.mutable_info();
    info.set_version(4);
    info.set_uid(77);
    info.set_user_sid(test::StringIndex(block, "mapper"));
    info.set_changeset(123456789012);
    info.set_timestamp(2000);
    info.set_visible(true);
    ways.add_ways()->set_id(101);  // no info, no refs

    OSMPBF::Relation& relation = *block.add_primitivegroup()->add_relations();
    relation.set_id(200);
    for (auto [id, role, type] : {std::tuple{100, "outer", OSMPBF::Relation::WAY},
                                  std::tuple{40, "", OSMPBF::Relation::NODE},
                                  std::tuple{200, "sub", OSMPBF::Relation::RELATION}}) {
        relation.add_memids(id);
        relation.add_roles_sid(static_cast<int32_t>(test::StringIndex(block, role)));
        relation.add_types(type);
    }

    EXPECT_EQ(DescribeFile(File({test::DataBlob(block)})),
              "w 100 v4 u77:mapper c123456789012 t1000000 vis1 highway=residential [ 10 15 12 ]\n"
              "w 101 v-1 u0: c0 t0 vis0 [ ]\n"
              "r 200 v-1 u0: c0 t0 vis0 [ 1:100@outer 0:140@ 2:340@sub ]\n");
}

TEST(PBFReader, AppliesGranularityAndOffsets)
{
    OSMPBF::PrimitiveBlock block = DenseBlock({{1, 51234567, -1234567, {}}, {2, -7654321, 7654321, {}}});
    block.set_granularity(1000);
    block.set_lat_offset(123456789);
    block.set_lon_offset(-987654321);
    OSMPBF::Node& plain = *block.mutable_primitivegroup(0)->add_nodes();
    plain.set_id(3);
    plain.set_lat(42424242);
    plain.set_lon(-3131313);

    auto expect = [](int64_t offset, int64_t value) {
        return MapUnits::FromDegrees(1e-9 * double(offset + 1000 * value));
    };
    TInput in(File({test::DataBlob(block)}));
    ASSERT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);
    for (auto [lat, lon] : {std::pair{51234567, -1234567}, {-7654321, 7654321}, {42424242, -3131313}}) {
        ASSERT_TRUE(reader.ReadNext());
        EXPECT_EQ(reader.Node().position.y, expect(123456789, lat));
        EXPECT_EQ(reader.Node().position.x, expect(-987654321, lon));
    }
}

TEST(PBFReader, ClampsPlus180Longitude)
{
    OSMPBF::PrimitiveBlock block =
        DenseBlock({{1, 900000000, 1800000000, {}}, {2, -900000000, -1800000000, {}}});
    OSMPBF::Node& plain = *block.mutable_primitivegroup(0)->add_nodes();
    plain.set_id(3);
    plain.set_lat(0);
    plain.set_lon(1800000000);

    TInput in(File({test::DataBlob(block)}));
    ASSERT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.Node().position.x, 0x59FFFFFF);
    EXPECT_EQ(reader.Node().position.y, MapUnits::k90);  // latitude is never clamped
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.Node().position.x, -MapUnits::k180);
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.Node().position.x, 0x59FFFFFF);
}

TEST(PBFReader, DenseInfoShorterThanIds)
{
    OSMPBF::PrimitiveBlock block = DenseBlock({{1, 0, 0, {}}, {2, 0, 0, {}}, {3, 0, 0, {}}});
    OSMPBF::DenseInfo& info = *block.mutable_primitivegroup(0)->mutable_dense()->mutable_denseinfo();
    info.add_version(3);
    info.add_version(4);
    info.add_timestamp(1600000000);
    info.add_changeset(99);
    info.add_uid(5);
    info.add_user_sid(static_cast<int32_t>(test::StringIndex(block, "someone")));
    info.add_visible(true);

    EXPECT_EQ(DescribeFile(File({test::DataBlob(block)})),
              "n 1 v3 u5:someone c99 t1600000000000 vis1 @0,0\n"
              "n 2 v4 u0: c0 t0 vis0 @0,0\n"
              "n 3 v0 u0: c0 t0 vis0 @0,0\n");
}

TEST(PBFReader, DenseRunningSums)
{
    OSMPBF::PrimitiveBlock block = DenseBlock({{10, 100, 200, {{"a", "1"}}},
                                               {8, 150, 150, {}},
                                               {20, 100, 300, {{"b", "2"}, {"c", "3"}}}});
    OSMPBF::DenseInfo& info = *block.mutable_primitivegroup(0)->mutable_dense()->mutable_denseinfo();
    const int32_t user = static_cast<int32_t>(test::StringIndex(block, "u"));
    for (int i = 0; i < 3; ++i) {
        info.add_version(i + 1);
        info.add_timestamp(10);
        info.add_changeset(i == 0 ? 1000 : -1);
        info.add_uid(i == 0 ? 7 : 1);
        info.add_user_sid(i == 0 ? user : 0);
    }
    const int32_t x = MapUnits::FromDegrees(2e-5), y = MapUnits::FromDegrees(1e-5);
    EXPECT_EQ(DescribeFile(File({test::DataBlob(block)})),
              "n 10 v1 u7:u c1000 t10000 vis0 a=1 @" + std::to_string(x) + "," + std::to_string(y) + "\n" +
                  "n 8 v2 u8:u c999 t20000 vis0 @" + std::to_string(MapUnits::FromDegrees(1.5e-5)) + "," +
                  std::to_string(MapUnits::FromDegrees(1.5e-5)) + "\n" + "n 20 v3 u9:u c998 t30000 vis0 b=2 c=3 @" +
                  std::to_string(MapUnits::FromDegrees(3e-5)) + "," + std::to_string(y) + "\n");
}

TEST(PBFReader, SkippingDenseNodesKeepsTheirSums)
{
    std::vector<TTestNode> nodes;
    for (int i = 0; i < 50; ++i)
        nodes.push_back({1000 + i * 3, i * 7, -i * 11, {{"n", std::to_string(i)}}});
    TInput in(File({test::DataBlob(DenseBlock(nodes))}));
    ASSERT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(reader.ReadNext());
        if (i % 7 != 3)
            continue;
        const OSM::TNode& n = reader.Node();
        EXPECT_EQ(n.id, 1000 + i * 3);
        EXPECT_EQ(n.position.y, MapUnits::FromDegrees(1e-7 * i * 7));
        ASSERT_EQ(n.tags.Count(), 1u);
        EXPECT_EQ(n.tags[0].value, std::to_string(i));
    }
}

TEST(PBFReader, StepBackDeliversTheSameEntityAgain)
{
    OSMPBF::PrimitiveBlock first = DenseBlock({{10, 1, 1, {{"k", "v"}}}, {12, 2, 2, {}}});
    OSMPBF::Node& plain = *first.mutable_primitivegroup(0)->add_nodes();
    plain.set_id(30);
    plain.set_lat(3);
    plain.set_lon(3);
    TInput in(File({test::DataBlob(first), test::DataBlob(WayBlock(50, {10, 12}))}));
    ASSERT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);

    reader.StepBack();  // before the first entity: nothing to undo
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 10);
    OSM::TNode* node = &reader.Node();
    node->AddExtNodeTag();
    reader.StepBack();
    EXPECT_FALSE(reader.IsValid());
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 10);
    // The same dense node again is not decoded again: the caller's tag stays.
    EXPECT_EQ(&reader.Node(), node);
    EXPECT_EQ(node->tags.Count(), 2u);

    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 12);
    reader.StepBack();
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 12);
    EXPECT_TRUE(reader.Node().tags.Empty());
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 30);
    reader.StepBack();
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 30);
    EXPECT_EQ(reader.Node().position.x, MapUnits::FromDegrees(3e-7));

    // Across a block boundary.
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetType(), OSM::kWay);
    reader.StepBack();
    ASSERT_TRUE(reader.ReadNext());
    EXPECT_EQ(reader.GetId(), 50);
    EXPECT_EQ(reader.Way().nodeRefs.Count(), 2u);

    EXPECT_FALSE(reader.ReadNext());
    reader.StepBack();
    EXPECT_FALSE(reader.ReadNext());
    EXPECT_EQ(reader.GetEntity(), nullptr);
}

TEST(PBFReader, SkipsOtherBlobTypesAndEmptyBlocks)
{
    OSMPBF::PrimitiveBlock empty;
    empty.mutable_stringtable();
    OSMPBF::PrimitiveBlock withEmptyGroup = DenseBlock({{1, 0, 0, {}}});
    withEmptyGroup.mutable_primitivegroup()->Add();
    withEmptyGroup.mutable_primitivegroup()->SwapElements(0, 1);

    const std::string bytes = File({test::FrameBlob("OSMIndex", test::MakeBlob("whatever")),
                                    test::DataBlob(empty),
                                    test::DataBlob(withEmptyGroup),
                                    test::FrameBlob("Other", test::MakeBlob("", test::ECompression::kRaw)),
                                    test::DataBlob(DenseBlock({{2, 0, 0, {}}})),
                                    test::DataBlob(WayBlock(3, {1, 2}))});
    const std::vector<test::TBlobSpan> spans = test::SplitBlobs(bytes);
    TInput in(bytes);
    ASSERT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);
    EXPECT_EQ(Describe(reader),
              "n 1 v0 u0: c0 t0 vis0 @0,0\n"
              "n 2 v0 u0: c0 t0 vis0 @0,0\n"
              "w 3 v-1 u0: c0 t0 vis0 [ 1 2 ]\n");
    // A block without groups starts the search again; skipped blobs of other
    // types belong to the block that follows them.
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kNode), spans[3].offset);
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kWay), spans[6].offset);
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kRelation), std::nullopt);
}

TEST(PBFReader, FirstBlockOffsetsOfSyntheticFile)
{
    const std::string bytes = File({test::DataBlob(DenseBlock({{1, 0, 0, {}}})),
                                    test::DataBlob(DenseBlock({{2, 0, 0, {}}})),
                                    test::DataBlob(WayBlock(3, {1})), test::DataBlob(WayBlock(4, {2})),
                                    test::DataBlob(RelationBlock(5))});
    const std::vector<test::TBlobSpan> spans = test::SplitBlobs(bytes);
    TInput in(bytes);
    ASSERT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kNode), spans[1].offset);  // known from the constructor on
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kWay), std::nullopt);
    const std::string all = Describe(reader);
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kWay), spans[3].offset);
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kRelation), spans[5].offset);
    EXPECT_EQ(reader.FirstBlockOffset(static_cast<OSM::EEntityType>(3)), std::nullopt);

    ASSERT_TRUE(reader.Seek(spans[3].offset));
    EXPECT_EQ(Describe(reader), all.substr(all.find("w 3")));
}

TEST(PBFReader, FileWithoutDataEndsAtOnce)
{
    TInput in(File({}));
    ASSERT_TRUE(in.Open());
    CPBFReaderAdapter reader(in.adapter);
    EXPECT_FALSE(reader.IsValid());
    EXPECT_FALSE(reader.ReadNext());
    EXPECT_EQ(reader.FirstBlockOffset(OSM::kNode), std::nullopt);
}

TEST(PBFReader, TruncatedFileIsMalformedExceptAtBlobBoundaries)
{
    const std::string bytes = File({test::DataBlob(DenseBlock({{1, 5, 5, {{"a", "b"}}}, {2, 6, 6, {}}})),
                                    test::DataBlob(WayBlock(3, {1, 2}), test::ECompression::kRaw),
                                    test::DataBlob(RelationBlock(4))});
    const std::string all = DescribeFile(bytes);
    const std::vector<test::TBlobSpan> spans = test::SplitBlobs(bytes);
    // Where a cut ends the input cleanly, and the entities read up to there.
    const std::map<size_t, ptrdiff_t> boundaries = {{spans[1].offset, 0}, {spans[2].offset, 2}, {spans[3].offset, 3}};

    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        TInput in(bytes.substr(0, cut));
        if (cut < spans[1].offset) {
            EXPECT_FALSE(in.Open()) << "cut at " << cut;
            continue;
        }
        ASSERT_TRUE(in.Open()) << "cut at " << cut;
        std::string read;
        bool bad = false;
        try {
            CPBFReaderAdapter reader(in.adapter);
            read = Describe(reader);
        } catch (const CBadFile&) {
            bad = true;
        }
        EXPECT_EQ(bad, !boundaries.count(cut)) << "cut at " << cut;
        EXPECT_EQ(all.compare(0, read.size(), read), 0) << "cut at " << cut;
        if (!bad) {
            EXPECT_EQ(std::count(read.begin(), read.end(), '\n'), boundaries.at(cut)) << "cut at " << cut;
        }
    }
}

TEST(PBFReader, ParsePrimitiveBlockRejectsWhatIsNoBlock)
{
    OSMPBF::PrimitiveBlock block;
    CGrowArray<uint8_t> payload;
    EXPECT_THROW(OSM::ParsePrimitiveBlock(payload, block), CBadFile);  // no string table
    const uint8_t garbage[] = {0xFF, 0xFF, 0xFF};
    payload.Append(garbage, sizeof garbage);
    EXPECT_THROW(OSM::ParsePrimitiveBlock(payload, block), CBadFile);
    payload.Clear();
    const std::string good = DenseBlock({{1, 0, 0, {}}}).SerializeAsString();
    payload.Append(reinterpret_cast<const uint8_t*>(good.data()), good.size());
    OSM::ParsePrimitiveBlock(payload, block);
    EXPECT_EQ(block.primitivegroup_size(), 1);
}

// ---------------------------------------------------------------------------
// Blob framing and the header check.

TEST(PBInputAdapter, HeaderRequiredFeatures)
{
    EXPECT_TRUE(TInput(test::HeaderBlob()).Open());
    EXPECT_TRUE(TInput(test::HeaderBlob({})).Open());
    EXPECT_TRUE(TInput(test::HeaderBlob({"DenseNodes"})).Open());
    EXPECT_FALSE(TInput(test::HeaderBlob({"OsmSchema-V0.6", "DenseNodes", "HistoricalInformation"})).Open());
    EXPECT_FALSE(TInput(test::HeaderBlob({"densenodes"})).Open());
    // An empty HeaderBlock inflates to no bytes at all.
    EXPECT_TRUE(TInput(test::FrameBlob("OSMHeader", test::MakeBlob(""))).Open());
}

TEST(PBInputAdapter, RefusesBadHeaders)
{
    EXPECT_FALSE(TInput("").Open());
    EXPECT_FALSE(TInput(test::DataBlob(DenseBlock({}))).Open());
    EXPECT_FALSE(TInput(test::FrameBlob("OSMHeader", test::MakeBlob("\xFF\xFF"))).Open());
    EXPECT_FALSE(TInput(test::FrameBlob("OSMHeaderX", test::MakeBlob(""))).Open());
    EXPECT_FALSE(TInput(std::string("\0\1\0\0", 4) + std::string(70000, '\0')).Open());
}

TEST(PBInputAdapter, BlobHeaderLengthLimit)
{
    // A header just below the window's reach is read; 65536 or more is not.
    OSMPBF::BlobHeader header;
    header.set_type("Other");
    header.set_indexdata(std::string(60000, 'x'));
    header.set_datasize(0);
    const std::string head = header.SerializeAsString();
    const uint32_t n = uint32_t(head.size());
    const std::string big = std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + head;
    EXPECT_EQ(DescribeFile(File({big, test::DataBlob(WayBlock(1, {}))})), "w 1 v-1 u0: c0 t0 vis0 [ ]\n");

    for (uint32_t length : {0x10000u, 0xFFFFFFFFu}) {
        std::string blob{char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
        TInput in(File({blob + std::string(70000, '\0')}));
        ASSERT_TRUE(in.Open());
        bool error = false;
        EXPECT_FALSE(in.adapter.ReadBlob(error));
        EXPECT_TRUE(error);
        EXPECT_THROW(CPBFReaderAdapter reader(in.adapter), CBadFile);
    }
}

// A refused file says what was wrong, and the blob it was found in.
TEST(PBInputAdapter, FaultsSayWhatAndWhere)
{
    OSMPBF::Blob zstd;
    zstd.set_raw_size(10);
    zstd.set_zstd_data("0123456789");
    OSMPBF::Blob lz4;
    lz4.set_raw_size(10);
    lz4.set_lz4_data("0123456789");
    OSMPBF::Blob noRawSize = test::MakeBlob("payload");
    noRawSize.clear_raw_size();
    OSMPBF::Blob wrongRawSize = test::MakeBlob("payload");
    wrongRawSize.set_raw_size(8);
    OSMPBF::BlobHeader header;
    header.set_type("OSMData");
    header.set_datasize(0x2000000);
    const std::string head = header.SerializeAsString();
    const std::string hugeBlob = std::string{0, 0, 0, char(head.size())} + head;
    const std::string data = test::DataBlob(DenseBlock({{1, 2, 3, {}}}));
    const uint64_t first = test::HeaderBlob().size();

    const struct {
        std::string file;
        bool headerFails;
        const char* fault;
    } cases[] = {
        {"", true, "the file is empty"},
        {data, true, "the first blob is \"OSMData\", not \"OSMHeader\""},
        {test::HeaderBlob({"OsmSchema-V0.6", "Sort.Geographic"}), true,
         "the file requires the feature \"Sort.Geographic\", which this program lacks"},
        {File({test::FrameBlob("OSMData", zstd)}), false, "zstd compression is not supported"},
        {File({test::FrameBlob("OSMData", lz4)}), false, "lz4 compression is not supported"},
        {File({test::FrameBlob("OSMData", noRawSize)}), false, "zlib data without a raw size"},
        {File({test::FrameBlob("OSMData", wrongRawSize)}), false, "the zlib data does not inflate to its raw size"},
        {File({hugeBlob + std::string(100, '\0')}), false, "blob size 33554432 is out of range"},
        {File({std::string("\0\1\0\0", 4)}), false, "blob header size 65536 is out of range"},
        {File({data.substr(0, data.size() - 1)}), false, "the file ends inside the blob"},
    };
    for (const auto& c : cases) {
        TInput in(c.file);
        if (c.headerFails) {
            EXPECT_FALSE(in.Open()) << c.fault;
            EXPECT_EQ(in.adapter.BlobOffset(), 0u);
        } else {
            ASSERT_TRUE(in.Open()) << c.fault;
            bool error = false;
            EXPECT_FALSE(in.adapter.ReadBlob(error));
            EXPECT_TRUE(error);
            EXPECT_EQ(in.adapter.BlobOffset(), first) << c.fault;
        }
        EXPECT_EQ(in.adapter.Fault(), c.fault);
    }
}

TEST(PBInputAdapter, ReadBlobFillsTypeAndPayload)
{
    const std::string payload = DenseBlock({{1, 2, 3, {}}}).SerializeAsString();
    for (test::ECompression compression : {test::ECompression::kRaw, test::ECompression::kZlib}) {
        TInput in(test::HeaderBlob() + test::FrameBlob("OSMData", test::MakeBlob(payload, compression)));
        ASSERT_TRUE(in.Open());
        bool error = true;
        ASSERT_TRUE(in.adapter.ReadBlob(error));
        EXPECT_FALSE(error);
        EXPECT_EQ(in.adapter.BlobType(), "OSMData");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.adapter.Payload().Data()),
                              in.adapter.Payload().Count()),
                  payload);
        EXPECT_EQ(in.adapter.Stream().Remaining(), 0u);
        EXPECT_FALSE(in.adapter.ReadBlob(error));
        EXPECT_FALSE(error);
    }
}

TEST(PBInputAdapter, ZeroCopyInterface)
{
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    TInput in(bytes);
    in.adapter.Open(in.stream);  // fails, but attaches the stream
    in.stream.Seek(100);
    const void* data;
    int size;
    ASSERT_TRUE(in.adapter.Next(&data, &size));
    EXPECT_EQ(uint64_t(size), in.stream.MaxBlock());  // what the window holds, capped
    EXPECT_EQ(*static_cast<const char*>(data), bytes[100]);
    EXPECT_EQ(uint64_t(in.adapter.ByteCount()), 100 + in.stream.MaxBlock());
    in.adapter.BackUp(36);
    const uint64_t backed = 100 + in.stream.MaxBlock() - 36;
    EXPECT_EQ(uint64_t(in.adapter.ByteCount()), backed);
    ASSERT_TRUE(in.adapter.Next(&data, &size));
    EXPECT_EQ(uint64_t(size), 65536 - backed);  // the rest of the window
    ASSERT_TRUE(in.adapter.Next(&data, &size));  // the window slides
    EXPECT_EQ(uint64_t(size), in.stream.MaxBlock());
    EXPECT_EQ(*static_cast<const char*>(data), bytes[65536]);

    EXPECT_FALSE(in.adapter.Skip(-1));
    EXPECT_TRUE(in.adapter.Skip(1000));
    EXPECT_EQ(uint64_t(in.adapter.ByteCount()), 65536 + in.stream.MaxBlock() + 1000);
    EXPECT_FALSE(in.adapter.Skip(int(bytes.size())));
    EXPECT_EQ(uint64_t(in.adapter.ByteCount()), bytes.size());
    EXPECT_FALSE(in.adapter.Next(&data, &size));
}

}  // namespace
