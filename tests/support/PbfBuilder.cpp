#include "tests/support/PbfBuilder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <zlib.h>

namespace test {

std::string Deflate(std::string_view bytes)
{
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                 static_cast<uLong>(bytes.size())) != Z_OK)
        throw std::runtime_error("compress failed");
    out.resize(size);
    return out;
}

std::string Inflate(std::string_view bytes)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return {};
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    std::string out;
    char chunk[65536];
    int result;
    do {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        result = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - z.avail_out);
    } while (result == Z_OK);
    inflateEnd(&z);
    return result == Z_STREAM_END ? out : std::string();
}

OSMPBF::Blob MakeBlob(std::string_view payload, ECompression compression)
{
    OSMPBF::Blob blob;
    if (compression == ECompression::kRaw) {
        blob.set_raw(std::string(payload));
    } else {
        blob.set_raw_size(static_cast<int32_t>(payload.size()));
        blob.set_zlib_data(Deflate(payload));
    }
    return blob;
}

std::string FrameBlob(std::string_view type, const OSMPBF::Blob& blob)
{
    std::string body = blob.SerializeAsString();
    OSMPBF::BlobHeader header;
    header.set_type(std::string(type));
    header.set_datasize(static_cast<int32_t>(body.size()));
    std::string head = header.SerializeAsString();
    uint32_t n = static_cast<uint32_t>(head.size());
    std::string out{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return out + head + body;
}

std::string HeaderBlob(const std::vector<std::string>& requiredFeatures)
{
    OSMPBF::HeaderBlock header;
    for (const std::string& feature : requiredFeatures)
        header.add_required_features(feature);
    header.set_writingprogram("test");
    return FrameBlob("OSMHeader", MakeBlob(header.SerializeAsString()));
}

std::string DataBlob(const OSMPBF::PrimitiveBlock& block, ECompression compression)
{
    return FrameBlob("OSMData", MakeBlob(block.SerializePartialAsString(), compression));
}

void WritePbf(const std::string& path, const std::vector<std::string>& blobs)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& blob : blobs)
        out.write(blob.data(), static_cast<std::streamsize>(blob.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

uint32_t StringIndex(OSMPBF::PrimitiveBlock& block, std::string_view s)
{
    OSMPBF::StringTable& table = *block.mutable_stringtable();
    if (table.s_size() == 0)
        table.add_s("");
    for (int i = 0; i < table.s_size(); ++i)
        if (table.s(i) == s)
            return static_cast<uint32_t>(i);
    table.add_s(std::string(s));
    return static_cast<uint32_t>(table.s_size() - 1);
}

void AddDenseNodes(OSMPBF::PrimitiveBlock& block, OSMPBF::PrimitiveGroup& group,
                   const std::vector<TTestNode>& nodes)
{
    OSMPBF::DenseNodes& dense = *group.mutable_dense();
    StringIndex(block, "");
    bool tagged = false;
    for (const TTestNode& node : nodes)
        tagged = tagged || !node.tags.empty();
    TTestNode last;
    for (const TTestNode& node : nodes) {
        dense.add_id(node.id - last.id);
        dense.add_lat(node.lat - last.lat);
        dense.add_lon(node.lon - last.lon);
        last = node;
        if (!tagged)
            continue;
        for (const auto& [key, value] : node.tags) {
            dense.add_keys_vals(static_cast<int32_t>(StringIndex(block, key)));
            dense.add_keys_vals(static_cast<int32_t>(StringIndex(block, value)));
        }
        dense.add_keys_vals(0);
    }
}

void ShortenBlock(OSMPBF::PrimitiveBlock& block, int n)
{
    for (OSMPBF::PrimitiveGroup& group : *block.mutable_primitivegroup()) {
        if (group.has_dense() && group.dense().id_size() > n) {
            OSMPBF::DenseNodes& dense = *group.mutable_dense();
            dense.mutable_id()->Truncate(n);
            dense.mutable_lat()->Truncate(n);
            dense.mutable_lon()->Truncate(n);
            OSMPBF::DenseInfo& info = *dense.mutable_denseinfo();
            info.mutable_version()->Truncate(std::min(n, info.version_size()));
            info.mutable_timestamp()->Truncate(std::min(n, info.timestamp_size()));
            info.mutable_changeset()->Truncate(std::min(n, info.changeset_size()));
            info.mutable_uid()->Truncate(std::min(n, info.uid_size()));
            info.mutable_user_sid()->Truncate(std::min(n, info.user_sid_size()));
            info.mutable_visible()->Truncate(std::min(n, info.visible_size()));
            int end = 0;
            for (int nodes = 0; end < dense.keys_vals_size() && nodes < n; ++end)
                nodes += dense.keys_vals(end) == 0;
            dense.mutable_keys_vals()->Truncate(end);
        }
        if (group.ways_size() > n)
            group.mutable_ways()->DeleteSubrange(n, group.ways_size() - n);
        if (group.relations_size() > n)
            group.mutable_relations()->DeleteSubrange(n, group.relations_size() - n);
        if (group.nodes_size() > n)
            group.mutable_nodes()->DeleteSubrange(n, group.nodes_size() - n);
    }
}

std::vector<TBlobSpan> SplitBlobs(std::string_view file)
{
    std::vector<TBlobSpan> spans;
    size_t at = 0;
    while (at + 4 <= file.size()) {
        auto byte = [&](size_t i) { return uint32_t(uint8_t(file[at + i])); };
        uint32_t headerSize = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
        OSMPBF::BlobHeader header;
        if (at + 4 + headerSize > file.size() || !header.ParseFromArray(file.data() + at + 4, int(headerSize)))
            throw std::runtime_error("not a well-formed PBF file");
        size_t size = 4 + headerSize + size_t(header.datasize());
        spans.push_back({at, size, header.type()});
        at += size;
    }
    if (at != file.size())
        throw std::runtime_error("not a well-formed PBF file");
    return spans;
}

std::string BlobPayload(std::string_view framed)
{
    uint32_t headerSize = uint32_t(uint8_t(framed[0])) << 24 | uint32_t(uint8_t(framed[1])) << 16 |
                          uint32_t(uint8_t(framed[2])) << 8 | uint32_t(uint8_t(framed[3]));
    OSMPBF::Blob blob;
    std::string_view body = framed.substr(4 + headerSize);
    if (!blob.ParseFromArray(body.data(), int(body.size())))
        throw std::runtime_error("not a well-formed blob");
    return blob.has_zlib_data() ? Inflate(blob.zlib_data()) : blob.raw();
}

CMemoryReadStream::CMemoryReadStream(std::string bytes, uint64_t capacity)
    : CBufReadStreamImpl(capacity), m_bytes(std::move(bytes))
{
    AttachWindow();
}

void CMemoryReadStream::RawRead(void* destination, uint64_t n)
{
    if (m_raw > m_bytes.size() || n > m_bytes.size() - m_raw)
        throw TStreamException{TStreamException::kRead, 0};
    if (n != 0)
        std::memcpy(destination, m_bytes.data() + m_raw, n);
    m_raw += n;
}

}  // namespace test
