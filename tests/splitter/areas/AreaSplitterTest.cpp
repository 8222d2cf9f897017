// The automatic split of small synthetic extracts: where the median cut
// falls, and that a pass over its areas places every node exactly once.
#include "splitter/areas/AreaSplitter.h"
#include "splitter/areas/SplitCuts.h"

#include <algorithm>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "common/OSM/PBInputAdapter.h"
#include "common/base/HelperThread.h"
#include "splitter/Log.h"
#include "splitter/SplitFile.h"
#include "tests/splitter/clip/PassHarness.h"
#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

using namespace test;

TAreaList SplitAutomatically(const std::vector<TTestNode>& nodes, uint32_t maxNodes, const std::string& label)
{
    CMemoryReadStream stream(PbfInput(nodes));
    CPBInputAdapter input;
    EXPECT_TRUE(input.Open(stream)) << label;
    CStdOutLog log;
    log.enabled = false;
    TAreaList areas;
    bool ok = false;
    std::string printed = CaptureStdout([&] { ok = CAreaSplitter(maxNodes, log).Run(areas, input, true, 0); });
    EXPECT_TRUE(ok) << label << "\n" << printed;
    return areas;
}

TEST(AreaSplitter, MedianCutPartsTheNodesAtTheLowerMiddle)
{
    // Nodes in a band along a parallel at these longitudes (degrees), so that
    // the one cut is a meridian. The lower part takes the nodes up to the
    // lower of the two middle positions; nodes equal to the median go to the
    // side that holds more of them past the middle.
    const struct {
        std::vector<double> lons;
        ptrdiff_t lower;  // nodes west of the cut
    } cases[] = {{{1, 2, 3, 4}, 2},
                 {{4, 3, 2, 1, 6, 5}, 3},
                 {{0, 1, 1, 1, 2, 3}, 4},
                 {{0, 1, 2, 2, 2, 3}, 2},
                 {{1, 2, 2, 3}, 1},
                 {{1, 2, 2, 3, 3, 3}, 3},
                 {{2, 5, 2, 2, 1, 2, 2, 3, 2, 2, 0, 2, 2, 2}, 2},
                 {{9, 2, 8, 2, 7, 2, 1, 2, 0, 2, 6, 2, 2, 5, 2, 2}, 11}};
    for (const auto& c : cases) {
        // The cut itself parts the nodes as the areas do.
        std::vector<CGeoPoint> points;
        for (double lon : c.lons)
            points.push_back({MapUnits::FromDegrees(lon), 0});
        int32_t s = 0;
        EXPECT_EQ(MedianCut(points.data(), points.size(), true, s), uint64_t(c.lower));
        for (ptrdiff_t i = 0; i < ptrdiff_t(points.size()); ++i)
            EXPECT_EQ(points[i].x <= s, i < c.lower) << ::testing::PrintToString(c.lons) << " " << i;

        std::vector<TTestNode> nodes;
        for (double lon : c.lons)
            nodes.push_back(NodeAt(int64_t(nodes.size()) + 1, lon, 10 + 0.01 * double(nodes.size())));
        const std::string label = ::testing::PrintToString(c.lons);
        const TAreaList areas = SplitAutomatically(nodes, uint32_t(c.lons.size() - 1), label);
        ASSERT_EQ(areas.Count(), 2u) << label;
        const CGeoRect a = RingBounds(areas[0].ring), b = RingBounds(areas[1].ring);
        const int32_t cut = std::min(a.east, b.east);  // the western area's east edge
        EXPECT_EQ(std::max(a.west, b.west), cut + 1) << label;
        auto west = [&](double lon) { return MapUnits::FromDegrees(lon) <= cut; };
        EXPECT_EQ(std::count_if(c.lons.begin(), c.lons.end(), west), c.lower) << label;
    }
}

// A first cut of many nodes splits its two sides at once, the upper on the
// program's helper thread: the areas, and what the split prints of nodes it
// cannot part, are those of one side after the other.
TEST(AreaSplitter, SidesSplitAtOnceGiveWhatOneAfterTheOtherGives)
{
    // Two places with too many nodes to part, in the corners of a square.
    std::vector<TTestNode> nodes = {NodeAt(1, 5, 45), NodeAt(2, 5, 46), NodeAt(3, 7, 45), NodeAt(4, 7, 46)};
    for (int64_t i = 0; i < 2 * int64_t(CAreaSplitter::kSidesApartNodes); ++i)
        nodes.push_back(i % 2 == 0 ? NodeAt(i + 5, 6.5, 45.75) : NodeAt(i + 5, 5.25, 45.25));
    auto split = [&](std::string& printed) {
        CMemoryReadStream stream(PbfInput(nodes));
        CPBInputAdapter input;
        EXPECT_TRUE(input.Open(stream));
        CStdOutLog log;
        log.enabled = false;
        TAreaList areas;
        printed = CaptureStdout([&] { EXPECT_TRUE(CAreaSplitter(1000, log).Run(areas, input, true, 0)); });
        return areas;
    };
    std::string alone, apart;
    const TAreaList one = split(alone);
    CHelperThread helper;
    const TAreaList two = split(apart);
    EXPECT_EQ(apart, alone);
    EXPECT_LT(alone.find("45.2500000,5.2500000 cannot"), alone.find("45.7500000,6.5000000 cannot")) << alone;
    EXPECT_NE(alone.find("45.7500000,6.5000000 cannot"), std::string::npos) << alone;
    ASSERT_EQ(two.Count(), one.Count());
    for (uint64_t i = 0; i < one.Count(); ++i)
        EXPECT_TRUE(std::equal(one[i].ring.begin(), one[i].ring.end(), two[i].ring.begin(), two[i].ring.end())) << i;
}

// columns x rows nodes from west eastward, on through 180 degrees, and more.
std::vector<TTestNode> Grid(double west, double south, double width, double height, int columns, int rows,
                            std::vector<TTestNode> more = {})
{
    std::vector<TTestNode> nodes;
    for (int i = 0; i < columns * rows; ++i) {
        const double lon = west + width * (i / rows) / (columns - 1), lat = south + height * (i % rows) / (rows - 1);
        nodes.push_back(NodeAt(i + 1, lon >= 180 ? lon - 360 : lon, lat));
    }
    nodes.insert(nodes.end(), more.begin(), more.end());
    return nodes;
}

// Tiles cut inside the data have edges on node columns: they hold every node
// once, no more than max-nodes of them, and so do the same rings loaded back
// from the split file.
TEST(AreaSplitter, ExtractsAcrossTheAntimeridianKeepEveryNode)
{
    std::vector<TTestNode> on180;  // a column on the meridian as +180, beside the grid's as -180
    for (int j = 0; j < 9; ++j)
        on180.push_back(NodeAt(100 + j, 180, 60 + j / 8.0));
    const struct {
        const char* name;
        uint32_t maxNodes;
        std::vector<TTestNode> nodes;
    } cases[] = {
        {"near 5E and one node on -180", 1600000, Grid(1, 10, 4, 35.54, 60, 50, {NodeAt(3001, -180, 10)})},
        {"near 5E, small tiles", 1000, Grid(1, 10, 4, 35.54, 60, 50, {NodeAt(3001, -180, 10)})},
        {"175E to 175W", 1000, Grid(175, -20, 10, 5, 120, 50)},
        {"175E to 175W, one tile", 1600000, Grid(175, -20, 10, 5, 120, 50)},
        {"on both names of 180", 30, Grid(178, 60, 4, 1, 9, 9, on180)},
        {"a wide extract across 180", 200, Grid(100, -50, 150, 20, 40, 20)},
        // The median cut runs along the extract's southern edge: nothing to part.
        {"two nodes, one area", 1, {NodeAt(1, 11.5753822, 48.1371079), NodeAt(2, 13.3888599, 52.5170365)}},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        TAreaList loaded;
        TAreaList areas = SplitAutomatically(c.nodes, c.maxNodes, c.name);
        ASSERT_TRUE(WriteSplitFile(dir / "areas.list", areas) && LoadSplitFile(dir / "areas.list", loaded, nullptr));
        // The same rings, but that one lying past +180 degrees loads back a
        // full turn west.
        auto same = [](CGeoPoint p, CGeoPoint q) {
            return MapUnits::Natural(p.x) == MapUnits::Natural(q.x) && p.y == q.y;
        };
        ASSERT_EQ(loaded.Count(), areas.Count());
        for (uint64_t i = 0; i < areas.Count(); ++i)
            EXPECT_TRUE(std::equal(areas[i].ring.begin(), areas[i].ring.end(), loaded[i].ring.begin(),
                                   loaded[i].ring.end(), same))
                << c.name << " " << i;
        for (TAreaList* tiles : {&areas, &loaded}) {
            // Every node in exactly one of the areas, as the pass places them.
            std::vector<TRing> rings;
            for (const TArea& area : *tiles)
                rings.push_back(area.ring);
            CPassHarness pass(rings);
            ASSERT_TRUE(pass.Run(PbfInput(c.nodes)).ok) << c.name;
            std::map<int64_t, int> copies;
            for (uint32_t o = 0; o < pass.OutputCount(); ++o) {
                for (const OSM::TNode& node : pass.Output(o).nodes)
                    ++copies[node.id];
                EXPECT_LE(pass.Output(o).nodes.size(), std::max<size_t>(c.maxNodes, c.nodes.size() * (areas.Count() == 1)))
                    << c.name << " " << o;
            }
            for (const TTestNode& node : c.nodes)
                ASSERT_EQ(copies[node.id], 1) << c.name << (tiles == &loaded ? ", loaded back" : "") << ": " << node.id;
        }
    }
}

}  // namespace
