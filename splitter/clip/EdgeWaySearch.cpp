#include "splitter/clip/EdgeWaySearch.h"

#include <algorithm>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"

namespace Splitter::Clip {

void CEdgeWaySearch::Find(CPBInputAdapter& input, CRunAreas& run, uint32_t groupSize, uint32_t skipFirst,
                          uint32_t skipEnd, uint32_t capacityHint, CLog& log)
{
    // A way is an edge way of the run when it is one of some group: the
    // group holding one of its nodes sees another node elsewhere. So is it
    // of any grouping of the areas.
    CGrowArray<OSM::TId> ways;
    // The passes reserve their node area tables from these counts rather
    // than grow them.
    CGrowArray<uint64_t> nodeCounts;
    nodeCounts.Resize(run.Count());
    std::fill(nodeCounts.begin(), nodeCounts.end(), 0);
    if (skipFirst >= skipEnd)
        skipFirst = skipEnd = run.Count();
    bool counted = false;
    for (uint32_t first = 0; first < run.Count();) {
        if (first == skipFirst) {
            first = skipEnd;
            continue;
        }
        // Groups end where the left-out areas begin.
        const uint32_t end = std::min(first < skipFirst ? skipFirst : run.Count(), first + groupSize);
        CEdgeWaySearch group(run, first, end - first);
        group.m_nodes.Reserve(capacityHint);
        group.Search(input, ways, counted ? nullptr : nodeCounts.Data(), log);
        counted = true;
        first = end;
    }
    std::sort(ways.begin(), ways.end());
    ways.EraseRepeats();
    ways.ShrinkToFit();
    run.SetEdgeWays(std::move(ways));
    if (counted)
        run.SetNodeCounts(std::move(nodeCounts));
}

void CEdgeWaySearch::Search(CPBInputAdapter& input, CGrowArray<OSM::TId>& ways, uint64_t* counts, CLog& log)
{
    char title[64];
    std::snprintf(title, sizeof title, "Find edge ways of areas %u - %u", m_first, m_first + m_count - 1);
    CStageLog stage(*this, log);
    stage.Begin(title);
    OSM::SeekFirstData(input);
    OSM::CPBFReaderAdapter reader(input);
    m_nodes.ReadInner(reader, nullptr, *this, log, counts);
    reader.StepBack();
    detail::ReadStage(reader, OSM::kWay, *this, log, "way", "edge ways found", [&] {
        const OSM::TId id = reader.GetId();
        detail::CheckKeyId(id);
        const CGrowArray<OSM::TId>& refs = reader.WayRefs();
        int32_t firstArea;
        if (refs.Count() >= 2 && m_nodes.SpansAreas(refs, firstArea))
            m_edgeWays.PushBack(id);
        return m_edgeWays.Count();
    });
    stage.End();
    ways.Append(m_edgeWays.Data(), m_edgeWays.Count());
}

uint64_t CEdgeWaySearch::BytesHeld() const
{
    return m_nodes.BytesHeld() + m_edgeWays.CapacityBytes() + m_run.BytesHeld();
}

}  // namespace Splitter::Clip
