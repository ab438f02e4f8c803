// The writer on real definitions: every readable corpus file is read table by table and
// written again through the database writer (table ids remapped as compaction does), then the
// copy must be clean under the checker and read back equal to the source's golden dump.
// Real files bring what a new database never has: deleted columns, stored bytes of unknown
// meaning, foreign keys, Access tables, property blobs, long values of every size.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

// checker.h first: its FindingKind::kIndexUnique would shadow schema.h's kIndexUnique.
#include "jet/read/checker.h"
// (blank line keeps the include order)

#include "jet/base/error.h"
#include "jet/read/catalog.h"
#include "jet/read/table_reader.h"
#include "jet/write/writer.h"
#include "tests/support/corpus.h"
#include "tests/support/golden_compare.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

const std::string kCorpus = testkit::CorpusDir().string();
const std::string kData = testkit::TestDataDir().string();

std::vector<std::string> ReadableCorpusFiles() {
    std::vector<std::string> files;
    for (const testkit::ManifestRow& row : testkit::ReadManifest()) {
        const std::string version = row["jet_version"];  // 0: Jet 3, 1: Jet 4
        if (row["mdbtools_ok"] == "yes" && (version == "0" || version == "1"))
            files.push_back(row["file"]);
    }
    return files;
}

// Rewrites `source` into `destination`: tables in catalog order (the Jet system tables first,
// on pages 2..5), ids remapped in the catalog, the permissions, foreign keys and the Access
// navigation tables.
void Rewrite(DatabaseView& db, const std::string& destination) {
    const Catalog& catalog = db.catalog();
    std::vector<const CatalogEntry*> tables = catalog.Tables(true);
    std::stable_sort(
        tables.begin(), tables.end(), [](const CatalogEntry* a, const CatalogEntry* b) {
            auto rank = [](const CatalogEntry* e) { return e->id >= 2 && e->id <= 5 ? e->id : 6u; };
            return rank(a) < rank(b);
        });
    WriterOptions options;
    options.version = db.file().version();
    options.header = db.file().header();
    DatabaseWriter writer(Env::Default(), destination, options);
    std::map<uint32_t, uint32_t> ids;
    std::vector<std::pair<uint32_t, TableDef>> defs;
    for (const CatalogEntry* e : tables) {
        TableDef def = db.ReadTable(e->name);
        const uint32_t id = writer.AddTable(def);
        ids[e->id] = id;
        defs.emplace_back(id, std::move(def));
    }
    auto remap = [&ids](Value& v) {
        if (auto* i = std::get_if<int64_t>(&v)) {
            auto it = ids.find(static_cast<uint32_t>(*i));
            if (it != ids.end()) *i = it->second;
        }
    };
    for (auto& [id, def] : defs) {
        for (auto& l : writer.table(id).indexes)
            if (l.rel_table_page != 0 && ids.count(l.rel_table_page))
                l.rel_table_page = ids[l.rel_table_page];
    }
    for (auto& [id, def] : defs) {
        writer.BeginRows(id);
        auto column = [&def = def](const char* name) -> int {
            for (size_t i = 0; i < def.columns.size(); ++i)
                if (NamesEqual(def.columns[i].name, name)) return static_cast<int>(i);
            return -1;
        };
        int id_column = -1;
        if (NamesEqual(def.name, "MSysObjects")) id_column = column("Id");
        if (NamesEqual(def.name, "MSysACEs")) id_column = column("ObjectId");
        if (NamesEqual(def.name, "MSysNavPaneObjectIDs")) id_column = column("Id");
        if (NamesEqual(def.name, "MSysNavPaneGroupToObjects")) id_column = column("ObjectID");
        const int type_column = NamesEqual(def.name, "MSysObjects") ? column("Type") : -1;
        ForEachRow(db.file(), def, [&](const RowLocation&, Row row) {
            // Only table rows of the catalog carry a TDEF page as their id.
            bool is_table =
                type_column < 0 || row[static_cast<size_t>(type_column)] == Value(int64_t{1});
            if (id_column >= 0 && is_table) remap(row[static_cast<size_t>(id_column)]);
            writer.AddRow(row);
        });
        writer.EndRows();
    }
    writer.Finish();
}

TEST(WriterCorpus, EveryFileRewrittenIsCleanAndReadsLikeItsGoldenDump) {
    if (!std::filesystem::exists(kCorpus + "/MANIFEST.tsv")) GTEST_SKIP() << "no corpus";
    auto known = testkit::ReadKnownDifferences(kData + "/known_differences.tsv");
    testkit::TempDir dir;
    testkit::CompareStats stats;
    int rewritten = 0, skipped = 0;
    for (const std::string& file : ReadableCorpusFiles()) {
        SCOPED_TRACE(file);
        // Files whose tables do not read strictly are for repair, not for this test.
        bool damaged = false;
        for (const auto& k : known) damaged |= k.file == file && k.kind == "strict-3343";
        std::unique_ptr<DatabaseView> db;
        try {
            OpenOptions open;
            open.password = testkit::CorpusPassword(file);
            db = DatabaseView::Open(Env::Default(), kCorpus + "/" + file, open);
        } catch (const JetError& e) {
            ++skipped;
            continue;
        }
        if (damaged) {
            ++skipped;
            continue;
        }
        const std::string out = dir / file;
        ASSERT_NO_THROW(Rewrite(*db, out));
        ++rewritten;
        CheckReport report = CheckFile(Env::Default(), out, {}, testkit::CorpusPassword(file));
        EXPECT_TRUE(report.clean()) << FormatReport(report);
        EXPECT_EQ(report.stats.leaked_pages, 0u);
        EXPECT_EQ(report.stats.key_mismatches, 0u);
        testkit::CompareWithGolden(out, kCorpus + "/golden/" + file + ".dump.txt", file, known,
                                   stats);
        // Not larger than the source (the source may have slack; ours has none).
        EXPECT_LE(std::filesystem::file_size(out),
                  std::filesystem::file_size(kCorpus + "/" + file));
        std::filesystem::remove(out);
    }
    std::cout << "rewritten: " << rewritten << " files (" << skipped << " skipped), "
              << stats.tables << " tables, " << stats.rows << " rows\n";
    EXPECT_GT(rewritten, 40);
}

}  // namespace
}  // namespace jet
