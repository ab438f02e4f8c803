// Small helpers for laying out integers in page buffers. Jet stores integers little-endian,
// except index entries (page/row trailers and child pointers), which are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "jet/base/value.h"

namespace jet {

inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void PutU32BE(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Appending forms, for building variable-length structures.
inline void AppendU16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void AppendU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void AppendBytes(Bytes& out, const uint8_t* p, size_t n) {
    out.insert(out.end(), p, p + n);
}

// A row pointer as stored in TDEFs, usage maps and long-value headers: page << 8 | row.
inline uint32_t PackRowPointer(uint32_t page, uint8_t row) {
    return (page << 8) | row;
}

}  // namespace jet
