// The difference of areas that meet along long zigzag borders, against the
// areas it must leave: many edges share one longitude range there, as where
// tiles follow one meridian.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/rtree/Int128.h"
#include "common/rtree/RTree.h"
#include "splitter/AreaGeometry.h"

namespace {

using namespace Geometry;

TInt128 TwiceArea(const TRing& r)  // positive for clockwise rings
{
    TInt128 sum = 0;
    for (uint64_t i = 0; i + 1 < r.Count(); ++i)
        sum += TInt128::Product(r[i].x, r[i + 1].y) - TInt128::Product(r[i + 1].x, r[i].y);
    return TInt128(0) - sum;
}

TEST(PolygonDifference, ZigzagBordersTrimTheOverlapAway)
{
    // A lies west of a zigzag border z and B east of another one, w, with
    // vertices at the same latitudes, between two of them: they overlap
    // where w lies west of z. The border runs cross, share stretches and
    // keep apart; B must keep its area less that of the overlap (up to the
    // rounding of the crossing points), and A its own.
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
        TRing a, b;
        a.PushBack({-10000000, 0});
        a.PushBack({-10000000, z.back().y});
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
            if (d0 >= 0 && d1 >= 0)
                overlap += (d0 + d1) * step;
            else if (d0 > 0 || d1 > 0) {
                double positive = std::max(d0, d1), negative = -std::min(d0, d1);
                overlap += positive * positive / (positive + negative) * step;
                tolerance += 4.0 * (2 * amplitude + step + 2);
            }
        }
        RTree::CRTree edges(100);
        BuildEdgeTree(a, edges);
        const TRing before = a;
        CGrowArray<TRing> pieces;
        const EOverlap found = Difference(edges, pieces, b, a);
        EXPECT_NEAR(double(TwiceArea(a)), double(TwiceArea(before)), tolerance) << i;
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
