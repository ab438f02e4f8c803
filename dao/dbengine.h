// The engine interface the database services call: a thin DAO-like layer over the engine in
// jet/. It keeps the shape of the object library the system was written against (one engine
// object, its default workspace, databases opened through it with Execute and Close, and the
// engine's RepairDatabase and CompactDatabase) and reports every failure as a jet::JetError
// carrying the engine's number, its English text and the object it names (the file of the
// call when the engine named none); the window's error state words it in Portuguese
// (platform::Describe) and keeps the engine's text as the detail.
//
// Three numbers have a meaning of their own for the callers, and the engine raises them for
// their conditions: 3343 a file that is not a Jet database or is damaged beyond opening, 3036
// a database at its version's maximum size, 61 a full disk (for instance when the lock file
// cannot be created). An operating-system failure that reaches this layer unmapped is given
// the engine's number for it here, so no other exception type ever leaves it.
//
// Every file operation goes through the jet::Env the engine is made with, so tests can inject
// faults. Nothing here is thread-safe: the system runs on one thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "jet/base/env.h"
#include "jet/rebuild/repair.h"

namespace jet {
class Database;
}

namespace dao {

class DBEngine;

// A database opened through a workspace. Closing it releases the file and the lock file; a
// closed database is an invalid object: Execute and Close on it fail with 3420, as DAO's do.
class Database {
  public:
    ~Database();  // closes the database when still open, ignoring errors
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The full path the database was opened with.
    const std::string& Name() const { return name_; }
    bool IsOpen() const { return db_ != nullptr; }

    // Runs an action statement: "update <table> set <column> = <literal>" on every row.
    void Execute(const std::string& Query);
    // Releases the database; the object stays, closed.
    void Close();

  private:
    friend class Workspace;
    Database(std::string name, std::unique_ptr<jet::Database> db);

    std::string name_;
    std::unique_ptr<jet::Database> db_;  // null once closed
};

// The default workspace of the engine; databases are opened through it.
class Workspace {
  public:
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // Opens `Name` in shared mode, read/write, with no connect string (the three optional
    // arguments omitted). Errors: 3343, 3036 and 61 as above; 3024 a missing file, 3044 a
    // missing folder, 3051 no permission, 3045 held exclusively, 3050 a lock file that cannot
    // be created, and the engine's other numbers.
    std::shared_ptr<Database> OpenDatabase(const std::string& Name);

  private:
    friend class DBEngine;
    explicit Workspace(DBEngine& engine) : engine_(engine) {}
    DBEngine& engine_;
};

// The engine object. Its state (the last repair's report) belongs to whoever made it: the
// window makes one for each run (app/form1.h), so nothing of one run reaches the next.
class DBEngine {
  public:
    // REQUIRES: env is not null and outlives the engine.
    explicit DBEngine(jet::Env* env) : env_(env), default_workspace_(*this) {}
    DBEngine(const DBEngine&) = delete;
    DBEngine& operator=(const DBEngine&) = delete;

    // The workspaces collection: only index 0, the default workspace, exists (3265 for any
    // other index).
    Workspace& Workspaces(int Index);

    // Repairs the database at `Name` in place; the file is replaced only by a verified
    // repaired copy, left as it is when there is nothing to mend, and untouched on failure. It must
    // not be open (3045); a file that is not Jet, or whose catalog is beyond recovery, gives 3343
    // or 3056.
    void RepairDatabase(const std::string& Name);
    // What the last RepairDatabase that completed found and lost, table by table (rows
    // dropped, values cut, pages that could not be read, tables lost whole); nothing before
    // the first repair or after one that failed.
    const std::optional<jet::RepairReport>& LastRepairReport() const { return last_repair_; }
    // Writes a compacted copy of `SrcName` to `DstName` (which must not exist: 3204), keeping
    // the source's version; the destination appears only once the copy has been verified. The
    // source must not be open (3045), and one the engine finds damaged gives 3343. The
    // optional locale, options and password are omitted.
    void CompactDatabase(const std::string& SrcName, const std::string& DstName);

    // The file services the engine's calls go through.
    jet::Env* env() const { return env_; }

  private:
    jet::Env* const env_;
    Workspace default_workspace_;
    std::optional<jet::RepairReport> last_repair_;
};

}  // namespace dao
