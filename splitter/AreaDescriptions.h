// Descriptions of the settled areas beside the output: a KML file, areas.mp
// in the Polish map format, areas.poly, and with separate contours one .mp
// per group and one .poly per area.
//
// The KML and .mp writers write a group of the plan (see COutputPlan) as one
// polygon. The writers only read the areas. Every file
// is created or truncated, its lines end with CR LF, and write failures throw
// TStreamException.
#pragma once

#include <string>

#include "common/streams/Stream.h"
#include "splitter/Areas.h"

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

// Writes outputDir + "areas.poly", one section per area named by the area,
// under title, and also each area's contour file that the plan names. False,
// after printing why, when a file cannot be created: with nothing written
// when it is areas.poly, else after the other files.
bool WriteAreasPoly(const std::string& outputDir, const std::string& title, const COutputPlan& plan);

// Writes one polygon-file section: the title line when title is not null, the
// section line, every point of ring with its closing point, "END", and with
// final a second "END" that ends the file.
void WritePolySection(CWriteStream& stream, const std::string* title, const std::string& section, const TRing& ring,
                      bool final);
