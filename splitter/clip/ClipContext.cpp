#include "splitter/clip/ClipContext.h"

#include <algorithm>
#include <cmath>

#include "splitter/areas/AreaGeometry.h"
#include "splitter/areas/PolygonDifference.h"
#include "splitter/clip/ClipMath.h"
#include "splitter/clip/TagRules.h"

namespace Splitter::Clip {

using namespace detail;

namespace {

// Edges are kept shorter than this, so wrapped differences take them the
// right way round.
constexpr int64_t kMaxEdgeWidth = 0x50000000;

TRing CleanPolygon(const TRing& polygon)
{
    // Cleaning a clean polygon must change nothing: every part of a split
    // edge is narrower than kMaxEdgeWidth, and orientation is taken last.
    TRing ring;
    ring.Reserve(polygon.Count() + 1);
    auto append = [&ring](CGeoPoint q) {
        if (!ring.Empty()) {
            const CGeoPoint p = ring.Back();
            if (p == q)
                return;
            // Split an edge spanning 180 degrees or more of longitude into
            // collinear parts: point location takes such an edge as it
            // stands, while wrapped differences would take it the short way.
            const int64_t dx = int64_t(q.x) - p.x, dy = int64_t(q.y) - p.y;
            const int64_t parts = (std::llabs(dx) + kMaxEdgeWidth - 2) / (kMaxEdgeWidth - 1);
            for (int64_t k = 1; k < parts; ++k)
                ring.PushBack({int32_t(p.x + dx * k / parts), int32_t(p.y + dy * k / parts)});
        }
        ring.PushBack(q);
    };
    for (const CGeoPoint& p : polygon)
        append(p);
    if (!ring.Empty())
        append(ring[0]);
    // A ring without area has no orientation: it stays as it is.
    if (!Geometry::IsClockwise(ring)) {
        std::reverse(ring.begin(), ring.end());
        if (!Geometry::IsClockwise(ring))
            std::reverse(ring.begin(), ring.end());
    }
    return ring;
}

// Of count crossings, entering(j) giving the j-th or null where there is
// none, the index of the first one clockwise from from along a border of
// edges edges, or -1. At from's own place a crossing of a larger angle comes
// after a full turn; of two at one distance the one nearer its edge's start.
template <typename Entering>
int64_t FirstClockwise(const TCrossing& from, uint32_t count, uint32_t edges, Entering&& entering)
{
    int64_t best = -1;
    uint64_t bestDistance = 0;
    uint32_t bestFraction = 0;
    for (uint32_t j = 0; j < count; ++j) {
        const TCrossing* to = entering(j);
        if (to == nullptr)
            continue;
        uint64_t distance = (uint32_t(to->edge) + edges - uint32_t(from.edge)) % edges;
        if (to->edge == from.edge &&
            (to->fraction < from.fraction || (to->fraction == from.fraction && to->angle > from.angle)))
            distance += edges;
        if (best < 0 || distance < bestDistance || (distance == bestDistance && to->fraction < bestFraction)) {
            best = j;
            bestDistance = distance;
            bestFraction = to->fraction;
        }
    }
    return best;
}

}  // namespace

TRing CAreaClipContext::CleanPolygon(const TRing& polygon) { return Clip::CleanPolygon(polygon); }

double CAreaClipContext::Angle(int64_t dx, int64_t dy, int64_t ex, int64_t ey)
{
    double a = std::atan2(double(ey) * double(dx) - double(ex) * double(dy),
                          double(ey) * double(dy) + double(ex) * double(dx));
    return a < 0 ? a + kTwoPi : a;
}

CAreaClipContext::CAreaClipContext(const TRing& polygon, TAreaOutput& output, uint32_t areaIndex,
                                   const CNodeIndex& nodes, int64_t timestamp)
    : m_output(output),
      m_nodes(nodes),
      m_polygon(polygon),
      m_edges(Geometry::EdgeTreeChunk(m_polygon)),
      m_timestamp(timestamp),
      m_areaIndex(areaIndex)
{
    Geometry::BuildEdgeTree(m_polygon, m_edges);
}

CGeoPoint CAreaClipContext::PointAt(const TCrossing& crossing) const
{
    CGeoPoint q = m_polygon[uint32_t(crossing.edge)], q1 = m_polygon[uint32_t(crossing.edge) + 1];
    double f = crossing.fraction / kFractionScale;
    // The polygon's edges are plain differences (a polygon crossing the
    // antimeridian runs on past +180 degrees), so the point stays on the
    // polygon's side of the meridian it may lie on.
    auto ox = int64_t(std::floor(double(int64_t(q1.x) - q.x) * f + 0.5));
    auto oy = int64_t(std::floor(double(int64_t(q1.y) - q.y) * f + 0.5));
    return {int32_t(q.x + ox), int32_t(q.y + oy)};
}

OSM::TId CAreaClipContext::NewNode(CGeoPoint point, bool extNode)
{
    OSM::TNode node;
    node.id = m_output.nextNodeId++;
    node.info.version = 1;
    node.info.timestamp = m_timestamp;
    node.info.visible = 1;
    node.position = {MapUnits::Natural(point.x), point.y};
    if (extNode)
        node.AddExtNodeTag();
    m_output.writer->WriteNode(node);
    if (m_keepMade)
        m_madePoints.emplace(node.id, node.position);
    return node.id;
}

TPiece& CAreaClipContext::NewPiece(const OSM::TWay& source)
{
    TPiece& piece = m_pieces.EmplaceBack();
    piece.way.id = m_output.nextWayId++;
    piece.way.info.version = 1;
    piece.way.info.timestamp = m_timestamp;
    piece.way.info.visible = 1;
    piece.way.tags = source.tags;
    piece.source = source.id;
    return piece;
}

OSM::TId CAreaClipContext::NodeForCrossing(const TCrossing& crossing, bool highway, OSM::TId source)
{
    auto [at, inserted] = m_crossingNodes.try_emplace({crossing.edge, crossing.fraction}, 0);
    if (!inserted)
        return at->second;
    const CGeoPoint p = PointAt(crossing);
    if (!m_output.shared)
        return at->second = NewNode(p, highway);
    // The other area's edge may round the same crossing a unit away.
    const int32_t x = MapUnits::Natural(p.x);
    for (int32_t dx = -1; dx <= 1; ++dx)
        for (int32_t dy = -1; dy <= 1; ++dy)
            if (auto made = m_output.crossings.find({source, x + dx, p.y + dy}); made != m_output.crossings.end())
                return at->second = made->second;
    at->second = NewNode(p, highway);
    m_output.crossings.emplace(std::tuple(source, x, p.y), at->second);
    return at->second;
}

void CAreaClipContext::FinishPlaceholders(TPiece& piece, bool highway)
{
    CGrowArray<OSM::TId>& refs = piece.way.nodeRefs;
    if (!refs.Empty() && refs.Back() == kPlaceholder) {
        if (piece.end.HasEdge())
            refs.Back() = NodeForCrossing(piece.end, highway, piece.source);
        else
            refs.PopBack();
    }
    if (!refs.Empty() && refs[0] == kPlaceholder) {
        if (piece.start.HasEdge())
            refs[0] = NodeForCrossing(piece.start, highway, piece.source);
        else
            refs.Erase(0, 1);
    }
}

void CAreaClipContext::ClosePieces(uint32_t first, uint32_t count, bool highway)
{
    ClearCrossingNodes();
    m_borderNodes.Clear();
    for (uint32_t i = first; i < first + count; ++i) {
        FinishPlaceholders(m_pieces[i], highway);
        NoteBorderNodes(m_pieces[i].way);
    }
    SortBorderNodes();
    // The walks may trim a piece that only runs along the border down to
    // nothing; it is kept as it came (see below).
    CGrowArray<CGrowArray<OSM::TId>> came;
    came.Reserve(count);
    for (uint32_t i = first; i < first + count; ++i)
        came.PushBack(m_pieces[i].way.nodeRefs);
    for (uint32_t i = first; i < first + count; ++i) {
        if (!m_pieces[i].end.HasEdge() || m_pieces[i].way.nodeRefs.Empty())
            continue;
        const TCrossing from = m_pieces[i].end;
        // The piece whose start comes first going clockwise from here.
        const int64_t best = FirstClockwise(from, count, EdgeCount(), [&](uint32_t j) -> const TCrossing* {
            const TPiece& piece = m_pieces[first + j];
            return piece.start.HasEdge() && !piece.way.nodeRefs.Empty() ? &piece.start : nullptr;
        });
        if (best < 0)
            continue;
        TPiece& leaving = m_pieces[i];
        TPiece& entering = m_pieces[first + uint32_t(best)];
        TCrossing a = leaving.end, b = entering.start;
        uint64_t keep = BorderWalk(leaving.way, leaving.way.nodeRefs.Count() - 1, true, true, a, b);
        leaving.way.nodeRefs.Resize(keep + 1);
        uint64_t drop = BorderWalk(entering.way, 0, false, false, b, a);
        entering.way.nodeRefs.Erase(0, drop);
        AppendBorderPath(leaving.way, a, b);
        leaving.way.nodeRefs.PushBack(entering.way.nodeRefs[0]);
    }
    // A piece that only runs along the border closes into a ring of fewer
    // than three points: it has no area here. Its nodes on the border may
    // belong to this area alone, so it stays as an open way through them:
    // the tile keeps the way that passes its nodes, yet gains no ring.
    for (uint32_t i = first; i < first + count; ++i) {
        CGrowArray<OSM::TId>& refs = m_pieces[i].way.nodeRefs;
        const CGrowArray<OSM::TId>& before = came[i - first];
        if (refs.Empty() || refs.Count() >= 4 || refs[0] != refs.Back())
            continue;
        if (before.Count() >= 2 && before[0] != before.Back())
            refs = before;
        else
            refs.PopBack();
        m_pieces[i].alongBorder = true;
    }
}

void CAreaClipContext::NewMultipolygon(uint32_t first, uint32_t count)
{
    OSM::TRelation& relation = m_newMultipolygons.EmplaceBack();
    relation.id = m_output.nextRelationId++;
    relation.info.version = 1;
    relation.info.timestamp = m_timestamp;
    relation.info.visible = 1;
    relation.tags = m_pieces[first].way.tags;
    if (relation.FindTag("type") == nullptr)  // no second "type" key
        relation.AddTag("type", "multipolygon");
    for (uint32_t i = first; i < first + count; ++i) {
        if (m_pieces[i].alongBorder)
            continue;
        OSM::TWay& way = m_pieces[i].way;
        if (way.nodeRefs.Count() >= 2)  // shorter pieces are never written
            relation.members.PushBack({OSM::kWay, way.id, "outer"});
        way.tags.Clear();
    }
}

// A walk over one way at a time, reading it in one direction.
struct CAreaClipContext::TWalk {
    const OSM::TWay* way;
    bool backwards;  // reading from the last node towards the first
    uint64_t index;  // the node the walk stands on
    bool moved;      // moved along the current way
    bool movedAny;
    uint32_t ring;   // the ring it goes on along

    OSM::TId Node() const { return way->nodeRefs[index]; }
};

bool CAreaClipContext::SameNodePlace(OSM::TId a, OSM::TId b) const
{
    uint64_t p, q;
    return a == b || (PlaceKey(a, p) && PlaceKey(b, q) && p == q);
}

bool CAreaClipContext::LiesInside(const OSM::TWay& way) const
{
    for (OSM::TId ref : way.nodeRefs)
        if (m_nodes.NodeArea(ref) != int32_t(m_areaIndex))
            return false;
    return true;
}

void CAreaClipContext::RingWalk(TWalk& walk, bool forward, TCrossing& c, const TCrossing& stop, OSM::TId stopNode,
                                const TRingWay* ring, uint32_t ringCount, CGrowArray<OSM::TId>& absorbed) const
{
    // Each round moves one node further along the ring: one full turn of
    // the ring at most.
    uint64_t rounds = 0;
    for (uint32_t k = 0; k < ringCount; ++k)
        rounds += ring[k].way->nodeRefs.Count();
    for (; rounds > 0; --rounds) {
        if (c.edge == stop.edge && c.fraction == stop.fraction)
            break;
        bool atEnd = walk.backwards ? walk.index == 0 : walk.index + 1 >= walk.way->nodeRefs.Count();
        if (atEnd) {
            absorbed.PushBack(walk.way->id);
            OSM::TId reached = walk.Node();
            if (SameNodePlace(reached, stopNode))
                return;
            // Go on along the next member that starts here, if it lies in
            // the area: a closing way never reaches outside its file.
            const TRingWay* next = nullptr;
            for (uint32_t k = 0; k < ringCount && next == nullptr; ++k) {
                const OSM::TWay& w = *ring[k].way;
                if (w.nodeRefs.Count() < 2 || &w == walk.way || ring[k].ring != walk.ring)
                    continue;
                bool backwards = forward != ring[k].reversed;
                if (SameNodePlace(backwards ? w.nodeRefs.Back() : w.nodeRefs[0], reached) && LiesInside(w))
                    next = &ring[k];
            }
            if (next == nullptr)
                return;
            walk.way = next->way;
            walk.backwards = forward != next->reversed;
            walk.index = walk.backwards ? walk.way->nodeRefs.Count() - 1 : 0;
            walk.moved = false;
        }
        uint64_t step = walk.backwards ? walk.index - 1 : walk.index + 1;
        CGeoPoint p;
        if (!m_nodes.NodePoint(walk.way->nodeRefs[step], p) || !StepAlongBorder(forward, c, stop, p))
            break;
        walk.index = step;
        walk.moved = walk.movedAny = true;
    }
    if (walk.moved)
        absorbed.PushBack(walk.way->id);
}

void CAreaClipContext::NoteRingNodes(const TRingPiece* pieces, uint32_t count, const TRingWay* ring,
                                     uint32_t ringCount)
{
    ClearCrossingNodes();
    // A piece of another ring that meets the border where a node of this
    // area lies on it, such as an inner ring touching the outer one there,
    // goes through that node: a second node at the same place would make a
    // ring of no length between the two.
    for (uint32_t i = 0; i < count; ++i) {
        const TPiece& piece = m_pieces[pieces[i].index];
        const CGrowArray<OSM::TId>& refs = piece.way.nodeRefs;
        if (refs.Empty())
            continue;
        if (piece.start.HasEdge() && refs[0] != kPlaceholder)
            m_crossingNodes.try_emplace({piece.start.edge, piece.start.fraction}, refs[0]);
        if (piece.end.HasEdge() && refs.Back() != kPlaceholder)
            m_crossingNodes.try_emplace({piece.end.edge, piece.end.fraction}, refs.Back());
    }
    m_borderNodes.Clear();
    for (uint32_t i = 0; i < count; ++i) {
        TPiece& piece = m_pieces[pieces[i].index];
        FinishPlaceholders(piece, IsHighway(piece.way));
        NoteBorderNodes(piece.way);
    }
    for (uint32_t k = 0; k < ringCount; ++k)
        if (LiesInside(*ring[k].way))
            NoteBorderNodes(*ring[k].way);
    SortBorderNodes();
}

const TCrossing& CAreaClipContext::LeavingOf(const TRingPiece& p) const
{
    return p.reversed ? m_pieces[p.index].start : m_pieces[p.index].end;
}

const TCrossing& CAreaClipContext::EnteringOf(const TRingPiece& p) const
{
    return p.reversed ? m_pieces[p.index].end : m_pieces[p.index].start;
}

int64_t CAreaClipContext::NextClockwise(const TRingPiece* pieces, uint32_t count, const TCrossing& from) const
{
    return FirstClockwise(from, count, EdgeCount(), [&](uint32_t j) -> const TCrossing* {
        const TCrossing& to = EnteringOf(pieces[j]);
        return to.HasEdge() && !m_pieces[pieces[j].index].way.nodeRefs.Empty() ? &to : nullptr;
    });
}

uint32_t CAreaClipContext::CloseRingPieces(const TRingPiece* pieces, uint32_t count, const TRingWay* ring,
                                           uint32_t ringCount, CGrowArray<OSM::TId>& absorbed)
{
    NoteRingNodes(pieces, count, ring, ringCount);
    const uint64_t before = m_pieces.Count();
    for (uint32_t i = 0; i < count; ++i) {
        const TCrossing from = LeavingOf(pieces[i]);
        if (!from.HasEdge() || m_pieces[pieces[i].index].way.nodeRefs.Empty())
            continue;
        const int64_t best = NextClockwise(pieces, count, from);
        if (best >= 0)
            CloseBetween(pieces[i], pieces[uint32_t(best)], ring, ringCount, absorbed);
    }
    std::sort(absorbed.begin(), absorbed.end());
    absorbed.EraseRepeats();
    return uint32_t(m_pieces.Count() - before);
}

void CAreaClipContext::CloseBetween(const TRingPiece& li, const TRingPiece& ej, const TRingWay* ring,
                                    uint32_t ringCount, CGrowArray<OSM::TId>& absorbed)
{
    // Copies: appending closing ways may move the pieces.
    const OSM::TWay leavingWay = m_pieces[li.index].way;
    const OSM::TWay enteringWay = m_pieces[ej.index].way;
    const uint64_t lastL = leavingWay.nodeRefs.Count() - 1, lastE = enteringWay.nodeRefs.Count() - 1;

    TCrossing a = LeavingOf(li), b = EnteringOf(ej);
    TWalk leave{&leavingWay, !li.reversed, li.reversed ? 0 : lastL, false, false, li.ring};
    OSM::TId stopNode = ej.reversed ? enteringWay.nodeRefs[0] : enteringWay.nodeRefs[lastE];
    RingWalk(leave, true, a, b, stopNode, ring, ringCount, absorbed);
    TWalk enter{&enteringWay, ej.reversed, ej.reversed ? lastE : 0, false, false, ej.ring};
    RingWalk(enter, false, b, a, INT64_MIN, ring, ringCount, absorbed);

    TPiece& closing = NewPiece(*leave.way);
    KeepBoundaryTags(closing.way.tags);
    CGrowArray<OSM::TId>& refs = closing.way.nodeRefs;
    auto inRingOrder = [&](const TWalk& w, uint64_t from, uint64_t to) {
        // The way's nodes from index from to index to, either way round.
        const CGrowArray<OSM::TId>& nodes = w.way->nodeRefs;
        if (from <= to)
            for (uint64_t k = from; k <= to; ++k)
                refs.PushBack(nodes[k]);
        else
            for (uint64_t k = from + 1; k-- > to;)
                refs.PushBack(nodes[k]);
    };
    if ((leave.movedAny || enter.movedAny) && leave.way->id == enter.way->id) {
        // The leaving walk reads against the ring, the entering one with it.
        inRingOrder(enter, enter.index, leave.index);
        AppendBorderPath(closing.way, a, b);
        refs.PushBack(enter.Node());
    } else {
        if (!leave.movedAny)
            refs.PushBack(leave.Node());
        else if (leave.backwards)
            inRingOrder(leave, 0, leave.index);  // ring order is the way's order
        else
            inRingOrder(leave, leave.way->nodeRefs.Count() - 1, leave.index);
        AppendBorderPath(closing.way, a, b);
        if (!enter.movedAny)
            refs.PushBack(enter.Node());
        else if (!enter.backwards)
            inRingOrder(enter, enter.index, enter.way->nodeRefs.Count() - 1);
        else
            inRingOrder(enter, enter.index, 0);
    }
    // A closing way that only touches the border is dropped; its id is not
    // handed back, so no id is ever given twice.
    if (refs.Count() < 3 && refs[0] == refs.Back())
        m_pieces.PopBack();
}

}  // namespace Splitter::Clip
