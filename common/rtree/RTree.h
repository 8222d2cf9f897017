// Static R-tree over rectangles on the cyclic longitude axis: bulk-loaded from
// a complete list, then only searched.
#pragma once

#include <cstdint>
#include <type_traits>

#include "common/base/GrowArray.h"
#include "common/rtree/Geo.h"
#include "common/rtree/PoolAllocator.h"
#include "common/rtree/SharedPtr.h"

namespace RTree {

// Receives the serialised tree.
class CByteSink {
public:
    virtual void Write(const void* bytes, uint64_t length) = 0;

protected:
    ~CByteSink() = default;
};

// Nodes live in block pools and go back to them without being deleted, so
// there is no virtual destructor. Every node has the rectangle that covers
// its subtree.
template <typename TDatum, typename TRect>
class CRTreeNodeBase {
public:
    // Appends, in depth-first child order, the datum of every leaf whose
    // rectangle meets rect and does not meet exclusion (which may be empty).
    virtual void QueryExcluding(const TRect& rect, const TRect& exclusion, CGrowArray<TDatum>& results) const = 0;
    // Appends, in depth-first child order, the datum of every leaf whose
    // rectangle meets rect. Nothing is sorted or de-duplicated.
    virtual void Query(const TRect& rect, CGrowArray<TDatum>& results) const = 0;
    // Whether some leaf's rectangle meets rect; stops at the first.
    virtual bool Any(const TRect& rect) const = 0;
    // Writes the subtree in the serialised form: a leaf its datum; an inner
    // node its child count, a byte with bit i set when child i is a leaf, two
    // zero bytes, then per child its rectangle and the running total of the
    // children's sizes so far, then the children's own forms in order. All in
    // the machine's (little-endian) byte order.
    virtual void Write(CByteSink& sink) const = 0;
    // The number of bytes Write produces.
    virtual uint64_t SerializedSize() const = 0;
    // Leaves in the subtree, plus its inner nodes unless leavesOnly.
    virtual uint64_t Count(bool leavesOnly) const = 0;
    virtual bool IsDataNode() const = 0;

    const TRect& Rect() const { return m_rect; }

protected:
    explicit CRTreeNodeBase(const TRect& rect) : m_rect(rect) {}
    ~CRTreeNodeBase() = default;

    TRect m_rect;
};

// A leaf: one input record.
template <typename TDatum, typename TRect>
class CRTreeDataNode final : public CRTreeNodeBase<TDatum, TRect> {
public:
    CRTreeDataNode(const TRect& rect, TDatum datum) : CRTreeNodeBase<TDatum, TRect>(rect), m_datum(datum) {}

    void QueryExcluding(const TRect& rect, const TRect& exclusion, CGrowArray<TDatum>& results) const override;
    void Query(const TRect& rect, CGrowArray<TDatum>& results) const override;
    bool Any(const TRect& rect) const override;
    void Write(CByteSink& sink) const override;
    uint64_t SerializedSize() const override { return sizeof(TDatum); }
    uint64_t Count(bool) const override { return 1; }
    bool IsDataNode() const override { return true; }

    TDatum Datum() const { return m_datum; }

private:
    TDatum m_datum;
};

// An inner node of 1 to 4 children; its rectangle grows by each child's as
// the child is completed, in child order.
template <typename TDatum, typename TRect>
class CRTreeNode final : public CRTreeNodeBase<TDatum, TRect> {
public:
    using TBase = CRTreeNodeBase<TDatum, TRect>;
    static constexpr uint8_t kMaxChildren = 4;

    // Empty rectangle, no children.
    CRTreeNode() : TBase(TRect{}) {}

    void QueryExcluding(const TRect& rect, const TRect& exclusion, CGrowArray<TDatum>& results) const override;
    void Query(const TRect& rect, CGrowArray<TDatum>& results) const override;
    bool Any(const TRect& rect) const override;
    void Write(CByteSink& sink) const override;
    uint64_t SerializedSize() const override;
    uint64_t Count(bool leavesOnly) const override;
    bool IsDataNode() const override { return false; }

    // Hangs child under this node (at most kMaxChildren); its rectangle is
    // taken in by Cover once the child is complete.
    void Append(TBase* child) { m_children[m_count++] = child; }
    void Cover(const TRect& rect) { Extend(this->m_rect, rect); }
    uint8_t ChildCount() const { return m_count; }
    TBase* Child(uint8_t i) const { return m_children[i]; }

private:
    TBase* m_children[kMaxChildren] = {};
    uint8_t m_count = 0;
};

extern template class CRTreeDataNode<uint32_t, CGeoRect>;
extern template class CRTreeNode<uint32_t, CGeoRect>;

// One rectangle to index and the datum a query returns for it.
struct TRecord {
    CGeoRect rect;
    uint32_t datum;
};

namespace detail {
template <typename TSink>
class CSinkAdapter final : public CByteSink {
public:
    explicit CSinkAdapter(TSink& sink) : m_sink(sink) {}
    void Write(const void* bytes, uint64_t length) override { m_sink.Write(bytes, length); }

private:
    TSink& m_sink;
};
}  // namespace detail

class CRTree {
public:
    using TNodeBase = CRTreeNodeBase<uint32_t, CGeoRect>;
    using TDataNode = CRTreeDataNode<uint32_t, CGeoRect>;
    using TInnerNode = CRTreeNode<uint32_t, CGeoRect>;
    using TDataPool = CPoolAllocator<32>;
    using TInnerPool = CPoolAllocator<64>;

    // Takes its leaves from dataPool and its inner nodes from innerPool, which
    // other trees may share.
    CRTree(CSharedPtr<TDataPool> dataPool, CSharedPtr<TInnerPool> innerPool);
    // Makes its own two pools of blocksPerChunk blocks per chunk.
    explicit CRTree(uint64_t blocksPerChunk);
    ~CRTree() { Clear(); }
    CRTree(const CRTree&) = delete;
    CRTree& operator=(const CRTree&) = delete;

    // Returns the old nodes to the pools, then bulk-loads the count records
    // (none leaves the tree empty); the records are not kept. Throws TBadAlloc
    // when memory runs out, leaving the tree empty and every node made so far
    // back in its pool.
    void Build(const TRecord* records, uint64_t count);
    // Returns every node to its pool; the pools keep their chunks.
    void Clear();

    // The rectangle covering every record; empty for an empty tree.
    CGeoRect RootRect() const { return m_root ? m_root->Rect() : CGeoRect{}; }
    // The root node's operations; an empty tree appends nothing, answers
    // false and writes nothing.
    void Query(const CGeoRect& rect, CGrowArray<uint32_t>& results) const
    {
        if (m_root)
            m_root->Query(rect, results);
    }
    // Skips subtrees whose part within rect lies inside exclusion.
    void QueryExcluding(const CGeoRect& rect, const CGeoRect& exclusion, CGrowArray<uint32_t>& results) const
    {
        if (m_root)
            m_root->QueryExcluding(rect, exclusion, results);
    }
    bool Any(const CGeoRect& rect) const { return m_root && m_root->Any(rect); }
    // sink is a CByteSink or any object with Write(const void*, uint64_t).
    template <typename TSink>
    void Write(TSink& sink) const
    {
        if (m_root == nullptr)
            return;
        if constexpr (std::is_base_of_v<CByteSink, TSink>) {
            m_root->Write(sink);
        } else {
            detail::CSinkAdapter<TSink> adapter(sink);
            m_root->Write(adapter);
        }
    }
    uint64_t SerializedSize() const { return m_root ? m_root->SerializedSize() : 0; }
    // Records in the tree, plus its inner nodes unless leavesOnly.
    uint64_t Count(bool leavesOnly = true) const { return m_root ? m_root->Count(leavesOnly) : 0; }

private:
    CSharedPtr<TDataPool> m_dataPool;
    CSharedPtr<TInnerPool> m_innerPool;
    TNodeBase* m_root = nullptr;
};

}  // namespace RTree
