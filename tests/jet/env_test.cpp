// The file-system seam: byte-range locks between two opens, what may be done to an open file,
// paths, and fault injection. Every assertion holds for the POSIX and the Win32 Env alike, but
// for the per-thread priority, which only Linux has.
#include <gtest/gtest.h>
#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "jet/base/env.h"
#include "jet/base/path.h"
#include "jet/testing/fault_env.h"
#include "tests/support/temp_dir.h"

namespace {

// A path in a folder of this process's own, removed at its end.
std::string TempPath(const char* name) {
    static const jet::testkit::TempDir dir;
    return dir / name;
}

TEST(Env, LocksConflictBetweenTwoOpensOfOneFile) {
    std::string path = TempPath("locks.bin");
    auto a = jet::Env::Default()->Open(path, jet::OpenMode::kCreateTruncate);
    auto b = jet::Env::Default()->Open(path, jet::OpenMode::kReadWrite);
    ASSERT_TRUE(a->TryLock(100, 1, true));
    EXPECT_TRUE(b->IsLockedByOther(100, 1));
    EXPECT_FALSE(b->TryLock(100, 1, true));
    EXPECT_TRUE(b->TryLock(101, 1, true));  // the next byte is free
    a.reset();                              // closing releases the lock
    EXPECT_FALSE(b->IsLockedByOther(100, 1));
    EXPECT_TRUE(b->TryLock(100, 1, true));
}

TEST(Env, ReadStopsShortAtEndOfFile) {
    std::string path = TempPath("short.bin");
    auto f = jet::Env::Default()->Open(path, jet::OpenMode::kCreateTruncate);
    f->WriteAt(0, "abc", 3);
    char buf[8] = {};
    EXPECT_EQ(f->ReadAt(1, buf, sizeof buf), 2u);
    EXPECT_EQ(std::string(buf, 2), "bc");
}

// Whichever way the file system copies (a clone, direct writes, within the kernel): each byte
// lands at its own offset, a copy asked past the end stops short there, and the target takes
// ordinary writes afterwards, at any offset.
TEST(Env, CopyPutsEachByteInItsPlaceAndStopsShortAtEndOfFile) {
    std::string bytes(3 * 4096 + 100, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + i / 4096);
    jet::Env* env = jet::Env::Default();
    auto source = env->Open(TempPath("copy-from.bin"), jet::OpenMode::kCreateTruncate);
    source->WriteAt(0, bytes.data(), bytes.size());
    auto target = env->Open(TempPath("copy-to.bin"), jet::OpenMode::kCreateTruncate);
    EXPECT_EQ(source->CopyTo(*target, 0, 4096), 4096u);
    EXPECT_EQ(source->CopyTo(*target, 4096, 1 << 20), bytes.size() - 4096) << "past the end";
    EXPECT_EQ(source->CopyTo(*target, bytes.size(), 10), 0u);
    target->WriteAt(4097, "x", 1);
    bytes[4097] = 'x';
    std::string copied(bytes.size(), '\0');
    ASSERT_EQ(target->ReadAt(0, copied.data(), copied.size()), bytes.size());
    EXPECT_EQ(target->Size(), bytes.size());
    EXPECT_TRUE(copied == bytes);

    auto part = env->Open(TempPath("copy-part.bin"), jet::OpenMode::kCreateTruncate);
    EXPECT_EQ(source->CopyTo(*part, 5000, 100), 100u) << "off the blocks";
    ASSERT_EQ(part->ReadAt(5000, copied.data(), 100), 100u);
    EXPECT_EQ(copied.substr(0, 100), bytes.substr(5000, 100));
}

TEST(FaultInjectingEnv, FailsTheChosenOperationWithItsErrno) {
    std::string path = TempPath("fault.bin");
    jet::FaultInjectingEnv env(jet::Env::Default());
    env.FailAt(2, ENOSPC);
    auto f = env.Open(path, jet::OpenMode::kCreateTruncate);  // operation 1
    try {
        f->WriteAt(0, "x", 1);  // operation 2
        FAIL() << "the write should have failed";
    } catch (const jet::OsError& e) {
        EXPECT_EQ(e.code(), ENOSPC);
    }
    EXPECT_TRUE(env.fired());
    f->WriteAt(0, "y", 1);  // operation 3 passes again
    EXPECT_EQ(env.operations(), 3u);
}

TEST(Env, StatTellsFoldersFromFilesAndMissingFromError) {
    std::string path = TempPath("stat.bin");
    jet::Env::Default()->Open(path, jet::OpenMode::kCreateTruncate);
    EXPECT_TRUE(jet::Env::Default()->Stat(path).is_regular);
    EXPECT_TRUE(jet::Env::Default()->Stat(jet::DirectoryOf(path)).is_directory);
    EXPECT_FALSE(jet::Env::Default()->Stat(path + ".missing").exists);
}

// Windows locks neither merge nor convert, and cannot be asked about; the Env makes them behave
// as the engine uses POSIX ones: a file's own locks never count as another's, the same range
// can change mode, and an unlock releases whatever of the file's locks lies in its range. A
// third open, holding nothing, looks on (Windows cannot look past a lock the looker holds).
TEST(Env, OwnLocksChangeModeAndAreNotSeenAsAnothers) {
    std::string path = TempPath("own_locks.bin");
    auto a = jet::Env::Default()->Open(path, jet::OpenMode::kCreateTruncate);
    auto b = jet::Env::Default()->Open(path, jet::OpenMode::kReadWrite);
    auto c = jet::Env::Default()->Open(path, jet::OpenMode::kRead);
    constexpr uint64_t kFar = uint64_t{1} << 32;  // beyond 4 GB, as the engine's gates lie

    ASSERT_TRUE(a->TryLock(kFar, 1, false));
    EXPECT_FALSE(a->IsLockedByOther(kFar, 1));
    EXPECT_TRUE(b->IsLockedByOther(kFar, 1));
    EXPECT_TRUE(b->TryLock(kFar, 1, false));  // shared beside shared
    EXPECT_FALSE(a->TryLock(kFar, 1, true)) << "b's shared lock stops the upgrade";
    b->Unlock(kFar, 1);
    EXPECT_TRUE(c->IsLockedByOther(kFar - 4, 8)) << "a kept its shared lock";
    EXPECT_TRUE(b->TryLock(kFar, 1, false));
    b->Unlock(kFar, 1);
    EXPECT_TRUE(a->TryLock(kFar, 1, true));
    EXPECT_FALSE(b->TryLock(kFar, 1, false));
    EXPECT_TRUE(a->TryLock(kFar, 1, true));  // taking a held range again changes nothing
    a->Unlock(kFar, 1);
    EXPECT_FALSE(c->IsLockedByOther(kFar, 1)) << "one unlock releases it";

    // Slots as the lock file holds them, then one unlock over all of them but the last.
    for (uint64_t slot = 1; slot <= 3; ++slot) ASSERT_TRUE(a->TryLock(kFar + 16 + slot, 1, true));
    EXPECT_FALSE(a->IsLockedByOther(kFar, 64));
    EXPECT_TRUE(c->IsLockedByOther(kFar + 18, 1));
    a->Unlock(kFar, 19);
    EXPECT_FALSE(c->IsLockedByOther(kFar, 19));
    EXPECT_TRUE(c->IsLockedByOther(kFar + 19, 1));
    // An unlock of part of a range keeps the rest.
    ASSERT_TRUE(a->TryLock(kFar + 100, 10, true));
    a->Unlock(kFar + 104, 2);
    EXPECT_TRUE(b->TryLock(kFar + 104, 2, true));
    EXPECT_TRUE(c->IsLockedByOther(kFar + 100, 4));
    EXPECT_TRUE(c->IsLockedByOther(kFar + 106, 4));
    EXPECT_FALSE(b->TryLock(kFar + 100, 1, true));
}

// A lock-file holder deletes the file it holds, and on POSIX a repair renames its copy over a
// file still open (Windows refuses that: there the rebuild lets go of its source first);
// identities tell a path's file from another.
TEST(Env, OpenFilesCanBeReplacedAndRemovedAndKeepTheirIdentity) {
    jet::Env* env = jet::Env::Default();
    std::string path = TempPath("open_replaced.bin");
    std::string other = TempPath("open_replacement.bin");
    auto held = env->Open(path, jet::OpenMode::kCreateTruncate);
    held->WriteAt(0, "old", 3);
    env->Open(other, jet::OpenMode::kCreateTruncate)->WriteAt(0, "new!", 4);
    const jet::File::Identity before = held->Id();
    EXPECT_EQ(env->Stat(path).id, before);
    EXPECT_NE(env->Stat(other).id, before);

    if (jet::kOpenFilesBlockReplacement) {
        EXPECT_THROW(env->Rename(other, path), jet::OsError);
        held.reset();
    }
    env->Rename(other, path);
    EXPECT_EQ(env->Stat(path).size, 4u);
    EXPECT_FALSE(env->Stat(other).exists);
    EXPECT_NE(env->Stat(path).id, before);
    if (held) {
        char buf[4] = {};
        EXPECT_EQ(held->ReadAt(0, buf, sizeof buf), 3u) << "the open file is still the old one";
    }

    auto again = env->Open(path, jet::OpenMode::kRead);
    env->Remove(path);
    again.reset();
    EXPECT_FALSE(env->Stat(path).exists);

    try {
        env->Open(jet::DirectoryOf(path), jet::OpenMode::kRead);
        ADD_FAILURE() << "a folder opened as a file";
    } catch (const jet::OsError& e) {
        EXPECT_EQ(e.code(), EISDIR);
    }
    try {
        env->Open(path, jet::OpenMode::kRead);
        ADD_FAILURE() << "a removed file opened";
    } catch (const jet::OsError& e) {
        EXPECT_EQ(e.code(), ENOENT);
    }
}

TEST(Env, NamesOutsideAsciiAndFoldersSyncRoundTrip) {
    jet::Env* env = jet::Env::Default();
    const std::string folder = jet::DirectoryOf(TempPath("x"));
    const std::string path = jet::JoinPath(folder, "Relat\xC3\xB3rio \xE2\x82\xAC.mdb");
    env->Open(path, jet::OpenMode::kCreateNew)->WriteAt(0, "x", 1);
    EXPECT_TRUE(
        std::filesystem::exists(std::filesystem::path(std::u8string(path.begin(), path.end()))));
    EXPECT_EQ(env->Stat(path).size, 1u);
    env->SyncDirectory(folder);
    try {
        env->Open(path, jet::OpenMode::kCreateNew);
        ADD_FAILURE() << "created twice";
    } catch (const jet::OsError& e) {
        EXPECT_EQ(e.code(), EEXIST);
    }
    env->Remove(path);
    EXPECT_THROW(env->SyncDirectory(jet::JoinPath(folder, "missing")), jet::OsError);
}

#if defined(__linux__)
// The check that follows a compaction lowers its own thread only: the window's thread and the
// run's others keep theirs.
TEST(Env, LoweringAThreadsPriorityLeavesTheOtherThreadsAsTheyWere) {
    const auto nice_of = [](long thread) {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
        EXPECT_EQ(errno, 0);
        return nice;
    };
    const long self = syscall(SYS_gettid);
    const int before = nice_of(self);
    int lowered = before;
    std::thread([&] {
        jet::Env::Default()->LowerThreadPriority();
        lowered = nice_of(syscall(SYS_gettid));
    }).join();
    EXPECT_EQ(lowered, std::min(before + 10, 19));
    EXPECT_EQ(nice_of(self), before);
}
#endif

// Both styles are checked on every platform; the native one is what the engine uses.
TEST(Path, SplitsAndJoinsPosixAndWindowsPaths) {
    using jet::PathStyle;
    struct Case {
        PathStyle style;
        const char* path;
        const char* folder;
        const char* base;
    } cases[] = {
        {PathStyle::kPosix, "/data/vendas.mdb", "/data", "vendas.mdb"},
        {PathStyle::kPosix, "/vendas.mdb", "/", "vendas.mdb"},
        {PathStyle::kPosix, "vendas.mdb", ".", "vendas.mdb"},
        {PathStyle::kPosix, "a\\b.mdb", ".", "a\\b.mdb"},
        {PathStyle::kWindows, "C:\\dados\\vendas.mdb", "C:\\dados", "vendas.mdb"},
        {PathStyle::kWindows, "C:\\vendas.mdb", "C:\\", "vendas.mdb"},
        {PathStyle::kWindows, "C:vendas.mdb", "C:", "vendas.mdb"},
        {PathStyle::kWindows, "c:/dados/sub\\v.mdb", "c:/dados/sub", "v.mdb"},
        {PathStyle::kWindows, "\\\\srv\\share\\v.mdb", "\\\\srv\\share\\", "v.mdb"},
        {PathStyle::kWindows, "\\v.mdb", "\\", "v.mdb"},
        {PathStyle::kWindows, "/tmp/v.mdb", "/tmp", "v.mdb"},
        {PathStyle::kWindows, "v.mdb", ".", "v.mdb"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(jet::DirectoryOf(c.path, c.style), c.folder) << c.path;
        EXPECT_EQ(jet::BaseNameOf(c.path, c.style), c.base) << c.path;
    }
    EXPECT_EQ(jet::JoinPath("C:\\dados", "~v.mdb", PathStyle::kWindows), "C:\\dados\\~v.mdb");
    EXPECT_EQ(jet::JoinPath("C:\\", "~v.mdb", PathStyle::kWindows), "C:\\~v.mdb");
    EXPECT_EQ(jet::JoinPath("C:", "~v.mdb", PathStyle::kWindows), "C:~v.mdb");
    EXPECT_EQ(jet::JoinPath("/tmp", "~v.mdb", PathStyle::kWindows), "/tmp/~v.mdb");
    EXPECT_EQ(jet::JoinPath("/tmp", "~v.mdb", PathStyle::kPosix), "/tmp/~v.mdb");
    EXPECT_EQ(jet::JoinPath("/", "~v.mdb", PathStyle::kPosix), "/~v.mdb");
    EXPECT_EQ(jet::JoinPath("", "v.mdb", PathStyle::kPosix), "v.mdb");
}

}  // namespace
