// Stage 6 of a pass: the edge ways cut at the borders, closed area ways
// closed along them, and the areas a closed way holds whole given a ring.
#include <algorithm>

#include "splitter/clip/PassDistributor.h"
#include "splitter/clip/TagRules.h"
#include "splitter/clip/StageTools.h"

namespace Splitter::Clip {

using detail::Contains;
using detail::Sort;

bool CPassDistributor::GatherPoints(TClipLane& lane, const OSM::TWay& way)
{
    lane.points.Clear();
    lane.points.Reserve(way.nodeRefs.Count());
    for (OSM::TId ref : way.nodeRefs) {
        CGeoPoint p;
        if (!m_nodes->NodePoint(ref, p)) {
            if (lane.reports)
                ReportMissing("Node", ref);
            return false;
        }
        lane.points.PushBack(p);
    }
    return true;
}

void CPassDistributor::ClipLine(TClipLane& lane, const OSM::TWay& way, bool ringMode, bool keepsId)
{
    CGrowArray<TClippedWay>& clipped = lane.clippedWays;
    // Entries this way made in earlier runs.
    uint64_t wayEntries = clipped.Count();
    while (wayEntries > 0 && KeyId(clipped[wayEntries - 1].key) == way.id)
        --wayEntries;
    for (uint32_t area : AreasMeeting(lane, BoundsOf(lane.points.Data(), lane.points.Count()))) {
        CAreaClipContext& context = *m_contexts[area];
        uint64_t first = context.Pieces().Count();
        uint32_t count = context.ClipLine(way, lane.points.Data(), lane.points.Count(), ringMode, keepsId);
        if (count == 0)
            continue;
        const TIdAreaKey key = MakeKey(way.id, int32_t(area));
        TClippedWay* entry = std::find_if(clipped.begin() + wayEntries, clipped.end(),
                                          [&](const TClippedWay& e) { return e.key == key; });
        if (entry != clipped.end() && entry->first + entry->count == first)
            entry->count += count;
        else
            clipped.PushBack({key, count, uint32_t(first)});
    }
}

// A way some of whose nodes the input lacks: each run of nodes that are there
// is cut as a line of its own, and only the first may keep the way's id. The
// runs of a closed way meet across its closing node.
void CPassDistributor::ClipRuns(TClipLane& lane, const OSM::TWay& way, bool ringMode)
{
    const CGrowArray<OSM::TId>& refs = way.nodeRefs;
    const uint64_t n = refs.Count();
    CGeoPoint p;
    CGrowArray<std::pair<uint64_t, uint64_t>> runs;  // [begin, end) of nodes with points
    for (uint64_t i = 0; i < n;) {
        while (i < n && !m_nodes->NodePoint(refs[i], p))
            ++i;
        uint64_t begin = i;
        while (i < n && m_nodes->NodePoint(refs[i], p))
            ++i;
        if (i > begin)
            runs.PushBack({begin, i});
    }
    const bool wraps = n >= 3 && refs[0] == refs.Back() && runs.Count() > 1 && runs[0].first == 0 &&
                       runs.Back().second == n;
    OSM::TWay run;
    run.id = way.id;
    run.tags = way.tags;
    bool first = true;
    for (uint64_t r = 0; r < runs.Count() - (wraps ? 1 : 0); ++r) {
        run.nodeRefs.Clear();
        if (r == 0 && wraps)
            run.nodeRefs.Append(refs.Data() + runs.Back().first, n - 1 - runs.Back().first);
        run.nodeRefs.Append(refs.Data() + runs[r].first, runs[r].second - runs[r].first);
        if (run.nodeRefs.Count() < 2)
            continue;
        lane.points.Clear();
        for (OSM::TId ref : run.nodeRefs) {
            m_nodes->NodePoint(ref, p);
            lane.points.PushBack(p);
        }
        ClipLine(lane, run, ringMode, first);
        first = false;
    }
}

// A closed way stands for an area feature: its pieces are closed along the
// border, and several pieces in one area become a multipolygon; an area it
// holds whole gets a ring along its border. Its points are in lane.points. The
// pieces of a way that is also a multipolygon's ring are its own polygon's
// alone: the relation takes the ring's pieces, made apart.
void CPassDistributor::ClipClosedWay(TClipLane& lane, const OSM::TWay& way, bool ringMember)
{
    const OSM::TWay* clipped = &way;
    OSM::TWay reversed;
    if (!Geometry::IsClockwiseWrapped(lane.points.Data(), lane.points.Count() - 1)) {
        reversed = way;
        std::reverse(reversed.nodeRefs.begin(), reversed.nodeRefs.end());
        std::reverse(lane.points.begin(), lane.points.end());
        clipped = &reversed;
    }
    CGrowArray<TClippedWay>& entries = lane.clippedWays;
    uint64_t before = entries.Count();
    ClipLine(lane, *clipped, true);
    for (uint64_t e = before; e < entries.Count(); ++e) {
        TClippedWay& entry = entries[e];
        CAreaClipContext& context = *m_contexts[uint32_t(KeyArea(entry.key))];
        context.ClosePieces(entry.first, entry.count, IsHighway(way));
        entry.count = context.SplitTouchingRings(entry.first, entry.count);
        const CGrowArray<TPiece>& pieces = context.Pieces();
        if (std::count_if(pieces.begin() + entry.first, pieces.begin() + entry.first + entry.count,
                          [](const TPiece& p) { return p.way.nodeRefs.Count() >= 2 && !p.alongBorder; }) > 1)
            context.NewMultipolygon(entry.first, entry.count);
    }
    HoldWholeAreas(lane, way, before);
    if (ringMember)
        entries.Erase(before, entries.Count());
}

const CGrowArray<uint32_t>& CPassDistributor::AreasMeeting(TClipLane& lane, const CGeoRect& bounds) const
{
    CGrowArray<uint32_t>& found = lane.found;
    found.Clear();
    m_areaTree.Query(bounds, found);
    uint64_t kept = 0;  // the tree holds every area of the pass
    for (uint32_t area : found)
        if (area >= lane.first && area < lane.end)
            found[kept++] = area;
    found.Resize(kept);
    // Areas sharing a file number their pieces in area order, whatever
    // other areas the tree holds.
    std::sort(found.begin(), found.end());
    return found;
}

void CPassDistributor::HoldWholeAreas(TClipLane& lane, const OSM::TWay& way, uint64_t firstEntry)
{
    CGrowArray<TClippedWay>& entries = lane.clippedWays;
    const uint64_t lastEntry = entries.Count();
    for (uint32_t area : AreasMeeting(lane, BoundsOf(lane.points.Data(), lane.points.Count()))) {
        const TIdAreaKey key = MakeKey(way.id, int32_t(area));
        if (std::any_of(entries.begin() + firstEntry, entries.begin() + lastEntry,
                        [&](const TClippedWay& e) { return e.key == key; }))
            continue;
        CAreaClipContext& context = *m_contexts[area];
        if (Geometry::HoldsArea(&lane.points, nullptr, 1, context.Polygon()))
            entries.PushBack({key, 1, context.BorderRing(way)});
    }
}

// Stage 6: cut the edge ways at the borders.
void CPassDistributor::ClipWays()
{
    // The multipolygons each member way belongs to: (way id, relation index).
    CGrowArray<std::pair<OSM::TId, uint64_t>> memberOf;
    for (uint64_t r = 0; r < m_edgeMultipolygons.Count(); ++r)
        for (const OSM::TMember& member : m_edgeMultipolygons[r].members)
            if (member.type == OSM::kWay)
                memberOf.PushBack({member.ref, r});
    Sort(memberOf, [](const auto& a, const auto& b) { return a.first < b.first; });
    // A ring's way that says no more than one of its relations, as rings
    // tagged like their relation do, is a polygon only as that relation's ring.
    auto ownArea = [&](const OSM::TWay& way) {
        auto said = [&](const OSM::TRelation& relation) {
            return std::all_of(way.tags.begin(), way.tags.end(), [&](const OSM::TTag& tag) {
                const std::string* value = relation.FindTag(tag.key);
                return value != nullptr && *value == tag.value;
            });
        };
        for (auto* m = std::lower_bound(memberOf.begin(), memberOf.end(), way.id,
                                        [](const auto& e, OSM::TId id) { return e.first < id; });
             m != memberOf.end() && m->first == way.id; ++m)
            if (said(m_edgeMultipolygons[m->second]))
                return false;
        return IsAreaWay(way);
    };
    RunLanes([&](TClipLane& lane) {
        for (const OSM::TWay& way : m_edgeWayCopies) {
            bool multipolygonWay = Contains(m_edgeMultipolygonWays, way.id);
            const CGrowArray<OSM::TId>& refs = way.nodeRefs;
            bool closed = refs.Count() >= 3 && refs[0] == refs.Back();
            if (!GatherPoints(lane, way)) {
                ClipRuns(lane, way, multipolygonWay);
            } else if (closed && ownArea(way)) {
                ClipClosedWay(lane, way, multipolygonWay);
                if (multipolygonWay) {
                    // The ring's pieces, without the tags that its own pieces carry.
                    OSM::TWay ringWay;
                    ringWay.id = way.id;
                    ringWay.nodeRefs = way.nodeRefs;
                    GatherPoints(lane, ringWay);
                    ClipLine(lane, ringWay, true, false);
                }
            } else
                ClipLine(lane, way, multipolygonWay);
        }
    });
    m_edgeWayCopies.Free();
    // One entry per way and area, which one lane made.
    m_clippedWays.Clear();
    for (uint32_t l = 0; l < m_laneCount; ++l) {
        CGrowArray<TClippedWay>& made = m_lanes[l].clippedWays;
        m_clippedWays.Append(made.Data(), made.Count());
        made.Free();
    }
    std::stable_sort(m_clippedWays.begin(), m_clippedWays.end(),
                     [](const TClippedWay& a, const TClippedWay& b) { return a.key < b.key; });
    m_clippedWays.ShrinkToFit();
}

}  // namespace Splitter::Clip
