// The fault sweep: every file operation of a successful run, the engine's own reads and
// writes included, fails in turn with ENOSPC, EACCES and EIO. After each trial the database's
// place holds the original's content (the failure exits and the program's early ends) or the
// compacted database's (a run the fault did not stop), and the log's last line is the one the
// way out writes.
//
// The unit suite runs a strided subset (about kStridedTrials operations spread over the run,
// the error rotating). The whole sweep runs with COMPACTADOR_FULL_FAULT_SWEEP=1:
//   COMPACTADOR_FULL_FAULT_SWEEP=1 build/tests/app/form_tests
//       --gtest_filter='*RunFaultSweep*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "db/o_que_fazer.h"
#include "jet/testing/fault_env.h"
#include "tests/app/run_scenario.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kStridedTrials = 20;

// Records the path of every operation that a FaultInjectingEnv standing over it counts, in
// the same order, so a trial knows what its failed operation touched.
class RecordingEnv final : public jet::ObservedEnv {
  public:
    explicit RecordingEnv(jet::Env* target) : ObservedEnv(target) {}
    std::vector<std::string> paths;  // index n - 1: operation n

  private:
    void Before(const Operation& o) override {
        paths.push_back(o.op == Op::kRename ? o.to : o.path);
    }
};

// One run over: window -> sizes seam -> fault injector -> recorder -> the real file system.
struct Trial {
    Trial(const std::string& file, jet::Version version, ClasseBanco classe)
        : recorder(jet::Env::Default()), faults(&recorder), sizes(&faults), c(&sizes) {
        EXPECT_TRUE(c.PutDatabase(file));
        if (classe == kClasseSoCompactar) c.LooksFullUntilTheWarning(sizes, version);
    }
    RecordingEnv recorder;
    jet::FaultInjectingEnv faults;
    PathFaultEnv sizes;
    Cenario c;
};

// The last message the window shows in its log box.
std::string LastOnScreen(Form1& f) {
    std::string text = f.TxtLog->Text();
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
        text.resize(text.size() - 2);
    size_t start = text.rfind("\r\n");
    std::string line = start == std::string::npos ? text : text.substr(start + 2);
    return line.size() >= 24 ? line.substr(24) : line;
}

const char* ErrnoName(int code) {
    return code == ENOSPC ? "ENOSPC" : code == EACCES ? "EACCES" : "EIO";
}

class RunFaultSweep : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunFaultSweep, EveryFailingOperationLeavesTheDatabaseWholeAndTheRightLastLine) {
    const RunCase sweep = GetParam();
    const bool full = std::getenv("COMPACTADOR_FULL_FAULT_SWEEP") != nullptr;

    // The run without a fault: how many operations, what each touches, what it leaves.
    uint64_t total = 0;
    std::vector<std::string> touched;  // paths in the counting run's own folder
    std::string log_of_counted_run;
    std::string original, compacted;
    {
        Trial t(sweep.file, sweep.version, sweep.classe);
        original = ReadString(t.c.base);
        t.c.Run();
        ASSERT_EQ(t.c.h.end.ends, 1);
        ASSERT_EQ(t.c.Boxes().back(), "Processo Concluido.");
        total = t.faults.operations();
        touched = t.recorder.paths;
        log_of_counted_run = t.c.log;
        ASSERT_EQ(touched.size(), total) << "the recorder sees what the injector counts";
        compacted = ReadString(t.c.base);
        if (testkit::HaveMdbTools()) {
            ASSERT_EQ(testkit::MdbExportDump(t.c.base), testkit::MdbExportDump(t.c.copia));
        }
    }
    ASSERT_GT(total, 50u);

    int trials = 0, successes = 0, failure_exits = 0, early_ends = 0;
    const uint64_t stride = full ? 1 : std::max<uint64_t>(1, total / kStridedTrials);
    for (uint64_t n = 1; n <= total; n += stride) {
        std::vector<int> codes{ENOSPC, EACCES, EIO};
        if (!full) codes = {codes[(n / stride) % 3]};
        for (int code : codes) {
            SCOPED_TRACE("operation " + std::to_string(n) + " of " + std::to_string(total) + " (" +
                         touched[n - 1] + ") fails with " + ErrnoName(code));
            Trial t(sweep.file, sweep.version, sweep.classe);
            t.faults.FailAt(n, code);
            t.c.Run();
            ++trials;
            ASSERT_TRUE(t.faults.fired());

            const Lines boxes = t.c.Boxes();
            ASSERT_FALSE(boxes.empty());
            for (const std::string& box : boxes)
                ASSERT_EQ(box.rfind("Erro em tempo de execução", 0), std::string::npos) << box;

            // The way out, the content it leaves in the database's place, its last line.
            std::string expected_last;
            const std::string now = fs::exists(t.c.base) ? ReadString(t.c.base) : "<none>";
            if (t.c.h.end.ends == 1 && boxes.back() == "Processo Concluido.") {
                ++successes;
                expected_last = "Processo Concluido";
                if (now != compacted) {
                    ASSERT_TRUE(testkit::HaveMdbTools());
                    EXPECT_EQ(testkit::MdbExportDump(t.c.base), testkit::MdbExportDump(t.c.copia));
                }
            } else if (t.c.h.end.ends == 1) {
                ++early_ends;  // a classification that ends the program
                EXPECT_EQ(now, original);
                expected_last = t.c.form().Label1[0]->Caption();
                EXPECT_EQ(expected_last.rfind("Erro: ", 0), 0u) << expected_last;
            } else {
                ++failure_exits;
                expected_last = kFalha;
                EXPECT_EQ(now, original);
            }
            // A fault in a write of the log file loses that line from the file only.
            // An error's detail, for support, may follow its line in the file.
            Lines log = fs::exists(t.c.log) ? t.c.Log() : Lines{};
            while (!log.empty() && log.back().rfind("Detalhe: ", 0) == 0) log.pop_back();
            if (touched[n - 1] == log_of_counted_run) {
                EXPECT_EQ(LastOnScreen(t.c.form()), expected_last);
            } else {
                ASSERT_FALSE(log.empty());
                EXPECT_EQ(log.back(), expected_last);
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
    RecordProperty("trials", trials);
    std::printf(
        "fault sweep class %d %s: %llu operations, %d trials (%d runs completed, %d failure exits, "
        "%d early ends)\n",
        sweep.classe, sweep.file, static_cast<unsigned long long>(total), trials, successes,
        failure_exits, early_ends);
}

INSTANTIATE_TEST_SUITE_P(ClassesAndVersions, RunFaultSweep,
                         ::testing::ValuesIn(kClassesAndVersions), RunCaseName);

}  // namespace
}  // namespace apptest
