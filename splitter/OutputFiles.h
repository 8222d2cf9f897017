// Where a run writes: one file per area or group of areas, named safely
// inside the output directory, and the description files beside them.
#pragma once

#include <cstdint>
#include <string>

#include "common/base/GrowArray.h"
#include "splitter/areas/Areas.h"

class CFileWriteStream;
namespace Splitter {

struct CSettings;

// Areas [first, last) that share one output file, labelled by label, and
// the files written for them.
struct TAreaGroup {
    uint64_t first;
    uint64_t last;
    const std::string* label;
    std::string tile;     // the output file
    std::string contour;  // with separate contours the group's .mp, else empty
};

// Where a run's areas go, worked out once. With multiContour a maximal run
// of areas with one source name is a group labelled by that name; otherwise,
// and for an area without a source name, the area alone, labelled by its
// name. Keeps a reference to the areas, which must outlive it unchanged.
class COutputPlan {
public:
    COutputPlan(const TAreaList& areas, const CSettings& settings);

    const TAreaList& Areas() const { return m_areas; }
    bool MultiContour() const { return m_multiContour; }
    // In area order; empty for no areas.
    const CGrowArray<TAreaGroup>& Groups() const { return m_groups; }
    // The group holding area (< Areas().Count()).
    const TAreaGroup& GroupOf(uint64_t area) const;
    // With separate contours and polygon files, area's own .poly; else empty.
    const std::string& PolyContour(uint64_t area) const;

private:
    const TAreaList& m_areas;
    bool m_multiContour;
    CGrowArray<TAreaGroup> m_groups;
    CGrowArray<std::string> m_polyContours;  // one per area, or none
};

// Prints that path cannot be created, and the system's reason.
void ReportCannotCreate(const std::string& path, const char* reason);

// Creates or truncates path for out. False, after ReportCannotCreate, when
// it cannot.
bool CreateOutputFile(CFileWriteStream& out, const std::string& path);

// True when no two files of the run would share a path: the outputs of the
// groups, the description files and, with separate contours, the files of
// each group and area. Otherwise prints every clash, naming both writers,
// and returns false.
bool CheckOutputNames(const COutputPlan& plan, const CSettings& settings);

}  // namespace Splitter
