// Rings that pass one node twice, split there into rings that do not: a ring
// touching itself is no valid polygon, two rings touching at a point are.
#include <algorithm>
#include <utility>

#include "splitter/clip/ClipContext.h"

namespace Splitter::Clip {

namespace {

// Appends to loops the rings of the closed node sequence ring (its first node
// not repeated at its end), split where it comes back to a place (key(node))
// after three others or more, each closed, in the order they close; returns
// how many it appended. A spike, out to a node and straight back, has no area
// to split off and stays, so that no stretch of the way is lost.
template <typename Key>
uint32_t SimpleLoops(const CGrowArray<OSM::TId>& ring, const Key& key, CGrowArray<CGrowArray<OSM::TId>>& loops)
{
    // Places numbered from 0, so that a table holds where the path last
    // passed each: no allocation per node.
    CGrowArray<uint64_t> places;
    places.Reserve(ring.Count());
    for (OSM::TId node : ring)
        places.PushBack(key(node));
    CGrowArray<uint64_t> distinct;
    distinct.Append(places.Data(), places.Count());
    std::sort(distinct.begin(), distinct.end());
    distinct.EraseRepeats();
    for (uint64_t& place : places)
        place = uint64_t(std::lower_bound(distinct.begin(), distinct.end(), place) - distinct.begin());
    constexpr uint64_t kNowhere = ~uint64_t(0);
    CGrowArray<uint64_t> at;  // place -> its last index in path
    at.Resize(distinct.Count());
    std::fill(at.begin(), at.end(), kNowhere);

    uint32_t made = 0;
    CGrowArray<OSM::TId> path;
    CGrowArray<uint64_t> keys;  // of path
    auto close = [&](uint64_t from) {
        CGrowArray<OSM::TId>& loop = loops.EmplaceBack();
        loop.Append(path.Data() + from, path.Count() - from);
        loop.PushBack(path[from]);
        ++made;
        for (uint64_t k = from + 1; k < path.Count(); ++k)
            if (at[keys[k]] == k)
                at[keys[k]] = kNowhere;
        path.Resize(from + 1);
        keys.Resize(from + 1);
    };
    for (uint64_t i = 0; i < ring.Count(); ++i) {
        const uint64_t place = places[i];
        if (at[place] != kNowhere && path.Count() - at[place] >= 3) {
            close(at[place]);
            continue;
        }
        at[place] = path.Count();
        path.PushBack(ring[i]);
        keys.PushBack(place);
    }
    if (!path.Empty())
        close(0);
    return made;
}

}  // namespace

uint32_t CAreaClipContext::SplitTouchingRings(uint32_t first, uint32_t count)
{
    // Each closed piece ends where the piece that follows it on its ring
    // begins: (first node, piece), the first piece of each node first.
    CGrowArray<std::pair<OSM::TId, uint32_t>> starts;
    for (uint32_t i = first; i < first + count; ++i) {
        const TPiece& piece = m_pieces[i];
        if (piece.way.nodeRefs.Count() >= 2 && !piece.alongBorder)
            starts.PushBack({piece.way.nodeRefs[0], i});
    }
    std::sort(starts.begin(), starts.end());
    auto startingAt = [&](OSM::TId node) -> const std::pair<OSM::TId, uint32_t>* {
        auto at = std::lower_bound(starts.begin(), starts.end(), std::pair{node, uint32_t(0)});
        return at != starts.end() && at->first == node ? at : nullptr;
    };
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
            const auto* next = startingAt(refs.Back());
            if (next == nullptr)
                break;
            closed = next->second == i;
            k = next->second;
        }
        if (!closed)
            continue;
        loops.Clear();
        if (SimpleLoops(ring, [](OSM::TId id) { return uint64_t(id); }, loops) == 1 &&
            loops[0].Count() == ring.Count() + 1)
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

void CAreaClipContext::KeepMadePoints(bool keep)
{
    m_keepMade = keep;
    if (!keep)
        m_madePoints.clear();
}

bool CAreaClipContext::PlaceKey(OSM::TId node, uint64_t& key) const
{
    CGeoPoint p;
    if (!m_nodes.NodePoint(node, p)) {
        const auto made = m_madePoints.find(node);
        if (made == m_madePoints.end())
            return false;
        p = made->second;
    }
    key = CGeoPoint{MapUnits::Natural(p.x), p.y}.Packed();
    return true;
}

namespace {

// The places of a way's end nodes, as keys.
struct TEnds {
    uint64_t first, last;
};

// A ring of a relation's copy: its ways and its nodes in ring order.
struct TCopyRing {
    CGrowArray<uint32_t> members;  // indices into the ways
    CGrowArray<OSM::TId> nodes;    // without the closing node
    bool rewrite = false;
};

// Joins ways into rings where their ends (ends[w]) lie at one place, each
// ring starting from the first way not yet taken and going on by the first
// that meets its end. False when a ring does not close.
bool JoinRings(const CGrowArray<TCopyWay>& ways, const CGrowArray<TEnds>& ends, CGrowArray<TCopyRing>& rings)
{
    CGrowArray<bool> used;
    used.Resize(ways.Count());
    std::fill(used.begin(), used.end(), false);
    for (uint32_t s = 0; s < ways.Count(); ++s) {
        if (used[s])
            continue;
        TCopyRing& ring = rings.EmplaceBack();
        used[s] = true;
        ring.members.PushBack(s);
        ring.nodes = ways[s].way->nodeRefs;
        for (uint64_t end = ends[s].last; end != ends[s].first;) {
            uint32_t next = 0;
            while (next < ways.Count() && (used[next] || (ends[next].first != end && ends[next].last != end)))
                ++next;
            if (next == ways.Count())
                return false;
            used[next] = true;
            ring.members.PushBack(next);
            const CGrowArray<OSM::TId>& refs = ways[next].way->nodeRefs;
            const bool forward = ends[next].first == end;
            for (uint64_t k = 1; k < refs.Count(); ++k)
                ring.nodes.PushBack(forward ? refs[k] : refs[refs.Count() - 1 - k]);
            end = forward ? ends[next].last : ends[next].first;
        }
        ring.nodes.PopBack();
    }
    return true;
}

}  // namespace

void CAreaClipContext::SimplifyRings(const CGrowArray<TCopyWay>& ways, const OSM::TWay& tags,
                                     CGrowArray<OSM::TId>& absorbed, CGrowArray<std::pair<uint32_t, bool>>& loops)
{
    CGrowArray<TEnds> ends;
    CGrowArray<uint64_t> places;  // of every way end, sorted
    places.Reserve(2 * ways.Count());
    for (const TCopyWay& w : ways) {
        TEnds& e = ends.EmplaceBack();
        if (!PlaceKey(w.way->nodeRefs[0], e.first) || !PlaceKey(w.way->nodeRefs.Back(), e.last))
            return;
        places.PushBack(e.first);
        places.PushBack(e.last);
    }
    std::sort(places.begin(), places.end());
    auto shared = [&](uint64_t place) {  // more than two ways end there
        const uint64_t* at = std::lower_bound(places.begin(), places.end(), place);
        return places.end() - at > 2 && at[2] == place;
    };
    CGrowArray<TCopyRing> rings;
    if (!JoinRings(ways, ends, rings))
        return;
    auto key = [&](OSM::TId node) {
        uint64_t k = 0;
        return PlaceKey(node, k) ? k : uint64_t(node);  // every node of a ring here has a place
    };
    // The loops of every ring to rewrite, found before any piece is appended:
    // appending moves the pieces the ways point into.
    CGrowArray<CGrowArray<OSM::TId>> made;
    CGrowArray<bool> madeInner;
    for (TCopyRing& ring : rings) {
        const uint64_t before = made.Count();
        const uint32_t count = SimpleLoops(ring.nodes, key, made);
        bool inner = true;  // a ring with a stretch of border bounds the polygon from outside
        for (uint32_t m : ring.members) {
            ring.rewrite |= shared(ends[m].first) || shared(ends[m].last);
            inner &= ways[m].inner && !ways[m].closing;
        }
        if (count == 1 && !ring.rewrite) {
            made.Resize(before);
            continue;
        }
        for (uint32_t k = 0; k < count; ++k)
            madeInner.PushBack(inner);
        for (uint32_t m : ring.members) {
            const TCopyWay& w = ways[m];
            if (w.closing)
                m_pieces[uint64_t(w.piece)].way.nodeRefs.Clear();
            else
                absorbed.PushBack(w.way->id);
        }
    }
    OSM::TWay source;
    source.tags = tags.tags;
    for (uint64_t k = 0; k < made.Count(); ++k) {
        loops.PushBack({uint32_t(m_pieces.Count()), madeInner[k]});
        NewPiece(source).way.nodeRefs = std::move(made[k]);
    }
    std::sort(absorbed.begin(), absorbed.end());
    absorbed.EraseRepeats();
}

}  // namespace Splitter::Clip
