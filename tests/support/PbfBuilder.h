// Synthetic OSM PBF input for tests: blocks built with the protobuf API,
// framed as in a file, served from memory, and read back as text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "common/OSM/DataReader.h"
#include "common/OSM/DataWriter.h"
#include "common/streams/FileStream.h"
#include "fileformat.pb.h"
#include "osmformat.pb.h"

namespace test {

using TTagList = std::vector<std::pair<std::string, std::string>>;
using TMemberSpec = std::tuple<OSM::EEntityType, int64_t, std::string>;
enum class ECompression { kRaw, kZlib, kZstd, kLz4 };

// A Blob holding payload; compressed, it sets raw_size.
OSMPBF::Blob MakeBlob(std::string_view payload, ECompression compression = ECompression::kZlib);
// The header length, the BlobHeader (stating dataSize if given) and the Blob.
std::string FrameBlob(std::string_view type, const OSMPBF::Blob& blob, std::optional<int32_t> dataSize = {});
std::string HeaderBlob(const std::vector<std::string>& requiredFeatures = {"OsmSchema-V0.6", "DenseNodes"});
std::string DataBlob(const OSMPBF::PrimitiveBlock& block, ECompression compression = ECompression::kZlib);

// The index of s in block's string table, appended if missing; entry 0 is "".
uint32_t StringIndex(OSMPBF::PrimitiveBlock& block, std::string_view s);

// Coordinates in the block's granularity units.
struct TTestNode {
    int64_t id = 0;
    int64_t lat = 0;
    int64_t lon = 0;
    TTagList tags;
};
// One group of dense nodes, with keys_vals only when some node has tags.
OSMPBF::PrimitiveBlock DenseBlock(const std::vector<TTestNode>& nodes);
void AddWay(OSMPBF::PrimitiveBlock& block, OSMPBF::PrimitiveGroup& group, int64_t id,
            const std::vector<int64_t>& refs, const TTagList& tags = {});
void AddRelation(OSMPBF::PrimitiveBlock& block, OSMPBF::PrimitiveGroup& group, int64_t id,
                 const std::vector<TMemberSpec>& members, const TTagList& tags = {});

// One blob of a file: where its frame starts, its length, type and payload.
struct TBlob {
    uint64_t offset = 0;
    uint64_t size = 0;
    std::string type;
    std::string payload;
};
// Every blob of a file, the header included; throws when one is malformed.
std::vector<TBlob> SplitBlobs(const std::string& file);

// Serves bytes through the same window logic as a file stream, without disk.
class CMemoryReadStream : public CBufReadStreamImpl {
public:
    explicit CMemoryReadStream(std::string bytes, uint64_t capacity = 65536);
    uint64_t Size() const override { return m_bytes.size(); }

protected:
    void RawSeek(uint64_t position) override { m_raw = position; }
    void RawRead(void* destination, uint64_t n) override;

private:
    std::string m_bytes;
    uint64_t m_raw = 0;
};

// Records as the writers take them.
OSM::TNode MakeNode(int64_t id, int32_t lon = 0, int32_t lat = 0, const TTagList& tags = {}, OSM::TInfo info = {});
OSM::TWay MakeWay(int64_t id, const std::vector<int64_t>& refs = {}, const TTagList& tags = {}, OSM::TInfo info = {});
OSM::TRelation MakeRelation(int64_t id, const std::vector<TMemberSpec>& members = {}, const TTagList& tags = {},
                            OSM::TInfo info = {});

// Entities of one file, each kind in IdBefore order.
struct TEntitySet {
    std::vector<OSM::TNode> nodes;
    std::vector<OSM::TWay> ways;
    std::vector<OSM::TRelation> relations;

    size_t Count() const { return nodes.size() + ways.size() + relations.size(); }
    // Hands the i-th entity, in file order, to writer.
    void Write(OSM::CDataWriter& writer, size_t i) const;
};
// Values across their whole ranges, metadata outside the format included;
// strings that repeat, differ in case, are UTF-8, or outgrow one-byte indices.
TEntitySet RandomEntities(uint32_t seed, int nodes, int ways, int relations);

// One line: kind and id, metadata, tags, then the position, refs or members.
std::string Describe(OSM::EEntityType type, const OSM::TEntity& entity);
// Describe of a file in memory, else "refused: reason" or "bad at offset: reason".
std::string DescribePbf(const std::string& bytes);

}  // namespace test
