// Key encoder against the fixed examples of docs/index-keys.md (2-4, 6.7, 7.5); the corpus test
// (corpus_keys_test.cpp) checks it against every key Jet stored in the sample files.
#include "jet/keys/index_key.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "jet/base/error.h"
#include "jet/format/text_codec.h"
#include "jet/keys/collation.h"

namespace jet {
namespace {

std::string Cp1252(const std::u16string& text) {
    const Bytes b = EncodeCodePage(text, 1252);
    return std::string(b.begin(), b.end());
}

std::string Hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

ColumnDef Col(ColumnType type, uint16_t num = 0) {
    ColumnDef c;
    c.name = "c" + std::to_string(num);
    c.type = type;
    c.col_num = num;
    return c;
}

std::string Segment(Version v, ColumnType type, const Value& value, bool ascending = true) {
    Bytes out;
    AppendKeySegment(v, Col(type), ascending, value, out);
    return Hex(out);
}

TEST(IndexKeyTest, IntegersAreBigEndianWithTheSignFlipped) {
    const auto v = Version::kJet4;
    EXPECT_EQ(Segment(v, ColumnType::kLong, int64_t{1}), "7F 80 00 00 01");
    EXPECT_EQ(Segment(v, ColumnType::kLong, int64_t{-1}), "7F 7F FF FF FF");
    EXPECT_EQ(Segment(v, ColumnType::kLong, int64_t{0x0F000000}), "7F 8F 00 00 00");
    EXPECT_EQ(Segment(v, ColumnType::kInteger, int64_t{5}), "7F 80 05");
    EXPECT_EQ(Segment(v, ColumnType::kByte, int64_t{200}), "7F C8");
    EXPECT_EQ(Segment(v, ColumnType::kCurrency, int64_t{12345}), "7F 80 00 00 00 00 00 30 39");
    EXPECT_EQ(Segment(v, ColumnType::kLong, int64_t{1}, false), "80 7F FF FF FE");
    EXPECT_EQ(Segment(v, ColumnType::kByte, int64_t{200}, false), "80 37");
}

TEST(IndexKeyTest, NullsAndBooleans) {
    const auto v = Version::kJet3;
    EXPECT_EQ(Segment(v, ColumnType::kLong, Value{}), "00");
    EXPECT_EQ(Segment(v, ColumnType::kText, Value{}, false), "FF");
    EXPECT_EQ(Segment(v, ColumnType::kBoolean, true), "7F 00");
    EXPECT_EQ(Segment(v, ColumnType::kBoolean, false), "7F FF");
    EXPECT_EQ(Segment(v, ColumnType::kBoolean, true, false), "80 FF");
    EXPECT_EQ(Segment(v, ColumnType::kBoolean, false, false), "80 00");
}

TEST(IndexKeyTest, FloatsSortLikeNumbers) {
    const auto v = Version::kJet4;
    EXPECT_EQ(Segment(v, ColumnType::kDouble, 1.5), "7F BF F8 00 00 00 00 00 00");
    EXPECT_EQ(Segment(v, ColumnType::kDouble, -1.5), "7F 40 07 FF FF FF FF FF FF");
    EXPECT_EQ(Segment(v, ColumnType::kDouble, 0.0), "7F 80 00 00 00 00 00 00 00");
    EXPECT_EQ(Segment(v, ColumnType::kSingle, 1.5), "7F BF C0 00 00");
    EXPECT_EQ(Segment(v, ColumnType::kDateTime, 1.5, false), "80 40 07 FF FF FF FF FF FF");
    // Order is preserved across signs and magnitudes.
    const double values[] = {-1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 1.0, 2.5, 1e300};
    for (size_t i = 1; i < std::size(values); ++i) {
        EXPECT_LT(Segment(v, ColumnType::kDouble, values[i - 1]),
                  Segment(v, ColumnType::kDouble, values[i]));
    }
}

TEST(IndexKeyTest, BinaryAndGuidGroups) {
    const auto v = Version::kJet4;
    Bytes ten;
    for (uint8_t i = 1; i <= 10; ++i) ten.push_back(i);
    EXPECT_EQ(Segment(v, ColumnType::kBinary, ten),
              "7F 01 02 03 04 05 06 07 08 09 09 0A 00 00 00 00 00 00 02");
    EXPECT_EQ(Segment(v, ColumnType::kBinary, ten, false),
              "80 FE FD FC FB FA F9 F8 F7 09 F6 F5 FF FF FF FF FF FF FD");
    EXPECT_EQ(Segment(v, ColumnType::kBinary, Bytes{}), "7F");
    const Guid g = {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56,
                    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    EXPECT_EQ(Segment(v, ColumnType::kGuid, g),
              "7F 12 34 56 78 12 34 56 78 09 01 02 03 04 05 06 07 08 08");
}

TEST(IndexKeyTest, NumericOverwritesTheSignByte) {
    Decimal d;
    d.magnitude = {0, 0, 0, 5};
    EXPECT_EQ(Segment(Version::kJet4, ColumnType::kNumeric, d),
              "7F FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05");
    d.negative = true;
    EXPECT_EQ(Segment(Version::kJet4, ColumnType::kNumeric, d),
              "7F 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FA");
}

TEST(IndexKeyTest, Jet4TextExamples) {
    const struct {
        std::u16string text;
        const char* key;
    } cases[] = {
        {u"Ana", "4A 62 4A 01 00"},
        {u"ANA", "4A 62 4A 01 00"},
        {u"Ana   ", "4A 62 4A 01 00"},
        {u"Jos\u00E9", "5B 64 6B 51 01 02 02 02 0E 00"},
        {u"S\u00E3o Paulo", "6B 4A 64 07 66 4A 6F 5E 64 01 02 19 00"},
        {u"A\u00E7\u00E3o", "4A 4D 4A 64 01 02 1C 19 00"},
        {u"Concei\u00E7\u00E3o", "4D 64 62 4D 51 59 4D 4A 64 01 02 02 02 02 02 02 1C 19 00"},
        {u"\u00E1gua", "4A 55 6F 4A 01 0E 00"},
        {u"n\u00BA 1", "62 64 07 38 01 02 03 00"},
        {u"a-b", "4A 4C 01 01 01 01 80 0B 06 82 00"},
        {u"a_b", "4A 2B 03 4C 01 00"},
        {u"DataAccessPages", "4F 4A 6D 4A 4A 4D 4D 51 6B 6B 66 4A 55 51 6B 01 00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(Jet4TextKey(c.text, true)), c.key);
    }
    EXPECT_EQ(Hex(Jet4TextKey(u"Ana", false)), "B5 9D B5 FE FF 00");
    EXPECT_EQ(Segment(Version::kJet4, ColumnType::kText, std::u16string(u"Ana")),
              "7F 4A 62 4A 01 00");
}

TEST(IndexKeyTest, Jet4TextOnlyTheFirst255CharactersCount) {
    std::u16string long_text(300, u'a');
    const Bytes key = Jet4TextKey(long_text, true);
    EXPECT_EQ(key.size(), 255u + 2u);
    EXPECT_EQ(key, Jet4TextKey(long_text.substr(0, 255) + u"zzz", true));
    EXPECT_EQ(Jet4TextKey(long_text, true), Jet4TextKey(std::u16string(256, u'a'), true));
}

TEST(IndexKeyTest, Jet3TextExamples) {
    const struct {
        std::u16string text;
        const char* key;
    } cases[] = {
        {u"Ana", "60 70 60 00"},
        {u"ANA  ", "60 70 60 00"},
        {u"Jos\u00E9", "6B 72 76 66 02 24 00"},
        {u"S\u00E3o Paulo", "76 60 72 11 73 60 78 6D 72 02 70"},
        {u"A\u00E7\u00E3o", "60 62 60 72 02 97 00"},
        {u"Concei\u00E7\u00E3o", "62 72 70 62 66 6A 62 60 72 02 22 22 29 70"},
        {u"tblAgendaSess\u00E3o", "77 61 6D 60 68 66 70 64 60 76 66 76 76 60 72 02 22 22 22 27 00"},
        {u"DataAccessPages", "64 60 77 60 60 62 62 66 76 76 73 60 68 66 76 00"},
        {std::u16string(u"Lock\0", 5), "6D 72 62 6C 10 00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(Jet3TextKey(Cp1252(c.text), true)), c.key);
    }
    EXPECT_EQ(Hex(Jet3TextKey("Ana", false)), "9F 8F 9F FF");
}

// Jet 3 text is keyed by its code page 1252 bytes: every byte must survive decoding to UTF-16
// and back, including the five that cp1252 leaves undefined.
TEST(IndexKeyTest, Jet3KeysSurviveTheCodePageRoundTrip) {
    for (int b = 1; b < 256; ++b) {
        const Bytes one = {static_cast<uint8_t>(b)};
        const std::u16string text = DecodeCodePage(one, 1252);
        ColumnDef c = Col(ColumnType::kText);
        Bytes seg;
        AppendKeySegment(Version::kJet3, c, true, text, seg);
        Bytes expected = {kKeyAscendingValue};
        const Bytes key = Jet3TextKey(std::string(1, static_cast<char>(b)), true);
        expected.insert(expected.end(), key.begin(), key.end());
        EXPECT_EQ(seg, expected) << "byte " << b;
    }
}

TEST(IndexKeyTest, EncoderCombinesColumnsAndSkipsAllNullRowsWhenAsked) {
    TableDef t;
    t.name = "T";
    t.columns = {Col(ColumnType::kLong, 0), Col(ColumnType::kText, 2)};
    RealIndexDef idx;
    idx.columns = {{2, true}, {0, false}};
    const IndexKeyEncoder enc(Version::kJet4, t, idx);
    EXPECT_EQ(Hex(enc.Encode({int64_t{1}, std::u16string(u"Ana")})),
              "7F 4A 62 4A 01 00 80 7F FF FF FE");
    EXPECT_EQ(Hex(enc.Encode({Value{}, Value{}})), "00 FF");
    EXPECT_TRUE(enc.Includes({Value{}, Value{}}));
    idx.flags = kIndexIgnoreNulls;
    const IndexKeyEncoder ignoring(Version::kJet4, t, idx);
    EXPECT_FALSE(ignoring.Includes({Value{}, Value{}}));
    EXPECT_TRUE(ignoring.Includes({Value{}, std::u16string(u"x")}));

    idx.columns = {{7, true}};
    EXPECT_THROW(IndexKeyEncoder(Version::kJet4, t, idx), JetError);
    EXPECT_THROW(enc.Encode({std::u16string(u"not a number"), Value{}}), std::invalid_argument);
}

TEST(IndexKeyTest, EntriesCompareByKeyThenPageThenRow) {
    EXPECT_LT(CompareIndexEntries({1, 2}, 9, 9, {1, 2, 0}, 1, 1), 0);
    EXPECT_LT(CompareIndexEntries({1, 2}, 1, 9, {1, 2}, 2, 0), 0);
    EXPECT_LT(CompareIndexEntries({1, 2}, 1, 1, {1, 2}, 1, 2), 0);
    EXPECT_EQ(CompareIndexEntries({1, 2}, 1, 1, {1, 2}, 1, 1), 0);
    EXPECT_GT(CompareIndexEntries({0x80}, 1, 1, {0x7F, 0xFF}, 1, 1), 0);
}

}  // namespace
}  // namespace jet
