// The second phase: passes of at most max-areas areas, one output file per
// area or group of areas.
#pragma once

#include <cstdint>
#include <memory>

class CPBInputAdapter;

namespace Splitter {

class CBoundaryRelationList;
class CLog;
class COutputPlan;
struct CSettings;
namespace Clip {
class CRunAreas;
}

// True when every group of areas that shares an output file fits into one
// pass; otherwise prints which do not and returns false.
bool CheckPassGroups(const COutputPlan& plan);

// The end of the areas that the pass starting at first writes: at most
// max-areas areas (a group of areas sharing a file joins whole even beyond
// that), at most maxFiles files (at least one) and at most the pipeline's
// limit of areas, and never past settings.lastArea. A group of areas sharing
// a file is never split; first starts one.
uint64_t PassEnd(const COutputPlan& plan, uint64_t first, const CSettings& settings, uint32_t maxFiles);

// The passes of one job over the areas of a plan: owns what all of them
// share, the areas as the passes see them, the boundary relation list, the
// limit of open files and the time stamp of the objects they make.
class CPassRunner {
public:
    // Ready for the passes over the plan's areas (plan, settings and log
    // must outlive the runner); nodeTotal is the input's node count, 0 when
    // unknown. With an admin level and tiles to write, opens the relation
    // list, printing why when it cannot (RelationsFailed() then says so, and
    // the list goes to standard output only). Objects the passes make carry
    // timestamp (milliseconds). Memory failures leave as exceptions.
    CPassRunner(const COutputPlan& plan, const CSettings& settings, int64_t timestamp, uint64_t nodeTotal,
                CLog& log);
    ~CPassRunner();
    CPassRunner(const CPassRunner&) = delete;
    CPassRunner& operator=(const CPassRunner&) = delete;

    bool RelationsFailed() const { return m_relationsFailed; }
    // One past the last area of the job: 0 when it writes no tile.
    uint32_t End() const { return m_end; }

    // Writes the areas from first to PassEnd in one pass, and keeps the
    // nodes outside every area when it does not hold them yet. The first
    // pass of several first finds the ways that cross borders in the other
    // areas, reading the input once for every two passes of them, and finds
    // those of its own areas as it reads. Returns how many areas it wrote,
    // 0 when an output file could not be created or the areas were rejected
    // (after printing why). Stream, memory and input failures leave as
    // exceptions. Unless it succeeds, the pass removes the files it created.
    uint32_t Run(CPBInputAdapter& input, uint32_t first);
    // Completes the relation list; throws TStreamException (kWrite) when
    // that fails.
    void Finish();
    // Prints how many input nodes lie in no area once a pass counted them,
    // and with verbose the first of them.
    void ReportOutsideNodes() const;

private:
    const COutputPlan& m_plan;
    const CSettings& m_settings;
    CLog& m_log;
    const int64_t m_timestamp;
    uint32_t m_end;
    uint32_t m_maxFiles;
    std::unique_ptr<Clip::CRunAreas> m_run;
    std::unique_ptr<CBoundaryRelationList> m_relations;
    bool m_relationsFailed = false;
};

}  // namespace Splitter
