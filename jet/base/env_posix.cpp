// The real Env over POSIX calls. Byte-range locks use open-file-description locks
// (F_OFD_SETLK), which belong to the open file rather than the process, are released when the
// file is closed or the process dies, and conflict between two opens inside one process.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "jet/base/env.h"

namespace jet {

namespace {

class PosixFile final : public File {
  public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override { ::close(fd_); }

    uint64_t Size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) throw OsError(errno, "stat", path_);
        return static_cast<uint64_t>(st.st_size);
    }

    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
        size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        while (done < n) {
            ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR) continue;
                throw OsError(errno, "read", path_);
            }
            if (r == 0) break;
            done += static_cast<size_t>(r);
        }
        return done;
    }

    void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
        size_t done = 0;
        const auto* in = static_cast<const char*>(buffer);
        while (done < n) {
            ssize_t w = ::pwrite(fd_, in + done, n - done, static_cast<off_t>(offset + done));
            if (w < 0) {
                if (errno == EINTR) continue;
                throw OsError(errno, "write", path_);
            }
            done += static_cast<size_t>(w);
        }
    }

    void Truncate(uint64_t size) override {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
            throw OsError(errno, "truncate", path_);
    }

    void Sync() override {
        if (::fsync(fd_) != 0) throw OsError(errno, "sync", path_);
    }

    void StartWriteBack(uint64_t offset, uint64_t n) override {
#if defined(__linux__)
        // A failure here is met again by the fsync that makes the range durable.
        (void)::sync_file_range(fd_, static_cast<off64_t>(offset), static_cast<off64_t>(n),
                                SYNC_FILE_RANGE_WRITE);
#else
        (void)offset;
        (void)n;
#endif
    }

    bool TryLock(uint64_t offset, uint64_t length, bool exclusive) override {
        struct flock fl = Range(offset, length, exclusive ? F_WRLCK : F_RDLCK);
        if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
        if (errno == EAGAIN || errno == EACCES) return false;
        throw OsError(errno, "lock", path_);
    }

    void Unlock(uint64_t offset, uint64_t length) override {
        struct flock fl = Range(offset, length, F_UNLCK);
        if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) throw OsError(errno, "unlock", path_);
    }

    bool IsLockedByOther(uint64_t offset, uint64_t length) override {
        struct flock fl = Range(offset, length, F_WRLCK);
        if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0) throw OsError(errno, "lock query", path_);
        return fl.l_type != F_UNLCK;
    }

    Identity Id() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) throw OsError(errno, "stat", path_);
        return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    }

    // When the target is a file of this Env too, the cheapest way its file system allows:
    // sharing the source's blocks (a clone, where the file system has them), else, on a local
    // disk, written straight to it from the source's own pages (neither a copy into this
    // process nor one into the target's page cache: the copy is synced and not read again),
    // else within the kernel (copy_file_range), else through ReadAt and WriteAt. A way a target
    // refuses is not tried on it again.
    size_t CopyTo(File& target, uint64_t offset, size_t n) override {
        auto* to = dynamic_cast<PosixFile*>(&target);
        if (to == nullptr) return File::CopyTo(target, offset, n);
        if (n == 0) return 0;
        size_t done = 0;
#if defined(__linux__)
        if (to->copy_way_ == CopyWay::kClone) {
            if (CloneTo(*to, offset, n)) return n;
            to->copy_way_ = to->OnLocalDisk() ? CopyWay::kDirect : CopyWay::kKernel;
        }
        if (to->copy_way_ == CopyWay::kDirect) done = DirectCopyTo(*to, offset, n);
        if (done == n) return n;
#endif
        if (to->copy_way_ != CopyWay::kThroughReads) {
            if (std::optional<size_t> rest = KernelCopyTo(*to, offset + done, n - done))
                return done + *rest;
            to->copy_way_ = CopyWay::kThroughReads;
        }
        return done + File::CopyTo(target, offset + done, n - done);
    }

  private:
    enum class CopyWay { kClone, kDirect, kKernel, kThroughReads };

#if defined(__linux__)
    // Direct writes start and end on the device's blocks; 4 KiB suits the devices in use, and
    // a device that wants more refuses the first write, which then goes the next way.
    static constexpr size_t kDirectBlock = 4096;

    bool CloneTo(PosixFile& to, uint64_t offset, size_t n) {
        struct file_clone_range range {};
        range.src_fd = fd_;
        range.src_offset = offset;
        range.src_length = n;
        range.dest_offset = offset;
        return ::ioctl(to.fd_, FICLONERANGE, &range) == 0;
    }

    // Direct writes pay on a file system of a local disk. Elsewhere (a network share above
    // all) the kernel's copy may be made by the server without the data crossing the network.
    bool OnLocalDisk() const {
        struct statfs fs {};
        if (::fstatfs(fd_, &fs) != 0) return false;
        switch (static_cast<uint32_t>(fs.f_type)) {
            case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
            case XFS_SUPER_MAGIC:
            case BTRFS_SUPER_MAGIC:
            case F2FS_SUPER_MAGIC:
                return true;
            default:
                return false;
        }
    }

    bool SetDirect(bool direct) {
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0) return false;
        const int wanted = direct ? flags | O_DIRECT : flags & ~O_DIRECT;
        return wanted == flags || ::fcntl(fd_, F_SETFL, wanted) == 0;
    }

    // Copies the whole blocks of [offset, offset + n) that the file holds, written from a
    // mapping of them that this process never touches itself: the kernel reads them in for
    // the write, so a source it cannot read (a failing disk, a file cut short meanwhile) fails
    // the write with EFAULT, not this process with a signal. Returns what it copied, 0 when it
    // could not; the caller copies the rest another way, which reports any error. The target
    // writes through the page cache again afterwards.
    size_t DirectCopyTo(PosixFile& to, uint64_t offset, size_t n) {
        static const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
        const uint64_t size = Size();
        if (offset % page != 0 || offset % kDirectBlock != 0 || offset >= size) return 0;
        const size_t whole =
            static_cast<size_t>(std::min<uint64_t>(n, size - offset)) / kDirectBlock * kDirectBlock;
        if (whole == 0) return 0;
        void* pages =
            ::mmap(nullptr, whole, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(offset));
        if (pages == MAP_FAILED) return 0;
        struct Unmapped {
            void* pages;
            size_t n;
            ~Unmapped() { ::munmap(pages, n); }
        } unmapped_after{pages, whole};
        if (!to.SetDirect(true)) {
            to.copy_way_ = CopyWay::kKernel;
            return 0;
        }
        // The next part is read from the disk while this one goes to it.
        (void)::posix_fadvise(fd_, static_cast<off_t>(offset + whole), static_cast<off_t>(n),
                              POSIX_FADV_WILLNEED);
        try {
            to.WriteAt(offset, pages, whole);
        } catch (const OsError& e) {
            (void)to.SetDirect(false);
            if (e.code() == EINVAL) to.copy_way_ = CopyWay::kKernel;  // the device's blocks
            if (e.code() == EINVAL || e.code() == EFAULT) return 0;
            throw;
        }
        if (!to.SetDirect(false)) throw OsError(errno, "write", to.path_);
        return whole;
    }
#endif

    // Empty when the file systems cannot copy within the kernel (another file system, no
    // support) before anything was copied.
    std::optional<size_t> KernelCopyTo(PosixFile& to, uint64_t offset, size_t n) {
        size_t done = 0;
        while (done < n) {
            loff_t in = static_cast<loff_t>(offset + done), out = in;
            const ssize_t r = ::copy_file_range(fd_, &in, to.fd_, &out, n - done, 0);
            if (r < 0) {
                if (errno == EINTR) continue;
                if (done == 0 &&
                    (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL))
                    return std::nullopt;
                throw OsError(errno, "copy", to.path_);
            }
            if (r == 0) break;
            done += static_cast<size_t>(r);
        }
        return done;
    }

    static struct flock Range(uint64_t offset, uint64_t length, short type) {
        struct flock fl {};
        fl.l_type = type;
        fl.l_whence = SEEK_SET;
        fl.l_start = static_cast<off_t>(offset);
        fl.l_len = static_cast<off_t>(length);
        fl.l_pid = 0;  // required by OFD locks
        return fl;
    }

    int fd_;
    std::string path_;
    CopyWay copy_way_ = CopyWay::kClone;  // as the target of a copy: the cheapest way left
};

class PosixEnv final : public Env {
  public:
    bool AllowsThreads() const override { return true; }
    void LowerThreadPriority() override {
#if defined(__linux__)
        // Linux keeps a nice value per thread; elsewhere it would be the whole process's.
        // Ten steps give the thread about a tenth of a core the others want.
        const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, thread);
        if (errno == 0) (void)::setpriority(PRIO_PROCESS, thread, std::min(nice + 10, 19));
#endif
    }
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        int flags = O_CLOEXEC;
        switch (mode) {
            case OpenMode::kRead:
                flags |= O_RDONLY;
                break;
            case OpenMode::kReadWrite:
                flags |= O_RDWR;
                break;
            case OpenMode::kCreateNew:
                flags |= O_RDWR | O_CREAT | O_EXCL;
                break;
            case OpenMode::kCreateOrOpen:
            case OpenMode::kCreateOrOpenUndeletable:
                flags |= O_RDWR | O_CREAT;
                break;
            case OpenMode::kCreateTruncate:
                flags |= O_RDWR | O_CREAT | O_TRUNC;
                break;
        }
        int fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0) throw OsError(errno, "open", path);
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            throw OsError(EISDIR, "open", path);
        }
        return std::make_unique<PosixFile>(fd, path);
    }

    FileStatus Stat(const std::string& path) override {
        FileStatus status;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) return status;
            throw OsError(errno, "stat", path);
        }
        status.exists = true;
        status.is_directory = S_ISDIR(st.st_mode);
        status.is_regular = S_ISREG(st.st_mode);
        status.size = static_cast<uint64_t>(st.st_size);
        status.id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        return status;
    }

    void Rename(const std::string& from, const std::string& to) override {
        if (::rename(from.c_str(), to.c_str()) != 0) throw OsError(errno, "rename", from);
    }

    void Remove(const std::string& path) override {
        if (::unlink(path.c_str()) != 0) throw OsError(errno, "remove", path);
    }

    void SyncDirectory(const std::string& path) override {
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) throw OsError(errno, "open", path);
        int rc = ::fsync(fd);
        int err = errno;
        ::close(fd);
        if (rc != 0 && err != EINVAL) throw OsError(err, "sync", path);
    }

    std::string HostName() override {
        char name[HOST_NAME_MAX + 1] = {};
        if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
        return name;
    }
};

}  // namespace

Env* Env::Default() {
    static PosixEnv env;
    return &env;
}

}  // namespace jet
