#include "tests/support/PbfBuilder.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <random>
#include <stdexcept>

#include <lz4.h>
#include <zlib.h>
#include <zstd.h>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"

namespace test {

OSMPBF::Blob MakeBlob(std::string_view payload, ECompression compression)
{
    OSMPBF::Blob blob;
    if (compression == ECompression::kRaw) {
        blob.set_raw(std::string(payload));
        return blob;
    }
    std::string out(compressBound(static_cast<uLong>(payload.size())) + ZSTD_compressBound(payload.size()), '\0');
    uLongf size = out.size();
    if (compression == ECompression::kZstd)
        size = ZSTD_compress(out.data(), size, payload.data(), payload.size(), 3);
    else if (compression == ECompression::kLz4)
        size = LZ4_compress_default(payload.data(), out.data(), int(payload.size()), int(size));
    else if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(payload.data()),
                      static_cast<uLong>(payload.size())) != Z_OK)
        throw std::runtime_error("compress failed");
    out.resize(size);
    blob.set_raw_size(static_cast<int32_t>(payload.size()));
    if (compression == ECompression::kZstd)
        blob.set_zstd_data(out);
    else if (compression == ECompression::kLz4)
        blob.set_lz4_data(out);
    else
        blob.set_zlib_data(out);
    return blob;
}

std::string FrameBlob(std::string_view type, const OSMPBF::Blob& blob, std::optional<int32_t> dataSize)
{
    std::string body = blob.SerializeAsString();
    OSMPBF::BlobHeader header;
    header.set_type(std::string(type));
    header.set_datasize(dataSize.value_or(static_cast<int32_t>(body.size())));
    std::string head = header.SerializeAsString();
    uint32_t n = static_cast<uint32_t>(head.size());
    return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + head + body;
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

OSMPBF::PrimitiveBlock DenseBlock(const std::vector<TTestNode>& nodes)
{
    OSMPBF::PrimitiveBlock block;
    OSMPBF::DenseNodes& dense = *block.add_primitivegroup()->mutable_dense();
    StringIndex(block, "");
    const bool tagged = std::any_of(nodes.begin(), nodes.end(), [](const TTestNode& n) { return !n.tags.empty(); });
    TTestNode last;
    for (const TTestNode& node : nodes) {
        dense.add_id(node.id - last.id);
        dense.add_lat(node.lat - last.lat);
        dense.add_lon(node.lon - last.lon);
        last = node;
        for (const auto& [key, value] : node.tags) {
            dense.add_keys_vals(static_cast<int32_t>(StringIndex(block, key)));
            dense.add_keys_vals(static_cast<int32_t>(StringIndex(block, value)));
        }
        if (tagged)
            dense.add_keys_vals(0);
    }
    return block;
}

template <typename TMessage>
static void AddTags(OSMPBF::PrimitiveBlock& block, TMessage& message, const TTagList& tags)
{
    StringIndex(block, "");
    for (const auto& [key, value] : tags) {
        message.add_keys(StringIndex(block, key));
        message.add_vals(StringIndex(block, value));
    }
}

void AddWay(OSMPBF::PrimitiveBlock& block, OSMPBF::PrimitiveGroup& group, int64_t id,
            const std::vector<int64_t>& refs, const TTagList& tags)
{
    OSMPBF::Way& way = *group.add_ways();
    way.set_id(id);
    int64_t last = 0;
    for (int64_t ref : refs)
        way.add_refs(ref - std::exchange(last, ref));
    AddTags(block, way, tags);
}

void AddRelation(OSMPBF::PrimitiveBlock& block, OSMPBF::PrimitiveGroup& group, int64_t id,
                 const std::vector<TMemberSpec>& members, const TTagList& tags)
{
    OSMPBF::Relation& relation = *group.add_relations();
    relation.set_id(id);
    int64_t last = 0;
    for (const auto& [type, ref, role] : members) {
        relation.add_memids(ref - std::exchange(last, ref));
        relation.add_roles_sid(static_cast<int32_t>(StringIndex(block, role)));
        relation.add_types(OSMPBF::Relation::MemberType(type));
    }
    AddTags(block, relation, tags);
}

std::vector<TBlob> SplitBlobs(const std::string& file)
{
    CMemoryReadStream stream(file);
    CPBInputAdapter adapter(stream);
    std::vector<TBlob> blobs;
    bool error = false;
    for (uint64_t at = 0; adapter.ReadBlob(error); at = stream.Position())
        blobs.push_back({at, stream.Position() - at, adapter.BlobType(),
                         std::string(adapter.Payload().begin(), adapter.Payload().end())});
    if (error)
        throw std::runtime_error(adapter.Fault());
    return blobs;
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

template <typename TRecord>
static TRecord Make(int64_t id, const TTagList& tags, OSM::TInfo info)
{
    TRecord record;
    record.id = id;
    record.info = std::move(info);
    for (const auto& [key, value] : tags)
        record.AddTag(key, value);
    return record;
}

OSM::TNode MakeNode(int64_t id, int32_t lon, int32_t lat, const TTagList& tags, OSM::TInfo info)
{
    OSM::TNode node = Make<OSM::TNode>(id, tags, std::move(info));
    node.position = {lon, lat};
    return node;
}

OSM::TWay MakeWay(int64_t id, const std::vector<int64_t>& refs, const TTagList& tags, OSM::TInfo info)
{
    OSM::TWay way = Make<OSM::TWay>(id, tags, std::move(info));
    way.nodeRefs.Append(refs.data(), refs.size());
    return way;
}

OSM::TRelation MakeRelation(int64_t id, const std::vector<TMemberSpec>& members, const TTagList& tags, OSM::TInfo info)
{
    OSM::TRelation relation = Make<OSM::TRelation>(id, tags, std::move(info));
    for (const auto& [type, ref, role] : members)
        relation.members.PushBack({type, ref, role});
    return relation;
}

void TEntitySet::Write(OSM::CDataWriter& writer, size_t i) const
{
    if (i < nodes.size())
        return writer.WriteNode(nodes[i]);
    i -= nodes.size();
    if (i < ways.size())
        return writer.WriteWay(ways[i]);
    writer.WriteRelation(relations[i - ways.size()]);
}

TEntitySet RandomEntities(uint32_t seed, int nodes, int ways, int relations)
{
    std::mt19937_64 random(seed);
    auto in = [&random](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
    static const char* const kStrings[] = {"", "a", "A", "name", "Name", "highway", "outer", "\xC3\x9Cn\xC3\xAF", "x y"};
    auto text = [&]() -> std::string {
        return in(0, 3) == 0 ? "unique " + std::to_string(random()) : kStrings[in(0, std::size(kStrings) - 1)];
    };
    // Each field at one of its limits now and then.
    auto pick = [&](int64_t low, int64_t high) { return in(0, 7) == 0 ? (in(0, 1) ? low : high) : in(low, high); };
    auto fill = [&](auto& e, OSM::TId id) -> auto& {
        e.id = id;
        e.info = {int32_t(pick(INT32_MIN, INT32_MAX)), int32_t(pick(INT32_MIN, INT32_MAX)), text(),
                  pick(in(0, 1) ? INT64_MIN : -5, in(0, 1) ? INT64_MAX : int64_t(1) << 33),
                  in(0, INT32_MAX) * 1000 + in(0, 1) * 999, 1};
        for (int64_t t = in(0, 4); t > 0; --t)
            e.AddTag(text(), text());
        return e;
    };
    // Negative ids by absolute value, then positive ones; gaps of 1 to 2^44.
    auto ids = [&](int count) {
        std::vector<OSM::TId> list;
        OSM::TId id = 0;
        for (int i = 0; i < count / 10; ++i)
            list.push_back(id -= in(1, in(0, 1) ? 3 : int64_t(1) << 44));
        for (id = 0; int(list.size()) < count;)
            list.push_back(id += in(1, in(0, 1) ? 3 : int64_t(1) << 44));
        return list;
    };
    const int64_t kFar = int64_t(1) << 61;
    TEntitySet set;
    for (OSM::TId id : ids(nodes))
        fill(set.nodes.emplace_back(), id).position = {int32_t(pick(-1509949439, 1509949439)),
                                                       int32_t(pick(-754974720, 754974720))};
    for (OSM::TId id : ids(ways)) {
        OSM::TWay& way = fill(set.ways.emplace_back(), id);
        for (int64_t r = in(0, 100); r > 0; --r)
            way.nodeRefs.PushBack(in(-kFar, kFar));
    }
    for (OSM::TId id : ids(relations)) {
        OSM::TRelation& relation = fill(set.relations.emplace_back(), id);
        for (int64_t m = in(0, 50); m > 0; --m)
            relation.members.PushBack({OSM::EEntityType(in(0, 2)), in(-kFar, kFar), text()});
    }
    return set;
}

std::string Describe(OSM::EEntityType type, const OSM::TEntity& e)
{
    std::ostringstream out;
    out << "nwr"[type % 3] << e.id << " v" << e.info.version << " u" << e.info.uid << ":" << e.info.user << " c"
        << e.info.changeset << " t" << e.info.timestamp << " vis" << int(e.info.visible);
    for (const OSM::TTag& tag : e.tags)
        out << " " << tag.key << "=" << tag.value;
    if (type == OSM::kNode) {
        const CGeoPoint& at = static_cast<const OSM::TNode&>(e).position;
        out << " @" << at.x << "," << at.y;
    } else if (type == OSM::kWay) {
        for (OSM::TId ref : static_cast<const OSM::TWay&>(e).nodeRefs)
            out << " " << ref;
    } else {
        for (const OSM::TMember& m : static_cast<const OSM::TRelation&>(e).members)
            out << " " << "nwr"[m.type % 3] << m.ref << "@" << m.role;
    }
    return out.str() + "\n";
}

std::string DescribePbf(const std::string& bytes)
{
    CMemoryReadStream stream(bytes);
    CPBInputAdapter adapter;
    if (!adapter.Open(stream))
        return "refused: " + adapter.Fault();
    try {
        OSM::CPBFReaderAdapter reader(adapter);
        std::string out;
        while (reader.ReadNext())
            out += Describe(reader.GetType(), *reader.GetEntity());
        return out;
    } catch (const OSM::CDataReader::CBadFileException& e) {
        return "bad at " + std::to_string(adapter.BlobOffset()) + ": " + e.reason;
    }
}

}  // namespace test
