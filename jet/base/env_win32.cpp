// The real Env over the Win32 file API. Paths arrive in UTF-8 and go to the wide (UTF-16)
// calls. Every file is opened with FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE:
// other users of a database read and write it beside us, as under Jet, and the engine renames
// a repaired copy over a file it still has open, which Windows allows only when every open of
// that file shares deletion. A lock file joined (kCreateOrOpenUndeletable) does not share it,
// as Jet's does not: no one deletes a lock file that is in use.
//
// Byte-range locks are LockFileEx locks. They belong to the handle, as the Env asks, but
// differ from POSIX ones in three ways this file hides or documents:
//   - Windows cannot say who holds a range; IsLockedByOther takes an exclusive lock on it and
//     releases it at once, so a probe may for an instant make another opener's lock fail;
//   - a lock may not overlap one the same handle holds (Windows neither merges nor converts),
//     so IsLockedByOther probes only the parts of a range this file does not hold itself, and
//     TryLock of a range the file holds with the other mode releases it before taking it;
//   - UnlockFileEx releases exactly one locked range, so each File keeps the ranges it holds
//     and Unlock releases those inside the range asked for (re-taking the parts outside it).
// Locks are released explicitly when the File closes, since Windows frees the locks of a
// closed handle only in its own time.
//
// Errors are thrown as OsError with the errno value closest to the Win32 one, so the
// engine's and the file services' mappings serve both platforms.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "jet/base/env.h"

namespace jet {

namespace {

constexpr DWORD kErrorDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, not in every SDK

int ErrnoFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_NETWORK_ACCESS_DENIED:
            return EACCES;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case kErrorDiskQuotaExceeded:
            return ENOSPC;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_FILE_TOO_LARGE:
            return EFBIG;
        default:
            return EIO;
    }
}

[[noreturn]] void ThrowLastError(const std::string& operation, const std::string& path) {
    throw OsError(ErrnoFor(::GetLastError()), operation, path);
}

std::wstring Wide(const std::string& utf8, const std::string& operation) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                        static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) throw OsError(EINVAL, operation, utf8);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* wide, size_t length) {
    if (length == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                        nullptr, nullptr);
    if (n <= 0) return {};
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), utf8.data(), n, nullptr,
                          nullptr);
    return utf8;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

File::Identity IdentityOf(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return {};
    return {info.dwVolumeSerialNumber,
            (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One range locked through a handle.
struct HeldLock {
    uint64_t offset;
    uint64_t length;
    bool exclusive;
    uint64_t end() const { return offset + length; }
};

class Win32File final : public File {
  public:
    Win32File(HANDLE h, std::string path, bool writable)
        : h_(h), path_(std::move(path)), writable_(writable) {}
    ~Win32File() override {
        for (const HeldLock& held : held_) Release(held.offset, held.length);
        ::CloseHandle(h_);
    }

    uint64_t Size() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(h_, &size)) ThrowLastError("stat", path_);
        return static_cast<uint64_t>(size.QuadPart);
    }

    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
        size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        while (done < n) {
            OVERLAPPED o = At(offset + done);
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, kMaxChunk));
            if (!::ReadFile(h_, out + done, want, &got, &o)) {
                if (::GetLastError() == ERROR_HANDLE_EOF) break;
                ThrowLastError("read", path_);
            }
            if (got == 0) break;
            done += got;
        }
        return done;
    }

    void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
        size_t done = 0;
        const auto* in = static_cast<const char*>(buffer);
        while (done < n) {
            OVERLAPPED o = At(offset + done);
            DWORD put = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, kMaxChunk));
            if (!::WriteFile(h_, in + done, want, &put, &o)) ThrowLastError("write", path_);
            if (put == 0) throw OsError(EIO, "write", path_);
            done += put;
        }
    }

    void Truncate(uint64_t size) override {
        FILE_END_OF_FILE_INFO info{};
        info.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFileInformationByHandle(h_, FileEndOfFileInfo, &info, sizeof info))
            ThrowLastError("truncate", path_);
    }

    void Sync() override {
        // A handle opened for reading has nothing to flush (and Windows refuses to try).
        if (!writable_) return;
        if (!::FlushFileBuffers(h_)) ThrowLastError("sync", path_);
    }

    bool TryLock(uint64_t offset, uint64_t length, bool exclusive) override {
        for (size_t i = 0; i < held_.size(); ++i) {
            HeldLock& held = held_[i];
            if (held.offset != offset || held.length != length) continue;
            if (held.exclusive == exclusive) return true;
            // The same range in the other mode: Windows cannot convert it, so it is given up
            // and taken anew; when the new mode is refused, the old one is taken back.
            Release(held.offset, held.length);
            held_.erase(held_.begin() + static_cast<ptrdiff_t>(i));
            if (Take(offset, length, exclusive)) return true;
            Take(offset, length, !exclusive);
            return false;
        }
        return Take(offset, length, exclusive);
    }

    void Unlock(uint64_t offset, uint64_t length) override {
        const uint64_t end = offset + length;
        std::vector<HeldLock> keep;
        std::vector<HeldLock> retake;
        for (const HeldLock& held : held_) {
            if (held.end() <= offset || held.offset >= end) {
                keep.push_back(held);
                continue;
            }
            if (!Release(held.offset, held.length)) ThrowLastError("unlock", path_);
            if (held.offset < offset)
                retake.push_back({held.offset, offset - held.offset, held.exclusive});
            if (held.end() > end) retake.push_back({end, held.end() - end, held.exclusive});
        }
        held_ = std::move(keep);
        for (const HeldLock& part : retake) Take(part.offset, part.length, part.exclusive);
    }

    bool IsLockedByOther(uint64_t offset, uint64_t length) override {
        // The parts of the range this file does not hold, each probed by taking it.
        std::vector<HeldLock> gaps{{offset, length, true}};
        for (const HeldLock& held : held_) {
            std::vector<HeldLock> next;
            for (const HeldLock& gap : gaps) {
                if (held.end() <= gap.offset || held.offset >= gap.end()) {
                    next.push_back(gap);
                    continue;
                }
                if (gap.offset < held.offset)
                    next.push_back({gap.offset, held.offset - gap.offset, true});
                if (gap.end() > held.end())
                    next.push_back({held.end(), gap.end() - held.end(), true});
            }
            gaps = std::move(next);
        }
        for (const HeldLock& gap : gaps) {
            if (!Lock(gap.offset, gap.length, true)) return true;
            Release(gap.offset, gap.length);
        }
        return false;
    }

    Identity Id() override { return IdentityOf(h_); }

  private:
    static constexpr size_t kMaxChunk = size_t{1} << 30;

    // Takes a range and records it; false when another holder conflicts.
    bool Take(uint64_t offset, uint64_t length, bool exclusive) {
        if (!Lock(offset, length, exclusive)) return false;
        held_.push_back({offset, length, exclusive});
        return true;
    }

    bool Lock(uint64_t offset, uint64_t length, bool exclusive) {
        OVERLAPPED o = At(offset);
        DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        if (::LockFileEx(h_, flags, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                         static_cast<DWORD>(length >> 32), &o))
            return true;
        const DWORD error = ::GetLastError();
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
        throw OsError(ErrnoFor(error), "lock", path_);
    }

    bool Release(uint64_t offset, uint64_t length) {
        OVERLAPPED o = At(offset);
        return ::UnlockFileEx(h_, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                              static_cast<DWORD>(length >> 32), &o) != 0;
    }

    HANDLE h_;
    std::string path_;
    bool writable_;
    std::vector<HeldLock> held_;  // the ranges locked through h_, in the order taken
};

class Win32Env final : public Env {
  public:
    bool AllowsThreads() const override { return true; }
    void LowerThreadPriority() override {
        (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    }
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        const std::wstring wide = Wide(path, "open");
        DWORD access = GENERIC_READ | GENERIC_WRITE;
        DWORD disposition = OPEN_EXISTING;
        switch (mode) {
            case OpenMode::kRead:
                access = GENERIC_READ;
                break;
            case OpenMode::kReadWrite:
                break;
            case OpenMode::kCreateNew:
                disposition = CREATE_NEW;
                break;
            case OpenMode::kCreateOrOpen:
            case OpenMode::kCreateOrOpenUndeletable:
            case OpenMode::kCreateTruncate:
                disposition = OPEN_ALWAYS;
                break;
        }
        const DWORD share =
            mode == OpenMode::kCreateOrOpenUndeletable ? kShareAll & ~FILE_SHARE_DELETE : kShareAll;
        HANDLE h = ::CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_ACCESS_DENIED && IsDirectory(wide))
                throw OsError(EISDIR, "open", path);
            throw OsError(ErrnoFor(error), "open", path);
        }
        auto file = std::make_unique<Win32File>(h, path, access != GENERIC_READ);
        if (mode == OpenMode::kCreateTruncate) file->Truncate(0);
        return file;
    }

    FileStatus Stat(const std::string& path) override {
        FileStatus status;
        const std::wstring wide = Wide(path, "stat");
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
            const int code = ErrnoFor(::GetLastError());
            if (code == ENOENT || code == ENOTDIR) return status;
            throw OsError(code, "stat", path);
        }
        status.exists = true;
        status.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        status.is_regular =
            !status.is_directory && !(data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
        status.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        // The identity needs a handle; one that asks for no access conflicts with no one.
        HANDLE h = ::CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            status.id = IdentityOf(h);
            ::CloseHandle(h);
        }
        return status;
    }

    void Rename(const std::string& from, const std::string& to) override {
        if (!::MoveFileExW(Wide(from, "rename").c_str(), Wide(to, "rename").c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            ThrowLastError("rename", from);
    }

    void Remove(const std::string& path) override {
        const std::wstring wide = Wide(path, "remove");
        if (::DeleteFileW(wide.c_str())) return;
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED && IsDirectory(wide))
            throw OsError(EISDIR, "remove", path);
        throw OsError(ErrnoFor(error), "remove", path);
    }

    void SyncDirectory(const std::string& path) override {
        // MOVEFILE_WRITE_THROUGH already makes a rename durable; the folder is opened so that
        // a missing one is reported as on POSIX, and flushed where the file system allows it.
        HANDLE h = ::CreateFileW(Wide(path, "open").c_str(), GENERIC_READ, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) ThrowLastError("open", path);
        ::FlushFileBuffers(h);
        ::CloseHandle(h);
    }

    std::string HostName() override {
        wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
        if (!::GetComputerNameW(name, &length) || length == 0) return "localhost";
        return Narrow(name, length);
    }
};

}  // namespace

Env* Env::Default() {
    static Win32Env env;
    return &env;
}

}  // namespace jet
