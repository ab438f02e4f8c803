// The logical content of a table definition (TDEF), as read from a file and as given to the
// writer. Field names follow docs/format.md 6 (table definitions). Bytes whose
// meaning is unknown are kept in the *_raw members so a rewrite can carry them over verbatim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/value.h"

namespace jet {

enum class Version : uint8_t { kJet3 = 0, kJet4 = 1 };

inline uint32_t PageSize(Version v) {
    return v == Version::kJet3 ? 2048u : 4096u;
}

// Jet's largest file: 1 GB for Jet 3, 2 GB for Jet 4. A file at that size takes no more pages.
inline uint64_t MaxFileSize(Version v) {
    return v == Version::kJet3 ? uint64_t{1} << 30 : uint64_t{1} << 31;
}

enum class ColumnType : uint8_t {
    kBoolean = 0x01,
    kByte = 0x02,
    kInteger = 0x03,
    kLong = 0x04,
    kCurrency = 0x05,
    kSingle = 0x06,
    kDouble = 0x07,
    kDateTime = 0x08,
    kBinary = 0x09,
    kText = 0x0A,
    kOle = 0x0B,
    kMemo = 0x0C,
    kUnknown0D = 0x0D,
    kGuid = 0x0F,
    kNumeric = 0x10,
    kFixedBinary = 0x11,
};

// Column flag bits (descriptor byte "flags").
constexpr uint8_t kColumnFixed = 0x01;
constexpr uint8_t kColumnNullable = 0x02;
constexpr uint8_t kColumnAutoNumber = 0x04;
constexpr uint8_t kColumnReplication = 0x40;
constexpr uint8_t kColumnHyperlink = 0x80;
// Jet 4 extended flag bits.
constexpr uint8_t kColumnCompressedUnicode = 0x01;

struct ColumnDef {
    std::string name;  // UTF-8
    ColumnType type = ColumnType::kLong;
    uint16_t col_num = 0;       // number incl. deleted columns; the null-mask bit
    uint16_t var_index = 0;     // slot in the variable-offset table (variable columns)
    uint16_t fixed_offset = 0;  // offset in the fixed area (fixed columns)
    uint16_t length = 0;        // declared length in bytes
    uint8_t flags = kColumnNullable;
    uint8_t ext_flags = 0;       // Jet 4 only
    uint16_t sort_order = 1033;  // LCID for text columns (Jet 3: on every column)
    uint16_t code_page = 1252;   // Jet 3 only
    uint8_t sort_version = 0;    // Jet 4 text only
    uint8_t precision = 0;       // Jet 4 numeric only
    uint8_t scale = 0;           // Jet 4 numeric only
    Bytes descriptor_raw;        // the descriptor as stored, when read from a file

    bool fixed() const { return (flags & kColumnFixed) != 0; }
    bool long_value() const { return type == ColumnType::kMemo || type == ColumnType::kOle; }
};

struct IndexColumn {
    uint16_t col_num = 0;
    bool ascending = true;
};

// Index flag bits of a real index.
constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;
constexpr uint8_t kIndexRequired = 0x08;
// Set on every index of a Jet 4 definition (Jet 3 has no such bit).
constexpr uint8_t kJet4IndexFlag = 0x80;

// An index data structure (a B-tree of keys); several logical indexes may share one.
struct RealIndexDef {
    std::vector<IndexColumn> columns;  // 1..10
    uint32_t usage_map = 0;            // row pointer (page << 8 | row)
    uint32_t root_page = 0;
    uint8_t flags = 0;
    uint32_t entry_count = 0;   // count block +0
    uint32_t unique_count = 0;  // count block +4
    Bytes raw;                  // definition bytes as stored
};

enum class IndexKind : uint8_t { kNormal = 0, kPrimaryKey = 1, kForeignKey = 2 };

// A named index as Access shows it.
struct LogicalIndexDef {
    std::string name;  // UTF-8
    uint32_t number = 0;
    uint32_t real_index = 0;
    uint8_t rel_table_type = 0;   // 1 primary side, 2 many side (foreign keys only)
    int32_t rel_index = -1;       // related logical index, -1 if none
    uint32_t rel_table_page = 0;  // related table's TDEF page (an object id)
    uint8_t cascade_updates = 0;
    uint8_t cascade_deletes = 0;
    IndexKind kind = IndexKind::kNormal;
    Bytes raw;  // definition bytes as stored
};

// Usage maps of one Memo/OLE column.
struct LongValueColumnMaps {
    uint16_t col_num = 0;
    uint32_t owned_map = 0;  // row pointer
    uint32_t free_map = 0;   // row pointer, 0 = none
};

constexpr uint8_t kTableUser = 0x4E;    // 'N'
constexpr uint8_t kTableSystem = 0x53;  // 'S'

struct TableDef {
    std::string name;        // from the catalog, UTF-8
    uint32_t tdef_page = 0;  // = the table's object id
    uint32_t row_count = 0;
    uint32_t autonumber = 0;  // last Long AutoNumber handed out
    uint8_t table_type = kTableUser;
    uint16_t max_cols = 0;  // next col_num
    uint16_t num_var_cols = 0;
    std::vector<ColumnDef> columns;  // sorted by col_num
    // col_num of each column descriptor in the order the definition stores them, which is the
    // order Access lists the fields in (not always col_num order). Empty: col_num order.
    std::vector<uint16_t> descriptor_order;
    std::vector<RealIndexDef> real_indexes;
    std::vector<LogicalIndexDef> indexes;
    uint32_t owned_map = 0;  // row pointer
    uint32_t free_map = 0;   // row pointer
    std::vector<LongValueColumnMaps> long_value_maps;
    Bytes header_raw;  // the table header as stored (up to the count blocks)
    // As read from a file (empty for a definition built by hand):
    std::vector<uint32_t> definition_pages;  // the TDEF page chain, first = tdef_page
    uint32_t definition_length = 0;          // tdef_len as stored
    Bytes definition_raw;                    // the whole logical definition as stored
};

}  // namespace jet
