// The Jet system tables of a new database and their first rows, as Jet's own CreateDatabase
// makes them (studied on empty files made by DAO and ADOX, and on Access 97 files):
//
//   page 2  MSysObjects        the catalog: containers Tables/Databases/Relationships, MSysDb,
//                              one row per table (Id = its TDEF page)
//   page 3  MSysACEs           permissions: one row per (object, SID)
//   page 4  MSysQueries        empty
//   page 5  MSysRelationships  empty
//
// Security identifiers: a new database knows the workgroup's built-in accounts, stored as
// 2-byte SIDs: the engine account that owns the system objects (02 03), the Admin user
// (03 01), the Admins group (02 04) and the Users group (02 01). Jet 3 stores them as they are;
// Jet 4 masks them with a key tied to the database's page 0 (its creation date and the word at
// 0x6A), which is not documented. A new Jet 4 database therefore takes page 0's creation date
// and that word from an empty database made by Jet 4 itself, with the matching mask, so that
// its permissions read back exactly as Jet wrote them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/header.h"
#include "jet/format/schema.h"

namespace jet {

// Fixed object ids (docs/format.md 10.2).
constexpr uint32_t kRootContainerId = 0x0F000000u;
constexpr uint32_t kTablesContainerId = 0x0F000001u;
constexpr uint32_t kDatabasesContainerId = 0x0F000002u;
constexpr uint32_t kRelationshipsContainerId = 0x0F000003u;
constexpr uint32_t kMSysDbId = 0x10000000u;

enum class SystemTable { kObjects, kAces, kQueries, kRelationships };

// The definition of a Jet system table (columns, indexes, flags as Jet writes them). Page
// pointers and counts are left for the writer.
TableDef SystemTableDef(SystemTable which, Version version);

// The definitions Access writes for its own tables (MSysAccessObjects, MSysAccessStorage,
// MSysModules, the navigation pane's tables, ...) in a database of `version`, as they read
// back, most common first; empty when Access writes no table of that name for that version.
// Their layouts vary between files: besides the order Access declares the columns in, files
// it copied a database into hold columns and indexes in alphabetical order, and some tables
// come in layouts of their own (MSysModules of Access 97 holds one text column).
std::vector<TableDef> AccessSystemTableDefs(const std::string& name, Version version);

// Built-in accounts of the default workgroup.
enum class Account { kEngine, kAdmin, kAdmins, kUsers };

// The SID bytes of an account as stored in a new database of `version`.
Bytes AccountSid(Account account, Version version);

// Page 0 of a new database (docs/format.md 2.5): constant fields as Jet writes them, sort order
// General, code page 1252, no password, clean commit words; Jet 4: the creation date and
// mask word that go with AccountSid (see above).
DatabaseHeader NewDatabaseHeader(Version version);

// An MSysObjects row, in the column order of SystemTableDef(kObjects).
Row CatalogRow(uint32_t id, uint32_t parent_id, const std::string& name, int16_t type,
               double date_create, double date_update, const Bytes& owner, uint32_t flags);

// The MSysObjects rows of a new database before any user table: the three containers,
// MSysDb and the four system tables (ids 2..5), dated `date`.
std::vector<Row> InitialCatalogRows(Version version, double date);

// The MSysObjects row of a new user table `name` with id `id`.
Row UserTableCatalogRow(Version version, uint32_t id, const std::string& name, double date);

// An MSysACEs row: ObjectId, SID, ACM, FInheritable.
Row AceRow(uint32_t object_id, const Bytes& sid, int32_t acm, bool inheritable);

// The MSysACEs rows of a new database (system tables, containers, MSysDb).
std::vector<Row> InitialAceRows(Version version);

// The MSysACEs rows of a new user table: full rights for Admin and Users, as the Tables
// container passes them on.
std::vector<Row> UserTableAceRows(Version version, uint32_t id);

}  // namespace jet
