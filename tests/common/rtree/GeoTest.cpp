// Rectangles on the cyclic longitude axis against an interval model, and the
// exact 128-bit arithmetic of cross products.
#include "common/rtree/Geo.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/rtree/Int128.h"

namespace {

using MapUnits::FromDegrees;
using MapUnits::kMaxLon;
using MapUnits::kMinLon;

CGeoRect Deg(double west, double east, double south, double north)
{
    return {FromDegrees(west), FromDegrees(east), FromDegrees(south), FromDegrees(north)};
}

// The model: a rectangle with longitudes in [-180, 180) is one plain
// interval, or two when it crosses the antimeridian.
std::vector<std::pair<int32_t, int32_t>> Pieces(const CGeoRect& r)
{
    if (r.west <= r.east)
        return {{r.west, r.east}};
    return {{r.west, kMaxLon}, {kMinLon, r.east}};
}
bool ModelIntersects(const CGeoRect& a, const CGeoRect& b)
{
    bool meet = false;
    for (auto p : Pieces(a))
        for (auto q : Pieces(b))
            meet = meet || (p.first <= q.second && q.first <= p.second);
    return !a.IsEmpty() && !b.IsEmpty() && a.south <= b.north && b.south <= a.north && meet;
}
bool ModelContains(const CGeoRect& outer, const CGeoRect& inner)
{
    if (outer.IsEmpty() || inner.IsEmpty() || inner.south < outer.south || inner.north > outer.north)
        return false;
    for (auto q : Pieces(inner)) {
        bool inside = false;
        for (auto p : Pieces(outer))
            inside = inside || (p.first <= q.first && q.second <= p.second);
        if (!inside)
            return false;
    }
    return true;
}

// Coordinates drawn from a few values, so that shared edges, shared corners
// and the antimeridian come up often.
TEST(GeoRect, OperationsMatchTheIntervalModel)
{
    std::mt19937 rng(7);
    const int32_t lons[] = {kMinLon, FromDegrees(-179), FromDegrees(-90), FromDegrees(-1), 0,
                            FromDegrees(1), FromDegrees(90), FromDegrees(179), kMaxLon};
    auto lon = [&] { return lons[rng() % std::size(lons)]; };
    auto lat = [&] { return FromDegrees(double(int(rng() % 5) - 2) * 10.0); };
    auto rect = [&] {
        int32_t s = lat(), n = lat();
        return CGeoRect{lon(), lon(), std::min(s, n), std::max(s, n)};
    };
    for (int i = 0; i < 20000; ++i) {
        const CGeoRect a = i % 50 ? rect() : CGeoRect{}, b = rect();
        ASSERT_EQ(Intersects(a, b), ModelIntersects(a, b)) << i;
        ASSERT_EQ(Intersects(b, a), ModelIntersects(a, b)) << i;
        ASSERT_EQ(Contains(a, b), ModelContains(a, b)) << i;
        CGeoRect grown = a;
        Extend(grown, b);
        ASSERT_TRUE(ModelContains(grown, b) && (a.IsEmpty() || ModelContains(grown, a))) << i;
        // Where the overlap falls in two pieces the intersection spans both;
        // it must never miss a common point.
        const CGeoRect r = Intersection(a, b);
        ASSERT_EQ(r.IsEmpty(), !Intersects(a, b)) << i;
        for (int k = 0; k < 10; ++k) {
            const int32_t x = lon(), y = lat();
            const CGeoRect p{x, x, y, y};
            if (ModelIntersects(a, p) && ModelIntersects(b, p)) {
                ASSERT_TRUE(ModelIntersects(r, p)) << i;
            }
        }
        if (Pieces(a).size() == 1 && Pieces(b).size() == 1 && !r.IsEmpty()) {
            ASSERT_TRUE(ModelContains(a, r) && ModelContains(b, r)) << i;
        }
    }
}

// Extend takes the shorter way round; ring longitudes run on past 180
// degrees.
TEST(GeoRect, ExtendAndRingLongitudesPast180)
{
    const CGeoRect kBand{kMinLon, kMaxLon, 0, FromDegrees(1)};
    const struct {
        CGeoRect a, b, want;
    } cases[] = {
        {Deg(0, 10, 0, 1), Deg(2, 8, -1, 0), Deg(0, 10, -1, 1)},
        {Deg(0, 10, 0, 1), Deg(30, 40, 0, 1), Deg(0, 40, 0, 1)},          // apart, east is nearer
        {Deg(0, 10, 0, 1), Deg(-40, -30, 0, 1), Deg(-40, 10, 0, 1)},      // apart, west is nearer
        {Deg(170, 175, 0, 1), Deg(-175, -170, 0, 1), Deg(170, -170, 0, 1)},  // over the antimeridian
        {Deg(170, -170, 0, 1), Deg(-175, 20, 0, 1), Deg(170, 20, 0, 1)},  // a crossing a grows east
        {Deg(0, 10, 0, 1), Deg(8, 2, 0, 1), kBand},                       // round the world
        {CGeoRect{}, Deg(1, 2, 3, 4), Deg(1, 2, 3, 4)},
        {Deg(1, 2, 3, 4), CGeoRect{}, Deg(1, 2, 3, 4)},
    };
    for (const auto& c : cases) {
        CGeoRect a = c.a;
        Extend(a, c.b);
        EXPECT_EQ(a, c.want) << c.a.west << ".." << c.a.east << " by " << c.b.west << ".." << c.b.east;
    }
    EXPECT_EQ(MapUnits::EastwardDistance(FromDegrees(-170), FromDegrees(190)), 0u);
    EXPECT_EQ(MapUnits::Width(kMinLon, MapUnits::k180), MapUnits::kTurn);
}

// BoundsOf skips the point-by-point extension within half a turn.
TEST(GeoRect, BoundsOfPointsAreTheirExtensionPointByPoint)
{
    std::mt19937 random(7);
    auto uniform = [&random](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    for (int round = 0; round < 3000; ++round) {
        // Spans up to past half a turn, across the antimeridian and past it.
        const double span = uniform(0, 200);
        const double west = uniform(-180, 250 - span);
        std::vector<CGeoPoint> points(1 + random() % 9);
        for (CGeoPoint& p : points)
            p = {FromDegrees(west + uniform(0, span)), FromDegrees(uniform(-90, 90))};
        if (round % 3 == 0)  // two points exactly half a turn apart
            points.push_back({points[0].x + (points[0].x > 0 ? -MapUnits::k180 : MapUnits::k180), 0});
        CGeoRect want;
        for (CGeoPoint p : points)
            Extend(want, CGeoRect::OfPoint(p));
        EXPECT_EQ(BoundsOf(points.data(), points.size()), want) << round;
    }
    EXPECT_TRUE(BoundsOf(nullptr, 0).IsEmpty());
}

TEST(Int128, ExactAtTheLimitsAndForCrossProducts)
{
    constexpr int64_t kMin = INT64_MIN, kMax = INT64_MAX;
    const TInt128 square = TInt128::Product(kMin, kMin);  // 2^126
    const TInt128 mixed = TInt128::Product(kMax, kMin);   // -2^126 + 2^63
    const TInt128 big = TInt128(kMax) + TInt128(1);       // a carry
    EXPECT_TRUE(square.High() == int64_t(1) << 62 && square.Low() == 0);
    EXPECT_TRUE(mixed.High() == -(int64_t(1) << 62) && mixed.Low() == uint64_t(1) << 63);
    EXPECT_TRUE(big.High() == 0 && big.Low() == uint64_t(1) << 63);
    EXPECT_EQ(TInt128::Product(-3, 5), TInt128(-15));
    EXPECT_EQ(big - TInt128(1), TInt128(kMax));
    EXPECT_EQ(TInt128(kMin) - TInt128(1) + TInt128(1), TInt128(kMin));
    EXPECT_EQ(-TInt128(0), TInt128(0));
    EXPECT_TRUE(TInt128(-1) < TInt128(0) && mixed < TInt128(kMin) && square > big && big > TInt128(kMax));
    EXPECT_EQ(double(square), 0x1p126);
    EXPECT_EQ(double(mixed), -0x1p126 + 0x1p63);
    EXPECT_EQ(double(TInt128(-1)), -1.0);

    // The terms of a cross product of 33-bit differences reach 2^66: the low
    // word is exact modulo 2^64, and an 80-bit estimate of the whole value,
    // good to a few units, leaves one choice for the high word.
    std::mt19937_64 rng(7);
    for (int i = 0; i < 10000; ++i) {
        int64_t v[4];
        for (int64_t& x : v)
            x = int64_t(rng() % (uint64_t(1) << 33)) - (int64_t(1) << 32);
        const TInt128 cross = TInt128::Product(v[0], v[1]) - TInt128::Product(v[2], v[3]);
        EXPECT_EQ(cross.Low(), uint64_t(v[0]) * uint64_t(v[1]) - uint64_t(v[2]) * uint64_t(v[3]));
        const long double estimate = (long double)v[0] * v[1] - (long double)v[2] * v[3];
        EXPECT_NEAR(double(cross), double(estimate), std::fabs(double(estimate)) * 0x1p-51 + 0x1p12);
    }
}

}  // namespace
