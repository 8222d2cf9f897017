// The entities of an OSM PBF file, decoded lazily, one at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/OSM/DataReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/OSM/ReadAhead.h"
#include "common/base/GrowArray.h"
#include "common/rtree/Geo.h"
#include "osmformat.pb.h"

namespace OSM {

namespace detail {
// The coordinate and time scale of one block.
struct TBlockScale {
    int64_t granularity = 100;
    int64_t latOffset = 0;
    int64_t lonOffset = 0;
    int64_t dateGranularity = 1000;

    explicit TBlockScale(const OSMPBF::PrimitiveBlock& block);
    TBlockScale() = default;
    // +180 degrees of longitude comes out one unit short of it.
    CGeoPoint Point(int64_t lat, int64_t lon) const;
    int64_t Milliseconds(int64_t timestamp) const;
};
}  // namespace detail

// Parses an "OSMData" payload into block, reusing its storage. Throws
// CDataReader::CBadFileException when the payload is not a PrimitiveBlock;
// block is then undefined.
void ParsePrimitiveBlock(const CGrowArray<uint8_t>& payload, OSMPBF::PrimitiveBlock& block);

// Positions input's stream at its first "OSMData" blob, or at its end when
// it has none: where a reader of the data starts, however far the stream had
// gone. Reads the framing of the header blob, which must be an "OSMHeader",
// and of the blobs up to that one; those of other types are also decoded, so
// that a malformed one is refused here as a reader refuses it. Throws
// CDataReader::CBadFileException with the adapter's fault when any of this is
// malformed or the file is empty, and TStreamException when the stream fails
// to seek; the stream's position is then undefined.
void SeekFirstData(CPBInputAdapter& input);

// Appends the position of every node of group, a group of block: first the
// plain nodes, then the dense ones. Decodes nothing else. Throws
// CDataReader::CBadFileException, with points unchanged, when the dense id,
// latitude and longitude arrays differ in length.
void AppendPositions(const OSMPBF::PrimitiveBlock& block, const OSMPBF::PrimitiveGroup& group,
                     CGrowArray<CGeoPoint>& points);

// Reads the "OSMData" blobs of a blob source, skipping blobs of other types.
// Within a group the dense nodes come first, then plain nodes, ways and
// relations. Malformed data (a bad blob or block, a string index outside the
// table, parallel arrays of different lengths, a bad member type) throws
// CBadFileException from the call that meets it: the constructor, Seek,
// ReadNext or GetEntity. Blocks are read readAhead blocks ahead of their use
// on threads of their own (none with 0), which changes nothing the caller
// sees. Neither the source nor its stream is owned; while the reader lives
// they are its own.
class CPBFReaderAdapter : public CDataReader, public CReadProgress {
public:
    // source's stream must stand at a blob after the header, as SeekFirstData
    // leaves it. Reads the first
    // data block at once, so it may throw CBadFileException.
    explicit CPBFReaderAdapter(CPBInputAdapter& source, uint32_t readAhead = kReadAheadBlocks,
                               uint32_t threads = 1);
    CPBFReaderAdapter(const CPBFReaderAdapter&) = delete;
    CPBFReaderAdapter& operator=(const CPBFReaderAdapter&) = delete;

    bool ReadNext() override;
    bool IsValid() const override { return m_group != nullptr && m_entity >= 0; }
    EEntityType GetType() const override { return m_type; }
    TId GetId() const override { return m_id; }
    // nullptr when there is no current entity. Asking twice for the same
    // dense node decodes it once.
    TEntity* GetEntity() override;
    // The node references of the current entity when it is a way (else
    // none), decoded without its tags and metadata, for stages that look at
    // most ways only that far; valid until the next WayRefs. Throws
    // TBadAlloc.
    const CGrowArray<TId>& WayRefs();
    // The locations that the current way carries for its nodes (a file with
    // the optional feature "LocationsOnWays"), one for each node reference;
    // none when it is no way or does not carry one for each. Valid until the
    // next WayLocations. Throws TBadAlloc.
    const CGrowArray<CGeoPoint>& WayLocations();

    // Restarts reading at offset: 0 or a FirstBlockOffset (or the stream's
    // size, for the end). Reads blobs from there up to the next "OSMData"
    // block that holds a group and makes its first group current, before its
    // first entity. False at the end of the input. Throws TStreamException
    // for an offset beyond the stream.
    bool Seek(uint64_t offset);
    // Undoes the last ReadNext, so that the next one delivers the same entity
    // again. Does nothing at the end of the input or before the first entity
    // of a group.
    void StepBack();
    // Where the first block holding entities of kind starts (before its
    // length), once such a block has been read; kept across ReadBlock.
    std::optional<uint64_t> FirstBlockOffset(EEntityType kind) const;
    // Where the block holding the current entity starts (before its length):
    // a seek there and ReadBlock read that block again.
    uint64_t BlockOffset() const { return m_blockOffset; }

    // The stream position after the current block, whatever was read ahead.
    uint64_t Position() const override { return m_blocks.Position(); }
    uint64_t Size() const override { return m_source.Stream().Size(); }

private:
    // The running sums of dense-node decoding, all zero at a group's start.
    // The string index is wider than the file's 32 bits so that crafted deltas
    // cannot overflow it unnoticed.
    struct TDenseState {
        int32_t last = -1;  // index of the node the record holds
        int32_t keyValue = 0;
        int32_t uid = 0;
        int64_t user = 0;
        int64_t id = 0;
        int64_t lat = 0;
        int64_t lon = 0;
        int64_t changeset = 0;
        int64_t timestamp = 0;
    };

    bool ReadBlock();
    void StartGroup();
    const std::string& String(int64_t index) const;
    void DecodeDense(int32_t index);
    template <typename TMessage>
    void DecodeCommon(const TMessage& message, TEntity& entity) const;
    void DecodeNode(const OSMPBF::Node& node);
    void DecodeWay(const OSMPBF::Way& way);
    void DecodeRelation(const OSMPBF::Relation& relation);

    CPBInputAdapter& m_source;
    CReadAhead m_blocks;
    uint64_t m_blockOffset = 0;
    std::optional<uint64_t> m_firstBlockOffsets[3];

    const OSMPBF::PrimitiveBlock* m_block = nullptr;  // owned by m_blocks
    detail::TBlockScale m_scale;
    int32_t m_groupIndex = 0;
    const OSMPBF::PrimitiveGroup* m_group = nullptr;  // none at the end of the input
    // Ends of the dense nodes, plain nodes, ways and relations in the
    // group's entity sequence.
    int32_t m_denseEnd = 0;
    int32_t m_nodesEnd = 0;
    int32_t m_waysEnd = 0;
    int32_t m_relationsEnd = 0;
    int32_t m_entity = -1;
    TDenseState m_dense;
    int32_t m_nodeEntity = -1;  // the entity the node record holds, -1 none

    EEntityType m_type = kNode;
    TId m_id = 0;
    TNode m_node;
    TWay m_way;
    TRelation m_relation;
    // Ways and relations are decoded here and swapped into place, so that a
    // failed decode leaves the record intact and the storage is recycled.
    TWay m_spareWay;
    TRelation m_spareRelation;
    CGrowArray<TId> m_wayRefs;
    CGrowArray<CGeoPoint> m_wayLocations;
};

}  // namespace OSM
