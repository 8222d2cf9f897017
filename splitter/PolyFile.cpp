#include "splitter/PolyFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <strings.h>

#include "common/rtree/RTree.h"
#include "common/streams/FileStream.h"
#include "common/streams/FileSystem.h"
#include "splitter/OutputFiles.h"
#include "splitter/areas/AreaGeometry.h"
#include "splitter/areas/PolygonDifference.h"

namespace Splitter {

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

// A contour across the antimeridian jumps from near +180 degrees to near
// -180 there: it is made to run on past +180 instead, as areas across it do,
// rather than the long way round the globe. Points on the meridian itself
// name it either way and are taken as they stand; a contour that would wind
// round the globe, or run beyond the units, is left as it is.
void RunOnAcross180(TRing& ring)
{
    auto onMeridian = [](const CGeoPoint& p) { return p.x == MapUnits::kMinLon || p.x == MapUnits::kMaxLon; };
    const int64_t half = MapUnits::k180, turn = MapUnits::kTurn;
    CGrowArray<int64_t> xs;
    int64_t shift = 0;
    bool jumps = false;
    for (uint64_t i = 0; i < ring.Count(); ++i) {
        if (i > 0 && !onMeridian(ring[i - 1]) && !onMeridian(ring[i])) {
            const int64_t step = int64_t(ring[i].x) - ring[i - 1].x;
            if (step > half || step < -half) {
                shift += step > half ? -turn : turn;
                jumps = true;
            }
        }
        xs.PushBack(ring[i].x + shift);
    }
    // The contour closes from its last point back to its first.
    const int64_t closing = ring.Empty() || onMeridian(ring[0]) || onMeridian(ring.Back())
                                ? 0 : int64_t(ring[0].x) - ring.Back().x;
    shift += closing > half ? -turn : closing < -half ? turn : 0;
    if (!jumps || shift != 0)
        return;  // never jumps, or winds round the globe
    const int64_t low = *std::min_element(xs.begin(), xs.end());
    const int64_t lift = low < -half ? turn : 0;
    if (*std::max_element(xs.begin(), xs.end()) + lift > INT32_MAX)
        return;
    for (uint64_t i = 0; i < ring.Count(); ++i)
        ring[i].x = int32_t(xs[i] + lift);
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

// A closed ring with an edge tree, as the polygon difference takes them.
struct TCutter {
    explicit TCutter(TRing&& from) : ring(std::move(from)), edges(Geometry::EdgeTreeChunk(ring))
    {
        if (!Geometry::IsClockwise(ring))
            std::reverse(ring.begin(), ring.end());
        Geometry::BuildEdgeTree(ring, edges);
    }

    // Appends to out the rings of b (clockwise) outside this ring. False,
    // appending nothing, when this ring leaves b as it is. A ring that lies
    // inside b is taken out of each half of b either side of the meridian
    // through its middle: an area has one ring, which can hold a notch, not
    // a hole. Then b outside ring would be a ring with a hole, and no area
    // can hold that.
    bool Subtract(const TRing& b, CGrowArray<TRing>& out, bool halve = true)
    {
        switch (Geometry::Difference(edges, out, b, ring)) {
        case Geometry::EOverlap::kTrimmed:
            Geometry::BuildEdgeTree(ring, edges);  // ring gained the points where they meet
            return true;
        case Geometry::EOverlap::kCovered: return true;
        case Geometry::EOverlap::kTouching: return false;
        case Geometry::EOverlap::kApart: break;
        }
        // Apart, one inside the other, or neither: any vertex tells.
        if (Geometry::PointInRing(ring.Data(), ring.Count(), b[0]))
            return true;
        if (!halve || !Geometry::PointInRing(b.Data(), b.Count(), ring[0]))
            return false;
        const CGeoRect around = RingBounds(b), inner = RingBounds(ring);
        const int32_t middle = int32_t((int64_t(inner.west) + inner.east) / 2);
        TCutter west(RectangleRing(around.west - 1, around.south - 1, middle, around.north + 1));
        TCutter east(RectangleRing(middle, around.south - 1, around.east + 1, around.north + 1));
        CGrowArray<TRing> halves;
        if (!east.Subtract(b, halves, false) || !west.Subtract(b, halves, false))
            return false;
        for (const TRing& half : halves)
            if (!Subtract(half, out, false))
                out.PushBack(half);
        return true;
    }

    TRing ring;
    RTree::CRTree edges;
};

// Takes hole out of the areas from first on, the pieces of the polygon the
// hole follows. False when it meets none of them.
bool SubtractHole(TAreaList& areas, uint64_t first, TRing&& hole)
{
    TCutter cutter(std::move(hole));
    bool met = false;
    CGrowArray<TRing> pieces;
    for (uint64_t i = first, end = areas.Count(); i < end;) {
        TRing ring = areas[i].ring;
        if (!Geometry::IsClockwise(ring))
            std::reverse(ring.begin(), ring.end());
        pieces.Clear();
        if (!cutter.Subtract(ring, pieces)) {
            ++i;
            continue;
        }
        met = true;
        const TArea polygon = std::move(areas[i]);
        areas.Erase(i, i + 1);
        --end;
        for (TRing& piece : pieces)
            areas.EmplaceBack() = {polygon.source, polygon.name, std::move(piece)};
    }
    return met;
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

// One section: the title line when title is not null, the section line,
// every point of ring with its closing point, "END", and with final a
// second "END" that ends the file.
void WritePolySection(CWriteStream& stream, const std::string* title, const std::string& section, const TRing& ring,
                      bool final)
{
    std::string text;
    if (title != nullptr)
        text = *title + "\r\n";
    text += section + "\r\n";
    for (const CGeoPoint& p : ring) {
        char line[64];  // degrees: two fields of 16 characters
        const int n = std::snprintf(line, sizeof line, "%16.7f%16.7f\r\n",
                                    MapUnits::ToDegrees(MapUnits::Natural(p.x)), MapUnits::ToDegrees(p.y));
        text.append(line, size_t(std::clamp(n, 0, int(sizeof line) - 1)));
    }
    text += final ? "END\r\nEND\r\n" : "END\r\n";
    stream.Write(text.data(), text.size());
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
    // A section headed "!" is a hole in the polygon of the section before it.
    uint64_t polygonFirst = first, polygons = 0;
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
        RunOnAcross180(ring);
        if (!CleanContour(ring))
            continue;
        if (header[0] != '!') {
            polygonFirst = areas.Count();
            ++polygons;
            areas.EmplaceBack() = {source, *source + "_" + header, std::move(ring)};
        } else if (polygons == 0 || !SubtractHole(areas, polygonFirst, std::move(ring))) {
            std::printf("%s: hole \"%s\" lies in no polygon before it\n", path.c_str(), header.c_str());
        }
    }
    if (areas.Count() == first) {
        std::printf("%s: no contour of at least three points\n", path.c_str());
        return fail();
    }
    // The pieces a hole leaves of a file's only polygon keep its name.
    if (polygons == 1)
        for (uint64_t i = first; i < areas.Count(); ++i)
            areas[i].name = *source;
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

bool WriteAreasPoly(const std::string& outputDir, const std::string& title, const COutputPlan& plan)
{
    const TAreaList& areas = plan.Areas();
    constexpr uint64_t kBufferSize = 65536;
    CFileWriteStream out(kBufferSize);
    if (!CreateOutputFile(out, outputDir + "areas.poly"))
        return false;
    bool created = true;
    for (uint64_t i = 0; i < areas.Count(); ++i) {
        const TArea& area = areas[i];
        WritePolySection(out, i == 0 ? &title : nullptr, area.name, area.ring, i + 1 == areas.Count());
        CFileWriteStream separate(kBufferSize);
        if (!plan.PolyContour(i).empty()) {
            if (CreateOutputFile(separate, plan.PolyContour(i))) {
                WritePolySection(separate, &title, area.name, area.ring, true);
                separate.Close();
            } else {
                created = false;
            }
        }
    }
    return out.Close() && created;
}

}  // namespace Splitter
