// The one seam through which the engine (and the product's file services) touch the file
// system. Tests replace it to inject faults (disk full, permission denied, I/O errors) at any
// operation, the way LevelDB's Env and SQLite's VFS are used.
//
// Every failure is thrown as OsError carrying the errno value; callers translate errno into
// their own numbering (Jet numbers in the engine, VB numbers in the file services).
//
// Ownership and threads: whoever makes an Env owns it and keeps it alive while anything opened
// through it is in use (Env::Default() lives for the whole program); a File belongs to the one
// that opened it. The engine is single-threaded per database: a Database, a compaction or a
// repair is used from one thread at a time, and so are the Env and Files it was given, which
// need no locking of their own. The one exception is asked for: where an Env allows threads,
// a compaction or a repair reads its source on a second thread while it writes on the first.
// Decorators (fault injection, watching, recording) derive from EnvWrapper and FileWrapper
// below and override only what they intercept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace jet {

class OsError : public std::runtime_error {
  public:
    OsError(int code, const std::string& operation, const std::string& path);
    int code() const { return code_; }  // errno value
    const std::string& operation() const { return operation_; }
    const std::string& path() const { return path_; }

  private:
    int code_;
    std::string operation_;
    std::string path_;
};

enum class OpenMode {
    kRead,          // existing file, read only
    kReadWrite,     // existing file, read and write
    kCreateNew,     // new file, read and write; fails with EEXIST when present
    kCreateOrOpen,  // read and write, created when missing
    // As kCreateOrOpen, and while it is open no one may delete the file: Windows refuses,
    // as it does for Jet's own lock files; POSIX has no such refusal, so there it is the same.
    kCreateOrOpenUndeletable,
    kCreateTruncate,  // read and write, created when missing, emptied when present
};

// An open file. Offsets are absolute; there is no file position.
class File {
  public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    virtual ~File() = default;

    virtual uint64_t Size() = 0;
    // Reads up to n bytes at offset; returns the number read, short only at end of file.
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
    // Writes all n bytes at offset or throws.
    virtual void WriteAt(uint64_t offset, const void* buffer, size_t n) = 0;
    virtual void Truncate(uint64_t size) = 0;
    virtual void Sync() = 0;
    // Asks the system to start sending [offset, offset + n) to the disk, and returns without
    // waiting for it, so that the Sync that follows has less to wait for. Makes nothing
    // durable and reports nothing (Sync does); where the system has no such request, nothing.
    virtual void StartWriteBack(uint64_t offset, uint64_t n) {
        (void)offset;
        (void)n;
    }

    // Byte-range locks that belong to this open file (not to the process), so two opens in
    // one process conflict like two processes do. A lock is released when the File closes,
    // also when the process dies. TryLock returns false when another holder conflicts.
    virtual bool TryLock(uint64_t offset, uint64_t length, bool exclusive) = 0;
    virtual void Unlock(uint64_t offset, uint64_t length) = 0;
    // True when some other open file holds a lock that overlaps the range.
    virtual bool IsLockedByOther(uint64_t offset, uint64_t length) = 0;

    // The identity of the open file (device and inode), so a caller can tell whether a path
    // still names the file it holds open. Zero when unknown.
    struct Identity {
        uint64_t device = 0;
        uint64_t inode = 0;
        bool operator==(const Identity&) const = default;
    };
    virtual Identity Id() { return {}; }

    // Copies up to n bytes at `offset` of this file to `target` at the same offset; returns
    // the number copied, short only at end of file. By default through ReadAt and WriteAt, so
    // an Env that wraps files sees a copy as its reads and writes; the real file system copies
    // within the kernel when both files are its own.
    virtual size_t CopyTo(File& target, uint64_t offset, size_t n);
};

struct FileStatus {
    bool exists = false;
    bool is_directory = false;
    bool is_regular = false;
    uint64_t size = 0;
    File::Identity id;  // zero when unknown
};

class Env {
  public:
    Env() = default;
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;
    virtual ~Env() = default;

    virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;
    // Status of a path; a missing path gives exists == false, not an error.
    virtual FileStatus Stat(const std::string& path) = 0;
    // Renames, replacing an existing destination (POSIX rename semantics).
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    virtual void Remove(const std::string& path) = 0;
    // Flushes a folder's entries, so a rename into it survives a crash.
    virtual void SyncDirectory(const std::string& path) = 0;
    // The name of this machine, as written into lock files.
    virtual std::string HostName() = 0;
    // True when two threads may use this Env at once, each on files of its own, and may both
    // read one file (ReadAt, Size) at once. The real file systems allow it; a decorator that
    // keeps state of its own does not unless it says so (and then the order of its operations
    // is no longer one order).
    virtual bool AllowsThreads() const { return false; }
    // Lowers the priority of the calling thread, one whose work may wait for the others' (the
    // check that follows a compaction's writing): where the system has priorities, it then runs
    // on what CPU the others leave, and at full speed once they are done. Otherwise nothing.
    virtual void LowerThreadPriority() {}

    // The real file system. Never null; lives for the whole program.
    static Env* Default();
};

// A File that passes every call to another one it owns. Derive and override what you change.
class FileWrapper : public File {
  public:
    explicit FileWrapper(std::unique_ptr<File> target) : target_(std::move(target)) {}

    uint64_t Size() override { return target_->Size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
        return target_->ReadAt(offset, buffer, n);
    }
    void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
        target_->WriteAt(offset, buffer, n);
    }
    void Truncate(uint64_t size) override { target_->Truncate(size); }
    void Sync() override { target_->Sync(); }
    void StartWriteBack(uint64_t offset, uint64_t n) override {
        target_->StartWriteBack(offset, n);
    }
    bool TryLock(uint64_t offset, uint64_t length, bool exclusive) override {
        return target_->TryLock(offset, length, exclusive);
    }
    void Unlock(uint64_t offset, uint64_t length) override { target_->Unlock(offset, length); }
    bool IsLockedByOther(uint64_t offset, uint64_t length) override {
        return target_->IsLockedByOther(offset, length);
    }
    Identity Id() override { return target_->Id(); }

  protected:
    File* target() const { return target_.get(); }

  private:
    std::unique_ptr<File> target_;
};

// An Env that passes every call to another one, which it does not own (it must outlive the
// wrapper). Derive and override what you change.
class EnvWrapper : public Env {
  public:
    explicit EnvWrapper(Env* target) : target_(target) {}

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        return target_->Open(path, mode);
    }
    FileStatus Stat(const std::string& path) override { return target_->Stat(path); }
    void Rename(const std::string& from, const std::string& to) override {
        target_->Rename(from, to);
    }
    void Remove(const std::string& path) override { target_->Remove(path); }
    void SyncDirectory(const std::string& path) override { target_->SyncDirectory(path); }
    std::string HostName() override { return target_->HostName(); }
    void LowerThreadPriority() override { target_->LowerThreadPriority(); }

    Env* target() const { return target_; }

  private:
    Env* target_;
};

// Folder part of a path ("." for a bare name).
std::string DirectoryOf(const std::string& path);

}  // namespace jet
