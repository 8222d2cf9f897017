#include "splitter/InputIds.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <protozero/pbf_reader.hpp>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/OSM/Varint.h"

namespace Splitter {

namespace {

using OSM::TId;

const char* const kKinds[] = {"node", "way", "relation"};

using protozero::pbf_reader;
using protozero::pbf_wire_type;

// The ids of one data block, each kind in the order the reader delivers them.
struct TBlockIds {
    std::vector<TId> ids[3];
    // The first relation with a way member that fits no key: its index in
    // ids[kRelation], and the member.
    std::optional<std::pair<size_t, TId>> wideMember;

    void Clear()
    {
        for (std::vector<TId>& kind : ids)
            kind.clear();
        wideMember.reset();
    }
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

// Running sums of crafted deltas wrap, as the reader's do.
TId Add(TId a, uint64_t zigzag) { return TId(uint64_t(a) + uint64_t(OSM::UnZigZag(zigzag))); }

// Calls add with each varint of the repeated integer field at message's
// current field, packed or not: a parser must accept both.
template <typename Add>
void ForEachVarint(pbf_reader& message, Add&& add)
{
    if (message.wire_type() == pbf_wire_type::varint) {
        add(message.get_uint64());
    } else if (message.wire_type() == pbf_wire_type::length_delimited) {
        for (uint64_t v : message.get_packed_uint64())
            add(v);
    } else {
        message.skip();
    }
}

// The value of the last varint field tag of message (zigzag coded or not),
// as a parser keeps the last of a repeated scalar; 0 without one.
TId LastVarint(pbf_reader message, uint32_t tag, bool zigzag)
{
    uint64_t value = 0;
    while (message.next(tag, pbf_wire_type::varint))
        value = message.get_uint64();
    return zigzag ? OSM::UnZigZag(value) : TId(value);
}

// Reads the ids of a data block, and the way members of its relations,
// straight from its bytes: a full parse would build every tag, coordinate
// and member only to drop them. Fields of the wrong wire type are skipped,
// as a parser keeps them aside. Throws OSM::CDataReader::CBadFileException
// when the bytes do not parse.
class CBlockScan {
public:
    void Run(const CGrowArray<uint8_t>& payload, TBlockIds& out)
    {
        out.Clear();
        try {
            pbf_reader block(reinterpret_cast<const char*>(payload.Data()), payload.Count());
            while (block.next(2, pbf_wire_type::length_delimited))
                Group(block.get_message(), out);
        } catch (const protozero::exception&) {
            throw OSM::CDataReader::CBadFileException{"the data block does not parse"};
        }
    }

private:
    // Within a group the reader delivers the dense nodes first; repeats of
    // the dense message merge into one, whose ids run on.
    void Group(const pbf_reader& group, TBlockIds& out)
    {
        TId id = 0;
        for (pbf_reader at = group; at.next(2, pbf_wire_type::length_delimited);)
            for (pbf_reader dense = at.get_message(); dense.next(1);)
                ForEachVarint(dense, [&](uint64_t delta) { out.ids[OSM::kNode].push_back(id = Add(id, delta)); });
        for (pbf_reader at = group; at.next();) {
            if (at.wire_type() != pbf_wire_type::length_delimited) {
                at.skip();
                continue;
            }
            switch (at.tag()) {
            case 1: out.ids[OSM::kNode].push_back(LastVarint(at.get_message(), 1, true)); break;
            case 3: out.ids[OSM::kWay].push_back(LastVarint(at.get_message(), 1, false)); break;
            case 4: Relation(at.get_message(), out); break;
            default: at.skip();
            }
        }
    }

    void Relation(pbf_reader relation, TBlockIds& out)
    {
        std::vector<TId>& relations = out.ids[OSM::kRelation];
        relations.push_back(LastVarint(relation, 1, false));
        TId ref = 0;
        m_refs.clear();
        m_types.clear();
        while (relation.next()) {
            switch (relation.tag()) {
            case 9: ForEachVarint(relation, [&](uint64_t delta) { m_refs.push_back(ref = Add(ref, delta)); }); break;
            case 10: ForEachVarint(relation, [&](uint64_t type) { m_types.push_back(type); }); break;
            default: relation.skip();
            }
        }
        if (out.wideMember)
            return;
        // Members whose arrays differ in length are the reader's to refuse.
        for (size_t m = 0; m < std::min(m_refs.size(), m_types.size()); ++m)
            if (m_types[m] == OSMPBF::Relation::WAY && !Clip::FitsKey(m_refs[m])) {
                out.wideMember.emplace(relations.size() - 1, m_refs[m]);
                return;
            }
    }

    std::vector<TId> m_refs;
    std::vector<uint64_t> m_types;
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

    // The ids of block i, kept for the searches. Throws
    // OSM::CDataReader::CBadFileException when the block is malformed.
    const TBlockIds& Ids(size_t i)
    {
        if (auto at = m_decoded.find(i); at != m_decoded.end())
            return at->second;
        TBlockIds ids;
        Read(i, ids);
        return m_decoded.emplace(i, std::move(ids)).first->second;
    }

    // The ids of block i, into out unless they were kept. Throws as Ids.
    const TBlockIds& Scan(size_t i, TBlockIds& out)
    {
        if (auto at = m_decoded.find(i); at != m_decoded.end())
            return at->second;
        Read(i, out);
        return out;
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
    void Read(size_t i, TBlockIds& out)
    {
        m_input.Stream().Seek(m_offsets[i]);
        bool error;
        if (!m_input.ReadBlob(error))
            throw OSM::CDataReader::CBadFileException{m_input.Fault()};
        m_scan.Run(m_input.Payload(), out);
    }

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
    CBlockScan m_scan;
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
    TBlockIds scratch;
    for (size_t i = blocks.FirstOf(OSM::kRelation); i < blocks.Count(); ++i) {
        const TBlockIds& block = blocks.Scan(i, scratch);
        const std::vector<TId>& relations = block.ids[OSM::kRelation];
        for (size_t r = 0; r < relations.size(); ++r) {
            if (relations[r] < Clip::kMinKeyId || relations[r] > kMaxInputId)
                return ReportId(fileName, OSM::kRelation, relations[r]);
            if (block.wideMember && block.wideMember->first == r) {
                std::printf("%s: relation %" PRId64 " has a way member %" PRId64 " that does not fit in 48 bits\n",
                            fileName.c_str(), relations[r], block.wideMember->second);
                return false;
            }
        }
    }
    return true;
}

}  // namespace Splitter
