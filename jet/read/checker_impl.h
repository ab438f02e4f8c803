// The checker's class, shared by checker.cpp (the whole file) and following_check.cpp (a file
// checked as it is written). Inside jet/read only.
#pragma once

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/mdb_file.h"
#include "jet/format/row_codec.h"
#include "jet/format/usage_map.h"
#include "jet/keys/index_key.h"
#include "jet/read/checker.h"
#include "jet/read/live_rows.h"
#include "jet/read/page_ledger.h"

namespace jet {

// Findings of one kind repeat by the thousand in a badly damaged table; past this many per
// table and kind only the count grows.
constexpr size_t kMaxDetailedPerTable = 20;

// The key encoders of a table's real indexes (null where the definition makes none).
struct TableEncoders {
    std::vector<std::unique_ptr<IndexKeyEncoder>> owned;
    std::vector<IndexKeyEncoder*> each;
};

// What the stored definition of a table must share with the one its rows and indexes were
// checked by, as they were written; "" when it does.
std::string DefinitionDifference(const TableDef& stored, const TableDef& checked);

// A page that holds rows, its header parsed once for every check of it; `page` is empty, and
// `error` says why, when the header does not parse.
struct ParsedPage {
    ParsedPage(const Bytes& page_bytes, Version version) : bytes(page_bytes) {
        try {
            page.emplace(page_bytes, version);
        } catch (const JetError& e) {
            error = e.what();
        }
    }
    const Bytes& bytes;
    std::optional<DataPage> page;
    std::string error;
};

// A set of row pointers (page << 8 | row): for each page of the file a word with a bit for each
// of its rows 0 to 63 (a long value's LVAL rows are a few to a page: a block of 256 bits for
// every page that holds one took four times the memory), the rest, and pointers past the file,
// in a hash set.
class RowPointerSet {
  public:
    // Adds `pointer`; false when it was there already. `page_count`: pages of the file now.
    bool Insert(uint32_t pointer, uint32_t page_count) {
        const uint32_t page = pointer >> 8, row = pointer & 0xFF;
        if (page >= page_count || row >= 64) return others_.insert(pointer).second;
        if (!others_.empty() && others_.count(pointer) != 0) return false;  // the file grew
        if (page >= rows_.size()) rows_.resize(page_count, 0);
        const uint64_t bit = uint64_t{1} << row;
        if (rows_[page] & bit) return false;
        rows_[page] |= bit;
        return true;
    }

  private:
    std::vector<uint64_t> rows_;  // per page of the file
    std::unordered_set<uint32_t> others_;
};

// Whether pages are in an ascending list, asked in ascending order, as the checks of a table's
// maps ask of its tens of thousands of pages: a walk along the list rather than a search for
// each page (a page below the one asked before is searched for).
class AscendingPages {
  public:
    explicit AscendingPages(std::span<const uint32_t> sorted) : pages_(sorted) {}
    bool Contains(uint32_t page) {
        if (page < last_) {
            at_ = static_cast<size_t>(std::lower_bound(pages_.begin(), pages_.end(), page) -
                                      pages_.begin());
        }
        last_ = page;
        while (at_ < pages_.size() && pages_[at_] < page) ++at_;
        return at_ < pages_.size() && pages_[at_] == page;
    }

  private:
    std::span<const uint32_t> pages_;
    size_t at_ = 0;
    uint32_t last_ = 0;
};

class Checker {
  public:
    Checker(MdbFile& file, const CheckOptions& options)
        : file_(&file),
          options_(options),
          version_(file.version()),
          page_size_(file.page_size()),
          page_count_(file.page_count()),
          ledger_(page_count_) {}

    // The whole file. Tables checked while the file was written (the Follow* calls before)
    // have only what was written last left to check.
    CheckReport Run();

    // A file being written (FollowingCheck): the calls come in the writer's order, `file_`
    // then reading only the pages the writer has put in it.
    void FollowTable(const TableDef& def);
    void FollowDataPages(const std::vector<uint32_t>& pages);
    void FollowRowsEnd(const TableDef& def,
                       const std::vector<std::vector<uint32_t>>& long_value_pages);
    void FollowIndex(size_t number, const RealIndexDef& index);
    void FollowTableEnd(const TableDef& def);
    // The whole file once it is complete.
    CheckReport FinishFollowing(MdbFile& complete) {
        if (following_) throw std::logic_error("a table's rows are still being written");
        file_ = &complete;
        Grow(complete.page_count());
        return Run();
    }

  private:
    void RunChecks();
    void Add(Severity severity, FindingKind kind, const std::string& table, uint32_t page,
             std::string what) {
        if (severity == Severity::kNotice && options_.strict) severity = Severity::kError;
        (severity == Severity::kError ? report_.errors : report_.notices)++;
        if (report_.findings.size() >= options_.max_findings) {
            ++report_.dropped;
        } else {
            report_.findings.push_back({severity, kind, table, page, std::move(what)});
        }
        if (severity == Severity::kError && stop_at_error_) throw Stop{};
    }
    // Thrown by Add at the first error when the caller asked for no more (Run catches it);
    // not a std::exception, so that no handler of damage on the way takes it for one.
    struct Stop {};
    bool stop_at_error_ = false;  // set by Run: only a whole-file check ends early
    void Error(FindingKind kind, const std::string& table, uint32_t page, std::string what) {
        Add(Severity::kError, kind, table, page, std::move(what));
    }
    void Notice(FindingKind kind, const std::string& table, uint32_t page, std::string what) {
        Add(Severity::kNotice, kind, table, page, std::move(what));
    }
    // Per table and kind, the first few findings are kept whole; the rest are summed up.
    bool Detailed(FindingKind kind) { return ++table_counts_[kind] <= kMaxDetailedPerTable; }
    void SummarizeTable(const std::string& table) {
        for (const auto& [kind, count] : table_counts_) {
            if (count > kMaxDetailedPerTable) {
                Error(kind, table, 0,
                      std::to_string(count - kMaxDetailedPerTable) + " more findings like the " +
                          "above");
            }
        }
        table_counts_.clear();
    }

    bool InFile(uint32_t page) const { return page != 0 && page < page_count_; }
    const std::string& OwnerName(uint32_t owner) {
        static const std::string kNone;
        auto it = table_names_.find(owner);
        return it == table_names_.end() ? kNone : it->second;
    }

    // Records that `page` serves `use` for table `owner` (its TDEF page; 0 for none).
    void Claim(uint32_t page, PageUse use, uint32_t owner, const std::string& table) {
        if (!InFile(page) && !(page == 0 && use == PageUse::kHeader)) return;
        if (ledger_.Claim(page, use, owner)) return;
        const std::string other = OwnerName(ledger_.owner(page));
        Error(FindingKind::kPageUse, table, page,
              std::string("page is used as ") + PageUseName(use) + " but also as " +
                  PageUseName(ledger_.use(page)) +
                  (other.empty() ? "" : " of table '" + other + "'"));
    }

    // Reads a usage map at a row pointer, recording the pages it occupies. Returns false (and
    // reports) when it cannot be read.
    bool ReadMap(uint32_t pointer, const std::string& table, const std::string& what,
                 UsageMap& map);
    void CheckGlobalMap();
    // `definition`: the table's definition when it is read already (taken), else null.
    void CheckTable(const std::string& name, uint32_t tdef_page, TableDef* definition = nullptr);
    // The rows of a table, page by page as its data pages are met, then what needs them all.
    struct RowScan {
        std::vector<uint32_t> data_pages;  // ascending: the owned-pages map is sorted
        std::unordered_set<uint32_t> overflow_targets;
        std::vector<uint32_t> overflow_pages;  // pages that overflow rows point into
        std::vector<uint32_t> lone_deleted;    // rows flagged 0x8000 alone: overflow targets
        Bytes target_page;
        Bytes key;                 // reused for every key computed
        Row values;                // reused for every row decoded
        Bytes long_value;          // a Memo's stored bytes while it is decoded
        RowLayout layout;          // reused for every row parsed
        StoredTexts texts;         // the texts taken as bytes (CheckOptions)
        bool texts_ready = false;  // texts.use is the table's
        uint64_t live_count = 0;
        // Starts the scan of another table; the buffers keep what they grew to.
        void Restart() {
            texts_ready = false;
            data_pages.clear();
            overflow_targets.clear();
            overflow_pages.clear();
            lone_deleted.clear();
            live_count = 0;
        }
    };
    void CheckPageRows(const TableDef& t, uint32_t page, const DataPage& dp,
                       const std::vector<IndexKeyEncoder*>& encoders, RowScan& scan);
    void FinishRows(const TableDef& t, RowScan& scan);
    // The checks of a page that holds rows, done once, when the page is first read; the final
    // sweep over the file reads only the pages no structure read.
    void CheckRowPage(uint32_t page, const ParsedPage& parsed, bool final_sweep = false);
    // The long values of a row are checked as the row is decoded (RowLongValues): each one
    // that a single LVAL row holds is read once for both. The findings are those of checking
    // every value of the row first and decoding it then.
    class RowLongValues;
    // Checks the long value `field` (not empty) of column `c`: its LVAL rows are in the file,
    // used by no other value, and the table's.
    void CheckLongValue(const TableDef& t, const ColumnDef& c, ByteSpan field, uint32_t page,
                        uint16_t row_number);
    // Checks it, and reads it into `out` as ReadLongValueTo does (and throws as it does).
    void CheckAndReadLongValue(const TableDef& t, const ColumnDef& c, ByteSpan field, Bytes& out,
                               uint32_t page, uint16_t row_number);
    void LongValueUnreadable(const TableDef& t, const ColumnDef& c, uint32_t page,
                             uint16_t row_number, const JetError& e);
    void UseLongValueRow(const TableDef& t, const ColumnDef& c, uint32_t pointer, uint32_t page,
                         uint16_t row_number);
    // The stored definition of a table, its pages claimed (nullopt, reported, when unreadable).
    // `read`: the definition read from `tdef_page` already (taken), else null.
    std::optional<TableDef> ReadDefinition(const std::string& name, uint32_t tdef_page,
                                           TableDef* read = nullptr);
    TableEncoders MakeEncoders(const TableDef& t);
    // Whether the stored keys of index k are compared with keys computed from the rows.
    bool KeysCompared(const TableEncoders& encoders, size_t k) const {
        return encoders.each[k] != nullptr && options_.compare_keys &&
               (encoders.each[k]->knows_sort_order() || options_.expected_key);
    }
    // An index whose keys are neither computed nor given, counted in the statistics.
    void CountNotRecomputed(const TableEncoders& encoders, size_t k) {
        const IndexKeyEncoder* e = encoders.each[k];
        if (e == nullptr || e->knows_sort_order() || !options_.compare_keys ||
            options_.expected_key)
            return;
        CheckStats& s = report_.stats;
        ++s.indexes_not_recomputed;
        const uint16_t order = e->unknown_sort_order();
        if (std::find(s.sort_orders_not_recomputed.begin(), s.sort_orders_not_recomputed.end(),
                      order) == s.sort_orders_not_recomputed.end())
            s.sort_orders_not_recomputed.push_back(order);
    }
    void CheckLogicalIndexes(const TableDef& t);
    // A data page of the table: claimed, checked as a page, and its rows checked.
    void ScanDataPage(const TableDef& t, uint32_t p, const Bytes& page,
                      const TableEncoders& encoders, RowScan& scan) {
        scan.data_pages.push_back(p);
        Claim(p, PageUse::kData, t.tdef_page, t.name);
        const ParsedPage parsed(page, version_);
        CheckRowPage(p, parsed);
        if (parsed.page) CheckPageRows(t, p, *parsed.page, encoders.each, scan);
    }
    // The owned-pages and free-space maps of a table, read (and claimed) when they can be.
    struct TableMaps {
        UsageMap owned, free;
        bool have_owned = false, have_free = false;
    };
    TableMaps ReadTableMaps(const TableDef& t) {
        TableMaps maps;
        maps.have_owned = ReadMap(t.owned_map, t.name, "owned-pages map", maps.owned);
        maps.have_free =
            t.free_map != 0 && ReadMap(t.free_map, t.name, "free-space map", maps.free);
        return maps;
    }
    // The pages of an owned-pages map that lie in the file. The map is sorted: past the
    // first page outside (reported), none do.
    std::span<const uint32_t> OwnedPagesInFile(const TableDef& t, const UsageMap& owned) {
        size_t n = 0;
        while (n < owned.pages.size() && InFile(owned.pages[n])) ++n;
        if (n < owned.pages.size()) {
            Error(FindingKind::kUsageMap, t.name, 0,
                  "owned-pages map lists page " + std::to_string(owned.pages[n]) +
                      ", outside the file");
        }
        return std::span<const uint32_t>(owned.pages).first(n);
    }
    void CheckFreeMap(const TableDef& t, const UsageMap& owned, const UsageMap& free_map);
    // The long-value pages the table's long-value maps list, but those in `done` (sorted).
    void CheckLongValueMaps(const TableDef& t, const std::vector<uint32_t>& done);
    // A page that holds long values of the table (others are skipped: maps may list pages
    // freed since); true when it is one.
    bool CheckLongValuePage(const TableDef& t, uint32_t p, Bytes& page);
    bool CheckedAsLongValuesOf(const TableDef& t, uint32_t p) const;
    // A table checked while it was written, now that its definition and maps are stored.
    struct FollowedTable;
    void FinishFollowedTable(const std::string& name, uint32_t tdef_page, FollowedTable& ft);
    void Grow(uint32_t page_count) {
        if (page_count <= page_count_) return;
        page_count_ = page_count;
        ledger_.Grow(page_count_);
    }
    // Walks an index against the rows; its pages are checked against the index's usage map
    // `with_map` (a file being written has its maps written last: IndexPagesInMap then).
    // Returns the index's pages.
    std::vector<uint32_t> CheckIndex(const TableDef& t, size_t number, const RealIndexDef& index,
                                     bool computed, bool with_map);
    void IndexPageInMap(const TableDef& t, size_t number, const UsageMap& map, uint32_t page);
    void CheckDataPageLayout(uint32_t page, const ParsedPage& parsed);
    void CheckPages();

    MdbFile* file_;
    const CheckOptions& options_;
    Version version_;
    uint32_t page_size_;
    uint32_t page_count_;
    PageLedger ledger_;
    std::vector<bool> free_;  // global usage map: page marked free
    std::unordered_map<uint32_t, std::string> table_names_;
    RowPointerSet lval_rows_;  // LVAL rows used by some value
    std::map<FindingKind, size_t> table_counts_;
    LiveRows live_;  // rows of the table being checked
    Bytes page_;     // the page being checked, one buffer for every table's pages
    RowScan scan_;   // the scan of the table being checked, its buffers kept for the next
    std::vector<uint32_t> chain_rows_;  // the LVAL rows of the long value read last
    CheckReport report_;

    // The table whose rows are being written, while a file is followed.
    struct Following {
        TableDef def;
        TableEncoders encoders;
        RowScan scan;
        Bytes page;
        FollowedTable* table = nullptr;  // in followed_
        // The long-value pages the rows used since the last data page was scanned, and by page
        // whether it was checked: 0 not yet, 1 as a long-value page, 2 it is not one.
        std::vector<uint32_t> lv_met;
        std::vector<uint8_t> lv_checked;
    };
    std::unique_ptr<Following> following_;
    struct FollowedTable {
        TableDef def;                      // as its rows were checked
        std::vector<uint32_t> data_pages;  // sorted
        std::vector<uint32_t> lv_pages;    // long-value pages checked, sorted
        std::vector<std::vector<uint32_t>> index_pages;
        bool listed = false;  // met in the catalog
    };
    std::map<uint32_t, FollowedTable> followed_;  // by table id
};

}  // namespace jet
