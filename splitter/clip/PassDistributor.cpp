#include "splitter/clip/PassDistributor.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <limits>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/base/HelperThread.h"
#include "splitter/clip/StageTools.h"
#include "splitter/clip/TagRules.h"

namespace Splitter::Clip {

using detail::Contains;
using detail::ReadStage;
using detail::Sort;
using detail::SortAndShrink;

CPassDistributor::~CPassDistributor() = default;

// ---------------------------------------------------------------------------
// Lookups

const TClippedWay* CPassDistributor::ClippedBegin(OSM::TId way) const
{
    return std::lower_bound(m_clippedWays.begin(), m_clippedWays.end(), MakeKey(way, 0),
                            [](const TClippedWay& e, TIdAreaKey k) { return e.key < k; });
}

uint64_t CPassDistributor::BytesHeld() const
{
    // What the pass's tables hold reserved; a set node holds a key and three
    // links and a colour.
    return (m_nodes ? m_nodes->BytesHeld() : 0) + m_relationWays.CapacityBytes() + m_edgeWays.CapacityBytes() +
           m_spanningWays.CapacityBytes() +
           m_edgeMultipolygonWays.CapacityBytes() + m_lanes[0].points.CapacityBytes() +
           m_lanes[1].points.CapacityBytes() + m_clippedWays.CapacityBytes() +
           m_ringPieces.CapacityBytes() + m_storedWays.CapacityBytes() + m_edgeMultipolygons.CapacityBytes() +
           m_edgeWayCopies.CapacityBytes() + m_wayBlocks.CapacityBytes() + m_relationAreas.size() * 40 +
           (m_run ? m_run->BytesHeld() : 0);
}

namespace {

// Whether the sorted ids hold one from min to max.
bool HoldsIdIn(const CGrowArray<OSM::TId>& sorted, OSM::TId min, OSM::TId max)
{
    const OSM::TId* at = std::lower_bound(sorted.begin(), sorted.end(), min);
    return at != sorted.end() && *at <= max;
}

}  // namespace

void CPassDistributor::Prepare(const TPassPlan& plan, CLog& log)
{
    m_log = &log;
    m_run = plan.run;
    m_areaCount = plan.count;
    m_outputs = plan.outputs;
    m_keepsSpanningWays = plan.keepsSpanningWays;
    m_nodes = std::make_unique<CPassNodes>(*plan.run, plan.first, plan.count);

    m_contexts.Reserve(plan.count);
    m_outputIndex.Reserve(plan.count);
    CGrowArray<RTree::TRecord> rects;
    rects.Reserve(plan.count);
    uint32_t outputCount = 0;
    for (uint32_t i = 0; i < plan.count; ++i) {
        m_contexts.PushBack(std::make_unique<CAreaClipContext>(plan.run->Polygon(plan.first + i), *plan.outputs[i],
                                                               i, *m_nodes, plan.timestamp));
        rects.PushBack({m_contexts.Back()->Bounds(), i});
        if (i == 0 || plan.outputs[i] != plan.outputs[i - 1])
            ++outputCount;
        m_outputIndex.PushBack(outputCount - 1);
    }
    m_areaTree.Build(rects.Data(), rects.Count());
    SetLanes(plan);
    m_copySlots.Resize(outputCount);
    std::fill(m_copySlots.begin(), m_copySlots.end(), ~uint32_t(0));
    m_nodes->SetKeptPointLimit(m_keptPointLimit);
    m_nodes->Reserve(plan.capacityHint);
    m_maxWayId = m_maxRelationId = 0;
}

void CPassDistributor::SetLanes(const TPassPlan& plan)
{
    // Parted at the border between two files nearest the middle, if any.
    m_laneCount = 1;
    m_lanes[0].first = 0;
    m_lanes[0].end = plan.count;
    const uint32_t middle = plan.count / 2;
    for (uint32_t d = 0; d <= middle && m_laneCount == 1; ++d) {
        for (uint32_t at : {middle - d, middle + d}) {
            if (at > 0 && at < plan.count && plan.outputs[at] != plan.outputs[at - 1]) {
                m_lanes[0].end = m_lanes[1].first = at;
                m_lanes[1].end = plan.count;
                m_laneCount = 2;
                break;
            }
        }
    }
    m_lanes[1].reports = false;
}

void CPassDistributor::RunLanes(const std::function<void(TClipLane&)>& work)
{
    if (m_laneCount == 1)
        return work(m_lanes[0]);
    if (std::exception_ptr failure =
            CHelperThread::RunBeside([&] { work(m_lanes[0]); }, [&] { work(m_lanes[1]); }))
        std::rethrow_exception(failure);
}

bool CPassDistributor::Run(CPBInputAdapter& input, const TPassPlan& plan, CLog& log)
{
    if (plan.count > kMaxPassAreas) {
        std::puts("Bad areas.");
        return false;
    }
    Prepare(plan, log);
    const CRunAreas& run = *plan.run;
    OSM::SeekFirstData(input);
    OSM::CPBFReaderAdapter reader(input);

    CStageLog stage(*this, log);
    stage.Begin("Process inner nodes");
    m_nodes->ReadInner(reader, m_outputs, *this, log);
    reader.StepBack();
    stage.Begin("Find edge ways");
    EdgeWays(reader);
    if (const CGrowArray<OSM::TId>* runEdgeWays = run.EdgeWays()) {
        // Ways whose nodes all lie in other passes' areas may still cross
        // this pass's areas.
        detail::MergeSorted(m_edgeWays, *runEdgeWays);
        m_edgeWays.ShrinkToFit();
    }
    reader.StepBack();
    stage.Begin("Find edge multipolygons");
    EdgeMultipolygons(reader);

    // New objects never reuse an id of the input.
    for (uint32_t i = 0; i < m_areaCount; ++i) {
        if (i > 0 && m_outputs[i] == m_outputs[i - 1])
            continue;
        TAreaOutput& out = *m_outputs[i];
        out.nextNodeId = std::max(out.nextNodeId, m_nodes->MaxId() + 1);
        out.nextWayId = std::max(out.nextWayId, m_maxWayId + 1);
        out.nextRelationId = std::max(out.nextRelationId, m_maxRelationId + 1);
    }

    stage.Begin("Find wanted nodes");
    WantedNodes(reader);
    stage.Begin("Get nodes points");
    m_nodes->ReadPoints(reader);
    stage.Begin("Clip ways");
    ClipWays();
    stage.Begin("Clip multipolygons");
    ClipMultipolygons();
    stage.Begin("Write inner ways");
    m_pieceOrder = std::make_unique<CPieceOrder>(m_contexts, m_outputIndex, m_outputs, m_areaCount);
    detail::SeekFirstBlock(reader, OSM::kWay);
    InnerWays(reader);
    stage.Begin("Write clipped ways");
    WriteClippedWays();
    reader.StepBack();
    stage.Begin("Get relation regions");
    RelationRegions(reader);
    stage.Begin("Clip relations");
    detail::SeekFirstBlock(reader, OSM::kRelation);
    ClipRelations(reader);
    stage.Begin("Write new multipolygons");
    WriteNewMultipolygons();
    stage.End();
    return true;
}

bool CPassDistributor::CrossesAnArea(const CGrowArray<OSM::TId>& refs)
{
    CGeoPoint previous;
    bool known = false;
    for (OSM::TId ref : refs) {
        CGeoPoint p;
        if (!m_nodes->StrayPoint(ref, p)) {
            known = false;
            continue;
        }
        if (known) {
            const CGeoPoint segment[2] = {previous, p};
            CGrowArray<uint32_t>& found = m_lanes[0].found;
            found.Clear();
            m_areaTree.Query(BoundsOf(segment, 2), found);
            if (!found.Empty())
                return true;
        }
        previous = p;
        known = true;
    }
    return false;
}

// Stage 2: ways whose nodes lie in different areas (or partly outside).
// A pass keeps a copy of the ways it will cut, and of the run's edge ways,
// so that clipping them needs no second reading of all ways.
void CPassDistributor::EdgeWays(OSM::CPBFReaderAdapter& reader)
{
    const CGrowArray<OSM::TId>* runEdgeWays = m_run->EdgeWays();
    ReadStage(reader, OSM::kWay, *this, *m_log, "way", "edge ways found", [&] {
        OSM::TId id = reader.GetId();
        m_maxWayId = std::max(m_maxWayId, id);
        detail::CheckKeyId(id);
        detail::NoteBlock(m_wayBlocks, reader, id);
        const CGrowArray<OSM::TId>& refs = reader.WayRefs();
        bool edge = false;
        if (refs.Count() >= 2) {
            int32_t first;
            edge = m_nodes->SpansAreas(refs, first);
            if (edge && m_keepsSpanningWays)
                m_spanningWays.PushBack(id);
            // A way through no area's nodes that runs across an area is cut too.
            if (!edge && first < 0 && m_nodes->HasStrayNodes())
                edge = CrossesAnArea(refs);
        }
        if (edge)
            m_edgeWays.PushBack(id);
        if (m_outputs != nullptr && (edge || (runEdgeWays != nullptr && Contains(*runEdgeWays, id))))
            m_edgeWayCopies.PushBack(reader.Way());
        return m_edgeWays.Count();
    });
    SortAndShrink(m_edgeWays);
    SortAndShrink(m_spanningWays);
    m_edgeWayCopies.ShrinkToFit();
    m_nodes->FreeStrayNodes();
}

// Stage 3: relations whose rings cross a border, and the ways of all others.
void CPassDistributor::EdgeMultipolygons(OSM::CPBFReaderAdapter& reader)
{
    ReadStage(reader, OSM::kRelation, *this, *m_log, "relation", nullptr, [&] {
        OSM::TId id = reader.GetId();
        m_maxRelationId = std::max(m_maxRelationId, id);
        detail::CheckKeyId(id);
        const OSM::TRelation& relation = reader.Relation();
        bool hasEdge = false;
        for (const OSM::TMember& member : relation.members) {
            if (member.type != OSM::kWay)
                continue;
            if (Contains(m_edgeWays, member.ref)) {
                hasEdge = true;
            } else {
                detail::CheckKeyId(member.ref);
                m_relationWays.PushBack(MakeKey(member.ref, kNoArea));
            }
        }
        if (hasEdge && QualifiesAsMultipolygon(relation)) {
            m_edgeMultipolygons.PushBack(relation);
            for (const OSM::TMember& member : relation.members)
                if (member.type == OSM::kWay)
                    m_edgeMultipolygonWays.PushBack(member.ref);
        }
        return uint64_t(0);
    });
    SortAndShrink(m_edgeMultipolygonWays);
    Sort(m_relationWays);
    m_relationWays.EraseRepeats([](TIdAreaKey a, TIdAreaKey b) { return KeyId(a) == KeyId(b); });
    m_relationWays.ShrinkToFit();
    m_log->Format("%" PRIu64 " edge multipolygons, %" PRIu64 " edge mp ways, %" PRIu64 " other relations ways",
                  m_edgeMultipolygons.Count(), m_edgeMultipolygonWays.Count(), m_relationWays.Count());
}

// Stage 4: the nodes that clipping needs the positions of. Members of edge
// multipolygons that cross no border are read again, from the blocks that
// hold them.
void CPassDistributor::WantedNodes(OSM::CPBFReaderAdapter& reader)
{
    auto collect = [&](const OSM::TWay& way, bool multipolygonWay) {
        if (multipolygonWay)
            m_storedWays.PushBack(way);
        for (OSM::TId ref : way.nodeRefs)
            m_nodes->Want(ref);
    };
    for (const OSM::TWay& way : m_edgeWayCopies)
        collect(way, Contains(m_edgeMultipolygonWays, way.id));
    CGrowArray<OSM::TId> others;
    for (OSM::TId id : m_edgeMultipolygonWays)
        if ((others.Empty() || others.Back() != id) && !Contains(m_edgeWays, id))
            others.PushBack(id);
    detail::ReadWanted(
        reader, OSM::kWay, m_wayBlocks, [&](const detail::TBlockSpan& span) { return HoldsIdIn(others, span.minId, span.maxId); },
        [&] {
            if (Contains(others, reader.GetId()))
                collect(reader.Way(), true);
        });
    m_wayBlocks.Free();
    m_nodes->FinishWanted();
    Sort(m_storedWays, [](const OSM::TWay& a, const OSM::TWay& b) { return a.id < b.id; });
    m_storedWays.ShrinkToFit();
}

// Stage 8: ways lying in one area go there unchanged.
void CPassDistributor::InnerWays(OSM::CPBFReaderAdapter& reader)
{
    uint64_t written = 0;
    ReadStage(reader, OSM::kWay, *this, *m_log, "way", "ways written", [&] {
        OSM::TId id = reader.GetId();
        if (Contains(m_edgeWays, id))
            return written;
        // Ways of other passes' areas are passed over undecoded.
        const CGrowArray<OSM::TId>& refs = reader.WayRefs();
        if (refs.Empty())
            return written;
        int32_t area = m_nodes->NodeArea(refs[0]);
        if (area < 0)
            return written;
        const OSM::TWay& way = reader.Way();
        TIdAreaKey* entry = std::lower_bound(m_relationWays.begin(), m_relationWays.end(), MakeKey(id, 0));
        if (entry != m_relationWays.end() && KeyId(*entry) == id)
            *entry = MakeKey(id, area);
        m_pieceOrder->WriteBefore(m_outputIndex[uint32_t(area)], &id);
        m_outputs[area]->writer->WriteWay(way);
        return ++written;
    });
}

// Stage 9: the pieces left, output by output.
void CPassDistributor::WriteClippedWays()
{
    m_pieceOrder->WriteRest();
    m_pieceOrder.reset();
    for (TClipLane& lane : m_lanes)
        lane.points.Free();
    m_nodes->FreeWanted();
}

}  // namespace Splitter::Clip
