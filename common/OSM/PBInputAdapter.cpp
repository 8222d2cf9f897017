#include "common/OSM/PBInputAdapter.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string_view>
#include <utility>

#include <libdeflate.h>
#include <lz4.h>
#include <zstd.h>

#include "osmformat.pb.h"

bool ParseMessage(google::protobuf::MessageLite& message, const uint8_t* data, uint64_t size)
{
    // The checked parse would log every missing field to stderr.
    return message.ParsePartialFromArray(data, static_cast<int>(size)) && message.IsInitialized();
}

bool CPBInputAdapter::Next(const void** data, int* size)
{
    try {
        uint64_t n = m_stream->Available();
        if (n == 0)
            n = std::min(m_stream->MaxBlock(), m_stream->Remaining());
        // A whole-file window may exceed what the interface can express.
        n = std::min<uint64_t>(n, INT_MAX);
        if (n == 0)
            return false;
        *data = m_stream->Get(n);
        *size = static_cast<int>(n);
        return true;
    } catch (const TStreamException&) {
        return false;
    }
}

void CPBInputAdapter::BackUp(int count)
{
    // Only ever into the piece Next handed out last, which is in the window.
    m_stream->Seek(m_stream->Position() - static_cast<uint64_t>(count));
}

bool CPBInputAdapter::Skip(int count)
{
    if (count < 0)
        return false;
    try {
        if (static_cast<uint64_t>(count) > m_stream->Remaining()) {
            m_stream->Seek(m_stream->Size());
            return false;
        }
        m_stream->Seek(m_stream->Position() + static_cast<uint64_t>(count));
        return true;
    } catch (const TStreamException&) {
        return false;
    }
}

int64_t CPBInputAdapter::ByteCount() const { return static_cast<int64_t>(m_stream->Position()); }

namespace {

// The format whose signature head starts with, or null. Only these bytes are
// looked at, so a file is never refused for its later contents here.
const char* FormatOf(std::string_view head)
{
    static const struct {
        std::string_view signature;
        const char* format;
    } kFormats[] = {
        {"<?xml", "OSM XML"},
        {"<osm", "OSM XML"},
        {"\xEF\xBB\xBF<", "OSM XML"},  // after a byte order mark
        {"\xFF\xE0\x04o5m2", "o5m"},
        {"\xFF\xE0\x04o5c2", "an o5c change file"},  // no extract
        {"\x1F\x8B", "gzip-compressed"},
        {"BZh", "bzip2-compressed"},
    };
    for (const auto& [signature, format] : kFormats)
        if (head.starts_with(signature))
            return format;
    return nullptr;
}

}  // namespace

bool CPBInputAdapter::Open(CReadStream& stream)
{
    m_stream = &stream;
    m_otherFormat = nullptr;
    m_locationsOnWays = false;
    try {
        const uint64_t start = stream.Position();
        const auto n = std::min<uint64_t>(stream.Remaining(), 8);
        m_otherFormat = FormatOf({reinterpret_cast<const char*>(stream.Get(n)), size_t(n)});
        stream.Seek(start);
    } catch (const TStreamException&) {
        // ReadBlob meets the failure again and says so.
    }
    if (m_otherFormat != nullptr)
        return Malformed(std::string("the file is ") + m_otherFormat + ", not OSM PBF");
    bool error;
    if (!ReadBlob(error))
        return error ? false : Malformed("the file is empty");
    if (m_blobType != "OSMHeader")
        return Malformed("the first blob is \"" + m_blobType + "\", not \"OSMHeader\"");
    OSMPBF::HeaderBlock header;
    if (!ParseMessage(header, m_payload.Data(), m_payload.Count()))
        return Malformed("the header block does not parse");
    for (const std::string& feature : header.required_features())
        if (feature != "OsmSchema-V0.6" && feature != "DenseNodes")
            return Malformed("the file requires the feature \"" + feature + "\", which this program lacks");
    for (const std::string& feature : header.optional_features())
        m_locationsOnWays |= feature == "LocationsOnWays";
    return true;
}

uint64_t CPBInputAdapter::OlderVersions() const
{
    uint64_t sum = 0;
    for (const auto& [offset, count] : m_olderVersions)
        sum += count;
    return sum;
}

bool CPBInputAdapter::Malformed(std::string fault)
{
    m_fault = std::move(fault);
    return false;
}

bool CPBInputAdapter::ReadBlob(bool& error) { return Frame(error, &CPBInputAdapter::ReadBlobBody); }

bool CPBInputAdapter::ReadRawBlob(bool& error) { return Frame(error, &CPBInputAdapter::ReadRawBlobBody); }

bool CPBInputAdapter::SkipBlob(bool& error) { return Frame(error, &CPBInputAdapter::SkipBlobBody); }

bool CPBInputAdapter::Frame(bool& error, bool (CPBInputAdapter::*body)())
{
    m_blobOffset = m_stream->Position();
    if (m_stream->Remaining() == 0) {
        error = false;
        return false;
    }
    error = true;
    try {
        if (!(this->*body)())
            return false;
    } catch (const TStreamException&) {
        // A file cut short inside the blob is as malformed as a bad one.
        return Malformed("the file ends inside the blob");
    }
    error = false;
    return true;
}

bool CPBInputAdapter::SkipBlobBody()
{
    if (!ReadBlobHeader())
        return false;
    m_stream->Seek(m_stream->Position() + uint64_t(m_header.datasize()));
    m_blobType = m_header.type();
    return true;
}

bool CPBInputAdapter::ReadBlobHeader()
{
    const uint8_t* length = m_stream->Get(4);
    uint32_t headerSize = uint32_t(length[0]) << 24 | uint32_t(length[1]) << 16 |
                          uint32_t(length[2]) << 8 | uint32_t(length[3]);
    if (headerSize >= kMaxBlobHeaderSize)
        return Malformed("blob header size " + std::to_string(headerSize) + " is out of range");
    const uint8_t* header = m_stream->Get(headerSize);
    if (!ParseMessage(m_header, header, headerSize))
        return Malformed("the blob header does not parse");
    int32_t dataSize = m_header.datasize();
    if (dataSize < 0 || dataSize >= kMaxBlobSize)
        return Malformed("blob size " + std::to_string(dataSize) + " is out of range");
    if (uint64_t(dataSize) > m_stream->Remaining())
        return Malformed("the file ends inside the blob");
    return true;
}

bool CPBInputAdapter::ReadBlobBody() { return ReadRawBlobBody() && DecodeBlob(m_blob, m_payload, m_fault); }

bool CPBInputAdapter::ReadRawBlobBody()
{
    if (!ReadBlobHeader())
        return false;
    const int32_t dataSize = m_header.datasize();
    // Parsed straight from the window; the runtime requires the Blob to end
    // exactly at dataSize and backs the stream up to there.
    if (!m_blob.ParseFromBoundedZeroCopyStream(this, dataSize))
        return Malformed("the blob does not parse");
    if (m_blob.has_raw_size() && (m_blob.raw_size() < 0 || m_blob.raw_size() >= kMaxBlobSize))
        return Malformed("raw size " + std::to_string(m_blob.raw_size()) + " is out of range");
    m_blobType = m_header.type();
    return true;
}

namespace {

// The calling thread's decompression context, made by make on first use and
// kept between blobs.
template <typename T, T* (*make)(), auto release>
T* ThreadContext()
{
    struct TFree {
        void operator()(T* context) const { release(context); }
    };
    thread_local std::unique_ptr<T, TFree> context(make());
    if (!context)
        ThrowBadAlloc();
    return context.get();
}

// Each decompresses all of compressed into out, whose room is the raw size,
// and returns the bytes written, or -1 when the data is malformed or does
// not fit.
int64_t Inflate(const std::string& compressed, uint8_t* out, size_t room)
{
    auto* decompressor =
        ThreadContext<libdeflate_decompressor, libdeflate_alloc_decompressor, libdeflate_free_decompressor>();
    size_t read = 0;
    size_t written = 0;
    // Bytes behind the zlib stream's end are as malformed as a short one.
    return libdeflate_zlib_decompress_ex(decompressor, compressed.data(), compressed.size(), out, room, &read,
                                         &written) == LIBDEFLATE_SUCCESS && read == compressed.size()
               ? int64_t(written)
               : -1;
}

int64_t Unzstd(const std::string& compressed, uint8_t* out, size_t room)
{
    const size_t written = ZSTD_decompressDCtx(ThreadContext<ZSTD_DCtx, ZSTD_createDCtx, ZSTD_freeDCtx>(), out, room,
                                               compressed.data(), compressed.size());
    return ZSTD_isError(written) ? -1 : int64_t(written);
}

int64_t Unlz4(const std::string& compressed, uint8_t* out, size_t room)
{
    // The block format, as the PBF writers use it; its size fits an int
    // since it lies below the blob limit.
    return LZ4_decompress_safe(compressed.data(), reinterpret_cast<char*>(out), int(compressed.size()), int(room));
}

bool Fails(std::string& fault, std::string why)
{
    fault = std::move(why);
    return false;
}

// Decompresses the data of blob, compressed by method, into payload, which
// must come to exactly raw_size bytes.
bool Decompress(const OSMPBF::Blob& blob, const std::string& compressed, const char* method,
                int64_t (*decompress)(const std::string&, uint8_t*, size_t), CGrowArray<uint8_t>& payload,
                std::string& fault)
{
    if (!blob.has_raw_size())
        return Fails(fault, std::string(method) + " data without a raw size");
    const auto rawSize = static_cast<size_t>(blob.raw_size());
    payload.Resize(rawSize);
    uint8_t none;  // an empty payload may have no storage
    if (decompress(compressed, rawSize != 0 ? payload.Data() : &none, rawSize) == int64_t(rawSize))
        return true;
    return Fails(fault, std::string("the ") + method + " data does not " +
                            (blob.has_zlib_data() ? "inflate" : "decompress") + " to its raw size");
}

}  // namespace

bool CPBInputAdapter::DecodeBlob(const OSMPBF::Blob& blob, CGrowArray<uint8_t>& payload, std::string& fault)
{
    payload.Clear();
    switch (blob.data_case()) {
    case OSMPBF::Blob::DATA_NOT_SET:
        return true;
    case OSMPBF::Blob::kRaw:
        payload.Append(reinterpret_cast<const uint8_t*>(blob.raw().data()), blob.raw().size());
        return true;
    case OSMPBF::Blob::kZlibData:
        return Decompress(blob, blob.zlib_data(), "zlib", Inflate, payload, fault);
    case OSMPBF::Blob::kZstdData:
        return Decompress(blob, blob.zstd_data(), "zstd", Unzstd, payload, fault);
    case OSMPBF::Blob::kLz4Data:
        return Decompress(blob, blob.lz4_data(), "lz4", Unlz4, payload, fault);
    case OSMPBF::Blob::kLzmaData:
        return Fails(fault, "lzma compression is not supported");
    case OSMPBF::Blob::kOBSOLETEBzip2Data:
        return Fails(fault, "bzip2 compression is not supported");
    default:
        return Fails(fault, "unknown compression");
    }
}
