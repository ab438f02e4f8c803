// Creating a database from scratch: the Jet system tables with their rows, then the caller's
// tables with their rows, through the database writer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

// A column of a new table. `chars`: declared length of Text columns in characters (Binary:
// bytes). Jet 4 text allows Unicode compression as Access sets it by default.
ColumnDef NewColumn(const std::string& name, ColumnType type, uint16_t chars = 0,
                    bool auto_number = false);

// Adds an index on `columns` (names, ascending) to a table whose columns are set. A primary key
// is unique and required, as Access makes it.
void AddIndex(TableDef& table, const std::string& name, const std::vector<std::string>& columns,
              IndexKind kind = IndexKind::kNormal, bool unique = false);

struct NewTable {
    // Name and columns (and indexes); the layout is assigned by CreateDatabase, unless
    // `layout_given`: then def's layout is final as it stands (col_num, var_index, fixed_offset,
    // lengths in bytes, index columns by col_num, max_cols and num_var_cols), as a table that
    // Access altered leaves it, with the gaps of deleted columns.
    TableDef def;
    bool layout_given = false;
    std::vector<Row> rows;
    // For large tables, rows made on the fly: called until it returns false; set `*deleted`
    // to write the row already deleted (bloated test files).
    std::function<bool(Row& row, bool* deleted)> generate;
    // Free pages (belonging to no table) added after this table's pages: bloat. Either a
    // count, or a share: as many as make `free_share` (0..0.9) of the pages written so far.
    uint32_t free_pages_after = 0;
    double free_share = 0;
    Bytes free_page_image;  // their content (page-sized), zeros when empty
};

struct NewDatabase {
    Version version = Version::kJet4;
    // Date of the catalog rows (days since 1899-12-30); no clock is read.
    double date = 0;
    std::vector<NewTable> tables;
    bool replace_existing = false;
    size_t sort_memory = 32u << 20;
    // Page key (0 = every page in clear); any other value encodes every page after page 0 as
    // an encoded Jet database stores it.
    uint32_t encryption_key = 0;
    // Sort order of page 0 and of the Text and Memo columns of the tables given (in Jet 3 of
    // every column). The engine keys text in General order only: for another order,
    // `foreign_key`, when set, turns the General key of each entry of an index on such a
    // column into the key to store, standing in for the one Jet would make (tests: what a
    // rebuild must carry unchanged); equal keys must stay equal.
    uint16_t sort_order = 1033;
    std::function<void(Bytes& key)> foreign_key;
};

// Writes the database to `path` (created whole or not at all). Errors as DatabaseWriter; a
// unique index that would hold a duplicate key raises 3022.
void CreateDatabase(Env* env, const std::string& path, const NewDatabase& plan);

}  // namespace jet
