// Shared helpers of the tests that run over the shared corpus of real files.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace jet::testing {

inline std::filesystem::path CorpusDir() {
    return JET_CORPUS_DIR;
}
inline std::filesystem::path TestDataDir() {
    return JET_TEST_DATA_DIR;
}

inline bool HaveCorpus() {
    return std::filesystem::is_directory(CorpusDir());
}

// The Jet files of the corpus (.mdb, .mdw, .accdb), sorted by name.
inline std::vector<std::filesystem::path> CorpusFiles() {
    std::vector<std::filesystem::path> files;
    if (!HaveCorpus()) return files;
    for (const auto& e : std::filesystem::directory_iterator(CorpusDir())) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".mdb" || ext == ".mdw" || ext == ".accdb")) {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Password of the corpus files that have one: the manifest's notes say "password 'xyz'"; the
// mdb-reader samples ("with-password" in their names) use "password".
inline std::string CorpusPassword(const std::filesystem::path& file) {
    static const std::map<std::string, std::string> from_notes = [] {
        std::map<std::string, std::string> out;
        std::ifstream in(CorpusDir() / "MANIFEST.tsv");
        std::string line;
        const std::string mark = "password '";
        while (std::getline(in, line)) {
            const size_t at = line.find(mark);
            if (at == std::string::npos) continue;
            const size_t end = line.find('\'', at + mark.size());
            if (end == std::string::npos) continue;
            out[line.substr(0, line.find('\t'))] =
                line.substr(at + mark.size(), end - at - mark.size());
        }
        return out;
    }();
    const std::string name = file.filename().string();
    if (auto it = from_notes.find(name); it != from_notes.end()) return it->second;
    return name.find("with-password") != std::string::npos ? "password" : "";
}

// Rows of a tab-separated list under tests/data, without '#' comments: first field -> rest.
inline std::map<std::string, std::vector<std::string>> ReadList(const std::string& name) {
    std::map<std::string, std::vector<std::string>> rows;
    std::ifstream in(TestDataDir() / name);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t')) fields.push_back(field);
        const std::string key = fields.empty() ? "" : fields[0];
        if (!fields.empty()) fields.erase(fields.begin());
        rows[key] = fields;
    }
    return rows;
}

}  // namespace jet::testing
