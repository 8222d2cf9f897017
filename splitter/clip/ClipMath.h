// The arithmetic of cutting at a border, shared by the clipping and the
// walks along the border.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "splitter/areas/AreaGeometry.h"

namespace Splitter::Clip::detail {

constexpr double kFractionScale = 2147483648.0;  // 2^31
constexpr double kTwoPi = 6.283185307179586;

// A difference of two points, its longitude the short way round.
struct TVector {
    int64_t x, y;
};

inline TVector Direction(CGeoPoint from, CGeoPoint to)
{
    return {Geometry::LonDiff(from.x, to.x), int64_t(to.y) - from.y};
}
inline int64_t Cross(TVector a, TVector b) { return a.x * b.y - a.y * b.x; }

// A position u in [0, 1] on an edge as a crossing's fraction, truncated.
inline uint32_t ToFraction(double u) { return uint32_t(u * kFractionScale); }

// Where v lies along d, on the axis along which d moves more.
inline double Along(TVector v, TVector d)
{
    if (std::llabs(d.x) <= std::llabs(d.y))
        return d.y == 0 ? 0.0 : double(v.y) / double(d.y);
    return double(v.x) / double(d.x);
}

}  // namespace Splitter::Clip::detail
