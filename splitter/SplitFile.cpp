#include "splitter/SplitFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/streams/FileStream.h"
#include "splitter/OutputFiles.h"

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

// "# : %lf,%lf to %lf,%lf" with finite degrees inside their ranges.
bool ParseDegreeLine(const char* line, TEdges& edges)
{
    double s, w, n, e;
    if (line[0] != '#' || std::sscanf(line, "# : %lf,%lf to %lf,%lf", &s, &w, &n, &e) != 4)
        return false;
    if (!MapUnits::IsValidLatitude(s) || !MapUnits::IsValidLatitude(n) || !MapUnits::IsValidLongitude(w) ||
        !MapUnits::IsValidLongitude(e))
        return false;
    edges = {MapUnits::FromDegrees(s), MapUnits::FromDegrees(w), MapUnits::FromDegrees(n), MapUnits::FromDegrees(e)};
    return true;
}

// Six decimals of a degree are about 8.4 map units and the loader takes an
// edge back to the nearest unit, so a printed edge may come back up to 4
// units off. Printed each on its own, the edges between neighbours would part
// (a cut leaves its west or south side one unit short of the other) and the
// border of the whole set would shrink, leaving the nodes on them in no area
// once the file is loaded. So both sides of an edge between neighbours print
// one value, that of the west or south side, and an edge without a
// neighbour, on the border of the whole set, is rounded outward.

struct TDegreeEdges {
    double south, west, north, east;
};

// The degrees to print for an edge at units that has no neighbour: the
// nearest six-decimal value that reads back no further in, at or below units
// for an outward of -1 (west, south) and at or above it for +1 (east, north).
double OutwardDegrees(int32_t units, int outward)
{
    const double degrees = MapUnits::ToDegrees(units);
    char text[32];
    std::snprintf(text, sizeof text, "%lf", degrees);
    const double printed = std::strtod(text, nullptr);
    const int32_t back = MapUnits::FromDegrees(printed);
    if (outward < 0 ? back <= units : back >= units)
        return degrees;
    // One millionth of a degree is wider than the rounding, so one step out
    // is enough; k / 1e6 is the double nearest to k millionths and prints so.
    return double(std::llround(printed * 1e6) + outward) / 1e6;
}

// The edges of a list of areas as the split file prints them.
class CEdgeLayout {
  public:
    explicit CEdgeLayout(const TAreaList& areas);

    // The degrees to print for the edges of area i.
    TDegreeEdges Degrees(uint32_t i) const;
    // The split-file integers to print for them: laid out as the degrees, so
    // that a file read without its degree lines still covers every area.
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

TDegreeEdges CEdgeLayout::Degrees(uint32_t i) const
{
    const CGeoRect& r = m_bounds[i];
    if (r.south == CGeoRect::kEmpty)  // no ring, no edges to keep
        return {MapUnits::ToDegrees(r.south), MapUnits::ToDegrees(r.west), MapUnits::ToDegrees(r.north),
                MapUnits::ToDegrees(r.east)};
    // A west or south edge takes the value of the neighbour's edge it meets.
    // Edges lie within +-180 degrees, so one unit more or less stays in range.
    auto low = [&](const TIndex& highs, int32_t edge, bool acrossParallel) {
        if (Meets(highs, i, edge - 1, acrossParallel))
            return MapUnits::ToDegrees(edge - 1);
        if (Meets(highs, i, edge, acrossParallel))
            return MapUnits::ToDegrees(edge);
        return OutwardDegrees(edge, -1);
    };
    auto high = [&](const TIndex& lows, int32_t edge, bool acrossParallel) {
        bool met = Meets(lows, i, edge, acrossParallel) || Meets(lows, i, edge + 1, acrossParallel);
        return met ? MapUnits::ToDegrees(edge) : OutwardDegrees(edge, +1);
    };
    return {low(m_north, r.south, true), low(m_east, r.west, false), high(m_south, r.north, true),
            high(m_west, r.east, false)};
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
    // Both sides of an edge between neighbours print the west or south
    // side's value rounded down; the border of the set is rounded outward.
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
        unsigned number;
        TEdges edges;
        if (!ParseAreaLine(line, number, edges)) {
            std::printf("%s: bad area line \"%s\"\n", path.c_str(), line);
            return false;
        }
        // The degree line, when there is one, is more precise. Any other line
        // after an area line is a line of its own.
        line = in.ReadLine();
        if (line != nullptr && ParseDegreeLine(line, edges))
            line = in.ReadLine();
        if (!FitsRing(edges.west, edges.east)) {
            std::printf("%s: area %u crosses 180 degrees and reaches more than %d degrees past it\n", path.c_str(),
                        number, MapUnits::kMaxRingLon / MapUnits::kPerDegree - 180);
            return false;
        }
        TArea& area = areas.EmplaceBack();
        area.source = source;
        area.name = std::to_string(number);
        area.ring = RectangleRing(edges.west, edges.south, edges.east, edges.north);
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
        const TDegreeEdges d = layout.Degrees(i);
        auto number = static_cast<unsigned>(std::strtoul(area.name.c_str(), nullptr, 10));
        if (area.name.empty() || area.name[0] < '0' || area.name[0] > '9')
            number = 0;
        char text[256];
        int n = std::snprintf(text, sizeof text, "%08u: %d,%d to %d,%d\r\n#       : %lf,%lf to %lf,%lf\r\n\r\n", number,
                              e.south, e.west, e.north, e.east, d.south, d.west, d.north, d.east);
        out.Write(text, uint64_t(n));
    }
    return out.Close();
}
