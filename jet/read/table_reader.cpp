#include "jet/read/table_reader.h"

#include <string>

#include "jet/base/error.h"
#include "jet/format/row_codec.h"
#include "jet/format/tdef.h"

namespace jet {
namespace {

// Overflow rows point to their data; Access writes one hop, a few more are tolerated.
constexpr int kMaxOverflowHops = 8;

}  // namespace

TableScanner::TableScanner(MdbFile& file, const TableDef& table, ScanOptions options)
    : file_(file), table_(table), options_(options) {
    const UsageMap map = ReadUsageMap(file, table.owned_map);
    pages_.reserve(map.pages.size());
    for (uint32_t page : map.pages) {
        if (page < file.page_count()) {
            pages_.push_back(page);
        } else if (options.skip_missing_pages) {
            missing_.push_back(page);
        } else {
            file.Corrupt("table '" + table.name + "' has page " + std::to_string(page) +
                         " past the end of the file");
        }
    }
}

bool TableScanner::LoadPage(size_t index) {
    file_.ReadPage(pages_[index], page_);
    if (!IsDataPageOf(page_, table_.tdef_page)) return false;
    try {
        page_rows_ = DataPage(page_, file_.version()).row_count();
    } catch (const JetError&) {
        if (!options_.skip_damaged_rows) throw;
        ++damaged_pages_;
        return false;
    }
    next_row_ = 0;
    return true;
}

void TableScanner::LocateRow(const DataPage& page, uint16_t i, uint16_t entry) {
    location_ = {pages_[page_index_], i};
    data_location_ = location_;
    row_ = page.row(i);
    int hops = 0;
    uint16_t flags = entry;
    while (flags & kRowOverflow) {
        if (++hops > kMaxOverflowHops) file_.Corrupt("overflow rows loop");
        const RowPointer to = RowPointer::FromPacked(U32(row_, 0));
        if (to.page >= file_.page_count())
            file_.Corrupt("overflow row points past the end of the file");
        file_.ReadPage(to.page, target_page_);
        if (!IsDataPageOf(target_page_, table_.tdef_page))
            file_.Corrupt("overflow row points to a page of another owner");
        const DataPage target(target_page_, file_.version());
        if (to.row >= target.row_count()) file_.Corrupt("overflow row points to no row");
        flags = target.entry(to.row);
        row_ = target.row(to.row);
        data_location_ = {to.page, to.row};
    }
}

bool TableScanner::Next() {
    for (;;) {
        if (!page_loaded_) {
            if (page_index_ >= pages_.size()) return false;
            page_loaded_ = LoadPage(page_index_);
            if (!page_loaded_) {
                ++page_index_;
                continue;
            }
        }
        if (next_row_ >= page_rows_) {
            page_loaded_ = false;
            ++page_index_;
            continue;
        }
        const DataPage page(page_, file_.version());
        const uint16_t i = next_row_++;
        const uint16_t entry = page.entry(i);
        if (entry & kRowDeleted) continue;
        try {
            LocateRow(page, i, entry);
        } catch (const JetError&) {
            if (!options_.skip_damaged_rows) throw;
            ++damaged_rows_;
            continue;
        }
        return true;
    }
}

Row TableScanner::Decode() const {
    return DecodeRow(file_, table_, row_);
}

void TableScanner::DecodeTo(Row& out) {
    DecodeRowTo(file_, table_, row_, out, long_value_);
}

std::unique_ptr<DatabaseView> DatabaseView::Open(Env* env, const std::string& path,
                                                 const OpenOptions& options) {
    return std::make_unique<DatabaseView>(MdbFile::Open(env, path, options));
}

DatabaseView::DatabaseView(std::unique_ptr<MdbFile> file)
    : file_(std::move(file)), catalog_(Catalog::Read(*file_)) {}

std::vector<std::string> DatabaseView::TableNames(bool include_system) const {
    std::vector<std::string> names;
    for (const CatalogEntry* e : catalog_.Tables(include_system)) names.push_back(e->name);
    return names;
}

TableDef DatabaseView::ReadTable(const std::string& name) {
    const CatalogEntry* e = catalog_.FindTable(name);
    if (e == nullptr || !e->is_local_table()) Raise(kInputTableNotFound, name);
    TableDef t = ReadTableDef(*file_, e->tdef_page());
    t.name = e->name;
    return t;
}

std::vector<Row> DatabaseView::ReadRows(const TableDef& table, ScanOptions options) {
    std::vector<Row> rows;
    ForEachRow(
        *file_, table, [&](const RowLocation&, Row row) { rows.push_back(std::move(row)); },
        options);
    return rows;
}

}  // namespace jet
