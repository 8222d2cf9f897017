// The node references of a way, decoded alone, are those of the whole way.
#include <gtest/gtest.h>

#include <random>

#include "common/OSM/PBFReader.h"
#include "tests/support/PbfBuilder.h"

namespace {

TEST(WayRefs, EqualTheRefsOfTheDecodedWay)
{
    std::mt19937 random(7);
    OSMPBF::PrimitiveBlock ways;
    OSMPBF::PrimitiveGroup& group = *ways.add_primitivegroup();
    for (int64_t id = 1; id <= 40; ++id) {
        std::vector<int64_t> refs(random() % 12);  // some ways without refs
        for (int64_t& ref : refs)
            ref = int64_t(random() % 2000000) - 1000000;
        test::AddWay(ways, group, id, refs, {{std::to_string(id % 3), "v"}});
    }
    const OSMPBF::PrimitiveBlock nodes = test::DenseBlock({{1, 0, 0, {{"a", "b"}}}, {2, 5, 5, {}}});
    test::CMemoryReadStream stream(test::PbfFile({test::DataBlob(nodes), test::DataBlob(ways)}));
    CPBInputAdapter input;
    ASSERT_TRUE(input.Open(stream));
    OSM::CPBFReaderAdapter reader(input);
    int checked = 0;
    while (reader.ReadNext()) {
        // Asked first, the refs alone; then the whole way from the same entity.
        const std::vector<int64_t> alone(reader.WayRefs().begin(), reader.WayRefs().end());
        std::vector<int64_t> whole;
        if (reader.GetType() == OSM::kWay) {
            const OSM::TWay& way = reader.Way();
            whole.assign(way.nodeRefs.begin(), way.nodeRefs.end());
            ++checked;
        }
        EXPECT_EQ(alone, whole) << reader.GetId();
    }
    EXPECT_EQ(checked, 40);
}

}  // namespace
