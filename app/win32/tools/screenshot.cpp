// Draws the Windows window as an operator sees it at the warning before the backups, the box
// open over the window, and saves the screen's part that holds both as a 24-bit BMP:
//   compactador_screenshot.exe OUTPUT.bmp WORK_FOLDER
// The work folder gets a program folder and a database folder holding a real database and the
// two client databases, written by the engine; the clock is fixed so the picture does not
// change from one make to the next. The box is the real MessageBoxW: a timer that its own
// message loop runs takes the picture and presses OK. Every other box is answered OK unshown.
// scripts/screenshot_windows.sh runs it under Wine and makes docs/janela-windows.png.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/form1.h"
#include "app/tools/tool_services.h"
#include "app/win32/window.h"
#include "platform/win32/win32_services.h"

namespace {

std::string output;  // the BMP to write
HWND form_window = nullptr;
bool taken = false;
bool written = false;

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (::IsWindowVisible(window) && std::wstring(name) == L"#32770") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// The screen's pixels inside `area`, bottom-up rows of 24-bit colour, as a BMP file.
bool SaveScreen(RECT area, const std::string& path) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    const bool copied =
        ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
    ::GdiFlush();
    const DWORD row = static_cast<DWORD>((width * 3 + 3) & ~3);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + row * static_cast<DWORD>(height);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(row * height));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return copied && out.good();
}

// Runs inside the box's own message loop, once the box and the window have been drawn.
void CALLBACK Photograph(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) return;  // not open yet: the timer comes again
    ::KillTimer(nullptr, timer);
    RECT window_area, box_area, area;
    ::GetWindowRect(form_window, &window_area);
    ::GetWindowRect(box, &box_area);
    ::UnionRect(&area, &window_area, &box_area);
    area.left = std::max(area.left, 0L);
    area.top = std::max(area.top, 0L);
    area.right = std::min(area.right, static_cast<LONG>(::GetSystemMetrics(SM_CXSCREEN)));
    area.bottom = std::min(area.bottom, static_cast<LONG>(::GetSystemMetrics(SM_CYSCREEN)));
    written = SaveScreen(area, output);
    taken = true;
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
}

class Photographer final : public platform::MessageBox {
  public:
    platform::MsgBoxResult Show(const std::string& prompt, platform::MsgBoxButtons buttons,
                                const std::string& title) override {
        if (taken || prompt.rfind("ATEN", 0) != 0) return platform::vbOK;
        ::SetTimer(nullptr, 0, 700, Photograph);
        real_.SetOwner(form_window);
        return real_.Show(prompt, buttons, title);
    }

  private:
    platform::Win32MessageBox real_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.bmp WORK_FOLDER\n", argv[0]);
        return 2;
    }
    ::SetProcessDPIAware();
    output = argv[1];
    const std::string work = argv[2];
    const std::string programa = work + "\\programa", dados = work + "\\dados";
    ::CreateDirectoryW(platform::Utf16(work).c_str(), nullptr);
    ::CreateDirectoryW(platform::Utf16(programa).c_str(), nullptr);
    ::CreateDirectoryW(platform::Utf16(dados).c_str(), nullptr);
    const std::string database = tools::WriteDemo(dados, '\\');

    tools::FixedClock clock;
    Photographer message_box;
    tools::ChooseFile dialog(database);
    tools::NoEnd end;
    const platform::Services services =
        platform::MakeServices(programa, clock, message_box, dialog, end);

    auto window = std::make_unique<ui::Win32Window>();
    form_window = window->hwnd();
    Form1 form(services, std::move(window));
    form.Show();
    form.window().DoEvents();
    form.Command2->Click();
    form.Command1->Click();
    if (!taken || !written) {
        std::fprintf(stderr, "no picture taken at the warning (written: %d)\n", written);
        return 1;
    }
    std::fprintf(stderr, "window drawn at the warning before the backups\n");
    return 0;
}
