#include "jet/database/database.h"

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/format/row_codec.h"
#include "jet/update/column_assignment.h"
#include "jet/update/row_update.h"
#include "jet/update/update_statement.h"

namespace jet {
namespace {

// Changed pages are kept in memory between checking and writing up to this much; beyond it
// they are rebuilt for the writing pass.
constexpr size_t kPlanMemoryLimit = size_t{64} << 20;

// The rows an UPDATE touches, grouped by page: the table's data rows, and the LVAL rows of
// Memo values that go out of the rows.
struct UpdatePlan {
    std::map<uint32_t, std::vector<uint16_t>> data_rows;
    std::map<uint32_t, std::set<uint16_t>> dropped_long_values;
    int64_t row_count = 0;
};

const ColumnDef* FindColumn(const TableDef& t, const std::string& name) {
    for (const ColumnDef& c : t.columns)
        if (NamesEqual(c.name, name)) return &c;
    return nullptr;
}

// True when writing column `a` changes what column `b` reads: the same column, or (in a
// damaged definition) another one over the same fixed bytes or the same variable slot. A
// Boolean is its null-mask bit alone, which only its own number reaches.
bool SharesStorage(const ColumnDef& a, const ColumnDef& b) {
    if (a.col_num == b.col_num) return true;
    if (a.type == ColumnType::kBoolean || b.type == ColumnType::kBoolean) return false;
    if (a.fixed() != b.fixed()) return false;
    if (!a.fixed()) return a.var_index == b.var_index;
    return a.fixed_offset < b.fixed_offset + FixedSize(b) &&
           b.fixed_offset < a.fixed_offset + FixedSize(a);
}

// Refuses a column that any index covers, or whose bytes an indexed column reads: its index
// entries would go stale.
void CheckNotIndexed(const TableDef& t, const ColumnDef& c) {
    for (size_t i = 0; i < t.real_indexes.size(); ++i) {
        for (const IndexColumn& ic : t.real_indexes[i].columns) {
            const ColumnDef* indexed = nullptr;
            for (const ColumnDef& other : t.columns)
                if (other.col_num == ic.col_num) indexed = &other;
            if (ic.col_num != c.col_num && !(indexed && SharesStorage(c, *indexed))) continue;
            std::string index_name;
            for (const LogicalIndexDef& li : t.indexes)
                if (li.real_index == i) index_name = li.name;
            RaiseWithDetail(kInvalidOperation, "",
                            "(column " + c.name + " is part of index " +
                                (index_name.empty() ? std::to_string(i) : index_name) +
                                "; updating indexed columns is not supported)");
        }
    }
}

UpdatePlan PlanRows(MdbFile& file, const TableDef& t, const ColumnDef& c) {
    UpdatePlan plan;
    TableScanner scanner(file, t);
    while (scanner.Next()) {
        const RowLocation& at = scanner.data_location();
        plan.data_rows[at.page].push_back(at.row);
        ++plan.row_count;
        if (c.type != ColumnType::kMemo) continue;
        ByteSpan row = scanner.row_bytes();
        RowLayout layout = ParseRowLayout(row, file.version(), t);
        ColumnSlice field = LocateColumn(layout, row, c);
        if (!field.present || !field.not_null || field.bytes.empty()) continue;
        for (uint32_t packed : LongValueRows(file, field.bytes)) {
            RowPointer p = RowPointer::FromPacked(packed);
            plan.dropped_long_values[p.page].insert(p.row);
        }
    }
    return plan;
}

// Marks LVAL rows deleted in a page image; false when they already were.
bool DropLongValueRows(Bytes& page, const std::set<uint16_t>& rows, Version version) {
    DataPage dp(page, version);
    if (dp.owner() != kLvalOwner) Corrupt("a long value pointing outside the LVAL pages");
    bool changed = false;
    for (uint16_t r : rows) {
        if (r >= dp.row_count()) Corrupt("a long value pointing past its page's rows");
        size_t at = DataPageHeaderSize(version) + 2u * r;
        uint16_t entry = U16(page, at);
        uint16_t dropped = static_cast<uint16_t>(entry | kRowDeleted | kRowOverflow);
        if (dropped == entry) continue;
        PutU16(page, at, dropped);
        changed = true;
    }
    return changed;
}

// Holds the write gate of a database file for one statement.
class WriteGate {
  public:
    WriteGate(File& file, int wait_ms) : file_(file) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
        while (!file_.TryLock(kWriteGateOffset, 1, true)) {
            if (std::chrono::steady_clock::now() >= deadline) Raise(kCouldNotUpdateLocked);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    WriteGate(const WriteGate&) = delete;
    WriteGate& operator=(const WriteGate&) = delete;
    ~WriteGate() {
        try {
            file_.Unlock(kWriteGateOffset, 1);
        } catch (const OsError&) {
            // Closing the file releases it anyway.
        }
    }

  private:
    File& file_;
};

}  // namespace

std::unique_ptr<Database> Database::Open(Env* env, const std::string& path,
                                         const DatabaseOptions& options) {
    std::unique_ptr<Database> db(new Database(env, path));
    db->read_only_ = options.read_only;
    db->lock_wait_ms_ = options.lock_wait_ms;
    OpenOptions file_options;
    file_options.password = options.password;
    // An exclusive holder's lock is a write lock, which needs a file open for writing.
    file_options.writable = !options.read_only || options.exclusive;
    std::unique_ptr<MdbFile> file = MdbFile::Open(env, path, file_options);

    uint64_t limit = MaxFileSize(file->version());
    try {
        if (file->file().Size() >= limit) Raise(kDatabaseFull);
        if (!file->file().TryLock(kOpenGateOffset, 1, options.exclusive)) Raise(kFileInUse, path);
    } catch (const OsError& e) {
        RaiseOsError(e, path);
    }
    db->view_ = std::make_unique<DatabaseView>(std::move(file));
    if (!options.exclusive)
        db->lock_ = LockFile::Join(env, LockFilePath(path), env->HostName(), options.user);
    return db;
}

Database::~Database() {
    try {
        Close();
    } catch (...) {
    }
}

void Database::Close() {
    // The database file first, so that once the lock file is gone nobody holds the file.
    view_.reset();
    if (lock_) {
        lock_->Leave();
        lock_.reset();
    }
}

int64_t Database::Execute(const std::string& sql) {
    if (!view_) Raise(kObjectInvalid);
    UpdateStatement statement = ParseUpdateStatement(sql);
    MdbFile& file = view_->file();
    const Version version = file.version();

    TableDef table = view_->ReadTable(statement.table);  // 3078 when missing
    const CatalogEntry* entry = view_->catalog().FindTable(statement.table);
    const ColumnDef* column = nullptr;
    if (statement.column_table.empty() || NamesEqual(statement.column_table, statement.table))
        column = FindColumn(table, statement.column);
    // Jet takes every name it cannot resolve for a parameter.
    int parameters = (column == nullptr ? 1 : 0) + (statement.parameter.empty() ? 0 : 1);
    if (parameters > 0) Raise(kTooFewParameters, std::to_string(parameters));
    if (read_only_ || table.table_type == kTableSystem || (entry && entry->is_system()))
        Raise(kReadOnly);
    ColumnAssignment assignment =
        AssignLiteral(*column, statement.value, version, file.header().code_page);
    CheckNotIndexed(table, *column);

    std::optional<WriteGate> gate;
    try {
        gate.emplace(file.file(), lock_wait_ms_);
    } catch (const OsError& e) {
        RaiseOsError(e, path_);
    }
    UpdatePlan plan = PlanRows(file, table, *column);

    // Builds the new image of one page; nullopt when the page does not change.
    auto build = [&](uint32_t number, const std::vector<uint16_t>* rows,
                     const std::set<uint16_t>* dropped) -> std::optional<Bytes> {
        Bytes page = file.ReadPage(number);
        bool changed = false;
        if (rows)
            for (uint16_t r : *rows)
                changed = UpdateRowInPage(page, r, table, assignment, version) || changed;
        if (dropped) changed = DropLongValueRows(page, *dropped, version) || changed;
        if (!changed) return std::nullopt;
        return page;
    };
    auto rows_of = [&](uint32_t number) {
        auto it = plan.data_rows.find(number);
        return it == plan.data_rows.end() ? nullptr : &it->second;
    };
    auto dropped_of = [&](uint32_t number) {
        auto it = plan.dropped_long_values.find(number);
        return it == plan.dropped_long_values.end() ? nullptr : &it->second;
    };
    std::set<uint32_t> pages;
    for (const auto& entry_rows : plan.data_rows) pages.insert(entry_rows.first);
    for (const auto& entry_rows : plan.dropped_long_values) pages.insert(entry_rows.first);

    // Pass 1: build and check every page; keep the images while they fit the memory budget.
    std::vector<std::pair<uint32_t, Bytes>> images;
    size_t kept = 0;
    for (uint32_t number : pages) {
        std::optional<Bytes> page = build(number, rows_of(number), dropped_of(number));
        if (!page) continue;
        kept += page->size();
        images.emplace_back(number, kept <= kPlanMemoryLimit ? std::move(*page) : Bytes{});
    }

    // Pass 2: write each changed page whole (rebuilt when it was not kept).
    for (auto& [number, image] : images) {
        if (image.empty()) {
            std::optional<Bytes> page = build(number, rows_of(number), dropped_of(number));
            if (!page) continue;
            image = std::move(*page);
        }
        file.WritePage(number, image);
        image = Bytes{};
    }
    if (!images.empty()) {
        try {
            file.file().Sync();
        } catch (const OsError& e) {
            RaiseOsError(e, path_);
        }
    }
    return plan.row_count;
}

}  // namespace jet
