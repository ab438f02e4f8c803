// Compaction on databases made for the purpose (the corpus runs in corpus_compact_test.cpp):
// bloated files of both versions shrink to their live rows, AutoNumber seeds are kept or
// raised, the page encoding is kept unless asked otherwise, ids and their references are
// renumbered together,
// and every failure (existing destination, missing or damaged source, wrong password, source in
// use, a file-system error at any step) leaves no destination and an unchanged source.
#include "jet/rebuild/compact.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include <cerrno>
#include <cstring>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/format/data_page.h"
#include "jet/format/header.h"
#include "jet/read/content_checksum.h"
#include "jet/rebuild/id_remap.h"
#include "jet/rebuild/rebuild.h"
#include "jet/testing/fault_env.h"
#include "jet/testing/fixtures.h"
#include "jet/testing/sample.h"
#include "jet/write/system_tables.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/oracles.h"
#include "tests/support/rebuild_compare.h"
#include "tests/support/rows.h"
#include "tests/support/samples.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

int ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const JetError& e) {
        return e.number();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The pieces: content digests, id remapping, page 0.

TEST(ContentChecksum, SameRowsInAnyOrderAndNothingElse) {
    const Row a{int64_t{1}, std::u16string(u"x"), std::monostate{}};
    const Row b{int64_t{2}, std::u16string(u""), Bytes{1, 2, 3}};
    ContentChecksum ab, ba;
    ab.Add(a);
    ab.Add(b);
    ba.Add(b);
    ba.Add(a);
    EXPECT_EQ(ab, ba);
    EXPECT_EQ(ab.rows(), 2u);

    // Each of these differs from `a` in one way a lossy copy could.
    const std::vector<Row> near{
        {int64_t{1}, std::u16string(u"x"), std::u16string(u"")},  // null became empty
        {int64_t{1}, std::u16string(u"X"), std::monostate{}},     // text changed
        {1.0, std::u16string(u"x"), std::monostate{}},            // Long became Double
        {int64_t{1}, std::u16string(u"x")},                       // a column lost
        {int64_t{1}, std::u16string(u"x"), Bytes{}},              // null became empty binary
    };
    ContentChecksum one;
    one.Add(a);
    for (const Row& r : near) {
        ContentChecksum other;
        other.Add(r);
        EXPECT_NE(one, other) << other.ToString();
    }
    ContentChecksum twice;
    twice.Add(a);
    twice.Add(a);
    EXPECT_NE(twice, one);
}

// Long runs go through lanes of their own: around every lane and piece boundary, a flipped
// byte, a byte more or less, and two pieces or stripes swapped all change the fingerprint.
TEST(ContentChecksum, LongRunsSeeEveryChange) {
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    auto next = [&seed] {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        return static_cast<uint8_t>(seed >> 24);
    };
    auto fingerprint = [](const Bytes& b) { return BytesFingerprint(b.data(), b.size()); };
    for (size_t n : {0,  1,  15,  16,  17,  31,  32,  63,  64,  65,  79,
                     80, 96, 111, 112, 127, 128, 129, 191, 200, 4099}) {
        Bytes bytes(n);
        for (uint8_t& b : bytes) b = next();
        const uint64_t original = fingerprint(bytes);
        EXPECT_EQ(fingerprint(Bytes(bytes)), original);
        for (size_t at = 0; at<n; at += n> 200 ? 37 : 1) {
            Bytes changed = bytes;
            changed[at] ^= static_cast<uint8_t>(1u << (at % 8));
            EXPECT_NE(fingerprint(changed), original) << n << " bytes, byte " << at;
        }
        Bytes longer = bytes;
        longer.push_back(0);
        EXPECT_NE(fingerprint(longer), original) << n;
        if (n > 0) {
            EXPECT_NE(fingerprint(Bytes(bytes.begin(), bytes.end() - 1)), original) << n;
        }
        for (size_t piece : {8, 16, 64}) {
            if (n < 2 * piece) continue;
            Bytes swapped = bytes;
            std::swap_ranges(swapped.begin(), swapped.begin() + piece, swapped.end() - piece);
            if (swapped != bytes) {
                EXPECT_NE(fingerprint(swapped), original) << n << " " << piece;
            }
        }
    }
    // Text of one repeated character, as memo fields hold: the lanes must not lose its length.
    std::u16string text(1000, u'a');
    const Row one_thousand{text};
    text.resize(1008, u'a');
    EXPECT_NE(RowFingerprint(one_thousand), RowFingerprint(Row{text}));
}

TEST(IdRemap, TablesMoveStaleReferencesStayStaleOthersStay) {
    IdRemap remap;
    remap.Add(9, 2);
    remap.Add(40, 7);
    EXPECT_EQ(remap.Map(9), 2u);
    EXPECT_EQ(remap.Map(40), 7u);
    EXPECT_EQ(remap.Map(0x0F000001u), 0x0F000001u);  // container
    EXPECT_EQ(remap.Map(0x80000005u), 0x80000005u);  // synthetic
    EXPECT_EQ(remap.Map(15), 15u);                   // stale, names nothing in the output
    // Stale, and would name a table of the output: moved past every page.
    EXPECT_EQ(remap.Map(7), 0x00FFFFFFu - 7);
    EXPECT_FALSE(remap.Find(7));
}

TEST(IdRemap, RewritesTheIdColumnsOfTheTablesThatHoldIds) {
    IdRemap remap;
    remap.Add(12, 6);
    TableDef aces = SystemTableDef(SystemTable::kAces, Version::kJet4);
    aces.name = "MSysACEs";
    RowIdRewriter rewriter(aces, remap);
    ASSERT_TRUE(rewriter.active());
    Row row = AceRow(12, Bytes{2, 3}, 1048575, false);
    Row synthetic = AceRow(0x80000002u, Bytes{2, 3}, 1048575, false);
    const Row synthetic_before = synthetic;
    EXPECT_EQ(rewriter.Rewrite(row), 1u);
    EXPECT_EQ(std::get<int64_t>(row[0]), 6);
    EXPECT_EQ(rewriter.Rewrite(synthetic), 0u);
    EXPECT_EQ(synthetic, synthetic_before);

    TableDef user = SampleClientesDef();
    user.name = "clientes";
    EXPECT_FALSE(RowIdRewriter(user, remap).active());

    TableDef with_fk = SamplePedidosDef();
    LogicalIndexDef fk;
    fk.name = "clientespedidos";
    fk.kind = IndexKind::kForeignKey;
    fk.rel_table_page = 12;
    with_fk.indexes.push_back(fk);
    EXPECT_TRUE(RemapForeignKeys(with_fk, remap));
    EXPECT_EQ(with_fk.indexes.back().rel_table_page, 6u);
    with_fk.indexes.back().rel_table_page = 99;  // a table that does not exist
    std::string dangling;
    EXPECT_FALSE(RemapForeignKeys(with_fk, remap, &dangling));
    EXPECT_EQ(dangling, "clientespedidos");
}

TEST(RebuiltHeader, PageKeyAsAskedCleanCommitWordsEverythingElseKept) {
    for (Version v : testkit::kVersions) {
        DatabaseHeader clear = NewDatabaseHeader(v);
        const size_t commit = v == Version::kJet3 ? 0x600 : 0xE00;
        clear.raw[commit] = 0x1D;      // entry 0 (as in the source)
        clear.raw[commit + 6] = 0x2C;  // entry 3: a user left it marked
        clear.raw[commit + 7] = 0x02;
        clear.raw[0x30] = 0x5A;  // an unknown byte
        DatabaseHeader coded = clear;
        coded.encryption_key = 0x1234;
        // A clear source gets a key of its own page 0: the same for the same page 0, whatever
        // its commit words, and another for another page 0.
        const uint32_t made = NewEncryptionKey(clear);
        EXPECT_NE(made, 0u);
        DatabaseHeader closed = RebuiltHeader(clear);
        EXPECT_EQ(NewEncryptionKey(closed), made);
        closed.raw[0x30] = 0x5B;
        EXPECT_NE(NewEncryptionKey(closed), made);

        const struct {
            const DatabaseHeader& source;
            PageEncoding encoding;
            uint32_t key;
        } cases[] = {
            {clear, PageEncoding::kKeep, 0},       {clear, PageEncoding::kDecrypt, 0},
            {clear, PageEncoding::kEncrypt, made}, {coded, PageEncoding::kKeep, 0x1234},
            {coded, PageEncoding::kDecrypt, 0},    {coded, PageEncoding::kEncrypt, 0x1234},
        };
        for (const auto& c : cases) {
            const DatabaseHeader out = RebuiltHeader(c.source, c.encoding);
            EXPECT_EQ(out.encryption_key, c.key);
            EXPECT_EQ(out.raw[commit], 0x1D);
            EXPECT_EQ(out.raw[commit + 6], 0x00);
            EXPECT_EQ(out.raw[commit + 7], 0x01);
            EXPECT_EQ(out.raw[0x30], 0x5A);
            Bytes a = c.source.raw, b = out.raw;
            for (size_t i = commit + 4; i < commit + 512; ++i) a[i] = b[i] = 0;
            EXPECT_EQ(a, b);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Whole compactions.

// A bloated sample shrinks to its live rows, reads back row for row, passes the strict checker
// and compacts again to the same bytes; a tiny sort budget makes every index spill to runs.
TEST(Compact, BloatedSampleShrinksToItsLiveRows) {
    for (Version v : testkit::kVersions) {
        SCOPED_TRACE(testkit::VersionName(v));
        testkit::TempDir dir;
        SampleOptions sample = testkit::Sample(v, 2000, true);
        CreateSample(Env::Default(), dir / "src.mdb", sample);
        const Bytes source_bytes = testkit::ReadAll(dir / "src.mdb");

        CompactOptions options;
        options.sort_memory = 16 * 1024;
        std::vector<std::pair<uint64_t, uint64_t>> progress;
        options.progress = [&](uint64_t done, uint64_t total) {
            progress.emplace_back(done, total);
        };
        CompactReport report;
        CompactDatabase(Env::Default(), dir / "src.mdb", dir / "out.mdb", options, &report);

        EXPECT_EQ(testkit::ReadAll(dir / "src.mdb"), source_bytes);
        // Deleted rows and free pages: about a sixth of this sample's pages.
        EXPECT_LT(report.pages_after * 10, report.pages_before * 9) << "at least a tenth smaller";
        EXPECT_EQ(std::filesystem::file_size(dir / "out.mdb"),
                  uint64_t{report.pages_after} * PageSize(v));
        for (const char* table : {"pedidos", "clientes"}) {
            EXPECT_EQ(testkit::ReadBack(dir / "out.mdb", table),
                      testkit::ReadBack(dir / "src.mdb", table))
                << table;
        }
        bool found = false;
        for (const CompactedTable& t : report.tables) {
            if (t.name != "pedidos") continue;
            found = true;
            EXPECT_EQ(t.rows, sample.rows);
        }
        EXPECT_TRUE(found);

        CheckOptions strict;
        strict.strict = true;
        const CheckReport checked = CheckFile(Env::Default(), dir / "out.mdb", strict);
        EXPECT_TRUE(checked.clean()) << FormatReport(checked);

        // Progress: never backwards, never past the total, and complete at the end.
        ASSERT_FALSE(progress.empty());
        for (size_t i = 1; i < progress.size(); ++i) {
            EXPECT_GE(progress[i].first, progress[i - 1].first);
            EXPECT_LE(progress[i].first, progress[i].second);
        }
        EXPECT_EQ(progress.back().first, progress.back().second);

        CompactDatabase(Env::Default(), dir / "out.mdb", dir / "again.mdb");
        EXPECT_EQ(testkit::ReadAll(dir / "again.mdb"), testkit::ReadAll(dir / "out.mdb"));
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"again.mdb", "out.mdb", "src.mdb"}));
    }
}

// Offset of the AutoNumber seed in a table's first definition page.
size_t SeedOffset(Version v) {
    return v == Version::kJet3 ? 0x10 : 0x14;
}

TEST(Compact, AutoNumberSeedIsKeptOrRaisedNeverLowered) {
    for (Version v : testkit::kVersions) {
        testkit::TempDir dir;
        SampleOptions sample = testkit::Sample(v, 50);
        CreateSample(Env::Default(), dir / "src.mdb", sample);
        auto find = [&](const std::string& path) {
            auto db = DatabaseView::Open(Env::Default(), path);
            return db->ReadTable("pedidos");
        };
        const TableDef pedidos = find(dir / "src.mdb");
        ASSERT_EQ(pedidos.autonumber, 50u);

        // Seed above every value (rows deleted at the end of the table): kept.
        Bytes bytes = testkit::ReadAll(dir / "src.mdb");
        const size_t at = size_t{pedidos.tdef_page} * PageSize(v) + SeedOffset(v);
        PutU32(bytes, at, 900);
        testkit::WriteAll(dir / "high.mdb", bytes);
        CompactDatabase(Env::Default(), dir / "high.mdb", dir / "high-out.mdb");
        EXPECT_EQ(find(dir / "high-out.mdb").autonumber, 900u);

        // Seed below the largest value (a stale seed): raised, so Jet never hands out a
        // number that is already there.
        PutU32(bytes, at, 3);
        testkit::WriteAll(dir / "low.mdb", bytes);
        CompactDatabase(Env::Default(), dir / "low.mdb", dir / "low-out.mdb");
        EXPECT_EQ(find(dir / "low-out.mdb").autonumber, 50u);
    }
}

// Page encoding. The writer's encoded sample is its clear sample with every page after page 0
// encoded. Compacting either, by default or asking for clear or encoded pages, gives the pages
// of the clear sample's compaction, stored as asked, verified, read by mdbtools and mdb-reader
// (when encoded) as the clear sample, and compacting an output again gives the same bytes.
TEST(Compact, PageEncodingIsKeptUnlessAskedOtherwise) {
    constexpr uint32_t kKey = 0x5EED1234u;
    for (Version v : testkit::kVersions) {
        SCOPED_TRACE(testkit::VersionName(v));
        testkit::TempDir dir;
        SampleOptions sample = testkit::Sample(v, 100, true);
        CreateSample(Env::Default(), dir / "clear.mdb", sample);
        sample.encryption_key = kKey;
        CreateSample(Env::Default(), dir / "coded.mdb", sample);
        testkit::ExpectStoredWithKey(dir / "coded.mdb", kKey);
        testkit::ExpectSameDecodedPages(dir / "clear.mdb", dir / "coded.mdb");

        const uint32_t made =
            NewEncryptionKey(MdbFile::Open(Env::Default(), dir / "clear.mdb")->header());
        const struct {
            const char* source;
            PageEncoding encoding;
            uint32_t key;
        } cases[] = {
            {"clear.mdb", PageEncoding::kKeep, 0},
            {"clear.mdb", PageEncoding::kDecrypt, 0},
            {"clear.mdb", PageEncoding::kEncrypt, made},
            {"coded.mdb", PageEncoding::kKeep, kKey},
            {"coded.mdb", PageEncoding::kDecrypt, 0},
            {"coded.mdb", PageEncoding::kEncrypt, kKey},
        };
        const bool oracles = testkit::HaveMdbTools() && testkit::HaveNodeOracle();
        const std::string export_clear = oracles ? testkit::MdbExportDump(dir / "clear.mdb") : "";
        const std::string node_clear = oracles ? testkit::NodeDump(dir / "clear.mdb") : "";
        int n = 0;
        for (const auto& c : cases) {
            const std::string out = dir / ("out" + std::to_string(n) + ".mdb");
            const std::string again = dir / ("again" + std::to_string(n++) + ".mdb");
            SCOPED_TRACE(std::string(c.source) + " -> " + out);
            CompactOptions options;
            options.encoding = c.encoding;
            CompactReport report;
            CompactDatabase(Env::Default(), dir / c.source, out, options, &report);
            EXPECT_EQ(report.encrypted, c.key != 0);
            testkit::ExpectStoredWithKey(out, c.key);
            testkit::ExpectSameDecodedPages(dir / "out0.mdb", out);
            testkit::ExpectDefinitionsCarriedOver(dir / c.source, out, {}, c.key);
            CheckOptions strict;
            strict.strict = true;
            EXPECT_TRUE(CheckFile(Env::Default(), out, strict).clean());
            if (oracles && c.key != 0) {  // clear outputs: the oracle tests of the writer
                EXPECT_EQ(testkit::MdbExportDump(out), export_clear) << "mdb-export";
                EXPECT_EQ(testkit::NodeDump(out), node_clear) << "mdb-reader";
            }
            if (c.key == 0) continue;  // clear outputs: BloatedSampleShrinksToItsLiveRows
            CompactDatabase(Env::Default(), out, again);
            EXPECT_EQ(testkit::ReadAll(again), testkit::ReadAll(out)) << "compacting again";
        }

        // The checker reads pages decoded, so it sees a page an output left in clear: here
        // the first data page of pedidos in the encoded output.
        const std::string coded_out = dir / "out3.mdb";
        uint32_t page = 0;
        {
            auto db = DatabaseView::Open(Env::Default(), coded_out);
            const TableDef pedidos = db->ReadTable("pedidos");
            TableScanner scanner(db->file(), pedidos);
            ASSERT_TRUE(scanner.Next());
            page = scanner.location().page;
            Bytes bytes = testkit::ReadAll(coded_out);
            const Bytes clear = db->file().ReadPage(page);
            std::copy(clear.begin(), clear.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(page * PageSize(v)));
            testkit::WriteAll(dir / "one-clear.mdb", bytes);
        }
        EXPECT_FALSE(CheckFile(Env::Default(), dir / "one-clear.mdb").clean()) << "page " << page;
        // A page 0 naming another key than its pages were encoded with: refused, not copied.
        {
            DatabaseHeader header = MdbFile::Open(Env::Default(), coded_out)->header();
            header.encryption_key = kKey + 1;
            Bytes bytes = testkit::ReadAll(coded_out);
            const Bytes page0 = EncodeHeader(header);
            std::copy(page0.begin(), page0.end(), bytes.begin());
            testkit::WriteAll(dir / "wrong-key.mdb", bytes);
        }
        EXPECT_EQ(ErrorOf([&] {
                      CompactDatabase(Env::Default(), dir / "wrong-key.mdb", dir / "wrong-out.mdb");
                  }),
                  kUnrecognizedFormat);
        EXPECT_FALSE(std::filesystem::exists(dir / "wrong-out.mdb"));
    }
}

// The files of the corpus subset were written by Access: their tables move, and their
// permissions, foreign keys and NavPane rows move with them.
TEST(Compact, TableIdsAndTheirReferencesMoveTogether) {
    const auto files = testkit::CorpusSubsetFiles();
    if (files.empty()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    testkit::TempDir dir;
    int moved = 0;
    for (const auto& file : files) {
        const std::string name = file.filename().string();
        const std::string pw = testkit::CorpusPassword(file);
        CompactOptions options;
        options.password = pw;
        CompactReport report;
        CompactDatabase(Env::Default(), file.string(), dir / name, options, &report);
        for (const CompactedTable& t : report.tables) moved += t.old_id != t.new_id ? 1 : 0;
        EXPECT_EQ(testkit::ListDifferences(testkit::ResolvedReferences(file.string(), pw),
                                           testkit::ResolvedReferences(dir / name, pw)),
                  "")
            << name;
    }
    EXPECT_GT(moved, 10);
}

// ---------------------------------------------------------------------------------------------
// Failures: a Jet number, no destination, the source untouched.

class CompactFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateTavoFixture(Env::Default(), dir_ / "src.mdb", Version::kJet4, TavoFlag::kBoolean);
        source_ = testkit::ReadAll(dir_ / "src.mdb");
    }
    // Compacts src.mdb (or `source`) into out.mdb; returns the Jet error number (0 = none).
    int Compact(const std::string& source = "src.mdb", const CompactOptions& options = {}) {
        return ErrorOf(
            [&] { CompactDatabase(Env::Default(), dir_ / source, dir_ / "out.mdb", options); });
    }
    void ExpectNothingWritten() {
        EXPECT_FALSE(std::filesystem::exists(dir_ / "out.mdb"));
        for (const std::string& name : dir_.Entries())
            EXPECT_TRUE(name == "src.mdb" || name == "bad.mdb" || name == "src.ldb")
                << name << " left behind";
        EXPECT_EQ(testkit::ReadAll(dir_ / "src.mdb"), source_);
    }
    testkit::TempDir dir_;
    Bytes source_;
};

TEST_F(CompactFailure, ExistingDestinationIsNotTouched) {
    testkit::WriteAll(dir_ / "out.mdb", Bytes{'k', 'e', 'e', 'p'});
    EXPECT_EQ(Compact(), kDatabaseExists);
    EXPECT_EQ(testkit::ReadAll(dir_ / "out.mdb"), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"out.mdb", "src.mdb"}));
}

TEST_F(CompactFailure, MissingSourceOrFolderAndNotADatabase) {
    EXPECT_EQ(Compact("none.mdb"), kFileNotFound);
    EXPECT_EQ(
        ErrorOf([&] { CompactDatabase(Env::Default(), dir_ / "src.mdb", dir_ / "no/out.mdb"); }),
        kNotValidPath);
    testkit::WriteAll(dir_ / "bad.mdb", Bytes(8192, 'x'));
    EXPECT_EQ(Compact("bad.mdb"), kUnrecognizedFormat);
    ExpectNothingWritten();
}

TEST_F(CompactFailure, DamagedRowIsRefusedWith3343) {
    // The first row of tavo's first data page claims 65535 columns: it cannot be decoded.
    TableDef tavo;
    uint32_t page = 0;
    {
        auto db = DatabaseView::Open(Env::Default(), dir_ / "src.mdb");
        tavo = db->ReadTable("tavo");
        TableScanner scanner(db->file(), tavo);
        ASSERT_TRUE(scanner.Next());
        page = scanner.location().page;
    }
    Bytes bytes = source_;
    const size_t base = size_t{page} * 4096;
    const uint16_t first_row =
        U16(bytes, base + DataPageRowCountOffset(Version::kJet4) + 2) & kRowOffsetMask;
    PutU16(bytes, base + first_row, 0xFFFF);
    testkit::WriteAll(dir_ / "bad.mdb", bytes);
    EXPECT_EQ(Compact("bad.mdb"), kUnrecognizedFormat);
    ExpectNothingWritten();
}

TEST_F(CompactFailure, UniqueIndexWithDuplicateKeysIsRefusedWith3343) {
    // Two rows with the same primary key: the index cannot be rebuilt as the source declares it.
    TableDef tavo;
    std::vector<RowLocation> rows;
    {
        auto db = DatabaseView::Open(Env::Default(), dir_ / "src.mdb");
        tavo = db->ReadTable("tavo");
        TableScanner scanner(db->file(), tavo);
        while (scanner.Next()) rows.push_back(scanner.location());
    }
    ASSERT_GE(rows.size(), 2u);
    // id is the first fixed column (a Long at the start of the fixed area).
    Bytes bytes = source_;
    auto row_start = [&](const RowLocation& at) {
        const size_t base = size_t{at.page} * 4096;
        return base + (U16(bytes, base + DataPageRowCountOffset(Version::kJet4) + 2 + 2 * at.row) &
                       kRowOffsetMask);
    };
    PutU32(bytes, row_start(rows[1]) + 2, U32(bytes, row_start(rows[0]) + 2));
    testkit::WriteAll(dir_ / "bad.mdb", bytes);
    try {
        CompactDatabase(Env::Default(), dir_ / "bad.mdb", dir_ / "out.mdb");
        FAIL() << "compacted a file whose primary key repeats";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), kUnrecognizedFormat);
        EXPECT_NE(std::string(e.what()).find("duplicate"), std::string::npos) << e.what();
    }
    ExpectNothingWritten();
}

TEST_F(CompactFailure, PasswordIsNeeded) {
    ASSERT_TRUE(testkit::PutTestFile(testkit::kSampleWithPassword, dir_ / "bad.mdb"));
    EXPECT_EQ(Compact("bad.mdb"), kNotValidPassword);
    CompactOptions wrong;
    wrong.password = "wrong";
    EXPECT_EQ(Compact("bad.mdb", wrong), kNotValidPassword);
    ExpectNothingWritten();
    CompactOptions right;
    right.password = "password";
    EXPECT_EQ(Compact("bad.mdb", right), 0);
    // The output keeps the password.
    EXPECT_EQ(ErrorOf([&] { MdbFile::Open(Env::Default(), dir_ / "out.mdb"); }), kNotValidPassword);
}

TEST_F(CompactFailure, SourceInUseIsRefusedWith3045) {
    {
        auto user = Database::Open(Env::Default(), dir_ / "src.mdb");
        EXPECT_EQ(Compact(), kFileInUse);
        ExpectNothingWritten();
    }
    std::filesystem::remove(dir_ / "src.ldb");
    EXPECT_EQ(Compact(), 0);
}

// Every file-system operation of a compaction fails in turn (disk full, I/O error): each time
// the error carries a Jet number, no destination and no temporary file is left, and the source
// is unchanged. Page by page, so that every read is reached, and with the read-ahead of use;
// with the source read on a thread of its own, and on the writing thread.
TEST_F(CompactFailure, FailureAtAnyStepLeavesNoDestination) {
    for (const bool threads : {false, true})
        for (const uint32_t read_ahead : {1u, kScanReadAheadPages}) {
            SCOPED_TRACE("read-ahead " + std::to_string(read_ahead) + (threads ? ", threads" : ""));
            FaultInjectingEnv env(Env::Default());
            if (threads) env.AllowThreads();
            CompactOptions options;
            options.sort_memory = 256;  // sort runs on disk too
            options.read_ahead_pages = read_ahead;
            CompactDatabase(&env, dir_ / "src.mdb", dir_ / "count.mdb", options);
            const uint64_t operations = env.operations();
            std::filesystem::remove(dir_ / "count.mdb");
            if (read_ahead == 1) {
                ASSERT_GT(operations, 20u);
            }
            for (uint64_t n = 1; n <= operations; ++n) {
                SCOPED_TRACE("failing operation " + std::to_string(n) + " of " +
                             std::to_string(operations));
                env.Reset();
                env.FailAt(n, n % 2 ? ENOSPC : EIO);
                int error = 0;
                std::string text;
                try {
                    CompactDatabase(&env, dir_ / "src.mdb", dir_ / "out.mdb", options);
                } catch (const JetError& e) {
                    error = e.number();
                    text = e.what();
                }
                if (error == 0) {
                    // Only a failure while removing a spent sort run goes unnoticed.
                    EXPECT_TRUE(std::filesystem::exists(dir_ / "out.mdb"));
                    std::filesystem::remove(dir_ / "out.mdb");
                } else {
                    EXPECT_TRUE(error == kDiskFull || error == kDiskOrNetworkError ||
                                error == kDiskReadError || error == kNotValidPath ||
                                error == kCannotOpenFile)
                        << error << " " << text;
                }
                // A temporary file survives only when removing it was the operation that failed.
                for (const std::string& name : dir_.Entries()) {
                    if (name == "src.mdb") continue;
                    EXPECT_NE(name, "out.mdb");
                    std::filesystem::remove(dir_ / name);
                }
                EXPECT_EQ(testkit::ReadAll(dir_ / "src.mdb"), source_);
            }
        }
}

}  // namespace
}  // namespace jet
