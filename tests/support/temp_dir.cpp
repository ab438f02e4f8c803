#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>

#include "tests/support/corpus.h"
#include "tests/support/process.h"

namespace jet::testkit {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("test_" + std::to_string(ProcessId()) + "_" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string TempDir::MakeFile(const std::string& relative, const std::string& bytes) const {
    const fs::path full = path_ / relative;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << bytes;
    return full.string();
}

std::string TempDir::Copy(const std::string& name) const {
    const fs::path to = path_ / name;
    EXPECT_TRUE(PutTestFile(name, to)) << "no test file " << name;
    return to.string();
}

}  // namespace jet::testkit
