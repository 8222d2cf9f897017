// The R-tree against brute force on random rectangles.
#include "common/rtree/RTree.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using MapUnits::FromDegrees;
using MapUnits::kMaxLon;
using MapUnits::kMinLon;
using RTree::CRTree;
using RTree::TRecord;

CGeoRect Deg(double west, double east, double south, double north)
{
    return {FromDegrees(west), FromDegrees(east), FromDegrees(south), FromDegrees(north)};
}

const CGeoRect kWorld{kMinLon, kMaxLon, -MapUnits::k90, MapUnits::k90};

std::vector<uint32_t> Query(const CRTree& tree, const CGeoRect& rect, bool sorted = false)
{
    CGrowArray<uint32_t> found;
    tree.Query(rect, found);
    std::vector<uint32_t> v(found.begin(), found.end());
    if (sorted)
        std::sort(v.begin(), v.end());
    return v;
}

// Longitudes in [-180, 180), latitudes in [-90, 90]. Grid edges make shared
// edges and corners common; free rectangles are small or wide and cross the
// antimeridian whenever they run past it.
class CRandomRects {
public:
    explicit CRandomRects(uint32_t seed) : m_rng(seed) {}
    CGeoRect Rect(double width)
    {
        auto grid = [&](int n, double step) { return FromDegrees(double(int(m_rng() % n) - n / 2) * step); };
        switch (m_rng() % 8) {
        case 0: {
            int32_t w = m_rng() % 13 == 0 ? kMaxLon : grid(12, 30), e = grid(12, 30), s = grid(7, 30), n = grid(7, 30);
            return {w, e, std::min(s, n), std::max(s, n)};
        }
        case 1:
            return kWorld;
        default: {
            const int32_t w = int32_t(Uniform(kMinLon, kMaxLon));
            int64_t e = w + Uniform(0, int64_t(std::min(width, 359.0) * MapUnits::kPerDegree));
            if (e > kMaxLon)
                e -= MapUnits::kTurn;
            const int32_t s = int32_t(Uniform(-MapUnits::k90, MapUnits::k90));
            return {w, int32_t(e), s, int32_t(std::min<int64_t>(s + Uniform(0, int64_t(width / 2 * MapUnits::kPerDegree)), MapUnits::k90))};
        }
        }
    }
    std::vector<TRecord> Records(uint32_t n, double width)
    {
        std::vector<TRecord> records;
        for (uint32_t i = 0; i < n; ++i)
            records.push_back({Rect(width), i});
        return records;
    }
    uint32_t Next() { return m_rng(); }

private:
    int64_t Uniform(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(m_rng); }
    std::mt19937 m_rng;
};

struct TSink {  // the Write(bytes, length) shape that streams have
    void Write(const void* bytes, uint64_t length) { data.append(static_cast<const char*>(bytes), length); }
    std::string data;
};

// The serialised form: 4 bytes a leaf; 4 and 20 a child for each inner
// node, whose children are every node but the root; the root's leaves first
// in Query order.
void CheckForm(const CRTree& tree, const std::vector<TRecord>& records)
{
    TSink sink;
    tree.Write(sink);
    const uint64_t inner = tree.Count(false) - tree.Count(true);
    EXPECT_EQ(tree.Count(true), records.size());
    EXPECT_EQ(sink.data.size(), tree.SerializedSize());
    EXPECT_EQ(tree.SerializedSize(), 4 * records.size() + 4 * inner + 20 * (tree.Count(false) - 1));
    CGeoRect all;
    for (const TRecord& r : records)
        Extend(all, r.rect);
    EXPECT_EQ(tree.RootRect().IsEmpty(), all.IsEmpty());
    std::vector<uint32_t> found = Query(tree, kWorld, true), data;
    for (const TRecord& r : records)
        data.push_back(r.datum);
    std::sort(data.begin(), data.end());
    EXPECT_EQ(found, data);
}

TEST(RTree, QueriesMatchBruteForce)
{
    CRandomRects gen(20240607);
    for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 7u, 16u, 100u, 1000u}) {
        for (double width : {2.0, 60.0, 360.0}) {
            const std::vector<TRecord> records = gen.Records(n, width);
            CRTree tree(100);
            tree.Build(records.data(), records.size());
            CheckForm(tree, records);
            CGrowArray<uint32_t> found;
            for (int q = 0; q < 300; ++q) {
                const CGeoRect rect = q == 0 ? CGeoRect{} : gen.Rect(width * 2);
                const CGeoRect exclusion = gen.Next() % 4 == 0 ? CGeoRect{} : gen.Rect(width * 2);
                std::vector<uint32_t> hits, kept;
                for (const TRecord& r : records) {
                    if (Intersects(r.rect, rect)) {
                        hits.push_back(r.datum);
                        if (!Intersects(r.rect, exclusion))
                            kept.push_back(r.datum);
                    }
                }
                ASSERT_EQ(Query(tree, rect, true), hits) << "n " << n << " query " << q;
                ASSERT_EQ(tree.Any(rect), !hits.empty()) << "n " << n << " query " << q;
                found.Clear();
                tree.QueryExcluding(rect, exclusion, found);
                std::vector<uint32_t> got(found.begin(), found.end());
                std::sort(got.begin(), got.end());
                ASSERT_EQ(got, kept) << "n " << n << " query " << q;
            }
        }
    }
}

// An empty build empties the tree; identical rectangles stay findable.
TEST(RTree, EdgeCases)
{
    CRTree tree(100);
    EXPECT_TRUE(tree.RootRect().IsEmpty());
    EXPECT_FALSE(tree.Any(kWorld));
    EXPECT_EQ(tree.SerializedSize(), 0u);
    const std::vector<TRecord> records = CRandomRects(1).Records(50, 40);
    tree.Build(records.data(), records.size());
    tree.Build(records.data(), 0);
    EXPECT_EQ(tree.Count(false), 0u);
    EXPECT_TRUE(Query(tree, kWorld).empty());

    std::vector<TRecord> same;
    for (uint32_t i = 0; i < 500; ++i)
        same.push_back({Deg(5, 6, 5, 6), i});
    tree.Build(same.data(), same.size());
    EXPECT_EQ(Query(tree, Deg(6, 7, 6, 7)).size(), 500u);
    CheckForm(tree, same);
}

// Rebuilds give their blocks back to the pools first; the trees let go of
// the pools, which live on. Byte sinks and streams receive the same bytes.
TEST(RTree, RebuildsReuseThePoolBlocks)
{
    auto dataPool = CSharedPtr<CRTree::TDataPool>::MakeStatic(100);
    auto innerPool = CSharedPtr<CRTree::TInnerPool>::MakeStatic(100);
    CRandomRects gen(3);
    const std::vector<TRecord> big = gen.Records(1000, 10), small = gen.Records(300, 10);
    {
        CRTree a(dataPool, innerPool), b(dataPool, innerPool);
        a.Build(big.data(), big.size());
        EXPECT_EQ(dataPool->ChunkCount(), 10u);  // exactly 1000 leaves
        const uint64_t innerChunks = innerPool->ChunkCount();
        for (int round = 0; round < 3; ++round) {
            a.Build(big.data(), big.size());
            a.Clear();
            b.Build(big.data(), big.size());
            b.Build(small.data(), small.size());
            a.Build(small.data(), small.size());
            b.Clear();
        }
        EXPECT_EQ(dataPool->ChunkCount(), 10u);
        EXPECT_EQ(innerPool->ChunkCount(), innerChunks);
        b.Build(small.data(), small.size());
        EXPECT_EQ(Query(a, kWorld), Query(b, kWorld));

        struct TDerived final : RTree::CByteSink {
            void Write(const void* bytes, uint64_t length) override { data.append(static_cast<const char*>(bytes), length); }
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
