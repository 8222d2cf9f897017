#include "splitter/Passes.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "common/streams/FileStream.h"
#include "splitter/Log.h"
#include "splitter/OSMWriter.h"
#include "splitter/Options.h"
#include "splitter/OutputFiles.h"
#include "splitter/clip/PassDistributor.h"

std::unique_ptr<Clip::CRunAreas> PrepareRun(const TAreaList& areas)
{
    CGrowArray<const TRing*> polygons;
    polygons.Reserve(areas.Count());
    for (const TArea& area : areas)
        polygons.PushBack(&area.ring);
    return std::make_unique<Clip::CRunAreas>(polygons.Data(), uint32_t(polygons.Count()));
}

namespace {

// The output files of one pass. Unless the pass ends well, they are removed:
// a tile cut short by a failure must not pass for a complete one.
struct TPassFiles {
    CGrowArray<std::unique_ptr<COSMWriter>> writers;
    bool keep = false;

    ~TPassFiles()
    {
        if (!keep)
            for (auto& writer : writers)
                writer->Discard();
    }
};

}  // namespace

bool CheckPassGroups(const COutputPlan& plan)
{
    bool fit = true;
    for (const TAreaGroup& group : plan.Groups()) {
        if (group.last - group.first > Clip::kMaxPassAreas) {
            std::printf("The %llu areas of \"%s\" share one output file, but one pass can clip at most %u areas.\n",
                        static_cast<unsigned long long>(group.last - group.first), group.label->c_str(),
                        Clip::kMaxPassAreas);
            fit = false;
        }
    }
    return fit;
}

uint64_t PassEnd(const COutputPlan& plan, uint64_t first, const CSettings& settings, uint32_t maxFiles)
{
    // A pass keeps area indices in 16 signed bits, whatever max-areas says.
    const uint64_t maxAreas = std::min(settings.maxAreas, Clip::kMaxPassAreas);
    // Areas past the range of this job belong to other jobs.
    const uint64_t stop = std::min<uint64_t>(plan.Areas().Count(), uint64_t(settings.lastArea) + 1);
    uint64_t end = first, files = 0;
    for (const TAreaGroup* group = first < stop ? &plan.GroupOf(first) : nullptr; end < stop; ++group) {
        // Contours of one source share a file, and therefore a pass, even
        // beyond max-areas: a second pass would truncate the file.
        const uint64_t passAreas = end - first;
        if (passAreas != 0 && (passAreas >= maxAreas || files >= maxFiles ||
                               passAreas + (group->last - group->first) > Clip::kMaxPassAreas))
            break;
        end = group->last;
        ++files;
    }
    return end;
}

uint32_t RunPass(CPBInputAdapter& input, const COutputPlan& plan, Clip::CRunAreas& run, uint32_t first,
                 CBoundaryRelationList* relations, const CSettings& settings, uint32_t maxFiles, int64_t timestamp,
                 CLog& log)
{
    const TAreaList& areas = plan.Areas();
    const uint64_t end = PassEnd(plan, first, settings, maxFiles);
    TPassFiles files;
    CGrowArray<TAreaOutput> outputs;
    CGrowArray<TAreaOutput*> areaOutputs;
    outputs.Reserve(end - first);
    areaOutputs.Reserve(end - first);
    for (const TAreaGroup* group = &plan.GroupOf(first); group != plan.Groups().end() && group->first < end; ++group) {
        auto writer = std::make_unique<COSMWriter>();
        if (!writer->Open(group->tile, settings.pbf, relations)) {
            ReportCannotCreate(group->tile, writer->OpenError());
            std::puts("Error creating output file.");
            return 0;
        }
        TAreaOutput& output = outputs.EmplaceBack();
        output.writer = writer.get();
        output.shared = group->last - group->first > 1;
        files.writers.PushBack(std::move(writer));
        for (uint64_t i = group->first; i < group->last; ++i)
            areaOutputs.PushBack(&output);
    }
    const auto passAreas = uint32_t(end - first);

    // A pass cuts every way that crosses a border anywhere, so that a way
    // crossing its areas reaches them wherever the way's nodes lie. The ways
    // are found in groups of a full pass, whatever this job's range.
    if (passAreas < areas.Count() && run.EdgeWays() == nullptr) {
        const auto groupSize = uint32_t(std::min<uint64_t>({settings.maxAreas, Clip::kMaxPassAreas, maxFiles}));
        BeginProgress("Finding the ways that cross borders");
        Clip::CPassDistributor::FindEdgeWays(input, run, std::max(groupSize, passAreas), settings.reserveNodes, log);
    }
    log.Format("Clipping areas %u - %u...", first, first + passAreas - 1);
    BeginProgress("Areas " + std::to_string(first) + " - " + std::to_string(first + passAreas - 1) + " of " +
                  std::to_string(areas.Count()));
    bool done;
    {
        Clip::CPassDistributor pass;
        done = pass.Run(input, run, first, areaOutputs.Data(), passAreas, settings.reserveNodes, timestamp, log);
        if (done && run.OutsideNodes() == nullptr)
            run.SetOutsideNodes(std::move(pass.OutsideNodes()));
    }
    if (!done)
        return 0;
    // Every file is completed before any is waited for, so that the blob
    // worker compresses the last blocks while the others are made, and one
    // sync makes the whole pass durable instead of one per file in turn.
    for (auto& writer : files.writers)
        writer->Complete();
    CGrowArray<CFileWriteStream*> streams;
    streams.Reserve(files.writers.Count());
    for (auto& writer : files.writers)
        streams.PushBack(&writer->CompletedStream());
    CFileWriteStream::SyncAll(streams.Data(), streams.Count());
    for (auto& writer : files.writers)
        writer->Close();
    files.keep = true;
    return passAreas;
}
