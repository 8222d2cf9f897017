// Rectangles on the cyclic longitude axis against a point-set model, and exact
// 128-bit arithmetic.
#include "common/rtree/Geo.h"

#include <bitset>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/rtree/Int128.h"

namespace {

using MapUnits::FromDegrees;
using MapUnits::kMaxLon;
using MapUnits::kMinLon;

// Edges drawn from a few values, so that shared edges, shared corners and the
// antimeridian come up often. The model samples those values and one point
// between each two: a rectangle made of them covers all of such a gap or none.
TEST(GeoRect, OperationsMatchThePointSetModel)
{
    const std::vector<int32_t> lons = {kMinLon, FromDegrees(-179), FromDegrees(-90), FromDegrees(-1), 0,
                                       FromDegrees(1), FromDegrees(90), FromDegrees(179), kMaxLon};
    const std::vector<int32_t> lats = {FromDegrees(-20), FromDegrees(-10), 0, FromDegrees(10), FromDegrees(20)};
    auto refine = [](const std::vector<int32_t>& values) {
        std::vector<int32_t> fine{values[0]};
        for (size_t i = 1; i < values.size(); ++i)
            fine.insert(fine.end(), {values[i - 1] + (values[i] - values[i - 1]) / 2, values[i]});
        return fine;
    };
    std::vector<CGeoPoint> samples;
    for (int32_t x : refine(lons))
        for (int32_t y : refine(lats))
            samples.push_back({x, y});
    using TSet = std::bitset<256>;  // one bit a sample; set() throws past its size
    auto covered = [&samples](const CGeoRect& r) {
        TSet in;
        for (size_t k = 0; k < samples.size(); ++k) {
            const CGeoPoint p = samples[k];
            in.set(k, !r.IsEmpty() && r.south <= p.y && p.y <= r.north &&
                          (r.west <= r.east ? r.west <= p.x && p.x <= r.east : r.west <= p.x || p.x <= r.east));
        }
        return in;
    };
    auto within = [](const TSet& inner, const TSet& outer) { return (inner & ~outer).none(); };
    std::mt19937 rng(7);
    auto rect = [&] {
        const int32_t s = lats[rng() % lats.size()], n = lats[rng() % lats.size()];
        return CGeoRect{lons[rng() % lons.size()], lons[rng() % lons.size()], std::min(s, n), std::max(s, n)};
    };
    for (int i = 0; i < 20000; ++i) {
        const CGeoRect a = i % 50 ? rect() : CGeoRect{}, b = i % 70 ? rect() : CGeoRect{};
        const TSet inA = covered(a), inB = covered(b), common = inA & inB;
        ASSERT_EQ(Intersects(a, b), common.any()) << i;
        ASSERT_EQ(Intersects(b, a), common.any()) << i;
        ASSERT_EQ(Contains(a, b), !b.IsEmpty() && within(inB, inA)) << i;
        CGeoRect grown = a;
        Extend(grown, b);
        ASSERT_TRUE(within(inA | inB, covered(grown))) << i;
        // The shorter way round: no arc from either west to either east that
        // covers both is narrower.
        for (int32_t west : {a.west, b.west})
            for (int32_t east : {a.east, b.east})
                ASSERT_TRUE(a.IsEmpty() || b.IsEmpty() ||
                            !within(inA | inB, covered({west, east, grown.south, grown.north})) ||
                            MapUnits::Width(grown.west, grown.east) <= MapUnits::Width(west, east)) << i;
        // Where the overlap falls in two pieces the intersection spans both.
        const CGeoRect r = Intersection(a, b);
        ASSERT_EQ(r.IsEmpty(), common.none()) << i;
        ASSERT_TRUE(within(common, covered(r))) << i;
        ASSERT_TRUE(a.CrossesAntimeridian() || b.CrossesAntimeridian() || within(covered(r), common)) << i;
    }
}

// BoundsOf skips the point-by-point extension within half a turn.
TEST(GeoRect, BoundsOfPointsAreTheirExtensionPointByPoint)
{
    std::mt19937 random(7);
    auto uniform = [&random](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
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
    // Ring longitudes run on past 180 degrees.
    EXPECT_EQ(MapUnits::EastwardDistance(FromDegrees(-170), FromDegrees(190)), 0u);
    EXPECT_EQ(MapUnits::Width(kMinLon, MapUnits::k180), MapUnits::kTurn);
}

TEST(Int128, ExactAtTheLimitsAndAcrossWords)
{
    constexpr int64_t kMin = INT64_MIN, kMax = INT64_MAX;
    const TInt128 square = TInt128::Product(kMin, kMin);  // 2^126
    const TInt128 mixed = TInt128::Product(kMax, kMin);   // -2^126 + 2^63
    const TInt128 big = TInt128(kMax) + TInt128(1);       // a carry
    const TInt128 carried = TInt128::Product((int64_t(1) << 33) - 1, (int64_t(1) << 33) - 1);  // 2^66 - 2^34 + 1
    EXPECT_TRUE(square.High() == int64_t(1) << 62 && square.Low() == 0);
    EXPECT_TRUE(mixed.High() == -(int64_t(1) << 62) && mixed.Low() == uint64_t(1) << 63);
    EXPECT_TRUE(big.High() == 0 && big.Low() == uint64_t(1) << 63);
    EXPECT_TRUE(carried.High() == 3 && carried.Low() == 0xFFFFFFFC00000001u);
    EXPECT_EQ(TInt128::Product(-3, 5), TInt128(-15));
    EXPECT_EQ(big - TInt128(1), TInt128(kMax));
    EXPECT_EQ(TInt128(kMin) - TInt128(1) + TInt128(1), TInt128(kMin));
    EXPECT_EQ(-TInt128(0), TInt128(0));
    EXPECT_TRUE(TInt128(-1) < TInt128(0) && mixed < TInt128(kMin) && square > big && big > TInt128(kMax));
    EXPECT_EQ(double(square), 0x1p126);
    EXPECT_EQ(double(mixed), -0x1p126 + 0x1p63);
    EXPECT_EQ(double(TInt128(-1)), -1.0);
}

}  // namespace
