// The R-tree against brute force on random rectangles.
#include "common/rtree/RTree.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

namespace {

using MapUnits::FromDegrees;
using RTree::CRTree;
using RTree::TRecord;

const CGeoRect kWorld{MapUnits::kMinLon, MapUnits::kMaxLon, -MapUnits::k90, MapUnits::k90};

// The data the tree finds in rect, less those in exclusion when one is given, sorted.
std::vector<uint32_t> Query(const CRTree& tree, const CGeoRect& rect, const CGeoRect* exclusion = nullptr)
{
    CGrowArray<uint32_t> found;
    if (exclusion != nullptr)
        tree.QueryExcluding(rect, *exclusion, found);
    else
        tree.Query(rect, found);
    std::sort(found.begin(), found.end());
    return {found.begin(), found.end()};
}

// Grid edges make shared edges and corners common; free rectangles are small
// or wide and cross the antimeridian whenever they run past it.
CGeoRect RandomRect(std::mt19937& rng, double width)
{
    auto uniform = [&rng](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
    auto grid = [&rng](int n) { return FromDegrees(30.0 * (int(rng() % n) - n / 2)); };  // 30-degree steps
    switch (rng() % 8) {
    case 0: {
        int32_t w = rng() % 13 == 0 ? MapUnits::kMaxLon : grid(12), e = grid(12), s = grid(7), n = grid(7);
        return {w, e, std::min(s, n), std::max(s, n)};
    }
    case 1:
        return kWorld;
    default:
        const int32_t w = int32_t(uniform(MapUnits::kMinLon, MapUnits::kMaxLon));
        int64_t e = w + uniform(0, int64_t(std::min(width, 359.0) * MapUnits::kPerDegree));
        if (e > MapUnits::kMaxLon)
            e -= MapUnits::kTurn;
        const int32_t s = int32_t(uniform(-MapUnits::k90, MapUnits::k90));
        const int64_t n = std::min<int64_t>(s + uniform(0, int64_t(width / 2 * MapUnits::kPerDegree)), MapUnits::k90);
        return {w, int32_t(e), s, int32_t(n)};
    }
}

struct TSink {  // the Write(bytes, length) shape that streams have
    void Write(const void* bytes, uint64_t length) { data.append(static_cast<const char*>(bytes), length); }
    std::string data;
};

// Sets of every size rebuild one tree, empty and identical rectangles among
// them; the serialised form takes 4 bytes a leaf, 4 and 20 a child for each
// inner node, whose children are every node but the root.
TEST(RTree, QueriesMatchBruteForce)
{
    std::mt19937 rng(20240607);
    CRTree tree(100);
    for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 7u, 16u, 100u, 1000u, 0u, 500u}) {
        for (double width : {2.0, 60.0, 360.0}) {
            std::vector<TRecord> records;
            for (uint32_t i = 0; i < n; ++i)
                records.push_back({n == 500 ? kWorld : RandomRect(rng, width), i});
            tree.Build(records.data(), records.size());
            TSink sink;
            tree.Write(sink);
            const uint64_t nodes = tree.Count(false), inner = nodes - tree.Count(true);
            EXPECT_EQ(tree.Count(true), n);
            EXPECT_EQ(sink.data.size(), tree.SerializedSize());
            EXPECT_EQ(tree.SerializedSize(), n == 0 ? 0 : 4 * n + 4 * inner + 20 * (nodes - 1));
            EXPECT_EQ(tree.RootRect().IsEmpty(), n == 0);
            EXPECT_EQ(Query(tree, kWorld).size(), n);
            for (int q = 0; q < 300; ++q) {
                const CGeoRect rect = q == 0 ? CGeoRect{} : RandomRect(rng, width * 2);
                const CGeoRect exclusion = rng() % 4 == 0 ? CGeoRect{} : RandomRect(rng, width * 2);
                std::vector<uint32_t> hits, kept;
                for (const TRecord& r : records) {
                    if (Intersects(r.rect, rect))
                        hits.push_back(r.datum);
                    if (Intersects(r.rect, rect) && !Intersects(r.rect, exclusion))
                        kept.push_back(r.datum);
                }
                ASSERT_EQ(Query(tree, rect), hits) << "n " << n << " query " << q;
                ASSERT_EQ(tree.Any(rect), !hits.empty()) << "n " << n << " query " << q;
                ASSERT_EQ(Query(tree, rect, &exclusion), kept) << "n " << n << " query " << q;
            }
        }
    }
}

// Rebuilds give their blocks back to the pools first; the trees let go of
// the pools, which live on. Byte sinks and streams receive the same bytes.
TEST(RTree, RebuildsReuseThePoolBlocks)
{
    auto dataPool = CSharedPtr<CRTree::TDataPool>::MakeStatic(100);
    auto innerPool = CSharedPtr<CRTree::TInnerPool>::MakeStatic(100);
    std::mt19937 rng(3);
    std::vector<TRecord> big;
    for (uint32_t i = 0; i < 1000; ++i)
        big.push_back({RandomRect(rng, 10), i});
    {
        CRTree a(dataPool, innerPool), b(dataPool, innerPool);
        a.Build(big.data(), 1000);
        EXPECT_EQ(dataPool->ChunkCount(), 10u);  // exactly 1000 leaves
        const uint64_t innerChunks = innerPool->ChunkCount();
        for (int round = 0; round < 3; ++round) {
            a.Build(big.data(), 1000);
            a.Clear();
            b.Build(big.data(), 1000);
            b.Build(big.data(), 300);
            a.Build(big.data(), 300);
            b.Clear();
        }
        EXPECT_EQ(dataPool->ChunkCount(), 10u);
        EXPECT_EQ(innerPool->ChunkCount(), innerChunks);
        b.Build(big.data(), 300);
        EXPECT_EQ(Query(a, kWorld), Query(b, kWorld));

        struct TDerived final : RTree::CByteSink {
            void Write(const void* bytes, uint64_t n) override { data.append(static_cast<const char*>(bytes), n); }
            std::string data;
        } derived;
        TSink plain;
        a.Write(derived);
        a.Write(plain);
        EXPECT_EQ(derived.data, plain.data);
    }
    EXPECT_EQ(dataPool.UseCount(), 1u);
}

}  // namespace
