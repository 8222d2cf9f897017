#include "splitter/clip/PassNodes.h"

#include <algorithm>
#include <limits>

#include "common/OSM/PBFReader.h"

namespace Splitter::Clip {

using detail::Contains;
using detail::ReadStage;
using detail::Sort;

namespace {

// Positions off the globe are taken as missing: no way is clipped through
// them, and no cross product of their differences can overflow.
bool IsValidPoint(CGeoPoint p)
{
    return p.y >= -MapUnits::k90 && p.y <= MapUnits::k90 && p.x >= MapUnits::kMinLon && p.x <= MapUnits::kMaxLon;
}

// bounds grown by its width and height on every side, within the globe.
CGeoRect AroundBounds(const CGeoRect& bounds)
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

}  // namespace

void CPassNodes::Reserve(uint64_t capacityHint)
{
    // Reserved whole, the table never holds an old and a new copy of its
    // keys while growing. A total may exceed what a pass of a few areas
    // holds by more than memory allows: the table then grows as it fills.
    const uint64_t nodes = m_run.NodeCount(m_first, m_count);
    try {
        m_nodeAreas.Reserve(std::max(capacityHint, nodes));
    } catch (const TBadAlloc&) {
        m_nodeAreas.Reserve(capacityHint);
    }
    try {
        m_keptPoints.Reserve(std::min(m_keptPointLimit, nodes));
    } catch (const TBadAlloc&) {
        m_keptPointLimit = 0;  // read the positions again instead
    }
}

int32_t CPassNodes::PassAreaOf(int32_t area) const
{
    // Points of the run's other areas are outside this pass.
    if (area < int32_t(m_first) || area - int32_t(m_first) >= int32_t(m_count))
        return -1;
    return area - int32_t(m_first);
}

const CPassNodes::TWantedNode* CPassNodes::FindNode(const CGrowArray<TWantedNode>& nodes, OSM::TId id)
{
    const TWantedNode* at =
        std::lower_bound(nodes.begin(), nodes.end(), id, [](const TWantedNode& n, OSM::TId v) { return n.id < v; });
    return at != nodes.end() && at->id == id ? at : nullptr;
}

bool CPassNodes::NodePoint(OSM::TId id, CGeoPoint& point) const
{
    const TWantedNode* at = FindNode(m_wantedNodes, id);
    if (at == nullptr || !IsKnownPoint(at->point))
        return false;
    point = CGeoPoint::Unpack(at->point);
    return true;
}

bool CPassNodes::StrayPoint(OSM::TId id, CGeoPoint& point) const
{
    const TWantedNode* at = FindNode(m_strayNodes, id);
    if (at == nullptr)
        return false;
    point = CGeoPoint::Unpack(at->point);
    return true;
}

uint64_t CPassNodes::BytesHeld() const
{
    return m_nodeAreas.BytesHeld() + m_wantedNodes.CapacityBytes() + m_nodeBlocks.CapacityBytes() +
           m_keptPoints.CapacityBytes();
}

void CPassNodes::ReadInner(OSM::CPBFReaderAdapter& reader, TAreaOutput* const* outputs, const CMemoryHolder& owner,
                           CLog& log, uint64_t* runCounts)
{
    uint64_t written = 0;
    bool keep = outputs != nullptr && m_keptPointLimit != 0;
    OSM::TId last = std::numeric_limits<OSM::TId>::min();
    // Nodes in no area of the run but near its areas: a way through them
    // alone may still cross an area. Near is within the run's width and
    // height of its bounds; a longer segment from farther out is missed.
    // The run's bounds, not the pass's, so that no tile depends on its pass.
    const CGeoRect nearBounds = AroundBounds(m_run.Bounds());
    ReadStage(reader, OSM::kNode, owner, log, "node", "nodes written", [&] {
        OSM::TId id = reader.GetId();
        if (keep && id <= last) {
            keep = false;
            m_keptPoints.Free();
        }
        last = id;
        m_maxId = std::max(m_maxId, id);
        detail::CheckKeyId(id);
        detail::NoteBlock(m_nodeBlocks, reader, id);
        OSM::TNode& node = reader.Node();
        bool border = false;
        const int32_t runArea = m_run.Locate(node.position, &border);
        if (runArea >= 0 && runCounts != nullptr)
            ++runCounts[runArea];
        if (runArea < 0) {
            m_outside.Note(id);
            if (outputs != nullptr && Contains(nearBounds, CGeoRect::OfPoint(node.position)))
                m_strayNodes.PushBack({id, node.position.Packed()});
        }
        const int32_t area = PassAreaOf(runArea);
        if (area < 0)
            return written;
        m_nodeAreas.Append(id, area);
        if (outputs == nullptr)
            return ++written;
        if (keep && m_keptPoints.Count() < m_keptPointLimit)
            m_keptPoints.PushBack(node.position.Packed());
        if (border && node.FindTag("garmin:extnode") == nullptr)
            node.AddExtNodeTag();
        outputs[area]->writer->WriteNode(node);
        return ++written;
    });
    m_nodeAreas.Finish();
    m_keptPoints.ShrinkToFit();
    Sort(m_strayNodes, [](const TWantedNode& a, const TWantedNode& b) { return a.id < b.id; });
    m_strayNodes.ShrinkToFit();
}

bool CPassNodes::SpansAreas(const CGrowArray<OSM::TId>& refs, int32_t& first) const
{
    const TIdAreaKey* key = m_nodeAreas.FindKey(refs[0]);
    first = CNodeAreaTable::AreaOf(key);
    for (uint64_t i = 1; i < refs.Count(); ++i) {
        key = m_nodeAreas.FindKeyAfter(refs[i], key);
        if (CNodeAreaTable::AreaOf(key) != first)
            return true;
    }
    return false;
}

void CPassNodes::FinishWanted()
{
    Sort(m_wantedNodes, [](const TWantedNode& a, const TWantedNode& b) { return a.id < b.id; });
    m_wantedNodes.EraseRepeats([](const TWantedNode& a, const TWantedNode& b) { return a.id == b.id; });
    m_wantedNodes.ShrinkToFit();
}

void CPassNodes::ReadPoints(OSM::CPBFReaderAdapter& reader)
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
    detail::ReadWanted(
        reader, OSM::kNode, m_nodeBlocks,
        [&](const detail::TBlockSpan& span) {
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

}  // namespace Splitter::Clip
