// The keys that pair an OSM id with an area of a pass.
#pragma once

#include <cstdint>

#include "common/OSM/Entities.h"

namespace Splitter::Clip {

// An OSM id paired with a pass area: id << 16 | area, the area in the low 16
// bits read back as signed (0xFFFF, read as -1, is no area). Ids must fit in
// 48 bits.
using TIdAreaKey = int64_t;
constexpr int32_t kNoArea = -1;
constexpr int64_t kMaxKeyId = (int64_t(1) << 47) - 1;
constexpr int64_t kMinKeyId = -(int64_t(1) << 47);
constexpr uint32_t kMaxPassAreas = 32768;

inline bool FitsKey(OSM::TId id) { return id >= kMinKeyId && id <= kMaxKeyId; }
inline TIdAreaKey MakeKey(OSM::TId id, int32_t area) { return TIdAreaKey(uint64_t(id) << 16 | uint16_t(area)); }
inline OSM::TId KeyId(TIdAreaKey key) { return key >> 16; }
inline int32_t KeyArea(TIdAreaKey key) { return int16_t(uint16_t(key & 0xFFFF)); }

}  // namespace Splitter::Clip
