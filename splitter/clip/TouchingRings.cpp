// Rings that pass one node twice, split there into rings that do not: a ring
// touching itself is no valid polygon, two rings touching at a point are.
#include <unordered_map>

#include "splitter/clip/ClipContext.h"

namespace Clip {

namespace {

// Appends to loops the rings of the closed node sequence ring (its first node
// not repeated at its end), split where it comes back to a node after three
// others or more, each closed, in the order they close; returns how many it
// appended. A spike, out to a node and straight back, has no area to split
// off and stays, so that no stretch of the way is lost.
uint32_t SimpleLoops(const CGrowArray<OSM::TId>& ring, CGrowArray<CGrowArray<OSM::TId>>& loops)
{
    uint32_t made = 0;
    CGrowArray<OSM::TId> path;
    std::unordered_map<OSM::TId, uint64_t> at;  // node -> its last index in path
    auto close = [&](uint64_t from) {
        CGrowArray<OSM::TId>& loop = loops.EmplaceBack();
        loop.Append(path.Data() + from, path.Count() - from);
        loop.PushBack(path[from]);
        ++made;
        for (uint64_t k = from + 1; k < path.Count(); ++k)
            if (auto it = at.find(path[k]); it != at.end() && it->second == k)
                at.erase(it);
        path.Resize(from + 1);
    };
    for (OSM::TId node : ring) {
        if (auto seen = at.find(node); seen != at.end() && path.Count() - seen->second >= 3) {
            close(seen->second);
            continue;
        }
        at[node] = path.Count();
        path.PushBack(node);
    }
    if (!path.Empty())
        close(0);
    return made;
}

}  // namespace

uint32_t CAreaClipContext::SplitTouchingRings(uint32_t first, uint32_t count)
{
    // Each closed piece ends where the piece that follows it on its ring begins.
    std::unordered_map<OSM::TId, uint32_t> startingAt;
    for (uint32_t i = first; i < first + count; ++i) {
        const TPiece& piece = m_pieces[i];
        if (piece.way.nodeRefs.Count() >= 2 && !piece.alongBorder)
            startingAt.emplace(piece.way.nodeRefs[0], i);
    }
    CGrowArray<bool> done;
    done.Resize(count);
    std::fill(done.begin(), done.end(), false);
    CGrowArray<uint32_t> members;
    CGrowArray<OSM::TId> ring;
    CGrowArray<CGrowArray<OSM::TId>> loops;
    const uint32_t end = first + count;
    for (uint32_t i = first; i < end; ++i) {
        if (done[i - first] || m_pieces[i].way.nodeRefs.Count() < 2 || m_pieces[i].alongBorder)
            continue;
        members.Clear();
        ring.Clear();
        bool closed = false;
        for (uint32_t k = i; !done[k - first];) {
            done[k - first] = true;
            members.PushBack(k);
            const CGrowArray<OSM::TId>& refs = m_pieces[k].way.nodeRefs;
            ring.Append(refs.Data(), refs.Count() - 1);
            auto next = startingAt.find(refs.Back());
            if (next == startingAt.end())
                break;
            closed = next->second == i;
            k = next->second;
        }
        if (!closed)
            continue;
        loops.Clear();
        if (SimpleLoops(ring, loops) == 1 && loops[0].Count() == ring.Count() + 1)
            continue;  // simple already: its pieces stay as they are
        // The ring's first piece takes the first loop, new pieces the others.
        for (uint32_t k : members)
            m_pieces[k].way.nodeRefs.Clear();
        m_pieces[members[0]].way.nodeRefs = std::move(loops[0]);
        OSM::TWay source;  // a copy: new pieces may move the list
        source.tags = m_pieces[members[0]].way.tags;
        for (uint64_t l = 1; l < loops.Count(); ++l)
            NewPiece(source).way.nodeRefs = std::move(loops[l]);
    }
    return uint32_t(m_pieces.Count()) - first;
}

}  // namespace Clip
