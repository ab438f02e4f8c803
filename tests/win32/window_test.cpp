// The Windows window: what it made of every control of the layout table (app/layout.h: class,
// text, style, place, font and colour, at two resolutions), the frame and icon, focus and tab
// order; the procedures over it (file choice, log lines, the list, a close during a run); and
// whole maintenance runs of both classes on a bloated database written by the engine, the log
// file checked line by line and every row read back.
//
// With COMPACTADOR_KEEP_RUN=FOLDER the whole runs leave the database before and after the run
// and the log in FOLDER (<class>-original.mdb, <class>-compactado.mdb, <class>-log.txt), for
// tests/windows_window.sh to read back with mdbtools.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/layout.h"
#include "app/win32/window.h"
#include "jet/testing/sample.h"
#include "platform/win32/win32_services.h"
#include "tests/app/harness.h"
#include "tests/app/run_scenario.h"
#include "tests/support/process.h"
#include "tests/support/rows.h"

namespace {

namespace fs = std::filesystem;
using apptest::Cenario;
using apptest::Harness;
using apptest::Lines;
using apptest::PathFaultEnv;
using apptest::ReadString;
using ui::Win32Window;

std::string TextOf(HWND w) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return platform::Utf8(text);
}

std::wstring ClassOf(HWND w) {
    wchar_t name[64] = {};
    ::GetClassNameW(w, name, 64);
    return name;
}

// The control's place in the window's client area.
RECT PlaceOf(HWND w) {
    RECT r;
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, ::GetParent(w), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

LOGFONTW FontOf(HWND w) {
    LOGFONTW font{};
    auto handle = reinterpret_cast<HFONT>(::SendMessageW(w, WM_GETFONT, 0, 0));
    ::GetObjectW(handle, sizeof font, &font);
    return font;
}

// The Windows class each kind of control of the layout becomes, with the style bits it must
// have (WS_TABSTOP on the controls that take focus).
struct Made {
    const wchar_t* kind;
    DWORD style;
};

Made MadeOf(const ui::ControlLayout& c) {
    const DWORD tab = WS_TABSTOP;
    switch (c.kind) {
        case ui::ControlKind::kButton:
            return {L"Button", tab};
        case ui::ControlKind::kLabel:
            return {L"Static", static_cast<DWORD>(SS_NOPREFIX) |
                                   (c.alignment == ui::Alignment::kCentre ? SS_CENTER : SS_LEFT)};
        case ui::ControlKind::kTextBox:
            return {L"Edit", tab | ES_AUTOHSCROLL};
        case ui::ControlKind::kMultiLineTextBox:
            return {L"Edit", tab | ES_MULTILINE | WS_VSCROLL | ES_WANTRETURN};
        case ui::ControlKind::kListBox:
            return {L"ListBox", tab | LBS_NOINTEGRALHEIGHT};
    }
    return {L"", 0};
}

class Win32Layout : public ::testing::TestWithParam<int> {};

TEST_P(Win32Layout, EveryControlOfTheLayoutTableAtTheResolution) {
    const int dpi = GetParam();
    ui::Win32Options options;
    options.dpi = dpi;
    Win32Window w(options);
    w.Show();
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    for (int id = 0; id < ui::kControlCount; ++id) {
        const ui::ControlLayout& e = ui::kForm1.controls[id];
        const HWND control = w.control_windows[id];
        const Made made = MadeOf(e);
        SCOPED_TRACE(e.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(_wcsicmp(ClassOf(control).c_str(), made.kind), 0);
        EXPECT_EQ(TextOf(control), e.caption);
        const RECT r = PlaceOf(control);
        EXPECT_EQ(r.left, e.left * dpi / 1440);
        EXPECT_EQ(r.top, e.top * dpi / 1440);
        EXPECT_EQ(r.right - r.left, e.width * dpi / 1440);
        EXPECT_EQ(r.bottom - r.top, e.height * dpi / 1440);
        const LONG style = ::GetWindowLongW(control, GWL_STYLE);
        EXPECT_EQ(static_cast<DWORD>(style) & made.style, made.style);
        EXPECT_EQ((style & WS_VISIBLE) != 0, e.visible);
        const LOGFONTW font = FontOf(control);
        if (e.font == nullptr) {
            EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
        } else {
            EXPECT_STREQ(font.lfFaceName, platform::Utf16(e.font).c_str());
            EXPECT_EQ(font.lfHeight, -std::lround(e.points * dpi / 72.0));
            EXPECT_EQ(font.lfWeight >= FW_BOLD, e.bold);
        }
    }
    EXPECT_EQ(w.control_windows[ui::kCommand1], w.command1);
    EXPECT_EQ(w.control_windows[ui::kTxtLog], w.txt_log);
    EXPECT_EQ(::GetWindowLongW(w.txt_log, GWL_STYLE) & ES_READONLY, 0) << "the operator may type";
    EXPECT_EQ(::GetWindowLongW(w.text1, GWL_STYLE) & ES_READONLY, 0);
    EXPECT_EQ(::GetWindowLongW(w.list_ldb1, GWL_STYLE) & LBS_SORT, 0) << "unsorted";

    // The client area, the caption, the frame and the icon from the program's resources.
    RECT client;
    ::GetClientRect(w.hwnd(), &client);
    EXPECT_EQ(client.right, ui::kForm1.width * dpi / 1440);
    EXPECT_EQ(client.bottom, ui::kForm1.height * dpi / 1440);
    EXPECT_EQ(TextOf(w.hwnd()), ui::kForm1.caption);
    const LONG frame = ::GetWindowLongW(w.hwnd(), GWL_STYLE);
    for (LONG bit : {WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_THICKFRAME})
        EXPECT_EQ(frame & bit, bit);
    auto icon = reinterpret_cast<HICON>(::GetClassLongPtrW(w.hwnd(), GCLP_HICON));
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP colours{};
    ::GetObjectW(info.hbmColor, sizeof colours, &colours);
    EXPECT_EQ(colours.bmWidth, 32);
    EXPECT_EQ(colours.bmHeight, 32);
    EXPECT_EQ(icon == ::LoadIconW(nullptr, IDI_APPLICATION), false) << "the drive, not Windows'";
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
}

INSTANTIATE_TEST_SUITE_P(Dpi, Win32Layout, ::testing::Values(96, 144),
                         [](const auto& p) { return "Dpi" + std::to_string(p.param); });

TEST(Win32Window, ColouredHeadingsFocusOnThePathAndTabSkipsTheHiddenButton) {
    Win32Window w;
    w.Show();
    w.Refresh();
    for (int id = 0; id < ui::kControlCount; ++id) {
        const ui::ControlLayout& e = ui::kForm1.controls[id];
        if (!e.has_background) continue;
        SCOPED_TRACE(e.name);
        HWND label = w.control_windows[id];
        HDC dc = ::GetDC(label);
        EXPECT_EQ(::GetPixel(dc, 1, 1),
                  RGB(e.background.red, e.background.green, e.background.blue));
        ::ReleaseDC(label, dc);
    }
    EXPECT_EQ(::GetFocus(), w.text1);
    std::vector<HWND> order;
    for (int i = 0; i < 5; ++i) {
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 0);
        w.DoEvents();
        order.push_back(::GetFocus());
    }
    EXPECT_EQ(order, (std::vector<HWND>{w.command2, w.txt_log, w.list_ldb1, w.text1, w.command2}));
    // Once shown, Command1 comes first.
    w.controls().Command1->SetVisible(true);
    ::SetFocus(w.list_ldb1);
    ::PostMessageW(w.list_ldb1, WM_KEYDOWN, VK_TAB, 0);
    w.DoEvents();
    EXPECT_EQ(::GetFocus(), w.command1);
}

Win32Window& WindowOf(Harness& h) {
    return static_cast<Win32Window&>(h.form->window());
}

TEST(Win32Form, ChoosingAFileFillsThePathAndShowsTheStartButtonCancelHidesIt) {
    Harness h;
    Win32Window& w = WindowOf(h);
    h.dialog.choices = {"C:\\Dados\\Área 1\\base.mdb", ""};
    h.form->Command2->Click();
    EXPECT_EQ(TextOf(w.text1), "C:\\Dados\\Área 1\\base.mdb");
    EXPECT_TRUE(::GetWindowLongW(w.command1, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(h.dialog.calls,
              (std::vector<std::string>{"MaxFileSize=500", "FileName=*.mdb", "ShowOpen"}));
    h.form->Command2->Click();
    EXPECT_EQ(TextOf(w.text1), "<<Nenhum Arquivo Selecionado>>");
    EXPECT_FALSE(::GetWindowLongW(w.command1, GWL_STYLE) & WS_VISIBLE);

    // A disabled button takes no click.
    h.form->Command2->SetEnabled(false);
    h.form->Command2->Click();
    EXPECT_EQ(h.dialog.calls.size(), 6u);
}

TEST(Win32Form, LogLinesStatusLineAndTheUserList) {
    Harness h;
    Win32Window& w = WindowOf(h);
    h.form->ArquivoLog = h.program_folder + apptest::kSep + "Log.txt";
    ::SetWindowTextW(w.txt_log, L"Log.:anotação\r\n");  // typed by the operator
    h.form->GravaLog("A & B");
    h.form->GravaLog("Inicio.");
    EXPECT_EQ(TextOf(w.label1[0]), "Inicio.");
    EXPECT_EQ(TextOf(w.txt_log),
              "Log.:anotação\r\n05/12/2026 - 14:03:07 - A & B\r\n"
              "05/12/2026 - 14:03:07 - Inicio.\r\n");
    EXPECT_EQ(h.LogMessages(), (Lines{"A & B", "Inicio."}));

    h.form->ListLDB1->AddItem("ZECA");
    h.form->ListLDB1->AddItem("ANA");
    EXPECT_EQ(::SendMessageW(w.list_ldb1, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(h.form->ListLDB1->List(0), "ZECA") << "in the order added";
    h.form->ListLDB1->Clear();
    EXPECT_EQ(h.form->ListLDB1->ListCount(), 0);
}

TEST(Win32Form, ClosingDuringARunClosesTheWindowWhenTheRunReturns) {
    Harness h;
    bool open_after_close = false;
    int pointer_during_run = vbDefault;
    h.boxes.on_show = [&] {
        pointer_during_run = h.form->MousePointer();
        h.form->window().Close();
        open_after_close = WindowOf(h).hwnd() != nullptr;
    };
    h.ChooseAndRun(h.program_folder + apptest::kSep + "falta.mdb");
    EXPECT_EQ(pointer_during_run, vbHourglass);
    EXPECT_TRUE(open_after_close) << "refused while the run was under way";
    EXPECT_EQ(h.BoxTexts().size(), 2u) << "the run went on to its end";
    EXPECT_EQ(WindowOf(h).hwnd(), nullptr) << "closed once it returned";
}

// ---- Whole runs ----

std::vector<std::string> SampleTables() {
    return {jet::SampleClientesDef().name, jet::SamplePedidosDef().name};
}

class Win32Run : public ::testing::TestWithParam<ClasseBanco> {};

TEST_P(Win32Run, ABloatedDatabaseIsCompactedInPlaceWithEveryRowAndTheExactLog) {
    const ClasseBanco classe = GetParam();
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    jet::SampleOptions sample;
    sample.rows = 3000;
    sample.bloat = true;
    jet::CreateSample(jet::Env::Default(), c.base, sample);
    const std::string original = ReadString(c.base);
    std::vector<std::vector<jet::Row>> rows;
    for (const std::string& table : SampleTables())
        rows.push_back(jet::testkit::ReadBack(c.base, table));
    const auto flags = jet::testkit::ReadBack(c.tavo, "tavo");
    const auto flags1 = jet::testkit::ReadBack(c.tavo1, "tavo");
    if (classe == kClasseSoCompactar) c.LooksFullUntilTheWarning(env, jet::Version::kJet4);

    c.Run();
    EXPECT_EQ(c.h.LogFileBytes(), Cenario::LogBytes(c.Success(classe))) << "the exact log file";
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), "Processo Concluido."}));
    EXPECT_EQ(c.h.end.ends, 1) << "the program ended";
    EXPECT_EQ(c.form().MousePointer(), vbArrow);
    EXPECT_EQ(jet::testkit::ReadBack(c.tavo, "tavo"), flags) << "unlocked again";
    EXPECT_EQ(jet::testkit::ReadBack(c.tavo1, "tavo"), flags1);

    // The compacted database in the database's place, smaller, with every row.
    EXPECT_LT(fs::file_size(c.base), original.size());
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(jet::testkit::ReadBack(c.base, SampleTables()[i]), rows[i]) << SampleTables()[i];
    EXPECT_EQ(ReadString(c.copia), original);
    EXPECT_EQ(ReadString(c.extra), original);
    // The window shows "Restaurando Arquivo." twice; the log file has it once.
    const std::string line = "05/12/2026 - 14:03:07 - Restaurando Arquivo.\r\n";
    EXPECT_NE(TextOf(WindowOf(c.h).txt_log).find(line + line), std::string::npos);
    EXPECT_EQ(TextOf(WindowOf(c.h).label1[0]), "Processo Concluido");

    if (const char* keep = std::getenv("COMPACTADOR_KEEP_RUN")) {
        const fs::path folder(keep);
        const std::string name = std::to_string(static_cast<int>(classe));
        fs::create_directories(folder);
        const auto replace = fs::copy_options::overwrite_existing;
        fs::copy_file(c.copia, folder / (name + "-original.mdb"), replace);
        fs::copy_file(c.base, folder / (name + "-compactado.mdb"), replace);
        fs::copy_file(c.log, folder / (name + "-log.txt"), replace);
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, Win32Run, ::testing::Values(kClasseReparar, kClasseSoCompactar),
                         [](const auto& p) {
                             return p.param == kClasseReparar ? "Class1Repaired" : "Class2Full";
                         });

}  // namespace
