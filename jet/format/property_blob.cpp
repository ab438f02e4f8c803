#include "jet/format/property_blob.h"

#include <cstring>

namespace jet {
namespace {

constexpr uint16_t kNameListBlock = 0x0080;

bool NameListFits(ByteSpan body) {
    size_t at = 0;
    while (at < body.size()) {
        if (!InRange(body.size(), at, 2)) return false;
        const size_t length = U16(body, at);
        if (!InRange(body.size(), at + 2, length)) return false;
        at += 2 + length;
    }
    return true;
}

bool PropertyBlockFits(ByteSpan body) {
    if (body.size() < 4) return false;
    const size_t names = U32(body, 0);
    if (names < 4 || names > body.size()) return false;
    if (names > 6) {
        const size_t length = U16(body, 4);
        if (6 + length > names) return false;
    }
    size_t at = names;
    while (at < body.size()) {
        if (!InRange(body.size(), at, 8)) return false;
        const size_t value_length = U16(body, at);
        const size_t data_length = U16(body, at + 6);
        if (value_length < 8 || !InRange(body.size(), at, value_length)) return false;
        if (data_length > value_length - 8) return false;
        at += value_length;
    }
    return true;
}

}  // namespace

bool IsWellFormedPropertyBlob(ByteSpan blob) {
    if (blob.empty()) return true;
    if (blob.size() < 4) return false;
    if (std::memcmp(blob.data(), "KKD\0", 4) != 0 && std::memcmp(blob.data(), "MR2\0", 4) != 0)
        return false;
    size_t at = 4;
    while (at < blob.size()) {
        if (!InRange(blob.size(), at, 6)) return false;
        const size_t length = U32(blob, at);
        if (length < 6 || !InRange(blob.size(), at, length)) return false;
        const uint16_t type = U16(blob, at + 4);
        const ByteSpan body = blob.subspan(at + 6, length - 6);
        if (!(type == kNameListBlock ? NameListFits(body) : PropertyBlockFits(body))) return false;
        at += length;
    }
    return true;
}

}  // namespace jet
