#include "common/OSM/BlockVersions.h"

#include <algorithm>
#include <type_traits>
#include <vector>

namespace OSM {

namespace {

using TGroup = OSMPBF::PrimitiveGroup;

int Count(const TGroup& group)
{
    return group.dense().id_size() + group.nodes_size() + group.ways_size() + group.relations_size();
}

// Calls visit with the key of each of the group's entities, in reading
// order.
template <typename TVisit>
void ForEachKey(const TGroup& group, TVisit&& visit)
{
    uint64_t id = 0;  // wraps on crafted deltas, as the reader's sum does
    for (int64_t delta : group.dense().id())
        visit(TEntityKey{kNode, TId(id += uint64_t(delta))});
    for (const OSMPBF::Node& node : group.nodes())
        visit(TEntityKey{kNode, node.id()});
    for (const OSMPBF::Way& way : group.ways())
        visit(TEntityKey{kWay, way.id()});
    for (const OSMPBF::Relation& relation : group.relations())
        visit(TEntityKey{kRelation, relation.id()});
}

// Keeps the values whose drop flag (one for each of count entities) is
// clear. A delta-coded field adds the deltas it drops to the next value
// it keeps.
template <typename TField>
void KeepValues(TField& field, const uint8_t* drop, int count, bool delta)
{
    using TValue = std::decay_t<decltype(field.Get(0))>;
    int kept = 0;
    uint64_t carry = 0;
    for (int i = 0; i < field.size(); ++i) {
        const uint64_t value = uint64_t(field.Get(i)) + carry;
        carry = 0;
        if (i < count && drop[i])
            carry = delta ? value : 0;
        else
            field.Set(kept++, TValue(value));
    }
    field.Truncate(kept);
}

// Keeps the tags of the dense nodes whose drop flag is clear: each node's
// key and value pairs up to its 0.
void KeepKeyValues(google::protobuf::RepeatedField<int32_t>& keyValues, const uint8_t* drop, int count)
{
    int kept = 0;
    for (int i = 0, node = 0; i < keyValues.size(); ++node) {
        int end = i;
        while (end < keyValues.size() && keyValues.Get(end) != 0)
            end += 2;
        end = std::min(end + 1, keyValues.size());
        for (; i < end; ++i)
            if (node >= count || !drop[node])
                keyValues.Set(kept++, keyValues.Get(i));
    }
    keyValues.Truncate(kept);
}

template <typename TField>
void KeepMessages(TField& field, const uint8_t* drop)
{
    int kept = 0;
    for (int i = 0; i < field.size(); ++i) {
        if (drop[i])
            continue;
        if (kept != i)
            field.SwapElements(kept, i);
        ++kept;
    }
    field.DeleteSubrange(kept, field.size() - kept);
}

// Keeps the group's entities whose drop flag, in reading order, is clear.
void Keep(TGroup& group, const uint8_t* drop)
{
    if (group.has_dense()) {
        OSMPBF::DenseNodes& dense = *group.mutable_dense();
        const int n = dense.id_size();
        KeepValues(*dense.mutable_id(), drop, n, true);
        KeepValues(*dense.mutable_lat(), drop, n, true);
        KeepValues(*dense.mutable_lon(), drop, n, true);
        KeepKeyValues(*dense.mutable_keys_vals(), drop, n);
        if (dense.has_denseinfo()) {
            OSMPBF::DenseInfo& info = *dense.mutable_denseinfo();
            KeepValues(*info.mutable_version(), drop, n, false);
            KeepValues(*info.mutable_timestamp(), drop, n, true);
            KeepValues(*info.mutable_changeset(), drop, n, true);
            KeepValues(*info.mutable_uid(), drop, n, true);
            KeepValues(*info.mutable_user_sid(), drop, n, true);
            KeepValues(*info.mutable_visible(), drop, n, false);
        }
        drop += n;
    }
    const int nodes = group.nodes_size(), ways = group.ways_size();
    KeepMessages(*group.mutable_nodes(), drop);
    KeepMessages(*group.mutable_ways(), drop += nodes);
    KeepMessages(*group.mutable_relations(), drop += ways);
}

}  // namespace

TBlockEntities DropRepeatedEntities(OSMPBF::PrimitiveBlock& block)
{
    // A plain file has no repeats: one look at each key finds that.
    TBlockEntities result;
    TEntityKey last;
    bool repeats = false;
    for (const TGroup& group : block.primitivegroup()) {
        const OSMPBF::DenseNodes& dense = group.dense();
        if (dense.lat_size() != dense.id_size() || dense.lon_size() != dense.id_size())
            return {};
        ForEachKey(group, [&](TEntityKey key) {
            repeats |= result.last && key == last;
            if (!result.first)
                result.first = key;
            result.last = last = key;
        });
    }
    if (!repeats)
        return result;
    // The first entity kept has the key of the first one, and the last one
    // stays.
    thread_local std::vector<uint8_t> drop;  // kept for the next block
    drop.clear();
    for (const TGroup& group : block.primitivegroup()) {
        ForEachKey(group, [&](TEntityKey key) {
            if (!drop.empty() && key == last) {
                drop.back() = 1;
                ++result.dropped;
            }
            drop.push_back(0);
            last = key;
        });
    }
    const uint8_t* at = drop.data();
    for (TGroup& group : *block.mutable_primitivegroup()) {
        const int count = Count(group);
        Keep(group, at);
        at += count;
    }
    return result;
}

void DropLastEntity(OSMPBF::PrimitiveBlock& block)
{
    for (int g = block.primitivegroup_size(); g-- > 0;) {
        TGroup& group = *block.mutable_primitivegroup(g);
        if (const int count = Count(group); count != 0) {
            std::vector<uint8_t> drop(size_t(count), 0);
            drop.back() = 1;
            return Keep(group, drop.data());
        }
    }
}

}  // namespace OSM
