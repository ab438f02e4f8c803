// The checker on real files: clean on every corpus file Access wrote undamaged, and it notices
// (never crashes on) damage put into copies of real files on purpose.
#include "jet/read/checker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/index_page.h"
#include "jet/format/tdef.h"
#include "jet/read/table_reader.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

bool HasFinding(const CheckReport& r, FindingKind kind, Severity severity = Severity::kError) {
    for (const Finding& f : r.findings) {
        if (f.kind == kind && f.severity == severity) return true;
    }
    return false;
}

TEST(CheckerTest, CorpusFilesAccessWroteAreClean) {
    if (!testkit::HaveCorpus()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    const auto not_clean = testkit::ReadList("corpus-check-exceptions.tsv");
    ASSERT_FALSE(not_clean.empty()) << "tests/data/corpus-check-exceptions.tsv is missing";
    for (const auto& path : testkit::CorpusFiles()) {
        const std::string name = path.filename().string();
        const CheckReport r =
            CheckFile(Env::Default(), path.string(), {}, testkit::CorpusPassword(path));
        std::printf("%-48s %s, %zu error(s), %zu notice(s)\n", name.c_str(),
                    r.clean() ? "clean" : "DAMAGED", r.errors, r.notices);
        if (not_clean.count(name)) {
            EXPECT_FALSE(r.clean()) << name << " is listed as not clean but checks clean";
        } else {
            EXPECT_TRUE(r.clean()) << FormatReport(r);
        }
    }
}

// A copy of a corpus file in a fresh temporary folder.
class DamagedCopy {
  public:
    explicit DamagedCopy(const std::string& sample) {
        if (testkit::HaveTestFile(sample)) path_ = dir_.Copy(sample);
    }
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

    Bytes ReadAt(uint64_t offset, size_t n) const {
        std::ifstream f(path_, std::ios::binary);
        f.seekg(static_cast<std::streamoff>(offset));
        Bytes b(n);
        f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
        return b;
    }
    void WriteAt(uint64_t offset, const Bytes& b) const { testkit::WriteAt(path_, offset, b); }
    void Resize(uint64_t size) const { fs::resize_file(path_, size); }
    uint64_t size() const { return fs::file_size(path_); }

    CheckReport Check(const CheckOptions& options = {}) const {
        return CheckFile(Env::Default(), path(), options);
    }

  private:
    testkit::TempDir dir_;
    std::string path_;
};

// What the damage tests aim at: a user table with an index, read from the intact file.
struct Target {
    Version version = Version::kJet4;
    uint32_t page_size = 4096;
    TableDef table;
    std::vector<uint32_t> data_pages;
    uint32_t global_map_row_offset = 0;  // page 1 row 0
};

Target FindTarget(const std::string& path) {
    Target t;
    auto db = DatabaseView::Open(Env::Default(), path);
    t.version = db->file().version();
    t.page_size = db->file().page_size();
    for (const std::string& name : db->TableNames()) {
        TableDef def = db->ReadTable(name);
        if (def.real_indexes.empty() || def.row_count == 0) continue;
        TableScanner scan(db->file(), def);
        t.data_pages = scan.data_pages();
        if (t.data_pages.empty()) continue;
        t.table = std::move(def);
        break;
    }
    const Bytes page1 = db->file().ReadPage(1);
    t.global_map_row_offset = DataPage(page1, t.version).row_start(0);
    return t;
}

class CheckerDamageTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CheckerDamageTest, NoticesDamagePutIntoACopy) {
    DamagedCopy intact(GetParam());
    if (!intact.ok()) GTEST_SKIP() << GetParam() << " not found";
    const CheckReport clean = intact.Check();
    ASSERT_TRUE(clean.clean()) << FormatReport(clean);
    const Target t = FindTarget(intact.path());
    ASSERT_FALSE(t.table.name.empty());
    const uint64_t ps = t.page_size;
    const RealIndexDef& index = t.table.real_indexes[0];

    {  // A key byte of an index entry changes: the stored key no longer matches the row.
        DamagedCopy c(GetParam());
        uint32_t leaf = index.root_page;
        for (int depth = 0; depth < 8; ++depth) {
            const IndexPage p = DecodeIndexPage(t.version, c.ReadAt(leaf * ps, ps));
            if (p.leaf()) break;
            leaf = p.entries.empty() ? p.tail_page : p.entries[0].child_page;
        }
        const uint64_t first = IndexLayout(t.version).first_entry;
        Bytes b = c.ReadAt(leaf * ps + first + 1, 1);
        b[0] ^= 0x5A;
        c.WriteAt(leaf * ps + first + 1, b);
        const CheckReport r = c.Check();
        EXPECT_FALSE(r.clean());
        EXPECT_TRUE(HasFinding(r, FindingKind::kIndexKey) ||
                    HasFinding(r, FindingKind::kIndexTree) ||
                    HasFinding(r, FindingKind::kIndexEntry))
            << FormatReport(r);
    }
    {  // The stored free space of a data page is off by one.
        DamagedCopy c(GetParam());
        const uint64_t at = t.data_pages[0] * ps + 2;
        Bytes b = c.ReadAt(at, 1);
        b[0] = static_cast<uint8_t>(b[0] + 1);
        c.WriteAt(at, b);
        const CheckReport r = c.Check();
        EXPECT_TRUE(HasFinding(r, FindingKind::kDataPage)) << FormatReport(r);
    }
    {  // The global usage map marks a page of the table free.
        DamagedCopy c(GetParam());
        const uint64_t row = 1 * ps + t.global_map_row_offset;
        const Bytes head = c.ReadAt(row, 5);
        ASSERT_EQ(head[0], 0) << "expected an inline global map";
        const uint32_t start = head[1] | head[2] << 8 | head[3] << 16 | uint32_t{head[4]} << 24;
        const uint32_t p = t.data_pages[0];
        ASSERT_GE(p, start);
        const uint64_t at = row + 5 + (p - start) / 8;
        Bytes b = c.ReadAt(at, 1);
        b[0] = static_cast<uint8_t>(b[0] | (1u << ((p - start) % 8)));
        c.WriteAt(at, b);
        const CheckReport r = c.Check();
        EXPECT_TRUE(HasFinding(r, FindingKind::kPageUse)) << FormatReport(r);
    }
    {  // A stale row count is what Access itself leaves: a notice, an error only when strict.
        DamagedCopy c(GetParam());
        const uint64_t at = t.table.tdef_page * ps + (t.version == Version::kJet3 ? 0x0C : 0x10);
        Bytes b = c.ReadAt(at, 1);
        b[0] = static_cast<uint8_t>(b[0] + 3);
        c.WriteAt(at, b);
        const CheckReport r = c.Check();
        EXPECT_TRUE(r.clean()) << FormatReport(r);
        EXPECT_TRUE(HasFinding(r, FindingKind::kRowCount, Severity::kNotice));
        CheckOptions strict;
        strict.strict = true;
        EXPECT_FALSE(c.Check(strict).clean());
    }
    {  // A file cut in the middle of a page.
        DamagedCopy c(GetParam());
        c.Resize(c.size() - ps / 2);
        const CheckReport r = c.Check();
        EXPECT_TRUE(HasFinding(r, FindingKind::kFile)) << FormatReport(r);
    }
    {  // An index page's type byte is wiped.
        DamagedCopy c(GetParam());
        c.WriteAt(uint64_t{index.root_page} * ps, {0x00});
        const CheckReport r = c.Check();
        EXPECT_TRUE(HasFinding(r, FindingKind::kIndexTree)) << FormatReport(r);
    }
}

TEST_P(CheckerDamageTest, RandomByteFlipsNeverCrashIt) {
    DamagedCopy original(GetParam());
    if (!original.ok()) GTEST_SKIP() << GetParam() << " not found";
    const uint64_t size = original.size();
    const uint64_t ps = size >= 4096 && original.ReadAt(0x14, 1)[0] == 1 ? 4096 : 2048;
    std::mt19937 rng(12345);
    size_t damaged = 0;
    for (int round = 0; round < 40; ++round) {
        DamagedCopy c(GetParam());
        // Damage pages past the header so the file still opens; flips land anywhere in them.
        std::uniform_int_distribution<uint64_t> where(ps, size - 1);
        std::uniform_int_distribution<int> value(0, 255);
        for (int k = 0; k < 1 + round; ++k) {
            c.WriteAt(where(rng), {static_cast<uint8_t>(value(rng))});
        }
        CheckReport r;
        ASSERT_NO_THROW(r = c.Check()) << "round " << round;
        if (!r.clean()) ++damaged;
        // Stopped at the first error: the same verdict, and that error is the full check's first.
        CheckOptions first_error;
        first_error.stop_at_first_error = true;
        const CheckReport stopped = c.Check(first_error);
        ASSERT_EQ(stopped.errors, r.clean() ? 0u : 1u) << "round " << round;
        if (!r.clean()) {
            const auto error =
                std::find_if(r.findings.begin(), r.findings.end(),
                             [](const Finding& f) { return f.severity == Severity::kError; });
            ASSERT_FALSE(stopped.findings.empty());
            ASSERT_NE(error, r.findings.end());
            EXPECT_EQ(stopped.findings.back().what, error->what) << "round " << round;
        } else {
            EXPECT_EQ(stopped.findings.size(), r.findings.size()) << "round " << round;
        }
    }
    EXPECT_GT(damaged, 10u);  // most flips land in live structures
}

INSTANTIATE_TEST_SUITE_P(Samples, CheckerDamageTest,
                         ::testing::Values("jackcess-V1997-indexTestV1997.mdb",
                                           "jackcess-V2003-indexTestV2003.mdb",
                                           "jet3-nwind-psc55036.mdb"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             // The file's name without its extension, in letters and digits.
                             std::string name(p.param);
                             name = name.substr(0, name.rfind('.'));
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST(CheckerTest, ReportsAFileThatIsNotADatabase) {
    testkit::TempDir dir;
    const fs::path p = dir.MakeFile("not_a_db", std::string(8192, 'x'));
    const CheckReport r = CheckFile(Env::Default(), p.string());
    fs::remove(p);
    EXPECT_FALSE(r.clean());
    EXPECT_TRUE(HasFinding(r, FindingKind::kFile));
    EXPECT_THROW(CheckFile(Env::Default(), p.string()), JetError);  // now missing: 3024
}

}  // namespace
}  // namespace jet
