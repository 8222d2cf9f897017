// The split file areas.list: rectangular areas, read and written.
#pragma once

#include <string>

#include "splitter/areas/Areas.h"

namespace Splitter {

// Replaces areas by the areas of the split file at path, all with the given
// source. Returns false, after a line naming the file and why, when the file
// cannot be opened or holds an area line that does not parse, whose edges lie
// outside the valid latitude and longitude ranges, or that crosses 180
// degrees (west edge east of its east edge) so widely that its ring would
// pass MapUnits::kMaxRingLon; areas read before such a line stay in the list.
bool LoadSplitFile(const std::string& path, TAreaList& areas, const std::string* source);

// Writes areas to path, edges taken from each ring's bounding rectangle.
// The degree lines load back as the same rings: seven decimals of a degree
// round back to the same map unit, and a ring that starts at another corner
// than the north-west one says which. The integer edges print an edge
// between neighbours (equal, or one unit apart as a cut leaves them) as one
// value on both sides and round an edge without a neighbour outward, so that
// every point of the areas lies in one of the areas loaded without the
// degree lines. Returns false, after printing why, when the file cannot be
// created; write failures throw TStreamException.
bool WriteSplitFile(const std::string& path, const TAreaList& areas);

}  // namespace Splitter
