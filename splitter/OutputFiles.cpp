#include "splitter/OutputFiles.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "common/streams/FileStream.h"
#include "splitter/Options.h"

namespace Splitter {

namespace {

// name as a file name that stays inside its directory: path separators and
// control characters become '_', and so does every leading dot (no "..", no
// hidden file); an empty name becomes "_". Other bytes are kept as they are.
std::string SafeFileName(std::string_view name)
{
    std::string safe(name);
    bool leading = true;
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        leading = leading && c == '.';
        if (leading || c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    return safe.empty() ? "_" : safe;
}

}  // namespace

void ReportCannotCreate(const std::string& path, const char* reason)
{
    std::printf("Cannot create %s: %s\n", path.c_str(), reason);
}

bool CreateOutputFile(CFileWriteStream& out, const std::string& path)
{
    if (out.Open(path))
        return true;
    ReportCannotCreate(path, out.OpenError());
    return false;
}

COutputPlan::COutputPlan(const TAreaList& areas, const CSettings& settings)
    : m_areas(areas), m_multiContour(settings.multiContour)
{
    const std::string& dir = settings.outputDir;
    const char* extension = settings.pbf ? ".osm.pbf" : ".osm";
    for (uint64_t first = 0; first < areas.Count();) {
        const TArea& area = areas[first];
        uint64_t last = first + 1;
        const std::string* label = &area.name;
        if (m_multiContour && area.source != nullptr) {
            while (last < areas.Count() && areas[last].source == area.source)
                ++last;
            label = area.source;
        }
        const std::string name = SafeFileName(*label);
        m_groups.PushBack({first, last, label, dir + name + extension,
                           settings.writeSeparateContours ? dir + name + ".mp" : std::string()});
        first = last;
    }
    if (settings.writeSeparateContours && !settings.poly.empty()) {
        m_polyContours.Reserve(areas.Count());
        for (const TArea& area : areas)
            m_polyContours.PushBack(dir + SafeFileName(area.name) + ".poly");
    }
}

const TAreaGroup& COutputPlan::GroupOf(uint64_t area) const
{
    const auto after = std::upper_bound(m_groups.begin(), m_groups.end(), area,
                                        [](uint64_t a, const TAreaGroup& group) { return a < group.first; });
    return *(after - 1);
}

const std::string& COutputPlan::PolyContour(uint64_t area) const
{
    static const std::string kNone;
    return m_polyContours.Empty() ? kNone : m_polyContours[area];
}

namespace {

constexpr uint64_t kNoArea = ~uint64_t(0);

struct TOutputFile {
    std::string path;
    uint64_t area;      // the first area written there, or kNoArea
    uint64_t last;      // one past the last area written there
    const char* other;  // what writes it when no area does
};

std::string Writer(const TAreaList& areas, const TOutputFile& file)
{
    if (file.area == kNoArea)
        return file.other;
    if (file.last == file.area + 1)
        return "area " + std::to_string(file.area) + " \"" + areas[file.area].name + "\"";
    return "areas " + std::to_string(file.area) + " - " + std::to_string(file.last - 1) + " \"" +
           *areas[file.area].source + "\"";
}

}  // namespace

bool CheckOutputNames(const COutputPlan& plan, const CSettings& settings)
{
    const TAreaList& areas = plan.Areas();
    const std::string& dir = settings.outputDir;
    std::vector<TOutputFile> files;
    files.push_back({dir + "areas.mp", kNoArea, 0, "the area list areas.mp"});
    if (settings.poly.empty())
        files.push_back({dir + "areas.list", kNoArea, 0, "the split file areas.list"});
    else
        files.push_back({dir + "areas.poly", kNoArea, 0, "the area list areas.poly"});
    if (!settings.writeKml.empty())
        files.push_back({dir + settings.writeKml, kNoArea, 0, "the KML file"});
    if (settings.adminLevel != 0)
        files.push_back({dir + "relations.txt", kNoArea, 0, "the boundary list relations.txt"});
    for (const TAreaGroup& group : plan.Groups()) {
        files.push_back({group.tile, group.first, group.last, nullptr});
        if (!group.contour.empty())
            files.push_back({group.contour, group.first, group.last, nullptr});
    }
    for (uint64_t i = 0; i < areas.Count(); ++i)
        if (!plan.PolyContour(i).empty())
            files.push_back({plan.PolyContour(i), i, i + 1, nullptr});
    // Stable, so that the first writer of a path comes first.
    std::stable_sort(files.begin(), files.end(),
                     [](const TOutputFile& a, const TOutputFile& b) { return a.path < b.path; });

    bool unique = true, suggest = false;
    for (size_t i = 1; i < files.size(); ++i) {
        const TOutputFile& a = files[i - 1];
        const TOutputFile& b = files[i];
        if (a.path != b.path)
            continue;
        unique = false;
        std::printf("%s and %s would both write %s.\n", Writer(areas, a).c_str(), Writer(areas, b).c_str(),
                    a.path.c_str());
        // Polygon files named by their titles may well share one; their
        // file names differ.
        suggest = suggest || (a.area != kNoArea && b.area != kNoArea && areas[a.area].source != nullptr &&
                              areas[b.area].source != nullptr && areas[a.area].source != areas[b.area].source &&
                              !settings.poly.empty() && settings.polyName);
    }
    if (suggest)
        std::puts("Use --out-filenames=filename to name the outputs after their polygon files.");
    if (!unique)
        std::puts("Output file names are not unique.");
    return unique;
}

}  // namespace Splitter
