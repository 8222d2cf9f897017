#include "common/rtree/Geo.h"

#include <algorithm>

bool Intersects(const CGeoRect& a, const CGeoRect& b)
{
    if (a.IsEmpty() || b.IsEmpty() || a.south > b.north || a.north < b.south)
        return false;
    return a.ContainsLongitude(b.west) || a.ContainsLongitude(b.east) || b.ContainsLongitude(a.west);
}

CGeoRect Intersection(const CGeoRect& a, const CGeoRect& b)
{
    if (!Intersects(a, b))
        return {};
    return {a.ContainsLongitude(b.west) ? b.west : a.west, a.ContainsLongitude(b.east) ? b.east : a.east,
            std::max(a.south, b.south), std::min(a.north, b.north)};
}

void Extend(CGeoRect& a, const CGeoRect& b)
{
    if (b.IsEmpty())
        return;
    if (a.IsEmpty()) {
        a = b;
        return;
    }
    a.south = std::min(a.south, b.south);
    a.north = std::max(a.north, b.north);
    bool westIn = a.ContainsLongitude(b.west), eastIn = a.ContainsLongitude(b.east);
    if (westIn && eastIn) {
        // b reaches round the rest of the world when its east comes before
        // its west, measured from a's west.
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

bool Contains(const CGeoRect& outer, const CGeoRect& inner)
{
    return !outer.IsEmpty() && !inner.IsEmpty() && inner.south >= outer.south && inner.north <= outer.north &&
           outer.ContainsLongitude(inner.west) && outer.ContainsLongitude(inner.east);
}
