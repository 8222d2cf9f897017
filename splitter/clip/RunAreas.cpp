#include "splitter/clip/RunAreas.h"

#include <utility>

#include "splitter/clip/ClipContext.h"
#include "splitter/clip/StageTools.h"

namespace Splitter::Clip {

CRunAreas::CRunAreas(const TRing* const* polygons, uint32_t count)
{
    m_polygons.Reserve(count);
    CGrowArray<const TRing*> rings;
    rings.Reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        m_polygons.PushBack(CAreaClipContext::CleanPolygon(*polygons[i]));
        rings.PushBack(&m_polygons.Back());
        Extend(m_bounds, RingBounds(m_polygons.Back()));
    }
    m_locator.Build(rings.Data(), rings.Count());
}

void CRunAreas::SetEdgeWays(CGrowArray<OSM::TId>&& ways)
{
    m_edgeWays = std::move(ways);
    m_hasEdgeWays = true;
}

void CRunAreas::AddEdgeWays(const CGrowArray<OSM::TId>& ways)
{
    detail::MergeSorted(m_edgeWays, ways);
}

uint64_t CRunAreas::NodeCount(uint32_t first, uint32_t count) const
{
    if (m_nodeCounts.Empty())
        return m_nodeTotal;
    uint64_t sum = 0;
    for (uint64_t i = first; i < uint64_t(first) + count && i < m_nodeCounts.Count(); ++i)
        sum += m_nodeCounts[i];
    return sum;
}

}  // namespace Splitter::Clip
