#include "splitter/AreaGeometry.h"

#include <algorithm>
#include <random>
#include <vector>

#include "common/rtree/RTree.h"

#include <gtest/gtest.h>

// Points print as "x,y" in failure messages.
static void PrintTo(const CGeoPoint& p, std::ostream* os) { *os << p.x << "," << p.y; }

namespace {

using namespace Geometry;

TRing Ring(std::initializer_list<CGeoPoint> points)
{
    TRing ring;
    for (CGeoPoint p : points)
        ring.PushBack(p);
    return ring;
}

// Clockwise closed square from (x0, y0) to (x1, y1).
TRing Square(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    return Ring({{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}});
}

TRing Reversed(const TRing& ring)
{
    TRing r;
    for (uint64_t i = ring.Count(); i-- > 0;)
        r.PushBack(ring[i]);
    return r;
}

TEST(AreaGeometry, LongitudeArithmeticAcrossTheAntimeridian)
{
    const int32_t deg = MapUnits::kPerDegree;
    EXPECT_EQ(LonDiff(179 * deg, -179 * deg), 2 * deg);
    EXPECT_EQ(LonDiff(-179 * deg, 179 * deg), -2 * deg);
    EXPECT_EQ(LonDiff(-10, 10), 20);
    EXPECT_EQ(LonAdd(179 * deg, 2 * deg), -179 * deg);
    EXPECT_EQ(LonAdd(-179 * deg, -2 * deg), 179 * deg);
    EXPECT_EQ(LonAdd(MapUnits::kMaxLon, 1), MapUnits::kMinLon);

    // Half way from 179 to -179 degrees is -180 degrees, not 0.
    CGeoPoint mid = Interpolate({179 * deg, 0}, {-179 * deg, 10}, 0.5);
    EXPECT_EQ(mid.x, int32_t(0xA6000000));
    EXPECT_EQ(mid.y, 5);
    EXPECT_EQ(Fraction({-180 * deg, 0}, {179 * deg, 0}, {-179 * deg, 0}), 0.5);
    EXPECT_EQ(Fraction({0, 3}, {0, 0}, {1, 12}), 0.25);
    EXPECT_EQ(Fraction({5, 5}, {5, 5}, {5, 5}), 0.0);
}

TEST(AreaGeometry, Orientation)
{
    TRing square = Ring({{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}});
    EXPECT_TRUE(IsClockwise(square));
    EXPECT_FALSE(IsClockwise(Reversed(square)));
    // Repeated points and a lowest point shared by several vertices.
    EXPECT_TRUE(IsClockwise(Ring({{0, 0}, {0, 0}, {0, 10}, {10, 10}, {10, 10}, {10, 0}, {10, 0}, {0, 0}})));
    EXPECT_FALSE(IsClockwise(Ring({{10, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}, {10, 0}})));
    // Degenerate rings end in a defined answer.
    EXPECT_TRUE(IsClockwise(Ring({{3, 3}, {3, 3}, {3, 3}})));
    EXPECT_TRUE(IsClockwise(Ring({{3, 3}})));
    EXPECT_TRUE(IsClockwise(TRing()));
    // Huge coordinates do not overflow the cross product.
    EXPECT_TRUE(IsClockwise(Square(MapUnits::kMinLon, -MapUnits::k90, MapUnits::kMaxLon, MapUnits::k90)));

    // The points of a way across 180 degrees, its edges the short way round;
    // the west side lies on 179 degrees, the east side on -179.
    const int32_t deg = MapUnits::kPerDegree;
    for (int32_t west : {170 * deg, 179 * deg, 0}) {
        int32_t east = LonAdd(west, 2 * deg);
        TRing way = Ring({{west, 0}, {west, 10}, {east, 10}, {east, 0}, {west, 0}});
        EXPECT_TRUE(IsClockwiseWrapped(way.Data(), way.Count() - 1)) << west;
        EXPECT_FALSE(IsClockwiseWrapped(Reversed(way).Data(), way.Count() - 1)) << west;
    }
}

TEST(AreaGeometry, LocateInRingsRunningOnPast180)
{
    // 178 to 182 degrees (-178), and the tile east of it: a point on -179 or
    // -180 degrees lies in the first.
    const int32_t deg = MapUnits::kPerDegree;
    TRing across = Square(178 * deg, 0, 182 * deg, 10), next = Square(-178 * deg, 0, -170 * deg, 10);
    const TRing* rings[] = {&across, &next};
    CAreaLocator locator;
    locator.Build(rings, 2);
    struct {
        int32_t lon;
        int32_t area;
        bool border;
    } cases[] = {{179 * deg, 0, false}, {-179 * deg, 0, false}, {MapUnits::kMinLon, 0, false},
                 {-178 * deg, 1, true}, {-175 * deg, 1, false}, {-170 * deg, 1, true},
                 {170 * deg, -1, false}, {-100 * deg, -1, false}};
    for (const auto& c : cases) {
        bool border = !c.border;
        EXPECT_EQ(locator.Locate({c.lon, 5}, &border), c.area) << c.lon;
        if (c.area >= 0) {
            EXPECT_EQ(border, c.border) << c.lon;
        }
    }
}

TEST(AreaGeometry, PointInRingWithItsBoundaryRule)
{
    TRing s = Square(0, 0, 10, 10);
    EXPECT_TRUE(PointInRing(s.Data(), s.Count(), {5, 5}));
    EXPECT_FALSE(PointInRing(s.Data(), s.Count(), {11, 5}));
    EXPECT_FALSE(PointInRing(s.Data(), s.Count(), {5, 11}));
    EXPECT_TRUE(PointInRing(s.Data(), s.Count(), {5, 10}));   // top edge
    EXPECT_TRUE(PointInRing(s.Data(), s.Count(), {0, 5}));    // west edge
    EXPECT_TRUE(PointInRing(s.Data(), s.Count(), {5, 0}));    // bottom edge, level with the first point
    TRing notch = Ring({{0, 100}, {30, 100}, {30, 40}, {70, 40}, {70, 100}, {100, 100}, {100, 0}, {0, 0}, {0, 100}});
    // Level with the notch's bottom edge, beside it.
    EXPECT_TRUE(PointInRing(notch.Data(), notch.Count(), {10, 40}));
    EXPECT_TRUE(PointInRing(notch.Data(), notch.Count(), {90, 40}));
    EXPECT_FALSE(PointInRing(notch.Data(), notch.Count(), {50, 41}));
    EXPECT_TRUE(PointInRing(notch.Data(), notch.Count(), {10, 50}));
    EXPECT_FALSE(PointInRing(notch.Data(), notch.Count(), {50, 50}));

    // A square across the antimeridian, from 179 to -179 degrees.
    const int32_t deg = MapUnits::kPerDegree;
    TRing wrap = Ring({{179 * deg, 0}, {179 * deg, 10}, {-179 * deg, 10}, {-179 * deg, 0}, {179 * deg, 0}});
    EXPECT_TRUE(PointInRing(wrap.Data(), wrap.Count(), {MapUnits::kMinLon, 5}));
    EXPECT_TRUE(PointInRing(wrap.Data(), wrap.Count(), {MapUnits::kMaxLon, 5}));
    EXPECT_FALSE(PointInRing(wrap.Data(), wrap.Count(), {178 * deg, 5}));
    EXPECT_FALSE(PointInRing(wrap.Data(), wrap.Count(), {-178 * deg, 5}));
}

struct TLocated {
    int32_t area;
    bool border;
};

TLocated Locate(const CAreaLocator& locator, CGeoPoint p, bool initial = false)
{
    bool border = initial;
    int32_t area = locator.Locate(p, &border);
    return {area, border};
}

void ExpectLocated(const CAreaLocator& locator, CGeoPoint p, int32_t area, bool border)
{
    TLocated got = Locate(locator, p, !border);
    EXPECT_EQ(got.area, area) << "(" << p.x << "," << p.y << ")";
    EXPECT_EQ(got.border, border) << "(" << p.x << "," << p.y << ")";
}

TEST(AreaGeometry, LocateInSeparateAndSharedSquares)
{
    TAreaList areas;
    areas.EmplaceBack().ring = Square(0, 0, 10, 10);
    areas.EmplaceBack().ring = Square(20, 0, 30, 10);
    CAreaLocator locator;
    locator.Build(areas);
    ExpectLocated(locator, {5, 5}, 0, false);
    ExpectLocated(locator, {25, 5}, 1, false);
    ExpectLocated(locator, {15, 5}, -1, false);
    ExpectLocated(locator, {-5, 5}, -1, false);
    for (CGeoPoint p : {CGeoPoint{0, 5}, CGeoPoint{10, 5}, CGeoPoint{5, 10}, CGeoPoint{5, 0}, CGeoPoint{10, 10},
                        CGeoPoint{0, 0}})
        ExpectLocated(locator, p, 0, true);
    // East of every slab: the flag is left as it was, either way.
    EXPECT_EQ(Locate(locator, {35, 5}, true).border, true);
    EXPECT_EQ(Locate(locator, {35, 5}, false).border, false);
    EXPECT_EQ(Locate(locator, {35, 5}).area, -1);

    TAreaList shared;
    shared.EmplaceBack().ring = Square(0, 0, 10, 10);
    shared.EmplaceBack().ring = Square(10, 0, 20, 10);
    locator.Build(shared);
    ExpectLocated(locator, {10, 5}, 0, true);
    ExpectLocated(locator, {15, 5}, 1, false);
    ExpectLocated(locator, {20, 5}, 1, true);

    // Stacked squares sharing a horizontal edge: the shared edge belongs to one.
    TAreaList stacked;
    stacked.EmplaceBack().ring = Square(0, 0, 10, 10);
    stacked.EmplaceBack().ring = Square(0, 10, 10, 20);
    locator.Build(stacked);
    ExpectLocated(locator, {5, 5}, 0, false);
    ExpectLocated(locator, {5, 15}, 1, false);
    TLocated edge = Locate(locator, {5, 10});
    EXPECT_TRUE(edge.border);
    EXPECT_TRUE(edge.area == 0 || edge.area == 1);
}

TEST(AreaGeometry, LocateInNestedSquaresWhateverTheOrder)
{
    for (bool innerFirst : {false, true}) {
        TAreaList areas;
        areas.EmplaceBack().ring = innerFirst ? Square(40, 40, 60, 60) : Square(0, 0, 100, 100);
        areas.EmplaceBack().ring = innerFirst ? Square(0, 0, 100, 100) : Square(40, 40, 60, 60);
        int32_t inner = innerFirst ? 0 : 1, outer = 1 - inner;
        CAreaLocator locator;
        locator.Build(areas);
        ExpectLocated(locator, {50, 50}, inner, false);
        ExpectLocated(locator, {10, 10}, outer, false);
        ExpectLocated(locator, {40, 50}, outer, true);
        ExpectLocated(locator, {50, 60}, inner, true);
    }
}

TEST(AreaGeometry, LocateAgreesWithPointInRingOnAGrid)
{
    // A grid of rectangles with ragged edges, like the automatic split makes,
    // checked on random points against a brute-force search.
    std::mt19937 random(11);
    TAreaList areas;
    const int32_t xs[] = {-1000, -300, 50, 400, 1000};
    for (int i = 0; i + 1 < 5; ++i) {
        int32_t y = -1000;
        while (y < 1000) {
            int32_t top = std::min<int32_t>(1000, y + 100 + int32_t(random() % 400));
            areas.EmplaceBack().ring = Square(xs[i], y, xs[i + 1], top);
            y = top;
        }
    }
    CAreaLocator locator;
    locator.Build(areas);
    for (int n = 0; n < 20000; ++n) {
        CGeoPoint p{int32_t(random() % 2400) - 1200, int32_t(random() % 2400) - 1200};
        bool border = false;
        int32_t area = locator.Locate(p, &border);
        int inside = 0;
        for (uint64_t k = 0; k < areas.Count(); ++k) {
            CGeoRect r = RingBounds(areas[k].ring);
            inside += p.x >= r.west && p.x <= r.east && p.y >= r.south && p.y <= r.north;
        }
        if (inside == 0) {
            ASSERT_EQ(area, -1) << p.x << "," << p.y;
        } else {
            ASSERT_GE(area, 0) << p.x << "," << p.y;
            CGeoRect r = RingBounds(areas[area].ring);
            ASSERT_TRUE(p.x >= r.west && p.x <= r.east && p.y >= r.south && p.y <= r.north);
            bool onEdge = p.x == r.west || p.x == r.east || p.y == r.south || p.y == r.north;
            ASSERT_EQ(border, onEdge) << p.x << "," << p.y;
        }
    }
}

TEST(AreaGeometry, LocateSurvivesBrokenRings)
{
    // Overlapping and self-crossing rings must not crash the build or the search.
    TAreaList areas;
    areas.EmplaceBack().ring = Square(0, 0, 10, 10);
    areas.EmplaceBack().ring = Square(5, 5, 15, 15);
    areas.EmplaceBack().ring = Ring({{0, 0}, {10, 10}, {10, 0}, {0, 10}, {0, 0}});
    areas.EmplaceBack().ring = Ring({{3, 3}, {3, 3}, {3, 3}});
    areas.EmplaceBack();
    CAreaLocator locator;
    locator.Build(areas);
    for (int32_t x = -2; x < 18; ++x)
        for (int32_t y = -2; y < 18; ++y) {
            int32_t area = locator.Locate({x, y});
            ASSERT_GE(area, -1);
            ASSERT_LT(area, 5);
        }
    EXPECT_GT(locator.BytesHeld(), 0u);
    CAreaLocator empty;
    EXPECT_EQ(empty.Locate({0, 0}), -1);
}

CGrowArray<TRing> Subtract(const TRing& b, TRing& a, EOverlap* overlap = nullptr)
{
    RTree::CRTree edges(100);
    BuildEdgeTree(a, edges);
    CGrowArray<TRing> result;
    EOverlap found = Difference(edges, result, b, a);
    if (overlap != nullptr)
        *overlap = found;
    return result;
}

std::vector<CGeoPoint> Points(const TRing& r) { return std::vector<CGeoPoint>(r.begin(), r.end()); }

int64_t TwiceArea(const TRing& r)
{
    int64_t sum = 0;
    for (uint64_t i = 0; i + 1 < r.Count(); ++i)
        sum += int64_t(r[i].x) * r[i + 1].y - int64_t(r[i + 1].x) * r[i].y;
    return -sum;  // clockwise rings have positive area
}

TEST(PolygonDifference, OverlapBandAndNesting)
{
    TRing b = Square(0, 0, 10, 10);
    TRing a = Square(5, -5, 15, 15);
    CGrowArray<TRing> result = Subtract(b, a);
    ASSERT_EQ(result.Count(), 1u);
    EXPECT_EQ(Points(result[0]), Points(Ring({{5, 10}, {5, 0}, {0, 0}, {0, 10}, {5, 10}})));
    EXPECT_EQ(Points(a), Points(Ring({{5, -5}, {5, 0}, {5, 10}, {5, 15}, {15, 15}, {15, -5}, {5, -5}})));

    TRing band = Square(3, -5, 7, 15);
    result = Subtract(b, band);
    ASSERT_EQ(result.Count(), 2u);
    EXPECT_EQ(Points(result[0]), Points(Ring({{3, 10}, {3, 0}, {0, 0}, {0, 10}, {3, 10}})));
    EXPECT_EQ(Points(result[1]), Points(Ring({{7, 10}, {10, 10}, {10, 0}, {7, 0}, {7, 10}})));

    for (TRing other : {Square(20, 20, 30, 30), Square(2, 2, 8, 8)}) {
        TRing before = other;
        EXPECT_EQ(Subtract(b, other).Count(), 0u);
        EXPECT_EQ(Points(other), Points(before));
    }
}

TEST(PolygonDifference, AreasAddUpOnRandomBoxes)
{
    std::mt19937 random(17);
    for (int i = 0; i < 300; ++i) {
        auto coord = [&] { return int32_t(random() % 100); };
        int32_t bx0 = coord(), bx1 = bx0 + 1 + coord(), by0 = coord(), by1 = by0 + 1 + coord();
        int32_t ax0 = coord(), ax1 = ax0 + 1 + coord(), ay0 = coord(), ay1 = ay0 + 1 + coord();
        TRing b = Square(bx0, by0, bx1, by1), a = Square(ax0, ay0, ax1, ay1);
        CGrowArray<TRing> result = Subtract(b, a);
        bool overlap = std::min(bx1, ax1) > std::max(bx0, ax0) && std::min(by1, ay1) > std::max(by0, ay0);
        bool bInA = bx0 >= ax0 && bx1 <= ax1 && by0 >= ay0 && by1 <= ay1;
        bool aInsideB = ax0 > bx0 && ax1 < bx1 && ay0 > by0 && ay1 < by1;  // a hole: no ring
        if (result.Empty()) {
            EXPECT_FALSE(overlap && !bInA && !aInsideB)
                << "B " << bx0 << "," << by0 << "-" << bx1 << "," << by1 << " A " << ax0 << "," << ay0 << "-" << ax1
                << "," << ay1;
            continue;
        }
        int64_t ix = std::max(0, std::min(bx1, ax1) - std::max(bx0, ax0));
        int64_t iy = std::max(0, std::min(by1, ay1) - std::max(by0, ay0));
        int64_t expected = 2 * (int64_t(bx1 - bx0) * (by1 - by0) - ix * iy);
        int64_t got = 0;
        for (const TRing& r : result) {
            EXPECT_EQ(r[0], r.Back());
            got += TwiceArea(r);
            // Sample: the middle of every piece's edges lies in B and not inside A.
            for (uint64_t k = 0; k + 1 < r.Count(); ++k) {
                CGeoPoint m{(r[k].x + r[k + 1].x) / 2, (r[k].y + r[k + 1].y) / 2};
                EXPECT_TRUE(m.x >= bx0 && m.x <= bx1 && m.y >= by0 && m.y <= by1);
                EXPECT_FALSE(m.x > ax0 && m.x < ax1 && m.y > ay0 && m.y < ay1);
            }
        }
        EXPECT_EQ(got, expected) << "B " << bx0 << "," << by0 << "-" << bx1 << "," << by1 << " A " << ax0 << ","
                                 << ay0 << "-" << ax1 << "," << ay1;
    }
}

TEST(PolygonDifference, DegenerateRingsEndInADefinedResult)
{
    TRing b = Square(0, 0, 10, 10);
    TRing spiky = Ring({{5, -5}, {5, 5}, {5, -5}, {5, 15}, {5, 5}, {15, 15}, {5, -5}});
    (void)Subtract(b, spiky);
    TRing same = Square(0, 0, 10, 10);
    (void)Subtract(b, same);
    TRing point = Ring({{5, 5}, {5, 5}});
    EXPECT_EQ(Subtract(b, point).Count(), 0u);
    TRing collinear = Ring({{0, 0}, {0, 5}, {0, 10}, {0, 0}});
    (void)Subtract(b, collinear);
}

TEST(PolygonDifference, SharedAndCollinearEdges)
{
    constexpr int32_t kDeg = MapUnits::kPerDegree;
    struct TCase {
        const char* what;
        TRing b, a;
        EOverlap overlap;
        std::vector<CGeoPoint> piece;  // the one piece, when trimmed
    };
    const TCase cases[] = {
        {"a strip over the same meridians", Square(0, 5, 10, 15), Square(0, 0, 10, 10), EOverlap::kTrimmed,
         {{0, 10}, {0, 15}, {10, 15}, {10, 10}, {0, 10}}},
        {"a notch along one edge", Square(0, 0, 10, 10), Square(3, 0, 7, 5), EOverlap::kTrimmed,
         {{3, 0}, {0, 0}, {0, 10}, {10, 10}, {10, 0}, {7, 0}, {7, 5}, {3, 5}, {3, 0}}},
        {"a hole touching at one point", Square(0, 0, 10, 10), Ring({{5, 0}, {3, 4}, {7, 4}, {5, 0}}),
         EOverlap::kTrimmed, {{5, 0}, {7, 4}, {3, 4}, {5, 0}, {0, 0}, {0, 10}, {10, 10}, {10, 0}, {5, 0}}},
        {"a rectangle wider than half the world", Square(-180 * kDeg, -90 * kDeg, 19 * kDeg, 90 * kDeg),
         Square(18 * kDeg, 47 * kDeg, 20 * kDeg, 48 * kDeg), EOverlap::kTrimmed,
         {{19 * kDeg, 48 * kDeg}, {18 * kDeg, 48 * kDeg}, {18 * kDeg, 47 * kDeg}, {19 * kDeg, 47 * kDeg},
          {19 * kDeg, -90 * kDeg}, {-180 * kDeg, -90 * kDeg}, {-180 * kDeg, 90 * kDeg}, {19 * kDeg, 90 * kDeg},
          {19 * kDeg, 48 * kDeg}}},
        {"within, sharing edges", Square(0, 0, 10, 5), Square(0, 0, 10, 10), EOverlap::kCovered, {}},
        {"the same ring", Square(0, 0, 10, 10), Square(0, 0, 10, 10), EOverlap::kCovered, {}},
        {"apart", Square(20, 0, 30, 10), Square(0, 0, 10, 10), EOverlap::kApart, {}},
        {"inside, not touching", Square(2, 2, 8, 8), Square(0, 0, 10, 10), EOverlap::kApart, {}},
        {"side by side", Square(10, 0, 20, 10), Square(0, 0, 10, 10), EOverlap::kTouching, {}},
        {"touching along part of an edge", Square(10, 5, 20, 15), Square(0, 0, 10, 10), EOverlap::kTouching, {}},
        {"corner to corner", Square(10, 10, 20, 20), Square(0, 0, 10, 10), EOverlap::kTouching, {}},
    };
    for (const TCase& c : cases) {
        TRing b = c.b, a = c.a;
        EOverlap overlap;
        CGrowArray<TRing> result = Subtract(b, a, &overlap);
        EXPECT_EQ(overlap, c.overlap) << c.what;
        if (c.overlap != EOverlap::kTrimmed) {
            EXPECT_TRUE(result.Empty()) << c.what;
            EXPECT_EQ(Points(a), Points(c.a)) << c.what;
            continue;
        }
        ASSERT_EQ(result.Count(), 1u) << c.what;
        // The piece may start anywhere along its ring; compare it turned.
        std::vector<CGeoPoint> got = Points(result[0]), want = c.piece;
        got.pop_back(), want.pop_back();
        auto at = std::find(got.begin(), got.end(), want[0]);
        ASSERT_NE(at, got.end()) << c.what;
        std::rotate(got.begin(), at, got.end());
        EXPECT_EQ(got, want) << c.what;
    }
}

// Twice the area of the unit cells whose centres lie in ring, counted cell
// by cell with a plain crossing test on doubled coordinates.
bool CellIn(const TRing& ring, int64_t cx, int64_t cy)
{
    bool in = false;
    for (uint64_t k = 0; k + 1 < ring.Count(); ++k) {
        int64_t x1 = 2 * int64_t(ring[k].x), y1 = 2 * int64_t(ring[k].y);
        int64_t x2 = 2 * int64_t(ring[k + 1].x), y2 = 2 * int64_t(ring[k + 1].y);
        if ((y1 > cy) != (y2 > cy) && ((cx - x1) * (y2 - y1) < (cy - y1) * (x2 - x1)) == (y2 > y1))
            in = !in;
    }
    return in;
}

bool Touch(const TRing& x, const TRing& y)
{
    for (CGeoPoint p : x)
        for (uint64_t k = 0; k + 1 < y.Count(); ++k) {
            CGeoPoint a = y[k], b = y[k + 1];
            if (int64_t(b.x - a.x) * (p.y - a.y) == int64_t(b.y - a.y) * (p.x - a.x) &&
                std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
                p.y <= std::max(a.y, b.y))
                return true;
        }
    return false;
}

// A clockwise rectilinear ring on a grid: a histogram of random columns
// standing on (x0, y0), turned upside down when down is set.
TRing Histogram(std::mt19937& random, int32_t x0, int32_t y0, int columns, bool down)
{
    std::vector<int32_t> heights;
    for (int i = 0; i < columns; ++i)
        heights.push_back(1 + int32_t(random() % 6));
    TRing ring;
    int32_t sign = down ? -1 : 1;
    ring.PushBack({x0, y0});
    for (int i = 0; i < columns; ++i) {
        ring.PushBack({x0 + i, y0 + sign * heights[size_t(i)]});
        ring.PushBack({x0 + i + 1, y0 + sign * heights[size_t(i)]});
    }
    ring.PushBack({x0 + columns, y0});
    ring.PushBack({x0, y0});
    return down ? Reversed(ring) : ring;
}

TEST(PolygonDifference, PiecesCoverExactlyBOutsideAOnRandomGridPolygons)
{
    // Rectilinear rings on a small grid share edge lines and vertices all
    // the time; the pieces must hold exactly the cells of B outside A.
    std::mt19937 random(5);
    int trimmed = 0, covered = 0, apart = 0;
    for (int i = 0; i < 2000; ++i) {
        auto ring = [&] {
            int32_t x0 = int32_t(random() % 8), y0 = int32_t(random() % 8);
            if (random() % 3 == 0)
                return Square(x0, y0, x0 + 1 + int32_t(random() % 8), y0 + 1 + int32_t(random() % 8));
            return Histogram(random, x0, y0, 1 + int(random() % 8), random() % 2 == 0);
        };
        TRing b = ring(), a = ring();
        const TRing before = a;
        ASSERT_TRUE(IsClockwise(b) && IsClockwise(a));
        EOverlap overlap;
        CGrowArray<TRing> pieces = Subtract(b, a, &overlap);
        int both = 0, onlyB = 0, onlyA = 0;
        for (int64_t cx = -15; cx < 40; cx += 2) {
            for (int64_t cy = -15; cy < 40; cy += 2) {
                bool inB = CellIn(b, cx, cy), inA = CellIn(before, cx, cy);
                ASSERT_EQ(CellIn(a, cx, cy), inA) << i << ": A changed shape";
                both += inA && inB;
                onlyB += inB && !inA;
                onlyA += inA && !inB;
                if (overlap != EOverlap::kTrimmed)
                    continue;
                int holders = 0;
                for (const TRing& piece : pieces)
                    holders += CellIn(piece, cx, cy);
                ASSERT_EQ(holders, inB && !inA ? 1 : 0) << i << ": cell " << cx << "," << cy;
            }
        }
        // Rings nested without touching are the containment test's business.
        const bool touch = Touch(b, before) || Touch(before, b);
        EOverlap expected = !touch && (both == 0 || onlyA == 0 || onlyB == 0) ? EOverlap::kApart
                            : both == 0                                      ? EOverlap::kTouching
                            : onlyB == 0                                     ? EOverlap::kCovered
                                                                             : EOverlap::kTrimmed;
        ASSERT_EQ(overlap, expected) << i << ": B " << ::testing::PrintToString(Points(b)) << " A "
                                     << ::testing::PrintToString(Points(before));
        for (const TRing& piece : pieces) {
            EXPECT_EQ(piece[0], piece.Back());
            EXPECT_GT(TwiceArea(piece), 0);
        }
        trimmed += overlap == EOverlap::kTrimmed;
        covered += overlap == EOverlap::kCovered;
        apart += overlap == EOverlap::kApart || overlap == EOverlap::kTouching;
    }
    EXPECT_GT(trimmed, 500);
    EXPECT_GT(covered, 20);
    EXPECT_GT(apart, 100);
}

// A lies west of a zigzag border z and B east of another one, w, with
// vertices at the same latitudes, between two of them: they overlap where w
// lies west of z. Many edges share one longitude range, as where tiles follow
// one meridian. B must keep its area less the overlap (up to the rounding of
// the crossing points), and A its own.
TEST(PolygonDifference, ZigzagBordersTrimTheOverlapAway)
{
    std::mt19937 random(23);
    int trimmed = 0;
    for (int i = 0; i < 400; ++i) {
        const int n = 2 + int(random() % 1500);
        const int32_t step = 1000 * (1 + int32_t(random() % 40)), amplitude = 1000 * int32_t(random() % 2000);
        const int32_t shift = int32_t(random() % uint32_t(2 * amplitude + 2)) - amplitude;
        const bool regular = random() % 2 == 0;  // the edges of z all span the same longitudes
        std::vector<CGeoPoint> z, w;
        for (int k = 0; k < n; ++k) {
            int32_t offset = regular ? amplitude * (k % 2) : int32_t(random() % uint32_t(amplitude + 1));
            z.push_back({offset, k * step});
            offset = random() % 4 == 0 ? offset : int32_t(random() % uint32_t(amplitude + 1));
            w.push_back({offset + shift, k * step});
        }
        const int lo = int(random() % uint32_t(n)), hi = lo + int(random() % uint32_t(n - lo));
        if (hi == lo)
            continue;
        TRing a = Ring({{-10000000, 0}, {-10000000, z.back().y}}), b;
        for (int k = n - 1; k >= 0; --k)
            a.PushBack(z[size_t(k)]);
        a.PushBack(a[0]);
        for (int k = lo; k <= hi; ++k)
            b.PushBack(w[size_t(k)]);
        b.PushBack({10000000, w[size_t(hi)].y});
        b.PushBack({10000000, w[size_t(lo)].y});
        b.PushBack(b[0]);
        // Twice the overlap, strip by strip: z - w is linear between vertices.
        double overlap = 0, tolerance = 0;
        for (int k = lo; k < hi; ++k) {
            double d0 = z[size_t(k)].x - w[size_t(k)].x, d1 = z[size_t(k + 1)].x - w[size_t(k + 1)].x;
            if (d0 >= 0 && d1 >= 0) {
                overlap += (d0 + d1) * step;
            } else if (d0 > 0 || d1 > 0) {
                double positive = std::max(d0, d1), negative = -std::min(d0, d1);
                overlap += positive * positive / (positive + negative) * step;
                tolerance += 4.0 * (2 * amplitude + step + 2);
            }
        }
        const int64_t areaA = TwiceArea(a);
        EOverlap found;
        const CGrowArray<TRing> pieces = Subtract(b, a, &found);
        EXPECT_NEAR(double(TwiceArea(a)), double(areaA), tolerance) << i;
        if (overlap == 0) {
            EXPECT_NE(found, EOverlap::kTrimmed) << i;
            continue;
        }
        ++trimmed;
        ASSERT_EQ(found, EOverlap::kTrimmed) << i << " n " << n;
        ASSERT_EQ(pieces.Count(), 1u) << i;
        EXPECT_EQ(pieces[0][0], pieces[0].Back()) << i;
        EXPECT_NEAR(double(TwiceArea(pieces[0])), double(TwiceArea(b)) - overlap, tolerance) << i << " n " << n;
    }
    EXPECT_GT(trimmed, 300);
}

}  // namespace
