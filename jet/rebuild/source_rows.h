// The rows of a source's tables as a rebuild takes them: table after table, each row once, in
// the source's order. Read ahead on a thread of its own, the source is decoded (its pages read,
// its rows and long values taken apart) while the caller's thread encodes and writes the rows
// already read, and while it finishes a table (sorting and writing its indexes) the next
// table is read. Without that thread each table is read when it is asked for, as the source
// itself does it.
//
// Read ahead, rows cross in batches of at most kBatchRows rows or kBatchBytes bytes of values
// (one row larger than that makes a batch alone), and at most kBatches batches exist, so the
// memory it takes stays a few megabytes whatever the tables hold. Every callback is made on the
// caller's thread. What the reading thread throws is rethrown to the caller where the rows
// stop; when the caller stops taking rows (it throws, or is done early), the reading thread is
// stopped and joined before the SourceRows is gone, so nothing reads the source after it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "jet/rebuild/database_source.h"

namespace jet {

class SourceRows {
  public:
    static constexpr size_t kBatchRows = 256;
    static constexpr size_t kBatchBytes = 1u << 20;
    static constexpr size_t kBatches = 5;

    // Work on each row of table `table` before it is handed over, on the reading thread when
    // there is one: it may touch only what the caller leaves alone until that table's rows are
    // all taken.
    using Prepare = std::function<void(size_t table, Row& row)>;
    // Called before the rows of table `table` are read, on the thread that reads them.
    using BeginTable = std::function<void(size_t table)>;

    // `read_ahead`: read on a thread of its own. REQUIRES then: the source's file system allows
    // threads (Env::AllowsThreads), and nothing else reads the source until this is gone.
    SourceRows(DatabaseSource& source, bool read_ahead, Prepare prepare = {},
               BeginTable begin_table = {});
    ~SourceRows();
    SourceRows(const SourceRows&) = delete;
    SourceRows& operator=(const SourceRows&) = delete;

    // As DatabaseSource::ReadRows. REQUIRES: called for the tables 0, 1, ... in turn.
    void ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done);
    // The same, each row with its stored form (DatabaseSource::stored_row; null when the source
    // offers none).
    using StoredRowVisitor = std::function<void(Row& row, const StoredRow* stored)>;
    void ReadRows(size_t index, const StoredRowVisitor& visit, const PagesDone& pages_done);

  private:
    struct Batch {
        std::vector<Row> rows;          // the first `used` are this batch's; the rest keep buffers
        std::vector<StoredRow> stored;  // beside `rows`, when the source offers them
        size_t used = 0;
        size_t bytes = 0;
        uint32_t pages = 0;       // source pages done while it filled
        bool ends_table = false;  // the last batch of its table
    };
    struct Stop {};  // unwinds the reading thread when the caller is gone

    void Read();               // the reading thread
    Batch TakeFree();          // reading thread: an empty batch, once one is free
    void Hand(Batch&& batch);  // reading thread: a filled batch to the caller
    Batch TakeFilled();        // caller: the next filled batch; rethrows the reader's failure

    DatabaseSource& source_;
    Prepare prepare_;
    BeginTable begin_table_;
    size_t next_table_ = 0;  // the caller's
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Batch> free_;
    std::deque<Batch> filled_;
    bool stopping_ = false;       // the caller is gone
    bool reader_done_ = false;    // every table read, or failed
    std::exception_ptr failure_;  // what the reading thread threw
    std::thread reader_;
};

}  // namespace jet
