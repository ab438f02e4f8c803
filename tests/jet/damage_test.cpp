// The damage injectors on the engine's sample databases: each kind changes exactly the
// pages it reports, is repeatable by seed, and produces damage the checker (or, for page 0,
// a byte comparison) can see.
#include "jet/testing/damage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "jet/base/error.h"
#include "jet/format/header.h"
#include "jet/format/mdb_file.h"
#include "jet/read/checker.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

// A fresh test file (corpus.h) in its own temporary folder.
class Copy {
  public:
    explicit Copy(const std::string& name) : path_(dir_.Copy(name)) {}
    const std::string& path() const { return path_; }
    Bytes bytes() const { return testkit::ReadAll(path_); }

  private:
    testkit::TempDir dir_;
    std::string path_;
};

// Pages whose bytes differ between two images of a file (a shorter image differs at every page
// it lacks).
std::vector<uint32_t> ChangedPages(const Bytes& before, const Bytes& after, uint32_t page_size) {
    std::vector<uint32_t> pages;
    const size_t n = (std::max(before.size(), after.size()) + page_size - 1) / page_size;
    for (size_t p = 0; p < n; ++p) {
        const size_t begin = p * page_size;
        const size_t end = (p + 1) * page_size;
        bool same = end <= before.size() && end <= after.size() &&
                    std::equal(before.begin() + static_cast<ptrdiff_t>(begin),
                               before.begin() + static_cast<ptrdiff_t>(end),
                               after.begin() + static_cast<ptrdiff_t>(begin));
        if (!same) pages.push_back(static_cast<uint32_t>(p));
    }
    return pages;
}

const char* const kJet3File = testkit::kSampleJet3;
const char* const kJet4File = testkit::kSampleJet4;
// Files with long values kept out of their rows.
const char* const kMemoFiles[] = {testkit::kSampleJet3, testkit::kSampleJet4};

TEST(DamageTest, KindNamesRoundTrip) {
    EXPECT_EQ(AllDamageKinds().size(), 10u);
    for (DamageKind k : AllDamageKinds()) {
        const auto parsed = ParseDamageKind(DamageKindName(k));
        ASSERT_TRUE(parsed.has_value()) << DamageKindName(k);
        EXPECT_EQ(*parsed, k);
    }
    EXPECT_FALSE(ParseDamageKind("melted-page").has_value());
}

// Every kind, on a Jet 3 and a Jet 4 file and several seeds: the reported pages are exactly
// the changed ones, and the same seed on another copy gives the same bytes.
TEST(DamageTest, ChangesExactlyTheReportedPagesAndRepeatsBySeed) {
    for (const char* file : {kJet3File, kJet4File}) {
        for (DamageKind kind : AllDamageKinds()) {
            for (uint64_t seed : {1u, 2u}) {
                SCOPED_TRACE(std::string(file) + " " + DamageKindName(kind) + " seed " +
                             std::to_string(seed));
                Copy a(file), b(file);
                const Bytes before = a.bytes();
                const uint32_t page_size = before[0x14] == 0 ? 2048 : 4096;
                DamageOptions options;
                options.seed = seed;
                const DamageResult r = InjectDamage(Env::Default(), a.path(), kind, options);
                ASSERT_TRUE(r.applied) << r.what;
                EXPECT_FALSE(r.what.empty());
                const Bytes after = a.bytes();
                EXPECT_EQ(ChangedPages(before, after, page_size), r.pages) << r.what;
                const DamageResult again = InjectDamage(Env::Default(), b.path(), kind, options);
                EXPECT_EQ(again.what, r.what);
                EXPECT_TRUE(after == b.bytes());
            }
        }
    }
}

TEST(DamageTest, TheCheckerSeesStructuralDamage) {
    struct Case {
        DamageKind kind;
        FindingKind finding;
        Severity severity;
    };
    const Case cases[] = {
        {DamageKind::kWrongRowCount, FindingKind::kRowCount, Severity::kNotice},
        {DamageKind::kBrokenUsageMap, FindingKind::kUsageMap, Severity::kError},
        {DamageKind::kBrokenMemoChain, FindingKind::kLongValue, Severity::kError},
    };
    for (const char* file : kMemoFiles) {
        for (const Case& c : cases) {
            for (uint64_t seed = 0; seed < 4; ++seed) {
                SCOPED_TRACE(std::string(file) + " " + DamageKindName(c.kind) + " seed " +
                             std::to_string(seed));
                Copy copy(file);
                DamageOptions options;
                options.seed = seed;
                const DamageResult r = InjectDamage(Env::Default(), copy.path(), c.kind, options);
                ASSERT_TRUE(r.applied) << r.what;
                const CheckReport report = CheckFile(Env::Default(), copy.path());
                bool seen = false;
                for (const Finding& f : report.findings)
                    seen |= f.kind == c.finding && f.severity == c.severity;
                // Any error will do for a broken map: what the checker trips over first depends
                // on the table.
                if (c.kind == DamageKind::kBrokenUsageMap) seen |= !report.clean();
                EXPECT_TRUE(seen) << r.what << "\n" << FormatReport(report);
            }
        }
    }
}

TEST(DamageTest, BrokenIndexPagesAreNoticed) {
    int noticed = 0, tried = 0;
    for (uint64_t seed = 0; seed < 12; ++seed) {
        Copy copy(kJet4File);
        DamageOptions options;
        options.seed = seed;
        const DamageResult r =
            InjectDamage(Env::Default(), copy.path(), DamageKind::kBrokenIndexPage, options);
        ASSERT_TRUE(r.applied) << r.what;
        ++tried;
        if (!CheckFile(Env::Default(), copy.path()).clean()) ++noticed;
    }
    // Garbage in an unused stretch of an index page (past its last entry) harms nothing; most
    // damage lands in use.
    EXPECT_GE(noticed * 2, tried);
}

// Page-0 kinds touch only what they promise: the decoded engine name, version, code page,
// sort order, password, creation date and key stay, so the file still opens.
TEST(DamageTest, PageZeroKindsKeepTheEssentialFields) {
    for (const char* file : {kJet3File, kJet4File}) {
        for (DamageKind kind : {DamageKind::kHeaderGarbage, DamageKind::kInconsistentState}) {
            for (uint64_t seed = 0; seed < 6; ++seed) {
                Copy copy(file);
                const DatabaseHeader before = DecodeHeader(copy.bytes());
                DamageOptions options;
                options.seed = seed;
                ASSERT_TRUE(InjectDamage(Env::Default(), copy.path(), kind, options).applied);
                const DatabaseHeader after = DecodeHeader(copy.bytes());
                EXPECT_NE(before.raw, after.raw);
                EXPECT_EQ(after.version, before.version);
                EXPECT_EQ(after.engine_name, before.engine_name);
                EXPECT_EQ(after.code_page, before.code_page);
                EXPECT_EQ(after.sort_order, before.sort_order);
                EXPECT_EQ(after.encryption_key, before.encryption_key);
                EXPECT_EQ(after.password, before.password);
                EXPECT_EQ(after.creation_date, before.creation_date);
                const size_t commit = after.version == Version::kJet3 ? 0x600 : 0xE00;
                const bool commit_changed = !std::equal(
                    before.raw.begin() + commit, before.raw.end(), after.raw.begin() + commit);
                EXPECT_EQ(commit_changed, kind == DamageKind::kInconsistentState);
                EXPECT_NO_THROW(MdbFile::Open(Env::Default(), copy.path()));
            }
        }
    }
}

TEST(DamageTest, TargetsAndExplicitPages) {
    Copy copy(kJet4File);
    const Bytes before = copy.bytes();
    const auto index_pages =
        DamageTargets(Env::Default(), copy.path(), DamageKind::kBrokenIndexPage);
    ASSERT_FALSE(index_pages.empty());
    for (uint32_t p : index_pages) EXPECT_TRUE(before[p * 4096] == 3 || before[p * 4096] == 4);

    // A page that is not a target of the kind: nothing happens.
    DamageOptions options;
    options.page = 0;
    DamageResult r =
        InjectDamage(Env::Default(), copy.path(), DamageKind::kBrokenIndexPage, options);
    EXPECT_FALSE(r.applied);
    EXPECT_TRUE(copy.bytes() == before);

    // An explicit target is the page hit.
    options.page = index_pages.back();
    r = InjectDamage(Env::Default(), copy.path(), DamageKind::kBrokenIndexPage, options);
    ASSERT_TRUE(r.applied);
    EXPECT_EQ(r.pages, std::vector<uint32_t>{index_pages.back()});

    // Zeroing may hit any page, page 0 included.
    options.page = 0;
    r = InjectDamage(Env::Default(), copy.path(), DamageKind::kZeroedPage, options);
    ASSERT_TRUE(r.applied);
    EXPECT_THROW(MdbFile::Open(Env::Default(), copy.path()), JetError);
}

TEST(DamageTest, ATruncatedFileIsNoticed) {
    for (uint64_t seed = 0; seed < 4; ++seed) {
        Copy copy(kJet3File);
        const uintmax_t size = fs::file_size(copy.path());
        DamageOptions options;
        options.seed = seed;
        const DamageResult r =
            InjectDamage(Env::Default(), copy.path(), DamageKind::kTruncatedFile, options);
        ASSERT_TRUE(r.applied);
        EXPECT_LT(fs::file_size(copy.path()), size);
        EXPECT_FALSE(CheckFile(Env::Default(), copy.path()).clean()) << r.what;
    }
}

TEST(DamageTest, ProtectedDatabaseNeedsItsPassword) {
    Copy copy(testkit::kSampleWithPassword);
    try {
        InjectDamage(Env::Default(), copy.path(), DamageKind::kWrongRowCount);
        FAIL() << "no error";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), kNotValidPassword);
    }
    DamageOptions options;
    options.password = "password";
    EXPECT_TRUE(
        InjectDamage(Env::Default(), copy.path(), DamageKind::kWrongRowCount, options).applied);
}

}  // namespace
}  // namespace jet
