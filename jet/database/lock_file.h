// The Jet lock file (.ldb): who is in a database opened in shared mode.
//
// On-disk format (no header, no trailer):
//   record n (n = 1..255, the user slot) at byte (n - 1) * 64:
//     +0x00  32 bytes  computer name, ANSI (code page 1252), NUL-terminated, space padded
//     +0x20  32 bytes  security account name ("Admin"), same encoding
//   The file is 64 * (highest slot ever written) bytes long. Records are not erased when a
//   user leaves; a slot's record stays until the slot is reused or the file is deleted.
//
// Which slots are live is told by byte-range locks, not by the records. A user holds an
// exclusive lock on the single byte kUserLockBase + n of the .ldb for as long as it has the
// database open: the "user lock" Jet documents for slot n. The offsets lie far beyond the
// records (at most 16 320 bytes), lock no data, and are the ones Jet itself takes, so a Jet
// reaching the same file through a share that maps its locks onto POSIX ones sees our slot as
// taken, and we see its. No other range of the .ldb is used, so nothing Jet 4 keeps elsewhere
// in the file is disturbed. The locks are open-file-description locks (see env.h): they vanish
// when the holder closes the file or dies, even by SIGKILL, so a crashed user's slot reads
// as stale at once.
//
// Invariants kept here:
//   - a slot is taken only by winning its user lock, so two openers never share a slot;
//   - the .ldb is deleted only by a holder of the exclusive lock over every user-lock byte
//     (so no one can hold a slot in it at that moment), and an opener that won a slot checks
//     that the path still names the file it locked (a closer may have deleted it meanwhile);
//   - nothing in the file is ever truncated; every read is bounded to 255 records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"

namespace jet {

constexpr uint32_t kLockRecordSize = 64;
constexpr int kMaxLockUsers = 255;

// The lock file of a database: the path with its last four characters (".mdb") replaced by
// ".ldb"; a path of four characters or fewer gets ".ldb" appended.
std::string LockFilePath(const std::string& database_path);

// One record of a lock file.
struct LockFileUser {
    int slot = 0;          // 1..255
    std::string computer;  // UTF-8, trailing blanks removed
    std::string user;      // UTF-8, trailing blanks removed
    bool live = false;     // the slot's user lock is held by an open file (other than ours)
};

// Every record of the lock file at `ldb_path` whose computer name is not empty, in slot
// order, with its liveness. A missing file gives an empty list. Reads without disturbing the
// holders (no lock is taken). Throws OsError when the file exists but cannot be read.
std::vector<LockFileUser> ReadLockFileUsers(Env* env, const std::string& ldb_path);

// Only the live entries of ReadLockFileUsers: the users currently in the database.
std::vector<LockFileUser> LiveLockFileUsers(Env* env, const std::string& ldb_path);

// True when some open file (of this or another process) holds a user lock on the file at
// `path`: the lock file is in use and must not be deleted. Windows refuses to delete a lock
// file that Jet holds open; POSIX does not, so file services call this before deleting and
// report "permission denied" (VB error 70) when it is true. A missing or unreadable file, or a
// folder, gives false. Never throws for a missing path.
bool LockFileInUse(Env* env, const std::string& path);

// Our own membership in a lock file: created or joined by Join, left by Leave or the
// destructor.
class LockFile {
  public:
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile();  // Leave(), ignoring errors

    // Creates the lock file when missing or opens it, takes the first free slot, writes its
    // record (`computer`, `user`) and keeps the slot's user lock until Leave.
    // Errors: 61 when the disk is full (ENOSPC, EDQUOT) while creating or writing it; 3050
    // ("Could not lock file") when it cannot be created or opened (read-only folder, no
    // permission) or when all 255 slots are live.
    static std::unique_ptr<LockFile> Join(Env* env, const std::string& ldb_path,
                                          const std::string& computer,
                                          const std::string& user = "Admin");

    // Releases our slot and deletes the file when no other user is live. The slot's record
    // stays, as Jet leaves it. A failed delete (no permission on the folder) keeps the file.
    // Safe to call twice.
    void Leave();

    int slot() const { return slot_; }
    const std::string& path() const { return path_; }
    // The users of the file as seen from here; our own slot counts as live.
    std::vector<LockFileUser> Users();

  private:
    LockFile(Env* env, std::string path, std::unique_ptr<File> file, int slot);

    Env* env_;
    std::string path_;
    std::unique_ptr<File> file_;  // null once left
    int slot_;
};

// The 64-byte record for a slot: each name (UTF-8) in code page 1252, cut to 31 bytes, a NUL,
// then spaces.
Bytes EncodeLockRecord(const std::string& computer, const std::string& user);
// The names of one record; a name ends at its first NUL, trailing spaces are dropped.
// REQUIRES: record.size() == kLockRecordSize.
LockFileUser DecodeLockRecord(const Bytes& record, int slot);

}  // namespace jet
