// Reads every user table of every corpus file that mdbtools reads (MANIFEST mdbtools_ok = yes,
// .accdb excluded) and compares the rows with the golden dumps. Skipped without the corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "golden_compare.h"

namespace jet::testing {
namespace {

const std::string kCorpus = JET_CORPUS_DIR;
const std::string kData = JET_TEST_DATA_DIR;

std::vector<std::string> ReadableCorpusFiles() {
    std::vector<std::string> files;
    std::ifstream manifest(kCorpus + "/MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);  // header
    while (std::getline(manifest, line)) {
        std::vector<std::string> f;
        size_t start = 0;
        for (;;) {
            const size_t tab = line.find('\t', start);
            f.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        if (f.size() < 9 || f[8] != "yes") continue;
        if (f[0].size() >= 6 && f[0].compare(f[0].size() - 6, 6, ".accdb") == 0) continue;
        files.push_back(f[0]);
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

// The licensed subset committed with the sources (tests/data/files) always runs.
TEST(CorpusRead, CommittedFilesEqualTheirGoldenDumps) {
    auto known = ReadKnownDifferences(kData + "/known_differences.tsv");
    CompareStats stats;
    std::vector<std::string> seen;
    for (const auto& entry : std::filesystem::directory_iterator(kData + "/files")) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".mdb") continue;
        seen.push_back(name);
        CompareWithGolden(entry.path().string(), kData + "/golden/" + name + ".dump.txt", name,
                          known, stats);
    }
    ExpectAllKnownUsed(known, true, seen);
    EXPECT_GE(stats.files, 5);
    EXPECT_GT(stats.rows, 10);
}

}  // namespace
}  // namespace jet::testing
