// A temporary folder of the test's own, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace jet::testkit {

class TempDir {
  public:
    // A new folder under the temporary folder, named after this process and a counter; what an
    // earlier process of the same id left there (Wine reuses ids) is cleared first.
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> Entries() const;
    // Creates `relative` (and its folders) holding `bytes`; returns its full path.
    std::string MakeFile(const std::string& relative, const std::string& bytes = "x") const;
    // Writes the test file `name` (corpus.h) into the folder; its path. A failure of the test
    // when there is no such file.
    std::string Copy(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

}  // namespace jet::testkit
