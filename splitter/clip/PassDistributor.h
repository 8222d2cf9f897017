// One pass: read the input several times and send each area what belongs to it.
#pragma once

#include <cstdint>
#include <memory>
#include <set>

#include "common/OSM/Entities.h"
#include "common/rtree/RTree.h"
#include "splitter/Log.h"
#include "splitter/areas/AreaGeometry.h"
#include "splitter/clip/AreaOutput.h"
#include "splitter/clip/ClipContext.h"
#include "splitter/clip/IdAreaKey.h"
#include "splitter/clip/NodeAreaTable.h"
#include "splitter/clip/RunAreas.h"

class CPBInputAdapter;
namespace OSM {
class CPBFReaderAdapter;
}

namespace Clip {


// One entry per way and area it was cut into.
struct TClippedWay {
    TIdAreaKey key;
    uint32_t count;  // pieces in the area's list
    uint32_t first;  // index of the first of them
};

// The closing ways made for the rings of a multipolygon in one area; they
// are all part of its outer boundary there.
struct TRingPieces {
    TIdAreaKey key;  // relation id << 16 | area
    uint32_t count;
    uint32_t first;
    CGrowArray<OSM::TId> absorbed;  // ways along the border the closing ways replace, sorted
    // Members of inner rings that the border cuts: in this area they bound
    // the polygon from outside, a notch in its outer boundary. Sorted.
    CGrowArray<OSM::TId> outerWays;
    // Rings given as one closed way each, where the pieces and closing ways
    // would make rings that touch: (piece index, inner).
    CGrowArray<std::pair<uint32_t, bool>> loops;
};

class CPassDistributor : public CMemoryHolder, public CNodeIndex {
public:
    CPassDistributor() = default;
    CPassDistributor(const CPassDistributor&) = delete;
    CPassDistributor& operator=(const CPassDistributor&) = delete;
    ~CPassDistributor();

    // Writes the pass over the run's areas first .. first + areaCount - 1:
    // outputs[i] is the output of area first + i (consecutive areas may share
    // one). Objects the pass makes carry timestamp (milliseconds). Returns
    // false, after printing "Bad areas.", when the areas cannot be used.
    // Reading, writing and memory failures leave as exceptions; a malformed
    // input as OSM::CDataReader::CBadFileException.
    bool Run(CPBInputAdapter& input, const CRunAreas& run, uint32_t first, TAreaOutput* const* outputs,
             uint32_t areaCount, uint32_t capacityHint, int64_t timestamp, CLog& log);

    // Finds the run's edge ways for passes of at most groupSize areas,
    // reading the nodes and ways once per group of that many areas, and
    // hands them to run. Failures leave as from Run; run is then unchanged.
    static void FindEdgeWays(CPBInputAdapter& input, CRunAreas& run, uint32_t groupSize, uint32_t capacityHint,
                             CLog& log);

    // How many node positions the first reading of nodes keeps for
    // clipping, at 8 bytes each; the blocks of wanted nodes beyond them
    // are read again. Set before Run; the outputs do not depend on it.
    void SetKeptPointLimit(uint64_t nodes) { m_keptPointLimit = nodes; }
    static constexpr uint64_t kKeptPointBytes = uint64_t(64) << 20;

    // The input's nodes in no area of the run, as Run met them.
    TOutsideNodes& OutsideNodes() { return m_outside; }

    uint64_t BytesHeld() const override;
    int32_t NodeArea(OSM::TId id) const override;
    bool NodePoint(OSM::TId id, CGeoPoint& point) const override;
    int32_t PointArea(CGeoPoint point) const override { return PassArea(point, nullptr); }

private:
    // The pass area (0-based) a node at point goes to, or -1 when it lies
    // in no area of this pass.
    int32_t PassArea(CGeoPoint point, bool* border) const { return PassAreaOf(m_run->Locate(point, border)); }
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

    // The entities of one kind in one block of the input, so that a later
    // stage reads only the blocks that hold what it wants.
    struct TBlockSpan {
        uint64_t offset;  // of the block, for a seek
        OSM::TId minId;
        OSM::TId maxId;
        uint64_t count;  // entities of the kind in the block
    };

    // A piece to write, in the order of its output's pieces.
    struct TPieceRef {
        OSM::TId id;
        uint32_t area;
        uint32_t index;  // into the area's piece list
    };

    struct TRelationCopy {
        uint32_t output;
        uint32_t area;  // the first area of the output that asked for it
        OSM::TRelation relation;
        uint64_t lastChildMember;  // member index last added from a child relation
    };

    void InnerNodes(OSM::CPBFReaderAdapter& reader);
    void EdgeWays(OSM::CPBFReaderAdapter& reader);
    void EdgeMultipolygons(OSM::CPBFReaderAdapter& reader);
    void WantedNodes(OSM::CPBFReaderAdapter& reader);
    void NodePoints(OSM::CPBFReaderAdapter& reader);
    void ClipWays();
    void ClipMultipolygons();
    void InnerWays(OSM::CPBFReaderAdapter& reader);
    void WriteClippedWays();
    // Orders each output's pieces by id, for writing among its inner ways.
    void OrderPieces();
    // Writes the output's pieces that come before way id (all when id is
    // none), so that every file stays sorted by id.
    void WritePiecesBefore(uint32_t output, const OSM::TId* id);
    void RelationRegions(OSM::CPBFReaderAdapter& reader);
    void ClipRelations(OSM::CPBFReaderAdapter& reader);
    void WriteNewMultipolygons();

    // Positions the reader at the first entity of the first block holding
    // kind, when the reader saw one; else reading goes on where it stands.
    void SeekFirstBlock(OSM::CPBFReaderAdapter& reader, OSM::EEntityType kind);
    void SeekBlock(OSM::CPBFReaderAdapter& reader, uint64_t offset);
    // Notes the reader's current entity, of id, in spans.
    static void NoteBlock(CGrowArray<TBlockSpan>& spans, const OSM::CPBFReaderAdapter& reader, OSM::TId id);
    // Hands body the entities of kind in the blocks of spans that wants
    // picks, seeking over the others.
    template <typename Wants, typename Body>
    void ReadWanted(OSM::CPBFReaderAdapter& reader, OSM::EEntityType kind, const CGrowArray<TBlockSpan>& spans,
                    Wants&& wants, Body&& body);

    // Gathers the points of way into m_points; false, after reporting the
    // missing node, when one is not known.
    bool GatherPoints(const OSM::TWay& way);
    // Clips way, whose points are in m_points, against every area its
    // bounding rectangle meets. Pieces of one way in one area, clipped one
    // run after another, share one clipped way table entry.
    void ClipLine(const OSM::TWay& way, bool ringMode, bool keepsId = true);
    void ClipClosedWay(const OSM::TWay& way, bool ringMember);
    // Whether a segment between two of refs' stray nodes meets the rectangle
    // of an area of the pass.
    bool CrossesAnArea(const CGrowArray<OSM::TId>& refs);
    // bounds grown by its width and height on every side, within the globe.
    static CGeoRect AroundBounds(const CGeoRect& bounds);
    // The pass's areas whose rectangles meet bounds, ascending, in m_found.
    const CGrowArray<uint32_t>& AreasMeeting(const CGeoRect& bounds);
    // Gives every area that the closed way, whose points are in m_points,
    // holds whole and has no piece of (no entry from firstEntry on) a ring
    // along its border.
    void HoldWholeAreas(const OSM::TWay& way, uint64_t firstEntry);
    // Gives the rings of entry's copy that would touch as closed ways.
    // ringStart[r] is the index in rings of ring r's first way.
    void SimplifyCopy(TRingPieces& entry, const CGrowArray<TRingPiece>& pieces, const CGrowArray<TRingWay>& rings,
                      const CGrowArray<uint32_t>& ringStart);
    // Gives every area of the pass that no ring of relation reaches but its
    // polygon holds whole a closing ring along its border.
    // shapes[r] holds ring r's points, as AssembleRings gives them.
    void HoldWholeAreas(OSM::TId relation, const CGrowArray<TRingWay>& rings, const CGrowArray<TRing>& shapes,
                        const CGrowArray<int32_t>& reached);
    void ClipRuns(const OSM::TWay& way, bool ringMode);
    // Closes the pieces of all rings of relation in every area they reach.
    void ClipRings(OSM::TId relation, const CGrowArray<TRingWay>& rings, const CGrowArray<TRing>& shapes);

    const TRingPieces* RingPiecesOf(OSM::TId relation, int32_t area) const;
    bool IsAbsorbed(OSM::TId way, OSM::TId relation, int32_t area) const;
    // The role of a way member in the relation's copy for area: inner ways
    // that bound the outer boundary there become outer.
    const std::string& RoleIn(const OSM::TMember& member, OSM::TId relation, int32_t area) const;
    // Whether the pieces of entry leave a way member in the relation's copy.
    bool HasMemberPieces(const TClippedWay& entry, OSM::TId relation) const;
    TRelationCopy& CopyFor(uint32_t area);
    void Propagate(OSM::TId origin);

    const TClippedWay* ClippedBegin(OSM::TId way) const;
    const TRingPieces* RingPiecesBegin(OSM::TId relation) const;

    CLog* m_log = nullptr;
    uint32_t m_areaCount = 0;
    TAreaOutput* const* m_outputs = nullptr;

    CGrowArray<std::unique_ptr<CAreaClipContext>> m_contexts;
    const CRunAreas* m_run = nullptr;
    uint32_t m_first = 0;  // the run's index of the pass's first area
    RTree::CRTree m_areaTree{100};

    CNodeAreaTable m_nodeAreas;
    // Packed positions of the first nodes of m_nodeAreas, index for index,
    // up to m_keptPointLimit; empty when an id out of order or repeated
    // breaks that correspondence (the table is then sorted, and a repeated
    // node's position is its last).
    CGrowArray<uint64_t> m_keptPoints;
    uint64_t m_keptPointLimit = kKeptPointBytes / sizeof(uint64_t);
    CGrowArray<OSM::TId> m_edgeWays;
    CGrowArray<OSM::TWay> m_edgeWayCopies;  // in input order, until they are clipped
    CGrowArray<TBlockSpan> m_nodeBlocks;
    CGrowArray<TBlockSpan> m_wayBlocks;
    CGrowArray<OSM::TRelation> m_edgeMultipolygons;
    CGrowArray<OSM::TId> m_edgeMultipolygonWays;
    CGrowArray<TIdAreaKey> m_relationWays;
    CGrowArray<TWantedNode> m_wantedNodes;
    // Nodes in no area of the run within the pass's bounds, by id, until the
    // edge ways are found.
    CGrowArray<TWantedNode> m_strayNodes;
    CGrowArray<OSM::TWay> m_storedWays;
    CGrowArray<TClippedWay> m_clippedWays;
    CGrowArray<TRingPieces> m_ringPieces;
    std::set<TIdAreaKey> m_relationAreas;
    CGrowArray<std::pair<OSM::TId, OSM::TId>> m_relationParents;  // (child, parent)
    CGrowArray<uint32_t> m_copySlots;                            // per output
    CGrowArray<TRelationCopy> m_copies;
    CGrowArray<uint32_t> m_outputIndex;  // per area: its output's index
    CGrowArray<TPieceRef> m_pieceOrder;   // by output, then id
    CGrowArray<uint64_t> m_nextPiece;     // per output: its next unwritten m_pieceOrder entry
    CGrowArray<uint64_t> m_piecesEnd;     // per output: one past its last entry
    CGrowArray<CGeoPoint> m_points;
    CGrowArray<uint32_t> m_found;

    OSM::TId m_maxNodeId = 0, m_maxWayId = 0, m_maxRelationId = 0;
    TOutsideNodes m_outside;
};

}  // namespace Clip
