#include "common/OSM/BlobFrame.h"

#include <zlib.h>

#include "common/base/GrowArray.h"
#include "fileformat.pb.h"

namespace OSM {

namespace {

// The buffers for compressing and framing a blob, reused for all.
struct TCompressor {
    z_stream z{};
    bool ready = false;
    CGrowArray<uint8_t> compressed;
    OSMPBF::Blob blob;
    OSMPBF::BlobHeader header;
    std::string blobBytes, headerBytes;

    ~TCompressor()
    {
        if (ready)
            deflateEnd(&z);
    }

    void Frame(const std::string& message, const char* type, std::string& out)
    {
        if (!ready) {
            if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                ThrowBadAlloc();
            ready = true;
        } else {
            deflateReset(&z);  // as fresh as a new state
        }
        const uLong bound = compressBound(uLong(message.size()));
        compressed.Resize(bound);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(message.data()));
        z.avail_in = uInt(message.size());
        z.next_out = compressed.Data();
        z.avail_out = uInt(bound);
        deflate(&z, Z_FINISH);

        blob.Clear();
        blob.set_raw_size(int32_t(message.size()));
        blob.set_zlib_data(compressed.Data(), bound - z.avail_out);
        blob.SerializeToString(&blobBytes);
        header.Clear();
        header.set_type(type);
        header.set_datasize(int32_t(blobBytes.size()));
        header.SerializeToString(&headerBytes);
        const auto length = uint32_t(headerBytes.size());
        const char be[4] = {char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
        out.append(be, 4);
        out += headerBytes;
        out += blobBytes;
    }
};

}  // namespace


void AppendBlob(std::string& out, const std::string& message, const char* type)
{
    // Each thread keeps its own, as the blob worker's threads compress side by side.
    thread_local TCompressor compressor;
    compressor.Frame(message, type, out);
}

}  // namespace OSM
