// How the automatic split cuts an over-full area in two: the axis from the
// nodes' true extent, the line at their median, and the pieces of the ring
// on either side of it.
#pragma once

#include <cstdint>

#include "common/base/GrowArray.h"
#include "splitter/areas/Areas.h"

namespace Splitter {

// East-west extent modulo a full turn.
inline uint32_t Width(const CGeoRect& r) { return MapUnits::Width(r.west, r.east); }
inline int32_t MiddleLatitude(const CGeoRect& r) { return r.north / 2 + r.south / 2; }

// The cosine-scaled east-west extent of width w at latitude y, so that
// "wider than tall" compares true distances.
int64_t TrueWidth(uint32_t w, int32_t y);

// Rearranges nodes so that those with c <= s (c the x with longitude, else
// the y) come first; returns their count. s is the median, or one below it
// when more of the nodes equal to the median sort above the middle position
// than at or below it. n must not be 0.
uint64_t MedianCut(CGeoPoint* nodes, uint64_t n, bool longitude, int32_t& s);

// Appends the pieces of ring on either side of the line c = s: lower ones
// with c <= s, upper ones with c >= s + 1, each closed along its line.
// Appends nothing when the ring does not cross the line.
void CutRing(const TRing& ring, bool longitude, int32_t s, CGrowArray<TRing>& lower, CGrowArray<TRing>& upper);

}  // namespace Splitter
