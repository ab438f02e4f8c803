#include "jet/format/long_value.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "jet/base/error.h"
#include "tests/support/synthetic_file.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

using jet::testkit::SyntheticFile;
using jet::testkit::TempDir;

Bytes Header(uint32_t length, uint8_t form, uint32_t pointer) {
    Bytes h(12, 0);
    PutU32(h, 0, length | (uint32_t{form} << 24));
    PutU32(h, 4, pointer);
    return h;
}

Bytes Piece(uint32_t next, const std::string& data) {
    Bytes row(4 + data.size());
    PutU32(row, 0, next);
    std::copy(data.begin(), data.end(), row.begin() + 4);
    return row;
}

std::string Text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

int ErrorOf(MdbFile& file, const Bytes& field) {
    try {
        ReadLongValue(file, field);
    } catch (const JetError& e) {
        return e.number();
    }
    return 0;
}

class LongValueTest : public ::testing::Test {
  protected:
    std::unique_ptr<MdbFile> Open(const SyntheticFile& f) {
        f.Write(dir_ / "lv.mdb");
        return MdbFile::Open(Env::Default(), dir_ / "lv.mdb");
    }
    TempDir dir_;
};

TEST_F(LongValueTest, InlineSingleAndChainedForms) {
    SyntheticFile f(Version::kJet4, 4);
    const uint16_t single = f.AddRow(2, Bytes{'h', 'e', 'l', 'l', 'o'}, kLvalOwner);
    // A chain across two pages, last piece first so the pointers are known.
    const uint16_t last = f.AddRow(3, Piece(0, "rld"), kLvalOwner);
    const uint16_t first = f.AddRow(
        2, Piece(RowPointer{3, static_cast<uint8_t>(last)}.Packed(), "hello wo"), kLvalOwner);
    auto file = Open(f);

    Bytes inline_field = Header(3, 0x80, 0);
    inline_field.insert(inline_field.end(), {'a', 'b', 'c'});
    EXPECT_EQ(Text(ReadLongValue(*file, inline_field)), "abc");
    EXPECT_TRUE(ReadLongValue(*file, Bytes{}).empty());
    EXPECT_EQ(Text(ReadLongValue(
                  *file, Header(5, 0x40, RowPointer{2, static_cast<uint8_t>(single)}.Packed()))),
              "hello");
    const Bytes chain = Header(11, 0x00, RowPointer{2, static_cast<uint8_t>(first)}.Packed());
    EXPECT_EQ(Text(ReadLongValue(*file, chain)), "hello world");
    EXPECT_EQ(LongValueRows(*file, chain).size(), 2u);
    // The stated length bounds what is taken from the last piece.
    EXPECT_EQ(Text(ReadLongValue(
                  *file, Header(10, 0x00, RowPointer{2, static_cast<uint8_t>(first)}.Packed()))),
              "hello worl");
}

TEST_F(LongValueTest, DamageIsAnErrorNeverAHang) {
    SyntheticFile f(Version::kJet4, 3);
    // Two pieces pointing at each other: a cycle.
    const uint16_t a = f.AddRow(2, Piece(RowPointer{2, 1}.Packed(), "ab"), kLvalOwner);
    f.AddRow(2, Piece(RowPointer{2, 0}.Packed(), "cd"), kLvalOwner);
    auto file = Open(f);
    const uint32_t at = RowPointer{2, static_cast<uint8_t>(a)}.Packed();
    EXPECT_EQ(ErrorOf(*file, Header(1000, 0x00, at)), kUnrecognizedFormat);
    // Out of the file, on a page that is no data page, a missing row.
    EXPECT_EQ(ErrorOf(*file, Header(10, 0x40, RowPointer{99, 0}.Packed())), kUnrecognizedFormat);
    EXPECT_EQ(ErrorOf(*file, Header(10, 0x40, RowPointer{1, 0}.Packed())), kUnrecognizedFormat);
    EXPECT_EQ(ErrorOf(*file, Header(2, 0x40, RowPointer{2, 7}.Packed())), kUnrecognizedFormat);
    // A single row shorter than the stated length; a chain ending early.
    EXPECT_EQ(ErrorOf(*file, Header(500, 0x40, at)), kUnrecognizedFormat);
    // Inline data past the field, a header cut short, the unused form 0xC0.
    EXPECT_EQ(ErrorOf(*file, Header(50, 0x80, 0)), kUnrecognizedFormat);
    EXPECT_EQ(ErrorOf(*file, Bytes{1, 2, 3}), kUnrecognizedFormat);
    EXPECT_EQ(ErrorOf(*file, Header(0, 0xC0, 0)), kUnrecognizedFormat);
}

}  // namespace
}  // namespace jet
