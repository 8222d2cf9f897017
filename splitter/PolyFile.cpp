#include "splitter/PolyFile.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <strings.h>

#include "common/streams/FileStream.h"
#include "common/streams/FileSystem.h"

namespace {

constexpr std::string_view kPolyExtension = ".poly";

bool IsBlank(const char* line)
{
    for (; *line != 0; ++line) {
        if (!std::isspace(static_cast<unsigned char>(*line)))
            return false;
    }
    return true;
}

bool IsEnd(const char* line) { return std::strcmp(line, "END") == 0; }

// The next line that is not blank, or nullptr at the end of the file.
char* ReadContentLine(CFileReadStream& in)
{
    char* line;
    do
        line = in.ReadLine();
    while (line != nullptr && IsBlank(line));
    return line;
}

// "longitude latitude" in degrees, both finite and within their ranges.
bool ParsePoint(const char* line, CGeoPoint& point)
{
    double lon, lat;
    if (std::sscanf(line, "%lg %lg", &lon, &lat) != 2 || !MapUnits::IsValidLongitude(lon) ||
        !MapUnits::IsValidLatitude(lat))
        return false;
    point.x = MapUnits::FromDegrees(lon);
    // +180 degrees is the antimeridian's other name; longitudes stop one unit short.
    if (point.x == MapUnits::k180)
        point.x = MapUnits::kMaxLon;
    point.y = MapUnits::FromDegrees(lat);
    return true;
}

// Closes the contour and collapses repeated points. False when it is too
// small to enclose anything.
bool CleanContour(TRing& ring)
{
    if (ring.Count() < 3)
        return false;
    if (ring[0] != ring.Back())
        ring.PushBack(ring[0]);
    else if (ring.Count() < 4)
        return false;
    uint64_t kept = 1;
    for (uint64_t i = 1; i < ring.Count(); ++i) {
        if (ring[i] != ring[kept - 1])
            ring[kept++] = ring[i];
    }
    ring.Resize(kept);
    return true;
}

std::string FileNameSource(const std::string& path)
{
    std::string_view name = FileNamePart(path);
    return std::string(name.substr(0, name.rfind('.')));
}

bool HasPolyExtension(const std::string& name)
{
    return name.size() > kPolyExtension.size() &&
           ::strcasecmp(name.c_str() + name.size() - kPolyExtension.size(), kPolyExtension.data()) == 0;
}

}  // namespace

bool LoadPolyFile(const std::string& path, TSourceNames& sourceNames, TAreaList& areas, bool polyName)
{
    CFileReadStream in(65536);
    if (!in.Open(path)) {
        std::printf("Cannot open %s: %s\n", path.c_str(), in.OpenError());
        return false;
    }
    const char* title = ReadContentLine(in);
    if (title == nullptr) {
        std::printf("%s: the file is empty\n", path.c_str());
        return false;
    }
    // Held by the list from the start, so that an exception never leaves an
    // area pointing at a released name; taken back when the file fails.
    const std::string* source = AddSourceName(sourceNames, polyName ? std::string(title) : FileNameSource(path));
    const uint64_t first = areas.Count();
    auto fail = [&] {
        areas.Erase(first, areas.Count());
        sourceNames.PopBack();
        return false;
    };
    // Reading at the end of the file keeps returning nullptr, so the end ends
    // an open section and the file alike.
    const char* line;
    while ((line = ReadContentLine(in)) != nullptr && !IsEnd(line)) {
        std::string header = line;
        TRing ring;
        while ((line = ReadContentLine(in)) != nullptr && !IsEnd(line)) {
            CGeoPoint point;
            if (!ParsePoint(line, point)) {
                std::printf("%s: bad point line \"%s\"\n", path.c_str(), line);
                return fail();
            }
            ring.PushBack(point);
        }
        if (CleanContour(ring)) {
            TArea& area = areas.EmplaceBack();
            area.source = source;
            area.name = *source + "_" + header;
            area.ring = std::move(ring);
        }
    }
    if (areas.Count() == first) {
        std::printf("%s: no contour of at least three points\n", path.c_str());
        return fail();
    }
    if (areas.Count() == first + 1)
        areas.Back().name = *source;
    return true;
}

bool LoadPolygons(const std::string& path, TSourceNames& sourceNames, TAreaList& areas, bool polyName)
{
    areas.Clear();
    CDirectoryWalker walker;
    std::string name;
    bool isDirectory;
    if (!walker.Start(path)) {
        LoadPolyFile(path, sourceNames, areas, polyName);
        return !areas.Empty();
    }
    bool found = false;
    while (walker.Next(name, isDirectory)) {
        if (HasPolyExtension(name)) {
            found = true;
            LoadPolyFile(walker.EntryDirectory() + name, sourceNames, areas, polyName);
        }
    }
    if (!found)
        std::printf("%s: no .poly files in the directory\n", path.c_str());
    return !areas.Empty();
}
