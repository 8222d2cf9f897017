#include "splitter/InputIds.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <vector>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"

namespace Splitter {

namespace {

using OSM::TId;

const char* const kKinds[] = {"node", "way", "relation"};

// The ids of one data block, each kind in the order the reader delivers them.
struct TBlockIds {
    std::vector<TId> ids[3];

    bool Empty() const { return ids[0].empty() && ids[1].empty() && ids[2].empty(); }
    // Whether every entity of the block is of a kind after kind.
    bool After(int kind) const
    {
        for (int k = 0; k <= kind; ++k)
            if (!ids[k].empty())
                return false;
        return true;
    }
};

// The data blocks of an input, found by their framing alone and decoded
// only when asked for.
class CDataBlocks {
public:
    // Throws OSM::CDataReader::CBadFileException when the framing is
    // malformed.
    explicit CDataBlocks(CPBInputAdapter& input) : m_input(input)
    {
        OSM::SeekFirstData(input);
        bool error;
        for (;;) {
            const uint64_t offset = input.Stream().Position();
            if (!input.SkipBlob(error)) {
                if (error)
                    throw OSM::CDataReader::CBadFileException{input.Fault()};
                break;
            }
            if (input.BlobType() == "OSMData")
                m_offsets.push_back(offset);
        }
    }

    size_t Count() const { return m_offsets.size(); }
    uint64_t Offset(size_t i) const { return m_offsets[i]; }

    // Throws OSM::CDataReader::CBadFileException when the block is malformed.
    const TBlockIds& Ids(size_t i)
    {
        auto [at, added] = m_decoded.try_emplace(i);
        if (!added)
            return at->second;
        m_input.Stream().Seek(m_offsets[i]);
        bool error;
        if (!m_input.ReadBlob(error))
            throw OSM::CDataReader::CBadFileException{m_input.Fault()};
        OSM::ParsePrimitiveBlock(m_input.Payload(), m_block);
        std::vector<TId>* ids = at->second.ids;
        for (const OSMPBF::PrimitiveGroup& group : m_block.primitivegroup()) {
            TId id = 0;
            for (int64_t delta : group.dense().id())
                ids[OSM::kNode].push_back(id = TId(uint64_t(id) + uint64_t(delta)));
            for (const OSMPBF::Node& node : group.nodes())
                ids[OSM::kNode].push_back(node.id());
            for (const OSMPBF::Way& way : group.ways())
                ids[OSM::kWay].push_back(way.id());
            for (const OSMPBF::Relation& relation : group.relations())
                ids[OSM::kRelation].push_back(relation.id());
        }
        return at->second;
    }

    // The first id of kind outside the range that the binary search for
    // ids after bound (by OSM::IdBefore) leads to, or null. Reads only the
    // blocks the search needs: in an input sorted by type and id, the ids
    // below the range end the run of negative ids and those above it end
    // the kind, and searching for either bound finds the block with the
    // first of them. A block found is checked whole, so a file of one block
    // is checked whole whatever its order.
    const TId* FirstOutside(int kind, TId bound)
    {
        for (size_t i = Search(kind, &bound); i < Count(); ++i) {
            const TBlockIds& block = Ids(i);
            for (const TId& id : block.ids[kind])
                if (id < Clip::kMinKeyId || id > kMaxInputId)
                    return &id;
            if (!block.Empty())
                return nullptr;
        }
        return nullptr;
    }

    // The first block holding an entity of kind or a later one, or Count().
    size_t FirstOf(int kind) { return Search(kind, nullptr); }

private:
    // The first block for which Reaches holds, by binary search.
    size_t Search(int kind, const TId* bound)
    {
        size_t lo = 0, hi = Count();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (Reaches(mid, kind, bound))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }

    // Whether block i, or the first block from it that holds entities,
    // holds an id of kind after bound (any, without bound), or only
    // entities of later kinds. False, then true, along a sorted input.
    bool Reaches(size_t i, int kind, const TId* bound)
    {
        for (; i < Count(); ++i) {
            const TBlockIds& block = Ids(i);
            if (!block.ids[kind].empty())
                return bound == nullptr || std::any_of(block.ids[kind].begin(), block.ids[kind].end(),
                                                       [bound](TId id) { return OSM::IdBefore(*bound, id); });
            if (!block.Empty())
                return block.After(kind);
        }
        return true;
    }

    CPBInputAdapter& m_input;
    std::vector<uint64_t> m_offsets;
    std::map<size_t, TBlockIds> m_decoded;
    OSMPBF::PrimitiveBlock m_block;
};

bool ReportId(const std::string& fileName, int kind, TId id)
{
    std::printf("%s: %s %" PRId64 " lies outside the ids this program splits, %" PRId64 " to %" PRId64
                ", which leave room for the ids of new objects\n",
                fileName.c_str(), kKinds[kind], id, Clip::kMinKeyId, kMaxInputId);
    return false;
}

}  // namespace

bool CheckInputIds(CPBInputAdapter& input, const std::string& fileName)
{
    CDataBlocks blocks(input);
    for (int kind : {OSM::kNode, OSM::kWay})
        for (TId bound : {Clip::kMinKeyId, kMaxInputId})
            if (const TId* id = blocks.FirstOutside(kind, bound))
                return ReportId(fileName, kind, *id);

    // Relations are few, and the way members of each are checked too.
    const size_t first = blocks.FirstOf(OSM::kRelation);
    if (first == blocks.Count())
        return true;
    input.Stream().Seek(blocks.Offset(first));
    OSM::CPBFReaderAdapter reader(input);
    while (reader.ReadNext()) {
        if (reader.GetType() != OSM::kRelation)
            continue;
        const TId id = reader.GetId();
        if (id < Clip::kMinKeyId || id > kMaxInputId)
            return ReportId(fileName, OSM::kRelation, id);
        for (const OSM::TMember& member : reader.Relation().members) {
            if (member.type == OSM::kWay && !Clip::FitsKey(member.ref)) {
                std::printf("%s: relation %" PRId64 " has a way member %" PRId64 " that does not fit in 48 bits\n",
                            fileName.c_str(), id, member.ref);
                return false;
            }
        }
    }
    return true;
}

}  // namespace Splitter
