// OSM PBF output: entities are buffered and written in blocks of 8000.
#pragma once

#include <cstdint>
#include <set>
#include <memory_resource>
#include <string>
#include <string_view>

#include "common/OSM/DataWriter.h"
#include "common/streams/FileStream.h"
#include "fileformat.pb.h"
#include "osmformat.pb.h"

namespace OSM {

class CPBFWriter : public CDataWriter {
public:
    static constexpr uint32_t kBlockEntities = 8000;

    CPBFWriter();
    // Completes a file that was not closed; never throws.
    ~CPBFWriter() override;

    // Creates path and writes the header blob. False when the file cannot be
    // created or the header written.
    bool Open(const std::string& path);
    // Writes the pending entities as a last block and closes; throws
    // TStreamException (kWrite) on failure.
    void Close();

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
        std::string_view View(const TStringInfo& s) const { return {pool->data() + s.offset, s.length}; }
        bool operator()(uint32_t a, uint32_t b) const;
        bool operator()(uint32_t a, std::string_view b) const;
        bool operator()(std::string_view a, uint32_t b) const;
        const CGrowArray<TStringInfo>* strings;
    };

    TString Intern(std::string_view s);
    TEntry MakeEntry(const TEntity& entity);
    void Flush(bool force);
    void BuildStringTable();
    void WriteBlob(const google::protobuf::MessageLite& message, const char* type);
    std::string_view View(TString s) const { return {m_pool.data() + m_strings[s].offset, m_strings[s].length}; }

    CGrowArray<TNodeEntry> m_nodes;
    CGrowArray<TWayEntry> m_ways;
    CGrowArray<TRelationEntry> m_relations;
    CGrowArray<std::pair<TString, TString>> m_tags;
    CGrowArray<TId> m_refs;
    CGrowArray<TMemberEntry> m_members;

    std::string m_pool;
    CGrowArray<TStringInfo> m_strings;
    std::pmr::unsynchronized_pool_resource m_dictionaryNodes;
    std::pmr::set<uint32_t, CByBytes> m_dictionary;

    CFileWriteStream m_stream;
    OSMPBF::PrimitiveBlock m_block;
    OSMPBF::Blob m_blob;
    OSMPBF::BlobHeader m_blobHeader;
    std::string m_message, m_header, m_blobBytes;
    CGrowArray<uint8_t> m_compressed;
    CGrowArray<uint32_t> m_order;
};

}  // namespace OSM
