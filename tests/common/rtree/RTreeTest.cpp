#include "common/rtree/RTree.h"

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int32_t kDeg = MapUnits::kPerDegree;

CGeoRect Rect(double west, double east, double south, double north)
{
    return {MapUnits::FromDegrees(west), MapUnits::FromDegrees(east), MapUnits::FromDegrees(south),
            MapUnits::FromDegrees(north)};
}

TEST(Geo, IntersectsAcrossTheAntimeridian)
{
    CGeoRect wrap = Rect(179, -179, 0, 10);
    EXPECT_TRUE(wrap.CrossesAntimeridian());
    EXPECT_TRUE(Intersects(wrap, Rect(179.4, 179.6, 4, 5)));
    EXPECT_TRUE(Intersects(wrap, Rect(-179.6, -179.4, 4, 5)));
    EXPECT_FALSE(Intersects(wrap, Rect(-0.5, 0.5, 4, 5)));
    EXPECT_TRUE(Intersects(Rect(-0.5, 0.5, 4, 5), Rect(170, 10, 0, 10)));  // round the world eastwards
    // Touching edges and corners count; empty never intersects.
    EXPECT_TRUE(Intersects(Rect(0, 1, 0, 1), Rect(1, 2, 1, 2)));
    EXPECT_FALSE(Intersects(Rect(0, 1, 0, 1), Rect(1, 2, 1.0000001, 2)));
    EXPECT_FALSE(Intersects(CGeoRect{}, Rect(0, 1, 0, 1)));
    EXPECT_FALSE(Intersects(Rect(0, 1, 0, 1), CGeoRect{}));

    EXPECT_EQ(Intersection(wrap, Rect(178, 179.5, -5, 5)), Rect(179, 179.5, 0, 5));
    EXPECT_TRUE(Intersection(wrap, Rect(0, 1, 0, 1)).IsEmpty());
    EXPECT_TRUE(Contains(wrap, Rect(179.5, -179.5, 1, 2)));
    EXPECT_FALSE(Contains(wrap, Rect(178.5, -179.5, 1, 2)));
}

TEST(Geo, ExtendTakesTheShorterWayRound)
{
    CGeoRect r;
    Extend(r, CGeoRect::OfPoint({179 * kDeg, 5}));
    EXPECT_EQ(r, (CGeoRect{179 * kDeg, 179 * kDeg, 5, 5}));
    Extend(r, CGeoRect::OfPoint({-179 * kDeg, -5}));
    EXPECT_EQ(r, (CGeoRect{179 * kDeg, -179 * kDeg, -5, 5}));  // across the meridian, not round the world
    Extend(r, CGeoRect::OfPoint({178 * kDeg, 0}));
    EXPECT_EQ(r.west, 178 * kDeg);
    Extend(r, CGeoRect{});
    EXPECT_EQ(r.west, 178 * kDeg);

    CGeoRect a = Rect(0, 10, 0, 1);
    Extend(a, Rect(5, 2, 0, 1));  // b covers everything but 2..5
    EXPECT_EQ(a.west, MapUnits::kMinLon);
    EXPECT_EQ(a.east, MapUnits::kMaxLon);
    CGeoRect b = Rect(0, 10, 0, 1);
    Extend(b, Rect(-20, 20, 0, 1));  // a inside b
    EXPECT_EQ(b, Rect(-20, 20, 0, 1));
    CGeoRect c = Rect(0, 10, 0, 1);
    Extend(c, Rect(-30, -20, 5, 6));
    EXPECT_EQ(c, Rect(-30, 10, 0, 6));
}

std::vector<uint32_t> Sorted(const CGrowArray<uint32_t>& found)
{
    std::vector<uint32_t> v(found.begin(), found.end());
    std::sort(v.begin(), v.end());
    return v;
}

CGeoRect RandomRect(std::mt19937& random, bool small)
{
    auto lon = [&] { return int32_t(int64_t(random() % MapUnits::kTurn) - MapUnits::k180); };
    int32_t west = lon();
    uint32_t width = small ? random() % (5 * kDeg) : random() % (200u * kDeg);
    int32_t east = int32_t(int64_t(west) + width >= MapUnits::k180 ? int64_t(west) + width - MapUnits::kTurn
                                                                   : int64_t(west) + width);
    int32_t south = int32_t(random() % (160u * kDeg)) - 80 * kDeg;
    int32_t north = south + int32_t(random() % ((small ? 5u : 40u) * kDeg));
    if (random() % 10 == 0)
        east = west;  // zero width
    return {west, east, south, north};
}

TEST(RTree, AgreesWithBruteForce)
{
    std::mt19937 random(5);
    for (int round = 0; round < 20; ++round) {
        std::vector<RTree::TRecord> records;
        uint32_t n = 1 + random() % 400;
        for (uint32_t i = 0; i < n; ++i)
            records.push_back({RandomRect(random, round % 2 == 0), i});
        // Duplicates and shared edges.
        records.push_back({records[0].rect, n});
        RTree::CRTree tree(100);
        tree.Build(records.data(), records.size());
        ASSERT_EQ(tree.Count(true), records.size());
        for (int q = 0; q < 200; ++q) {
            CGeoRect query = RandomRect(random, q % 3 != 0);
            CGeoRect exclusion = q % 2 ? RandomRect(random, false) : CGeoRect{};
            std::vector<uint32_t> expected, expectedExcluding;
            for (const auto& r : records) {
                if (Intersects(r.rect, query)) {
                    expected.push_back(r.datum);
                    if (!Intersects(r.rect, exclusion))
                        expectedExcluding.push_back(r.datum);
                }
            }
            std::sort(expected.begin(), expected.end());
            std::sort(expectedExcluding.begin(), expectedExcluding.end());
            CGrowArray<uint32_t> found;
            tree.Query(query, found);
            ASSERT_EQ(Sorted(found), expected);
            // Two wide arcs can meet in two pieces, which a rectangle cannot
            // describe; the exclusion is exact for narrow queries.
            if (q % 3 != 0) {
                found.Clear();
                tree.QueryExcluding(query, exclusion, found);
                ASSERT_EQ(Sorted(found), expectedExcluding);
            }
            ASSERT_EQ(tree.Any(query), !expected.empty());
        }
        // The root covers every record.
        for (const auto& r : records)
            ASSERT_TRUE(Contains(tree.RootRect(), r.rect) || r.rect.CrossesAntimeridian());
    }
}

class CCollect : public RTree::CByteSink {
public:
    void Write(const void*, uint64_t length) override { bytes += length; }
    uint64_t bytes = 0;
};

TEST(RTree, ShapesSizesAndPools)
{
    RTree::CRTree empty(10);
    CGrowArray<uint32_t> found;
    empty.Query(Rect(-10, 10, -10, 10), found);
    EXPECT_TRUE(found.Empty());
    EXPECT_TRUE(empty.RootRect().IsEmpty());

    RTree::TRecord one{Rect(1, 2, 3, 4), 7};
    RTree::CRTree tree(10);
    tree.Build(&one, 1);
    ASSERT_TRUE(tree.Root()->IsDataNode());
    tree.Query(CGeoRect{}, found);
    EXPECT_TRUE(found.Empty());
    tree.Query(Rect(2, 3, 4, 5), found);  // touching at a corner
    ASSERT_EQ(found.Count(), 1u);
    EXPECT_EQ(found[0], 7u);

    // Equal maxima: no lower group, the rest in the middle and upper groups.
    std::vector<RTree::TRecord> equal;
    for (uint32_t i = 0; i < 9; ++i)
        equal.push_back({Rect(i, 20, 0, 1), i});
    tree.Build(equal.data(), equal.size());
    EXPECT_EQ(tree.Count(true), 9u);
    CCollect sink;
    tree.Write(sink);
    EXPECT_EQ(sink.bytes, tree.SerializedSize());
    uint64_t inner = tree.Count(false) - tree.Count(true);
    // 4 bytes per datum, 4 per inner node, 20 per child link.
    EXPECT_EQ(tree.SerializedSize(), 4 * 9 + 4 * inner + 20 * (tree.Count(false) - 1));

    // Rebuilding reuses the freed nodes: no new chunk.
    auto data = CSharedPtr<RTree::TDataPool>::MakeStatic(64);
    auto innerPool = CSharedPtr<RTree::TInnerPool>::MakeStatic(64);
    RTree::CRTree shared(data, innerPool);
    shared.Build(equal.data(), equal.size());
    uint64_t chunks = data->ChunkCount() + innerPool->ChunkCount();
    for (int i = 0; i < 10; ++i)
        shared.Build(equal.data(), equal.size());
    EXPECT_EQ(data->ChunkCount() + innerPool->ChunkCount(), chunks);
}

}  // namespace
