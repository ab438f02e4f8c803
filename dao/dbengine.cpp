#include "dao/dbengine.h"

#include <utility>

#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/format/mdb_file.h"
#include "jet/rebuild/compact.h"
#include "jet/rebuild/repair.h"

namespace dao {
namespace {

// Runs one engine call; an operating-system failure that the engine let through gets the
// engine's number for it, so callers only ever see JetError. An error that names no object
// is given the file of the call, which is the file its message speaks of.
template <class Call>
auto Translated(const std::string& path, Call&& call) {
    try {
        return std::forward<Call>(call)();
    } catch (const jet::OsError& e) {
        jet::RaiseOsError(e, path);
    } catch (const jet::JetError& e) {
        if (!e.name().empty()) throw;
        throw jet::JetError(e.number(), e.what(), path);
    }
}

}  // namespace

Database::Database(std::string name, std::unique_ptr<jet::Database> db)
    : name_(std::move(name)), db_(std::move(db)) {}

Database::~Database() {
    try {
        if (db_) db_->Close();
    } catch (...) {
        // A destructor reports nothing; the lock file stays behind at worst.
    }
}

void Database::Execute(const std::string& Query) {
    if (!db_) jet::Raise(jet::kObjectInvalid);
    Translated(name_, [&] { db_->Execute(Query); });
}

void Database::Close() {
    if (!db_) jet::Raise(jet::kObjectInvalid);
    // The object is closed even when releasing the lock file fails: DAO gives the handle up
    // whatever happens, and a second Close must not touch the files again.
    std::unique_ptr<jet::Database> db = std::move(db_);
    Translated(name_, [&] { db->Close(); });
}

std::shared_ptr<Database> Workspace::OpenDatabase(const std::string& Name) {
    jet::Env* env = engine_.env();
    std::unique_ptr<jet::Database> db =
        Translated(Name, [&] { return jet::Database::Open(env, Name, jet::DatabaseOptions{}); });
    return std::shared_ptr<Database>(new Database(Name, std::move(db)));
}

Workspace& DBEngine::Workspaces(int Index) {
    if (Index != 0) jet::Raise(jet::kItemNotFound);
    return default_workspace_;
}

void DBEngine::RepairDatabase(const std::string& Name) {
    // The file must be closed: the engine holds it against every other opener, our own open
    // databases included, while it reads it (3045 otherwise). A file with nothing to mend is
    // left as it is (a class-1 run then rebuilds it once, in the compaction); otherwise the
    // repaired copy replaces it only once verified; on any failure it is left as it was.
    last_repair_.reset();
    last_repair_ = Translated(Name, [&] { return jet::RepairDatabase(env_, Name); });
}

void DBEngine::CompactDatabase(const std::string& SrcName, const std::string& DstName) {
    // The source must be closed: the engine holds it against every other opener, our own
    // open databases included, while it reads it (3045 otherwise).
    Translated(SrcName, [&] { jet::CompactDatabase(env_, SrcName, DstName); });
}

}  // namespace dao
