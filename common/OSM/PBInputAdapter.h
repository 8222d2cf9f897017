// Blob framing of an OSM PBF file, over the program's own read streams.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message_lite.h>

#include "common/base/GrowArray.h"
#include "common/streams/Stream.h"
#include "fileformat.pb.h"

// Parses a message of at most a blob's size; false when the bytes are no such
// message or lack a required field. Quiet, unlike the runtime's checked parse.
bool ParseMessage(google::protobuf::MessageLite& message, const uint8_t* data, uint64_t size);

// Hands the stream's window to the protobuf runtime without copying, and
// reads the file one blob at a time into a payload buffer that is reused from
// blob to blob. The stream is not owned.
class CPBInputAdapter : public google::protobuf::io::ZeroCopyInputStream {
public:
    CPBInputAdapter() = default;
    // Frames the blobs of a stream whose header another adapter checked: a
    // second reader of the same file, such as the read-ahead.
    explicit CPBInputAdapter(CReadStream& stream) : m_stream(&stream) {}

    // Blob limits of the format; larger values mark a malformed blob.
    static constexpr uint32_t kMaxBlobHeaderSize = 0x10000;
    static constexpr int32_t kMaxBlobSize = 0x2000000;

    // Zero-copy interface. A stream failure counts as the end of the stream.
    bool Next(const void** data, int* size) override;
    void BackUp(int count) override;
    bool Skip(int count) override;
    int64_t ByteCount() const override;

    // Attaches the stream and reads and checks the header blob at its current
    // position. False, with Fault() saying why, when the first blob is
    // missing or malformed, is not an "OSMHeader", or requires a feature
    // other than "OsmSchema-V0.6" and "DenseNodes"; and when the file starts
    // as another format does, which OtherFormat() then names. The stream then
    // stands after the header blob.
    bool Open(CReadStream& stream);
    // The format that the file Open refused looks like from its first bytes
    // ("OSM XML", "o5m", ...), or null when it may be PBF.
    const char* OtherFormat() const { return m_otherFormat; }
    // Whether the header declares the optional feature "LocationsOnWays": its
    // ways carry the locations of their nodes, and it may lack the nodes.
    bool LocationsOnWays() const { return m_locationsOnWays; }

    // Notes that the readers left count older versions of objects out of the
    // block whose blob starts at offset; the same block noted again counts
    // once. OlderVersions() is the sum over the blocks noted.
    void NoteOlderVersions(uint64_t offset, uint32_t count) { m_olderVersions[offset] = count; }
    uint64_t OlderVersions() const;

    // Reads the blob at the stream's position into BlobType() and Payload().
    // True: the stream stands right after the blob. False with error clear:
    // the stream was at its end. False with error set: the blob is malformed
    // (a limit exceeded, a bad message, a compression this program cannot
    // read, zlib data that does not inflate to exactly raw_size bytes) or
    // the file ends inside it; BlobType() and Payload() are then undefined,
    // and Fault() says what was wrong. Stream failures never leave;
    // TBadAlloc does.
    bool ReadBlob(bool& error);
    // As ReadBlob, but leaves the data undecoded in RawBlob(), for
    // DecodeBlob to inflate elsewhere; Payload() is untouched.
    bool ReadRawBlob(bool& error);
    // Decodes the data of blob into payload. False, with fault saying why,
    // when it is malformed as ReadBlob describes. Throws only TBadAlloc.
    static bool DecodeBlob(const OSMPBF::Blob& blob, CGrowArray<uint8_t>& payload, std::string& fault);
    // Steps over the blob at the stream's position, reading only its
    // length and header into BlobType(): as ReadBlob, without inflating or
    // checking the data, and with Payload() untouched.
    bool SkipBlob(bool& error);

    // Where the blob read last starts in the stream: the data that the
    // reader decodes, or the blob that failed.
    uint64_t BlobOffset() const { return m_blobOffset; }
    // For a reader that has the blobs framed elsewhere: the blob whose data
    // it decodes now.
    void SetBlobOffset(uint64_t offset) { m_blobOffset = offset; }
    // What was malformed, for the last failed ReadBlob or Open.
    const std::string& Fault() const { return m_fault; }

    const std::string& BlobType() const { return m_blobType; }
    const CGrowArray<uint8_t>& Payload() const { return m_payload; }
    OSMPBF::Blob& RawBlob() { return m_blob; }
    CReadStream& Stream() { return *m_stream; }

private:
    bool Frame(bool& error, bool (CPBInputAdapter::*body)());
    // Reads the length and the BlobHeader, leaving the stream at the Blob.
    bool ReadBlobHeader();
    bool ReadBlobBody();
    bool ReadRawBlobBody();
    bool SkipBlobBody();
    // Records what was malformed and returns false.
    bool Malformed(std::string fault);

    CReadStream* m_stream = nullptr;
    uint64_t m_blobOffset = 0;
    const char* m_otherFormat = nullptr;
    bool m_locationsOnWays = false;
    std::map<uint64_t, uint32_t> m_olderVersions;  // by blob offset
    std::string m_fault;
    std::string m_blobType;
    CGrowArray<uint8_t> m_payload;
    // Kept between blobs so that their storage is reused.
    OSMPBF::BlobHeader m_header;
    OSMPBF::Blob m_blob;
};
