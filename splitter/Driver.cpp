#include "splitter/Driver.h"

#include <cstdio>
#include <memory>
#include <new>

#include "common/OSM/Banner.h"
#include "common/OSM/DataReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/streams/FileStream.h"
#include "common/streams/FileSystem.h"
#include "splitter/AreaDescriptions.h"
#include "splitter/AreaSplitter.h"
#include "splitter/Areas.h"
#include "splitter/BoundaryRelations.h"
#include "splitter/Log.h"
#include "splitter/Options.h"
#include "splitter/Passes.h"
#include "splitter/PolyFile.h"
#include "splitter/SplitFile.h"
#include "splitter/clip/RunAreas.h"

namespace {

// Everything after the options: any stream, memory or format failure leaves
// as an exception, reported once by RunSplitter.
int RunPhases(const CSettings& settings)
{
    CFileReadStream input(65536);
    CPBInputAdapter pbf;
    if (!input.Open(settings.inputFile) || !pbf.Open(input)) {
        std::puts("Bad input file.");
        return kExitBadInput;
    }
    MakeDirectoryPath(settings.outputDir);

    CStdOutLog log;
    log.enabled = settings.verbose;

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
    if (!settings.poly.empty() || settings.splitFile.empty()) {
        CAreaSplitter splitter(settings.maxNodes, log);
        splitter.Run(areas, pbf, sourceNames.Empty() || settings.processOuter, settings.reserveNodes);
    }
    if (areas.Empty()) {
        std::puts("No areas.");
        return kExitNoAreas;
    }

    log.Line("Write areas list...");
    if (!settings.writeKml.empty())
        WriteKML(settings.outputDir + settings.writeKml, areas, settings.description, settings.multiContour);
    WriteMP(settings.outputDir, areas, settings.multiContour, settings.writeSeparateContours);
    if (settings.poly.empty())
        WriteSplitFile(settings.outputDir + "areas.list", areas);
    else
        WriteAreasPoly(settings.outputDir, settings.description.empty() ? "Areas" : settings.description, areas,
                       settings.writeSeparateContours);

    std::unique_ptr<CBoundaryRelationList> relations;
    if (settings.adminLevel != 0)
        relations = std::make_unique<CBoundaryRelationList>(int32_t(settings.adminLevel),
                                                            settings.outputDir + "relations.txt");
    // Objects the passes make carry the input's time, so the same input
    // gives the same output.
    const int64_t timestamp = input.ModificationTime() * 1000;
    const std::unique_ptr<Clip::CRunAreas> run = PrepareRun(areas);
    for (uint32_t first = 0; first < areas.Count();) {
        uint32_t done = RunPass(pbf, areas, *run, first, relations.get(), settings, timestamp, log);
        if (done == 0)
            return kExitPassFailed;
        first += done;
    }
    if (relations)
        relations->Close();

    log.Line("The work is finished.");
    return kExitDone;
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
        std::puts(e.code == TStreamException::kWrite ? "Error writing output file." : "Error reading input file.");
    } catch (const std::bad_alloc&) {
        std::puts("Out of memory.");
    } catch (const OSM::CDataReader::CBadFileException&) {
        std::puts("Bad input file.");
        return kExitBadInput;
    }
    return kExitIoFailure;
}
