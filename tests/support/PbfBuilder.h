// Synthetic OSM PBF input for tests: blobs built with the protobuf API, framed
// as in a file, and a read stream that serves them from memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/streams/FileStream.h"
#include "fileformat.pb.h"
#include "osmformat.pb.h"

namespace test {

enum class ECompression { kRaw, kZlib };

// zlib format (with header and checksum), default level.
std::string Deflate(std::string_view bytes);
// The inverse; empty when bytes do not inflate.
std::string Inflate(std::string_view bytes);

// A Blob holding payload, with raw_size set when compressed.
OSMPBF::Blob MakeBlob(std::string_view payload, ECompression compression = ECompression::kZlib);
// The 4-byte big-endian header length, the BlobHeader and the Blob.
std::string FrameBlob(std::string_view type, const OSMPBF::Blob& blob);
// An "OSMHeader" blob that requires features.
std::string HeaderBlob(const std::vector<std::string>& requiredFeatures = {"OsmSchema-V0.6", "DenseNodes"});
// An "OSMData" blob holding block.
std::string DataBlob(const OSMPBF::PrimitiveBlock& block, ECompression compression = ECompression::kZlib);

// Concatenates blobs and writes them to path.
void WritePbf(const std::string& path, const std::vector<std::string>& blobs);

// The index of s in block's string table, appended when missing. Entry 0 is
// the empty string, as writers keep it.
uint32_t StringIndex(OSMPBF::PrimitiveBlock& block, std::string_view s);

// A node as tests write it: coordinates in the block's granularity units.
struct TTestNode {
    int64_t id = 0;
    int64_t lat = 0;
    int64_t lon = 0;
    std::vector<std::pair<std::string, std::string>> tags;
};
// Appends nodes to group's dense nodes (which must be empty), delta-coded,
// with keys_vals only when some node has tags.
void AddDenseNodes(OSMPBF::PrimitiveBlock& block, OSMPBF::PrimitiveGroup& group,
                   const std::vector<TTestNode>& nodes);

// Keeps the first n dense nodes, plain nodes, ways and relations of every
// group, with their metadata and tags: real blocks made small.
void ShortenBlock(OSMPBF::PrimitiveBlock& block, int n);

// Where one framed blob lies in a file.
struct TBlobSpan {
    size_t offset = 0;
    size_t size = 0;  // length field, header and blob
    std::string type;
};
// The blobs of a well-formed file, in order.
std::vector<TBlobSpan> SplitBlobs(std::string_view file);
// The decompressed payload of a well-formed framed blob.
std::string BlobPayload(std::string_view framed);

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

}  // namespace test
