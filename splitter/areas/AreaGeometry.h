// Geometry of area rings: longitude arithmetic, orientation, containment
// and the point location that finds the area of every node.
#pragma once

#include <cstdint>

#include "common/base/GrowArray.h"
#include "common/rtree/Geo.h"
#include "splitter/areas/Areas.h"

namespace Splitter::Geometry {

// b - a brought into the turn: the short way round, within +-180 degrees.
inline int64_t LonDiff(int32_t a, int32_t b)
{
    int64_t d = int64_t(b) - int64_t(a);
    if (a < b && d >= MapUnits::k180)
        d -= MapUnits::kTurn;
    else if (a >= b && -d >= MapUnits::k180)
        d += MapUnits::kTurn;
    return d;
}

// lon + offset brought back into [-180, 180) degrees.
inline int32_t LonAdd(int32_t lon, int64_t offset)
{
    int64_t sum = int64_t(lon) + offset;
    if (sum >= MapUnits::k180)
        sum -= MapUnits::kTurn;
    else if (sum < -int64_t(MapUnits::k180))
        sum += MapUnits::kTurn;
    return int32_t(sum);
}

// True when the ring runs clockwise (north up, east right), and when all its
// points are equal. Decided at the lowest point, so it never searches without
// end on degenerate rings.
bool IsClockwise(const CGeoPoint* ring, uint64_t count);
inline bool IsClockwise(const TRing& ring) { return IsClockwise(ring.Data(), ring.Count()); }
// The same for the points of a way, whose every edge runs the short way
// round, as ways are clipped: a way crossing the antimeridian is measured in
// one piece. Agrees with IsClockwise when no edge spans 180 degrees or more.
bool IsClockwiseWrapped(const CGeoPoint* ring, uint64_t count);

// Whether a and b are one place: equal latitudes, longitudes equal modulo a
// full turn (a ring longitude past +180 degrees and its natural name).
inline bool SamePlace(CGeoPoint a, CGeoPoint b) { return a.y == b.y && LonDiff(a.x, b.x) == 0; }

// Ray-casting containment with the antimeridian rule. A point on the line of
// an edge is decided by the first such edge: inside when it lies between the
// edge's ends in longitude.
bool PointInRing(const CGeoPoint* ring, uint64_t count, CGeoPoint p);

// Whether the polygon of rings (even-odd: inside an odd number of them) holds
// the area, when no edge of the polygon runs through the area's inside:
// decided at the first corner of area that no ring passes; false when every
// corner lies on a ring. bounds, when given, are the rings' bounding
// rectangles, so that rings far from a corner cost nothing.
bool HoldsArea(const TRing* rings, const CGeoRect* bounds, uint64_t ringCount, const TRing& area);

// The point at fraction t of the way from p to q, rounded half up.
CGeoPoint Interpolate(CGeoPoint p, CGeoPoint q, double t);
// Where point lies along p -> q, measured on the axis along which p -> q
// moves more.
double Fraction(CGeoPoint point, CGeoPoint p, CGeoPoint q);

// Finds which of a set of closed rings holds a point, in two binary searches:
// one over vertical slabs at every vertex longitude, one over the edges that
// cross the slab, sorted bottom to top. An edge spans many slabs when there
// are many areas, so a slab holds only edge numbers, in one table for all
// slabs.
class CAreaLocator {
public:
    static constexpr int32_t kNone = -1;

    // Builds over rings[0 .. count); the rings must outlive the locator and
    // stay unchanged. Ring index = area index.
    void Build(const TRing* const* rings, uint64_t count);
    void Build(const TAreaList& areas);
    void Clear();

    // The index of the area holding p, or kNone. border is set when p lies on
    // an edge or a vertex of that area's ring, cleared when not; it is left
    // as it was when p lies east of every slab. A point outside every ring is
    // looked for once more a full turn further east, in the rings that cross
    // the antimeridian and so run on past +180 degrees.
    int32_t Locate(CGeoPoint p, bool* border = nullptr) const;

    // Bytes held by slabs and their edge slots, for memory figures.
    uint64_t BytesHeld() const;

private:
    struct TEdge {
        CGeoPoint ends[2];  // ends[0] -> ends[1], not vertical
        int32_t ring;
    };
    struct TVertical {
        int32_t low, high;
    };

    // The steps of Build, after m_keys: the slab tables of the rings' edges;
    // each slab's vertical edges merged into disjoint spans; each slab's
    // edges sorted bottom to top, those with an unusual area below marked.
    void FillSlabs(const TRing* const* rings, uint64_t count);
    void MergeVerticals();
    void OrderSlabs();
    int32_t LocateAt(CGeoPoint p, bool* border) const;
    int32_t LocateInSlab(uint64_t slab, CGeoPoint p, bool* border) const;
    // The area just below the edge at m_segments[at].
    int32_t RegionAt(uint64_t at) const;

    // Slab k covers x in (m_keys[k - 1], m_keys[k]]; its edges are
    // m_segments[m_segmentStart[k] .. m_segmentStart[k + 1]), its vertical
    // edges (at x = m_keys[k]), merged into disjoint spans, likewise in
    // m_verticals. A segment is an edge number times two, plus one when the
    // area below it is not the usual one (its own ring under an edge running
    // east, the top of a clockwise ring; none under one running west): only
    // overlapping, nested or broken rings make those, listed by position in
    // m_unusualAt and m_unusual.
    CGrowArray<int32_t> m_keys;
    CGrowArray<uint64_t> m_segmentStart;
    CGrowArray<uint64_t> m_verticalStart;
    CGrowArray<uint32_t> m_segments;
    CGrowArray<TVertical> m_verticals;
    CGrowArray<TEdge> m_edges;
    CGrowArray<uint64_t> m_unusualAt;
    CGrowArray<int32_t> m_unusual;
};

}  // namespace Splitter::Geometry
