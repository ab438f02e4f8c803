// The files the tests read: the shared corpus of real files (JET_CORPUS_DIR; tests that need
// it skip without it) with its manifest, the engine-written stand-ins that always run, and the
// lists under tests/data.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace jet::testkit {

std::filesystem::path CorpusDir();
std::filesystem::path TestDataDir();
bool HaveCorpus();

// The Jet files of the corpus (.mdb, .mdw, .accdb), sorted by name.
std::vector<std::filesystem::path> CorpusFiles();
// The path of a corpus file by its name (whether it exists or not).
std::string CorpusFile(const std::string& name);

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
std::vector<ManifestRow> ReadManifest();

// Password of the corpus files that have one: the manifest's notes say "password 'xyz'"; the
// mdb-reader samples ("with-password" in their names, as the engine-written stand-in below) use
// "password".
std::string CorpusPassword(const std::filesystem::path& file);

// The test files: corpus files by their names, and stand-ins the engine writes (the sample
// database of jet/testing/sample.h, 120 rows of pedidos: indexes, memos kept out of their rows,
// data on several pages) for what must run without the corpus.
inline constexpr const char* kSampleJet3 = "sample-jet3.mdb";
inline constexpr const char* kSampleJet4 = "sample-jet4.mdb";
inline constexpr const char* kSampleWithPassword = "sample-jet4-with-password.mdb";  // "password"

// A few corpus files for the quicker suites: both versions, deleted columns, rows that grew
// and moved, memo and OLE values, compressed Unicode, a password.
const std::vector<std::string>& CorpusSubset();
// The paths of the subset the corpus holds (none without the corpus).
std::vector<std::filesystem::path> CorpusSubsetFiles();

bool IsSample(const std::string& name);
// True when PutTestFile can give the file: always for a stand-in, with the corpus for the rest.
bool HaveTestFile(const std::string& name);

// Writes the test file `name` at `to` (replacing it): a stand-in as the engine wrote it (once
// per process, into a folder removed at exit), a corpus file copied; owner-writable either way.
// False when the corpus lacks the file.
bool PutTestFile(const std::string& name, const std::filesystem::path& to);

// Rows of a tab-separated list under tests/data, without '#' comments: first field -> rest.
std::map<std::string, std::vector<std::string>> ReadList(const std::string& name);

}  // namespace jet::testkit
