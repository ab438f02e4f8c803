// jetutil users: who is recorded in a lock file, and who is in the database now.
#include <cctype>
#include <iostream>

#include "jet/database/lock_file.h"
#include "tools/jetutil/command.h"

namespace {

int Run(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    bool live_only = false;
    for (const std::string& a : args) {
        if (a == "--live")
            live_only = true;
        else
            paths.push_back(a);
    }
    if (paths.size() != 1) {
        std::cerr << "usage: jetutil users FILE.ldb [--live]\n";
        return 2;
    }
    std::string path = paths[0];
    // A database path names its lock file.
    if (path.size() > 4) {
        std::string ext = path.substr(path.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".mdb") path = jet::LockFilePath(path);
    }

    jet::Env* env = jet::Env::Default();
    auto users = jet::ReadLockFileUsers(env, path);
    if (live_only) {
        for (const auto& u : users)
            if (u.live) std::cout << u.computer << "\n";
        return 0;
    }
    size_t live = 0;
    for (const auto& u : users) {
        std::cout << u.slot << "\t" << u.computer << "\t" << u.user << "\t"
                  << (u.live ? "live" : "stale") << "\n";
        if (u.live) ++live;
    }
    std::cout << live << " live, " << users.size() << " recorded\n";
    return 0;
}

jetutil::Registration registration({
    "users",
    "list the users recorded in a lock file and which are live",
    "usage: jetutil users FILE.ldb [--live]\n"
    "\n"
    "Lists every record of the lock file (FILE.mdb names its FILE.ldb): slot, computer, user\n"
    "and whether the slot is live (held by a process that has the database open now) or\n"
    "stale, then a count. With --live, prints only the computer names of the live users, one\n"
    "a line: the list of the users currently in the database. A missing lock file means nobody\n"
    "is in the database in shared mode.\n",
    Run,
});

}  // namespace
