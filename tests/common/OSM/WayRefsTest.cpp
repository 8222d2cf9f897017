// The node references of a way, decoded alone, are those of the whole way.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/OSM/PBFReader.h"
#include "tests/support/PbfBuilder.h"

namespace {

using namespace test;

TEST(WayRefs, EqualTheRefsOfTheDecodedWay)
{
    std::mt19937 random(7);
    OSMPBF::PrimitiveBlock nodes = DenseBlock({{1, 0, 0, {{"a", "b"}}}, {2, 5, 5, {}}});
    OSMPBF::PrimitiveBlock ways;
    OSMPBF::PrimitiveGroup& group = *ways.add_primitivegroup();
    for (int64_t id = 1; id <= 40; ++id) {
        std::vector<int64_t> refs;
        for (uint32_t k = random() % 12; k > 0; --k)  // some ways without refs
            refs.push_back(int64_t(random() % 2000000) - 1000000);
        AddWay(ways, group, id, refs, {{std::to_string(id % 3), "v"}});
    }
    CMemoryReadStream stream(PbfFile({DataBlob(nodes), DataBlob(ways)}));
    CPBInputAdapter input;
    ASSERT_TRUE(input.Open(stream));
    OSM::CPBFReaderAdapter reader(input);
    int checked = 0;
    while (reader.ReadNext()) {
        // Asked first, the refs alone; then the whole way from the same entity.
        const std::vector<int64_t> alone(reader.WayRefs().begin(), reader.WayRefs().end());
        if (reader.GetType() != OSM::kWay) {
            EXPECT_TRUE(alone.empty()) << "node " << reader.GetId();
            continue;
        }
        const OSM::TWay& way = reader.Way();
        EXPECT_EQ(alone, std::vector<int64_t>(way.nodeRefs.begin(), way.nodeRefs.end())) << "way " << way.id;
        ++checked;
    }
    EXPECT_EQ(checked, 40);
}

}  // namespace
