// What every pass of a run knows of all its areas, so that a tile does not
// depend on which areas share its pass.
#pragma once

#include <cstdint>
#include <utility>

#include "common/OSM/Entities.h"
#include "splitter/areas/AreaGeometry.h"
#include "splitter/areas/Areas.h"

namespace Splitter::Clip {

// The input's nodes that lie in no area of the run, and so in no tile.
struct TOutsideNodes {
    static constexpr uint32_t kListed = 10;

    uint64_t count = 0;
    CGrowArray<OSM::TId> first;  // the first kListed ids met

    void Note(OSM::TId id)
    {
        if (count++ < kListed)
            first.PushBack(id);
    }
};

class CRunAreas {
public:
    // Cleans every area's polygon as the clipping does and builds one point
    // location over them all, so that a node on a border or in an overlap
    // goes to the same area in every pass. polygons[i] is area i's ring.
    CRunAreas(const TRing* const* polygons, uint32_t count);
    CRunAreas(const CRunAreas&) = delete;
    CRunAreas& operator=(const CRunAreas&) = delete;

    uint32_t Count() const { return uint32_t(m_polygons.Count()); }
    // Area area's cleaned polygon.
    const TRing& Polygon(uint32_t area) const { return m_polygons[area]; }
    // The rectangle of all the polygons' bounds; empty without areas.
    const CGeoRect& Bounds() const { return m_bounds; }
    // The run's area holding p, or -1; border as for Geometry::CAreaLocator.
    int32_t Locate(CGeoPoint p, bool* border) const { return m_locator.Locate(p, border); }
    uint64_t BytesHeld() const { return m_locator.BytesHeld(); }

    // The ways whose nodes lie in more than one area of the run, or partly
    // in none, sorted; null until a run of several passes has found them. A
    // pass cuts them all, so a way crossing an area without a node in it
    // reaches that area whether or not the areas holding its nodes share the
    // pass.
    const CGrowArray<OSM::TId>* EdgeWays() const { return m_hasEdgeWays ? &m_edgeWays : nullptr; }
    void SetEdgeWays(CGrowArray<OSM::TId>&& ways);
    // Adds the sorted ways to EdgeWays, which must not be null.
    void AddEdgeWays(const CGrowArray<OSM::TId>& ways);

    // At least as many nodes as a pass of areas first .. first + count - 1
    // holds: their counts once the search for edge ways has counted them
    // (counts[i] for area i), else the run's node total when known (exact
    // for one pass of areas that cover the input), else 0.
    uint64_t NodeCount(uint32_t first, uint32_t count) const;
    void SetNodeCounts(CGrowArray<uint64_t>&& counts) { m_nodeCounts = std::move(counts); }
    // The input's node count: no pass holds more.
    void SetNodeTotal(uint64_t total) { m_nodeTotal = total; }

    // The nodes outside every area, null until a pass has counted them.
    const TOutsideNodes* OutsideNodes() const { return m_outsideCounted ? &m_outside : nullptr; }
    void SetOutsideNodes(TOutsideNodes&& outside)
    {
        m_outside = std::move(outside);
        m_outsideCounted = true;
    }

private:
    CGrowArray<TRing> m_polygons;
    CGeoRect m_bounds;
    Geometry::CAreaLocator m_locator;
    CGrowArray<OSM::TId> m_edgeWays;
    bool m_hasEdgeWays = false;
    CGrowArray<uint64_t> m_nodeCounts;  // per area; empty until counted
    uint64_t m_nodeTotal = 0;           // 0 when unknown
    TOutsideNodes m_outside;
    bool m_outsideCounted = false;
};

}  // namespace Splitter::Clip
