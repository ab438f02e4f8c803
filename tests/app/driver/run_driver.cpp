// run_driver: one maintenance run with nobody at the window, for the crash sweep
// (tests/crash_sweep.sh). Built with the tests only.
//
//   run_driver PROGRAM_FOLDER DATABASE
//
// Builds the form on a window with no toolkit (tests/app/memory_window.h), so it needs no
// display, over the real file services and the real clock, with PROGRAM_FOLDER as the program's
// folder; chooses DATABASE through the file dialog, clicks "Iniciar Processo" and answers OK to
// every box (each box's text goes to standard output, one line each). Exit status: 0 when the run
// reached its success exit, 3 when it ended the program elsewhere (class 3 or 4, Cancel), 1 when it
// returned through the failure exit.
//
// For the kill sweep (tests/kill_sweep.sh), every file operation of the run (opens, reads,
// writes, truncations, syncs, renames, removals; numbered from 1) can be watched:
//   RUN_DRIVER_TRACE=FILE    appends one line per operation to FILE: "<n> <kind> <path>";
//                            for a write to the run's log, the line written follows a tab
//   RUN_DRIVER_KILL_AT=N     the process kills itself with SIGKILL just before operation N
//   RUN_DRIVER_FAIL=TEXT     the first write to a path containing TEXT fails with ENOSPC (a
//                            run that fails after the move, so that it restores the backup)
//   RUN_DRIVER_FULL=1        until the first box, the database reports Jet's maximum size
//                            (class 2: compacted, not repaired)
// With none of them set it only counts, and lets the engine work on two threads as it does
// over the real file system (the benchmarks time the run so); with any of them, the operations
// come one at a time, in one order.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "app/form1.h"
#include "app/tools/tool_services.h"
#include "jet/format/schema.h"
#include "jet/testing/observed_env.h"
#include "platform/heap.h"
#include "tests/app/memory_window.h"

namespace {

// Counts, traces, kills at and fails the run's file operations as the environment asks.
class WatchEnv final : public jet::ObservedEnv {
  public:
    explicit WatchEnv(jet::Env* target) : ObservedEnv(target) {
        if (const char* t = std::getenv("RUN_DRIVER_TRACE")) trace_.open(t, std::ios::app);
        if (const char* k = std::getenv("RUN_DRIVER_KILL_AT"))
            kill_at_ = std::strtoull(k, nullptr, 10);
        if (const char* f = std::getenv("RUN_DRIVER_FAIL")) fail_ = f;
        const char* full = std::getenv("RUN_DRIVER_FULL");
        full_ = full && std::string(full) == "1";
        watching_ = trace_.is_open() || kill_at_ != 0 || !fail_.empty() || full_;
    }
    bool AllowsThreads() const override { return !watching_ && target()->AllowsThreads(); }
    std::string database;  // the path whose size is reported full
    // At the maximum size of either version.
    static inline const uint64_t kFull = jet::MaxFileSize(jet::Version::kJet4);
    bool full_ = false;  // cleared by the first box

    void Tick(const char* kind, const std::string& path, const void* data = nullptr, size_t n = 0) {
        ++count_;
        if (count_ == kill_at_) {
            trace_.flush();
            std::raise(SIGKILL);
        }
        if (trace_.is_open()) {
            trace_ << count_ << ' ' << kind << ' ' << path;
            if (data && path.find("/Log") != std::string::npos)
                trace_ << '\t' << std::string(static_cast<const char*>(data), n);
            trace_ << '\n' << std::flush;  // the program ends with _Exit
        }
        if (std::string(kind) == "write" && !fail_.empty() &&
            path.find(fail_) != std::string::npos) {
            fail_.clear();
            throw jet::OsError(ENOSPC, kind, path);
        }
    }

    jet::FileStatus Stat(const std::string& path) override {
        jet::FileStatus s = EnvWrapper::Stat(path);
        if (full_ && path == database) s.size = kFull;
        return s;
    }

  private:
    void Before(const Operation& o) override {
        switch (o.op) {
            case Op::kRename:
                Tick("rename", o.path + " " + o.to);
                break;
            case Op::kSyncDirectory:
                Tick("syncdir", o.path);
                break;
            default:
                Tick(Name(o.op), o.path, o.data, o.size);
        }
    }
    uint64_t SizeOf(const std::string& path, uint64_t real) override {
        return full_ && path == database ? kFull : real;
    }

    std::ofstream trace_;
    bool watching_ = false;
    std::atomic<uint64_t> count_{0};
    uint64_t kill_at_ = 0;
    std::string fail_;
};

class AnswerOk final : public platform::MessageBox {
  public:
    platform::MsgBoxResult Show(const std::string& prompt, platform::MsgBoxButtons,
                                const std::string&) override {
        last = prompt;
        if (env) env->full_ = false;
        std::cout << prompt << std::endl;
        return platform::vbOK;
    }
    std::string last;
    WatchEnv* env = nullptr;  // its full size ends with the first box
};

// Ends the process at once, as the program does, telling the success exit from the others by
// the last box shown.
class EndProcess final : public platform::ProgramEnd {
  public:
    explicit EndProcess(const AnswerOk& boxes) : boxes_(boxes) {}
    void EndNow() override {
        std::fflush(nullptr);
        std::_Exit(boxes_.last == "Processo Concluido." ? 0 : 3);
    }

  private:
    const AnswerOk& boxes_;
};

}  // namespace

int main(int argc, char** argv) {
    platform::ShareHeapArenas();  // as the program does
    if (argc != 3) {
        std::cerr << "usage: run_driver PROGRAM_FOLDER DATABASE\n";
        return 2;
    }
    platform::SystemClock clock;
    WatchEnv env(jet::Env::Default());
    env.database = argv[2];
    AnswerOk boxes;
    boxes.env = &env;
    tools::ChooseFile dialog(argv[2]);
    EndProcess program_end(boxes);

    platform::Services services =
        platform::MakeServices(argv[1], clock, boxes, dialog, program_end);
    services.path_style = platform::PathStyle::Posix();
    services.env = &env;

    Form1 form(services, std::make_unique<apptest::MemoryWindow>());
    form.Show();
    form.Command2->Click();
    form.Command1->Click();
    return 1;  // the run came back: the failure exit
}
