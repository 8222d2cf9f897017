#include "splitter/OutputFiles.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/streams/FileStream.h"
#include "splitter/Options.h"

TAreaGroup GroupAt(const TAreaList& areas, uint64_t first, bool multiContour)
{
    const TArea& area = areas[first];
    if (!multiContour || area.source == nullptr)
        return {first, first + 1, &area.name};
    uint64_t last = first + 1;
    while (last < areas.Count() && areas[last].source == area.source)
        ++last;
    return {first, last, area.source};
}

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

std::string TilePath(const CSettings& settings, const std::string& label)
{
    return settings.outputDir + SafeFileName(label) + (settings.pbf ? ".osm.pbf" : ".osm");
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

bool CheckOutputNames(const TAreaList& areas, const CSettings& settings)
{
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
    for (uint64_t first = 0; first < areas.Count();) {
        const TAreaGroup group = GroupAt(areas, first, settings.multiContour);
        files.push_back({TilePath(settings, *group.label), first, group.last, nullptr});
        if (settings.writeSeparateContours)
            files.push_back({dir + SafeFileName(*group.label) + ".mp", first, group.last, nullptr});
        first = group.last;
    }
    if (settings.writeSeparateContours && !settings.poly.empty()) {
        for (uint64_t i = 0; i < areas.Count(); ++i)
            files.push_back({dir + SafeFileName(areas[i].name) + ".poly", i, i + 1, nullptr});
    }
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
