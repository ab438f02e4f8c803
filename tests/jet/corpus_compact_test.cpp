// Compaction of every readable file of the shared corpus, and of a quicker subset (both skipped
// without the corpus): the output is clean under the checker, mdbtools dumps it exactly like
// the source's golden dump, mdb-schema and mdb-reader see the same schema and rows, page 0 and
// the definitions keep their bytes, every id reference follows its object, the file is no
// larger, and compacting it again gives the same bytes. An encoded file stays encoded under its
// key, and compacted in clear holds the same pages decoded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "jet/base/error.h"
#include "jet/read/checker.h"
#include "jet/rebuild/compact.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/oracles.h"
#include "tests/support/rebuild_compare.h"
#include "tests/support/temp_dir.h"

namespace jet::testkit {
namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Totals {
    int files = 0;
    int encoded = 0;
    int damaged = 0;  // refused with 3343 by the strict read
    uint64_t pages_before = 0, pages_after = 0, rows = 0;
};

// Compacts one file and checks everything above. `golden` may be empty (no dump).
void CheckCompaction(const std::string& source, const std::string& golden, const TempDir& tmp,
                     Totals& totals) {
    const std::string name = std::filesystem::path(source).filename().string();
    SCOPED_TRACE(name);
    const std::string pw = CorpusPassword(source);
    const std::string out = tmp / ("c-" + name), again = tmp / ("cc-" + name);
    CompactOptions options;
    options.password = pw;
    CompactReport report;
    try {
        CompactDatabase(Env::Default(), source, out, options, &report);
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), kUnrecognizedFormat) << e.what();
        EXPECT_FALSE(std::filesystem::exists(out));
        ++totals.damaged;
        std::cout << "  " << name << ": refused, " << e.what() << "\n";
        return;
    }
    ++totals.files;
    totals.pages_before += report.pages_before;
    totals.pages_after += report.pages_after;
    totals.rows += report.rows;

    CheckOptions strict;
    strict.strict = true;
    const CheckReport checked = CheckFile(Env::Default(), out, strict, pw);
    EXPECT_TRUE(checked.clean()) << FormatReport(checked);
    EXPECT_LE(std::filesystem::file_size(out), std::filesystem::file_size(source));

    ExpectDefinitionsCarriedOver(source, out, pw);
    const uint32_t key = OpenForTest(source, pw)->header().encryption_key;
    ExpectStoredWithKey(out, key, pw);
    if (key != 0) {
        ++totals.encoded;
        const std::string clear = tmp / ("d-" + name);
        CompactOptions decrypt = options;
        decrypt.encoding = PageEncoding::kDecrypt;
        CompactDatabase(Env::Default(), source, clear, decrypt);
        ExpectStoredWithKey(clear, 0, pw);
        ExpectSameDecodedPages(out, clear, pw);
        std::cout << "  " << name << ": encoded (key " << key << "), compacted "
                  << report.pages_before << " -> " << report.pages_after
                  << " pages under the same key\n";
    }
    EXPECT_EQ(ListDifferences(ResolvedReferences(source, pw), ResolvedReferences(out, pw)), "");

    if (HaveMdbTools()) {
        if (!golden.empty()) {
            EXPECT_EQ(MdbExportDump(out), ReadText(golden)) << "mdb-export";
        }
        EXPECT_EQ(SortedSchema(out), SortedSchema(source)) << "mdb-schema";
    }
    if (HaveNodeOracle()) {
        EXPECT_EQ(NodeDump(out, pw), NodeDump(source, pw)) << "mdb-reader";
    }

    CompactDatabase(Env::Default(), out, again, options);
    EXPECT_EQ(ReadAll(again), ReadAll(out)) << "compacting again changed the file";
}

TEST(CorpusCompact, EveryReadableFile) {
    if (!HaveCorpus()) GTEST_SKIP() << "no corpus at " << CorpusDir();
    TempDir tmp;
    Totals totals;
    // JET_CORPUS_ONLY=<part of a name> narrows the run to matching files (for debugging).
    const char* only = std::getenv("JET_CORPUS_ONLY");
    for (const auto& file : CorpusFiles()) {
        if (file.extension() == ".accdb") continue;
        if (only && file.filename().string().find(only) == std::string::npos) continue;
        const std::string golden =
            (CorpusDir() / "golden" / (file.filename().string() + ".dump.txt")).string();
        const bool readable = std::filesystem::exists(golden);
        // A compaction holds its source exclusively: a copy of our own keeps the other tests of
        // the run, and other checkouts, reading the shared corpus at the same time out of its way.
        const std::filesystem::path source = tmp.Copy(file.filename().string());
        if (!readable) {
            // Not a Jet 3 / Jet 4 database mdbtools can read: refused, and nothing written.
            const std::string out = tmp / "refused.mdb";
            try {
                CompactDatabase(Env::Default(), source.string(), out);
                ADD_FAILURE() << file << " compacted though unreadable";
            } catch (const JetError& e) {
                EXPECT_EQ(e.number(), kUnrecognizedFormat) << file;
            }
            EXPECT_FALSE(std::filesystem::exists(out));
            std::filesystem::remove(source);
            continue;
        }
        CheckCompaction(source.string(), golden, tmp, totals);
        std::filesystem::remove(source);
    }
    std::cout << "corpus compaction: " << totals.files << " files compacted ("
              << totals.pages_before << " -> " << totals.pages_after << " pages, " << totals.rows
              << " rows, " << totals.encoded << " encoded), " << totals.damaged
              << " refused as damaged\n";
    if (only) return;
    EXPECT_GE(totals.files, 60);
    EXPECT_GE(totals.encoded, 1);
    // Only the files cut short while they were written are damaged beyond a strict read.
    EXPECT_LE(totals.damaged, 2);
}

// The corpus subset (corpus.h), quicker than the whole corpus.
TEST(CorpusCompact, TheSubset) {
    const auto files = CorpusSubsetFiles();
    if (files.empty()) GTEST_SKIP() << "no corpus at " << CorpusDir();
    TempDir tmp;
    Totals totals;
    for (const auto& file : files) {
        const std::string golden =
            (CorpusDir() / "golden" / (file.filename().string() + ".dump.txt")).string();
        // A compaction holds its source exclusively: a copy of our own keeps the other tests of
        // the run, and other checkouts, reading the shared corpus at the same time out of its way.
        const std::filesystem::path source = tmp.Copy(file.filename().string());
        CheckCompaction(source.string(), std::filesystem::exists(golden) ? golden : "", tmp,
                        totals);
        std::filesystem::remove(source);
    }
    EXPECT_GE(totals.files, 5);
    EXPECT_EQ(totals.damaged, 0);
    EXPECT_LT(totals.pages_after, totals.pages_before);
}

}  // namespace
}  // namespace jet::testkit
