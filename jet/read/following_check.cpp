// The following check (checker.h): a file checked table by table as the writer puts it
// together, so that what is left to read at the end is its definitions and maps.
#include <algorithm>

#include "jet/read/checker_impl.h"

namespace jet {

void Checker::FollowTable(const TableDef& def) {
    if (following_) throw std::logic_error("the rows of two tables at once");
    table_counts_.clear();
    following_ = std::make_unique<Following>();
    Following& f = *following_;
    f.def = def;
    f.table = &followed_[def.tdef_page];
    f.table->index_pages.resize(def.real_indexes.size());
    table_names_[def.tdef_page] = def.name;
    f.encoders = MakeEncoders(f.def);
    live_.Reset(f.encoders.each.size());
}

void Checker::FollowDataPages(const std::vector<uint32_t>& pages) {
    if (!following_) throw std::logic_error("data pages outside a table");
    Grow(file_->page_count());
    Following& f = *following_;
    for (uint32_t p : pages) {
        if (!InFile(p)) {
            Error(FindingKind::kDataPage, f.def.name, p, "data page outside the file");
            continue;
        }
        file_->ReadPage(p, f.page);
        if (!IsDataPageOf(f.page, f.def.tdef_page)) {
            Error(FindingKind::kDataPage, f.def.name, p,
                  "a page written with rows of the table is not one of its data pages");
            continue;
        }
        ScanDataPage(f.def, p, f.page, f.encoders, f.scan);
        // The long-value pages its rows used are checked now, while reading their values left
        // them in the read-ahead chunks, not read again once the table's rows end.
        for (uint32_t lv : f.lv_met) {
            if (!InFile(lv)) continue;
            if (lv >= f.lv_checked.size()) f.lv_checked.resize(size_t{lv} + 1 + lv / 2, 0);
            if (f.lv_checked[lv] == 0)
                f.lv_checked[lv] = CheckLongValuePage(f.def, lv, f.page) ? 1 : 2;
        }
        f.lv_met.clear();
    }
}

void Checker::FollowRowsEnd(const TableDef& def,
                            const std::vector<std::vector<uint32_t>>& long_value_pages) {
    if (!following_) throw std::logic_error("the rows of a table that was not begun");
    Grow(file_->page_count());
    Following& f = *following_;
    std::vector<uint32_t>& lv_pages = f.table->lv_pages;
    for (const std::vector<uint32_t>& pages : long_value_pages) {
        for (uint32_t p : pages) {
            if (!InFile(p)) continue;
            const uint8_t checked = p < f.lv_checked.size() ? f.lv_checked[p] : 0;
            if (checked == 1 || (checked == 0 && CheckLongValuePage(def, p, f.page)))
                lv_pages.push_back(p);
        }
    }
    std::sort(lv_pages.begin(), lv_pages.end());
    f.def.row_count = def.row_count;
    FinishRows(f.def, f.scan);
}

void Checker::FollowIndex(size_t number, const RealIndexDef& index) {
    if (!following_ || number >= following_->def.real_indexes.size())
        throw std::logic_error("an index of no table being written");
    Grow(file_->page_count());
    Following& f = *following_;
    CountNotRecomputed(f.encoders, number);
    f.table->index_pages[number] =
        CheckIndex(f.def, number, index, KeysCompared(f.encoders, number), false);
}

void Checker::FollowTableEnd(const TableDef& def) {
    if (!following_) throw std::logic_error("the end of a table that was not begun");
    Following& f = *following_;
    // Only the counts and the index roots are new: the keys were computed by the layout the
    // table was begun with.
    TableDef planned = f.def;
    planned.row_count = def.row_count;
    for (size_t k = 0; k < planned.real_indexes.size() && k < def.real_indexes.size(); ++k)
        planned.real_indexes[k].root_page = def.real_indexes[k].root_page;
    if (!DefinitionDifference(def, planned).empty())
        throw std::logic_error("a table's layout changed while its rows were written");
    FollowedTable& ft = *f.table;
    ft.def = def;
    ft.data_pages = std::move(f.scan.data_pages);
    std::sort(ft.data_pages.begin(), ft.data_pages.end());
    SummarizeTable(def.name);
    live_.Reset(0);
    following_.reset();
}

void Checker::FinishFollowedTable(const std::string& name, uint32_t tdef_page, FollowedTable& ft) {
    ++report_.stats.tables;
    table_counts_.clear();
    ft.listed = true;
    const std::optional<TableDef> read = ReadDefinition(name, tdef_page);
    if (!read) return;
    const TableDef& t = *read;
    const std::string differs = DefinitionDifference(t, ft.def);
    if (!differs.empty()) {
        Error(FindingKind::kTableDef, name, tdef_page,
              "the stored definition differs in " + differs +
                  " from the one the rows were written with");
    }
    CheckLogicalIndexes(t);

    const TableMaps maps = ReadTableMaps(t);
    if (maps.have_owned) {
        // Its rows were checked page by page as written: the map must list those pages, and
        // no other data page of the table.
        Bytes page;
        AscendingPages written(ft.data_pages);
        for (uint32_t p : OwnedPagesInFile(t, maps.owned)) {
            if (written.Contains(p)) continue;
            file_->ReadPage(p, page);
            if (IsDataPageOf(page, tdef_page) && Detailed(FindingKind::kUsageMap)) {
                Error(FindingKind::kUsageMap, name, p,
                      "owned-pages map lists a data page that was not written with the rows");
            }
        }
        AscendingPages owned(maps.owned.pages);
        for (uint32_t p : ft.data_pages) {
            if (!owned.Contains(p) && Detailed(FindingKind::kUsageMap)) {
                Error(FindingKind::kUsageMap, name, p,
                      "a data page of the table is missing from its owned-pages map");
            }
        }
    }
    if (maps.have_owned && maps.have_free) CheckFreeMap(t, maps.owned, maps.free);
    CheckLongValueMaps(t, ft.lv_pages);
    for (size_t k = 0; k < t.real_indexes.size() && k < ft.index_pages.size(); ++k) {
        UsageMap map;
        if (!ReadMap(t.real_indexes[k].usage_map, name, "index " + std::to_string(k) + " usage map",
                     map))
            continue;
        for (uint32_t p : ft.index_pages[k]) IndexPageInMap(t, k, map, p);
    }
    SummarizeTable(name);
}

FollowingCheck::FollowingCheck(MdbFile& being_written, CheckOptions options)
    : options_(std::move(options)), checker_(std::make_unique<Checker>(being_written, options_)) {}

FollowingCheck::~FollowingCheck() = default;

void FollowingCheck::TableBegun(const TableDef& def) {
    checker_->FollowTable(def);
}

void FollowingCheck::DataPagesWritten(const std::vector<uint32_t>& pages) {
    checker_->FollowDataPages(pages);
}

void FollowingCheck::RowsWritten(const TableDef& def,
                                 const std::vector<std::vector<uint32_t>>& long_value_pages) {
    checker_->FollowRowsEnd(def, long_value_pages);
}

void FollowingCheck::IndexWritten(size_t number, const RealIndexDef& index) {
    checker_->FollowIndex(number, index);
}

void FollowingCheck::TableWritten(const TableDef& def) {
    checker_->FollowTableEnd(def);
}

CheckReport FollowingCheck::Finish(MdbFile& complete) {
    return checker_->FinishFollowing(complete);
}

}  // namespace jet
