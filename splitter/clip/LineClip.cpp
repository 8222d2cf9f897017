// Cutting one way at the border of an area: where each segment crosses the
// border, and the pieces inside that those crossings leave.
#include <algorithm>
#include <cmath>

#include "splitter/areas/AreaGeometry.h"
#include "splitter/clip/ClipContext.h"
#include "splitter/clip/ClipMath.h"
#include "splitter/clip/TagRules.h"

namespace Splitter::Clip {

using namespace detail;

// A crossing of one segment with the border, while a segment is examined.
struct CAreaClipContext::TSegmentCrossing {
    double t;  // along the segment
    int32_t edge;
    uint32_t fraction;
    double angle;
    bool entering;
    bool collinear;     // an end of a stretch the segment shares with an edge
    bool overlapAhead;  // for collinear ones: the shared stretch lies ahead
};

// The pieces of one way as they are cut, node by node and crossing by
// crossing.
struct CAreaClipContext::TLineCut {
    CAreaClipContext& context;
    const OSM::TWay& way;
    int64_t current = -1;  // the piece under construction

    TPiece& Current() { return context.m_pieces[uint64_t(current)]; }

    // Node i of the way, reached after the crossings of its segment:
    // pending is the crossing that segment ends on, if any.
    void Node(uint64_t i, const TCrossing* pending)
    {
        const OSM::TId id = way.nodeRefs[i];
        if (context.m_nodes.NodeArea(id) != int32_t(context.m_areaIndex)) {
            if (current >= 0)
                EndAt(pending);
            return;
        }
        if (current < 0) {
            TPiece& piece = context.NewPiece(way);
            current = int64_t(context.m_pieces.Count() - 1);
            if (i > 0 && pending != nullptr) {
                piece.start = *pending;
                if (piece.start.angle != 0)
                    piece.start.angle = kTwoPi - piece.start.angle;
            }
        }
        Current().way.nodeRefs.PushBack(id);
    }

    // Ends the current piece at crossing at, or at its last inside node.
    void EndAt(const TCrossing* at)
    {
        TPiece& piece = Current();
        if (at != nullptr) {
            piece.way.nodeRefs.PushBack(kPlaceholder);
            piece.end = *at;
        } else {
            piece.end = TCrossing{};
        }
        current = -1;
    }

    void Cross(const TSegmentCrossing& c)
    {
        if (!c.entering) {
            if (current >= 0) {
                TPiece& piece = Current();
                if (c.t != 0)
                    piece.way.nodeRefs.PushBack(kPlaceholder);
                piece.end = {c.edge, c.fraction, c.angle != 0 ? kTwoPi - c.angle : 0};
                current = -1;
            }
        } else if (current < 0) {
            TPiece& piece = context.NewPiece(way);
            piece.way.nodeRefs.PushBack(kPlaceholder);
            piece.start = {c.edge, c.fraction, c.angle};
            current = int64_t(context.m_pieces.Count() - 1);
        }
    }
};

uint32_t CAreaClipContext::ClipLine(const OSM::TWay& way, const CGeoPoint* points, uint64_t n, bool ringMode,
                                    bool keepsId)
{
    const uint64_t first = m_pieces.Count();
    TLineCut cut{*this, way};
    CGrowArray<TSegmentCrossing> crossings;
    cut.Node(0, nullptr);
    for (uint64_t i = 0; i + 1 < n; ++i) {
        TCrossing pending;
        const bool hasPending = SegmentCrossings(points[i], points[i + 1], crossings, pending);
        for (const TSegmentCrossing& c : crossings)
            cut.Cross(c);
        cut.Node(i + 1, hasPending ? &pending : nullptr);
    }
    if (cut.current >= 0)
        cut.Current().end = TCrossing{};
    return FinishLine(way, first, n, ringMode, keepsId);
}

bool CAreaClipContext::SegmentCrossings(CGeoPoint p, CGeoPoint p1, CGrowArray<TSegmentCrossing>& crossings,
                                        TCrossing& pending)
{
    crossings.Clear();
    CGrowArray<TSegmentCrossing> owned;  // starts of stretches along the border that belong here
    bool hasPending = false;
    const TVector d = Direction(p, p1);
    if (d.x != 0 || d.y != 0) {
        const bool east = d.x >= 0;
        const CGeoRect rect{east ? p.x : p1.x, east ? p1.x : p.x, std::min(p.y, p1.y), std::max(p.y, p1.y)};
        m_found.Clear();
        m_edges.Query(rect, m_found);
        for (uint32_t k : m_found) {
            const TVector e = Direction(m_polygon[k], m_polygon[k + 1]), w = Direction(p, m_polygon[k]);
            if (Cross(d, e) != 0)
                hasPending |= CrossEdge(k, d, e, w, crossings, pending);
            else if (Cross(w, e) == 0)
                hasPending |= AlongEdge(k, p, p1, crossings, owned, pending);
        }
    }
    // Each after the crossings at its place, so that it starts a piece even
    // where the way has just left the area.
    for (const TSegmentCrossing& c : owned) {
        crossings.PushBack(c);
        TSegmentCrossing* last = crossings.end() - 1;
        TSegmentCrossing* at = std::upper_bound(crossings.begin(), last, c.t,
                                                [](double t, const TSegmentCrossing& x) { return t < x.t; });
        std::rotate(at, last, crossings.end());
    }
    return hasPending;
}

bool CAreaClipContext::CrossEdge(uint32_t k, TVector d, TVector e, TVector w,
                                 CGrowArray<TSegmentCrossing>& crossings, TCrossing& pending) const
{
    const int64_t D = Cross(d, e), T = Cross(w, e), U = Cross(w, d);
    const bool meets = D > 0 ? (T >= 0 && T <= D && U >= 0 && U <= D) : (T <= 0 && T >= D && U <= 0 && U >= D);
    if (!meets)
        return false;
    const uint32_t fraction = ToFraction(double(U) / double(D));
    if (T == D) {
        // The segment ends on this edge: its end node is the contact.
        if (U == D)
            return false;
        pending = {int32_t(k), fraction, Angle(-d.x, -d.y, e.x, e.y)};
        return true;
    }
    AddCrossing(crossings, {double(T) / double(D), int32_t(k), fraction, Angle(d.x, d.y, e.x, e.y), D > 0, false,
                            false}, d);
    return false;
}

bool CAreaClipContext::AlongEdge(uint32_t k, CGeoPoint p, CGeoPoint p1, CGrowArray<TSegmentCrossing>& crossings,
                                 CGrowArray<TSegmentCrossing>& owned, TCrossing& pending) const
{
    const CGeoPoint q = m_polygon[k], q1 = m_polygon[k + 1];
    const TVector d = Direction(p, p1), e = Direction(q, q1), w = Direction(p, q);
    const double s = Along(w, d), s1 = Along(Direction(p, q1), d);
    if (s >= 0 && s < 1)
        AddCrossing(crossings, {s, int32_t(k), 0, 0, false, true, s1 > s}, d);
    if (s1 >= 0 && s1 < 1)
        AddCrossing(crossings, {s1, int32_t(k), uint32_t(kFractionScale), 0, false, true, s > s1}, d);
    bool hasPending = false;
    const double r = Along(Direction(q, p1), e);
    if (r >= 0 && r < 1) {
        pending = {int32_t(k), ToFraction(r), Angle(-d.x, -d.y, e.x, e.y)};
        hasPending = true;
    }
    // A stretch along the border belongs to the area its points go to, as
    // nodes there would: one keeps it.
    const double from = std::max(0.0, std::min(s, s1)), to = std::min(1.0, std::max(s, s1));
    if (from < to) {
        const CGeoPoint mid = Geometry::Interpolate(p, p1, (from + to) / 2);
        if (m_nodes.PointArea(mid) == int32_t(m_areaIndex)) {
            const double u = from == s ? 0.0 : from == s1 ? 1.0 : std::clamp(-Along(w, e), 0.0, 1.0);
            const bool corner = u >= 1;
            owned.PushBack(
                {from, int32_t(corner ? (k + 1) % EdgeCount() : k), corner ? 0 : ToFraction(u), 0, true, false, false});
        }
    }
    return hasPending;
}

// A segment through a polygon vertex crosses both edges there: one crossing
// stands for them, entering or leaving as the segment does.
void CAreaClipContext::AddCrossing(CGrowArray<TSegmentCrossing>& crossings, TSegmentCrossing c, TVector d) const
{
    const uint64_t at = uint64_t(std::upper_bound(crossings.begin(), crossings.end(), c.t,
                                                  [](double t, const TSegmentCrossing& x) { return t < x.t; }) -
                                 crossings.begin());
    if (at == 0 || crossings[at - 1].t != c.t) {
        crossings.PushBack(c);
        std::rotate(crossings.begin() + at, crossings.end() - 1, crossings.end());
        return;
    }
    TSegmentCrossing& old = crossings[at - 1];
    const bool adjacent = uint32_t(c.edge) == (uint32_t(old.edge) + 1) % EdgeCount();
    if (old.collinear) {
        if (old.overlapAhead || c.collinear) {
            crossings.Erase(at - 1, at);
            return;
        }
        old.entering = c.entering;
    } else if (c.collinear) {
        if (c.overlapAhead) {
            crossings.Erase(at - 1, at);
            return;
        }
    } else if (old.entering != c.entering) {
        auto projection = [&](int32_t edge) {
            TVector e = Direction(m_polygon[uint32_t(edge)], m_polygon[uint32_t(edge) + 1]);
            return (double(d.x) * double(e.x) + double(d.y) * double(e.y)) / std::hypot(double(e.x), double(e.y));
        };
        const double aOld = projection(old.edge), aNew = projection(c.edge);
        if (adjacent ? aNew > -aOld : -aNew > aOld)
            old.entering = c.entering;
    }
    old.fraction = 0;
    old.collinear = false;
    if (adjacent) {
        old.edge = c.edge;
        TVector e = Direction(m_polygon[uint32_t(c.edge)], m_polygon[uint32_t(c.edge) + 1]);
        old.angle = Angle(d.x, d.y, e.x, e.y);
    }
}

// A closed way starting inside has its last piece continue into its first;
// pieces outside ring mode get their border nodes.
uint32_t CAreaClipContext::FinishLine(const OSM::TWay& way, uint64_t first, uint64_t n, bool ringMode, bool keepsId)
{
    uint32_t count = uint32_t(m_pieces.Count() - first);
    if (count == 0)
        return 0;
    TPiece& head = m_pieces[first];
    // A piece can also begin or end without a crossing where overlapping
    // areas meet; only one holding every node is the way itself.
    if (keepsId && !head.start.HasEdge() && !head.end.HasEdge() && head.way.nodeRefs.Count() == n)
        head.way.id = way.id;  // the whole way stayed inside
    if (count > 1) {
        TPiece& tail = m_pieces.Back();
        if (!head.start.HasEdge() && !tail.end.HasEdge() && head.way.nodeRefs[0] == tail.way.nodeRefs.Back()) {
            // A closed way starting inside: its last piece continues into its first.
            CGrowArray<OSM::TId> joined;
            joined.Reserve(tail.way.nodeRefs.Count() - 1 + head.way.nodeRefs.Count());
            joined.Append(tail.way.nodeRefs.Data(), tail.way.nodeRefs.Count() - 1);
            joined.Append(head.way.nodeRefs.Data(), head.way.nodeRefs.Count());
            head.way.nodeRefs = std::move(joined);
            head.start = tail.start;
            m_pieces.PopBack();
            --m_output.nextWayId;
            --count;
        }
    }
    if (!ringMode) {
        const bool highway = IsHighway(way);
        ClearCrossingNodes();
        for (uint64_t i = first; i < m_pieces.Count(); ++i)
            FinishPlaceholders(m_pieces[i], highway);
    }
    return count;
}


}  // namespace Splitter::Clip
