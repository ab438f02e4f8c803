// The check of a rebuild's output while it is written: the writer tells what is in the file
// (WriteObserver) and the strict checker follows it (FollowingCheck), so each table's rows and
// indexes are read back and checked while the next table is written, on a thread of its own
// when one can be had. What is written last (page 0, the maps, the definitions, the catalog)
// is checked once the file is complete, by Finish.
//
// On its thread, the check runs behind the writer: the writer hands over page numbers only,
// never waits, and the checking thread reads those pages back from the file. Without it every
// step is checked at once, on the writer's thread. A failure of the checking thread (a read of
// the file that fails, memory) stops it, and is raised by WaitForTables.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jet/format/mdb_file.h"
#include "jet/read/checker.h"
#include "jet/rebuild/watched_env.h"
#include "jet/write/writer.h"

namespace jet {

class OutputCheck final : public WriteObserver {
  public:
    // `options.on_row` is called on the checking thread. `thread`: check on a thread of its
    // own (REQUIRES then: `env` allows threads).
    OutputCheck(Env* env, DatabaseHeader header, CheckOptions options, uint32_t read_ahead_pages,
                bool thread);
    // Stops and joins the checking thread, if it still runs.
    ~OutputCheck() override;
    OutputCheck(const OutputCheck&) = delete;
    OutputCheck& operator=(const OutputCheck&) = delete;

    // The file the writer writes. REQUIRES: before its first table.
    void Attach(const std::string& path) { path_ = path; }

    void TableBegun(const TableDef& def) override;
    void DataPagesWritten(const std::vector<uint32_t>& pages, uint32_t readable_pages) override;
    void RowsWritten(const TableDef& def,
                     const std::vector<std::vector<uint32_t>>& long_value_pages,
                     uint32_t readable_pages) override;
    void IndexWritten(size_t number, const RealIndexDef& index, uint32_t readable_pages) override;
    void TableWritten(const TableDef& def) override;

    // Waits until every table written is checked, calling `waiting` now and then meanwhile,
    // then lets go of the file (the writer may rename it). Raises what stopped the check: a
    // failure of the file system as the Jet error it stands for.
    void WaitForTables(const std::function<void()>& waiting);
    // The whole check, once the file is complete. REQUIRES: WaitForTables.
    CheckReport Finish(MdbFile& complete);

  private:
    struct Step {
        enum class Kind { kBegun, kPages, kRows, kIndex, kWritten } kind;
        TableDef def;  // kIndex: the index alone, in def.real_indexes
        std::vector<uint32_t> pages;
        std::vector<std::vector<uint32_t>> long_value_pages;
        uint32_t readable_pages = 0;
        size_t number = 0;  // kIndex
    };
    void Post(Step step);
    void Take(const Step& step);  // on the checking thread, or at once without one
    void Work();                  // the checking thread

    WatchedEnv env_;
    DatabaseHeader header_;
    CheckOptions options_;
    uint32_t read_ahead_pages_;
    std::string path_;
    std::unique_ptr<MdbFile> file_;  // the file being written
    std::unique_ptr<FollowingCheck> check_;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Step> steps_;
    bool closing_ = false;   // no more steps: finish those posted
    bool stop_ = false;      // leave at once
    bool finished_ = false;  // the checking thread is done
    std::exception_ptr failure_;
};

}  // namespace jet
