#include "splitter/areas/AreaSplitter.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/OSM/ReadAhead.h"
#include "common/rtree/Int128.h"
#include "splitter/Log.h"
#include "splitter/areas/PolygonDifference.h"
#include "splitter/areas/SplitCuts.h"

namespace Splitter {

namespace {

// The squared distance from p to the segment from a to b.
double SquaredDistance(CGeoPoint p, CGeoPoint a, CGeoPoint b)
{
    double dx = double(Geometry::LonDiff(a.x, b.x)), dy = double(int64_t(b.y) - a.y);
    double px = double(Geometry::LonDiff(a.x, p.x)), py = double(int64_t(p.y) - a.y);
    double length = dx * dx + dy * dy;
    double t = length > 0 ? std::clamp((px * dx + py * dy) / length, 0.0, 1.0) : 0.0;
    double ex = px - t * dx, ey = py - t * dy;
    return ex * ex + ey * ey;
}

// Whether p lies on an edge of ring.
bool OnRing(const TRing& ring, CGeoPoint p)
{
    for (uint64_t i = 0; i + 1 < ring.Count(); ++i) {
        CGeoPoint a = ring[i], b = ring[i + 1];
        int64_t dx = Geometry::LonDiff(a.x, b.x), dy = int64_t(b.y) - a.y;
        int64_t px = Geometry::LonDiff(a.x, p.x), py = int64_t(p.y) - a.y;
        if (TInt128::Product(dx, py) == TInt128::Product(dy, px) && std::min<int64_t>(0, dx) <= px &&
            px <= std::max<int64_t>(0, dx) && std::min<int64_t>(0, dy) <= py && py <= std::max<int64_t>(0, dy))
            return true;
    }
    return false;
}

// Whether inner lies inside outer, for rings whose boundaries do not meet
// (the difference found them apart): then any vertex of inner off outer's
// boundary tells. Rings too short to have an inside count as inside when
// all their points lie on outer's boundary.
bool Nested(const TRing& outer, const TRing& inner)
{
    for (CGeoPoint p : inner)
        if (!OnRing(outer, p))
            return Geometry::PointInRing(outer.Data(), outer.Count(), p);
    return inner.Count() < 4 && !inner.Empty();
}

}  // namespace

CAreaSplitter::CAreaSplitter(uint32_t maxNodes, CLog& log) : m_maxNodes(maxNodes), m_log(log), m_areaTree(1000) {}

void CAreaSplitter::BuildEdgeTree(uint64_t area)
{
    Geometry::BuildEdgeTree(m_areas[area].ring, *m_edgeTrees[area]);
}

void CAreaSplitter::BuildAreaTree()
{
    CGrowArray<RTree::TRecord> records;
    records.Reserve(m_areas.Count());
    for (uint64_t i = 0; i < m_areas.Count(); ++i)
        records.PushBack({m_edgeTrees[i]->RootRect(), uint32_t(i)});
    m_areaTree.Build(records.Data(), records.Count());
}

void CAreaSplitter::RebuildTrees()
{
    m_edgeTrees.Clear();
    for (uint64_t i = 0; i < m_areas.Count(); ++i) {
        m_edgeTrees.PushBack(std::make_unique<RTree::CRTree>(Geometry::EdgeTreeChunk(m_areas[i].ring)));
        BuildEdgeTree(i);
    }
    BuildAreaTree();
}

void CAreaSplitter::ResolveOverlaps()
{
    bool removed = false;
    CGrowArray<uint32_t> found;
    CGrowArray<TRing> rings;
    for (uint64_t i = 0; i < m_areas.Count(); ++i) {
        if (m_areas[i].ring.Empty())
            continue;
        found.Clear();
        m_areaTree.Query(m_edgeTrees[i]->RootRect(), found);
        for (uint32_t j : found) {
            if (j == i || m_areas[j].ring.Empty())
                continue;
            const CGeoRect bi = m_edgeTrees[i]->RootRect(), bj = m_edgeTrees[j]->RootRect();
            const bool mayContain = !bi.IsEmpty() && (bj.IsEmpty() || Contains(bi, bj));
            if (j < i && !mayContain)
                continue;
            // An earlier area is only tested, on a copy: it keeps what it shares.
            TRing scratch;
            if (j < i)
                scratch = m_areas[i].ring;
            TRing& ringI = j < i ? scratch : m_areas[i].ring;
            rings.Clear();
            const Geometry::EOverlap overlap = Geometry::Difference(*m_edgeTrees[i], rings, m_areas[j].ring, ringI);
            if (overlap == Geometry::EOverlap::kCovered ||
                (overlap == Geometry::EOverlap::kApart && mayContain && Nested(ringI, m_areas[j].ring))) {
                std::printf("Area \"%s\" contains \"%s\" - removing\n", m_areas[i].name.c_str(),
                            m_areas[j].name.c_str());
                m_areas[j].ring.Free();
                removed = true;
                continue;
            }
            if (j < i || overlap != Geometry::EOverlap::kTrimmed)
                continue;
            std::printf("Area \"%s\" intersects with \"%s\"...\n", m_areas[i].name.c_str(), m_areas[j].name.c_str());
            BuildEdgeTree(i);
            if (rings.Count() == 1) {
                m_areas[j].ring = std::move(rings[0]);
                BuildEdgeTree(j);
                continue;
            }
            m_areas[j].ring.Free();
            removed = true;
            for (TRing& ring : rings) {
                TArea copy;
                copy.source = m_areas[j].source;
                copy.name = m_areas[j].name;
                copy.ring = std::move(ring);
                m_areas.PushBack(std::move(copy));
                m_edgeTrees.PushBack(std::make_unique<RTree::CRTree>(Geometry::EdgeTreeChunk(m_areas.Back().ring)));
                BuildEdgeTree(m_areas.Count() - 1);
            }
            BuildAreaTree();
        }
    }
    if (!removed)
        return;
    for (uint64_t i = m_areas.Count(); i-- > 0;) {
        if (m_areas[i].ring.Empty()) {
            m_areas.Erase(i, i + 1);
            m_edgeTrees.Erase(i, i + 1);
        }
    }
    BuildAreaTree();
}

// Calls each(points) with the node positions of every node block, from the
// start of the input up to the first block with ways or relations. A
// malformed blob throws OSM::CDataReader::CBadFileException.
template <typename TEach>
void CAreaSplitter::ReadNodeBlocks(CPBInputAdapter& input, TEach each)
{
    // Positions are all this takes from a block: reading is the work, so
    // two threads, each with a block to spare so that neither waits for
    // the caller to hand one back.
    OSM::SeekFirstData(input);
    OSM::CReadAhead blocks(input, input.Stream().Position(), 2 * OSM::kReadAheadBlocks, OSM::kReadAheadBlocks);
    TPoints points;
    points.Reserve(65536);
    const auto since = CProgressLine::TClock::now();
    while (const OSM::TDataBlock* data = blocks.Next()) {
        ShowProgress(data->end, input.Stream().Size(), 0, since);
        const OSMPBF::PrimitiveBlock& block = data->block;
        points.Clear();
        bool more = false;
        for (const OSMPBF::PrimitiveGroup& group : block.primitivegroup()) {
            OSM::AppendPositions(block, group, points);
            more |= group.ways_size() > 0 || group.relations_size() > 0;
        }
        each(points);
        if (more)
            break;  // nodes come before ways and relations
    }
}

void CAreaSplitter::ReadNodes(CPBInputAdapter& input, bool processOuter, uint32_t reserveNodes)
{
    m_log.Line("Read nodes...");
    m_nodeLists.Clear();
    m_nodeLists.Resize(m_areas.Count());
    if (processOuter)
        m_outerNodes.Reserve(reserveNodes);

    uint64_t count = 0, threshold = m_maxNodes;
    ReadNodeBlocks(input, [&](const TPoints& points) {
        for (const CGeoPoint& p : points) {
            int32_t area = m_areas.Empty() ? -1 : m_locator.Locate(p);
            if (area >= 0)
                m_nodeLists[uint32_t(area)].PushBack(p);
            else if (processOuter)
                m_outerNodes.PushBack(p);
        }
        count += points.Count();
        if (m_maxNodes != 0 && count >= threshold) {
            m_log.Format("%" PRIu64 " nodes", count);
            threshold += m_maxNodes;
        }
    });
    m_log.Format("%" PRIu64 " nodes total", count);
    m_nodeTotal = count;
}

void CAreaSplitter::CoverStrayNodes(CPBInputAdapter& input)
{
    // Crossing points rounded to map units bend the shared edges of areas
    // by less than a unit, which can leave slivers between neighbours; a
    // node in one belongs to no area. It joins the area with the nearest
    // edge, which bends out to it.
    TPoints strays;
    m_locator.Build(m_areas);
    ReadNodeBlocks(input, [&](const TPoints& points) {
        for (const CGeoPoint& p : points)
            if (m_locator.Locate(p) < 0)
                strays.PushBack(p);
    });
    m_locator.Clear();
    std::sort(strays.begin(), strays.end(),
              [](const CGeoPoint& a, const CGeoPoint& b) { return a.Packed() < b.Packed(); });
    strays.EraseRepeats();

    constexpr int32_t kReach = 2;  // map units: slivers are narrower
    CGrowArray<uint32_t> areas, edges;
    for (const CGeoPoint& p : strays) {
        const CGeoRect near{p.x - kReach, p.x + kReach, p.y - kReach, p.y + kReach};
        areas.Clear();
        m_areaTree.Query(near, areas);
        uint32_t bestArea = 0, bestEdge = 0;
        double best = double(kReach) * kReach;
        bool found = false;
        for (uint32_t a : areas) {
            edges.Clear();
            m_edgeTrees[a]->Query(near, edges);
            const TRing& ring = m_areas[a].ring;
            for (uint32_t e : edges) {
                double d = SquaredDistance(p, ring[e], ring[e + 1]);
                if (d < best || (d == best && !found)) {
                    best = d, bestArea = a, bestEdge = e, found = true;
                }
            }
        }
        if (!found) {
            std::printf("Node at %.7f,%.7f lies in no area\n", MapUnits::ToDegrees(p.y), MapUnits::ToDegrees(p.x));
            continue;
        }
        TRing& ring = m_areas[bestArea].ring;
        ring.PushBack(ring.Back());
        for (uint64_t i = ring.Count() - 2; i > bestEdge + 1; --i)
            ring[i] = ring[i - 1];
        ring[bestEdge + 1] = p;
        BuildEdgeTree(bestArea);
    }
    if (!strays.Empty()) {
        m_log.Format("%" PRIu64 " positions of nodes between areas joined the nearest one", strays.Count());
        BuildAreaTree();
    }
}

void CAreaSplitter::Subdivide(const CGeoRect& r, CGrowArray<TRing>& rings)
{
    const uint32_t width = Width(r);
    const bool longitude = int64_t(r.north) - r.south <= TrueWidth(width, MiddleLatitude(r));
    const int32_t cx = Geometry::LonAdd(r.west, width / 2);
    const int32_t cy = int32_t((int64_t(r.south) + r.north) / 2);
    CGrowArray<uint32_t> found;
    m_areaTree.Query(r, found);
    int64_t best = -1, bestDistance = 0;
    CGeoRect winner;
    for (uint32_t j : found) {
        const TRing& ring = m_areas[j].ring;
        bool inside = !ring.Empty() && std::all_of(ring.begin(), ring.end(), [&](CGeoPoint p) {
            return p.y >= r.south && p.y <= r.north && r.ContainsLongitude(p.x);
        });
        if (!inside)
            continue;
        CGeoRect b = m_edgeTrees[j]->RootRect();
        int32_t bx = Geometry::LonAdd(b.west, Width(b) / 2);
        int32_t by = int32_t((int64_t(b.south) + b.north) / 2);
        int64_t distance = longitude ? std::llabs(Geometry::LonDiff(cx, bx)) : std::llabs(int64_t(by) - cy);
        if (best < 0 || distance < bestDistance) {
            best = j;
            bestDistance = distance;
            winner = b;
        }
    }
    if (best >= 0) {
        CGeoRect first = r, second = r;
        bool splits;
        if (longitude) {
            int32_t v = Geometry::LonAdd(winner.west, Width(winner) / 2);
            first.east = v;
            second.west = Geometry::LonAdd(v, 1);
            splits = MapUnits::EastwardDistance(r.west, v) < width;
        } else {
            int32_t v = int32_t((int64_t(winner.south) + winner.north) / 2);
            first.south = v;
            second.north = v - 1;
            splits = v > r.south;
        }
        // Each half must lose the winner, or the subdivision would not end.
        if (splits && !Contains(first, winner) && !Contains(second, winner)) {
            Subdivide(first, rings);
            Subdivide(second, rings);
            return;
        }
    }
    rings.PushBack(RectangleRing(r.west, r.south, r.east, r.north));
}

void CAreaSplitter::ComputeOuterRings(CGrowArray<TRing>& rings)
{
    CGeoRect bounds{MapUnits::kMinLon, MapUnits::kMaxLon, -MapUnits::k90, MapUnits::k90};
    if (!m_outerNodes.Empty())
        bounds = BoundsOf(m_outerNodes.Data(), m_outerNodes.Count());
    if (bounds.CrossesAntimeridian()) {
        if (m_areas.Empty() && FitsRing(bounds.west, bounds.east)) {
            // The rings run on past +180 degrees, and so do the nodes there.
            for (CGeoPoint& p : m_outerNodes)
                if (p.x < bounds.west)
                    p.x = int32_t(int64_t(p.x) + MapUnits::kTurn);
            bounds.east = int32_t(int64_t(bounds.east) + MapUnits::kTurn);
        } else {
            // Polygon areas are not cut across 180 degrees: take the whole
            // turn, which holds every node all the same.
            bounds.west = MapUnits::kMinLon;
            bounds.east = MapUnits::kMaxLon;
        }
    }
    Subdivide(bounds, rings);
    CGrowArray<TRing> results;
    for (uint64_t a = 0; a < m_areas.Count(); ++a) {
        const uint64_t tested = rings.Count();  // pieces appended below are not tested against a again
        for (uint64_t r = 0; r < tested; ++r) {
            if (rings[r].Empty())
                continue;
            results.Clear();
            const Geometry::EOverlap overlap =
                Geometry::Difference(*m_edgeTrees[a], results, rings[r], m_areas[a].ring);
            if (overlap == Geometry::EOverlap::kCovered)
                rings[r].Free();
            if (overlap != Geometry::EOverlap::kTrimmed)
                continue;
            BuildEdgeTree(a);
            if (results.Count() == 1) {
                rings[r] = std::move(results[0]);
                continue;
            }
            rings[r].Free();
            for (TRing& ring : results)
                rings.PushBack(std::move(ring));
        }
    }
    for (uint64_t r = rings.Count(); r-- > 0;)
        if (rings[r].Empty())
            rings.Erase(r, r + 1);
}

namespace {

// Clockwise and closed, as the geometry takes rings.
void Normalize(TAreaList& areas)
{
    for (TArea& area : areas) {
        if (!Geometry::IsClockwise(area.ring))
            std::reverse(area.ring.begin(), area.ring.end());
        if (!area.ring.Empty() && !(area.ring[0] == area.ring.Back()))
            area.ring.PushBack(area.ring[0]);
    }
}

// Sorts areas by source, then name, and numbers the names that several
// areas share.
void SortAndNumber(TAreaList& areas)
{
    std::sort(areas.begin(), areas.end(), [](const TArea& a, const TArea& b) {
        if (a.source != b.source) {
            if (a.source == nullptr || b.source == nullptr)
                return a.source == nullptr;
            if (int c = a.source->compare(*b.source))
                return c < 0;
        }
        return a.name < b.name;
    });
    for (uint64_t i = 0; i < areas.Count();) {
        uint64_t end = i + 1;
        while (end < areas.Count() && areas[end].name == areas[i].name)
            ++end;
        // An empty name is numbered even alone: it would name a hidden
        // output file ".osm" with no name of its own.
        if (end - i > 1 || areas[i].name.empty()) {
            for (uint64_t k = 0; k < end - i; ++k) {
                char number[16];
                std::snprintf(number, sizeof number, "%06u", unsigned(k));
                std::string& name = areas[i + k].name;
                name += name.empty() ? "" : "_";
                name += number;
            }
        }
        i = end;
    }
}

}  // namespace

bool CAreaSplitter::SplitFullAreas(bool& changed)
{
    TAreaList split;
    for (uint64_t i = 0; i < m_areas.Count(); ++i) {
        TArea& area = m_areas[i];
        TPoints& nodes = m_nodeLists[i];
        if (nodes.Count() <= m_maxNodes) {
            split.PushBack(std::move(area));
            continue;
        }
        CGrowArray<TRing> rings;
        std::string said;
        const bool cut = SplitOne(nodes.Data(), nodes.Count(), std::move(area.ring), rings, said);
        std::fputs(said.c_str(), stdout);
        if (!cut)
            return false;
        nodes.Free();
        changed = true;
        for (TRing& ring : rings) {
            TArea& piece = split.EmplaceBack();
            piece.source = area.source;
            piece.name = area.name;
            piece.ring = std::move(ring);
        }
    }
    m_areas = std::move(split);
    return true;
}

bool CAreaSplitter::AddOuterAreas(CGrowArray<TRing>& outer)
{
    CGrowArray<TRing> rings;
    if (m_maxNodes != 0) {
        std::string said;
        const bool cut = Split(m_outerNodes.Data(), m_outerNodes.Count(), outer, rings, said);
        std::fputs(said.c_str(), stdout);
        if (!cut)
            return false;
    } else
        rings = std::move(outer);
    m_outerNodes.Free();
    for (TRing& ring : rings)
        m_areas.EmplaceBack().ring = std::move(ring);
    return true;
}

bool CAreaSplitter::Run(TAreaList& areas, CPBInputAdapter& input, bool processOuter, uint32_t reserveNodes)
{
    const bool polygons = !areas.Empty();
    m_areas = std::move(areas);
    Normalize(m_areas);
    RebuildTrees();
    ResolveOverlaps();

    if (m_maxNodes != 0) {
        m_locator.Build(m_areas);
        ReadNodes(input, processOuter, reserveNodes);
        m_locator.Clear();
    }
    CGrowArray<TRing> outer;
    if (processOuter)
        ComputeOuterRings(outer);

    bool changed = false;
    if (m_maxNodes != 0 && !SplitFullAreas(changed))
        return false;
    if (!outer.Empty()) {
        if (!AddOuterAreas(outer))
            return false;
        changed = true;
    }
    m_nodeLists.Free();
    if (changed) {
        RebuildTrees();
        ResolveOverlaps();
    }
    // Only trimmed polygons leave slivers; cut lines leave none with nodes.
    if (polygons && processOuter && m_maxNodes != 0)
        CoverStrayNodes(input);

    SortAndNumber(m_areas);
    m_edgeTrees.Clear();
    areas = std::move(m_areas);
    return true;
}

}  // namespace Splitter
