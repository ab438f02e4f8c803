// The proof of the key encoder: for every index entry of every readable corpus file, the key we
// compute from the row equals the key Jet stored. Exceptions are listed, with their reason, in
// tests/data/corpus-key-exceptions.tsv.
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>

#include "jet/base/error.h"
#include "jet/read/checker.h"
#include "jet/rebuild/compact.h"
#include "jet/rebuild/repair.h"
#include "jet/testing/damage.h"
#include "tests/support/corpus.h"
#include "tests/support/rebuild_compare.h"
#include "tests/support/repair_sweep.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

TEST(CorpusKeysTest, EveryStoredKeyEqualsTheComputedOne) {
    if (!testkit::HaveCorpus()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    const auto exceptions = testkit::ReadList("corpus-key-exceptions.tsv");
    ASSERT_FALSE(exceptions.empty()) << "tests/data/corpus-key-exceptions.tsv is missing";
    uint64_t files = 0, entries = 0, compared = 0, mismatched = 0, per_letter = 0;
    CheckOptions options;
    options.max_findings = 50;
    for (const auto& path : testkit::CorpusFiles()) {
        const std::string name = path.filename().string();
        CheckReport report;
        try {
            report =
                CheckFile(Env::Default(), path.string(), options, testkit::CorpusPassword(path));
        } catch (const JetError& e) {
            ADD_FAILURE() << name << ": " << e.what();
            continue;
        }
        if (report.stats.pages == 0) continue;  // not a Jet 3 / Jet 4 file
        ++files;
        const CheckStats& s = report.stats;
        entries += s.index_entries;
        compared += s.keys_compared;
        mismatched += s.key_mismatches;
        per_letter += s.keys_per_letter_ligatures;
        std::printf("%-48s %7llu entries %7llu compared %3llu mismatched %2llu per-letter\n",
                    name.c_str(), static_cast<unsigned long long>(s.index_entries),
                    static_cast<unsigned long long>(s.keys_compared),
                    static_cast<unsigned long long>(s.key_mismatches),
                    static_cast<unsigned long long>(s.keys_per_letter_ligatures));
        EXPECT_EQ(s.key_mismatches, 0u) << name << "\n" << FormatReport(report);
        const auto it = exceptions.find(name);
        const uint64_t allowed = it == exceptions.end() ? 0 : std::stoull(it->second.at(0));
        EXPECT_EQ(s.keys_per_letter_ligatures, allowed) << name;
    }
    std::printf(
        "%llu files: %llu index entries, %llu keys compared, %llu mismatched, %llu "
        "matched only with ligatures per letter\n",
        static_cast<unsigned long long>(files), static_cast<unsigned long long>(entries),
        static_cast<unsigned long long>(compared), static_cast<unsigned long long>(mismatched),
        static_cast<unsigned long long>(per_letter));
    EXPECT_GT(compared, 80000u);  // 90 576 when this was written
}

// Where the engine cannot compute the keys (a sort order other than General), compaction
// carries Jet's: every index of the output holds, for each row, the key Jet wrote for it, and
// the output checks clean.
TEST(CorpusKeysTest, CompactionCarriesJetsKeysInEveryOtherSortOrder) {
    if (!testkit::HaveCorpus()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    testkit::TempDir folder;
    size_t files = 0, entries = 0;
    for (const auto& path : testkit::CorpusFiles()) {
        const std::string name = path.filename().string();
        const std::string password = testkit::CorpusPassword(path);
        testkit::KeyedRows source;
        try {
            source = testkit::CarriedIndexEntries(path.string(), password);
        } catch (const JetError&) {
            continue;  // not a readable Jet 3 / Jet 4 file
        }
        if (source.empty()) continue;
        ++files;
        const std::string out = folder / ("c-" + name);
        CompactOptions options;
        options.password = password;
        // Of a copy: the compaction holds its source exclusively (other tests read the corpus).
        ASSERT_NO_THROW(CompactDatabase(Env::Default(), folder.Copy(name), out, options)) << name;
        EXPECT_EQ(testkit::CarriedIndexEntries(out, password), source) << name;
        for (const auto& [index, keyed] : source) entries += keyed.size();
        const CheckReport check = CheckFile(Env::Default(), out, {}, password);
        EXPECT_TRUE(check.clean()) << name << "\n" << FormatReport(check);
        EXPECT_GT(check.stats.indexes_not_recomputed, 0u) << name;

        // A repair that has to rebuild the file (page 0 says users were writing) carries them
        // too, catalog included, and keeps the order.
        const std::string repaired = folder / ("repaired-" + name);
        std::filesystem::copy_file(path, repaired);
        DamageOptions damage;
        damage.password = password;
        const auto report =
            testkit::DamageThenRepair(repaired, DamageKind::kInconsistentState, damage);
        ASSERT_TRUE(report.has_value()) << name;
        EXPECT_TRUE(report->rebuilt) << name;
        EXPECT_EQ(report->sort_order_replaced, 0) << name << "\n" << report->Summary();
        EXPECT_EQ(testkit::CarriedIndexEntries(repaired, password), source) << name;
    }
    std::printf("%zu files in other sort orders: %zu index entries carried\n", files, entries);
    EXPECT_GE(files, 3u);
}

}  // namespace
}  // namespace jet
