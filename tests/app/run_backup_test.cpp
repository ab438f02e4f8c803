// The backups and the move of the database to its working name, each failed by a real fault
// of the file services: the copy to the first backup runs out of disk, the extra backup may
// not be created, the move is refused. The database never left its place, so nothing is
// restored; the run leaves through the failure exit with the client system locked.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "tests/app/run_scenario.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

const std::string kFalhaCopia =
    "O Arquivo de Segurança Não Pode Ser Criado. O Arquivo Principal pode estar em uso.";
const std::string kFalhaCopiaExtra =
    "O Arquivo de Segurança Extra Não Pode Ser Criado. O Arquivo Principal pode estar em uso.";
const std::string kFalhaRenomear =
    "Erro No Processo. O arquivo Não Pode Ser Renomeado.(1) O Arquivo Principal pode estar "
    "sendo udado em algum processo.";

// The lines of a clean pre-flight, up to the warning.
Lines PreFlight(const Cenario& c) {
    return Concat({c.Opening(), Cenario::Lock(-1), {"Erro: Sem Erros.", c.Aviso()}});
}

TEST(RunBackup, AFullDiskDuringTheFirstBackupEndsTheRunWithItsPathLogged) {
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    ASSERT_TRUE(c.PutDatabase(kJet4Data));
    const std::string original = ReadString(c.base);
    env.Fail("write", "compac01_", ENOSPC);

    c.Run();
    EXPECT_EQ(env.fired(), 1);
    EXPECT_EQ(
        c.Log(),
        Concat({PreFlight(c),
                {"Fazendo Copia de Seguranca para " + c.copia, kFalhaCopia + c.copia, kFalha}}));
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), kFalhaCopia, kFalha}));
    c.ExpectFailureExit(original, "the database never left its place");
    // The partial copy went with the failed copy.
    EXPECT_EQ(c.ProgramFiles(), Lines{"Log" + std::string(kCarimbo) + ".txt"});
}

TEST(RunBackup, AnExtraBackupThatMayNotBeCreatedEndsTheRunWithoutAPath) {
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    ASSERT_TRUE(c.PutDatabase(kJet3Data));
    const std::string original = ReadString(c.base);
    env.Fail("open", "compac01E_", EACCES, -1);

    c.Run();
    EXPECT_EQ(c.Log(),
              Concat({PreFlight(c),
                      {"Fazendo Copia de Seguranca para " + c.copia,
                       "Fazendo Copia de Seguranca para " + c.extra, kFalhaCopiaExtra, kFalha}}));
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), kFalhaCopiaExtra, kFalha}));
    c.ExpectFailureExit(original, "the database never left its place");
    EXPECT_EQ(ReadString(c.copia), original) << "the first backup is whole";
    EXPECT_EQ(c.ProgramFiles(), (Lines{"Log" + std::string(kCarimbo) + ".txt",
                                       "compac01_" + std::string(kCarimbo) + ".mdb"}));
}

TEST(RunBackup, AMoveThatIsRefusedEndsTheRunWithNothingToRestore) {
    // An I/O error, and a working folder on another file system (the move would be a copy).
    for (int code : {EIO, EXDEV}) {
        SCOPED_TRACE(code);
        PathFaultEnv env(jet::Env::Default());
        Cenario c(&env);
        ASSERT_TRUE(c.PutDatabase(kJet4Data));
        const std::string original = ReadString(c.base);
        env.Fail("rename", "compac02_", code);

        c.Run();
        EXPECT_EQ(env.fired(), 1);
        EXPECT_EQ(c.Log(),
                  Concat({PreFlight(c),
                          {"Fazendo Copia de Seguranca para " + c.copia,
                           "Fazendo Copia de Seguranca para " + c.extra,
                           "Renoemando Arquivo para " + c.reparado, kFalhaRenomear, kFalha}}));
        EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), kFalhaRenomear, kFalha}));
        c.ExpectFailureExit(original, "the database never left its place");
        EXPECT_EQ(ReadString(c.copia), original);
        EXPECT_EQ(ReadString(c.extra), original);
        EXPECT_FALSE(fs::exists(c.reparado));
    }
}

}  // namespace
}  // namespace apptest
