#include "common/rtree/RTree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

namespace RTree {

template <typename TDatum, typename TRect>
void CRTreeDataNode<TDatum, TRect>::QueryExcluding(const TRect& rect, const TRect& exclusion,
                                                   CGrowArray<TDatum>& results) const
{
    if (Intersects(this->m_rect, rect) && !Intersects(this->m_rect, exclusion))
        results.PushBack(m_datum);
}

template <typename TDatum, typename TRect>
void CRTreeDataNode<TDatum, TRect>::Query(const TRect& rect, CGrowArray<TDatum>& results) const
{
    if (Intersects(this->m_rect, rect))
        results.PushBack(m_datum);
}

template <typename TDatum, typename TRect>
bool CRTreeDataNode<TDatum, TRect>::Any(const TRect& rect) const
{
    return Intersects(this->m_rect, rect);
}

template <typename TDatum, typename TRect>
void CRTreeDataNode<TDatum, TRect>::Write(CByteSink& sink) const
{
    sink.Write(&m_datum, sizeof m_datum);
}

template <typename TDatum, typename TRect>
void CRTreeNode<TDatum, TRect>::QueryExcluding(const TRect& rect, const TRect& exclusion,
                                               CGrowArray<TDatum>& results) const
{
    const TRect common = Intersection(rect, this->m_rect);
    // Every leaf below meets rect, if at all, within common: when that lies
    // inside exclusion, each leaf that meets rect meets exclusion too.
    if (common.IsEmpty() || Contains(exclusion, common))
        return;
    for (uint8_t i = 0; i < m_count; ++i)
        m_children[i]->QueryExcluding(rect, exclusion, results);
}

template <typename TDatum, typename TRect>
void CRTreeNode<TDatum, TRect>::Query(const TRect& rect, CGrowArray<TDatum>& results) const
{
    if (!Intersects(this->m_rect, rect))
        return;
    for (uint8_t i = 0; i < m_count; ++i)
        m_children[i]->Query(rect, results);
}

template <typename TDatum, typename TRect>
bool CRTreeNode<TDatum, TRect>::Any(const TRect& rect) const
{
    if (!Intersects(this->m_rect, rect))
        return false;
    for (uint8_t i = 0; i < m_count; ++i)
        if (m_children[i]->Any(rect))
            return true;
    return false;
}

template <typename TDatum, typename TRect>
void CRTreeNode<TDatum, TRect>::Write(CByteSink& sink) const
{
    uint8_t header[4] = {m_count, 0, 0, 0};
    for (uint8_t i = 0; i < m_count; ++i)
        if (m_children[i]->IsDataNode())
            header[1] |= uint8_t(1u << i);
    sink.Write(header, sizeof header);

    uint32_t total = 0;
    for (uint8_t i = 0; i < m_count; ++i) {
        total += uint32_t(m_children[i]->SerializedSize());
        unsigned char entry[sizeof(TRect) + sizeof total];
        std::memcpy(entry, &m_children[i]->Rect(), sizeof(TRect));
        std::memcpy(entry + sizeof(TRect), &total, sizeof total);
        sink.Write(entry, sizeof entry);
    }
    for (uint8_t i = 0; i < m_count; ++i)
        m_children[i]->Write(sink);
}

template <typename TDatum, typename TRect>
uint64_t CRTreeNode<TDatum, TRect>::SerializedSize() const
{
    uint64_t size = 4 + (sizeof(TRect) + sizeof(uint32_t)) * m_count;
    for (uint8_t i = 0; i < m_count; ++i)
        size += m_children[i]->SerializedSize();
    return size;
}

template <typename TDatum, typename TRect>
uint64_t CRTreeNode<TDatum, TRect>::Count(bool leavesOnly) const
{
    uint64_t count = leavesOnly ? 0 : 1;
    for (uint8_t i = 0; i < m_count; ++i)
        count += m_children[i]->Count(leavesOnly);
    return count;
}

template class CRTreeDataNode<uint32_t, CGeoRect>;
template class CRTreeNode<uint32_t, CGeoRect>;

static_assert(std::endian::native == std::endian::little, "the serialised form is little-endian");
static_assert(sizeof(CGeoRect) == 16 && std::is_trivially_copyable_v<CGeoRect>, "rectangles are written as bytes");
static_assert(sizeof(CRTree::TDataNode) <= 32 && sizeof(CRTree::TInnerNode) <= 64, "nodes fit the pool blocks");
static_assert(alignof(CRTree::TInnerNode) <= alignof(std::max_align_t), "pool blocks are malloc-aligned");
static_assert(std::is_trivially_destructible_v<CRTree::TDataNode> &&
                  std::is_trivially_destructible_v<CRTree::TInnerNode>,
              "nodes go back to their pools without being destroyed");

namespace {

using TItem = const TRecord*;

// Axis 0 is the longitude (west to east), 1 the latitude (south to north).
int32_t Min(TItem item, int axis) { return axis == 0 ? item->rect.west : item->rect.south; }
int32_t Max(TItem item, int axis) { return axis == 0 ? item->rect.east : item->rect.north; }

void SortByMin(TItem* items, uint64_t n, int axis)
{
    std::sort(items, items + n, [axis](TItem a, TItem b) { return Min(a, axis) < Min(b, axis); });
}
void SortByMax(TItem* items, uint64_t n, int axis)
{
    std::sort(items, items + n, [axis](TItem a, TItem b) { return Max(a, axis) < Max(b, axis); });
}

struct TSplit {
    uint64_t s1, s2;
};

// Items [0, s1) are the lower half by maximum; items from s2 on begin at or
// after every lower item ends; the ones between straddle the division.
TSplit Split(TItem* items, uint64_t n, int axis)
{
    SortByMax(items, n, axis);
    uint64_t s1 = n / 2;
    while (s1 > 0 && Max(items[s1 - 1], axis) == Max(items[s1], axis))
        --s1;
    const int32_t limit = s1 > 0 ? Max(items[s1 - 1], axis) : INT32_MIN;
    SortByMin(items + s1, n - s1, axis);
    uint64_t s2 = (n + 1) / 2;
    while (s2 < n && Min(items[s2 - 1], axis) == Min(items[s2], axis))
        ++s2;
    while (s2 < n && Min(items[s2], axis) < limit)
        ++s2;
    return {s1, s2};
}

// Every node is hung under its parent (or made the root) before its children
// are built, so that a failure part-way leaves a tree that Clear can release.
class CBuilder {
public:
    CBuilder(CRTree::TDataPool& dataPool, CRTree::TInnerPool& innerPool, CRTree::TNodeBase*& root)
        : m_dataPool(dataPool), m_innerPool(innerPool), m_root(root)
    {
    }

    // Lower and upper parts by the next axis, the straddling ones as a group.
    const CRTree::TNodeBase* Build(TItem* items, uint64_t n, int axis, CRTree::TInnerNode* parent)
    {
        if (n == 1)
            return MakeLeaf(items[0], parent);
        CRTree::TInnerNode* node = MakeInner(parent);
        const auto [s1, s2] = Split(items, n, axis);
        if (s1 > 0)
            node->Cover(Build(items, s1, 1 - axis, node)->Rect());
        if (s2 > s1)
            node->Cover(BuildGroup(items + s1, s2 - s1, axis, node)->Rect());
        if (n > s2)
            node->Cover(Build(items + s2, n - s2, 1 - axis, node)->Rect());
        return node;
    }

    // A third of the items that reach furthest out on the axis at either end,
    // then the rest split on the other axis.
    const CRTree::TNodeBase* BuildGroup(TItem* items, uint64_t n, int axis, CRTree::TInnerNode* parent)
    {
        if (n == 1)
            return MakeLeaf(items[0], parent);
        CRTree::TInnerNode* node = MakeInner(parent);
        const uint64_t k = std::max<uint64_t>(n / 3, 1);
        SortByMin(items, n, axis);
        if (k > 1) {
            const uint64_t h = (k + 1) / 2;
            SortByMax(items + h, n - h, axis);
            for (uint64_t i = h; i < k; ++i)
                std::swap(items[i], items[i + (n - k)]);
        }
        node->Cover(BuildGroup(items, k, axis, node)->Rect());

        TItem* rest = items + k;
        const uint64_t m = n - k;
        const auto [s1, s2] = Split(rest, m, 1 - axis);
        if (s1 > 0)
            node->Cover(BuildGroup(rest, s1, axis, node)->Rect());
        if (s2 > s1)
            node->Cover(BuildGroup(rest + s1, s2 - s1, axis, node)->Rect());
        if (m > s2)
            node->Cover(BuildGroup(rest + s2, m - s2, axis, node)->Rect());
        return node;
    }

private:
    CRTree::TNodeBase* MakeLeaf(TItem item, CRTree::TInnerNode* parent)
    {
        auto* leaf = new (m_dataPool.Allocate()) CRTree::TDataNode(item->rect, item->datum);
        Attach(leaf, parent);
        return leaf;
    }
    CRTree::TInnerNode* MakeInner(CRTree::TInnerNode* parent)
    {
        auto* node = new (m_innerPool.Allocate()) CRTree::TInnerNode();
        Attach(node, parent);
        return node;
    }
    void Attach(CRTree::TNodeBase* node, CRTree::TInnerNode* parent)
    {
        if (parent)
            parent->Append(node);
        else
            m_root = node;
    }

    CRTree::TDataPool& m_dataPool;
    CRTree::TInnerPool& m_innerPool;
    CRTree::TNodeBase*& m_root;
};

void Release(CRTree::TNodeBase* node, CRTree::TDataPool& dataPool, CRTree::TInnerPool& innerPool)
{
    if (node->IsDataNode()) {
        dataPool.Free(static_cast<CRTree::TDataNode*>(node));
        return;
    }
    auto* inner = static_cast<CRTree::TInnerNode*>(node);
    for (uint8_t i = 0; i < inner->ChildCount(); ++i)
        Release(inner->Child(i), dataPool, innerPool);
    innerPool.Free(inner);
}

}  // namespace

CRTree::CRTree(CSharedPtr<TDataPool> dataPool, CSharedPtr<TInnerPool> innerPool)
    : m_dataPool(std::move(dataPool)), m_innerPool(std::move(innerPool))
{
}

CRTree::CRTree(uint64_t blocksPerChunk)
    : CRTree(CSharedPtr<TDataPool>::MakeStatic(blocksPerChunk), CSharedPtr<TInnerPool>::MakeStatic(blocksPerChunk))
{
}

void CRTree::Build(const TRecord* records, uint64_t count)
{
    Clear();
    if (count == 0)
        return;
    CGrowArray<TItem> items;
    items.Reserve(count);
    for (uint64_t i = 0; i < count; ++i)
        items.PushBack(records + i);
    try {
        CBuilder(*m_dataPool, *m_innerPool, m_root).Build(items.Data(), count, 0, nullptr);
    } catch (...) {
        Clear();
        throw;
    }
}

void CRTree::Clear()
{
    if (m_root == nullptr)
        return;
    Release(m_root, *m_dataPool, *m_innerPool);
    m_root = nullptr;
}

}  // namespace RTree
