// The records that travel between the reader, the pipeline and the writers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/base/GrowArray.h"
#include "common/rtree/Geo.h"

namespace OSM {

using TId = int64_t;

// The order of ids in a file sorted by type then id: 0 and the negative ids
// of objects not yet uploaded first, by absolute value, then the positive
// ones.
inline bool IdBefore(TId a, TId b) { return (a > 0) != (b > 0) ? b > 0 : (a > 0 ? a < b : a > b); }

enum EEntityType : uint8_t { kNode = 0, kWay = 1, kRelation = 2 };

struct TTag {
    std::string key;
    std::string value;
};

struct TInfo {
    int32_t version = 0;  // -1 for a PBF entity without info
    int32_t uid = 0;
    std::string user;
    int64_t changeset = 0;
    int64_t timestamp = 0;  // milliseconds since 1970-01-01T00:00:00Z
    uint8_t visible = 0;    // carried, never written
};

struct TEntity {
    TId id = 0;
    CGrowArray<TTag> tags;
    TInfo info;

    void AddTag(std::string_view key, std::string_view value)
    {
        tags.PushBack(TTag{std::string(key), std::string(value)});
    }
    // The value of the first tag whose key equals key byte for byte.
    const std::string* FindTag(std::string_view key) const
    {
        for (const TTag& tag : tags)
            if (tag.key == key)
                return &tag.value;
        return nullptr;
    }
    // Tags border nodes; the caller checks first that no such tag exists.
    void AddExtNodeTag() { AddTag("garmin:extnode", "yes"); }
};

struct TNode : TEntity {
    CGeoPoint position;
};

struct TWay : TEntity {
    CGrowArray<TId> nodeRefs;
};

struct TMember {
    EEntityType type = kNode;
    TId ref = 0;
    std::string role;
};

struct TRelation : TEntity {
    CGrowArray<TMember> members;
};

}  // namespace OSM
