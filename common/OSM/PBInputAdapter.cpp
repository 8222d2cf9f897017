#include "common/OSM/PBInputAdapter.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <utility>

#include <libdeflate.h>

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

bool CPBInputAdapter::Open(CReadStream& stream)
{
    m_stream = &stream;
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
    return true;
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

// Inflates compressed into payload, which must come to exactly rawSize bytes:
// a stream that ends early, runs on, or has bytes behind its end is malformed.
bool Inflate(const std::string& compressed, int32_t rawSize, CGrowArray<uint8_t>& payload)
{
    struct TFree {
        void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, TFree> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor)
        ThrowBadAlloc();
    payload.Resize(static_cast<uint64_t>(rawSize));
    uint8_t none;  // an empty payload may have no storage
    size_t read = 0;
    size_t written = 0;
    return libdeflate_zlib_decompress_ex(decompressor.get(), compressed.data(), compressed.size(),
                                         rawSize != 0 ? payload.Data() : &none, static_cast<size_t>(rawSize), &read,
                                         &written) == LIBDEFLATE_SUCCESS &&
           read == compressed.size() && written == static_cast<size_t>(rawSize);
}

bool Fails(std::string& fault, const char* why)
{
    fault = why;
    return false;
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
        if (!blob.has_raw_size())
            return Fails(fault, "zlib data without a raw size");
        return Inflate(blob.zlib_data(), blob.raw_size(), payload) ||
               Fails(fault, "the zlib data does not inflate to its raw size");
    case OSMPBF::Blob::kLzmaData:
        return Fails(fault, "lzma compression is not supported");
    case OSMPBF::Blob::kOBSOLETEBzip2Data:
        return Fails(fault, "bzip2 compression is not supported");
    case OSMPBF::Blob::kLz4Data:
        return Fails(fault, "lz4 compression is not supported");
    case OSMPBF::Blob::kZstdData:
        return Fails(fault, "zstd compression is not supported");
    default:
        return Fails(fault, "unknown compression");
    }
}
