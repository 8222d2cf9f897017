#include "splitter/areas/AreaGeometry.h"

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "common/rtree/RTree.h"
#include "splitter/areas/PolygonDifference.h"

#include <gtest/gtest.h>

using namespace Splitter;

// Points print as "x,y" in failure messages.
static void PrintTo(const CGeoPoint& p, std::ostream* os) { *os << p.x << "," << p.y; }

namespace {

using namespace Geometry;

constexpr int32_t kDeg = MapUnits::kPerDegree;

TRing Ring(const std::vector<CGeoPoint>& points)
{
    TRing ring;
    ring.Append(points.data(), points.size());
    return ring;
}

std::string Text(const TRing& r) { return ::testing::PrintToString(std::vector<CGeoPoint>(r.begin(), r.end())); }

// Brute force: whether p lies on an edge or a vertex of ring.
bool OnRing(const TRing& ring, CGeoPoint p)
{
    for (uint64_t i = 0; i + 1 < ring.Count(); ++i) {
        const int64_t ax = int64_t(ring[i].x) - p.x, ay = int64_t(ring[i].y) - p.y;
        const int64_t bx = int64_t(ring[i + 1].x) - p.x, by = int64_t(ring[i + 1].y) - p.y;
        if (ax * by == ay * bx && ax * bx + ay * by <= 0)  // on the line, between the ends
            return true;
    }
    return false;
}

// Brute force: whether (x, y) off the ring lies inside the ring scaled by
// scale, by counting the edges that cross the ray running east.
bool Inside(const TRing& ring, int64_t x, int64_t y, int64_t scale = 1)
{
    bool in = false;
    for (uint64_t k = 0; k + 1 < ring.Count(); ++k) {
        const int64_t x1 = scale * ring[k].x, y1 = scale * ring[k].y;
        const int64_t x2 = scale * ring[k + 1].x, y2 = scale * ring[k + 1].y;
        in ^= (y1 > y) != (y2 > y) && ((x - x1) * (y2 - y1) < (y - y1) * (x2 - x1)) == (y2 > y1);
    }
    return in;
}

TEST(AreaGeometry, Orientation)
{
    // Repeated points and a lowest point shared by several vertices.
    EXPECT_TRUE(IsClockwise(Ring({{0, 0}, {0, 0}, {0, 10}, {10, 10}, {10, 10}, {10, 0}, {10, 0}, {0, 0}})));
    EXPECT_FALSE(IsClockwise(Ring({{10, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}, {10, 0}})));
    // Degenerate rings end in a defined answer; huge ones do not overflow.
    EXPECT_TRUE(IsClockwise(Ring({{3, 3}, {3, 3}, {3, 3}})));
    EXPECT_FALSE(IsClockwise(Ring({{0, 0}, {5, 0}, {10, 0}, {0, 0}})));
    EXPECT_TRUE(IsClockwise(TRing()));
    EXPECT_TRUE(IsClockwise(RectangleRing(MapUnits::kMinLon, -MapUnits::k90, MapUnits::kMaxLon, MapUnits::k90)));
}

// Points on the boundary count as inside; level edges beside a point cross nothing.
TEST(AreaGeometry, PointInRingCases)
{
    const TRing square = RectangleRing(0, 0, 10, 10), diamond = Ring({{5, 10}, {10, 5}, {5, 0}, {0, 5}, {5, 10}});
    const TRing notch = Ring({{0, 100}, {30, 100}, {30, 40}, {70, 40}, {70, 100}, {100, 100}, {100, 0}, {0, 0},
                              {0, 100}});
    const TRing fromWest = Ring({{0, 5}, {5, 10}, {10, 5}, {5, 0}, {0, 5}});
    const TRing wrap = Ring({{179 * kDeg, 0}, {179 * kDeg, 10}, {-179 * kDeg, 10}, {-179 * kDeg, 0}, {179 * kDeg, 0}});
    const std::tuple<const TRing&, CGeoPoint, bool> cases[] = {
        {square, {5, 5}, true},   {square, {11, 5}, false}, {square, {5, 11}, false},
        {square, {5, 10}, true},  {square, {0, 5}, true},   {square, {5, 0}, true},  // on an edge
        {notch, {10, 40}, true},  {notch, {90, 40}, true},  {notch, {50, 41}, false},
        {notch, {10, 50}, true},  {notch, {50, 50}, false},
        {diamond, {5, 5}, true},  {fromWest, {5, 5}, true},  // level with two vertices, with the first
        {diamond, {-3, 5}, false}, {diamond, {12, 5}, false},
        {wrap, {MapUnits::kMinLon, 5}, true}, {wrap, {MapUnits::kMaxLon, 5}, true},
        {wrap, {178 * kDeg, 5}, false},       {wrap, {-178 * kDeg, 5}, false},
    };
    for (const auto& [ring, p, inside] : cases)
        EXPECT_EQ(PointInRing(ring.Data(), ring.Count(), p), inside) << p.x << "," << p.y;
}

// Columns cut by random polylines into clockwise areas with slanted (or
// level) edges, shared vertices and T-junctions on the meridians between.
TAreaList RandomTiling(std::mt19937& random, int columns, int rows, int samples, bool flat)
{
    TAreaList areas;
    for (int32_t c = 0, x0 = -5000; c < columns; ++c) {
        const int32_t x1 = x0 + 200 + int32_t(random() % 2000);
        std::vector<int32_t> xs{x0};
        for (int s = 1; s < samples; ++s)
            xs.push_back(x0 + int32_t((int64_t(x1 - x0) * s) / samples) + int32_t(random() % 3) - 1);
        xs.push_back(x1);
        // Level rows under three units high would lose their bottom edge to
        // the locator's rounding tolerance.
        std::vector<int32_t> below(xs.size(), -5000), above(xs.size());
        for (int j = 0; j < rows; ++j) {
            for (size_t s = 0; s < xs.size(); ++s)
                above[s] = flat && s > 0 ? above[0] : below[s] + (flat ? 3 : 1) + int32_t(random() % 900);
            TRing& ring = areas.EmplaceBack().ring;
            for (size_t s = 0; s < xs.size(); ++s)
                ring.PushBack({xs[s], above[s]});
            for (size_t s = xs.size(); s-- > 0;)
                ring.PushBack({xs[s], below[s]});
            ring.PushBack(ring[0]);
            below = above;
        }
        x0 = x1;
    }
    return areas;
}

// Any area holding p will do; the enclosing area outer, looked at last,
// where none does or p lies on an area's ring.
void ExpectLocatedAsByBruteForce(const TAreaList& areas, const std::vector<CGeoPoint>& probes, int32_t outer)
{
    CAreaLocator locator;
    locator.Build(areas);
    for (CGeoPoint p : probes) {
        std::vector<int32_t> holding;
        bool onRing = false;
        for (uint64_t i = 0; i < areas.Count(); ++i) {
            const int32_t k = int32_t((i + (outer == 0)) % areas.Count());
            const TRing& ring = areas[uint64_t(k)].ring;
            if ((k != outer || holding.empty() || onRing) && (OnRing(ring, p) || Inside(ring, p.x, p.y))) {
                holding.push_back(k);
                onRing = onRing || OnRing(ring, p);
            }
        }
        bool border = false;
        const int32_t area = locator.Locate(p, &border);
        const bool right = holding.empty() ? area == CAreaLocator::kNone
                                           : std::count(holding.begin(), holding.end(), area) && border == onRing;
        ASSERT_TRUE(right) << p.x << "," << p.y << " found " << area << " " << border;
    }
}

TEST(AreaLocator, AgreesWithBruteForceOnRandomTilings)
{
    const struct {
        int columns, rows, samples;
        bool flat;
        int enclosing;  // the tiling lies inside one more area: 0 none, 1 listed first, 2 last
        int gaps;       // every gaps-th tile left out, so that meridians hold nested edges
    } cases[] = {{1, 1, 1, false, 0, 0},  {1, 5, 4, false, 0, 0}, {4, 6, 3, false, 0, 0},
                 {8, 12, 5, false, 0, 0},  {20, 20, 2, false, 0, 0}, {4, 8, 1, true, 0, 0},
                 {1, 1, 1, false, 1, 0},  {5, 4, 3, false, 1, 0}, {3, 3, 2, true, 2, 0},
                 {12, 12, 1, false, 0, 3}, {6, 8, 3, false, 1, 2}};
    std::mt19937 random(16);
    for (const auto& c : cases) {
        const TAreaList tiles = RandomTiling(random, c.columns, c.rows, c.samples, c.flat);
        CGeoRect box;
        TAreaList areas;
        for (uint64_t t = 0; t < tiles.Count(); ++t) {
            Extend(box, RingBounds(tiles[t].ring));
            if (c.gaps == 0 || t % uint64_t(c.gaps) != 0)
                areas.EmplaceBack().ring = tiles[t].ring;
        }
        int32_t outer = -1;
        if (c.enclosing != 0) {
            areas.EmplaceBack().ring = RectangleRing(box.west - 50, box.south - 50, box.east + 50, box.north + 50);
            std::rotate(areas.begin(), areas.end() - (c.enclosing == 1), areas.end());
            outer = c.enclosing == 1 ? 0 : int32_t(areas.Count() - 1);
        }
        // Every vertex, edge middle (where ties lie) and random points around.
        std::vector<CGeoPoint> probes;
        for (const TArea& area : areas)
            for (uint64_t i = 0; i + 1 < area.ring.Count(); ++i)
                probes.insert(probes.end(), {area.ring[i], {(area.ring[i].x + area.ring[i + 1].x) / 2,
                                                            (area.ring[i].y + area.ring[i + 1].y) / 2}});
        for (int n = 0; n < 20000; ++n)
            probes.push_back({box.west - 100 + int32_t(random() % uint32_t(box.east - box.west + 200)),
                              box.south - 100 + int32_t(random() % uint32_t(box.north - box.south + 200))});
        ExpectLocatedAsByBruteForce(areas, probes, outer);
    }
}

// Areas one and two units high under a taller one: the locator tells their
// top and bottom edges apart, exactly, though it allows rounding between
// edges of different areas.
TEST(AreaLocator, ThinAreasHoldTheirPoints)
{
    TAreaList areas;
    for (const auto& [south, north] : {std::pair(3, 100), {1, 3}, {0, 1}, {-100, 0}})
        areas.EmplaceBack().ring = RectangleRing(0, south, 100, north);
    std::vector<CGeoPoint> probes;
    for (int32_t x : {0, 50, 100})
        for (int32_t y = -2; y <= 5; ++y)
            probes.push_back({x, y});
    ExpectLocatedAsByBruteForce(areas, probes, -1);
}

EOverlap Subtract(const TRing& b, TRing& a, CGrowArray<TRing>& pieces)
{
    RTree::CRTree edges(100);
    BuildEdgeTree(a, edges);
    return Difference(edges, pieces, b, a);
}

int64_t TwiceArea(const TRing& r)  // positive for clockwise rings
{
    int64_t sum = 0;
    for (uint64_t i = 0; i + 1 < r.Count(); ++i)
        sum += int64_t(r[i + 1].x) * r[i].y - int64_t(r[i].x) * r[i + 1].y;
    return sum;
}

// B wider than half the world is trimmed to one piece; degenerate rings end
// in a defined result.
TEST(PolygonDifference, TrimmedPieces)
{
    TRing a = RectangleRing(18 * kDeg, 47 * kDeg, 20 * kDeg, 48 * kDeg);
    CGrowArray<TRing> pieces;
    ASSERT_EQ(Subtract(RectangleRing(-180 * kDeg, -90 * kDeg, 19 * kDeg, 90 * kDeg), a, pieces), EOverlap::kTrimmed);
    ASSERT_EQ(pieces.Count(), 1u);
    EXPECT_EQ(TwiceArea(pieces[0]), int64_t(2) * (199 * 180 - 1) * kDeg * kDeg);
    for (TRing degenerate : {Ring({{5, -5}, {5, 5}, {5, -5}, {5, 15}, {5, 5}, {15, 15}, {5, -5}}),
                             Ring({{5, 5}, {5, 5}}), Ring({{0, 0}, {0, 5}, {0, 10}, {0, 0}})})
        (void)Subtract(RectangleRing(0, 0, 10, 10), degenerate, pieces);
}

// A clockwise rectilinear ring on a grid: a histogram of random columns
// standing on (x0, y0), turned upside down when down is set.
TRing Histogram(std::mt19937& random, int32_t x0, int32_t y0, int columns, bool down)
{
    TRing ring = Ring({{x0, y0}});
    for (int32_t i = 0; i < columns; ++i) {
        const int32_t height = (down ? -1 : 1) * (1 + int32_t(random() % 6));
        ring.PushBack({x0 + i, y0 + height});
        ring.PushBack({x0 + i + 1, y0 + height});
    }
    ring.PushBack({x0 + columns, y0});
    ring.PushBack({x0, y0});
    if (down)
        std::reverse(ring.begin(), ring.end());
    return ring;
}

// Rectilinear rings on a small grid share edge lines and vertices all the
// time; the pieces must hold exactly the cells of B outside A.
TEST(PolygonDifference, PiecesCoverExactlyBOutsideAOnRandomGridPolygons)
{
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        auto ring = [&] {
            const int32_t x0 = int32_t(random() % 8), y0 = int32_t(random() % 8);
            if (random() % 3 == 0)
                return RectangleRing(x0, y0, x0 + 1 + int32_t(random() % 8), y0 + 1 + int32_t(random() % 8));
            return Histogram(random, x0, y0, 1 + int(random() % 8), random() % 2 == 0);
        };
        const TRing b = ring(), before = ring();
        ASSERT_TRUE(IsClockwise(b) && IsClockwise(before));
        TRing a = before;
        CGrowArray<TRing> pieces;
        const EOverlap overlap = Subtract(b, a, pieces);
        // Cell centres at odd doubled coordinates never lie on a ring.
        int cells[2][2] = {};  // by whether in A, in B
        for (int64_t cx = -15; cx < 40; cx += 2) {
            for (int64_t cy = -15; cy < 40; cy += 2) {
                const bool inB = Inside(b, cx, cy, 2), inA = Inside(before, cx, cy, 2);
                ASSERT_EQ(Inside(a, cx, cy, 2), inA) << i << ": A changed shape";
                ++cells[inA][inB];
                const auto holders =
                    std::count_if(pieces.begin(), pieces.end(), [&](const TRing& r) { return Inside(r, cx, cy, 2); });
                ASSERT_EQ(holders, overlap == EOverlap::kTrimmed && inB && !inA) << i << ": cell " << cx << "," << cy;
            }
        }
        // Rings nested without touching are the containment test's business.
        const bool touch = std::any_of(b.begin(), b.end(), [&](CGeoPoint p) { return OnRing(before, p); }) ||
                           std::any_of(before.begin(), before.end(), [&](CGeoPoint p) { return OnRing(b, p); });
        const int both = cells[1][1], onlyA = cells[1][0], onlyB = cells[0][1];
        const EOverlap expected = !touch && (both == 0 || onlyA == 0 || onlyB == 0) ? EOverlap::kApart
                                  : both == 0                                      ? EOverlap::kTouching
                                  : onlyB == 0                                     ? EOverlap::kCovered
                                                                                   : EOverlap::kTrimmed;
        ASSERT_EQ(overlap, expected) << i << ": B " << Text(b) << " A " << Text(before);
        for (const TRing& piece : pieces) {
            EXPECT_TRUE(piece[0] == piece.Back() && TwiceArea(piece) > 0) << Text(piece);
            for (CGeoPoint p : piece)  // A takes the points where the pieces meet it
                ASSERT_TRUE(!OnRing(before, p) || std::count(a.begin(), a.end(), p)) << i << ": " << Text(a);
        }
    }
}

}  // namespace
