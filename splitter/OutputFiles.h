// Where a run writes: one file per area or group of areas, named safely
// inside the output directory, and the description files beside them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "splitter/areas/Areas.h"

class CFileWriteStream;
struct CSettings;

// Areas [first, last) that share one output file, labelled by label.
struct TAreaGroup {
    uint64_t first;
    uint64_t last;
    const std::string* label;
};

// The group starting at areas[first]. With multiContour a maximal run of
// areas with one source name is a group labelled by that name; otherwise, and
// for an area without a source name, the area alone, labelled by its name.
TAreaGroup GroupAt(const TAreaList& areas, uint64_t first, bool multiContour);

// name as a file name that stays inside its directory: path separators and
// control characters become '_', and so does every leading dot (no "..", no
// hidden file); an empty name becomes "_". Other bytes are kept as they are.
std::string SafeFileName(std::string_view name);

// Prints that path cannot be created, and the system's reason.
void ReportCannotCreate(const std::string& path, const char* reason);

// Creates or truncates path for out. False, after ReportCannotCreate, when
// it cannot.
bool CreateOutputFile(CFileWriteStream& out, const std::string& path);

// The output file of a group labelled label.
std::string TilePath(const CSettings& settings, const std::string& label);

// True when no two files of the run would share a path: the outputs of the
// groups, the description files and, with separate contours, the files of
// each group and area. Otherwise prints every clash, naming both writers,
// and returns false.
bool CheckOutputNames(const TAreaList& areas, const CSettings& settings);
