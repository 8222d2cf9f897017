#include "splitter/Passes.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "common/streams/FileStream.h"
#include "common/streams/FileSystem.h"
#include "splitter/BoundaryRelations.h"
#include "splitter/Log.h"
#include "splitter/OSMWriter.h"
#include "splitter/Options.h"
#include "splitter/OutputFiles.h"
#include "splitter/clip/EdgeWaySearch.h"
#include "splitter/clip/PassDistributor.h"

namespace Splitter {

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

CPassRunner::CPassRunner(const COutputPlan& plan, const CSettings& settings, int64_t timestamp,
                         uint64_t nodeTotal, CLog& log)
    : m_plan(plan), m_settings(settings), m_log(log), m_timestamp(timestamp)
{
    const uint64_t count = plan.Areas().Count();
    m_end = settings.describeOnly ? 0 : uint32_t(std::min<uint64_t>(uint64_t(settings.lastArea) + 1, count));
    if (settings.adminLevel != 0 && !settings.describeOnly) {
        // A job sees only the boundaries of its own tiles: it lists them in a
        // file of its own.
        std::string path = settings.outputDir + "relations.txt";
        if (settings.firstArea != 0 || m_end != count)
            path = settings.outputDir + "relations-" + std::to_string(settings.firstArea) + "-" +
                   std::to_string(m_end - 1) + ".txt";
        m_relations = std::make_unique<CBoundaryRelationList>(int32_t(settings.adminLevel), path);
        if (!m_relations->OpenError().empty()) {
            ReportCannotCreate(path, m_relations->OpenError().c_str());
            m_relationsFailed = true;
        }
    }

    // A few descriptors stay free for what a pass opens besides its outputs.
    constexpr uint64_t kSpareFiles = 8;
    const uint64_t freeFiles = FreeFileDescriptors();
    m_maxFiles = uint32_t(std::clamp<uint64_t>(freeFiles - std::min(freeFiles, kSpareFiles), 1, UINT32_MAX));
    if (m_maxFiles < settings.maxAreas && m_maxFiles < count)
        log.Format("Open files are limited: a pass writes at most %u files.", m_maxFiles);

    // Every pass locates nodes in all the areas, so that a node on a border
    // or in an overlap goes to the same area in every pass.
    CGrowArray<const TRing*> polygons;
    polygons.Reserve(count);
    for (const TArea& area : plan.Areas())
        polygons.PushBack(&area.ring);
    m_run = std::make_unique<Clip::CRunAreas>(polygons.Data(), uint32_t(polygons.Count()));
    // A single pass reserves its node table from this count instead of
    // growing it.
    m_run->SetNodeTotal(nodeTotal);
}

CPassRunner::~CPassRunner() = default;

uint32_t CPassRunner::Run(CPBInputAdapter& input, uint32_t first)
{
    const uint64_t end = PassEnd(m_plan, first, m_settings, m_maxFiles);
    TPassFiles files;
    CGrowArray<TAreaOutput> outputs;
    CGrowArray<TAreaOutput*> areaOutputs;
    outputs.Reserve(end - first);
    areaOutputs.Reserve(end - first);
    const TAreaGroup* const groupsEnd = m_plan.Groups().end();
    for (const TAreaGroup* group = &m_plan.GroupOf(first); group != groupsEnd && group->first < end; ++group) {
        auto writer = std::make_unique<COSMWriter>();
        if (!writer->Open(group->tile, m_settings.pbf, m_relations.get())) {
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
    // crossing its areas reaches them wherever the way's nodes lie. Those of
    // the other areas are found first, in groups of two full passes: a
    // group's table holds about half what a pass holds per node. The first
    // pass finds its own while it reads.
    const bool searches = passAreas < m_plan.Areas().Count() && m_run->EdgeWays() == nullptr;
    if (searches) {
        const auto groupSize = uint32_t(std::min<uint64_t>({m_settings.maxAreas, Clip::kMaxPassAreas, m_maxFiles}));
        BeginProgress("Finding the ways that cross borders");
        Clip::CEdgeWaySearch::Find(input, *m_run, std::min(2 * std::max(groupSize, passAreas), Clip::kMaxPassAreas),
                                   first, first + passAreas, m_settings.reserveNodes, m_log);
    }
    m_log.Format("Clipping areas %u - %u...", first, first + passAreas - 1);
    BeginProgress("Areas " + std::to_string(first) + " - " + std::to_string(first + passAreas - 1) + " of " +
                  std::to_string(m_plan.Areas().Count()));
    bool done;
    {
        Clip::CPassDistributor pass;
        done = pass.Run(input,
                        {m_run.get(), first, passAreas, areaOutputs.Data(), m_timestamp, m_settings.reserveNodes, searches},
                        m_log);
        if (done && searches)
            m_run->AddEdgeWays(pass.SpanningWays());
        if (done && m_run->OutsideNodes() == nullptr)
            m_run->SetOutsideNodes(std::move(pass.OutsideNodes()));
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

void CPassRunner::Finish()
{
    if (m_relations)
        m_relations->Close();
}

// Nodes in no area are in no tile. That is expected of polygons whose
// outside is not to be split, and otherwise a gap in the areas.
void CPassRunner::ReportOutsideNodes() const
{
    const Clip::TOutsideNodes* outside = m_run->OutsideNodes();
    if (outside == nullptr || outside->count == 0)
        return;
    const char* lie = outside->count == 1 ? "node lies" : "nodes lie";
    if (!m_settings.poly.empty() && !m_settings.processOuter)
        std::printf("%s input %s outside the polygons: left out, as --process-outer is off.\n",
                    GroupedDigits(outside->count).c_str(), lie);
    else
        std::printf("%s input %s outside every area: in no tile.\n", GroupedDigits(outside->count).c_str(), lie);
    if (!m_settings.verbose)
        return;
    std::string ids;
    for (OSM::TId id : outside->first)
        ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    std::printf("The first of them: %s%s\n", ids.c_str(), outside->count > outside->first.Count() ? ", ..." : "");
}

}  // namespace Splitter
