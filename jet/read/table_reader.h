// Reading the live rows of a table.
//
// A table's data pages are the pages of its owned-pages usage map that are data pages owned by
// the table (a map may also list pages freed later, which are skipped). On each page, rows
// flagged deleted (0x8000, which also marks the targets of overflow rows) are skipped; an
// overflow row (0x4000) holds a row pointer to where its data now lives, followed here (a few
// hops at most). A row keeps its header location, which is what index entries point to.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/data_page.h"
#include "jet/format/mdb_file.h"
#include "jet/format/schema.h"
#include "jet/format/usage_map.h"
#include "jet/read/catalog.h"

namespace jet {

struct ScanOptions {
    // Strict (false): a page of the owned map past the end of the file raises 3343, since rows
    // were lost. Salvage (true): such pages are skipped and the intact pages still read.
    bool skip_missing_pages = false;
    // Strict (false): a data page whose row table is broken, or a row whose bounds or overflow
    // pointer are broken, raises 3343. Salvage (true): such a page or row is skipped and
    // counted (damaged_pages(), damaged_rows()). Decode() may still throw for a row whose
    // contents are damaged; salvaging callers catch that per row.
    bool skip_damaged_rows = false;
};

class TableScanner {
  public:
    // Reads the table's owned-pages map. REQUIRES: `file` and `table` outlive the scanner.
    TableScanner(MdbFile& file, const TableDef& table, ScanOptions options = {});

    // Advances to the next live row; false when there are no more.
    bool Next();

    // The row's header location (where index entries point).
    const RowLocation& location() const { return location_; }
    // Where the row's data is (differs from location() for overflow rows).
    const RowLocation& data_location() const { return data_location_; }
    bool overflowed() const { return !(location_ == data_location_); }
    // The data row's bytes; valid until the next call to Next().
    ByteSpan row_bytes() const { return row_; }
    // Decodes the current row (reads long values).
    Row Decode() const;
    // Same, into `out`, reusing its buffers (a reader of every row keeps one Row).
    void DecodeTo(Row& out);

    // The pages of the owned map inside the file, in page order (pages that turn out not to be
    // the table's data pages are skipped while scanning).
    const std::vector<uint32_t>& data_pages() const { return pages_; }
    const std::vector<uint32_t>& map_pages() const { return pages_; }
    // Pages of the owned map past the end of the file (only in salvage mode).
    const std::vector<uint32_t>& missing_pages() const { return missing_; }
    // Pages and rows skipped as damaged (only with skip_damaged_rows).
    size_t damaged_pages() const { return damaged_pages_; }
    size_t damaged_rows() const { return damaged_rows_; }

  private:
    bool LoadPage(size_t index);
    // Sets row_, location_ and data_location_ for live row i of the loaded page (following
    // overflow pointers); throws 3343 on damage.
    void LocateRow(const DataPage& page, uint16_t i, uint16_t entry);

    MdbFile& file_;
    const TableDef& table_;
    ScanOptions options_;
    size_t damaged_pages_ = 0;
    size_t damaged_rows_ = 0;
    std::vector<uint32_t> pages_;
    std::vector<uint32_t> missing_;
    size_t page_index_ = 0;
    bool page_loaded_ = false;
    Bytes page_;
    uint16_t page_rows_ = 0;
    uint16_t next_row_ = 0;
    Bytes target_page_;
    Bytes long_value_;  // a Memo's stored bytes while DecodeTo decodes it
    ByteSpan row_;
    RowLocation location_;
    RowLocation data_location_;
};

// Calls `visit(location, row)` for every live row of the table, in storage order.
template <typename Visit>
void ForEachRow(MdbFile& file, const TableDef& table, Visit&& visit, ScanOptions options = {}) {
    TableScanner scanner(file, table, options);
    while (scanner.Next()) visit(scanner.location(), scanner.Decode());
}

// A database opened for reading: the file, its catalog and table definitions on demand.
class DatabaseView {
  public:
    static std::unique_ptr<DatabaseView> Open(Env* env, const std::string& path,
                                              const OpenOptions& options = {});
    explicit DatabaseView(std::unique_ptr<MdbFile> file);

    MdbFile& file() { return *file_; }
    const Catalog& catalog() const { return catalog_; }
    // Names of local tables (system tables too when asked), in catalog order.
    std::vector<std::string> TableNames(bool include_system = false) const;
    // The definition of a local table, named the way Jet compares names; 3078 when there is no
    // such table, 3343 when its definition is damaged. Linked tables give 3078 as well.
    TableDef ReadTable(const std::string& name);
    // All live rows of a table.
    std::vector<Row> ReadRows(const TableDef& table, ScanOptions options = {});

  private:
    std::unique_ptr<MdbFile> file_;
    Catalog catalog_;
};

}  // namespace jet
