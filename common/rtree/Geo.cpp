#include "common/rtree/Geo.h"

#include <algorithm>

bool Intersects(const CGeoRect& a, const CGeoRect& b)
{
    if (a.IsEmpty() || b.IsEmpty() || a.south > b.north || a.north < b.south)
        return false;
    // Two arcs of the circle meet when one holds the start of the other.
    return a.ContainsLongitude(b.west) || a.ContainsLongitude(b.east) || b.ContainsLongitude(a.west);
}

CGeoRect Intersection(const CGeoRect& a, const CGeoRect& b)
{
    if (!Intersects(a, b))
        return {};
    return {a.ContainsLongitude(b.west) ? b.west : a.west, a.ContainsLongitude(b.east) ? b.east : a.east,
            a.south > b.south ? a.south : b.south, a.north < b.north ? a.north : b.north};
}

void Extend(CGeoRect& a, const CGeoRect& b)
{
    if (b.IsEmpty())
        return;
    if (a.IsEmpty()) {
        a = b;
        return;
    }
    if (b.south < a.south)
        a.south = b.south;
    if (b.north > a.north)
        a.north = b.north;

    const bool westIn = a.ContainsLongitude(b.west), eastIn = a.ContainsLongitude(b.east);
    if (westIn && eastIn) {
        // Both ends inside a, but b runs from its west round the far side of
        // the world back into a: together they cover every longitude.
        if (MapUnits::EastwardDistance(a.west, b.east) < MapUnits::EastwardDistance(a.west, b.west)) {
            a.west = MapUnits::kMinLon;
            a.east = MapUnits::kMaxLon;
        }
    } else if (westIn) {
        a.east = b.east;
    } else if (eastIn) {
        a.west = b.west;
    } else if (b.ContainsLongitude(a.west)) {
        a.west = b.west;
        a.east = b.east;
    } else if (MapUnits::EastwardDistance(a.west, b.east) < MapUnits::EastwardDistance(b.west, a.east)) {
        a.east = b.east;
    } else {
        a.west = b.west;
    }
}

CGeoRect BoundsOf(const CGeoPoint* points, uint64_t n)
{
    if (n == 0)
        return {};
    int32_t west = points[0].x, east = west, south = points[0].y, north = south;
    for (uint64_t i = 1; i < n; ++i) {
        west = std::min(west, points[i].x);
        east = std::max(east, points[i].x);
        south = std::min(south, points[i].y);
        north = std::max(north, points[i].y);
    }
    // Within half a turn the shorter way round is always the way away from
    // the points seen before: extending ends at the extremes, in any order.
    if (int64_t(east) - west < int64_t(MapUnits::kTurn / 2))
        return {west, east, south, north};
    CGeoRect r;
    for (uint64_t i = 0; i < n; ++i)
        Extend(r, CGeoRect::OfPoint(points[i]));
    return r;
}

bool Contains(const CGeoRect& outer, const CGeoRect& inner)
{
    if (outer.IsEmpty() || inner.IsEmpty() || inner.south < outer.south || inner.north > outer.north)
        return false;
    if (!outer.ContainsLongitude(inner.west))
        return false;
    // Both ends inside is not enough: inner may leave outer at its east and
    // come back round the world. Only a whole-world outer has no such gap.
    const uint64_t width = MapUnits::Width(outer.west, outer.east);
    return width >= MapUnits::kTurn - 1 ||
           uint64_t(MapUnits::EastwardDistance(outer.west, inner.west)) + MapUnits::Width(inner.west, inner.east) <=
               width;
}
