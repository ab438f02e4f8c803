// Other programs, run from tests: shell commands with their output, programs without a shell,
// and child processes that stay up while a test talks to them (jetutil hold).
#pragma once

#include <csignal>
#include <memory>
#include <string>
#include <vector>

// Windows has no SIGKILL; there Child::Signal ends the child for any signal.
#ifndef SIGKILL
#define SIGKILL 9
#endif

namespace jet::testkit {

unsigned long ProcessId();

struct Output {
    int status = -1;
    std::string text;
};
// Runs a shell command (sh; cmd.exe on Windows) and captures its standard output.
Output Run(const std::string& command);

// A word of a command line for the shell Run uses (on Windows a path holds no double quote).
std::string Quote(const std::string& s);

// True when the shell finds the command `name`.
bool HaveCommand(const std::string& name);

// Runs a program without a shell, its standard error thrown away; its exit status (-1 when it
// could not run). Its standard output goes to `out` when given, else nowhere. POSIX only: on
// Windows it never runs anything and gives -1.
int Spawn(const std::vector<std::string>& argv, std::string* out);

// The jetutil of this build: its path, and the word that names it to Run's shell (a Windows
// build under Wine was given a Unix path, whose "/" cmd.exe takes for an option: it is named
// through Wine's drive Z:, the root).
std::string JetutilPath();
std::string JetutilCommand();

// A child process with its stdin and stdout on pipes.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv);
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();  // kills the child if it still runs

    // The next line of the child's output, without its line break; what came so far at end of
    // output or when nothing comes for 30 seconds (a hung child fails the test, not the run).
    std::string ReadLine();
    void CloseStdin();
    // Signals the child if it still runs (on Windows, which has no signals, any signal ends
    // it at once, as SIGKILL does).
    void Signal(int signal);
    // Waits for the child; its exit status, or -signal when a signal ended it.
    int Wait();

  private:
    struct Handles;
    std::unique_ptr<Handles> h_;
};

// `jetutil hold [--exclusive] path`, a second process with the database open, once it has
// said so ("open exclusive", or "open shared slot N"; a failure of the test when it did not).
std::unique_ptr<Child> HoldWithJetutil(const std::string& path, bool exclusive = false);

}  // namespace jet::testkit
