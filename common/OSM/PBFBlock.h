// The PBF writer's block building, private to the writer's two files: a
// pending block's records decoded, its string table ordered and its
// message made.
#pragma once

#include "common/OSM/PBFWriter.h"

namespace OSM {

struct CPBFWriter::TScratch {
    CGrowArray<TNodeEntry> nodes;
    CGrowArray<TWayEntry> ways;
    CGrowArray<TRelationEntry> relations;
    CGrowArray<std::pair<TString, TString>> tags;
    CGrowArray<TId> refs;
    CGrowArray<TMemberEntry> members;
    CGrowArray<uint32_t> order;  // strings in table order
    CGrowArray<uint32_t> index;  // of each string in the table
    OSMPBF::PrimitiveBlock block;

    // Makes block from pending.
    void Build(const TPending& pending);
    void Decode(const TPending& pending);
    // Index 0 is the empty string; the 126 most used strings get the
    // one-byte indices 1 to 126, each part in byte order.
    void BuildStringTable(const TPending& pending);
    // Each adds the group of its kind to block, if there are any; the string
    // table must be built.
    void AddNodes();
    void AddWays();
    void AddRelations();
    template <typename TMessage>
    void AddHead(const TEntry& e, TMessage& message) const;
    // One group of a message per entry: made by add, given the head every
    // entity has, then filled by fill.
    template <typename TEntries, typename Add, typename Fill>
    void AddGroup(const TEntries& entries, Add&& add, Fill&& fill);

    void Clear()
    {
        nodes.Clear();
        ways.Clear();
        relations.Clear();
        tags.Clear();
        refs.Clear();
        members.Clear();
        block.Clear();
    }
};

}  // namespace OSM
