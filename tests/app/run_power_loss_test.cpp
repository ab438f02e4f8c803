// The power-loss sweep of whole runs: one run recorded through the power-loss Env, then the
// file system as a power cut could leave it after each of the run's file operations, in every
// way of losing what was not synced. Each state is judged as the operator finds it after the
// reboot:
//   - the database's place holds the original's bytes or the compacted database's; or it is
//     empty and the run's log, as far as it reached the disk, names in its warning a backup
//     that holds the original's bytes;
//   - each client database passes the checker, its rows as they were but for the flag, which
//     holds its old value or the lock;
//   - once the run has returned, the database's place holds what it reported: the compacted
//     database, or (a run whose compaction fails on a full disk) the original put back.
//
// The whole sweep, which also applies every prefix of the entries (creations, renames,
// removals) no folder sync has made durable with each way of losing, runs with
//   COMPACTADOR_FULL_POWER_LOSS_SWEEP=1 build/tests/app/form_tests
//       --gtest_filter='*RunPowerLoss*'
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

#include "db/o_que_fazer.h"
#include "jet/database/database.h"
#include "jet/testing/power_loss_env.h"
#include "tests/app/run_scenario.h"
#include "tests/support/power_loss.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;
using jet::PowerLossEnv;

// One run over: window -> sizes seam -> power-loss journal -> the real file system.
struct Recorded {
    explicit Recorded(const RunCase& p) : journal(jet::Env::Default()), sizes(&journal), c(&sizes) {
        EXPECT_TRUE(c.PutDatabase(p.file));
        if (p.classe == kClasseSoCompactar) c.LooksFullUntilTheWarning(sizes, p.version);
        if (p.restores) sizes.Fail("write", "compac03_", ENOSPC);
    }
    PowerLossEnv journal;
    PathFaultEnv sizes;
    Cenario c;
    std::string Rel(const std::string& path) const {
        return fs::relative(path, c.h.dir.path()).generic_string();
    }
};

// The judge of the client databases: their flags before the run, or locked.
testkit::FlagJudge ClientJudge(const std::string& path, const std::string& scratch) {
    fs::copy_file(path, scratch, fs::copy_options::overwrite_existing);
    testkit::FlagJudge judge("tavo", "bloqueado");
    judge.Expect(path, {});
    std::set<std::string> allowed = judge.before().flags;
    jet::Database::Open(jet::Env::Default(), scratch)->Execute("update tavo set bloqueado = -1");
    const auto locked = judge.Read(scratch);
    allowed.insert(locked.flags.begin(), locked.flags.end());
    judge.Expect(path, allowed);
    return judge;
}

// The backups the last warning of the log names ("... RESTAURE O ARQUIVO <a> OU <b> COMO ").
std::vector<std::string> BackupsNamed(const std::string& log) {
    const std::string head = "RESTAURE O ARQUIVO ", tail = " COMO ";
    const size_t at = log.rfind(head);
    if (at == std::string::npos) return {};
    const size_t end = log.find(tail, at);
    if (end == std::string::npos) return {};
    std::string names = log.substr(at + head.size(), end - at - head.size());
    const size_t ou = names.find(" OU ");
    if (ou == std::string::npos) return {names};
    return {names.substr(0, ou), names.substr(ou + 4)};
}

class RunPowerLoss : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunPowerLoss, EveryCutLeavesTheDatabaseOrANamedBackupWholeAndTheClientsSound) {
    const RunCase p = GetParam();
    const bool full = std::getenv("COMPACTADOR_FULL_POWER_LOSS_SWEEP") != nullptr;

    Recorded r(p);
    Cenario& c = r.c;
    const std::string original = ReadString(c.base);
    TempDir scratch;
    testkit::FlagJudge tavo = ClientJudge(c.tavo, scratch.str() + "/tavo.mdb");
    testkit::FlagJudge tavo1 = ClientJudge(c.tavo1, scratch.str() + "/tavo1.mdb");
    ASSERT_TRUE(tavo.before().clean && tavo1.before().clean);

    r.journal.Begin(c.h.dir.str(), testkit::ReadTree(c.h.dir.path()));
    c.Run();
    if (p.restores) {
        ASSERT_EQ(c.h.end.ends, 0);
        ASSERT_EQ(c.Boxes().back(), kFalha);
        const Lines log = c.Log();
        ASSERT_GE(log.size(), 2u);
        ASSERT_EQ(log[log.size() - 2], kOriginalRetornado);
    } else {
        ASSERT_EQ(c.h.end.ends, 1);
        ASSERT_EQ(c.Boxes().back(), "Processo Concluido.");
    }
    // What the run leaves in the database's place: the compacted database, or the original
    // put back.
    const std::string last = ReadString(c.base);
    const std::string compacted = p.restores ? std::string() : last;
    ASSERT_EQ(p.restores, last == original);

    const std::string base = r.Rel(c.base), log = r.Rel(c.log);
    const std::string tavo_rel = r.Rel(c.tavo), tavo1_rel = r.Rel(c.tavo1);
    const std::vector<size_t> cuts = r.journal.EveryCut();
    int states = 0, failures = 0, in_place = 0, from_backup = 0;
    for (size_t cut : cuts) {
        // The ways of losing; the whole sweep also tries every prefix of the unsynced entries
        // with each.
        std::vector<std::pair<PowerLossEnv::Loss, std::optional<size_t>>> ways;
        for (PowerLossEnv::Loss loss : PowerLossEnv::kEveryLoss) {
            ways.push_back({loss, std::nullopt});
            if (!full) continue;
            for (size_t k = 0; k <= r.journal.UnsyncedEntries(cut); ++k) ways.push_back({loss, k});
        }
        for (const auto& [loss, entries_kept] : ways) {
            const PowerLossEnv::Files files = r.journal.After(cut, loss, entries_kept);
            ++states;
            std::string verdict;
            auto at = files.find(base);
            if (cut == r.journal.events() && (at == files.end() || at->second != last)) {
                verdict =
                    "the run has returned, but the database's place does not hold what it "
                    "reported";
            } else if (at != files.end()) {
                if (at->second == original || at->second == compacted) {
                    ++in_place;
                } else {
                    verdict =
                        "the database's place holds neither the original nor the compacted "
                        "database";
                }
            } else {
                auto l = files.find(log);
                verdict = l == files.end() ? "no database in its place and no log"
                                           : "no database in its place and no intact backup named "
                                             "in the log";
                if (l != files.end()) {
                    for (const std::string& named : BackupsNamed(l->second)) {
                        auto b = files.find(r.Rel(named));
                        if (b != files.end() && b->second == original) {
                            verdict.clear();
                            ++from_backup;
                            break;
                        }
                    }
                }
            }
            for (auto [rel, judge] : {std::pair{tavo_rel, &tavo}, std::pair{tavo1_rel, &tavo1}}) {
                if (!verdict.empty()) break;
                auto t = files.find(rel);
                verdict = t == files.end() ? rel + " is gone"
                                           : judge->Judge(t->second, scratch.str() + "/cut.mdb");
                if (!verdict.empty()) verdict = rel + ": " + verdict;
            }
            if (verdict.empty()) continue;
            ++failures;
            ADD_FAILURE() << "cut after " << cut << " of " << r.journal.events() << " operations ("
                          << (cut ? r.journal.Describe(cut - 1) : "none") << "), "
                          << PowerLossEnv::LossName(loss)
                          << (entries_kept
                                  ? ", " + std::to_string(*entries_kept) + " unsynced entries kept"
                                  : std::string())
                          << ": " << verdict;
            if (failures >= 5) return;
        }
    }
    std::printf(
        "power loss class %d %s%s: %zu operations, %zu cuts, %d states judged (%d with the "
        "database in place, %d with a named backup), %d failures\n",
        p.classe, p.file, p.restores ? " (restores)" : "", r.journal.events(), cuts.size(), states,
        in_place, from_backup, failures);
}

// The runs of both classes and versions, and two whose compaction fails and that restore.
std::vector<RunCase> PowerLossCases() {
    std::vector<RunCase> cases = kClassesAndVersions;
    cases.push_back({kJet4Data, jet::Version::kJet4, kClasseReparar, true});
    cases.push_back({kJet3Data, jet::Version::kJet3, kClasseSoCompactar, true});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ClassesAndVersions, RunPowerLoss, ::testing::ValuesIn(PowerLossCases()),
                         RunCaseName);

}  // namespace
}  // namespace apptest
