// The runtime services under the window: error numbers, text conversion, formats, the file
// services over jet::Env (with injected faults) and the parent-folder rule.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "jet/database/lock_file.h"
#include "jet/testing/fault_env.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "tests/app/harness.h"

namespace {

namespace fs = std::filesystem;
using apptest::ListFiles;
using apptest::ReadString;
using apptest::TempDir;

int NumberOf(const std::function<void()>& statement) {
    platform::ErrObject err;
    if (!err.Capture(statement)) return 0;
    return err.Number;
}

TEST(ErrorNumbers, EveryErrnoTheFileServicesMeetHasItsVbNumber) {
    struct Case {
        int code;
        bool folder_missing;
        int number;
    } cases[] = {
        {ENOENT, false, 53}, {ENOENT, true, 76},  {ENOTDIR, false, 76}, {EEXIST, false, 58},
        {ENOSPC, false, 61}, {EDQUOT, false, 61}, {EACCES, false, 70},  {EPERM, false, 70},
        {EROFS, false, 70},  {EXDEV, false, 74},  {EISDIR, false, 75},  {ENAMETOOLONG, false, 75},
        {EIO, false, 57},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::VbNumberForErrno(c.code, c.folder_missing), c.number) << c.code;
    }
    EXPECT_EQ(platform::VbText(53), "Arquivo não encontrado");
    EXPECT_EQ(platform::VbText(61), "Disco cheio");
    EXPECT_EQ(platform::VbText(70), "Permissão negada");
    EXPECT_EQ(platform::VbText(74), "Não é possível renomear com unidade de disco diferente");
    EXPECT_EQ(platform::VbText(75), "Erro de acesso a caminho/arquivo");
    EXPECT_EQ(platform::VbText(76), "Caminho não encontrado");
}

// Every number the engine has a message for (jet::ErrorText gives more than its generic
// text) has a Portuguese one of its own, which names the object exactly when the engine's
// names it.
TEST(ErrorTexts, EveryNumberTheEngineRaisesHasAPortugueseTextNamingWhatTheEnglishNames) {
    const std::string name = "C:\\Dados\\vendas.mdb";
    int numbers = 0;
    for (int number = 1; number < 4000; ++number) {
        const std::string english = jet::ErrorText(number, name);
        if (english == "Jet error " + std::to_string(number) + " (" + name + ").") continue;
        ++numbers;
        const std::string portuguese = platform::JetText(number, name);
        SCOPED_TRACE(std::to_string(number) + ": " + english + " / " + portuguese);
        EXPECT_NE(portuguese, english);
        EXPECT_EQ(portuguese.find("Erro reservado"), std::string::npos) << "no text of its own";
        EXPECT_EQ(portuguese.find(name) != std::string::npos,
                  english.find(name) != std::string::npos);
        EXPECT_LE(portuguese.size(), 160u + name.size()) << "short enough for a box";
    }
    EXPECT_GE(numbers, 30);
    EXPECT_EQ(platform::JetText(3343, "a.mdb"),
              "Formato de banco de dados não reconhecido 'a.mdb'.");
    EXPECT_EQ(platform::JetText(3024, "a.mdb"), "Não foi possível encontrar o arquivo 'a.mdb'.");
    EXPECT_EQ(platform::JetText(3045, "a.mdb"),
              "Não foi possível usar 'a.mdb'; o arquivo já está em uso.");
    EXPECT_EQ(platform::JetText(61), "Disco cheio");
    EXPECT_EQ(platform::JetText(3999), "Erro reservado (3999); não há mensagem para este erro.");
}

TEST(ErrorObject, KeepsNumberAndTextOfEveryKindOfFailureButNotTheEndOfTheProgram) {
    platform::ErrObject err;
    // An engine error: its Portuguese text, and the engine's own as the detail when it says
    // more than the standard message.
    EXPECT_TRUE(
        err.Capture([] { jet::RaiseWithDetail(3343, "a.mdb", "(page 7: bad row count)"); }));
    EXPECT_EQ(err.Number, 3343);
    EXPECT_EQ(err.Description, "Formato de banco de dados não reconhecido 'a.mdb'.");
    EXPECT_EQ(err.Detail, "Unrecognized database format 'a.mdb'. (page 7: bad row count)");
    EXPECT_TRUE(err.Capture([] { jet::Raise(3024, "a.mdb"); }));
    EXPECT_EQ(err.Description, "Não foi possível encontrar o arquivo 'a.mdb'.");
    EXPECT_EQ(err.Detail, "") << "nothing beyond the standard message";
    // A VB error keeps its text, whatever its number.
    EXPECT_TRUE(err.Capture([] { throw platform::VbError(3343, "Formato não reconhecido"); }));
    EXPECT_EQ(err.Description, "Formato não reconhecido");
    EXPECT_EQ(err.Detail, "");
    EXPECT_TRUE(err.Capture([] { throw jet::OsError(ENOSPC, "write", "/x"); }));
    EXPECT_EQ(err.Number, 61);
    EXPECT_EQ(err.Description, "Disco cheio");
    EXPECT_NE(err.Detail.find("/x"), std::string::npos) << err.Detail;
    EXPECT_TRUE(err.Capture([] { throw std::runtime_error("inesperado"); }));
    EXPECT_EQ(err.Number, 51);
    EXPECT_EQ(err.Description, "Erro interno");
    EXPECT_EQ(err.Detail, "inesperado");
    EXPECT_FALSE(err.Capture([] {}));
    EXPECT_EQ(err.Number, 51) << "a statement that succeeds leaves the error as it was";
    err.Clear();
    EXPECT_EQ(err.Number, 0);
    EXPECT_TRUE(err.Description.empty());
    EXPECT_TRUE(err.Detail.empty());
    EXPECT_THROW(err.Capture([] { throw platform::EndProgram(); }), platform::EndProgram);
}

TEST(ErrorObject, AFailedTestCountsAsTrueUnderContinueOnError) {
    platform::ErrObject err;
    EXPECT_TRUE(platform::ResumeNextTest(err, [] { return true; }));
    EXPECT_FALSE(platform::ResumeNextTest(err, [] { return false; }));
    EXPECT_EQ(err.Number, 0);
    EXPECT_TRUE(platform::ResumeNextTest(err, []() -> bool { throw platform::VbError(76); }));
    EXPECT_EQ(err.Number, 76);
    int after = 0;
    platform::ResumeNext(err, [] { throw platform::VbError(70); });
    platform::ResumeNext(err, [&] { after = 1; });
    EXPECT_EQ(after, 1) << "the next statement runs";
    EXPECT_EQ(err.Number, 70);
}

TEST(Text, Windows1252KeepsPortugueseAndMarksWhatItCannotWrite) {
    EXPECT_EQ(platform::ToCp1252("Não Existe. ATENÇÂO!! Usuários"),
              "N\xe3o Existe. ATEN\xc7\xc2O!! Usu\xe1rios");
    EXPECT_EQ(platform::ToCp1252("€ – “x” …"), "\x80 \x96 \x93x\x94 \x85");
    EXPECT_EQ(platform::ToCp1252("日本"), "??");
    EXPECT_EQ(platform::ToCp1252("a\xff"
                                 "b\xc3"),
              "a?b?")
        << "bytes that are not UTF-8";
    EXPECT_EQ(platform::ToCp1252(""), "");
}

TEST(Text, LenAndLeftCountCharactersAndLeftRefusesANegativeLength) {
    EXPECT_EQ(platform::Len("base.mdb"), 8);
    EXPECT_EQ(platform::Len("ação"), 4);
    EXPECT_EQ(platform::Len("😀"), 2) << "two UTF-16 units, as VB counts";
    EXPECT_EQ(platform::Left("/dados/ação.mdb", platform::Len("/dados/ação.mdb") - 4),
              "/dados/ação");
    EXPECT_EQ(platform::Left("abc", 10), "abc");
    EXPECT_EQ(platform::Left("abc", 0), "");
    EXPECT_EQ(NumberOf([] { platform::Left("abc", -1); }), 5);
}

TEST(Clock, FormatsCarryLeadingZerosAndTheLocaleSeparators) {
    platform::DateTime t{2026, 3, 5, 4, 7, 9};
    EXPECT_EQ(platform::FormatDdMmYyyy(t), "05/03/2026");
    EXPECT_EQ(platform::FormatHhMmSs(t), "04:07:09");
    EXPECT_EQ(platform::FormatDdMmYy(t), "050326");
    EXPECT_EQ(platform::FormatHhMmSsCompact(t), "040709");
    platform::DateTime late{2031, 12, 31, 23, 59, 58};
    EXPECT_EQ(platform::FormatDdMmYy(late) + platform::FormatHhMmSsCompact(late), "311231235958");
    platform::DateTime now = platform::SystemClock().Now();
    EXPECT_GE(now.year, 2024);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.hour >= 0 && now.hour <= 23);
}

class FileServices : public ::testing::Test {
  protected:
    TempDir dir;
    platform::FileSystem files{jet::Env::Default(), platform::PathStyle::Posix()};
    std::string Path(const std::string& relative) const { return (dir.path() / relative).string(); }
};

TEST_F(FileServices, TheExistenceTestFindsPlainFilesOnly) {
    std::string plain = dir.MakeFile("dados/base.mdb");
    std::string hidden = dir.MakeFile("dados/.oculto.mdb");
    fs::create_directories(Path("dados/pasta.mdb"));
    EXPECT_TRUE(files.Exists(plain));
    EXPECT_FALSE(files.Exists(Path("dados/outro.mdb")));
    EXPECT_FALSE(files.Exists(Path("dados/pasta.mdb"))) << "a folder";
    EXPECT_FALSE(files.Exists(hidden)) << "a hidden file";
    EXPECT_FALSE(files.Exists(Path("dados") + "/")) << "a folder named with its separator";
    EXPECT_FALSE(files.Exists(Path("falta/base.mdb")));
    EXPECT_FALSE(files.Exists(""));
    EXPECT_FALSE(files.Exists(Path("dados/*.mdb"))) << "the exact path, not a pattern";
    fs::create_directories(Path(".oculta"));
    EXPECT_TRUE(files.Exists(dir.MakeFile(".oculta/base.mdb"))) << "only the name counts";
}

TEST_F(FileServices, CopyReplacesTheDestinationAndLeavesNothingElse) {
    // Empty; short of a disk block; a block and some bytes, past a buffer of the direct copy;
    // past two of the parts sent to the disk while the copy goes on, and not a whole part more.
    std::string from = Path("a/base.mdb"), to;
    for (size_t size :
         {size_t{0}, size_t{4095}, (size_t{4} << 20) + 4096 + 17, (size_t{17} << 20) + 3}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
        dir.MakeFile("a/base.mdb", bytes);
        to = dir.MakeFile("b/copia.mdb", "antiga");
        files.Copy(from, to);
        EXPECT_EQ(ReadString(to), bytes) << size << " bytes";
        EXPECT_EQ(ListFiles(dir.path()), (std::vector<std::string>{"a/base.mdb", "b/copia.mdb"}));
    }
    EXPECT_EQ(NumberOf([&] { files.Copy(Path("a/falta.mdb"), Path("b/x.mdb")); }), 53);
    EXPECT_EQ(NumberOf([&] { files.Copy(Path("falta/x.mdb"), Path("b/x.mdb")); }), 76);
    EXPECT_EQ(NumberOf([&] { files.Copy(from, Path("falta/x.mdb")); }), 76);
    EXPECT_EQ(NumberOf([&] { files.Copy(Path("a"), Path("b/x.mdb")); }), 75);
}

TEST_F(FileServices, ACopyThatFailsAnywhereLeavesNoPartialDestination) {
    std::string from = dir.MakeFile("a/base.mdb", std::string(2 << 20, 'q'));
    jet::FaultInjectingEnv counting(jet::Env::Default());
    platform::FileSystem counted(&counting, platform::PathStyle::Posix());
    counted.Copy(from, Path("b0.mdb"));
    uint64_t operations = counting.operations();
    ASSERT_GE(operations, 6u);  // open, open, reads, writes, sync, rename, folder sync
    fs::remove(Path("b0.mdb"));

    for (int code : {ENOSPC, EACCES, EIO}) {
        for (uint64_t nth = 1; nth <= operations; ++nth) {
            jet::FaultInjectingEnv faulty(jet::Env::Default());
            faulty.FailAt(nth, code);
            platform::FileSystem failing(&faulty, platform::PathStyle::Posix());
            std::string to = Path("b.mdb");
            int number = NumberOf([&] { failing.Copy(from, to); });
            bool synced_folder_only = nth == operations;  // the rename already happened
            if (synced_folder_only) {
                EXPECT_EQ(ReadString(to), ReadString(from));
            } else {
                EXPECT_FALSE(fs::exists(to)) << "operation " << nth;
            }
            EXPECT_EQ(number, platform::VbNumberForErrno(code)) << "operation " << nth;
            EXPECT_EQ(ListFiles(dir.path()).size(), synced_folder_only ? 2u : 1u)
                << "no temporary left behind at operation " << nth;
            fs::remove(to);
        }
    }
}

TEST_F(FileServices, DeleteAndRenameGiveTheRuntimeNumbers) {
    std::string a = dir.MakeFile("a.mdb");
    std::string b = dir.MakeFile("b.mdb");
    fs::create_directories(Path("pasta"));
    EXPECT_EQ(NumberOf([&] { files.Rename(a, b); }), 58) << "the destination exists";
    EXPECT_EQ(NumberOf([&] { files.Rename(Path("falta.mdb"), Path("c.mdb")); }), 53);
    EXPECT_EQ(NumberOf([&] { files.Rename(a, Path("falta/c.mdb")); }), 76);
    files.Rename(a, Path("pasta/c.mdb"));  // a new folder moves the file
    EXPECT_FALSE(fs::exists(a));
    EXPECT_TRUE(fs::exists(Path("pasta/c.mdb")));

    files.Delete(b);
    EXPECT_FALSE(fs::exists(b));
    EXPECT_EQ(NumberOf([&] { files.Delete(b); }), 53);
    EXPECT_EQ(NumberOf([&] { files.Delete(Path("falta/b.mdb")); }), 76);
    EXPECT_EQ(NumberOf([&] { files.Delete(Path("pasta")); }), 75);

    jet::FaultInjectingEnv faulty(jet::Env::Default());
    faulty.FailAt(1, EXDEV);
    platform::FileSystem across(&faulty, platform::PathStyle::Posix());
    EXPECT_EQ(NumberOf([&] { across.Rename(Path("pasta/c.mdb"), Path("d.mdb")); }), 74);
}

TEST_F(FileServices, ALockFileWithLiveUsersCannotBeDeletedAndAStaleOneCan) {
    std::string ldb = Path("base.ldb");
    auto user = jet::LockFile::Join(jet::Env::Default(), ldb, "estacao1");
    EXPECT_EQ(NumberOf([&] { files.Delete(ldb); }), 70);
    EXPECT_TRUE(fs::exists(ldb));
    std::string stale = Path("velha.ldb");
    fs::copy_file(ldb, stale);  // the same records, no live user
    files.Delete(stale);
    EXPECT_FALSE(fs::exists(stale));
    user.reset();
}

TEST_F(FileServices, AppendLineWritesWindows1252WithCrLfAndCreatesTheFile) {
    std::string log = Path("Log.txt");
    files.AppendLine(log, "Não");
    files.AppendLine(log, "");
    files.AppendLine(log, "ATENÇÂO!!");
    EXPECT_EQ(ReadString(log), "N\xe3o\r\n\r\nATEN\xc7\xc2O!!\r\n");
    EXPECT_EQ(NumberOf([&] { files.AppendLine(Path("falta/Log.txt"), "x"); }), 76);
    EXPECT_EQ(NumberOf([&] { files.AppendLine(dir.str(), "x"); }), 75);

    jet::FaultInjectingEnv full(jet::Env::Default());
    full.FailAt(2, ENOSPC);  // open, then the write
    platform::FileSystem failing(&full, platform::PathStyle::Posix());
    EXPECT_EQ(NumberOf([&] { failing.AppendLine(log, "perdida"); }), 61);
}

TEST(FileSystemObject, ParentFolderNameForWindowsAndPosixPaths) {
    platform::FileSystemObject windows(platform::PathStyle::Windows());
    EXPECT_EQ(windows.GetParentFolderName("C:\\Dados\\base.mdb"), "C:\\Dados");
    EXPECT_EQ(windows.GetParentFolderName("C:\\base.mdb"), "C:\\");
    EXPECT_EQ(windows.GetParentFolderName("C:\\Dados\\Sub\\"), "C:\\Dados");
    EXPECT_EQ(windows.GetParentFolderName("\\\\servidor\\dados\\base.mdb"), "\\\\servidor\\dados");
    EXPECT_EQ(windows.GetParentFolderName("C:/Dados/base.mdb"), "C:/Dados");
    EXPECT_EQ(windows.GetParentFolderName("base.mdb"), "");
    EXPECT_EQ(windows.GetParentFolderName("C:\\"), "");

    platform::FileSystemObject posix(platform::PathStyle::Posix());
    EXPECT_EQ(posix.GetParentFolderName("/srv/dados/base.mdb"), "/srv/dados");
    EXPECT_EQ(posix.GetParentFolderName("/base.mdb"), "/");
    EXPECT_EQ(posix.GetParentFolderName("/srv/dados//"), "/srv");
    EXPECT_EQ(posix.GetParentFolderName("dados\\base.mdb"), "") << "a backslash is a name";
    EXPECT_EQ(posix.GetParentFolderName("base.mdb"), "");
}

}  // namespace
