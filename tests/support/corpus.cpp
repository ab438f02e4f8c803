#include "tests/support/corpus.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "jet/base/env.h"
#include "jet/testing/sample.h"
#include "tests/support/process.h"

namespace jet::testkit {

namespace fs = std::filesystem;

fs::path CorpusDir() {
    return JET_CORPUS_DIR;
}
fs::path TestDataDir() {
    return JET_TEST_DATA_DIR;
}

bool HaveCorpus() {
    return fs::is_directory(CorpusDir());
}

std::vector<fs::path> CorpusFiles() {
    std::vector<fs::path> files;
    if (!HaveCorpus()) return files;
    for (const auto& e : fs::directory_iterator(CorpusDir())) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".mdb" || ext == ".mdw" || ext == ".accdb")) {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string CorpusFile(const std::string& name) {
    return (CorpusDir() / name).string();
}

std::vector<ManifestRow> ReadManifest() {
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

std::string CorpusPassword(const fs::path& file) {
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

const std::vector<std::string>& CorpusSubset() {
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

std::vector<fs::path> CorpusSubsetFiles() {
    std::vector<fs::path> files;
    for (const std::string& name : CorpusSubset())
        if (fs::exists(CorpusDir() / name)) files.push_back(CorpusDir() / name);
    return files;
}

bool IsSample(const std::string& name) {
    return name == kSampleJet3 || name == kSampleJet4 || name == kSampleWithPassword;
}

bool HaveTestFile(const std::string& name) {
    return IsSample(name) || fs::exists(CorpusDir() / name);
}

bool PutTestFile(const std::string& name, const fs::path& to) {
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
                fs::temp_directory_path() / ("jet_test_files_" + std::to_string(ProcessId()));
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

std::map<std::string, std::vector<std::string>> ReadList(const std::string& name) {
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

}  // namespace jet::testkit
