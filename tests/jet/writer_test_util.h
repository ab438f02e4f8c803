// Helpers shared by the writer tests: a temporary folder, whole-file reads, running the
// independent readers (mdbtools, mdb-reader through Node) and reading rows back with our own
// reader.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/read/table_reader.h"

namespace jet::testing {

class TempFolder {
  public:
    // A new folder under the temporary folder, with a random name no one else holds.
    TempFolder() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate =
                std::filesystem::temp_directory_path() /
                ("writer_test_" + std::to_string(random()) + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.string();
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries in the folder (sorted).
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
};

inline Bytes ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell command; returns its standard output, and the exit status in *status.
inline std::string RunCommand(const std::string& command, int* status) {
    std::string out;
#ifdef _WIN32
    FILE* pipe = _popen(command.c_str(), "rb");
#else
    FILE* pipe = popen(command.c_str(), "r");
#endif
    if (!pipe) {
        *status = -1;
        return out;
    }
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
#ifdef _WIN32
    *status = _pclose(pipe);
#else
    int rc = pclose(pipe);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
    return out;
}

inline bool HaveCommand(const std::string& name) {
    int status = 0;
    RunCommand("command -v " + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Folder of the Node oracle (tests/node), when its dependencies are installed.
inline std::string NodeOracleScript() {
    std::string dir = std::string(JET_TEST_DATA_DIR) + "/../node";
    if (!std::filesystem::exists(dir + "/node_modules/mdb-reader")) return {};
    if (!HaveCommand("node")) return {};
    return dir + "/dump_table.mjs";
}

inline std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

// Every live row of a table, read with our own reader.
inline std::vector<Row> ReadBack(const std::string& path, const std::string& table) {
    auto db = DatabaseView::Open(Env::Default(), path);
    return db->ReadRows(db->ReadTable(table));
}

}  // namespace jet::testing
