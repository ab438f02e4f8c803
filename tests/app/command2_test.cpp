// Command2_Click: the dialog's four operations in order, and what Text1 and Command1 show
// after a choice or a Cancel.
#include <gtest/gtest.h>

#include "tests/app/harness.h"

namespace {

using apptest::Harness;

TEST(FileSelection, EveryClickSetsTheDialogAnewThenShowsIt) {
    Harness h;
    h.dialog.choices = {"/srv/dados/base.mdb", "/srv/dados/outra.mdb"};
    h.form->Command2->Click();
    h.form->Command2->Click();
    EXPECT_EQ(h.dialog.calls,
              (std::vector<std::string>{"MaxFileSize=500", "FileName=*.mdb", "ShowOpen",
                                        "MaxFileSize=500", "FileName=*.mdb", "ShowOpen"}));
    EXPECT_EQ(h.form->Text1->Text(), "/srv/dados/outra.mdb") << "the second choice only";
    EXPECT_TRUE(h.form->Command1->Visible());
}

TEST(FileSelection, CancelAfterAChoiceClearsThePathAndHidesTheButton) {
    Harness h;
    h.dialog.choices = {"/srv/dados/base.mdb", ""};
    h.form->Command2->Click();
    EXPECT_TRUE(h.form->Command1->Visible());
    h.form->Command2->Click();
    EXPECT_EQ(h.form->Text1->Text(), "<<Nenhum Arquivo Selecionado>>");
    EXPECT_FALSE(h.form->Command1->Visible());
}

TEST(FileSelection, AnyNameIsTakenAsItIsWhateverItsExtensionOrLength) {
    Harness h;
    std::string long_path = "/" + std::string(495, 'p') + ".txt";
    ASSERT_EQ(long_path.size(), 500u);
    h.dialog.choices = {"/srv/dados/planilha.xls", " /srv/dados/base.mdb ", long_path};
    h.form->Command2->Click();
    EXPECT_EQ(h.form->Text1->Text(), "/srv/dados/planilha.xls");
    EXPECT_TRUE(h.form->Command1->Visible());
    h.form->Command2->Click();
    EXPECT_EQ(h.form->Text1->Text(), " /srv/dados/base.mdb ") << "not trimmed";
    h.form->Command2->Click();
    EXPECT_EQ(h.form->Text1->Text(), long_path) << "handed back whole";
}

TEST(FileSelection, AnErrorInTheDialogIsTheRuntimesToReportAndEndsTheProgram) {
    Harness h;
    h.dialog.on_show = [] { throw platform::VbError(32755, "Erro do diálogo"); };
    h.form->Command2->Click();
    ASSERT_EQ(h.BoxTexts().size(), 1u);
    EXPECT_EQ(h.BoxTexts()[0], "Erro em tempo de execução '32755':\n\nErro do diálogo");
    EXPECT_EQ(h.end.ends, 1);
}

TEST(FileSelection, EndingTheProgramInsideAnEventEndsItAtOnce) {
    Harness h;
    h.dialog.on_show = [&] { h.form->End(); };
    h.form->Command2->Click();
    EXPECT_EQ(h.end.ends, 1);
    EXPECT_TRUE(h.BoxTexts().empty());
    EXPECT_EQ(h.form->Text1->Text(), "") << "nothing after the end runs";
}

}  // namespace
