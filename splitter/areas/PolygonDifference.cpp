// B minus A by noding: both rings get a vertex wherever their boundaries
// meet, so that where they run together they share whole edges. Every edge
// then lies inside, outside or on the other ring, decided by the angles at
// the vertex it starts from, and the edges that bound B outside A are joined
// into rings. Nothing in it is quadratic: a grid of A's edges, backed by
// its edge tree, finds the meeting edges, sorted vertex and edge tables
// answer the rest.
#include "splitter/areas/PolygonDifference.h"

#include <algorithm>
#include <optional>

#include "common/rtree/Int128.h"
#include "common/rtree/RTree.h"
#include "splitter/areas/AreaGeometry.h"

namespace Splitter::Geometry {

namespace {

struct TVector {
    int64_t x, y;
};

TVector Direction(CGeoPoint p, CGeoPoint q) { return {LonDiff(p.x, q.x), int64_t(q.y) - p.y}; }
TVector Reverse(TVector v) { return {-v.x, -v.y}; }
TInt128 Cross(TVector a, TVector b) { return TInt128::Product(a.x, b.y) - TInt128::Product(a.y, b.x); }
TInt128 Dot(TVector a, TVector b) { return TInt128::Product(a.x, b.x) + TInt128::Product(a.y, b.y); }
bool SameDirection(TVector a, TVector b) { return Cross(a, b) == 0 && Dot(a, b) > 0; }

// 0 when w lies in the half turn clockwise from s (s itself included), 1 in
// the other half.
int Half(TVector s, TVector w)
{
    TInt128 c = Cross(s, w);
    if (c != 0)
        return c < 0 ? 0 : 1;
    return Dot(s, w) > 0 ? 0 : 1;
}

// Whether a comes before b turning clockwise from s, exactly.
bool ClockwiseBefore(TVector s, TVector a, TVector b)
{
    int ha = Half(s, a), hb = Half(s, b);
    if (ha != hb)
        return ha < hb;
    return Cross(a, b) < 0;
}

// The rectangle an edge covers, the short way round.
CGeoRect EdgeRect(CGeoPoint p, CGeoPoint q)
{
    bool east = LonDiff(p.x, q.x) >= 0;
    return {east ? p.x : q.x, east ? q.x : p.x, std::min(p.y, q.y), std::max(p.y, q.y)};
}

// A point to be inserted into edge `edge` of a ring, `along` the way from
// its start.
struct TSplit {
    uint32_t edge;
    double along;
    CGeoPoint point;
};

// Whether p lies strictly between the ends of the segment from q along d,
// for p on its line.
bool StrictlyWithin(CGeoPoint p, CGeoPoint q, TVector d)
{
    TInt128 at = Dot(Direction(q, p), d);
    return at > 0 && at < Dot(d, d);
}

// Records where B's edge k and A's edge m meet: a crossing point (rounded
// to map units, the same point for both), or the ends of one that lie on
// the other.
void Meet(const TRing& b, uint32_t k, const TRing& a, uint32_t m, CGrowArray<TSplit>& onB, CGrowArray<TSplit>& onA)
{
    CGeoPoint p = b[k], p2 = b[k + 1], q = a[m], q2 = a[m + 1];
    TVector r = Direction(p, p2), s = Direction(q, q2), qp = Direction(p, q);
    if ((r.x == 0 && r.y == 0) || (s.x == 0 && s.y == 0))
        return;
    TInt128 den = Cross(r, s);
    if (den != 0) {
        TInt128 tn = Cross(qp, s), un = Cross(qp, r);
        bool inside = den > 0 ? (tn >= 0 && tn <= den && un >= 0 && un <= den)
                              : (tn <= 0 && tn >= den && un <= 0 && un >= den);
        if (!inside)
            return;
        double t = double(tn) / double(den), u = double(un) / double(den);
        CGeoPoint point = tn == 0 ? p : tn == den ? p2 : un == 0 ? q : un == den ? q2 : Interpolate(p, p2, t);
        onB.PushBack({k, t, point});
        onA.PushBack({m, u, point});
        return;
    }
    if (Cross(qp, r) != 0)
        return;  // parallel lines
    for (CGeoPoint end : {q, q2})
        if (StrictlyWithin(end, p, r))
            onB.PushBack({k, Fraction(end, p, p2), end});
    for (CGeoPoint end : {p, p2})
        if (StrictlyWithin(end, q, s))
            onA.PushBack({m, Fraction(end, q, q2), end});
}

// The edges of A whose rectangles meet a query rectangle, as the edge tree
// finds them, but through a grid of cells about as large as A's average
// edge, each edge listed under the cells its rectangle covers. The tree
// alone is slow for rings that meet along many edges sharing one longitude
// range (a zigzag border, vertices along a meridian): its build has no way
// to tell them apart on that axis, and a query descends into most of them.
// Edges and queries that would cover many cells, or more than half the
// world, go to trees.
class CEdgeGrid {
public:
    CEdgeGrid(const TRing& a, const RTree::CRTree& edgesOfA) : m_edgesOfA(edgesOfA)
    {
        const uint32_t n = uint32_t(a.Count() - 1);
        m_rects.Reserve(n);
        int64_t widths = 0, heights = 0;
        for (uint32_t k = 0; k < n; ++k) {
            CGeoPoint p = a[k], q = a[k + 1];
            m_rects.PushBack({std::min(p.x, q.x), std::max(p.x, q.x), std::min(p.y, q.y), std::max(p.y, q.y)});
            widths += int64_t(m_rects.Back().east) - m_rects.Back().west;
            heights += int64_t(m_rects.Back().north) - m_rects.Back().south;
            m_west = std::min(m_west, int64_t(m_rects.Back().west));
            m_south = std::min(m_south, int64_t(m_rects.Back().south));
        }
        m_cellWidth = std::max<int64_t>(1, widths / std::max<uint32_t>(n, 1));
        m_cellHeight = std::max<int64_t>(1, heights / std::max<uint32_t>(n, 1));
        CGrowArray<RTree::TRecord> wide;
        for (uint32_t k = 0; k < n; ++k) {
            TCells c;
            if (!Cells(m_rects[k], c)) {
                wide.PushBack({m_rects[k], k});
                continue;
            }
            for (int64_t y = c.south; y <= c.north; ++y)
                for (int64_t x = c.west; x <= c.east; ++x)
                    m_cells.PushBack({Key(x, y), k});
        }
        std::sort(m_cells.begin(), m_cells.end());
        m_wide.Build(wide.Data(), wide.Count());
        m_seen.Resize(n);
        std::fill(m_seen.begin(), m_seen.end(), UINT32_MAX);
    }

    // Appends each edge of A whose rectangle meets rect once, in no
    // particular order; query is a number that differs from call to call.
    void Query(const CGeoRect& rect, uint32_t query, CGrowArray<uint32_t>& found)
    {
        TCells c;
        if (!Cells(rect, c)) {
            m_edgesOfA.Query(rect, found);
            return;
        }
        m_wide.Query(rect, found);
        for (int64_t y = c.south; y <= c.north; ++y) {
            for (int64_t x = c.west; x <= c.east; ++x) {
                const TCell* at = std::lower_bound(m_cells.begin(), m_cells.end(), TCell{Key(x, y), 0});
                for (; at != m_cells.end() && at->key == Key(x, y); ++at) {
                    if (m_seen[at->edge] == query || !Intersects(m_rects[at->edge], rect))
                        continue;
                    m_seen[at->edge] = query;
                    found.PushBack(at->edge);
                }
            }
        }
    }

private:
    struct TCell {
        uint64_t key;
        uint32_t edge;
        friend auto operator<=>(const TCell&, const TCell&) = default;
    };
    struct TCells {
        int64_t west, east, south, north;
    };
    static constexpr int64_t kMaxCells = 64;

    static uint64_t Key(int64_t x, int64_t y) { return uint64_t(y) << 32 | uint64_t(x); }

    // The cells rect covers, clipped to the grid's corner; false for a
    // rectangle across 180 degrees, as wide as half the world, or covering
    // more than kMaxCells cells.
    bool Cells(const CGeoRect& rect, TCells& c) const
    {
        const int64_t width = int64_t(rect.east) - rect.west;
        if (width < 0 || width >= int64_t(MapUnits::kTurn) / 2)
            return false;
        c.west = std::max<int64_t>(0, (rect.west - m_west) / m_cellWidth);
        c.east = std::max<int64_t>(-1, (rect.east - m_west) / m_cellWidth);
        c.south = std::max<int64_t>(0, (rect.south - m_south) / m_cellHeight);
        c.north = std::max<int64_t>(-1, (rect.north - m_south) / m_cellHeight);
        const int64_t columns = c.east - c.west + 1, rows = c.north - c.south + 1;
        return columns <= kMaxCells && rows <= kMaxCells && columns * rows <= kMaxCells;
    }

    const RTree::CRTree& m_edgesOfA;
    CGrowArray<CGeoRect> m_rects;  // per edge of A, as the edge tree holds it
    CGrowArray<TCell> m_cells;     // sorted
    RTree::CRTree m_wide{100};     // the edges not in the grid
    CGrowArray<uint32_t> m_seen;   // per edge of A: the last query that found it
    int64_t m_west = INT64_MAX, m_south = INT64_MAX;
    int64_t m_cellWidth = 1, m_cellHeight = 1;
};

void AppendPoint(TRing& ring, CGeoPoint p)
{
    if (ring.Empty() || !(ring.Back() == p))
        ring.PushBack(p);
}

// ring with the split points inserted along their edges (sorted here). keep
// tells which split points to insert; the ring's own points all stay, and
// only inserted points are dropped where they repeat a neighbour.
template <typename TKeep>
TRing Insert(const TRing& ring, CGrowArray<TSplit>& splits, TKeep keep)
{
    std::sort(splits.begin(), splits.end(), [](const TSplit& x, const TSplit& y) {
        return x.edge != y.edge ? x.edge < y.edge : x.along < y.along;
    });
    TRing out;
    out.Reserve(ring.Count() + splits.Count());
    uint64_t s = 0;
    for (uint32_t k = 0; k + 1 < ring.Count(); ++k) {
        out.PushBack(ring[k]);
        for (; s < splits.Count() && splits[s].edge == k; ++s)
            if (!(splits[s].point == ring[k + 1]) && keep(splits[s].point))
                AppendPoint(out, splits[s].point);
    }
    out.PushBack(ring.Back());
    return out;
}

TRing WithoutRepeats(const TRing& ring)
{
    TRing out;
    out.Reserve(ring.Count());
    for (CGeoPoint p : ring)
        AppendPoint(out, p);
    return out;
}

// The vertices and edges of a noded closed ring, sorted for lookups.
class CRingIndex {
public:
    explicit CRingIndex(const TRing& ring) : m_ring(ring)
    {
        const uint32_t n = uint32_t(ring.Count() - 1);
        m_vertices.Reserve(n);
        m_edges.Reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            m_vertices.PushBack({ring[i].Packed(), i});
            m_edges.PushBack({ring[i].Packed(), ring[i + 1].Packed()});
        }
        std::sort(m_vertices.begin(), m_vertices.end());
        std::sort(m_edges.begin(), m_edges.end());
    }

    // The first position of p in the ring, or kNone.
    uint32_t Find(CGeoPoint p) const
    {
        const TVertex* v = std::lower_bound(m_vertices.begin(), m_vertices.end(), TVertex{p.Packed(), 0});
        return v != m_vertices.end() && v->point == p.Packed() ? v->at : kNone;
    }
    bool HasEdge(CGeoPoint from, CGeoPoint to) const
    {
        return std::binary_search(m_edges.begin(), m_edges.end(), TEdge{from.Packed(), to.Packed()});
    }

    enum class ESide : uint8_t { kOutside, kInside, kSame, kOpposite, kUnknown };

    // Where the edge u -> v lies against this ring, for u one of its
    // vertices: along one of its edges, or on which side of it, by the angle
    // the ring makes at u (its inside lies clockwise from the edge leaving u
    // to the edge arriving at u).
    ESide SideAt(CGeoPoint u, CGeoPoint v) const
    {
        if (HasEdge(u, v))
            return ESide::kSame;
        if (HasEdge(v, u))
            return ESide::kOpposite;
        const TVector w = Direction(u, v);
        const uint32_t n = uint32_t(m_ring.Count() - 1);
        ESide side = ESide::kOutside;
        const TVertex* at = std::lower_bound(m_vertices.begin(), m_vertices.end(), TVertex{u.Packed(), 0});
        for (; at != m_vertices.end() && at->point == u.Packed(); ++at) {
            TVector out = Direction(u, m_ring[at->at + 1]);
            TVector in = Direction(u, m_ring[at->at == 0 ? n - 1 : at->at - 1]);
            if (SameDirection(w, out) || SameDirection(w, in))
                return ESide::kUnknown;  // along an edge it should share: noding failed
            if (ClockwiseBefore(out, w, in))
                side = ESide::kInside;
        }
        return side;
    }

    static constexpr uint32_t kNone = UINT32_MAX;

private:
    struct TVertex {
        uint64_t point;
        uint32_t at;
        friend auto operator<=>(const TVertex&, const TVertex&) = default;
    };
    struct TEdge {
        uint64_t from, to;
        friend auto operator<=>(const TEdge&, const TEdge&) = default;
    };

    const TRing& m_ring;
    CGrowArray<TVertex> m_vertices;
    CGrowArray<TEdge> m_edges;
};

using ESide = CRingIndex::ESide;

// The side of every edge of the noded ring x against the noded ring y (edge
// i from x[i] to x[i + 1]). An edge that starts off y's boundary lies where
// the edge before it lies. False when x never meets y, or an angle cannot be
// decided.
bool Classify(const TRing& x, const CRingIndex& y, CGrowArray<ESide>& sides)
{
    const uint32_t n = uint32_t(x.Count() - 1);
    uint32_t first = 0;
    while (first < n && y.Find(x[first]) == CRingIndex::kNone)
        ++first;
    if (first == n)
        return false;
    sides.Clear();
    sides.Resize(n);
    ESide run = ESide::kUnknown;
    for (uint32_t step = 0; step < n; ++step) {
        uint32_t i = (first + step) % n;
        if (y.Find(x[i]) != CRingIndex::kNone) {
            run = y.SideAt(x[i], x[i + 1]);
            if (run == ESide::kUnknown)
                return false;
        }
        sides[i] = run;
    }
    return true;
}

struct TEdge {
    CGeoPoint from, to;
    bool used;
};

// Joins edges, each bounding the result on its right, into closed rings:
// from every vertex the walk takes the sharpest right turn, so rings that
// touch at a vertex stay apart. False when the edges do not close up.
bool Join(CGrowArray<TEdge>& edges, CGrowArray<TRing>& rings)
{
    std::sort(edges.begin(), edges.end(),
              [](const TEdge& a, const TEdge& b) { return a.from.Packed() < b.from.Packed(); });
    auto leaving = [&edges](CGeoPoint p) {
        return std::equal_range(edges.begin(), edges.end(), TEdge{p, p, false},
                                [](const TEdge& a, const TEdge& b) { return a.from.Packed() < b.from.Packed(); });
    };
    for (TEdge& start : edges) {
        if (start.used)
            continue;
        TRing ring;
        ring.PushBack(start.from);
        TEdge* at = &start;
        for (;;) {
            at->used = true;
            ring.PushBack(at->to);
            auto [begin, end] = leaving(at->to);
            const TVector back = Reverse(Direction(at->from, at->to));
            TEdge* next = nullptr;
            for (TEdge* e = begin; e != end; ++e)
                if (next == nullptr || ClockwiseBefore(back, Direction(next->from, next->to), Direction(e->from, e->to)))
                    next = e;
            if (next == &start)
                break;
            if (next == nullptr || next->used)
                return false;
            at = next;
        }
        rings.PushBack(std::move(ring));
    }
    return true;
}

// Twice the area, positive for clockwise rings. Longitudes are taken as
// they are, as the edge trees and the point location take them: outer
// rectangles may span more than half the world.
TInt128 TwiceArea(const TRing& ring)
{
    TInt128 sum = 0;
    for (uint64_t i = 0; i + 1 < ring.Count(); ++i)
        sum += TInt128::Product(ring[i].x, ring[i + 1].y) - TInt128::Product(ring[i + 1].x, ring[i].y);
    return -sum;
}

// Where the edges of B meet those of A (edgesOfA indexes A's), as splits of
// either ring.
void FindMeetings(const RTree::CRTree& edgesOfA, const TRing& b, const TRing& a, CGrowArray<TSplit>& onB,
                  CGrowArray<TSplit>& onA)
{
    const uint32_t edgesB = uint32_t(b.Count() - 1), edgesA = uint32_t(a.Count() - 1);
    CGrowArray<uint32_t> found;
    // The grid pays for its build when B has about as many edges as A; a
    // few edges (an outer rectangle against a country) ask the tree.
    std::optional<CEdgeGrid> grid;
    if (8 * uint64_t(edgesB) >= edgesA)
        grid.emplace(a, edgesOfA);
    for (uint32_t k = 0; k < edgesB; ++k) {
        found.Clear();
        if (grid)
            grid->Query(EdgeRect(b[k], b[k + 1]), k, found);
        else
            edgesOfA.Query(EdgeRect(b[k], b[k + 1]), found);
        for (uint32_t m : found)
            if (m < edgesA)
                Meet(b, k, a, m, onB, onA);
    }
}

// Appends the pieces to result, each starting where it first meets A along
// B, in the order a walk along B meets them; adds their points, packed, to
// onPieces.
void AppendInWalkOrder(const CGrowArray<TRing>& pieces, const CRingIndex& indexB, const CRingIndex& indexA,
                       CGrowArray<TRing>& result, CGrowArray<uint64_t>& onPieces)
{
    CGrowArray<std::pair<uint32_t, uint32_t>> starts;  // (position along B, vertex of the piece)
    for (uint32_t r = 0; r < pieces.Count(); ++r) {
        const TRing& piece = pieces[r];
        uint32_t best = CRingIndex::kNone, bestAt = 0;
        for (uint32_t i = 0; i + 1 < piece.Count(); ++i) {
            uint32_t along = indexB.Find(piece[i]);
            if (along != CRingIndex::kNone && indexA.Find(piece[i]) != CRingIndex::kNone && along < best)
                best = along, bestAt = i;
        }
        starts.PushBack({best, bestAt});
    }
    CGrowArray<uint32_t> order;
    for (uint32_t r = 0; r < pieces.Count(); ++r)
        order.PushBack(r);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) { return starts[x].first < starts[y].first; });
    for (uint32_t r : order) {
        const TRing& piece = pieces[r];
        const uint32_t n = uint32_t(piece.Count() - 1);
        TRing ring;
        ring.Reserve(piece.Count());
        for (uint32_t i = 0; i <= n; ++i)
            ring.PushBack(piece[(starts[r].second + i) % n]);
        for (CGeoPoint p : ring)
            onPieces.PushBack(p.Packed());
        result.PushBack(std::move(ring));
    }
}

}  // namespace

uint64_t EdgeTreeChunk(const TRing& ring) { return std::clamp<uint64_t>(ring.Count(), 8, 1000); }

void BuildEdgeTree(const TRing& ring, RTree::CRTree& tree)
{
    CGrowArray<RTree::TRecord> records;
    uint64_t edges = ring.Count() > 1 ? ring.Count() - 1 : 0;
    records.Reserve(edges);
    for (uint32_t k = 0; k < edges; ++k) {
        CGeoPoint p = ring[k], q = ring[k + 1];
        records.PushBack({{std::min(p.x, q.x), std::max(p.x, q.x), std::min(p.y, q.y), std::max(p.y, q.y)}, k});
    }
    tree.Build(records.Data(), records.Count());
}

EOverlap Difference(const RTree::CRTree& edgesOfA, CGrowArray<TRing>& result, const TRing& b, TRing& a)
{
    if (b.Count() < 4 || a.Count() < 4)
        return EOverlap::kApart;
    CGrowArray<TSplit> onB, onA;
    FindMeetings(edgesOfA, b, a, onB, onA);
    if (onB.Empty() && onA.Empty())
        return EOverlap::kApart;  // the boundaries do not meet
    const TRing nodedB = WithoutRepeats(Insert(b, onB, [](CGeoPoint) { return true; }));
    CGrowArray<TSplit> splitsA = onA;
    const TRing nodedA = WithoutRepeats(Insert(a, splitsA, [](CGeoPoint) { return true; }));
    if (nodedB.Count() < 4 || nodedA.Count() < 4)
        return EOverlap::kTouching;
    const CRingIndex indexB(nodedB), indexA(nodedA);
    CGrowArray<ESide> sidesB, sidesA;
    if (!Classify(nodedB, indexA, sidesB) || !Classify(nodedA, indexB, sidesA))
        return EOverlap::kTouching;  // degenerate: the areas stay as they are

    // B keeps its edges outside A and those A runs along the other way; A's
    // edges inside B, reversed, close the pieces.
    bool meet = false;
    CGrowArray<TEdge> edges;
    for (uint32_t i = 0; i + 1 < nodedB.Count(); ++i) {
        meet |= sidesB[i] == ESide::kInside || sidesB[i] == ESide::kSame;
        if (sidesB[i] == ESide::kOutside || sidesB[i] == ESide::kOpposite)
            edges.PushBack({nodedB[i], nodedB[i + 1], false});
    }
    for (uint32_t i = 0; i + 1 < nodedA.Count(); ++i) {
        if (sidesA[i] == ESide::kInside) {
            meet = true;
            edges.PushBack({nodedA[i + 1], nodedA[i], false});
        }
    }
    if (!meet)
        return EOverlap::kTouching;  // they touch, but their insides do not meet
    if (edges.Empty())
        return EOverlap::kCovered;

    CGrowArray<TRing> pieces;
    if (!Join(edges, pieces))
        return EOverlap::kTouching;
    TInt128 total = 0;
    for (const TRing& piece : pieces) {
        TInt128 area = TwiceArea(piece);
        if (area <= 0)
            return EOverlap::kTouching;  // a hole or a broken piece: leave them
        total += area;
    }
    if (!(total < TwiceArea(nodedB)))
        return EOverlap::kTouching;

    CGrowArray<uint64_t> onPieces;
    AppendInWalkOrder(pieces, indexB, indexA, result, onPieces);

    // A gains the points where the pieces meet it, so that the two share
    // their common stretches edge for edge.
    std::sort(onPieces.begin(), onPieces.end());
    a = Insert(a, onA, [&onPieces](CGeoPoint p) {
        return std::binary_search(onPieces.begin(), onPieces.end(), p.Packed());
    });
    return EOverlap::kTrimmed;
}

}  // namespace Splitter::Geometry
