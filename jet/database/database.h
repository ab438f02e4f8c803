// A database opened the way DAO's OpenDatabase opens it, with Execute and Close.
//
// Shared mode (the default): the .mdb is opened read/write and the opener joins the lock file
// (lock_file.h): it takes a user slot, writes its record and holds the slot's user lock until
// Close, which deletes the .ldb when no other user is left.
//
// Exclusive holders are told apart by one byte-range lock on the .mdb itself, at byte
// kOpenGateOffset = 2^32: beyond the largest Jet file (1 GB Jet 3, 2 GB Jet 4) and beyond every
// 32-bit offset at which Jet takes its own locks, so it locks no data and meets no lock of
// Jet's. A shared opener holds a shared (read) lock on it, an exclusive opener an exclusive
// (write) lock, each for as long as the database is open. An opener that cannot get its lock
// fails with 3045 ("Could not use '<file>'; file already in use."): Jet's answer when the
// database is held exclusively by someone else, or when an exclusive open finds other users.
// An exclusive open does not touch the lock file. Locks are open-file-description locks, so
// they are released when the process dies.
//
// Statements from several openers do not interleave: Execute holds an exclusive lock on the
// byte kWriteGateOffset = 2^32 + 1 of the .mdb from reading the rows to the flush, waiting up
// to DatabaseOptions::lock_wait_ms for another writer (then 3218, "Could not update; currently
// locked."), so one statement never overwrites a page another has just changed.
//
// Execute runs `UPDATE <table> SET <column> = <literal>` (update_statement.h) on every live row:
//   - checks in Jet's order: syntax 3144, table 3078, column or parameter 3061 ("Too few
//     parameters. Expected 1."), read-only database or system table 3027, the value (3349
//     overflow, 3163 text too long, 3464 a type that takes no number, 3113 AutoNumber);
//   - a column that belongs to an index is refused with 3219 and a text naming the index: its
//     entries would have to change with it, and this engine does not rewrite index pages in
//     place (the flag columns it is used for are not indexed);
//   - every data page holding a row is rebuilt in memory (row_update.h) and checked before
//     any page is written; then the changed pages are written whole through MdbFile::WritePage
//     and the file is flushed. A row that no longer fits its page fails the statement (3047)
//     before anything is written;
//   - a Memo value replaced while it was stored in LVAL rows leaves those rows marked
//     deleted (0xC000), as Jet does when a long value goes away;
//   - the commit words at the end of page 0 are left alone: their encoding for Jet 3.5/4.0 is
//     not known, and a wrong value would mark the database as needing repair.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "jet/base/env.h"
#include "jet/database/lock_file.h"
#include "jet/format/mdb_file.h"
#include "jet/read/table_reader.h"

namespace jet {

constexpr uint64_t kOpenGateOffset = uint64_t{1} << 32;
constexpr uint64_t kWriteGateOffset = kOpenGateOffset + 1;

struct DatabaseOptions {
    bool exclusive = false;
    bool read_only = false;  // Execute then fails with 3027
    std::string password;    // UTF-8, for databases that have one
    std::string user = "Admin";
    int lock_wait_ms = 5000;  // how long Execute waits for another writer
};

class Database {
  public:
    // Opens `path`. Errors: those of MdbFile::Open (3024 missing, 3044 bad path, 3051 no
    // permission or a read-only file opened read/write, 3343 not a Jet database, 3031
    // password); 3036 when the file is at Jet's maximum size; 3045 held exclusively by another
    // opener (or, for an exclusive open, in use); 3050 or 61 when the lock file cannot be
    // created (read-only folder; disk full).
    static std::unique_ptr<Database> Open(Env* env, const std::string& path,
                                          const DatabaseOptions& options = {});

    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();  // Close(), ignoring errors

    // Releases the database: leaves the lock file (deleting it when we were the last user)
    // and closes the file. Closing a closed database does nothing.
    void Close();
    bool is_open() const { return view_ != nullptr; }

    // Executes the statement; returns the number of rows updated. REQUIRES: is_open() (else
    // 3420).
    int64_t Execute(const std::string& sql);

    const std::string& path() const { return path_; }
    // The lock-file slot we hold (0 for an exclusive open).
    int user_slot() const { return lock_ ? lock_->slot() : 0; }
    LockFile* lock_file() { return lock_.get(); }
    // REQUIRES: is_open().
    DatabaseView& view() { return *view_; }

  private:
    Database(Env* env, std::string path) : env_(env), path_(std::move(path)) {}

    Env* env_;
    std::string path_;
    bool read_only_ = false;
    int lock_wait_ms_ = 5000;
    std::unique_ptr<DatabaseView> view_;  // the file (holding the open gate lock) and catalog
    std::unique_ptr<LockFile> lock_;
};

}  // namespace jet
