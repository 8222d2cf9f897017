// One pass: read the input several times and send each area what belongs to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

#include "common/OSM/Entities.h"
#include "common/rtree/RTree.h"
#include "splitter/Log.h"
#include "splitter/areas/AreaGeometry.h"
#include "splitter/clip/AreaOutput.h"
#include "splitter/clip/ClipContext.h"
#include "splitter/clip/IdAreaKey.h"
#include "splitter/clip/PassNodes.h"
#include "splitter/clip/PieceOrder.h"
#include "splitter/clip/RunAreas.h"
#include "splitter/clip/StageTools.h"

class CPBInputAdapter;
namespace OSM {
class CPBFReaderAdapter;
}

namespace Splitter::Clip {


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

// What one pass writes.
struct TPassPlan {
    const CRunAreas* run;
    // The pass is the run's areas first .. first + count - 1; outputs[i] is
    // the output of area first + i (consecutive areas may share one).
    uint32_t first;
    uint32_t count;
    TAreaOutput* const* outputs;
    int64_t timestamp;      // milliseconds, carried by the objects the pass makes
    uint64_t capacityHint;  // nodes to make room for when the run has no count
    // Keep SpanningWays: the run's search for edge ways left this pass's
    // areas out.
    bool keepsSpanningWays = false;
};

class CPassDistributor : public CMemoryHolder {
public:
    CPassDistributor() = default;
    CPassDistributor(const CPassDistributor&) = delete;
    CPassDistributor& operator=(const CPassDistributor&) = delete;
    ~CPassDistributor();

    // Writes the pass plan describes. Returns false, after printing "Bad
    // areas.", when the areas cannot be used. Reading, writing and memory
    // failures leave as exceptions; a malformed input as
    // OSM::CDataReader::CBadFileException.
    bool Run(CPBInputAdapter& input, const TPassPlan& plan, CLog& log);

    // How many node positions the first reading of nodes keeps for
    // clipping (CPassNodes::SetKeptPointLimit). Set before Run.
    void SetKeptPointLimit(uint64_t nodes) { m_keptPointLimit = nodes; }

    // With TPassPlan::keepsSpanningWays, the ways whose nodes lie in more
    // than one area of the pass, or in one and outside, sorted, as
    // CEdgeWaySearch finds them for other areas.
    const CGrowArray<OSM::TId>& SpanningWays() const { return m_spanningWays; }

    // The input's nodes in no area of the run, as Run met them.
    TOutsideNodes& OutsideNodes() { return m_nodes->OutsideNodes(); }

    uint64_t BytesHeld() const override;

private:
    // Sets up the pass's clipping contexts, area tree and node tables.
    void Prepare(const TPassPlan& plan, CLog& log);

    struct TRelationCopy {
        uint32_t output;
        uint32_t area;  // the first area of the output that asked for it
        OSM::TRelation relation;
        uint64_t lastChildMember;  // member index last added from a child relation
    };

    void EdgeWays(OSM::CPBFReaderAdapter& reader);
    void EdgeMultipolygons(OSM::CPBFReaderAdapter& reader);
    void WantedNodes(OSM::CPBFReaderAdapter& reader);
    void ClipWays();
    void ClipMultipolygons();
    void InnerWays(OSM::CPBFReaderAdapter& reader);
    void WriteClippedWays();
    void RelationRegions(OSM::CPBFReaderAdapter& reader);
    void ClipRelations(OSM::CPBFReaderAdapter& reader);
    void WriteNewMultipolygons();

    // One of the two threads that clip the edge ways and multipolygons. It
    // cuts into areas [first, end), whole output files, with scratch and
    // results of its own: every file gets the pieces and new ids one thread
    // would give it, whichever thread clips the others.
    struct TClipLane {
        uint32_t first = 0;
        uint32_t end = 0;
        bool reports = true;  // the one lane that prints what the input lacks
        CGrowArray<CGeoPoint> points;
        CGrowArray<uint32_t> found;
        CGrowArray<TClippedWay> clippedWays;
        CGrowArray<TRingPieces> ringPieces;
    };
    // Parts the pass's areas between the lanes.
    void SetLanes(const TPassPlan& plan);
    // Runs work on every lane, the second on the program's helper thread
    // (CHelperThread::RunBeside), and rethrows a failure once all are done.
    void RunLanes(const std::function<void(TClipLane&)>& work);

    // Gathers the points of way into lane.points; false, after the reporting
    // lane reported the missing node, when one is not known.
    bool GatherPoints(TClipLane& lane, const OSM::TWay& way);
    // Clips way, whose points are in lane.points, against every area of the
    // lane its bounding rectangle meets. Pieces of one way in one area,
    // clipped one run after another, share one clipped way table entry.
    void ClipLine(TClipLane& lane, const OSM::TWay& way, bool ringMode, bool keepsId = true);
    void ClipClosedWay(TClipLane& lane, const OSM::TWay& way, bool ringMember);
    // Whether a segment between two of refs' stray nodes meets the rectangle
    // of an area of the pass.
    bool CrossesAnArea(const CGrowArray<OSM::TId>& refs);
    // The lane's areas whose rectangles meet bounds, ascending, in lane.found.
    const CGrowArray<uint32_t>& AreasMeeting(TClipLane& lane, const CGeoRect& bounds) const;
    // Gives every area of the lane that the closed way, whose points are in
    // lane.points, holds whole and has no piece of (no entry from firstEntry
    // on) a ring along its border.
    void HoldWholeAreas(TClipLane& lane, const OSM::TWay& way, uint64_t firstEntry);
    // Gives the rings of entry's copy that would touch as closed ways.
    // ringStart[r] is the index in rings of ring r's first way.
    void SimplifyCopy(TRingPieces& entry, const CGrowArray<TRingPiece>& pieces, const CGrowArray<TRingWay>& rings,
                      const CGrowArray<uint32_t>& ringStart);
    // Gives every area of the lane that no ring of relation reaches but its
    // polygon holds whole a closing ring along its border.
    // shapes[r] holds ring r's points, as AssembleRings gives them.
    void HoldWholeAreas(TClipLane& lane, OSM::TId relation, const CGrowArray<TRingWay>& rings,
                        const CGrowArray<TRing>& shapes, const CGrowArray<int32_t>& reached);
    void ClipRuns(TClipLane& lane, const OSM::TWay& way, bool ringMode);
    // Closes the pieces of all rings of relation in every area of the lane
    // they reach.
    void ClipRings(TClipLane& lane, OSM::TId relation, const CGrowArray<TRingWay>& rings,
                   const CGrowArray<TRing>& shapes);

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
    RTree::CRTree m_areaTree{100};

    std::unique_ptr<CPassNodes> m_nodes;
    uint64_t m_keptPointLimit = CPassNodes::kKeptPointBytes / sizeof(uint64_t);
    CGrowArray<OSM::TId> m_edgeWays;
    CGrowArray<OSM::TId> m_spanningWays;
    bool m_keepsSpanningWays = false;
    CGrowArray<OSM::TWay> m_edgeWayCopies;  // in input order, until they are clipped
    CGrowArray<detail::TBlockSpan> m_wayBlocks;
    CGrowArray<OSM::TRelation> m_edgeMultipolygons;
    CGrowArray<OSM::TId> m_edgeMultipolygonWays;
    CGrowArray<TIdAreaKey> m_relationWays;
    CGrowArray<OSM::TWay> m_storedWays;
    CGrowArray<TClippedWay> m_clippedWays;
    CGrowArray<TRingPieces> m_ringPieces;
    std::set<TIdAreaKey> m_relationAreas;
    CGrowArray<std::pair<OSM::TId, OSM::TId>> m_relationParents;  // (child, parent)
    CGrowArray<uint32_t> m_copySlots;                            // per output
    CGrowArray<TRelationCopy> m_copies;
    CGrowArray<uint32_t> m_outputIndex;  // per area: its output's index
    std::unique_ptr<CPieceOrder> m_pieceOrder;  // from the writing of inner ways on
    TClipLane m_lanes[2];
    uint32_t m_laneCount = 1;

    OSM::TId m_maxWayId = 0, m_maxRelationId = 0;
};

}  // namespace Splitter::Clip
