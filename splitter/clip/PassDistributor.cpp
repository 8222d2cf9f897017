#include "splitter/clip/PassDistributor.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "splitter/clip/StageTools.h"

namespace Clip {

using detail::Contains;
using detail::ReadStage;
using detail::Sort;
using detail::SortAndShrink;

namespace {

// The number at the start of a tag value: blanks and a sign allowed, no
// digits reads as 0.
long LeadingInteger(const std::string* value) { return value == nullptr ? 0 : std::strtol(value->c_str(), nullptr, 10); }

bool QualifiesAsMultipolygon(const OSM::TRelation& relation)
{
    const std::string* type = relation.FindTag("type");
    // A boundary relation describes an area too, a country's as much as a
    // town's: its rings are closed in every tile like a multipolygon's.
    if (type != nullptr && (*type == "multipolygon" || *type == "boundary"))
        return true;
    const std::string* boundary = relation.FindTag("boundary");
    return boundary != nullptr && *boundary == "administrative" && LeadingInteger(relation.FindTag("admin_level")) > 2;
}

// Ids are packed into 48 bits next to an area; one that does not fit would
// silently collide with another object.
void CheckKeyId(OSM::TId id)
{
    if (!FitsKey(id)) {
        std::printf("Id %" PRId64 " does not fit in 48 bits\n", id);
        throw OSM::CDataReader::CBadFileException();
    }
}

// Positions off the globe are taken as missing: no way is clipped through
// them, and no cross product of their differences can overflow.
bool IsValidPoint(CGeoPoint p)
{
    return p.y >= -MapUnits::k90 && p.y <= MapUnits::k90 && p.x >= MapUnits::kMinLon && p.x <= MapUnits::kMaxLon;
}

}  // namespace

CPassDistributor::~CPassDistributor() = default;

// ---------------------------------------------------------------------------
// Lookups

int32_t CPassDistributor::NodeArea(OSM::TId id) const
{
    return m_nodeAreas.Find(id);
}

bool CPassDistributor::NodePoint(OSM::TId id, CGeoPoint& point) const
{
    const TWantedNode* at = std::lower_bound(m_wantedNodes.begin(), m_wantedNodes.end(), id,
                                             [](const TWantedNode& n, OSM::TId v) { return n.id < v; });
    if (at == m_wantedNodes.end() || at->id != id || !IsKnownPoint(at->point))
        return false;
    point = CGeoPoint::Unpack(at->point);
    return true;
}

int32_t CPassDistributor::PassAreaOf(int32_t area) const
{
    // Points of the run's other areas are outside this pass.
    if (area < int32_t(m_first) || area - int32_t(m_first) >= int32_t(m_areaCount))
        return -1;
    return area - int32_t(m_first);
}

const TClippedWay* CPassDistributor::ClippedBegin(OSM::TId way) const
{
    return std::lower_bound(m_clippedWays.begin(), m_clippedWays.end(), MakeKey(way, 0),
                            [](const TClippedWay& e, TIdAreaKey k) { return e.key < k; });
}

uint64_t CPassDistributor::BytesHeld() const
{
    // What the pass's tables hold reserved; a set node holds a key and three
    // links and a colour.
    return m_nodeAreas.BytesHeld() + m_relationWays.CapacityBytes() + m_edgeWays.CapacityBytes() +
           m_edgeMultipolygonWays.CapacityBytes() + m_points.CapacityBytes() + m_wantedNodes.CapacityBytes() +
           m_clippedWays.CapacityBytes() + m_ringPieces.CapacityBytes() + m_storedWays.CapacityBytes() +
           m_edgeMultipolygons.CapacityBytes() + m_edgeWayCopies.CapacityBytes() + m_nodeBlocks.CapacityBytes() +
           m_keptPoints.CapacityBytes() +
           m_wayBlocks.CapacityBytes() + m_relationAreas.size() * 40 + (m_run ? m_run->BytesHeld() : 0);
}

// ---------------------------------------------------------------------------
// Reading

// Places the reader on the first entity of kind, or where it would stand: on
// the first entity of a later kind, or at the end. A file without ways must
// not leave the reader wherever the stage before stopped.
void CPassDistributor::SeekFirstBlock(OSM::CPBFReaderAdapter& reader, OSM::EEntityType kind)
{
    std::optional<uint64_t> offset;
    for (int k = kind; k <= OSM::kRelation && !offset; ++k)
        offset = reader.FirstBlockOffset(OSM::EEntityType(k));
    if (!reader.Seek(offset ? *offset : reader.Size()))
        return;
    while (reader.ReadNext() && reader.GetType() < kind) {
    }
    reader.StepBack();
}

void CPassDistributor::SeekBlock(OSM::CPBFReaderAdapter& reader, uint64_t offset)
{
    reader.Seek(offset);
}

void CPassDistributor::NoteBlock(CGrowArray<TBlockSpan>& spans, const OSM::CPBFReaderAdapter& reader, OSM::TId id)
{
    if (spans.Empty() || spans.Back().offset != reader.BlockOffset()) {
        spans.PushBack({reader.BlockOffset(), id, id, 1});
        return;
    }
    TBlockSpan& span = spans.Back();
    span.minId = std::min(span.minId, id);
    span.maxId = std::max(span.maxId, id);
    ++span.count;
}

// The spans cover every entity of kind, so reading on from one wanted block
// into the next needs no seek; the input was checked for order when the
// spans were noted.
template <typename Wants, typename Body>
void CPassDistributor::ReadWanted(OSM::CPBFReaderAdapter& reader, OSM::EEntityType kind,
                                  const CGrowArray<TBlockSpan>& spans, Wants&& wants, Body&& body)
{
    uint64_t next = ~uint64_t(0);  // the span the reader stands right before
    for (uint64_t s = 0; s < spans.Count(); ++s) {
        if (!wants(spans[s]))
            continue;
        if (s != next)
            SeekBlock(reader, spans[s].offset);
        for (uint64_t left = spans[s].count; left > 0 && reader.ReadNext();) {
            if (reader.GetType() == kind) {
                --left;
                body();
            }
        }
        next = s + 1;
    }
}

namespace {

// Whether the sorted ids hold one from min to max.
bool HoldsIdIn(const CGrowArray<OSM::TId>& sorted, OSM::TId min, OSM::TId max)
{
    const OSM::TId* at = std::lower_bound(sorted.begin(), sorted.end(), min);
    return at != sorted.end() && *at <= max;
}

}  // namespace

void CPassDistributor::FindEdgeWays(CPBInputAdapter& input, CRunAreas& run, uint32_t groupSize,
                                    uint32_t capacityHint, CLog& log)
{
    // A way is an edge way of the run when it is one of some group: the
    // group holding one of its nodes sees another node elsewhere.
    CGrowArray<OSM::TId> ways;
    // The passes reserve their node area tables from these counts rather
    // than grow them.
    CGrowArray<uint64_t> nodeCounts;
    nodeCounts.Resize(run.Count());
    std::fill(nodeCounts.begin(), nodeCounts.end(), 0);
    for (uint32_t first = 0; first < run.Count(); first += groupSize) {
        CPassDistributor group;
        group.m_log = &log;
        group.m_run = &run;
        group.m_first = first;
        group.m_areaCount = std::min(groupSize, run.Count() - first);
        group.m_nodeAreas.Reserve(capacityHint);
        char title[64];
        std::snprintf(title, sizeof title, "Find edge ways of areas %u - %u", first, first + group.m_areaCount - 1);
        CStageLog stage(group, log);
        stage.Begin(title);
        input.Stream().Seek(0);
        bool error;
        input.ReadBlob(error);
        OSM::CPBFReaderAdapter reader(input);
        group.InnerNodes(reader);
        for (TIdAreaKey key : group.m_nodeAreas)
            ++nodeCounts[first + uint32_t(KeyArea(key))];
        reader.StepBack();
        group.EdgeWays(reader);
        stage.End();
        ways.Append(group.m_edgeWays.Data(), group.m_edgeWays.Count());
    }
    std::sort(ways.begin(), ways.end());
    ways.Erase(uint64_t(std::unique(ways.begin(), ways.end()) - ways.begin()), ways.Count());
    ways.ShrinkToFit();
    run.SetEdgeWays(std::move(ways));
    run.SetNodeCounts(std::move(nodeCounts));
}

bool CPassDistributor::Run(CPBInputAdapter& input, const CRunAreas& run, uint32_t first,
                           TAreaOutput* const* outputs, uint32_t areaCount, uint32_t capacityHint, int64_t timestamp,
                           CLog& log)
{
    if (areaCount > kMaxPassAreas) {
        std::puts("Bad areas.");
        return false;
    }
    m_log = &log;
    m_run = &run;
    m_first = first;
    m_areaCount = areaCount;
    m_outputs = outputs;

    m_contexts.Reserve(areaCount);
    m_outputIndex.Reserve(areaCount);
    CGrowArray<RTree::TRecord> rects;
    rects.Reserve(areaCount);
    uint32_t outputCount = 0;
    for (uint32_t i = 0; i < areaCount; ++i) {
        m_contexts.PushBack(
            std::make_unique<CAreaClipContext>(run.Polygon(first + i), *outputs[i], i, *this, timestamp));
        rects.PushBack({m_contexts.Back()->Bounds(), i});
        if (i == 0 || outputs[i] != outputs[i - 1])
            ++outputCount;
        m_outputIndex.PushBack(outputCount - 1);
    }
    m_areaTree.Build(rects.Data(), rects.Count());
    m_copySlots.Resize(outputCount);
    std::fill(m_copySlots.begin(), m_copySlots.end(), ~uint32_t(0));
    // Reserved whole, the table never holds an old and a new copy of its
    // keys while growing. A total may exceed what a pass of a few areas
    // holds by more than memory allows: the table then grows as it fills.
    try {
        m_nodeAreas.Reserve(std::max<uint64_t>(capacityHint, run.NodeCount(first, areaCount)));
    } catch (const TBadAlloc&) {
        m_nodeAreas.Reserve(capacityHint);
    }
    try {
        m_keptPoints.Reserve(std::min(m_keptPointLimit, run.NodeCount(first, areaCount)));
    } catch (const TBadAlloc&) {
        m_keptPointLimit = 0;  // read the positions again instead
    }
    m_maxNodeId = m_maxWayId = m_maxRelationId = 0;

    input.Stream().Seek(0);
    bool error;
    input.ReadBlob(error);
    OSM::CPBFReaderAdapter reader(input);

    CStageLog stage(*this, log);
    stage.Begin("Process inner nodes");
    InnerNodes(reader);
    reader.StepBack();
    stage.Begin("Find edge ways");
    EdgeWays(reader);
    if (const CGrowArray<OSM::TId>* runEdgeWays = run.EdgeWays()) {
        // Ways whose nodes all lie in other passes' areas may still cross
        // this pass's areas.
        m_edgeWays.Append(runEdgeWays->Data(), runEdgeWays->Count());
        std::sort(m_edgeWays.begin(), m_edgeWays.end());
        m_edgeWays.Erase(uint64_t(std::unique(m_edgeWays.begin(), m_edgeWays.end()) - m_edgeWays.begin()),
                         m_edgeWays.Count());
        m_edgeWays.ShrinkToFit();
    }
    reader.StepBack();
    stage.Begin("Find edge multipolygons");
    EdgeMultipolygons(reader);

    // New objects never reuse an id of the input.
    for (uint32_t i = 0; i < areaCount; ++i) {
        if (i > 0 && outputs[i] == outputs[i - 1])
            continue;
        TAreaOutput& out = *outputs[i];
        out.nextNodeId = std::max(out.nextNodeId, m_maxNodeId + 1);
        out.nextWayId = std::max(out.nextWayId, m_maxWayId + 1);
        out.nextRelationId = std::max(out.nextRelationId, m_maxRelationId + 1);
    }

    stage.Begin("Find wanted nodes");
    WantedNodes(reader);
    stage.Begin("Get nodes points");
    NodePoints(reader);
    stage.Begin("Clip ways");
    ClipWays();
    stage.Begin("Clip multipolygons");
    ClipMultipolygons();
    stage.Begin("Write inner ways");
    OrderPieces();
    SeekFirstBlock(reader, OSM::kWay);
    InnerWays(reader);
    stage.Begin("Write clipped ways");
    WriteClippedWays();
    reader.StepBack();
    stage.Begin("Get relation regions");
    RelationRegions(reader);
    stage.Begin("Clip relations");
    SeekFirstBlock(reader, OSM::kRelation);
    ClipRelations(reader);
    stage.Begin("Write new multipolygons");
    WriteNewMultipolygons();
    stage.End();
    return true;
}

// Stage 1: nodes inside an area go to it; the node area table remembers where.
void CPassDistributor::InnerNodes(OSM::CPBFReaderAdapter& reader)
{
    uint64_t written = 0;
    bool keep = m_outputs != nullptr && m_keptPointLimit != 0;
    OSM::TId last = std::numeric_limits<OSM::TId>::min();
    // Nodes in no area of the run but near its areas: a way through them
    // alone may still cross an area. Near is within the run's width and
    // height of its bounds; a longer segment from farther out is missed.
    // The run's bounds, not the pass's, so that no tile depends on its pass.
    CGeoRect runBounds;
    for (uint32_t area = 0; area < m_run->Count(); ++area)
        Extend(runBounds, RingBounds(m_run->Polygon(area)));
    const CGeoRect passBounds = AroundBounds(runBounds);
    ReadStage(reader, OSM::kNode, *this, *m_log, "node", "nodes written", [&] {
        OSM::TId id = reader.GetId();
        if (keep && id <= last) {
            keep = false;
            m_keptPoints.Free();
        }
        last = id;
        m_maxNodeId = std::max(m_maxNodeId, id);
        CheckKeyId(id);
        NoteBlock(m_nodeBlocks, reader, id);
        OSM::TNode& node = reader.Node();
        bool border = false;
        const int32_t runArea = m_run->Locate(node.position, &border);
        if (runArea < 0) {
            m_outside.Note(id);
            if (Contains(passBounds, CGeoRect::OfPoint(node.position)))
                m_strayNodes.PushBack({id, node.position.Packed()});
        }
        const int32_t area = PassAreaOf(runArea);
        if (area < 0)
            return written;
        m_nodeAreas.Append(id, area);
        if (m_outputs == nullptr)  // only finding edge ways
            return ++written;
        if (keep && m_keptPoints.Count() < m_keptPointLimit)
            m_keptPoints.PushBack(node.position.Packed());
        if (border && node.FindTag("garmin:extnode") == nullptr)
            node.AddExtNodeTag();
        m_outputs[area]->writer->WriteNode(node);
        return ++written;
    });
    m_nodeAreas.Finish();
    m_keptPoints.ShrinkToFit();
    Sort(m_strayNodes, [](const TWantedNode& a, const TWantedNode& b) { return a.id < b.id; });
    m_strayNodes.ShrinkToFit();
}

CGeoRect CPassDistributor::AroundBounds(const CGeoRect& bounds)
{
    if (bounds.IsEmpty())
        return bounds;
    const int64_t width = MapUnits::Width(bounds.west, bounds.east), height = int64_t(bounds.north) - bounds.south;
    if (3 * width >= int64_t(MapUnits::kTurn))
        return {MapUnits::kMinLon, MapUnits::kMaxLon, std::max<int32_t>(-MapUnits::k90, int32_t(bounds.south - height)),
                std::min<int32_t>(MapUnits::k90, int32_t(bounds.north + height))};
    return {Geometry::LonAdd(bounds.west, -width), Geometry::LonAdd(bounds.east, width),
            int32_t(std::max<int64_t>(-MapUnits::k90, bounds.south - height)),
            int32_t(std::min<int64_t>(MapUnits::k90, bounds.north + height))};
}

bool CPassDistributor::CrossesAnArea(const CGrowArray<OSM::TId>& refs)
{
    CGeoPoint previous;
    bool known = false;
    for (OSM::TId ref : refs) {
        const TWantedNode* stray = std::lower_bound(m_strayNodes.begin(), m_strayNodes.end(), ref,
                                                    [](const TWantedNode& n, OSM::TId id) { return n.id < id; });
        if (stray == m_strayNodes.end() || stray->id != ref) {
            known = false;
            continue;
        }
        const CGeoPoint p = CGeoPoint::Unpack(stray->point);
        if (known) {
            const CGeoPoint segment[2] = {previous, p};
            if (!AreasMeeting(BoundsOf(segment, 2)).Empty())
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
        CheckKeyId(id);
        NoteBlock(m_wayBlocks, reader, id);
        const CGrowArray<OSM::TId>& refs = reader.WayRefs();
        bool edge = false;
        if (refs.Count() >= 2) {
            const TIdAreaKey* key = m_nodeAreas.FindKey(refs[0]);
            const int32_t first = CNodeAreaTable::AreaOf(key);
            for (uint64_t i = 1; i < refs.Count() && !edge; ++i) {
                key = m_nodeAreas.FindKeyAfter(refs[i], key);
                edge = CNodeAreaTable::AreaOf(key) != first;
            }
            // A way through no area's nodes that runs across an area is cut too.
            if (!edge && first < 0 && !m_strayNodes.Empty())
                edge = CrossesAnArea(refs);
        }
        if (edge)
            m_edgeWays.PushBack(id);
        if (m_outputs != nullptr && (edge || (runEdgeWays != nullptr && Contains(*runEdgeWays, id))))
            m_edgeWayCopies.PushBack(reader.Way());
        return m_edgeWays.Count();
    });
    SortAndShrink(m_edgeWays);
    m_edgeWayCopies.ShrinkToFit();
    m_strayNodes.Free();
}

// Stage 3: relations whose rings cross a border, and the ways of all others.
void CPassDistributor::EdgeMultipolygons(OSM::CPBFReaderAdapter& reader)
{
    ReadStage(reader, OSM::kRelation, *this, *m_log, "relation", nullptr, [&] {
        OSM::TId id = reader.GetId();
        m_maxRelationId = std::max(m_maxRelationId, id);
        CheckKeyId(id);
        const OSM::TRelation& relation = reader.Relation();
        bool hasEdge = false;
        for (const OSM::TMember& member : relation.members) {
            if (member.type != OSM::kWay)
                continue;
            if (Contains(m_edgeWays, member.ref)) {
                hasEdge = true;
            } else {
                CheckKeyId(member.ref);
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
    m_relationWays.Erase(
        uint64_t(std::unique(m_relationWays.begin(), m_relationWays.end(),
                             [](TIdAreaKey a, TIdAreaKey b) { return KeyId(a) == KeyId(b); }) -
                 m_relationWays.begin()),
        m_relationWays.Count());
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
            m_wantedNodes.PushBack({ref, kUnreadPoint});
    };
    for (const OSM::TWay& way : m_edgeWayCopies)
        collect(way, Contains(m_edgeMultipolygonWays, way.id));
    CGrowArray<OSM::TId> others;
    for (OSM::TId id : m_edgeMultipolygonWays)
        if ((others.Empty() || others.Back() != id) && !Contains(m_edgeWays, id))
            others.PushBack(id);
    ReadWanted(
        reader, OSM::kWay, m_wayBlocks, [&](const TBlockSpan& span) { return HoldsIdIn(others, span.minId, span.maxId); },
        [&] {
            if (Contains(others, reader.GetId()))
                collect(reader.Way(), true);
        });
    m_wayBlocks.Free();
    Sort(m_wantedNodes, [](const TWantedNode& a, const TWantedNode& b) { return a.id < b.id; });
    m_wantedNodes.Erase(uint64_t(std::unique(m_wantedNodes.begin(), m_wantedNodes.end(),
                                             [](const TWantedNode& a, const TWantedNode& b) { return a.id == b.id; }) -
                                 m_wantedNodes.begin()),
                        m_wantedNodes.Count());
    m_wantedNodes.ShrinkToFit();
    Sort(m_storedWays, [](const OSM::TWay& a, const OSM::TWay& b) { return a.id < b.id; });
    m_storedWays.ShrinkToFit();
}

// Stage 5: positions of the wanted nodes, kept from the first reading or
// read again from the blocks that hold them. A node whose position is not
// on the globe stays unknown, so no way is clipped through it.
void CPassDistributor::NodePoints(OSM::CPBFReaderAdapter& reader)
{
    if (!m_keptPoints.Empty()) {
        for (TWantedNode& wanted : m_wantedNodes) {
            const TIdAreaKey* key = m_nodeAreas.FindKey(wanted.id);
            const uint64_t index = key == nullptr ? m_keptPoints.Count() : uint64_t(key - m_nodeAreas.begin());
            if (index < m_keptPoints.Count()) {
                const uint64_t point = m_keptPoints[index];
                wanted.point = IsValidPoint(CGeoPoint::Unpack(point)) ? point : kUnknownPoint;
            }
        }
    }
    m_keptPoints.Free();
    auto byId = [](const TWantedNode& n, OSM::TId v) { return n.id < v; };
    ReadWanted(
        reader, OSM::kNode, m_nodeBlocks,
        [&](const TBlockSpan& span) {
            for (const TWantedNode* at =
                     std::lower_bound(m_wantedNodes.begin(), m_wantedNodes.end(), span.minId, byId);
                 at != m_wantedNodes.end() && at->id <= span.maxId; ++at)
                if (at->point == kUnreadPoint)
                    return true;
            return false;
        },
        [&] {
            OSM::TId id = reader.GetId();
            TWantedNode* at = std::lower_bound(m_wantedNodes.begin(), m_wantedNodes.end(), id, byId);
            if (at != m_wantedNodes.end() && at->id == id) {
                CGeoPoint p = reader.Node().position;
                if (IsValidPoint(p))
                    at->point = p.Packed();
            }
        });
    m_nodeBlocks.Free();
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
        int32_t area = NodeArea(refs[0]);
        if (area < 0)
            return written;
        const OSM::TWay& way = reader.Way();
        TIdAreaKey* entry = std::lower_bound(m_relationWays.begin(), m_relationWays.end(), MakeKey(id, 0));
        if (entry != m_relationWays.end() && KeyId(*entry) == id)
            *entry = MakeKey(id, area);
        WritePiecesBefore(m_outputIndex[uint32_t(area)], &id);
        m_outputs[area]->writer->WriteWay(way);
        return ++written;
    });
}

// Pieces take new ids, above every input id, except a piece holding a whole
// way, which keeps the way's id and so belongs among the inner ways.
void CPassDistributor::OrderPieces()
{
    const uint32_t outputCount = m_areaCount == 0 ? 0 : m_outputIndex.Back() + 1;
    m_nextPiece.Resize(outputCount);
    m_piecesEnd.Resize(outputCount);
    for (uint32_t area = 0; area < m_areaCount; ++area) {
        const uint32_t output = m_outputIndex[area];
        if (area == 0 || output != m_outputIndex[area - 1])
            m_nextPiece[output] = m_pieceOrder.Count();
        const CGrowArray<TPiece>& pieces = m_contexts[area]->Pieces();
        for (uint32_t i = 0; i < pieces.Count(); ++i)
            if (pieces[i].way.nodeRefs.Count() >= 2)  // shorter pieces are never written
                m_pieceOrder.PushBack({pieces[i].way.id, area, i});
        m_piecesEnd[output] = m_pieceOrder.Count();
    }
    for (uint32_t output = 0; output < outputCount; ++output)
        std::stable_sort(m_pieceOrder.begin() + m_nextPiece[output], m_pieceOrder.begin() + m_piecesEnd[output],
                         [](const TPieceRef& a, const TPieceRef& b) { return OSM::IdBefore(a.id, b.id); });
}

void CPassDistributor::WritePiecesBefore(uint32_t output, const OSM::TId* id)
{
    uint64_t& next = m_nextPiece[output];
    for (; next < m_piecesEnd[output] && (id == nullptr || OSM::IdBefore(m_pieceOrder[next].id, *id)); ++next) {
        const TPieceRef& ref = m_pieceOrder[next];
        m_outputs[ref.area]->writer->WriteWay(m_contexts[ref.area]->Pieces()[ref.index].way);
    }
}

// Stage 9: the pieces left, output by output.
void CPassDistributor::WriteClippedWays()
{
    for (uint32_t output = 0; output < m_piecesEnd.Count(); ++output)
        WritePiecesBefore(output, nullptr);
    m_pieceOrder.Free();
    m_points.Free();
    m_wantedNodes.Free();
}

}  // namespace Clip
