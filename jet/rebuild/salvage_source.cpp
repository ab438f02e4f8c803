// The salvaging read (salvage_source.h).
//
// Opening surveys every page once (type byte and owner field, 5 bytes a page kept), reads the
// global usage map when it still reads (its free pages are never taken for live ones), then
// the catalog, the table definitions and, when the catalog is damaged, the definitions no
// catalog row names. Rows are read table by table when the rebuild asks for them.
#include "jet/rebuild/salvage_source.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/format/data_page.h"
#include "jet/format/header.h"
#include "jet/format/property_blob.h"
#include "jet/format/row_codec.h"
#include "jet/format/tdef.h"
#include "jet/format/text_codec.h"
#include "jet/format/usage_map.h"
#include "jet/keys/index_key.h"
#include "jet/read/catalog.h"
#include "jet/rebuild/header_recovery.h"
#include "jet/rebuild/salvage_long_value.h"
#include "jet/write/row_encoder.h"
#include "jet/write/system_tables.h"

namespace jet {

std::string RowImage(const Row& row) {
    std::string image;
    auto put = [&image](const void* data, size_t n) {
        image.append(static_cast<const char*>(data), n);
    };
    for (const Value& v : row) {
        image.push_back(static_cast<char>(v.index()));
        std::visit(
            [&](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::monostate>) {
                } else if constexpr (std::is_same_v<T, std::u16string>) {
                    const uint64_t n = x.size();
                    put(&n, sizeof n);
                    put(x.data(), x.size() * sizeof(char16_t));
                } else if constexpr (std::is_same_v<T, Bytes>) {
                    const uint64_t n = x.size();
                    put(&n, sizeof n);
                    put(x.data(), x.size());
                } else if constexpr (std::is_same_v<T, Guid>) {
                    put(x.data(), x.size());
                } else if constexpr (std::is_same_v<T, Decimal>) {
                    image.push_back(x.negative ? 1 : 0);
                    put(x.magnitude.data(), sizeof x.magnitude);
                } else {
                    put(&x, sizeof x);
                }
            },
            v);
    }
    return image;
}

namespace {

// Overflow rows point to their data; Access writes one hop, a few more are tolerated.
constexpr int kMaxOverflowHops = 8;
// Object ids below this are table ids (TDEF pages); containers and synthetic ids are above.
constexpr uint32_t kFirstNonTableId = 0x01000000u;

// ---------------------------------------------------------------------------------------------
// Page 0.

// Page 0 with the fields that carry no information put back to what every Jet file holds, and
// the commit words cleared (entry 0 01 01, the others 00 01, as in a freshly closed file).
DatabaseHeader RestoredHeader(const DatabaseHeader& source, std::vector<std::string>& fixes) {
    DatabaseHeader h = source;
    Bytes& p = h.raw;
    const Version v = h.version;
    const size_t commit = CommitWordsOffset(v);
    if (p.size() < commit + 512) return h;
    size_t restored = 0;
    auto put = [&](size_t at, uint8_t value) {
        if (p[at] != value) ++restored;
        p[at] = value;
    };
    if (h.engine_name == "Standard Jet DB") {
        static const uint8_t kConstant[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0,
                                              3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
        for (size_t i = 0; i < 24; ++i) put(0x18 + i, kConstant[i]);
        for (size_t at = 0x30; at < 0x38; ++at) put(at, 0);
        put(0x39, 0);
        if (v == Version::kJet4) {
            for (size_t at = 0x7A; at < 0x98; ++at) put(at, 0);
            static const uint8_t kBlock[8] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
            for (size_t i = 0; i < 8; ++i) put(0x98 + i, kBlock[i]);
            for (size_t at = 0xA0; at < commit; ++at) put(at, 0);
        } else {
            for (size_t at = 0x58; at < commit; ++at) put(at, 0);
        }
    }
    if (restored > 0)
        fixes.push_back("page 0: " + std::to_string(restored) +
                        " byte(s) of fixed fields put back to their standard values");
    for (size_t entry = 0; entry < 256; ++entry) {
        const uint8_t low = entry == 0 ? 0x01 : 0x00;
        p[commit + 2 * entry] = low;
        p[commit + 2 * entry + 1] = 0x01;
    }
    // Entries 0 and 1 vary in files Access closed cleanly; only the others are marks.
    const bool users_marked = [&] {
        for (size_t entry = 2; entry < 256; ++entry)
            if (source.raw[commit + 2 * entry] != 0x00 ||
                source.raw[commit + 2 * entry + 1] != 0x01)
                return true;
        return false;
    }();
    if (users_marked) fixes.push_back("page 0: the commit words marking open users cleared");
    return h;
}

// ---------------------------------------------------------------------------------------------
// Definitions.

// Throws when a definition does not hold together well enough for its rows to be read and
// written: no columns, a column numbered past max_cols, an index on a missing column, a
// logical index backed by a missing real index.
void ValidateDefinition(const TableDef& def, Version version) {
    if (def.columns.empty()) throw std::invalid_argument("no columns");
    for (const ColumnDef& c : def.columns)
        if (c.col_num >= def.max_cols) throw std::invalid_argument("column numbered past max_cols");
    for (const RealIndexDef& r : def.real_indexes) IndexKeyEncoder keys(version, def, r);
    for (const LogicalIndexDef& l : def.indexes)
        if (l.real_index >= def.real_indexes.size())
            throw std::invalid_argument("index backed by a missing index");
    RowEncoder rows(def, version, 1252);
}

// Reads and validates the definition at `page`; false when it is unusable.
bool ReadDefinition(MdbFile& file, uint32_t page, TableDef& def, std::string& why) {
    try {
        def = ReadTableDef(file, page);
        ValidateDefinition(def, file.version());
        return true;
    } catch (const JetError& e) {
        why = e.what();
    } catch (const std::exception& e) {
        why = e.what();
    }
    return false;
}

// The Jet system tables whose standard definitions can stand in for a damaged one.
struct JetSystemTable {
    const char* name;
    SystemTable which;
};
constexpr JetSystemTable kJetSystemTables[] = {
    {"MSysObjects", SystemTable::kObjects},
    {"MSysACEs", SystemTable::kAces},
    {"MSysQueries", SystemTable::kQueries},
    {"MSysRelationships", SystemTable::kRelationships},
};

const JetSystemTable* FindJetSystemTable(const std::string& name) {
    for (const JetSystemTable& t : kJetSystemTables)
        if (NamesEqual(name, t.name)) return &t;
    return nullptr;
}

// True when two definitions have the same column names in the same order.
bool SameColumns(const TableDef& a, const TableDef& b) {
    if (a.columns.size() != b.columns.size()) return false;
    for (size_t i = 0; i < a.columns.size(); ++i)
        if (!NamesEqual(a.columns[i].name, b.columns[i].name)) return false;
    return true;
}

int ColumnIndex(const TableDef& def, std::string_view name) {
    for (size_t i = 0; i < def.columns.size(); ++i)
        if (NamesEqual(def.columns[i].name, name)) return static_cast<int>(i);
    return -1;
}

// A Long value of a row as an object id (ids are the bit patterns of signed 32-bit values).
std::optional<uint32_t> IdAt(const Row& row, int column) {
    if (column < 0 || static_cast<size_t>(column) >= row.size()) return std::nullopt;
    const auto* v = std::get_if<int64_t>(&row[static_cast<size_t>(column)]);
    if (v == nullptr) return std::nullopt;
    return static_cast<uint32_t>(static_cast<int32_t>(*v));
}

std::string TextAt(const Row& row, int column) {
    if (column < 0 || static_cast<size_t>(column) >= row.size()) return {};
    const auto* v = std::get_if<std::u16string>(&row[static_cast<size_t>(column)]);
    return v == nullptr ? std::string() : Utf16ToUtf8(*v);
}

// Which of a table's columns hold object ids whose table must still exist.
struct IdColumns {
    std::vector<int> columns;
};

IdColumns IdColumnsOf(const TableDef& def) {
    static const std::pair<const char*, const char*> kColumns[] = {
        {"MSysACEs", "ObjectId"},
        {"MSysNavPaneObjectIDs", "Id"},
        {"MSysNavPaneGroupToObjects", "ObjectID"},
    };
    IdColumns out;
    for (const auto& [table, column] : kColumns) {
        if (!NamesEqual(def.name, table)) continue;
        const int c = ColumnIndex(def, column);
        if (c >= 0 && def.columns[static_cast<size_t>(c)].type == ColumnType::kLong)
            out.columns.push_back(c);
    }
    return out;
}

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

// A 64-bit fingerprint of a byte string: 8-byte words mixed with multiply-xorshift rounds.
uint64_t Fingerprint(const uint8_t* data, size_t n) {
    auto mix = [](uint64_t x) {
        x ^= x >> 33;
        x *= 0xFF51AFD7ED558CCDull;
        x ^= x >> 33;
        x *= 0xC4CEB9FE1A85EC53ull;
        x ^= x >> 33;
        return x;
    };
    uint64_t h = 0x9E3779B97F4A7C15ull ^ (n * 0xD6E8FEB86659FD93ull);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        h = mix(h ^ mix(w + i));
    }
    uint64_t tail = 0;
    for (size_t k = 0; i < n; ++i, ++k) tail |= static_cast<uint64_t>(data[i]) << (8 * k);
    return mix(h ^ mix(tail ^ 0xA0761D6478BD642Full));
}

// A row's fingerprint, to recognise stale copies of rows.
uint64_t RowDigest(const Row& row) {
    const std::string image = RowImage(row);
    return Fingerprint(reinterpret_cast<const uint8_t*>(image.data()), image.size());
}

bool AllNullKey(const Bytes& key) {
    return IsAllNullKey(key.data(), key.size());
}

// Opens the file for writing (a repair replaces it, so a file we may not write is refused with
// 3051, as it would be by the rename on Windows) and takes the open gate exclusively so that
// no one opens the database while it is read; it is never written through this handle.
// With `rebuilt`, page 0 is lost and that header stands in for it (header_recovery.h).
std::unique_ptr<MdbFile> OpenHeld(Env* env, const std::string& path, OpenOptions options,
                                  const DatabaseHeader* rebuilt = nullptr) {
    options.writable = true;
    std::unique_ptr<MdbFile> file = rebuilt != nullptr
                                        ? MdbFile::OpenWithHeader(env, path, options, *rebuilt)
                                        : MdbFile::Open(env, path, options);
    try {
        if (!file->file().TryLock(kOpenGateOffset, 1, true)) Raise(kFileInUse, path);
    } catch (const OsError& e) {
        RaiseOsError(e, path);
    }
    return file;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct SalvageSource::Impl {
    std::unique_ptr<MdbFile> file;
    DatabaseHeader header;
    std::vector<SourceTable> tables;
    SalvageStats stats;

    // Survey: per page, the type byte and the owner field (0xFF / 0 past a short read).
    std::vector<uint8_t> page_type;
    std::vector<uint32_t> page_owner;
    std::vector<bool> page_free;  // marked free in the global usage map
    std::map<uint32_t, std::vector<uint32_t>> data_pages_by_owner;  // ascending

    // The catalog, read once: its rows, and which of them go to the output.
    TableDef catalog_def;
    std::vector<Row> catalog_rows;
    std::vector<uint32_t> catalog_locations;  // where each was found (visited_row)
    std::vector<bool> catalog_keep;
    std::vector<Row> catalog_added;  // rows made for recovered tables and missing objects
    SalvagedTable catalog_stats;
    bool catalog_damaged = false;

    std::set<uint32_t> table_ids;         // ids of tables()
    std::set<uint32_t> lost_ids;          // tables the catalog names whose definition is lost
    std::vector<uint32_t> recovered_ids;  // tables found without a catalog row
    uint32_t visited_row = 0;             // DatabaseSource::visited_row

    uint32_t page_count() const { return file->page_count(); }
    bool is_data_page_of(uint32_t page, uint32_t owner) const {
        return page < page_type.size() && page_type[page] == kPageData && page_owner[page] == owner;
    }

    void Survey();
    void ReadGlobalMap();
    void ReadCatalog();
    void ReadTables();
    void RecoverOrphans();
    void EnsureJetSystemTables();
    void AddMissingSystemRows();

    // Reads the live rows of a table, calling `visit` for each row that survives.
    void SalvageRows(const TableDef& def, SalvagedTable& stats,
                     const std::function<void(Row&)>& visit, const PagesDone& pages_done);
};

namespace {

// Reads the rows of one table defensively (see salvage_source.h).
class RowSalvager {
  public:
    RowSalvager(SalvageSource::Impl& m, const TableDef& def, SalvagedTable& stats)
        : m_(m),
          file_(*m.file),
          def_(def),
          stats_(stats),
          encoder_(def, file_.version(), file_.header().code_page) {
        for (const RealIndexDef& r : def.real_indexes) {
            keys_.emplace_back(file_.version(), def, r);
            unique_.push_back((r.flags & kIndexUnique) != 0);
        }
        seen_keys_.resize(def.real_indexes.size());
        // Property blobs are parsed by Access and by every reader: only well-formed ones pass.
        if (NamesEqual(def.name, "MSysObjects")) property_column_ = ColumnIndex(def, "LvProp");
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
        std::vector<Row> rows;
        std::vector<uint64_t> cuts;
        std::vector<uint32_t> locations;
        try {
            file_.ReadPage(number, page_);
            if (!IsDataPageOf(page_, def_.tdef_page)) {
                ++stats_.pages_lost;
                return;
            }
            const DataPage page(page_, file_.version());
            for (uint16_t i = 0; i < page.row_count(); ++i) {
                if (page.entry(i) & kRowDeleted) continue;
                Row row;
                uint64_t cut = 0;
                if (!Decode(page, i, row, cut) || !Storable(row, cut)) {
                    ++stats_.rows_dropped;
                    continue;
                }
                rows.push_back(std::move(row));
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
            for (const Row& row : rows) {
                digests.push_back(RowDigest(row));
                repeated.push_back(digests_.Contains(digests.back()));
                repeats += repeated.back() ? 1 : 0;
            }
            stale_copy = extra && repeats > 0 && repeats * 2 >= rows.size();
            for (uint64_t d : digests) digests_.Insert(d);
        }
        for (size_t r = 0; r < rows.size(); ++r) {
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
        const Version version = file_.version();
        const RowLayout layout = ParseRowLayout(bytes, version, def_);
        // Jet writes every row with the table's column count at the time; a row with no
        // columns, or more than the table ever had, is not a row of this table.
        if (layout.column_count == 0 || layout.column_count > def_.max_cols) return false;
        const uint16_t db_code_page = file_.header().code_page;
        out.assign(def_.columns.size(), Value{});
        for (size_t c = 0; c < def_.columns.size(); ++c) {
            const ColumnDef& col = def_.columns[c];
            const ColumnSlice s = LocateColumn(layout, bytes, col);
            if (col.type == ColumnType::kBoolean) {
                out[c] = s.present && s.not_null;
                continue;
            }
            if (!s.present || !s.not_null) continue;
            const uint16_t code_page = ColumnCodePage(col, db_code_page);
            if (col.long_value()) {
                bool ok = false;
                try {
                    ok = ReadLongValueSalvaged(file_, s.bytes, lv_);
                } catch (const JetError&) {
                    ok = false;
                }
                if (ok && static_cast<int>(c) == property_column_)
                    ok = IsWellFormedPropertyBlob(lv_);
                if (!ok) {
                    ++cut;  // the row stays; the broken value becomes null
                    continue;
                }
                if (col.type == ColumnType::kMemo)
                    out[c] = DecodeText(lv_, version, code_page);
                else
                    out[c] = lv_;
                continue;
            }
            out[c] = DecodeValue(col, s.bytes, version, code_page);
        }
        return true;
    }

    // True when the writer can store the row; values too long for their column are cut.
    bool Storable(Row& row, uint64_t& cut) {
        const RowEncoder::LongValueStore store = [](size_t, const Bytes& data) {
            return LongValueHeader(static_cast<uint32_t>(data.size()), kLongValueSingle, 0);
        };
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                encoder_.Encode(row, store, scratch_);
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
                if (seen_keys_[k].Contains(Fingerprint(row_keys_[k].data(), row_keys_[k].size()))) {
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
                seen_keys_[k].Insert(Fingerprint(row_keys_[k].data(), row_keys_[k].size()));
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
    int property_column_ = -1;
    Bytes page_, target_, lv_, scratch_;
};

}  // namespace

void SalvageSource::Impl::SalvageRows(const TableDef& def, SalvagedTable& s,
                                      const std::function<void(Row&)>& visit,
                                      const PagesDone& pages_done) {
    RowSalvager(*this, def, s).Run(visit, pages_done);
}

void SalvageSource::Impl::Survey() {
    const uint32_t n = page_count();
    page_type.assign(n, 0xFF);
    page_owner.assign(n, 0);
    Bytes page;
    for (uint32_t p = 1; p < n; ++p) {
        try {
            file->ReadPage(p, page);
        } catch (const JetError&) {
            continue;
        }
        page_type[p] = page[0];
        page_owner[p] = U32(page, 4);
        if (page[0] == kPageData) data_pages_by_owner[page_owner[p]].push_back(p);
    }
}

void SalvageSource::Impl::ReadGlobalMap() {
    page_free.assign(page_count(), false);
    try {
        const UsageMap global = ReadGlobalUsageMap(*file);
        for (uint32_t p : global.pages)
            if (p < page_free.size()) page_free[p] = true;
    } catch (const JetError&) {
        stats.fixes.push_back("the global usage map was unreadable; it is rebuilt");
    }
    // Pages in use are never free, whatever a damaged map says: page 0, 1, the catalog.
    for (uint32_t p = 0; p <= kCatalogPage && p < page_free.size(); ++p) page_free[p] = false;
}

void SalvageSource::Impl::ReadCatalog() {
    std::string why;
    if (!ReadDefinition(*file, kCatalogPage, catalog_def, why)) {
        catalog_def = SystemTableDef(SystemTable::kObjects, file->version());
        catalog_def.tdef_page = kCatalogPage;
        catalog_stats.standard_definition = true;
        catalog_damaged = true;
        stats.fixes.push_back("MSysObjects: its definition was unreadable (" + why +
                              "); the standard one is used");
    }
    catalog_def.name = "MSysObjects";
    catalog_stats.name = "MSysObjects";
    catalog_stats.id = kCatalogPage;
    SalvageRows(catalog_def, catalog_stats,
                [&](Row& row) {
                    catalog_rows.push_back(row);
                    catalog_locations.push_back(visited_row);
                },
                {});
    if (catalog_stats.rows_dropped > 0 || catalog_stats.pages_lost > 0 ||
        catalog_stats.pages_by_owner)
        catalog_damaged = true;
    if (catalog_rows.empty()) {
        catalog_damaged = true;
        stats.fixes.push_back(
            "MSysObjects: no row could be read; the tables are found by their definitions");
    }
    catalog_keep.assign(catalog_rows.size(), true);
}

void SalvageSource::Impl::ReadTables() {
    const int id_col = ColumnIndex(catalog_def, "Id");
    const int name_col = ColumnIndex(catalog_def, "Name");
    const int type_col = ColumnIndex(catalog_def, "Type");
    const uint32_t n = page_count();

    SourceTable objects;
    objects.id = kCatalogPage;
    objects.name = "MSysObjects";
    objects.def = catalog_def;
    tables.push_back(std::move(objects));
    table_ids.insert(kCatalogPage);

    for (size_t r = 0; r < catalog_rows.size(); ++r) {
        Row& row = catalog_rows[r];
        const auto type = IdAt(row, type_col);
        const auto id = IdAt(row, id_col);
        const std::string name = TextAt(row, name_col);
        if (stats.header_rebuilt) RefuseAceCatalog(name, file->path());
        if (!type || static_cast<int16_t>(*type) != kObjectTable) {
            // Only tables have ids that are pages: a row of another type whose id is the page
            // of a sound definition is a table whose type field was damaged.
            if (!id || *id <= kCatalogPage || *id >= n || table_ids.count(*id) ||
                page_type[*id] != kPageTableDef || page_free[*id] || name.empty())
                continue;
            TableDef probe;
            std::string ignored;
            if (!ReadDefinition(*file, *id, probe, ignored)) continue;
            row[static_cast<size_t>(type_col)] = Value{int64_t{kObjectTable}};
            catalog_damaged = true;
            stats.fixes.push_back("catalog: the row of '" + name +
                                  "' had a damaged type; it names a table definition and is a "
                                  "table again");
        }
        if (!id || *id == kCatalogPage) continue;
        if (table_ids.count(*id)) {
            catalog_keep[r] = false;  // a second row for the same table
            continue;
        }
        std::string why;
        SourceTable t;
        t.id = *id;
        t.name = name;
        bool ok = false;
        if (name.empty()) {
            why = "its catalog row has no name";
        } else if (*id < kCatalogPage || *id >= n) {
            why = "its definition would be outside the file";
        } else {
            ok = ReadDefinition(*file, *id, t.def, why);
        }
        const JetSystemTable* system = FindJetSystemTable(name);
        bool standard = false;
        if (!ok && system != nullptr && *id < kFirstNonTableId && *id >= kCatalogPage) {
            t.def = SystemTableDef(system->which, file->version());
            t.def.tdef_page = *id;
            ok = standard = true;
            stats.fixes.push_back(name + ": its definition was unreadable (" + why +
                                  "); the standard one is used");
        }
        if (!ok) {
            // Its rows may still be found through a definition no catalog row names.
            catalog_damaged = true;
            catalog_keep[r] = false;
            lost_ids.insert(*id);
            stats.lost_tables.push_back((name.empty() ? std::string("?") : name) + " (page " +
                                        std::to_string(*id) + "): " + why);
            stats.lost_table_names.push_back(name);
            continue;
        }
        t.def.name = name;
        t.def.tdef_page = *id;
        table_ids.insert(*id);
        SalvagedTable s;
        s.name = name;
        s.id = *id;
        s.standard_definition = standard;
        tables.push_back(std::move(t));
        stats.tables.push_back(std::move(s));
    }
}

void SalvageSource::Impl::RecoverOrphans() {
    const uint32_t n = page_count();
    // Pages of definitions already known, and pages that continue some definition chain.
    std::set<uint32_t> known;
    for (const SourceTable& t : tables) {
        known.insert(t.id);
        for (uint32_t p : t.def.definition_pages) known.insert(p);
    }
    std::set<uint32_t> continuations;
    Bytes page;
    for (uint32_t p = 1; p < n; ++p) {
        if (page_type[p] != kPageTableDef || page_free[p]) continue;
        try {
            file->ReadPage(p, page);
            continuations.insert(U32(page, 4));
        } catch (const JetError&) {
        }
    }
    auto has_data_pages = [this](uint32_t owner) {
        auto it = data_pages_by_owner.find(owner);
        if (it == data_pages_by_owner.end()) return false;
        for (uint32_t p : it->second)
            if (!page_free[p]) return true;
        return false;
    };

    const int name_col = ColumnIndex(catalog_def, "Name");
    std::vector<std::string> names;
    for (const Row& row : catalog_rows) names.push_back(TextAt(row, name_col));
    auto taken = [&names](const std::string& name) {
        for (const std::string& other : names)
            if (NamesEqual(other, name)) return true;
        return false;
    };
    // With catalog rows lost with their pages, an empty table has nothing but its definition
    // to be found by.
    const bool catalog_lost = catalog_rows.empty() || catalog_stats.pages_lost > 0;
    for (uint32_t p = kCatalogPage + 1; p < n; ++p) {
        if (page_type[p] != kPageTableDef || page_free[p] || known.count(p) ||
            continuations.count(p) || (!catalog_lost && !has_data_pages(p)))
            continue;
        TableDef def;
        std::string why;
        if (!ReadDefinition(*file, p, def, why)) continue;
        // A Jet system table whose catalog row is gone keeps its name.
        std::string name;
        for (const JetSystemTable& sys : kJetSystemTables) {
            bool listed = false;
            for (const SourceTable& t : tables) listed |= NamesEqual(t.name, sys.name);
            if (!listed && SameColumns(def, SystemTableDef(sys.which, file->version())))
                name = sys.name;
        }
        if (name.empty()) {
            name = "RecoveredTable_" + std::to_string(p);
            for (int k = 2; taken(name); ++k)
                name = "RecoveredTable_" + std::to_string(p) + "_" + std::to_string(k);
        }
        names.push_back(name);
        def.name = name;
        def.tdef_page = p;
        SourceTable t;
        t.id = p;
        t.name = name;
        t.def = std::move(def);
        tables.push_back(std::move(t));
        table_ids.insert(p);
        recovered_ids.push_back(p);
        SalvagedTable s;
        s.name = name;
        s.id = p;
        s.recovered = true;
        stats.tables.push_back(std::move(s));
        stats.fixes.push_back("table '" + name + "' (page " + std::to_string(p) +
                              ") had no catalog row; one was made");
    }
}

// Jet cannot open a database without its four system tables: one that is still missing (its
// catalog row and its definition both lost) comes back with its standard definition at the
// first of pages 3..5 no table uses, with whatever rows carry that page as their owner.
void SalvageSource::Impl::EnsureJetSystemTables() {
    for (const JetSystemTable& sys : kJetSystemTables) {
        bool present = false;
        for (const SourceTable& t : tables) present |= NamesEqual(t.name, sys.name);
        if (present) continue;
        uint32_t page = 0;
        for (uint32_t p = kCatalogPage + 1; p <= kCatalogPage + 3 && page == 0; ++p)
            if (!table_ids.count(p)) page = p;
        if (page == 0) continue;
        SourceTable t;
        t.id = page;
        t.name = sys.name;
        t.def = SystemTableDef(sys.which, file->version());
        t.def.name = sys.name;
        t.def.tdef_page = page;
        tables.push_back(std::move(t));
        table_ids.insert(page);
        lost_ids.erase(page);
        recovered_ids.push_back(page);
        SalvagedTable s;
        s.name = sys.name;
        s.id = page;
        s.recovered = true;
        s.standard_definition = true;
        stats.tables.push_back(std::move(s));
        stats.fixes.push_back(std::string(sys.name) + " was missing; it is made anew at page " +
                              std::to_string(page));
    }
}

namespace {

// Puts a value into a catalog row by column name (when the column exists).
void SetColumn(const TableDef& def, Row& row, std::string_view column, Value value) {
    const int c = ColumnIndex(def, column);
    if (c >= 0) row[static_cast<size_t>(c)] = std::move(value);
}

}  // namespace

void SalvageSource::Impl::AddMissingSystemRows() {
    const int id_col = ColumnIndex(catalog_def, "Id");
    const int parent_col = ColumnIndex(catalog_def, "ParentId");
    const int name_col = ColumnIndex(catalog_def, "Name");
    const int owner_col = ColumnIndex(catalog_def, "Owner");
    const int date_col = ColumnIndex(catalog_def, "DateUpdate");
    std::set<uint32_t> ids;
    const Row* tables_container = nullptr;
    for (size_t r = 0; r < catalog_rows.size(); ++r) {
        if (!catalog_keep[r]) continue;
        if (auto id = IdAt(catalog_rows[r], id_col)) {
            ids.insert(*id);
            if (*id == kTablesContainerId) tables_container = &catalog_rows[r];
        }
    }
    double date = 0;
    Value owner;
    if (tables_container != nullptr) {
        if (date_col >= 0)
            if (auto* d = std::get_if<double>(&(*tables_container)[static_cast<size_t>(date_col)]))
                date = *d;
        if (owner_col >= 0) owner = (*tables_container)[static_cast<size_t>(owner_col)];
    }
    // The rows every database has (containers, MSysDb, MSysObjects itself), standard form, when
    // a damaged catalog lost them. The other Jet system tables are found as recovered tables.
    const TableDef std_def = SystemTableDef(SystemTable::kObjects, file->version());
    for (const Row& standard : InitialCatalogRows(file->version(), date)) {
        if (!catalog_damaged) break;
        const auto id = IdAt(standard, ColumnIndex(std_def, "Id"));
        if (!id || ids.count(*id)) continue;
        if (*id < kFirstNonTableId && *id != kCatalogPage) continue;
        // A row of that name in that container under another id would clash in ParentIdName.
        const std::string name = TextAt(standard, ColumnIndex(std_def, "Name"));
        const auto parent = IdAt(standard, ColumnIndex(std_def, "ParentId"));
        bool clash = false;
        for (size_t r = 0; r < catalog_rows.size(); ++r)
            clash |= catalog_keep[r] && IdAt(catalog_rows[r], parent_col) == parent &&
                     NamesEqual(TextAt(catalog_rows[r], name_col), name);
        if (clash) continue;
        Row row(catalog_def.columns.size());
        for (size_t c = 0; c < std_def.columns.size(); ++c)
            SetColumn(catalog_def, row, std_def.columns[c].name, standard[c]);
        catalog_added.push_back(std::move(row));
        ids.insert(*id);
        stats.fixes.push_back("catalog: the missing row of '" + name + "' was made");
    }
    for (uint32_t id : recovered_ids) {
        const SourceTable* t = nullptr;
        for (const SourceTable& s : tables)
            if (s.id == id) t = &s;
        if (t == nullptr || ids.count(id)) continue;
        Row row(catalog_def.columns.size());
        SetColumn(catalog_def, row, "Id", int64_t{static_cast<int32_t>(id)});
        SetColumn(catalog_def, row, "ParentId", int64_t{static_cast<int32_t>(kTablesContainerId)});
        SetColumn(catalog_def, row, "Name", Utf8ToUtf16(t->name));
        SetColumn(catalog_def, row, "Type", int64_t{kObjectTable});
        SetColumn(catalog_def, row, "DateCreate", date);
        SetColumn(catalog_def, row, "DateUpdate", date);
        SetColumn(catalog_def, row, "Owner", owner);
        const bool system = FindJetSystemTable(t->name) != nullptr;
        SetColumn(catalog_def, row, "Flags",
                  int64_t{static_cast<int32_t>(system ? kFlagJetSystem : 0u)});
        catalog_added.push_back(std::move(row));
    }
}

// ---------------------------------------------------------------------------------------------

SalvageSource::SalvageSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SalvageSource::~SalvageSource() = default;

const std::string& SalvageSource::path() const {
    return impl_->file->path();
}
const DatabaseHeader& SalvageSource::header() const {
    return impl_->header;
}
void SalvageSource::Release() {
    impl_->file->Close();
}
uint32_t SalvageSource::page_count() const {
    return impl_->page_count();
}
const std::vector<SourceTable>& SalvageSource::tables() const {
    return impl_->tables;
}
const SalvageStats& SalvageSource::stats() const {
    return impl_->stats;
}
MdbFile& SalvageSource::file() {
    return *impl_->file;
}
uint32_t SalvageSource::visited_row() const {
    return impl_->visited_row;
}
MdbFile* SalvageSource::index_file() {
    return impl_->file.get();
}

void SalvageSource::ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done) {
    Impl& m = *impl_;
    const SourceTable& t = m.tables.at(index);
    SalvagedTable* s = nullptr;
    for (SalvagedTable& x : m.stats.tables)
        if (x.id == t.id) s = &x;
    if (t.id == kCatalogPage) {
        // Read at opening: hand over the rows kept, then those made.
        for (size_t r = 0; r < m.catalog_rows.size(); ++r) {
            if (!m.catalog_keep[r]) continue;
            Row row = m.catalog_rows[r];
            m.visited_row = m.catalog_locations[r];
            visit(row);
            m.visited_row = 0;
        }
        for (const Row& added : m.catalog_added) {
            Row row = added;
            visit(row);
        }
        if (pages_done && t.pages > 0) pages_done(t.pages);
        return;
    }
    if (s == nullptr) throw std::logic_error("salvage: a table without its statistics");
    s->rows = s->rows_dropped = s->duplicates_dropped = s->values_cut = 0;
    s->pages_lost = 0;
    s->stale_copies_skipped = 0;
    s->rows_unmapped = 0;

    const IdColumns ids = IdColumnsOf(t.def);
    const bool aces = NamesEqual(t.def.name, "MSysACEs");
    const int ace_object = ColumnIndex(t.def, "ObjectId");
    std::vector<Row> container_aces;
    uint32_t done = 0;
    m.SalvageRows(
        t.def, *s,
        [&](Row& row) {
            for (int c : ids.columns) {
                const auto id = IdAt(row, c);
                // The id of a table lost here would name whatever table gets that id. (Ids
                // that dangled already in the source are left as compaction leaves them.)
                if (id && m.lost_ids.count(*id)) {
                    --s->rows;
                    ++s->rows_dropped;
                    return;
                }
            }
            if (aces && !m.recovered_ids.empty() && IdAt(row, ace_object) == kTablesContainerId)
                container_aces.push_back(row);
            visit(row);
        },
        [&](uint32_t pages) {
            done += pages;
            if (pages_done && done <= t.pages) pages_done(pages);
        });
    // Recovered tables get the permissions a new table inherits from the Tables container.
    for (uint32_t id : m.recovered_ids) {
        for (const Row& ace : container_aces) {
            Row row = ace;
            row[static_cast<size_t>(ace_object)] = int64_t{static_cast<int32_t>(id)};
            visit(row);
            ++s->rows;
        }
    }
    if (pages_done && done < t.pages) pages_done(t.pages - done);
}

std::unique_ptr<SalvageSource> OpenSalvageSource(Env* env, const std::string& path,
                                                 const OpenOptions& options) {
    auto m = std::make_unique<SalvageSource::Impl>();
    std::optional<RecoveredHeader> rebuilt;
    try {
        m->file = OpenHeld(env, path, options);
    } catch (const JetError& e) {
        if (e.number() != kUnrecognizedFormat || !PageZeroLost(env, path)) throw;
        rebuilt = RecoverHeader(env, path, options.password);
        m->file = OpenHeld(env, path, options, &rebuilt->header);
        m->stats.header_rebuilt = true;
        m->stats.header_password_given = !options.password.empty();
        m->stats.fixes = rebuilt->fixes;
    }
    m->header = RestoredHeader(m->file->header(), m->stats.fixes);
    m->Survey();
    m->ReadGlobalMap();
    m->ReadCatalog();
    m->ReadTables();
    if (m->catalog_damaged) m->RecoverOrphans();
    if (m->catalog_rows.empty() && m->recovered_ids.empty())
        RaiseWithDetail(kCouldNotRepair, {},
                        "No row of the catalog (MSysObjects) could be read in '" + path + "'.");
    m->EnsureJetSystemTables();

    // Definitions must not point at tables that are gone: foreign keys to them are cleared.
    for (SourceTable& t : m->tables) {
        for (LogicalIndexDef& l : t.def.indexes) {
            if (l.rel_table_page == 0 || m->table_ids.count(l.rel_table_page)) continue;
            m->stats.fixes.push_back("table '" + t.name + "': index '" + l.name +
                                     "' related it to a table that is gone; the relation is "
                                     "cleared");
            l.rel_table_page = 0;
            l.rel_table_type = 0;
            l.rel_index = -1;
            if (l.kind == IndexKind::kForeignKey) l.kind = IndexKind::kNormal;
        }
        // A progress weight: the data pages the table owns.
        if (auto it = m->data_pages_by_owner.find(t.id); it != m->data_pages_by_owner.end())
            t.pages = static_cast<uint32_t>(it->second.size());
    }
    std::sort(m->tables.begin(), m->tables.end(),
              [](const SourceTable& a, const SourceTable& b) { return a.id < b.id; });
    m->AddMissingSystemRows();

    // The catalog's own statistics, complete now.
    SalvagedTable catalog = m->catalog_stats;
    catalog.rows = 0;
    for (size_t r = 0; r < m->catalog_rows.size(); ++r)
        if (m->catalog_keep[r]) ++catalog.rows;
    catalog.rows += m->catalog_added.size();
    for (size_t r = 0; r < m->catalog_rows.size(); ++r)
        if (!m->catalog_keep[r]) ++catalog.rows_dropped;
    m->stats.tables.insert(m->stats.tables.begin(), catalog);
    std::sort(m->stats.tables.begin(), m->stats.tables.end(),
              [](const SalvagedTable& a, const SalvagedTable& b) { return a.id < b.id; });
    return std::unique_ptr<SalvageSource>(new SalvageSource(std::move(m)));
}

}  // namespace jet
