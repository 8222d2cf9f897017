// Along the border of an area: walks that follow a piece lying on it, and
// the paths that close cut polygons there, through the polygon's corners and
// the polygon's own nodes on the border.
#include <algorithm>

#include "splitter/clip/ClipContext.h"
#include "splitter/clip/ClipMath.h"

namespace Splitter::Clip {

using namespace detail;

bool CAreaClipContext::StepAlongBorder(bool forward, TCrossing& c, const TCrossing& stop, CGeoPoint p) const
{
    if (c.edge == stop.edge && c.fraction == stop.fraction)
        return false;
    const uint32_t edges = EdgeCount();
    // The edge on which the border runs from c in the walk's direction, and
    // the stretch of it, as fractions, that lies between c and the next corner.
    uint32_t edge = uint32_t(c.edge);
    uint32_t low = c.fraction, high = uint32_t(kFractionScale);
    if (!forward) {
        if (c.fraction == 0)
            edge = edge == 0 ? edges - 1 : edge - 1;
        else
            high = c.fraction;
        low = 0;
    }
    const CGeoPoint q = m_polygon[edge], q1 = m_polygon[edge + 1];
    const TVector e = Direction(q, q1), w = Direction(q, p);
    if (Cross(e, w) != 0)
        return false;
    const double u = Along(w, e);
    if (u < 0 || u > 1)
        return false;
    uint32_t fraction = Geometry::SamePlace(p, q1) ? uint32_t(kFractionScale) : Geometry::SamePlace(p, q) ? 0 : ToFraction(u);
    if (fraction < low || fraction > high)
        return false;
    // Not beyond the stop.
    if (int32_t(edge) == stop.edge) {
        if (forward && stop.fraction >= c.fraction && fraction > stop.fraction)
            return false;
        if (!forward && stop.fraction <= high && fraction < stop.fraction)
            return false;
    }
    if (fraction < uint32_t(kFractionScale))
        c = {int32_t(edge), fraction, 0};
    else if (forward)
        c = {int32_t((edge + 1) % edges), 0, 0};  // the next corner
    else
        return false;  // c's own corner
    return true;
}

uint64_t CAreaClipContext::BorderWalk(const OSM::TWay& way, uint64_t index, bool readBackwards, bool forward,
                                      TCrossing& c, const TCrossing& stop) const
{
    const uint64_t count = way.nodeRefs.Count();
    // Every round moves one node along the way, so the walk ends.
    while (readBackwards ? index > 0 : index + 1 < count) {
        uint64_t next = readBackwards ? index - 1 : index + 1;
        CGeoPoint p;
        if (!m_nodes.NodePoint(way.nodeRefs[next], p) || !StepAlongBorder(forward, c, stop, p))
            break;
        index = next;
    }
    return index;
}

bool CAreaClipContext::BorderPosition(CGeoPoint p, TCrossing& at)
{
    m_found.Clear();
    m_edges.Query(CGeoRect::OfPoint(p), m_found);
    std::sort(m_found.begin(), m_found.end());  // the first edge holding a corner is the one it starts
    for (uint32_t k : m_found) {
        const CGeoPoint q = m_polygon[k], q1 = m_polygon[k + 1];
        const TVector e = Direction(q, q1), w = Direction(q, p);
        if (Cross(e, w) != 0 || Geometry::SamePlace(p, q1))
            continue;
        const double u = Along(w, e);
        if (u < 0 || u > 1)
            continue;
        at = {int32_t(k), Geometry::SamePlace(p, q) ? 0 : std::min(ToFraction(u), uint32_t(kFractionScale) - 1), 0};
        return true;
    }
    return false;
}

void CAreaClipContext::NoteBorderNodes(const OSM::TWay& way)
{
    for (OSM::TId ref : way.nodeRefs) {
        CGeoPoint p;
        TCrossing at;
        if (ref != kPlaceholder && m_nodes.NodePoint(ref, p) && BorderPosition(p, at))
            m_borderNodes.PushBack({at.edge, at.fraction, ref});
    }
}

void CAreaClipContext::SortBorderNodes()
{
    std::sort(m_borderNodes.begin(), m_borderNodes.end(), [](const TBorderNode& a, const TBorderNode& b) {
        return a.edge != b.edge ? a.edge < b.edge : a.fraction != b.fraction ? a.fraction < b.fraction : a.id < b.id;
    });
    m_borderNodes.EraseRepeats(
        [](const TBorderNode& a, const TBorderNode& b) { return a.edge == b.edge && a.fraction == b.fraction; });
}

void CAreaClipContext::AppendBorderPath(OSM::TWay& way, const TCrossing& a, const TCrossing& b)
{
    // Nodes of the polygon being closed that lie on the border between a
    // and b go into the path: the polygon touches the border there, and a
    // path passing them by would make its ring touch itself between nodes.
    auto onEdge = [&](uint32_t edge, uint64_t above, uint64_t below) {
        const TBorderNode* n = std::lower_bound(
            m_borderNodes.begin(), m_borderNodes.end(), std::pair(int32_t(edge), above),
            [](const TBorderNode& x, std::pair<int32_t, uint64_t> k) {
                return x.edge != k.first ? x.edge < k.first : x.fraction <= k.second;
            });
        for (; n != m_borderNodes.end() && n->edge == int32_t(edge) && n->fraction < below; ++n)
            way.nodeRefs.PushBack(n->id);
    };
    auto corner = [&](uint32_t k) {
        const TBorderNode* n = std::lower_bound(
            m_borderNodes.begin(), m_borderNodes.end(), int32_t(k),
            [](const TBorderNode& x, int32_t edge) { return x.edge < edge; });
        const bool held = n != m_borderNodes.end() && n->edge == int32_t(k) && n->fraction == 0;
        way.nodeRefs.PushBack(held ? n->id : NewNode(m_polygon[k], false));
    };
    if (a.edge == b.edge && a.fraction <= b.fraction) {
        onEdge(uint32_t(a.edge), a.fraction, b.fraction);
        return;
    }
    const uint32_t edges = EdgeCount();
    onEdge(uint32_t(a.edge), a.fraction, UINT64_MAX);
    for (uint32_t k = (uint32_t(a.edge) + 1) % edges; k != uint32_t(b.edge); k = (k + 1) % edges) {
        corner(k);
        onEdge(k, 0, UINT64_MAX);
    }
    if (b.fraction != 0) {
        corner(uint32_t(b.edge));
        onEdge(uint32_t(b.edge), 0, b.fraction);
    }
}

uint32_t CAreaClipContext::BorderRing(const OSM::TWay& source)
{
    const uint32_t index = uint32_t(m_pieces.Count());
    CGrowArray<OSM::TId>& refs = NewPiece(source).way.nodeRefs;
    for (uint32_t k = 0; k < EdgeCount(); ++k)
        refs.PushBack(NewNode(m_polygon[k], false));
    if (!refs.Empty())
        refs.PushBack(refs[0]);
    return index;
}

}  // namespace Splitter::Clip
