// Looking a node up next to the one looked up before finds what a search of
// the whole table finds.
#include <gtest/gtest.h>

#include <random>

#include "splitter/clip/NodeAreaTable.h"

namespace {

using Clip::CNodeAreaTable;

TEST(NodeAreaLookup, AfterThePreviousKeyAsAnywhere)
{
    std::mt19937_64 random(16);
    for (int round = 0; round < 20; ++round) {
        // Runs of consecutive ids, some ids in several areas, gaps between.
        CNodeAreaTable table;
        OSM::TId id = OSM::TId(random() % 100) - 50;
        for (int n = 0; n < 400; ++n) {
            id += random() % 4 == 0 ? 1 + OSM::TId(random() % 5) : 1;
            for (uint64_t k = random() % 8 == 0 ? 3 : 1; k > 0; --k)
                table.Append(id, int32_t(random() % 5));
        }
        table.Finish();
        // Queries as the nodes of ways give them: mostly the next id, some
        // repeated, some far off or absent.
        const Clip::TIdAreaKey* previous = nullptr;
        OSM::TId query = OSM::TId(random() % 100) - 60;
        for (int q = 0; q < 2000; ++q) {
            const uint64_t step = random() % 10;
            query = step < 6 ? query + 1 : step < 8 ? query : OSM::TId(random() % 1400) - 100;
            const Clip::TIdAreaKey* after = table.FindKeyAfter(query, previous);
            ASSERT_EQ(after, table.FindKey(query)) << "round " << round << ", id " << query;
            previous = random() % 16 == 0 ? nullptr : after;
        }
    }
}

}  // namespace
