// Cutting ways at the border of one area of a pass.
#pragma once

#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>

#include "common/OSM/Entities.h"
#include "common/rtree/RTree.h"
#include "splitter/areas/Areas.h"
#include "splitter/clip/AreaOutput.h"
#include "splitter/clip/ClipMath.h"

namespace Splitter::Clip {

// Where a piece meets the area border.
struct TCrossing {
    static constexpr int32_t kNone = -1;  // the piece ends at the way's own end node

    int32_t edge = kNone;   // polygon edge index
    uint32_t fraction = 0;  // position on the edge, u * 2^31
    double angle = 0;       // orders crossings at one border position

    bool HasEdge() const { return edge >= 0; }
};

// A node reference standing for the new node at a piece's crossing, until
// the piece is finished.
constexpr OSM::TId kPlaceholder = INT64_MIN;

struct TPiece {
    OSM::TWay way;
    TCrossing start, end;
    // A piece of a closed way that only runs along the border: no ring, but
    // an open way through the border nodes this area holds.
    bool alongBorder = false;
    OSM::TId source = 0;  // the input way it comes from
};

// A member way of a multipolygon ring, read in ring order: the polygon lies
// to the right (outer rings run clockwise, inner ones counter-clockwise).
struct TRingWay {
    const OSM::TWay* way;
    bool reversed;
    bool outer;
    uint32_t ring;  // rings of one relation are numbered from 0
};

// A way of a relation's copy in one area: a piece of Pieces(), or a member
// way lying wholly inside the area.
struct TCopyWay {
    const OSM::TWay* way;
    int64_t piece;  // its index in Pieces(), or -1 for a member way
    bool closing;   // a closing way of the relation, listed for it alone
    bool inner;
};

// A piece of a ring in one area; a reversed piece is read last node first.
struct TRingPiece {
    uint32_t index;
    bool reversed;
    uint32_t ring;
};

// Answers for the clipping what the pass knows about nodes.
class CNodeIndex {
public:
    // The pass area of node id, or -1.
    virtual int32_t NodeArea(OSM::TId id) const = 0;
    // The position of a wanted node; false when the input did not have it.
    virtual bool NodePoint(OSM::TId id, CGeoPoint& point) const = 0;
    // The pass area a node at point would go to, or -1.
    virtual int32_t PointArea(CGeoPoint) const { return -1; }

protected:
    ~CNodeIndex() = default;
};

class CAreaClipContext {
public:
    // Indexes the edges of polygon, which CleanPolygon made and which must
    // outlive the context.
    CAreaClipContext(const TRing& polygon, TAreaOutput& output, uint32_t areaIndex, const CNodeIndex& nodes,
                     int64_t timestamp);

    // The polygon as the clipping uses it: no repeated points, clockwise,
    // closed, no edge spanning 180 degrees of longitude or more. Cleaning it
    // again changes nothing.
    static TRing CleanPolygon(const TRing& polygon);

    const TRing& Polygon() const { return m_polygon; }
    uint32_t EdgeCount() const { return m_polygon.Count() > 1 ? uint32_t(m_polygon.Count() - 1) : 0; }
    // The bounding rectangle of the polygon's edges; empty without edges.
    CGeoRect Bounds() const { return m_edges.RootRect(); }
    uint32_t AreaIndex() const { return m_areaIndex; }
    TAreaOutput& Output() const { return m_output; }

    CGrowArray<TPiece>& Pieces() { return m_pieces; }
    CGrowArray<OSM::TRelation>& NewMultipolygons() { return m_newMultipolygons; }

    // Cuts the way with the given points (n >= 2) at the border and appends
    // its pieces inside the area to Pieces(). A piece holding the whole way
    // takes the way's id when keepsId is set. Outside ring mode the pieces
    // are finished: their placeholders become border nodes, shared by pieces
    // meeting the border at one place. Returns the number of pieces appended.
    uint32_t ClipLine(const OSM::TWay& way, const CGeoPoint* points, uint64_t n, bool ringMode, bool keepsId);

    // Replaces placeholder ends of piece by the nodes of its crossings.
    void FinishPlaceholders(TPiece& piece, bool highway);
    // Forgets the nodes made at crossings: later pieces get nodes of their own.
    void ClearCrossingNodes() { m_crossingNodes.clear(); }

    // The point at the crossing's position on the polygon, in the polygon's
    // longitudes (past +180 degrees for a polygon crossing the antimeridian).
    CGeoPoint PointAt(const TCrossing& crossing) const;
    // Makes, writes and returns the id of a new node at point (given in the
    // polygon's longitudes, written in [-180, +180]: one name for the 180
    // degree meridian within an area), tagged as a border node when asked.
    OSM::TId NewNode(CGeoPoint point, bool extNode);
    // Appends a piece with a new id and a copy of source's tags.
    TPiece& NewPiece(const OSM::TWay& source);

    // Closes the pieces [first, first + count) of one cut closed way along the
    // border: each piece continues through new nodes at the polygon's
    // vertices to the start of the piece that follows it clockwise. Stretches
    // of a piece that run back along the border are cut off first; a piece
    // that would close into a ring of fewer than three points stays open and
    // is marked alongBorder.
    void ClosePieces(uint32_t first, uint32_t count, bool highway);
    // Closes the pieces of one multipolygon ring in this area with new closing
    // ways along the border. Ways and pieces lying along the border that the
    // closing ways take over are added to absorbed. Returns the number of
    // closing ways appended to Pieces().
    uint32_t CloseRingPieces(const TRingPiece* pieces, uint32_t count, const TRingWay* ring, uint32_t ringCount,
                             CGrowArray<OSM::TId>& absorbed);
    // Splits the rings that the closed pieces [first, first + count), the
    // last pieces of the list, form where a ring passes one node twice: the
    // ring's first piece takes the first simple ring, new pieces appended
    // take the others, its other pieces are emptied (and never written).
    // Rings already simple keep their pieces. Returns the new count.
    uint32_t SplitTouchingRings(uint32_t first, uint32_t count);
    // Joins the ways of a relation's copy in this area into rings where their
    // end nodes lie at one place. A ring that passes one place twice, or has
    // a way end where more than two way ends meet (rings touching there,
    // which readers joining ways could take for one ring), is given as
    // closed ways instead, one per simple ring: appended to Pieces() with
    // tags' tags and reported in loops as (index, inner); the ways they
    // replace are added to absorbed, and its closing ways are emptied (never
    // written). Changes nothing when a ring does not close.
    void SimplifyRings(const CGrowArray<TCopyWay>& ways, const OSM::TWay& tags, CGrowArray<OSM::TId>& absorbed,
                       CGrowArray<std::pair<uint32_t, bool>>& loops);
    // While set, the positions of the nodes made are kept for SimplifyRings;
    // clearing forgets them.
    void KeepMadePoints(bool keep);
    // Appends a piece with a copy of source's tags that runs once round the
    // whole border, through new nodes at the polygon's corners, and closes:
    // the part of a polygon that holds the whole area. Returns its index.
    uint32_t BorderRing(const OSM::TWay& source);
    // Makes a multipolygon relation from the pieces [first, first + count)
    // that are rings, whose tags it takes over, for writing at the end of the
    // pass.
    void NewMultipolygon(uint32_t first, uint32_t count);

    // The angle of direction d against edge e, in [0, 2 pi).
    static double Angle(int64_t dx, int64_t dy, int64_t ex, int64_t ey);

private:
    struct TSegmentCrossing;
    struct TLineCut;
    // The crossings of segment p to p1 with the border, ordered along it, in
    // crossings; true, with pending, when the segment ends on the border.
    bool SegmentCrossings(CGeoPoint p, CGeoPoint p1, CGrowArray<TSegmentCrossing>& crossings, TCrossing& pending);
    // The segment in direction d meets edge k, where w runs from the
    // segment's start to the edge's, at one point: added to crossings, or
    // true, with pending, when it is the segment's end.
    bool CrossEdge(uint32_t k, detail::TVector d, detail::TVector e, detail::TVector w,
                   CGrowArray<TSegmentCrossing>& crossings, TCrossing& pending) const;
    // The segment p to p1 runs along edge k: the ends of the shared stretch
    // go to crossings, its start to owned when this area keeps it; true,
    // with pending, when the segment ends on the edge.
    bool AlongEdge(uint32_t k, CGeoPoint p, CGeoPoint p1, CGrowArray<TSegmentCrossing>& crossings,
                   CGrowArray<TSegmentCrossing>& owned, TCrossing& pending) const;
    void AddCrossing(CGrowArray<TSegmentCrossing>& crossings, TSegmentCrossing c, detail::TVector d) const;
    // The end of ClipLine for the pieces from first on of a way of n nodes.
    uint32_t FinishLine(const OSM::TWay& way, uint64_t first, uint64_t n, bool ringMode, bool keepsId);

    OSM::TId NodeForCrossing(const TCrossing& crossing, bool highway, OSM::TId source);

    // Moves crossing c to point p when p lies on the border next to c in the
    // walk's direction (forward: clockwise), up to the next polygon point and
    // not beyond stop. Returns false, leaving c unchanged, otherwise.
    bool StepAlongBorder(bool forward, TCrossing& c, const TCrossing& stop, CGeoPoint p) const;
    // Moves crossing c along the border while the way's nodes, read from
    // index on in the given direction, lie on it; stops short of stop.
    // Returns the index of the last node on the border.
    uint64_t BorderWalk(const OSM::TWay& way, uint64_t index, bool readBackwards, bool forward, TCrossing& c,
                        const TCrossing& stop) const;
    struct TWalk;
    // The ring-mode walk: continues from way to way along the ring's members
    // that lie wholly inside the area, at most one full turn of the border.
    void RingWalk(TWalk& walk, bool forward, TCrossing& c, const TCrossing& stop, OSM::TId stopNode,
                  const TRingWay* ring, uint32_t ringCount, CGrowArray<OSM::TId>& absorbed) const;
    bool LiesInside(const OSM::TWay& way) const;
    // Before ring pieces are closed: their crossings take the ring's nodes on
    // the border, their placeholders become nodes, and the border nodes of
    // the pieces and of the ring's ways inside are noted for the paths.
    void NoteRingNodes(const TRingPiece* pieces, uint32_t count, const TRingWay* ring, uint32_t ringCount);
    // Where a ring piece, read in ring order, leaves and enters the area.
    const TCrossing& LeavingOf(const TRingPiece& p) const;
    const TCrossing& EnteringOf(const TRingPiece& p) const;
    // The piece among pieces that enters the area first clockwise after
    // from, or -1.
    int64_t NextClockwise(const TRingPiece* pieces, uint32_t count, const TCrossing& from) const;
    // Appends the closing way from where li leaves the area to where ej
    // enters it: along the ring's ways on the border, then the border.
    void CloseBetween(const TRingPiece& li, const TRingPiece& ej, const TRingWay* ring, uint32_t ringCount,
                      CGrowArray<OSM::TId>& absorbed);
    // Whether nodes a and b are one, or lie at one known place: rings join there.
    bool SameNodePlace(OSM::TId a, OSM::TId b) const;
    // Appends the border path from crossing a to crossing b: new nodes at
    // the polygon's corners, and the noted border nodes on the way.
    void AppendBorderPath(OSM::TWay& way, const TCrossing& a, const TCrossing& b);
    // Where p lies on the border, at fraction 0 of the edge for a corner;
    // false when it lies off the border.
    bool BorderPosition(CGeoPoint p, TCrossing& at);
    // Notes the nodes of way that lie on the border, for the border paths.
    void NoteBorderNodes(const OSM::TWay& way);
    void SortBorderNodes();

    struct TBorderNode {
        int32_t edge;
        uint32_t fraction;
        OSM::TId id;
    };
    CGrowArray<TBorderNode> m_borderNodes;  // by edge and fraction, one per place
    // The place of node as a key, x in its natural name; false when unknown.
    bool PlaceKey(OSM::TId node, uint64_t& key) const;
    std::unordered_map<OSM::TId, CGeoPoint> m_madePoints;
    bool m_keepMade = false;

    TAreaOutput& m_output;
    const CNodeIndex& m_nodes;
    const TRing& m_polygon;  // the run's cleaned polygon
    RTree::CRTree m_edges;
    CGrowArray<TPiece> m_pieces;
    CGrowArray<OSM::TRelation> m_newMultipolygons;
    std::map<std::pair<int32_t, uint32_t>, OSM::TId> m_crossingNodes;
    int64_t m_timestamp;  // milliseconds, carried by every object made here
    uint32_t m_areaIndex;
    CGrowArray<uint32_t> m_found;  // reused edge query results
};

}  // namespace Splitter::Clip
