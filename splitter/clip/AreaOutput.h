// What a pass knows of one output file: its writer and its id counters.
#pragma once

#include <cstdint>
#include <map>
#include <tuple>

#include "common/OSM/DataWriter.h"

namespace Splitter {

// Objects the split creates (border nodes, pieces, closing ways, relations)
// take their ids from here; areas that share a file share the counters.
struct TAreaOutput {
    static constexpr int64_t kFirstNewId = 10000000000;

    OSM::CDataWriter* writer = nullptr;
    int64_t nextNodeId = kFirstNewId;
    int64_t nextWayId = kFirstNewId;
    int64_t nextRelationId = kFirstNewId;

    // Set when several areas write to this file: a way crossing the border
    // between two of them gets one node there, not one per area. The nodes
    // made at crossings, by (input way, position).
    bool shared = false;
    std::map<std::tuple<int64_t, int32_t, int32_t>, int64_t> crossings;
};

}  // namespace Splitter
