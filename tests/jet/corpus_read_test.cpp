// Reads every user table of every corpus file that mdbtools reads (MANIFEST mdbtools_ok = yes,
// .accdb excluded) and compares the rows with the golden dumps. Skipped without the corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "tests/support/corpus.h"
#include "tests/support/golden_compare.h"

namespace jet::testkit {
namespace {

const std::string kCorpus = CorpusDir().string();
const std::string kData = TestDataDir().string();

std::vector<std::string> ReadableCorpusFiles() {
    std::vector<std::string> files;
    for (const ManifestRow& row : ReadManifest()) {
        const std::string file = row["file"];
        if (row["mdbtools_ok"] != "yes" || std::filesystem::path(file).extension() == ".accdb")
            continue;
        files.push_back(file);
    }
    return files;
}

void ExpectAllKnownUsed(const std::vector<KnownDifference>& known, bool only_files_seen,
                        const std::vector<std::string>& seen) {
    for (const KnownDifference& k : known) {
        if (k.used) continue;
        if (only_files_seen && std::find(seen.begin(), seen.end(), k.file) == seen.end()) continue;
        ADD_FAILURE() << "known difference no longer occurs: " << k.file << " / " << k.table
                      << " / " << k.kind << " / " << k.line;
    }
}

TEST(CorpusRead, EveryTableEqualsTheGoldenDump) {
    if (!std::filesystem::exists(kCorpus + "/MANIFEST.tsv")) GTEST_SKIP() << "no corpus";
    auto known = ReadKnownDifferences(kData + "/known_differences.tsv");
    CompareStats stats;
    const auto files = ReadableCorpusFiles();
    for (const std::string& file : files)
        CompareWithGolden(kCorpus + "/" + file, kCorpus + "/golden/" + file + ".dump.txt", file,
                          known, stats);
    ExpectAllKnownUsed(known, false, files);
    std::cout << "corpus: " << stats.files << " files, " << stats.tables << " tables, "
              << stats.rows << " rows, " << stats.lines << " golden lines, " << stats.explained
              << " known differences\n";
    EXPECT_GT(stats.tables, 100);
}

// The corpus subset (corpus.h), quicker than the whole corpus.
TEST(CorpusRead, TheSubsetEqualsItsGoldenDumps) {
    const auto files = CorpusSubsetFiles();
    if (files.empty()) GTEST_SKIP() << "no corpus at " << CorpusDir();
    auto known = ReadKnownDifferences(kData + "/known_differences.tsv");
    CompareStats stats;
    std::vector<std::string> seen;
    for (const auto& file : files) {
        const std::string name = file.filename().string();
        seen.push_back(name);
        CompareWithGolden(file.string(), kCorpus + "/golden/" + name + ".dump.txt", name, known,
                          stats);
    }
    ExpectAllKnownUsed(known, true, seen);
    EXPECT_GE(stats.files, 5);
    EXPECT_GT(stats.rows, 10);
}

}  // namespace
}  // namespace jet::testkit
