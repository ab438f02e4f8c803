// The file-system seam: byte-range locks between two opens, and fault injection.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "jet/base/env.h"
#include "jet/testing/fault_env.h"

namespace {

std::string TempPath(const char* name) {
    auto dir = std::filesystem::temp_directory_path() /
               ("jet_env_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
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

}  // namespace
