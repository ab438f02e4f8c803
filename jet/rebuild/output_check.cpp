#include "jet/rebuild/output_check.h"

#include <chrono>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "jet/base/error.h"

namespace jet {

namespace {
// How often the caller hears from WaitForTables while the checking thread catches up.
constexpr auto kWaitingReport = std::chrono::milliseconds(50);
}  // namespace

OutputCheck::OutputCheck(Env* env, DatabaseHeader header, CheckOptions options,
                         uint32_t read_ahead_pages, bool thread)
    : env_(env),
      header_(std::move(header)),
      options_(std::move(options)),
      read_ahead_pages_(read_ahead_pages) {
    if (!thread) return;
    try {
        thread_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        // No thread to be had: every step is checked as it comes.
    }
}

OutputCheck::~OutputCheck() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
    }
    posted_.notify_all();
    thread_.join();
}

void OutputCheck::TableBegun(const TableDef& def) {
    Post({Step::Kind::kBegun, def, {}, {}, 0, 0});
}

void OutputCheck::DataPagesWritten(const std::vector<uint32_t>& pages, uint32_t readable_pages) {
    Post({Step::Kind::kPages, {}, pages, {}, readable_pages, 0});
}

void OutputCheck::RowsWritten(const TableDef& def,
                              const std::vector<std::vector<uint32_t>>& long_value_pages,
                              uint32_t readable_pages) {
    Post({Step::Kind::kRows, def, {}, long_value_pages, readable_pages, 0});
}

void OutputCheck::IndexWritten(size_t number, const RealIndexDef& index, uint32_t readable_pages) {
    Step step{Step::Kind::kIndex, {}, {}, {}, readable_pages, number};
    step.def.real_indexes.push_back(index);
    Post(std::move(step));
}

void OutputCheck::TableWritten(const TableDef& def) {
    Post({Step::Kind::kWritten, def, {}, {}, 0, 0});
}

void OutputCheck::Post(Step step) {
    if (!thread_.joinable()) {
        Take(step);
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        if (failure_) return;  // the check has stopped; WaitForTables says why
        steps_.push_back(std::move(step));
    }
    posted_.notify_all();
}

void OutputCheck::Take(const Step& step) {
    if (!file_) {
        if (path_.empty()) throw std::logic_error("OutputCheck: no file attached");
        file_ = MdbFile::OpenBeingWritten(&env_, path_, header_, 0, read_ahead_pages_);
        check_ = std::make_unique<FollowingCheck>(*file_, options_);
    }
    file_->ExtendTo(step.readable_pages);
    switch (step.kind) {
        case Step::Kind::kBegun:
            check_->TableBegun(step.def);
            break;
        case Step::Kind::kPages:
            check_->DataPagesWritten(step.pages);
            break;
        case Step::Kind::kRows:
            check_->RowsWritten(step.def, step.long_value_pages);
            break;
        case Step::Kind::kIndex:
            check_->IndexWritten(step.number, step.def.real_indexes.front());
            break;
        case Step::Kind::kWritten:
            check_->TableWritten(step.def);
            break;
    }
}

void OutputCheck::Work() {
    // The reading and the writing go first: the check follows them with what CPU they leave,
    // and catches up once they are done (on two cores, three threads at one priority share
    // them alike and the reading, which the rest waits for, gets two thirds of a core).
    env_.LowerThreadPriority();
    for (;;) {
        Step step;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            posted_.wait(hold, [this] { return stop_ || closing_ || !steps_.empty(); });
            if (stop_ || steps_.empty()) break;
            step = std::move(steps_.front());
            steps_.pop_front();
        }
        try {
            Take(step);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(mutex_);
            failure_ = std::current_exception();
            steps_.clear();
            break;
        }
    }
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        finished_ = true;
    }
    posted_.notify_all();
}

void OutputCheck::WaitForTables(const std::function<void()>& waiting) {
    if (thread_.joinable()) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            closing_ = true;
        }
        posted_.notify_all();
        for (;;) {
            {
                std::unique_lock<std::mutex> hold(mutex_);
                if (posted_.wait_for(hold, kWaitingReport, [this] { return finished_; })) break;
            }
            if (waiting) waiting();
        }
        thread_.join();
    }
    file_.reset();
    // A read that failed is reported as what it is, whatever the check made of it.
    if (env_.failure()) RaiseOsError(*env_.failure(), path_);
    if (failure_) std::rethrow_exception(failure_);
}

CheckReport OutputCheck::Finish(MdbFile& complete) {
    if (file_ || thread_.joinable()) throw std::logic_error("OutputCheck: tables still checked");
    if (!check_) return CheckDatabase(complete, options_);  // no table was written
    return check_->Finish(complete);
}

}  // namespace jet
