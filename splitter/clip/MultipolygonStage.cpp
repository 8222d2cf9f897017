// Stage 7 of a pass: the rings of the multipolygons that cross borders,
// closed along the borders of every area they reach, and the areas their
// polygon holds whole given a ring along the border.
#include <algorithm>
#include <cinttypes>

#include "splitter/clip/MultipolygonRings.h"
#include "splitter/clip/PassDistributor.h"
#include "splitter/clip/TagRules.h"

namespace Splitter::Clip {

// Stage 7: rings of the multipolygons that cross borders.
void CPassDistributor::ClipMultipolygons()
{
    for (const auto& context : m_contexts)
        context->KeepMadePoints(true);
    // Each lane assembles every ring it may clip: the assembly takes a
    // fraction of the clipping.
    RunLanes([&](TClipLane& lane) {
        CGrowArray<TRingWay> rings;
        CGrowArray<TRing> shapes;
        for (const OSM::TRelation& relation : m_edgeMultipolygons) {
            rings.Clear();
            shapes.Clear();
            AssembleRings(relation, m_storedWays, *m_nodes, rings, &shapes, lane.reports);
            NestRings(shapes, rings);
            ClipRings(lane, relation.id, rings, shapes);
        }
    });
    for (uint32_t l = 0; l < m_laneCount; ++l) {
        for (TRingPieces& entry : m_lanes[l].ringPieces)
            m_ringPieces.PushBack(std::move(entry));
        m_lanes[l].ringPieces.Free();
    }
    for (const auto& context : m_contexts)
        context->KeepMadePoints(false);
    // Ring pieces that no closing reached still hold placeholders; their
    // nodes must come before the ways in every file.
    for (const auto& context : m_contexts) {
        context->ClearCrossingNodes();
        for (TPiece& piece : context->Pieces())
            context->FinishPlaceholders(piece, IsHighway(piece.way));
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

void CPassDistributor::ClipRings(TClipLane& lane, OSM::TId relation, const CGrowArray<TRingWay>& rings,
                                 const CGrowArray<TRing>& shapes)
{
    struct TPair {
        const TClippedWay* entry;
        uint32_t position;  // in rings
    };
    CGrowArray<TPair> pairs;
    for (uint32_t k = 0; k < rings.Count(); ++k)
        for (const TClippedWay* e = ClippedBegin(rings[k].way->id);
             e != m_clippedWays.end() && KeyId(e->key) == rings[k].way->id; ++e)
            if (uint32_t(KeyArea(e->key)) >= lane.first && uint32_t(KeyArea(e->key)) < lane.end)
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
        TRingPieces& entry = lane.ringPieces.EmplaceBack();
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
        entry.outerWays.EraseRepeats();
        reached.PushBack(area);
    }
    HoldWholeAreas(lane, relation, rings, shapes, reached);
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
                                                 [&](OSM::TId ref) { return m_nodes->NodeArea(ref) == area; }))
                ways.PushBack({ring.way, -1, false, !ring.outer});
    for (uint32_t i = entry.first; i < entry.first + entry.count; ++i)
        if (made[i].way.nodeRefs.Count() >= 2)
            ways.PushBack({&made[i].way, int64_t(i), true, false});
    OSM::TWay tags;
    tags.tags = rings[0].way->tags;
    KeepOnlyBoundaryTags(tags.tags);
    context.SimplifyRings(ways, tags, entry.absorbed, entry.loops);
}

void CPassDistributor::HoldWholeAreas(TClipLane& lane, OSM::TId relation, const CGrowArray<TRingWay>& rings,
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
    for (uint32_t area : AreasMeeting(lane, bounds)) {
        if (std::binary_search(reached.begin(), reached.end(), int32_t(area)))
            continue;
        CAreaClipContext& context = *m_contexts[area];
        if (!Geometry::HoldsArea(shapes.Data(), ringBounds.Data(), shapes.Count(), context.Polygon()))
            continue;
        TRingPieces& entry = lane.ringPieces.EmplaceBack();
        entry.key = MakeKey(relation, int32_t(area));
        entry.first = context.BorderRing(border);
        entry.count = 1;
    }
}

}  // namespace Splitter::Clip
