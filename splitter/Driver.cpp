#include "splitter/Driver.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include <unistd.h>

#include "common/OSM/Banner.h"
#include "common/OSM/DataReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/OSM/WayNodes.h"
#include "common/streams/FileStream.h"
#include "common/streams/FileSystem.h"
#include "splitter/AreaDescriptions.h"
#include "splitter/AreaSplitter.h"
#include "splitter/Areas.h"
#include "splitter/BoundaryRelations.h"
#include "splitter/InputIds.h"
#include "splitter/Log.h"
#include "splitter/Options.h"
#include "splitter/OutputFiles.h"
#include "splitter/Passes.h"
#include "splitter/PolyFile.h"
#include "splitter/SplitFile.h"
#include "splitter/clip/RunAreas.h"

namespace {

// Whether the area range lies within the settled list and, with
// multi-contour, keeps every group of areas that share a file whole;
// prints why not.
bool AreaRangeFits(const CSettings& settings, const COutputPlan& plan)
{
    const uint32_t first = settings.firstArea, last = settings.lastArea;
    if (last >= plan.Areas().Count()) {
        std::printf("Area range %u-%u lies beyond the last area, %u.\n", first, last,
                    uint32_t(plan.Areas().Count() - 1));
    } else {
        // A group that runs on past either end of the range is split by it.
        const TAreaGroup& before = plan.GroupOf(first > 0 ? first - 1 : 0);
        const TAreaGroup& end = plan.GroupOf(last);
        const TAreaGroup* split = first > 0 && before.last > first ? &before : end.last > last + 1 ? &end : nullptr;
        if (split == nullptr)
            return true;
        std::printf("Area range %u-%u splits the areas of \"%s\", which share one output file.\n", first, last,
                    split->label->c_str());
    }
    std::printf("Bad \"%s\" value.\n", settings.areaRangeName.c_str());
    return false;
}

// Nodes in no area are in no tile. That is expected of polygons whose
// outside is not to be split, and otherwise a gap in the areas.
void ReportOutsideNodes(const Clip::TOutsideNodes& outside, const CSettings& settings)
{
    if (outside.count == 0)
        return;
    const char* lie = outside.count == 1 ? "node lies" : "nodes lie";
    if (!settings.poly.empty() && !settings.processOuter)
        std::printf("%s input %s outside the polygons: left out, as --process-outer is off.\n",
                    GroupedDigits(outside.count).c_str(), lie);
    else
        std::printf("%s input %s outside every area: in no tile.\n", GroupedDigits(outside.count).c_str(), lie);
    if (!settings.verbose)
        return;
    std::string ids;
    for (OSM::TId id : outside.first)
        ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    std::printf("The first of them: %s%s\n", ids.c_str(), outside.count > outside.first.Count() ? ", ..." : "");
}

// Names what was malformed in the input, and where, before the run's message.
void ReportMalformed(const std::string& path, const std::string& fault, uint64_t offset)
{
    if (!fault.empty())
        std::printf("%s: %s (blob at byte %llu)\n", path.c_str(), fault.c_str(),
                    static_cast<unsigned long long>(offset));
    std::puts("Bad input file.");
}

// Says what the input is when it is no PBF file, and how to convert it:
// osmium reads these formats, and names its output after the input.
void ReportOtherFormat(const std::string& path, const char* format)
{
    std::printf("%s: the file is %s, not OSM PBF.", path.c_str(), format);
    if (std::strstr(format, "change") == nullptr) {
        std::string name = path;
        for (const std::string_view extension : {".gz", ".bz2", ".osm", ".xml", ".o5m"})
            if (name.ends_with(extension))
                name.resize(name.size() - extension.size());
        std::printf(" Convert it first: osmium cat %s -o %s.osm.pbf", path.c_str(), name.c_str());
    }
    std::puts("\nBad input file.");
}

// A copy of the input completed with the nodes whose locations its ways
// carry, in the output directory; the file goes with this object.
struct TWayNodeCopy {
    struct TFile {
        std::string path;
        ~TFile()
        {
            if (!path.empty())
                RemovePlainFile(path);
        }
    } file;  // declared first, so removed after the stream closed it
    CFileReadStream stream{65536};
    CPBInputAdapter pbf;
};

// The input as the run reads it: input itself, or, when its ways carry the
// locations of nodes it lacks (`osmium add-locations-to-ways` leaves out the
// untagged nodes), copy, which holds those nodes too, made and opened here.
// Jobs sharing the output directory make copies of their own.
CPBInputAdapter& CompleteInput(const CSettings& settings, CPBInputAdapter& input, int64_t timestamp,
                               TWayNodeCopy& copy)
{
    if (!input.LocationsOnWays())
        return input;
    MakeDirectoryPath(settings.outputDir);
    copy.file.path = settings.outputDir + "splitter-" + std::to_string(getpid()) + "-input.osm.pbf.tmp";
    // Made like the nodes that the passes add.
    OSM::TInfo info;
    info.version = 1;
    info.timestamp = timestamp;
    info.visible = 1;
    const uint64_t added = OSM::WriteWithWayNodes(input, copy.file.path, info);
    if (added == 0) {
        copy.file.path.clear();
        return input;
    }
    std::printf("The ways of the input carry the locations of %" PRIu64
                " nodes that it lacks: they are split as plain nodes.\n",
                added);
    if (!copy.stream.Open(copy.file.path) || !copy.pbf.Open(copy.stream))
        throw TStreamException{TStreamException::kRead, 0, 0, copy.file.path};
    return copy.pbf;
}

// Both phases over the opened input. Malformed input leaves as
// CBadFileException; stream and memory failures leave as exceptions,
// reported once by RunSplitter.
int SplitInput(const CSettings& settings, CFileReadStream& input, CPBInputAdapter& original)
{
    // Objects the passes make carry the input's time, so the same input
    // gives the same output.
    const int64_t timestamp = input.ModificationTime() * 1000;
    // Before anything is written: an input that would make unreadable
    // outputs is refused whole; so is a completed copy whose added nodes
    // would.
    if (!CheckInputIds(original, settings.inputFile)) {
        std::puts("Bad input file.");
        return kExitBadInput;
    }
    TWayNodeCopy copy;
    CPBInputAdapter& pbf = CompleteInput(settings, original, timestamp, copy);
    if (&pbf != &original && !CheckInputIds(pbf, settings.inputFile)) {
        std::puts("Bad input file.");
        return kExitBadInput;
    }
    MakeDirectoryPath(settings.outputDir);

    CStdOutLog log;
    log.enabled = settings.verbose;
    CProblemReport problems(settings.verbose);
    // On a console the line shows how far a long run has come; into a file
    // or a pipe only on request.
    std::optional<CProgressLine> progress;
    if (settings.progress || isatty(STDERR_FILENO))
        progress.emplace(stderr);

    TAreaList areas;
    TSourceNames sourceNames;
    if (!settings.poly.empty()) {
        log.Line("Load poly-files...");
        if (!LoadPolygons(settings.poly, sourceNames, areas, settings.polyName)) {
            std::puts("Error loading poly-files.");
            return kExitNoAreas;
        }
    } else if (!settings.splitFile.empty()) {
        log.Line("Load split-file...");
        const std::string* source = AddSourceName(sourceNames, std::string(FileNamePart(settings.splitFile)));
        if (!LoadSplitFile(settings.splitFile, areas, source)) {
            std::puts("Error loading split-file.");
            return kExitNoAreas;
        }
    }
    uint64_t nodeTotal = 0;
    if (!settings.poly.empty() || settings.splitFile.empty()) {
        BeginProgress("Settling the areas");
        CAreaSplitter splitter(settings.maxNodes, log);
        if (!splitter.Run(areas, pbf, sourceNames.Empty() || settings.processOuter, settings.reserveNodes))
            return kExitNoAreas;
        nodeTotal = splitter.NodeTotal();
    }
    if (areas.Empty()) {
        std::puts("No areas.");
        return kExitNoAreas;
    }
    // Two writers of one file would corrupt it, and a group split across
    // passes would be truncated by the second: refuse before writing.
    const COutputPlan plan(areas, settings);
    if (!CheckOutputNames(plan, settings))
        return kExitNoAreas;
    if (!CheckPassGroups(plan))
        return kExitPassFailed;
    if (!settings.areaRangeName.empty() && !settings.describeOnly && !AreaRangeFits(settings, plan))
        return kExitUsage;
    const uint32_t end =
        settings.describeOnly ? 0 : uint32_t(std::min<uint64_t>(uint64_t(settings.lastArea) + 1, areas.Count()));

    // A description that cannot be written fails the run, after the tiles.
    // Jobs that share an output directory leave the descriptions to the job
    // that starts at the first area.
    bool described = true;
    if (settings.firstArea == 0) {
        log.Line("Write areas list...");
        if (!settings.writeKml.empty())
            described &= WriteKML(settings.outputDir + settings.writeKml, plan, settings.description);
        described &= WriteMP(settings.outputDir, plan);
        if (settings.poly.empty())
            described &= WriteSplitFile(settings.outputDir + "areas.list", areas);
        else
            described &= WriteAreasPoly(settings.outputDir,
                                        settings.description.empty() ? "Areas" : settings.description, plan);
    }

    std::unique_ptr<CBoundaryRelationList> relations;
    if (settings.adminLevel != 0 && !settings.describeOnly) {
        // A job sees only the boundaries of its own tiles: it lists them in a
        // file of its own.
        std::string path = settings.outputDir + "relations.txt";
        if (settings.firstArea != 0 || end != areas.Count())
            path = settings.outputDir + "relations-" + std::to_string(settings.firstArea) + "-" +
                   std::to_string(end - 1) + ".txt";
        relations = std::make_unique<CBoundaryRelationList>(int32_t(settings.adminLevel), path);
        if (!relations->OpenError().empty()) {
            ReportCannotCreate(path, relations->OpenError().c_str());
            described = false;
        }
    }

    // A few descriptors stay free for what a pass opens besides its outputs.
    constexpr uint64_t kSpareFiles = 8;
    const uint64_t freeFiles = FreeFileDescriptors();
    const auto maxFiles = uint32_t(std::clamp<uint64_t>(freeFiles - std::min(freeFiles, kSpareFiles), 1, UINT32_MAX));
    if (maxFiles < settings.maxAreas && maxFiles < areas.Count())
        log.Format("Open files are limited: a pass writes at most %u files.", maxFiles);
    const std::unique_ptr<Clip::CRunAreas> run = PrepareRun(areas);
    // A single pass reserves its node table from this count instead of
    // growing it.
    run->SetNodeTotal(nodeTotal);
    for (uint32_t first = settings.firstArea; first < end;) {
        uint32_t done = RunPass(pbf, plan, *run, first, relations.get(), settings, maxFiles, timestamp, log);
        if (done == 0)
            return kExitPassFailed;
        // The first pass has read every block.
        if (const uint64_t older = original.OlderVersions(); older != 0 && first == settings.firstArea)
            std::printf("Older versions of objects left out: %" PRIu64
                        " (of an object that the input holds more than once, only the last version is split).\n",
                        older);
        first += done;
    }
    if (relations)
        relations->Close();
    progress.reset();
    problems.Finish();
    if (const Clip::TOutsideNodes* outside = run->OutsideNodes())
        ReportOutsideNodes(*outside, settings);

    log.Line("The work is finished.");
    return described ? kExitDone : kExitIoFailure;
}

int RunPhases(const CSettings& settings)
{
    // Every output of a pass holds a file open.
    RaiseOpenFileLimit();
    CFileReadStream input(65536);
    CPBInputAdapter pbf;
    if (!input.Open(settings.inputFile)) {
        std::printf("Cannot open %s: %s\n", settings.inputFile.c_str(), input.OpenError());
        std::puts("Bad input file.");
        return kExitBadInput;
    }
    if (!pbf.Open(input)) {
        if (pbf.OtherFormat() != nullptr)
            ReportOtherFormat(settings.inputFile, pbf.OtherFormat());
        else
            ReportMalformed(settings.inputFile, pbf.Fault(), pbf.BlobOffset());
        return kExitBadInput;
    }
    try {
        return SplitInput(settings, input, pbf);
    } catch (const OSM::CDataReader::CBadFileException& e) {
        ReportMalformed(settings.inputFile, e.reason, pbf.BlobOffset());
        return kExitBadInput;
    }
}

// What failed when the system gave no error number.
const char* StreamFault(uint32_t code)
{
    switch (code) {
    case TStreamException::kWrite: return "writing failed";
    case TStreamException::kRead: return "the file ended early";
    default: return "seeking failed";
    }
}

}  // namespace

int RunSplitter(const char* const* arguments, int count)
{
    std::puts(OSM::kBanner);
    if (count == 0) {
        std::puts(kUsageText);
        return kExitUsage;
    }
    CSettings settings;
    if (!ParseCommandLine(settings, arguments, count))
        return kExitUsage;
    std::puts("");

    try {
        return RunPhases(settings);
    } catch (const TStreamException& e) {
        if (!e.file.empty())
            std::printf("%s: %s\n", e.file.c_str(), e.error != 0 ? std::strerror(e.error) : StreamFault(e.code));
        std::puts(e.code == TStreamException::kWrite ? "Error writing output file." : "Error reading input file.");
    } catch (const std::bad_alloc&) {
        std::puts("Out of memory.");
    }
    return kExitIoFailure;
}
