#include "splitter/SplitFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "common/streams/FileStream.h"
#include "splitter/OutputFiles.h"

namespace Splitter {

namespace {

// Split-file integers count in steps of 180 map units (360 / 2^24 degree).
constexpr int64_t kSplitUnit = 180;

bool IsLatitudeUnits(int64_t v) { return v >= -int64_t(MapUnits::k90) && v <= MapUnits::k90; }
bool IsLongitudeUnits(int64_t v) { return v >= -int64_t(MapUnits::k180) && v <= MapUnits::k180; }

struct TEdges {
    int32_t south, west, north, east;
};

// "%u: %d,%d to %d,%d" with every edge inside its range.
bool ParseAreaLine(const char* line, unsigned& number, TEdges& edges)
{
    long long s, w, n, e;
    if (std::sscanf(line, "%u: %lld,%lld to %lld,%lld", &number, &s, &w, &n, &e) != 5)
        return false;
    const long long limit = 1LL << 40;  // keeps the products below exact
    if (std::llabs(s) > limit || std::llabs(w) > limit || std::llabs(n) > limit || std::llabs(e) > limit)
        return false;
    s *= kSplitUnit, w *= kSplitUnit, n *= kSplitUnit, e *= kSplitUnit;
    if (!IsLatitudeUnits(s) || !IsLatitudeUnits(n) || !IsLongitudeUnits(w) || !IsLongitudeUnits(e))
        return false;
    edges = {int32_t(s), int32_t(w), int32_t(n), int32_t(e)};
    return true;
}

// The corners a rectangle's ring may start at, clockwise from the one that
// RectangleRing starts at. The automatic split starts a piece where its cut
// was made, and the corner nodes of a tile are numbered from there.
constexpr const char* kCorners[] = {"NW", "NE", "SE", "SW"};

// "# : %lf,%lf to %lf,%lf" with finite degrees inside their ranges; after
// them "from NE", "from SE" or "from SW" names the corner the ring starts
// at, counted in corner as steps clockwise from the north-west one.
bool ParseDegreeLine(const char* line, TEdges& edges, unsigned& corner)
{
    double s, w, n, e;
    int end = 0;
    if (line[0] != '#' || std::sscanf(line, "# : %lf,%lf to %lf,%lf%n", &s, &w, &n, &e, &end) != 4)
        return false;
    if (!MapUnits::IsValidLatitude(s) || !MapUnits::IsValidLatitude(n) || !MapUnits::IsValidLongitude(w) ||
        !MapUnits::IsValidLongitude(e))
        return false;
    edges = {MapUnits::FromDegrees(s), MapUnits::FromDegrees(w), MapUnits::FromDegrees(n), MapUnits::FromDegrees(e)};
    char name[3];
    int used = 0;
    corner = 0;
    if (std::sscanf(line + end, " from %2[NESW]%n", name, &used) == 1 && line[end + used] == 0)
        for (unsigned k = 1; k < std::size(kCorners); ++k)
            if (std::strcmp(name, kCorners[k]) == 0)
                corner = k;
    return true;
}

// The clockwise ring of a rectangle, starting at corner (see kCorners).
TRing CornerRing(const TEdges& edges, unsigned corner)
{
    TRing ring = RectangleRing(edges.west, edges.south, edges.east, edges.north);
    std::rotate(ring.begin(), ring.begin() + corner, ring.begin() + 4);
    ring[4] = ring[0];
    return ring;
}

// The corner a rectangle's ring starts at; 0 for a ring that is not a
// clockwise rectangle, which its bounds describe all the same.
unsigned FirstCorner(const TRing& ring)
{
    if (ring.Count() != 5)
        return 0;
    const CGeoRect r = RingBounds(ring);
    const TEdges edges = {r.south, r.west, r.north, r.east};
    for (unsigned k = 1; k < std::size(kCorners); ++k)
        if (std::equal(ring.begin(), ring.end(), CornerRing(edges, k).begin()))
            return k;
    return 0;
}

// A split-file step is 180 map units, so the integer edges of neighbours,
// each rounded on its own, would part (a cut leaves its west or south side
// one unit short of the other) and the border of the whole set would shrink,
// leaving the nodes on them in no area when a file without its degree lines
// is loaded. So both sides of an edge between neighbours print one value,
// that of the west or south side rounded down, and an edge without a
// neighbour, on the border of the whole set, is rounded outward. The degree
// lines need none of this: seven decimals of a degree are finer than half a
// map unit, so each edge loads back as the unit it was.

// The edges of a list of areas as the split file prints them.
class CEdgeLayout {
  public:
    explicit CEdgeLayout(const TAreaList& areas);

    // The bounding rectangle of area i, its longitudes within [-180, +180]
    // degrees.
    const CGeoRect& Bounds(uint32_t i) const { return m_bounds[i]; }
    // The split-file integers to print for its edges: laid out so that a
    // file read without its degree lines still covers every area.
    TEdges Integers(uint32_t i) const;

  private:
    // (edge, area) of every area with a ring, sorted: one array per side.
    using TIndex = CGrowArray<std::pair<int32_t, uint32_t>>;

    // Whether an area other than i has an edge in index at value and lies
    // beside area i across it: their longitudes meet for a north or south
    // edge (across a parallel), their latitudes for an east or west one.
    bool Meets(const TIndex& index, uint32_t i, int32_t value, bool acrossParallel) const;

    // The bounding rectangle of each area, its longitudes within [-180,
    // +180] degrees: an area crossing 180 degrees has its east edge west of
    // its west one.
    CGrowArray<CGeoRect> m_bounds;
    TIndex m_west, m_east, m_south, m_north;
};

CEdgeLayout::CEdgeLayout(const TAreaList& areas)
{
    m_bounds.Reserve(areas.Count());
    for (uint32_t i = 0; i < areas.Count(); ++i) {
        CGeoRect r = RingBounds(areas[i].ring);
        r.west = MapUnits::Natural(r.west);
        r.east = MapUnits::Natural(r.east);
        m_bounds.PushBack(r);
        if (areas[i].ring.Empty())
            continue;
        m_west.PushBack({r.west, i});
        m_east.PushBack({r.east, i});
        m_south.PushBack({r.south, i});
        m_north.PushBack({r.north, i});
    }
    for (TIndex* index : {&m_west, &m_east, &m_south, &m_north})
        std::sort(index->begin(), index->end());
}

bool CEdgeLayout::Meets(const TIndex& index, uint32_t i, int32_t value, bool acrossParallel) const
{
    const CGeoRect& a = m_bounds[i];
    auto at = std::lower_bound(index.begin(), index.end(), std::pair{value, uint32_t(0)});
    for (; at != index.end() && at->first == value; ++at) {
        const CGeoRect& b = m_bounds[at->second];
        bool beside = acrossParallel ? Intersects({a.west, a.east, 0, 0}, {b.west, b.east, 0, 0})
                                     : Intersects({0, 0, a.south, a.north}, {0, 0, b.south, b.north});
        if (at->second != i && beside)
            return true;
    }
    return false;
}

}  // namespace

TEdges CEdgeLayout::Integers(uint32_t i) const
{
    const CGeoRect& r = m_bounds[i];
    // Split-file steps, rounded toward the south or west, or the other way.
    auto down = [](int64_t units) { return int32_t((units >= 0 ? units : units - kSplitUnit + 1) / kSplitUnit); };
    auto up = [&](int64_t units) { return -down(-units); };
    if (r.south == CGeoRect::kEmpty)
        return {down(r.south), down(r.west), down(r.north), down(r.east)};
    auto low = [&](const TIndex& highs, int32_t edge, bool acrossParallel) {
        return down(Meets(highs, i, edge - 1, acrossParallel) ? edge - 1 : edge);
    };
    auto high = [&](const TIndex& lows, int32_t edge, bool acrossParallel) {
        bool met = Meets(lows, i, edge, acrossParallel) || Meets(lows, i, edge + 1, acrossParallel);
        return met ? down(edge) : up(edge);
    };
    return {low(m_north, r.south, true), low(m_east, r.west, false), high(m_south, r.north, true),
            high(m_west, r.east, false)};
}

bool LoadSplitFile(const std::string& path, TAreaList& areas, const std::string* source)
{
    areas.Clear();
    CFileReadStream in(65536);
    if (!in.Open(path)) {
        std::printf("Cannot open %s: %s\n", path.c_str(), in.OpenError());
        return false;
    }
    char* line = in.ReadLine();
    while (line != nullptr) {
        if (line[0] == 0 || line[0] == '#') {
            line = in.ReadLine();
            continue;
        }
        unsigned number, corner = 0;
        TEdges edges;
        if (!ParseAreaLine(line, number, edges)) {
            std::printf("%s: bad area line \"%s\"\n", path.c_str(), line);
            return false;
        }
        // The degree line, when there is one, is more precise. Any other line
        // after an area line is a line of its own.
        line = in.ReadLine();
        if (line != nullptr && ParseDegreeLine(line, edges, corner))
            line = in.ReadLine();
        if (!FitsRing(edges.west, edges.east)) {
            std::printf("%s: area %u crosses 180 degrees and reaches more than %d degrees past it\n", path.c_str(),
                        number, MapUnits::kMaxRingLon / MapUnits::kPerDegree - 180);
            return false;
        }
        TArea& area = areas.EmplaceBack();
        area.source = source;
        area.name = std::to_string(number);
        area.ring = CornerRing(edges, corner);
    }
    return true;
}

bool WriteSplitFile(const std::string& path, const TAreaList& areas)
{
    CFileWriteStream out(65536);
    if (!CreateOutputFile(out, path))
        return false;
    static const char kHeader[] = "# List of areas\r\n#\r\n";
    out.Write(kHeader, sizeof kHeader - 1);
    const CEdgeLayout layout(areas);
    for (uint32_t i = 0; i < areas.Count(); ++i) {
        const TArea& area = areas[i];
        const TEdges e = layout.Integers(i);
        const CGeoRect& r = layout.Bounds(i);
        const unsigned corner = FirstCorner(area.ring);
        auto number = static_cast<unsigned>(std::strtoul(area.name.c_str(), nullptr, 10));
        if (area.name.empty() || area.name[0] < '0' || area.name[0] > '9')
            number = 0;
        char text[256];
        int n = std::snprintf(text, sizeof text, "%08u: %d,%d to %d,%d\r\n#       : %.7f,%.7f to %.7f,%.7f%s%s\r\n\r\n",
                              number, e.south, e.west, e.north, e.east, MapUnits::ToDegrees(r.south),
                              MapUnits::ToDegrees(r.west), MapUnits::ToDegrees(r.north), MapUnits::ToDegrees(r.east),
                              corner == 0 ? "" : " from ", corner == 0 ? "" : kCorners[corner]);
        out.Write(text, uint64_t(n));
    }
    return out.Close();
}

}  // namespace Splitter
