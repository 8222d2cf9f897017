// The area of every node of a pass, found by id.
#pragma once

#include <cstdint>

#include "common/base/GrowArray.h"
#include "splitter/clip/IdAreaKey.h"

namespace Splitter::Clip {

// One key per node, sorted once, and a directory of buckets over the id
// range that narrows each search to the few keys of one bucket: a lookup
// costs a few probes in one place instead of dozens over the whole table,
// for at most half a byte per node more.
class CNodeAreaTable {
public:
    // Makes room for n nodes; TBadAlloc leaves the table unchanged.
    void Reserve(uint64_t n) { m_keys.Reserve(n); }
    // id must fit in a key (FitsKey). Throws TBadAlloc, the table unchanged.
    void Append(OSM::TId id, int32_t area) { m_keys.PushBack(MakeKey(id, area)); }
    // Sorts, shrinks and indexes the table, after the last Append. Throws
    // TBadAlloc; the table then finds nothing until Finish succeeds.
    void Finish();

    // The area of node id (of the lowest area when the node was appended
    // with several), or kNoArea; kNoArea for every id before Finish.
    int32_t Find(OSM::TId id) const;
    // The first key of node id, or nullptr (always before Finish).
    const TIdAreaKey* FindKey(OSM::TId id) const;
    // The area of a key FindKey gave, kNoArea for none.
    static int32_t AreaOf(const TIdAreaKey* key) { return key != nullptr ? KeyArea(*key) : kNoArea; }
    // As FindKey, trying first the key right after previous (a key of this
    // table, or nullptr): the nodes of a way often have consecutive ids.
    const TIdAreaKey* FindKeyAfter(OSM::TId id, const TIdAreaKey* previous) const
    {
        if (previous != nullptr && previous + 1 != m_keys.end() && KeyId(previous[1]) == id && KeyId(*previous) != id)
            return previous + 1;
        return FindKey(id);
    }

    uint64_t Count() const { return m_keys.Count(); }
    const TIdAreaKey* begin() const { return m_keys.begin(); }
    const TIdAreaKey* end() const { return m_keys.end(); }
    uint64_t BytesHeld() const { return m_keys.CapacityBytes() + m_buckets.CapacityBytes(); }

private:
    static constexpr uint64_t kKeysPerBucket = 16;

    CGrowArray<TIdAreaKey> m_keys;
    // Per bucket of ids, the index in m_keys of its first key; one more
    // entry ends the last bucket. Empty until Finish.
    CGrowArray<uint64_t> m_buckets;
    OSM::TId m_minId = 0;
    uint32_t m_shift = 0;  // a bucket holds the ids m_minId + (b << m_shift) onwards
};

}  // namespace Splitter::Clip
