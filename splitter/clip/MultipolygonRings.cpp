#include "splitter/clip/MultipolygonRings.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <unordered_set>
#include <vector>

#include "splitter/Log.h"
#include "splitter/areas/AreaGeometry.h"

namespace Splitter::Clip {

namespace {

constexpr uint64_t kNoMember = UINT64_MAX;

// Where a ring may join at an end node: its position, so that two nodes at
// one place join rings as they do in the assemblers that read the tiles; a
// node of unknown position joins by its id alone.
struct TPlace {
    uint64_t point;  // packed, or 0 when unknown
    OSM::TId unknown;
    bool known;

    friend bool operator==(const TPlace&, const TPlace&) = default;
    friend auto operator<=>(const TPlace&, const TPlace&) = default;
};

TPlace PlaceOf(OSM::TId node, const CNodeIndex& nodes)
{
    CGeoPoint p;
    if (!nodes.NodePoint(node, p))
        return {0, node, false};
    return {p.Packed(), 0, true};
}

// A member way taking part in ring assembly.
struct TMember {
    const OSM::TWay* way;
    bool outer;
    bool reversed;
    TPlace first, last;  // of the way's own first and last node
    // The node lists of the way's own first and last node in its group.
    uint64_t firstList = 0, lastList = 0;

    const TPlace& FirstNode() const { return reversed ? last : first; }
    const TPlace& LastNode() const { return reversed ? first : last; }
    // The node lists of the ends in the way's current direction.
    uint64_t FirstList() const { return reversed ? lastList : firstList; }
    uint64_t LastList() const { return reversed ? firstList : lastList; }
};

// Joins members into chains. The order that decides which way a chain takes
// is that of a list: each unused way stands in a slot, the first unused way
// in the lowest slot. A way added at the end of a chain gives its slot to
// the first unused way; one added at its start leaves its slot empty. Each
// node list holds the unused ways of one group ending at one node, as a heap
// of (slot, way) with the lowest slot on top; entries whose way has left
// their slot are dropped as they come to the top. So every step costs a few
// heap operations, not a scan of the unused ways.
class CChainJoiner {
public:
    explicit CChainJoiner(CGrowArray<TMember>& members);

    // Takes the next chain, in chain order, into chain; false when every
    // way is used. closed tells whether the chain closed into a ring.
    bool Next(CGrowArray<uint64_t>& chain, bool& closed);

private:
    struct TEntry {
        uint64_t slot;
        uint64_t member;
    };
    static bool LowerOnTop(const TEntry& a, const TEntry& b) { return a.slot > b.slot; }

    // The unused way in the lowest slot; there must be one.
    uint64_t FirstUnused();
    // The unused way in the lowest slot of the node list, or kNoMember.
    uint64_t FirstIn(uint64_t list);
    void Use(uint64_t member) { m_atSlot[m_slotOf[member]] = kNoMember; }
    void MoveTo(uint64_t member, uint64_t slot);

    CGrowArray<TMember>& m_members;
    CGrowArray<uint64_t> m_slotOf;  // per member
    CGrowArray<uint64_t> m_atSlot;  // per slot: its member, or kNoMember
    uint64_t m_lowest = 0;          // no slot below it holds a member
    std::vector<std::vector<TEntry>> m_lists;
    CGrowArray<uint64_t> m_atStart;  // chain ways added at its start, last added last
};

CChainJoiner::CChainJoiner(CGrowArray<TMember>& members) : m_members(members)
{
    struct TEnd {
        bool outer;
        TPlace node;
        uint64_t member;
        bool last;
    };
    CGrowArray<TEnd> ends;
    ends.Reserve(2 * members.Count());
    for (uint64_t i = 0; i < members.Count(); ++i) {
        ends.PushBack({members[i].outer, members[i].first, i, false});
        if (members[i].last != members[i].first)
            ends.PushBack({members[i].outer, members[i].last, i, true});
    }
    std::sort(ends.begin(), ends.end(), [](const TEnd& a, const TEnd& b) {
        if (a.outer != b.outer)
            return a.outer < b.outer;
        return a.node != b.node ? a.node < b.node : a.member < b.member;
    });
    // Sorted by slot, each list is a heap already.
    for (uint64_t e = 0; e < ends.Count(); ++e) {
        if (e == 0 || ends[e].outer != ends[e - 1].outer || ends[e].node != ends[e - 1].node)
            m_lists.emplace_back();
        const uint64_t list = m_lists.size() - 1;
        m_lists.back().push_back({ends[e].member, ends[e].member});
        TMember& member = m_members[ends[e].member];
        if (ends[e].last)
            member.lastList = list;
        else
            member.firstList = list;
        if (member.first == member.last)  // it closes itself: one list
            member.lastList = list;
    }
    m_slotOf.Reserve(members.Count());
    m_atSlot.Reserve(members.Count());
    for (uint64_t i = 0; i < members.Count(); ++i) {
        m_slotOf.PushBack(i);
        m_atSlot.PushBack(i);
    }
}

uint64_t CChainJoiner::FirstUnused()
{
    while (m_atSlot[m_lowest] == kNoMember)
        ++m_lowest;
    return m_atSlot[m_lowest];
}

uint64_t CChainJoiner::FirstIn(uint64_t list)
{
    std::vector<TEntry>& heap = m_lists[list];
    while (!heap.empty() && m_atSlot[heap.front().slot] != heap.front().member) {
        std::pop_heap(heap.begin(), heap.end(), LowerOnTop);
        heap.pop_back();
    }
    return heap.empty() ? kNoMember : heap.front().member;
}

// Slots only grow: a way never comes back to a slot it left, so an entry is
// current exactly when its slot still holds its way.
void CChainJoiner::MoveTo(uint64_t member, uint64_t slot)
{
    m_atSlot[m_slotOf[member]] = kNoMember;
    m_atSlot[slot] = member;
    m_slotOf[member] = slot;
    const TMember& m = m_members[member];
    for (uint64_t list : {m.firstList, m.lastList}) {
        m_lists[list].push_back({slot, member});
        std::push_heap(m_lists[list].begin(), m_lists[list].end(), LowerOnTop);
        if (m.firstList == m.lastList)
            break;
    }
}

bool CChainJoiner::Next(CGrowArray<uint64_t>& chain, bool& closed)
{
    chain.Clear();
    m_atStart.Clear();
    while (m_lowest < m_atSlot.Count() && m_atSlot[m_lowest] == kNoMember)
        ++m_lowest;
    if (m_lowest == m_atSlot.Count())
        return false;
    uint64_t head = m_atSlot[m_lowest];
    uint64_t tail = head;
    Use(head);
    chain.PushBack(head);
    closed = false;
    while (!closed) {
        const TPlace startNode = m_members[head].FirstNode(), endNode = m_members[tail].LastNode();
        if (startNode == endNode) {
            closed = true;
            break;
        }
        const uint64_t atEnd = FirstIn(m_members[tail].LastList());
        const uint64_t atStart = FirstIn(m_members[head].FirstList());
        uint64_t found = atEnd;
        if (found == kNoMember || (atStart != kNoMember && m_slotOf[atStart] < m_slotOf[found]))
            found = atStart;
        if (found == kNoMember)
            break;
        TMember& way = m_members[found];
        const TPlace first = way.first, last = way.last;
        const bool append = first == endNode || (last != startNode && last == endNode);
        way.reversed = first != endNode && last != startNode;
        if (append) {
            const uint64_t firstUnused = FirstUnused();
            const uint64_t slot = m_slotOf[found];
            Use(found);
            if (firstUnused != found)
                MoveTo(firstUnused, slot);
            chain.PushBack(found);
            tail = found;
        } else {
            Use(found);
            m_atStart.PushBack(found);
            head = found;
        }
    }
    if (!m_atStart.Empty()) {
        std::reverse(m_atStart.begin(), m_atStart.end());
        m_atStart.Append(chain.Data(), chain.Count());
        chain.Swap(m_atStart);
    }
    return true;
}

// Turns the ring so that the polygon lies to its right: outer rings run
// clockwise, inner rings the other way round. False, after reporting the
// missing node when report is set, when a point is not known.
bool OrientRing(TMember* const* ring, uint64_t count, const CNodeIndex& nodes, CGrowArray<CGeoPoint>& points,
                bool report)
{
    points.Clear();
    for (uint64_t k = 0; k < count; ++k) {
        uint64_t start = points.Count();
        for (OSM::TId ref : ring[k]->way->nodeRefs) {
            CGeoPoint p;
            if (!nodes.NodePoint(ref, p)) {
                if (report)
                    ReportMissing("Node", ref);
                return false;
            }
            points.PushBack(p);
        }
        if (ring[k]->reversed)
            std::reverse(points.begin() + start, points.end());
        points.PopBack();
    }
    if (Geometry::IsClockwiseWrapped(points.Data(), points.Count()) != ring[0]->outer)
        for (uint64_t k = 0; k < count; ++k)
            ring[k]->reversed = !ring[k]->reversed;
    return true;
}

}  // namespace

void AssembleRings(const OSM::TRelation& relation, const CGrowArray<OSM::TWay>& storedWays, const CNodeIndex& nodes,
                   CGrowArray<TRingWay>& rings, CGrowArray<TRing>* shapes, bool report)
{
    CGrowArray<TMember> members;
    std::unordered_set<const OSM::TWay*> taken;
    for (const OSM::TMember& member : relation.members) {
        if (member.type != OSM::kWay)
            continue;
        const OSM::TWay* way = std::lower_bound(storedWays.begin(), storedWays.end(), member.ref,
                                                [](const OSM::TWay& w, OSM::TId id) { return w.id < id; });
        if (way == storedWays.end() || way->id != member.ref) {
            if (report)
                ReportMissing("Way", member.ref);
            continue;
        }
        if (way->nodeRefs.Count() < 2 || !taken.insert(way).second)
            continue;
        members.PushBack({way, member.role != "inner", false, PlaceOf(way->nodeRefs[0], nodes),
                          PlaceOf(way->nodeRefs.Back(), nodes)});
    }
    CChainJoiner joiner(members);
    CGrowArray<uint64_t> chain;
    CGrowArray<TMember*> ring;
    CGrowArray<CGeoPoint> points;
    uint32_t ringCount = 0;
    bool closed;
    while (joiner.Next(chain, closed)) {
        if (!closed) {
            if (report)
                ReportProblem("Multipolygon " + std::to_string(relation.id) + " has unclosed ring, way " +
                          std::to_string(members[chain[0]].way->id));
            continue;
        }
        ring.Clear();
        for (uint64_t m : chain)
            ring.PushBack(&members[m]);
        if (!OrientRing(ring.Data(), ring.Count(), nodes, points, report))
            continue;
        if (shapes != nullptr)
            shapes->EmplaceBack().Append(points.Data(), points.Count());
        for (const TMember* way : ring)
            rings.PushBack({way->way, way->reversed, way->outer, ringCount});
        ++ringCount;
    }
}

void NestRings(const CGrowArray<TRing>& shapes, CGrowArray<TRingWay>& rings)
{
    if (shapes.Count() < 2)
        return;
    // Bounds the short way round, as the rings run: a ring across 180
    // degrees is not one round the rest of the globe.
    CGrowArray<CGeoRect> bounds;
    for (const TRing& shape : shapes)
        bounds.PushBack(BoundsOf(shape.Data(), shape.Count()));
    CGrowArray<bool> outer;
    for (uint32_t a = 0; a < shapes.Count(); ++a) {
        uint32_t depth = 0;
        for (uint32_t b = 0; b < shapes.Count(); ++b)
            if (b != a && Contains(bounds[b], bounds[a]) && Geometry::HoldsArea(&shapes[b], nullptr, 1, shapes[a]))
                ++depth;
        outer.PushBack(depth % 2 == 0);
    }
    for (TRingWay& way : rings)
        if (way.outer != outer[way.ring]) {
            way.outer = outer[way.ring];
            way.reversed = !way.reversed;
        }
}

}  // namespace Splitter::Clip
