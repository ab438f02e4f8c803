#include "jet/format/text_codec.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace jet
