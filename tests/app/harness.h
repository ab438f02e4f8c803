// What the window tests share: a temporary folder (tests/support), a fake clock, scripted message
// boxes and file dialog, a recorded program end, an Env that maps Windows paths into a folder, and
// a window built over all of them.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/form1.h"
#include "jet/base/env.h"
#include "jet/testing/observed_env.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace apptest {

// The shared test support the window tests use by these names.
namespace testkit = jet::testkit;
using testkit::ListFiles;
using testkit::ReadString;
using testkit::TempDir;

// The items of the list box of the lock file's users (ListLDB1), in order.
std::vector<std::string> ListItems(const Form1& f);

// Hands out the given instants in turn, then repeats the last one. Counts its readings.
class FakeClock final : public platform::Clock {
  public:
    void Set(platform::DateTime t) { instants_ = {t}; }
    void Sequence(std::vector<platform::DateTime> ts) { instants_.assign(ts.begin(), ts.end()); }
    platform::DateTime Now() override;
    int readings = 0;

  private:
    std::deque<platform::DateTime> instants_{{2026, 12, 5, 14, 3, 7}};
};

struct ShownBox {
    std::string prompt;
    platform::MsgBoxButtons buttons;
    std::string title;
};

// Records every box and answers from a script (OK once the script is used up). `on_show`
// runs while the box is "open", as the operator's actions would.
class ScriptedBoxes final : public platform::MessageBox {
  public:
    platform::MsgBoxResult Show(const std::string& prompt, platform::MsgBoxButtons buttons,
                                const std::string& title) override;
    std::vector<ShownBox> shown;
    std::deque<platform::MsgBoxResult> answers;
    std::function<void()> on_show;
};

// Records the calls made to the dialog and hands back scripted names ("" = Cancel).
class ScriptedDialog final : public platform::CommonDialog {
  public:
    void SetMaxFileSize(int characters) override;
    void SetFileName(const std::string& name) override;
    void ShowOpen() override;
    std::string FileName() const override;
    std::vector<std::string> calls;
    std::deque<std::string> choices;
    std::function<void()> on_show;  // runs inside ShowOpen

  private:
    std::string name_;
};

class RecordedEnd final : public platform::ProgramEnd {
  public:
    void EndNow() override { ++ends; }
    int ends = 0;
};

// Lets tests use Windows paths on POSIX: "C:\Dados\base.mdb" is <root>/C/Dados/base.mdb and a
// relative name lies in <root>. Every operation is passed on to the real Env.
class WindowsPathEnv final : public jet::Env {
  public:
    explicit WindowsPathEnv(std::filesystem::path root) : root_(std::move(root)) {}
    std::string Map(const std::string& windows_path) const;
    std::unique_ptr<jet::File> Open(const std::string& path, jet::OpenMode mode) override;
    jet::FileStatus Stat(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    void Remove(const std::string& path) override;
    void SyncDirectory(const std::string& path) override;
    std::string HostName() override { return "teste"; }

  private:
    std::filesystem::path root_;
};

// Fails chosen file operations by what they touch: an operation kind ("open", "read",
// "write", "truncate", "sync", "rename", "remove") on a path that contains a fragment (a
// rename is matched by its destination), with an errno, for the first `times` matches (every
// match when `times` is negative). Everything else passes to `target`. Lets a test fail one
// step of a run (the copy to the backup, the move into place) whatever the engine does around
// it.
class PathFaultEnv final : public jet::ObservedEnv {
  public:
    explicit PathFaultEnv(jet::Env* target) : ObservedEnv(target) {}
    void Fail(const std::string& operation, const std::string& fragment, int code, int times = 1);
    // Until cleared, an open file whose path contains `fragment` reports `size` as its size:
    // a database the engine finds at its maximum size, without writing gigabytes.
    void ReportSize(const std::string& fragment, uint64_t size) {
        sizes_.push_back({fragment, size});
    }
    void ClearSizes() { sizes_.clear(); }
    // How many operations were failed so far.
    int fired() const { return fired_; }
    // Throws the rule's OsError when an operation matches a rule that is still armed.
    void Check(const char* operation, const std::string& path);

  private:
    // A rename is matched by its destination.
    void Before(const Operation& o) override {
        Check(Name(o.op), o.op == Op::kRename ? o.to : o.path);
    }
    // Its own size (`real`) unless a ReportSize applies.
    uint64_t SizeOf(const std::string& path, uint64_t real) override;

    struct Rule {
        std::string operation;
        std::string fragment;
        int code;
        int times;
    };
    std::vector<Rule> rules_;
    std::vector<std::pair<std::string, uint64_t>> sizes_;
    int fired_ = 0;
};

// kNative: the paths of the machine the tests run on; kWindows: Windows paths on any machine.
enum class Style { kNative, kWindows };

// The window the harness builds its form on, as the test binary links it: the in-memory window
// for the form's tests (tests/app/main.cpp), the Qt window for its tests (tests/app/qt/main.cpp),
// the Windows window for its tests (tests/win32/main.cpp).
std::unique_ptr<ui::Window> NewWindow();

// A window over scripted services. Native: the machine's own paths, the program folder is
// <temp>/programa and `env` (the real Env when null) serves the files. Windows: the program
// folder is C:\Programa, over a WindowsPathEnv rooted in the temporary folder (for Windows
// paths on POSIX).
struct Harness {
    explicit Harness(Style style = Style::kNative, jet::Env* env = nullptr);
    TempDir dir;
    FakeClock clock;
    ScriptedBoxes boxes;
    ScriptedDialog dialog;
    RecordedEnd end;
    std::unique_ptr<WindowsPathEnv> windows_env;
    std::string program_folder;
    std::unique_ptr<Form1> form;

    // Where a path the window uses lies on this machine.
    std::string Local(const std::string& path) const;
    // Chooses `path` through "Localizar Arquivo" and starts the run.
    void ChooseAndRun(const std::string& path);
    std::string LogFileBytes() const;  // the run's log file, as written
    // The messages of the log file's lines (the text after "dd/mm/yyyy - hh:mm:ss - "),
    // read back from Windows-1252.
    std::vector<std::string> LogMessages() const;
    std::vector<std::string> BoxTexts() const;
};

}  // namespace apptest
