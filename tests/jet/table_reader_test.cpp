#include "jet/read/table_reader.h"

#include <gtest/gtest.h>

#include <fstream>

#include "jet/base/error.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

// Rows that grew and moved, as Access leaves them (corpus files).
TEST(TableScanner, OverflowRowsKeepTheirHeaderLocation) {
    int files = 0;
    for (const char* name :
         {"jackcess-V1997-overflowTestV1997.mdb", "jackcess-V2000-overflowTestV2000.mdb"}) {
        SCOPED_TRACE(name);
        const std::string path = jet::testkit::CorpusFile(name);
        if (!std::filesystem::exists(path)) continue;
        ++files;
        auto db = DatabaseView::Open(Env::Default(), path);
        const TableDef t = db->ReadTable("Table1");
        TableScanner scan(db->file(), t);
        int rows = 0, overflowed = 0;
        std::vector<RowLocation> seen;
        while (scan.Next()) {
            ++rows;
            if (scan.overflowed()) {
                ++overflowed;
                EXPECT_NE(scan.location(), scan.data_location());
            }
            seen.push_back(scan.location());
            EXPECT_EQ(scan.Decode().size(), t.columns.size());
        }
        EXPECT_EQ(rows, 7);  // the golden dump's rows; deleted rows are skipped
        // The Jet 4 file holds rows that grew and moved (0x4000 pointer, 0x8000 target).
        if (db->file().version() == Version::kJet4) {
            EXPECT_EQ(overflowed, 2);
        }
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
    }
    if (files == 0) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
}

TEST(TableScanner, StrictAndSalvageOnAMapPastTheEnd) {
    jet::testkit::TempDir dir;
    const std::string source = dir / "source.mdb";
    ASSERT_TRUE(testkit::PutTestFile(testkit::kSampleJet4, source));
    Bytes bytes = jet::testkit::ReadAll(source);
    auto db = DatabaseView::Open(Env::Default(), source);
    const TableDef t = db->ReadTable("clientes");
    const uint32_t pages = db->file().page_count();
    // Point the table's inline owned map at a range starting past the end of the file.
    const RowPointer map = RowPointer::FromPacked(t.owned_map);
    const Bytes page = db->file().ReadPage(map.page);
    const DataPage data(page, Version::kJet4);
    const size_t at = size_t{map.page} * 4096 + data.row_start(map.row);
    ASSERT_EQ(bytes[at], 0);  // an inline map
    const Bytes row(bytes.begin() + static_cast<std::ptrdiff_t>(at + 5),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + data.row_end(map.row) -
                                                                data.row_start(map.row)));
    const uint32_t start = (pages + 8) & ~7u;
    bytes[at + 1] = static_cast<uint8_t>(start);
    bytes[at + 2] = static_cast<uint8_t>(start >> 8);
    std::ofstream(dir / "past.mdb", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    auto damaged = DatabaseView::Open(Env::Default(), dir / "past.mdb");
    const TableDef td = damaged->ReadTable("clientes");
    try {
        TableScanner strict(damaged->file(), td);
        ADD_FAILURE() << "strict scan accepted pages past the end";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), kUnrecognizedFormat);
    }
    TableScanner salvage(damaged->file(), td, ScanOptions{true});
    EXPECT_FALSE(salvage.missing_pages().empty());
    EXPECT_FALSE(salvage.Next());
}

TEST(TableScanner, SalvageSkipsARowWithBrokenBounds) {
    jet::testkit::TempDir dir;
    const std::string source = dir / "source.mdb";
    ASSERT_TRUE(testkit::PutTestFile(testkit::kSampleJet4, source));
    auto db = DatabaseView::Open(Env::Default(), source);
    const TableDef t = db->ReadTable("clientes");
    const size_t live = db->ReadRows(t).size();
    TableScanner first(db->file(), t);
    ASSERT_TRUE(first.Next());
    const RowLocation at = first.location();
    // Point the first live row's offset into the page header.
    Bytes bytes = jet::testkit::ReadAll(source);
    const size_t entry = size_t{at.page} * 4096 + DataPageHeaderSize(Version::kJet4) + 2u * at.row;
    bytes[entry] = 4;
    bytes[entry + 1] = 0;
    std::ofstream(dir / "bad.mdb", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    auto damaged = DatabaseView::Open(Env::Default(), dir / "bad.mdb");
    const TableDef td = damaged->ReadTable("clientes");
    EXPECT_THROW(damaged->ReadRows(td), JetError);
    TableScanner salvage(damaged->file(), td, ScanOptions{true, true});
    int rows = 0;
    while (salvage.Next()) ++rows;
    // The next row ends where the broken one starts, so it is lost as well.
    EXPECT_EQ(salvage.damaged_rows(), 2u);
    EXPECT_EQ(static_cast<size_t>(rows), live - 2);
}

}  // namespace
}  // namespace jet
