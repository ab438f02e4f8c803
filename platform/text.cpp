#include "platform/text.h"

#include <array>
#include <cstdint>

#include "platform/error.h"

namespace platform {
namespace {

// Decodes one UTF-8 sequence at `pos`. Returns the code point and advances `pos`; an invalid
// or truncated sequence yields U+FFFD and advances by one byte.
char32_t DecodeOne(std::string_view s, size_t& pos) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = byte(pos);
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        ++pos;
        return 0xFFFD;
    }
    if (pos + static_cast<size_t>(extra) >= s.size()) {  // truncated sequence
        ++pos;
        return 0xFFFD;
    }
    for (int i = 1; i <= extra; ++i) {
        unsigned char c = byte(pos + static_cast<size_t>(i));
        if ((c & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return 0xFFFD;
    }
    pos += static_cast<size_t>(extra) + 1;
    return cp;
}

// Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char EncodeCp1252(char32_t cp, bool invalid) {
    if (invalid) return '?';
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] != 0 && kHighControls[i] == cp) return static_cast<char>(0x80 + i);
    }
    return '?';
}

}  // namespace

std::string ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        size_t start = pos;
        char32_t cp = DecodeOne(utf8, pos);
        // A literal U+FFFD in valid UTF-8 is three bytes; a decoding failure consumed one.
        bool invalid = cp == 0xFFFD && pos - start == 1;
        out.push_back(EncodeCp1252(cp, invalid));
    }
    return out;
}

long Len(std::string_view utf8) {
    long units = 0;
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp = DecodeOne(utf8, pos);
        units += cp > 0xFFFF ? 2 : 1;
    }
    return units;
}

std::string Left(std::string_view utf8, long length) {
    if (length < 0) throw VbError(kInvalidCall);
    long units = 0;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t next = pos;
        char32_t cp = DecodeOne(utf8, next);
        long width = cp > 0xFFFF ? 2 : 1;
        if (units + width > length) break;
        units += width;
        pos = next;
    }
    return std::string(utf8.substr(0, pos));
}

}  // namespace platform
