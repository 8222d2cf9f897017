// Malformed input must end in CBadFileException (or a refused header), never
// in a crash, a hang, or records made of out-of-bounds reads.
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using CBadFile = OSM::CDataReader::CBadFileException;

enum class EOutcome { kOpenFailed, kClean, kBadFile };

std::ostream& operator<<(std::ostream& out, EOutcome outcome)
{
    const char* names[] = {"open failed", "clean", "bad file"};
    return out << names[int(outcome)];
}

// Reads the whole input, decoding every entity.
EOutcome ReadAll(const std::string& bytes)
{
    test::CMemoryReadStream stream(bytes);
    CPBInputAdapter adapter;
    if (!adapter.Open(stream))
        return EOutcome::kOpenFailed;
    try {
        OSM::CPBFReaderAdapter reader(adapter);
        while (reader.ReadNext())
            reader.GetEntity();
    } catch (const CBadFile&) {
        return EOutcome::kBadFile;
    }
    return EOutcome::kClean;
}

// The first group's kind of a data block: 'n', 'w' or 'r'.
char KindOf(const OSMPBF::PrimitiveBlock& block)
{
    const OSMPBF::PrimitiveGroup& group = block.primitivegroup(0);
    return group.ways_size() ? 'w' : group.relations_size() ? 'r' : 'n';
}

// Monaco cut down to its header, two node blocks, a way block and a relation
// block, each shortened: real data, small enough to be read a thousand times.
class Corruption : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_full = new std::string(test::ReadFile(test::DataFile("monaco.osm.pbf")));
        s_blocks = new std::vector<OSMPBF::PrimitiveBlock>;
        std::string mini;
        int nodeBlocks = 0;
        bool ways = false, relations = false;
        for (const test::TBlobSpan& span : test::SplitBlobs(*s_full)) {
            std::string_view framed = std::string_view(*s_full).substr(span.offset, span.size);
            if (span.type != "OSMData") {
                mini += framed;
                continue;
            }
            OSMPBF::PrimitiveBlock block;
            ASSERT_TRUE(block.ParseFromString(test::BlobPayload(framed)));
            char kind = KindOf(block);
            bool take = (kind == 'n' && nodeBlocks++ < 2) || (kind == 'w' && !std::exchange(ways, true)) ||
                        (kind == 'r' && !std::exchange(relations, true));
            if (take) {
                test::ShortenBlock(block, 150);
                mini += test::DataBlob(block);
                s_blocks->push_back(std::move(block));
            }
        }
        ASSERT_EQ(s_blocks->size(), 4u);
        s_mini = new std::string(std::move(mini));
    }
    static void TearDownTestSuite()
    {
        delete s_full;
        delete s_mini;
        delete s_blocks;
    }

    // The mini file with its data blocks rebuilt, block k changed by mutate.
    static std::string WithBlock(size_t k, const std::function<void(OSMPBF::PrimitiveBlock&)>& mutate)
    {
        std::vector<std::string> blobs{test::HeaderBlob()};
        for (size_t i = 0; i < s_blocks->size(); ++i) {
            OSMPBF::PrimitiveBlock block = (*s_blocks)[i];
            if (i == k)
                mutate(block);
            blobs.push_back(test::DataBlob(block));
        }
        std::string bytes;
        for (const std::string& blob : blobs)
            bytes += blob;
        return bytes;
    }
    // The mini file with one more data blob made of blob.
    static std::string WithBlob(const OSMPBF::Blob& blob) { return *s_mini + test::FrameBlob("OSMData", blob); }

    static std::string* s_full;
    static std::string* s_mini;
    static std::vector<OSMPBF::PrimitiveBlock>* s_blocks;
};

std::string* Corruption::s_full;
std::string* Corruption::s_mini;
std::vector<OSMPBF::PrimitiveBlock>* Corruption::s_blocks;

TEST_F(Corruption, RebuiltFileIsClean)
{
    EXPECT_EQ(ReadAll(*s_full), EOutcome::kClean);
    EXPECT_EQ(ReadAll(*s_mini), EOutcome::kClean);
    EXPECT_EQ(ReadAll(WithBlock(0, [](OSMPBF::PrimitiveBlock&) {})), EOutcome::kClean);
}

TEST_F(Corruption, BadStringIndicesAndArrayLengths)
{
    using TBlock = OSMPBF::PrimitiveBlock;
    auto dense = [](TBlock& b) { return b.mutable_primitivegroup(0)->mutable_dense(); };
    auto way = [](TBlock& b) { return b.mutable_primitivegroup(0)->mutable_ways(0); };
    auto relation = [](TBlock& b) { return b.mutable_primitivegroup(0)->mutable_relations(0); };
    auto tableSize = [](TBlock& b) { return b.stringtable().s_size(); };
    struct TFault {
        const char* name;
        size_t block;
        std::function<void(TBlock&)> mutate;
    };
    const std::vector<TFault> faults = {
        {"dense key beyond the table", 0, [&](TBlock& b) { dense(b)->set_keys_vals(0, tableSize(b)); }},
        {"dense value negative", 0, [&](TBlock& b) { dense(b)->set_keys_vals(1, -1); }},
        {"dense key without value", 0,
         [&](TBlock& b) {
             dense(b)->mutable_keys_vals()->Truncate(dense(b)->keys_vals_size() - 1);
             int last = dense(b)->keys_vals_size() - 1;
             while (dense(b)->keys_vals(last) == 0)
                 dense(b)->mutable_keys_vals()->Truncate(last--);
             dense(b)->mutable_keys_vals()->Truncate(last);
         }},
        {"dense user beyond the table", 1,
         [&](TBlock& b) { dense(b)->mutable_denseinfo()->set_user_sid(0, tableSize(b)); }},
        {"dense user running negative", 1,
         [&](TBlock& b) {
             OSMPBF::DenseInfo* info = dense(b)->mutable_denseinfo();
             info->set_user_sid(1, -info->user_sid(0) - 1);
         }},
        {"dense ids longer than lats", 0, [&](TBlock& b) { dense(b)->add_id(1); }},
        {"dense lons shorter", 1, [&](TBlock& b) { dense(b)->mutable_lon()->RemoveLast(); }},
        {"way key beyond the table", 2, [&](TBlock& b) {
             way(b)->add_keys(uint32_t(tableSize(b)));
             way(b)->add_vals(0);
         }},
        {"way vals longer than keys", 2, [&](TBlock& b) { way(b)->add_vals(0); }},
        {"way user beyond the table", 2, [&](TBlock& b) { way(b)->mutable_info()->set_user_sid(1u << 31); }},
        {"relation role beyond the table", 3, [&](TBlock& b) { relation(b)->set_roles_sid(0, tableSize(b)); }},
        {"relation role negative", 3, [&](TBlock& b) { relation(b)->set_roles_sid(0, -5); }},
        {"relation memids longer", 3, [&](TBlock& b) { relation(b)->add_memids(1); }},
        {"relation types shorter", 3, [&](TBlock& b) { relation(b)->mutable_types()->RemoveLast(); }},
        {"relation member type 3", 3,
         [&](TBlock& b) { relation(b)->mutable_types()->Set(0, OSMPBF::Relation_MemberType(3)); }},
        {"no string table", 1, [&](TBlock& b) { b.clear_stringtable(); }},
        {"plain node key beyond the table", 2,
         [&](TBlock& b) {
             OSMPBF::Node* node = b.add_primitivegroup()->add_nodes();
             node->set_id(1);
             node->set_lat(0);
             node->set_lon(0);
             node->add_keys(uint32_t(tableSize(b)));
             node->add_vals(0);
         }},
    };
    for (const TFault& fault : faults)
        EXPECT_EQ(ReadAll(WithBlock(fault.block, fault.mutate)), EOutcome::kBadFile) << fault.name;
}

TEST_F(Corruption, BadBlobs)
{
    const std::string payload = (*s_blocks)[0].SerializeAsString();
    auto zlib = [&](int32_t rawSize, bool setRawSize = true) {
        OSMPBF::Blob blob = test::MakeBlob(payload);
        if (setRawSize)
            blob.set_raw_size(rawSize);
        else
            blob.clear_raw_size();
        return blob;
    };
    const int32_t size = int32_t(payload.size());
    EXPECT_EQ(ReadAll(WithBlob(zlib(size))), EOutcome::kClean);
    EXPECT_EQ(ReadAll(WithBlob(zlib(size + 1))), EOutcome::kBadFile);
    EXPECT_EQ(ReadAll(WithBlob(zlib(size - 1))), EOutcome::kBadFile);
    EXPECT_EQ(ReadAll(WithBlob(zlib(-1))), EOutcome::kBadFile);
    EXPECT_EQ(ReadAll(WithBlob(zlib(CPBInputAdapter::kMaxBlobSize))), EOutcome::kBadFile);
    EXPECT_EQ(ReadAll(WithBlob(zlib(0, false))), EOutcome::kBadFile);

    OSMPBF::Blob raw = test::MakeBlob(payload, test::ECompression::kRaw);
    EXPECT_EQ(ReadAll(WithBlob(raw)), EOutcome::kClean);
    raw.set_raw_size(-3);
    EXPECT_EQ(ReadAll(WithBlob(raw)), EOutcome::kBadFile);

    const std::string compressed = test::Deflate(payload);
    std::vector<std::function<void(OSMPBF::Blob&)>> unreadable = {
        [&](OSMPBF::Blob& b) { b.set_lzma_data(compressed); },
        [&](OSMPBF::Blob& b) {
            // The bzip2 field is deprecated in the schema: write it as lz4 and
            // renumber its tag from 6 to 5.
            OSMPBF::Blob lz4;
            lz4.set_lz4_data(compressed);
            std::string wire = lz4.SerializeAsString();
            wire[0] = char(5 << 3 | 2);
            b.MergeFromString(wire);
            ASSERT_EQ(b.data_case(), OSMPBF::Blob::kOBSOLETEBzip2Data);
        },
        [&](OSMPBF::Blob& b) { b.set_lz4_data(compressed); },
        [&](OSMPBF::Blob& b) { b.set_zstd_data(compressed); },
        [&](OSMPBF::Blob& b) { b.set_zlib_data(""); },
        [&](OSMPBF::Blob& b) { b.set_zlib_data(compressed.substr(0, compressed.size() / 2)); },
        [&](OSMPBF::Blob& b) { b.set_zlib_data(compressed + "tail"); },
        [&](OSMPBF::Blob& b) { b.set_zlib_data("not zlib at all"); },
    };
    for (size_t i = 0; i < unreadable.size(); ++i) {
        OSMPBF::Blob blob;
        blob.set_raw_size(size);
        unreadable[i](blob);
        EXPECT_EQ(ReadAll(WithBlob(blob)), EOutcome::kBadFile) << "variant " << i;
    }
}

// A data blob whose BlobHeader says datasize.
std::string FrameWithDataSize(const OSMPBF::Blob& blob, int32_t dataSize)
{
    OSMPBF::BlobHeader header;
    header.set_type("OSMData");
    header.set_datasize(dataSize);
    const std::string head = header.SerializeAsString();
    const uint32_t n = uint32_t(head.size());
    return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + head + blob.SerializeAsString();
}

TEST_F(Corruption, BadDataSizes)
{
    const OSMPBF::Blob blob = test::MakeBlob((*s_blocks)[1].SerializeAsString());
    const int32_t size = int32_t(blob.ByteSizeLong());
    EXPECT_EQ(ReadAll(*s_mini + FrameWithDataSize(blob, size)), EOutcome::kClean);
    for (int32_t dataSize : {-1, INT32_MIN, size - 1, size + 1, 0, CPBInputAdapter::kMaxBlobSize, INT32_MAX})
        EXPECT_EQ(ReadAll(*s_mini + FrameWithDataSize(blob, dataSize)), EOutcome::kBadFile) << dataSize;
    // A Blob that ends before its datasize, followed by another blob.
    EXPECT_EQ(ReadAll(*s_mini + FrameWithDataSize(blob, size + 10) + test::DataBlob((*s_blocks)[2])),
              EOutcome::kBadFile);
}

TEST_F(Corruption, Truncation)
{
    const std::vector<test::TBlobSpan> spans = test::SplitBlobs(*s_mini);
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut < s_mini->size(); cut += 97)
        cuts.push_back(cut);
    for (const test::TBlobSpan& span : spans)
        for (size_t d = 0; d < 12; ++d)
            for (size_t cut : {span.offset + d, span.offset + span.size - d})
                if (cut < s_mini->size())
                    cuts.push_back(cut);
    for (size_t cut : cuts) {
        EOutcome outcome = ReadAll(s_mini->substr(0, cut));
        bool boundary = false;
        for (const test::TBlobSpan& span : spans)
            boundary = boundary || span.offset == cut;
        if (cut < spans[1].offset)
            EXPECT_EQ(outcome, EOutcome::kOpenFailed) << "cut at " << cut;
        else
            EXPECT_EQ(outcome, boundary ? EOutcome::kClean : EOutcome::kBadFile) << "cut at " << cut;
    }
    // The real file too, at a few places.
    for (size_t cut = 1000; cut < s_full->size(); cut += s_full->size() / 11)
        EXPECT_EQ(ReadAll(s_full->substr(0, cut)), EOutcome::kBadFile) << "cut at " << cut;
}

TEST_F(Corruption, DamagedFraming)
{
    std::mt19937 random(20240521);
    const std::vector<test::TBlobSpan> spans = test::SplitBlobs(*s_mini);
    size_t variants = 0;
    for (const test::TBlobSpan& span : spans) {
        const uint32_t headerSize = uint32_t(uint8_t((*s_mini)[span.offset + 2])) << 8 |
                                    uint32_t(uint8_t((*s_mini)[span.offset + 3]));
        // Every byte of the length and the BlobHeader, and some of the Blob.
        std::vector<size_t> places;
        for (size_t i = 0; i < 4 + headerSize; ++i)
            places.push_back(span.offset + i);
        for (int i = 0; i < 40; ++i)
            places.push_back(span.offset + 4 + headerSize + random() % (span.size - 4 - headerSize));
        for (size_t place : places) {
            for (uint8_t value : {uint8_t((*s_mini)[place] ^ 0xFF), uint8_t(random()), uint8_t(0)}) {
                std::string bytes = *s_mini;
                bytes[place] = char(value);
                EOutcome outcome = ReadAll(bytes);
                if (place >= spans[1].offset) {
                    EXPECT_NE(outcome, EOutcome::kOpenFailed);
                }
                ++variants;
            }
        }
        // Oversized lengths.
        for (uint32_t length : {0x0000FFFFu, 0x00010000u, 0x7FFFFFFFu, 0xFFFFFFFFu, headerSize + 1}) {
            std::string bytes = *s_mini;
            for (int i = 0; i < 4; ++i)
                bytes[span.offset + i] = char(length >> (24 - 8 * i));
            EXPECT_EQ(ReadAll(bytes), span.offset == 0 ? EOutcome::kOpenFailed : EOutcome::kBadFile) << length;
        }
    }
    EXPECT_GT(variants, 500u);
}

// Random damage inside the decompressed blocks, recompressed so that the
// framing is sound: this is what reaches the decoder's index checks.
TEST_F(Corruption, DamagedBlocks)
{
    std::mt19937 random(77);
    size_t bad = 0, clean = 0;
    for (int variant = 0; variant < 400; ++variant) {
        const size_t k = size_t(variant) % s_blocks->size();
        std::string payload = (*s_blocks)[k].SerializeAsString();
        for (int flips = 1 + int(random() % 4); flips > 0; --flips)
            payload[random() % payload.size()] = char(random());
        if (variant % 5 == 0)
            payload.resize(random() % payload.size());
        std::string bytes;
        for (const test::TBlobSpan& span : test::SplitBlobs(*s_mini))
            if (span.type != "OSMData")
                bytes += s_mini->substr(span.offset, span.size);
        bytes += test::FrameBlob("OSMData", test::MakeBlob(payload));
        EOutcome outcome = ReadAll(bytes);
        EXPECT_NE(outcome, EOutcome::kOpenFailed);
        (outcome == EOutcome::kBadFile ? bad : clean)++;
    }
    EXPECT_GT(bad, 0u);
}

}  // namespace
