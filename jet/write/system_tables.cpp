#include "jet/write/system_tables.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>

#include "jet/base/put_bytes.h"
#include "jet/format/row_codec.h"
#include "jet/format/text_codec.h"
#include "jet/read/catalog.h"
#include "jet/write/tdef_writer.h"

namespace jet {

namespace {

// Column flags Jet gives the columns of its system tables.
constexpr uint8_t kSystemColumn = 0x10;
constexpr uint8_t kSidColumn = 0x20;

// Page 0 fields of an empty Jet 4 database made by Jet itself, which go with kJet4SidMask.
constexpr uint8_t kJet4CreationDate[8] = {0x81, 0xAF, 0xD4, 0x6B, 0x4F, 0xEC, 0xE4, 0x40};
constexpr uint8_t kJet4Word6A[2] = {0xA6, 0x11};
constexpr uint8_t kJet4SidMask[2] = {0x04, 0xE9};

ColumnDef Column(const char* name, ColumnType type, uint16_t text_chars, Version v,
                 uint8_t extra_flags = 0) {
    ColumnDef c;
    c.name = name;
    c.type = type;
    c.flags = static_cast<uint8_t>(kColumnNullable | kSystemColumn | extra_flags);
    // A Jet 4 definition has no code page field: the column reads back with none.
    if (v == Version::kJet4) c.code_page = 0;
    if (type == ColumnType::kText || type == ColumnType::kBinary)
        c.length = static_cast<uint16_t>(v == Version::kJet4 ? 2 * text_chars : text_chars);
    return c;
}

void Index(TableDef& t, const char* name, std::vector<uint16_t> columns, uint32_t number,
           uint8_t flags, IndexKind kind) {
    RealIndexDef r;
    for (uint16_t c : columns) r.columns.push_back({c, true});
    r.flags = flags;
    LogicalIndexDef l;
    l.name = name;
    l.number = number;
    l.real_index = static_cast<uint32_t>(t.real_indexes.size());
    l.kind = kind;
    t.real_indexes.push_back(r);
    t.indexes.push_back(l);
}

Bytes Sid(uint8_t a, uint8_t b, Version v) {
    if (v == Version::kJet3) return {a, b};
    return {static_cast<uint8_t>(a ^ kJet4SidMask[0]), static_cast<uint8_t>(b ^ kJet4SidMask[1])};
}

// A column of one of Access's own tables. Access keeps even its Long columns in the variable
// area; only the columns marked kColumnFixed are fixed.
struct AccessField {
    const char* name;
    ColumnType type;
    uint16_t length = 0;  // bytes; 0: the type's size
    uint8_t flags = 0;    // kColumnFixed, kColumnAutoNumber (kColumnNullable always)
    bool compressed = false;
};

// An index: its columns by name, "-" before a descending one, separated by commas.
struct AccessKey {
    const char* name;
    const char* columns;
    uint8_t flags;
    IndexKind kind = IndexKind::kNormal;
};

constexpr uint8_t kJet3 = 1, kJet4 = 2;

// One layout Access writes: the tables that have it, the versions, the columns in the order
// Access declares them and the indexes in the order it makes them. Each layout also comes in
// alphabetical order (see AccessSystemTableDefs); `alphabetical_first` when files hold it more
// often.
struct AccessLayout {
    std::vector<const char*> names;
    uint8_t versions;
    bool alphabetical_first;
    std::vector<AccessField> fields;
    std::vector<AccessKey> keys;
};

const std::vector<AccessLayout>& AccessLayouts() {
    const ColumnType kLong = ColumnType::kLong, kText = ColumnType::kText, kOle = ColumnType::kOle,
                     kGuid = ColumnType::kGuid, kDate = ColumnType::kDateTime;
    const uint8_t kAuto = kColumnAutoNumber;
    const uint8_t kKey = kIndexUnique | kIndexRequired;
    const IndexKind kPk = IndexKind::kPrimaryKey;
    static const std::vector<AccessLayout> layouts = {
        {{"MSysAccessObjects"},
         kJet3,
         false,
         {{"Data", ColumnType::kBinary, 241, kColumnFixed}, {"ID", kLong}},
         {{"AOIndex", "ID", kKey, kPk}}},
        {{"MSysAccessObjects"},
         kJet4,
         false,
         {{"Data", ColumnType::kFixedBinary, 3992, kColumnFixed}, {"ID", kLong}},
         {{"AOIndex", "ID", kKey, kPk}}},
        {{"MSysAccessStorage"},
         kJet4,
         false,
         {{"Id", kLong, 0, kAuto},
          {"Name", kText, 256},
          {"ParentId", kLong},
          {"Type", kLong},
          {"DateCreate", kDate},
          {"DateUpdate", kDate},
          {"Lv", kOle}},
         {{"Id", "Id", kKey, kPk},
          {"ParentIdName", "ParentId,Name", kIndexUnique},
          {"ParentIdId", "ParentId,Id", kIndexUnique}}},
        {{"MSysAccessXML"},
         kJet4,
         false,
         {{"Id", kLong, 0, kAuto},
          {"ObjectGuid", kGuid},
          {"ObjectName", kText, 130},
          {"Property", kText, 130},
          {"Value", kText, 510},
          {"LValue", kOle}},
         {{"Id", "Id", kKey, kPk},
          {"ObjectGuidProperty", "ObjectGuid,Property", kIndexUnique},
          {"ObjectNameProperty", "ObjectName,Property", kIndexUnique}}},
        {{"MSysCmdbars"},
         kJet3,
         false,
         {{"Grptbcd", kOle}, {"TbName", kText, 255}},
         {{"TbIndex", "TbName", kKey, kPk}}},
        {{"MSysCmdbars"},
         kJet4,
         false,
         {{"Grptbcd", kOle}, {"TbName", kText, 510, 0, true}},
         {{"TbIndex", "TbName", kKey, kPk}}},
        {{"MSysToolbars"},
         kJet3,
         false,
         {{"TbName", kText, 255}, {"Grptbcd", kOle}},
         {{"TbIndex", "TbName", kKey, kPk}}},
        // Access 97's MSysModules holds a single column; its modules are in MSysModules2.
        {{"MSysModules"}, kJet3, false, {{"__A__", kText, 255}}, {}},
        {{"MSysModules2", "MSysModules"},
         kJet3,
         true,
         {{"Name", kText, 255},
          {"Type", kLong},
          {"Version", kLong, 0, kAuto},
          {"ReplicationVersion", kLong},
          {"Flags", kLong},
          {"Module", kOle},
          {"Form", kOle},
          {"TypeInfo", kOle}},
         {{"Index1", "Name,Type,-Version", kIndexRequired}}},
        {{"MSysNameMap"},
         kJet4,
         true,
         {{"Id", kLong, 0, kAuto},
          {"Name", kText, 130},
          {"Type", kLong},
          {"GUID", kGuid},
          {"NameMap", kOle}},
         {}},
        {{"MSysNavPaneGroupCategories"},
         kJet4,
         false,
         {{"Id", kLong, 0, kAuto},
          {"Name", kText, 510},
          {"Type", kLong},
          {"SelectedObjectID", kLong},
          {"Filter", kText, 510},
          {"Position", kLong},
          {"Flags", kLong}},
         {{"Id", "Id", kKey, kPk}}},
        {{"MSysNavPaneGroups"},
         kJet4,
         false,
         {{"Id", kLong, 0, kAuto},
          {"Name", kText, 510},
          {"GroupCategoryID", kLong},
          {"ObjectID", kLong},
          {"Position", kLong},
          {"Object Type Group", kLong},
          {"Flags", kLong}},
         {{"Id", "Id", kKey, kPk}, {"GroupCategoryID", "GroupCategoryID", 0}}},
        {{"MSysNavPaneGroupToObjects"},
         kJet4,
         false,
         {{"Id", kLong, 0, kAuto},
          {"ObjectID", kLong},
          {"GroupID", kLong},
          {"Name", kText, 510},
          {"Position", kLong},
          {"Icon", kLong},
          {"Flags", kLong}},
         {{"Id", "Id", kKey, kPk}, {"GroupID", "GroupID", 0}}},
        {{"MSysNavPaneObjectIDs"},
         kJet4,
         false,
         {{"Id", kLong}, {"Name", kText, 130}, {"Type", kLong}},
         {}},
    };
    return layouts;
}

bool NameBefore(const char* a, const char* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        const int x = std::tolower(static_cast<unsigned char>(*a));
        const int y = std::tolower(static_cast<unsigned char>(*b));
        if (x != y) return x < y;
    }
    return *a == 0 && *b != 0;
}

// The definition of `layout` for `name`, its columns and indexes in declared or alphabetical
// order, as it reads back from a file.
TableDef AccessDef(const AccessLayout& layout, const std::string& name, Version v,
                   bool alphabetical) {
    TableDef t;
    t.name = name;
    t.table_type = kTableUser;
    std::vector<AccessField> fields = layout.fields;
    std::vector<AccessKey> keys = layout.keys;
    if (alphabetical) {
        std::stable_sort(fields.begin(), fields.end(),
                         [](const auto& a, const auto& b) { return NameBefore(a.name, b.name); });
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return NameBefore(a.name, b.name); });
    }
    uint16_t fixed_at = 0;
    for (const AccessField& f : fields) {
        ColumnDef c;
        c.name = f.name;
        c.type = f.type;
        c.flags = static_cast<uint8_t>(kColumnNullable | f.flags);
        if (v == Version::kJet4) c.code_page = 0;
        if (f.compressed) c.ext_flags = kColumnCompressedUnicode;
        c.col_num = t.max_cols++;
        if (!c.long_value())
            c.length = f.length != 0 ? f.length : FixedStorageSize(f.type, f.length);
        if (c.fixed()) {
            c.fixed_offset = fixed_at;
            fixed_at = static_cast<uint16_t>(fixed_at + c.length);
        } else {
            c.var_index = t.num_var_cols++;
        }
        t.columns.push_back(std::move(c));
    }
    for (const AccessKey& k : keys) {
        std::vector<uint16_t> columns;
        std::vector<bool> descending;
        std::string list = k.columns;
        for (size_t at = 0; at <= list.size();) {
            size_t end = list.find(',', at);
            if (end == std::string::npos) end = list.size();
            std::string column = list.substr(at, end - at);
            descending.push_back(!column.empty() && column[0] == '-');
            if (descending.back()) column.erase(0, 1);
            columns.push_back(static_cast<uint16_t>(ColumnIndex(t, column)));
            at = end + 1;
        }
        Index(t, k.name, columns, 0, k.flags, k.kind);
        for (size_t i = 0; i < descending.size(); ++i)
            t.real_indexes.back().columns[i].ascending = !descending[i];
    }
    // The named indexes are stored in the order of their names.
    std::stable_sort(t.indexes.begin(), t.indexes.end(), [](const auto& a, const auto& b) {
        return NameBefore(a.name.c_str(), b.name.c_str());
    });
    for (size_t i = 0; i < t.indexes.size(); ++i) t.indexes[i].number = static_cast<uint32_t>(i);
    if (v == Version::kJet4)
        for (RealIndexDef& r : t.real_indexes) r.flags |= kJet4IndexFlag;
    return t;
}

}  // namespace

TableDef SystemTableDef(SystemTable which, Version v) {
    TableDef t;
    t.table_type = kTableSystem;
    const ColumnType kLong = ColumnType::kLong, kText = ColumnType::kText,
                     kBin = ColumnType::kBinary, kOle = ColumnType::kOle;
    switch (which) {
        case SystemTable::kObjects:
            t.name = "MSysObjects";
            t.columns = {Column("Id", kLong, 0, v),
                         Column("ParentId", kLong, 0, v),
                         Column("Name", kText, 255, v),
                         Column("Type", ColumnType::kInteger, 0, v),
                         Column("DateCreate", ColumnType::kDateTime, 0, v),
                         Column("DateUpdate", ColumnType::kDateTime, 0, v),
                         Column("Owner", kBin, 255, v, kSidColumn),
                         Column("Flags", kLong, 0, v),
                         Column("Database", ColumnType::kMemo, 0, v),
                         Column("Connect", ColumnType::kMemo, 0, v),
                         Column("ForeignName", kText, 255, v),
                         Column("RmtInfoShort", kBin, 255, v),
                         Column("RmtInfoLong", kOle, 0, v),
                         Column("Lv", kOle, 0, v),
                         Column("LvProp", kOle, 0, v),
                         Column("LvModule", kOle, 0, v),
                         Column("LvExtra", kOle, 0, v)};
            AssignNewColumnLayout(t);
            // Real index 0 backs ParentIdName, real index 1 the primary key Id.
            Index(t, "ParentIdName", {1, 2}, 0, kIndexUnique, IndexKind::kNormal);
            Index(t, "Id", {0}, 1, kIndexUnique, IndexKind::kPrimaryKey);
            std::swap(t.indexes[0], t.indexes[1]);  // names are stored as Id, ParentIdName
            break;
        case SystemTable::kAces:
            t.name = "MSysACEs";
            t.columns = {Column("ObjectId", kLong, 0, v), Column("SID", kBin, 255, v, kSidColumn),
                         Column("ACM", kLong, 0, v),
                         Column("FInheritable", ColumnType::kBoolean, 0, v)};
            AssignNewColumnLayout(t);
            Index(t, "ObjectId", {0}, 0, kIndexRequired, IndexKind::kNormal);
            break;
        case SystemTable::kQueries:
            t.name = "MSysQueries";
            t.columns = {Column("ObjectId", kLong, 0, v),
                         Column("Attribute", ColumnType::kByte, 0, v),
                         Column("Order", kBin, 255, v),
                         Column("Name1", kText, 255, v),
                         Column("Name2", kText, 255, v),
                         Column("Expression", ColumnType::kMemo, 0, v),
                         Column("Flag", ColumnType::kInteger, 0, v)};
            if (v == Version::kJet4) t.columns.push_back(Column("LvExtra", kLong, 0, v));
            AssignNewColumnLayout(t);
            Index(t, "ObjectIdAttribute", {0, 1, 2}, 0, kIndexUnique, IndexKind::kPrimaryKey);
            break;
        case SystemTable::kRelationships:
            t.name = "MSysRelationships";
            t.columns = {Column("szRelationship", kText, 255, v),
                         Column("grbit", kLong, 0, v),
                         Column("ccolumn", kLong, 0, v),
                         Column("icolumn", kLong, 0, v),
                         Column("szObject", kText, 255, v),
                         Column("szColumn", kText, 255, v),
                         Column("szReferencedObject", kText, 255, v),
                         Column("szReferencedColumn", kText, 255, v)};
            AssignNewColumnLayout(t);
            // Logical order szObject, szReferencedObject, szRelationship; real order by column.
            Index(t, "szRelationship", {0}, 0, kIndexIgnoreNulls, IndexKind::kNormal);
            Index(t, "szObject", {4}, 1, kIndexIgnoreNulls, IndexKind::kNormal);
            Index(t, "szReferencedObject", {6}, 2, kIndexIgnoreNulls, IndexKind::kNormal);
            std::rotate(t.indexes.begin(), t.indexes.begin() + 1, t.indexes.end());
            break;
    }
    // As a Jet 4 definition reads back: every index of it carries the version's flag.
    if (v == Version::kJet4)
        for (RealIndexDef& r : t.real_indexes) r.flags |= kJet4IndexFlag;
    return t;
}

std::vector<TableDef> AccessSystemTableDefs(const std::string& name, Version v) {
    std::vector<TableDef> defs;
    const uint8_t version = v == Version::kJet3 ? kJet3 : kJet4;
    auto add = [&defs](TableDef def) {
        for (const TableDef& other : defs) {
            bool same = other.columns.size() == def.columns.size();
            for (size_t i = 0; same && i < def.columns.size(); ++i)
                same = other.columns[i].name == def.columns[i].name;
            if (same) return;
        }
        defs.push_back(std::move(def));
    };
    for (const AccessLayout& layout : AccessLayouts()) {
        if (!(layout.versions & version)) continue;
        for (const char* table : layout.names) {
            if (!NamesEqual(table, name)) continue;
            add(AccessDef(layout, table, v, layout.alphabetical_first));
            add(AccessDef(layout, table, v, !layout.alphabetical_first));
        }
    }
    return defs;
}

Bytes AccountSid(Account account, Version v) {
    switch (account) {
        case Account::kEngine:
            return Sid(0x02, 0x03, v);
        case Account::kAdmin:
            return Sid(0x03, 0x01, v);
        case Account::kAdmins:
            return Sid(0x02, 0x04, v);
        case Account::kUsers:
            return Sid(0x02, 0x01, v);
    }
    return {};
}

DatabaseHeader NewDatabaseHeader(Version version) {
    const size_t ps = PageSize(version);
    Bytes raw(ps, 0);
    raw[1] = 0x01;
    std::memcpy(&raw[0x04], "Standard Jet DB", 15);
    raw[0x14] = version == Version::kJet3 ? 0 : 1;
    // Constant in every file Jet wrote (meaning unknown).
    static constexpr uint8_t kConstant[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                              0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                              0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    std::memcpy(&raw[0x18], kConstant, sizeof kConstant);
    // Commit words as a new file Jet made has them: entry 0 01 01, entry 1 00 01, the others
    // closed.
    const size_t commit = CommitWordsOffset(version);
    raw[commit] = 0x01;
    raw[commit + 1] = 0x01;
    raw[commit + 2] = 0x00;
    raw[commit + 3] = 0x01;
    CloseUserCommitWords(raw, version);
    DatabaseHeader h;
    h.version = version;
    h.engine_name = "Standard Jet DB";
    h.sort_order = 1033;
    h.sort_version = 0;
    h.code_page = 1252;
    h.encryption_key = 0;
    if (version == Version::kJet3) {
        raw[0x38] = 0x01;  // as Access 97 leaves it (meaning unknown)
        raw[0x56] = 0x1E;  // the word after the password, as Access 97 writes it (unknown)
        raw[0x57] = 0x25;
    } else {
        raw[0x6A] = kJet4Word6A[0];
        raw[0x6B] = kJet4Word6A[1];
        static constexpr uint8_t kJet4Block[8] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
        std::memcpy(&raw[0x98], kJet4Block, sizeof kJet4Block);
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) bits = (bits << 8) | kJet4CreationDate[i];
        h.creation_date = std::bit_cast<double>(bits);
    }
    h.raw = std::move(raw);
    return h;
}

Row CatalogRow(uint32_t id, uint32_t parent_id, const std::string& name, int16_t type,
               double date_create, double date_update, const Bytes& owner, uint32_t flags) {
    Row row(17);
    row[0] = static_cast<int64_t>(static_cast<int32_t>(id));
    row[1] = static_cast<int64_t>(static_cast<int32_t>(parent_id));
    row[2] = Utf8ToUtf16(name);
    row[3] = static_cast<int64_t>(type);
    row[4] = date_create;
    row[5] = date_update;
    row[6] = owner;
    row[7] = static_cast<int64_t>(static_cast<int32_t>(flags));
    return row;
}

std::vector<Row> InitialCatalogRows(Version v, double date) {
    const Bytes engine = AccountSid(Account::kEngine, v);
    const Bytes admin = AccountSid(Account::kAdmin, v);
    return {
        CatalogRow(kTablesContainerId, kRootContainerId, "Tables", kObjectContainer, date, date,
                   engine, kFlagJetSystem),
        CatalogRow(kDatabasesContainerId, kRootContainerId, "Databases", kObjectContainer, date,
                   date, engine, kFlagJetSystem),
        CatalogRow(kRelationshipsContainerId, kRootContainerId, "Relationships", kObjectContainer,
                   date, date, engine, kFlagJetSystem),
        CatalogRow(kMSysDbId, kDatabasesContainerId, "MSysDb", kObjectDatabase, date, date, admin,
                   kFlagJetSystem),
        CatalogRow(kCatalogPage, kTablesContainerId, "MSysObjects", kObjectTable, date, date,
                   engine, kFlagJetSystem),
        CatalogRow(3, kTablesContainerId, "MSysACEs", kObjectTable, date, date, engine,
                   kFlagJetSystem),
        CatalogRow(4, kTablesContainerId, "MSysQueries", kObjectTable, date, date, engine,
                   kFlagJetSystem),
        CatalogRow(5, kTablesContainerId, "MSysRelationships", kObjectTable, date, date, engine,
                   kFlagJetSystem),
    };
}

Row UserTableCatalogRow(Version v, uint32_t id, const std::string& name, double date) {
    return CatalogRow(id, kTablesContainerId, name, kObjectTable, date, date,
                      AccountSid(Account::kAdmin, v), 0);
}

Row AceRow(uint32_t object_id, const Bytes& sid, int32_t acm, bool inheritable) {
    return {static_cast<int64_t>(static_cast<int32_t>(object_id)), sid, static_cast<int64_t>(acm),
            inheritable};
}

std::vector<Row> InitialAceRows(Version v) {
    const Bytes admin = AccountSid(Account::kAdmin, v);
    const Bytes admins = AccountSid(Account::kAdmins, v);
    const Bytes users = AccountSid(Account::kUsers, v);
    // The rows of an empty database made by Jet, in the order it writes them.
    return {
        AceRow(2, admin, 393216, false),
        AceRow(3, admin, 393216, false),
        AceRow(4, admin, 393216, false),
        AceRow(5, admin, 917504, false),
        AceRow(kTablesContainerId, admins, 983294, true),
        AceRow(kTablesContainerId, admin, 393217, false),
        AceRow(kRelationshipsContainerId, admins, 983294, true),
        AceRow(kRelationshipsContainerId, admin, 393217, false),
        AceRow(kDatabasesContainerId, admin, 393216, false),
        AceRow(kMSysDbId, admin, 393230, false),
        AceRow(kMSysDbId, users, 14, false),
        AceRow(4, users, 20, false),
        AceRow(5, users, 20, false),
        AceRow(2, users, 20, false),
        AceRow(kTablesContainerId, users, 1048319, true),
        AceRow(kRelationshipsContainerId, users, 1048575, true),
    };
}

std::vector<Row> UserTableAceRows(Version v, uint32_t id) {
    return {AceRow(id, AccountSid(Account::kAdmin, v), 1048319, false),
            AceRow(id, AccountSid(Account::kUsers, v), 1048319, false)};
}

}  // namespace jet
