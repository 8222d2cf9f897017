// Areas from node density: no area may hold more than max-nodes nodes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/rtree/RTree.h"
#include "splitter/areas/AreaGeometry.h"
#include "splitter/areas/Areas.h"

class CPBInputAdapter;

namespace Splitter {

class CLog;

// One run of the automatic split.
class CAreaSplitter {
public:
    CAreaSplitter(uint32_t maxNodes, CLog& log);

    // Replaces areas (none, or polygon contours) by the final list: counts
    // the input's nodes per area, cuts over-full areas by median cuts, with
    // processOuter makes areas for the nodes outside every area, resolves
    // overlaps, sorts and numbers the result. reserveNodes is reserved up
    // front for the outer nodes. Areas whose nodes cross the antimeridian
    // get rings that run on past +180 degrees. Returns false, after printing
    // why, when an over-full area cannot be cut so that its nodes stay in
    // areas; areas is then left empty. A malformed input throws
    // OSM::CDataReader::CBadFileException.
    bool Run(TAreaList& areas, CPBInputAdapter& input, bool processOuter, uint32_t reserveNodes);
    // The input's node count, once Run has read the nodes; 0 when it did
    // not need them.
    uint64_t NodeTotal() const { return m_nodeTotal; }

    // Removes areas lying inside others and trims every area by those before
    // it in the list, printing what it does. Exposed for the tests.
    void ResolveOverlaps();
    TAreaList& Areas() { return m_areas; }
    void RebuildTrees();

    // A cut of this many nodes or more splits its two sides at once, the
    // upper on the program's helper thread (CHelperThread) when it has one.
    static constexpr uint64_t kSidesApartNodes = uint64_t(1) << 16;

private:
    using TPoints = CGrowArray<CGeoPoint>;

    template <typename TEach>
    void ReadNodeBlocks(CPBInputAdapter& input, TEach each);
    void ReadNodes(CPBInputAdapter& input, bool processOuter, uint32_t reserveNodes);
    // Gives every input node that lies in no area to the area with the
    // nearest edge, within a slack of rounding.
    void CoverStrayNodes(CPBInputAdapter& input);
    void ComputeOuterRings(CGrowArray<TRing>& rings);
    void Subdivide(const CGeoRect& r, CGrowArray<TRing>& rings);
    // Appends to out the rings that split nodes among pieces, and to said
    // what it prints of nodes it cannot part; false, with why in said, when
    // a cut would leave nodes outside every ring.
    bool Split(CGeoPoint* nodes, uint64_t n, CGrowArray<TRing>& pieces, CGrowArray<TRing>& out, std::string& said);
    bool SplitOne(CGeoPoint* nodes, uint64_t n, TRing ring, CGrowArray<TRing>& out, std::string& said);
    // Splits both sides of the cut of nodes at lower, the upper on the
    // helper meanwhile when the nodes are many (CHelperThread::RunBeside).
    bool SplitSides(CGeoPoint* nodes, uint64_t n, uint64_t lower, CGrowArray<TRing>& lowerPieces,
                    CGrowArray<TRing>& upperPieces, CGrowArray<TRing>& out, std::string& said);
    // Replaces each area holding more than m_maxNodes nodes by its pieces,
    // setting changed when there were any; false as Split.
    bool SplitFullAreas(bool& changed);
    // Adds an area for each of the outer rings, split by the outer nodes
    // when areas have a node limit; false as Split.
    bool AddOuterAreas(CGrowArray<TRing>& outer);
    void BuildEdgeTree(uint64_t area);
    void BuildAreaTree();

    uint32_t m_maxNodes;
    uint64_t m_nodeTotal = 0;
    CLog& m_log;
    TAreaList m_areas;
    Geometry::CAreaLocator m_locator;
    RTree::CRTree m_areaTree;
    CGrowArray<std::unique_ptr<RTree::CRTree>> m_edgeTrees;
    CGrowArray<TPoints> m_nodeLists;
    TPoints m_outerNodes;
};

}  // namespace Splitter
