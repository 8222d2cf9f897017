// OSM PBF output: entities are buffered and written in blocks of 8000, or
// fewer when their encoding nears the size readers recommend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "common/OSM/BlobWorker.h"
#include "common/OSM/DataWriter.h"
#include "common/streams/FileStream.h"
#include "common/streams/PoolAllocator.h"
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

    // Completes a file already open, then creates path and writes the header
    // blob, which declares the file sorted by type then id: callers write
    // nodes, ways and relations, each kind in IdBefore order (a block's nodes
    // are put in that order anyway). False when
    // completing the old file fails, or the new one cannot be created or its
    // header written.
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

private:
    using TString = uint32_t;  // a string of the pending block, by number

    struct TEntry {  // what every kind buffers
        TId id;
        uint32_t firstTag, tagCount;  // into m_tags
        int32_t version, uid;
        TString user;
        int64_t changeset, timestamp;
    };
    struct TNodeEntry : TEntry {
        CGeoPoint position;
    };
    struct TWayEntry : TEntry {
        uint64_t firstRef, refCount;  // into m_refs
    };
    struct TMemberEntry {
        EEntityType type;
        TId ref;
        TString role;
    };
    struct TRelationEntry : TEntry {
        uint64_t firstMember, memberCount;  // into m_members
    };
    struct TStringInfo {
        uint32_t offset, length;  // in m_pool
        uint32_t uses;
        uint32_t index;  // in the block's string table, once built
    };
    // Orders strings byte for byte: strings that differ only in case stay apart.
    struct CByBytes {
        using is_transparent = void;
        const std::string* pool;
        const CGrowArray<TStringInfo>* strings;
        std::string_view View(TString s) const
        {
            const TStringInfo& info = (*strings)[s];
            return {pool->data() + info.offset, info.length};
        }
        bool operator()(TString a, TString b) const { return View(a) < View(b); }
        bool operator()(TString a, std::string_view b) const { return View(a) < b; }
        bool operator()(std::string_view a, TString b) const { return a < View(b); }
    };
    // Room for one tree node of the dictionary; allocate checks that it fits.
    static constexpr size_t kDictionaryNodeBytes = 40;
    using CDictionaryPool = CPoolAllocator<kDictionaryNodeBytes>;
    // Takes the dictionary's nodes from the pool, one at a time.
    template <typename T>
    struct CDictionaryAllocator {
        using value_type = T;
        CDictionaryPool* pool;

        explicit CDictionaryAllocator(CDictionaryPool* p) : pool(p) {}
        template <typename U>
        CDictionaryAllocator(const CDictionaryAllocator<U>& other) : pool(other.pool)
        {
        }
        T* allocate(size_t n)
        {
            static_assert(sizeof(T) <= kDictionaryNodeBytes && kDictionaryNodeBytes % alignof(T) == 0);
            if (n != 1)
                ThrowBadAlloc();
            return static_cast<T*>(pool->Allocate());
        }
        void deallocate(T* p, size_t) { pool->Free(p); }
        template <typename U>
        bool operator==(const CDictionaryAllocator<U>& other) const
        {
            return pool == other.pool;
        }
    };

    TString Intern(std::string_view s);
    // Writes the pending block first when an entity of at most bytes could
    // take it beyond kBlockBytes, then counts them in.
    void MakeRoom(uint64_t bytes);
    TEntry MakeEntry(const TEntity& entity);
    void Flush(bool force);
    // Throws after printing when the block m_block of a single entity is too
    // large for readers.
    void CheckBlockSize();
    void BuildStringTable();
    void DropPending();
    // Serializes message and hands it to the blob worker; the blob before it
    // must be written first, and its failure is thrown here.
    void WriteBlob(const google::protobuf::MessageLite& message, const char* type);
    // On the worker: compresses m_jobMessage and appends the blob to the file.
    void CompressAndWrite(const char* type);

    CGrowArray<TNodeEntry> m_nodes;
    CGrowArray<TWayEntry> m_ways;
    CGrowArray<TRelationEntry> m_relations;
    CGrowArray<std::pair<TString, TString>> m_tags;
    CGrowArray<TId> m_refs;
    CGrowArray<TMemberEntry> m_members;

    std::string m_pool;
    CGrowArray<TStringInfo> m_strings;
    CDictionaryPool m_dictionaryNodes{1638};
    std::set<TString, CByBytes, CDictionaryAllocator<TString>> m_dictionary;

    // At least the encoded size of the pending block, with its strings.
    uint64_t m_pendingBytes = 0;
    std::string m_path;

    OSMPBF::PrimitiveBlock m_block;
    std::string m_message;

    // Owned by the blob worker while m_ticket is busy.
    CBlobWorker::TTicket m_ticket;
    CFileWriteStream m_stream;
    OSMPBF::Blob m_blob;
    OSMPBF::BlobHeader m_blobHeader;
    std::string m_jobMessage, m_header, m_blobBytes;
    CGrowArray<uint8_t> m_compressed;
    CGrowArray<uint32_t> m_order;
};

}  // namespace OSM
