#include "common/OSM/PBFBlock.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "common/OSM/Varint.h"

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

}  // namespace

CPBFWriter::TScratch& CPBFWriter::Scratch()
{
    thread_local TScratch scratch;
    return scratch;
}

void CPBFWriter::TScratch::Build(const TPending& pending)
{
    Clear();
    Decode(pending);
    BuildStringTable(pending);
    AddNodes();
    AddWays();
    AddRelations();
}

void CPBFWriter::TScratch::Decode(const TPending& pending)
{
    const uint8_t* p = pending.records.Data();
    const uint8_t* const end = p + pending.records.Count();
    int64_t id = 0, changeset = 0, timestamp = 0;
    int32_t x = 0, y = 0;
    auto delta = [&p](int64_t& value) {
        value = int64_t(uint64_t(value) + uint64_t(UnZigZag(GetVarint(p))));
        return value;
    };
    while (p != end) {
        const auto type = EEntityType(*p++);
        TEntry e;
        e.id = delta(id);
        e.version = int32_t(UnZigZag(GetVarint(p)));
        e.uid = int32_t(UnZigZag(GetVarint(p)));
        e.user = TString(GetVarint(p));
        e.changeset = delta(changeset);
        e.timestamp = delta(timestamp);
        e.firstTag = uint32_t(tags.Count());
        e.tagCount = uint32_t(GetVarint(p));
        for (uint32_t t = 0; t < e.tagCount; ++t) {
            const auto key = TString(GetVarint(p));
            tags.PushBack({key, TString(GetVarint(p))});
        }
        if (type == kNode) {
            TNodeEntry& node = nodes.EmplaceBack();
            static_cast<TEntry&>(node) = e;
            x = int32_t(uint32_t(x) + uint32_t(UnZigZag(GetVarint(p))));
            y = int32_t(uint32_t(y) + uint32_t(UnZigZag(GetVarint(p))));
            node.position = {x, y};
        } else if (type == kWay) {
            TWayEntry& way = ways.EmplaceBack();
            static_cast<TEntry&>(way) = e;
            way.firstRef = refs.Count();
            way.refCount = GetVarint(p);
            TId ref = 0;
            for (uint64_t r = 0; r < way.refCount; ++r)
                refs.PushBack(delta(ref));
        } else {
            TRelationEntry& relation = relations.EmplaceBack();
            static_cast<TEntry&>(relation) = e;
            relation.firstMember = members.Count();
            relation.memberCount = GetVarint(p);
            TId ref = 0;
            for (uint64_t m = 0; m < relation.memberCount; ++m) {
                const auto memberType = EEntityType(*p++);
                delta(ref);
                members.PushBack({memberType, ref, TString(GetVarint(p))});
            }
        }
    }
}

void CPBFWriter::TScratch::BuildStringTable(const TPending& pending)
{
    constexpr uint64_t kOneByteIndices = 126;
    auto byBytes = [&pending](TString a, TString b) { return pending.View(a) < pending.View(b); };
    const uint64_t n = pending.strings.Count();
    order.Resize(n);
    for (TString s = 0; s < n; ++s)
        order[s] = s;
    if (n <= kOneByteIndices) {
        std::sort(order.begin(), order.end(), byBytes);
    } else {
        TString* head = order.begin() + kOneByteIndices;
        std::nth_element(order.begin(), head, order.end(),
                         [&pending](TString a, TString b) { return pending.strings[a].uses > pending.strings[b].uses; });
        std::sort(order.begin(), head, byBytes);
        std::sort(head, order.end(), byBytes);
    }
    index.Resize(n);
    OSMPBF::StringTable* table = block.mutable_stringtable();
    table->add_s();
    for (uint64_t i = 0; i < n; ++i) {
        index[order[i]] = uint32_t(i + 1);
        std::string_view s = pending.View(order[i]);
        table->add_s()->assign(s.data(), s.size());
    }
}

void CPBFWriter::TScratch::AddNodes()
{
    if (nodes.Empty())
        return;
    auto byId = [](const TNodeEntry& a, const TNodeEntry& b) { return IdBefore(a.id, b.id); };
    if (!std::is_sorted(nodes.begin(), nodes.end(), byId))
        std::sort(nodes.begin(), nodes.end(), byId);
    OSMPBF::DenseNodes* dense = block.add_primitivegroup()->mutable_dense();
    OSMPBF::DenseInfo* info = dense->mutable_denseinfo();
    int64_t id = 0, lat = 0, lon = 0, timestamp = 0, changeset = 0;
    int32_t uid = 0, user = 0;
    bool tagged = false;
    for (uint64_t i = 0; i < nodes.Count(); ++i) {
        const TNodeEntry& n = nodes[i];
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
        int32_t u = int32_t(index[n.user]);
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
                dense->add_keys_vals(int32_t(index[tags[t].first]));
                dense->add_keys_vals(int32_t(index[tags[t].second]));
            }
            dense->add_keys_vals(0);
        }
    }
}

template <typename TMessage>
void CPBFWriter::TScratch::AddHead(const TEntry& e, TMessage& message) const
{
    message.set_id(e.id);
    // Messages are recycled for entities of other sizes: grow each field once.
    message.mutable_keys()->Reserve(int(e.tagCount));
    message.mutable_vals()->Reserve(int(e.tagCount));
    for (uint32_t t = e.firstTag; t < e.firstTag + e.tagCount; ++t) {
        message.add_keys(index[tags[t].first]);
        message.add_vals(index[tags[t].second]);
    }
    OSMPBF::Info* info = message.mutable_info();
    info->set_version(e.version);
    info->set_timestamp(Seconds(e.timestamp));
    info->set_changeset(e.changeset);
    info->set_uid(e.uid);
    info->set_user_sid(index[e.user]);
}

template <typename TEntries, typename Add, typename Fill>
void CPBFWriter::TScratch::AddGroup(const TEntries& entries, Add&& add, Fill&& fill)
{
    if (entries.Empty())
        return;
    OSMPBF::PrimitiveGroup* group = block.add_primitivegroup();
    for (const auto& entry : entries) {
        auto* message = add(*group);
        AddHead(entry, *message);
        fill(entry, *message);
    }
}

void CPBFWriter::TScratch::AddWays()
{
    AddGroup(
        ways, [](OSMPBF::PrimitiveGroup& group) { return group.add_ways(); },
        [&](const TWayEntry& w, OSMPBF::Way& way) {
            way.mutable_refs()->Reserve(int(w.refCount));
            TId last = 0;
            for (uint64_t r = w.firstRef; r < w.firstRef + w.refCount; ++r) {
                way.add_refs(refs[r] - last);
                last = refs[r];
            }
        });
}

void CPBFWriter::TScratch::AddRelations()
{
    AddGroup(
        relations, [](OSMPBF::PrimitiveGroup& group) { return group.add_relations(); },
        [&](const TRelationEntry& r, OSMPBF::Relation& relation) {
            relation.mutable_roles_sid()->Reserve(int(r.memberCount));
            relation.mutable_memids()->Reserve(int(r.memberCount));
            relation.mutable_types()->Reserve(int(r.memberCount));
            TId last = 0;
            for (uint64_t m = r.firstMember; m < r.firstMember + r.memberCount; ++m) {
                const TMemberEntry& member = members[m];
                relation.add_roles_sid(int32_t(index[member.role]));
                relation.add_memids(member.ref - last);
                last = member.ref;
                relation.add_types(OSMPBF::Relation::MemberType(member.type));
            }
        });
}

std::string CPBFWriter::BuildChecked(const TPending& pending)
{
    TScratch& scratch = Scratch();
    scratch.Build(pending);
    const uint64_t bytes = scratch.block.ByteSizeLong();
    if (bytes <= kMaxBlockBytes)
        return scratch.block.SerializeAsString();
    // Only a single entity can come this far: a block is written before one
    // that could take it beyond kBlockBytes.
    const char* kind = !scratch.nodes.Empty() ? "node" : !scratch.ways.Empty() ? "way" : "relation";
    const TId id = !scratch.nodes.Empty() ? scratch.nodes[0].id
                   : !scratch.ways.Empty() ? scratch.ways[0].id
                                           : scratch.relations[0].id;
    std::printf("%s: %s %" PRId64 " takes %" PRIu64 " bytes, more than a PBF block may hold\n", m_path.c_str(), kind,
                id, bytes);
    throw TStreamException{TStreamException::kWrite, 0};
}

}  // namespace OSM
