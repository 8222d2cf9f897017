// The data blocks of an OSM PBF file, read, inflated and parsed a few blocks
// ahead of their use.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/OSM/BlockVersions.h"
#include "common/OSM/PBInputAdapter.h"
#include "osmformat.pb.h"

namespace OSM {

// Blocks read ahead by default. Each holds a parsed block of a few MB, and
// the reading thread only has to keep pace; a second block smooths the
// blocks that take the caller long.
constexpr uint32_t kReadAheadBlocks = 2;

// One "OSMData" block and where it lies in the stream.
struct TDataBlock {
    uint64_t start = 0;       // where reading for it began: the end of the data block before, or the seek target
    uint64_t blobOffset = 0;  // where its own blob starts
    uint64_t end = 0;         // the stream position right after its blob
    OSMPBF::PrimitiveBlock block;
};

// Delivers the "OSMData" blocks of a blob source in file order, skipping
// blobs of other types. With depth 0 the caller's thread reads each block
// when it is asked for; otherwise threads of their own read up to depth
// blocks ahead: one at a time frames the next blob, each inflates and parses
// the blobs it framed. Either way the caller gets the same blocks, and meets
// a malformed blob at the same block: what was read ahead of the caller is
// never seen by it. While this object lives its threads may use the source's
// stream: move only through Seek. The source's BlobOffset follows the block
// delivered last.
// Every block comes without the older versions of objects (see
// BlockVersions.h), its last entity too when the next data block starts
// with it (a data block without entities between the two keeps it); their
// count goes to the source's NoteOlderVersions. So a block is delivered once
// the one after it is read, unless this object delivered it before: then
// what came after it is known, and a seek back to it, as the rereading of
// chosen blocks does, costs the one block.
class CReadAhead {
public:
    // Starts reading at start, a blob boundary of source's stream, with
    // threads threads (at least one, at most depth or a thread a core) when
    // depth is not 0. A second thread pays where the caller does little with
    // each block; elsewhere it only holds more memory.
    CReadAhead(CPBInputAdapter& source, uint64_t start, uint32_t depth, uint32_t threads = 1);
    CReadAhead(const CReadAhead&) = delete;
    CReadAhead& operator=(const CReadAhead&) = delete;
    // Waits for a block being read to be done.
    ~CReadAhead();

    // The next data block, valid until the next Next or Seek; nullptr at the
    // end of the input. Throws CDataReader::CBadFileException when the blob
    // is malformed or its payload is no PrimitiveBlock, and std::bad_alloc;
    // a failed or ended reading stays so until Seek.
    const TDataBlock* Next();
    // Drops what was read ahead and goes on at offset, a blob boundary.
    // Throws TStreamException when the stream cannot go there; Next then
    // throws it too.
    void Seek(uint64_t offset);
    // The stream position after the block delivered last, or the start or
    // seek target before the first: how far the caller has read.
    uint64_t Position() const { return m_position; }

private:
    struct TSlot {
        TDataBlock data;
        OSMPBF::Blob blob;              // as framed, still compressed
        std::exception_ptr error;       // the reading failed: at this block it stops
        bool last = false;              // the end of the input or a failure
        uint32_t kinds = 0;             // of the blocks parsed into data.block since it was made
        uint64_t sequence = 0;          // in file order, from the start or the last seek
        TBlockEntities entities;        // of the block as decoded
    };

    // Reads the next "OSMData" blob into slot, or the end of the input, or
    // the failure that stops the reading.
    void Frame(TSlot& slot);
    // Inflates and parses what Frame read, or records why that failed.
    // payload is the calling thread's: what it holds is only needed while
    // the block is parsed.
    void Decode(TSlot& slot, CGrowArray<uint8_t>& payload);
    // Whether the block whose blob starts at offset was delivered before,
    // and with it whether the next block repeats its last entity.
    bool Settled(uint64_t offset) const { return offset >= m_settledFrom && offset < m_settledTo; }
    // Whether slot must wait for the block after it to be delivered.
    bool NeedsNext(const TSlot& slot) const
    {
        return !slot.last && slot.entities.last && !Settled(slot.data.blobOffset);
    }
    // next: the slot after the current one when NeedsNext, else null.
    const TDataBlock* Deliver(const TSlot* next);
    void Run();

    CPBInputAdapter& m_source;
    // Frames the blobs on the reading threads, so that the source's own
    // state stays the caller's.
    CPBInputAdapter m_framer;
    CGrowArray<uint8_t> m_payload;  // the caller's, when no thread reads ahead
    std::atomic<uint32_t> m_lastKinds = 0;  // of the block parsed last
    std::vector<std::unique_ptr<TSlot>> m_slots;
    TSlot* m_current = nullptr;  // the caller's
    uint64_t m_position = 0;
    std::exception_ptr m_seekFailure;
    bool m_peeked = false;  // without threads: m_slots[1] holds the next block
    // The stream range of the blocks delivered in one run of reading, each
    // with the block after it read; and the blob offsets of those whose
    // last entity the next block repeats, sorted.
    uint64_t m_settledFrom = 0, m_settledTo = 0;
    std::vector<uint64_t> m_repeatedLast;

    // Shared with the reading threads, under m_mutex. They touch the stream
    // only while framing, one at a time.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<TSlot*> m_ready;  // decoded, in any order
    std::vector<TSlot*> m_free;
    uint64_t m_framed = 0;      // the sequence number of the next blob framed
    uint64_t m_delivered = 0;   // and of the next one delivered
    bool m_ended = false;       // the last slot framed was the last
    bool m_paused = false;      // a seek is under way, or failed
    bool m_framing = false;
    uint32_t m_busy = 0;        // threads framing or decoding
    bool m_quit = false;
    std::vector<std::thread> m_threads;
};

}  // namespace OSM
