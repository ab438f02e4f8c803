// The checker; what it verifies is listed in checker.h. It works table by table: the definition,
// the usage maps, every data page and live row, then every index against the rows. Each page a
// structure reaches is recorded with its use, so that at the end every page of the file is
// known to be used once, free, or leaked.
#include "jet/read/checker.h"

#include "jet/read/checker_impl.h"
#include "jet/read/content_checksum.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/format/mdb_file.h"
#include "jet/format/row_codec.h"
#include "jet/format/tdef.h"
#include "jet/format/usage_map.h"
#include "jet/keys/index_key.h"
#include "jet/read/catalog.h"
#include "jet/read/content_checksum.h"
#include "jet/read/index_reader.h"
#include "jet/read/live_rows.h"

namespace jet {
namespace {

uint32_t Loc(uint32_t page, uint32_t row) {
    return (page << 8) | (row & 0xFF);
}

std::string PageRow(uint32_t page, uint32_t row) {
    return "page " + std::to_string(page) + " row " + std::to_string(row);
}

std::string Hex(const Bytes& b, size_t limit = 48) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < b.size() && i < limit; ++i) {
        if (i) s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    if (b.size() > limit) s += " ...";
    return s;
}

}  // namespace

std::string DefinitionDifference(const TableDef& stored, const TableDef& checked) {
    if (stored.row_count != checked.row_count) return "the row count";
    if (stored.max_cols != checked.max_cols || stored.num_var_cols != checked.num_var_cols ||
        stored.columns.size() != checked.columns.size())
        return "the columns";
    for (size_t i = 0; i < stored.columns.size(); ++i) {
        const ColumnDef& a = stored.columns[i];
        const ColumnDef& b = checked.columns[i];
        if (a.type != b.type || a.col_num != b.col_num || a.var_index != b.var_index ||
            a.fixed_offset != b.fixed_offset || a.length != b.length || a.flags != b.flags ||
            a.sort_order != b.sort_order || a.code_page != b.code_page ||
            a.sort_version != b.sort_version || a.precision != b.precision || a.scale != b.scale)
            return "column '" + b.name + "'";
    }
    if (stored.real_indexes.size() != checked.real_indexes.size()) return "the indexes";
    for (size_t k = 0; k < stored.real_indexes.size(); ++k) {
        const RealIndexDef& a = stored.real_indexes[k];
        const RealIndexDef& b = checked.real_indexes[k];
        bool same = a.root_page == b.root_page && a.flags == b.flags &&
                    a.columns.size() == b.columns.size();
        for (size_t c = 0; same && c < a.columns.size(); ++c)
            same = a.columns[c].col_num == b.columns[c].col_num &&
                   a.columns[c].ascending == b.columns[c].ascending;
        if (!same) return "index " + std::to_string(k);
    }
    return "";
}

bool Checker::ReadMap(uint32_t pointer, const std::string& table, const std::string& what,
                      UsageMap& map) {
    const RowPointer at = RowPointer::FromPacked(pointer);
    if (!InFile(at.page)) {
        Error(FindingKind::kUsageMap, table, 0,
              what + " is at page " + std::to_string(at.page) + ", outside the file");
        return false;
    }
    try {
        map = ReadUsageMap(*file_, pointer);
    } catch (const JetError& e) {
        Error(FindingKind::kUsageMap, table, at.page, what + " cannot be read: " + e.what());
        return false;
    }
    Claim(at.page, PageUse::kMapRows, 0, table);
    for (uint32_t p : map.bitmap_pages) {
        if (p != 0) Claim(p, PageUse::kBitmap, 0, table);
    }
    return true;
}

void Checker::CheckGlobalMap() {
    free_.assign(page_count_, false);
    UsageMap global;
    if (!ReadMap(RowPointer{1, 0}.Packed(), "", "the global usage map (page 1)", global)) return;
    for (uint32_t p : global.pages) {
        if (p < page_count_) free_[p] = true;
    }
    if (global.Contains(0) || global.Contains(1)) {
        Error(FindingKind::kUsageMap, "", 1, "the global usage map marks page 0 or 1 free");
    }
}

void Checker::CheckDataPageLayout(uint32_t page, const ParsedPage& parsed) {
    const std::string& table = OwnerName(ledger_.owner(page));
    if (!parsed.page) {
        Error(FindingKind::kDataPage, table, page, parsed.error);
        return;
    }
    try {
        const DataPage& dp = *parsed.page;
        const uint16_t n = dp.row_count();
        if (n > kMaxRowsPerPage) {
            Error(FindingKind::kDataPage, table, page,
                  "data page holds " + std::to_string(n) + " rows, more than 255");
            return;
        }
        const size_t table_end = DataPageHeaderSize(version_) + 2u * n;
        size_t used = 0;
        uint32_t end = page_size_;
        for (uint16_t i = 0; i < n; ++i) {
            const uint32_t start = dp.row_start(i);
            if (start < table_end || start > end) {
                Error(FindingKind::kDataPage, table, page,
                      "row " + std::to_string(i) + " starts at " + std::to_string(start) +
                          ", outside [" + std::to_string(table_end) + ", " + std::to_string(end) +
                          "]");
                return;
            }
            used += end - start;
            end = start;
        }
        const size_t expected = page_size_ - table_end - used;
        if (dp.free_space() != expected) {
            Error(FindingKind::kDataPage, table, page,
                  "stored free space " + std::to_string(dp.free_space()) + ", rows leave " +
                      std::to_string(expected));
        }
    } catch (const JetError& e) {
        Error(FindingKind::kDataPage, table, page, e.what());
    }
}

void Checker::LongValueUnreadable(const TableDef& t, const ColumnDef& c, uint32_t page,
                                  uint16_t row_number, const JetError& e) {
    if (Detailed(FindingKind::kLongValue)) {
        Error(FindingKind::kLongValue, t.name, page,
              "column '" + c.name + "' of " + PageRow(page, row_number) + ": " + e.what());
    }
}

void Checker::UseLongValueRow(const TableDef& t, const ColumnDef& c, uint32_t pointer,
                              uint32_t page, uint16_t row_number) {
    const RowPointer at = RowPointer::FromPacked(pointer);
    if (!lval_rows_.Insert(pointer, page_count_)) {
        if (Detailed(FindingKind::kLongValue)) {
            Error(FindingKind::kLongValue, t.name, at.page,
                  "long-value " + PageRow(at.page, at.row) + " is used by more than " +
                      "one value (again by column '" + c.name + "' of " +
                      PageRow(page, row_number) + ")");
        }
        return;
    }
    Claim(at.page, PageUse::kLongValue, t.tdef_page, t.name);
    if (following_) following_->lv_met.push_back(at.page);
}

void Checker::CheckLongValue(const TableDef& t, const ColumnDef& c, ByteSpan field, uint32_t page,
                             uint16_t row_number) {
    ++report_.stats.long_values;
    std::vector<uint32_t> pointers;
    try {
        pointers = LongValueRows(*file_, field);
    } catch (const JetError& e) {
        LongValueUnreadable(t, c, page, row_number, e);
        return;
    }
    for (uint32_t ptr : pointers) UseLongValueRow(t, c, ptr, page, row_number);
}

void Checker::CheckAndReadLongValue(const TableDef& t, const ColumnDef& c, ByteSpan field,
                                    Bytes& out, uint32_t page, uint16_t row_number) {
    LongValueHeader h;
    if (!field.empty()) {
        try {
            h = ParseLongValueHeader(field);
        } catch (const JetError&) {
            h.form = LongValueForm::kChain;  // the check reports why, the read throws it
        }
    }
    if (field.empty() || h.form == LongValueForm::kInline) {
        if (!field.empty()) ++report_.stats.long_values;
        ReadLongValueTo(*file_, field, out);  // no LVAL row
        return;
    }
    if (h.form != LongValueForm::kSingle) {
        // A chain: read and its rows taken in one walk, which fails where the check's would.
        ++report_.stats.long_values;
        try {
            ReadLongValueTo(*file_, field, out, &chain_rows_);
        } catch (const JetError& e) {
            LongValueUnreadable(t, c, page, row_number, e);
            throw;
        }
        for (uint32_t ptr : chain_rows_) UseLongValueRow(t, c, ptr, page, row_number);
        return;
    }
    // One LVAL row: the read walks what the check would, and fails where it would.
    ++report_.stats.long_values;
    try {
        ReadLongValueTo(*file_, field, out);
    } catch (const JetError& e) {
        LongValueUnreadable(t, c, page, row_number, e);
        throw;
    }
    UseLongValueRow(t, c, h.first_row, page, row_number);
}

class Checker::RowLongValues final : public LongValueReader {
  public:
    RowLongValues(Checker& checker, const TableDef& t, const RowLayout& layout, ByteSpan row,
                  uint32_t page, uint16_t row_number)
        : checker_(checker),
          t_(t),
          layout_(layout),
          row_(row),
          page_(page),
          row_number_(row_number) {}

    bool Read(size_t column, ByteSpan field, Bytes& out) override {
        next_ = column + 1;
        checker_.CheckAndReadLongValue(t_, t_.columns[column], field, out, page_, row_number_);
        return true;
    }

    // The values past the column where the decoding failed, checked as if it had gone on.
    void CheckRest() {
        for (size_t i = next_; i < t_.columns.size(); ++i) {
            const ColumnDef& c = t_.columns[i];
            if (!c.long_value()) continue;
            const ColumnSlice slice = LocateColumn(layout_, row_, c);
            if (!slice.present || !slice.not_null || slice.bytes.empty()) continue;
            checker_.CheckLongValue(t_, c, slice.bytes, page_, row_number_);
        }
    }

  private:
    Checker& checker_;
    const TableDef& t_;
    const RowLayout& layout_;
    ByteSpan row_;
    uint32_t page_;
    uint16_t row_number_;
    size_t next_ = 0;  // the first column not checked yet
};

void Checker::CheckPageRows(const TableDef& t, uint32_t page, const DataPage& dp,
                            const std::vector<IndexKeyEncoder*>& encoders, RowScan& scan) {
    const size_t n_idx = encoders.size();
    Bytes& target_page = scan.target_page;
    if (!scan.texts_ready) {
        const uint16_t code_page = version_ == Version::kJet3 ? options_.text_bytes_code_page : 0;
        scan.texts.use = DigestTextUses(t, code_page, file_->header().code_page, false);
        scan.texts_ready = true;
    }
    StoredTexts* texts = scan.texts.use.empty() ? nullptr : &scan.texts;
    {
        const uint16_t n = dp.row_count();
        for (uint16_t i = 0; i < n && i < kMaxRowsPerPage; ++i) {
            const uint16_t entry = dp.entry(i);
            if (entry & kRowDeleted) {
                if (!(entry & kRowOverflow)) scan.lone_deleted.push_back(Loc(page, i));
                continue;
            }
            ByteSpan row;
            Bytes row_copy;
            try {
                row = dp.row(i);
                if (entry & kRowOverflow) {
                    const RowPointer to = RowPointer::FromPacked(U32(row, 0));
                    const std::string where =
                        "overflow " + PageRow(page, i) + " points to " + PageRow(to.page, to.row);
                    if (!InFile(to.page)) Corrupt(where + ", outside the file");
                    file_->ReadPage(to.page, target_page);
                    if (!IsDataPageOf(target_page, t.tdef_page)) {
                        Corrupt(where + ", not a data page of the table");
                    }
                    const DataPage target(target_page, version_);
                    if (to.row >= target.row_count()) Corrupt(where + ", which does not exist");
                    if ((target.entry(to.row) & (kRowDeleted | kRowOverflow)) != kRowDeleted) {
                        Corrupt(where + ", which is not marked as an overflow target");
                    }
                    if (!scan.overflow_targets.insert(Loc(to.page, to.row)).second) {
                        Corrupt(where + ", which another overflow row points to as well");
                    }
                    scan.overflow_pages.push_back(to.page);
                    const ByteSpan data = target.row(to.row);
                    row_copy.assign(data.begin(), data.end());
                    row = row_copy;
                }
            } catch (const JetError& e) {
                if (Detailed(FindingKind::kRow)) {
                    Error(FindingKind::kRow, t.name, page, PageRow(page, i) + ": " + e.what());
                }
                continue;
            }

            ++scan.live_count;
            const size_t slot = live_.Add(Loc(page, i));
            Row& values = scan.values;
            try {
                ParseRowLayoutTo(row, version_, t, scan.layout);
                const RowLayout& layout = scan.layout;
                RowLongValues long_values(*this, t, layout, row, page, i);
                try {
                    DecodeRowTo(*file_, t, layout, row, values, scan.long_value, &long_values,
                                texts);
                } catch (const JetError&) {
                    long_values.CheckRest();
                    throw;
                }
                live_.set_decoded(slot);
                if (options_.on_row) options_.on_row(t, values, texts ? &texts->bytes : nullptr);
            } catch (const JetError& e) {
                if (Detailed(FindingKind::kRow)) {
                    Error(FindingKind::kRow, t.name, page,
                          PageRow(page, i) + " does not decode: " + e.what());
                }
                continue;
            }
            for (size_t k = 0; k < n_idx; ++k) {
                if (encoders[k] == nullptr) continue;
                try {
                    live_.set_all_null(slot, k, encoders[k]->AllNull(values));
                    live_.set_included(slot, k, encoders[k]->Includes(values));
                    if (options_.compare_keys && !encoders[k]->knows_sort_order()) {
                        // Keys we cannot compute: the one given for the row, or what stands
                        // for its values, so that equal values are held to equal keys.
                        scan.key.clear();
                        if (!options_.expected_key) {
                            encoders[k]->ValueIdentityTo(values, scan.key);
                            live_.SetKey(slot, k, scan.key);
                        } else if (live_.included(slot, k)) {
                            if (options_.expected_key(t, k, Loc(page, i), scan.key)) {
                                live_.SetKey(slot, k, scan.key);
                            } else if (Detailed(FindingKind::kIndexKey)) {
                                Error(FindingKind::kIndexKey, t.name, page,
                                      "no key is known for " + PageRow(page, i) + " in index " +
                                          std::to_string(k));
                            }
                        }
                    } else if (options_.compare_keys) {
                        scan.key.clear();
                        encoders[k]->EncodeTo(values, scan.key);
                        live_.SetKey(slot, k, scan.key);
                        if (encoders[k]->DependsOnLigatureRule(values)) {
                            live_.SetAltKey(slot, k,
                                            encoders[k]
                                                ->WithLigatureRule(LigatureRule::kPerLetter)
                                                .Encode(values));
                        }
                    }
                } catch (const std::exception& e) {
                    if (Detailed(FindingKind::kIndexKey)) {
                        Error(FindingKind::kIndexKey, t.name, page,
                              "no key for " + PageRow(page, i) + ": " + e.what());
                    }
                }
            }
        }
    }
}

void Checker::FinishRows(const TableDef& t, RowScan& scan) {
    // Overflow rows may point into pages the owned-pages map does not list: those are the
    // table's too.
    for (uint32_t p : scan.overflow_pages) {
        if (!std::binary_search(scan.data_pages.begin(), scan.data_pages.end(), p))
            Claim(p, PageUse::kData, t.tdef_page, t.name);
    }
    for (uint32_t loc : scan.lone_deleted) {
        if (!scan.overflow_targets.count(loc) && Detailed(FindingKind::kRow)) {
            Notice(FindingKind::kRow, t.name, loc >> 8,
                   PageRow(loc >> 8, loc & 0xFF) +
                       " is marked as an overflow target but no overflow row points to it");
        }
    }
    report_.stats.rows += scan.live_count;
    if (scan.live_count != t.row_count) {
        Notice(FindingKind::kRowCount, t.name, t.tdef_page,
               "the definition counts " + std::to_string(t.row_count) + " rows, the table has " +
                   std::to_string(scan.live_count));
    }
}

void Checker::IndexPageInMap(const TableDef& t, size_t number, const UsageMap& map, uint32_t page) {
    if (!map.Contains(page) && Detailed(FindingKind::kUsageMap)) {
        Error(FindingKind::kUsageMap, t.name, page,
              "index " + std::to_string(number) + " page is missing from the index's usage map");
    }
}

std::vector<uint32_t> Checker::CheckIndex(const TableDef& t, size_t number,
                                          const RealIndexDef& index, bool computed, bool with_map) {
    ++report_.stats.indexes;
    const std::string label = "index " + std::to_string(number);
    UsageMap map;
    const bool have_map = with_map && ReadMap(index.usage_map, t.name, label + " usage map", map);

    IndexWalkOptions opt;
    opt.page_count = page_count_;
    opt.owner = t.tdef_page;
    const bool unique = (index.flags & kIndexUnique) != 0;
    const PageViewer view = [this](uint32_t p, Bytes& scratch) {
        return file_->ViewPage(p, scratch);
    };
    // What the walk found besides the entries: the tree's problems and the pages it took.
    auto take_walk = [&](const IndexWalkResult& walk) {
        for (const IndexWalkProblem& p : walk.problems) {
            if (Detailed(FindingKind::kIndexTree)) {
                Error(FindingKind::kIndexTree, t.name, p.page, label + ": " + p.what);
            }
        }
        for (uint32_t p : walk.pages) {
            Claim(p, PageUse::kIndex, t.tdef_page, t.name);
            if (have_map) IndexPageInMap(t, number, map, p);
        }
    };

    // Where the rows say what every entry of an index that may repeat keys must be, the
    // entries are first summed in the index's order: the same sums, and each entry is the one
    // its row needs. Only otherwise is each entry looked up by its row, to say what is wrong,
    // which touches the rows in the index's order, not theirs. (A unique index is looked up
    // entry by entry, for the keys it must not hold twice; most are in row order.)
    LiveRows::EntrySums expected;
    if (computed && !unique && live_.ExpectedEntries(number, expected)) {
        LiveRows::EntrySums found;
        auto sum = [&](const IndexEntry& e, uint32_t) {
            found.Add(Loc(e.data_page, e.data_row), e.key);
        };
        const IndexWalkResult walk =
            WalkIndex(version_, view, index.root_page, opt, IndexEntryVisitor(std::ref(sum)));
        if (found == expected) {
            report_.stats.index_entries += found.count;
            report_.stats.keys_compared += found.count;
            take_walk(walk);
            return walk.pages;
        }
    }

    // Keys not computed: the stored key of each value met (its identity's fingerprint mapped
    // to the key's), so that a value keyed two ways is found.
    std::unordered_map<uint64_t, uint64_t> key_of_value;
    uint64_t keyed_two_ways = 0;
    Bytes previous_key;
    bool has_previous = false;
    bool previous_all_null = false;
    uint64_t compared = 0, mismatched = 0;

    auto visit = [&](const IndexEntry& e, uint32_t leaf) {
        ++report_.stats.index_entries;
        const uint32_t loc = Loc(e.data_page, e.data_row);
        const size_t slot = live_.Find(loc);
        const bool all_null = slot != LiveRows::kNone && live_.all_null(slot, number);
        if (unique && has_previous && previous_key == e.key && !(all_null && previous_all_null) &&
            Detailed(FindingKind::kDuplicateKey)) {
            Error(FindingKind::kDuplicateKey, t.name, leaf,
                  "unique " + label + " holds the key " + Hex(e.key) + " twice (again for " +
                      PageRow(e.data_page, e.data_row) + ")");
        }
        if (unique) {
            previous_key = e.key;
            has_previous = true;
            previous_all_null = all_null;
        }
        if (slot == LiveRows::kNone) {
            if (Detailed(FindingKind::kIndexEntry)) {
                Error(FindingKind::kIndexEntry, t.name, leaf,
                      label + " has an entry for " + PageRow(e.data_page, e.data_row) +
                          ", which is not a live row of the table");
            }
            return;
        }
        if (live_.AddEntry(slot, number) == 2 && Detailed(FindingKind::kIndexEntry)) {
            Error(FindingKind::kIndexEntry, t.name, leaf,
                  label + " has more than one entry for " + PageRow(e.data_page, e.data_row));
        }
        if (!computed && live_.decoded(slot) && live_.has_key(slot, number)) {
            const Bytes identity = live_.key(slot, number);
            const uint64_t key = BytesFingerprint(e.key.data(), e.key.size());
            const auto [it, added] =
                key_of_value.emplace(BytesFingerprint(identity.data(), identity.size()), key);
            if (!added && it->second != key) {
                ++keyed_two_ways;
                if (Detailed(FindingKind::kIndexKey))
                    Error(FindingKind::kIndexKey, t.name, leaf,
                          label + " entry for " + PageRow(e.data_page, e.data_row) + ": the key " +
                              Hex(e.key) +
                              " differs from the key of another row with equal values");
            }
            return;
        }
        if (computed && live_.decoded(slot) && live_.has_key(slot, number)) {
            ++compared;
            if (live_.KeyEquals(slot, number, e.key)) return;
            const Bytes* alt = live_.alt_key(slot, number);
            if (alt != nullptr && *alt == e.key) {
                ++report_.stats.keys_per_letter_ligatures;
            } else {
                ++mismatched;
                if (Detailed(FindingKind::kIndexKey)) {
                    Error(FindingKind::kIndexKey, t.name, leaf,
                          label + " entry for " + PageRow(e.data_page, e.data_row) +
                              ": stored key " + Hex(e.key) + ", computed " +
                              Hex(live_.key(slot, number)));
                }
            }
        }
    };
    // By reference: the visitor captures too much to be held without an allocation.
    const IndexWalkResult walk =
        WalkIndex(version_, view, index.root_page, opt, IndexEntryVisitor(std::ref(visit)));
    report_.stats.keys_compared += compared;
    report_.stats.key_mismatches += mismatched + keyed_two_ways;
    take_walk(walk);
    for (size_t slot = 0; slot < live_.size(); ++slot) {
        if (!live_.decoded(slot)) continue;
        const uint32_t loc = live_.loc(slot);
        const unsigned entries = live_.entries(slot, number);
        const bool included = live_.included(slot, number);
        if (entries == 0 && included) {
            if (Detailed(FindingKind::kIndexEntry)) {
                Error(FindingKind::kIndexEntry, t.name, loc >> 8,
                      label + " has no entry for " + PageRow(loc >> 8, loc & 0xFF));
            }
        } else if (entries != 0 && !included) {
            if (Detailed(FindingKind::kIndexEntry)) {
                Notice(FindingKind::kIndexEntry, t.name, loc >> 8,
                       label + " ignores nulls but has an entry for the all-null " +
                           PageRow(loc >> 8, loc & 0xFF));
            }
        }
    }
    return walk.pages;
}

std::optional<TableDef> Checker::ReadDefinition(const std::string& name, uint32_t tdef_page,
                                                TableDef* read) {
    TableDef t;
    try {
        t = read != nullptr ? std::move(*read) : ReadTableDef(*file_, tdef_page);
    } catch (const JetError& e) {
        Error(FindingKind::kTableDef, name, tdef_page,
              std::string("the table definition cannot be read: ") + e.what());
        Claim(tdef_page, PageUse::kTableDef, tdef_page, name);
        return std::nullopt;
    }
    t.name = name;
    if (t.definition_pages.empty()) t.definition_pages.push_back(tdef_page);
    for (uint32_t p : t.definition_pages) Claim(p, PageUse::kTableDef, tdef_page, name);
    return t;
}

TableEncoders Checker::MakeEncoders(const TableDef& t) {
    TableEncoders encoders;
    encoders.owned.reserve(t.real_indexes.size());
    encoders.each.reserve(t.real_indexes.size());
    for (size_t k = 0; k < t.real_indexes.size(); ++k) {
        try {
            encoders.owned.push_back(
                std::make_unique<IndexKeyEncoder>(version_, t, t.real_indexes[k]));
        } catch (const JetError& e) {
            Error(FindingKind::kTableDef, t.name, t.tdef_page,
                  "index " + std::to_string(k) + ": " + e.what());
            encoders.owned.push_back(nullptr);
        }
        encoders.each.push_back(encoders.owned.back().get());
    }
    return encoders;
}

void Checker::CheckLogicalIndexes(const TableDef& t) {
    for (const LogicalIndexDef& li : t.indexes) {
        if (li.real_index >= t.real_indexes.size()) {
            Error(FindingKind::kTableDef, t.name, t.tdef_page,
                  "index '" + li.name + "' names real index " + std::to_string(li.real_index) +
                      " of " + std::to_string(t.real_indexes.size()));
        }
    }
}

void Checker::CheckFreeMap(const TableDef& t, const UsageMap& owned, const UsageMap& free_map) {
    size_t outside = 0;
    uint32_t first = 0;
    for (uint32_t p : free_map.pages) {
        if (!owned.Contains(p) && p < page_count_) {
            if (outside++ == 0) first = p;
        }
    }
    if (outside) {
        Notice(FindingKind::kUsageMap, t.name, first,
               "free-space map lists " + std::to_string(outside) +
                   " page(s) the table does not own, the first " + std::to_string(first));
    }
}

bool Checker::CheckLongValuePage(const TableDef& t, uint32_t p, Bytes& page) {
    file_->ReadPage(p, page);
    if (!IsDataPageOf(page, kLvalOwner)) return false;
    Claim(p, PageUse::kLongValue, t.tdef_page, t.name);
    CheckRowPage(p, ParsedPage(page, version_));
    return true;
}

// A page the rows' long values led to and that was checked then: read again for the maps, it
// would only be claimed again by the same table for the same use, which changes nothing.
bool Checker::CheckedAsLongValuesOf(const TableDef& t, uint32_t p) const {
    return ledger_.checked(p) && ledger_.use(p) == PageUse::kLongValue &&
           ledger_.owner(p) == t.tdef_page;
}

void Checker::CheckLongValueMaps(const TableDef& t, const std::vector<uint32_t>& done) {
    for (const LongValueColumnMaps& lv : t.long_value_maps) {
        UsageMap m;
        for (uint32_t ptr : {lv.owned_map, lv.free_map}) {
            if (ptr == 0 || !ReadMap(ptr, t.name, "long-value map", m)) continue;
            AscendingPages checked(done);
            for (uint32_t p : m.pages) {
                if (!InFile(p)) break;
                if (checked.Contains(p) || CheckedAsLongValuesOf(t, p)) continue;
                CheckLongValuePage(t, p, page_);
            }
        }
    }
}

void Checker::CheckTable(const std::string& name, uint32_t tdef_page, TableDef* definition) {
    ++report_.stats.tables;
    table_counts_.clear();
    live_.Reset(0);
    const std::optional<TableDef> read = ReadDefinition(name, tdef_page, definition);
    if (!read) return;
    const TableDef& t = *read;

    // Indexes: encoders first, so keys are computed while the rows are read.
    const TableEncoders encoders = MakeEncoders(t);
    CheckLogicalIndexes(t);

    const TableMaps maps = ReadTableMaps(t);
    // Each data page is read once: claimed, checked as a page, and its rows checked.
    RowScan& scan = scan_;
    scan.Restart();
    live_.Reset(encoders.each.size());
    if (maps.have_owned) {
        for (uint32_t p : OwnedPagesInFile(t, maps.owned)) {
            file_->ReadPage(p, page_);
            // Maps may list pages freed later; only the table's data pages belong to it.
            if (!IsDataPageOf(page_, tdef_page)) continue;
            ScanDataPage(t, p, page_, encoders, scan);
        }
    }
    if (maps.have_owned && maps.have_free) CheckFreeMap(t, maps.owned, maps.free);
    CheckLongValueMaps(t, {});
    FinishRows(t, scan);
    for (size_t k = 0; k < t.real_indexes.size(); ++k) {
        CountNotRecomputed(encoders, k);
        CheckIndex(t, k, t.real_indexes[k], KeysCompared(encoders, k), true);
    }
    SummarizeTable(name);
    live_.Reset(0);
}

void Checker::CheckRowPage(uint32_t p, const ParsedPage& parsed, bool final_sweep) {
    const Bytes& page = parsed.bytes;
    // Checked as what it finally serves. A claim changes a page's use only from map rows, so a
    // page of rows or long values is checked at once; one holding map rows waits for the final
    // sweep, as it may yet turn out to hold rows.
    const PageUse use = ledger_.use(p);
    if (ledger_.checked(p)) return;
    if (!final_sweep && use != PageUse::kData && use != PageUse::kLongValue) return;
    ledger_.set_checked(p);
    if (page[0] != kPageData || page[1] != 0x01) {
        Error(FindingKind::kDataPage, OwnerName(ledger_.owner(p)), p,
              std::string("page holding ") + PageUseName(use) + " is not a data page");
        return;
    }
    if (use == PageUse::kLongValue && !IsDataPageOf(page, kLvalOwner)) {
        Error(FindingKind::kLongValue, OwnerName(ledger_.owner(p)), p,
              "long values are on a page that is not a long-value (LVAL) page");
    }
    CheckDataPageLayout(p, parsed);
}

void Checker::CheckPages() {
    std::vector<uint32_t> leaked;
    for (uint32_t p = 1; p < page_count_; ++p) {
        const PageUse use = ledger_.use(p);
        if (use == PageUse::kNone) {
            if (!free_.empty() && free_[p]) {
                ++report_.stats.free_pages;
            } else {
                leaked.push_back(p);
            }
            continue;
        }
        if (!free_.empty() && free_[p]) {
            Error(FindingKind::kPageUse, OwnerName(ledger_.owner(p)), p,
                  std::string("page holds ") + PageUseName(use) +
                      " but the global usage map marks it free");
        }
        if ((use == PageUse::kData || use == PageUse::kLongValue || use == PageUse::kMapRows) &&
            !ledger_.checked(p)) {
            file_->ReadPage(p, page_);
            CheckRowPage(p, ParsedPage(page_, version_), true);
        }
    }
    report_.stats.leaked_pages = static_cast<uint32_t>(leaked.size());
    if (!leaked.empty()) {
        std::string list;
        for (size_t i = 0; i < leaked.size() && i < 12; ++i) {
            list += (i ? ", " : "") + std::to_string(leaked[i]);
        }
        if (leaked.size() > 12) list += ", ...";
        Notice(FindingKind::kPageUse, "", leaked[0],
               std::to_string(leaked.size()) +
                   " page(s) are neither used by any object nor marked free: " + list);
    }
}

CheckReport Checker::Run() {
    stop_at_error_ = options_.stop_at_first_error;
    try {
        RunChecks();
    } catch (const Stop&) {
    }
    stop_at_error_ = false;
    return std::move(report_);
}

void Checker::RunChecks() {
    report_.stats.pages = page_count_;
    const uint64_t size = file_->file().Size();
    if (size % page_size_ != 0) {
        Error(FindingKind::kFile, "", page_count_,
              "the file is " + std::to_string(size) + " bytes, not a whole number of " +
                  std::to_string(page_size_) + "-byte pages");
    }
    if (page_count_ < 3) {
        Error(FindingKind::kFile, "", 0, "the file is too short to hold a catalog");
        return;
    }
    Claim(0, PageUse::kHeader, 0, "");
    CheckGlobalMap();

    Catalog catalog;
    try {
        catalog = Catalog::Read(*file_);
    } catch (const JetError& e) {
        Error(FindingKind::kCatalog, "MSysObjects", kCatalogPage,
              std::string("the catalog cannot be read: ") + e.what());
        CheckPages();
        return;
    }
    // Every local table, system ones included, and the catalog's own table.
    std::vector<std::pair<std::string, uint32_t>> tables;
    std::unordered_map<uint32_t, std::string> by_page;
    bool catalog_listed = false;
    for (const CatalogEntry& e : catalog.entries()) {
        if (!e.is_local_table()) continue;
        const uint32_t page = e.tdef_page();
        if (!InFile(page)) {
            Error(FindingKind::kCatalog, e.name, page,
                  "the catalog places the table at page " + std::to_string(page) +
                      ", outside the file");
            continue;
        }
        if (!by_page.emplace(page, e.name).second) {
            Error(FindingKind::kCatalog, e.name, page,
                  "the table shares its definition page with '" + by_page[page] + "'");
            continue;
        }
        if (page == kCatalogPage) catalog_listed = true;
        tables.emplace_back(e.name, page);
    }
    if (!catalog_listed) tables.insert(tables.begin(), {"MSysObjects", kCatalogPage});
    for (const auto& [name, page] : tables) table_names_[page] = name;
    for (const auto& [name, page] : tables) {
        auto followed = followed_.find(page);
        if (followed != followed_.end()) {
            FinishFollowedTable(name, page, followed->second);
        } else {
            // The catalog's definition was read with it: not parsed a second time.
            TableDef catalog_table;
            if (page == kCatalogPage) catalog_table = catalog.TakeObjectsTable();
            CheckTable(name, page, page == kCatalogPage ? &catalog_table : nullptr);
        }
    }
    for (const auto& [page, ft] : followed_) {
        if (!ft.listed)
            Error(FindingKind::kCatalog, ft.def.name, page,
                  "the table was written but the catalog does not list it");
    }
    CheckPages();
}

const char* FindingKindName(FindingKind kind) {
    switch (kind) {
        case FindingKind::kFile:
            return "file";
        case FindingKind::kCatalog:
            return "catalog";
        case FindingKind::kTableDef:
            return "table definition";
        case FindingKind::kUsageMap:
            return "usage map";
        case FindingKind::kPageUse:
            return "page use";
        case FindingKind::kDataPage:
            return "data page";
        case FindingKind::kRow:
            return "row";
        case FindingKind::kRowCount:
            return "row count";
        case FindingKind::kLongValue:
            return "long value";
        case FindingKind::kIndexTree:
            return "index tree";
        case FindingKind::kIndexEntry:
            return "index entry";
        case FindingKind::kIndexKey:
            return "index key";
        case FindingKind::kDuplicateKey:
            return "unique index";
    }
    return "?";
}

CheckReport CheckDatabase(MdbFile& file, const CheckOptions& options) {
    return Checker(file, options).Run();
}

CheckReport CheckFile(Env* env, const std::string& path, const CheckOptions& options,
                      const std::string& password) {
    OpenOptions open;
    open.password = password;
    // The check reads every page, most of them in file order, and each long value's pages
    // again: read ahead, they are copies from memory.
    open.read_ahead_pages = kScanReadAheadPages;
    std::unique_ptr<MdbFile> file;
    try {
        file = MdbFile::Open(env, path, open);
    } catch (const JetError& e) {
        if (e.number() != kUnrecognizedFormat) throw;
        CheckReport report;
        report.errors = 1;
        report.findings.push_back({Severity::kError, FindingKind::kFile, "", 0, e.what()});
        return report;
    }
    return CheckDatabase(*file, options);
}

std::string FormatReport(const CheckReport& report) {
    std::ostringstream out;
    const CheckStats& s = report.stats;
    out << (report.clean() ? "clean" : "DAMAGED") << ": " << report.errors << " error(s), "
        << report.notices << " notice(s)\n";
    out << s.pages << " pages (" << s.free_pages << " free, " << s.leaked_pages << " leaked), "
        << s.tables << " tables, " << s.rows << " rows, " << s.long_values << " long values, "
        << s.indexes << " indexes, " << s.index_entries << " index entries, " << s.keys_compared
        << " keys compared, " << s.key_mismatches << " mismatched";
    if (s.keys_per_letter_ligatures != 0) {
        out << " (" << s.keys_per_letter_ligatures << " matched with ligatures counted per letter)";
    }
    out << "\n";
    if (s.indexes_not_recomputed != 0) {
        out << s.indexes_not_recomputed
            << " index(es) whose keys could not be recomputed: no collation tables for sort "
               "order";
        for (size_t i = 0; i < s.sort_orders_not_recomputed.size(); ++i)
            out << (i == 0 ? " " : ", ") << s.sort_orders_not_recomputed[i];
        out << " (their order, entries and equal keys for equal values were checked)\n";
    }
    for (const Finding& f : report.findings) {
        out << (f.severity == Severity::kError ? "error" : "notice") << " ["
            << FindingKindName(f.kind) << "]";
        if (!f.table.empty()) out << " table '" << f.table << "'";
        if (f.page != 0) out << " page " << f.page;
        out << ": " << f.what << "\n";
    }
    if (report.dropped != 0) out << "(" << report.dropped << " more findings not shown)\n";
    return out.str();
}

}  // namespace jet
