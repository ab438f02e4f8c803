// UPDATE <table> SET <column> = <literal>: the statement parser, the literal conversion, the
// row re-encoder, and updates of real files checked by mdbtools, with every byte outside the
// touched fields left as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/format/row_codec.h"
#include "jet/read/checker.h"
#include "jet/testing/fixtures.h"
#include "jet/update/column_assignment.h"
#include "jet/update/row_update.h"
#include "jet/update/update_statement.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/oracles.h"
#include "tests/support/temp_dir.h"

namespace {

using jet::testkit::TempDir;

int ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const jet::JetError& e) {
        return e.number();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The statement.

TEST(UpdateStatement, AcceptsJetsSpellings) {
    auto s = jet::ParseUpdateStatement("update tavo set bloqueado = -1");
    EXPECT_EQ(s.table, "tavo");
    EXPECT_EQ(s.column, "bloqueado");
    EXPECT_EQ(s.value.integer, -1);
    EXPECT_FALSE(s.value.boolean);

    s = jet::ParseUpdateStatement("  UpDaTe\t[Minha Tabela]\nSET [Minha Tabela].[Campo X]=+42 ;  ");
    EXPECT_EQ(s.table, "Minha Tabela");
    EXPECT_EQ(s.column_table, "Minha Tabela");
    EXPECT_EQ(s.column, "Campo X");
    EXPECT_EQ(s.value.integer, 42);

    EXPECT_EQ(jet::ParseUpdateStatement("update t set c = - 7").value.integer, -7);
    EXPECT_EQ(jet::ParseUpdateStatement("update t set c = --7").value.integer, 7);
    EXPECT_EQ(jet::ParseUpdateStatement("update t set c = 0").value.integer, 0);
    EXPECT_EQ(jet::ParseUpdateStatement("update t set c = -9223372036854775808").value.integer,
              INT64_MIN);
    auto big = jet::ParseUpdateStatement("update t set c = 99999999999999999999").value;
    EXPECT_FALSE(big.fits_int64);
    EXPECT_DOUBLE_EQ(big.real, 1e20);

    for (auto [text, value] : {std::pair{"True", -1},
                               {"FALSE", 0},
                               {"yes", -1},
                               {"No", 0},
                               {"on", -1},
                               {"OFF", 0},
                               {"-True", 1}}) {
        auto b = jet::ParseUpdateStatement(std::string("update t set c = ") + text);
        EXPECT_TRUE(b.value.boolean) << text;
        EXPECT_EQ(b.value.integer, value) << text;
    }
    // Any other word in the value's place is an unsupplied parameter.
    EXPECT_EQ(jet::ParseUpdateStatement("update t set c = bloqueio").parameter, "bloqueio");
    EXPECT_EQ(jet::ParseUpdateStatement("update t set c = [x y]").parameter, "x y");
    // Non-ASCII names.
    EXPECT_EQ(jet::ParseUpdateStatement("update Situação set Ação = 1").table, "Situação");
}

TEST(UpdateStatement, EverythingElseIsASyntaxError) {
    for (const char* sql :
         {"", "update", "update t", "update t set", "update t set c",
          "update t set c =", "update t set c = 1 where x = 1", "delete from t", "select * from t",
          "update t set c = 1.5", "update t set c = 'x'", "update [t set c = 1",
          "update [] set c = 1", "update t set c = 1, d = 2", "update t set c = 1;;",
          "update t set c = 12abc", "update t set c = Null", "updatet set c = 1",
          "update t set . = 1"}) {
        EXPECT_EQ(ErrorOf([&] { jet::ParseUpdateStatement(sql); }), jet::kUpdateSyntax) << sql;
    }
}

// ---------------------------------------------------------------------------------------------
// Literal conversion.

jet::ColumnDef Column(jet::ColumnType type, uint16_t length = 0, uint8_t flags = 0x02) {
    jet::ColumnDef c;
    c.name = "c";
    c.type = type;
    c.length = length;
    c.flags = flags;
    return c;
}

jet::UpdateLiteral Literal(int64_t v) {
    jet::UpdateLiteral l;
    l.integer = v;
    l.real = static_cast<double>(v);
    return l;
}

jet::Bytes Assign(const jet::ColumnDef& c, int64_t v, jet::Version version = jet::Version::kJet4) {
    return jet::AssignLiteral(c, Literal(v), version, 1252).bytes;
}

TEST(AssignLiteral, StoresEachTypeAsJetDoes) {
    using T = jet::ColumnType;
    auto boolean = Column(T::kBoolean);
    EXPECT_TRUE(jet::AssignLiteral(boolean, Literal(-1), jet::Version::kJet4, 1252).mask_bit);
    EXPECT_TRUE(jet::AssignLiteral(boolean, Literal(5), jet::Version::kJet4, 1252).mask_bit);
    EXPECT_FALSE(jet::AssignLiteral(boolean, Literal(0), jet::Version::kJet4, 1252).mask_bit);
    EXPECT_TRUE(jet::AssignLiteral(boolean, Literal(0), jet::Version::kJet4, 1252).bytes.empty());

    EXPECT_EQ(Assign(Column(T::kByte), 255), (jet::Bytes{0xFF}));
    EXPECT_EQ(Assign(Column(T::kInteger), -1), (jet::Bytes{0xFF, 0xFF}));
    EXPECT_EQ(Assign(Column(T::kInteger), 0), (jet::Bytes{0, 0}));
    EXPECT_EQ(Assign(Column(T::kLong), -2), (jet::Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Assign(Column(T::kCurrency), 1), (jet::Bytes{0x10, 0x27, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Assign(Column(T::kDouble), 1), (jet::Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(Assign(Column(T::kSingle), -1), (jet::Bytes{0, 0, 0x80, 0xBF}));
    EXPECT_EQ(Assign(Column(T::kDateTime), 2), (jet::Bytes{0, 0, 0, 0, 0, 0, 0, 0x40}));

    auto numeric = Column(T::kNumeric);
    numeric.precision = 18;
    numeric.scale = 2;
    jet::Bytes n = Assign(numeric, -1);  // -1.00: magnitude 100
    ASSERT_EQ(n.size(), 17u);
    EXPECT_EQ(n[0], 0x80);
    EXPECT_EQ(n[13], 100);  // the least significant word comes last
    for (size_t i = 1; i < 13; ++i) EXPECT_EQ(n[i], 0) << i;

    // Text: Jet 4 UCS-2 for short values, compressed from three characters when allowed.
    EXPECT_EQ(Assign(Column(T::kText, 20), -1), (jet::Bytes{'-', 0, '1', 0}));
    auto compressible = Column(T::kText, 20);
    compressible.ext_flags = jet::kColumnCompressedUnicode;
    EXPECT_EQ(Assign(compressible, 123), (jet::Bytes{0xFF, 0xFE, '1', '2', '3'}));
    EXPECT_EQ(Assign(Column(T::kText, 10), -12, jet::Version::kJet3), (jet::Bytes{'-', '1', '2'}));
    // Memo: an inline long value.
    EXPECT_EQ(Assign(Column(T::kMemo), 7),
              (jet::Bytes{2, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, '7', 0}));
}

TEST(AssignLiteral, RefusesWhatTheColumnCannotTake) {
    using T = jet::ColumnType;
    auto fails = [](const jet::ColumnDef& c, int64_t v) {
        return ErrorOf([&] { jet::AssignLiteral(c, Literal(v), jet::Version::kJet4, 1252); });
    };
    EXPECT_EQ(fails(Column(T::kByte), -1), jet::kNumericOverflow);
    EXPECT_EQ(fails(Column(T::kByte), 256), jet::kNumericOverflow);
    EXPECT_EQ(fails(Column(T::kInteger), 32768), jet::kNumericOverflow);
    EXPECT_EQ(fails(Column(T::kInteger), -32769), jet::kNumericOverflow);
    EXPECT_EQ(fails(Column(T::kInteger), -32768), 0);
    EXPECT_EQ(fails(Column(T::kLong), int64_t{1} << 31), jet::kNumericOverflow);
    EXPECT_EQ(fails(Column(T::kCurrency), INT64_MAX / 1000), jet::kNumericOverflow);
    EXPECT_EQ(fails(Column(T::kDateTime), 3000000), jet::kNumericOverflow);
    auto numeric = Column(T::kNumeric);
    numeric.precision = 4;
    numeric.scale = 2;
    EXPECT_EQ(fails(numeric, 99), 0);
    EXPECT_EQ(fails(numeric, 100), jet::kNumericOverflow);
    EXPECT_EQ(fails(Column(T::kText, 4), 123), jet::kFieldTooSmall);  // 2 characters in Jet 4
    EXPECT_EQ(fails(Column(T::kText, 4), 12), 0);
    EXPECT_EQ(fails(Column(T::kBinary, 10), 1), jet::kTypeMismatch);
    EXPECT_EQ(fails(Column(T::kOle), 1), jet::kTypeMismatch);
    EXPECT_EQ(fails(Column(T::kGuid), 1), jet::kTypeMismatch);
    EXPECT_EQ(fails(Column(T::kLong, 0, 0x07), 1), jet::kFieldNotUpdatable);  // AutoNumber

    jet::UpdateLiteral huge;
    huge.fits_int64 = false;
    huge.real = 1e20;
    EXPECT_EQ(
        ErrorOf([&] { jet::AssignLiteral(Column(T::kLong), huge, jet::Version::kJet4, 1252); }),
        jet::kNumericOverflow);
    EXPECT_EQ(jet::LiteralText(huge), u"1E+20");
    EXPECT_EQ(jet::AssignLiteral(Column(T::kDouble), huge, jet::Version::kJet4, 1252).bytes,
              jet::AssignLiteral(Column(T::kDouble), huge, jet::Version::kJet4, 1252).bytes);
}

// ---------------------------------------------------------------------------------------------
// Row re-encoding and page splicing.

// Every live row of every table of a file: split into parts and joined again gives the same
// bytes (rows with a gap before the eod are skipped: re-encoding closes the gap on purpose).
// This holds the Jet 3 jump-table encoder against rows Access wrote.
void ExpectRowsRoundTrip(const std::string& path, size_t* checked) {
    auto view = jet::DatabaseView::Open(jet::Env::Default(), path);
    for (const std::string& name : view->TableNames(true)) {
        jet::TableDef t = view->ReadTable(name);
        jet::TableScanner scanner(view->file(), t);
        while (scanner.Next()) {
            jet::ByteSpan row = scanner.row_bytes();
            jet::RowLayout l = jet::ParseRowLayout(row, view->file().version(), t);
            if (l.has_var_area && l.eod_position != l.var_offsets.back()) continue;
            jet::Bytes joined =
                jet::JoinRow(jet::SplitRow(row, view->file().version(), t), view->file().version());
            ASSERT_EQ(jet::Bytes(row.begin(), row.end()), joined)
                << path << " table " << name << " page " << scanner.data_location().page << " row "
                << scanner.data_location().row;
            ++*checked;
        }
    }
}

TEST(RowUpdate, SplitThenJoinGivesBackRealRows) {
    size_t checked = 0;
    for (const char* name :
         {"jackcess-V1997-test2V1997.mdb", "jackcess-V1997-overflowTestV1997.mdb",
          "jackcess-V2000-overflowTestV2000.mdb", "jackcess-V2003-testUnicodeCompV2003.mdb",
          "jet3-nwind-psc55036.mdb", "jet4-nwind-psc39825.mdb", "jackcess-V1997-testV1997.mdb",
          "jet3-pt-dbdc-piloteiro.mdb"}) {
        std::string path = jet::testkit::CorpusFile(name);
        if (std::filesystem::exists(path)) ExpectRowsRoundTrip(path, &checked);
    }
    if (checked == 0) GTEST_SKIP() << "no corpus files present";
    EXPECT_GT(checked, 100u);
}

TEST(RowUpdate, Jet3JumpTableFollowsTheRowLength) {
    // One variable column growing past 256 and 512 bytes: the jump entries name the first
    // offset at or past each boundary, a dummy 0xFF when none reaches it.
    jet::RowParts p;
    p.column_count = 3;
    p.fixed = jet::Bytes(4, 0xAA);
    p.has_var_area = true;
    p.vars = {jet::Bytes(10, 'a'), jet::Bytes(300, 'b')};
    p.null_mask = {0x07};
    jet::Bytes row = jet::JoinRow(p, jet::Version::kJet3);
    // 1 + 4 + 310 data, eod, 2 offsets, k jumps, nvar, mask: 320 + k, k = 1.
    ASSERT_EQ(row.size(), 321u);
    size_t end = row.size();
    EXPECT_EQ(row[end - 1], 0x07);  // mask
    EXPECT_EQ(row[end - 2], 2);     // nvar
    EXPECT_EQ(row[end - 3], 2);     // jump[0]: the eod (315) is the first >= 256
    EXPECT_EQ(row[end - 4], 5);     // var_offset[0]
    EXPECT_EQ(row[end - 5], 15);    // var_offset[1]
    EXPECT_EQ(row[end - 6], static_cast<uint8_t>(315));  // eod, low byte

    p.vars[1] = jet::Bytes(237, 'b');  // eod 252 < 256 in a row of 258 bytes: a dummy entry
    row = jet::JoinRow(p, jet::Version::kJet3);
    ASSERT_EQ(row.size(), 258u);
    EXPECT_EQ(row[row.size() - 3], 0xFF);
    EXPECT_EQ(row[row.size() - 6], 252);

    p.vars[1] = jet::Bytes(2100, 'b');
    EXPECT_EQ(ErrorOf([&] { jet::JoinRow(p, jet::Version::kJet3); }), jet::kRecordTooLarge);
}

// A Jet 4 data page holding three rows of `lengths`, filled with their row number.
jet::Bytes MakePage(const std::vector<size_t>& lengths) {
    jet::Bytes page(4096, 0);
    page[0] = 0x01;
    page[1] = 0x01;
    jet::PutU16(page, 0x0C, static_cast<uint16_t>(lengths.size()));
    size_t end = 4096, used = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        size_t start = end - lengths[i];
        std::memset(page.data() + start, static_cast<int>('A' + i), lengths[i]);
        jet::PutU16(page, 0x0E + 2 * i, static_cast<uint16_t>(start));
        end = start;
        used += lengths[i];
    }
    jet::PutU16(page, 2, static_cast<uint16_t>(4096 - 14 - 2 * lengths.size() - used));
    return page;
}

TEST(RowUpdate, ReplacingARowMovesOnlyTheRowsBelowIt) {
    jet::Bytes page = MakePage({100, 50, 30});
    jet::PutU16(page, 0x0E + 2, static_cast<uint16_t>(jet::U16(page, 0x10) | 0xC000));  // deleted
    uint16_t free_before = jet::U16(page, 2);
    jet::Bytes grown(70, 'X');
    jet::ReplaceRowBytes(page, 1, grown, jet::Version::kJet4);
    jet::DataPage dp(page, jet::Version::kJet4);
    EXPECT_EQ(dp.free_space(), free_before - 20);
    EXPECT_EQ(dp.row_start(0), 3996);  // row 0 stays
    EXPECT_EQ(dp.row_start(1), 3926);
    EXPECT_EQ(dp.entry(1) & 0xC000, 0xC000);  // flags kept
    EXPECT_EQ(dp.row_start(2), 3896);
    EXPECT_EQ(dp.row(1)[0], 'X');
    EXPECT_EQ(dp.row(2).size(), 30u);
    EXPECT_EQ(dp.row(2)[29], 'C');
    EXPECT_EQ(dp.row(0)[0], 'A');

    // Shrinking gives the bytes back and clears what the rows below left behind.
    jet::ReplaceRowBytes(page, 1, jet::Bytes(10, 'Y'), jet::Version::kJet4);
    jet::DataPage shrunk(page, jet::Version::kJet4);
    EXPECT_EQ(shrunk.free_space(), free_before + 40);
    EXPECT_EQ(shrunk.row_start(2), 3956);
    EXPECT_EQ(shrunk.row(2)[0], 'C');
    EXPECT_EQ(page[3955], 0);

    // No room: refused, page unchanged.
    jet::Bytes full = MakePage({2000, 2000, 60});
    jet::Bytes before = full;
    EXPECT_EQ(
        ErrorOf([&] { jet::ReplaceRowBytes(full, 0, jet::Bytes(2100, 'Z'), jet::Version::kJet4); }),
        jet::kRecordTooLarge);
    // Overlapping rows are damage.
    jet::Bytes bad = MakePage({100, 50});
    jet::PutU16(bad, 0x0E + 2, 4000);
    EXPECT_EQ(ErrorOf([&] { jet::ReplaceRowBytes(bad, 0, jet::Bytes(10), jet::Version::kJet4); }),
              jet::kUnrecognizedFormat);
}

// ---------------------------------------------------------------------------------------------
// Updates of real files.

struct UpdateCase {
    std::string file;  // in the corpus
    std::string table;
    std::string column;
};

std::string Locate(const std::string& name) {
    std::string corpus = jet::testkit::CorpusFile(name);
    if (std::filesystem::exists(corpus)) return corpus;
    return {};
}

// File offsets of the bytes an update of `column` may change: its fixed slot and the byte of
// its null-mask bit, in every live row.
std::set<uint64_t> TouchableBytes(const std::string& path, const std::string& table,
                                  const std::string& column) {
    std::set<uint64_t> bytes;
    auto view = jet::DatabaseView::Open(jet::Env::Default(), path);
    jet::TableDef t = view->ReadTable(table);
    const jet::ColumnDef* c = nullptr;
    for (const auto& col : t.columns)
        if (jet::NamesEqual(col.name, column)) c = &col;
    EXPECT_NE(c, nullptr);
    if (!c) return bytes;
    jet::MdbFile& file = view->file();
    jet::TableScanner scanner(file, t);
    while (scanner.Next()) {
        jet::RowLocation at = scanner.data_location();
        jet::Bytes page = file.ReadPage(at.page);
        jet::DataPage dp(page, file.version());
        uint64_t row_start = uint64_t{at.page} * file.page_size() + dp.row_start(at.row);
        jet::RowLayout l = jet::ParseRowLayout(scanner.row_bytes(), file.version(), t);
        bytes.insert(row_start + l.null_mask_offset + c->col_num / 8);
        if (c->type != jet::ColumnType::kBoolean)
            for (size_t i = 0; i < jet::FixedSize(*c); ++i)
                bytes.insert(row_start + l.fixed_start + c->fixed_offset + i);
    }
    return bytes;
}

void ExpectOnlyTouchedBytesDiffer(const std::vector<uint8_t>& before,
                                  const std::vector<uint8_t>& after,
                                  const std::set<uint64_t>& touchable, const std::string& what) {
    ASSERT_EQ(before.size(), after.size()) << what << ": the file size changed";
    size_t outside = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] != after[i] && !touchable.count(i)) {
            if (++outside <= 5) ADD_FAILURE() << what << ": byte " << i << " changed";
        }
    }
    EXPECT_EQ(outside, 0u) << what;
}

std::string CaseName(const ::testing::TestParamInfo<UpdateCase>& param) {
    std::string name =
        param.param.file.substr(0, param.param.file.find('.')) + "_" + param.param.column;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

// The checker's error count (notices too when `strict`), with the findings for the log.
size_t CheckErrors(const std::string& path, bool strict = false) {
    jet::CheckOptions options;
    options.strict = strict;
    jet::CheckReport report = jet::CheckFile(jet::Env::Default(), path, options);
    size_t count = strict ? report.errors + report.notices : report.errors;
    if (count != 0) ADD_FAILURE() << jet::FormatReport(report);
    return count;
}

// Runs `<statement prefix> -1`, `0`, `-1` on a copy of `source`: after each, mdbtools reads
// the value in every row of the column, the file keeps its size, and no byte outside the
// column's fields (and their null-mask bytes) differs from the original.
void ExpectFlagUpdates(const std::string& source, const std::string& table,
                       const std::string& column, const std::string& statement_prefix,
                       bool strict_check = false) {
    TempDir dir;
    std::string path = dir / "copy.mdb";
    std::filesystem::copy_file(source, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    const auto original = jet::testkit::ReadAll(path);
    const auto touchable = TouchableBytes(path, table, column);
    const size_t rows = jet::testkit::ExportColumn(path, table, column).size();
    ASSERT_GT(rows, 0u);

    bool boolean = false;
    {
        auto view = jet::DatabaseView::Open(jet::Env::Default(), path);
        for (const auto& col : view->ReadTable(table).columns)
            if (jet::NamesEqual(col.name, column)) boolean = col.type == jet::ColumnType::kBoolean;
    }
    for (int value : {-1, 0, -1, 0}) {
        auto db = jet::Database::Open(jet::Env::Default(), path);
        int64_t updated = db->Execute(statement_prefix + std::to_string(value));
        db->Close();
        EXPECT_EQ(updated, static_cast<int64_t>(rows));
        std::string expected = boolean ? (value ? "1" : "0") : std::to_string(value);
        auto values = jet::testkit::ExportColumn(path, table, column);
        ASSERT_EQ(values.size(), rows);
        for (size_t r = 0; r < rows; ++r)
            EXPECT_EQ(values[r], expected) << source << " row " << r << " after = " << value;
        ExpectOnlyTouchedBytesDiffer(original, jet::testkit::ReadAll(path), touchable,
                                     source + " = " + std::to_string(value));
        EXPECT_FALSE(std::filesystem::exists(dir / "copy.ldb")) << "the last user removes the .ldb";
    }
    if (strict_check) {
        EXPECT_EQ(CheckErrors(path, true), 0u);
    }
}

class RealFileUpdate : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(RealFileUpdate, EveryRowTakesTheValueAndNothingElseChanges) {
    const UpdateCase& c = GetParam();
    std::string source = Locate(c.file);
    if (source.empty()) GTEST_SKIP() << c.file << " not present";
    if (!jet::testkit::HaveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    ExpectFlagUpdates(source, c.table, c.column,
                      "update [" + c.table + "] set [" + c.column + "] = ");
}

// The client databases: tavo.mdb (bloqueado Yes/No) and tavo1.mdb (bloqueado Integer), as
// the writer makes them, in both versions, with the statement the maintenance run sends.
TEST(TavoFixtureUpdate, LockAndUnlockEveryRowOfBothFixtures) {
    if (!jet::testkit::HaveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir dir;
    for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
        for (jet::TavoFlag flag : {jet::TavoFlag::kBoolean, jet::TavoFlag::kInteger}) {
            std::string fixture =
                dir / (std::string(flag == jet::TavoFlag::kBoolean ? "tavo" : "tavo1") +
                       (version == jet::Version::kJet3 ? "-jet3" : "-jet4") + ".mdb");
            jet::CreateTavoFixture(jet::Env::Default(), fixture, version, flag);
            SCOPED_TRACE(fixture);
            ExpectFlagUpdates(fixture, "tavo", "bloqueado", "update tavo set bloqueado = ", true);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, RealFileUpdate,
    ::testing::Values(
        UpdateCase{"jackcess-V1997-testV1997.mdb", "Table1", "I"},
        UpdateCase{"jackcess-V1997-testV1997.mdb", "Table1", "D"},
        UpdateCase{"jackcess-V2003-test2V2003.mdb", "MSP_PROJECTS", "PROJ_IS_RES_POOL"},
        UpdateCase{"jackcess-V2003-test2V2003.mdb", "MSP_PROJECTS", "PROJ_OPT_CURRENCY_DIGITS"},
        UpdateCase{"jackcess-V1997-test2V1997.mdb", "MSP_PROJECTS", "PROJ_OPT_NEW_TASK_EST"},
        UpdateCase{"jackcess-V2000-testV2000.mdb", "Table1", "I"},
        UpdateCase{"jackcess-V2000-testV2000.mdb", "Table1", "D"},
        UpdateCase{"jet3-nwind-psc55036.mdb", "Products", "Discontinued"},
        UpdateCase{"jet3-nwind-psc55036.mdb", "Products", "UnitsOnOrder"},
        UpdateCase{"jet4-nwind-psc39825.mdb", "Products", "Discontinued"},
        UpdateCase{"jet4-nwind-psc39825.mdb", "Products", "UnitsOnOrder"}),
    CaseName);

// Text and Memo values are re-encoded; the row moves within its page when its length changes.
TEST(RealFileUpdate, TextAndMemoColumnsTakeTheNewValueInEveryRow) {
    struct Case {
        const char* file;
        const char* table;
        const char* column;
    } cases[] = {
        {"jackcess-V2000-overflowTestV2000.mdb", "Table1", "data3"},  // overflow rows
        {"jackcess-V1997-overflowTestV1997.mdb", "Table1", "data10"},
        {"jackcess-V1997-test2V1997.mdb", "MSP_PROJECTS", "PROJ_PROP_AUTHOR"},  // Memo
        {"jackcess-V2003-test2V2003.mdb", "MSP_PROJECTS", "PROJ_PROP_TITLE"},
        {"jet4-nwind-psc39825.mdb", "Products", "QuantityPerUnit"},
        {"jet3-nwind-psc55036.mdb", "Products", "QuantityPerUnit"},
    };
    if (!jet::testkit::HaveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    size_t done = 0;
    for (const Case& c : cases) {
        std::string source = Locate(c.file);
        if (source.empty()) continue;
        TempDir dir;
        std::string path = dir / "copy.mdb";
        std::filesystem::copy_file(source, path);
        std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        const auto before = jet::testkit::ExportColumn(path, c.table, c.column);
        const auto table_before = jet::testkit::ExportTable(path, c.table);
        const size_t errors_before = jet::CheckFile(jet::Env::Default(), path).errors;
        for (const char* value : {"-123456789", "7"}) {
            auto db = jet::Database::Open(jet::Env::Default(), path);
            db->Execute(std::string("update ") + c.table + " set " + c.column + " = " + value);
            db->Close();
            auto after = jet::testkit::ExportColumn(path, c.table, c.column);
            ASSERT_EQ(after.size(), before.size()) << c.file;
            for (const auto& v : after) EXPECT_EQ(v, value) << c.file << " " << c.column;
            EXPECT_EQ(jet::testkit::ReadAll(path).size(), std::filesystem::file_size(source));
            jet::CheckReport report = jet::CheckFile(jet::Env::Default(), path);
            EXPECT_EQ(report.errors, errors_before) << c.file << "\n" << jet::FormatReport(report);
            // The other columns read as before.
            auto table_after = jet::testkit::ExportTable(path, c.table);
            ASSERT_EQ(table_after.size(), table_before.size());
            for (size_t r = 0; r < table_after.size(); ++r) {
                ASSERT_EQ(table_after[r].size(), table_before[r].size());
                for (size_t k = 0; k < table_after[r].size(); ++k) {
                    if (table_before[0][k] == c.column) continue;
                    EXPECT_EQ(table_after[r][k], table_before[r][k])
                        << c.file << " row " << r << " column " << table_before[0][k];
                }
            }
        }
        ++done;
    }
    if (done == 0) GTEST_SKIP() << "no corpus files present";
}

// A Memo stored in LVAL rows that becomes an inline value leaves those rows deleted (0xC000),
// so no LVAL row stays live without a value pointing to it.
TEST(RealFileUpdate, MemosLeavingTheirLvalRowsMarkThemDeleted) {
    std::string source = jet::testkit::CorpusFile("jet4-nwind-psc39825.mdb");
    if (!std::filesystem::exists(source)) GTEST_SKIP() << "corpus not present";
    TempDir dir;
    std::string path = dir / "nwind.mdb";
    std::filesystem::copy_file(source, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    std::vector<uint32_t> lval_rows;
    {
        auto view = jet::DatabaseView::Open(jet::Env::Default(), path);
        jet::TableDef t = view->ReadTable("Employees");
        const jet::ColumnDef* notes = nullptr;
        for (const auto& c : t.columns)
            if (c.name == "Notes") notes = &c;
        ASSERT_NE(notes, nullptr);
        jet::TableScanner scanner(view->file(), t);
        while (scanner.Next()) {
            jet::RowLayout l = jet::ParseRowLayout(scanner.row_bytes(), view->file().version(), t);
            jet::ColumnSlice field = jet::LocateColumn(l, scanner.row_bytes(), *notes);
            if (!field.present || !field.not_null) continue;
            for (uint32_t r : jet::LongValueRows(view->file(), field.bytes)) lval_rows.push_back(r);
        }
    }
    ASSERT_FALSE(lval_rows.empty()) << "the notes should live in LVAL rows";
    auto db = jet::Database::Open(jet::Env::Default(), path);
    EXPECT_EQ(db->Execute("update Employees set Notes = 5"), 9);
    db->Close();

    auto view = jet::DatabaseView::Open(jet::Env::Default(), path);
    for (uint32_t packed : lval_rows) {
        jet::RowPointer at = jet::RowPointer::FromPacked(packed);
        jet::Bytes page = view->file().ReadPage(at.page);
        jet::DataPage dp(page, view->file().version());
        EXPECT_EQ(dp.entry(at.row) & 0xC000, 0xC000)
            << "page " << at.page << " row " << int{at.row};
    }
    jet::TableDef employees = view->ReadTable("Employees");
    size_t notes_index = 0;
    while (notes_index < employees.columns.size() && employees.columns[notes_index].name != "Notes")
        ++notes_index;
    for (const jet::Row& row : view->ReadRows(employees))
        EXPECT_EQ(std::get<std::u16string>(row.at(notes_index)), u"5");
    EXPECT_EQ(jet::CheckFile(jet::Env::Default(), path).errors, 0u);
}

}  // namespace
