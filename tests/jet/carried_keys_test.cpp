// Databases in a sort order whose collation the engine does not have (Thai here): compaction
// carries the source's keys, a repair that cannot carry them writes the database in General
// order, and an UPDATE in place leaves indexed columns alone.
#include <gtest/gtest.h>

#include <filesystem>

#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/read/checker.h"
#include "jet/rebuild/compact.h"
#include "jet/rebuild/repair.h"
#include "jet/testing/damage.h"
#include "tests/support/oracles.h"
#include "tests/support/rebuild_compare.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

using testkit::TempDir;

const char* Name(Version v) {
    return v == Version::kJet3 ? "Jet 3" : "Jet 4";
}

// Zeroes the root page of the index on Nome.
void BreakNomeIndex(const std::string& path) {
    uint32_t root = 0;
    {
        auto view = DatabaseView::Open(Env::Default(), path);
        const TableDef t = view->ReadTable("Pessoas");
        for (const LogicalIndexDef& l : t.indexes)
            if (l.name == "Nome") root = t.real_indexes.at(l.real_index).root_page;
    }
    ASSERT_NE(root, 0u);
    DamageOptions at;
    at.page = root;
    ASSERT_TRUE(InjectDamage(Env::Default(), path, DamageKind::kZeroedPage, at).applied);
}

CheckReport Strict(const std::string& path) {
    CheckOptions strict;
    strict.strict = true;
    return CheckFile(Env::Default(), path, strict);
}

DatabaseHeader HeaderOf(const std::string& path) {
    return DatabaseView::Open(Env::Default(), path)->file().header();
}

TEST(CarriedKeys, CompactionKeepsTheSourcesKeysAndRefusesAnIndexItCannotCarry) {
    for (const Version v : {Version::kJet4, Version::kJet3}) {
        SCOPED_TRACE(Name(v));
        TempDir folder;
        const std::string source = folder / "thai.mdb", out = folder / "out.mdb";
        testkit::CreateForeignSortOrderDatabase(source, v, 400);  // indexes of two levels
        const testkit::KeyedRows keys = testkit::CarriedIndexEntries(source);
        ASSERT_EQ(keys.size(), 2u);  // Nome and Cidade
        CompactDatabase(Env::Default(), source, out);
        EXPECT_EQ(testkit::CarriedIndexEntries(out), keys);
        EXPECT_EQ(HeaderOf(out).sort_order, testkit::kThaiSortOrder);
        const CheckReport check = Strict(out);
        EXPECT_TRUE(check.clean()) << FormatReport(check);
        EXPECT_EQ(check.stats.indexes_not_recomputed, 2u);
        EXPECT_NE(FormatReport(check).find("no collation tables for sort order 1054"),
                  std::string::npos);

        BreakNomeIndex(source);
        std::filesystem::remove(out);
        try {
            CompactDatabase(Env::Default(), source, out);
            ADD_FAILURE() << "an index whose keys cannot be carried was compacted";
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), kUnrecognizedFormat);
            EXPECT_NE(std::string(e.what()).find("needs a repair"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(CarriedKeys, ARepairThatCannotCarryTheKeysGivesADatabaseInGeneralOrder) {
    for (const Version v : {Version::kJet4, Version::kJet3}) {
        SCOPED_TRACE(Name(v));
        TempDir folder;
        const std::string sound = folder / "sound.mdb", broken = folder / "broken.mdb";
        testkit::CreateForeignSortOrderDatabase(sound, v, 400);
        std::filesystem::copy_file(sound, broken);
        BreakNomeIndex(broken);

        const RepairReport report = RepairDatabase(Env::Default(), broken);
        EXPECT_EQ(report.sort_order_replaced, testkit::kThaiSortOrder);
        EXPECT_TRUE(report.lossless()) << report.Summary();
        EXPECT_NE(report.Summary().find("sort order 1054 replaced by General"), std::string::npos);
        EXPECT_EQ(HeaderOf(broken).sort_order, kGeneralSortOrder);
        {
            auto view = DatabaseView::Open(Env::Default(), broken);
            for (const ColumnDef& c : view->ReadTable("Pessoas").columns) {
                if (c.type == ColumnType::kText || v == Version::kJet3) {
                    EXPECT_EQ(c.sort_order, kGeneralSortOrder) << c.name;
                }
            }
        }
        // Every key computed, and each one ours: header and keys agree.
        const CheckReport check = Strict(broken);
        EXPECT_TRUE(check.clean()) << FormatReport(check);
        EXPECT_EQ(check.stats.indexes_not_recomputed, 0u);
        EXPECT_EQ(check.stats.keys_compared, check.stats.index_entries);
        EXPECT_TRUE(testkit::CarriedIndexEntries(broken).empty());
        // Every row, as the outside readers read it.
        if (testkit::HaveMdbTools()) {
            EXPECT_EQ(testkit::MdbExportDump(broken), testkit::MdbExportDump(sound));
        }
        if (testkit::HaveNodeOracle()) {
            EXPECT_EQ(testkit::NodeDump(broken), testkit::NodeDump(sound));
        }

        // Damage elsewhere: the keys are carried and the order kept.
        std::filesystem::remove(broken);
        std::filesystem::copy_file(sound, broken);
        {
            auto view = DatabaseView::Open(Env::Default(), broken);
            DamageOptions at;
            at.page = view->ReadTable("Pessoas").tdef_page;
            view.reset();
            ASSERT_TRUE(
                InjectDamage(Env::Default(), broken, DamageKind::kWrongRowCount, at).applied);
        }
        const RepairReport kept = RepairDatabase(Env::Default(), broken);
        EXPECT_TRUE(kept.rebuilt);
        EXPECT_EQ(kept.sort_order_replaced, 0);
        EXPECT_EQ(HeaderOf(broken).sort_order, testkit::kThaiSortOrder);
        EXPECT_EQ(testkit::CarriedIndexEntries(broken), testkit::CarriedIndexEntries(sound));
    }
}

TEST(CarriedKeys, AnUpdateInPlaceRefusesAnIndexedColumnOfAnotherSortOrder) {
    TempDir folder;
    const std::string path = folder / "thai.mdb";
    testkit::CreateForeignSortOrderDatabase(path, Version::kJet4, 30);
    const testkit::KeyedRows keys = testkit::CarriedIndexEntries(path);
    {
        auto db = Database::Open(Env::Default(), path);
        // Text takes no literal at all; an indexed column of another type is refused as such.
        for (const char* column : {"Nome", "Cidade", "Id"}) {
            try {
                db->Execute(std::string("UPDATE Pessoas SET ") + column + " = 7");
                ADD_FAILURE() << column << " was updated in place";
            } catch (const JetError& e) {
                if (std::string(column) == "Id") {
                    EXPECT_EQ(e.number(), kInvalidOperation) << e.what();
                }
            }
        }
        db->Execute("UPDATE Pessoas SET Ativo = True");
        db->Close();
    }
    EXPECT_EQ(testkit::CarriedIndexEntries(path), keys);
    const CheckReport check = Strict(path);
    EXPECT_TRUE(check.clean()) << FormatReport(check);
}

}  // namespace
}  // namespace jet
