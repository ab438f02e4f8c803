// jetutil hold FILE: opens a database and keeps it open until stdin closes or a signal comes,
// so scripts and tests can have another process sit in a database.
#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "jet/database/database.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

#ifdef _WIN32
// Windows sends no signals to wait for: the wait ends when standard input reaches its end
// (the writer of a pipe closes it, or Ctrl+Z and Enter at a console). A holder ended by
// Ctrl+C or killed leaves its slot as a killed POSIX holder does: stale, its lock gone.
void WaitForEndOfInput() {
    char buffer[256];
    while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
}
#else
volatile sig_atomic_t stop_requested = 0;
void OnSignal(int) {
    stop_requested = 1;
}

// Waits until stdin ends or one of the stop signals arrives. The signals stay blocked except
// inside ppoll, so one that comes before the wait begins is not lost.
void WaitForEndOfInputOrSignal(const sigset_t& unblocked) {
    char buffer[256];
    while (!stop_requested) {
        struct pollfd fd {
            STDIN_FILENO, POLLIN, 0
        };
        int ready = ::ppoll(&fd, 1, nullptr, &unblocked);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) return;
    }
}
#endif

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--exclusive", "--read-only"});
    if (!opts.error().empty() || opts.positional().size() != 1) {
        std::cerr << (opts.error().empty() ? "" : opts.error() + "\n")
                  << "usage: jetutil hold [--exclusive] [--read-only] [--password PW] FILE\n";
        return 2;
    }
    jet::DatabaseOptions options;
    options.exclusive = opts.Has("--exclusive");
    options.read_only = opts.Has("--read-only");
    options.password = opts.Value("--password");
    auto db = jet::Database::Open(jet::Env::Default(), opts.positional()[0], options);

#ifndef _WIN32
    // SIGTERM, SIGINT and SIGHUP end the wait and close the database properly.
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, s);
    sigprocmask(SIG_BLOCK, &stops, &previous);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
#endif

    if (db->user_slot() != 0)
        std::cout << "open shared slot " << db->user_slot() << std::endl;
    else
        std::cout << "open exclusive" << std::endl;
#ifdef _WIN32
    WaitForEndOfInput();
#else
    WaitForEndOfInputOrSignal(previous);
#endif
    db->Close();
    std::cout << "closed" << std::endl;
    return 0;
}

const jetutil::Registration kHold({
    "hold",
    "open a database and keep it open until stdin closes",
    "usage: jetutil hold [--exclusive] [--read-only] [--password PW] FILE\n"
    "\n"
    "Opens FILE as Jet's OpenDatabase does (shared: joins the lock file; --exclusive: alone),\n"
    "prints 'open shared slot N' or 'open exclusive', then waits until standard input\n"
    "reaches its end or SIGTERM/SIGINT/SIGHUP arrives, closes the database (leaving the lock\n"
    "file, deleting it when no one else is in) and prints 'closed'. A process killed with\n"
    "SIGKILL leaves a stale lock file whose slot no longer reads as live.\n",
    Run,
});

}  // namespace
