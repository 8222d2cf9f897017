// Ring assembly against the plain scan it replaced: the same rings, ways,
// directions and messages on random relations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <random>
#include <utility>

#include "splitter/areas/AreaGeometry.h"
#include "splitter/clip/MultipolygonRings.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

using namespace Clip;

class CPoints : public CNodeIndex {
public:
    int32_t NodeArea(OSM::TId) const override { return 0; }
    bool NodePoint(OSM::TId id, CGeoPoint& point) const override
    {
        const bool known = points.count(id);
        point = known ? points.at(id) : point;
        return known;
    }
    std::map<OSM::TId, CGeoPoint> points;
};

// The scan as it was: a chain grows by the first later way of its group that
// meets either end, reversed when it meets it with the wrong end; a way that
// continues the chain's end swaps places with the way after the chain, one
// that continues its start moves in front of it.
void ScanRings(const OSM::TRelation& relation, const CGrowArray<OSM::TWay>& stored, const CNodeIndex& nodes,
               CGrowArray<TRingWay>& rings)
{
    std::vector<TRingWay> ways;
    for (const OSM::TMember& member : relation.members) {
        const OSM::TWay* way =
            std::find_if(stored.begin(), stored.end(), [&](const OSM::TWay& w) { return w.id == member.ref; });
        if (member.type != OSM::kWay)
            continue;
        if (way == stored.end())
            std::printf("Way %" PRId64 " is missing\n", member.ref);
        else if (way->nodeRefs.Count() >= 2 &&
                 std::none_of(ways.begin(), ways.end(), [&](const TRingWay& w) { return w.way == way; }))
            ways.push_back({way, false, member.role != "inner", 0});
    }
    auto first = [](const TRingWay& w) { return w.reversed ? w.way->nodeRefs.Back() : w.way->nodeRefs[0]; };
    auto last = [](const TRingWay& w) { return w.reversed ? w.way->nodeRefs[0] : w.way->nodeRefs.Back(); };
    uint32_t ring = 0;
    for (size_t s = 0, end = 0; s < ways.size(); s = ++end) {
        for (size_t k = end + 1; k < ways.size() && first(ways[s]) != last(ways[end]); ++k) {
            const OSM::TId a = ways[k].way->nodeRefs[0], b = ways[k].way->nodeRefs.Back();
            const OSM::TId start = first(ways[s]), stop = last(ways[end]);
            if (ways[k].outer != ways[s].outer || (a != stop && b != start && b != stop && a != start))
                continue;
            ways[k].reversed = a != stop && b != start;
            if (a == stop || (ways[k].reversed && b == stop))
                std::swap(ways[k], ways[end + 1]);
            else
                std::rotate(ways.begin() + long(s), ways.begin() + long(k), ways.begin() + long(k) + 1);
            k = ++end;  // the scan starts again at the first unused way
        }
        if (first(ways[s]) != last(ways[end])) {
            std::printf("Multipolygon %" PRId64 " has unclosed ring, way %" PRId64 "\n", relation.id, ways[s].way->id);
            continue;
        }
        std::vector<CGeoPoint> points;
        bool known = true;
        for (size_t k = s; k <= end && known; ++k) {
            const CGrowArray<OSM::TId>& refs = ways[k].way->nodeRefs;
            std::vector<CGeoPoint> way;
            for (const OSM::TId* ref = refs.begin(); known && ref != refs.end(); ++ref)
                if (!(known = nodes.NodePoint(*ref, way.emplace_back())))
                    std::printf("Node %" PRId64 " is missing\n", *ref);
            if (ways[k].reversed)
                std::reverse(way.begin(), way.end());
            points.insert(points.end(), way.begin(), way.end() - 1);
        }
        const bool flip = known && Geometry::IsClockwiseWrapped(points.data(), points.size()) != ways[s].outer;
        for (size_t k = s; k <= end && known; ++k)
            rings.PushBack({ways[k].way, ways[k].reversed != flip, ways[k].outer, ring});
        ring += known;
    }
}

// Several rings drawn from a small pool of nodes, so that rings touch at
// nodes, cut into ways of one to three edges in random directions; with ways
// listed twice, ways that close themselves, one-node ways, members the input
// lacks, gaps that leave chains open, inner rings, and nodes of unknown
// position. Member order differs from id order.
struct TCase {
    CGrowArray<OSM::TWay> stored;
    OSM::TRelation relation;
    CPoints nodes;
};

void MakeCase(std::mt19937& random, TCase& c)
{
    auto below = [&](uint32_t n) { return uint32_t(random() % n); };
    const uint32_t pool = 4 + below(40);
    for (OSM::TId id = 1; id <= OSM::TId(pool); ++id)
        if (below(60) != 0)
            c.nodes.points[id] = {int32_t(below(1000)), int32_t(below(1000))};
    auto add = [&c](const std::vector<OSM::TId>& refs, const char* role) {
        OSM::TWay way;
        way.id = OSM::TId(100 + 2 * c.stored.Count());
        way.nodeRefs.Append(refs.data(), refs.size());
        c.relation.members.PushBack({OSM::kWay, way.id, role});
        c.stored.PushBack(std::move(way));
    };
    for (uint32_t r = 1 + below(6); r > 0; --r) {
        const char* role = below(3) == 0 ? "inner" : below(2) == 0 ? "outer" : "";
        std::vector<OSM::TId> cycle;
        for (uint32_t n = 2 + below(12); n > 0; --n)
            cycle.push_back(1 + below(pool));
        cycle.push_back(cycle[0]);
        for (size_t i = 0, j; i + 1 < cycle.size(); i = j) {
            j = std::min(cycle.size() - 1, i + 1 + below(3));
            std::vector<OSM::TId> refs(cycle.begin() + long(i), cycle.begin() + long(j) + 1);
            if (below(2) == 0)
                std::reverse(refs.begin(), refs.end());
            if (below(15) != 0)  // else a gap
                add(refs, role);
        }
    }
    for (uint32_t n = below(3); n > 0; --n)
        add({1 + below(pool), 1 + below(pool), 1 + below(pool)}, "outer");
    if (const OSM::TId a = 1 + below(pool), b = 1 + below(pool); below(2) == 0)
        add({a, b, a}, below(2) == 0 ? "inner" : "outer");
    if (below(4) == 0)
        add({1 + below(pool)}, "outer");
    for (uint32_t n = below(4); n > 0; --n)  // listed twice, perhaps with another role
        c.relation.members.PushBack(c.relation.members[below(uint32_t(c.relation.members.Count()))]);
    if (below(5) == 0)
        c.relation.members.PushBack({OSM::kWay, 101, ""});  // lacking
    c.relation.members.PushBack({OSM::kNode, 1, ""});
    std::shuffle(c.relation.members.begin(), c.relation.members.end(), random);
    c.relation.id = 7;
}

TEST(MultipolygonRings, SameRingsAsThePlainScanOnRandomRelations)
{
    std::mt19937 random(11);
    for (int i = 0; i < 3000 && !HasFailure(); ++i) {
        TCase c;
        MakeCase(random, c);
        // What assemble prints, then its rings.
        auto run = [&c](const auto& assemble) {
            CGrowArray<TRingWay> rings;
            std::string text = test::CaptureStdout([&] { assemble(c.relation, c.stored, c.nodes, rings); });
            for (const TRingWay& w : std::as_const(rings))
                text += std::to_string(w.ring) + ":" + std::to_string(w.way->id) + (w.reversed ? "r" : "") +
                        (w.outer ? "o " : "i ");
            return text;
        };
        const auto assemble = [](const auto& relation, const auto& stored, const auto& nodes, auto& rings) {
            AssembleRings(relation, stored, nodes, rings);
        };
        EXPECT_EQ(run(assemble), run(ScanRings)) << "case " << i;
    }
}

}  // namespace
