#include "common/OSM/PBFReader.h"

#include <string>
#include <utility>

namespace OSM {

namespace {

using CBadFile = CDataReader::CBadFileException;

// The running sums of a crafted file may overflow; they wrap instead of
// invoking undefined behaviour.
int64_t Add(int64_t a, int64_t b) { return static_cast<int64_t>(uint64_t(a) + uint64_t(b)); }
int64_t Subtract(int64_t a, int64_t b) { return static_cast<int64_t>(uint64_t(a) - uint64_t(b)); }
int64_t Multiply(int64_t a, int64_t b) { return static_cast<int64_t>(uint64_t(a) * uint64_t(b)); }

// Sets tag k, reusing the strings the record held before.
void SetTag(CGrowArray<TTag>& tags, uint64_t k, const std::string& key, const std::string& value)
{
    if (k < tags.Count()) {
        tags[k].key = key;
        tags[k].value = value;
    } else {
        tags.PushBack(TTag{key, value});
    }
}

void CheckDenseLengths(const OSMPBF::DenseNodes& dense)
{
    if (dense.lat_size() != dense.id_size() || dense.lon_size() != dense.id_size())
        throw CBadFile{"dense nodes with ids, latitudes and longitudes of different counts"};
}

const std::string kNoUser;

}  // namespace

namespace detail {

TBlockScale::TBlockScale(const OSMPBF::PrimitiveBlock& block)
    : granularity(block.granularity()),
      latOffset(block.lat_offset()),
      lonOffset(block.lon_offset()),
      dateGranularity(block.date_granularity())
{
}

CGeoPoint TBlockScale::Point(int64_t lat, int64_t lon) const
{
    CGeoPoint p{MapUnits::FromDegrees(1e-9 * double(Add(lonOffset, Multiply(granularity, lon)))),
                MapUnits::FromDegrees(1e-9 * double(Add(latOffset, Multiply(granularity, lat))))};
    if (p.x == MapUnits::k180)
        p.x = MapUnits::kMaxLon;
    return p;
}

int64_t TBlockScale::Milliseconds(int64_t timestamp) const { return Multiply(dateGranularity, timestamp); }

}  // namespace detail

void ParsePrimitiveBlock(const CGrowArray<uint8_t>& payload, OSMPBF::PrimitiveBlock& block)
{
    if (!ParseMessage(block, payload.Data(), payload.Count()))
        throw CBadFile{"the data block does not parse"};
}

void SeekFirstData(CPBInputAdapter& input)
{
    CReadStream& stream = input.Stream();
    stream.Seek(0);
    bool error;
    // Open checked the header's contents; only its framing is read again.
    if (!input.SkipBlob(error))
        throw CBadFile{error ? input.Fault() : "the file is empty"};
    if (input.BlobType() != "OSMHeader")
        throw CBadFile{"the first blob is \"" + input.BlobType() + "\", not \"OSMHeader\""};
    CGrowArray<uint8_t> skipped;
    std::string fault;
    while (input.ReadRawBlob(error)) {
        if (input.BlobType() == "OSMData") {
            stream.Seek(input.BlobOffset());
            return;
        }
        if (!CPBInputAdapter::DecodeBlob(input.RawBlob(), skipped, fault))
            throw CBadFile{fault};
    }
    if (error)
        throw CBadFile{input.Fault()};
}

void AppendPositions(const OSMPBF::PrimitiveBlock& block, const OSMPBF::PrimitiveGroup& group,
                     CGrowArray<CGeoPoint>& points)
{
    const OSMPBF::DenseNodes& dense = group.dense();
    CheckDenseLengths(dense);
    detail::TBlockScale scale(block);
    points.Reserve(points.Count() + uint64_t(group.nodes_size()) + uint64_t(dense.lat_size()));
    for (const OSMPBF::Node& node : group.nodes())
        points.PushBack(scale.Point(node.lat(), node.lon()));
    int64_t lat = 0;
    int64_t lon = 0;
    for (int j = 0; j < dense.lat_size(); ++j) {
        lat = Add(lat, dense.lat(j));
        lon = Add(lon, dense.lon(j));
        points.PushBack(scale.Point(lat, lon));
    }
}

CPBFReaderAdapter::CPBFReaderAdapter(CPBInputAdapter& source, uint32_t readAhead, uint32_t threads)
    : m_source(source), m_blocks(source, source.Stream().Position(), readAhead, threads)
{
    ReadBlock();
}

bool CPBFReaderAdapter::Seek(uint64_t offset)
{
    m_group = nullptr;
    m_entity = -1;
    m_blocks.Seek(offset);
    return ReadBlock();
}

bool CPBFReaderAdapter::ReadBlock()
{
    m_group = nullptr;
    m_entity = -1;
    const TDataBlock* data;
    do {
        data = m_blocks.Next();
        if (data == nullptr)
            return false;
        m_blockOffset = data->start;
    } while (data->block.primitivegroup_size() == 0);
    m_block = &data->block;
    m_scale = detail::TBlockScale(*m_block);
    m_groupIndex = 0;
    StartGroup();
    return true;
}

void CPBFReaderAdapter::StartGroup()
{
    const OSMPBF::PrimitiveGroup& group = m_block->primitivegroup(m_groupIndex);
    m_group = nullptr;
    CheckDenseLengths(group.dense());
    m_group = &group;
    // Each entity takes at least a byte of a payload below the blob limit, so
    // these sums fit.
    m_denseEnd = group.dense().id_size();
    m_nodesEnd = m_denseEnd + group.nodes_size();
    m_waysEnd = m_nodesEnd + group.ways_size();
    m_relationsEnd = m_waysEnd + group.relations_size();
    m_entity = -1;
    m_id = 0;
    m_dense = TDenseState{};
    m_nodeEntity = -1;

    bool holds[3] = {group.has_dense() || group.nodes_size() != 0, group.ways_size() != 0,
                     group.relations_size() != 0};
    for (int kind = 0; kind < 3; ++kind)
        if (holds[kind] && !m_firstBlockOffsets[kind])
            m_firstBlockOffsets[kind] = m_blockOffset;
}

bool CPBFReaderAdapter::ReadNext()
{
    while (m_group != nullptr) {
        int32_t i = ++m_entity;
        if (i < m_denseEnd) {
            m_type = kNode;
            m_id = Add(m_id, m_group->dense().id(i));
            return true;
        }
        if (i < m_nodesEnd) {
            m_type = kNode;
            m_id = m_group->nodes(i - m_denseEnd).id();
            return true;
        }
        if (i < m_waysEnd) {
            m_type = kWay;
            m_id = m_group->ways(i - m_nodesEnd).id();
            return true;
        }
        if (i < m_relationsEnd) {
            m_type = kRelation;
            m_id = m_group->relations(i - m_waysEnd).id();
            return true;
        }
        if (++m_groupIndex < m_block->primitivegroup_size())
            StartGroup();
        else
            ReadBlock();
    }
    return false;
}

void CPBFReaderAdapter::StepBack()
{
    if (m_group == nullptr || m_entity < 0)
        return;
    if (m_entity < m_denseEnd)
        m_id = Subtract(m_id, m_group->dense().id(m_entity));
    --m_entity;
}

std::optional<uint64_t> CPBFReaderAdapter::FirstBlockOffset(EEntityType kind) const
{
    return kind <= kRelation ? m_firstBlockOffsets[kind] : std::nullopt;
}

TEntity* CPBFReaderAdapter::GetEntity()
{
    if (!IsValid())
        return nullptr;
    int32_t i = m_entity;
    if (i < m_nodesEnd) {
        if (m_nodeEntity != i) {
            if (i < m_denseEnd)
                DecodeDense(i);
            else
                DecodeNode(m_group->nodes(i - m_denseEnd));
            m_nodeEntity = i;
        }
        return &m_node;
    }
    if (i < m_waysEnd) {
        DecodeWay(m_group->ways(i - m_nodesEnd));
        return &m_way;
    }
    DecodeRelation(m_group->relations(i - m_waysEnd));
    return &m_relation;
}

const std::string& CPBFReaderAdapter::String(int64_t index) const
{
    const OSMPBF::StringTable& table = m_block->stringtable();
    if (index < 0 || index >= table.s_size())
        throw CBadFile{"string index " + std::to_string(index) + " outside the string table"};
    return table.s(static_cast<int>(index));
}

// Carries the running sums forward from the last decoded node; only the
// node asked for gets its tags and metadata written.
void CPBFReaderAdapter::DecodeDense(int32_t index)
{
    const OSMPBF::DenseNodes& dense = m_group->dense();
    const OSMPBF::DenseInfo& info = dense.denseinfo();
    TDenseState& s = m_dense;
    if (index <= s.last)  // never while reading forward
        s = TDenseState{};
    const int32_t keyValues = dense.keys_vals_size();
    uint64_t tagCount = 0;
    for (int32_t j = s.last + 1; j <= index; ++j) {
        s.id = Add(s.id, dense.id(j));
        s.lat = Add(s.lat, dense.lat(j));
        s.lon = Add(s.lon, dense.lon(j));
        s.timestamp = j < info.timestamp_size() ? Add(s.timestamp, info.timestamp(j)) : 0;
        s.changeset = j < info.changeset_size() ? Add(s.changeset, info.changeset(j)) : 0;
        s.uid = j < info.uid_size() ? static_cast<int32_t>(uint32_t(s.uid) + uint32_t(info.uid(j))) : 0;
        s.user = j < info.user_sid_size() ? s.user + info.user_sid(j) : 0;
        while (s.keyValue < keyValues) {
            int32_t key = dense.keys_vals(s.keyValue);
            if (key == 0) {
                ++s.keyValue;
                break;
            }
            if (s.keyValue + 1 == keyValues)
                throw CBadFile{"dense node tags end with a key without a value"};
            if (j == index)
                SetTag(m_node.tags, tagCount++, String(key), String(dense.keys_vals(s.keyValue + 1)));
            s.keyValue += 2;
        }
    }
    s.last = index;

    m_node.tags.Resize(tagCount);
    m_node.id = s.id;
    m_node.position = m_scale.Point(s.lat, s.lon);
    TInfo& out = m_node.info;
    out.version = index < info.version_size() ? info.version(index) : 0;
    out.uid = s.uid;
    out.user = index < info.user_sid_size() ? String(s.user) : kNoUser;
    out.changeset = s.changeset;
    out.timestamp = m_scale.Milliseconds(s.timestamp);
    out.visible = index < info.visible_size() ? info.visible(index) : 0;
}

template <typename TMessage>
void CPBFReaderAdapter::DecodeCommon(const TMessage& message, TEntity& entity) const
{
    if (message.keys_size() != message.vals_size())
        throw CBadFile{"tag keys and values of different counts"};
    entity.id = message.id();
    TInfo& out = entity.info;
    if (message.has_info()) {
        const OSMPBF::Info& info = message.info();
        out.version = info.version();
        out.uid = info.uid();
        out.user = info.has_user_sid() ? String(info.user_sid()) : kNoUser;
        out.changeset = info.changeset();
        out.timestamp = m_scale.Milliseconds(info.timestamp());
        out.visible = info.visible();
    } else {
        out.version = -1;
        out.uid = 0;
        out.user.clear();
        out.changeset = 0;
        out.timestamp = 0;
        out.visible = 0;
    }
    const int tags = message.keys_size();
    for (int k = 0; k < tags; ++k)
        SetTag(entity.tags, k, String(message.keys(k)), String(message.vals(k)));
    entity.tags.Resize(tags);
}

void CPBFReaderAdapter::DecodeNode(const OSMPBF::Node& node)
{
    DecodeCommon(node, m_node);
    m_node.position = m_scale.Point(node.lat(), node.lon());
}

namespace {

void DecodeRefs(const OSMPBF::Way& way, CGrowArray<TId>& refs)
{
    refs.Clear();
    refs.Reserve(uint64_t(way.refs_size()));
    int64_t ref = 0;
    for (int64_t delta : way.refs()) {
        ref = Add(ref, delta);
        refs.PushBack(ref);
    }
}

}  // namespace

void CPBFReaderAdapter::DecodeWay(const OSMPBF::Way& way)
{
    TWay& out = m_spareWay;
    DecodeCommon(way, out);
    DecodeRefs(way, out.nodeRefs);
    std::swap(m_way, out);
}

const CGrowArray<TId>& CPBFReaderAdapter::WayRefs()
{
    m_wayRefs.Clear();
    if (IsValid() && m_type == kWay)
        DecodeRefs(m_group->ways(m_entity - m_nodesEnd), m_wayRefs);
    return m_wayRefs;
}

const CGrowArray<CGeoPoint>& CPBFReaderAdapter::WayLocations()
{
    m_wayLocations.Clear();
    if (!IsValid() || m_type != kWay)
        return m_wayLocations;
    const OSMPBF::Way& way = m_group->ways(m_entity - m_nodesEnd);
    if (way.lat_size() != way.refs_size() || way.lon_size() != way.refs_size())
        return m_wayLocations;
    m_wayLocations.Reserve(uint64_t(way.refs_size()));
    int64_t lat = 0;
    int64_t lon = 0;
    for (int k = 0; k < way.refs_size(); ++k)
        m_wayLocations.PushBack(m_scale.Point(lat = Add(lat, way.lat(k)), lon = Add(lon, way.lon(k))));
    return m_wayLocations;
}

void CPBFReaderAdapter::DecodeRelation(const OSMPBF::Relation& relation)
{
    const int members = relation.memids_size();
    if (relation.roles_sid_size() != members || relation.types_size() != members)
        throw CBadFile{"relation members with ids, roles and types of different counts"};
    TRelation& out = m_spareRelation;
    DecodeCommon(relation, out);
    int64_t ref = 0;
    for (int k = 0; k < members; ++k) {
        int type = relation.types(k);
        if (type < kNode || type > kRelation)
            throw CBadFile{"relation member of unknown type " + std::to_string(type)};
        TMember& member = uint64_t(k) < out.members.Count() ? out.members[k] : out.members.EmplaceBack();
        ref = Add(ref, relation.memids(k));
        member.type = static_cast<EEntityType>(type);
        member.ref = ref;
        member.role = String(relation.roles_sid(k));
    }
    out.members.Resize(members);
    std::swap(m_relation, out);
}

}  // namespace OSM
