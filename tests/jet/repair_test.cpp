// RepairDatabase on the engine's sample databases (and the corpus subset, when present) and on
// small databases made for the case: what an undamaged file keeps, what each kind of damage
// costs and how it is reported, and that every failure leaves the file exactly as it was.
#include "jet/rebuild/repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/format/data_page.h"
#include "jet/format/header.h"
#include "jet/format/long_value.h"
#include "jet/format/row_codec.h"
#include "jet/format/text_codec.h"
#include "jet/format/usage_map.h"
#include "jet/read/catalog.h"
#include "jet/read/checker.h"
#include "jet/read/table_reader.h"
#include "jet/rebuild/header_recovery.h"
#include "jet/testing/damage.h"
#include "jet/testing/fault_env.h"
#include "jet/testing/sample.h"
#include "jet/write/new_database.h"
#include "jet/write/system_tables.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/oracles.h"
#include "tests/support/rebuild_compare.h"
#include "tests/support/repair_sweep.h"
#include "tests/support/rows.h"
#include "tests/support/samples.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

const RepairedTable* FindTable(const RepairReport& r, const std::string& name) {
    for (const RepairedTable& t : r.tables)
        if (t.name == name) return &t;
    return nullptr;
}

void ExpectRepairFails(const std::string& path, int number, const RepairOptions& options = {}) {
    const Bytes before = testkit::ReadAll(path);
    try {
        RepairDatabase(Env::Default(), path, options);
        ADD_FAILURE() << "repair of " << path << " did not fail";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), number) << e.what();
    }
    EXPECT_TRUE(testkit::ReadAll(path) == before) << "the file changed";
}

const char* const kJet3Memo = testkit::kSampleJet3;
const char* const kJet4 = testkit::kSampleJet4;
constexpr uint32_t kPageKey = 0x0BADC0DEu;

// A sample database written by the engine with its pages encoded under kPageKey.
std::string EncodedSample(const testkit::TempDir& dir, Version v) {
    const std::string path = dir / (v == Version::kJet3 ? "encoded-jet3.mdb" : "encoded-jet4.mdb");
    SampleOptions sample;
    sample.version = v;
    sample.rows = 200;
    sample.encryption_key = kPageKey;
    CreateSample(Env::Default(), path, sample);
    return path;
}

// An undamaged file loses nothing: every table keeps exactly its rows (tables holding object
// ids keep their row counts; the ids themselves are renumbered), and the result is clean. An
// encoded file (the engine's own, here) stays encoded under its key and reads the same through
// mdbtools and mdb-reader. The corpus subset, when present, brings files Access wrote.
TEST(RepairTest, UndamagedFilesKeepEveryRow) {
    testkit::TempDir dir;
    std::vector<std::string> paths;
    for (const char* name :
         {testkit::kSampleJet3, testkit::kSampleJet4, testkit::kSampleWithPassword})
        paths.push_back(dir.Copy(name));
    for (const fs::path& file : testkit::CorpusSubsetFiles())
        paths.push_back(dir.Copy(file.filename().string()));
    for (Version v : {Version::kJet3, Version::kJet4}) paths.push_back(EncodedSample(dir, v));
    const bool oracles = testkit::HaveMdbTools() && testkit::HaveNodeOracle();
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        RepairOptions options;
        options.password = testkit::CorpusPassword(path);
        const auto before = testkit::AllRowImages(path, options.password);
        const uint32_t key = testkit::OpenForTest(path, options.password)->header().encryption_key;
        const bool oracle = oracles && key != 0;
        const std::string exported = oracle ? testkit::MdbExportDump(path) : "";
        const std::string node = oracle ? testkit::NodeDump(path) : "";
        const RepairReport report = RepairDatabase(Env::Default(), path, options);
        testkit::ExpectStoredWithKey(path, key, options.password);
        if (oracle) {
            EXPECT_EQ(testkit::MdbExportDump(path), exported) << "mdb-export";
            EXPECT_EQ(testkit::NodeDump(path), node) << "mdb-reader";
        }
        EXPECT_TRUE(report.lossless()) << report.Summary();
        EXPECT_EQ(report.rows_dropped, 0u);
        EXPECT_EQ(report.values_cut, 0u);
        const auto after = testkit::AllRowImages(path, options.password);
        ASSERT_EQ(before.size(), after.size());
        for (const auto& [table, rows] : before) {
            ASSERT_TRUE(after.count(table)) << table;
            if (testkit::HoldsObjectIds(table))
                EXPECT_EQ(after.at(table).size(), rows.size()) << table;
            else
                EXPECT_TRUE(after.at(table) == rows) << table;
        }
        CheckOptions strict;
        strict.strict = true;
        EXPECT_TRUE(CheckFile(Env::Default(), path, strict, options.password).clean());
        // The repaired file is sound: repairing it again leaves it as it is, byte for byte,
        // with every table's rows in the report.
        const Bytes repaired = testkit::ReadAll(path);
        const RepairReport again = RepairDatabase(Env::Default(), path, options);
        EXPECT_TRUE(again.lossless());
        EXPECT_FALSE(again.rebuilt) << again.Summary();
        EXPECT_EQ(again.rows, report.rows);
        EXPECT_EQ(again.tables.size(), report.tables.size());
        EXPECT_TRUE(testkit::ReadAll(path) == repaired) << "a sound file was rewritten";
        EXPECT_TRUE(testkit::AllRowImages(path, options.password) == after);
    }
}

// The first out-of-row long value of a user table: its row's location and column.
struct LongValueAt {
    std::string table;
    size_t column = 0;
    RowLocation row;
    std::vector<uint32_t> pages;  // LVAL pages of the value
};

LongValueAt FindOutOfRowValue(const std::string& path) {
    auto db = DatabaseView::Open(Env::Default(), path);
    for (const std::string& name : db->TableNames()) {
        const TableDef def = db->ReadTable(name);
        TableScanner scan(db->file(), def);
        while (scan.Next()) {
            const RowLayout l = ParseRowLayout(scan.row_bytes(), db->file().version(), def);
            for (size_t c = 0; c < def.columns.size(); ++c) {
                if (!def.columns[c].long_value()) continue;
                const ColumnSlice s = LocateColumn(l, scan.row_bytes(), def.columns[c]);
                if (!s.present || !s.not_null || s.bytes.size() < 12 || (s.bytes[3] & 0x80))
                    continue;
                LongValueAt at{name, c, scan.location(), {}};
                for (uint32_t p : LongValueRows(db->file(), s.bytes)) at.pages.push_back(p >> 8);
                return at;
            }
        }
    }
    return {};
}

TEST(RepairTest, ABrokenMemoChainCostsTheValueNotTheRow) {
    testkit::TempDir dir;
    const std::string path = dir.Copy(kJet3Memo);
    const LongValueAt lv = FindOutOfRowValue(path);
    ASSERT_FALSE(lv.table.empty());
    const auto before = testkit::AllRowImages(path);
    DamageOptions damage;
    damage.page = lv.pages.front();
    ASSERT_TRUE(InjectDamage(Env::Default(), path, DamageKind::kBrokenMemoChain, damage).applied);

    const RepairReport report = RepairDatabase(Env::Default(), path);
    EXPECT_FALSE(report.lossless());
    EXPECT_EQ(report.values_cut, 1u) << report.Summary();
    EXPECT_EQ(report.rows_dropped, 0u);
    const RepairedTable* t = FindTable(report, lv.table);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->values_cut, 1u);
    const auto after = testkit::AllRowImages(path);
    // Same number of rows; exactly one row differs, by a null in the long-value column.
    EXPECT_EQ(after.at(lv.table).size(), before.at(lv.table).size());
    std::vector<std::string> gone, added;
    std::set_difference(before.at(lv.table).begin(), before.at(lv.table).end(),
                        after.at(lv.table).begin(), after.at(lv.table).end(),
                        std::back_inserter(gone));
    std::set_difference(after.at(lv.table).begin(), after.at(lv.table).end(),
                        before.at(lv.table).begin(), before.at(lv.table).end(),
                        std::back_inserter(added));
    EXPECT_EQ(gone.size(), 1u);
    EXPECT_EQ(added.size(), 1u);
    EXPECT_NE(report.Summary().find("1 value cut"), std::string::npos) << report.Summary();
}

// The data pages of the first user table with rows on more than one page.
struct TableOnPages {
    std::string name;
    std::vector<uint32_t> pages;
    std::map<uint32_t, size_t> rows_on;  // page -> live rows starting there
    size_t rows = 0;
};

// The user table with rows on the most data pages.
TableOnPages FindTableOnPages(const std::string& path) {
    auto db = DatabaseView::Open(Env::Default(), path);
    TableOnPages best;
    for (const std::string& name : db->TableNames()) {
        const TableDef def = db->ReadTable(name);
        TableOnPages t{name, {}, {}, 0};
        TableScanner scan(db->file(), def);
        while (scan.Next()) {
            ++t.rows_on[scan.location().page];
            ++t.rows;
        }
        for (const auto& [page, n] : t.rows_on) t.pages.push_back(page);
        if (t.pages.size() > best.pages.size()) best = t;
    }
    return best;
}

// Also in an encoded file, which stays encoded under its key.
TEST(RepairTest, AZeroedDataPageLosesOnlyItsOwnRows) {
    testkit::TempDir dir;
    const std::vector<std::string> paths = {dir.Copy(kJet3Memo), dir.Copy(kJet4),
                                            EncodedSample(dir, Version::kJet4)};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const uint32_t key = testkit::OpenForTest(path, {})->header().encryption_key;
        const TableOnPages t = FindTableOnPages(path);
        ASSERT_FALSE(t.name.empty());
        const uint32_t victim = t.pages.back();
        DamageOptions damage;
        damage.page = victim;
        ASSERT_TRUE(InjectDamage(Env::Default(), path, DamageKind::kZeroedPage, damage).applied);
        const RepairReport report = RepairDatabase(Env::Default(), path);
        const RepairedTable* r = FindTable(report, t.name);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->rows, t.rows - t.rows_on.at(victim)) << report.Summary();
        EXPECT_EQ(r->pages_lost, 1u);
        EXPECT_FALSE(report.lossless());
        testkit::ExpectStoredWithKey(path, key);
    }
}

// A row of `def` whose values tell its columns apart: Longs distinct in every row and column,
// text longer than a Long, blobs of their own lengths. Object ids name the catalog (id 2),
// which every rebuild keeps.
Row DistinctRow(const TableDef& def, int i) {
    Row row(def.columns.size());
    for (size_t c = 0; c < def.columns.size(); ++c) {
        const ColumnDef& col = def.columns[c];
        const auto n = static_cast<uint8_t>(c);
        switch (col.type) {
            case ColumnType::kLong:
                row[c] = int64_t{i * 16 + static_cast<int>(c) + 1};
                if (col.name == "ObjectID" || def.name == "MSysNavPaneObjectIDs")
                    row[c] = int64_t{2};
                break;
            case ColumnType::kText:
                row[c] = Utf8ToUtf16("name " + std::to_string(i) + "." + std::to_string(c));
                break;
            case ColumnType::kDateTime:
                row[c] = 40000.25 + i;
                break;
            case ColumnType::kGuid: {
                Guid g{};
                g[0] = static_cast<uint8_t>(i);
                g[1] = n;
                row[c] = g;
                break;
            }
            case ColumnType::kOle:
                row[c] = Bytes(20 + static_cast<size_t>(i), n);
                break;
            default:  // binary
                row[c] = Bytes(col.length, static_cast<uint8_t>(i));
        }
    }
    return row;
}

// Each layout Access writes for one of its own tables, in a file of its version with rows in
// it: the table's definition page zeroed, the repair gives it that layout back (the one its
// rows fit, not merely the most common) with every row, and mdbtools reads the file.
TEST(RepairTest, AnAccessTableWithoutItsDefinitionGetsTheLayoutItsRowsFit) {
    testkit::TempDir dir;
    size_t layouts = 0;
    for (const Version v : {Version::kJet3, Version::kJet4}) {
        for (const char* name : {"MSysAccessObjects", "MSysAccessStorage", "MSysAccessXML",
                                 "MSysCmdbars", "MSysToolbars", "MSysModules", "MSysModules2",
                                 "MSysNameMap", "MSysNavPaneGroupCategories", "MSysNavPaneGroups",
                                 "MSysNavPaneGroupToObjects", "MSysNavPaneObjectIDs"}) {
            const std::vector<TableDef> defs = AccessSystemTableDefs(name, v);
            for (size_t k = 0; k < defs.size(); ++k) {
                SCOPED_TRACE(std::string(name) + " Jet " + (v == Version::kJet3 ? "3" : "4") +
                             " layout " + std::to_string(k));
                NewTable t;
                t.def = defs[k];
                t.layout_given = true;
                for (int i = 0; i < 40; ++i) t.rows.push_back(DistinctRow(t.def, i));
                NewDatabase plan;
                plan.version = v;
                plan.replace_existing = true;
                plan.tables.push_back(t);
                const std::string path = dir / "access.mdb";
                CreateDatabase(Env::Default(), path, plan);
                const auto before = testkit::AllRowImages(path);
                DamageOptions damage;
                damage.page = DatabaseView::Open(Env::Default(), path)->ReadTable(name).tdef_page;
                ASSERT_TRUE(
                    InjectDamage(Env::Default(), path, DamageKind::kZeroedPage, damage).applied);
                const RepairReport report = RepairDatabase(Env::Default(), path);
                const RepairedTable* r = FindTable(report, name);
                ASSERT_NE(r, nullptr) << report.Summary();
                EXPECT_TRUE(r->standard_definition);
                EXPECT_TRUE(testkit::AllRowImages(path).at(name) == before.at(name))
                    << report.Summary();
                const TableDef got = DatabaseView::Open(Env::Default(), path)->ReadTable(name);
                ASSERT_EQ(got.columns.size(), defs[k].columns.size());
                for (size_t c = 0; c < got.columns.size(); ++c)
                    EXPECT_EQ(got.columns[c].name, defs[k].columns[c].name);
                std::string why;
                if (testkit::HaveMdbTools()) {
                    EXPECT_TRUE(testkit::MdbToolsReadsEveryTable(path, why)) << why;
                }
                ++layouts;
            }
        }
    }
    EXPECT_GE(layouts, 20u);
}

// A broken owned-pages map: the table's pages are found by their owner field; nothing is lost.
TEST(RepairTest, ABrokenUsageMapLosesNoRow) {
    testkit::TempDir dir;
    for (const char* file : {kJet3Memo, kJet4}) {
        for (uint64_t seed = 0; seed < 3; ++seed) {
            SCOPED_TRACE(std::string(file) + " seed " + std::to_string(seed));
            const std::string path = dir.Copy(file);
            const TableOnPages t = FindTableOnPages(path);
            const auto before = testkit::AllRowImages(path);
            auto db = DatabaseView::Open(Env::Default(), path);
            DamageOptions damage;
            damage.seed = seed;
            damage.page = db->ReadTable(t.name).tdef_page;
            db.reset();
            ASSERT_TRUE(
                InjectDamage(Env::Default(), path, DamageKind::kBrokenUsageMap, damage).applied);
            const RepairReport report = RepairDatabase(Env::Default(), path);
            EXPECT_EQ(report.rows_dropped, 0u) << report.Summary();
            EXPECT_TRUE(testkit::AllRowImages(path).at(t.name) == before.at(t.name));
        }
    }
}

// Equal rows are rows of their own, and stay when the map is lost; a leftover copy of one of
// the table's pages (its owner field still the table's) adds none of its rows again. (A table
// made only of a few distinct rows repeated could not be told from such copies.)
TEST(RepairTest, EqualRowsStayAndStaleCopiesGoWhenTheMapIsLost) {
    testkit::TempDir dir;
    const std::string path = dir / "leituras.mdb";
    NewTable t = testkit::TableOf("leituras", {NewColumn("sensor", ColumnType::kLong),
                                               NewColumn("estado", ColumnType::kText, 40)});
    // Every tenth reading repeats one a few pages back.
    for (int i = 0; i < 1000; ++i)
        t.rows.push_back({int64_t{i % 10 == 9 && i > 500 ? i - 500 : i}, std::u16string(u"ok")});
    testkit::CreateOneTable(path, t);
    const auto before = testkit::AllRowImages(path);
    {
        auto db = DatabaseView::Open(Env::Default(), path);
        const TableDef def = db->ReadTable("leituras");
        TableScanner scan(db->file(), def);
        ASSERT_TRUE(scan.Next());
        const Bytes copy = db->file().ReadPage(scan.location().page);
        const uint64_t end = uint64_t{db->file().page_count()} * 4096;
        // The owned-pages map and the global map wiped to zeros: they read as naming no page,
        // so the copy is a page neither used nor free, like those Access leaves behind.
        std::vector<std::pair<uint64_t, size_t>> wipes;
        for (const RowPointer map : {RowPointer::FromPacked(def.owned_map), RowPointer{1, 0}}) {
            const Bytes map_page = db->file().ReadPage(map.page);
            const DataPage page(map_page, Version::kJet4);
            wipes.emplace_back(uint64_t{map.page} * 4096 + page.row_start(map.row),
                               page.row(map.row).size());
        }
        db.reset();
        testkit::WriteAt(path, end, copy);
        for (const auto& [at, length] : wipes) testkit::WriteAt(path, at, Bytes(length, 0));
    }
    const RepairReport report = RepairDatabase(Env::Default(), path);
    EXPECT_EQ(report.rows_dropped, 0u) << report.Summary();
    const auto after = testkit::AllRowImages(path).at("leituras");
    EXPECT_EQ(after.size(), before.at("leituras").size());
    EXPECT_TRUE(after == before.at("leituras"));
}

// A table's page map that names no page, with pages still saying they are the table's: when
// the definition counts rows, the map was wiped and the rows come back from those pages; when
// it counts none, the table is empty as Jet sees it (Access released the pages but left their
// owner field), and the rows of those pages are left out and counted apart, never as a loss.
TEST(RepairTest, RowsOnPagesOutsideTheMapAreNoLossWhenTheTableCountsNone) {
    testkit::TempDir dir;
    for (const bool counted : {true, false}) {
        SCOPED_TRACE(counted ? "the definition counts the rows" : "the definition counts none");
        const std::string path = dir / "eventos.mdb";
        fs::remove(path);
        NewTable t = testkit::TableOf("eventos", {NewColumn("codigo", ColumnType::kLong),
                                                  NewColumn("nome", ColumnType::kText, 40)});
        for (int i = 0; i < 30; ++i) t.rows.push_back({int64_t{i}, std::u16string(u"evento")});
        testkit::CreateOneTable(path, t);
        {
            auto db = DatabaseView::Open(Env::Default(), path);
            const TableDef def = db->ReadTable("eventos");
            const RowPointer map = RowPointer::FromPacked(def.owned_map);
            const Bytes map_page = db->file().ReadPage(map.page);  // the view keeps a span
            const DataPage page(map_page, Version::kJet4);
            const uint64_t map_at = uint64_t{map.page} * 4096 + page.row_start(map.row);
            const size_t map_length = page.row(map.row).size();
            db.reset();
            testkit::WriteAt(path, map_at, Bytes(map_length, 0));
            if (!counted)
                testkit::WriteAt(path, uint64_t{def.tdef_page} * 4096 + 0x10, Bytes(4, 0));
        }
        const RepairReport report = RepairDatabase(Env::Default(), path);
        EXPECT_TRUE(report.lossless()) << report.Summary();
        const RepairedTable* r = FindTable(report, "eventos");
        ASSERT_NE(r, nullptr) << report.Summary();
        EXPECT_EQ(r->rows, counted ? 30u : 0u) << report.Summary();
        EXPECT_EQ(r->rows_unmapped, counted ? 0u : 30u) << report.Summary();
        EXPECT_EQ(report.rows_unmapped, r->rows_unmapped);
        EXPECT_EQ(report.Summary().find("30 rows on pages outside") != std::string::npos, !counted)
            << report.Summary();
        EXPECT_EQ(testkit::AllRowImages(path).at("eventos").size(), r->rows);
    }
}

// Where a table's row of the catalog starts in the file, and where its Type field is.
struct CatalogRowAt {
    uint32_t id = 0;  // the table's id
    Version version = Version::kJet4;
    uint64_t start = 0;
    uint64_t type = 0;
};

CatalogRowAt FindCatalogRow(const std::string& path, const std::string& table) {
    auto db = DatabaseView::Open(Env::Default(), path);
    const CatalogEntry* e = db->catalog().FindTable(table);
    if (e == nullptr) throw std::runtime_error("no catalog row for " + table);
    const TableDef catalog = db->ReadTable("MSysObjects");
    const auto type = std::find_if(catalog.columns.begin(), catalog.columns.end(),
                                   [](const ColumnDef& c) { return c.name == "Type"; });
    if (type == catalog.columns.end()) throw std::runtime_error("MSysObjects has no Type");
    CatalogRowAt at;
    at.id = e->id;
    at.version = db->file().version();
    const Bytes page = db->file().ReadPage(e->location.page);
    at.start = uint64_t{e->location.page} * PageSize(at.version) +
               DataPage(page, at.version).row_start(e->location.row);
    const size_t column_count_bytes = at.version == Version::kJet3 ? 1 : 2;
    at.type = at.start + column_count_bytes + type->fixed_offset;
    return at;
}

// A catalog row whose Type field was damaged still names the page of a sound definition: the
// table comes back under its own name with every row. One that no longer decodes at all (a
// column count of zero) is found through its definition and the owner field of its pages,
// and comes back under a name of its own with every row.
TEST(RepairTest, ATableWhoseCatalogRowIsDamagedComesBackWithEveryRow) {
    testkit::TempDir dir;
    for (const bool whole_row : {false, true}) {
        for (const char* file : {kJet3Memo, kJet4}) {
            SCOPED_TRACE(std::string(file) + (whole_row ? " whole row" : " type"));
            const std::string path = dir.Copy(file);
            const TableOnPages t = FindTableOnPages(path);
            const auto before = testkit::AllRowImages(path);
            const CatalogRowAt row = FindCatalogRow(path, t.name);
            if (whole_row) {
                testkit::WriteAt(path, row.start,
                                 row.version == Version::kJet3 ? Bytes{0} : Bytes{0, 0});
            } else {
                testkit::WriteAt(path, row.type, Bytes{0xB5, 0x03});
                ASSERT_FALSE(testkit::AllRowImages(path).count(t.name))
                    << "the damage did not hide the table";
            }

            const RepairReport report = RepairDatabase(Env::Default(), path);
            const std::string name =
                whole_row ? "RecoveredTable_" + std::to_string(row.id) : t.name;
            const RepairedTable* r = FindTable(report, name);
            ASSERT_NE(r, nullptr) << report.Summary();
            EXPECT_EQ(r->recovered, whole_row);
            EXPECT_EQ(r->rows, t.rows);
            const auto after = testkit::AllRowImages(path);
            EXPECT_TRUE(after.at(name) == before.at(t.name));
            EXPECT_EQ(after.count(t.name), whole_row ? 0u : 1u);
            EXPECT_NE(report.Summary().find(whole_row ? "recovered" : "damaged type"),
                      std::string::npos)
                << report.Summary();
        }
    }
}

TEST(RepairTest, PageZeroIsPutRightAndTheCommitWordsCleared) {
    testkit::TempDir dir;
    for (const char* file : {kJet3Memo, kJet4}) {
        SCOPED_TRACE(file);
        const std::string path = dir.Copy(file);
        const DatabaseHeader original = DecodeHeader(testkit::ReadAll(path));
        for (DamageKind kind : {DamageKind::kHeaderGarbage, DamageKind::kInconsistentState}) {
            DamageOptions damage;
            damage.seed = 5;
            ASSERT_TRUE(InjectDamage(Env::Default(), path, kind, damage).applied);
        }
        const RepairReport report = RepairDatabase(Env::Default(), path);
        EXPECT_TRUE(report.lossless());
        EXPECT_FALSE(report.fixes.empty());
        const DatabaseHeader h = DecodeHeader(testkit::ReadAll(path));
        const size_t commit = h.version == Version::kJet3 ? 0x600 : 0xE00;
        // Everything but the users' commit words as the original had it (the engine writes
        // the standard values in the fields the damage hit, as Access does); entries 0 and 1
        // are kept, as every rewrite keeps them.
        EXPECT_TRUE(std::equal(h.raw.begin(), h.raw.begin() + commit + 4, original.raw.begin()));
        for (size_t entry = 2; entry < 256; ++entry) {
            EXPECT_EQ(h.raw[commit + 2 * entry], 0x00) << entry;
            EXPECT_EQ(h.raw[commit + 2 * entry + 1], 0x01) << entry;
        }
    }
}

TEST(RepairTest, UnrepairableFilesAreLeftAsTheyWere) {
    testkit::TempDir dir;
    // Nothing of the catalog left and no other page: the file is cut after the catalog's
    // definition, which is zeroed.
    std::string path = dir.Copy(kJet3Memo);
    const uint32_t page_size = PageSize(Version::kJet3);
    fs::resize_file(path, 3 * page_size);
    testkit::WriteAt(path, 2 * page_size, Bytes(page_size, 0));
    ExpectRepairFails(path, kCouldNotRepair);
    EXPECT_EQ(dir.Entries().size(), 1u);  // the copy, nothing left behind

    // Not a database at all, or another engine's; an encoded file whose page 0 is lost (the
    // page key went with it); an ACE file whose page 0 is lost, known by its catalog.
    path = dir / "text.mdb";
    std::ofstream(path) << std::string(5000, 'x');
    ExpectRepairFails(path, kUnrecognizedFormat);
    Bytes noise(40 * 4096);
    uint64_t x = 88172645463325252ull;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((x ^= x << 13, x ^= x >> 7, x ^= x << 17));
    path = dir / "noise.mdb";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(noise.data()),
               static_cast<std::streamsize>(noise.size()));
    ExpectRepairFails(path, kUnrecognizedFormat);
    noise[0] = 'P', noise[1] = 'K', noise[2] = 3, noise[3] = 4;  // a zip's first bytes
    testkit::WriteAt(path, 0, noise);
    ExpectRepairFails(path, kUnrecognizedFormat);
    path = EncodedSample(dir, Version::kJet4);
    testkit::WriteAt(path, 0, Bytes(PageSize(Version::kJet4) / 2, 0));
    ExpectRepairFails(path, kUnrecognizedFormat);
    for (const fs::path& ace : testkit::CorpusFiles()) {
        if (ace.extension() != ".accdb") continue;
        path = dir / ace.filename().string();
        fs::copy_file(ace, path);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        ExpectRepairFails(path, kUnrecognizedFormat);
        testkit::WriteAt(path, 0, Bytes(PageSize(Version::kJet4), 0));
        ExpectRepairFails(path, kUnrecognizedFormat);
    }
}

// A lost page 0 is rebuilt from the other pages: on the engine's files and every clear corpus
// file, page 0 zeroed gives back the version, code page and sort order the file had; the
// repaired file opens, with the password given to the repair.
TEST(RepairTest, PageZeroIsRebuiltFromTheOtherPages) {
    testkit::TempDir dir;
    std::vector<fs::path> files;
    for (const char* name : {kJet3Memo, kJet4}) files.push_back(dir.Copy(name));
    for (const fs::path& f : testkit::CorpusFiles())
        if (f.extension() == ".mdb") files.push_back(f);
    int rebuilt = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string password = testkit::CorpusPassword(file);
        DatabaseHeader original;
        try {
            original = testkit::OpenForTest(file.string(), password)->header();
        } catch (const JetError&) {
            continue;  // not a Jet 3 / Jet 4 file this engine reads
        }
        if (original.encryption_key != 0) continue;  // refused: see above
        const std::string path = dir / "lost-page-0.mdb";
        fs::remove(path);
        fs::copy_file(file, path);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        testkit::WriteAt(path, 0, Bytes(PageSize(original.version), 0));
        const RecoveredHeader r = RecoverHeader(Env::Default(), path, password);
        EXPECT_EQ(r.header.version, original.version);
        EXPECT_EQ(r.header.code_page, original.code_page);
        EXPECT_EQ(r.header.sort_order, original.sort_order);
        EXPECT_EQ(r.header.sort_version, original.sort_version);
        EXPECT_EQ(r.header.encryption_key, 0u);
        EXPECT_EQ(r.header.password, Utf8ToUtf16(password));
        if (file.parent_path() == dir.path()) {
            RepairOptions options;
            options.password = password;
            const RepairReport report = RepairDatabase(Env::Default(), path, options);
            EXPECT_TRUE(report.header_rebuilt);
            EXPECT_FALSE(report.lossless());
            EXPECT_EQ(report.rows_dropped, 0u) << report.Summary();
            EXPECT_TRUE(CheckFile(Env::Default(), path, CheckOptions{}, password).clean());
        }
        ++rebuilt;
    }
    std::printf("page 0 rebuilt from the other pages of %d files\n", rebuilt);
}

TEST(RepairTest, FileSystemErrorsAndLocks) {
    testkit::TempDir dir;
    ExpectRepairFails(dir / "none.mdb", kFileNotFound);
    // A protected database needs its password.
    const std::string locked = dir.Copy(testkit::kSampleWithPassword);
    ExpectRepairFails(locked, kNotValidPassword);
    RepairOptions options;
    options.password = "password";
    EXPECT_TRUE(RepairDatabase(Env::Default(), locked, options).lossless());
    EXPECT_NO_THROW(DatabaseView::Open(Env::Default(), locked, OpenOptions{"password", false}));

    // A file we may not write is not replaced, where the file system refuses the write (root
    // may write anything on POSIX, and so may Wine running as root: nothing to see there).
    {
        const std::string read_only = dir.Copy(kJet3Memo);
        fs::permissions(read_only, fs::perms::owner_read | fs::perms::group_read);
        if (!std::ofstream(read_only, std::ios::app)) ExpectRepairFails(read_only, kCannotOpenFile);
        fs::permissions(read_only, fs::perms::owner_all);
    }

    // A database someone has open is not repaired under them.
    const std::string path = dir.Copy(kJet4);
    {
        auto db = Database::Open(Env::Default(), path);
        ExpectRepairFails(path, kFileInUse);
    }
    EXPECT_NO_THROW(RepairDatabase(Env::Default(), path));
}

// A file-system failure at any step leaves the original byte-identical and no temporary file.
TEST(RepairTest, AFailureAtAnyStepLeavesTheOriginal) {
    testkit::TempDir dir;
    std::string path;
    // Random bytes that the checker sees: bytes landing where nothing reads them leave a
    // sound file, which a repair leaves as it is, with nothing to fail on the way.
    CheckOptions strict;
    strict.strict = true;
    DamageOptions damage;
    for (damage.seed = 3;; ++damage.seed) {
        ASSERT_LT(damage.seed, 100u) << "no seed damages the file where the checker looks";
        path = dir.Copy(kJet3Memo);
        ASSERT_TRUE(InjectDamage(Env::Default(), path, DamageKind::kRandomBytes, damage).applied);
        if (!CheckFile(Env::Default(), path, strict).clean()) break;
    }
    const Bytes before = testkit::ReadAll(path);
    FaultInjectingEnv env(Env::Default());
    {
        testkit::TempDir count;  // count the operations of one repair, on another copy
        const std::string other = count / kJet3Memo;
        fs::copy_file(path, other);
        RepairDatabase(&env, other);
    }
    const uint64_t operations = env.operations();
    ASSERT_GT(operations, 10u);
    // Every 40th step of the way, and each of the last few (the rename and the folder sync).
    std::vector<uint64_t> steps;
    for (uint64_t nth = 1; nth <= operations; nth += std::max<uint64_t>(1, operations / 40))
        steps.push_back(nth);
    for (uint64_t nth = operations - 3; nth <= operations; ++nth) steps.push_back(nth);
    int absorbed = 0;
    for (uint64_t nth : steps) {
        for (int error : {ENOSPC, EIO}) {
            env.Reset();
            env.FailAt(nth, error);
            bool failed = false;
            try {
                RepairDatabase(&env, path);
            } catch (const JetError&) {
                failed = true;  // the number depends on the step (open, write, rename)
            }
            if (!env.fired()) continue;
            if (failed) {
                EXPECT_TRUE(testkit::ReadAll(path) == before) << "operation " << nth;
                EXPECT_EQ(dir.Entries(), (std::vector<std::string>{kJet3Memo}))
                    << "operation " << nth;
            } else {
                // A failure the repair could absorb (a folder sync after the rename): the
                // file is the repaired one; start again from the damaged copy.
                ++absorbed;
                EXPECT_TRUE(CheckFile(Env::Default(), path).clean()) << "operation " << nth;
                fs::remove(path);
                testkit::WriteAt(path, 0, before);
            }
        }
    }
    EXPECT_GT(absorbed, 0) << "the folder sync after the rename was never failed";
}

// A table whose definition is gone cannot be read: it is reported lost and leaves no trace
// (catalog row, permissions) that would name another table.
TEST(RepairTest, ATableWhoseDefinitionIsLostIsReported) {
    testkit::TempDir dir;
    const std::string path = dir.Copy(kJet4);
    const TableOnPages t = FindTableOnPages(path);
    uint32_t id = 0;
    {
        auto db = DatabaseView::Open(Env::Default(), path);
        id = db->ReadTable(t.name).tdef_page;
    }
    DamageOptions damage;
    damage.page = id;
    ASSERT_TRUE(InjectDamage(Env::Default(), path, DamageKind::kZeroedPage, damage).applied);
    const RepairReport report = RepairDatabase(Env::Default(), path);
    ASSERT_EQ(report.lost_tables.size(), 1u) << report.Summary();
    EXPECT_NE(report.lost_tables[0].find(t.name), std::string::npos);
    EXPECT_EQ(FindTable(report, t.name), nullptr);
    EXPECT_FALSE(report.lossless());
    auto db = DatabaseView::Open(Env::Default(), path);
    EXPECT_EQ(db->catalog().FindTable(t.name), nullptr);
}

// A key repeated in a unique index (damage can make two rows equal): the second row is dropped
// and counted, so the rebuilt primary key holds.
TEST(RepairTest, RowsRepeatingAUniqueKeyAreDropped) {
    testkit::TempDir dir;
    const std::string path = dir / "keys.mdb";
    NewTable t = testkit::TableOf(
        "pessoas", {NewColumn("id", ColumnType::kLong), NewColumn("nome", ColumnType::kText, 20)});
    AddIndex(t.def, "PrimaryKey", {"id"}, IndexKind::kPrimaryKey);
    for (int i = 1; i <= 3; ++i)
        t.rows.push_back({int64_t{i}, u"pessoa " + std::u16string(1, char16_t(u'0' + i))});
    testkit::CreateOneTable(path, t);
    // Make row 3's id equal row 2's, in place.
    {
        auto db = DatabaseView::Open(Env::Default(), path);
        const TableDef def = db->ReadTable("pessoas");
        TableScanner scan(db->file(), def);
        while (scan.Next()) {
            const Row row = scan.Decode();
            if (std::get<int64_t>(row[0]) != 3) continue;
            const Bytes page = db->file().ReadPage(scan.data_location().page);
            const size_t start = DataPage(page, Version::kJet4).row_start(scan.data_location().row);
            const uint64_t at = uint64_t{scan.data_location().page} * 4096 + start + 2 +
                                def.columns[0].fixed_offset;
            db.reset();
            testkit::WriteAt(path, at, Bytes{2, 0, 0, 0});
            break;
        }
    }
    const RepairReport report = RepairDatabase(Env::Default(), path);
    const RepairedTable* r = FindTable(report, "pessoas");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->rows, 2u);
    EXPECT_EQ(r->rows_dropped, 1u);
    std::set<int64_t> ids;
    for (const Row& row :
         DatabaseView::Open(Env::Default(), path)
             ->ReadRows(DatabaseView::Open(Env::Default(), path)->ReadTable("pessoas")))
        ids.insert(std::get<int64_t>(row[0]));
    EXPECT_EQ(ids, (std::set<int64_t>{1, 2}));
}

}  // namespace
}  // namespace jet
