// A file whose ways carry the locations of the nodes it lacks is completed
// with those nodes, in id order; what it holds stays as it is.
#include "common/OSM/WayNodes.h"

#include <gtest/gtest.h>

#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace test;

// A way whose nodes lie at (n, n) for each n of at, in granularity units.
void AddLocatedWay(OSMPBF::PrimitiveBlock& block, int64_t id, const std::vector<int64_t>& refs,
                   const std::vector<int64_t>& at)
{
    AddWay(block, *block.mutable_primitivegroup(0), id, refs);
    OSMPBF::Way& way = *block.mutable_primitivegroup(0)->mutable_ways()->rbegin();
    for (size_t k = 0; k < at.size(); ++k) {
        way.add_lat(at[k] - (k > 0 ? at[k - 1] : 0));
        way.add_lon(at[k] - (k > 0 ? at[k - 1] : 0));
    }
}

TEST(WayNodes, AddsTheNodesThatWaysLocate)
{
    const std::string nodes = DataBlob(DenseBlock({{-3, 30, 30, {{"a", "b"}}}, {2, 20, 20, {}}}));
    OSMPBF::PrimitiveBlock ways;
    ways.add_primitivegroup();
    // Node 9 lies off the globe, node 4 elsewhere in way 8, and way 10
    // carries no location for each node.
    AddLocatedWay(ways, 7, {-5, -3, 1, 2, 4}, {50, 31, 10, 21, 40});
    AddLocatedWay(ways, 8, {4, 9}, {60, 9000000000});
    AddLocatedWay(ways, 10, {11, 12}, {11});
    CTempDir dir;
    OSM::TInfo info;
    info.version = 1;
    info.timestamp = 5000;
    for (const std::string& blocks : {nodes, nodes + DataBlob(ways)}) {
        CMemoryReadStream stream(HeaderBlob() + blocks);
        CPBInputAdapter input;
        ASSERT_TRUE(input.Open(stream));
        const bool complete = blocks == nodes;
        EXPECT_EQ(OSM::WriteWithWayNodes(input, dir / "copy.pbf", info), complete ? 0u : 3u);
        EXPECT_EQ(FileExists(dir / "copy.pbf"), !complete);
    }
    EXPECT_EQ(DescribePbf(ReadFile(dir / "copy.pbf")),
              "n-3 v0 u0: c0 t0 vis0 a=b @25,25\nn-5 v1 u0: c0 t5000 vis0 @42,42\nn1 v1 u0: c0 t5000 vis0 @8,8\n"
              "n2 v0 u0: c0 t0 vis0 @17,17\nn4 v1 u0: c0 t5000 vis0 @34,34\nw7 v-1 u0: c0 t0 vis0 -5 -3 1 2 4\n"
              "w8 v-1 u0: c0 t0 vis0 4 9\nw10 v-1 u0: c0 t0 vis0 11 12\n");
}

}  // namespace
