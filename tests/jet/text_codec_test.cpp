#include "jet/format/text_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <optional>
#include <random>
#include <utility>
#include <vector>

namespace jet {
namespace {

TEST(TextCodec, EveryCodePageByteSurvivesARoundTrip) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    for (uint16_t cp : {uint16_t{1250}, uint16_t{1251}, uint16_t{1252}}) {
        const std::u16string text = DecodeCodePage(all, cp);
        ASSERT_EQ(text.size(), 256u);
        EXPECT_EQ(EncodeCodePage(text, cp), all) << cp;
    }
}

TEST(TextCodec, Cp1252MapsTheWindowsCharacters) {
    const Bytes bytes = {0x80, 0xE7, 0xE3, 0x9C};
    EXPECT_EQ(DecodeCodePage(bytes, 1252), u"\u20AC\u00E7\u00E3\u0153");
    EXPECT_EQ(DecodeCodePage(Bytes{0xC0, 0xFF}, 1251), u"\u0410\u044F");
    EXPECT_EQ(EncodeCodePage(u"a\u4E2D", 1252), (Bytes{'a', '?'}));
}

TEST(TextCodec, Jet4CompressedAndPlainForms) {
    EXPECT_EQ(DecodeJet4Text(Bytes{'a', 0, 'b', 0}), u"ab");
    EXPECT_EQ(DecodeJet4Text(Bytes{0xFF, 0xFE, 'a', 0xE9, 'c'}), u"a\u00E9c");
    // 00 toggles to two-byte characters and back.
    EXPECT_EQ(DecodeJet4Text(Bytes{0xFF, 0xFE, 'a', 0, 0x2D, 0x4E, 0, 'b'}), u"a\u4E2Db");
    // A dangling half character at the end is dropped rather than read past the end.
    EXPECT_EQ(DecodeJet4Text(Bytes{0xFF, 0xFE, 0, 0x41}), u"");
}

TEST(TextCodec, WriterCompressesOnlyWhereAccessDoes) {
    EXPECT_EQ(EncodeJet4Text(u"abc", true), (Bytes{0xFF, 0xFE, 'a', 'b', 'c'}));
    EXPECT_EQ(EncodeJet4Text(u"abc", false), (Bytes{'a', 0, 'b', 0, 'c', 0}));
    EXPECT_EQ(EncodeJet4Text(u"ab", true), (Bytes{'a', 0, 'b', 0}));  // too short to gain
    EXPECT_EQ(EncodeJet4Text(u"ab\u4E2D", true), (Bytes{'a', 0, 'b', 0, 0x2D, 0x4E}));
    EXPECT_FALSE(ShouldCompress(std::u16string(1025, u'x')));
    // Mixed text switches mode at every change of kind, as real rows show; a two-byte character
    // with a zero low byte (U+4E00) cannot be written in that form. A tie goes to the compressed
    // form in a Text column and to UCS-2 in a Memo.
    EXPECT_EQ(EncodeJet4Text(u"\u6807\u9898(Title)", true),
              (Bytes{0xFF, 0xFE, 0, 0x07, 0x68, 0x98, 0x98, 0, '(', 'T', 'i', 't', 'l', 'e', ')'}));
    EXPECT_EQ(EncodeJet4Text(u"abc\u4E2Dde\u4E2Dfgh", true),
              (Bytes{0xFF, 0xFE, 'a', 'b', 'c', 0, 0x2D, 0x4E, 0, 'd', 'e', 0, 0x2D, 0x4E, 0, 'f',
                     'g', 'h'}));
    EXPECT_EQ(EncodeJet4Text(u"\u6807\u9898(T)", true), EncodeUcs2(u"\u6807\u9898(T)"));  // longer
    EXPECT_EQ(EncodeJet4Text(u"abc\u4E00de", true), EncodeUcs2(u"abc\u4E00de"));
    EXPECT_TRUE(ShouldCompress(u"abc\u4E2D\u4E2D", TextKind::kText));
    EXPECT_FALSE(ShouldCompress(u"abc\u4E2D\u4E2D", TextKind::kMemo));
    EXPECT_EQ(DecodeJet4Text(EncodeJet4Text(u"x\u4E2Dyz\u4E2D", true)), u"x\u4E2Dyz\u4E2D");
    const std::u16string accented = u"ação";
    EXPECT_EQ(DecodeJet4Text(EncodeJet4Text(accented, true)), accented);
}

TEST(TextCodec, Utf8Conversions) {
    const std::u16string text = u"a\u00E9\u4E2D\U0001F600";
    const std::string utf8 = Utf16ToUtf8(text);
    EXPECT_EQ(utf8, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16(utf8), text);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\uFFFD");  // overlong: one replacement
}

// The codec takes words of characters at a time; these are the plain loops it must agree with,
// one character at a time. A code page's characters come from one-byte decodes (which take no
// fast path), so what is compared is the handling of whole values.
struct PlainCodePage {
    explicit PlainCodePage(uint16_t cp) {
        for (int b = 255; b >= 0; --b) {  // the lowest byte of a character wins
            chars[b] = DecodeCodePage(Bytes{static_cast<uint8_t>(b)}, cp).at(0);
            bytes[chars[b]] = static_cast<uint8_t>(b);
        }
    }
    std::u16string Decode(ByteSpan in) const {
        std::u16string out;
        for (uint8_t b : in) out += chars[b];
        return out;
    }
    Bytes Encode(std::u16string_view text) const {
        Bytes out;
        for (char16_t c : text) out.push_back(bytes.contains(c) ? bytes.at(c) : '?');
        return out;
    }
    std::array<char16_t, 256> chars;
    std::map<char16_t, uint8_t> bytes;
};

Bytes PlainUcs2(std::u16string_view text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

std::u16string PlainDecodeJet4(ByteSpan b) {
    std::u16string out;
    if (b.size() < 2 || b[0] != 0xFF || b[1] != 0xFE) {
        for (size_t i = 0; i + 1 < b.size(); i += 2)
            out += static_cast<char16_t>(b[i] | b[i + 1] << 8);
        return out;
    }
    bool one_byte = true;
    for (size_t i = 2; i < b.size();) {
        if (b[i] == 0) {
            one_byte = !one_byte;
            ++i;
        } else if (one_byte) {
            out += static_cast<char16_t>(b[i++]);
        } else if (i + 1 < b.size()) {
            out += static_cast<char16_t>(b[i] | b[i + 1] << 8);
            i += 2;
        } else {
            break;
        }
    }
    return out;
}

// The compressed form, or nothing when Access would not store `text` so.
std::optional<Bytes> PlainCompressed(std::u16string_view text, TextKind kind) {
    Bytes packed = {0xFF, 0xFE};
    bool one_byte = true;
    for (char16_t c : text) {
        const bool narrow = c != 0 && c <= 0xFF;
        if (!narrow && (c & 0xFF) == 0) return std::nullopt;
        if (narrow != one_byte) packed.push_back(0);
        one_byte = narrow;
        packed.push_back(static_cast<uint8_t>(c & 0xFF));
        if (!narrow) packed.push_back(static_cast<uint8_t>(c >> 8));
    }
    const size_t plain = 2 * text.size();
    const bool shorter = kind == TextKind::kMemo ? packed.size() < plain : packed.size() <= plain;
    if (!shorter || text.size() < 3 || text.size() > 1024) return std::nullopt;
    return packed;
}

// Text made of runs of one kind of character, so that runs start and end at every offset of a
// word: ASCII, Latin-1, the code pages' upper halves, other BMP characters, surrogates, and
// characters the compressed form cannot hold (U+0000, zero low bytes), of which a text has runs,
// one or none. Each text draws on some of the kinds, and on random characters or not.
std::u16string RandomText(std::mt19937& rng, size_t size) {
    static const std::u16string kKinds[] = {
        u"abcXYZ 019~\x01\x7F",
        u"\u0080\u0081\u008D\u0090\u0091\u009F\u00A0\u00E7\u00E3\u00FF",
        u"\u20AC\u0160\u0410\u044F\u0192\u02DC\u2122",
        u"\u4E2D\u6807\u9898\u0101\uFFFF\uFFFE",
        std::u16string{char16_t{0xD800}, char16_t{0xDBFF}, char16_t{0xDC00}, char16_t{0xDFFF}},
        std::u16string{u'\0', u'\u0100', u'\u4E00', u'\uFF00'},
    };
    const size_t kinds = 1 + rng() % 63;  // a set of kKinds
    const size_t any = rng() % 3 == 0 ? 0 : 4 + rng() % 60;
    std::u16string text;
    while (text.size() < size) {
        size_t kind = rng() % std::size(kKinds);
        if ((kinds >> kind & 1) == 0) continue;
        const std::u16string& chars = kKinds[kind];
        for (size_t run = 1 + rng() % 24; run > 0 && text.size() < size; --run) {
            const bool random = any != 0 && rng() % any == 0;
            text += random ? static_cast<char16_t>(rng()) : chars[rng() % chars.size()];
        }
    }
    if (size > 0 && rng() % 3 == 0) text[rng() % size] = kKinds[5][rng() % 4];
    return text;
}

// Bytes of stored text: ASCII letters, with zeros (switches of mode) and other bytes as often as
// each value draws.
Bytes RandomBytes(std::mt19937& rng, size_t size) {
    const size_t zeros = 2 + rng() % 100, others = 1 + rng() % 50;
    Bytes bytes;
    for (size_t i = 0; i < size; ++i) {
        auto b = static_cast<uint8_t>('a' + rng() % 26);
        if (rng() % zeros == 0)
            b = 0;
        else if (rng() % others == 0)
            b = rng() % 2 == 0 ? 0xFF : static_cast<uint8_t>(rng());
        bytes.push_back(b);
    }
    return bytes;
}

TEST(TextCodec, WordAtATimePathsMatchThePlainLoops) {
    std::mt19937 rng(30);
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 70; ++n) sizes.push_back(n);
    for (size_t n : {63, 64, 65, 1021, 1022, 1023, 1024, 1025, 1026, 3000}) sizes.push_back(n);
    std::vector<std::pair<uint16_t, PlainCodePage>> code_pages;
    const uint16_t kCodePages[] = {1250, 1251, 1252, 0, 437, 1253};  // the last three read as 1252
    for (uint16_t cp : kCodePages) code_pages.emplace_back(cp, cp);
    // Buffers reused from value to value keep their old contents, longer or shorter.
    std::u16string decoded = u"stale";
    Bytes encoded(5000, 0xAA);
    for (int round = 0; round < 20; ++round) {
        for (size_t size : sizes) {
            const std::u16string text = RandomText(rng, size);
            const Bytes bytes = RandomBytes(rng, size + 16);
            for (const auto& [cp, plain] : code_pages) {
                EncodeCodePageTo(text, cp, encoded);
                ASSERT_EQ(encoded, plain.Encode(text)) << cp << " " << size;
                DecodeCodePageTo(encoded, cp, decoded);
                ASSERT_EQ(decoded, plain.Decode(encoded)) << cp << " " << size;
                DecodeCodePageTo(bytes, cp, decoded);
                ASSERT_EQ(decoded, plain.Decode(bytes)) << cp << " " << size;
            }
            for (TextKind kind : {TextKind::kText, TextKind::kMemo}) {
                const std::optional<Bytes> compressed = PlainCompressed(text, kind);
                EXPECT_EQ(ShouldCompress(text, kind), compressed.has_value()) << size;
                for (bool allowed : {true, false}) {
                    EncodeJet4TextTo(text, allowed, kind, encoded);
                    ASSERT_EQ(encoded, allowed && compressed ? *compressed : PlainUcs2(text))
                        << size;
                    DecodeJet4TextTo(encoded, decoded);
                    ASSERT_EQ(decoded, PlainDecodeJet4(encoded)) << size;
                }
            }
            // Stored bytes at every address modulo a block, compressed (FF FE from offset 1) or
            // not.
            Bytes stored = bytes;
            stored[1] = 0xFF;
            stored[2] = 0xFE;
            for (size_t from = 0; from < 16; ++from) {
                const ByteSpan value = ByteSpan(stored).subspan(from, size);
                DecodeJet4TextTo(value, decoded);
                ASSERT_EQ(decoded, PlainDecodeJet4(value)) << size << " " << from;
                for (const auto& [cp, plain] : code_pages) {
                    DecodeCodePageTo(value, cp, decoded);
                    ASSERT_EQ(decoded, plain.Decode(value)) << cp << " " << size << " " << from;
                }
            }
        }
    }
}

}  // namespace
}  // namespace jet
