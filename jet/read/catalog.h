// The catalog: MSysObjects, whose definition is always at page 2. Each row names one object
// (table, query, container, form ...): Id, ParentId, Name, Type, Flags, and for linked tables
// Database / Connect / ForeignName. A local table's Id is its TDEF page. Linked tables (types 4
// and 6) are recognised and never followed. Names compare the way Jet compares them: without
// regard to case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/data_page.h"
#include "jet/format/mdb_file.h"
#include "jet/format/schema.h"

namespace jet {

constexpr uint32_t kCatalogPage = 2;

// MSysObjects.Type values.
constexpr int16_t kObjectTable = 1;
constexpr int16_t kObjectDatabase = 2;
constexpr int16_t kObjectContainer = 3;
constexpr int16_t kObjectLinkedOdbc = 4;
constexpr int16_t kObjectQuery = 5;
constexpr int16_t kObjectLinkedJet = 6;
constexpr int16_t kObjectRelationship = 8;

// MSysObjects.Flags bits marking system objects (Jet's own and Access's).
constexpr uint32_t kFlagJetSystem = 0x80000000u;
constexpr uint32_t kFlagAccessSystem = 0x00000002u;

struct CatalogEntry {
    uint32_t id = 0;
    uint32_t parent_id = 0;
    std::string name;  // UTF-8
    int16_t type = 0;
    uint32_t flags = 0;
    RowLocation location;  // where the row is

    bool is_local_table() const { return type == kObjectTable; }
    bool is_linked_table() const { return type == kObjectLinkedOdbc || type == kObjectLinkedJet; }
    bool is_system() const { return (flags & (kFlagJetSystem | kFlagAccessSystem)) != 0; }
    uint32_t tdef_page() const { return id & 0x00FFFFFFu; }
};

// True when Jet takes the two names for the same object name (case-insensitive).
bool NamesEqual(std::string_view a, std::string_view b);
// The position of the column named `name` (NamesEqual) among `t`'s columns; -1 when none.
int ColumnIndex(const TableDef& t, std::string_view name);

class Catalog {
  public:
    Catalog() = default;
    // Reads every live row of MSysObjects: the columns of an entry (a damaged value in another
    // column is left to the readers of the table). Throws 3343 when page 2 is not its
    // definition, or a row or one of those values is damaged.
    static Catalog Read(MdbFile& file);

    const TableDef& objects_table() const { return objects_; }
    // Moves the definition of MSysObjects out (objects_table() is empty after it).
    TableDef TakeObjectsTable() { return std::move(objects_); }
    const std::vector<CatalogEntry>& entries() const { return entries_; }
    // A table (local or linked) by name; null when none.
    const CatalogEntry* FindTable(std::string_view name) const;
    const CatalogEntry* FindById(uint32_t id) const;
    // Local tables, in catalog order; system tables only when asked.
    std::vector<const CatalogEntry*> Tables(bool include_system) const;

  private:
    TableDef objects_;
    std::vector<CatalogEntry> entries_;
};

}  // namespace jet
