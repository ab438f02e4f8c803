#include "jet/database/lock_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "jet/base/error.h"
#include "jet/base/path.h"
#include "jet/format/text_codec.h"

namespace jet {
namespace {

constexpr uint32_t kLockNameSize = 32;  // each of the two names of a record
// Slot n's user lock is the byte kUserLockBase + n (n = 1..255).
constexpr uint64_t kUserLockBase = 0x10000000;

// A closer may delete the file between our open and our lock; each such race costs one retry.
constexpr int kJoinAttempts = 16;

uint64_t UserLockOffset(int slot) {
    return kUserLockBase + static_cast<uint64_t>(slot);
}

[[noreturn]] void RaiseLockFileError(const OsError& e) {
    if (e.code() == ENOSPC) Raise(kDiskFull);
#ifdef EDQUOT  // absent on Windows, where the Env reports a full quota as ENOSPC
    if (e.code() == EDQUOT) Raise(kDiskFull);
#endif
    RaiseWithDetail(kCouldNotLockFile, "", "(" + std::string(e.what()) + ")");
}

// True when `path` still names the file `file` has open: a closer deletes the lock file while
// holding every user lock, so an opener that wins a slot must check it did not win it in a
// file that has just been unlinked.
bool StillNamedBy(Env* env, File& file, const std::string& path) {
    FileStatus status = env->Stat(path);
    if (!status.exists) return false;
    File::Identity id = file.Id();
    return id == File::Identity{} || status.id == id;
}

// Names travel as UTF-8; the file holds them in the ANSI code page Jet writes them in.
constexpr uint16_t kLockFileCodePage = 1252;

void PutName(Bytes& record, size_t offset, const std::string& utf8) {
    Bytes name = EncodeCodePage(Utf8ToUtf16(utf8), kLockFileCodePage);
    size_t n = std::min<size_t>(name.size(), kLockNameSize - 1);
    // A NUL inside the name would end it early; cut there.
    for (size_t i = 0; i < n; ++i) {
        if (name[i] == 0) {
            n = i;
            break;
        }
    }
    std::memcpy(record.data() + offset, name.data(), n);
    record[offset + n] = 0;
    for (size_t i = n + 1; i < kLockNameSize; ++i) record[offset + i] = ' ';
}

std::string GetName(const Bytes& record, size_t offset) {
    size_t end = offset;
    while (end < offset + kLockNameSize && record[end] != 0) ++end;
    while (end > offset && record[end - 1] == ' ') --end;
    ByteSpan bytes(record.data() + offset, end - offset);
    return Utf16ToUtf8(DecodeCodePage(bytes, kLockFileCodePage));
}

// Every non-empty record of an open lock file; `own_slot` (0 = none) is the slot held through
// `file` itself, which the lock query cannot see as held by another.
std::vector<LockFileUser> ReadUsers(File& file, int own_slot) {
    uint64_t size = file.Size();
    uint64_t limit = static_cast<uint64_t>(kMaxLockUsers) * kLockRecordSize;
    Bytes data(static_cast<size_t>(std::min(size, limit)));
    data.resize(file.ReadAt(0, data.data(), data.size()));

    std::vector<LockFileUser> users;
    size_t records = data.size() / kLockRecordSize;
    for (size_t i = 0; i < records; ++i) {
        Bytes record(data.begin() + static_cast<ptrdiff_t>(i * kLockRecordSize),
                     data.begin() + static_cast<ptrdiff_t>((i + 1) * kLockRecordSize));
        int slot = static_cast<int>(i) + 1;
        LockFileUser user = DecodeLockRecord(record, slot);
        if (user.computer.empty()) continue;
        user.live = slot == own_slot || file.IsLockedByOther(UserLockOffset(slot), 1);
        users.push_back(std::move(user));
    }
    return users;
}

}  // namespace

std::string LockFilePath(const std::string& database_path) {
    if (database_path.size() <= 4) return database_path + ".ldb";
    return database_path.substr(0, database_path.size() - 4) + ".ldb";
}

Bytes EncodeLockRecord(const std::string& computer, const std::string& user) {
    Bytes record(kLockRecordSize, ' ');
    PutName(record, 0, computer);
    PutName(record, kLockNameSize, user);
    return record;
}

LockFileUser DecodeLockRecord(const Bytes& record, int slot) {
    LockFileUser user;
    user.slot = slot;
    if (record.size() != kLockRecordSize) return user;
    user.computer = GetName(record, 0);
    user.user = GetName(record, kLockNameSize);
    return user;
}

std::vector<LockFileUser> ReadLockFileUsers(Env* env, const std::string& ldb_path) {
    FileStatus status = env->Stat(ldb_path);
    if (!status.exists || status.is_directory) return {};
    std::unique_ptr<File> file;
    try {
        file = env->Open(ldb_path, OpenMode::kRead);
    } catch (const OsError& e) {
        if (e.code() == ENOENT) return {};  // deleted by its last user meanwhile
        throw;
    }
    return ReadUsers(*file, 0);
}

std::vector<LockFileUser> LiveLockFileUsers(Env* env, const std::string& ldb_path) {
    std::vector<LockFileUser> live;
    for (LockFileUser& user : ReadLockFileUsers(env, ldb_path))
        if (user.live) live.push_back(std::move(user));
    return live;
}

bool LockFileInUse(Env* env, const std::string& path) {
    try {
        FileStatus status = env->Stat(path);
        if (!status.exists || !status.is_regular) return false;
        std::unique_ptr<File> file = env->Open(path, OpenMode::kRead);
        return file->IsLockedByOther(UserLockOffset(1), kMaxLockUsers);
    } catch (const OsError&) {
        return false;
    }
}

LockFile::LockFile(Env* env, std::string path, std::unique_ptr<File> file, int slot)
    : env_(env), path_(std::move(path)), file_(std::move(file)), slot_(slot) {}

LockFile::~LockFile() {
    try {
        Leave();
    } catch (...) {
    }
}

std::unique_ptr<LockFile> LockFile::Join(Env* env, const std::string& ldb_path,
                                         const std::string& computer, const std::string& user) {
    for (int attempt = 0; attempt < kJoinAttempts; ++attempt) {
        std::unique_ptr<File> file;
        int slot = 0;
        try {
            file = env->Open(ldb_path, OpenMode::kCreateOrOpenUndeletable);
            for (int n = 1; n <= kMaxLockUsers && slot == 0; ++n)
                if (file->TryLock(UserLockOffset(n), 1, true)) slot = n;
            if (!StillNamedBy(env, *file, ldb_path)) continue;  // deleted under us: again
        } catch (const OsError& e) {
            RaiseLockFileError(e);
        }
        if (slot == 0)
            RaiseWithDetail(kCouldNotLockFile, "",
                            "(all 255 user slots of " + ldb_path + " are in use)");

        std::unique_ptr<LockFile> joined(new LockFile(env, ldb_path, std::move(file), slot));
        try {
            Bytes record = EncodeLockRecord(computer, user);
            joined->file_->WriteAt(static_cast<uint64_t>(slot - 1) * kLockRecordSize, record.data(),
                                   record.size());
        } catch (const OsError& e) {
            joined->Leave();  // a file we just created goes away again
            RaiseLockFileError(e);
        }
        return joined;
    }
    RaiseWithDetail(kCouldNotLockFile, "", "(" + ldb_path + " kept being deleted while joining)");
}

void LockFile::Leave() {
    if (!file_) return;
    std::unique_ptr<File> file = std::move(file_);
    try {
        // Our slot is given up first (Windows refuses a lock that overlaps one the same file
        // holds), then the whole range is taken: winning it means no one else is in. Someone
        // taking our slot in between makes us lose the range and leave the file to them.
        file->Unlock(UserLockOffset(slot_), 1);
        if (file->TryLock(UserLockOffset(1), kMaxLockUsers, true) &&
            StillNamedBy(env_, *file, path_)) {
            // Where no one may delete a lock file in use, ours included, it is closed first;
            // whoever opens it in between keeps it, as the refused delete leaves it to them.
            if (kOpenFilesBlockReplacement) file.reset();
            env_->Remove(path_);
        }
    } catch (const OsError&) {
        // The file stays, as Jet leaves it when it cannot delete it.
    }
}

std::vector<LockFileUser> LockFile::Users() {
    if (!file_) return {};
    return ReadUsers(*file_, slot_);
}

}  // namespace jet
