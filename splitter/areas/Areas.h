// The area model: one output tile is a name, a shared source name and a ring.
#pragma once

#include <memory>
#include <string>

#include "common/base/GrowArray.h"
#include "common/rtree/Geo.h"

namespace Splitter {

// A closed ring: the last point repeats the first. Rings handed on to the
// passes run clockwise (north up, east right).
using TRing = CGrowArray<CGeoPoint>;

struct TArea {
    // Shared by all areas of one split file or polygon file; not owned. Null
    // for areas the automatic split makes from nodes outside every polygon.
    const std::string* source = nullptr;
    std::string name;
    TRing ring;
};

// The position of an area in the list is its index everywhere, and the order
// of the list is the order of output.
using TAreaList = CGrowArray<TArea>;

// Owns the source names for the whole run; areas only point into it.
using TSourceNames = CGrowArray<std::unique_ptr<std::string>>;

// Adds a source name to names and returns it.
const std::string* AddSourceName(TSourceNames& names, std::string name);

// The smallest rectangle holding every point of ring, in the ring's own
// longitudes (east past +180 degrees for a ring crossing the antimeridian);
// empty for an empty ring.
CGeoRect RingBounds(const TRing& ring);

// The five-point clockwise ring of a rectangle, starting at its north-west
// corner. A west greater than east crosses the antimeridian: the ring's east
// side then lies a full turn further east, past +180 degrees, and must not
// pass MapUnits::kMaxRingLon.
TRing RectangleRing(int32_t west, int32_t south, int32_t east, int32_t north);
// Whether RectangleRing can make the ring of a rectangle from west to east.
bool FitsRing(int32_t west, int32_t east);

}  // namespace Splitter
