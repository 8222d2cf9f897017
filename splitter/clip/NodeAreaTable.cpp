#include "splitter/clip/NodeAreaTable.h"

#include <algorithm>

namespace Splitter::Clip {

void CNodeAreaTable::Finish()
{
    m_buckets.Free();
    // Input order is id order, except for negative ids.
    if (!std::is_sorted(m_keys.begin(), m_keys.end()))
        std::sort(m_keys.begin(), m_keys.end());
    m_keys.ShrinkToFit();
    const uint64_t n = m_keys.Count();
    if (n == 0)
        return;
    const OSM::TId minId = KeyId(m_keys[0]);
    const uint64_t span = uint64_t(KeyId(m_keys.Back()) - minId);
    const uint64_t most = std::max<uint64_t>(n / kKeysPerBucket, 1);
    uint32_t shift = 0;
    while ((span >> shift) >= most)
        ++shift;
    const uint64_t count = (span >> shift) + 1;
    CGrowArray<uint64_t> buckets;
    buckets.Resize(count + 1);
    uint64_t k = 0;
    for (uint64_t b = 0; b < count; ++b) {
        while (k < n && (uint64_t(KeyId(m_keys[k]) - minId) >> shift) < b)
            ++k;
        buckets[b] = k;
    }
    buckets[count] = n;
    m_buckets = std::move(buckets);
    m_minId = minId;
    m_shift = shift;
}

const TIdAreaKey* CNodeAreaTable::FindKey(OSM::TId id) const
{
    if (m_buckets.Empty() || !FitsKey(id) || id < m_minId)
        return nullptr;
    const uint64_t b = uint64_t(id - m_minId) >> m_shift;
    if (b + 1 >= m_buckets.Count())
        return nullptr;
    const TIdAreaKey* end = m_keys.begin() + m_buckets[b + 1];
    const TIdAreaKey* at = std::lower_bound(m_keys.begin() + m_buckets[b], end, MakeKey(id, 0));
    return at != end && KeyId(*at) == id ? at : nullptr;
}

int32_t CNodeAreaTable::Find(OSM::TId id) const
{
    return AreaOf(FindKey(id));
}

}  // namespace Splitter::Clip
