#include "splitter/SplitFile.h"

#include <cstdio>
#include <cstdlib>

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

}  // namespace

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
    for (const TArea& area : areas) {
        CGeoRect r = RingBounds(area.ring);
        // An area crossing 180 degrees is written with its east edge west of
        // its west one.
        r.west = MapUnits::Natural(r.west);
        r.east = MapUnits::Natural(r.east);
        auto number = static_cast<unsigned>(std::strtoul(area.name.c_str(), nullptr, 10));
        if (area.name.empty() || area.name[0] < '0' || area.name[0] > '9')
            number = 0;
        char text[256];
        int n = std::snprintf(text, sizeof text, "%08u: %d,%d to %d,%d\r\n#       : %lf,%lf to %lf,%lf\r\n\r\n", number,
                              r.south / int32_t(kSplitUnit), r.west / int32_t(kSplitUnit),
                              r.north / int32_t(kSplitUnit), r.east / int32_t(kSplitUnit),
                              MapUnits::ToDegrees(r.south), MapUnits::ToDegrees(r.west), MapUnits::ToDegrees(r.north),
                              MapUnits::ToDegrees(r.east));
        out.Write(text, uint64_t(n));
    }
    return out.Close();
}
