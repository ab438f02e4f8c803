// A rebuild (rebuild.h), in five steps.
//
//   1. page 0 is the source's (RebuiltHeader), with the page key the options ask for
//      (PageEncoding, header.h);
//   2. every table of the source is added to the writer in source order, so its new id (its
//      new TDEF page) is known before any row is written; the foreign keys of the definitions
//      are mapped to the new ids (id_remap.h);
//   3. the rows of each table stream from the source to the writer, with the object ids in
//      them mapped, and each row is digested (content_checksum.h) as it is written (where the
//      file system allows threads, the source is read, mapped and digested on a thread of its
//      own, a few batches ahead of the writing, source_rows.h); the writer
//      resolves long values and builds every index from the rows, row counts and AutoNumber
//      seeds with them; an index on text of a sort order the engine has no tables for gets
//      each row's key from the source's own entry for that row (carried_keys.h), and a source
//      whose keys cannot all be carried fails the rebuild, or with general_when_not_carried
//      is written again in General order;
//   4. the output is checked while it is written (output_check.h): the writer says which of its
//      pages are in the file, and the strict checker (not even a notice; it reads the pages
//      decoded) reads each table's data pages, long values and indexes back behind it, on a
//      thread of its own where the file system allows threads, digesting every row it finds;
//      the writer then finishes into a temporary file beside the destination, synced (on a
//      second thread, while the last checks run, where there is one; and where there is, the
//      file is sent to the disk a part at a time while it is written, early_sync.h, so that
//      this sync has little left to wait for), which is re-opened for
//      what is written last: its page 0 must hold the page key asked for, the catalog, table
//      definitions and usage maps must check clean and agree with what the rows were checked
//      by, every page must have one use, and every table must hold exactly the rows written
//      (row count and digest);
//   5. only then is the temporary file renamed to the destination and the folder synced.
#include "jet/rebuild/rebuild.h"

#include <atomic>
#include <chrono>
#include <future>
#include <new>
#include <sstream>
#include <system_error>
#include <unordered_map>

#include "jet/base/error.h"
#include "jet/base/path.h"
#include "jet/format/mdb_file.h"
#include "jet/format/text_codec.h"
#include "jet/read/content_checksum.h"
#include "jet/rebuild/carried_keys.h"
#include "jet/rebuild/early_sync.h"
#include "jet/rebuild/id_remap.h"
#include "jet/rebuild/output_check.h"
#include "jet/rebuild/source_rows.h"
#include "jet/rebuild/watched_env.h"
#include "jet/write/page_sink.h"
#include "jet/write/writer.h"

namespace jet {
namespace {

// The findings of a failed check, shortened for an error text.
std::string FirstFindings(const CheckReport& report, size_t limit) {
    std::ostringstream out;
    out << report.errors << " error(s)";
    for (size_t i = 0; i < report.findings.size() && i < limit; ++i) {
        const Finding& f = report.findings[i];
        if (f.severity != Severity::kError) continue;
        out << "; [" << FindingKindName(f.kind) << "]";
        if (!f.table.empty()) out << " table '" << f.table << "'";
        if (f.page != 0) out << " page " << f.page;
        out << ": " << f.what;
    }
    return out.str();
}

// Removes a file when the rebuild fails before it is put in place.
class TemporaryFile {
  public:
    TemporaryFile(Env* env, std::string path) : env_(env), path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!armed_) return;
        try {
            if (env_->Stat(path_).exists) env_->Remove(path_);
        } catch (...) {
            // Nothing more can be done: the destination itself was never touched.
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    void Release() { armed_ = false; }
    const std::string& path() const { return path_; }

  private:
    Env* env_;
    std::string path_;
    bool armed_ = true;
};

class Rebuild {
  public:
    // `general`: the output in General sort order, every text key computed.
    Rebuild(Env* env, DatabaseSource& source, const std::string& destination,
            const RebuildOptions& options, bool general)
        : env_(env),
          source_(source),
          destination_(destination),
          options_(options),
          general_(general),
          temporary_(env, JoinPath(DirectoryOf(destination),
                                   "~" + BaseNameOf(destination) + ".rebuilding")) {}

    void Run(RebuildReport& report);

  private:
    [[noreturn]] void NotVerified(const std::string& detail) const {
        RaiseWithDetail(kUnrecognizedFormat, source_.path(),
                        "The rebuilt copy did not verify: " + detail);
    }
    void Progress(RebuildProgress::Stage stage, uint64_t done) {
        if (!options_.progress) return;
        RebuildProgress p;
        p.stage = stage;
        p.done = done;
        p.total = written_pages_total_ + output_pages_;
        options_.progress(p);
    }
    void Write(RebuildReport& report);
    void StartCheck(const DatabaseHeader& header);
    void WriteTables(DatabaseWriter& writer, RebuildReport& report);
    // The checks of what was written last, once the file is complete, and of the rows found
    // against the rows written.
    void Verify(RebuildReport& report);
    // Verify, with the output synced on a second thread meanwhile; the sync's failure is raised
    // once the checks are done.
    void VerifyWhileSyncing(RebuildReport& report);

    Env* env_;
    DatabaseSource& source_;
    const std::string& destination_;
    const RebuildOptions& options_;
    const bool general_;
    std::unique_ptr<KeyCarrier> carrier_;  // null: every key computed
    TemporaryFile temporary_;
    IdRemap remap_;
    std::vector<uint32_t> new_ids_;         // per source table
    std::vector<ContentChecksum> written_;  // per source table: the rows given to the writer
    // The check of the output as it is written: the rows it finds, per source table, and the
    // first table in the output that was not written.
    std::unique_ptr<OutputCheck> check_;
    std::unique_ptr<EarlySync> early_sync_;  // between the writer and check_
    std::unordered_map<uint32_t, size_t> by_new_id_;
    std::vector<ContentChecksum> found_;
    // The code page in which both digests take texts as bytes: a Jet 3 file's, where the output
    // keeps it and it maps every byte back (0: none).
    uint16_t digest_code_page_ = 0;
    std::string stray_;
    std::atomic<uint64_t> rows_checked_{0};
    uint64_t written_pages_total_ = 0;  // source data pages (the writing stage)
    uint64_t output_pages_ = 0;         // output pages (the verifying stage)
};

void Rebuild::Write(RebuildReport& report) {
    const std::vector<SourceTable>& tables = source_.tables();
    for (const SourceTable& t : tables) written_pages_total_ += t.pages;
    output_pages_ = written_pages_total_;  // a guess until the output exists

    WriterOptions wo;
    wo.version = source_.version();
    wo.header = RebuiltHeader(source_.header(), options_.encoding);
    if (general_) InGeneralOrder(wo.header);
    if (wo.version == Version::kJet3 && wo.header.code_page == source_.header().code_page &&
        CodePageMapsEveryByteBack(wo.header.code_page))
        digest_code_page_ = wo.header.code_page;
    carrier_ = std::make_unique<KeyCarrier>(source_);
    if (general_ || !carrier_->active()) carrier_.reset();
    wo.sort_memory = options_.sort_memory;
    wo.replace_existing = true;        // a leftover of an earlier, killed rebuild
    wo.defer_sync = options_.threads;  // Run syncs it while it verifies
    wo.threads = options_.threads;
    StartCheck(wo.header);
    early_sync_ =
        std::make_unique<EarlySync>(env_, check_.get(), PageSize(wo.version), options_.threads);
    wo.observer = early_sync_.get();
    DatabaseWriter writer(env_, temporary_.path(), wo);
    check_->Attach(writer.temporary_path());
    early_sync_->Attach(writer.temporary_path());
    try {
        WriteTables(writer, report);
    } catch (...) {
        early_sync_.reset();  // no one holds the file once it is gone
        check_.reset();
        throw;
    }
    report.pages_after = writer.page_count();
    output_pages_ = report.pages_after;
}

void Rebuild::StartCheck(const DatabaseHeader& header) {
    CheckOptions check;
    check.strict = true;
    check.max_findings = 20;
    // Called on the checking thread: what it touches is left alone by the writing one until
    // the check is done.
    check.text_bytes_code_page = digest_code_page_;
    check.on_row = [this](const TableDef& t, const Row& row,
                          const std::vector<StoredTexts::Text>* texts) {
        auto it = by_new_id_.find(t.tdef_page);
        if (it == by_new_id_.end()) {
            if (stray_.empty()) stray_ = t.name;
            return;
        }
        found_[it->second].Add(row, texts);
        rows_checked_.fetch_add(1, std::memory_order_relaxed);
    };
    if (carrier_) {
        check.expected_key = [this](const TableDef& t, size_t k, uint32_t at, Bytes& key) {
            return carrier_->ExpectedKey(t, k, at, key);
        };
    }
    found_.assign(source_.tables().size(), ContentChecksum(digest_code_page_));
    check_ = std::make_unique<OutputCheck>(env_, header, std::move(check),
                                           options_.read_ahead_pages, options_.threads);
}

void Rebuild::WriteTables(DatabaseWriter& writer, RebuildReport& report) {
    const std::vector<SourceTable>& tables = source_.tables();

    // Every table first, so that every new id is known before any row is written.
    std::vector<std::shared_ptr<const RowCopyRule>> copy_rules;
    for (const SourceTable& t : tables) {
        TableDef def = t.def;
        def.name = t.name;
        if (general_) InGeneralOrder(def, source_.version());
        copy_rules.push_back(std::make_shared<const RowCopyRule>(def, source_.version(),
                                                                 source_.header().code_page));
        const uint32_t id = writer.AddTable(std::move(def));
        by_new_id_.emplace(id, new_ids_.size());
        new_ids_.push_back(id);
        remap_.Add(t.id, id);
        report.tables.push_back({t.name, t.id, id, 0, 0});
    }
    for (size_t i = 0; i < tables.size(); ++i) {
        std::string index;
        if (!RemapForeignKeys(writer.table(new_ids_[i]), remap_, &index))
            RaiseWithDetail(kUnrecognizedFormat, source_.path(),
                            "Index '" + index + "' of table '" + tables[i].name +
                                "' relates it to a table that does not exist.");
    }

    // Each row's object ids are mapped and the row digested as it is read (on the reading
    // thread, when there is one), then written.
    written_.assign(tables.size(), ContentChecksum(digest_code_page_));
    // Rows laid out as the writer would lay them out are copied (row_copy.h): the rule of each
    // definition as written, applied by the source to the bytes it reads. Written in General
    // order, every row is encoded.
    if (!general_) source_.CopyRowsWhere(std::move(copy_rules));
    std::vector<RowIdRewriter> rewriters;
    for (const SourceTable& t : tables) rewriters.emplace_back(t.def, remap_);
    // Texts the digest takes as bytes; left undecoded only in rows that nothing changes.
    std::vector<std::vector<StoredTexts::Use>> text_uses;
    for (size_t i = 0; i < tables.size(); ++i)
        text_uses.push_back(DigestTextUses(tables[i].def, digest_code_page_,
                                           source_.header().code_page,
                                           rewriters[i].active() || carrier_ != nullptr));
    source_.TakeTextsAs(std::move(text_uses));
    std::vector<uint32_t> ids_rewritten(tables.size());
    KeyCarrier* carrier = carrier_.get();
    SourceRows rows(
        source_, options_.threads,
        [&](size_t i, Row& row) {
            Row read;  // as the source held it, where its ids change under carried keys
            bool changed = false;
            if (rewriters[i].active()) {
                if (carrier) read = row;
                const size_t n = rewriters[i].Rewrite(row);
                ids_rewritten[i] += static_cast<uint32_t>(n);
                changed = n > 0;
                // A row whose ids changed is no longer the row stored.
                if (StoredRow* stored = source_.stored_row(); changed && stored != nullptr)
                    stored->copy = false;
            }
            written_[i].Add(row, source_.stored_texts());
            if (carrier) carrier->Attach(i, row, changed ? &read : nullptr);
        },
        [carrier](size_t i) {
            if (carrier) carrier->BeginTable(i);
        });
    uint64_t pages_done = 0;
    for (size_t i = 0; i < tables.size(); ++i) {
        RebuiltTable& out = report.tables[i];
        if (!carrier) {
            writer.BeginRows(new_ids_[i]);
        } else {
            writer.BeginRows(new_ids_[i], carrier->GivenKeys(i));
        }
        rows.ReadRows(
            i,
            [&](Row& row, const StoredRow* stored) {
                if (!carrier) {
                    writer.AddRow(row, {}, stored);
                    return;
                }
                const auto& keys = carrier->Detach(i, row);
                carrier->Written(i, new_ids_[i], writer.AddRow(row, keys, stored));
            },
            [&](uint32_t pages) {
                pages_done += pages;
                Progress(RebuildProgress::Stage::kWriting, pages_done);
            });
        writer.EndRows();
        if (carrier) carrier->TableWritten(i);
        out.ids_rewritten = ids_rewritten[i];
        out.rows = written_[i].rows();
        report.rows += out.rows;
    }

    // A unique index that would hold a key twice: the source broke its own index.
    for (size_t i = 0; i < tables.size(); ++i) {
        const WrittenTable& w = writer.written().at(i);
        for (size_t k = 0; k < w.duplicate_keys.size(); ++k) {
            if (w.duplicate_keys[k] == 0) continue;
            std::string names;
            for (const LogicalIndexDef& l : tables[i].def.indexes)
                if (l.real_index == k) names += (names.empty() ? "'" : ", '") + l.name + "'";
            RaiseWithDetail(kUnrecognizedFormat, source_.path(),
                            "Table '" + tables[i].name + "' holds " +
                                std::to_string(w.duplicate_keys[k]) +
                                " duplicate key(s) in its unique index " + names + ".");
        }
    }
    // The writer renames the file when it finishes: the check lets go of it first.
    check_->WaitForTables([&] {
        if (report.rows == 0) return;
        const uint64_t checked = std::min<uint64_t>(rows_checked_.load(), report.rows);
        Progress(RebuildProgress::Stage::kVerifying,
                 written_pages_total_ + output_pages_ * checked / report.rows);
    });
    try {
        early_sync_->LetGo();
    } catch (const OsError& e) {
        RaiseForOsError(e);  // as the writer's own sync would
    }
    writer.Finish();
}

void Rebuild::Verify(RebuildReport& report) {
    const std::vector<SourceTable>& tables = source_.tables();
    OpenOptions open;
    open.password = options_.password;
    open.read_ahead_pages = options_.read_ahead_pages;  // our own new file
    WatchedEnv watched(env_);
    std::unique_ptr<MdbFile> file = MdbFile::Open(&watched, temporary_.path(), open);
    const uint32_t key = EncryptionKeyFor(source_.header(), options_.encoding);
    if (file->header().encryption_key != key)
        NotVerified("its page 0 holds the page key " +
                    std::to_string(file->header().encryption_key) + " instead of " +
                    std::to_string(key) + ".");
    const CheckReport checked = check_->Finish(*file);
    file.reset();
    if (watched.failure()) RaiseOsError(*watched.failure(), temporary_.path());
    report.check = checked.stats;
    if (!checked.clean()) NotVerified("the checker found " + FirstFindings(checked, 5));
    if (!stray_.empty()) NotVerified("table '" + stray_ + "' was never written.");
    for (size_t i = 0; i < tables.size(); ++i) {
        if (found_[i] == written_[i]) continue;
        NotVerified("table '" + tables[i].name + "' was written with " + written_[i].ToString() +
                    " but holds " + found_[i].ToString() + ".");
    }
    Progress(RebuildProgress::Stage::kVerifying, written_pages_total_ + output_pages_);
}

void Rebuild::VerifyWhileSyncing(RebuildReport& report) {
    const auto sync = [this] { env_->Open(temporary_.path(), OpenMode::kReadWrite)->Sync(); };
    std::future<void> synced;
    try {
        synced = std::async(std::launch::async, sync);
    } catch (const std::system_error&) {
        synced = std::async(std::launch::deferred, sync);  // no thread to be had
    }
    Verify(report);  // leaving early, `synced` waits for the sync before the file goes
    try {
        synced.get();
    } catch (const OsError& e) {
        RaiseForOsError(e);  // as the writer's own sync would
    }
}

void Rebuild::Run(RebuildReport& report) {
    if (!options_.replace_existing && env_->Stat(destination_).exists) Raise(kDatabaseExists);
    report.pages_before = source_.page_count();
    Write(report);
    if (options_.threads) {
        VerifyWhileSyncing(report);
    } else {
        Verify(report);
    }
    // Nothing may have appeared at the destination meanwhile.
    if (!options_.replace_existing && env_->Stat(destination_).exists) Raise(kDatabaseExists);
    // Windows renames nothing over an open file, a repair's own source included: the source
    // lets go first. Whoever opens the file in between makes the rename fail and keeps the
    // original. Elsewhere the source stays held, so no writer slips in before the copy lands.
    if (kOpenFilesBlockReplacement) source_.Release();
    env_->Rename(temporary_.path(), destination_);
    temporary_.Release();
    try {
        env_->SyncDirectory(DirectoryOf(destination_));
    } catch (...) {
        // Replacing a file (a repair): the rename consumed the original, so a failure reported
        // now would claim an original that is gone. Whichever entry the folder keeps after a
        // crash, the old file or the new, is a whole database: the failure is absorbed.
        if (options_.replace_existing) return;
        // The rename may not last: report the failure with no destination, as for any other.
        try {
            env_->Remove(destination_);
        } catch (...) {
        }
        throw;
    }
}

}  // namespace

DatabaseHeader RebuiltHeader(const DatabaseHeader& source, PageEncoding encoding) {
    DatabaseHeader h = source;
    h.encryption_key = EncryptionKeyFor(source, encoding);
    if (h.raw.size() == PageSize(h.version)) CloseUserCommitWords(h.raw, h.version);
    return h;
}

OpenOptions OpenOptionsFor(const RewriteOptions& options) {
    OpenOptions open;
    open.password = options.password;
    open.read_ahead_pages = options.read_ahead_pages;
    return open;
}

RebuildOptions RebuildOptionsFor(const RewriteOptions& options) {
    RebuildOptions rebuild;
    rebuild.password = options.password;
    rebuild.sort_memory = options.sort_memory;
    rebuild.read_ahead_pages = options.read_ahead_pages;
    if (options.progress) {
        rebuild.progress = [progress = options.progress](const RebuildProgress& p) {
            progress(p.done, p.total);
        };
    }
    return rebuild;
}

void RebuildDatabase(Env* env, DatabaseSource& source, const std::string& destination,
                     const RebuildOptions& options, RebuildReport* report) {
    const auto start = std::chrono::steady_clock::now();
    RebuildReport local;
    RebuildReport& r = report ? *report : local;
    r = RebuildReport{};
    try {
        try {
            Rebuild(env, source, destination, options, false).Run(r);
        } catch (const CarryFailure& e) {
            if (!options.general_when_not_carried)
                RaiseWithDetail(kUnrecognizedFormat, source.path(),
                                std::string(e.what()) + "; the database needs a repair.");
            // Written anew in the order whose keys we can compute, as Access does when it
            // compacts a database under another sort order.
            r = RebuildReport{};
            Rebuild(env, source, destination, options, true).Run(r);
            r.sort_order_replaced = ForeignSortOrder(source);
        }
    } catch (const JetError&) {
        throw;
    } catch (const OsError& e) {
        RaiseOsError(e, e.path());
    } catch (const std::bad_alloc&) {
        Raise(kSystemResourceExceeded);
    } catch (const std::exception& e) {
        RaiseWithDetail(kUnrecognizedFormat, source.path(), e.what());
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace jet
