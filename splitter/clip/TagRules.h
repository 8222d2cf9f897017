// What tags say about how a way or relation is cut: a line or an area, the
// tags a closing way along a border takes, which relations are polygons.
#pragma once

#include "common/OSM/Entities.h"

namespace Splitter::Clip {

// Whether tag makes a way a line feature of its own (a road, a railway, a
// fence, a coastline): such a way must not be extended along a border.
bool IsLineFeatureTag(const OSM::TTag& tag);
// Whether a closed way stands for an area, to be closed along the border
// where it is cut: one tagged area=yes, or else not a highway, and not a
// line feature unless it also carries area tags.
bool IsAreaWay(const OSM::TWay& way);
// Whether the new nodes where way is cut are tagged as border nodes: those
// of highways, a road or a square alike.
bool IsHighway(const OSM::TWay& way);
// The tags a closing way along the border takes from the ring's member way:
// an edge of the polygon, never a feature of its own. A member that is a line
// feature, such as a road a boundary follows, gives only the tags that
// describe the boundary; other members give all of theirs.
void KeepBoundaryTags(CGrowArray<OSM::TTag>& tags);
// Keeps only the tags that describe a boundary, whatever else the way is.
void KeepOnlyBoundaryTags(CGrowArray<OSM::TTag>& tags);
// Whether the rings of relation are closed along the borders of every tile
// it reaches: a multipolygon, or a boundary (a country's as much as a
// town's).
bool QualifiesAsMultipolygon(const OSM::TRelation& relation);

}  // namespace Splitter::Clip
