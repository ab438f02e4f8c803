// The database writer, checked through our own reader: fixtures and synthetic databases of
// both versions read back with exactly the rows written, indexes hold exactly the keys of the
// rows in order, output is byte-for-byte reproducible, and a failed write leaves nothing.
#include "jet/write/writer.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "jet/base/error.h"
#include "jet/format/index_page.h"
#include "jet/format/mdb_file.h"
#include "jet/format/tdef.h"
#include "jet/keys/index_key.h"
#include "jet/read/index_reader.h"
#include "jet/read/table_reader.h"
#include "jet/testing/fault_env.h"
#include "jet/testing/fixtures.h"
#include "jet/testing/sample.h"
#include "jet/write/new_database.h"
#include "jet/write/system_tables.h"
#include "tests/support/files.h"
#include "tests/support/rows.h"
#include "tests/support/samples.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

// The keys of `table`'s real index `i` as stored, in tree order, checked for tree shape.
std::vector<IndexEntry> StoredEntries(MdbFile& file, const TableDef& table, size_t i) {
    IndexWalkOptions options;
    options.page_count = file.page_count();
    options.owner = table.tdef_page;
    return ReadIndexEntries(
        file.version(), [&file](uint32_t p) { return file.ReadPage(p); },
        table.real_indexes[i].root_page, options);
}

// Expected entries of an index: the keys of the rows at their locations, in index order.
void ExpectIndexMatchesRows(MdbFile& file, const TableDef& table) {
    std::vector<std::pair<RowLocation, Row>> rows;
    ForEachRow(file, table,
               [&](const RowLocation& at, Row row) { rows.emplace_back(at, std::move(row)); });
    for (size_t i = 0; i < table.real_indexes.size(); ++i) {
        SCOPED_TRACE("index " + std::to_string(i) + " of " + table.name);
        IndexKeyEncoder encoder(file.version(), table, table.real_indexes[i]);
        struct Expected {
            Bytes key;
            RowLocation at;
        };
        std::vector<Expected> expected;
        for (const auto& [at, row] : rows)
            if (encoder.Includes(row)) expected.push_back({encoder.Encode(row), at});
        std::sort(expected.begin(), expected.end(), [](const Expected& a, const Expected& b) {
            return CompareIndexEntries(a.key, a.at.page, static_cast<uint8_t>(a.at.row), b.key,
                                       b.at.page, static_cast<uint8_t>(b.at.row)) < 0;
        });
        std::vector<IndexEntry> stored = StoredEntries(file, table, i);
        ASSERT_EQ(stored.size(), expected.size());
        for (size_t k = 0; k < stored.size(); ++k) {
            ASSERT_EQ(stored[k].key, expected[k].key) << "entry " << k;
            ASSERT_EQ(stored[k].data_page, expected[k].at.page) << "entry " << k;
            ASSERT_EQ(stored[k].data_row, expected[k].at.row) << "entry " << k;
        }
        EXPECT_EQ(table.real_indexes[i].entry_count, expected.size());
    }
}

TEST(Writer, FixturesReadBackWithTheRowsWritten) {
    testkit::TempDir dir;
    for (Version v : testkit::kVersions) {
        for (TavoFlag flag : {TavoFlag::kBoolean, TavoFlag::kInteger}) {
            SCOPED_TRACE(testkit::VersionName(v) +
                         (flag == TavoFlag::kBoolean ? " Boolean" : " Integer"));
            const std::string path = dir / "tavo.mdb";
            CreateTavoFixture(Env::Default(), path, v, flag);
            auto db = DatabaseView::Open(Env::Default(), path);
            EXPECT_EQ(db->file().version(), v);
            EXPECT_EQ(db->TableNames(), std::vector<std::string>{"tavo"});
            TableDef tavo = db->ReadTable("TAVO");  // names match without regard to case
            EXPECT_EQ(tavo.tdef_page, 6u);          // first table after the four system tables
            ASSERT_EQ(tavo.columns.size(), 3u);
            EXPECT_EQ(tavo.columns[2].type,
                      flag == TavoFlag::kBoolean ? ColumnType::kBoolean : ColumnType::kInteger);
            std::vector<Row> rows = db->ReadRows(tavo);
            ASSERT_EQ(rows.size(), static_cast<size_t>(kTavoRows));
            for (int i = 0; i < kTavoRows; ++i) {
                const Row& r = rows[static_cast<size_t>(i)];
                EXPECT_EQ(r[0], Value(int64_t{i + 1}));
                std::string name = "Tavo " + std::to_string(i + 1);
                EXPECT_EQ(r[1], Value(std::u16string(name.begin(), name.end())));
                const bool locked = (i + 1) % 2 == 0;
                if (flag == TavoFlag::kBoolean) {
                    EXPECT_EQ(r[2], Value(locked));
                } else {
                    EXPECT_EQ(r[2], Value(int64_t{locked ? -1 : 0}));
                }
            }
            EXPECT_EQ(tavo.row_count, static_cast<uint32_t>(kTavoRows));
            ExpectIndexMatchesRows(db->file(), tavo);
            // The catalog and permissions of a new database, as Jet writes them.
            ASSERT_NE(db->catalog().FindTable("tavo"), nullptr);
            EXPECT_EQ(db->catalog().FindTable("tavo")->id, 6u);
            EXPECT_EQ(db->catalog().FindById(kMSysDbId)->name, "MSysDb");
            EXPECT_EQ(db->ReadRows(db->ReadTable("MSysACEs")).size(), InitialAceRows(v).size() + 2);
            for (const char* system :
                 {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"})
                ExpectIndexMatchesRows(db->file(), db->ReadTable(system));
        }
    }
}

TEST(Writer, SameInputGivesTheSameBytes) {
    testkit::TempDir dir;
    for (Version v : testkit::kVersions) {
        CreateTavoFixture(Env::Default(), dir / "a.mdb", v, TavoFlag::kBoolean);
        CreateTavoFixture(Env::Default(), dir / "b.mdb", v, TavoFlag::kBoolean);
        EXPECT_EQ(testkit::ReadAll(dir / "a.mdb"), testkit::ReadAll(dir / "b.mdb"));
        SampleOptions options = testkit::Sample(v, 700, true);
        CreateSample(Env::Default(), dir / "c.mdb", options);
        // A tiny sort budget makes every index spill to sorted runs: same output.
        options.sort_memory = 4096;
        CreateSample(Env::Default(), dir / "d.mdb", options);
        Bytes c = testkit::ReadAll(dir / "c.mdb");
        EXPECT_EQ(c.size() % PageSize(v), 0u);
        EXPECT_EQ(c, testkit::ReadAll(dir / "d.mdb")) << testkit::VersionName(v);
    }
    // Nothing but the outputs is left behind (temporary file, sort runs).
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"a.mdb", "b.mdb", "c.mdb", "d.mdb"}));
}

TEST(Writer, SampleReadsBackRowForRowWithMatchingIndexes) {
    testkit::TempDir dir;
    testkit::ForEachSample(dir, 1500, [](const SampleOptions& options, const std::string& path) {
        auto db = DatabaseView::Open(Env::Default(), path);
        TableDef pedidos = db->ReadTable("pedidos");
        std::vector<Row> rows = db->ReadRows(pedidos);
        ASSERT_EQ(rows.size(), options.rows);
        for (uint64_t i = 0; i < options.rows; ++i)
            ASSERT_EQ(rows[i], SamplePedidosRow(i, options.rows)) << "pedidos row " << i;
        EXPECT_EQ(pedidos.row_count, options.rows);
        EXPECT_EQ(pedidos.autonumber, options.rows);
        TableDef clientes = db->ReadTable("clientes");
        std::vector<Row> crow = db->ReadRows(clientes);
        ASSERT_EQ(crow.size(), SampleClientesRows(options.rows));
        for (uint64_t i = 0; i < crow.size(); ++i)
            ASSERT_EQ(crow[i], SampleClientesRow(i)) << "clientes row " << i;
        ExpectIndexMatchesRows(db->file(), pedidos);
        ExpectIndexMatchesRows(db->file(), clientes);
    });
}

// A text index on long keys: few entries per page, so the tree has several levels.
TEST(Writer, DeepIndexOnLongTextKeys) {
    testkit::TempDir dir;
    for (Version v : testkit::kVersions) {
        SCOPED_TRACE(testkit::VersionName(v));
        NewTable t = testkit::TableOf("longkeys", {NewColumn("n", ColumnType::kLong),
                                                   NewColumn("k", ColumnType::kText, 255)});
        AddIndex(t.def, "k", {"k"});
        AddIndex(t.def, "PrimaryKey", {"n"}, IndexKind::kPrimaryKey);
        for (int i = 0; i < 1200; ++i) {
            std::u16string k(200, u'x');
            int x = (i * 7919) % 1200;  // not in key order
            for (int d = 0; d < 4; ++d)
                k[static_cast<size_t>(d)] = static_cast<char16_t>(u'a' + (x >> (3 * d)) % 8);
            t.rows.push_back({int64_t{i}, k});
        }
        testkit::CreateOneTable(dir / "deep.mdb", std::move(t), v);
        auto db = DatabaseView::Open(Env::Default(), dir / "deep.mdb");
        TableDef def = db->ReadTable("longkeys");
        ExpectIndexMatchesRows(db->file(), def);
        // Count the levels, down the tail pointers from the root.
        MdbFile& file = db->file();
        IndexPage p = DecodeIndexPage(v, file.ReadPage(def.real_indexes[0].root_page));
        int levels = 1;
        for (; !p.leaf(); ++levels) p = DecodeIndexPage(v, file.ReadPage(p.tail_page));
        EXPECT_GE(levels, 3);
    }
}

// Jet 3 rows past 256 bytes carry a jump table; Jet 4 rows near the maximum size.
TEST(Writer, LongRowsReadBack) {
    testkit::TempDir dir;
    for (Version v : testkit::kVersions) {
        SCOPED_TRACE(testkit::VersionName(v));
        NewTable t = testkit::TableOf(
            "wide", {NewColumn("a", ColumnType::kText, 255), NewColumn("n", ColumnType::kLong),
                     NewColumn("b", ColumnType::kText, 255), NewColumn("c", ColumnType::kText, 255),
                     NewColumn("m", ColumnType::kMemo), NewColumn("d", ColumnType::kText, 255)});
        for (int i = 0; i < 300; ++i) {
            auto text = [i](int len, char16_t c) {
                return std::u16string(static_cast<size_t>(len), c) +
                       std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
            };
            Row r = {text(i % 255, u'a'),
                     int64_t{i},
                     text((i * 3) % 255, u'b'),
                     (i % 5 == 0) ? Value{} : Value{text((i * 7) % 255, u'c')},
                     text((i * 11) % 2000, u'm'),
                     text((i * 13) % 254, u'é')};
            t.rows.push_back(std::move(r));
        }
        std::vector<Row> expected = t.rows;
        testkit::CreateOneTable(dir / "wide.mdb", std::move(t), v);
        EXPECT_EQ(testkit::ReadBack(dir / "wide.mdb", "wide"), expected);
    }
}

TEST(Writer, ValueTooLongForItsColumnFailsAndLeavesNothing) {
    testkit::TempDir dir;
    NewTable t = testkit::TableOf("t", {NewColumn("s", ColumnType::kText, 5)});
    t.rows.push_back({std::u16string(u"123456")});
    NewDatabase plan;
    plan.tables.push_back(std::move(t));
    try {
        CreateDatabase(Env::Default(), dir / "x.mdb", plan);
        FAIL() << "expected error 3163";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), kFieldTooSmall);
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(Writer, ExistingDestinationIsNeverOverwritten) {
    testkit::TempDir dir;
    const std::string path = dir / "x.mdb";
    CreateTavoFixture(Env::Default(), path, Version::kJet4, TavoFlag::kBoolean);
    const Bytes before = testkit::ReadAll(path);
    WriterOptions options;
    try {
        DatabaseWriter writer(Env::Default(), path, options);
        FAIL() << "expected error 3204";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), kDatabaseExists);
    }
    EXPECT_EQ(testkit::ReadAll(path), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"x.mdb"});
}

// Every file-system operation of a write fails in turn: the destination never appears and
// the error carries a Jet number.
TEST(Writer, FailureAtAnyStepLeavesNoDestination) {
    testkit::TempDir dir;
    FaultInjectingEnv env(Env::Default());
    SampleOptions options;
    options.rows = 300;
    options.sort_memory = 4096;  // sort runs too
    CreateSample(&env, dir / "count.mdb", options);
    const uint64_t operations = env.operations();
    std::filesystem::remove(dir / "count.mdb");
    ASSERT_GT(operations, 5u);
    for (uint64_t n = 1; n <= operations; ++n) {
        SCOPED_TRACE("failing operation " + std::to_string(n));
        env.Reset();
        env.FailAt(n, n % 2 ? ENOSPC : EIO);
        bool failed = false;
        try {
            CreateSample(&env, dir / "out.mdb", options);
        } catch (const JetError& e) {
            failed = true;
            EXPECT_TRUE(e.number() == kDiskFull || e.number() == kDiskOrNetworkError ||
                        e.number() == kNotValidPath || e.number() == kCannotOpenFile)
                << e.number() << " " << e.what();
        }
        if (!failed) {
            // Only a failure after the rename (syncing the folder) or while removing a spent
            // sort run may leave a complete output behind.
            EXPECT_TRUE(std::filesystem::exists(dir / "out.mdb"));
            std::filesystem::remove(dir / "out.mdb");
            continue;
        }
        // A failing sync of the folder happens after the rename: the file is complete then.
        if (std::filesystem::exists(dir / "out.mdb")) {
            EXPECT_EQ(testkit::ReadBack(dir / "out.mdb", "pedidos").size(), options.rows);
            std::filesystem::remove(dir / "out.mdb");
        }
        for (const auto& name : dir.Entries()) {
            // A temporary survives only when removing it was the failed operation.
            EXPECT_TRUE(name.find(".writing") != std::string::npos) << name;
            std::filesystem::remove(dir / name);
        }
    }
}

}  // namespace
}  // namespace jet
