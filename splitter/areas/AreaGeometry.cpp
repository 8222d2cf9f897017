#include "splitter/areas/AreaGeometry.h"

#include <algorithm>
#include <cmath>

namespace Splitter::Geometry {

namespace {

// The orientation test, with dx(a, b) giving the longitude step from a to b.
template <typename Dx>
bool ClockwiseWith(const CGeoPoint* ring, uint64_t count, Dx dx)
{
    if (count == 0)
        return true;
    // x is followed along the ring, so that a ring crossing the antimeridian
    // is measured in one piece.
    uint64_t low = 0;
    int64_t x = ring[0].x, lowX = x;
    for (uint64_t i = 1; i < count; ++i) {
        x += dx(ring[i - 1].x, ring[i].x);
        if (ring[i].y < ring[low].y || (ring[i].y == ring[low].y && x > lowX)) {
            low = i;
            lowX = x;
        }
    }
    const CGeoPoint lowest = ring[low];
    uint64_t prev = low, next = low;
    for (uint64_t steps = 0;; ++steps) {
        if (steps == count)
            return true;  // every point equals the lowest
        prev = prev == 0 ? count - 1 : prev - 1;
        if (!(ring[prev] == lowest))
            break;
    }
    do
        next = next + 1 == count ? 0 : next + 1;
    while (ring[next] == lowest);
    int64_t ax = dx(ring[prev].x, lowest.x), ay = int64_t(lowest.y) - ring[prev].y;
    int64_t bx = ax + dx(lowest.x, ring[next].x), by = int64_t(ring[next].y) - ring[prev].y;
    return ax * by - ay * bx < 0;
}

}  // namespace

bool IsClockwise(const CGeoPoint* ring, uint64_t count)
{
    return ClockwiseWith(ring, count, [](int32_t a, int32_t b) { return int64_t(b) - a; });
}

bool IsClockwiseWrapped(const CGeoPoint* ring, uint64_t count) { return ClockwiseWith(ring, count, LonDiff); }

namespace {

// Where p lies against the ring: on an edge (kOn), or inside or outside it
// by ray casting with the antimeridian rule, in one pass over the edges.
enum class EPlace { kOutside, kInside, kOn };

EPlace PlaceInRing(const CGeoPoint* ring, uint64_t count, CGeoPoint p)
{
    bool inside = false;
    for (uint64_t i = 0; i < count; ++i) {
        CGeoPoint lo = ring[i == 0 ? count - 1 : i - 1];
        CGeoPoint hi = ring[i];
        if (hi.y < lo.y)
            std::swap(lo, hi);
        if (p.y < lo.y || p.y > hi.y)
            continue;
        int64_t d = LonDiff(lo.x, hi.x);
        int64_t e = LonDiff(lo.x, p.x);
        int64_t c = int64_t(p.y - lo.y) * d - e * int64_t(hi.y - lo.y);
        if (c == 0) {
            int64_t fromHi = LonDiff(hi.x, p.x);
            if ((e >= 0 && fromHi <= 0) || (e <= 0 && fromHi >= 0))
                return EPlace::kOn;
            continue;  // a level edge beside p: it crosses nothing
        }
        if (c > 0 && p.y != lo.y)
            inside = !inside;
    }
    return inside ? EPlace::kInside : EPlace::kOutside;
}

}  // namespace

bool PointInRing(const CGeoPoint* ring, uint64_t count, CGeoPoint p)
{
    return PlaceInRing(ring, count, p) != EPlace::kOutside;
}

bool HoldsArea(const TRing* rings, const CGeoRect* bounds, uint64_t ringCount, const TRing& area)
{
    for (const CGeoPoint& corner : area) {
        bool inside = false, onRing = false;
        const CGeoRect point = CGeoRect::OfPoint(corner);
        for (uint64_t r = 0; r < ringCount && !onRing; ++r) {
            if (bounds != nullptr && !Intersects(bounds[r], point))
                continue;  // neither on the ring nor inside it
            const EPlace place = PlaceInRing(rings[r].Data(), rings[r].Count(), corner);
            onRing = place == EPlace::kOn;
            inside ^= place == EPlace::kInside;
        }
        if (!onRing)
            return inside;
    }
    return false;
}

CGeoPoint Interpolate(CGeoPoint p, CGeoPoint q, double t)
{
    double dx = double(LonDiff(p.x, q.x));
    double dy = double(int64_t(q.y) - p.y);
    auto ox = int64_t(std::floor(dx * t + 0.5));
    auto oy = int64_t(std::floor(dy * t + 0.5));
    return {LonAdd(p.x, ox), int32_t(int64_t(p.y) + oy)};
}

double Fraction(CGeoPoint point, CGeoPoint p, CGeoPoint q)
{
    int64_t dx = LonDiff(p.x, q.x);
    int64_t dy = int64_t(q.y) - p.y;
    if (std::llabs(dx) <= std::llabs(dy))
        return dy == 0 ? 0.0 : double(int64_t(point.y) - p.y) / double(dy);
    return double(LonDiff(p.x, point.x)) / double(dx);
}

// ---------------------------------------------------------------------------
// CAreaLocator

namespace {

// y of the non-vertical edge e at x, from its first point.
int64_t YAt(const CGeoPoint* e, int64_t x)
{
    int64_t dx = int64_t(e[1].x) - e[0].x;
    int64_t dy = int64_t(e[1].y) - e[0].y;
    return e[0].y + dy * (x - e[0].x) / dx;
}

// -1 lower, 1 higher, 0 level within tolerance units.
int Compare(int64_t ya, int64_t yb, int64_t tolerance)
{
    if (ya + tolerance < yb)
        return -1;
    if (ya - tolerance > yb)
        return 1;
    return 0;
}

bool RunsEast(const CGeoPoint* e) { return e[0].x < e[1].x; }

// Whether edge a lies below edge b over the longitudes they share. Of two
// edges on one line, the one running east (the top of a clockwise ring) sorts
// below the one running west (the bottom of the ring above). Sloping edges
// of different rings are level within two units, as the rounded vertices of
// trimmed polygons put them. Edges of one ring, and level edges, which come
// from rectangles and are exact, are compared exactly: an area one or two
// units high keeps its bottom below its top, and both apart from its
// neighbours' edges.
bool IsBelow(const CGeoPoint* a, const CGeoPoint* b, bool sameRing)
{
    const bool level = a[0].y == a[1].y && b[0].y == b[1].y;
    const int64_t tolerance = sameRing || level ? 0 : 2;
    int64_t xs = std::max(std::min(a[0].x, a[1].x), std::min(b[0].x, b[1].x));
    int64_t xe = std::min(std::max(a[0].x, a[1].x), std::max(b[0].x, b[1].x));
    int atStart = Compare(YAt(a, xs), YAt(b, xs), tolerance);
    int atEnd = Compare(YAt(a, xe), YAt(b, xe), tolerance);
    if ((atStart < 0 && atEnd <= 0) || (atStart == 0 && atEnd < 0))
        return true;
    if ((atStart > 0 && atEnd >= 0) || (atStart == 0 && atEnd > 0))
        return false;
    return RunsEast(a) && !RunsEast(b);
}

// -1 when the edge lies below p, 1 above, 0 when p is on its line.
int Side(const CGeoPoint* e, CGeoPoint p)
{
    CGeoPoint a = e[0], b = e[1];
    if (p.y > a.y && p.y > b.y)
        return -1;
    if (p.y < a.y && p.y < b.y)
        return 1;
    int64_t v = (int64_t(b.y) - a.y) * (int64_t(p.x) - a.x) - (int64_t(b.x) - a.x) * (int64_t(p.y) - a.y);
    int s = v > 0 ? 1 : v < 0 ? -1 : 0;
    return a.x >= b.x ? -s : s;
}

}  // namespace

void CAreaLocator::Clear()
{
    m_keys.Free();
    m_segmentStart.Free();
    m_verticalStart.Free();
    m_segments.Free();
    m_verticals.Free();
    m_edges.Free();
    m_unusualAt.Free();
    m_unusual.Free();
}

void CAreaLocator::Build(const TAreaList& areas)
{
    CGrowArray<const TRing*> rings;
    rings.Reserve(areas.Count());
    for (const TArea& area : areas)
        rings.PushBack(&area.ring);
    Build(rings.Data(), rings.Count());
}

void CAreaLocator::Build(const TRing* const* rings, uint64_t count)
{
    Clear();
    for (uint64_t r = 0; r < count; ++r)
        for (uint64_t i = 1; i < rings[r]->Count(); ++i)
            m_keys.PushBack((*rings[r])[i].x);
    std::sort(m_keys.begin(), m_keys.end());
    m_keys.EraseRepeats();
    m_keys.ShrinkToFit();
    FillSlabs(rings, count);
    MergeVerticals();
    OrderSlabs();
}

void CAreaLocator::FillSlabs(const TRing* const* rings, uint64_t count)
{
    const uint64_t slabs = m_keys.Count();
    auto firstSlab = [this](int32_t x) {
        return uint64_t(std::lower_bound(m_keys.begin(), m_keys.end(), x) - m_keys.begin());
    };
    auto endSlab = [this](int32_t x) {
        return uint64_t(std::upper_bound(m_keys.begin(), m_keys.end(), x) - m_keys.begin());
    };

    // Counted first, so that the tables are made once at their final size:
    // growing them would hold up to half as much again while copying.
    m_segmentStart.Resize(slabs + 1);
    m_verticalStart.Resize(slabs + 1);
    std::fill(m_segmentStart.begin(), m_segmentStart.end(), 0);
    std::fill(m_verticalStart.begin(), m_verticalStart.end(), 0);
    CGrowArray<int64_t> spans;  // +1 where an edge's slabs begin, -1 after
    spans.Resize(slabs + 1);
    std::fill(spans.begin(), spans.end(), 0);
    // Calls visit(ring, edge ends, first slab, east end) for every edge
    // that has a slab, in ring order; both passes below see the same edges.
    auto forEachEdge = [&](auto&& visit) {
        for (uint64_t r = 0; r < count; ++r) {
            const TRing& ring = *rings[r];
            for (uint64_t j = 0; j + 1 < ring.Count(); ++j) {
                const CGeoPoint* e = &ring[j];
                uint64_t s = firstSlab(std::min(e[0].x, e[1].x));
                if (s != slabs)  // else a ring's first point alone: no slab of its own
                    visit(r, e, s, std::max(e[0].x, e[1].x));
            }
        }
    };
    uint64_t edges = 0;
    forEachEdge([&](uint64_t, const CGeoPoint* e, uint64_t s, int32_t x2) {
        if (e[0].x == e[1].x) {
            ++m_verticalStart[s + 1];
            return;
        }
        ++edges;
        uint64_t end = endSlab(x2);
        if (end > s + 1) {
            ++spans[s + 1];
            --spans[end];
        }
    });
    if (edges > UINT32_MAX / 2)
        ThrowBadAlloc();
    int64_t crossing = 0;
    for (uint64_t k = 0; k < slabs; ++k) {
        crossing += spans[k];
        m_segmentStart[k + 1] = m_segmentStart[k] + uint64_t(crossing);
        m_verticalStart[k + 1] += m_verticalStart[k];
    }
    spans.Free();

    m_edges.Reserve(edges);
    m_segments.Resize(m_segmentStart[slabs]);
    m_verticals.Resize(m_verticalStart[slabs]);
    {
        // Fill cursors, one per slab; each slab receives its edges in ring
        // order, the order its sort below starts from.
        CGrowArray<uint64_t> nextSegment(m_segmentStart), nextVertical(m_verticalStart);
        forEachEdge([&](uint64_t r, const CGeoPoint* e, uint64_t s, int32_t x2) {
            if (e[0].x == e[1].x) {
                m_verticals[nextVertical[s]++] = {std::min(e[0].y, e[1].y), std::max(e[0].y, e[1].y)};
                return;
            }
            auto edge = uint32_t(m_edges.Count());
            m_edges.PushBack({{e[0], e[1]}, int32_t(r)});
            for (uint64_t k = s + 1; k < slabs && m_keys[k] <= x2; ++k)
                m_segments[nextSegment[k]++] = edge * 2;
        });
    }
}

void CAreaLocator::MergeVerticals()
{
    // The vertical edges on one meridian may overlap or nest (tiles of
    // different heights on either side): each slab keeps their union, as
    // disjoint spans, so that the first span reaching up to a point decides.
    const uint64_t slabs = m_keys.Count();
    uint64_t kept = 0;
    for (uint64_t k = 0, begin = 0; k < slabs; ++k) {
        const uint64_t end = m_verticalStart[k + 1];
        std::sort(m_verticals.begin() + begin, m_verticals.begin() + end,
                  [](const TVertical& a, const TVertical& b) { return a.low < b.low; });
        const uint64_t first = kept;
        for (uint64_t i = begin; i < end; ++i) {
            const TVertical v = m_verticals[i];
            if (kept > first && v.low <= m_verticals[kept - 1].high)
                m_verticals[kept - 1].high = std::max(m_verticals[kept - 1].high, v.high);
            else
                m_verticals[kept++] = v;
        }
        m_verticalStart[k] = first;
        begin = end;
    }
    m_verticalStart[slabs] = kept;
    m_verticals.Resize(kept);
    m_verticals.ShrinkToFit();
}

void CAreaLocator::OrderSlabs()
{
    const uint64_t slabs = m_keys.Count();
    CGrowArray<int32_t> stack;
    for (uint64_t k = 0; k < slabs; ++k) {
        uint32_t* first = m_segments.begin() + m_segmentStart[k];
        uint32_t* last = m_segments.begin() + m_segmentStart[k + 1];
        // Edges of overlapping or broken rings can make the order inconsistent;
        // a stable merge sort stays within bounds even then.
        std::stable_sort(first, last, [this](uint32_t a, uint32_t b) {
            const TEdge &ea = m_edges[a / 2], &eb = m_edges[b / 2];
            return IsBelow(ea.ends, eb.ends, ea.ring == eb.ring);
        });
        stack.Clear();
        for (uint32_t* segment = first; segment != last; ++segment) {
            const TEdge& edge = m_edges[*segment / 2];
            int32_t region;
            int32_t* found = std::find(stack.begin(), stack.end(), edge.ring);
            if (found != stack.end()) {
                region = stack.Back();
                stack.Erase(uint64_t(found - stack.begin()), uint64_t(found - stack.begin()) + 1);
            } else {
                region = stack.Empty() ? kNone : stack.Back();
                stack.PushBack(edge.ring);
            }
            if (region != (RunsEast(edge.ends) ? edge.ring : kNone)) {
                *segment |= 1;
                m_unusualAt.PushBack(uint64_t(segment - m_segments.begin()));
                m_unusual.PushBack(region);
            }
        }
    }
    m_unusualAt.ShrinkToFit();
    m_unusual.ShrinkToFit();
}

int32_t CAreaLocator::RegionAt(uint64_t at) const
{
    uint32_t segment = m_segments[at];
    const TEdge& edge = m_edges[segment / 2];
    if ((segment & 1) == 0)
        return RunsEast(edge.ends) ? edge.ring : kNone;
    return m_unusual[uint64_t(std::lower_bound(m_unusualAt.begin(), m_unusualAt.end(), at) - m_unusualAt.begin())];
}

int32_t CAreaLocator::LocateInSlab(uint64_t slab, CGeoPoint p, bool* border) const
{
    const uint32_t* first = m_segments.begin() + m_segmentStart[slab];
    uint64_t lo = 0, hi = m_segmentStart[slab + 1] - m_segmentStart[slab];
    const uint64_t n = hi;
    while (lo < hi) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (Side(m_edges[first[mid] / 2].ends, p) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == n)
        return kNone;
    int side = Side(m_edges[first[lo] / 2].ends, p);
    if (side == 0 && border != nullptr)
        *border = true;
    int32_t region = RegionAt(m_segmentStart[slab] + lo);
    if (region == kNone && side == 0)
        return lo + 1 < n ? RegionAt(m_segmentStart[slab] + lo + 1) : kNone;
    return region;
}

int32_t CAreaLocator::Locate(CGeoPoint p, bool* border) const
{
    int32_t area = LocateAt(p, border);
    // Rings crossing the antimeridian run on past +180 degrees, where the
    // meridians east of it have a second name.
    if (area == kNone && !m_keys.Empty() && int64_t(p.x) + MapUnits::kTurn <= m_keys.Back()) {
        bool again = false;
        int32_t found = LocateAt({int32_t(int64_t(p.x) + MapUnits::kTurn), p.y}, &again);
        if (found != kNone) {
            area = found;
            if (border != nullptr)
                *border = again;
        }
    }
    return area;
}

int32_t CAreaLocator::LocateAt(CGeoPoint p, bool* border) const
{
    auto slab = uint64_t(std::lower_bound(m_keys.begin(), m_keys.end(), p.x) - m_keys.begin());
    if (slab == m_keys.Count())
        return kNone;
    bool onBorder = false;
    if (m_keys[slab] == p.x) {
        const TVertical* end = m_verticals.begin() + m_verticalStart[slab + 1];
        const TVertical* v = std::lower_bound(m_verticals.begin() + m_verticalStart[slab], end, p.y,
                                              [](const TVertical& a, int32_t y) { return a.high < y; });
        onBorder = v != end && v->low <= p.y;
    }
    int32_t area = LocateInSlab(slab, p, &onBorder);
    if (area == kNone && m_keys[slab] == p.x && slab + 1 != m_keys.Count())
        area = LocateInSlab(slab + 1, p, nullptr);
    if (border != nullptr)
        *border = onBorder;
    return area;
}

uint64_t CAreaLocator::BytesHeld() const
{
    return m_keys.CapacityBytes() + m_segmentStart.CapacityBytes() + m_verticalStart.CapacityBytes() +
           m_segments.CapacityBytes() + m_verticals.CapacityBytes() + m_edges.CapacityBytes() +
           m_unusualAt.CapacityBytes() + m_unusual.CapacityBytes();
}

}  // namespace Splitter::Geometry
