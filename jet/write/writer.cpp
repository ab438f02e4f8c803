#include "jet/write/writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/base/path.h"
#include "jet/base/put_bytes.h"
#include "jet/keys/index_key.h"
#include "jet/write/external_sorter.h"
#include "jet/write/index_builder.h"
#include "jet/write/long_value_writer.h"
#include "jet/write/page_builder.h"
#include "jet/write/page_sink.h"
#include "jet/write/row_encoder.h"
#include "jet/write/system_tables.h"
#include "jet/write/tdef_writer.h"
#include "jet/write/usage_map_writer.h"

namespace jet {

namespace {

constexpr uint32_t kGlobalMapPage = 1;
constexpr uint32_t kFirstTdefPage = 2;
// A data page with less room than this is left out of its table's free-space map.
constexpr size_t kFreeMapThreshold = 64;

uint32_t MaxPages(Version v) {
    return static_cast<uint32_t>(MaxFileSize(v) / PageSize(v));
}

}  // namespace

// Per-table state kept until Finish.
struct DatabaseWriter::TableState {
    TableDef def;
    std::vector<uint32_t> tdef_pages;
    size_t tdef_length = 0;
    bool rows_begun = false;
    bool rows_done = false;
    std::vector<uint32_t> data_pages;
    std::vector<uint32_t> data_pages_with_room;
    // Per long-value column (in def.columns order of the Memo/OLE columns).
    std::vector<size_t> lv_columns;  // indexes into def.columns
    std::vector<std::vector<uint32_t>> lv_pages;
    std::vector<std::vector<uint32_t>> lv_pages_with_room;
    // Per real index.
    std::vector<std::vector<uint32_t>> index_pages;
    size_t written_index = 0;  // into DatabaseWriter::written_
};

struct DatabaseWriter::Impl {
    Env* env;
    std::string destination;
    WriterOptions options;
    std::unique_ptr<File> file;
    std::unique_ptr<PageSink> sink;
    std::vector<TableState> tables;
    std::map<uint32_t, size_t> by_id;
    bool finished = false;
    std::vector<uint32_t> free_pages;

    // The table whose rows are being written.
    TableState* current = nullptr;
    std::unique_ptr<RowEncoder> encoder;
    std::unique_ptr<DataPageBuilder> data_page;
    uint32_t data_page_number = 0;
    std::vector<std::unique_ptr<LongValueWriter>> lv_writers;  // per def column (null if not LV)
    std::vector<std::unique_ptr<IndexKeyEncoder>> key_encoders;
    std::vector<std::unique_ptr<ExternalSorter>> sorters;
    std::vector<bool> given_keys;  // per real index: keys come with the rows
    std::vector<size_t> autonumber_columns;
    int64_t autonumber_max = 0;
    Bytes row_bytes;
    Bytes fields;  // the long-value fields of a copied row, one after another
    Bytes key;
    uint32_t sort_runs = 0;
    // For the observer: the first page after the table definitions, and the closed data pages
    // of the current table not yet reported, each with the pages allocated when it closed
    // (its rows point only below that).
    uint32_t first_row_page = 0;
    std::vector<std::pair<uint32_t, uint32_t>> unreported;
    std::vector<uint32_t> reported;

    Version version() const { return options.version; }
    uint16_t code_page() const { return options.header.code_page; }

    void CloseDataPage() {
        if (data_page_number == 0) return;
        if (data_page->free_space() >= kFreeMapThreshold &&
            data_page->row_count() < kMaxRowsPerPage)
            current->data_pages_with_room.push_back(data_page_number);
        data_page->Seal();
        sink->Commit(data_page_number);
        if (options.observer) {
            unreported.emplace_back(data_page_number, sink->page_count());
            ReportDataPages();
        }
        data_page_number = 0;
    }

    // Tells the observer of the closed data pages whose rows can be read back.
    uint32_t ReportDataPages() {
        const uint32_t readable = sink->InFileUpTo(first_row_page);
        size_t n = 0;
        while (n < unreported.size() && unreported[n].second <= readable) ++n;
        if (n == 0) return readable;
        reported.clear();
        for (size_t i = 0; i < n; ++i) reported.push_back(unreported[i].first);
        unreported.erase(unreported.begin(), unreported.begin() + static_cast<ptrdiff_t>(n));
        options.observer->DataPagesWritten(reported, readable);
        return readable;
    }

    // Makes room for a row of `length` bytes on the table's current data page, built in the
    // sink's buffer; returns where the row goes, and its pointer in `at`.
    uint8_t* RowSpace(size_t length, uint16_t flags, uint32_t& at) {
        if (data_page_number == 0 || !data_page->Fits(length)) {
            CloseDataPage();
            data_page_number = sink->Allocate();
            data_page->Reset(current->def.tdef_page, sink->Buffer(data_page_number));
            current->data_pages.push_back(data_page_number);
        }
        if (!data_page->Fits(length)) Raise(kRecordTooLarge);
        uint8_t* space = data_page->AddSpace(length, flags);
        at = PackRowPointer(data_page_number, static_cast<uint8_t>(data_page->row_count() - 1));
        return space;
    }
    // Places an encoded row; returns its row pointer.
    uint32_t PlaceRow(const Bytes& row, uint16_t flags) {
        uint32_t at = 0;
        std::memcpy(RowSpace(row.size(), flags, at), row.data(), row.size());
        return at;
    }
};

DatabaseWriter::DatabaseWriter(Env* env, std::string destination, WriterOptions options)
    : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.env = env;
    m.destination = std::move(destination);
    m.options = std::move(options);
    m.options.header.version = m.options.version;
    if (m.options.header.raw.empty()) {
        const uint32_t key = m.options.header.encryption_key;
        m.options.header = NewDatabaseHeader(m.options.version);
        m.options.header.encryption_key = key;
    }
    if (m.options.header.raw.size() != PageSize(m.options.version))
        throw std::invalid_argument("page 0 of the wrong size for the version");
    // The output is a file nobody has open.
    CloseUserCommitWords(m.options.header.raw, m.options.version);

    try {
        if (!m.options.replace_existing && env->Stat(m.destination).exists) Raise(kDatabaseExists);
        // A name of our own beside the destination; a leftover of an earlier run is replaced.
        temporary_ =
            JoinPath(DirectoryOf(m.destination), "~" + BaseNameOf(m.destination) + ".writing");
        m.file = env->Open(temporary_, OpenMode::kCreateTruncate);
    } catch (const OsError& e) {
        if (e.code() == ENOENT || e.code() == ENOTDIR) RaiseWithDetail(kNotValidPath, e.path(), "");
        RaiseForOsError(e);
    }
    m.sink = std::make_unique<PageSink>(
        m.file.get(), temporary_, m.options.version, MaxPages(m.options.version),
        m.options.header.encryption_key, m.options.threads && env->AllowsThreads());
    m.sink->Allocate(2);  // page 0 (header) and page 1 (global usage map), written last
    m.data_page = std::make_unique<DataPageBuilder>(m.options.version);
}

DatabaseWriter::~DatabaseWriter() {
    if (impl_ && !impl_->finished) {
        impl_->sorters.clear();
        impl_->sink.reset();  // its writing thread first: it writes to the file
        impl_->file.reset();
        try {
            impl_->env->Remove(temporary_);
        } catch (...) {
            // Nothing more can be done; the destination was never touched.
        }
    }
}

uint32_t DatabaseWriter::page_count() const {
    return impl_->sink->page_count();
}

uint32_t DatabaseWriter::AddTable(TableDef def) {
    Impl& m = *impl_;
    if (m.finished) throw std::logic_error("writer already finished");
    // Tables are planned before rows are written: the current table's state must stay put.
    if (m.current) throw std::logic_error("AddTable while rows are being written");
    TableState t;
    t.def = std::move(def);
    // Size with placeholder pointers: pointers and counts have fixed sizes, so the definition
    // takes the same pages once they are filled in.
    for (size_t i = 0; i < t.def.columns.size(); ++i)
        if (t.def.columns[i].long_value()) t.lv_columns.push_back(i);
    // A stored definition lists the long-value columns' maps in an order of its own: keep it.
    std::vector<size_t> stored;
    for (const LongValueColumnMaps& lm : t.def.long_value_maps) {
        for (size_t i : t.lv_columns) {
            if (t.def.columns[i].col_num != lm.col_num) continue;
            if (std::find(stored.begin(), stored.end(), i) == stored.end()) stored.push_back(i);
            break;
        }
    }
    if (stored.size() == t.lv_columns.size() && stored.size() == t.def.long_value_maps.size())
        t.lv_columns = std::move(stored);
    t.def.long_value_maps.clear();
    for (size_t i : t.lv_columns) t.def.long_value_maps.push_back({t.def.columns[i].col_num, 0, 0});
    t.tdef_length = SerializeTableDef(t.def, m.version(), m.code_page()).size();
    uint32_t count = TdefPageCount(t.tdef_length, m.version());
    uint32_t first = m.sink->Allocate(count);
    for (uint32_t i = 0; i < count; ++i) t.tdef_pages.push_back(first + i);
    t.def.tdef_page = first;
    t.lv_pages.resize(t.lv_columns.size());
    t.lv_pages_with_room.resize(t.lv_columns.size());
    t.index_pages.resize(t.def.real_indexes.size());
    WrittenTable w;
    w.id = first;
    w.name = t.def.name;
    w.duplicate_keys.assign(t.def.real_indexes.size(), 0);
    t.written_index = written_.size();
    written_.push_back(std::move(w));
    m.by_id[first] = m.tables.size();
    m.tables.push_back(std::move(t));
    return first;
}

TableDef& DatabaseWriter::table(uint32_t id) {
    auto it = impl_->by_id.find(id);
    if (it == impl_->by_id.end()) throw std::invalid_argument("no table with that id");
    return impl_->tables[it->second].def;
}

void DatabaseWriter::BeginRows(uint32_t id, std::vector<bool> given_keys) {
    Impl& m = *impl_;
    if (m.current) throw std::logic_error("rows of another table are being written");
    auto it = m.by_id.find(id);
    if (it == m.by_id.end()) throw std::invalid_argument("no table with that id");
    TableState& t = m.tables[it->second];
    if (t.rows_begun) throw std::logic_error("rows of a table written twice");
    t.rows_begun = true;
    m.current = &t;
    if (m.first_row_page == 0) m.first_row_page = m.sink->page_count();
    if (m.options.observer) m.options.observer->TableBegun(t.def);
    m.encoder = std::make_unique<RowEncoder>(t.def, m.version(), m.code_page());
    m.lv_writers.clear();
    m.lv_writers.resize(t.def.columns.size());
    for (size_t c : t.lv_columns)
        m.lv_writers[c] = std::make_unique<LongValueWriter>(m.version(), m.sink.get());
    m.key_encoders.clear();
    m.sorters.clear();
    m.given_keys = std::move(given_keys);
    const size_t n = t.def.real_indexes.size();
    m.given_keys.resize(n, false);
    for (size_t i = 0; i < n; ++i) {
        m.key_encoders.push_back(
            std::make_unique<IndexKeyEncoder>(m.version(), t.def, t.def.real_indexes[i]));
        m.sorters.push_back(std::make_unique<ExternalSorter>(
            m.env, temporary_ + ".sort" + std::to_string(m.sort_runs++) + ".",
            m.options.sort_memory / std::max<size_t>(n, 1)));
    }
    m.autonumber_columns.clear();
    for (size_t i = 0; i < t.def.columns.size(); ++i) {
        const ColumnDef& c = t.def.columns[i];
        if (c.type == ColumnType::kLong && (c.flags & kColumnAutoNumber))
            m.autonumber_columns.push_back(i);
    }
    m.autonumber_max = 0;
}

uint32_t DatabaseWriter::AddRow(const Row& row, const std::vector<std::optional<ByteSpan>>& keys,
                                const StoredRow* stored) {
    Impl& m = *impl_;
    if (!m.current) throw std::logic_error("AddRow outside BeginRows/EndRows");
    const TableState& t = *m.current;
    uint32_t at = 0;
    if (stored != nullptr && stored->copy) {
        // As Encode does it: the long values stored in column order, then the row placed; the
        // row's bytes go straight onto the page, with the long values' fields put in.
        constexpr size_t kField = kLongValueHeaderSize;
        const size_t n = stored->long_value_count;
        m.fields.resize(n * kField);
        for (size_t i = 0; i < n; ++i) {
            const StoredRow::LongValue& v = stored->long_values[i];
            LongValueWriter* writer = m.lv_writers.at(v.column).get();
            if (writer == nullptr) throw std::logic_error("a stored long value of no column");
            if (v.offset + kField > stored->bytes.size())
                throw std::logic_error("a long-value field outside its row");
            writer->StoreTo(v.data.data(), v.data.size(), &m.fields[i * kField]);
        }
        const Bytes& bytes = stored->bytes;
        uint8_t* to = m.RowSpace(bytes.size(), 0, at);
        std::memcpy(to, bytes.data(), bytes.size());
        for (size_t i = 0; i < n; ++i)
            std::memcpy(to + stored->long_values[i].offset, &m.fields[i * kField], kField);
    } else {
        m.encoder->Encode(
            row,
            [&m](size_t column, const Bytes& data) { return m.lv_writers[column]->Store(data); },
            m.row_bytes);
        at = m.PlaceRow(m.row_bytes, 0);
    }
    for (size_t i = 0; i < m.key_encoders.size(); ++i) {
        if (m.given_keys[i]) {
            if (i >= keys.size()) throw std::invalid_argument("no key given for an index");
            if (keys[i]) m.sorters[i]->Add(keys[i]->data(), keys[i]->size(), at);
            continue;
        }
        if (!m.key_encoders[i]->Includes(row)) continue;
        m.key.clear();
        m.key_encoders[i]->EncodeTo(row, m.key);
        m.sorters[i]->Add(m.key, at);
    }
    for (size_t c : m.autonumber_columns)
        if (auto* v = std::get_if<int64_t>(&row[c]))
            m.autonumber_max = std::max(m.autonumber_max, *v);
    ++written_[t.written_index].rows;
    return at;
}

void DatabaseWriter::AddDeletedRow(const Row& row) {
    Impl& m = *impl_;
    if (!m.current) throw std::logic_error("AddDeletedRow outside BeginRows/EndRows");
    m.encoder->Encode(row, nullptr, m.row_bytes);
    m.PlaceRow(m.row_bytes, kRowDeleted | kRowOverflow);
    ++written_[m.current->written_index].deleted_rows;
}

void DatabaseWriter::EndRows() {
    Impl& m = *impl_;
    if (!m.current) throw std::logic_error("EndRows without BeginRows");
    TableState& t = *m.current;
    WrittenTable& w = written_[t.written_index];
    m.CloseDataPage();
    for (size_t k = 0; k < t.lv_columns.size(); ++k) {
        LongValueWriter& lv = *m.lv_writers[t.lv_columns[k]];
        lv.Finish();
        t.lv_pages[k] = lv.pages();
        t.lv_pages_with_room[k] = lv.pages_with_room();
        w.long_value_pages += static_cast<uint32_t>(lv.pages().size());
    }
    m.lv_writers.clear();
    w.data_pages = static_cast<uint32_t>(t.data_pages.size());
    t.def.row_count = w.rows;
    if (m.autonumber_max > 0 && static_cast<uint64_t>(m.autonumber_max) > t.def.autonumber)
        t.def.autonumber = static_cast<uint32_t>(m.autonumber_max);
    if (m.options.observer) {
        m.sink->Flush();
        const uint32_t readable = m.ReportDataPages();
        if (!m.unreported.empty()) {  // a page short of the file: the observer finds it so
            m.reported.clear();
            for (const auto& entry : m.unreported) m.reported.push_back(entry.first);
            m.unreported.clear();
            m.options.observer->DataPagesWritten(m.reported, readable);
        }
        m.options.observer->RowsWritten(t.def, t.lv_pages, readable);
    }

    SortAhead ahead(m.sorters, m.options.threads);
    for (size_t i = 0; i < m.sorters.size(); ++i) {
        ahead.Ready(i);
        RealIndexDef& r = t.def.real_indexes[i];
        const bool unique = (r.flags & kIndexUnique) != 0;
        IndexBuilder builder(m.version(), m.sink.get(), t.def.tdef_page);
        uint32_t entries = 0, distinct = 0, duplicates = 0;
        Bytes previous;
        bool have_previous = false;
        m.sorters[i]->Drain([&](const uint8_t* key, size_t size, uint32_t at) {
            builder.Add(key, size, at);
            ++entries;
            const bool same = have_previous && previous.size() == size &&
                              std::equal(previous.begin(), previous.end(), key);
            if (!same) {
                ++distinct;
                previous.assign(key, key + size);
                have_previous = true;
            } else if (unique) {
                if (!IsAllNullKey(key, size)) ++duplicates;
            }
        });
        r.root_page = builder.Finish();
        r.entry_count = entries;
        r.unique_count = distinct;
        t.index_pages[i] = builder.pages();
        w.index_pages += static_cast<uint32_t>(builder.pages().size());
        w.duplicate_keys[i] = duplicates;
        if (m.options.observer) {
            m.sink->Flush();
            m.options.observer->IndexWritten(i, r, m.sink->InFileUpTo(m.first_row_page));
        }
    }
    m.sorters.clear();
    m.key_encoders.clear();
    t.rows_done = true;
    if (m.options.observer) m.options.observer->TableWritten(t.def);
    m.current = nullptr;
    m.encoder.reset();
}

void DatabaseWriter::AddFreePages(uint32_t count, const Bytes& stale) {
    Impl& m = *impl_;
    if (count == 0) return;
    const uint32_t ps = m.sink->page_size();
    if (!stale.empty() && stale.size() != ps) throw std::invalid_argument("stale page size");
    uint32_t first = m.sink->Allocate(count);
    for (uint32_t i = 0; i < count; ++i) {
        m.sink->Write(first + i, stale.empty() ? Bytes(ps, 0) : stale);
        m.free_pages.push_back(first + i);
    }
}

void DatabaseWriter::Finish() {
    Impl& m = *impl_;
    if (m.finished) throw std::logic_error("writer already finished");
    if (m.current) throw std::logic_error("Finish while rows are being written");
    const Version v = m.version();
    const uint32_t ps = m.sink->page_size();
    for (auto& t : m.tables) {
        if (t.rows_done) continue;
        BeginRows(t.def.tdef_page);
        EndRows();
    }

    // Usage maps: build every row first (reference maps allocate their bitmap pages), then pack
    // the rows onto usage-map pages, a table's owned and free maps side by side.
    const size_t bitmap = UsageMapBitmapBytes(v);
    auto allocate = [&m]() { return m.sink->Allocate(); };
    std::vector<std::pair<uint32_t, Bytes>> extra_pages;  // bitmap pages of reference maps
    auto build = [&](const std::vector<uint32_t>& pages) {
        UsageMapImage image = BuildUsageMap(pages, v, bitmap, allocate);
        for (size_t i = 0; i < image.bitmap_pages.size(); ++i)
            extra_pages.emplace_back(image.bitmap_pages[i], std::move(image.bitmap_page_images[i]));
        return std::move(image.row);
    };
    struct TableMaps {
        Bytes owned, free;
        std::vector<Bytes> indexes;
        std::vector<Bytes> lv_owned, lv_free;
    };
    std::vector<TableMaps> maps(m.tables.size());
    for (size_t i = 0; i < m.tables.size(); ++i) {
        TableState& t = m.tables[i];
        maps[i].owned = build(t.data_pages);
        maps[i].free = build(t.data_pages_with_room);
        for (const auto& pages : t.index_pages) maps[i].indexes.push_back(build(pages));
        for (size_t k = 0; k < t.lv_columns.size(); ++k) {
            maps[i].lv_owned.push_back(build(t.lv_pages[k]));
            maps[i].lv_free.push_back(build(t.lv_pages_with_room[k]));
        }
    }
    DataPageBuilder map_page(v);
    uint32_t map_page_number = 0;
    auto close_map_page = [&]() {
        if (map_page_number != 0) m.sink->Write(map_page_number, map_page.page());
        map_page_number = 0;
    };
    auto place = [&](const Bytes& row, size_t also_needed) {
        if (map_page_number == 0 || !map_page.Fits(row.size() + also_needed)) {
            close_map_page();
            map_page_number = m.sink->Allocate();
            map_page.Reset(0);
        }
        return PackRowPointer(map_page_number, map_page.Add(row));
    };
    for (size_t i = 0; i < m.tables.size(); ++i) {
        TableState& t = m.tables[i];
        TableMaps& tm = maps[i];
        size_t all = tm.owned.size() + tm.free.size() + 4;
        for (const auto& r : tm.indexes) all += r.size() + 2;
        for (size_t k = 0; k < tm.lv_owned.size(); ++k)
            all += tm.lv_owned[k].size() + tm.lv_free[k].size() + 4;
        // Start a fresh page when the table's maps would fit one but not the current page.
        if (map_page_number != 0 && !map_page.Fits(all) && all <= map_page.max_row_size() + 2) {
            close_map_page();
        }
        t.def.owned_map = place(tm.owned, tm.free.size() + 2);
        t.def.free_map = place(tm.free, 0);
        for (size_t k = 0; k < tm.indexes.size(); ++k)
            t.def.real_indexes[k].usage_map = place(tm.indexes[k], 0);
        for (size_t k = 0; k < t.lv_columns.size(); ++k) {
            LongValueColumnMaps& lm = t.def.long_value_maps[k];
            lm.col_num = t.def.columns[t.lv_columns[k]].col_num;
            lm.owned_map = place(tm.lv_owned[k], tm.lv_free[k].size() + 2);
            lm.free_map = place(tm.lv_free[k], 0);
        }
    }
    close_map_page();
    for (auto& [page, image] : extra_pages) m.sink->Write(page, std::move(image));

    // Table definitions, into the pages planned for them.
    for (auto& t : m.tables) {
        Bytes logical = SerializeTableDef(t.def, v, m.code_page());
        if (TdefPageCount(logical.size(), v) != t.tdef_pages.size())
            throw std::logic_error("table definition changed size after it was planned");
        std::vector<Bytes> pages = BuildTdefPages(logical, t.tdef_pages, v);
        for (size_t i = 0; i < pages.size(); ++i)
            m.sink->Write(t.tdef_pages[i], std::move(pages[i]));
    }

    // Global usage map (page 1, row 0): bit set = page free. Inline while the bitmap fits the
    // page beside its companion row, as Access grows it; a reference map beyond.
    std::sort(m.free_pages.begin(), m.free_pages.end());
    const size_t min_bitmap = bitmap;
    const size_t room = ps - DataPageHeaderSize(v) - 4;  // two rows and their offsets
    size_t inline_bytes = 0;
    {
        uint32_t pages = m.sink->page_count();
        size_t need = (pages + 7) / 8;
        if (v == Version::kJet3) {
            if (need <= min_bitmap) inline_bytes = min_bitmap;
        } else {
            size_t b = std::max(min_bitmap, (need + 3) / 4 * 4);
            if (2 * (5 + b) <= room) inline_bytes = b;
        }
    }
    DataPageBuilder global(v);
    global.Reset(1);
    if (inline_bytes > 0) {
        const uint32_t pages = m.sink->page_count();
        std::vector<uint32_t> set = m.free_pages;
        for (uint32_t p = pages; p < inline_bytes * 8; ++p) set.push_back(p);
        global.Add(InlineUsageMap(0, inline_bytes, set));
        global.Add(InlineUsageMap(0, inline_bytes, {}));
    } else {
        // Bitmap pages are part of the file, so they are counted before the bits are set.
        const uint32_t per = PagesPerBitmapPage(v);
        uint32_t needed = (m.sink->page_count() + per - 1) / per;
        while ((m.sink->page_count() + needed + per - 1) / per > needed) ++needed;
        std::vector<uint32_t> reserved;
        uint32_t first = m.sink->Allocate(needed);
        for (uint32_t i = 0; i < needed; ++i) reserved.push_back(first + i);
        size_t next = 0;
        const uint32_t end = m.sink->page_count();
        const size_t entries = (bitmap + 4) / 4;
        const uint32_t cover = static_cast<uint32_t>(
            std::min<uint64_t>(static_cast<uint64_t>(needed) * per, UINT32_MAX));
        // Every range of the file gets its bitmap page, so the map covers the whole file.
        UsageMapImage image = ReferenceUsageMap(
            m.free_pages, end, cover, v, entries,
            [&]() {
                if (next >= reserved.size()) throw std::logic_error("global map pages");
                return reserved[next++];
            },
            needed);
        if (next != reserved.size()) throw std::logic_error("global map pages left unused");
        for (size_t i = 0; i < image.bitmap_pages.size(); ++i)
            m.sink->Write(image.bitmap_pages[i], std::move(image.bitmap_page_images[i]));
        global.Add(image.row);
        global.Add(InlineUsageMap(0, min_bitmap, {}));
    }
    m.sink->Write(kGlobalMapPage, global.page());
    m.sink->Write(0, EncodeHeader(m.options.header));

    m.sink->Finish(!m.options.defer_sync);
    m.file.reset();
    try {
        if (!m.options.replace_existing && m.env->Stat(m.destination).exists)
            Raise(kDatabaseExists);
        m.env->Rename(temporary_, m.destination);
        m.finished = true;
        if (!m.options.defer_sync) m.env->SyncDirectory(DirectoryOf(m.destination));
    } catch (const OsError& e) {
        RaiseForOsError(e);
    }
}

}  // namespace jet
