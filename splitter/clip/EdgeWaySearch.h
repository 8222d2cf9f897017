// The search, before the passes of a run, for the ways that cross borders
// anywhere: a pass cuts them all, so that a way crossing an area without a
// node in it reaches that area whether or not the areas holding its nodes
// share the pass.
#pragma once

#include <cstdint>

#include "splitter/Log.h"
#include "splitter/clip/PassNodes.h"
#include "splitter/clip/RunAreas.h"

class CPBInputAdapter;

namespace Splitter::Clip {

class CEdgeWaySearch : public CMemoryHolder {
public:
    // Finds the ways whose nodes lie in more than one area of the run, or in
    // one and outside, reading the nodes and ways once per group of at most
    // groupSize areas, and hands them to run with every area's node count.
    // Which areas share a group changes nothing but the number of readings.
    // The areas from skipFirst to skipEnd - 1 are left out: the pass that
    // writes them finds their ways itself (CPassDistributor::SpanningWays),
    // and must hand them to run too. Reading and memory failures leave as
    // exceptions, a malformed input as OSM::CDataReader::CBadFileException;
    // run is then unchanged.
    static void Find(CPBInputAdapter& input, CRunAreas& run, uint32_t groupSize, uint32_t skipFirst,
                     uint32_t skipEnd, uint32_t capacityHint, CLog& log);

    uint64_t BytesHeld() const override;

private:
    // The group of areas first .. first + count - 1 of run.
    CEdgeWaySearch(const CRunAreas& run, uint32_t first, uint32_t count)
        : m_run(run), m_first(first), m_count(count), m_nodes(run, first, count)
    {
    }
    // Appends the group's edge ways to ways; with counts, counts there the
    // nodes of every area of the run.
    void Search(CPBInputAdapter& input, CGrowArray<OSM::TId>& ways, uint64_t* counts, CLog& log);

    const CRunAreas& m_run;
    const uint32_t m_first, m_count;
    CPassNodes m_nodes;
    CGrowArray<OSM::TId> m_edgeWays;
};

}  // namespace Splitter::Clip
