// Base-128 varints and zigzag coding, as protocol buffers encode integers.
#pragma once

#include <cstdint>

namespace OSM {

// The most bytes a 64-bit value takes as a varint.
constexpr uint64_t kMaxVarintBytes = 10;

// Writes v at p, which must have room for kMaxVarintBytes; returns the byte
// after it.
inline uint8_t* PutVarint(uint8_t* p, uint64_t v)
{
    for (; v >= 0x80; v >>= 7)
        *p++ = uint8_t(v | 0x80);
    *p++ = uint8_t(v);
    return p;
}

// Reads the varint at p and moves p past it. Unchecked: only for bytes that
// PutVarint wrote, never for input.
inline uint64_t GetVarint(const uint8_t*& p)
{
    uint64_t v = 0;
    for (unsigned shift = 0;; shift += 7) {
        const uint8_t byte = *p++;
        v |= uint64_t(byte & 0x7F) << shift;
        if (byte < 0x80)
            return v;
    }
}

// The bytes PutVarint writes for v.
inline uint64_t VarintBytes(uint64_t v)
{
    uint64_t bytes = 1;
    for (; v >= 0x80; v >>= 7)
        ++bytes;
    return bytes;
}

// Signed values of small magnitude to small unsigned ones and back.
inline uint64_t ZigZag(int64_t v) { return uint64_t(v) << 1 ^ uint64_t(v >> 63); }
inline int64_t UnZigZag(uint64_t v) { return int64_t(v >> 1 ^ (0 - (v & 1))); }

}  // namespace OSM
