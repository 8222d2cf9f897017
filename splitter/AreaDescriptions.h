// Descriptions of the settled areas beside the output: a KML file, areas.mp
// in the Polish map format, and with separate contours one .mp per group
// (areas.poly is PolyFile.h's).
//
// The KML and .mp writers write a group of the plan (see COutputPlan) as one
// polygon. The writers only read the areas. Every file
// is created or truncated, its lines end with CR LF, and write failures throw
// TStreamException.
#pragma once

#include <string>

#include "splitter/areas/Areas.h"

namespace Splitter {

class COutputPlan;

// Writes the KML file at path, one placemark per group, each described by
// description or, when that is empty, by the group's label. False, after
// printing why, when the file cannot be created.
bool WriteKML(const std::string& path, const COutputPlan& plan, const std::string& description);

// Writes outputDir + "areas.mp", one polygon per group, and also each
// group's contour file that the plan names. False, after printing why, when
// a file cannot be created: with nothing written when it is areas.mp, else
// after the other files.
bool WriteMP(const std::string& outputDir, const COutputPlan& plan);

}  // namespace Splitter
