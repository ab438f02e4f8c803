// Repair against damage, over real files: every kind of damage (damage.h), several seeds and
// positions, then repair; a repair must either succeed (checker clean, mdbtools reads every
// table, every row on undamaged pages kept with identical values) or fail with a Jet error and
// leave the file byte-identical (repair_sweep.h).
//
// The suite runs a representative subset on the engine's sample databases and, when present,
// the corpus subset (corpus.h). The full sweep over every
// readable corpus file is DISABLED_FullCorpusSweep; run it with
//   jet_tests --gtest_also_run_disabled_tests --gtest_filter='*FullCorpusSweep*'
// (REPAIR_SWEEP_POSITIONS sets the positions per kind, default 6; REPAIR_SWEEP_FILES a
// substring the file names must contain).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/mdb_file.h"
#include "jet/format/tdef.h"
#include "jet/read/catalog.h"
#include "jet/read/table_reader.h"
#include "jet/rebuild/repair.h"
#include "jet/write/system_tables.h"
#include "tests/support/corpus.h"
#include "tests/support/oracles.h"
#include "tests/support/rebuild_compare.h"
#include "tests/support/repair_sweep.h"
#include "tests/support/rows.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

// One damage of a sweep: a kind, its target and a seed.
struct Damage {
    DamageKind kind;
    uint32_t target;
    uint64_t seed;
};

struct Sweep {
    testkit::SweepTotals total;
    std::map<DamageKind, testkit::SweepTotals> by_kind;
    std::vector<std::string> problems;

    // Every kind at `positions` targets spread over the file, each with every seed.
    void Run(const fs::path& file, size_t positions, const std::vector<uint64_t>& seeds,
             bool mdbtools) {
        const std::string password = testkit::CorpusPassword(file);
        std::vector<Damage> damages;
        try {
            for (DamageKind kind : AllDamageKinds())
                for (uint32_t target :
                     testkit::SpreadTargets(file.string(), kind, positions, password))
                    for (uint64_t seed : seeds) damages.push_back({kind, target, seed});
        } catch (const JetError&) {
            return;  // not a readable Jet 3 / Jet 4 file: nothing to damage
        }
        RunDamages(file, damages, mdbtools ? 1 : 0);
    }

    // Each damage in turn on a fresh copy; mdbtools reads every `mdbtools_stride`-th output
    // (0: none).
    void RunDamages(const fs::path& file, const std::vector<Damage>& damages,
                    size_t mdbtools_stride) {
        const std::string password = testkit::CorpusPassword(file);
        testkit::Snapshot snapshot;
        try {
            snapshot = testkit::TakeSnapshot(file.string(), password);
        } catch (const JetError&) {
            return;  // not a readable Jet 3 / Jet 4 file: nothing to damage
        }
        testkit::TempDir work;
        testkit::TrialOptions options;
        options.password = password;
        for (size_t i = 0; i < damages.size(); ++i) {
            const auto [kind, target, seed] = damages[i];
            options.mdbtools = mdbtools_stride > 0 && i % mdbtools_stride == 0;
            const testkit::Trial t =
                testkit::RunTrial(file.string(), snapshot, work.str(), kind, seed, target, options);
            total.Add(t);
            by_kind[kind].Add(t);
            const std::string where = t.file + " " + DamageKindName(kind) + " target " +
                                      std::to_string(target) + " seed " + std::to_string(seed);
            if (!t.ok)
                problems.push_back(where + ": " + t.problem);
            else if (t.applied && t.kept_rows < t.intact_rows)
                std::printf("  rows lost: %s: %llu of %llu kept\n", where.c_str(),
                            static_cast<unsigned long long>(t.kept_rows),
                            static_cast<unsigned long long>(t.intact_rows));
            if (t.applied && !t.user_row_damaged && !(t.repaired && t.user_tables_short == 0))
                std::printf("  user tables not all kept: %s%s\n", where.c_str(),
                            t.repaired ? "" : (" (error " + std::to_string(t.error) + ")").c_str());
        }
    }

    void Print() const {
        auto line = [](const char* name, const testkit::SweepTotals& s) {
            std::printf(
                "%-20s trials %5llu  n/a %4llu  repaired %5llu  clean failures %4llu  "
                "bad %3llu  rows kept %llu/%llu (%.2f%%)\n",
                name, static_cast<unsigned long long>(s.trials),
                static_cast<unsigned long long>(s.not_applicable),
                static_cast<unsigned long long>(s.repaired),
                static_cast<unsigned long long>(s.clean_failures),
                static_cast<unsigned long long>(s.bad),
                static_cast<unsigned long long>(s.kept_rows),
                static_cast<unsigned long long>(s.intact_rows), 100.0 * s.share_kept());
        };
        for (const auto& [kind, s] : by_kind) line(DamageKindName(kind), s);
        line("all", total);
        std::printf(
            "damage that hit no user row: %llu trials, repaired with every user table "
            "kept in %llu\n",
            static_cast<unsigned long long>(total.no_user_row_hit),
            static_cast<unsigned long long>(total.every_user_table_kept));
        for (const std::string& p : problems) std::printf("PROBLEM %s\n", p.c_str());
    }
};

// Every table's rows (pages past the end of a cut file skipped), by table name.
std::map<std::string, std::multiset<std::string>> AllRows(const std::string& path,
                                                          const std::string& password) {
    return testkit::AllRowImages(path, password, ScanOptions{true});
}

// Repairing a file that is not damaged changes no row: every readable corpus file keeps every
// table with exactly its rows (the tables holding object ids keep their row counts), and an
// encoded file stays encoded. A file known to be damaged keeps at least every row a salvaging
// read sees (the repair may find more, on pages its table owns that its map lost).
TEST(CorpusRepairTest, UndamagedFilesKeepEveryRow) {
    if (!testkit::HaveCorpus()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    const auto damaged = testkit::ReadList("corpus-check-exceptions.tsv");
    testkit::TempDir work;
    int files = 0;
    int encoded = 0;
    uint64_t unmapped = 0;  // rows on pages outside their table's map: left out, no loss
    for (const fs::path& file : testkit::CorpusFiles()) {
        const bool known_damaged = damaged.count(file.filename().string()) > 0;
        const std::string password = testkit::CorpusPassword(file);
        std::map<std::string, std::multiset<std::string>> before;
        try {
            before = AllRows(file.string(), password);
        } catch (const JetError&) {
            continue;  // not a Jet 3 / Jet 4 file we read
        }
        SCOPED_TRACE(file.filename().string());
        const std::string path = work / file.filename().string();
        fs::copy_file(file, path);
        // The corpus is read-only; Windows would neither write nor delete such a copy.
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        RepairOptions options;
        options.password = password;
        const uint32_t key = testkit::OpenForTest(path, password)->header().encryption_key;
        const RepairReport report = RepairDatabase(Env::Default(), path, options);
        // An encoded file stays encoded under its key, and the outside readers read it as the
        // original (mdbtools: the golden dump).
        testkit::ExpectStoredWithKey(path, key, password);
        if (key != 0) {
            ++encoded;
            const fs::path golden =
                testkit::CorpusDir() / "golden" / (file.filename().string() + ".dump.txt");
            if (testkit::HaveMdbTools() && fs::exists(golden)) {
                std::ifstream in(golden, std::ios::binary);
                const std::string expected((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
                EXPECT_EQ(testkit::MdbExportDump(path), expected) << "mdb-export";
            }
            if (testkit::HaveNodeOracle()) {
                EXPECT_EQ(testkit::NodeDump(path, password),
                          testkit::NodeDump(file.string(), password))
                    << "mdb-reader";
            }
            std::printf("  %s: encoded (key %u), repaired: %llu rows, page key %u\n",
                        file.filename().string().c_str(), key,
                        static_cast<unsigned long long>(report.rows),
                        testkit::OpenForTest(path, password)->header().encryption_key);
        }
        EXPECT_EQ(report.rows_dropped, 0u) << report.Summary();
        EXPECT_EQ(report.values_cut, 0u) << report.Summary();
        EXPECT_TRUE(report.lost_tables.empty()) << report.Summary();
        unmapped += report.rows_unmapped;
        const auto after = AllRows(path, password);
        EXPECT_EQ(before.size(), after.size());
        for (const auto& [table, rows] : before) {
            auto it = after.find(table);
            ASSERT_NE(it, after.end()) << table;
            if (testkit::HoldsObjectIds(table))
                EXPECT_EQ(it->second.size(), rows.size()) << table;
            else if (known_damaged)
                EXPECT_TRUE(
                    std::includes(it->second.begin(), it->second.end(), rows.begin(), rows.end()))
                    << table;
            else
                EXPECT_TRUE(it->second == rows) << table;
        }
        fs::remove(path);
        ++files;
    }
    std::printf(
        "%d corpus files repaired without changing a row, %d of them encoded (%llu rows on "
        "pages outside their table's map left out)\n",
        files, encoded, static_cast<unsigned long long>(unmapped));
    EXPECT_GE(encoded, 1);
}

// The suite's subset, every kind at two positions: the engine's samples (Jet 3 and Jet 4, memo
// chains, indexes, a password) always, and the corpus subset (overflow rows, deleted columns,
// files Access wrote) when present.
TEST(CorpusRepairTest, EveryKindOfDamageOnTheTestFiles) {
    const bool mdbtools = testkit::HaveMdbTools();
    testkit::TempDir samples;
    std::vector<fs::path> files;
    for (const char* name :
         {testkit::kSampleJet3, testkit::kSampleJet4, testkit::kSampleWithPassword}) {
        files.push_back(samples.path() / name);
        ASSERT_TRUE(testkit::PutTestFile(name, files.back()));
    }
    for (const fs::path& file : testkit::CorpusSubsetFiles()) files.push_back(file);
    Sweep sweep;
    for (const fs::path& file : files) sweep.Run(file, 2, {7}, mdbtools);
    sweep.Print();
    EXPECT_TRUE(sweep.problems.empty());
    EXPECT_GT(sweep.total.repaired, sweep.total.trials / 2);
    // Rows on undamaged pages come back; losses beyond them would be a salvage fault. (The
    // sweep prints any loss; a handful of rows may depend on pages the snapshot cannot see.)
    EXPECT_GE(sweep.total.share_kept(), 0.99);
}

// Damage where Jet writes most: page 0 zeroed and torn (seeds pick either half), and every
// `stride`-th of pages 1..16 zeroed (the global map, the catalog, the system tables).
std::vector<Damage> FirstPages(uint32_t stride) {
    std::vector<Damage> damages = {{DamageKind::kZeroedPage, 0, 1},
                                   {DamageKind::kTornPage, 0, 1},
                                   {DamageKind::kTornPage, 0, 2}};
    for (uint32_t p = 1; p <= 16; p += stride) damages.push_back({DamageKind::kZeroedPage, p, 1});
    return damages;
}

// Every page of the engine's own files zeroed in turn, every other one torn (Jet 3 and Jet 4:
// every system table the engine writes, indexes, long values), and the first pages of the corpus
// subset (relationships, queries, Access's own tables) at a stride: each repair succeeds, is clean,
// keeps every row not on the damaged page and, where no user row was hit, every user table.
TEST(CorpusRepairTest, LostSystemPagesAndPageZero) {
    const bool mdbtools = testkit::HaveMdbTools();
    testkit::TempDir samples;
    Sweep sweep;
    for (const char* name : {testkit::kSampleJet3, testkit::kSampleJet4}) {
        const fs::path file = samples.path() / name;
        ASSERT_TRUE(testkit::PutTestFile(name, file));
        const uint32_t pages = testkit::OpenForTest(file.string(), "")->page_count();
        std::vector<Damage> damages;
        for (uint32_t p = 0; p < pages; ++p) {
            damages.push_back({DamageKind::kZeroedPage, p, p});
            if (p % 2 == 0) damages.push_back({DamageKind::kTornPage, p, p});
        }
        sweep.RunDamages(file, damages, mdbtools ? 10 : 0);
    }
    for (const fs::path& file : testkit::CorpusSubsetFiles())
        sweep.RunDamages(file, FirstPages(5), mdbtools ? 3 : 0);
    sweep.Print();
    EXPECT_TRUE(sweep.problems.empty());
    EXPECT_EQ(sweep.total.every_user_table_kept, sweep.total.no_user_row_hit);
    EXPECT_EQ(sweep.total.clean_failures, 0u);
}

// Every one of Access's own tables in the corpus reads back as one of the layouts Access writes
// for it (AccessSystemTableDefs): columns (names, types, lengths, flags, numbers, places) and
// index structures (columns, order, flags). Named foreign keys are the file's own and left out.
TEST(CorpusRepairTest, AccessTablesHaveTheLayoutsAccessWrites) {
    if (!testkit::HaveCorpus()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    // A variable column's fixed offset is left over from whatever Access had there: not kept.
    auto shape = [](const TableDef& t) {
        std::string s;
        for (const ColumnDef& c : t.columns)
            s += c.name + ":" + std::to_string(static_cast<int>(c.type)) + ":" +
                 std::to_string(c.length) + ":" + std::to_string(c.flags) + ":" +
                 std::to_string(c.ext_flags) + ":" + std::to_string(c.col_num) + ":" +
                 std::to_string(c.fixed() ? c.fixed_offset : c.var_index) + " ";
        for (const RealIndexDef& r : t.real_indexes) {
            s += "[";
            for (const IndexColumn& c : r.columns)
                s += std::to_string(c.col_num) + (c.ascending ? "+" : "-");
            s += std::to_string(r.flags) + "]";
        }
        for (const LogicalIndexDef& l : t.indexes)
            if (l.kind != IndexKind::kForeignKey)
                s += " " + l.name + "=" + std::to_string(l.real_index) + "/" +
                     std::to_string(static_cast<int>(l.kind));
        return s;
    };
    size_t matched = 0;
    for (const fs::path& file : testkit::CorpusFiles()) {
        if (file.extension() != ".mdb") continue;
        std::unique_ptr<MdbFile> mdb;
        try {
            mdb = testkit::OpenForTest(file.string(), testkit::CorpusPassword(file));
        } catch (const JetError&) {
            continue;  // not a Jet 3 / Jet 4 file this engine reads
        }
        const Catalog catalog = Catalog::Read(*mdb);
        for (const CatalogEntry* e : catalog.Tables(true)) {
            const std::vector<TableDef> layouts = AccessSystemTableDefs(e->name, mdb->version());
            if (layouts.empty()) continue;
            TableDef def = ReadTableDef(*mdb, e->tdef_page());
            const std::string actual = shape(def);
            std::string known;
            for (const TableDef& l : layouts) known += "\n  " + shape(l);
            bool found = false;
            for (const TableDef& l : layouts) found |= shape(l) == actual;
            EXPECT_TRUE(found) << file.filename().string() << " " << e->name << ":\n  " << actual
                               << "\nknown:" << known;
            matched += found ? 1 : 0;
        }
    }
    std::printf("%zu of Access's tables matched a known layout\n", matched);
}

// The definition of each of Access's own tables lost in turn (its first definition page
// zeroed), in the corpus subset: the repair gives the table the layout Access writes for it
// that its rows fit, keeps every row (renumbered ids aside, the same values), and mdbtools
// reads the result.
TEST(CorpusRepairTest, AccessTablesWithoutTheirDefinitionKeepTheirRows) {
    const bool mdbtools = testkit::HaveMdbTools();
    testkit::TempDir work;
    size_t trials = 0;
    for (const fs::path& file : testkit::CorpusSubsetFiles()) {
        const std::string password = testkit::CorpusPassword(file);
        const testkit::Snapshot before = testkit::TakeSnapshot(file.string(), password);
        const Version version = testkit::OpenForTest(file.string(), password)->version();
        for (const testkit::SnapshotTable& t : before.tables) {
            if (AccessSystemTableDefs(t.name, version).empty()) continue;
            SCOPED_TRACE(file.filename().string() + " " + t.name);
            const std::string path = work / file.filename().string();
            fs::copy_file(file, path, fs::copy_options::overwrite_existing);
            DamageOptions damage;
            damage.page = t.id;
            damage.password = password;
            const auto report = testkit::DamageThenRepair(path, DamageKind::kZeroedPage, damage);
            ASSERT_TRUE(report.has_value());
            const RepairedTable* repaired = nullptr;
            for (const RepairedTable& r : report->tables)
                if (NamesEqual(r.name, t.name)) repaired = &r;
            ASSERT_NE(repaired, nullptr) << report->Summary();
            EXPECT_TRUE(repaired->standard_definition);
            EXPECT_EQ(repaired->rows_dropped, 0u) << report->Summary();
            const testkit::Snapshot after = testkit::TakeSnapshot(path, password);
            std::vector<std::string> was, is;
            for (const testkit::SnapshotRow& r : t.rows) was.push_back(r.image);
            for (const testkit::SnapshotTable& a : after.tables)
                if (NamesEqual(a.name, t.name))
                    for (const testkit::SnapshotRow& r : a.rows) is.push_back(r.image);
            EXPECT_EQ(is.size(), was.size());
            if (!testkit::HoldsObjectIds(t.name)) {
                std::sort(was.begin(), was.end());
                std::sort(is.begin(), is.end());
                EXPECT_TRUE(is == was);
            }
            std::string why;
            if (mdbtools) {
                EXPECT_TRUE(testkit::MdbToolsReadsEveryTable(path, why)) << why;
            }
            ++trials;
        }
    }
    if (trials == 0) GTEST_SKIP() << "no file of the corpus subset at " << testkit::CorpusDir();
}

// Every data page of the catalog lost: the tables come back without their names, and those a
// relationship names by their columns get that name back; each such name is the one the table
// had (its definition page tells).
TEST(CorpusRepairTest, RelationshipsGiveLostTableNamesBack) {
    testkit::TempDir work;
    size_t named = 0, files = 0;
    for (const char* name : {"jet4-northwind-gabriellogue.mdb", "mdbtools-nwind.mdb",
                             "jet3-pt-banco-fsf.mdb", "jackcess-V2003-testUnicodeCompV2003.mdb"}) {
        if (!testkit::HaveTestFile(name)) continue;
        SCOPED_TRACE(name);
        const std::string path = work / name;
        ASSERT_TRUE(testkit::PutTestFile(name, path));
        std::map<std::string, uint32_t> pages;  // the original tables' definition pages
        std::vector<uint32_t> catalog_pages;
        {
            auto file = testkit::OpenForTest(path, "");
            const Catalog catalog = Catalog::Read(*file);
            for (const CatalogEntry& e : catalog.entries())
                if (e.is_local_table()) pages[e.name] = e.tdef_page();
            Bytes page;
            for (uint32_t p = 1; p < file->page_count(); ++p) {
                file->ReadPage(p, page);
                if (IsDataPageOf(page, kCatalogPage)) catalog_pages.push_back(p);
            }
        }
        for (uint32_t p : catalog_pages) {
            DamageOptions damage;
            damage.page = p;
            ASSERT_TRUE(
                InjectDamage(Env::Default(), path, DamageKind::kZeroedPage, damage).applied);
        }
        const RepairReport report = RepairDatabase(Env::Default(), path);
        for (const RepairedTable& t : report.tables) {
            if (!t.recovered || t.name.rfind("RecoveredTable_", 0) == 0) continue;
            ASSERT_TRUE(pages.count(t.name)) << t.name;
            EXPECT_EQ(pages.at(t.name), t.old_id) << t.name;
            named += testkit::IsSystemName(t.name) ? 0 : 1;
        }
        ++files;
    }
    if (files == 0) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    EXPECT_GT(named, 0u);  // user tables among them
}

// The first 17 pages of every corpus file, one at a time (the long form of the test above):
//   jet_tests --gtest_also_run_disabled_tests --gtest_filter='*FirstPagesOfEveryFile*'
TEST(CorpusRepairTest, DISABLED_FirstPagesOfEveryFile) {
    if (!testkit::HaveCorpus()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    Sweep sweep;
    for (const fs::path& file : testkit::CorpusFiles()) {
        if (file.extension() != ".mdb") continue;
        std::vector<Damage> damages = FirstPages(1);
        // An encoded file whose page 0 is lost has lost its key with it: refused, by design.
        try {
            if (testkit::OpenForTest(file.string(), testkit::CorpusPassword(file))
                    ->header()
                    .encryption_key != 0)
                damages.erase(damages.begin(), damages.begin() + 3);
        } catch (const JetError&) {
            continue;  // not a Jet 3 / Jet 4 file this engine reads
        }
        sweep.RunDamages(file, damages, testkit::HaveMdbTools() ? 1 : 0);
    }
    sweep.Print();
    EXPECT_TRUE(sweep.problems.empty());
    EXPECT_EQ(sweep.total.every_user_table_kept, sweep.total.no_user_row_hit);
}

TEST(CorpusRepairTest, DISABLED_FullCorpusSweep) {
    if (!testkit::HaveCorpus()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    const char* positions_env = std::getenv("REPAIR_SWEEP_POSITIONS");
    const char* files_env = std::getenv("REPAIR_SWEEP_FILES");
    const size_t positions = positions_env ? std::strtoul(positions_env, nullptr, 10) : 6;
    const bool mdbtools = testkit::HaveMdbTools();
    Sweep sweep;
    for (const fs::path& file : testkit::CorpusFiles()) {
        if (files_env && file.filename().string().find(files_env) == std::string::npos) continue;
        if (file.extension() != ".mdb") continue;
        std::printf("%s\n", file.filename().string().c_str());
        std::fflush(stdout);
        sweep.Run(file, positions, {1, 2}, mdbtools);
    }
    sweep.Print();
    EXPECT_TRUE(sweep.problems.empty());
}

}  // namespace
}  // namespace jet
