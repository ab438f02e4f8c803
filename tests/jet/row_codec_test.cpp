#include "jet/format/row_codec.h"

#include <gtest/gtest.h>

#include "jet/base/error.h"

namespace jet {
namespace {

ColumnDef Column(uint16_t num, ColumnType type, bool fixed, uint16_t place, uint16_t length = 0) {
    ColumnDef c;
    c.col_num = num;
    c.type = type;
    c.flags = static_cast<uint8_t>(kColumnNullable | (fixed ? kColumnFixed : 0));
    if (fixed)
        c.fixed_offset = place;
    else
        c.var_index = place;
    c.length = length;
    c.code_page = 0;
    return c;
}

// #0 Long fixed@0, #1 Boolean, #2 Text var 0, #3 Integer fixed@4, #4 Text var 1.
TableDef SampleTable() {
    TableDef t;
    t.columns = {Column(0, ColumnType::kLong, true, 0), Column(1, ColumnType::kBoolean, true, 0),
                 Column(2, ColumnType::kText, false, 0, 100),
                 Column(3, ColumnType::kInteger, true, 4),
                 Column(4, ColumnType::kText, false, 1, 100)};
    t.max_cols = 5;
    t.num_var_cols = 2;
    return t;
}

Bytes Ucs2(const std::string& s) {
    Bytes out;
    for (char c : s) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

// A Jet 4 row: u16 ncols, fixed area, var data, eod, offsets reversed, nvar, mask.
Bytes Jet4Row(uint16_t ncols, const Bytes& fixed, const std::vector<Bytes>& vars, uint32_t mask) {
    Bytes row = {static_cast<uint8_t>(ncols), static_cast<uint8_t>(ncols >> 8)};
    row.insert(row.end(), fixed.begin(), fixed.end());
    std::vector<uint16_t> offsets;
    for (const Bytes& v : vars) {
        offsets.push_back(static_cast<uint16_t>(row.size()));
        row.insert(row.end(), v.begin(), v.end());
    }
    offsets.push_back(static_cast<uint16_t>(row.size()));  // eod
    for (size_t j = offsets.size(); j-- > 0;) {
        row.push_back(static_cast<uint8_t>(offsets[j]));
        row.push_back(static_cast<uint8_t>(offsets[j] >> 8));
    }
    row.push_back(static_cast<uint8_t>(vars.size()));
    row.push_back(0);
    for (size_t i = 0; i < (ncols + 7u) / 8u; ++i)
        row.push_back(static_cast<uint8_t>(mask >> (8 * i)));
    return row;
}

// A Jet 3 row with its jump table, built the way docs/format.md 4.4 describes it.
Bytes Jet3Row(uint8_t ncols, const Bytes& fixed, const std::vector<Bytes>& vars, uint64_t mask) {
    Bytes body = {ncols};
    body.insert(body.end(), fixed.begin(), fixed.end());
    std::vector<size_t> offsets;
    for (const Bytes& v : vars) {
        offsets.push_back(body.size());
        body.insert(body.end(), v.begin(), v.end());
    }
    offsets.push_back(body.size());  // eod
    const size_t mask_size = (ncols + 7u) / 8u;
    size_t jumps = 0;
    for (;;) {  // adding jump bytes can push the row over another 256 boundary
        const size_t length = body.size() + offsets.size() + jumps + 1 + mask_size;
        if ((length - 1) / 256 == jumps) break;
        jumps = (length - 1) / 256;
    }
    Bytes row = body;
    for (size_t j = offsets.size(); j-- > 0;)
        row.push_back(static_cast<uint8_t>(offsets[j] & 0xFF));
    std::vector<uint8_t> jump(jumps, 0xFF);
    for (size_t j = 0; j < jumps; ++j)
        for (size_t i = 0; i < offsets.size(); ++i)
            if (offsets[i] >= 256 * (j + 1)) {
                jump[j] = static_cast<uint8_t>(i);
                break;
            }
    for (size_t j = jumps; j-- > 0;) row.push_back(jump[j]);
    row.push_back(static_cast<uint8_t>(vars.size()));
    for (size_t i = 0; i < mask_size; ++i) row.push_back(static_cast<uint8_t>(mask >> (8 * i)));
    return row;
}

std::u16string Str(const Value& v) {
    return std::get<std::u16string>(v);
}

TEST(RowCodec, Jet4RowDecodesEveryColumn) {
    const TableDef t = SampleTable();
    const Bytes fixed = {0x2A, 0, 0, 0, 0xFE, 0xFF};
    const Bytes row = Jet4Row(5, fixed, {Ucs2("ab"), {0xFF, 0xFE, 'x', 'y', 'z'}}, 0b11111);
    const RowLayout l = ParseRowLayout(row, Version::kJet4, t);
    EXPECT_EQ(l.column_count, 5);
    EXPECT_EQ(l.fixed_start, 2u);
    EXPECT_EQ(l.var_count, 2);
    EXPECT_EQ(l.var_offsets, (std::vector<uint16_t>{8, 12, 17}));
    EXPECT_EQ(l.null_mask_offset, row.size() - 1);
    const ColumnSlice s = LocateColumn(l, row, t.columns[3]);
    EXPECT_EQ(s.offset, 6u);  // where the update in place writes an Integer
    EXPECT_EQ(DecodeValue(t.columns[0], Bytes{0x2A, 0, 0, 0}, Version::kJet4, 1252),
              Value{int64_t{42}});
    EXPECT_EQ(DecodeValue(t.columns[3], Bytes{0xFE, 0xFF}, Version::kJet4, 1252),
              Value{int64_t{-2}});
    EXPECT_EQ(
        Str(DecodeValue(t.columns[4], Bytes{0xFF, 0xFE, 'x', 'y', 'z'}, Version::kJet4, 1252)),
        u"xyz");
}

TEST(RowCodec, NullsBooleansAndOlderShorterRows) {
    const TableDef t = SampleTable();
    // Mask: #0 set, #1 (Boolean) clear = false, #2 null, #3 set, #4 set.
    const Bytes row = Jet4Row(5, {1, 0, 0, 0, 7, 0}, {{}, Ucs2("q")}, 0b11001);
    const RowLayout l = ParseRowLayout(row, Version::kJet4, t);
    EXPECT_FALSE(LocateColumn(l, row, t.columns[2]).not_null);
    EXPECT_TRUE(l.MaskBit(row, 0));
    EXPECT_FALSE(l.MaskBit(row, 1));
    // A row written when the table had 3 columns and one variable column: #3 and #4 are absent.
    const Bytes old = Jet4Row(3, {1, 0, 0, 0, 0, 0}, {Ucs2("a")}, 0b111);
    const RowLayout lo = ParseRowLayout(old, Version::kJet4, t);
    EXPECT_TRUE(LocateColumn(lo, old, t.columns[1]).present);
    EXPECT_FALSE(LocateColumn(lo, old, t.columns[3]).present);
    EXPECT_FALSE(LocateColumn(lo, old, t.columns[4]).present);
    // A variable index past nvar is absent even when the column number is below ncols.
    const Bytes fewer_vars = Jet4Row(5, {1, 0, 0, 0, 0, 0}, {Ucs2("a")}, 0b11111);
    const RowLayout lf = ParseRowLayout(fewer_vars, Version::kJet4, t);
    EXPECT_FALSE(LocateColumn(lf, fewer_vars, t.columns[4]).present);
}

TEST(RowCodec, DamagedRowsRaise3343) {
    const TableDef t = SampleTable();
    auto error = [&](const Bytes& row) {
        try {
            ParseRowLayout(row, Version::kJet4, t);
        } catch (const JetError& e) {
            return e.number();
        }
        return 0;
    };
    Bytes row = Jet4Row(5, {1, 0, 0, 0, 0, 0}, {Ucs2("ab"), Ucs2("c")}, 0b11111);
    EXPECT_EQ(error(row), 0);
    Bytes swapped = row;  // var_offset[0] beyond var_offset[1]
    swapped[row.size() - 6] = 14;
    EXPECT_EQ(error(swapped), kUnrecognizedFormat);
    Bytes many_vars = row;  // nvar larger than the row can hold
    many_vars[row.size() - 3] = 200;
    EXPECT_EQ(error(many_vars), kUnrecognizedFormat);
    Bytes many_cols = row;  // a null mask larger than the row
    many_cols[0] = 0xFF;
    many_cols[1] = 0xFF;
    EXPECT_EQ(error(many_cols), kUnrecognizedFormat);
    EXPECT_EQ(error(Bytes{5}), kUnrecognizedFormat);
    for (size_t n = 0; n < row.size(); ++n) {  // every cut is either an error or a layout
        const Bytes cut(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(n));
        try {
            ParseRowLayout(cut, Version::kJet4, t);
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), kUnrecognizedFormat);
        }
    }
}

TEST(RowCodec, Jet3JumpTableForLongRows) {
    TableDef t;
    t.columns = {Column(0, ColumnType::kLong, true, 0), Column(1, ColumnType::kText, false, 0, 255),
                 Column(2, ColumnType::kText, false, 1, 255),
                 Column(3, ColumnType::kText, false, 2, 255)};
    t.max_cols = 4;
    t.num_var_cols = 3;
    const Bytes a(250, 'a'), b(200, 'b'), c = {'c'};
    const Bytes row = Jet3Row(4, {9, 0, 0, 0}, {a, b, c}, 0b1111);
    ASSERT_GT(row.size(), 456u);
    const RowLayout l = ParseRowLayout(row, Version::kJet3, t);
    EXPECT_EQ(l.var_offsets, (std::vector<uint16_t>{5, 255, 455, 456}));
    EXPECT_EQ(
        DecodeValue(t.columns[2], LocateColumn(l, row, t.columns[2]).bytes, Version::kJet3, 1252),
        Value{std::u16string(200, u'b')});
}

TEST(RowCodec, Jet3DummyJumpEntryIsIgnored) {
    // A long fixed area and 40 empty variable columns: the row passes 256 bytes while every
    // offset stays below 256, so its one jump entry is the dummy 0xFF.
    TableDef t;
    t.columns.push_back(Column(0, ColumnType::kBinary, true, 0, 214));
    for (uint16_t i = 0; i < 40; ++i)
        t.columns.push_back(Column(static_cast<uint16_t>(i + 1), ColumnType::kText, false, i, 10));
    t.max_cols = 41;
    t.num_var_cols = 40;
    std::vector<Bytes> vars(40);
    vars[39] = {'z'};
    const Bytes row = Jet3Row(41, Bytes(214, 1), vars, (uint64_t{1} << 41) - 1);
    ASSERT_GT(row.size(), 256u);
    ASSERT_EQ(row[row.size() - 6 - 2], 0xFF);
    const RowLayout l = ParseRowLayout(row, Version::kJet3, t);
    EXPECT_EQ(l.var_offsets.front(), 215);
    EXPECT_EQ(l.var_offsets.back(), 216);
    EXPECT_EQ(LocateColumn(l, row, t.columns[40]).bytes.size(), 1u);
}

TEST(RowCodec, FixedTypesDecode) {
    auto decode = [](ColumnType type, const Bytes& b, uint8_t scale = 0) {
        ColumnDef c = Column(0, type, true, 0);
        c.scale = scale;
        return DecodeValue(c, b, Version::kJet4, 1252);
    };
    EXPECT_EQ(decode(ColumnType::kByte, {200}), Value{int64_t{200}});
    EXPECT_EQ(decode(ColumnType::kCurrency, {0x39, 0x30, 0, 0, 0, 0, 0, 0}), Value{int64_t{12345}});
    EXPECT_EQ(decode(ColumnType::kSingle, {0, 0, 0xC0, 0x3F}), Value{1.5});
    EXPECT_EQ(decode(ColumnType::kDouble, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}), Value{1.5});
    Bytes numeric(17, 0);
    numeric[0] = 0x80;
    numeric[13] = 7;
    const Value d = decode(ColumnType::kNumeric, numeric);
    EXPECT_TRUE(std::get<Decimal>(d).negative);
    EXPECT_EQ(std::get<Decimal>(d).magnitude[3], 7u);
    EXPECT_THROW(decode(ColumnType::kLong, {1, 2}), JetError);  // shorter than its type
    EXPECT_EQ(std::get<std::u16string>(DecodeValue(Column(0, ColumnType::kText, false, 0),
                                                   Bytes{'a', 0xE9}, Version::kJet3, 1252)),
              u"a\u00E9");
}

}  // namespace
}  // namespace jet
