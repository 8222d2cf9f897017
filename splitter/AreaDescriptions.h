// Descriptions of the settled areas beside the output: a KML file, areas.mp
// in the Polish map format, areas.poly, and with separate contours one .mp
// per group and one .poly per area.
//
// With multiContour the KML and .mp writers take a maximal run of areas
// sharing one source name as one group, labelled by that name; an area
// without a source name, and every area without multiContour, is a group of
// its own labelled by its name. The writers only read the areas. Every file
// is created or truncated, its lines end with CR LF, and write failures throw
// TStreamException.
#pragma once

#include <string>

#include "common/streams/Stream.h"
#include "splitter/Areas.h"

// Writes the KML file at path, one placemark per group, each described by
// description or, when that is empty, by the group's label. False, after
// printing why, when the file cannot be created.
bool WriteKML(const std::string& path, const TAreaList& areas, const std::string& description, bool multiContour);

// Writes outputDir + "areas.mp", one polygon per group, and with
// separateContours also a file named by the group's label (SafeFileName) +
// ".mp" per group. False, after printing why, when a file cannot be created:
// with nothing written when it is areas.mp, else after the other files.
bool WriteMP(const std::string& outputDir, const TAreaList& areas, bool multiContour, bool separateContours);

// Writes outputDir + "areas.poly", one section per area named by the area,
// under title; with separateContours also a file named by the area
// (SafeFileName) + ".poly" per area. False, after printing why, when a file
// cannot be created: with nothing written when it is areas.poly, else after
// the other files.
bool WriteAreasPoly(const std::string& outputDir, const std::string& title, const TAreaList& areas,
                    bool separateContours);

// Writes one polygon-file section: the title line when title is not null, the
// section line, every point of ring with its closing point, "END", and with
// final a second "END" that ends the file.
void WritePolySection(CWriteStream& stream, const std::string* title, const std::string& section, const TRing& ring,
                      bool final);
