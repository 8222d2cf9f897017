// The PBF blob framing and block decoder: exact decoding, and damage refused
// with its reason, never a crash or records made of stray reads.
#include "common/OSM/PBFReader.h"

#include <functional>

#include <gtest/gtest.h>

#include "common/OSM/PBInputAdapter.h"
#include "tests/support/PbfBuilder.h"

namespace {

using namespace test;
using TBlock = OSMPBF::PrimitiveBlock;

// What files written by this program never hold (the rest is read back from
// written files): plain nodes, granularities, short dense info; +180 clamped.
TEST(PBFReader, DecodesBlocks)
{
    TBlock b = DenseBlock({{1, 51234567, -1234567, {{"a", "b"}}}});
    b.set_granularity(1000);
    b.set_lat_offset(123456789);
    b.set_lon_offset(-987654321);
    OSMPBF::Node& plain = *b.mutable_primitivegroup(0)->add_nodes();
    plain.set_id(3);
    plain.set_lat(42424242);
    plain.set_lon(-3131313);
    plain.add_keys(StringIndex(b, "k"));
    plain.add_vals(StringIndex(b, "v"));
    TBlock edges = DenseBlock({{1, 900000000, 1800000000, {}}, {2, -900000000, -1800000000, {}}, {3, 0, 0, {}}});
    edges.set_date_granularity(500);
    OSMPBF::DenseInfo& info = *edges.mutable_primitivegroup(0)->mutable_dense()->mutable_denseinfo();
    info.add_version(3);
    info.add_version(4);
    info.add_timestamp(1600000000);
    info.add_changeset(99);
    info.add_uid(5);
    info.add_user_sid(int32_t(StringIndex(edges, "someone")));
    info.add_visible(true);
    EXPECT_EQ(DescribePbf(HeaderBlob() + DataBlob(b) + DataBlob(edges)),
              "n1 v0 u0: c0 t0 vis0 a=b @-18641344,430822329\nn3 v-1 u0: c0 t0 vis0 k=v @-34552402,356915966\n"
              "n1 v3 u5:someone c99 t800000000000 vis1 @1509949439,754974720\n"
              "n2 v4 u0: c0 t0 vis0 @-1509949440,-754974720\nn3 v0 u0: c0 t0 vis0 @0,0\n");
}

// Merged extracts: of entities one after the other with the same kind and
// id, only the last is read, across groups and blocks; the tags, info and
// positions of the others go with them, and each block counts once.
TEST(PBFReader, LeavesOutOlderVersions)
{
    TBlock first = DenseBlock({{1, 10, 10, {{"a", "1"}}}, {2, 20, 20, {{"a", "old"}}}, {2, 5, 5, {}}, {3, 30, 30, {}}});
    OSMPBF::DenseInfo& info = *first.mutable_primitivegroup(0)->mutable_dense()->mutable_denseinfo();
    for (int i = 0; i < 4; ++i) {
        info.add_version(i == 2 ? 2 : 1);
        info.add_timestamp(100);
    }
    for (int64_t id : {3, 4}) {
        OSMPBF::Node& plain = *first.mutable_primitivegroup(0)->add_nodes();
        plain.set_id(id);
        plain.set_lat(id);
        plain.set_lon(id);
    }
    TBlock second = DenseBlock({{4, 40, 40, {{"b", "new"}}}});
    for (int64_t id : {5, 5})
        AddWay(second, *second.add_primitivegroup(), id, {1, id});
    TBlock third, fourth;
    AddWay(third, *third.add_primitivegroup(), 5, {2, 4});
    AddRelation(third, *third.mutable_primitivegroup(0), 6, {});
    AddRelation(fourth, *fourth.add_primitivegroup(), 6, {{OSM::kWay, 5, "r"}});
    CMemoryReadStream stream(HeaderBlob() + DataBlob(first) + DataBlob(second) + DataBlob(third) + DataBlob(fourth));
    CPBInputAdapter adapter;
    ASSERT_TRUE(adapter.Open(stream));
    OSM::CPBFReaderAdapter reader(adapter);
    std::string read;
    while (reader.ReadNext())
        read += Describe(reader.GetType(), *reader.GetEntity());
    EXPECT_EQ(read, "n1 v1 u0: c0 t100000 vis0 a=1 @8,8\nn2 v2 u0: c0 t300000 vis0 @4,4\n"
                    "n3 v-1 u0: c0 t0 vis0 @3,3\nn4 v0 u0: c0 t0 vis0 b=new @34,34\nw5 v-1 u0: c0 t0 vis0 2 4\n"
                    "r6 v-1 u0: c0 t0 vis0 w5@r\n");
    reader.Seek(0);
    while (reader.ReadNext()) {
    }
    EXPECT_EQ(adapter.OlderVersions(), 6u);
}

// Dense nodes, a way and a relation, with block k changed by mutate.
std::string Sample(size_t k, const std::function<void(TBlock&)>& mutate)
{
    std::vector<TTestNode> nodes;
    for (int i = 0; i < 20; ++i)
        nodes.push_back({i + 1, i * 10, i * 20, {{"k", std::to_string(i % 3)}}});
    nodes[19].tags.clear();
    std::vector<TBlock> blocks = {DenseBlock(nodes), {}, {}};
    OSMPBF::DenseInfo& info = *blocks[0].mutable_primitivegroup(0)->mutable_dense()->mutable_denseinfo();
    for (int i = 0; i < 20; ++i)
        info.add_user_sid(i == 0 ? int32_t(StringIndex(blocks[0], "u")) : 0);
    AddWay(blocks[1], *blocks[1].add_primitivegroup(), 1, {1, 2, 3}, {{"highway", "track"}});
    AddRelation(blocks[2], *blocks[2].add_primitivegroup(), 1, {{OSM::kNode, 1, "a"}, {OSM::kWay, 1, "b"}},
                      {{"type", "route"}});
    mutate(blocks[k]);
    return HeaderBlob() + DataBlob(blocks[0]) + DataBlob(blocks[1]) + DataBlob(blocks[2]);
}

// A refused file says what was wrong, a bad one also the blob it was found in.
TEST(PBFReader, DamageIsRefusedSayingWhatAndWhere)
{
    const std::string payload = DenseBlock({{1, 2, 3, {}}}).SerializeAsString();
    const std::string zlib = MakeBlob(payload).zlib_data();
    auto length = [](uint32_t n) { return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)}; };
    auto blob = [&](const std::function<void(OSMPBF::Blob&)>& set, std::optional<int32_t> dataSize = {}) {
        OSMPBF::Blob b = MakeBlob(payload);
        set(b);
        return HeaderBlob() + FrameBlob("OSMData", b, dataSize);
    };
    auto keep = [](OSMPBF::Blob&) {};
    // Compressed otherwise, with a raw size off by delta.
    auto packed = [&](ECompression compression, int32_t delta) {
        OSMPBF::Blob b = MakeBlob(payload, compression);
        b.set_raw_size(b.raw_size() + delta);
        return HeaderBlob() + FrameBlob("OSMData", b);
    };
    OSMPBF::BlobHeader header;  // just below the window's reach is read
    header.set_type("Other");
    header.set_indexdata(std::string(60000, 'x'));
    header.set_datasize(0);
    const std::string big = length(uint32_t(header.ByteSizeLong())) + header.SerializeAsString();
    const std::string data = DataBlob(DenseBlock({{1, 2, 3, {}}}));
    const int32_t size = int32_t(MakeBlob(payload).ByteSizeLong());
    const std::string node = "n1 v0 u0: c0 t0 vis0 @3,2\n";
    const std::vector<TBlob> blobs = SplitBlobs(Sample(0, [](TBlock&) {}));
    auto badAt = [&blobs](size_t k) { return "bad at " + std::to_string(blobs[k + 1].offset) + ": "; };
    const std::string bad = badAt(0);
    auto dense = [](TBlock& b) { return b.mutable_primitivegroup(0)->mutable_dense(); };
    auto way = [](TBlock& b) { return b.mutable_primitivegroup(0)->mutable_ways(0); };
    auto relation = [](TBlock& b) { return b.mutable_primitivegroup(0)->mutable_relations(0); };
    auto tableSize = [](TBlock& b) { return b.stringtable().s_size(); };
    const std::string different = "with ids, latitudes and longitudes of different counts";
    const std::string outside = " outside the string table";
    const struct {
        std::string file, outcome;
    } cases[] = {
        {"", "refused: the file is empty"},
        {FrameBlob("OSMHeaderX", MakeBlob("")), "refused: the first blob is \"OSMHeaderX\", not \"OSMHeader\""},
        {FrameBlob("OSMHeader", MakeBlob("\xFF\xFF")), "refused: the header block does not parse"},
        {HeaderBlob({"OsmSchema-V0.6", "Sort.Geographic"}),
         "refused: the file requires the feature \"Sort.Geographic\", which this program lacks"},
        {length(0x10000) + std::string(70000, '\0'), "refused: blob header size 65536 is out of range"},
        {length(2) + "\xFF\xFF", "refused: the blob header does not parse"},
        {FrameBlob("OSMHeader", MakeBlob("")) + data, node},  // an empty HeaderBlock
        {HeaderBlob() + big + data, node},
        {"<?xml version='1.0'?>", "refused: the file is OSM XML, not OSM PBF"},
        {"\xFF\xE0\x04o5m2\xFF", "refused: the file is o5m, not OSM PBF"},
        {packed(ECompression::kZstd, 0), node},
        {packed(ECompression::kLz4, 0), node},
        {packed(ECompression::kZstd, 1), bad + "the zstd data does not decompress to its raw size"},
        {packed(ECompression::kLz4, -1), bad + "the lz4 data does not decompress to its raw size"},
        {blob([&](OSMPBF::Blob& b) { b.set_zstd_data(zlib); }), bad + "the zstd data does not decompress to its raw size"},
        {blob([&](OSMPBF::Blob& b) { b.set_lzma_data(zlib); }), bad + "lzma compression is not supported"},
        {blob([](OSMPBF::Blob& b) { b.clear_data(); }), bad + "the data block does not parse"},
        {blob([](OSMPBF::Blob& b) { b.clear_raw_size(); }), bad + "zlib data without a raw size"},
        {blob([&](OSMPBF::Blob& b) { b.set_raw_size(int32_t(payload.size()) + 1); }),
         bad + "the zlib data does not inflate to its raw size"},
        {blob([&](OSMPBF::Blob& b) { b.set_zlib_data(zlib + "tail"); }), bad + "the zlib data does not inflate to its raw size"},
        {blob([](OSMPBF::Blob& b) { b.set_raw_size(-1); }), bad + "raw size -1 is out of range"},
        {blob([](OSMPBF::Blob& b) { b.set_raw_size(CPBInputAdapter::kMaxBlobSize); }), bad + "raw size 33554432 is out of range"},
        {blob(keep, -1), bad + "blob size -1 is out of range"},
        {blob(keep, size - 1), bad + "the blob does not parse"},
        {blob(keep, size + 1), bad + "the file ends inside the blob"},
        {HeaderBlob() + data.substr(0, 10), bad + "the file ends inside the blob"},  // inside the blob header
        {blob(keep, CPBInputAdapter::kMaxBlobSize), bad + "blob size 33554432 is out of range"},
        {Sample(0, [&](TBlock& b) { dense(b)->set_keys_vals(0, tableSize(b)); }), bad + "string index 6" + outside},
        {Sample(0, [&](TBlock& b) { dense(b)->mutable_keys_vals()->Truncate(dense(b)->keys_vals_size() - 3); }),
         bad + "dense node tags end with a key without a value"},
        {Sample(0, [&](TBlock& b) { dense(b)->mutable_denseinfo()->set_user_sid(1, -tableSize(b)); }),
         bad + "string index -1" + outside},
        {Sample(0, [&](TBlock& b) { dense(b)->add_id(1); }), bad + "dense nodes " + different},
        {Sample(0, [&](TBlock& b) { dense(b)->mutable_lon()->RemoveLast(); }), bad + "dense nodes " + different},
        {Sample(1, [&](TBlock& b) { way(b)->add_vals(0); }), badAt(1) + "tag keys and values of different counts"},
        {Sample(1, [&](TBlock& b) { way(b)->mutable_info()->set_user_sid(1u << 31); }),
         badAt(1) + "string index 2147483648" + outside},
        {Sample(2, [&](TBlock& b) { relation(b)->set_roles_sid(0, tableSize(b)); }), badAt(2) + "string index 5" + outside},
        {Sample(2, [&](TBlock& b) { relation(b)->add_memids(1); }),
         badAt(2) + "relation members with ids, roles and types of different counts"},
        {Sample(2, [&](TBlock& b) { relation(b)->mutable_types()->RemoveLast(); }),
         badAt(2) + "relation members with ids, roles and types of different counts"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribePbf(c.file), c.outcome);

    // Where readers start: damage up to the first data blob is refused
    // there, whether or not Open saw the file, wherever the stream stood.
    OSMPBF::Blob other = MakeBlob(payload, ECompression::kZstd);
    other.set_raw_size(other.raw_size() + 1);
    const std::pair<std::string, std::string> starts[] = {
        {"", "the file is empty"},
        {length(2) + "\xFF\xFF" + data, "the blob header does not parse"},
        {FrameBlob("OSMHeaderX", MakeBlob("")) + data, "the first blob is \"OSMHeaderX\", not \"OSMHeader\""},
        {HeaderBlob() + data.substr(0, 10), "the file ends inside the blob"},
        {blob(keep, -1), "blob size -1 is out of range"},
        {HeaderBlob() + FrameBlob("Other", other) + data, "the zstd data does not decompress to its raw size"},
        {HeaderBlob() + big + data, "at " + std::to_string(HeaderBlob().size() + big.size())},
    };
    for (const auto& [file, outcome] : starts) {
        CMemoryReadStream stream(file);
        CPBInputAdapter adapter(stream);
        stream.Seek(file.size());
        try {
            OSM::SeekFirstData(adapter);
            EXPECT_EQ("at " + std::to_string(stream.Position()), outcome);
        } catch (const OSM::CDataReader::CBadFileException& e) {
            EXPECT_EQ(e.reason, outcome);
        }
    }
}

}  // namespace
