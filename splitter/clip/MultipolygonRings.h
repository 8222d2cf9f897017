// Multipolygon ring assembly: the member ways of a relation joined into
// closed rings.
#pragma once

#include "common/OSM/Entities.h"
#include "splitter/clip/ClipContext.h"

namespace Splitter::Clip {

// Joins the way members of relation into closed rings, each turned so that
// the polygon lies to its right, and appends their ways to rings, ring after
// ring and each in ring order, numbering the rings from 0.
//
// Members are found by id in storedWays (sorted by id); a stored way takes
// part once however often it is listed, and only with two nodes or more.
// Outer ways (any role but "inner") and inner ways are never joined. A chain
// starts with the first member way not yet used and grows at either end by
// the first unused way of its group that meets it there, reversed when it
// meets it with the wrong end; "first" in the order of a list in which a
// way added at the chain's end swaps places with the first unused way. The
// rings, their ways and their directions depend on that order. With shapes,
// the points of each ring are appended there, ring after ring.
//
// Prints on standard output what it leaves out: a member the input lacks
// ("Way %ld is missing"), a chain that does not close, named by its first
// way, and a ring with a node of unknown position ("Node %ld is missing").
// Without report it prints nothing, for a second thread assembling the same
// relation. Throws only on exhausted memory, with rings holding the rings
// appended until then.
void AssembleRings(const OSM::TRelation& relation, const CGrowArray<OSM::TWay>& storedWays, const CNodeIndex& nodes,
                   CGrowArray<TRingWay>& rings, CGrowArray<TRing>* shapes = nullptr, bool report = true);

// Makes each ring of rings inner exactly when it lies inside an odd number of
// the others, whatever the roles of its ways, as the readers of the tiles
// decide it; a ring turned from outer to inner or back is turned round too.
// shapes[r] holds ring r's points, as AssembleRings gives them.
void NestRings(const CGrowArray<TRing>& shapes, CGrowArray<TRingWay>& rings);

}  // namespace Splitter::Clip
