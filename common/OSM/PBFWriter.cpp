#include "common/OSM/PBFWriter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <zlib.h>

#include "common/OSM/Banner.h"
#include "common/OSM/BlobWorker.h"

namespace OSM {

namespace {

// Degrees x 10^7 from map units, rounded half away from zero: with the
// default granularity a reader gets back exactly the same units.
int64_t ToNanoUnits(int32_t units)
{
    int64_t scaled = int64_t(units) * 10000000;
    return scaled > 0 ? (scaled + (1 << 22)) >> 23 : -(((int64_t(1) << 22) - scaled) >> 23);
}

int64_t Seconds(int64_t milliseconds) { return milliseconds / 1000; }

// Upper bounds of encoded sizes. Every field number here takes one byte, and
// a length prefix at most five.
constexpr uint64_t kFieldHead = 6;
constexpr uint64_t kVarint = 10;
// The string table's head and empty string, and the heads of the groups and
// of the dense nodes' arrays.
constexpr uint64_t kBlockHead = 128;
// A way's or relation's head, id, key and value arrays and info.
constexpr uint64_t kEntityHead = kFieldHead + 1 + kVarint + 2 * kFieldHead + kFieldHead + 4 * (1 + kVarint) + 6;
// A dense node: id, lat, lon, the five info values and its tag list's end.
constexpr uint64_t kDenseNode = 8 * kVarint + 1;
constexpr uint64_t kTag = 10;  // key and value index

uint64_t ZigZagBytes(int64_t value)
{
    uint64_t v = uint64_t(value) << 1 ^ uint64_t(value >> 63), bytes = 1;
    for (; v >= 0x80; v >>= 7)
        ++bytes;
    return bytes;
}

// A string table entry for each use: strings met again are counted again.
uint64_t StringBytes(std::string_view s) { return kFieldHead + s.size(); }

uint64_t TagBytes(const TEntity& entity)
{
    uint64_t bytes = StringBytes(entity.info.user);
    for (const TTag& tag : entity.tags)
        bytes += kTag + StringBytes(tag.key) + StringBytes(tag.value);
    return bytes;
}

}  // namespace

CPBFWriter::CPBFWriter()
    : m_dictionary(CByBytes{&m_pool, &m_strings}, CDictionaryAllocator<TString>(&m_dictionaryNodes)),
      m_stream(65536)
{
}

CPBFWriter::~CPBFWriter()
{
    try {
        Close();
    } catch (...) {
        // A file abandoned on an error path; that error is the one reported.
    }
    try {
        CBlobWorker::Instance().Wait(m_ticket);  // no job may outlive its buffers
    } catch (...) {
    }
}

bool CPBFWriter::Open(const std::string& path)
{
    try {
        Close();
        if (!m_stream.Open(path))
            return false;
        m_path = path;
        OSMPBF::HeaderBlock header;
        header.add_required_features("OsmSchema-V0.6");
        header.add_required_features("DenseNodes");
        header.add_optional_features("Sort.Type_then_ID");
        header.set_writingprogram(kBanner);
        WriteBlob(header, "OSMHeader");
        CBlobWorker::Instance().Wait(m_ticket);
        return true;
    } catch (const TStreamException&) {
        return false;
    }
}

void CPBFWriter::Close()
{
    if (!m_stream.IsOpen())
        return;
    try {
        Flush(true);
        CBlobWorker::Instance().Wait(m_ticket);
    } catch (const TStreamException&) {
        DropPending();
        try {
            m_stream.Close();
        } catch (const TStreamException&) {
            // The first failure is the one to report.
        }
        throw;
    }
    m_stream.Close();
}

CPBFWriter::TString CPBFWriter::Intern(std::string_view s)
{
    auto at = m_dictionary.lower_bound(s);
    if (at != m_dictionary.end() && !m_dictionary.key_comp()(s, *at)) {
        ++m_strings[*at].uses;
        return *at;
    }
    TString id = TString(m_strings.Count());
    m_strings.PushBack({uint32_t(m_pool.size()), uint32_t(s.size()), 1, 0});
    m_pool.append(s);
    m_dictionary.emplace_hint(at, id);
    return id;
}

void CPBFWriter::MakeRoom(uint64_t bytes)
{
    if (kBlockHead + m_pendingBytes + bytes > kBlockBytes)
        Flush(true);
    m_pendingBytes += bytes;
}

CPBFWriter::TEntry CPBFWriter::MakeEntry(const TEntity& entity)
{
    TEntry entry{entity.id,
                 uint32_t(m_tags.Count()),
                 uint32_t(entity.tags.Count()),
                 WritableVersion(entity.info.version),
                 WritableUid(entity.info.uid),
                 Intern(entity.info.user),
                 WritableChangeset(entity.info.changeset),
                 entity.info.timestamp};
    for (const TTag& tag : entity.tags) {
        TString key = Intern(tag.key);
        m_tags.PushBack({key, Intern(tag.value)});
    }
    return entry;
}

void CPBFWriter::WriteNode(const TNode& node)
{
    MakeRoom(kDenseNode + TagBytes(node));
    TNodeEntry entry;
    static_cast<TEntry&>(entry) = MakeEntry(node);
    entry.position = node.position;
    m_nodes.PushBack(entry);
    Flush(false);
}

void CPBFWriter::WriteWay(const TWay& way)
{
    uint64_t bytes = kEntityHead + TagBytes(way) + kFieldHead;
    TId last = 0;
    for (TId ref : way.nodeRefs) {
        bytes += ZigZagBytes(int64_t(uint64_t(ref) - uint64_t(last)));
        last = ref;
    }
    MakeRoom(bytes);
    TWayEntry entry;
    static_cast<TEntry&>(entry) = MakeEntry(way);
    entry.firstRef = m_refs.Count();
    entry.refCount = way.nodeRefs.Count();
    m_refs.Append(way.nodeRefs.Data(), way.nodeRefs.Count());
    m_ways.PushBack(entry);
    Flush(false);
}

void CPBFWriter::WriteRelation(const TRelation& relation)
{
    // Roles are string indices, types enum values of one or two bytes.
    uint64_t bytes = kEntityHead + TagBytes(relation) + 3 * kFieldHead;
    TId last = 0;
    for (const TMember& member : relation.members) {
        bytes += 5 + StringBytes(member.role) + ZigZagBytes(int64_t(uint64_t(member.ref) - uint64_t(last))) + 2;
        last = member.ref;
    }
    MakeRoom(bytes);
    TRelationEntry entry;
    static_cast<TEntry&>(entry) = MakeEntry(relation);
    entry.firstMember = m_members.Count();
    entry.memberCount = relation.members.Count();
    for (const TMember& member : relation.members)
        m_members.PushBack({member.type, member.ref, Intern(member.role)});
    m_relations.PushBack(entry);
    Flush(false);
}

// Index 0 is the empty string; the 126 most used strings get the one-byte
// indices 1 to 126, each part in byte order.
void CPBFWriter::BuildStringTable()
{
    constexpr uint64_t kOneByteIndices = 126;
    const CByBytes byBytes = m_dictionary.key_comp();
    m_order.Clear();
    const uint64_t n = m_strings.Count();
    if (n <= kOneByteIndices) {
        for (TString s : m_dictionary)  // already in byte order
            m_order.PushBack(s);
    } else {
        for (TString s = 0; s < n; ++s)
            m_order.PushBack(s);
        TString* head = m_order.begin() + kOneByteIndices;
        std::nth_element(m_order.begin(), head, m_order.end(),
                         [this](TString a, TString b) { return m_strings[a].uses > m_strings[b].uses; });
        std::sort(m_order.begin(), head, byBytes);
        std::sort(head, m_order.end(), byBytes);
    }
    OSMPBF::StringTable* table = m_block.mutable_stringtable();
    table->add_s();
    for (uint64_t i = 0; i < n; ++i) {
        m_strings[m_order[i]].index = uint32_t(i + 1);
        std::string_view s = byBytes.View(m_order[i]);
        table->add_s()->assign(s.data(), s.size());
    }
}

void CPBFWriter::Flush(bool force)
{
    uint64_t pending = m_nodes.Count() + m_ways.Count() + m_relations.Count();
    if (pending == 0 || (!force && pending < kBlockEntities && kBlockHead + m_pendingBytes <= kBlockBytes))
        return;
    m_block.Clear();
    BuildStringTable();
    auto index = [this](TString s) { return m_strings[s].index; };

    if (!m_nodes.Empty()) {
        auto byId = [](const TNodeEntry& a, const TNodeEntry& b) { return IdBefore(a.id, b.id); };
        if (!std::is_sorted(m_nodes.begin(), m_nodes.end(), byId))
            std::sort(m_nodes.begin(), m_nodes.end(), byId);
        OSMPBF::DenseNodes* dense = m_block.add_primitivegroup()->mutable_dense();
        OSMPBF::DenseInfo* info = dense->mutable_denseinfo();
        int64_t id = 0, lat = 0, lon = 0, timestamp = 0, changeset = 0;
        int32_t uid = 0, user = 0;
        bool tagged = false;
        for (uint64_t i = 0; i < m_nodes.Count(); ++i) {
            const TNodeEntry& n = m_nodes[i];
            dense->add_id(n.id - id);
            id = n.id;
            int64_t la = ToNanoUnits(n.position.y), lo = ToNanoUnits(n.position.x);
            dense->add_lat(la - lat);
            dense->add_lon(lo - lon);
            lat = la, lon = lo;
            info->add_version(n.version);
            info->add_timestamp(Seconds(n.timestamp) - timestamp);
            timestamp = Seconds(n.timestamp);
            info->add_changeset(n.changeset - changeset);
            changeset = n.changeset;
            info->add_uid(n.uid - uid);
            uid = n.uid;
            int32_t u = int32_t(index(n.user));
            info->add_user_sid(u - user);
            user = u;
            if (n.tagCount != 0 && !tagged) {
                // keys_vals starts with the first tagged node: a 0 for each one before.
                tagged = true;
                for (uint64_t k = 0; k < i; ++k)
                    dense->add_keys_vals(0);
            }
            if (tagged) {
                for (uint32_t t = n.firstTag; t < n.firstTag + n.tagCount; ++t) {
                    dense->add_keys_vals(int32_t(index(m_tags[t].first)));
                    dense->add_keys_vals(int32_t(index(m_tags[t].second)));
                }
                dense->add_keys_vals(0);
            }
        }
    }
    auto fill = [&](const TEntry& e, auto* message) {
        message->set_id(e.id);
        // Messages are recycled for entities of other sizes: grow each field once.
        message->mutable_keys()->Reserve(int(e.tagCount));
        message->mutable_vals()->Reserve(int(e.tagCount));
        for (uint32_t t = e.firstTag; t < e.firstTag + e.tagCount; ++t) {
            message->add_keys(index(m_tags[t].first));
            message->add_vals(index(m_tags[t].second));
        }
        OSMPBF::Info* info = message->mutable_info();
        info->set_version(e.version);
        info->set_timestamp(Seconds(e.timestamp));
        info->set_changeset(e.changeset);
        info->set_uid(e.uid);
        info->set_user_sid(index(e.user));
    };
    if (!m_ways.Empty()) {
        OSMPBF::PrimitiveGroup* group = m_block.add_primitivegroup();
        for (const TWayEntry& w : m_ways) {
            OSMPBF::Way* way = group->add_ways();
            fill(w, way);
            way->mutable_refs()->Reserve(int(w.refCount));
            TId last = 0;
            for (uint64_t r = w.firstRef; r < w.firstRef + w.refCount; ++r) {
                way->add_refs(m_refs[r] - last);
                last = m_refs[r];
            }
        }
    }
    if (!m_relations.Empty()) {
        OSMPBF::PrimitiveGroup* group = m_block.add_primitivegroup();
        for (const TRelationEntry& r : m_relations) {
            OSMPBF::Relation* relation = group->add_relations();
            fill(r, relation);
            relation->mutable_roles_sid()->Reserve(int(r.memberCount));
            relation->mutable_memids()->Reserve(int(r.memberCount));
            relation->mutable_types()->Reserve(int(r.memberCount));
            TId last = 0;
            for (uint64_t m = r.firstMember; m < r.firstMember + r.memberCount; ++m) {
                const TMemberEntry& member = m_members[m];
                relation->add_roles_sid(int32_t(index(member.role)));
                relation->add_memids(member.ref - last);
                last = member.ref;
                relation->add_types(OSMPBF::Relation::MemberType(member.type));
            }
        }
    }
    if (kBlockHead + m_pendingBytes > kMaxBlockBytes)
        CheckBlockSize();
    WriteBlob(m_block, "OSMData");
    // A pass keeps hundreds of writers open: the block's messages would hold
    // megabytes each between blocks.
    OSMPBF::PrimitiveBlock().Swap(&m_block);
    DropPending();
}

void CPBFWriter::CheckBlockSize()
{
    const uint64_t bytes = m_block.ByteSizeLong();
    if (bytes <= kMaxBlockBytes)
        return;
    // Only a single entity can come this far: a block is written before one
    // that could take it beyond kBlockBytes.
    const char* kind = !m_nodes.Empty() ? "node" : !m_ways.Empty() ? "way" : "relation";
    const TId id = !m_nodes.Empty() ? m_nodes[0].id : !m_ways.Empty() ? m_ways[0].id : m_relations[0].id;
    std::printf("%s: %s %" PRId64 " takes %" PRIu64 " bytes, more than a PBF block may hold\n", m_path.c_str(), kind,
                id, bytes);
    OSMPBF::PrimitiveBlock().Swap(&m_block);
    DropPending();
    throw TStreamException{TStreamException::kWrite, 0};
}

void CPBFWriter::DropPending()
{
    m_pendingBytes = 0;
    m_nodes.Clear();
    m_ways.Clear();
    m_relations.Clear();
    m_tags.Clear();
    m_refs.Clear();
    m_members.Clear();
    m_dictionary.clear();
    m_strings.Clear();
    m_pool.clear();
}

void CPBFWriter::WriteBlob(const google::protobuf::MessageLite& message, const char* type)
{
    message.SerializeToString(&m_message);
    CBlobWorker& worker = CBlobWorker::Instance();
    worker.Wait(m_ticket);  // the blob before is written: its buffers are free
    m_jobMessage.swap(m_message);
    worker.Submit(m_ticket, [this, type] { CompressAndWrite(type); });
}

void CPBFWriter::CompressAndWrite(const char* type)
{
    uLong bound = compressBound(uLong(m_jobMessage.size()));
    m_compressed.Resize(bound);
    // A fresh deflate state per blob: idle outputs of a pass then hold no
    // compressor state, which is a quarter megabyte each.
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        ThrowBadAlloc();
    z.next_in = reinterpret_cast<Bytef*>(m_jobMessage.data());
    z.avail_in = uInt(m_jobMessage.size());
    z.next_out = m_compressed.Data();
    z.avail_out = uInt(bound);
    deflate(&z, Z_FINISH);
    uint64_t compressed = bound - z.avail_out;
    deflateEnd(&z);

    m_blob.Clear();
    m_blob.set_raw_size(int32_t(m_jobMessage.size()));
    m_blob.set_zlib_data(m_compressed.Data(), compressed);
    m_blob.SerializeToString(&m_blobBytes);
    m_blobHeader.Clear();
    m_blobHeader.set_type(type);
    m_blobHeader.set_datasize(int32_t(m_blobBytes.size()));
    m_blobHeader.SerializeToString(&m_header);
    uint32_t length = uint32_t(m_header.size());
    const uint8_t be[4] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
    m_stream.Write(be, 4);
    m_stream.Write(m_header.data(), m_header.size());
    m_stream.Write(m_blobBytes.data(), m_blobBytes.size());
    // Hundreds of idle writers should not each keep a block's bytes.
    std::string().swap(m_jobMessage);
}

}  // namespace OSM
