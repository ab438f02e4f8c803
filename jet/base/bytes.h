// Bounds-checked little-endian access to bytes read from a file. Every on-disk structure is
// parsed through these helpers, so an offset or length that points outside its buffer becomes a
// JetError 3343 ("damaged") instead of undefined behaviour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "jet/base/value.h"

namespace jet {

using ByteSpan = std::span<const uint8_t>;

// Throws JetError 3343 describing damage found in a structure whose file is not known here.
[[noreturn]] void Corrupt(const std::string& detail);

// True when [offset, offset + length) lies inside a buffer of `size` bytes (overflow-safe).
inline bool InRange(size_t size, size_t offset, size_t length) {
    return offset <= size && length <= size - offset;
}

// Corrupt("<what> out of bounds"), kept out of line so that the checks below inline to a
// compare or two.
[[noreturn]] void OutOfBounds(const char* what);

inline void CheckRange(ByteSpan bytes, size_t offset, size_t length, const char* what) {
    if (!InRange(bytes.size(), offset, length)) [[unlikely]]
        OutOfBounds(what);
}

inline uint8_t U8(ByteSpan b, size_t off) {
    CheckRange(b, off, 1, "byte");
    return b[off];
}

inline uint16_t U16(ByteSpan b, size_t off) {
    CheckRange(b, off, 2, "u16");
    return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}

inline uint32_t U24(ByteSpan b, size_t off) {
    CheckRange(b, off, 3, "u24");
    return static_cast<uint32_t>(b[off]) | (static_cast<uint32_t>(b[off + 1]) << 8) |
           (static_cast<uint32_t>(b[off + 2]) << 16);
}

inline uint32_t U32(ByteSpan b, size_t off) {
    CheckRange(b, off, 4, "u32");
    return static_cast<uint32_t>(b[off]) | (static_cast<uint32_t>(b[off + 1]) << 8) |
           (static_cast<uint32_t>(b[off + 2]) << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
}

inline uint64_t U64(ByteSpan b, size_t off) {
    return static_cast<uint64_t>(U32(b, off)) | (static_cast<uint64_t>(U32(b, off + 4)) << 32);
}

inline double F64(ByteSpan b, size_t off) {
    uint64_t bits = U64(b, off);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline float F32(ByteSpan b, size_t off) {
    uint32_t bits = U32(b, off);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline ByteSpan Sub(ByteSpan b, size_t off, size_t len, const char* what = "field") {
    CheckRange(b, off, len, what);
    return b.subspan(off, len);
}

// Writers into a byte vector; they grow nothing, the caller sizes the buffer.
inline void PutU16(Bytes& b, size_t off, uint16_t v) {
    b.at(off + 1);
    b[off] = static_cast<uint8_t>(v);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(Bytes& b, size_t off, uint32_t v) {
    b.at(off + 3);
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void PutF64(Bytes& b, size_t off, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    PutU32(b, off, static_cast<uint32_t>(bits));
    PutU32(b, off + 4, static_cast<uint32_t>(bits >> 32));
}

// A row address (format: value = page << 8 | row, stored little-endian).
struct RowPointer {
    uint32_t page = 0;
    uint8_t row = 0;

    static RowPointer FromPacked(uint32_t v) { return {v >> 8, static_cast<uint8_t>(v & 0xFF)}; }
    uint32_t Packed() const { return (page << 8) | row; }
    bool operator==(const RowPointer&) const = default;
};

}  // namespace jet
