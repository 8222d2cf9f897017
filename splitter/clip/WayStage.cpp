// Stage 6 of a pass: the edge ways cut at the borders, closed area ways
// closed along them, and the areas a closed way holds whole given a ring.
#include <algorithm>

#include "splitter/clip/PassDistributor.h"
#include "splitter/clip/TagRules.h"
#include "splitter/clip/StageTools.h"

namespace Splitter::Clip {

using detail::Contains;
using detail::Sort;

bool CPassDistributor::GatherPoints(const OSM::TWay& way)
{
    m_points.Clear();
    m_points.Reserve(way.nodeRefs.Count());
    for (OSM::TId ref : way.nodeRefs) {
        CGeoPoint p;
        if (!m_nodes->NodePoint(ref, p)) {
            ReportMissing("Node", ref);
            return false;
        }
        m_points.PushBack(p);
    }
    return true;
}

void CPassDistributor::ClipLine(const OSM::TWay& way, bool ringMode, bool keepsId)
{
    // Entries this way made in earlier runs.
    uint64_t wayEntries = m_clippedWays.Count();
    while (wayEntries > 0 && KeyId(m_clippedWays[wayEntries - 1].key) == way.id)
        --wayEntries;
    for (uint32_t area : AreasMeeting(BoundsOf(m_points.Data(), m_points.Count()))) {
        CAreaClipContext& context = *m_contexts[area];
        uint64_t first = context.Pieces().Count();
        uint32_t count = context.ClipLine(way, m_points.Data(), m_points.Count(), ringMode, keepsId);
        if (count == 0)
            continue;
        const TIdAreaKey key = MakeKey(way.id, int32_t(area));
        TClippedWay* entry = std::find_if(m_clippedWays.begin() + wayEntries, m_clippedWays.end(),
                                          [&](const TClippedWay& e) { return e.key == key; });
        if (entry != m_clippedWays.end() && entry->first + entry->count == first)
            entry->count += count;
        else
            m_clippedWays.PushBack({key, count, uint32_t(first)});
    }
}

// A way some of whose nodes the input lacks: each run of nodes that are there
// is cut as a line of its own, and only the first may keep the way's id. The
// runs of a closed way meet across its closing node.
void CPassDistributor::ClipRuns(const OSM::TWay& way, bool ringMode)
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
        m_points.Clear();
        for (OSM::TId ref : run.nodeRefs) {
            m_nodes->NodePoint(ref, p);
            m_points.PushBack(p);
        }
        ClipLine(run, ringMode, first);
        first = false;
    }
}

// A closed way stands for an area feature: its pieces are closed along the
// border, and several pieces in one area become a multipolygon; an area it
// holds whole gets a ring along its border. Its points are in m_points. The
// pieces of a way that is also a multipolygon's ring are its own polygon's
// alone: the relation takes the ring's pieces, made apart.
void CPassDistributor::ClipClosedWay(const OSM::TWay& way, bool ringMember)
{
    const OSM::TWay* clipped = &way;
    OSM::TWay reversed;
    if (!Geometry::IsClockwiseWrapped(m_points.Data(), m_points.Count() - 1)) {
        reversed = way;
        std::reverse(reversed.nodeRefs.begin(), reversed.nodeRefs.end());
        std::reverse(m_points.begin(), m_points.end());
        clipped = &reversed;
    }
    uint64_t before = m_clippedWays.Count();
    ClipLine(*clipped, true);
    for (uint64_t e = before; e < m_clippedWays.Count(); ++e) {
        TClippedWay& entry = m_clippedWays[e];
        CAreaClipContext& context = *m_contexts[uint32_t(KeyArea(entry.key))];
        context.ClosePieces(entry.first, entry.count, IsHighway(way));
        entry.count = context.SplitTouchingRings(entry.first, entry.count);
        const CGrowArray<TPiece>& pieces = context.Pieces();
        if (std::count_if(pieces.begin() + entry.first, pieces.begin() + entry.first + entry.count,
                          [](const TPiece& p) { return p.way.nodeRefs.Count() >= 2 && !p.alongBorder; }) > 1)
            context.NewMultipolygon(entry.first, entry.count);
    }
    HoldWholeAreas(way, before);
    if (ringMember)
        m_clippedWays.Erase(before, m_clippedWays.Count());
}

const CGrowArray<uint32_t>& CPassDistributor::AreasMeeting(const CGeoRect& bounds)
{
    m_found.Clear();
    m_areaTree.Query(bounds, m_found);
    // Areas sharing a file number their pieces in area order, whatever
    // other areas the tree holds.
    std::sort(m_found.begin(), m_found.end());
    return m_found;
}

void CPassDistributor::HoldWholeAreas(const OSM::TWay& way, uint64_t firstEntry)
{
    const uint64_t lastEntry = m_clippedWays.Count();
    for (uint32_t area : AreasMeeting(BoundsOf(m_points.Data(), m_points.Count()))) {
        const TIdAreaKey key = MakeKey(way.id, int32_t(area));
        if (std::any_of(m_clippedWays.begin() + firstEntry, m_clippedWays.begin() + lastEntry,
                        [&](const TClippedWay& e) { return e.key == key; }))
            continue;
        CAreaClipContext& context = *m_contexts[area];
        if (Geometry::HoldsArea(&m_points, nullptr, 1, context.Polygon()))
            m_clippedWays.PushBack({key, 1, context.BorderRing(way)});
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
    for (const OSM::TWay& way : m_edgeWayCopies) {
        bool multipolygonWay = Contains(m_edgeMultipolygonWays, way.id);
        const CGrowArray<OSM::TId>& refs = way.nodeRefs;
        bool closed = refs.Count() >= 3 && refs[0] == refs.Back();
        if (!GatherPoints(way)) {
            ClipRuns(way, multipolygonWay);
        } else if (closed && ownArea(way)) {
            ClipClosedWay(way, multipolygonWay);
            if (multipolygonWay) {
                // The ring's pieces, without the tags that its own pieces carry.
                OSM::TWay ringWay;
                ringWay.id = way.id;
                ringWay.nodeRefs = way.nodeRefs;
                GatherPoints(ringWay);
                ClipLine(ringWay, true, false);
            }
        } else
            ClipLine(way, multipolygonWay);
    }
    m_edgeWayCopies.Free();
    Sort(m_clippedWays, [](const TClippedWay& a, const TClippedWay& b) { return a.key < b.key; });
    m_clippedWays.ShrinkToFit();
}

}  // namespace Splitter::Clip
