// Rectangles on the cyclic longitude axis against a point-set model, and the
// exact 128-bit arithmetic of cross products.
#include "common/rtree/Geo.h"

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

// Edges drawn from a few values, so that shared edges, shared corners and the
// antimeridian come up often. The model samples those values and one point
// between each two: a rectangle made of them covers all of such a gap or none.
TEST(GeoRect, OperationsMatchThePointSetModel)
{
    const std::vector<int32_t> lons = {kMinLon, FromDegrees(-179), FromDegrees(-90), FromDegrees(-1), 0,
                                       FromDegrees(1), FromDegrees(90), FromDegrees(179), kMaxLon};
    const std::vector<int32_t> lats = {FromDegrees(-20), FromDegrees(-10), 0, FromDegrees(10), FromDegrees(20)};
    auto refine = [](const std::vector<int32_t>& values) {
        std::vector<int32_t> fine;
        for (size_t i = 0; i < values.size(); ++i) {
            fine.push_back(values[i]);
            if (i + 1 < values.size())
                fine.push_back(values[i] + (values[i + 1] - values[i]) / 2);
        }
        return fine;
    };
    std::vector<CGeoPoint> samples;
    for (int32_t x : refine(lons))
        for (int32_t y : refine(lats))
            samples.push_back({x, y});
    auto covered = [&samples](const CGeoRect& r) {
        std::vector<bool> in;
        for (const CGeoPoint p : samples)
            in.push_back(!r.IsEmpty() && r.south <= p.y && p.y <= r.north &&
                         (r.west <= r.east ? r.west <= p.x && p.x <= r.east : r.west <= p.x || p.x <= r.east));
        return in;
    };
    auto within = [](const std::vector<bool>& inner, const std::vector<bool>& outer) {
        for (size_t i = 0; i < inner.size(); ++i)
            if (inner[i] && !outer[i])
                return false;
        return true;
    };
    std::mt19937 rng(7);
    auto rect = [&] {
        const int32_t s = lats[rng() % lats.size()], n = lats[rng() % lats.size()];
        return CGeoRect{lons[rng() % lons.size()], lons[rng() % lons.size()], std::min(s, n), std::max(s, n)};
    };
    for (int i = 0; i < 20000; ++i) {
        const CGeoRect a = i % 50 ? rect() : CGeoRect{}, b = rect();
        const std::vector<bool> inA = covered(a), inB = covered(b);
        std::vector<bool> common(samples.size());
        for (size_t k = 0; k < samples.size(); ++k)
            common[k] = inA[k] && inB[k];
        const bool meet = !within(common, std::vector<bool>(samples.size()));
        ASSERT_EQ(Intersects(a, b), meet) << i;
        ASSERT_EQ(Intersects(b, a), meet) << i;
        ASSERT_EQ(Contains(a, b), within(inB, inA)) << i;
        CGeoRect grown = a;
        Extend(grown, b);
        ASSERT_TRUE(within(inA, covered(grown)) && within(inB, covered(grown))) << i;
        // Where the overlap falls in two pieces the intersection spans both.
        const CGeoRect r = Intersection(a, b);
        ASSERT_EQ(r.IsEmpty(), !meet) << i;
        ASSERT_TRUE(within(common, covered(r))) << i;
        ASSERT_TRUE(a.CrossesAntimeridian() || b.CrossesAntimeridian() || within(covered(r), common)) << i;
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
