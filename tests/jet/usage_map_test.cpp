#include "jet/format/usage_map.h"

#include <gtest/gtest.h>

#include "jet/base/error.h"
#include "tests/support/corpus.h"
#include "tests/support/synthetic_file.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

using jet::testkit::SyntheticFile;

class UsageMapTest : public ::testing::Test {
  protected:
    std::unique_ptr<MdbFile> Open(const SyntheticFile& f) {
        f.Write(dir_ / "map.mdb");
        return MdbFile::Open(Env::Default(), dir_ / "map.mdb");
    }
    jet::testkit::TempDir dir_;
};

TEST_F(UsageMapTest, InlineAndReferenceMaps) {
    SyntheticFile f(Version::kJet4, 6);
    // Inline: start 16, bits for 16, 18 and 31.
    const uint16_t inline_row = f.AddRow(1, Bytes{0, 16, 0, 0, 0, 0b101, 0x80}, 0);
    // Reference: bitmap page 0 is page 5, bitmap page 1 absent.
    Bytes ref = {1};
    ref.resize(9, 0);
    PutU32(ref, 1, 5);
    const uint16_t ref_row = f.AddRow(1, ref, 0);
    Bytes& bitmap = f.page(5);
    bitmap[0] = kPageUsageBitmap;
    bitmap[1] = 1;
    bitmap[4] = 0b00010110;  // pages 1, 2, 4
    auto file = Open(f);

    const UsageMap a =
        ReadUsageMap(*file, RowPointer{1, static_cast<uint8_t>(inline_row)}.Packed());
    EXPECT_EQ(a.type, 0);
    EXPECT_EQ(a.pages, (std::vector<uint32_t>{16, 18, 31}));
    EXPECT_TRUE(a.Covers(16) && a.Covers(31) && !a.Covers(32) && !a.Covers(15));
    EXPECT_TRUE(a.Contains(18));
    EXPECT_FALSE(a.Contains(17));

    const UsageMap b = ReadUsageMap(*file, RowPointer{1, static_cast<uint8_t>(ref_row)}.Packed());
    EXPECT_EQ(b.type, 1);
    EXPECT_EQ(b.bitmap_pages, (std::vector<uint32_t>{5, 0}));
    EXPECT_EQ(b.pages, (std::vector<uint32_t>{1, 2, 4}));
    EXPECT_EQ(b.end, 2u * (4096 - 4) * 8);
}

TEST_F(UsageMapTest, BrokenMapsRaise3343) {
    SyntheticFile f(Version::kJet4, 4);
    const uint16_t bad_type = f.AddRow(1, Bytes{7, 0, 0, 0, 0}, 0);
    const uint16_t too_short = f.AddRow(1, Bytes{0, 1}, 0);
    const uint16_t not_bitmap = f.AddRow(1, Bytes{1, 2, 0, 0, 0}, 0);  // page 2 is blank
    const uint16_t past_end = f.AddRow(1, Bytes{1, 0x40, 0, 0, 0}, 0);
    auto file = Open(f);
    for (uint16_t row : {bad_type, too_short, not_bitmap, past_end}) {
        try {
            ReadUsageMap(*file, RowPointer{1, static_cast<uint8_t>(row)}.Packed());
            ADD_FAILURE() << "row " << row;
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), kUnrecognizedFormat);
        }
    }
    EXPECT_THROW(ReadUsageMap(*file, RowPointer{1, 40}.Packed()), JetError);  // no such row
    EXPECT_THROW(ReadUsageMap(*file, RowPointer{3, 0}.Packed()), JetError);   // not a data page
}

// Access's global map (a corpus file).
TEST_F(UsageMapTest, GlobalMapOfARealFileMarksNoLivePageFree) {
    const std::string path = jet::testkit::CorpusFile("jackcess-V1997-overflowTestV1997.mdb");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus file " << path;
    auto file = MdbFile::Open(Env::Default(), path);
    const UsageMap global = ReadGlobalUsageMap(*file);
    EXPECT_EQ(global.type, 0);
    EXPECT_FALSE(global.Contains(0));
    EXPECT_FALSE(global.Contains(1));
    EXPECT_FALSE(global.Contains(2));
    // Jet 3 marks every page past the end of the file free.
    EXPECT_TRUE(global.Contains(file->page_count()));
}

}  // namespace
}  // namespace jet
