#include "common/rtree/RTree.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
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

std::vector<uint32_t> Sorted(const CGrowArray<uint32_t>& a)
{
    std::vector<uint32_t> v(a.begin(), a.end());
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<uint32_t> Query(const CRTree& tree, const CGeoRect& rect)
{
    CGrowArray<uint32_t> found;
    tree.Query(rect, found);
    return std::vector<uint32_t>(found.begin(), found.end());
}

// Longitudes in [-180, 180), latitudes in [-90, 90]. Grid edges make shared
// edges and corners common; free rectangles are small or wide and cross the
// antimeridian whenever they run past it.
class CRandomRects {
public:
    explicit CRandomRects(uint32_t seed) : m_rng(seed) {}

    CGeoRect Rect(double maxWidthDegrees)
    {
        switch (m_rng() % 8) {
        case 0: {
            int32_t w = GridLon(), e = GridLon(), s = GridLat(), n = GridLat();
            return {w, e, std::min(s, n), std::max(s, n)};
        }
        case 1:
            return kWorld;
        default: {
            const double width = std::min(maxWidthDegrees, 359.0);
            int32_t w = int32_t(Uniform(kMinLon, kMaxLon));
            int64_t e = w + Uniform(0, int64_t(width * MapUnits::kPerDegree));
            if (e > kMaxLon)
                e -= MapUnits::kTurn;
            int32_t s = int32_t(Uniform(-MapUnits::k90, MapUnits::k90));
            int64_t n = std::min<int64_t>(s + Uniform(0, int64_t(width / 2 * MapUnits::kPerDegree)), MapUnits::k90);
            return {w, int32_t(e), s, int32_t(n)};
        }
        }
    }
    // Distinct rectangles, the datum being the index.
    std::vector<TRecord> Records(uint32_t n, double maxWidthDegrees)
    {
        std::vector<TRecord> records;
        for (uint32_t i = 0; i < n; ++i)
            records.push_back({Rect(maxWidthDegrees), i});
        return records;
    }
    uint32_t Next() { return m_rng(); }

private:
    int64_t Uniform(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(m_rng); }
    int32_t GridLon() { return m_rng() % 13 == 0 ? kMaxLon : FromDegrees(double(int(m_rng() % 12) - 6) * 30.0); }
    int32_t GridLat() { return FromDegrees(double(int(m_rng() % 7) - 3) * 30.0); }

    std::mt19937 m_rng;
};

// Collects the bytes of Write through the Write(bytes, length) shape that
// streams have.
struct TStringSink {
    void Write(const void* bytes, uint64_t length) { data.append(static_cast<const char*>(bytes), length); }
    std::string data;
};

struct TDerivedSink final : RTree::CByteSink {
    void Write(const void* bytes, uint64_t length) override
    {
        data.append(static_cast<const char*>(bytes), length);
    }
    std::string data;
};

std::string Form(const CRTree& tree)
{
    TStringSink sink;
    tree.Write(sink);
    return sink.data;
}

// The rectangle of an entry in the serialised form.
CGeoRect RectAt(const std::string& form, size_t offset)
{
    CGeoRect r;
    if (offset + sizeof r <= form.size())
        std::memcpy(&r, form.data() + offset, sizeof r);
    return r;
}

// Reads the serialised form back and checks it against the records: every
// running total matches the child's real length, every inner rectangle is
// the extension of its children's in order, and the leaves come in the order
// that Query returns them.
class CFormReader {
public:
    CFormReader(const std::string& bytes, const std::vector<TRecord>& records) : m_bytes(bytes), m_records(records) {}

    // Returns the rectangle of the node read.
    CGeoRect Node(bool leaf)
    {
        if (leaf) {
            uint32_t datum = Take<uint32_t>();
            leaves.push_back(datum);
            EXPECT_LT(datum, m_records.size());
            return datum < m_records.size() ? m_records[datum].rect : CGeoRect{};
        }
        ++innerNodes;
        uint8_t count = Take<uint8_t>(), mask = Take<uint8_t>();
        EXPECT_EQ(Take<uint16_t>(), 0u);
        EXPECT_GE(count, 1);
        EXPECT_LE(count, 4);
        EXPECT_EQ(mask >> count, 0);
        CGeoRect rects[4];
        uint32_t totals[4];
        for (uint8_t i = 0; i < count && i < 4; ++i) {
            rects[i] = Take<CGeoRect>();
            totals[i] = Take<uint32_t>();
        }
        CGeoRect covered;
        const uint64_t start = m_at;
        for (uint8_t i = 0; i < count && i < 4; ++i) {
            CGeoRect child = Node(mask >> i & 1);
            EXPECT_EQ(child, rects[i]);
            EXPECT_EQ(m_at - start, totals[i]);
            Extend(covered, child);
        }
        return covered;
    }
    bool AtEnd() const { return m_at == m_bytes.size(); }

    std::vector<uint32_t> leaves;
    uint64_t innerNodes = 0;

private:
    template <typename T>
    T Take()
    {
        T value{};
        if (m_at + sizeof(T) > m_bytes.size()) {
            ADD_FAILURE() << "serialised form ends early";
            return value;
        }
        std::memcpy(&value, m_bytes.data() + m_at, sizeof(T));
        m_at += sizeof(T);
        return value;
    }

    const std::string& m_bytes;
    const std::vector<TRecord>& m_records;
    uint64_t m_at = 0;
};

// The serialised form of the tree as read back; the root's kind follows from
// the inner node count.
void CheckForm(const CRTree& tree, const std::vector<TRecord>& records)
{
    TStringSink sink;
    tree.Write(sink);
    ASSERT_EQ(sink.data.size(), tree.SerializedSize());
    const uint64_t inner = tree.Count(false) - tree.Count(true);
    CFormReader reader(sink.data, records);
    EXPECT_EQ(reader.Node(inner == 0), tree.RootRect());
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.innerNodes, inner);
    EXPECT_EQ(reader.leaves, Query(tree, kWorld));
    EXPECT_EQ(tree.Count(true), records.size());
    // 4 bytes a leaf; 4 and 20 a child for each inner node, whose children
    // are every node but the root.
    EXPECT_EQ(tree.SerializedSize(), 4 * records.size() + 4 * inner + 20 * (tree.Count(false) - 1));
}

TEST(RTree, EmptyTreeAndEmptyRectangle)
{
    CRTree tree(100);
    EXPECT_TRUE(tree.RootRect().IsEmpty());
    EXPECT_EQ(tree.Count(false), 0u);
    EXPECT_FALSE(tree.Any(kWorld));
    EXPECT_TRUE(Query(tree, kWorld).empty());
    TStringSink sink;
    tree.Write(sink);
    EXPECT_EQ(sink.data.size(), 0u);
    EXPECT_EQ(tree.SerializedSize(), 0u);

    std::vector<TRecord> records = CRandomRects(1).Records(50, 40);
    tree.Build(records.data(), records.size());
    tree.Build(records.data(), 0);  // a build of nothing empties the tree
    EXPECT_EQ(tree.Count(false), 0u);
    EXPECT_TRUE(Query(tree, kWorld).empty());

    tree.Build(records.data(), records.size());
    EXPECT_TRUE(Query(tree, CGeoRect{}).empty());
    EXPECT_FALSE(tree.Any(CGeoRect{}));
    CGrowArray<uint32_t> found;
    tree.QueryExcluding(CGeoRect{}, CGeoRect{}, found);
    EXPECT_EQ(found.Count(), 0u);
    tree.QueryExcluding(kWorld, kWorld, found);
    EXPECT_EQ(found.Count(), 0u);
    tree.QueryExcluding(kWorld, CGeoRect{}, found);
    EXPECT_EQ(found.Count(), records.size());
}

TEST(RTree, SingleRecordIsADataNodeRoot)
{
    const std::vector<TRecord> records = {{Deg(1, 2, 3, 4), 0x01020304}};
    CRTree tree(100);
    tree.Build(records.data(), 1);
    EXPECT_EQ(tree.Count(false), 1u);
    EXPECT_EQ(tree.RootRect(), records[0].rect);
    TStringSink sink;
    tree.Write(sink);
    EXPECT_EQ(sink.data, std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(Query(tree, Deg(2, 3, 4, 5)), std::vector<uint32_t>{0x01020304});  // the corner
    EXPECT_TRUE(Query(tree, Deg(2.1, 3, 4, 5)).empty());
}

TEST(RTree, RectangleOverTheAntimeridian)
{
    const std::vector<TRecord> records = {
        {Deg(179.4, 179.6, -0.1, 0.1), 0},
        {Deg(-179.6, -179.4, -0.1, 0.1), 1},
        {Deg(-0.1, 0.1, -0.1, 0.1), 2},
        {Deg(178, -178, 0.5, 0.6), 3},  // crosses too
        {Deg(-178, 178, -1, 1), 4},     // everything but the seam
    };
    CRTree tree(100);
    tree.Build(records.data(), records.size());
    CGrowArray<uint32_t> found;
    tree.Query(Deg(179, -179, -1, 1), found);
    EXPECT_EQ(Sorted(found), (std::vector<uint32_t>{0, 1, 3}));
    EXPECT_TRUE(tree.Any(Deg(179.9, -179.9, 0.55, 0.55)));
    EXPECT_FALSE(tree.Any(Deg(179.9, -179.9, 0.2, 0.3)));
    found.Clear();
    tree.QueryExcluding(Deg(179, -179, -1, 1), Deg(179, 179.5, -1, 1), found);
    EXPECT_EQ(Sorted(found), (std::vector<uint32_t>{1}));
    CheckForm(tree, records);
}

// The expected trees follow the split by hand: lower half by maximum, the
// straddling middle, the upper part.
TEST(RTree, SplitIntoLowerStraddlingAndUpper)
{
    const std::vector<TRecord> records = {
        {Deg(7, 8, 0, 1), 0}, {Deg(4, 6, 0, 1), 1}, {Deg(1, 5, 0, 1), 2}, {Deg(0, 2, 0, 1), 3}};
    CRTree tree(100);
    tree.Build(records.data(), records.size());
    const std::string form = Form(tree);
    ASSERT_GE(form.size(), 4u);
    EXPECT_EQ(form[0], 3);      // three children
    EXPECT_EQ(form[1], 0b110);  // the straddling and the upper one are leaves
    EXPECT_EQ(RectAt(form, 4), Deg(0, 5, 0, 1));
    // The lower part is split by latitude, where both are equal: a node
    // holding a single group.
    ASSERT_GE(form.size(), 64u + 4);
    EXPECT_EQ(form[64], 1);
    EXPECT_EQ(form[65], 0);
    const std::vector<uint32_t> order = Query(tree, kWorld);
    EXPECT_EQ(order[2], 1u);
    EXPECT_EQ(order[3], 0u);
    CheckForm(tree, records);
}

TEST(RTree, EqualMaximaLeaveNoLowerPart)
{
    // Every east is 10: s1 falls to 0, the middle takes the first half by
    // west extended over the equal wests (0, 1, 1) and the upper part is 3.
    const std::vector<TRecord> records = {
        {Deg(1, 10, 0, 1), 0}, {Deg(3, 10, 0, 2), 1}, {Deg(0, 10, 1, 2), 2}, {Deg(1, 10, 1, 3), 3}};
    CRTree tree(100);
    tree.Build(records.data(), records.size());
    const std::string form = Form(tree);
    ASSERT_GE(form.size(), 4u);
    EXPECT_EQ(form[0], 2);
    EXPECT_EQ(form[1], 0b10);
    EXPECT_EQ(RectAt(form, 4), Deg(0, 10, 0, 3));
    EXPECT_EQ(RectAt(form, 24), records[1].rect);
    const std::vector<uint32_t> order = Query(tree, kWorld);
    EXPECT_EQ(order.front(), 2u);  // the smallest west opens the middle group
    EXPECT_EQ(order.back(), 1u);
    CheckForm(tree, records);
}

TEST(RTree, GroupLeadsWithTheFarthestReachingThird)
{
    // Seven records share the smallest east, so the root has no lower part;
    // its middle group is the six smallest wests, whose first third is the
    // one with the smallest west and the one with the largest east.
    std::vector<TRecord> records;
    for (double west : {0.0, 2.0, 4.0, 6.0, 8.0, 9.0, 9.5})
        records.push_back({Deg(west, 10, 0, 1), uint32_t(records.size())});
    for (auto [west, east] : {std::pair{3, 40}, {5, 50}, {20, 30}, {21, 31}, {22, 32}})
        records.push_back({Deg(west, east, 0, 1), uint32_t(records.size())});
    CRTree tree(100);
    tree.Build(records.data(), records.size());
    const std::string form = Form(tree);
    ASSERT_GE(form.size(), 44u + 4);
    EXPECT_EQ(form[0], 2);
    EXPECT_EQ(form[1], 0);
    EXPECT_EQ(RectAt(form, 4), Deg(0, 50, 0, 1));
    EXPECT_EQ(RectAt(form, 24), Deg(8, 32, 0, 1));
    // The middle group's own node follows the root's two entries.
    EXPECT_EQ(form[44], 2);
    EXPECT_EQ(form[45], 0);
    EXPECT_EQ(RectAt(form, 48), Deg(0, 50, 0, 1));
    EXPECT_EQ(RectAt(form, 68), Deg(2, 40, 0, 1));
    CheckForm(tree, records);
}

TEST(RTree, QueriesMatchBruteForce)
{
    CRandomRects gen(20240607);
    for (uint32_t n : {2u, 3u, 4u, 5u, 7u, 16u, 100u, 1000u}) {
        for (double width : {2.0, 60.0, 360.0}) {
            const std::vector<TRecord> records = gen.Records(n, width);
            CRTree tree(100);
            tree.Build(records.data(), records.size());
            ASSERT_EQ(tree.Count(true), n);
            CGeoRect all;
            for (const TRecord& r : records)
                Extend(all, r.rect);
            EXPECT_EQ(tree.RootRect().IsEmpty(), all.IsEmpty());
            CheckForm(tree, records);

            CGrowArray<uint32_t> found;
            for (int q = 0; q < 300; ++q) {
                const CGeoRect rect = gen.Rect(width * 2);
                const CGeoRect exclusion = gen.Next() % 4 == 0 ? CGeoRect{} : gen.Rect(width * 2);
                std::vector<uint32_t> hits, kept;
                for (const TRecord& r : records) {
                    if (Intersects(r.rect, rect)) {
                        hits.push_back(r.datum);
                        if (!Intersects(r.rect, exclusion))
                            kept.push_back(r.datum);
                    }
                }
                found.Clear();
                tree.Query(rect, found);
                ASSERT_EQ(Sorted(found), hits) << "n " << n << " query " << q;
                ASSERT_EQ(tree.Any(rect), !hits.empty()) << "n " << n << " query " << q;
                found.Clear();
                tree.QueryExcluding(rect, exclusion, found);
                ASSERT_EQ(Sorted(found), kept) << "n " << n << " query " << q;
            }
        }
    }
}

TEST(RTree, IdenticalRectanglesStayFindable)
{
    std::vector<TRecord> records;
    for (uint32_t i = 0; i < 500; ++i)
        records.push_back({Deg(5, 6, 5, 6), i});
    CRTree tree(100);
    tree.Build(records.data(), records.size());
    EXPECT_EQ(Query(tree, Deg(6, 7, 6, 7)).size(), 500u);
    EXPECT_TRUE(Query(tree, Deg(6.1, 7, 6, 7)).empty());
    CheckForm(tree, records);
}

TEST(RTree, WritesToStreamsAndByteSinksAlike)
{
    const std::vector<TRecord> records = CRandomRects(5).Records(200, 30);
    CRTree tree(100);
    tree.Build(records.data(), records.size());
    TStringSink plain;
    TDerivedSink derived;
    tree.Write(plain);
    tree.Write(derived);
    EXPECT_EQ(plain.data, derived.data);
    EXPECT_EQ(plain.data.size(), tree.SerializedSize());
}

TEST(RTree, RebuildsReuseThePoolBlocks)
{
    auto dataPool = CSharedPtr<CRTree::TDataPool>::MakeStatic(100);
    auto innerPool = CSharedPtr<CRTree::TInnerPool>::MakeStatic(100);
    CRandomRects gen(3);
    const std::vector<TRecord> big = gen.Records(1000, 10), small = gen.Records(300, 10);
    {
        CRTree a(dataPool, innerPool), b(dataPool, innerPool);
        EXPECT_EQ(dataPool.UseCount(), 3u);
        a.Build(big.data(), big.size());
        EXPECT_EQ(dataPool->ChunkCount(), 10u);  // exactly 1000 leaves
        const uint64_t inner = a.Count(false) - a.Count(true);
        EXPECT_EQ(innerPool->ChunkCount(), (inner + 99) / 100);
        const uint64_t dataChunks = dataPool->ChunkCount(), innerChunks = innerPool->ChunkCount();

        for (int round = 0; round < 3; ++round) {
            a.Build(big.data(), big.size());  // the old tree goes back first
            a.Clear();
            b.Build(big.data(), big.size());
            b.Build(small.data(), small.size());
            a.Build(small.data(), small.size());
            b.Clear();
            a.Clear();
        }
        EXPECT_EQ(dataPool->ChunkCount(), dataChunks);
        EXPECT_EQ(innerPool->ChunkCount(), innerChunks);

        a.Build(small.data(), small.size());
        b.Build(small.data(), small.size());
        EXPECT_EQ(Query(a, kWorld), Query(b, kWorld));  // the same records give the same tree
        EXPECT_EQ(a.Count(true), small.size());
        EXPECT_LE(dataPool->ChunkCount(), dataChunks);
    }
    EXPECT_EQ(dataPool.UseCount(), 1u);  // the trees let go; the pools live on
    EXPECT_EQ(dataPool->ChunkCount(), 10u);
}

}  // namespace
