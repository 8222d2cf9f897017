// The second phase: passes of at most max-areas areas, one output file each.
#pragma once

#include <cstdint>
#include <memory>

#include "splitter/Areas.h"

class CPBInputAdapter;
class CBoundaryRelationList;
class CLog;
struct CSettings;
namespace Clip {
class CRunAreas;
}

// What every pass over areas must know of all of them.
std::unique_ptr<Clip::CRunAreas> PrepareRun(const TAreaList& areas);

// Writes the areas from first on that fit into one pass. The first pass of
// several first reads the input once per pass to find the ways that cross
// borders, and hands them to run. Returns how many areas it wrote, 0 when an
// output file could not be created or the areas were rejected (after
// printing why). Objects the pass makes carry timestamp (milliseconds).
// Stream, memory and input failures leave as exceptions.
uint32_t RunPass(CPBInputAdapter& input, const TAreaList& areas, Clip::CRunAreas& run, uint32_t first,
                 CBoundaryRelationList* relations, const CSettings& settings, int64_t timestamp, CLog& log);
