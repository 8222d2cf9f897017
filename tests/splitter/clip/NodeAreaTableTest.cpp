// The node area table against a plain binary search over the same pairs.
#include "splitter/clip/NodeAreaTable.h"

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

using namespace Splitter;

namespace {

// Every id of the set, twice, its neighbours and ids beyond its ends are
// looked up, as anywhere and after the key found before. Ids advance by 1 to
// gap, now and then by far more.
TEST(NodeAreaTable, FindsWhatABinarySearchFinds)
{
    std::mt19937_64 random(16);
    const struct {
        uint64_t count;
        OSM::TId first, gap;
    } cases[] = {{0, 1, 1}, {1, 5, 1}, {4000, 1, 2}, {3000, 100, 1000000}, {2000, -60000, 50},
                 {1000, Clip::kMaxKeyId - 2000000, 1000}, {1000, Clip::kMinKeyId, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        std::vector<std::pair<OSM::TId, int32_t>> pairs;
        OSM::TId id = c.first;
        for (uint64_t i = 0; i < c.count; ++i) {
            pairs.push_back({id, int32_t(random() % 300)});
            if (random() % 10 == 0)  // the same node in a second area
                pairs.push_back({id, int32_t(random() % 300)});
            id += 1 + OSM::TId(random() % uint64_t(c.gap));
            if (c.gap == 2 && random() % 500 == 0)
                id += OSM::TId(1) << (20 + random() % 20);
        }
        Clip::CNodeAreaTable table;
        table.Reserve(pairs.size() / 2);
        EXPECT_EQ(table.Find(c.first), Clip::kNoArea) << "nothing before Finish";
        // Negative ids come in the file's order: after the positive ones, falling.
        std::ranges::stable_sort(pairs, [](const auto& a, const auto& b) { return OSM::IdBefore(a.first, b.first); });
        for (const auto& [node, area] : pairs)
            table.Append(node, area);
        table.Finish();
        ASSERT_EQ(table.Count(), pairs.size());
        EXPECT_LE(table.BytesHeld(), pairs.size() * 8 + pairs.size() / 2 + 16) << "about 8 bytes per node";
        std::ranges::sort(pairs);
        std::vector<OSM::TId> probes = {Clip::kMinKeyId, Clip::kMaxKeyId, Clip::kMinKeyId - 1, Clip::kMaxKeyId + 1,
                                        INT64_MIN, INT64_MAX, 0};
        for (const auto& pair : pairs)
            for (OSM::TId d : {-2, -1, 0, 0, 1, 2})
                probes.push_back(pair.first + d);
        const Clip::TIdAreaKey* previous = nullptr;
        for (OSM::TId probe : probes) {
            // The lowest area of the id among the pairs, or none.
            auto at = std::ranges::lower_bound(pairs, std::make_pair(probe, INT32_MIN));
            ASSERT_EQ(table.Find(probe), at != pairs.end() && at->first == probe ? at->second : Clip::kNoArea)
                << "id " << probe;
            previous = table.FindKeyAfter(probe, previous);
            ASSERT_EQ(previous, table.FindKey(probe)) << "id " << probe << " after the key found before";
        }
    }
}

}  // namespace
