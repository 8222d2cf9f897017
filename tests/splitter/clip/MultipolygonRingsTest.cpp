// Ring assembly against the plain scan it replaced: the same rings, ways,
// directions and messages on random relations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <random>

#include "splitter/AreaGeometry.h"
#include "splitter/clip/MultipolygonRings.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace Clip;

class CPoints : public CNodeIndex {
public:
    int32_t NodeArea(OSM::TId) const override { return 0; }
    bool NodePoint(OSM::TId id, CGeoPoint& point) const override
    {
        auto at = points.find(id);
        if (at == points.end())
            return false;
        point = at->second;
        return true;
    }
    std::map<OSM::TId, CGeoPoint> points;
};

// The scan as it was: each step compares the chain's ends with every later
// way, and a way that continues the chain swaps places with the one after it.
struct TRefWay {
    const OSM::TWay* way;
    bool outer;
    bool reversed = false;
    OSM::TId FirstNode() const { return reversed ? way->nodeRefs.Back() : way->nodeRefs[0]; }
    OSM::TId LastNode() const { return reversed ? way->nodeRefs[0] : way->nodeRefs.Back(); }
};

bool ReferenceConnect(std::vector<TRefWay>& ways, size_t s, size_t& end)
{
    end = s;
    OSM::TId startNode = ways[s].FirstNode(), endNode = ways[end].LastNode();
    while (startNode != endNode) {
        size_t found = ways.size();
        bool continues = false;
        for (size_t k = end + 1; k < ways.size() && found == ways.size(); ++k) {
            TRefWay& w = ways[k];
            if (w.outer != ways[s].outer)
                continue;
            if (w.FirstNode() == endNode)
                continues = true;
            else if (w.LastNode() == startNode)
                ;
            else if (w.LastNode() == endNode)
                w.reversed = continues = true;
            else if (w.FirstNode() == startNode)
                w.reversed = true;
            else
                continue;
            found = k;
        }
        if (found == ways.size())
            return false;
        if (continues)
            std::swap(ways[found], ways[end + 1]);
        else
            std::rotate(ways.begin() + long(s), ways.begin() + long(found), ways.begin() + long(found) + 1);
        ++end;
        startNode = ways[s].FirstNode();
        endNode = ways[end].LastNode();
    }
    return true;
}

void ReferenceRings(const OSM::TRelation& relation, const CGrowArray<OSM::TWay>& stored, const CNodeIndex& nodes,
                    CGrowArray<TRingWay>& rings)
{
    std::vector<TRefWay> ways;
    for (const OSM::TMember& member : relation.members) {
        if (member.type != OSM::kWay)
            continue;
        const OSM::TWay* way = std::lower_bound(stored.begin(), stored.end(), member.ref,
                                                [](const OSM::TWay& w, OSM::TId id) { return w.id < id; });
        if (way == stored.end() || way->id != member.ref) {
            std::printf("Way %" PRId64 " is missing\n", member.ref);
            continue;
        }
        if (way->nodeRefs.Count() < 2 ||
            std::any_of(ways.begin(), ways.end(), [&](const TRefWay& w) { return w.way == way; }))
            continue;
        ways.push_back({way, member.role != "inner"});
    }
    uint32_t ringCount = 0;
    for (size_t s = 0, end; s < ways.size(); s = end + 1) {
        if (!ReferenceConnect(ways, s, end)) {
            std::printf("Multipolygon %" PRId64 " has unclosed ring, way %" PRId64 "\n", relation.id,
                        ways[s].way->id);
            continue;
        }
        CGrowArray<CGeoPoint> points;
        bool known = true;
        for (size_t k = s; k <= end && known; ++k) {
            uint64_t start = points.Count();
            for (OSM::TId ref : ways[k].way->nodeRefs) {
                CGeoPoint p;
                if (!(known = nodes.NodePoint(ref, p))) {
                    std::printf("Node %" PRId64 " is missing\n", ref);
                    break;
                }
                points.PushBack(p);
            }
            if (ways[k].reversed)
                std::reverse(points.begin() + start, points.end());
            points.PopBack();
        }
        if (!known)
            continue;
        bool flip = Geometry::IsClockwiseWrapped(points.Data(), points.Count()) != ways[s].outer;
        for (size_t k = s; k <= end; ++k)
            rings.PushBack({ways[k].way, ways[k].reversed != flip, ways[k].outer, ringCount});
        ++ringCount;
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
    std::vector<std::pair<std::vector<OSM::TId>, std::string>> ways;  // refs and role
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
                ways.emplace_back(refs, role);
        }
    }
    for (uint32_t n = below(3); n > 0; --n)
        ways.push_back({{1 + below(pool), 1 + below(pool), 1 + below(pool)}, "outer"});
    if (const OSM::TId a = 1 + below(pool); below(2) == 0)
        ways.push_back({{a, 1 + below(pool), a}, below(2) == 0 ? "inner" : "outer"});
    if (below(4) == 0)
        ways.push_back({{1 + below(pool)}, "outer"});
    std::vector<OSM::TId> ids(ways.size());
    for (size_t i = 0; i < ids.size(); ++i)
        ids[i] = OSM::TId(100 + 2 * i);
    std::shuffle(ids.begin(), ids.end(), random);
    for (size_t i = 0; i < ways.size(); ++i)
        c.relation.members.PushBack({OSM::kWay, ids[i], ways[i].second});
    for (uint32_t n = below(4); n > 0; --n)  // listed twice, perhaps with another role
        c.relation.members.PushBack(c.relation.members[below(uint32_t(c.relation.members.Count()))]);
    if (below(5) == 0)
        c.relation.members.PushBack({OSM::kWay, 101, ""});  // lacking
    c.relation.members.PushBack({OSM::kNode, 1, ""});
    std::shuffle(c.relation.members.begin(), c.relation.members.end(), random);
    for (OSM::TId id = 100; id < OSM::TId(100 + 2 * ways.size()); id += 2) {
        OSM::TWay way;
        way.id = id;
        for (OSM::TId ref : ways[size_t(std::find(ids.begin(), ids.end(), id) - ids.begin())].first)
            way.nodeRefs.PushBack(ref);
        c.stored.PushBack(std::move(way));
    }
    c.relation.id = 7;
}

std::string Describe(const CGrowArray<TRingWay>& rings)
{
    std::string text;
    for (const TRingWay& w : rings)
        text += std::to_string(w.ring) + ":" + std::to_string(w.way->id) + (w.reversed ? "r" : "") +
                (w.outer ? "o " : "i ");
    return text;
}

TEST(MultipolygonRings, SameRingsAsThePlainScanOnRandomRelations)
{
    std::mt19937 random(11);
    int closed = 0, open = 0;
    for (int i = 0; i < 3000; ++i) {
        TCase c;
        MakeCase(random, c);
        CGrowArray<TRingWay> expected, got;
        std::string expectedText = test::CaptureStdout([&] { ReferenceRings(c.relation, c.stored, c.nodes, expected); });
        std::string gotText = test::CaptureStdout([&] { AssembleRings(c.relation, c.stored, c.nodes, got); });
        ASSERT_EQ(Describe(got), Describe(expected)) << "case " << i;
        ASSERT_EQ(gotText, expectedText) << "case " << i;
        closed += !expected.Empty();
        open += expectedText.find("unclosed") != std::string::npos;
    }
    // The cases reach both outcomes often.
    EXPECT_GT(closed, 1000);
    EXPECT_GT(open, 1000);
}

// One ring of 2000 two-node ways listed in shuffled order comes out whole.
TEST(MultipolygonRings, LongShuffledRingJoinsInOnePiece)
{
    TCase c;
    const OSM::TId n = 2000;
    for (OSM::TId i = 0; i < n; ++i) {
        const double angle = 6.283185307179586 * double(i) / double(n);
        c.nodes.points[i + 1] = {int32_t(100000 * std::cos(angle)), int32_t(100000 * std::sin(angle))};
        OSM::TWay& way = c.stored.EmplaceBack();
        way.id = i + 1;
        way.nodeRefs.PushBack(i + 1);
        way.nodeRefs.PushBack((i + 1) % n + 1);
        c.relation.members.PushBack({OSM::kWay, i + 1, ""});
    }
    std::mt19937 random(3);
    std::shuffle(c.relation.members.begin(), c.relation.members.end(), random);
    CGrowArray<TRingWay> expected, got;
    EXPECT_EQ(test::CaptureStdout([&] {
                  ReferenceRings(c.relation, c.stored, c.nodes, expected);
                  AssembleRings(c.relation, c.stored, c.nodes, got);
              }),
              "");
    ASSERT_EQ(got.Count(), uint64_t(n));
    EXPECT_EQ(Describe(got), Describe(expected));
}

}  // namespace
