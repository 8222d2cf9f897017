#include "splitter/areas/Areas.h"

#include <algorithm>

namespace Splitter {

const std::string* AddSourceName(TSourceNames& names, std::string name)
{
    names.PushBack(std::make_unique<std::string>(std::move(name)));
    return names.Back().get();
}

CGeoRect RingBounds(const TRing& ring)
{
    if (ring.Empty())
        return {};
    CGeoRect r{ring[0].x, ring[0].x, ring[0].y, ring[0].y};
    for (const CGeoPoint& p : ring) {
        r.west = std::min(r.west, p.x);
        r.east = std::max(r.east, p.x);
        r.south = std::min(r.south, p.y);
        r.north = std::max(r.north, p.y);
    }
    return r;
}

bool FitsRing(int32_t west, int32_t east)
{
    return west <= east || int64_t(east) + MapUnits::kTurn <= MapUnits::kMaxRingLon;
}

TRing RectangleRing(int32_t west, int32_t south, int32_t east, int32_t north)
{
    if (west > east)
        east = int32_t(int64_t(east) + MapUnits::kTurn);
    TRing ring;
    ring.Reserve(5);
    ring.PushBack({west, north});
    ring.PushBack({east, north});
    ring.PushBack({east, south});
    ring.PushBack({west, south});
    ring.PushBack({west, north});
    return ring;
}

}  // namespace Splitter
