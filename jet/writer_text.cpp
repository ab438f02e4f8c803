#include "jet/writer_text.h"

#include "jet/put_bytes.h"

namespace jet {

namespace {

// Windows-1252 0x80..0x9F. Bytes with no character there (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// the C1 control of the same value, so raw Jet 3 bytes survive a round trip.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint8_t ToCodePage(char16_t c, uint16_t code_page) {
    if (c < 0x80) return static_cast<uint8_t>(c);
    if (code_page == 1252) {
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == c) return static_cast<uint8_t>(0x80 + i);
        if (c >= 0xA0 && c <= 0xFF) return static_cast<uint8_t>(c);
        return '?';
    }
    return c <= 0xFF ? static_cast<uint8_t>(c) : '?';
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& utf8) {
    std::u16string out;
    size_t i = 0;
    const size_t n = utf8.size();
    while (i < n) {
        auto b = static_cast<uint8_t>(utf8[i]);
        uint32_t cp = 0xFFFD;
        size_t extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1Fu;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0Fu;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07u;
            extra = 3;
        }
        ++i;
        bool ok = b < 0x80 || extra > 0;
        for (size_t k = 0; k < extra && ok; ++k, ++i) {
            if (i >= n || (static_cast<uint8_t>(utf8[i]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (static_cast<uint8_t>(utf8[i]) & 0x3Fu);
        }
        if (!ok) cp = 0xFFFD;
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

Bytes EncodeTdefName(const std::string& utf8, Version version, uint16_t code_page) {
    std::u16string name = Utf8ToUtf16(utf8);
    Bytes out;
    if (version == Version::kJet3) {
        size_t n = name.size() > 255 ? 255 : name.size();
        out.push_back(static_cast<uint8_t>(n));
        for (size_t i = 0; i < n; ++i) out.push_back(ToCodePage(name[i], code_page));
    } else {
        size_t n = name.size() > 32767 ? 32767 : name.size();
        AppendU16(out, static_cast<uint16_t>(2 * n));
        for (size_t i = 0; i < n; ++i) AppendU16(out, name[i]);
    }
    return out;
}

Bytes EncodeTextValue(const std::u16string& text, Version version, uint16_t code_page,
                      bool compressible, bool memo) {
    Bytes out;
    if (version == Version::kJet3) {
        out.reserve(text.size());
        for (char16_t c : text) out.push_back(ToCodePage(c, code_page));
        return out;
    }
    bool compress = compressible && text.size() >= 3 && !(memo && text.size() > 1024);
    for (char16_t c : text)
        if (c == 0 || c > 0xFF) compress = false;
    if (compress) {
        out.reserve(text.size() + 2);
        out.push_back(0xFF);
        out.push_back(0xFE);
        for (char16_t c : text) out.push_back(static_cast<uint8_t>(c));
        return out;
    }
    out.reserve(2 * text.size());
    for (char16_t c : text) AppendU16(out, c);
    return out;
}

}  // namespace jet
