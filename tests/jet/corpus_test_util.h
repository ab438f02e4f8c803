// Shared helpers of the tests that read real files: the shared corpus (JET_CORPUS_DIR; tests
// skip without it), its manifest, and the engine-written stand-ins that always run.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "jet/testing/sample.h"

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

// The corpus manifest (MANIFEST.tsv): a header line naming the columns (file, sha256, bytes,
// jet_version, page_size, ..., mdbtools_ok, tables, rows, notes), then one line per file.
class ManifestRow {
  public:
    ManifestRow(std::shared_ptr<const std::map<std::string, size_t>> columns,
                std::vector<std::string> fields)
        : columns_(std::move(columns)), fields_(std::move(fields)) {}
    // The field of the named column; empty when the line or the header lacks it.
    std::string operator[](const std::string& column) const {
        const auto it = columns_->find(column);
        return it != columns_->end() && it->second < fields_.size() ? fields_[it->second] : "";
    }

  private:
    std::shared_ptr<const std::map<std::string, size_t>> columns_;
    std::vector<std::string> fields_;
};

// The lines of the manifest, in its order; none without the corpus.
inline std::vector<ManifestRow> ReadManifest() {
    auto split = [](const std::string& line) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (;;) {
            const size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) return fields;
            start = tab + 1;
        }
    };
    std::vector<ManifestRow> rows;
    std::ifstream in(CorpusDir() / "MANIFEST.tsv");
    std::string line;
    if (!std::getline(in, line)) return rows;
    auto columns = std::make_shared<std::map<std::string, size_t>>();
    const std::vector<std::string> names = split(line);
    for (size_t i = 0; i < names.size(); ++i) (*columns)[names[i]] = i;
    while (std::getline(in, line))
        if (!line.empty()) rows.emplace_back(columns, split(line));
    return rows;
}

// Password of the corpus files that have one: the manifest's notes say "password 'xyz'"; the
// mdb-reader samples ("with-password" in their names, as the engine-written stand-in below) use
// "password".
inline std::string CorpusPassword(const std::filesystem::path& file) {
    static const std::map<std::string, std::string> from_notes = [] {
        std::map<std::string, std::string> out;
        const std::string mark = "password '";
        for (const ManifestRow& row : ReadManifest()) {
            const std::string notes = row["notes"];
            const size_t at = notes.find(mark);
            if (at == std::string::npos) continue;
            const size_t end = notes.find('\'', at + mark.size());
            if (end == std::string::npos) continue;
            out[row["file"]] = notes.substr(at + mark.size(), end - at - mark.size());
        }
        return out;
    }();
    const std::string name = file.filename().string();
    if (auto it = from_notes.find(name); it != from_notes.end()) return it->second;
    return name.find("with-password") != std::string::npos ? "password" : "";
}

// The test files: corpus files by their names, and stand-ins the engine writes (the sample
// database of jet/testing/sample.h, 120 rows of pedidos: indexes, memos kept out of their rows,
// data on several pages) for what must run without the corpus.
inline constexpr const char* kSampleJet3 = "sample-jet3.mdb";
inline constexpr const char* kSampleJet4 = "sample-jet4.mdb";
inline constexpr const char* kSampleWithPassword = "sample-jet4-with-password.mdb";  // "password"

// A few corpus files for the quicker suites: both versions, deleted columns, rows that grew
// and moved, memo and OLE values, compressed Unicode, a password.
inline const std::vector<std::string>& CorpusSubset() {
    static const std::vector<std::string> names = {"jackcess-V1997-delColTestV1997.mdb",
                                                   "jackcess-V1997-overflowTestV1997.mdb",
                                                   "jackcess-V1997-test2V1997.mdb",
                                                   "jackcess-V1997-testV1997.mdb",
                                                   "jackcess-V2000-fixedNumericTestV2000.mdb",
                                                   "jackcess-V2000-overflowTestV2000.mdb",
                                                   "jackcess-V2003-test2V2003.mdb",
                                                   "jackcess-V2003-testUnicodeCompV2003.mdb",
                                                   "mdbreader-V2003_with-password.mdb"};
    return names;
}
// The paths of the subset the corpus holds (none without the corpus).
inline std::vector<std::filesystem::path> CorpusSubsetFiles() {
    std::vector<std::filesystem::path> files;
    for (const std::string& name : CorpusSubset())
        if (std::filesystem::exists(CorpusDir() / name)) files.push_back(CorpusDir() / name);
    return files;
}

inline bool IsSample(const std::string& name) {
    return name == kSampleJet3 || name == kSampleJet4 || name == kSampleWithPassword;
}
// True when PutTestFile can give the file: always for a stand-in, with the corpus for the rest.
inline bool HaveTestFile(const std::string& name) {
    return IsSample(name) || std::filesystem::exists(CorpusDir() / name);
}

// Writes the test file `name` at `to` (replacing it): a stand-in as the engine wrote it (once
// per process, into a folder removed at exit), a corpus file copied; owner-writable either way.
// False when the corpus lacks the file.
inline bool PutTestFile(const std::string& name, const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    struct Written {
        fs::path folder;
        ~Written() {
            std::error_code ignored;
            if (!folder.empty()) fs::remove_all(folder, ignored);
        }
    };
    static Written written;
    fs::path from = CorpusDir() / name;
    if (IsSample(name)) {
        if (written.folder.empty()) {
            written.folder =
                fs::temp_directory_path() / ("jet_test_files_" + std::to_string(::getpid()));
            fs::create_directories(written.folder);
        }
        from = written.folder / name;
        if (!fs::exists(from)) {
            SampleOptions sample;
            sample.version = name == kSampleJet3 ? Version::kJet3 : Version::kJet4;
            sample.rows = 120;
            if (name == kSampleWithPassword) sample.password = u"password";
            CreateSample(Env::Default(), from.string(), sample);
        }
    }
    if (!fs::exists(from)) return false;
    // Removed first: MinGW's copy_file refuses to overwrite, and a read-only earlier copy
    // cannot be replaced on Windows.
    std::error_code ignored;
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove(to, ignored);
    fs::copy_file(from, to);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return true;
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
