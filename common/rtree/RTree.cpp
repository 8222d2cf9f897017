#include "common/rtree/RTree.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace RTree {

namespace {

int32_t MinOf(const TRecord* r, int axis) { return axis == 0 ? r->rect.west : r->rect.south; }
int32_t MaxOf(const TRecord* r, int axis) { return axis == 0 ? r->rect.east : r->rect.north; }

void SortByMax(const TRecord** items, uint64_t n, int axis)
{
    std::sort(items, items + n, [axis](const TRecord* a, const TRecord* b) { return MaxOf(a, axis) < MaxOf(b, axis); });
}
void SortByMin(const TRecord** items, uint64_t n, int axis)
{
    std::sort(items, items + n, [axis](const TRecord* a, const TRecord* b) { return MinOf(a, axis) < MinOf(b, axis); });
}

// Divides items into a lower part [0, s1) by maximum, an upper part [s2, n)
// beginning at or after every lower item ends, and the straddlers between.
void Split(const TRecord** items, uint64_t n, int axis, uint64_t& s1, uint64_t& s2)
{
    SortByMax(items, n, axis);
    s1 = n / 2;
    while (s1 > 0 && MaxOf(items[s1 - 1], axis) == MaxOf(items[s1], axis))
        --s1;
    int32_t limit = s1 == 0 ? INT32_MIN : MaxOf(items[s1 - 1], axis);
    SortByMin(items + s1, n - s1, axis);
    s2 = (n + 1) / 2;
    while (s2 < n && MinOf(items[s2 - 1], axis) == MinOf(items[s2], axis))
        ++s2;
    while (s2 < n && MinOf(items[s2], axis) < limit)
        ++s2;
}

bool InsideLongitudes(const CGeoRect& outer, const CGeoRect& inner)
{
    return inner.south >= outer.south && inner.north <= outer.north && outer.ContainsLongitude(inner.west) &&
           outer.ContainsLongitude(inner.east);
}

void Put32(uint8_t* out, uint32_t v) { std::memcpy(out, &v, 4); }

}  // namespace

void CRTreeDataNode::QueryExcluding(const CGeoRect& r, const CGeoRect& exclusion, CGrowArray<uint32_t>& results) const
{
    if (Intersects(rect, r) && !Intersects(rect, exclusion))
        results.PushBack(datum);
}

void CRTreeDataNode::Query(const CGeoRect& r, CGrowArray<uint32_t>& results) const
{
    if (Intersects(rect, r))
        results.PushBack(datum);
}

void CRTreeDataNode::Write(CByteSink& sink) const
{
    uint8_t bytes[4];
    Put32(bytes, datum);
    sink.Write(bytes, 4);
}

void CRTreeNode::QueryExcluding(const CGeoRect& r, const CGeoRect& exclusion, CGrowArray<uint32_t>& results) const
{
    CGeoRect common = Intersection(r, rect);
    if (common.IsEmpty() || (!exclusion.IsEmpty() && InsideLongitudes(exclusion, common)))
        return;
    for (int i = 0; i < childCount; ++i)
        children[i]->QueryExcluding(r, exclusion, results);
}

void CRTreeNode::Query(const CGeoRect& r, CGrowArray<uint32_t>& results) const
{
    if (!Intersects(rect, r))
        return;
    for (int i = 0; i < childCount; ++i)
        children[i]->Query(r, results);
}

bool CRTreeNode::Any(const CGeoRect& r) const
{
    if (!Intersects(rect, r))
        return false;
    for (int i = 0; i < childCount; ++i)
        if (children[i]->Any(r))
            return true;
    return false;
}

void CRTreeNode::Write(CByteSink& sink) const
{
    uint8_t head[4] = {childCount, 0, 0, 0};
    for (int i = 0; i < childCount; ++i)
        if (children[i]->IsDataNode())
            head[1] |= uint8_t(1u << i);
    sink.Write(head, 4);
    uint32_t running = 0;
    for (int i = 0; i < childCount; ++i) {
        uint8_t entry[20];
        const CGeoRect& r = children[i]->rect;
        Put32(entry, uint32_t(r.west));
        Put32(entry + 4, uint32_t(r.east));
        Put32(entry + 8, uint32_t(r.south));
        Put32(entry + 12, uint32_t(r.north));
        running += uint32_t(children[i]->SerializedSize());
        Put32(entry + 16, running);
        sink.Write(entry, 20);
    }
    for (int i = 0; i < childCount; ++i)
        children[i]->Write(sink);
}

uint64_t CRTreeNode::SerializedSize() const
{
    uint64_t size = 4 + 20 * uint64_t(childCount);
    for (int i = 0; i < childCount; ++i)
        size += children[i]->SerializedSize();
    return size;
}

uint64_t CRTreeNode::Count(bool leavesOnly) const
{
    uint64_t count = leavesOnly ? 0 : 1;
    for (int i = 0; i < childCount; ++i)
        count += children[i]->Count(leavesOnly);
    return count;
}

CRTree::CRTree(uint64_t blocksPerChunk)
    : m_dataPool(CSharedPtr<TDataPool>::MakeStatic(blocksPerChunk)),
      m_innerPool(CSharedPtr<TInnerPool>::MakeStatic(blocksPerChunk))
{
}

CRTree::CRTree(CSharedPtr<TDataPool> dataPool, CSharedPtr<TInnerPool> innerPool)
    : m_dataPool(std::move(dataPool)), m_innerPool(std::move(innerPool))
{
}

CRTreeNodeBase* CRTree::MakeData(const TRecord& record)
{
    return new (m_dataPool->Allocate()) CRTreeDataNode(record.rect, record.datum);
}

CRTreeNode* CRTree::MakeInner() { return new (m_innerPool->Allocate()) CRTreeNode(); }

void CRTree::Release(CRTreeNodeBase* node)
{
    if (node->IsDataNode()) {
        m_dataPool->Free(node);
        return;
    }
    auto* inner = static_cast<CRTreeNode*>(node);
    for (int i = 0; i < inner->childCount; ++i)
        Release(inner->children[i]);
    m_innerPool->Free(inner);
}

void CRTree::Clear()
{
    if (m_root)
        Release(m_root);
    m_root = nullptr;
}

void CRTree::Build(const TRecord* records, uint64_t count)
{
    Clear();
    if (count == 0)
        return;
    CGrowArray<const TRecord*> items;
    items.Reserve(count);
    for (uint64_t i = 0; i < count; ++i)
        items.PushBack(records + i);
    m_root = Build(items.Data(), count, 0);
}

// Nodes are attached as soon as they are made, so a failed allocation leaves
// every node reachable from its parent for Clear.
CRTreeNodeBase* CRTree::Build(const TRecord** items, uint64_t n, int axis)
{
    if (n == 1)
        return MakeData(*items[0]);
    CRTreeNode* node = MakeInner();
    uint64_t s1, s2;
    Split(items, n, axis, s1, s2);
    try {
        if (s1 > 0)
            node->Append(Build(items, s1, 1 - axis));
        if (s2 > s1)
            node->Append(BuildGroup(items + s1, s2 - s1, axis));
        if (n > s2)
            node->Append(Build(items + s2, n - s2, 1 - axis));
    } catch (...) {
        Release(node);
        throw;
    }
    return node;
}

CRTreeNodeBase* CRTree::BuildGroup(const TRecord** items, uint64_t n, int axis)
{
    if (n == 1)
        return MakeData(*items[0]);
    CRTreeNode* node = MakeInner();
    uint64_t k = std::max<uint64_t>(n / 3, 1);
    SortByMin(items, n, axis);
    if (k > 1) {
        // The h smallest minima and the k - h largest maxima go first.
        uint64_t h = (k + 1) / 2;
        SortByMax(items + h, n - h, axis);
        for (uint64_t i = h; i < k; ++i)
            std::swap(items[i], items[i + (n - k)]);
    }
    try {
        node->Append(BuildGroup(items, k, axis));
        uint64_t s1, s2;
        Split(items + k, n - k, 1 - axis, s1, s2);
        const TRecord** rest = items + k;
        if (s1 > 0)
            node->Append(BuildGroup(rest, s1, axis));
        if (s2 > s1)
            node->Append(BuildGroup(rest + s1, s2 - s1, axis));
        if (n - k > s2)
            node->Append(BuildGroup(rest + s2, n - k - s2, axis));
    } catch (...) {
        Release(node);
        throw;
    }
    return node;
}

}  // namespace RTree
