// The window over the Windows controls: the layout table (app/layout.h) as STATIC labels, EDIT
// text boxes, a LISTBOX and BUTTONs, placed at the screen's resolution (twips * dpi / 1440
// pixels), with fonts of the same resolution, and the controls of app/controls.h over them.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "app/controls.h"
#include "app/layout.h"
#include "platform/mouse_pointer.h"

namespace ui {

struct Win32Options {
    int dpi = 0;                   // dots per inch of the layout; 0: the screen's
    bool quit_on_destroy = false;  // the program's one window: its end ends the message loop
};

class Win32Window final : public Window {
  public:
    explicit Win32Window(Win32Options options = {});
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    const Controls& controls() override { return controls_; }
    void SetEvents(FormEvents* events) override { events_ = events; }
    void Show() override;
    void DoEvents() override;
    void Refresh() override;
    void SetMousePointer(int value) override;
    void SetScreenPointer(int value) override;
    void Close() override;

    HWND hwnd() const { return hwnd_; }  // null once the window is destroyed
    int dpi() const { return dpi_; }
    // Pixels of `twips` at the window's resolution.
    int Pixels(int twips) const { return twips * dpi_ / kTwipsPerInch; }

    // The control windows, in tab order.
    HWND command1 = nullptr;
    std::array<HWND, 2> label1{};
    HWND text1 = nullptr;
    HWND command2 = nullptr;
    HWND label2 = nullptr;
    HWND txt_log = nullptr;
    HWND list_ldb1 = nullptr;
    HWND label3 = nullptr;
    HWND label4 = nullptr;
    // The same controls by their place in the layout table.
    std::array<HWND, kControlCount> control_windows{};

    // Dispatches messages until the thread's message loop is told to quit; returns its code.
    static int MessageLoop();

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    void BuildControls();
    // Creates the control of the layout table's entry `id`; `system_font` for one that names
    // no font.
    HWND NewControl(ControlId id, HFONT system_font);
    HFONT NewFont(const wchar_t* family, double points, bool bold);

    Win32Options options_;
    int dpi_ = 96;
    HWND hwnd_ = nullptr;
    FormEvents* events_ = nullptr;
    // The pointer in force: the screen's when set, else the window's own.
    int Pointer() const { return screen_pointer_ != vbDefault ? screen_pointer_ : mouse_pointer_; }
    int mouse_pointer_ = vbDefault;
    int screen_pointer_ = vbDefault;
    Controls controls_;
    struct Resources;
    std::unique_ptr<Resources> resources_;
};

}  // namespace ui
