#include <algorithm>
#include <random>
#include <vector>

#include "splitter/AreaGeometry.h"

#include <gtest/gtest.h>

namespace {

using namespace Geometry;

// Whether p lies on an edge or a vertex of ring.
bool OnRing(const TRing& ring, CGeoPoint p)
{
    for (uint64_t i = 0; i + 1 < ring.Count(); ++i) {
        CGeoPoint a = ring[i], b = ring[i + 1];
        int64_t cross = (int64_t(b.x) - a.x) * (int64_t(p.y) - a.y) - (int64_t(b.y) - a.y) * (int64_t(p.x) - a.x);
        if (cross == 0 && p.x >= std::min(a.x, b.x) && p.x <= std::max(a.x, b.x) && p.y >= std::min(a.y, b.y) &&
            p.y <= std::max(a.y, b.y))
            return true;
    }
    return false;
}

// Whether p lies in ring or on it, by counting the edges crossing the ray
// running east from p.
bool InOrOnRing(const TRing& ring, CGeoPoint p)
{
    if (OnRing(ring, p))
        return true;
    bool inside = false;
    for (uint64_t i = 0; i + 1 < ring.Count(); ++i) {
        CGeoPoint a = ring[i], b = ring[i + 1];
        if ((a.y > p.y) == (b.y > p.y))
            continue;
        // x of the edge at p.y, compared with p.x without division.
        int64_t num = int64_t(a.x) * (int64_t(b.y) - a.y) + (int64_t(p.y) - a.y) * (int64_t(b.x) - a.x);
        int64_t den = int64_t(b.y) - a.y;
        if (den < 0 ? num < int64_t(p.x) * den : num > int64_t(p.x) * den)
            inside = !inside;
    }
    return inside;
}

// Columns of random widths, each cut by random polylines that never meet
// into clockwise areas with slanted edges, vertices shared along the cuts
// and T-junctions along the meridians between columns.
TAreaList RandomTiling(std::mt19937& random, int columns, int rows, int samples)
{
    TAreaList areas;
    int32_t x0 = -5000;
    for (int c = 0; c < columns; ++c) {
        int32_t x1 = x0 + 200 + int32_t(random() % 2000);
        std::vector<int32_t> xs{x0};
        for (int s = 1; s < samples; ++s)
            xs.push_back(x0 + int32_t((int64_t(x1 - x0) * s) / samples) + int32_t(random() % 3) - 1);
        xs.push_back(x1);
        // cut[j][s]: y of cut j at xs[s], rising with j.
        std::vector<std::vector<int32_t>> cuts(rows + 1, std::vector<int32_t>(xs.size()));
        for (uint64_t s = 0; s < xs.size(); ++s) {
            int32_t y = -5000;
            for (int j = 0; j <= rows; ++j) {
                cuts[j][s] = y;
                y += 1 + int32_t(random() % 900);
            }
        }
        for (int j = 0; j < rows; ++j) {
            TRing& ring = areas.EmplaceBack().ring;
            for (uint64_t s = 0; s < xs.size(); ++s)
                ring.PushBack({xs[s], cuts[j + 1][s]});
            for (uint64_t s = xs.size(); s-- > 0;)
                ring.PushBack({xs[s], cuts[j][s]});
            ring.PushBack(ring[0]);
        }
        x0 = x1;
    }
    return areas;
}

// Points spread over and around the areas, and every vertex and edge middle
// (where the ties lie).
std::vector<CGeoPoint> Probes(std::mt19937& random, const TAreaList& areas)
{
    std::vector<CGeoPoint> points;
    CGeoRect box = RingBounds(areas[0].ring);
    for (const TArea& area : areas) {
        CGeoRect r = RingBounds(area.ring);
        box = {std::min(box.west, r.west), std::min(box.south, r.south), std::max(box.east, r.east),
               std::max(box.north, r.north)};
        for (uint64_t i = 0; i + 1 < area.ring.Count(); ++i) {
            CGeoPoint a = area.ring[i], b = area.ring[i + 1];
            points.push_back(a);
            if ((a.x + b.x) % 2 == 0 && (a.y + b.y) % 2 == 0)
                points.push_back({(a.x + b.x) / 2, (a.y + b.y) / 2});
        }
    }
    for (int n = 0; n < 20000; ++n)
        points.push_back({box.west - 100 + int32_t(random() % uint32_t(box.east - box.west + 200)),
                          box.south - 100 + int32_t(random() % uint32_t(box.north - box.south + 200))});
    return points;
}

TEST(AreaLocator, AgreesWithPointInRingOnRandomTilings)
{
    struct {
        int columns, rows, samples;
        bool enclosed;  // the tiling lies inside one more area, listed first
        int gaps;       // every gaps-th tile left out, so that meridians hold nested edges
    } cases[] = {{1, 1, 1, false, 0}, {1, 5, 4, false, 0}, {3, 3, 1, false, 0}, {4, 6, 3, false, 0},
                 {8, 12, 5, false, 0}, {20, 20, 2, false, 0}, {1, 1, 1, true, 0},  {5, 4, 3, true, 0},
                 {12, 12, 1, false, 3}, {6, 8, 3, true, 2}};
    std::mt19937 random(16);
    for (const auto& c : cases) {
        TAreaList tiles = RandomTiling(random, c.columns, c.rows, c.samples), areas;
        int32_t first = 0;
        if (c.enclosed) {
            CGeoRect box = RingBounds(tiles[0].ring);
            for (const TArea& tile : tiles) {
                CGeoRect r = RingBounds(tile.ring);
                box = {std::min(box.west, r.west), std::min(box.south, r.south), std::max(box.east, r.east),
                       std::max(box.north, r.north)};
            }
            TRing& ring = areas.EmplaceBack().ring;
            for (CGeoPoint p : {CGeoPoint{box.west - 50, box.south - 50}, CGeoPoint{box.west - 50, box.north + 50},
                                CGeoPoint{box.east + 50, box.north + 50}, CGeoPoint{box.east + 50, box.south - 50},
                                CGeoPoint{box.west - 50, box.south - 50}})
                ring.PushBack(p);
            first = 1;
        }
        for (uint64_t t = 0; t < tiles.Count(); ++t)
            if (c.gaps == 0 || t % uint64_t(c.gaps) != 0)
                areas.EmplaceBack().ring = tiles[t].ring;
        CAreaLocator locator;
        locator.Build(areas);
        for (CGeoPoint p : Probes(random, areas)) {
            bool border = false;
            int32_t area = locator.Locate(p, &border);
            // The innermost areas holding p.
            std::vector<int32_t> holding;
            for (uint64_t k = uint64_t(first); k < areas.Count(); ++k)
                if (InOrOnRing(areas[k].ring, p))
                    holding.push_back(int32_t(k));
            if (holding.empty() && first == 1 && InOrOnRing(areas[0].ring, p))
                holding.push_back(0);
            if (holding.empty()) {
                ASSERT_EQ(area, CAreaLocator::kNone) << p.x << "," << p.y << " in case " << c.columns;
                continue;
            }
            ASSERT_NE(std::find(holding.begin(), holding.end(), area), holding.end())
                << p.x << "," << p.y << " in case " << c.columns << " found " << area;
            ASSERT_EQ(border, OnRing(areas[area].ring, p)) << p.x << "," << p.y;
            if (holding.size() > 1) {
                ASSERT_TRUE(border) << p.x << "," << p.y;
            }
        }
    }
}

TEST(AreaLocator, RebuildsAndClears)
{
    std::mt19937 random(7);
    CAreaLocator locator;
    TAreaList big = RandomTiling(random, 6, 6, 3), one = RandomTiling(random, 1, 1, 1);
    locator.Build(big);
    uint64_t bigBytes = locator.BytesHeld();
    locator.Build(one);
    EXPECT_LT(locator.BytesHeld(), bigBytes);
    // The middle of a four-sided convex area.
    int64_t x = 0, y = 0;
    for (uint64_t i = 0; i < 4; ++i) {
        x += one[0].ring[i].x;
        y += one[0].ring[i].y;
    }
    CGeoPoint inside{int32_t(x / 4), int32_t(y / 4)};
    EXPECT_EQ(locator.Locate(inside), 0);
    locator.Clear();
    EXPECT_EQ(locator.BytesHeld(), 0u);
    EXPECT_EQ(locator.Locate(inside), CAreaLocator::kNone);
}

}  // namespace
