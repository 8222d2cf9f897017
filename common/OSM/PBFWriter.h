// OSM PBF output: entities are buffered and written in blocks of 8000, or
// fewer when their encoding nears the size readers recommend.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/OSM/BlobWorker.h"
#include "common/OSM/DataWriter.h"
#include "common/streams/FileStream.h"
#include "fileformat.pb.h"
#include "osmformat.pb.h"

namespace OSM {

class CPBFWriter : public CDataWriter {
public:
    static constexpr uint32_t kBlockEntities = 8000;
    // The encoded block size readers recommend; a block is written before an
    // entity that could take it beyond. Only an entity larger than this alone
    // makes a larger block.
    static constexpr uint64_t kBlockBytes = uint64_t(16) << 20;
    // Readers refuse blobs of 32 MiB; the room left covers what deflate may
    // add to incompressible data and the blob's own fields.
    static constexpr uint64_t kMaxBlockBytes = (uint64_t(32) << 20) - (uint64_t(64) << 10);

    CPBFWriter();
    // Completes a file that was not closed; never throws.
    ~CPBFWriter() override;

    // Completes a file already open, then creates path. Its header blob,
    // which declares the file sorted by type then id, goes out with the
    // first block or at Close: callers write nodes, ways and relations, each
    // kind in IdBefore order (a block's nodes are put in that order anyway).
    // False when completing the old file fails, or the new one cannot be
    // created.
    bool Open(const std::string& path);
    // Writes the pending entities as a last block and closes the file; does
    // nothing when none is open. Throws TStreamException (kWrite) when that
    // fails; the file is closed and the pending entities dropped all the same.
    void Close();

    // Each buffers the entity; every kBlockEntities entities, before an entity
    // that could take the block beyond kBlockBytes, and after one that alone
    // could, the pending ones are written as a block. Throws TStreamException (kWrite) when that write
    // fails, and also, after printing why, when one entity alone encodes to
    // more than kMaxBlockBytes: the file then ends with the blocks before it.
    void WriteRelation(const TRelation& relation) override;
    void WriteWay(const TWay& way) override;
    void WriteNode(const TNode& node) override;

    // Writes the pending entities as a last block and hands it to the blob
    // worker without waiting for it; Close then waits. Lets a caller with
    // many files keep the worker busy while it completes the others. Throws
    // TStreamException (kWrite) as Close does, and leaves the file open.
    void Complete();

    // Close's second half, for a caller that completed the file: waits for
    // the blob worker and returns the stream, whose writing then rests with
    // the caller until Close. Throws what the last block's writing threw.
    CFileWriteStream& CompletedStream();

private:
    using TString = uint32_t;  // a string of the pending block, by number

    struct TEntry {  // what every kind buffers
        TId id;
        uint32_t firstTag, tagCount;  // into TScratch::tags
        int32_t version, uid;
        TString user;
        int64_t changeset, timestamp;
    };
    struct TNodeEntry : TEntry {
        CGeoPoint position;
    };
    struct TWayEntry : TEntry {
        uint64_t firstRef, refCount;  // into TScratch::refs
    };
    struct TMemberEntry {
        EEntityType type;
        TId ref;
        TString role;
    };
    struct TRelationEntry : TEntry {
        uint64_t firstMember, memberCount;  // into TScratch::members
    };
    struct TStringInfo {
        uint32_t offset, length;  // in the pool
        uint32_t uses;
        uint32_t hash;  // of the bytes, kept for growing m_slots
    };
    // What a block is built from. It goes whole to the blob worker, which
    // builds and compresses the block off the caller's thread.
    struct TPending {
        // One record of varints per entity, in the order written: a file
        // waiting for its next block holds a few bytes per entity.
        CGrowArray<uint8_t> records;
        std::string pool;
        CGrowArray<TStringInfo> strings;

        std::string_view View(TString s) const { return {pool.data() + strings[s].offset, strings[s].length}; }
        uint64_t Bytes() const { return records.Count() + pool.size() + sizeof(TStringInfo) * strings.Count(); }
    };
    // A pending block decoded, its string table order and its message:
    // shared by the blocks a thread builds, one at a time.
    struct TScratch;
    static TScratch& Scratch();

    TString Intern(std::string_view s);
    void GrowSlots();
    // Writes the pending block first when an entity of at most bytes could
    // take it beyond kBlockBytes, then counts them in.
    void MakeRoom(uint64_t bytes);
    // Appends the record head common to every kind; returns where the
    // kind's own fields go. room: an upper bound of those fields' bytes.
    uint8_t* PutHead(EEntityType type, const TEntity& entity, uint64_t room);
    void EndRecord(const uint8_t* end);
    // A block on its way to the file: built and compressed by the blob
    // worker, several side by side, and written in turn.
    struct TBlob {
        TPending pending;
        std::string message;  // built on the caller's thread instead, when not empty
        std::string framed;   // ready to write, when done out of turn
        bool header = false;  // the header blob goes first
        bool ready = false;   // framed, or failed
    };
    // Blocks of one file the workers may hold at once: a file that takes
    // most of the entities a while fills blocks faster than one thread
    // compresses them.
    static constexpr uint32_t kBlobsInFlight = 4;

    // Hands the pending entities to the blob worker as a block. Throws the
    // failure of a block before, once.
    void Flush(bool force);
    void Submit(std::unique_ptr<TBlob> blob);
    // On the worker: builds and compresses blob, then writes the blocks
    // that are ready, in file order, unless another thread is doing so.
    void Finish(TBlob& blob);
    // Builds and compresses blob into framed; returns what that threw.
    static std::exception_ptr Frame(TBlob& blob, std::string& framed);
    // Under m_order: the first failure drops the blocks after it.
    void Fail(std::exception_ptr error);
    // Returns once no job of this file is left.
    void WaitAll();
    // Rethrows the first failure of a block once; later blocks are dropped.
    void ThrowBlobError();
    // The message of a block that may be too large for readers, built on
    // the caller's thread so that it can be refused there: throws after
    // printing when it is.
    std::string BuildChecked(const TPending& pending);
    void DropPending();
    // The framed header blob.
    static const std::string& HeaderBlob();

    TPending m_pending;
    uint32_t m_pendingEntities = 0;
    // Each record's id, changeset, timestamp and position are deltas to the
    // record's before.
    int64_t m_lastId = 0, m_lastChangeset = 0, m_lastTimestamp = 0;
    int32_t m_lastX = 0, m_lastY = 0;

    // Open addressing over the pending strings, a power of two long (or
    // empty), at most half full; kFreeSlot where free.
    static constexpr uint32_t kFreeSlot = UINT32_MAX;
    CGrowArray<uint32_t> m_slots;

    // At least the encoded size of the pending block, with its strings.
    uint64_t m_pendingBytes = 0;
    std::string m_path;

    // Block n has ticket n % kBlobsInFlight.
    std::array<CBlobWorker::TTicket, kBlobsInFlight> m_tickets;
    uint64_t m_blobsSubmitted = 0;
    // Written by the blob worker while a ticket is busy.
    CFileWriteStream m_stream;
    bool m_headerDue = false;  // no blob has been handed over since Open
    std::mutex m_order;        // guards the four below
    // In file order; a few at most, and nothing held while empty, as most
    // files of a pass are.
    std::vector<std::unique_ptr<TBlob>> m_inFlight;
    bool m_writing = false;    // a worker is writing the ready ones
    bool m_dropping = false;   // a block failed: the file ends before it
    std::exception_ptr m_blobError;  // not yet thrown
};

}  // namespace OSM
