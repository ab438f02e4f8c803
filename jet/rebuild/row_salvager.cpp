// The salvaging read's rows (salvage_source.h): each table's data pages, found through its
// page map or by their owner field, and each row decoded defensively.
//
// Rows of one table:
//   - its data pages are those of its owned-pages map; when the map does not read, or lists a
//     page that is not one of the table's data pages (and is not free), or lists none while
//     the definition counts rows and pages in use say they are the table's, the map is
//     distrusted and the table's pages are found by the owner field of every page in use
//     instead. With the map trusted, the rows of pages it does not list (pages Access released
//     but left with their owner field) are not the table's: they are counted apart
//     (rows_unmapped), never read into it, and are no loss.
//     Access leaves stale copies of pages behind: a page found only that way of which at
//     least half the rows repeat rows already read is taken for one, and its repeated rows
//     are left out (elsewhere equal rows are kept: a table may hold them);
//   - each row is decoded defensively: a row that cannot be decoded (a bad offset table, a
//     column out of the row, an overflow pointer that leads nowhere, no columns at all) is
//     dropped; a long value whose chain is broken (outside the file, not an LVAL row, a loop,
//     too short) is cut: the row stays and the value becomes null, as does a value too long
//     for its column; a row the writer could not store at all (too large) is dropped;
//   - a row whose key repeats in a unique index is dropped (damage can make two rows equal);
//   - catalog rows of lost tables, and rows of MSysACEs and the Access navigation tables that
//     name a table that is gone, are dropped; foreign keys to a lost table are cleared.
// Every drop and cut is counted per table (SalvageStats).
#include <cstring>
#include <functional>
#include <set>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/property_blob.h"
#include "jet/format/row_codec.h"
#include "jet/format/usage_map.h"
#include "jet/keys/index_key.h"
#include "jet/read/catalog.h"
#include "jet/read/content_checksum.h"
#include "jet/rebuild/salvage_long_value.h"
#include "jet/rebuild/salvage_state.h"
#include "jet/write/row_encoder.h"

namespace jet {
namespace {

// Overflow rows point to their data; Access writes one hop, a few more are tolerated.
constexpr int kMaxOverflowHops = 8;

// A set of 64-bit fingerprints (of index keys, of rows) in one flat open-addressing table:
// 16 bytes a member at most, where a set of the keys themselves would cost several times that
// for a large table. Two different keys share a fingerprint with a chance of about n^2 / 2^65
// (1 in 36 million for a million rows); such a row would be taken for a repeat.
class FingerprintSet {
  public:
    // Adds `f`; false when it was there already.
    bool Insert(uint64_t f) {
        if (f == 0) f = 1;  // 0 marks an empty slot
        if ((size_ + 1) * 2 > slots_.size()) Grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = static_cast<size_t>(f) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == f) return false;
            if (slots_[i] == 0) {
                slots_[i] = f;
                ++size_;
                return true;
            }
        }
    }
    bool Contains(uint64_t f) const {
        if (f == 0) f = 1;
        if (slots_.empty()) return false;
        const size_t mask = slots_.size() - 1;
        for (size_t i = static_cast<size_t>(f) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == f) return true;
            if (slots_[i] == 0) return false;
        }
    }

  private:
    void Grow() {
        std::vector<uint64_t> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : old.size() * 2, 0);
        size_ = 0;
        for (uint64_t f : old)
            if (f != 0) Insert(f);
    }
    std::vector<uint64_t> slots_;
    size_t size_ = 0;
};

bool AllNullKey(const Bytes& key) {
    return IsAllNullKey(key.data(), key.size());
}

// Long values read past damage: a chain that is broken (outside the file, not an LVAL row, a
// loop, too short) makes the value null and counts as a cut. The catalog's property blobs are
// parsed by Access and by every reader: only well-formed ones pass.
class SalvagedLongValues : public LongValueReader {
  public:
    SalvagedLongValues(MdbFile& file, int property_column)
        : file_(file), property_column_(property_column) {}
    bool Read(size_t column, ByteSpan field, Bytes& out) override {
        bool ok = false;
        try {
            ok = ReadLongValueSalvaged(file_, field, out);
        } catch (const JetError&) {
            ok = false;
        }
        if (ok && static_cast<int>(column) == property_column_) ok = IsWellFormedPropertyBlob(out);
        if (!ok) ++cuts;
        return ok;
    }
    uint64_t cuts = 0;

  private:
    MdbFile& file_;
    const int property_column_;
};

// Reads the rows of one table defensively (see salvage_source.h).
class RowSalvager {
  public:
    RowSalvager(SalvageSource::Impl& m, const TableDef& def, SalvagedTable& stats)
        : m_(m),
          file_(*m.file),
          def_(def),
          stats_(stats),
          encoder_(def, file_.version(), file_.header().code_page),
          long_values_(file_,
                       NamesEqual(def.name, "MSysObjects") ? ColumnIndex(def, "LvProp") : -1) {
        for (const RealIndexDef& r : def.real_indexes) {
            keys_.emplace_back(file_.version(), def, r);
            unique_.push_back((r.flags & kIndexUnique) != 0);
        }
        seen_keys_.resize(def.real_indexes.size());
    }

    void Run(const std::function<void(Row&)>& visit, const PagesDone& pages_done) {
        std::vector<uint32_t> listed;    // data pages the owned map names
        std::vector<uint32_t> extra;     // data pages found by their owner field only
        std::vector<uint32_t> unmapped;  // pages of the table a trusted map leaves out
        PlanPages(listed, extra, unmapped);
        for (uint32_t p : listed) {
            ReadPage(p, visit, false);
            if (pages_done) pages_done(1);
        }
        for (uint32_t p : extra) {
            ReadPage(p, visit, true);
            if (pages_done) pages_done(1);
        }
        for (uint32_t p : unmapped) {
            CountUnmappedRows(p);
            if (pages_done) pages_done(1);
        }
    }

  private:
    void PlanPages(std::vector<uint32_t>& listed, std::vector<uint32_t>& extra,
                   std::vector<uint32_t>& unmapped) {
        const uint32_t n = m_.page_count();
        const uint32_t owner = def_.tdef_page;
        bool distrust = false;
        try {
            const UsageMap map = ReadUsageMap(file_, def_.owned_map);
            for (uint32_t p : map.pages) {
                if (p >= n) {
                    ++stats_.pages_lost;  // cut off with the end of the file
                } else if (m_.is_data_page_of(p, owner)) {
                    listed.push_back(p);
                } else if (!m_.page_free[p]) {
                    // A page the table should own that is something else now: damage.
                    ++stats_.pages_lost;
                    distrust = true;
                }
            }
        } catch (const JetError&) {
            distrust = true;
        }
        const std::set<uint32_t> known(listed.begin(), listed.end());
        std::vector<uint32_t> owned;  // pages in use that say they are the table's data pages
        if (auto it = m_.data_pages_by_owner.find(owner); it != m_.data_pages_by_owner.end())
            for (uint32_t p : it->second)
                if (!m_.page_free[p] && !known.count(p)) owned.push_back(p);
        // A map that names no page while pages in use say they are the table's: a map row
        // wiped to zeros reads as an empty map. So does the map of a table whose rows all
        // went, whose released pages Access may leave with their owner field: with the
        // table's own definition counting no rows, the empty map is taken at its word (a
        // standard definition standing in for a lost one counts nothing).
        if (listed.empty() && !owned.empty() && (def_.row_count > 0 || stats_.standard_definition))
            distrust = true;
        if (!distrust) {
            unmapped = std::move(owned);
            return;
        }
        stats_.pages_by_owner = true;
        extra = std::move(owned);
    }

    // Counts the live rows of a page its table's map leaves out (they are not read).
    void CountUnmappedRows(uint32_t number) {
        try {
            file_.ReadPage(number, page_);
            if (!IsDataPageOf(page_, def_.tdef_page)) return;
            const DataPage page(page_, file_.version());
            for (uint16_t i = 0; i < page.row_count(); ++i)
                if (!(page.entry(i) & kRowDeleted)) ++stats_.rows_unmapped;
        } catch (const JetError&) {
            // Not read, not counted: the page is no part of the table either way.
        }
    }

    void ReadPage(uint32_t number, const std::function<void(Row&)>& visit, bool extra) {
        // The page's rows are decoded into the rows of the page before, reusing their buffers.
        std::vector<Row>& rows = rows_;
        size_t used = 0;
        std::vector<uint64_t>& cuts = cuts_;
        std::vector<uint32_t>& locations = locations_;
        cuts.clear();
        locations.clear();
        try {
            file_.ReadPage(number, page_);
            if (!IsDataPageOf(page_, def_.tdef_page)) {
                ++stats_.pages_lost;
                return;
            }
            const DataPage page(page_, file_.version());
            for (uint16_t i = 0; i < page.row_count(); ++i) {
                if (page.entry(i) & kRowDeleted) continue;
                if (used == rows.size()) rows.emplace_back();
                Row& row = rows[used];
                uint64_t cut = 0;
                if (!Decode(page, i, row, cut) || !Storable(row, cut)) {
                    ++stats_.rows_dropped;
                    continue;
                }
                ++used;
                cuts.push_back(cut);
                locations.push_back(number << 8 | i);
            }
        } catch (const JetError&) {
            // The page header or its row table is unreadable: the page is lost.
            ++stats_.pages_lost;
            return;
        }
        // With the usage map distrusted, pages are taken by their owner field, and Access
        // leaves old copies of pages behind with it. A page found that way of which at least
        // half the rows were already read is such a copy: its repeated rows are skipped. On
        // any other page a repeated row is a row of its own (tables may hold equal rows).
        std::vector<uint64_t> digests;
        std::vector<bool> repeated;
        bool stale_copy = false;
        if (extra || stats_.pages_by_owner) {
            size_t repeats = 0;
            for (size_t r = 0; r < used; ++r) {
                digests.push_back(RowFingerprint(rows[r]));
                repeated.push_back(digests_.Contains(digests.back()));
                repeats += repeated.back() ? 1 : 0;
            }
            stale_copy = extra && repeats > 0 && repeats * 2 >= used;
            for (uint64_t d : digests) digests_.Insert(d);
        }
        for (size_t r = 0; r < used; ++r) {
            if (stale_copy && repeated[r]) {
                ++stats_.stale_copies_skipped;
                continue;
            }
            if (!KeysFit(rows[r])) continue;
            stats_.values_cut += cuts[r];
            ++stats_.rows;
            m_.visited_row = locations[r];
            visit(rows[r]);
            m_.visited_row = 0;
        }
    }

    // Decodes the row at slot i (following an overflow pointer); false when it cannot be.
    bool Decode(const DataPage& page, uint16_t i, Row& out, uint64_t& cut) {
        try {
            ByteSpan bytes = page.row(i);
            uint16_t flags = page.entry(i);
            for (int hops = 0; flags & kRowOverflow; ++hops) {
                if (hops >= kMaxOverflowHops || bytes.size() < 4) return false;
                const RowPointer to = RowPointer::FromPacked(U32(bytes, 0));
                if (!m_.is_data_page_of(to.page, def_.tdef_page)) return false;
                file_.ReadPage(to.page, target_);
                if (!IsDataPageOf(target_, def_.tdef_page)) return false;
                const DataPage target(target_, file_.version());
                if (to.row >= target.row_count()) return false;
                flags = target.entry(to.row);
                bytes = target.row(to.row);
            }
            return DecodeBytes(bytes, out, cut);
        } catch (const JetError&) {
            return false;
        }
    }

    bool DecodeBytes(ByteSpan bytes, Row& out, uint64_t& cut) {
        const RowLayout layout = ParseRowLayout(bytes, file_.version(), def_);
        // Jet writes every row with the table's column count at the time; a row with no
        // columns, or more than the table ever had, is not a row of this table.
        if (layout.column_count == 0 || layout.column_count > def_.max_cols) return false;
        long_values_.cuts = 0;
        DecodeRowTo(file_, def_, layout, bytes, out, lv_, &long_values_);
        cut += long_values_.cuts;
        return true;
    }

    // True when the writer can store the row; values too long for their column are cut.
    bool Storable(Row& row, uint64_t& cut) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                encoder_.CheckStorable(row);
                return true;
            } catch (const JetError& e) {
                if (e.number() != kFieldTooSmall || attempt > 0) return false;
            } catch (const std::exception&) {
                return false;
            }
            for (size_t c = 0; c < row.size(); ++c) {
                if (IsNull(row[c]) || def_.columns[c].type == ColumnType::kBoolean) continue;
                try {
                    encoder_.FieldBytes(def_.columns[c], row[c]);
                } catch (const std::exception&) {
                    row[c] = Value{};
                    ++cut;
                }
            }
        }
        return false;
    }

    // Computes the row's index keys; false (row dropped) when a key cannot be computed or
    // repeats in a unique index.
    bool KeysFit(const Row& row) {
        row_keys_.assign(keys_.size(), Bytes{});
        try {
            for (size_t k = 0; k < keys_.size(); ++k) {
                if (!keys_[k].Includes(row)) continue;
                keys_[k].EncodeTo(row, row_keys_[k]);
                if (!unique_[k] || AllNullKey(row_keys_[k])) continue;
                if (seen_keys_[k].Contains(
                        BytesFingerprint(row_keys_[k].data(), row_keys_[k].size()))) {
                    ++stats_.rows_dropped;
                    ++stats_.duplicates_dropped;
                    return false;
                }
            }
        } catch (const std::exception&) {
            ++stats_.rows_dropped;
            return false;
        }
        for (size_t k = 0; k < keys_.size(); ++k)
            if (unique_[k] && !row_keys_[k].empty() && !AllNullKey(row_keys_[k]))
                seen_keys_[k].Insert(BytesFingerprint(row_keys_[k].data(), row_keys_[k].size()));
        return true;
    }

    SalvageSource::Impl& m_;
    MdbFile& file_;
    const TableDef& def_;
    SalvagedTable& stats_;
    RowEncoder encoder_;
    std::vector<IndexKeyEncoder> keys_;
    std::vector<bool> unique_;
    std::vector<FingerprintSet> seen_keys_;
    std::vector<Bytes> row_keys_;
    FingerprintSet digests_;
    SalvagedLongValues long_values_;
    Bytes page_, target_, lv_;
    std::vector<Row> rows_;
    std::vector<uint64_t> cuts_;
    std::vector<uint32_t> locations_;
};

}  // namespace

void SalvageSource::Impl::SalvageRows(const TableDef& def, SalvagedTable& s,
                                      const std::function<void(Row&)>& visit,
                                      const PagesDone& pages_done) {
    RowSalvager(*this, def, s).Run(visit, pages_done);
}

}  // namespace jet
