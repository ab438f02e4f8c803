// The checker reads a long value held by one LVAL row once, for its own check and for the row's
// decoding: the findings of a row whose values are damaged stay those of checking every value of
// the row, then decoding it. Each value's finding comes in column order, also for the values
// after the one the decoding stopped at, and before the row's own finding.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/format/row_codec.h"
#include "jet/read/checker.h"
#include "jet/read/table_reader.h"
#include "tests/support/files.h"
#include "tests/support/samples.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

// Where a long-value field of the table's first row lies in the file, and its header.
struct Field {
    uint64_t at = 0;
    LongValueHeader header;
};

std::vector<Field> FieldsOfFirstRow(const std::string& path,
                                    const std::vector<std::string>& names) {
    auto db = DatabaseView::Open(Env::Default(), path);
    const TableDef t = db->ReadTable("T");
    TableScanner scan(db->file(), t);
    const uint32_t page = scan.data_pages().at(0);
    const Bytes bytes = db->file().ReadPage(page);
    const DataPage dp(bytes, db->file().version());
    const ByteSpan row = dp.row(0);
    const RowLayout layout = ParseRowLayout(row, db->file().version(), t);
    std::vector<Field> fields;
    for (const std::string& name : names) {
        for (const ColumnDef& c : t.columns) {
            if (c.name != name) continue;
            const ColumnSlice s = LocateColumn(layout, row, c);
            fields.push_back({uint64_t{page} * db->file().page_size() + dp.row_start(0) + s.offset,
                              ParseLongValueHeader(s.bytes)});
        }
    }
    return fields;
}

void PutU32(const std::string& path, uint64_t at, uint32_t v) {
    testkit::WriteAt(path, at,
                     {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                      static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
}

TEST(CheckerLongValues, FindingsOfEachValueThenOfTheRow) {
    const std::vector<std::string> names = {"a", "b", "c", "d"};
    constexpr uint32_t kOutside = 0xFFFFFFu << 8;
    struct Case {
        const char* what;
        // Damages the fields of a, b, c, d (in that order) of the first row.
        void (*damage)(const std::string& path, const std::vector<Field>& f);
        // The long-value and row findings expected, in order: kind and a part of the text.
        std::vector<std::pair<FindingKind, std::string>> findings;
    };
    const Case cases[] = {
        {"a points outside the file",
         [](const std::string& p, const std::vector<Field>& f) {
             PutU32(p, f[0].at + 4, kOutside);
         },
         {{FindingKind::kLongValue, "column 'a'"}, {FindingKind::kRow, "does not decode"}}},
        {"b and d point outside the file: d is checked though the decoding stopped at b",
         [](const std::string& p, const std::vector<Field>& f) {
             PutU32(p, f[1].at + 4, kOutside);
             PutU32(p, f[3].at + 4, kOutside);
         },
         {{FindingKind::kLongValue, "column 'b'"},
          {FindingKind::kLongValue, "column 'd'"},
          {FindingKind::kRow, "does not decode"}}},
        {"c uses the LVAL row of b",
         [](const std::string& p, const std::vector<Field>& f) {
             PutU32(p, f[2].at + 4, f[1].header.first_row);
         },
         {{FindingKind::kLongValue, "again by column 'c'"}}},
        {"a of an unknown form, c longer than its row",
         [](const std::string& p, const std::vector<Field>& f) {
             PutU32(p, f[0].at, 0xC0000000u | f[0].header.length);
             PutU32(p, f[2].at, 0x40000000u | (f[2].header.length + 1000));
         },
         {{FindingKind::kLongValue, "column 'a'"},
          {FindingKind::kLongValue, "column 'c'"},
          {FindingKind::kRow, "does not decode"}}},
    };
    for (Version v : testkit::kVersions) {
        SCOPED_TRACE(testkit::VersionName(v));
        testkit::TempDir dir;
        const std::string path = dir / "lv.mdb";
        NewTable t = testkit::TableOf(
            "T", {NewColumn("id", ColumnType::kLong), NewColumn("a", ColumnType::kMemo),
                  NewColumn("b", ColumnType::kOle), NewColumn("c", ColumnType::kOle),
                  NewColumn("d", ColumnType::kMemo)});
        for (int r = 0; r < 3; ++r) {
            std::u16string text;
            for (int i = 0; i < 700; ++i) text += static_cast<char16_t>(u'a' + (i * 7 + r) % 26);
            Bytes b(600), c(600);
            for (size_t i = 0; i < b.size(); ++i) {
                b[i] = static_cast<uint8_t>(i * 13 + r);
                c[i] = static_cast<uint8_t>(i * 17 + r);
            }
            t.rows.push_back({int64_t{r}, text, b, c, text + u"d"});
        }
        testkit::CreateOneTable(path, std::move(t), v);
        const Bytes intact = testkit::ReadAll(path);
        const CheckReport clean = CheckFile(Env::Default(), path);
        ASSERT_TRUE(clean.clean()) << FormatReport(clean);
        const std::vector<Field> fields = FieldsOfFirstRow(path, names);
        ASSERT_EQ(fields.size(), 4u);
        for (const Field& f : fields)
            ASSERT_EQ(f.header.form, LongValueForm::kSingle) << "each value in one LVAL row";

        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            testkit::WriteAll(path, intact);
            c.damage(path, fields);
            const CheckReport r = CheckFile(Env::Default(), path);
            std::vector<std::pair<FindingKind, std::string>> seen;
            for (const Finding& f : r.findings)
                if (f.kind == FindingKind::kLongValue || f.kind == FindingKind::kRow)
                    seen.emplace_back(f.kind, f.what);
            ASSERT_EQ(seen.size(), c.findings.size()) << FormatReport(r);
            for (size_t i = 0; i < seen.size(); ++i) {
                EXPECT_EQ(seen[i].first, c.findings[i].first) << FormatReport(r);
                EXPECT_NE(seen[i].second.find(c.findings[i].second), std::string::npos)
                    << FormatReport(r);
            }
            // Every value is counted, those after where the decoding stopped too.
            EXPECT_EQ(r.stats.long_values, clean.stats.long_values);
        }
    }
}

}  // namespace
}  // namespace jet
