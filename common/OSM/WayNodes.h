// Files whose ways carry the locations of their nodes, as
// `osmium add-locations-to-ways` writes them: the header's optional feature
// "LocationsOnWays", and the untagged nodes left out.
#pragma once

#include <cstdint>
#include <string>

#include "common/OSM/Entities.h"
#include "common/OSM/PBInputAdapter.h"

namespace OSM {

// Reads input (its stream standing anywhere) and, when its ways carry a
// location for a node that it lacks, writes to path a copy that holds a
// node for each such node too: at that location, without tags, with info as
// its metadata, among the other nodes in id order. Ways are copied without
// their locations; everything else as read. Returns the number of nodes
// added; with none, writes nothing. Locations off the globe add no node.
// Throws CDataReader::CBadFileException when input is malformed,
// TStreamException (kWrite, with the file and the system's error) when path
// cannot be written, and TBadAlloc; path then holds what was written.
uint64_t WriteWithWayNodes(CPBInputAdapter& input, const std::string& path, const TInfo& info);

}  // namespace OSM
