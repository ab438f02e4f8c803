// Damage injectors (damage.h). The file is first surveyed (page types and owners, tables from
// the catalog where it still reads, long values kept out of their rows), tolerating damage
// already there, so that damage can be stacked; then one change is made.
#include "jet/testing/damage.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <set>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/header.h"
#include "jet/format/long_value.h"
#include "jet/format/mdb_file.h"
#include "jet/format/row_codec.h"
#include "jet/format/tdef.h"
#include "jet/format/usage_map.h"
#include "jet/read/catalog.h"
#include "jet/read/table_reader.h"

namespace jet {
namespace {

constexpr std::array<const char*, 10> kKindNames = {
    "zeroed-page",      "torn-page",         "random-bytes",      "wrong-row-count",
    "broken-usage-map", "broken-index-page", "broken-memo-chain", "truncated-file",
    "header-garbage",   "inconsistent-state"};

// splitmix64: a small generator whose output is fixed by its definition, so a seed gives the
// same damage on every platform (std distributions are not portable).
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed ^ 0x6A09E667F3BCC908ull) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform enough in [0, n); REQUIRES n > 0.
    uint64_t Below(uint64_t n) { return Next() % n; }
    uint8_t Byte() { return static_cast<uint8_t>(Next()); }
    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(items.size())];
    }

  private:
    uint64_t state_;
};

// Where the row count is in the first TDEF page.
size_t RowCountOffset(Version v) {
    return v == Version::kJet3 ? 0x0C : 0x10;
}
size_t OwnedMapOffset(Version v) {
    return v == Version::kJet3 ? 0x23 : 0x37;
}

struct SurveyedTable {
    uint32_t page = 0;
    TableDef def;
};

// A long value stored out of its row: the links that lead to each of its pieces.
struct OutOfRowValue {
    uint32_t table_page = 0;
    // Where the 4-byte pointer to the first piece is: the row's data page and the offset of
    // the pointer in that page.
    uint32_t header_page = 0;
    size_t header_pointer_offset = 0;
    std::vector<uint32_t> pieces;  // row pointers in chain order
    bool chained = false;
};

class Survey {
  public:
    Survey(Env* env, const std::string& path, const std::string& password, bool writable) {
        OpenOptions open;
        open.password = password;
        open.writable = writable;
        file_ = MdbFile::Open(env, path, open);
        const uint32_t n = file_->page_count();
        type_.assign(n, 0xFF);
        owner_.assign(n, 0);
        Bytes page;
        for (uint32_t p = 1; p < n; ++p) {
            file_->ReadPage(p, page);
            type_[p] = page[0];
            owner_[p] = U32(page, 4);
        }
        try {
            const UsageMap global = ReadGlobalUsageMap(*file_);
            free_.insert(global.pages.begin(), global.pages.end());
        } catch (const JetError&) {
            // A broken global map: every page counts as in use.
        }
        try {
            const Catalog catalog = Catalog::Read(*file_);
            tables_.push_back({kCatalogPage, catalog.objects_table()});
            for (const CatalogEntry* e : catalog.Tables(true)) {
                if (e->tdef_page() == kCatalogPage || e->tdef_page() >= n) continue;
                try {
                    TableDef def = ReadTableDef(*file_, e->tdef_page());
                    def.name = e->name;
                    tables_.push_back({e->tdef_page(), std::move(def)});
                } catch (const JetError&) {
                    // A table whose definition no longer reads offers no table targets.
                }
            }
        } catch (const JetError&) {
            // No catalog: only the page-level kinds have targets.
        }
        std::sort(tables_.begin(), tables_.end(),
                  [](const SurveyedTable& a, const SurveyedTable& b) { return a.page < b.page; });
    }

    MdbFile& file() { return *file_; }
    uint32_t page_count() const { return file_->page_count(); }
    uint8_t type(uint32_t p) const { return p < type_.size() ? type_[p] : 0xFF; }
    uint32_t owner(uint32_t p) const { return p < owner_.size() ? owner_[p] : 0; }
    bool in_use(uint32_t p) const { return free_.count(p) == 0; }
    const std::vector<SurveyedTable>& tables() const { return tables_; }
    const SurveyedTable* table(uint32_t page) const {
        for (const SurveyedTable& t : tables_)
            if (t.page == page) return &t;
        return nullptr;
    }
    bool is_table_data_page(uint32_t p) const {
        return type(p) == kPageData && table(owner(p)) != nullptr;
    }

    // Long values stored out of their rows, found by reading every table's rows.
    const std::vector<OutOfRowValue>& out_of_row_values() {
        if (!values_done_) FindOutOfRowValues();
        values_done_ = true;
        return values_;
    }

  private:
    void FindOutOfRowValues() {
        Bytes page;
        for (const SurveyedTable& t : tables_) {
            bool has_long_values = false;
            for (const ColumnDef& c : t.def.columns) has_long_values |= c.long_value();
            if (!has_long_values) continue;
            try {
                TableScanner scanner(*file_, t.def, ScanOptions{true});
                while (scanner.Next()) {
                    const RowLocation at = scanner.data_location();
                    const ByteSpan row = scanner.row_bytes();
                    file_->ReadPage(at.page, page);
                    const size_t row_start = DataPage(page, file_->version()).row_start(at.row);
                    const RowLayout layout = ParseRowLayout(row, file_->version(), t.def);
                    for (const ColumnDef& c : t.def.columns) {
                        if (!c.long_value()) continue;
                        const ColumnSlice s = LocateColumn(layout, row, c);
                        if (!s.present || !s.not_null || s.bytes.size() < kLongValueHeaderSize)
                            continue;
                        try {
                            const LongValueHeader h = ParseLongValueHeader(s.bytes);
                            if (h.form == LongValueForm::kInline) continue;
                            OutOfRowValue v;
                            v.table_page = t.page;
                            v.header_page = at.page;
                            v.header_pointer_offset = row_start + s.offset + 4;
                            v.pieces = LongValueRows(*file_, s.bytes);
                            v.chained = h.form == LongValueForm::kChain;
                            if (!v.pieces.empty()) values_.push_back(std::move(v));
                        } catch (const JetError&) {
                            // Already broken: not a target.
                        }
                    }
                }
            } catch (const JetError&) {
                // The rest of a damaged table is skipped.
            }
        }
    }

    std::unique_ptr<MdbFile> file_;
    std::vector<uint8_t> type_;
    std::vector<uint32_t> owner_;
    std::set<uint32_t> free_;
    std::vector<SurveyedTable> tables_;
    std::vector<OutOfRowValue> values_;
    bool values_done_ = false;
};

std::vector<uint32_t> Targets(Survey& s, DamageKind kind) {
    std::vector<uint32_t> out;
    const uint32_t n = s.page_count();
    switch (kind) {
        case DamageKind::kZeroedPage:
        case DamageKind::kTornPage:
            for (uint32_t p = 1; p < n; ++p)
                if (s.in_use(p)) out.push_back(p);
            break;
        case DamageKind::kRandomBytes:
            for (uint32_t p = 1; p < n; ++p)
                if (s.is_table_data_page(p) && s.in_use(p)) out.push_back(p);
            break;
        case DamageKind::kWrongRowCount:
            for (const SurveyedTable& t : s.tables()) out.push_back(t.page);
            break;
        case DamageKind::kBrokenUsageMap:
            out.push_back(1);
            for (const SurveyedTable& t : s.tables()) out.push_back(t.page);
            break;
        case DamageKind::kBrokenIndexPage:
            for (uint32_t p = 1; p < n; ++p) {
                const uint8_t t = s.type(p);
                if ((t == kPageIndexNode || t == kPageIndexLeaf) && s.in_use(p) &&
                    s.table(s.owner(p)) != nullptr)
                    out.push_back(p);
            }
            break;
        case DamageKind::kBrokenMemoChain: {
            std::set<uint32_t> pages;
            for (const OutOfRowValue& v : s.out_of_row_values())
                for (uint32_t piece : v.pieces) pages.insert(piece >> 8);
            out.assign(pages.begin(), pages.end());
            break;
        }
        case DamageKind::kTruncatedFile:
            for (uint32_t p = 2; p < n; ++p) out.push_back(p);
            break;
        case DamageKind::kHeaderGarbage:
        case DamageKind::kInconsistentState:
            out.push_back(0);
            break;
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// Writes raw bytes at an absolute offset (physical damage: no page encryption).
void WriteRaw(MdbFile& file, uint64_t offset, const Bytes& bytes) {
    try {
        file.file().WriteAt(offset, bytes.data(), bytes.size());
    } catch (const OsError& e) {
        RaiseOsError(e, file.path());
    }
}

std::string Hex(uint64_t v) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    do {
        s.insert(s.begin(), digits[v & 15]);
        v >>= 4;
    } while (v != 0);
    return "0x" + s;
}

class Injector {
  public:
    Injector(Survey& survey, Random& random, DamageResult& result)
        : s_(survey), file_(survey.file()), random_(random), result_(result) {}

    void ZeroPage(uint32_t p) {
        const Bytes old = ReadPhysical(p, 0, file_.page_size());
        if (std::all_of(old.begin(), old.end(), [](uint8_t b) { return b == 0; })) {
            result_.applied = true;
            result_.what = "page " + std::to_string(p) + " was all zeros already";
            return;
        }
        WritePhysical(p, 0, Bytes(file_.page_size(), 0));
        Done(p, "page " + std::to_string(p) + " zeroed");
    }

    void TearPage(uint32_t p) {
        const uint32_t half = file_.page_size() / 2;
        bool first = random_.Below(2) == 0;
        // Prefer the half that still holds something, so the page really changes.
        const Bytes old = ReadPhysical(p, first ? 0 : half, half);
        if (std::all_of(old.begin(), old.end(), [](uint8_t b) { return b == 0; })) first = !first;
        WritePhysical(p, first ? 0 : half, Bytes(half, 0));
        Done(p, std::string("page ") + std::to_string(p) + ": " + (first ? "first" : "second") +
                    " half zeroed");
    }

    void RandomBytes(uint32_t p) {
        const size_t length = 1 + random_.Below(64);
        const size_t offset = random_.Below(file_.page_size() - length + 1);
        Bytes bytes = ReadPhysical(p, offset, length);
        Garble(bytes, 0, length);
        WritePhysical(p, offset, bytes);
        Done(p, std::to_string(length) + " random byte(s) at offset " + std::to_string(offset) +
                    " of page " + std::to_string(p));
    }

    void WrongRowCount(const SurveyedTable& t) {
        Bytes page = file_.ReadPage(t.page);
        const size_t at = RowCountOffset(file_.version());
        const uint32_t old_count = U32(page, at);
        uint32_t count = old_count;
        while (count == old_count) {
            switch (random_.Below(3)) {
                case 0:
                    count = old_count + 1 + static_cast<uint32_t>(random_.Below(1000));
                    break;
                case 1:
                    count = old_count > 0 ? static_cast<uint32_t>(random_.Below(old_count)) : 7;
                    break;
                default:
                    count = static_cast<uint32_t>(random_.Next());
            }
        }
        PutU32(page, at, count);
        file_.WritePage(t.page, page);
        Done(t.page, "row count of '" + t.def.name + "' changed from " + std::to_string(old_count) +
                         " to " + std::to_string(count));
    }

    // The owned-pages map of a table, or the global map (page 1, row 0).
    bool BreakUsageMap(uint32_t target) {
        uint32_t pointer = RowPointer{1, 0}.Packed();
        std::string name = "the global usage map";
        const SurveyedTable* t = target == 1 ? nullptr : s_.table(target);
        if (target != 1) {
            if (t == nullptr) return false;
            pointer = t->def.owned_map;
            name = "the usage map of '" + t->def.name + "'";
        }
        const RowPointer at = RowPointer::FromPacked(pointer);
        const uint64_t variant = random_.Below(t != nullptr ? 3 : 2);
        if (variant == 2) {
            // The definition's pointer to the map sent to a page past the end of the file.
            Bytes page = file_.ReadPage(t->page);
            const uint32_t bad =
                ((file_.page_count() + 1 + static_cast<uint32_t>(random_.Below(1000))) << 8) |
                at.row;
            PutU32(page, OwnedMapOffset(file_.version()), bad);
            file_.WritePage(t->page, page);
            Done(t->page, name + ": its pointer sent to " + Hex(bad));
            return true;
        }
        if (at.page == 0 || at.page >= file_.page_count()) return false;
        Bytes page = file_.ReadPage(at.page);
        size_t start = 0, end = 0;
        try {
            const DataPage data(page, file_.version());
            if (at.row >= data.row_count()) return false;
            start = data.row_start(at.row);
            end = data.row_end(at.row);
        } catch (const JetError&) {
            return false;
        }
        if (end <= start || end > page.size()) return false;
        if (variant == 0) {
            Garble(page, start, end - start);
            // A garbage type byte that happens to be valid would leave a plausible map; keep
            // the damage visible by making the start page (type 0) or the references (type 1)
            // point past the end of the file.
            if (page[start] == 0 && end - start >= 5) {
                PutU32(page, start + 1,
                       file_.page_count() + 8 * static_cast<uint32_t>(1 + random_.Below(1000)));
            } else if (page[start] == 1 && end - start >= 5) {
                PutU32(page, start + 1,
                       file_.page_count() + static_cast<uint32_t>(random_.Below(1000)));
            }
            file_.WritePage(at.page, page);
            Done(at.page,
                 name + ": its row on page " + std::to_string(at.page) + " filled with garbage");
        } else {
            page[start] = static_cast<uint8_t>(2 + random_.Below(254));
            file_.WritePage(at.page, page);
            Done(at.page, name + ": unknown map type " + std::to_string(page[start]));
        }
        return true;
    }

    void BreakIndexPage(uint32_t p) {
        Bytes page = file_.ReadPage(p);
        if (random_.Below(2) == 0) {
            // The header: links, prefix length, the entry bitmap.
            const size_t length = 4 + random_.Below(60);
            const size_t offset = 2 + random_.Below(0xF0 - length);
            Garble(page, offset, length);
            Done(p, "index page " + std::to_string(p) + ": header bytes " + std::to_string(offset) +
                        ".." + std::to_string(offset + length) + " garbled");
        } else {
            const size_t first = file_.version() == Version::kJet3 ? 0xF8 : 0x1E0;
            const size_t length = 8 + random_.Below(256);
            const size_t offset = first + random_.Below(page.size() - first - length);
            Garble(page, offset, length);
            Done(p, "index page " + std::to_string(p) + ": entry bytes " + std::to_string(offset) +
                        ".." + std::to_string(offset + length) + " garbled");
        }
        file_.WritePage(p, page);
    }

    // Breaks the link into a piece of an out-of-row long value on LVAL page `lval_page`.
    bool BreakMemoChain(uint32_t lval_page) {
        struct Link {
            const OutOfRowValue* value;
            size_t piece;  // the piece the broken link leads to
        };
        std::vector<Link> links;
        for (const OutOfRowValue& v : s_.out_of_row_values())
            for (size_t i = 0; i < v.pieces.size(); ++i)
                if ((v.pieces[i] >> 8) == lval_page) links.push_back({&v, i});
        if (links.empty()) return false;
        const Link& link = random_.Pick(links);
        const OutOfRowValue& v = *link.value;
        // Where the pointer is: the previous piece's first 4 bytes, or the row's header.
        uint32_t page_number = v.header_page;
        size_t offset = v.header_pointer_offset;
        std::string where = "the long-value header of a row on page " + std::to_string(page_number);
        Bytes page;
        if (link.piece > 0) {
            const RowPointer previous = RowPointer::FromPacked(v.pieces[link.piece - 1]);
            page_number = previous.page;
            page = file_.ReadPage(page_number);
            offset = DataPage(page, file_.version()).row_start(previous.row);
            where = "the next pointer of piece " + std::to_string(link.piece - 1) + " (page " +
                    std::to_string(page_number) + ")";
        } else {
            page = file_.ReadPage(page_number);
        }
        const uint32_t target = v.pieces[link.piece];
        uint32_t bad = 0;
        std::string how;
        switch (random_.Below(v.chained ? 4 : 3)) {
            case 0:
                bad = ((file_.page_count() + static_cast<uint32_t>(random_.Below(5000))) << 8) |
                      (target & 0xFF);
                how = "past the end of the file";
                break;
            case 1: {
                const RowPointer t = RowPointer::FromPacked(target);
                const Bytes lval = file_.ReadPage(t.page);
                const uint16_t rows = DataPage(lval, file_.version()).row_count();
                bad = (t.page << 8) | static_cast<uint32_t>(std::min<uint16_t>(rows, 255));
                how = "a row that does not exist";
                break;
            }
            case 2:
                bad = static_cast<uint32_t>(random_.Below(2)) << 8;  // page 0 or 1: not LVAL
                how = "a page that holds no long values";
                break;
            default:
                // A chain that leads back into itself (or ends at once when the value's
                // first piece is the target).
                bad = link.piece > 0 ? v.pieces[link.piece - 1] : 0;
                how = link.piece > 0 ? "itself (a loop)" : "nothing";
        }
        PutU32(page, offset, bad);
        file_.WritePage(page_number, page);
        Done(page_number, "memo chain into page " + std::to_string(lval_page) +
                              " broken: " + where + " leads to " + how);
        return true;
    }

    void Truncate(uint32_t p) {
        const uint32_t n = file_.page_count();
        uint64_t size = uint64_t{p} * file_.page_size();
        const bool partial = random_.Below(2) == 0;
        if (partial) size += 1 + random_.Below(file_.page_size() - 1);
        try {
            file_.file().Truncate(size);
        } catch (const OsError& e) {
            RaiseOsError(e, file_.path());
        }
        for (uint32_t q = p; q < n; ++q) result_.pages.push_back(q);
        result_.applied = true;
        result_.what = "file cut to " + std::to_string(size) + " bytes (pages " +
                       std::to_string(p) + ".." + std::to_string(n - 1) + " lost)";
    }

    void HeaderGarbage() {
        Bytes page = ReadEncodedPage0();
        const Version v = file_.version();
        ApplyHeaderMask(page, v);
        struct Range {
            size_t begin, end;
        };
        std::vector<Range> ranges = {{0x18, 0x30}, {0x30, 0x38}, {0x39, 0x3A}};
        if (v == Version::kJet4) {
            ranges.push_back({0x7A, 0x98});
            ranges.push_back({0x98, 0xA0});
            ranges.push_back({0xA0, CommitWordsOffset(v)});
        } else {
            ranges.push_back({0x58, CommitWordsOffset(v)});
        }
        const size_t count = 1 + random_.Below(3);
        std::string what = "page 0: garbage at";
        for (size_t k = 0; k < count; ++k) {
            const Range& r = random_.Pick(ranges);
            const size_t span = r.end - r.begin;
            const size_t length = 1 + random_.Below(std::min<size_t>(span, 32));
            const size_t offset = r.begin + random_.Below(span - length + 1);
            Garble(page, offset, length);
            what += " " + Hex(offset) + "+" + std::to_string(length);
        }
        ApplyHeaderMask(page, v);
        WriteRaw(file_, 0, page);
        Done(0, what);
    }

    void InconsistentState() {
        Bytes page = ReadEncodedPage0();
        const size_t at = CommitWordsOffset(file_.version());
        // Entries 0 and 1 hold many values in files Access closed cleanly (docs/format.md
        // 2.4): the marks of users left writing are in the others.
        const size_t entries = 1 + random_.Below(8);
        std::string what = "page 0: commit words of";
        for (size_t k = 0; k < entries; ++k) {
            const size_t entry = kFirstUserCommitWord + random_.Below(256 - kFirstUserCommitWord);
            page[at + 2 * entry] = static_cast<uint8_t>(1 + random_.Below(255));
            page[at + 2 * entry + 1] = static_cast<uint8_t>(2 + random_.Below(254));
            what += " " + std::to_string(entry);
        }
        WriteRaw(file_, 0, page);
        Done(0, what + " marked as writing");
    }

  private:
    // Random bytes over [offset, offset + length), at least one of them different from before.
    void Garble(Bytes& bytes, size_t offset, size_t length) {
        bool changed = false;
        for (size_t i = offset; i < offset + length; ++i) {
            const uint8_t b = random_.Byte();
            changed |= b != bytes[i];
            bytes[i] = b;
        }
        if (!changed) bytes[offset] = static_cast<uint8_t>(~bytes[offset]);
    }

    // Bytes as stored on disk (no page encryption), for physical damage.
    Bytes ReadPhysical(uint32_t page, size_t offset, size_t length) {
        Bytes bytes(length);
        try {
            file_.file().ReadAt(uint64_t{page} * file_.page_size() + offset, bytes.data(), length);
        } catch (const OsError& e) {
            RaiseOsError(e, file_.path());
        }
        return bytes;
    }
    void WritePhysical(uint32_t page, size_t offset, const Bytes& bytes) {
        WriteRaw(file_, uint64_t{page} * file_.page_size() + offset, bytes);
    }

    Bytes ReadEncodedPage0() {
        Bytes page(file_.page_size());
        size_t got = 0;
        try {
            got = file_.file().ReadAt(0, page.data(), page.size());
        } catch (const OsError& e) {
            RaiseOsError(e, file_.path());
        }
        if (got != page.size()) file_.Corrupt("page 0 is cut short");
        return page;
    }

    void Done(uint32_t page, const std::string& what) {
        result_.applied = true;
        result_.pages.push_back(page);
        result_.what = what;
    }

    Survey& s_;
    MdbFile& file_;
    Random& random_;
    DamageResult& result_;
};

}  // namespace

const char* DamageKindName(DamageKind kind) {
    return kKindNames.at(static_cast<size_t>(kind));
}

std::optional<DamageKind> ParseDamageKind(std::string_view name) {
    for (size_t i = 0; i < kKindNames.size(); ++i)
        if (name == kKindNames[i]) return static_cast<DamageKind>(i);
    return std::nullopt;
}

const std::vector<DamageKind>& AllDamageKinds() {
    static const std::vector<DamageKind> kinds = [] {
        std::vector<DamageKind> all;
        for (size_t i = 0; i < kKindNames.size(); ++i) all.push_back(static_cast<DamageKind>(i));
        return all;
    }();
    return kinds;
}

std::vector<uint32_t> DamageTargets(Env* env, const std::string& path, DamageKind kind,
                                    const std::string& password) {
    Survey survey(env, path, password, false);
    return Targets(survey, kind);
}

DamageResult InjectDamage(Env* env, const std::string& path, DamageKind kind,
                          const DamageOptions& options) {
    Survey survey(env, path, options.password, true);
    Random random(options.seed * 0x100000001B3ull + static_cast<uint64_t>(kind));
    DamageResult result;
    const std::vector<uint32_t> targets = Targets(survey, kind);
    uint32_t target = 0;
    if (options.page) {
        target = *options.page;
        if (std::find(targets.begin(), targets.end(), target) == targets.end()) {
            // Page-level damage may hit any page of the file; the others need their target.
            const bool any_page = kind == DamageKind::kZeroedPage ||
                                  kind == DamageKind::kTornPage || kind == DamageKind::kRandomBytes;
            if (!any_page || target >= survey.page_count()) {
                result.what = std::string("page ") + std::to_string(target) +
                              " is not a target of " + DamageKindName(kind);
                return result;
            }
        }
    } else {
        if (targets.empty()) {
            result.what = std::string("no target for ") + DamageKindName(kind) + " in this file";
            return result;
        }
        target = random.Pick(targets);
    }

    Injector inject(survey, random, result);
    switch (kind) {
        case DamageKind::kZeroedPage:
            inject.ZeroPage(target);
            break;
        case DamageKind::kTornPage:
            inject.TearPage(target);
            break;
        case DamageKind::kRandomBytes:
            inject.RandomBytes(target);
            break;
        case DamageKind::kWrongRowCount:
            inject.WrongRowCount(*survey.table(target));
            break;
        case DamageKind::kBrokenUsageMap:
            if (!inject.BreakUsageMap(target)) result.what = "the map could not be located";
            break;
        case DamageKind::kBrokenIndexPage:
            inject.BreakIndexPage(target);
            break;
        case DamageKind::kBrokenMemoChain:
            if (!inject.BreakMemoChain(target)) result.what = "no long value to break there";
            break;
        case DamageKind::kTruncatedFile:
            inject.Truncate(target);
            break;
        case DamageKind::kHeaderGarbage:
            inject.HeaderGarbage();
            break;
        case DamageKind::kInconsistentState:
            inject.InconsistentState();
            break;
    }
    try {
        survey.file().file().Sync();
    } catch (const OsError& e) {
        RaiseOsError(e, path);
    }
    std::sort(result.pages.begin(), result.pages.end());
    result.pages.erase(std::unique(result.pages.begin(), result.pages.end()), result.pages.end());
    return result;
}

}  // namespace jet
