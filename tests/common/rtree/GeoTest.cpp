#include "common/rtree/Geo.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

using MapUnits::FromDegrees;
using MapUnits::kMaxLon;
using MapUnits::kMinLon;

CGeoRect Deg(double west, double east, double south, double north)
{
    return {FromDegrees(west), FromDegrees(east), FromDegrees(south), FromDegrees(north)};
}

const CGeoRect kWorld{kMinLon, kMaxLon, -MapUnits::k90, MapUnits::k90};

// The reference model: a rectangle with longitudes in [-180, 180) is one
// plain interval, or two when it crosses the antimeridian.
struct TInterval {
    int32_t lo, hi;
};
std::vector<TInterval> Pieces(const CGeoRect& r)
{
    if (r.west <= r.east)
        return {{r.west, r.east}};
    return {{r.west, kMaxLon}, {kMinLon, r.east}};
}
bool LatitudesMeet(const CGeoRect& a, const CGeoRect& b) { return a.south <= b.north && b.south <= a.north; }
bool ReferenceIntersects(const CGeoRect& a, const CGeoRect& b)
{
    if (a.IsEmpty() || b.IsEmpty() || !LatitudesMeet(a, b))
        return false;
    for (TInterval p : Pieces(a))
        for (TInterval q : Pieces(b))
            if (p.lo <= q.hi && q.lo <= p.hi)
                return true;
    return false;
}
bool ReferenceContains(const CGeoRect& outer, const CGeoRect& inner)
{
    if (outer.IsEmpty() || inner.IsEmpty() || inner.south < outer.south || inner.north > outer.north)
        return false;
    for (TInterval q : Pieces(inner)) {
        bool inside = false;
        for (TInterval p : Pieces(outer))
            inside = inside || (p.lo <= q.lo && q.hi <= p.hi);
        if (!inside)
            return false;
    }
    return true;
}
bool HoldsPoint(const CGeoRect& r, int32_t lon, int32_t lat)
{
    return ReferenceIntersects(r, CGeoRect{lon, lon, lat, lat});
}

// Coordinates drawn from a few values, so that shared edges, shared corners
// and the antimeridian come up often.
class CCoarseRects {
public:
    explicit CCoarseRects(uint32_t seed) : m_rng(seed) {}
    int32_t Lon()
    {
        static const int32_t values[] = {kMinLon, FromDegrees(-179), FromDegrees(-90), FromDegrees(-1), 0,
                                         FromDegrees(1), FromDegrees(90), FromDegrees(179), kMaxLon};
        return values[m_rng() % std::size(values)];
    }
    int32_t Lat() { return FromDegrees(double(int(m_rng() % 5) - 2) * 10.0); }
    CGeoRect Rect()
    {
        int32_t s = Lat(), n = Lat();
        return {Lon(), Lon(), std::min(s, n), std::max(s, n)};
    }

private:
    std::mt19937 m_rng;
};

TEST(GeoRect, IntersectsIncludesTouchingEdgesAndCorners)
{
    const CGeoRect a = Deg(0, 10, 0, 10);
    EXPECT_TRUE(Intersects(a, Deg(10, 20, 0, 10)));    // shared east edge
    EXPECT_TRUE(Intersects(a, Deg(-5, 0, 10, 15)));    // shared north-west corner
    EXPECT_TRUE(Intersects(a, Deg(5, 5, 5, 5)));       // a point inside
    EXPECT_TRUE(Intersects(a, Deg(-10, 20, -10, 20)));  // wholly around a
    EXPECT_FALSE(Intersects(a, CGeoRect{a.east + 1, a.east + 100, 0, 10}));
    EXPECT_FALSE(Intersects(a, CGeoRect{0, 10, a.north + 1, a.north + 100}));
    EXPECT_FALSE(Intersects(a, CGeoRect{}));
    EXPECT_FALSE(Intersects(CGeoRect{}, CGeoRect{}));
}

TEST(GeoRect, IntersectsAcrossTheAntimeridian)
{
    const CGeoRect seam = Deg(179, -179, -1, 1);
    ASSERT_TRUE(seam.CrossesAntimeridian());
    EXPECT_TRUE(Intersects(seam, Deg(179.4, 179.6, -0.1, 0.1)));
    EXPECT_TRUE(Intersects(seam, Deg(-179.6, -179.4, -0.1, 0.1)));
    EXPECT_FALSE(Intersects(seam, Deg(-0.1, 0.1, -0.1, 0.1)));
    EXPECT_FALSE(Intersects(seam, Deg(-178, 178, -1, 1)));  // the rest of the world
    EXPECT_TRUE(Intersects(seam, Deg(-178, -179, -1, 1)));  // the rest of the world and a bit
    EXPECT_TRUE(Intersects(seam, kWorld));
}

TEST(GeoRect, IntersectsMatchesTheIntervalModel)
{
    CCoarseRects gen(7);
    for (int i = 0; i < 20000; ++i) {
        CGeoRect a = gen.Rect(), b = gen.Rect();
        ASSERT_EQ(Intersects(a, b), ReferenceIntersects(a, b)) << i;
        ASSERT_EQ(Intersects(b, a), Intersects(a, b)) << i;
    }
}

TEST(GeoRect, Intersection)
{
    EXPECT_EQ(Intersection(Deg(0, 10, 0, 10), Deg(5, 20, -5, 5)), Deg(5, 10, 0, 5));
    EXPECT_EQ(Intersection(Deg(0, 10, 0, 10), Deg(10, 20, 10, 20)), Deg(10, 10, 10, 10));  // a corner
    EXPECT_TRUE(Intersection(Deg(0, 10, 0, 10), Deg(11, 20, 0, 10)).IsEmpty());
    EXPECT_TRUE(Intersection(Deg(0, 10, 0, 10), CGeoRect{}).IsEmpty());
    EXPECT_EQ(Intersection(Deg(170, -170, 0, 10), Deg(175, -175, 0, 10)), Deg(175, -175, 0, 10));
    EXPECT_EQ(Intersection(Deg(170, -170, 0, 10), Deg(-175, 20, 0, 10)), Deg(-175, -170, 0, 10));

    // Where the overlap falls in two pieces the result spans both; what the
    // tree needs is that it never misses a common point.
    CCoarseRects gen(11);
    for (int i = 0; i < 5000; ++i) {
        CGeoRect a = gen.Rect(), b = gen.Rect(), r = Intersection(a, b);
        ASSERT_EQ(r.IsEmpty(), !Intersects(a, b)) << i;
        for (int k = 0; k < 20; ++k) {
            int32_t lon = gen.Lon(), lat = gen.Lat();
            if (HoldsPoint(a, lon, lat) && HoldsPoint(b, lon, lat)) {
                ASSERT_TRUE(HoldsPoint(r, lon, lat)) << i;
            }
        }
        if (Pieces(a).size() == 1 && Pieces(b).size() == 1 && !r.IsEmpty()) {
            ASSERT_TRUE(ReferenceContains(a, r)) << i;
            ASSERT_TRUE(ReferenceContains(b, r)) << i;
        }
    }
}

TEST(GeoRect, ExtendWithEmptyRectangles)
{
    CGeoRect a;
    Extend(a, CGeoRect{});
    EXPECT_TRUE(a.IsEmpty());
    Extend(a, Deg(1, 2, 3, 4));
    EXPECT_EQ(a, Deg(1, 2, 3, 4));
    Extend(a, CGeoRect{});
    EXPECT_EQ(a, Deg(1, 2, 3, 4));
}

TEST(GeoRect, ExtendTakesTheShorterWayRound)
{
    struct TCase {
        CGeoRect a, b, want;
    };
    const TCase cases[] = {
        {Deg(0, 10, 0, 1), Deg(2, 8, -1, 0), Deg(0, 10, -1, 1)},          // inside: latitudes only
        {Deg(0, 10, 0, 1), Deg(5, 20, 0, 1), Deg(0, 20, 0, 1)},           // east end outside
        {Deg(0, 10, 0, 1), Deg(-20, 5, 0, 1), Deg(-20, 10, 0, 1)},        // west end outside
        {Deg(0, 10, 0, 1), Deg(-20, 20, 0, 1), Deg(-20, 20, 0, 1)},       // around a
        {Deg(0, 10, 0, 1), Deg(30, 40, 0, 1), Deg(0, 40, 0, 1)},          // apart, east is nearer
        {Deg(0, 10, 0, 1), Deg(-40, -30, 0, 1), Deg(-40, 10, 0, 1)},      // apart, west is nearer
        {Deg(170, 175, 0, 1), Deg(-175, -170, 0, 1), Deg(170, -170, 0, 1)},  // over the antimeridian
        {Deg(-175, -170, 0, 1), Deg(170, 175, 0, 1), Deg(170, -170, 0, 1)},
        {Deg(170, -170, 0, 1), Deg(-175, 20, 0, 1), Deg(170, 20, 0, 1)},  // a crossing a grows east
        {Deg(0, 10, 0, 1), Deg(8, 2, 0, 1), CGeoRect{kMinLon, kMaxLon, 0, FromDegrees(1)}},  // round the world
        {Deg(-170, 170, 0, 1), Deg(160, -160, 0, 1), CGeoRect{kMinLon, kMaxLon, 0, FromDegrees(1)}},
    };
    for (const TCase& c : cases) {
        CGeoRect a = c.a;
        Extend(a, c.b);
        EXPECT_EQ(a, c.want) << c.a.west << ".." << c.a.east << " by " << c.b.west << ".." << c.b.east;
    }
}

TEST(GeoRect, ExtendCoversBothRectangles)
{
    CCoarseRects gen(13);
    for (int i = 0; i < 5000; ++i) {
        CGeoRect a = gen.Rect(), b = gen.Rect(), grown = a;
        Extend(grown, b);
        ASSERT_TRUE(ReferenceContains(grown, a)) << i;
        ASSERT_TRUE(ReferenceContains(grown, b)) << i;
    }
}

TEST(GeoRect, Contains)
{
    const CGeoRect outer = Deg(0, 10, 0, 10);
    EXPECT_TRUE(Contains(outer, outer));
    EXPECT_TRUE(Contains(outer, Deg(0, 5, 5, 10)));  // on the border
    EXPECT_FALSE(Contains(outer, Deg(5, 11, 5, 6)));
    EXPECT_FALSE(Contains(outer, Deg(5, 6, 5, 11)));
    EXPECT_FALSE(Contains(outer, CGeoRect{}));
    EXPECT_FALSE(Contains(CGeoRect{}, outer));
    // Both ends inside, but the long way round.
    EXPECT_FALSE(Contains(outer, Deg(8, 2, 5, 6)));
    EXPECT_TRUE(Contains(Deg(170, -170, 0, 10), Deg(175, -175, 1, 2)));
    EXPECT_TRUE(Contains(Deg(170, -170, 0, 10), Deg(-175, -172, 1, 2)));
    EXPECT_FALSE(Contains(Deg(170, -170, 0, 10), Deg(-175, 175, 1, 2)));

    CCoarseRects gen(17);
    for (int i = 0; i < 20000; ++i) {
        CGeoRect a = gen.Rect(), b = gen.Rect();
        ASSERT_EQ(Contains(a, b), ReferenceContains(a, b)) << i;
    }
}

}  // namespace

namespace {

TEST(GeoRect, RingLongitudesPast180MeetTheirNaturalNames)
{
    // An area ring across 180 degrees runs on to 182 degrees, i.e. -178.
    const CGeoRect across = Deg(178, 182, 0, 10);
    struct {
        CGeoRect other;
        bool meets, inside;
    } cases[] = {{Deg(-179, -178.5, 1, 2), true, true}, {Deg(179, -179, 1, 2), true, true},
                 {Deg(-178, -170, 1, 2), true, false},  {Deg(170, 177, 1, 2), false, false},
                 {Deg(-100, -90, 1, 2), false, false},  {Deg(183, 185, 1, 2), false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(Intersects(across, c.other), c.meets) << c.other.west;
        EXPECT_EQ(Intersects(c.other, across), c.meets) << c.other.west;
        EXPECT_EQ(Contains(across, c.other), c.inside) << c.other.west;
    }
    EXPECT_EQ(MapUnits::EastwardDistance(FromDegrees(-170), FromDegrees(190)), 0u);
    EXPECT_EQ(MapUnits::EastwardDistance(FromDegrees(190), FromDegrees(-180)), uint32_t(FromDegrees(350)));
    EXPECT_EQ(MapUnits::Width(kMinLon, MapUnits::k180), MapUnits::kTurn);
    EXPECT_EQ(MapUnits::Width(FromDegrees(178), FromDegrees(182)), uint32_t(FromDegrees(4)));
    EXPECT_EQ(MapUnits::Natural(FromDegrees(182)), FromDegrees(-178));
    EXPECT_EQ(MapUnits::Natural(MapUnits::k180), MapUnits::k180);
}

}  // namespace
