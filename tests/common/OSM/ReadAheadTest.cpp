// Reading ahead on threads changes nothing the caller sees, failures included.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/OSM/PBFReader.h"
#include "common/OSM/ReadAhead.h"
#include "tests/support/PbfBuilder.h"

namespace {

using CBadFile = OSM::CDataReader::CBadFileException;
using TLines = std::vector<std::string>;

// Appends the entities, up to limit more, to the end or the first failure.
void Read(CPBInputAdapter& adapter, OSM::CPBFReaderAdapter& reader, TLines& out, uint64_t limit = UINT64_MAX)
{
    try {
        for (const size_t start = out.size(); out.size() - start < limit && reader.ReadNext();)
            out.push_back(std::to_string(reader.Position()) + " " +
                          test::Describe(reader.GetType(), *reader.GetEntity()));
    } catch (const CBadFile& e) {
        out.push_back("bad file: " + e.reason + " at " + std::to_string(adapter.BlobOffset()));
    }
}

// Everything, then, if that ends well, reads after seeks; then the blocks.
TLines Scenario(const std::string& bytes, uint32_t depth, uint32_t threads)
{
    test::CMemoryReadStream memory(bytes);
    CPBInputAdapter adapter;
    EXPECT_TRUE(adapter.Open(memory));
    TLines got;
    {
        OSM::CPBFReaderAdapter reader(adapter, depth, threads);
        Read(adapter, reader, got);
        if (!got.back().starts_with("bad file")) {
            EXPECT_EQ(reader.GetEntity(), nullptr);
            for (OSM::EEntityType kind : {OSM::kRelation, OSM::kWay, OSM::kNode}) {
                const uint64_t offset = reader.FirstBlockOffset(kind).value_or(0);
                got.push_back("seek " + std::to_string(offset));
                const size_t first = got.size();
                EXPECT_TRUE(reader.Seek(offset));
                Read(adapter, reader, got, 20 + 30 * kind);
                // The first block of a kind starts with its first entity, id 1.
                EXPECT_NE(got.at(first).find(std::string(" ") + "nwr"[kind] + "1 "), std::string::npos) << got[first];
            }
            reader.GetEntity()->AddTag("caller", "tag");  // a dense node stepped back over is not decoded anew
            reader.StepBack();
            Read(adapter, reader, got, 1);
            EXPECT_NE(got.back().find(" caller=tag @"), std::string::npos) << got.back();
            // The stream refuses a seek beyond the end; one back to the start reads again.
            EXPECT_THROW(reader.Seek(reader.Size() + 1), TStreamException);
            EXPECT_TRUE(reader.Seek(0));
            Read(adapter, reader, got, 1);
        }
    }
    OSM::CReadAhead blocks(adapter, 0, depth, threads);
    try {
        while (const OSM::TDataBlock* data = blocks.Next())
            got.push_back(std::to_string(data->start) + " " + std::to_string(data->blobOffset) + " " +
                          std::to_string(data->end) + " " + std::to_string(data->block.ByteSizeLong()));
        EXPECT_EQ(blocks.Next(), nullptr);  // the end, repeated once reached
    } catch (const CBadFile& e) {
        got.push_back("bad block: " + e.reason + " at " + std::to_string(adapter.BlobOffset()));
        EXPECT_THROW(blocks.Next(), CBadFile);  // until a seek, failed stays failed
    }
    return got;
}

OSMPBF::PrimitiveBlock Block(OSM::EEntityType kind, int64_t first, int count)
{
    std::vector<test::TTestNode> nodes;
    OSMPBF::PrimitiveBlock block;
    OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
    for (int i = 0; i < count; ++i) {
        if (kind == OSM::kNode)
            nodes.push_back({first + i, 100 * i, -70 * i, {{"n", std::to_string(i)}}});
        else if (kind == OSM::kWay)
            test::AddWay(block, group, first + i, {i + 1, 1}, {{"highway", "r" + std::to_string(i % 3)}});
        else
            test::AddRelation(block, group, first + i, {{OSM::kWay, first + i, "outer"}});
    }
    return kind == OSM::kNode ? test::DenseBlock(nodes) : block;
}

// Many small blocks, with other blobs between them, so that the queue wraps,
// two of them starting with a later version of the entity before; and the
// same with a malformed blob at places the threads run ahead to.
TEST(ReadAhead, ChangesNothingTheCallerSees)
{
    std::string good = test::HeaderBlob();
    const std::string other = test::FrameBlob("OSMOther", test::MakeBlob("x"));
    OSMPBF::PrimitiveBlock noGroups;
    test::StringIndex(noGroups, "");
    OSMPBF::PrimitiveBlock emptyGroupFirst = Block(OSM::kNode, 1, 7);
    emptyGroupFirst.mutable_primitivegroup()->Add();
    emptyGroupFirst.mutable_primitivegroup()->SwapElements(0, 1);
    good += test::FrameBlob("OSMIndex", test::MakeBlob("x")) + test::DataBlob(emptyGroupFirst);
    for (int b = 1; b < 12; ++b)
        good += (b % 4 == 1 ? other : b % 4 == 2 ? test::DataBlob(noGroups) : "") +
                test::DataBlob(Block(OSM::kNode, 1 + 10 * b - (b == 7 ? 4 : 0), 7 + b % 3));
    for (int b = 0; b < 9; ++b)
        good += (b % 3 == 0 ? other : "") + test::DataBlob(Block(OSM::kWay, 1 + 10 * b - (b == 4 ? 4 : 0), 4 + b % 5),
                                                   test::ECompression::kRaw);
    for (int b = 0; b < 5; ++b)
        good += test::DataBlob(Block(OSM::kRelation, 1 + 10 * b, 3));

    const std::vector<test::TBlob> spans = test::SplitBlobs(good);
    OSMPBF::PrimitiveBlock badString = Block(OSM::kWay, 1000, 3);
    badString.mutable_primitivegroup(0)->mutable_ways(2)->set_keys(0, 999);
    OSMPBF::Blob notZlib = test::MakeBlob("payload");
    notZlib.set_zlib_data("no zlib");
    const std::string cut = test::DataBlob(Block(OSM::kNode, 500, 3));
    // Each input with the offset of its malformed blob, if any.
    std::vector<std::pair<std::string, std::string>> inputs = {{good, ""}};
    for (const std::string& bad : {std::string("\0\1\0\0", 4), test::FrameBlob("OSMData", notZlib),
                                   test::DataBlob(badString), cut.substr(0, cut.size() - 3)}) {
        for (size_t at : {size_t(4), spans.size() / 2, spans.size()}) {
            const size_t offset = at < spans.size() ? spans[at].offset : good.size();
            inputs.emplace_back(good.substr(0, offset) + bad + good.substr(offset), " at " + std::to_string(offset));
        }
    }
    for (const auto& [bytes, end] : inputs) {
        const TLines first = Scenario(bytes, 0, 1);
        ASSERT_FALSE(first.empty());
        // One version of each: n67 read once, w37 once more after the seek to the ways.
        auto reads = [&first](const char* id) {
            return std::count_if(first.begin(), first.end(), [id](const std::string& l) { return l.find(id) != l.npos; });
        };
        if (end.empty()) {
            EXPECT_EQ(std::pair(reads(" n67 "), reads(" w37 ")), (std::pair<std::ptrdiff_t, std::ptrdiff_t>(1, 2)));
        }
        for (const auto& [depth, threads] : {std::pair{1u, 1u}, {OSM::kReadAheadBlocks, 1u}, {3u, 2u}, {5u, 3u}})
            EXPECT_EQ(Scenario(bytes, depth, threads), first) << "read ahead by " << depth << " on " << threads;
        const auto named = [&end](const std::string& line) { return line.starts_with("bad file: ") && line.ends_with(end); };
        EXPECT_EQ(std::any_of(first.begin(), first.end(), named), !end.empty());
    }
}

}  // namespace
