#include "jet/read/catalog.h"

#include <gtest/gtest.h>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/tdef.h"
#include "jet/read/table_reader.h"
#include "jet/testing/fixtures.h"
#include "jet/testing/memory_env.h"
#include "tests/support/corpus.h"

namespace jet {
namespace {

// Access's own catalogs and definitions: the path of a corpus file, empty without it.
std::string CorpusFile(const char* name) {
    const std::string path = jet::testkit::CorpusFile(name);
    return std::filesystem::exists(path) ? path : "";
}

TEST(Catalog, NamesCompareWithoutCase) {
    EXPECT_TRUE(NamesEqual("Clientes", "CLIENTES"));
    EXPECT_TRUE(NamesEqual("análise", "ANÁLISE"));
    EXPECT_TRUE(NamesEqual("Łódź", "łÓDŹ"));
    EXPECT_TRUE(NamesEqual("Таблица", "ТАБЛИЦА"));
    EXPECT_FALSE(NamesEqual("analise", "análise"));
    EXPECT_FALSE(NamesEqual("Table1", "Table1 "));
}

TEST(Catalog, ReadsObjectsOfBothVersions) {
    for (const char* name :
         {"jackcess-V1997-test2V1997.mdb", "jackcess-V2003-testUnicodeCompV2003.mdb"}) {
        SCOPED_TRACE(name);
        const std::string path = CorpusFile(name);
        if (path.empty()) GTEST_SKIP() << "no corpus file " << name;
        auto db = DatabaseView::Open(Env::Default(), path);
        const Catalog& c = db->catalog();
        const CatalogEntry* objects = c.FindTable("msysobjects");
        ASSERT_NE(objects, nullptr);
        EXPECT_EQ(objects->id, kCatalogPage);
        EXPECT_TRUE(objects->is_system());
        EXPECT_NE(c.FindById(0x0F000001), nullptr);  // the Tables container
        EXPECT_EQ(c.FindTable("no such table"), nullptr);
        EXPECT_EQ(db->TableNames().size(), 1u);
        for (const CatalogEntry* t : c.Tables(true)) EXPECT_FALSE(t->name.empty());
        try {
            db->ReadTable("no such table");
            ADD_FAILURE();
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), kInputTableNotFound);
        }
    }
}

TEST(TableDef, MultiPageDefinitionWithLongValueMaps) {
    const std::string path = CorpusFile("jackcess-V1997-test2V1997.mdb");
    if (path.empty()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    auto db = DatabaseView::Open(Env::Default(), path);
    const TableDef t = db->ReadTable("MSP_PROJECTS");
    EXPECT_EQ(t.definition_pages.size(), 2u);
    EXPECT_EQ(t.definition_raw.size(), t.definition_length);
    EXPECT_EQ(t.columns.size(), t.columns.back().col_num + 1u);
    size_t long_values = 0;
    for (const ColumnDef& c : t.columns) long_values += c.long_value();
    EXPECT_EQ(t.long_value_maps.size(), long_values);
    EXPECT_FALSE(t.real_indexes.empty());
    for (const LogicalIndexDef& l : t.indexes) EXPECT_LT(l.real_index, t.real_indexes.size());
}

TEST(TableDef, DeletedColumnsKeepTheirNumbers) {
    const std::string path = CorpusFile("jackcess-V2000-overflowTestV2000.mdb");
    if (path.empty()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    auto db = DatabaseView::Open(Env::Default(), path);
    const TableDef t = db->ReadTable("Table1");
    EXPECT_EQ(t.columns.size(), 9u);  // a column was deleted: numbers run to 9
    EXPECT_EQ(t.max_cols, 10);
    EXPECT_EQ(t.columns.back().col_num, 9);
    for (size_t i = 1; i < t.columns.size(); ++i)
        EXPECT_LT(t.columns[i - 1].col_num, t.columns[i].col_num);
}

TEST(TableDef, EveryCutOfARealDefinitionFailsCleanly) {
    const std::string path = CorpusFile("jackcess-V2003-testUnicodeCompV2003.mdb");
    if (path.empty()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    auto db = DatabaseView::Open(Env::Default(), path);
    const TableDef t = db->ReadTable("Table");
    const Bytes& def = t.definition_raw;
    const TableDef again = ParseTableDef(def, Version::kJet4, 1252);
    EXPECT_EQ(again.columns.size(), t.columns.size());
    EXPECT_EQ(again.indexes.size(), t.indexes.size());
    for (size_t n = 0; n + 2 < def.size(); ++n) {
        try {
            ParseTableDef(ByteSpan(def).first(n), Version::kJet4, 1252);
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), kUnrecognizedFormat);
        }
    }
}

// A definition continued over `length` more pages added at the end of the file, the last of
// them pointing back to the one at `loop_to` (0: the first page; -1: no loop), is read whole or
// refused as a loop, however long the chain.
TEST(TableDef, ChainsOfAnyLengthAreFollowedOrRefusedWhenTheyLoop) {
    struct Case {
        uint32_t length;
        int loop_to;
    };
    for (const Version v : {Version::kJet3, Version::kJet4}) {
        for (const Case c : {Case{0, 0}, Case{1, -1}, Case{1, 1}, Case{14, 3}, Case{15, 15},
                             Case{16, 0}, Case{16, 16}, Case{40, -1}, Case{40, 17}}) {
            SCOPED_TRACE(testing::Message() << "Jet " << (v == Version::kJet3 ? 3 : 4) << ", "
                                            << c.length << " pages, loop to " << c.loop_to);
            MemoryEnv env;
            const std::string path = MemoryEnv::kFolder + "/tavo.mdb";
            CreateTavoFixture(&env, path, v, TavoFlag::kBoolean);
            OpenOptions writable;
            writable.writable = true;
            auto file = MdbFile::Open(&env, path, writable);
            const uint32_t tdef = DatabaseView::Open(&env, path)->ReadTable("tavo").tdef_page;
            std::vector<uint32_t> chain{tdef};
            for (uint32_t i = 0; i < c.length; ++i) chain.push_back(file->page_count() + i);
            for (size_t i = 0; i < chain.size(); ++i) {
                Bytes page = i == 0 ? file->ReadPage(tdef) : Bytes(file->page_size(), 0);
                page[0] = kPageTableDef;
                page[1] = 0x01;
                const uint32_t next = i + 1 < chain.size() ? chain[i + 1]
                                      : c.loop_to < 0      ? 0
                                                           : chain[c.loop_to];
                PutU32(page, 4, next);
                file->WritePage(chain[i], page);
            }
            try {
                const TableDef t = ReadTableDef(*file, tdef);
                EXPECT_LT(c.loop_to, 0);
                EXPECT_EQ(t.definition_pages, chain);
                EXPECT_EQ(t.columns.size(), 3u);
            } catch (const JetError& e) {
                EXPECT_GE(c.loop_to, 0);
                EXPECT_EQ(e.number(), kUnrecognizedFormat);
                EXPECT_NE(
                    std::string(e.what()).find("loops at page " + std::to_string(chain[c.loop_to])),
                    std::string::npos)
                    << e.what();
            }
        }
    }
}

}  // namespace
}  // namespace jet
