// The relation stages of a pass: which areas each relation reaches, and its
// copy in each of them, with the pieces and closing ways of its cut members.
#include <cinttypes>
#include <cstdio>

#include "splitter/clip/PassDistributor.h"
#include "splitter/clip/StageTools.h"

namespace Splitter::Clip {

using detail::Contains;
using detail::LowerBound;
using detail::ReadStage;
using detail::SortAndShrink;

// ---------------------------------------------------------------------------
// Lookups

const TRingPieces* CPassDistributor::RingPiecesBegin(OSM::TId relation) const
{
    return std::lower_bound(m_ringPieces.begin(), m_ringPieces.end(), MakeKey(relation, 0),
                            [](const TRingPieces& e, TIdAreaKey k) { return e.key < k; });
}

const TRingPieces* CPassDistributor::RingPiecesOf(OSM::TId relation, int32_t area) const
{
    TIdAreaKey key = MakeKey(relation, area);
    const TRingPieces* at = std::lower_bound(m_ringPieces.begin(), m_ringPieces.end(), key,
                                             [](const TRingPieces& e, TIdAreaKey k) { return e.key < k; });
    return at != m_ringPieces.end() && at->key == key ? at : nullptr;
}

bool CPassDistributor::IsAbsorbed(OSM::TId way, OSM::TId relation, int32_t area) const
{
    const TRingPieces* entry = RingPiecesOf(relation, area);
    return entry != nullptr && Contains(entry->absorbed, way);
}

const std::string& CPassDistributor::RoleIn(const OSM::TMember& member, OSM::TId relation, int32_t area) const
{
    static const std::string kOuter = "outer";
    if (member.role != "inner")
        return member.role;
    const TRingPieces* entry = RingPiecesOf(relation, area);
    return entry != nullptr && Contains(entry->outerWays, member.ref) ? kOuter : member.role;
}

bool CPassDistributor::HasMemberPieces(const TClippedWay& entry, OSM::TId relation) const
{
    int32_t area = KeyArea(entry.key);
    CGrowArray<TPiece>& pieces = m_contexts[uint32_t(area)]->Pieces();
    for (uint32_t i = entry.first; i < entry.first + entry.count; ++i)
        if (pieces[i].way.nodeRefs.Count() > 1 && !IsAbsorbed(pieces[i].way.id, relation, area))
            return true;
    return false;
}

// ---------------------------------------------------------------------------
// Stages

// Stage 10: the areas of every relation, passed on to its parents.
void CPassDistributor::RelationRegions(OSM::CPBFReaderAdapter& reader)
{
    m_edgeWays.Free();
    m_edgeMultipolygonWays.Free();
    ReadStage(reader, OSM::kRelation, *this, *m_log, "relation", nullptr, [&] {
        const OSM::TRelation& relation = reader.Relation();
        const OSM::TId id = relation.id;
        for (const OSM::TMember& member : relation.members) {
            if (member.type == OSM::kNode) {
                int32_t area = m_nodes->NodeArea(member.ref);
                if (area >= 0)
                    m_relationAreas.insert(MakeKey(id, area));
            } else if (member.type == OSM::kWay) {
                const TIdAreaKey* entry = LowerBound(m_relationWays, MakeKey(member.ref, 0));
                if (entry != m_relationWays.end() && KeyId(*entry) == member.ref) {
                    int32_t area = KeyArea(*entry);
                    if (area >= 0 && !IsAbsorbed(member.ref, id, area))
                        m_relationAreas.insert(MakeKey(id, area));
                    continue;
                }
                for (const TClippedWay* e = ClippedBegin(member.ref);
                     e != m_clippedWays.end() && KeyId(e->key) == member.ref; ++e)
                    if (HasMemberPieces(*e, id))
                        m_relationAreas.insert(MakeKey(id, KeyArea(e->key)));
            } else if (member.ref != id) {
                m_relationParents.PushBack({member.ref, id});
            }
        }
        for (const TRingPieces* e = RingPiecesBegin(id); e != m_ringPieces.end() && KeyId(e->key) == id; ++e) {
            CGrowArray<TPiece>& pieces = m_contexts[uint32_t(KeyArea(e->key))]->Pieces();
            for (uint32_t i = e->first; i < e->first + e->count; ++i)
                if (pieces[i].way.nodeRefs.Count() > 1)
                    m_relationAreas.insert(e->key);
            if (!e->loops.Empty())
                m_relationAreas.insert(e->key);
        }
        return uint64_t(0);
    });
    SortAndShrink(m_relationParents);

    // Entries added for larger ids are reached by the walk itself; Propagate
    // covers the ancestors the walk has already passed.
    OSM::TId last = 0;
    bool first = true;
    for (auto it = m_relationAreas.begin(); it != m_relationAreas.end(); ++it) {
        OSM::TId id = KeyId(*it);
        if (first || id != last)
            Propagate(id);
        first = false;
        last = id;
    }
}

// Gives the areas of origin to its ancestors. An explicit stack keeps deep
// chains of nested relations off the call stack; a cycle ends because the
// second time round no insertion is new.
void CPassDistributor::Propagate(OSM::TId origin)
{
    CGrowArray<int32_t> areas;
    for (auto it = m_relationAreas.lower_bound(MakeKey(origin, 0)); it != m_relationAreas.end() && KeyId(*it) == origin;
         ++it)
        areas.PushBack(KeyArea(*it));
    CGrowArray<OSM::TId> stack;
    stack.PushBack(origin);
    while (!stack.Empty()) {
        OSM::TId child = stack.Back();
        stack.PopBack();
        const auto* pair = std::lower_bound(m_relationParents.begin(), m_relationParents.end(),
                                            std::pair<OSM::TId, OSM::TId>(child, INT64_MIN));
        for (; pair != m_relationParents.end() && pair->first == child; ++pair) {
            OSM::TId parent = pair->second;
            bool added = false;
            for (int32_t area : areas)
                added |= m_relationAreas.insert(MakeKey(parent, area)).second;
            if (added && (child == origin || parent < origin))
                stack.PushBack(parent);
        }
    }
}

CPassDistributor::TRelationCopy& CPassDistributor::CopyFor(uint32_t area)
{
    uint32_t output = m_outputIndex[area];
    uint32_t& slot = m_copySlots[output];
    if (slot == ~uint32_t(0)) {
        slot = uint32_t(m_copies.Count());
        TRelationCopy& copy = m_copies.EmplaceBack();
        copy.output = output;
        copy.area = area;
        copy.lastChildMember = ~uint64_t(0);
    }
    return m_copies[slot];
}

// Stage 11: one copy of every relation in each area holding a member.
void CPassDistributor::ClipRelations(OSM::CPBFReaderAdapter& reader)
{
    uint64_t written = 0;
    ReadStage(reader, OSM::kRelation, *this, *m_log, "relation", "relations written", [&] {
        const OSM::TRelation& relation = reader.Relation();
        const OSM::TId id = relation.id;
        m_copies.Clear();
        for (uint64_t m = 0; m < relation.members.Count(); ++m) {
            const OSM::TMember& member = relation.members[m];
            if (member.type == OSM::kNode) {
                int32_t area = m_nodes->NodeArea(member.ref);
                if (area >= 0)
                    CopyFor(uint32_t(area)).relation.members.PushBack(member);
            } else if (member.type == OSM::kWay) {
                const TIdAreaKey* entry = LowerBound(m_relationWays, MakeKey(member.ref, 0));
                if (entry != m_relationWays.end() && KeyId(*entry) == member.ref) {
                    int32_t area = KeyArea(*entry);
                    if (area >= 0 && !IsAbsorbed(member.ref, id, area))
                        CopyFor(uint32_t(area)).relation.members.PushBack(
                            {member.type, member.ref, RoleIn(member, id, area)});
                    continue;
                }
                for (const TClippedWay* e = ClippedBegin(member.ref);
                     e != m_clippedWays.end() && KeyId(e->key) == member.ref; ++e) {
                    int32_t area = KeyArea(e->key);
                    CGrowArray<TPiece>& pieces = m_contexts[uint32_t(area)]->Pieces();
                    for (uint32_t i = e->first; i < e->first + e->count; ++i) {
                        const OSM::TWay& piece = pieces[i].way;
                        if (piece.nodeRefs.Count() > 1 && !IsAbsorbed(piece.id, id, area))
                            CopyFor(uint32_t(area)).relation.members.PushBack(
                                {OSM::kWay, piece.id, RoleIn(member, id, area)});
                    }
                }
            } else {
                for (auto it = m_relationAreas.lower_bound(MakeKey(member.ref, 0));
                     it != m_relationAreas.end() && KeyId(*it) == member.ref; ++it) {
                    TRelationCopy& copy = CopyFor(uint32_t(KeyArea(*it)));
                    if (copy.lastChildMember != m) {  // areas sharing a file get the member once
                        copy.relation.members.PushBack(member);
                        copy.lastChildMember = m;
                    }
                }
            }
        }
        for (const TRingPieces* e = RingPiecesBegin(id); e != m_ringPieces.end() && KeyId(e->key) == id; ++e) {
            uint32_t area = uint32_t(KeyArea(e->key));
            CGrowArray<TPiece>& pieces = m_contexts[area]->Pieces();
            for (uint32_t i = e->first; i < e->first + e->count; ++i)
                if (pieces[i].way.nodeRefs.Count() > 1)
                    CopyFor(area).relation.members.PushBack({OSM::kWay, pieces[i].way.id, "outer"});
            for (const auto& [index, inner] : e->loops)
                CopyFor(area).relation.members.PushBack({OSM::kWay, pieces[index].way.id, inner ? "inner" : "outer"});
        }
        for (TRelationCopy& copy : m_copies) {
            copy.relation.id = id;
            copy.relation.tags = relation.tags;
            copy.relation.info = relation.info;
            m_outputs[copy.area]->writer->WriteRelation(copy.relation);
            m_copySlots[copy.output] = ~uint32_t(0);
        }
        written += m_copies.Count();
        return written;
    });
}

// Stage 12: multipolygons made from cut closed ways. Areas sharing a file
// draw their ids from one sequence, so their lists are merged by id.
void CPassDistributor::WriteNewMultipolygons()
{
    CGrowArray<const OSM::TRelation*> relations;
    for (uint32_t area = 0; area < m_areaCount; ++area) {
        for (const OSM::TRelation& relation : m_contexts[area]->NewMultipolygons())
            relations.PushBack(&relation);
        if (area + 1 < m_areaCount && m_outputIndex[area + 1] == m_outputIndex[area])
            continue;
        std::stable_sort(relations.begin(), relations.end(),
                         [](const OSM::TRelation* a, const OSM::TRelation* b) { return OSM::IdBefore(a->id, b->id); });
        for (const OSM::TRelation* relation : relations)
            m_outputs[area]->writer->WriteRelation(*relation);
        relations.Clear();
    }
}

}  // namespace Splitter::Clip
