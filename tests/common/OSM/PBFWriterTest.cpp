// The PBF writer: the fields of every block it writes, its block limits, and
// files that the reader and osmium read back unchanged.
#include "common/OSM/PBFWriter.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using test::MakeNode;
using test::MakeRelation;
using test::MakeWay;

// The bytes of a block, in hex.
std::string Hex(const OSMPBF::PrimitiveBlock& block)
{
    std::string hex;
    for (unsigned char c : block.SerializeAsString()) {
        hex.push_back("0123456789abcdef"[c >> 4]);
        hex.push_back("0123456789abcdef"[c & 15]);
    }
    return hex;
}

// The payload of a framed blob: zlib data at the default level, whose raw
// size is stated.
std::string Payload(std::string_view framed)
{
    const uint32_t headerSize = uint32_t(uint8_t(framed[2])) << 8 | uint8_t(framed[3]);
    OSMPBF::BlobHeader header;
    EXPECT_TRUE(header.ParseFromArray(framed.data() + 4, int(headerSize)));
    EXPECT_FALSE(header.has_indexdata());
    OSMPBF::Blob blob;
    EXPECT_TRUE(blob.ParseFromString(std::string(framed.substr(4 + headerSize))));
    EXPECT_EQ(framed.size() - 4 - headerSize, size_t(header.datasize()));
    EXPECT_FALSE(blob.has_raw());
    EXPECT_EQ(blob.zlib_data().substr(0, 2), "\x78\x9C");
    std::string payload = test::Inflate(blob.zlib_data());
    EXPECT_EQ(payload.size(), size_t(blob.raw_size()));
    return payload;
}

// The data blocks of a file; the header blob is checked.
std::vector<OSMPBF::PrimitiveBlock> Blocks(const std::string& path)
{
    const std::string file = test::ReadFile(path);
    std::vector<OSMPBF::PrimitiveBlock> blocks;
    for (const test::TBlobSpan& span : test::SplitBlobs(file)) {
        const std::string payload = Payload(std::string_view(file).substr(span.offset, span.size));
        if (span.offset == 0) {
            EXPECT_EQ(span.type, "OSMHeader");
            OSMPBF::HeaderBlock header;
            EXPECT_TRUE(header.ParseFromString(payload));
            EXPECT_EQ(header.SerializeAsString(), "\"\016OsmSchema-V0.6\"\nDenseNodes*\021Sort.Type_then_ID"
                                                  "\202\001\034Tovimar OSM splitter 1.09.48");
            continue;
        }
        EXPECT_EQ(span.type, "OSMData");
        blocks.emplace_back();
        EXPECT_TRUE(blocks.back().ParseFromString(payload));
        EXPECT_FALSE(blocks.back().has_granularity() || blocks.back().has_date_granularity() ||
                     blocks.back().has_lat_offset() || blocks.back().has_lon_offset());
    }
    return blocks;
}

// What a fresh file holds after write(writer) and Close().
std::vector<OSMPBF::PrimitiveBlock> Write(const std::function<void(OSM::CPBFWriter&)>& write)
{
    test::CTempDir dir;
    OSM::CPBFWriter writer;
    EXPECT_TRUE(writer.Open(dir / "out.osm.pbf"));
    write(writer);
    writer.Close();
    return Blocks(dir / "out.osm.pbf");
}

TEST(PBFWriter, BlockFields)
{
    const OSM::TInfo v1{1, 0, "", 0, 0, 0};
    const struct {
        const char* name;
        std::function<void(OSM::CPBFWriter&)> write;
        std::string dump;
    } cases[] = {
        {"nodes sorted by id, negative ones first; ways keep their order",
         [&](OSM::CPBFWriter& w) {
             for (OSM::TId id : {5, 3, 4, -2, -1})
                 w.WriteNode(MakeNode(id, int32_t(id) * 8388608, -int32_t(id) * 8388608, {}, v1));
             for (OSM::TId id : {9, 7, 8})
                 w.WriteWay(MakeWay(id, {}, {}, v1));
         },
         "0a040a000a00125a12580a0501010a02022a230a050101010101120500000000001a050000000000220500000000002a0502"
         "00000000421480dac40980dac409ffc1d72fffd9c409ffd9c4094a14ffd9c409ffd9c40980c2d72f80dac40980dac4091230"
         "1a0e0809220a080110001800200028011a0e0807220a080110001800200028011a0e0808220a08011000180020002801"},
        {"coordinates round half away from zero; 2^31 units are 256 degrees",
         [&](OSM::CPBFWriter& w) {
             w.WriteNode(MakeNode(1, 0x59FFFFFF, -1, {}, v1));
             w.WriteNode(MakeNode(2, INT32_MIN, 1, {}, v1));
         },
         "0a040a000a00122c122a0a0202022a140a020101120200001a020000220200002a020200420201044a0afec7ceb40dfdc782"
         "be20"},
        {"dense info is delta-coded but the versions; milliseconds cut toward zero",
         [&](OSM::CPBFWriter& w) {
             w.WriteNode(MakeNode(1, 0, 0, {}, {7, 100, "alice", 50, 1999, 1}));
             w.WriteNode(MakeNode(2, 0, 0, {}, {7, 90, "bob", 55, 5000, 1}));
             w.WriteNode(MakeNode(3, 0, 0, {}, {2, 90, "alice", 55, -1999, 1}));
         },
         "0a0e0a000a05616c6963650a03626f62122d122b0a030202022a1a0a03070702120302080b1a03640a002204c80113002a03"
         "02020142030000004a03000000"},
        {"keys_vals start at the first tagged node; strings sorted byte for byte",
         [&](OSM::CPBFWriter& w) {
             w.WriteNode(MakeNode(1, 0, 0, {}, v1));
             w.WriteNode(MakeNode(2, 0, 0, {{"name", "Main Street"}, {"Name", "MAIN STREET"}, {"name", "main street"},
                                            {"b", "B"}}, v1));
             w.WriteNode(MakeNode(3, 0, 0, {}, v1));
         },
         "0a3d0a000a000a01420a0b4d41494e205354524545540a0b4d61696e205374726565740a044e616d650a01620a0b6d61696e"
         "207374726565740a046e616d65123912370a030202022a190a0301010112030000001a0300000022030000002a0302000042"
         "030000004a03000000520b0008040503080706020000"},
        {"untagged nodes have no keys_vals", [&](OSM::CPBFWriter& w) { w.WriteNode(MakeNode(1, 0, 0, {}, v1)); },
         "0a040a000a00121c121a0a01022a0f0a01011201001a01002201002a01024201004a0100"},
        {"ways and relations carry full info",
         [&](OSM::CPBFWriter& w) {
             w.WriteWay(MakeWay(10, {5, 3, 8}, {{"highway", "track"}}, {-1, 0, "", 0, 0, 0}));
             w.WriteRelation(MakeRelation(11, {{OSM::kWay, 10, "outer"}, {OSM::kNode, 5, ""}, {OSM::kRelation, 12, "subarea"}},
                                          {{"type", "multipolygon"}}, {3, 4, "u", 5, 6999, 1}));
         },
         "0a3b0a000a000a07686967687761790a0c6d756c7469706f6c79676f6e0a056f757465720a07737562617265610a05747261"
         "636b0a04747970650a017512241a22080a1201021a0106221308ffffffffffffffffff01100018002000280142030a030a12"
         "252223080b1201071a0103220a0803100618052004280842030401054a0314090e5203010002"},
    };
    for (const auto& c : cases) {
        const std::vector<OSMPBF::PrimitiveBlock> blocks = Write(c.write);
        ASSERT_EQ(blocks.size(), 1u) << c.name;
        EXPECT_EQ(Hex(blocks[0]), c.dump) << c.name;
    }
}

TEST(PBFWriter, BlocksHold8000EntitiesOfAnyKind)
{
    const struct {
        int nodes, ways, relations;
        std::string groups;
    } cases[] = {{0, 0, 0, ""},
                 {7999, 0, 0, "d7999 | "},
                 {8000, 0, 0, "d8000 | "},
                 {8001, 0, 0, "d8000 | d1 | "},
                 {8000, 1, 0, "d8000 | w1 | "},
                 {3000, 3000, 2001, "d3000 w3000 r2000 | r1 | "}};
    for (const auto& c : cases) {
        std::string groups;
        for (const OSMPBF::PrimitiveBlock& block : Write([&](OSM::CPBFWriter& w) {
                 for (int i = 0; i < c.nodes; ++i)
                     w.WriteNode(MakeNode(i + 1));
                 for (int i = 0; i < c.ways; ++i)
                     w.WriteWay(MakeWay(i + 1));
                 for (int i = 0; i < c.relations; ++i)
                     w.WriteRelation(MakeRelation(i + 1));
             })) {
            for (const OSMPBF::PrimitiveGroup& g : block.primitivegroup())
                for (auto [kind, n] : {std::pair{"d", g.dense().id_size()}, {"w", g.ways_size()}, {"r", g.relations_size()}})
                    if (n != 0)
                        groups.append(kind).append(std::to_string(n)).append(" ");
            groups += "| ";
        }
        EXPECT_EQ(groups, c.groups) << c.nodes;
    }
}

TEST(PBFWriter, TheMostUsedStringsTakeTheOneByteIndices)
{
    // 124 values used twice, the key and the empty user name used by every
    // node, and 100 values used once: the "c" values sort before the "h"
    // ones, yet come after them.
    auto value = [](char prefix, int i) { return prefix + std::to_string(1000 + i); };
    const std::vector<OSMPBF::PrimitiveBlock> blocks = Write([&](OSM::CPBFWriter& w) {
        OSM::TId id = 1;
        for (int i = 0; i < 248; ++i)
            w.WriteNode(MakeNode(id++, 0, 0, {{"k", value('h', i / 2)}}));
        for (int i = 0; i < 100; ++i)
            w.WriteNode(MakeNode(id++, 0, 0, {{"k", value('c', i)}}));
    });
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

// Many blocks of varied entities, so that every reused buffer is refilled;
// returns what the reader makes of them.
std::string WriteManyBlocks(OSM::CDataWriter& writer)
{
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string n = std::to_string(i);
        OSM::TNode node = MakeNode(2 * i + 1, i * 977 - 5000000, 3000000 - i * 311, {},
                                   {i % 5, i % 13, "user" + std::to_string(i % 300), 1000 + i / 7,
                                    1300000000000LL + i * 1000LL, 0});
        if (i % 3 == 0)
            node.AddTag("name", std::string("N").append(n));
        writer.WriteNode(node);
        expected += test::Describe(OSM::kNode, node);
    }
    for (int i = 0; i < 9000; ++i) {
        const OSM::TWay way = MakeWay(i + 1, {2 * i + 1, 2 * i + 3, 1}, {{"highway", i % 2 ? "primary" : "Primary"}},
                                      {1, 0, "", 0, 0, 0});
        writer.WriteWay(way);
        expected += test::Describe(OSM::kWay, way);
    }
    return expected;
}

// What the reader makes of the file, and whether osmium reads it all.
std::string ReadBack(const std::string& path)
{
    const std::string command = "osmium fileinfo -e " + path + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return test::DescribePbf(test::ReadFile(path));
}

TEST(PBFWriter, FilesReadBackUnchanged)
{
    test::CTempDir dir;
    OSM::CPBFWriter writer;
    ASSERT_TRUE(writer.Open(dir / "many.osm.pbf"));
    const std::string many = WriteManyBlocks(writer);
    writer.Close();
    EXPECT_EQ(ReadBack(dir / "many.osm.pbf"), many);
    EXPECT_EQ(test::SplitBlobs(test::ReadFile(dir / "many.osm.pbf")).size(), 5u);

    // Letter case survives; metadata outside the format, from damaged input
    // that readers would refuse, is written as absent.
    ASSERT_TRUE(writer.Open(dir / "odd.osm.pbf"));
    writer.WriteNode(MakeNode(1, 0x59FFFFFF, -1, {{"name", "Main Street"}, {"Name", "MAIN STREET"}}, {-5, -3, "u", -1, 0, 1}));
    writer.WriteNode(MakeNode(2, 0, 0, {}, {INT32_MIN, INT32_MIN, "u", INT64_MIN, 0, 1}));
    writer.WriteNode(MakeNode(3, 0, 0, {}, {1, 0, "", 0, 0, 0}));  // the deltas from absent values are right
    writer.WriteWay(MakeWay(4, {1}, {{"NAME", "main street"}}, {-2, -1, "Alice", int64_t(UINT32_MAX) + 1, 0, 1}));
    writer.WriteRelation(MakeRelation(5, {{OSM::kWay, 4, "Outer"}, {OSM::kNode, 1, "outer"}}, {}, {-1, INT32_MIN, "alice", -7, 0, 1}));
    writer.Close();
    EXPECT_EQ(ReadBack(dir / "odd.osm.pbf"), "n1 v-1 u0:u c0 t0 vis0 name=Main Street Name=MAIN STREET @1509949439,-1\n"
                                             "n2 v-1 u0:u c0 t0 vis0 @0,0\nn3 v1 u0: c0 t0 vis0 @0,0\n"
                                             "w4 v-1 u0:Alice c0 t0 vis0 NAME=main street 1\n"
                                             "r5 v-1 u0:alice c0 t0 vis0 w4@Outer n1@outer\n");
}

TEST(PBFWriter, InterleavedWritersWriteWhatOneWritesAlone)
{
    // Blocks of all writers share one background worker; each file must come
    // out as if its writer had been the only one.
    test::CTempDir dir;
    OSM::CPBFWriter alone;
    ASSERT_TRUE(alone.Open(dir / "alone.osm.pbf"));
    WriteManyBlocks(alone);
    alone.Close();

    class CFanOut : public OSM::CDataWriter {
    public:
        std::vector<std::unique_ptr<OSM::CPBFWriter>> to;
        void WriteNode(const OSM::TNode& n) override { for (auto& w : to) w->WriteNode(n); }
        void WriteWay(const OSM::TWay& w) override { for (auto& t : to) t->WriteWay(w); }
        void WriteRelation(const OSM::TRelation& r) override { for (auto& w : to) w->WriteRelation(r); }
    } fanOut;
    for (int w = 0; w < 12; ++w) {
        fanOut.to.push_back(std::make_unique<OSM::CPBFWriter>());
        ASSERT_TRUE(fanOut.to.back()->Open(dir / std::to_string(w)));
    }
    WriteManyBlocks(fanOut);
    for (int w = 0; w < 12; ++w) {
        fanOut.to[w]->Close();
        EXPECT_TRUE(test::ReadFile(dir / std::to_string(w)) == test::ReadFile(dir / "alone.osm.pbf")) << w;
    }
}

// Refs that jump far take nine or ten bytes each.
OSM::TWay FarJumpingWay(OSM::TId id, int refs)
{
    OSM::TWay way = MakeWay(id);
    for (int i = 0; i < refs; ++i)
        way.nodeRefs.PushBack(i % 2 ? int64_t(1) << 62 : 0);
    return way;
}

TEST(PBFWriter, BlocksStayWithinTheSizeReadersAccept)
{
    // 2000 ways of 2000 such refs take 38 MB: one block would be unreadable.
    test::CTempDir dir;
    OSM::CPBFWriter writer;
    ASSERT_TRUE(writer.Open(dir / "big.osm.pbf"));
    for (int i = 0; i < 2000; ++i)
        writer.WriteWay(FarJumpingWay(i, 2000));
    writer.Close();
    const std::string file = test::ReadFile(dir / "big.osm.pbf");
    const std::vector<test::TBlobSpan> spans = test::SplitBlobs(file);
    EXPECT_EQ(spans.size(), 4u);
    for (const test::TBlobSpan& span : spans)
        EXPECT_LE(Payload(std::string_view(file).substr(span.offset, span.size)).size(), OSM::CPBFWriter::kBlockBytes);
    const std::string all = ReadBack(dir / "big.osm.pbf");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2000);

    // An entity too large for any block is refused, and the file holds the
    // blocks before it.
    ASSERT_TRUE(writer.Open(dir / "huge.osm.pbf"));
    writer.WriteWay(FarJumpingWay(1, 3));
    writer.WriteWay(FarJumpingWay(2, 1 << 20));  // 10 MB, written before the next
    const std::string printed = test::CaptureStdout([&] {
        try {
            writer.WriteWay(FarJumpingWay(3, 3600000));
            ADD_FAILURE() << "a way of 34 MB was written";
        } catch (const TStreamException& e) {
            EXPECT_EQ(e.code, TStreamException::kWrite);
        }
    });
    EXPECT_NE(printed.find(dir / "huge.osm.pbf: way 3 takes 3"), std::string::npos) << printed;
    EXPECT_NE(printed.find(" bytes, more than a PBF block may hold\n"), std::string::npos) << printed;
    writer.Close();
    const std::string kept = test::DescribePbf(test::ReadFile(dir / "huge.osm.pbf"));
    EXPECT_EQ(kept.substr(0, kept.find('\n')), "w1 v0 u0: c0 t0 vis0 0 4611686018427387904 0");
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 2);
}

TEST(PBFWriter, AFailedBlockWriteIsReportedOnceAndTheFileClosed)
{
    // The blocks reach /dev/full on the worker; the failure surfaces at the
    // next block or at the close, never later and never twice.
    OSM::CPBFWriter writer;
    ASSERT_TRUE(writer.Open("/dev/full"));
    int failures = 0;
    try {
        WriteManyBlocks(writer);
        writer.Close();
    } catch (const TStreamException& e) {
        EXPECT_EQ(e.code, TStreamException::kWrite);
        ++failures;
    }
    EXPECT_NO_THROW(writer.Close());
    EXPECT_EQ(failures, 1);
}

// Jobs of the background worker run in order; a failure reaches its own
// ticket only, once.
TEST(BlobWorker, FailuresReachTheirOwnTicket)
{
    OSM::CBlobWorker& worker = OSM::CBlobWorker::Instance();
    OSM::CBlobWorker::TTicket failing, fine;
    worker.Submit(failing, [] { throw std::runtime_error("disk full"); });
    bool ran = false;
    worker.Submit(fine, [&ran] { ran = true; });
    EXPECT_NO_THROW(worker.Wait(fine));
    EXPECT_TRUE(ran);
    EXPECT_THROW(worker.Wait(failing), std::runtime_error);
    EXPECT_NO_THROW(worker.Wait(failing));
}

}  // namespace
