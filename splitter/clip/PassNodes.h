// What a pass knows of nodes: the pass area of each node it writes, the
// positions that clipping needs, and the nodes near the run's areas that lie
// in none of them.
#pragma once

#include <cstdint>

#include "common/OSM/Entities.h"
#include "splitter/Log.h"
#include "splitter/clip/AreaOutput.h"
#include "splitter/clip/ClipContext.h"
#include "splitter/clip/NodeAreaTable.h"
#include "splitter/clip/RunAreas.h"
#include "splitter/clip/StageTools.h"

namespace OSM {
class CPBFReaderAdapter;
}

namespace Splitter::Clip {

class CPassNodes : public CNodeIndex {
public:
    // The pass is areas first .. first + count - 1 of run, which must
    // outlive the table.
    CPassNodes(const CRunAreas& run, uint32_t first, uint32_t count) : m_run(run), m_first(first), m_count(count) {}
    CPassNodes(const CPassNodes&) = delete;
    CPassNodes& operator=(const CPassNodes&) = delete;

    // Makes room for the pass's nodes: as many as the run counted for it, or
    // capacityHint when that many do not fit at once (the table then grows as
    // it fills), and positions up to the kept point limit, or none.
    void Reserve(uint64_t capacityHint);
    // How many node positions ReadInner keeps for clipping, at 8 bytes each;
    // the blocks of wanted nodes beyond them are read again. Set before
    // Reserve; the outputs do not depend on it.
    void SetKeptPointLimit(uint64_t nodes) { m_keptPointLimit = nodes; }
    static constexpr uint64_t kKeptPointBytes = uint64_t(64) << 20;

    // Reads the input's nodes from where the reader stands and notes the
    // pass area of each. With outputs (outputs[i] for pass area i), writes
    // every node to its area, tagging border nodes, and keeps positions;
    // without, only notes areas. With runCounts (one per area of the run),
    // counts there the nodes of every area of the run. A node id that does
    // not fit a key, or one out of order, ends the run as
    // OSM::CDataReader::CBadFileException.
    void ReadInner(OSM::CPBFReaderAdapter& reader, TAreaOutput* const* outputs, const CMemoryHolder& owner,
                   CLog& log, uint64_t* runCounts = nullptr);

    // Whether the way through refs has nodes in more than one area of the
    // pass, or in one and outside; first is the area of its first node.
    bool SpansAreas(const CGrowArray<OSM::TId>& refs, int32_t& first) const;
    // The position of a node in no area of the run near its areas, as
    // ReadInner met it; false for other nodes.
    bool StrayPoint(OSM::TId id, CGeoPoint& point) const;
    bool HasStrayNodes() const { return !m_strayNodes.Empty(); }
    void FreeStrayNodes() { m_strayNodes.Free(); }

    // Asks for the position of node id, for NodePoint once ReadPoints is done.
    void Want(OSM::TId id) { m_wantedNodes.PushBack({id, kUnreadPoint}); }
    // Sorts the wanted nodes, after the last Want.
    void FinishWanted();
    // Finds the wanted positions: kept from ReadInner, or read again from the
    // blocks that hold them. A position off the globe stays unknown, so no
    // way is clipped through it.
    void ReadPoints(OSM::CPBFReaderAdapter& reader);
    void FreeWanted() { m_wantedNodes.Free(); }

    // The largest node id read.
    OSM::TId MaxId() const { return m_maxId; }
    // The input's nodes in no area of the run, as ReadInner met them.
    TOutsideNodes& OutsideNodes() { return m_outside; }
    const CNodeAreaTable& Areas() const { return m_nodeAreas; }

    uint64_t BytesHeld() const;
    int32_t NodeArea(OSM::TId id) const override { return m_nodeAreas.Find(id); }
    bool NodePoint(OSM::TId id, CGeoPoint& point) const override;
    int32_t PointArea(CGeoPoint point) const override { return PassAreaOf(m_run.Locate(point, nullptr)); }

private:
    // The pass area of the run's area runArea (-1 for none), or -1.
    int32_t PassAreaOf(int32_t runArea) const;

    struct TWantedNode {
        OSM::TId id;
        uint64_t point;  // packed CGeoPoint, or one of the two below
    };
    // Latitudes no point on the globe has: not yet known, and known to be
    // missing or off the globe.
    static constexpr uint64_t kUnreadPoint = uint64_t(0x80000000u) << 32;
    static constexpr uint64_t kUnknownPoint = kUnreadPoint | 1;
    static bool IsKnownPoint(uint64_t point) { return (point >> 32) != 0x80000000u; }
    static const TWantedNode* FindNode(const CGrowArray<TWantedNode>& nodes, OSM::TId id);

    const CRunAreas& m_run;
    const uint32_t m_first;  // the run's index of the pass's first area
    const uint32_t m_count;

    CNodeAreaTable m_nodeAreas;
    // Packed positions of the first nodes of m_nodeAreas, index for index,
    // up to m_keptPointLimit; empty when an id out of order or repeated
    // breaks that correspondence (the table is then sorted, and a repeated
    // node's position is its last).
    CGrowArray<uint64_t> m_keptPoints;
    uint64_t m_keptPointLimit = kKeptPointBytes / sizeof(uint64_t);
    CGrowArray<detail::TBlockSpan> m_nodeBlocks;
    CGrowArray<TWantedNode> m_wantedNodes;
    // Nodes in no area of the run within the run's bounds grown by their
    // size, by id, until the edge ways are found.
    CGrowArray<TWantedNode> m_strayNodes;
    OSM::TId m_maxId = 0;
    TOutsideNodes m_outside;
};

}  // namespace Splitter::Clip
