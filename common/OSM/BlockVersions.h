// One version of each object: extracts merged by `osmium merge` hold an
// object at several versions, one right after the other in a sorted file,
// the last one the newest. Data blocks are cleaned of the older ones as they
// are read, so that every reader sees each object once.
#pragma once

#include <cstdint>
#include <optional>

#include "common/OSM/Entities.h"
#include "osmformat.pb.h"

namespace OSM {

// An entity's kind and id.
struct TEntityKey {
    EEntityType type = kNode;
    TId id = 0;

    bool operator==(const TEntityKey&) const = default;
};

// What DropRepeatedEntities leaves of a block: its first and last entities
// in reading order (none when it holds none), and how many it dropped.
struct TBlockEntities {
    std::optional<TEntityKey> first, last;
    uint32_t dropped = 0;
};

// Drops every entity of block that the next one in reading order (groups in
// turn; dense nodes, plain nodes, ways, relations) repeats with the same kind
// and id. Delta-coded fields are recoded, so that what stays decodes as
// before. A block whose dense node ids, latitudes and longitudes differ in
// count is left alone, for the reader to refuse, and reported empty.
TBlockEntities DropRepeatedEntities(OSMPBF::PrimitiveBlock& block);

// Drops the last entity of block, which must hold one: the next block starts
// with a later version of it.
void DropLastEntity(OSMPBF::PrimitiveBlock& block);

}  // namespace OSM
