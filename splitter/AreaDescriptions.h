// Descriptions of the settled areas beside the output: a KML file, areas.mp
// in the Polish map format, and with separate contours one .mp per group
// (areas.poly is PolyFile.h's).
//
// With multiContour the KML and .mp writers take a maximal run of areas
// sharing one source name as one group, labelled by that name; an area
// without a source name, and every area without multiContour, is a group of
// its own labelled by its name. The writers only read the areas. Every file
// is created or truncated, its lines end with CR LF, and write failures throw
// TStreamException.
#pragma once

#include <string>

#include "splitter/areas/Areas.h"

// Writes the KML file at path, one placemark per group, each described by
// description or, when that is empty, by the group's label. False, after
// printing why, when the file cannot be created.
bool WriteKML(const std::string& path, const TAreaList& areas, const std::string& description, bool multiContour);

// Writes outputDir + "areas.mp", one polygon per group, and with
// separateContours also a file named by the group's label (SafeFileName) +
// ".mp" per group. False, after printing why, when a file cannot be created:
// with nothing written when it is areas.mp, else after the other files.
bool WriteMP(const std::string& outputDir, const TAreaList& areas, bool multiContour, bool separateContours);
