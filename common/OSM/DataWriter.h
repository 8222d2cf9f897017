// What the pipeline needs of an output file.
#pragma once

#include <cstdint>
#include <string>

#include "common/OSM/Entities.h"

namespace OSM {

// Writers read a record during the call and keep nothing pointing into it.
// Write failures leave the calls as TStreamException.
class CDataWriter {
public:
    virtual ~CDataWriter() = default;
    virtual void WriteRelation(const TRelation& relation) = 0;
    virtual void WriteWay(const TWay& way) = 0;
    virtual void WriteNode(const TNode& node) = 0;
    virtual std::string GetFileName() const { return {}; }
};

// Metadata as OSM files may hold it. Readers refuse negative user ids,
// versions below -1 and changesets outside 32 bits, so such values from a
// damaged input are written as absent: uid 0, version -1, changeset 0.
inline int32_t WritableUid(int32_t uid) { return uid < 0 ? 0 : uid; }
inline int32_t WritableVersion(int32_t version) { return version < 0 ? -1 : version; }
inline int64_t WritableChangeset(int64_t changeset)
{
    return changeset < 0 || changeset > int64_t(UINT32_MAX) ? 0 : changeset;
}

}  // namespace OSM
