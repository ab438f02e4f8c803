#include "jet/format/text_codec.h"

#include <array>
#include <bit>
#include <cstring>

namespace jet {
namespace {

#include "jet/format/code_page_tables.inc"

// Code-page text runs through every text and memo value of a Jet 3 file, so it goes through
// whole tables made once: byte -> character and character -> byte, no branch per character.
using ForwardTable = std::array<char16_t, 256>;

ForwardTable MakeForward(const char16_t* upper) {
    ForwardTable t{};
    for (int i = 0; i < 0x80; ++i) t[static_cast<size_t>(i)] = static_cast<char16_t>(i);
    for (int i = 0; i < 0x80; ++i) t[static_cast<size_t>(0x80 + i)] = upper[i];
    return t;
}

// The table of a code page, made once: 1250, 1251, and 1252 for every other one.
template <typename Table, Table (*Make)(const char16_t*)>
const Table& TableFor(uint16_t code_page) {
    static const Table cp1250 = Make(kCp1250);
    static const Table cp1251 = Make(kCp1251);
    static const Table cp1252 = Make(kCp1252);
    switch (code_page) {
        case 1250:
            return cp1250;
        case 1251:
            return cp1251;
        default:
            return cp1252;
    }
}

const ForwardTable& Forward(uint16_t code_page) {
    return TableFor<ForwardTable, MakeForward>(code_page);
}

}  // namespace

void DecodeCodePageTo(ByteSpan bytes, uint16_t code_page, std::u16string& out) {
    const ForwardTable& forward = Forward(code_page);
    out.resize(bytes.size());
    char16_t* to = out.data();
    const uint8_t* from = bytes.data();
    for (size_t i = 0; i < bytes.size(); ++i) to[i] = forward[from[i]];
}

std::u16string DecodeCodePage(ByteSpan bytes, uint16_t code_page) {
    std::u16string out;
    DecodeCodePageTo(bytes, code_page, out);
    return out;
}

namespace {

// Character -> byte of a code page; '?' for characters it lacks.
using ReverseTable = std::array<uint8_t, 0x10000>;

ReverseTable MakeReverse(const char16_t* upper) {
    ReverseTable t;
    t.fill(static_cast<uint8_t>('?'));
    for (int i = 0; i < 0x80; ++i) t[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    // The first byte wins where the table maps a character twice.
    for (int i = 127; i >= 0; --i) {
        if (upper[i] >= 0x80) t[upper[i]] = static_cast<uint8_t>(0x80 + i);
    }
    return t;
}

const ReverseTable& Reverse(uint16_t code_page) {
    return TableFor<ReverseTable, MakeReverse>(code_page);
}

}  // namespace

Bytes EncodeCodePage(std::u16string_view text, uint16_t code_page) {
    Bytes out;
    EncodeCodePageTo(text, code_page, out);
    return out;
}

void EncodeCodePageTo(std::u16string_view text, uint16_t code_page, Bytes& out) {
    const ReverseTable& reverse = Reverse(code_page);
    out.resize(text.size());
    uint8_t* to = out.data();
    for (size_t i = 0; i < text.size(); ++i) {
        to[i] = reverse[text[i]];
    }
}

// Memo values run to megabytes: on little-endian machines UCS-2 is copied as it is.
std::u16string DecodeUcs2(ByteSpan bytes) {
    std::u16string out;
    DecodeUcs2To(bytes, out);
    return out;
}

void DecodeUcs2To(ByteSpan bytes, std::u16string& out) {
    out.resize(bytes.size() / 2);
    if constexpr (std::endian::native == std::endian::little) {
        if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 2);
    } else {
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
}

Bytes EncodeUcs2(std::u16string_view text) {
    Bytes out;
    EncodeUcs2To(text, out);
    return out;
}

void EncodeUcs2To(std::u16string_view text, Bytes& out) {
    out.resize(text.size() * 2);
    if constexpr (std::endian::native == std::endian::little) {
        if (!out.empty()) std::memcpy(out.data(), text.data(), out.size());  // data() may be null
    } else {
        for (size_t i = 0; i < text.size(); ++i) {
            out[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
            out[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
        }
    }
}

std::u16string DecodeJet4Text(ByteSpan bytes) {
    std::u16string out;
    DecodeJet4TextTo(bytes, out);
    return out;
}

void DecodeJet4TextTo(ByteSpan bytes, std::u16string& out) {
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return DecodeUcs2To(bytes, out);
    // Memo values run to megabytes: characters go into a buffer sized for the longest text
    // the bytes can hold, cut to length at the end.
    out.resize(bytes.size());
    char16_t* to = out.data();
    size_t n = 0;
    bool compressed = true;
    size_t i = 2;
    while (i < bytes.size()) {
        if (bytes[i] == 0) {
            compressed = !compressed;
            ++i;
            continue;
        }
        if (compressed) {
            to[n++] = static_cast<char16_t>(bytes[i]);
            ++i;
        } else {
            if (i + 1 >= bytes.size()) break;  // a dangling half character
            to[n++] = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
            i += 2;
        }
    }
    out.resize(n);
}

namespace {

// One byte in compressed mode; 0 marks a switch of mode, so neither mode may hold a character
// that would be read as one.
bool FitsOneByte(char16_t c) {
    return c != 0 && c <= 0xFF;
}
bool FitsTwoBytes(char16_t c) {
    return (c & 0xFF) != 0;
}

// The length of the compressed form: FF FE, a byte per one-byte character, two per other
// character, and a switch byte wherever the kind changes (the form starts in one-byte mode).
// `fits` tells whether every character fits one of the modes.
size_t CompressedSize(std::u16string_view text, bool& fits) {
    size_t size = 2;
    bool one_byte = true;
    fits = true;
    for (char16_t c : text) {
        const bool narrow = FitsOneByte(c);
        if (!narrow && !FitsTwoBytes(c)) fits = false;
        if (narrow != one_byte) {
            ++size;
            one_byte = narrow;
        }
        size += narrow ? 1 : 2;
    }
    return size;
}

// The size of the compressed form when Access would store it so, else 0.
size_t CompressedSizeIfShorter(std::u16string_view text, TextKind kind) {
    if (text.size() < 3 || text.size() > 1024) return 0;
    bool fits = false;
    const size_t compressed = CompressedSize(text, fits);
    if (!fits) return 0;
    const bool shorter =
        kind == TextKind::kMemo ? compressed < 2 * text.size() : compressed <= 2 * text.size();
    return shorter ? compressed : 0;
}

// REQUIRES: size == CompressedSize(text).
void EncodeCompressedSizedTo(std::u16string_view text, size_t size, Bytes& out) {
    out.resize(size);
    uint8_t* to = out.data();
    size_t n = 0;
    to[n++] = 0xFF;
    to[n++] = 0xFE;
    bool one_byte = true;
    for (char16_t c : text) {
        const bool narrow = FitsOneByte(c);
        if (narrow != one_byte) {
            to[n++] = 0;
            one_byte = narrow;
        }
        to[n++] = static_cast<uint8_t>(c & 0xFF);
        if (!narrow) to[n++] = static_cast<uint8_t>(c >> 8);
    }
}

}  // namespace

bool ShouldCompress(std::u16string_view text, TextKind kind) {
    return CompressedSizeIfShorter(text, kind) != 0;
}

Bytes EncodeJet4Text(std::u16string_view text, bool compression_allowed, TextKind kind) {
    Bytes out;
    EncodeJet4TextTo(text, compression_allowed, kind, out);
    return out;
}

void EncodeJet4TextTo(std::u16string_view text, bool compression_allowed, TextKind kind,
                      Bytes& out) {
    if (compression_allowed) {
        if (const size_t size = CompressedSizeIfShorter(text, kind); size != 0)
            return EncodeCompressedSizedTo(text, size, out);
    }
    EncodeUcs2To(text, out);
}

std::u16string DecodeText(ByteSpan bytes, Version version, uint16_t code_page) {
    std::u16string out;
    DecodeTextTo(bytes, version, code_page, out);
    return out;
}

void DecodeTextTo(ByteSpan bytes, Version version, uint16_t code_page, std::u16string& out) {
    if (version == Version::kJet3)
        DecodeCodePageTo(bytes, code_page, out);
    else
        DecodeJet4TextTo(bytes, out);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto b0 = static_cast<uint8_t>(text[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        auto cont = [&](size_t k) {
            return i + k < text.size() && (static_cast<uint8_t>(text[i + k]) & 0xC0) == 0x80;
        };
        auto bits = [&](size_t k) { return static_cast<uint32_t>(text[i + k]) & 0x3F; };
        if (b0 < 0x80) {
            cp = b0;
        } else if ((b0 & 0xE0) == 0xC0 && cont(1)) {
            cp = ((b0 & 0x1Fu) << 6) | bits(1);
            len = 2;
            if (cp < 0x80) cp = 0xFFFD;
        } else if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
            cp = ((b0 & 0x0Fu) << 12) | (bits(1) << 6) | bits(2);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        } else if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
            cp = ((b0 & 0x07u) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace jet
