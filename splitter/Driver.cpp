#include "splitter/Driver.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
#include "splitter/InputIds.h"
#include "splitter/Log.h"
#include "splitter/Options.h"
#include "splitter/OutputFiles.h"
#include "splitter/Passes.h"
#include "splitter/PolyFile.h"
#include "splitter/SplitFile.h"
#include "splitter/areas/AreaSplitter.h"
#include "splitter/areas/Areas.h"

namespace Splitter {

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

// Loads or splits the areas of the run into areas, naming their sources in
// sourceNames; nodeTotal gets the input's node count when the areas were
// split from it, else stays 0. Returns kExitDone or, after printing why, the
// exit code of the failure.
int SettleAreas(const CSettings& settings, CPBInputAdapter& pbf, CLog& log, TAreaList& areas,
                TSourceNames& sourceNames, uint64_t& nodeTotal)
{
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
    return kExitDone;
}

// Writes the descriptions of the areas; false, after printing why, when one
// could not be created. Jobs that share an output directory leave them to
// the job that starts at the first area.
bool WriteDescriptions(const CSettings& settings, const COutputPlan& plan, CLog& log)
{
    if (settings.firstArea != 0)
        return true;
    log.Line("Write areas list...");
    bool described = true;
    if (!settings.writeKml.empty())
        described &= WriteKML(settings.outputDir + settings.writeKml, plan, settings.description);
    described &= WriteMP(settings.outputDir, plan);
    if (settings.poly.empty())
        described &= WriteSplitFile(settings.outputDir + "areas.list", plan.Areas());
    else
        described &= WriteAreasPoly(settings.outputDir, settings.description.empty() ? "Areas" : settings.description,
                                    plan);
    return described;
}

// The passes of the job's areas; false after one failed.
bool RunPasses(CPassRunner& runner, CPBInputAdapter& pbf, const CPBInputAdapter& original, uint32_t firstArea)
{
    for (uint32_t first = firstArea; first < runner.End();) {
        const uint32_t done = runner.Run(pbf, first);
        if (done == 0)
            return false;
        // The first pass has read every block.
        if (const uint64_t older = original.OlderVersions(); older != 0 && first == firstArea)
            std::printf("Older versions of objects left out: %" PRIu64
                        " (of an object that the input holds more than once, only the last version is split).\n",
                        older);
        first += done;
    }
    return true;
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
    uint64_t nodeTotal = 0;
    if (const int settled = SettleAreas(settings, pbf, log, areas, sourceNames, nodeTotal); settled != kExitDone)
        return settled;
    // Two writers of one file would corrupt it, and a group split across
    // passes would be truncated by the second: refuse before writing.
    const COutputPlan plan(areas, settings);
    if (!CheckOutputNames(plan, settings))
        return kExitNoAreas;
    if (!CheckPassGroups(plan))
        return kExitPassFailed;
    if (!settings.areaRangeName.empty() && !settings.describeOnly && !AreaRangeFits(settings, plan))
        return kExitUsage;

    // A description that cannot be written fails the run, after the tiles.
    bool described = WriteDescriptions(settings, plan, log);
    CPassRunner runner(plan, settings, timestamp, nodeTotal, log);
    described &= !runner.RelationsFailed();
    if (!RunPasses(runner, pbf, original, settings.firstArea))
        return kExitPassFailed;
    runner.Finish();
    progress.reset();
    problems.Finish();
    runner.ReportOutsideNodes();

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

}  // namespace Splitter
