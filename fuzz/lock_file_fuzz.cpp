// libFuzzer target for the lock-file reader: a .ldb given as bytes is read for its users, asked
// whether it is in use, joined (a record written in the first free slot), read again and left.
// Whatever the input: nothing crashes, hangs, leaks or meets undefined behaviour; the users
// come in slot order within 1..255, each with a computer name and no trailing blanks; after
// the join our own record is among them, live, under the name we gave.
//
// Build and run: scripts/fuzz_short.sh (every target) or, for this one,
//   FUZZ_TARGETS=lock_file_fuzz scripts/fuzz_short.sh 600
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "jet/base/error.h"
#include "jet/database/lock_file.h"

namespace {

const std::string kPath = fuzz::MemoryEnv::kFolder + "/base.ldb";

[[noreturn]] void Fail(const std::string& what) {
    fuzz::Bug("lock_file_fuzz", what);
}

void CheckUsers(const std::vector<jet::LockFileUser>& users) {
    int previous = 0;
    for (const jet::LockFileUser& u : users) {
        if (u.slot <= previous || u.slot > jet::kMaxLockUsers) Fail("slots out of order");
        previous = u.slot;
        if (u.computer.empty()) Fail("a user without a computer name");
        for (const std::string* name : {&u.computer, &u.user}) {
            if (!name->empty() && name->back() == ' ') Fail("a name with trailing blanks");
            if (name->find('\0') != std::string::npos) Fail("a name holding a NUL");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    fuzz::MemoryEnv env;
    env.Put(kPath, data, size);
    try {
        CheckUsers(jet::ReadLockFileUsers(&env, kPath));
        CheckUsers(jet::LiveLockFileUsers(&env, kPath));
        if (jet::LockFileInUse(&env, kPath)) Fail("in use with nobody holding a lock");
    } catch (const jet::OsError&) {
        Fail("a readable file gave an OS error");
    }
    try {
        auto lock = jet::LockFile::Join(&env, kPath, "fuzz-host", "Fuzz");
        const std::vector<jet::LockFileUser> users = lock->Users();
        CheckUsers(users);
        bool found = false;
        for (const jet::LockFileUser& u : users) {
            if (u.slot == lock->slot()) {
                found = u.live && u.computer == "fuzz-host" && u.user == "Fuzz";
            }
        }
        if (!found) Fail("our own record is not read back");
        lock->Leave();
    } catch (const jet::JetError&) {
    }
    return 0;
}
