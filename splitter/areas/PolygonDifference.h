// The polygon difference that trims one area by another, and the edge tree
// it finds A's edges in.
#pragma once

#include <cstdint>

#include "common/base/GrowArray.h"
#include "splitter/areas/Areas.h"

namespace RTree {
class CRTree;
}

namespace Splitter::Geometry {

// Indexes the edges of ring: edge k (point k to k + 1) under the rectangle
// from the smaller to the larger x and y of its ends.
void BuildEdgeTree(const TRing& ring, RTree::CRTree& tree);
// The blocks per pool chunk for the edge tree of ring: about one per edge, so
// that thousands of small areas do not each hold pools made for a coastline.
uint64_t EdgeTreeChunk(const TRing& ring);

// What a difference found: the boundaries of B and A do not meet (the
// rings lie apart, or one inside the other); they meet but the insides do
// not; B lies wholly within A; or B was trimmed to its pieces outside A.
enum class EOverlap { kApart, kTouching, kCovered, kTrimmed };

// B minus A, for closed clockwise rings, shared and collinear edges
// included. kTrimmed appends to result the closed rings of B outside A and
// inserts into A's ring the points where they meet it (A's edge tree must
// match A's ring on entry; rebuild it after kTrimmed). The other results
// append nothing and leave A unchanged; so does a degenerate meeting that
// cannot be resolved, reported as kTouching.
EOverlap Difference(const RTree::CRTree& edgesOfA, CGrowArray<TRing>& result, const TRing& b, TRing& a);

}  // namespace Splitter::Geometry
