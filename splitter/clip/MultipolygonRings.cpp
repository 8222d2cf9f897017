#include "splitter/clip/MultipolygonRings.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <unordered_set>
#include <vector>

#include "splitter/areas/AreaGeometry.h"
#include "splitter/clip/PassDistributor.h"

namespace Clip {

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
// missing node, when a point is not known.
bool OrientRing(TMember* const* ring, uint64_t count, const CNodeIndex& nodes, CGrowArray<CGeoPoint>& points)
{
    points.Clear();
    for (uint64_t k = 0; k < count; ++k) {
        uint64_t start = points.Count();
        for (OSM::TId ref : ring[k]->way->nodeRefs) {
            CGeoPoint p;
            if (!nodes.NodePoint(ref, p)) {
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
                   CGrowArray<TRingWay>& rings, CGrowArray<TRing>* shapes)
{
    CGrowArray<TMember> members;
    std::unordered_set<const OSM::TWay*> taken;
    for (const OSM::TMember& member : relation.members) {
        if (member.type != OSM::kWay)
            continue;
        const OSM::TWay* way = std::lower_bound(storedWays.begin(), storedWays.end(), member.ref,
                                                [](const OSM::TWay& w, OSM::TId id) { return w.id < id; });
        if (way == storedWays.end() || way->id != member.ref) {
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
            ReportProblem("Multipolygon " + std::to_string(relation.id) + " has unclosed ring, way " +
                          std::to_string(members[chain[0]].way->id));
            continue;
        }
        ring.Clear();
        for (uint64_t m : chain)
            ring.PushBack(&members[m]);
        if (!OrientRing(ring.Data(), ring.Count(), nodes, points))
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

// Stage 7: rings of the multipolygons that cross borders.
void CPassDistributor::ClipMultipolygons()
{
    CGrowArray<TRingWay> rings;
    CGrowArray<TRing> shapes;
    for (const auto& context : m_contexts)
        context->KeepMadePoints(true);
    for (const OSM::TRelation& relation : m_edgeMultipolygons) {
        rings.Clear();
        shapes.Clear();
        AssembleRings(relation, m_storedWays, *this, rings, &shapes);
        NestRings(shapes, rings);
        ClipRings(relation.id, rings, shapes);
    }
    for (const auto& context : m_contexts)
        context->KeepMadePoints(false);
    // Ring pieces that no closing reached still hold placeholders; their
    // nodes must come before the ways in every file.
    for (const auto& context : m_contexts) {
        context->ClearCrossingNodes();
        for (TPiece& piece : context->Pieces())
            context->FinishPlaceholders(piece, piece.way.FindTag("highway") != nullptr);
    }
    // Several rings of one relation in one area share a key; they keep the
    // order of their rings, which does not depend on the other areas.
    std::stable_sort(m_ringPieces.begin(), m_ringPieces.end(),
                     [](const TRingPieces& a, const TRingPieces& b) { return a.key < b.key; });
    m_storedWays.Free();
    m_edgeMultipolygons.Free();
    uint64_t clipped = 0;
    for (const auto& context : m_contexts)
        clipped += context->Pieces().Count();
    m_log->Format("%" PRIu64 " clipped ways", clipped);
}

void CPassDistributor::ClipRings(OSM::TId relation, const CGrowArray<TRingWay>& rings, const CGrowArray<TRing>& shapes)
{
    struct TPair {
        const TClippedWay* entry;
        uint32_t position;  // in rings
    };
    CGrowArray<TPair> pairs;
    for (uint32_t k = 0; k < rings.Count(); ++k)
        for (const TClippedWay* e = ClippedBegin(rings[k].way->id);
             e != m_clippedWays.end() && KeyId(e->key) == rings[k].way->id; ++e)
            pairs.PushBack({e, k});
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const TPair& a, const TPair& b) { return KeyArea(a.entry->key) < KeyArea(b.entry->key); });
    // The rings come one after another: ring r is rings[ringStart[r] ..
    // ringStart[r + 1]).
    CGrowArray<uint32_t> ringStart;
    for (uint32_t k = 0; k < rings.Count(); ++k)
        if (k == 0 || rings[k].ring != rings[k - 1].ring)
            ringStart.PushBack(k);
    ringStart.PushBack(uint32_t(rings.Count()));
    CGrowArray<int32_t> listedIn;  // per ring: the area whose outer ways list it last
    listedIn.Resize(ringStart.Count() - 1);
    std::fill(listedIn.begin(), listedIn.end(), kNoArea);

    // All rings of the relation are closed together in each area: where a
    // border cuts an inner ring, its pieces become part of the outer
    // boundary there, a notch, and must not be closed on their own along a
    // stretch of border that the outer boundary runs along too.
    CGrowArray<TRingPiece> pieces;
    CGrowArray<int32_t> reached;  // ascending
    for (uint64_t p = 0; p < pairs.Count();) {
        const int32_t area = KeyArea(pairs[p].entry->key);
        CAreaClipContext& context = *m_contexts[uint32_t(area)];
        pieces.Clear();
        TRingPieces& entry = m_ringPieces.EmplaceBack();
        for (; p < pairs.Count() && KeyArea(pairs[p].entry->key) == area; ++p) {
            const TRingWay& way = rings[pairs[p].position];
            for (uint32_t i = pairs[p].entry->first; i < pairs[p].entry->first + pairs[p].entry->count; ++i)
                pieces.PushBack({i, way.reversed, way.ring});
            if (!way.outer && listedIn[way.ring] != area) {  // the whole inner ring, in this area
                listedIn[way.ring] = area;
                for (uint32_t k = ringStart[way.ring]; k < ringStart[way.ring + 1]; ++k)
                    entry.outerWays.PushBack(rings[k].way->id);
            }
        }
        entry.key = MakeKey(relation, area);
        entry.first = uint32_t(context.Pieces().Count());
        entry.count = context.CloseRingPieces(pieces.Data(), uint32_t(pieces.Count()), rings.Data(),
                                              uint32_t(rings.Count()), entry.absorbed);
        SimplifyCopy(entry, pieces, rings, ringStart);
        std::sort(entry.outerWays.begin(), entry.outerWays.end());
        entry.outerWays.Erase(
            uint64_t(std::unique(entry.outerWays.begin(), entry.outerWays.end()) - entry.outerWays.begin()),
            entry.outerWays.Count());
        reached.PushBack(area);
    }
    HoldWholeAreas(relation, rings, shapes, reached);
}

void CPassDistributor::SimplifyCopy(TRingPieces& entry, const CGrowArray<TRingPiece>& pieces,
                                    const CGrowArray<TRingWay>& rings, const CGrowArray<uint32_t>& ringStart)
{
    const int32_t area = KeyArea(entry.key);
    CAreaClipContext& context = *m_contexts[uint32_t(area)];
    const CGrowArray<TPiece>& made = context.Pieces();
    CGrowArray<TCopyWay> ways;
    auto listed = [&](const OSM::TWay& way) {
        return way.nodeRefs.Count() >= 2 && !std::binary_search(entry.absorbed.begin(), entry.absorbed.end(), way.id);
    };
    for (const TRingPiece& piece : pieces)
        if (listed(made[piece.index].way))
            ways.PushBack({&made[piece.index].way, int64_t(piece.index), false, !rings[ringStart[piece.ring]].outer});
    for (const TRingWay& ring : rings)
        if (ClippedBegin(ring.way->id) == m_clippedWays.end() || KeyId(ClippedBegin(ring.way->id)->key) != ring.way->id)
            if (listed(*ring.way) && std::all_of(ring.way->nodeRefs.begin(), ring.way->nodeRefs.end(),
                                                 [&](OSM::TId ref) { return NodeArea(ref) == area; }))
                ways.PushBack({ring.way, -1, false, !ring.outer});
    for (uint32_t i = entry.first; i < entry.first + entry.count; ++i)
        if (made[i].way.nodeRefs.Count() >= 2)
            ways.PushBack({&made[i].way, int64_t(i), true, false});
    OSM::TWay tags;
    tags.tags = rings[0].way->tags;
    KeepOnlyBoundaryTags(tags.tags);
    context.SimplifyRings(ways, tags, entry.absorbed, entry.loops);
}

void CPassDistributor::HoldWholeAreas(OSM::TId relation, const CGrowArray<TRingWay>& rings,
                                      const CGrowArray<TRing>& shapes, const CGrowArray<int32_t>& reached)
{
    if (shapes.Empty())
        return;
    CGrowArray<CGeoRect> ringBounds;
    CGeoRect bounds;
    for (const TRing& ring : shapes) {
        ringBounds.PushBack(BoundsOf(ring.Data(), ring.Count()));
        Extend(bounds, ringBounds.Back());
    }
    // The ring along the border describes the relation's boundary there,
    // never a feature of its own.
    OSM::TWay border;
    border.tags = rings[0].way->tags;
    KeepOnlyBoundaryTags(border.tags);
    for (uint32_t area : AreasMeeting(bounds)) {
        if (std::binary_search(reached.begin(), reached.end(), int32_t(area)))
            continue;
        CAreaClipContext& context = *m_contexts[area];
        if (!Geometry::HoldsArea(shapes.Data(), ringBounds.Data(), shapes.Count(), context.Polygon()))
            continue;
        TRingPieces& entry = m_ringPieces.EmplaceBack();
        entry.key = MakeKey(relation, int32_t(area));
        entry.first = context.BorderRing(border);
        entry.count = 1;
    }
}

}  // namespace Clip
