#include "jet/rebuild/source_rows.h"

#include <stdexcept>
#include <system_error>
#include <utility>

namespace jet {
namespace {

// About what a row's values take in memory: their own size, text and binary data included.
size_t RowBytes(const Row& row) {
    size_t bytes = row.size() * sizeof(Value);
    for (const Value& v : row) {
        if (const auto* text = std::get_if<std::u16string>(&v)) bytes += text->size() * 2;
        if (const auto* binary = std::get_if<Bytes>(&v)) bytes += binary->size();
    }
    return bytes;
}

}  // namespace

SourceRows::SourceRows(DatabaseSource& source, bool read_ahead, Prepare prepare,
                       BeginTable begin_table)
    : source_(source), prepare_(std::move(prepare)), begin_table_(std::move(begin_table)) {
    if (!read_ahead) return;
    free_.resize(kBatches);
    try {
        reader_ = std::thread([this] { Read(); });
    } catch (const std::system_error&) {
        free_.clear();  // no thread to be had: each table is read when asked for
    }
}

SourceRows::~SourceRows() {
    if (!reader_.joinable()) return;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    reader_.join();
}

void SourceRows::Read() {
    Batch batch;
    bool filling = false;  // `batch` is this thread's, rows not yet handed
    try {
        const size_t tables = source_.tables().size();
        for (size_t i = 0; i < tables; ++i) {
            batch = TakeFree();
            filling = true;
            if (begin_table_) begin_table_(i);
            source_.ReadRows(
                i,
                [&](Row& row) {
                    if (prepare_) prepare_(i, row);
                    if (batch.used == batch.rows.size()) {
                        batch.rows.emplace_back();
                        batch.stored.emplace_back();
                    }
                    Row& slot = batch.rows[batch.used];
                    StoredRow& stored = batch.stored[batch.used++];
                    // The source keeps the buffers of a row already taken for its next one.
                    std::swap(slot, row);
                    batch.bytes += RowBytes(slot);
                    if (StoredRow* from = source_.stored_row(); from != nullptr && from->copy) {
                        std::swap(stored, *from);
                        batch.bytes += stored.memory();
                    } else {
                        stored.copy = false;
                    }
                    if (batch.used < kBatchRows && batch.bytes < kBatchBytes) return;
                    filling = false;
                    Hand(std::move(batch));
                    batch = TakeFree();
                    filling = true;
                },
                [&](uint32_t pages) { batch.pages += pages; });
            batch.ends_table = true;
            filling = false;
            Hand(std::move(batch));
        }
    } catch (const Stop&) {
    } catch (...) {
        // The rows read before the failure are taken first, as they would be without a thread.
        const std::lock_guard<std::mutex> hold(lock_);
        if (filling && batch.used > 0) filled_.push_back(std::move(batch));
        failure_ = std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> hold(lock_);
        reader_done_ = true;
    }
    changed_.notify_all();
}

SourceRows::Batch SourceRows::TakeFree() {
    std::unique_lock<std::mutex> hold(lock_);
    // A reading thread that ran out of batches waits for two: it then fills them one after the
    // other, and wakes half as often. Each wake, on two cores, may take the caller's core from
    // it while the other idles.
    if (free_.empty()) changed_.wait(hold, [this] { return stopping_ || free_.size() >= 2; });
    if (stopping_) throw Stop{};
    Batch batch = std::move(free_.back());
    free_.pop_back();
    batch.used = 0;
    batch.bytes = 0;
    batch.pages = 0;
    batch.ends_table = false;
    return batch;
}

void SourceRows::Hand(Batch&& batch) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        filled_.push_back(std::move(batch));
    }
    changed_.notify_all();
}

SourceRows::Batch SourceRows::TakeFilled() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return !filled_.empty() || reader_done_; });
    if (filled_.empty()) {
        if (failure_) std::rethrow_exception(failure_);
        throw std::logic_error("SourceRows: a table asked for past the source's last");
    }
    Batch batch = std::move(filled_.front());
    filled_.pop_front();
    return batch;
}

void SourceRows::ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done) {
    ReadRows(
        index, [&visit](Row& row, const StoredRow*) { visit(row); }, pages_done);
}

void SourceRows::ReadRows(size_t index, const StoredRowVisitor& visit,
                          const PagesDone& pages_done) {
    if (!reader_.joinable()) {
        if (begin_table_) begin_table_(index);
        source_.ReadRows(
            index,
            [&](Row& row) {
                if (prepare_) prepare_(index, row);
                const StoredRow* stored = source_.stored_row();
                visit(row, stored != nullptr && stored->copy ? stored : nullptr);
            },
            pages_done);
        return;
    }
    if (index != next_table_++) throw std::logic_error("SourceRows: tables asked for out of turn");
    for (;;) {
        Batch batch = TakeFilled();
        for (size_t r = 0; r < batch.used; ++r) {
            visit(batch.rows[r], batch.stored[r].copy ? &batch.stored[r] : nullptr);
            batch.stored[r].Trim();
        }
        if (pages_done && batch.pages > 0) pages_done(batch.pages);
        const bool last = batch.ends_table;
        bool wake = false;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            free_.push_back(std::move(batch));
            wake = free_.size() >= 2;
        }
        if (wake) changed_.notify_all();
        if (last) return;
    }
}

}  // namespace jet
