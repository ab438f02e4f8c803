// What the tests of the database services share: real Jet files (the client fixtures and
// the sample databases the engine writes), an outside reader of the flag (mdbtools), an Env
// that tells which file-system operation creates the lock file, and a window set up for one
// procedure.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/format/schema.h"
#include "jet/testing/fault_env.h"
#include "jet/testing/fixtures.h"
#include "tests/app/harness.h"
#include "tests/support/corpus.h"
#include "tests/support/oracles.h"
#include "tests/support/process.h"

namespace apptest {

namespace fs = std::filesystem;

// Writes a test database at `to`: the stand-ins the engine writes (the samples of
// tests/support/corpus.h) always; a corpus file only when the corpus is there (false,
// and the test should skip, without it).
inline bool CopyTestFile(const std::string& name, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    return testkit::PutTestFile(name, to);
}

#define COPY_TEST_FILE_OR_SKIP(name, to)                                                 \
    do {                                                                                 \
        if (!apptest::CopyTestFile(name, to)) GTEST_SKIP() << "no corpus file " << name; \
    } while (0)

// A healthy database of each version, written by the engine: tables clientes and pedidos
// (jet/testing/sample.h), indexes, memos, data on several pages.
inline constexpr const char* kJet3File = testkit::kSampleJet3;
inline constexpr const char* kJet4File = testkit::kSampleJet4;

// A client database written by the engine: table tavo with kTavoRows rows whose flag is
// mixed, bloqueado Yes/No (tavo.mdb) or Integer (tavo1.mdb).
inline void MakeClientFixture(const std::string& path, bool boolean_flag,
                              jet::Version version = jet::Version::kJet4) {
    fs::create_directories(fs::path(path).parent_path());
    jet::CreateTavoFixture(jet::Env::Default(), path, version,
                           boolean_flag ? jet::TavoFlag::kBoolean : jet::TavoFlag::kInteger);
}
inline constexpr size_t kTavoRows = jet::kTavoRows;

// The flag of every row of table tavo, as mdbtools reads it.
inline std::vector<std::string> Flags(const std::string& path) {
    return testkit::ExportColumn(path, "tavo", "bloqueado");
}

// Passes everything to another Env and records, for each file opened, the sequence number a
// FaultInjectingEnv standing over it gave that open: so a test can fail exactly the open that
// creates a lock file.
class OpenRecorder final : public jet::EnvWrapper {
  public:
    explicit OpenRecorder(jet::Env* target) : EnvWrapper(target) {}
    void CountWith(const jet::FaultInjectingEnv* counter) { counter_ = counter; }

    struct Opened {
        uint64_t operation;
        std::string path;
        jet::OpenMode mode;
    };
    std::vector<Opened> opened;

    // The operation number of the first open of a path ending in `suffix`; 0 when none.
    uint64_t FirstOpenOf(const std::string& suffix) const {
        for (const Opened& o : opened) {
            if (o.path.size() >= suffix.size() &&
                o.path.compare(o.path.size() - suffix.size(), suffix.size(), suffix) == 0)
                return o.operation;
        }
        return 0;
    }

    std::unique_ptr<jet::File> Open(const std::string& path, jet::OpenMode mode) override {
        opened.push_back({counter_ ? counter_->operations() : 0, path, mode});
        return EnvWrapper::Open(path, mode);
    }

  private:
    const jet::FaultInjectingEnv* counter_ = nullptr;
};

// A window with the paths of one procedure set the way the run sets them: the main database
// `base.mdb` in <temp>/dados with its lock file and the client databases beside it, and the
// log file in the program's folder.
struct Window {
    explicit Window(jet::Env* env = nullptr) : h(apptest::Style::kNative, env) {
        folder = (h.dir.path() / "dados").string();
        fs::create_directories(folder);
        Form1& f = *h.form;
        f.ArquivoPrincipal = folder + "/base.mdb";
        f.ArquivoLDB = folder + "/base.ldb";
        f.ArquivoTavo = folder + "/tavo.mdb";
        f.ArquivoTavo1 = folder + "/tavo1.mdb";
        f.ArquivoLog = h.program_folder + "/Log051226140307.txt";
    }
    Form1& form() { return *h.form; }
    std::vector<std::string> Log() const { return h.LogMessages(); }

    apptest::Harness h;
    std::string folder;
};

}  // namespace apptest
