#include "jet/rebuild/database_source.h"

#include <algorithm>
#include <map>

#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/format/long_value.h"
#include "jet/format/row_codec.h"
#include "jet/format/tdef.h"
#include "jet/format/usage_map.h"
#include "jet/read/catalog.h"
#include "jet/read/table_reader.h"

namespace jet {
namespace {

// Opens the file and takes the open gate so that no one else opens the database while it is
// read. A file that cannot be opened for writing (read-only file or medium) is read under a
// shared gate lock, and then anyone already holding the gate is refused as well.
std::unique_ptr<MdbFile> OpenHeld(Env* env, const std::string& path, OpenOptions options) {
    std::unique_ptr<MdbFile> file;
    options.writable = true;
    try {
        file = MdbFile::Open(env, path, options);
    } catch (const JetError& e) {
        if (e.number() != kCannotOpenFile) throw;
        options.writable = false;
        file = MdbFile::Open(env, path, options);
    }
    try {
        const bool exclusive = file->writable();
        // Holders of a shared gate are looked for both before and after ours is taken: Windows
        // cannot look past a lock the same file holds, so there only the first look counts.
        if (!exclusive && file->file().IsLockedByOther(kOpenGateOffset, 1)) Raise(kFileInUse, path);
        if (!file->file().TryLock(kOpenGateOffset, 1, exclusive)) Raise(kFileInUse, path);
        if (!exclusive && file->file().IsLockedByOther(kOpenGateOffset, 1)) Raise(kFileInUse, path);
    } catch (const OsError& e) {
        RaiseOsError(e, path);
    }
    return file;
}

class StrictSource : public DatabaseSource {
  public:
    StrictSource(std::unique_ptr<MdbFile> file) : file_(std::move(file)) {
        const Catalog catalog = Catalog::Read(*file_);
        struct Listed {
            uint32_t id;
            std::string name;
        };
        std::map<uint32_t, Listed> by_page;  // tdef page -> the catalog's row
        for (const CatalogEntry& e : catalog.entries()) {
            if (!e.is_local_table()) continue;
            const uint32_t page = e.tdef_page();
            if (page < kCatalogPage || page >= file_->page_count())
                file_->Corrupt("the catalog places table '" + e.name + "' at page " +
                               std::to_string(page) + ", outside the file");
            auto [it, added] = by_page.emplace(page, Listed{e.id, e.name});
            if (!added)
                file_->Corrupt("tables '" + it->second.name + "' and '" + e.name +
                               "' share the definition at page " + std::to_string(page));
        }
        // MSysObjects is copied even when it does not list itself.
        by_page.emplace(kCatalogPage, Listed{kCatalogPage, "MSysObjects"});
        for (const auto& [page, listed] : by_page) {
            SourceTable t;
            t.id = listed.id;
            t.name = listed.name;
            t.def = page == kCatalogPage ? catalog.objects_table() : ReadTableDef(*file_, page);
            t.def.name = listed.name;
            const UsageMap owned = ReadUsageMap(*file_, t.def.owned_map);
            for (uint32_t p : owned.pages)
                if (p < file_->page_count()) ++t.pages;
            tables_.push_back(std::move(t));
        }
    }

    const std::string& path() const override { return file_->path(); }
    const DatabaseHeader& header() const override { return file_->header(); }
    uint32_t page_count() const override { return file_->page_count(); }
    const std::vector<SourceTable>& tables() const override { return tables_; }
    void Release() override { file_->Close(); }
    uint32_t visited_row() const override { return visited_; }
    MdbFile* index_file() override { return file_.get(); }
    void CopyRowsWhere(std::vector<std::shared_ptr<const RowCopyRule>> rules) override {
        rules_ = std::move(rules);
    }
    StoredRow* stored_row() override { return &stored_; }
    void TakeTextsAs(std::vector<std::vector<StoredTexts::Use>> uses) override {
        text_uses_ = std::move(uses);
    }
    const std::vector<StoredTexts::Text>* stored_texts() override { return given_texts_; }

    void ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done) override {
        const TableDef& def = tables_.at(index).def;
        const RowCopyRule* rule = index < rules_.size() ? rules_[index].get() : nullptr;
        if (rule != nullptr && !rule->enabled()) rule = nullptr;
        stored_.copy = false;
        // Texts as bytes only where the rule decides from them.
        StoredTexts* texts = nullptr;
        if (rule != nullptr && index < text_uses_.size() && !text_uses_[index].empty()) {
            texts_.use = text_uses_[index];
            texts = &texts_;
        }
        given_texts_ = texts ? &texts_.bytes : nullptr;
        TableScanner scanner(*file_, def);
        const std::vector<uint32_t>& pages = scanner.map_pages();
        size_t reported = 0;  // pages of `pages` reported done
        Row row;              // one for every row: its values keep their buffers
        while (scanner.Next()) {
            // Rows come in the order of the page list; pages before the row's are done.
            const uint32_t page = scanner.location().page;
            size_t at = reported;
            while (at < pages.size() && pages[at] != page) ++at;
            if (at < pages.size() && at > reported) {
                if (pages_done) pages_done(static_cast<uint32_t>(at - reported));
                reported = at;
            }
            if (rule == nullptr) {
                scanner.DecodeTo(row);
            } else {
                // Decoded as DecodeTo does it, with the long values' data kept for the rule.
                const ByteSpan bytes = scanner.row_bytes();
                ParseRowLayoutTo(bytes, file_->version(), def, layout_);
                kept_.Reset(def.columns.size());
                DecodeRowTo(*file_, def, layout_, bytes, row, long_value_, &kept_, texts);
                rule->Take(bytes, layout_, row, kept_.data, stored_, texts);
                if (texts != nullptr && !stored_.copy) DecodeStoredTexts(*file_, def, texts_, row);
            }
            visited_ = scanner.location().page << 8 | scanner.location().row;
            visit(row);
        }
        if (pages_done && pages.size() > reported)
            pages_done(static_cast<uint32_t>(pages.size() - reported));
        given_texts_ = nullptr;
    }

  private:
    // Reads long values as DecodeRowTo does without a reader, keeping each one's data.
    struct KeptLongValues final : LongValueReader {
        explicit KeptLongValues(MdbFile& source) : file(source) {}
        void Reset(size_t columns) { data.resize(columns); }
        bool Read(size_t column, ByteSpan field, Bytes& out) override {
            out = *ReadHeld(column, field, out);
            return true;
        }
        // Read where the rule takes it from: a Memo's bytes are decoded from there, uncopied.
        const Bytes* ReadHeld(size_t column, ByteSpan field, Bytes&) override {
            ReadLongValueTo(file, field, data[column]);
            return &data[column];
        }
        MdbFile& file;
        std::vector<Bytes> data;
    };

    std::unique_ptr<MdbFile> file_;
    std::vector<SourceTable> tables_;
    uint32_t visited_ = 0;
    std::vector<std::shared_ptr<const RowCopyRule>> rules_;
    StoredRow stored_;
    std::vector<std::vector<StoredTexts::Use>> text_uses_;
    StoredTexts texts_;
    const std::vector<StoredTexts::Text>* given_texts_ = nullptr;  // of the row visited
    KeptLongValues kept_{*file_};
    Bytes long_value_;
    RowLayout layout_;  // of the row read last
};

}  // namespace

std::unique_ptr<DatabaseSource> OpenStrictSource(Env* env, const std::string& path,
                                                 const OpenOptions& options) {
    return std::make_unique<StrictSource>(OpenHeld(env, path, options));
}

}  // namespace jet
