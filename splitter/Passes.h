// The second phase: passes of at most max-areas areas, one output file per
// area or group of areas.
#pragma once

#include <cstdint>
#include <memory>

#include "splitter/Areas.h"

class CPBInputAdapter;
class CBoundaryRelationList;
class CLog;
class COutputPlan;
struct CSettings;
namespace Clip {
class CRunAreas;
}

// What every pass over areas must know of all of them.
std::unique_ptr<Clip::CRunAreas> PrepareRun(const TAreaList& areas);

// True when every group of areas that shares an output file fits into one
// pass; otherwise prints which do not and returns false.
bool CheckPassGroups(const COutputPlan& plan);

// The end of the areas that the pass starting at first writes: at most
// max-areas areas (a group of areas sharing a file joins whole even beyond
// that), at most maxFiles files (at least one) and at most the pipeline's
// limit of areas, and never past settings.lastArea. A group of areas sharing
// a file is never split; first starts one.
uint64_t PassEnd(const COutputPlan& plan, uint64_t first, const CSettings& settings, uint32_t maxFiles);

// Writes the areas from first to PassEnd in one pass, and hands run the
// nodes outside every area when it does not hold them yet. A pass that leaves
// areas to other passes first reads the input once per pass to find the ways
// that cross borders anywhere, unless run already holds them. Returns how
// many areas it wrote, 0 when an output file could not be created or the areas were
// rejected (after printing why). Objects the pass makes carry timestamp
// (milliseconds). Stream, memory and input failures leave as exceptions.
// Unless it succeeds, the pass removes the files it created.
uint32_t RunPass(CPBInputAdapter& input, const COutputPlan& plan, Clip::CRunAreas& run, uint32_t first,
                 CBoundaryRelationList* relations, const CSettings& settings, uint32_t maxFiles, int64_t timestamp,
                 CLog& log);
