// Map units, points and rectangles on the cyclic longitude axis.
#pragma once

#include <cmath>
#include <cstdint>

// Coordinates are signed 32-bit map units, 2^23 units per degree; x is the
// longitude, y the latitude. Longitude is cyclic: a full turn is 0xB4000000
// units taken modulo 2^32.
using TMapUnit = int32_t;

namespace MapUnits {
constexpr int32_t kPerDegree = 1 << 23;
constexpr int32_t k180 = 0x5A000000;                            // +180 degrees
constexpr int32_t kMinLon = -k180;                              // -180 degrees
constexpr int32_t kMaxLon = k180 - 1;                           // one unit short of +180
constexpr int32_t k90 = 0x2D000000;                             // 90 degrees of latitude
constexpr uint32_t kTurn = 0xB4000000u;                         // 360 degrees
constexpr uint32_t kTurnComplement = 0x4C000000u;               // 2^32 - 360 degrees

// floor(degrees * 2^23 + 0.5), truncated to 32 bits.
inline int32_t FromDegrees(double degrees)
{
    return static_cast<int32_t>(static_cast<int64_t>(std::floor(degrees * kPerDegree + 0.5)));
}
// Exact in double precision.
inline double ToDegrees(int32_t units) { return std::ldexp(static_cast<double>(units), -23); }

// Whether degrees is a finite latitude within +-90 or longitude within +-180.
inline bool IsValidLatitude(double degrees) { return std::isfinite(degrees) && std::fabs(degrees) <= 90.0; }
inline bool IsValidLongitude(double degrees) { return std::isfinite(degrees) && std::fabs(degrees) <= 180.0; }

// Area rings that cross the antimeridian run on past +180 degrees, so that
// their edges stay plain differences: longitudes of rings lie in
// [-180, kMaxRingLon] degrees. The margin below 2^31 keeps +-1 steps exact.
constexpr int32_t kMaxRingLon = 250 * kPerDegree;

// A ring longitude brought back into [-180, +180] degrees for writing; +180
// itself stays, as the east edge of an area that ends there.
inline int32_t Natural(int32_t lon) { return lon > k180 ? int32_t(int64_t(lon) - kTurn) : lon; }

// Eastward distance from a to b, modulo a full turn, in [0, 360 degrees).
// Either may be a ring longitude past +180 degrees.
inline uint32_t EastwardDistance(int32_t from, int32_t to)
{
    int64_t d = int64_t(to) - int64_t(from);
    while (d < 0)
        d += kTurn;
    while (d >= int64_t(kTurn))
        d -= kTurn;
    return static_cast<uint32_t>(d);
}

// The extent of [west, east] measured eastward; a rectangle from -180 to
// +180 degrees exactly is the whole turn.
inline uint32_t Width(int32_t west, int32_t east)
{
    return int64_t(east) - west == int64_t(kTurn) ? kTurn : EastwardDistance(west, east);
}
}  // namespace MapUnits

struct CGeoPoint {
    int32_t x = 0;  // longitude
    int32_t y = 0;  // latitude

    friend bool operator==(const CGeoPoint&, const CGeoPoint&) = default;
    // The point as one 64-bit value, x in the low half.
    uint64_t Packed() const { return uint64_t(uint32_t(x)) | uint64_t(uint32_t(y)) << 32; }
    static CGeoPoint Unpack(uint64_t v) { return {int32_t(uint32_t(v)), int32_t(uint32_t(v >> 32))}; }
};

// Inclusive on all sides. west > east crosses the antimeridian: the rectangle
// runs from west eastward through +-180 to east.
struct CGeoRect {
    static constexpr int32_t kEmpty = 0x7FFFFFFF;

    int32_t west = kEmpty;
    int32_t east = kEmpty;
    int32_t south = kEmpty;
    int32_t north = kEmpty;

    friend bool operator==(const CGeoRect&, const CGeoRect&) = default;
    bool IsEmpty() const { return west == kEmpty; }
    bool CrossesAntimeridian() const { return west > east; }
    // Whether longitude lon lies in [west, east] measured eastward.
    bool ContainsLongitude(int32_t lon) const
    {
        return MapUnits::EastwardDistance(west, lon) <= MapUnits::Width(west, east);
    }
    static CGeoRect OfPoint(CGeoPoint p) { return {p.x, p.x, p.y, p.y}; }
};

// Both non-empty and sharing at least one point (touching counts).
bool Intersects(const CGeoRect& a, const CGeoRect& b);
// The common part, or the empty rectangle.
CGeoRect Intersection(const CGeoRect& a, const CGeoRect& b);
// Grows a to cover b, the shorter way round the longitude circle.
void Extend(CGeoRect& a, const CGeoRect& b);
// The rectangle that extending the empty one by each point in turn gives.
CGeoRect BoundsOf(const CGeoPoint* points, uint64_t n);
// Whether inner lies wholly inside outer (latitudes within, both longitude
// edges within outer's range).
bool Contains(const CGeoRect& outer, const CGeoRect& inner);
