// What the end-to-end tests of the maintenance run share: a run set up the way an operator
// meets it, and the ways a test reads its outcome.
//
// The set-up: the database base.mdb in <temp>/dados with the client databases tavo.mdb
// (Yes/No flag) and tavo1.mdb (Integer flag) beside it, all clear, the program folder
// <temp>/programa, and the window over the given Env; every box is answered OK unless the
// test scripts otherwise. The clock stands still, so the run stamp and every name the run
// builds are known before it starts.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/o_que_fazer.h"
#include "jet/base/env.h"
#include "jet/format/schema.h"
#include "tests/app/harness.h"
#include "tests/support/corpus.h"
#include "tests/support/oracles.h"
#include "tests/support/process.h"

namespace apptest {

using Lines = std::vector<std::string>;

// Between a folder and a name in the paths the run builds: the machine's own separator.
inline const std::string kSep(1, platform::PathStyle::Native().separator);

// The run stamp of the harness's clock: 5 Dec 2026, 14:03:07.
inline constexpr const char* kCarimbo = "051226140307";

inline const std::string kFalha =
    "O Arquivo Não pode ser Reparado/Compactado. Tente de Novo ou Comunique ao responsável.";
inline const std::string kOriginalRetornado =
    "Arquivo Original Retornado. Falha no reparo. Tente novamente.";

// The databases of the runs: the sample databases the engine writes (tests/support/corpus.h:
// memos, indexes, data on several pages).
inline constexpr const char* kJet3Data = testkit::kSampleJet3;
inline constexpr const char* kJet4Data = testkit::kSampleJet4;

// A whole run over a sample database: its file and version, the class the pre-flight finds it
// in (a healthy database, repaired and compacted, or a full one, compacted) and, for a run
// whose compaction fails on a full disk, the backup put back.
struct RunCase {
    const char* file;
    jet::Version version;
    ClasseBanco classe;
    bool restores = false;
};
// Both versions in both classes, each run reaching its success exit.
inline const std::vector<RunCase> kClassesAndVersions = {
    {kJet3Data, jet::Version::kJet3, kClasseReparar},
    {kJet4Data, jet::Version::kJet4, kClasseReparar},
    {kJet3Data, jet::Version::kJet3, kClasseSoCompactar},
    {kJet4Data, jet::Version::kJet4, kClasseSoCompactar}};
// "Class1Jet3", "Class2Jet4Restores", ...: the name of a case in a test's name.
std::string RunCaseName(const ::testing::TestParamInfo<RunCase>& info);

struct Cenario {
    // `env` serves every file operation of the window and the engine (the real one when null).
    explicit Cenario(jet::Env* env = nullptr, jet::Version clients = jet::Version::kJet4);

    apptest::Harness h;
    std::string dados;  // the database's folder
    std::string base, ldb, tavo, tavo1;
    std::string log, copia, extra, reparado, compactado;  // the names the run will build

    // Puts the test file `name` (tests/support/corpus.h) in the database's place. False when
    // the corpus lacks it.
    bool PutDatabase(const std::string& name);
    // Has the engine find the database at its version's maximum size until the first box
    // (the warning) opens, through `env`'s reported sizes: the classification gives 2 and the
    // rest of the run works on the real file. Any on_show already set still runs.
    void LooksFullUntilTheWarning(apptest::PathFaultEnv& env, jet::Version version);
    // Chooses the database and clicks "Iniciar Processo".
    void Run() { h.ChooseAndRun(base); }

    Form1& form() { return *h.form; }
    Lines Log() const { return h.LogMessages(); }
    Lines Boxes() const { return h.BoxTexts(); }
    // The names in the program's folder, sorted.
    Lines ProgramFiles() const;
    // The flag of every row of table tavo in each client database, as mdbtools reads it.
    Lines FlagsTavo() const;
    Lines FlagsTavo1() const;
    bool ClientsLocked() const;
    bool ClientsUnlocked() const;

    // The run's lines, in order, for the stretches every run shares.
    Lines Opening() const;        // " " to "Compactado:...;"
    static Lines Lock(int tipo);  // BloqueioTavos of both client databases
    std::string Aviso() const;    // the warning that names the backups
    // From the classification's finding to the move of the database to its working name.
    Lines UpToTheMove(const std::string& finding) const;
    // Every line of a run that reaches its success exit, for a database of `classe`.
    Lines Success(ClasseBanco classe) const;
    // The run left through its failure exit: kFalha logged and shown last, the window open
    // with the start button hidden and the arrow, the client system locked, and the
    // database's place holding `database` (its bytes).
    void ExpectFailureExit(const std::string& database, const std::string& why) const;
    // The log file's bytes as a run writes `messages`, every line stamped with the clock.
    static std::string LogBytes(const Lines& messages);
};

Lines Concat(std::initializer_list<Lines> parts);

// The exit status of `jetutil check` on the file (0: every structure verified).
int JetutilCheck(const std::string& path);

}  // namespace apptest
