#include "splitter/areas/SplitCuts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Splitter {

namespace {

// lround(cos(d degrees) * 2^30) for d = 0 .. 180.
struct TCosineTable {
    int64_t c[182];
    TCosineTable()
    {
        for (int d = 0; d <= 180; ++d)
            c[d] = std::lround(std::cos(d * 3.14159265358979323846 / 180.0) * 1073741824.0);
        c[181] = c[180];
    }
};
const TCosineTable kCosine;

// Crossing of the edge p -> q with the line c = t. Area edges are plain
// differences: a ring crossing the antimeridian runs on past +180 degrees.
CGeoPoint CrossingPoint(CGeoPoint p, CGeoPoint q, bool longitude, int32_t t)
{
    if (longitude) {
        double dx = double(int64_t(q.x) - p.x);
        double part = double(int64_t(t) - p.x);
        double y = double(int64_t(q.y) - p.y) * part / dx;
        return {t, int32_t(p.y + int64_t(std::floor(y + 0.5)))};
    }
    double x = double(int64_t(t) - p.y) * double(int64_t(q.x) - p.x) / double(int64_t(q.y) - p.y);
    return {int32_t(p.x + int64_t(std::floor(x + 0.5))), t};
}

struct TCut {
    uint32_t edge;
    CGeoPoint point;
    bool leaving;
    bool visited;
};

// Joins the crossings of one side into closed pieces: along the ring between
// crossings, along the cut line from a leaving crossing to the nearest one
// in direction.
void Assemble(const TRing& ring, CGrowArray<TCut>& cuts, bool longitude, int direction, CGrowArray<TRing>& out)
{
    const uint64_t n = cuts.Count();
    const uint64_t last = ring.Count() - 1;  // ring[last] repeats ring[0]
    auto position = [&](const TCut& c) { return longitude ? c.point.y : c.point.x; };
    for (uint64_t start = 0; start < n; ++start) {
        if (cuts[start].visited)
            continue;
        TRing piece;
        uint64_t at = start;
        // Each step visits a crossing: at most n steps, even when the
        // crossings of a broken ring do not lead back to the start.
        for (uint64_t step = 0; step < n; ++step) {
            cuts[at].visited = true;
            piece.PushBack(cuts[at].point);
            uint64_t next;
            if (cuts[at].leaving) {
                next = at;
                uint32_t best = 0;
                for (uint64_t i = 0; i < n; ++i) {
                    if (i == at)
                        continue;
                    uint32_t d = uint32_t((int64_t(position(cuts[i])) - position(cuts[at])) * direction);
                    if (next == at || d < best) {
                        next = i;
                        best = d;
                    }
                }
            } else {
                next = (at + 1) % n;
                uint64_t i = cuts[at].edge, j = cuts[next].edge;
                if (j <= i && !(j == i && next > at)) {
                    for (uint64_t k = i + 1; k <= last; ++k)
                        piece.PushBack(ring[k]);
                    i = 0;
                }
                for (uint64_t k = i + 1; k <= j; ++k)
                    piece.PushBack(ring[k]);
            }
            if (next == start || cuts[next].visited)
                break;
            at = next;
        }
        TRing clean;
        for (const CGeoPoint& p : piece)
            if (clean.Empty() || !(clean.Back() == p))
                clean.PushBack(p);
        while (clean.Count() > 1 && clean.Back() == clean[0])
            clean.PopBack();
        if (clean.Count() < 3)
            continue;  // nothing of the ring on this side but a touch
        clean.PushBack(clean[0]);
        out.PushBack(std::move(clean));
    }
}

}  // namespace

int64_t TrueWidth(uint32_t w, int32_t y)
{
    uint32_t a = uint32_t(std::llabs(int64_t(y)));
    uint32_t d = std::min<uint32_t>(a >> 23, 180), f = a & 0x7FFFFF;
    int64_t c = kCosine.c[d] - (((kCosine.c[d] - kCosine.c[d + 1]) * f + 0x400000) >> 23);
    int64_t cw = c * int64_t(w);
    return cw > 0 ? (cw + 0x20000000) >> 30 : -((0x20000000 - cw) >> 30);
}

uint64_t MedianCut(CGeoPoint* nodes, uint64_t n, bool longitude, int32_t& s)
{
    auto c = [longitude](const CGeoPoint& p) { return longitude ? p.x : p.y; };
    const uint64_t mid = (n - 1) / 2;
    std::nth_element(nodes, nodes + mid, nodes + n, [&](const CGeoPoint& a, const CGeoPoint& b) { return c(a) < c(b); });
    // The nodes before mid lie at v or below it and those after at v or
    // above, so each side holds one count and one partition.
    const int32_t v = c(nodes[mid]);
    CGeoPoint* const after = nodes + mid + 1;
    const uint64_t below = uint64_t(std::count_if(nodes, nodes + mid, [&](const CGeoPoint& p) { return c(p) < v; }));
    const uint64_t atMost =
        mid + 1 + uint64_t(std::count_if(after, nodes + n, [&](const CGeoPoint& p) { return c(p) == v; }));
    s = mid - below >= atMost - 1 - mid ? v : v - 1;
    if (s == v)
        std::partition(after, nodes + n, [&](const CGeoPoint& p) { return c(p) == v; });
    else
        std::partition(nodes, nodes + mid, [&](const CGeoPoint& p) { return c(p) < v; });
    return s == v ? atMost : below;
}

void CutRing(const TRing& ring, bool longitude, int32_t s, CGrowArray<TRing>& lower, CGrowArray<TRing>& upper)
{
    auto c = [longitude](CGeoPoint p) { return longitude ? p.x : p.y; };
    CGrowArray<TCut> low, high;
    for (uint64_t i = 0; i + 1 < ring.Count(); ++i) {
        CGeoPoint p = ring[i], q = ring[i + 1];
        bool pLow = c(p) <= s, qLow = c(q) <= s;
        if (pLow == qLow)
            continue;
        low.PushBack({uint32_t(i), CrossingPoint(p, q, longitude, s), pLow, false});
        high.PushBack({uint32_t(i), CrossingPoint(p, q, longitude, s + 1), !pLow, false});
    }
    if (low.Empty())
        return;
    Assemble(ring, low, longitude, longitude ? -1 : 1, lower);
    Assemble(ring, high, longitude, longitude ? 1 : -1, upper);
}

}  // namespace Splitter
