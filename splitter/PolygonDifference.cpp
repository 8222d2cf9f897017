// B minus A: walk B's ring outside A and A's ring backwards inside B.
#include <algorithm>

#include "common/rtree/Int128.h"
#include "common/rtree/RTree.h"
#include "splitter/AreaGeometry.h"

namespace Geometry {

namespace {

struct TCrossing {
    uint32_t edgeB;
    double alongB;
    uint32_t edgeA;
    double alongA;
    bool entersA;  // B passes into A here (A's inside lies right of its clockwise edges)
    CGeoPoint point;
    bool visited;

    double PositionA() const { return edgeA + alongA; }
};

struct TVector {
    int64_t x, y;
};

TVector Direction(CGeoPoint p, CGeoPoint q) { return {LonDiff(p.x, q.x), int64_t(q.y) - p.y}; }
TInt128 Cross(TVector a, TVector b) { return TInt128::Product(a.x, b.y) - TInt128::Product(a.y, b.x); }

// The rectangle an edge covers, the short way round.
CGeoRect EdgeRect(CGeoPoint p, CGeoPoint q)
{
    bool east = LonDiff(p.x, q.x) >= 0;
    return {east ? p.x : q.x, east ? q.x : p.x, std::min(p.y, q.y), std::max(p.y, q.y)};
}

// Appends the crossings of B's edge k with A's edge m.
void Intersect(const TRing& b, uint32_t k, const TRing& a, uint32_t m, CGrowArray<TCrossing>& out)
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
        double t = double(tn) / double(den);
        out.PushBack({k, t, m, double(un) / double(den), den > 0, {}, false});
        return;
    }
    // Collinear stretches are no crossings: the proper crossings at their
    // ends decide where B passes into or out of A.
}

// Twice the area, positive for clockwise rings.
TInt128 TwiceArea(const TRing& ring)
{
    TInt128 sum = 0;
    for (uint64_t i = 0; i + 1 < ring.Count(); ++i)
        sum += TInt128::Product(ring[i].x, ring[i + 1].y) - TInt128::Product(ring[i + 1].x, ring[i].y);
    return -sum;
}

bool OnBoundary(const TRing& ring, CGeoPoint p)
{
    for (uint64_t i = 0; i + 1 < ring.Count(); ++i) {
        CGeoPoint a = ring[i], b = ring[i + 1];
        if (Cross(Direction(a, b), Direction(a, p)) == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
            std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y))
            return true;
    }
    return false;
}

bool StrictlyInside(const TRing& ring, CGeoPoint p)
{
    return PointInRing(ring.Data(), ring.Count(), p) && !OnBoundary(ring, p);
}

// Whether the insides of a and b share any point: an edge crossing another
// inside both, or a vertex strictly inside the other ring. Rings that only
// touch along edges or at vertices do not.
bool InsidesMeet(const RTree::CRTree& edgesOfA, const TRing& b, const TRing& a, CGrowArray<uint32_t>& found)
{
    for (uint32_t k = 0; k + 1 < b.Count(); ++k) {
        found.Clear();
        edgesOfA.Query(EdgeRect(b[k], b[k + 1]), found);
        TVector r = Direction(b[k], b[k + 1]);
        for (uint32_t m : found) {
            if (m + 1 >= a.Count())
                continue;
            TVector s = Direction(a[m], a[m + 1]), qp = Direction(b[k], a[m]);
            TInt128 den = Cross(r, s);
            if (den == 0)
                continue;
            TInt128 tn = Cross(qp, s), un = Cross(qp, r);
            if (den < 0)
                den = -den, tn = -tn, un = -un;
            if (tn > 0 && tn < den && un > 0 && un < den)
                return true;
        }
    }
    for (const CGeoPoint& p : b)
        if (StrictlyInside(a, p))
            return true;
    for (const CGeoPoint& p : a)
        if (StrictlyInside(b, p))
            return true;
    return false;
}

// The pieces must be proper rings outside A that took something off B;
// degenerate crossings can make the walk produce anything else.
bool PiecesAreSound(const CGrowArray<TRing>& pieces, const TRing& b, const TRing& a)
{
    TInt128 total = 0;
    for (const TRing& piece : pieces) {
        TInt128 area = TwiceArea(piece);
        if (area <= 0)
            return false;
        total += area;
        for (uint64_t k = 0; k + 1 < piece.Count(); ++k) {
            CGeoPoint m = Interpolate(piece[k], piece[k + 1], 0.5);
            if (StrictlyInside(a, m))
                return false;
        }
    }
    return total > 0 && total < TwiceArea(b);
}

void AppendPoint(TRing& ring, CGeoPoint p)
{
    if (ring.Empty() || !(ring.Back() == p))
        ring.PushBack(p);
}

}  // namespace

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

void Difference(const RTree::CRTree& edgesOfA, CGrowArray<TRing>& result, const TRing& b, TRing& a)
{
    if (b.Count() < 2 || a.Count() < 2)
        return;
    const uint32_t edgesB = uint32_t(b.Count() - 1), edgesA = uint32_t(a.Count() - 1);

    CGrowArray<uint32_t> found;
    if (!InsidesMeet(edgesOfA, b, a, found))
        return;
    CGrowArray<TCrossing> all;
    for (uint32_t k = 0; k < edgesB; ++k) {
        found.Clear();
        edgesOfA.Query(EdgeRect(b[k], b[k + 1]), found);
        for (uint32_t m : found)
            if (m < edgesA)
                Intersect(b, k, a, m, all);
    }
    std::sort(all.begin(), all.end(), [](const TCrossing& x, const TCrossing& y) {
        return x.edgeB != y.edgeB ? x.edgeB < y.edgeB : x.alongB < y.alongB;
    });

    // Keep the first of every run of one direction, so entries alternate.
    CGrowArray<TCrossing> crossings;
    for (const TCrossing& c : all)
        if (crossings.Empty() || crossings.Back().entersA != c.entersA)
            crossings.PushBack(c);
    if (crossings.Count() > 1 && crossings[0].entersA == crossings.Back().entersA)
        crossings.Erase(0, 1);
    if (crossings.Count() < 2)
        return;  // no crossing, or a single touch: the rings do not cross
    for (TCrossing& c : crossings)
        c.point = Interpolate(b[c.edgeB], b[c.edgeB + 1], c.alongB);

    const uint64_t n = crossings.Count();
    CGrowArray<TRing> pieces;
    for (uint64_t start = 0; start < n; ++start) {
        if (crossings[start].visited)
            continue;
        TRing piece;
        piece.PushBack(crossings[start].point);
        uint64_t at = start;
        // Every step visits a crossing, so a piece takes at most n steps even
        // when degenerate crossings do not lead back to its start.
        for (uint64_t step = 0; step < n; ++step) {
            crossings[at].visited = true;
            const TCrossing& from = crossings[at];
            uint64_t to;
            if (from.entersA) {
                // Backwards along A to the nearest crossing behind.
                to = at;
                double best = 0;
                for (uint64_t i = 0; i < n; ++i) {
                    if (i == at)
                        continue;
                    double d = from.PositionA() - crossings[i].PositionA();
                    if (d < 0)
                        d += edgesA;
                    if (to == at || d < best) {
                        to = i;
                        best = d;
                    }
                }
                const TCrossing& target = crossings[to];
                if (!(target.edgeA == from.edgeA && target.alongA <= from.alongA)) {
                    uint32_t j = from.edgeA;
                    AppendPoint(piece, a[j]);
                    for (j = j == 0 ? edgesA - 1 : j - 1; j != target.edgeA; j = j == 0 ? edgesA - 1 : j - 1)
                        AppendPoint(piece, a[j]);
                }
                AppendPoint(piece, target.point);
            } else {
                // Forwards along B to the next crossing.
                to = (at + 1) % n;
                const TCrossing& target = crossings[to];
                if (!(target.edgeB == from.edgeB && to > at)) {
                    uint32_t j = from.edgeB;
                    do {
                        j = j + 1 == edgesB ? 0 : j + 1;
                        AppendPoint(piece, b[j]);
                    } while (j != target.edgeB);
                }
                AppendPoint(piece, target.point);
            }
            if (to == start || crossings[to].visited)
                break;
            at = to;
        }
        if (!(piece.Back() == piece[0]))
            piece.PushBack(piece[0]);
        if (piece.Count() >= 4)
            pieces.PushBack(std::move(piece));
    }
    if (!PiecesAreSound(pieces, b, a))
        return;  // the areas stay overlapping; a node there goes to one of them
    for (TRing& piece : pieces)
        result.PushBack(std::move(piece));

    // Insert the crossing points into A, last position first, so indices
    // ahead of each insertion stay valid.
    std::sort(crossings.begin(), crossings.end(),
              [](const TCrossing& x, const TCrossing& y) { return x.PositionA() > y.PositionA(); });
    for (const TCrossing& c : crossings) {
        if (c.point == a[c.edgeA] || c.point == a[c.edgeA + 1])
            continue;
        a.Reserve(a.Count() + 1);
        a.PushBack(a.Back());
        for (uint64_t i = a.Count() - 2; i > c.edgeA + 1; --i)
            a[i] = a[i - 1];
        a[c.edgeA + 1] = c.point;
    }
}

}  // namespace Geometry
