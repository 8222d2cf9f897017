// A static R-tree over rectangles on the cyclic longitude axis, bulk-loaded
// once and then only searched.
#pragma once

#include <cstdint>

#include "common/rtree/Geo.h"
#include "common/streams/GrowArray.h"
#include "common/streams/PoolAllocator.h"
#include "common/streams/SharedPtr.h"

namespace RTree {

// One input of a build: a rectangle and what it stands for.
struct TRecord {
    CGeoRect rect;
    uint32_t datum;
};

using TDataPool = CPoolAllocator<32>;
using TInnerPool = CPoolAllocator<64>;

// A sink for the serialised form.
class CByteSink {
public:
    virtual void Write(const void* bytes, uint64_t length) = 0;

protected:
    ~CByteSink() = default;
};

class CRTreeNodeBase {
public:
    explicit CRTreeNodeBase(const CGeoRect& rect) : rect(rect) {}
    // Appends the datum of every data node meeting r and not meeting exclusion.
    virtual void QueryExcluding(const CGeoRect& r, const CGeoRect& exclusion, CGrowArray<uint32_t>& results) const = 0;
    // Appends the datum of every data node meeting r, depth first in child order.
    virtual void Query(const CGeoRect& r, CGrowArray<uint32_t>& results) const = 0;
    virtual bool Any(const CGeoRect& r) const = 0;
    virtual void Write(CByteSink& sink) const = 0;
    virtual uint64_t SerializedSize() const = 0;
    // Data nodes, plus inner nodes unless leavesOnly.
    virtual uint64_t Count(bool leavesOnly) const = 0;
    virtual bool IsDataNode() const = 0;

    CGeoRect rect;

protected:
    ~CRTreeNodeBase() = default;  // nodes live in pools
};

class CRTreeDataNode final : public CRTreeNodeBase {
public:
    CRTreeDataNode(const CGeoRect& rect, uint32_t datum) : CRTreeNodeBase(rect), datum(datum) {}
    void QueryExcluding(const CGeoRect& r, const CGeoRect& exclusion, CGrowArray<uint32_t>& results) const override;
    void Query(const CGeoRect& r, CGrowArray<uint32_t>& results) const override;
    bool Any(const CGeoRect& r) const override { return Intersects(rect, r); }
    void Write(CByteSink& sink) const override;
    uint64_t SerializedSize() const override { return 4; }
    uint64_t Count(bool) const override { return 1; }
    bool IsDataNode() const override { return true; }

    uint32_t datum;
};

class CRTreeNode final : public CRTreeNodeBase {
public:
    static constexpr int kMaxChildren = 4;

    CRTreeNode() : CRTreeNodeBase(CGeoRect{}) {}
    void QueryExcluding(const CGeoRect& r, const CGeoRect& exclusion, CGrowArray<uint32_t>& results) const override;
    void Query(const CGeoRect& r, CGrowArray<uint32_t>& results) const override;
    bool Any(const CGeoRect& r) const override;
    void Write(CByteSink& sink) const override;
    uint64_t SerializedSize() const override;
    uint64_t Count(bool leavesOnly) const override;
    bool IsDataNode() const override { return false; }

    void Append(CRTreeNodeBase* child)
    {
        children[childCount++] = child;
        Extend(rect, child->rect);
    }

    CRTreeNodeBase* children[kMaxChildren] = {};
    uint8_t childCount = 0;
};

static_assert(sizeof(CRTreeDataNode) <= 32, "data nodes come from 32-byte pool blocks");
static_assert(sizeof(CRTreeNode) <= 64, "inner nodes come from 64-byte pool blocks");

class CRTree {
public:
    // Makes its own pools with blocksPerChunk nodes per chunk.
    explicit CRTree(uint64_t blocksPerChunk);
    // Shares the pools with other trees.
    CRTree(CSharedPtr<TDataPool> dataPool, CSharedPtr<TInnerPool> innerPool);
    ~CRTree() { Clear(); }
    CRTree(const CRTree&) = delete;
    CRTree& operator=(const CRTree&) = delete;

    // Returns the old nodes to the pools and bulk-loads records[0 .. count).
    // Throws TBadAlloc when a pool cannot grow; the tree is then empty.
    void Build(const TRecord* records, uint64_t count);
    void Clear();
    bool Empty() const { return m_root == nullptr; }
    // The union of all rectangles; empty for an empty tree.
    CGeoRect RootRect() const { return m_root ? m_root->rect : CGeoRect{}; }

    void Query(const CGeoRect& r, CGrowArray<uint32_t>& results) const
    {
        if (m_root)
            m_root->Query(r, results);
    }
    void QueryExcluding(const CGeoRect& r, const CGeoRect& exclusion, CGrowArray<uint32_t>& results) const
    {
        if (m_root)
            m_root->QueryExcluding(r, exclusion, results);
    }
    bool Any(const CGeoRect& r) const { return m_root && m_root->Any(r); }
    void Write(CByteSink& sink) const
    {
        if (m_root)
            m_root->Write(sink);
    }
    uint64_t SerializedSize() const { return m_root ? m_root->SerializedSize() : 0; }
    uint64_t Count(bool leavesOnly) const { return m_root ? m_root->Count(leavesOnly) : 0; }
    const CRTreeNodeBase* Root() const { return m_root; }

private:
    CRTreeNodeBase* Build(const TRecord** items, uint64_t n, int axis);
    CRTreeNodeBase* BuildGroup(const TRecord** items, uint64_t n, int axis);
    CRTreeNodeBase* MakeData(const TRecord& record);
    CRTreeNode* MakeInner();
    void Release(CRTreeNodeBase* node);

    CSharedPtr<TDataPool> m_dataPool;
    CSharedPtr<TInnerPool> m_innerPool;
    CRTreeNodeBase* m_root = nullptr;
};

}  // namespace RTree
