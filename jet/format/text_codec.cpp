#include "jet/format/text_codec.h"

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace jet {
namespace {

#include "jet/format/code_page_tables.inc"

// Text runs through every row, and most of it is ASCII or Latin text: the loops below take
// blocks of eight or sixteen characters at a time where a whole block needs no more than a
// widening or narrowing copy, and go through the code-page tables or one character at a time
// elsewhere. The copies go through local arrays, so that the compiler knows source and target
// apart and makes each a few vector instructions.
constexpr size_t kBlock = 8;
constexpr size_t kWideBlock = 2 * kBlock;
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

uint64_t Load64(const void* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// N bytes to N characters of the same value.
template <size_t N>
void Widen(const uint8_t* from, char16_t* to) {
    uint8_t in[N];
    char16_t widened[N];
    std::memcpy(in, from, sizeof in);
    for (size_t k = 0; k < N; ++k) widened[k] = in[k];
    std::memcpy(to, widened, sizeof widened);
}

// Eight characters to their low bytes.
void Narrow8(const char16_t* from, uint8_t* to) {
    char16_t in[kBlock];
    uint8_t narrowed[kBlock];
    std::memcpy(in, from, sizeof in);
    for (size_t k = 0; k < kBlock; ++k) narrowed[k] = static_cast<uint8_t>(in[k]);
    std::memcpy(to, narrowed, sizeof narrowed);
}

// to[k] = table[from[k]] for eight k, unrolled.
template <typename Table, typename From, typename To, size_t... k>
void LookupEach(const Table& table, const From* from, To* to, std::index_sequence<k...>) {
    ((to[k] = table[from[k]]), ...);
}
template <typename Table, typename From, typename To>
void Lookup8(const Table& table, const From* from, To* to) {
    LookupEach(table, from, to, std::make_index_sequence<kBlock>{});
}

// Tests of a word of eight bytes or of four 16-bit lanes (a lane mask reads the same in either
// byte order). "Some byte (lane) is zero" is exact: x - 1 sets the top bit of a zero byte, and of
// a nonzero one only when a borrow from a zero byte below reached it.
constexpr uint64_t kEveryByte01 = 0x0101010101010101ull;
constexpr uint64_t kEveryByte80 = 0x8080808080808080ull;
constexpr uint64_t kEveryLane0001 = 0x0001000100010001ull;
constexpr uint64_t kEveryLane00FF = 0x00FF00FF00FF00FFull;
constexpr uint64_t kEveryLaneFF00 = 0xFF00FF00FF00FF00ull;
constexpr uint64_t kEveryLane8000 = 0x8000800080008000ull;

uint64_t ZeroBytes(uint64_t w) {
    return (w - kEveryByte01) & ~w & kEveryByte80;
}
bool HasZeroByte(uint64_t w) {
    return ZeroBytes(w) != 0;
}
bool HasZeroByte16(const uint8_t* p) {
    return (ZeroBytes(Load64(p)) | ZeroBytes(Load64(p + 8))) != 0;
}
// REQUIRES: every lane <= 0xFF.
bool HasZeroSmallLane(uint64_t lanes) {
    return ((lanes - kEveryLane0001) & kEveryLane8000) != 0;
}

// One byte in compressed mode; 0 marks a switch of mode, so neither mode may hold a character
// that would be read as one.
bool FitsOneByte(char16_t c) {
    return c != 0 && c <= 0xFF;
}
bool FitsTwoBytes(char16_t c) {
    return (c & 0xFF) != 0;
}
// Four characters, each in U+0001..U+00FF.
bool OneByte4(uint64_t w) {
    return (w & kEveryLaneFF00) == 0 && !HasZeroSmallLane(w);
}
bool OneByte8(const char16_t* p) {
    return OneByte4(Load64(p)) && OneByte4(Load64(p + 4));
}
// Four characters past U+00FF, none with a zero low byte.
bool TwoBytes4(uint64_t w) {
    return !HasZeroSmallLane(w & kEveryLane00FF) && !HasZeroSmallLane((w >> 8) & kEveryLane00FF);
}
bool TwoBytes8(const char16_t* p) {
    return TwoBytes4(Load64(p)) && TwoBytes4(Load64(p + 4));
}

// Code-page text runs through every text and memo value of a Jet 3 file, so it goes through
// whole tables made once: byte -> character and character -> byte ('?' for characters the code
// page lacks), no branch per character.
struct CodePage {
    std::array<char16_t, 256> chars;
    std::array<uint8_t, 0x10000> bytes;
    // Bytes below 0x80 map to the characters of the same value, and so do, in 1252, the bytes
    // from 0xA0 (Latin-1): only those from 0x80 up to `same_from` (0xA0 there, 0x100 elsewhere)
    // may map to others.
    unsigned same_from;
};

CodePage MakeCodePage(const char16_t* upper) {
    CodePage t;
    t.bytes.fill(static_cast<uint8_t>('?'));
    for (size_t i = 0; i < 0x80; ++i) {
        t.chars[i] = static_cast<char16_t>(i);
        t.bytes[i] = static_cast<uint8_t>(i);
    }
    for (size_t i = 0; i < 0x80; ++i) t.chars[0x80 + i] = upper[i];
    // The first byte wins where the table maps a character twice.
    for (size_t i = 0x80; i-- > 0;) {
        if (upper[i] >= 0x80) t.bytes[upper[i]] = static_cast<uint8_t>(0x80 + i);
    }
    t.same_from = 0x100;
    while (t.same_from > 0x80 && t.chars[t.same_from - 1] == t.same_from - 1) --t.same_from;
    return t;
}

// The tables of a code page: 1250, 1251, and 1252 for every other one.
const CodePage& CodePageFor(uint16_t code_page) {
    static const CodePage cp1250 = MakeCodePage(kCp1250);
    static const CodePage cp1251 = MakeCodePage(kCp1251);
    static const CodePage cp1252 = MakeCodePage(kCp1252);
    switch (code_page) {
        case 1250:
            return cp1250;
        case 1251:
            return cp1251;
        default:
            return cp1252;
    }
}

// The top bit of each byte of `w` that may map to a character other than its own value: a byte b
// from 0x80 below same_from, that is b ^ 0x80 below same_from - 0x80. Exact: with the top bit
// set before the subtraction, no byte borrows from the next.
uint64_t OtherBytes(const CodePage& page, uint64_t w) {
    const uint64_t x = w ^ kEveryByte80;
    const uint64_t below = (page.same_from - 0x80) * kEveryByte01;
    return ~((x | kEveryByte80) - below) & ~x & kEveryByte80;
}

// Whether each of the sixteen bytes at `p` maps to the character of its own value. SSE2 compares
// them at once, as signed bytes: those from 0x80 up to same_from are the ones below (int8_t)
// same_from (0 for 0x100).
bool SameValues16(const CodePage& page, const uint8_t* p) {
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i from = _mm_set1_epi8(static_cast<char>(page.same_from & 0xFF));
    return _mm_movemask_epi8(_mm_cmplt_epi8(bytes, from)) == 0;
#else
    return (OtherBytes(page, Load64(p)) | OtherBytes(page, Load64(p + 8))) == 0;
#endif
}

// Sixteen bytes at a time: a block whose bytes all map to themselves is widened; other blocks go
// through the table, unrolled. Blocks of eight, or a second test per half block, were slower
// on text with an accent every dozen letters: the branch went either way too often to be
// predicted.
void DecodeWith(const CodePage& page, const uint8_t* from, size_t size, char16_t* to) {
    size_t i = 0;
    for (; i + kWideBlock <= size; i += kWideBlock) {
        if (SameValues16(page, from + i)) {
            Widen<kWideBlock>(from + i, to + i);
        } else {
            Lookup8(page.chars, from + i, to + i);
            Lookup8(page.chars, from + i + kBlock, to + i + kBlock);
        }
    }
    if (i + kBlock <= size && OtherBytes(page, Load64(from + i)) == 0) {
        Widen<kBlock>(from + i, to + i);
        i += kBlock;
    }
    for (; i < size; ++i) to[i] = page.chars[from[i]];
}

void EncodeWith(const CodePage& page, const char16_t* from, size_t size, uint8_t* to) {
    size_t i = 0;
    for (; i + kBlock <= size; i += kBlock) Lookup8(page.bytes, from + i, to + i);
    for (; i < size; ++i) to[i] = page.bytes[from[i]];
}

}  // namespace

void DecodeCodePageTo(ByteSpan bytes, uint16_t code_page, std::u16string& out) {
    const CodePage& page = CodePageFor(code_page);
    out.resize(bytes.size());
    DecodeWith(page, bytes.data(), bytes.size(), out.data());
}

std::u16string DecodeCodePage(ByteSpan bytes, uint16_t code_page) {
    std::u16string out;
    DecodeCodePageTo(bytes, code_page, out);
    return out;
}

Bytes EncodeCodePage(std::u16string_view text, uint16_t code_page) {
    Bytes out;
    EncodeCodePageTo(text, code_page, out);
    return out;
}

void EncodeCodePageTo(std::u16string_view text, uint16_t code_page, Bytes& out) {
    const CodePage& page = CodePageFor(code_page);
    out.resize(text.size());
    EncodeWith(page, text.data(), text.size(), out.data());
}

bool CodePageMapsByteBack(uint16_t code_page, uint8_t byte) {
    const CodePage& page = CodePageFor(code_page);
    return page.bytes[page.chars[byte]] == byte;
}

bool CodePageMapsEveryByteBack(uint16_t code_page) {
    for (int b = 0; b < 256; ++b)
        if (!CodePageMapsByteBack(code_page, static_cast<uint8_t>(b))) return false;
    return true;
}

bool EncodeCodePageExactlyTo(std::u16string_view text, uint16_t code_page, Bytes& out) {
    const CodePage& page = CodePageFor(code_page);
    out.resize(text.size());
    EncodeWith(page, text.data(), text.size(), out.data());
    for (size_t i = 0; i < text.size(); ++i)
        if (page.chars[out[i]] != text[i]) return false;
    return true;
}

// Memo values run to megabytes: on little-endian machines UCS-2 is copied as it is.
std::u16string DecodeUcs2(ByteSpan bytes) {
    std::u16string out;
    DecodeUcs2To(bytes, out);
    return out;
}

void DecodeUcs2To(ByteSpan bytes, std::u16string& out) {
    const size_t size = bytes.size() / 2;
    if constexpr (kLittleEndian) {
        // assign() copies without first filling the string with zeros, as resize() does; it
        // takes characters, so the bytes must lie where characters may (a pointer to them is
        // only handed to the copy, which reads bytes). Short values are not worth the test.
        const auto* chars = reinterpret_cast<const char16_t*>(bytes.data());
        if (size >= 16 && reinterpret_cast<uintptr_t>(chars) % alignof(char16_t) == 0) {
            out.assign(chars, size);
            return;
        }
        out.resize(size);
        if (size != 0) std::memcpy(out.data(), bytes.data(), size * 2);
    } else {
        out.resize(size);
        for (size_t i = 0; i < size; ++i)
            out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
}

Bytes EncodeUcs2(std::u16string_view text) {
    Bytes out;
    EncodeUcs2To(text, out);
    return out;
}

void EncodeUcs2To(std::u16string_view text, Bytes& out) {
    if constexpr (kLittleEndian) {
        // Characters may be read as bytes; assign() copies without filling with zeros first.
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        out.assign(bytes, bytes + text.size() * 2);
    } else {
        out.resize(text.size() * 2);
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
    // Characters go into a buffer sized for the longest text the bytes can hold, cut to length
    // at the end.
    const uint8_t* from = bytes.data();
    const size_t size = bytes.size();
    out.resize(size - 2);
    char16_t* to = out.data();
    size_t n = 0;
    size_t i = 2;
    while (i < size) {
        // A run of one-byte characters, up to a 0 byte.
        for (; i + kWideBlock <= size && !HasZeroByte16(from + i); i += kWideBlock, n += kWideBlock)
            Widen<kWideBlock>(from + i, to + n);
        if (i + kBlock <= size && !HasZeroByte(Load64(from + i))) {
            Widen<kBlock>(from + i, to + n);
            i += kBlock;
            n += kBlock;
        }
        for (; i < size && from[i] != 0; ++i) to[n++] = from[i];
        if (++i >= size) break;  // past the switch byte
        // A run of two-byte characters, up to a 0 byte where a character would start.
        if constexpr (kLittleEndian) {
            for (; i + kBlock <= size && !HasZeroSmallLane(Load64(from + i) & kEveryLane00FF);
                 i += kBlock, n += kBlock / 2)
                std::memcpy(to + n, from + i, kBlock);
        }
        for (; i + 1 < size && from[i] != 0; i += 2)
            to[n++] = static_cast<char16_t>(from[i] | (from[i + 1] << 8));
        if (i + 1 == size && from[i] != 0) break;  // a dangling half character
        ++i;                                       // past the switch byte, if any
    }
    out.resize(n);
}

namespace {

// Access compresses no value longer than this.
constexpr size_t kMaxCompressedChars = 1024;
// Room for the compressed form of any value that may be compressed.
using CompressedBuffer = std::array<uint8_t, 2 + 3 * kMaxCompressedChars>;

// Writes the compressed form of `text` (at most kMaxCompressedChars long) to `to`: FF FE, then
// one byte per one-byte character and two per other character, and a switch byte wherever the
// kind changes (the form starts in one-byte mode). Returns its length, or 0 when a character
// fits neither mode.
size_t Compress(std::u16string_view text, uint8_t* to) {
    const char16_t* from = text.data();
    const size_t size = text.size();
    size_t n = 0;
    to[n++] = 0xFF;
    to[n++] = 0xFE;
    size_t i = 0;
    for (;;) {
        for (; i + kBlock <= size && OneByte8(from + i); i += kBlock, n += kBlock)
            Narrow8(from + i, to + n);
        for (; i < size && FitsOneByte(from[i]); ++i) to[n++] = static_cast<uint8_t>(from[i]);
        if (i == size) return n;
        to[n++] = 0;
        if constexpr (kLittleEndian) {
            for (; i + kBlock <= size && TwoBytes8(from + i); i += kBlock, n += 2 * kBlock)
                std::memcpy(to + n, from + i, 2 * kBlock);
        }
        for (; i < size && !FitsOneByte(from[i]); ++i) {
            if (!FitsTwoBytes(from[i])) return 0;
            to[n++] = static_cast<uint8_t>(from[i] & 0xFF);
            to[n++] = static_cast<uint8_t>(from[i] >> 8);
        }
        if (i == size) return n;
        to[n++] = 0;
    }
}

// The length of the compressed form, written to `buffer`, when Access would store it so; else
// 0.
size_t CompressIfShorter(std::u16string_view text, TextKind kind, CompressedBuffer& buffer) {
    if (text.size() < 3 || text.size() > kMaxCompressedChars) return 0;
    const size_t compressed = Compress(text, buffer.data());
    if (compressed == 0) return 0;
    return CompressedFormKept(text.size(), compressed, kind) ? compressed : 0;
}

}  // namespace

bool CompressedFormKept(size_t chars, size_t compressed_size, TextKind kind) {
    if (chars < 3 || chars > kMaxCompressedChars) return false;
    return kind == TextKind::kMemo ? compressed_size < 2 * chars : compressed_size <= 2 * chars;
}

bool ShouldCompress(std::u16string_view text, TextKind kind) {
    CompressedBuffer buffer;
    return CompressIfShorter(text, kind, buffer) != 0;
}

Bytes EncodeJet4Text(std::u16string_view text, bool compression_allowed, TextKind kind) {
    Bytes out;
    EncodeJet4TextTo(text, compression_allowed, kind, out);
    return out;
}

// One pass both decides and encodes: the compressed form goes to a buffer on the stack and is
// copied out when it is the one to keep.
void EncodeJet4TextTo(std::u16string_view text, bool compression_allowed, TextKind kind,
                      Bytes& out) {
    if (compression_allowed) {
        CompressedBuffer buffer;
        if (const size_t size = CompressIfShorter(text, kind, buffer); size != 0) {
            out.assign(buffer.data(), buffer.data() + size);
            return;
        }
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
