// Polygon files (.poly), read and written: every section of a file becomes
// one area, but a section headed "!", a hole in the polygon of the section
// before it.
#pragma once

#include <string>

#include "splitter/OutputFiles.h"
#include "splitter/areas/Areas.h"

namespace Splitter {

// Replaces areas by the areas of the polygon file at path, or of every entry
// of the directory at path whose name is longer than ".poly" and ends with it
// in any case, taken in byte order of the names. polyName names the areas by
// each file's title line, otherwise by its file name without the extension.
// Returns whether any area was loaded. Files that fail add nothing, after a
// line naming the file and why; the others still load.
bool LoadPolygons(const std::string& path, TSourceNames& sourceNames, TAreaList& areas, bool polyName);

// Appends the areas of one polygon file, each named source + "_" + section
// header, or the source alone when the file holds one polygon. A hole is
// taken out of the polygon before it; one that lies inside cuts it in two
// (an area has one ring), and one that meets it nowhere is left out after a
// line naming the file and the hole. Returns true
// when it appended an area, and then adds the file's source name to
// sourceNames. On false (no file, no title, no surviving section, or a point
// line that is not two numbers within the latitude and longitude ranges),
// areas and sourceNames are as before, and a line names the file and why. Stream and memory failures throw, and
// leave every appended area pointing at a name held by sourceNames.
bool LoadPolyFile(const std::string& path, TSourceNames& sourceNames, TAreaList& areas, bool polyName);

// Writes outputDir + "areas.poly", one section per area named by the area,
// under title, and also each area's contour file that the plan names. Lines
// end with CR LF. False, after printing why, when a file cannot be created:
// with nothing written when it is areas.poly, else after the other files.
// Write failures throw TStreamException.
bool WriteAreasPoly(const std::string& outputDir, const std::string& title, const COutputPlan& plan);

}  // namespace Splitter
