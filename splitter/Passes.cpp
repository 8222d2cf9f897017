#include "splitter/Passes.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "splitter/Log.h"
#include "splitter/OSMWriter.h"
#include "splitter/Options.h"
#include "splitter/clip/PassDistributor.h"

std::unique_ptr<Clip::CRunAreas> PrepareRun(const TAreaList& areas)
{
    CGrowArray<const TRing*> polygons;
    polygons.Reserve(areas.Count());
    for (const TArea& area : areas)
        polygons.PushBack(&area.ring);
    return std::make_unique<Clip::CRunAreas>(polygons.Data(), uint32_t(polygons.Count()));
}

uint32_t RunPass(CPBInputAdapter& input, const TAreaList& areas, Clip::CRunAreas& run, uint32_t first,
                 CBoundaryRelationList* relations, const CSettings& settings, int64_t timestamp, CLog& log)
{
    const uint64_t total = areas.Count();
    // A pass keeps area indices in 16 signed bits, whatever max-areas says.
    const uint32_t maxAreas = std::min(settings.maxAreas, Clip::kMaxPassAreas);
    CGrowArray<std::unique_ptr<COSMWriter>> writers;
    CGrowArray<TAreaOutput> outputs;
    CGrowArray<TAreaOutput*> areaOutputs;
    outputs.Reserve(total);
    areaOutputs.Reserve(total);

    uint32_t passAreas = 0;
    for (uint64_t i = first; i < total; ++i) {
        const TArea& area = areas[i];
        // Contours of one source share a file, and a pass, even beyond
        // max-areas. Areas without a source stand alone.
        if (passAreas == Clip::kMaxPassAreas)
            break;
        bool joins = settings.multiContour && !outputs.Empty() && area.source != nullptr &&
                     area.source == areas[i - 1].source;
        if (!joins) {
            if (passAreas >= maxAreas)
                break;
            const std::string& base = settings.multiContour && area.source != nullptr ? *area.source : area.name;
            std::string path = settings.outputDir + base + (settings.pbf ? ".osm.pbf" : ".osm");
            auto writer = std::make_unique<COSMWriter>();
            if (!writer->Open(path, settings.pbf, relations)) {
                std::puts("Error creating output file.");
                return 0;  // the files made so far are completed by their destructors
            }
            outputs.EmplaceBack().writer = writer.get();
            writers.PushBack(std::move(writer));
        }
        areaOutputs.PushBack(&outputs.Back());
        ++passAreas;
    }

    // A pass cuts every way that crosses a border anywhere, so that a way
    // crossing its areas reaches them wherever the way's nodes lie.
    if (first + passAreas < total && run.EdgeWays() == nullptr)
        Clip::CPassDistributor::FindEdgeWays(input, run, passAreas, settings.reserveNodes, log);
    log.Format("Clipping areas %u - %u...", first, first + passAreas - 1);
    bool done;
    {
        Clip::CPassDistributor pass;
        done = pass.Run(input, run, first, areaOutputs.Data(), passAreas, settings.reserveNodes, timestamp, log);
    }
    for (auto& writer : writers)
        writer->Close();
    return done ? passAreas : 0;
}
