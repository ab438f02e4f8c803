#include "app/win32/window.h"

#include <cmath>
#include <vector>

#include "app/layout.h"
#include "platform/mouse_pointer.h"
#include "platform/win32/win32_services.h"

namespace ui {
namespace {

constexpr const wchar_t* kClassName = L"Compactador.Form1";
constexpr int kIcone = 1;  // the icon's resource number (app/win32/compactador.rc)

// A control's window id: its place in the layout table, from 101.
int IdOf(ControlId control) {
    return 101 + control;
}

COLORREF ColourOf(const Colour& c) {
    return RGB(c.red, c.green, c.blue);
}

// The Windows control of each kind of the layout, with its style (WS_TABSTOP on the controls
// that take focus) and extended style.
struct ControlClass {
    const wchar_t* name;
    DWORD style;
    DWORD ex_style;
};

ControlClass ClassOf(const ControlLayout& c) {
    const DWORD label = SS_NOPREFIX;  // paths and messages: '&' is a character
    switch (c.kind) {
        case ControlKind::kButton:
            return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
        case ControlKind::kLabel:
            return {L"STATIC", label | (c.alignment == Alignment::kCentre ? SS_CENTER : SS_LEFT),
                    0};
        case ControlKind::kTextBox:
            return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case ControlKind::kMultiLineTextBox:
            return {L"EDIT",
                    WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                    WS_EX_CLIENTEDGE};
        case ControlKind::kListBox:
            return {L"LISTBOX", WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE};
    }
    return {L"STATIC", 0, 0};
}

std::string TextOf(HWND control) {
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int n = ::GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    return platform::Utf8(text);
}

void SetTextOf(HWND control, const std::string& text) {
    ::SetWindowTextW(control, platform::Utf16(text).c_str());
}

// The multi-line log box lets Tab move the focus on, as the one-line boxes do, instead of
// typing it; Enter still starts a new line.
LRESULT CALLBACK TabMovesOn(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
    auto original = reinterpret_cast<WNDPROC>(::GetPropW(edit, L"Compactador.Edit"));
    LRESULT result = ::CallWindowProcW(original, edit, message, wparam, lparam);
    if (message == WM_GETDLGCODE) {
        const auto* key = reinterpret_cast<const MSG*>(lparam);
        if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_TAB)
            result &= ~(DLGC_WANTTAB | DLGC_WANTALLKEYS);
    } else if (message == WM_NCDESTROY) {
        ::RemovePropW(edit, L"Compactador.Edit");
    }
    return result;
}

// A label's caption and a text box's text are both their control's window text.
class Win32Text final : public Label, public TextBox {
  public:
    explicit Win32Text(HWND control) : control_(control) {}
    std::string Caption() const override { return TextOf(control_); }
    void SetCaption(const std::string& caption) override { SetTextOf(control_, caption); }
    std::string Text() const override { return TextOf(control_); }
    void SetText(const std::string& text) override { SetTextOf(control_, text); }

  private:
    HWND control_;
};

class Win32ListBox final : public ListBox {
  public:
    explicit Win32ListBox(HWND list) : list_(list) {}
    void Clear() override { ::SendMessageW(list_, LB_RESETCONTENT, 0, 0); }
    void AddItem(const std::string& item) override {
        ::SendMessageW(list_, LB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(platform::Utf16(item).c_str()));
    }
    int ListCount() const override {
        return static_cast<int>(::SendMessageW(list_, LB_GETCOUNT, 0, 0));
    }
    std::string List(int index) const override {
        const LRESULT length = ::SendMessageW(list_, LB_GETTEXTLEN, index, 0);
        if (length == LB_ERR) return {};
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        ::SendMessageW(list_, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<size_t>(length));
        return platform::Utf8(text);
    }

  private:
    HWND list_;
};

class Win32Button final : public CommandButton {
  public:
    Win32Button(HWND button, int id) : button_(button), id_(id) {}
    bool Visible() const override {
        return (::GetWindowLongPtrW(button_, GWL_STYLE) & WS_VISIBLE) != 0;
    }
    void SetVisible(bool visible) override { ::ShowWindow(button_, visible ? SW_SHOW : SW_HIDE); }
    bool Enabled() const override { return ::IsWindowEnabled(button_) != FALSE; }
    void SetEnabled(bool enabled) override { ::EnableWindow(button_, enabled ? TRUE : FALSE); }
    void Click() override {
        if (!Enabled()) return;
        ::SendMessageW(::GetParent(button_), WM_COMMAND, MAKEWPARAM(id_, BN_CLICKED),
                       reinterpret_cast<LPARAM>(button_));
    }

  private:
    HWND button_;
    int id_;
};

}  // namespace

struct Win32Window::Resources {
    std::vector<HFONT> fonts;
    std::array<HBRUSH, kControlCount> backgrounds{};  // the labels painted in a colour of their own
    std::vector<std::unique_ptr<Label>> labels;
    std::vector<std::unique_ptr<TextBox>> text_boxes;
    std::unique_ptr<ListBox> list;
    std::vector<std::unique_ptr<CommandButton>> buttons;

    ~Resources() {
        for (HFONT font : fonts) ::DeleteObject(font);
        for (HBRUSH brush : backgrounds)
            if (brush != nullptr) ::DeleteObject(brush);
    }
};

Win32Window::Win32Window(Win32Options options)
    : options_(options), resources_(std::make_unique<Resources>()) {
    dpi_ = options_.dpi;
    if (dpi_ <= 0) {
        HDC screen = ::GetDC(nullptr);
        dpi_ = ::GetDeviceCaps(screen, LOGPIXELSX);
        ::ReleaseDC(nullptr, screen);
        if (dpi_ <= 0) dpi_ = 96;
    }

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    if (!::GetClassInfoExW(instance, kClassName, &window_class)) {
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = &Win32Window::Procedure;
        window_class.hInstance = instance;
        window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        window_class.lpszClassName = kClassName;
        window_class.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kIcone));
        if (window_class.hIcon == nullptr)
            window_class.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
        window_class.hIconSm = static_cast<HICON>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(kIcone), IMAGE_ICON,
                         ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
        ::RegisterClassExW(&window_class);
    }

    // The client area is the layout's; the frame is the system's.
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD ex_style = WS_EX_CONTROLPARENT;
    RECT frame{0, 0, Pixels(kForm1.width), Pixels(kForm1.height)};
    ::AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    ::CreateWindowExW(ex_style, kClassName, platform::Utf16(kForm1.caption).c_str(), style,
                      CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                      frame.bottom - frame.top, nullptr, nullptr, instance, this);
    BuildControls();
}

Win32Window::~Win32Window() {
    if (hwnd_ != nullptr) {
        events_ = nullptr;  // the form is going: no event reaches it any more
        ::DestroyWindow(hwnd_);
    }
}

HFONT Win32Window::NewFont(const wchar_t* family, double points, bool bold) {
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(points * dpi_ / 72.0));
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, family, LF_FACESIZE);
    HFONT handle = ::CreateFontIndirectW(&font);
    resources_->fonts.push_back(handle);
    return handle;
}

HWND Win32Window::NewControl(ControlId id, HFONT system_font) {
    const ControlLayout& c = kForm1[id];
    const ControlClass kind = ClassOf(c);
    HFONT font = c.font != nullptr ? NewFont(platform::Utf16(c.font).c_str(), c.points, c.bold)
                                   : system_font;
    HWND control =
        ::CreateWindowExW(kind.ex_style, kind.name, platform::Utf16(c.caption).c_str(),
                          WS_CHILD | kind.style | (c.visible ? WS_VISIBLE : 0), Pixels(c.left),
                          Pixels(c.top), Pixels(c.width), Pixels(c.height), hwnd_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdOf(id))),
                          ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (c.has_background) resources_->backgrounds[id] = ::CreateSolidBrush(ColourOf(c.background));
    control_windows[id] = control;
    return control;
}

void Win32Window::BuildControls() {
    // Controls that name no font take the system's message font.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT system_font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    resources_->fonts.push_back(system_font);

    // Created in tab order.
    command1 = NewControl(kCommand1, system_font);
    label1[1] = NewControl(kLabel1_1, system_font);
    text1 = NewControl(kText1, system_font);
    command2 = NewControl(kCommand2, system_font);
    label1[0] = NewControl(kLabel1_0, system_font);
    label2 = NewControl(kLabel2, system_font);
    txt_log = NewControl(kTxtLog, system_font);
    ::SendMessageW(txt_log, EM_SETLIMITTEXT, 0, 0);  // the log box grows without a limit
    ::SetPropW(txt_log, L"Compactador.Edit",
               reinterpret_cast<HANDLE>(::SetWindowLongPtrW(
                   txt_log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TabMovesOn))));
    list_ldb1 = NewControl(kListLDB1, system_font);
    label3 = NewControl(kLabel3, system_font);
    label4 = NewControl(kLabel4, system_font);

    Resources& r = *resources_;
    r.buttons.push_back(std::make_unique<Win32Button>(command1, IdOf(kCommand1)));
    r.buttons.push_back(std::make_unique<Win32Button>(command2, IdOf(kCommand2)));
    for (HWND l : {label1[0], label1[1], label2, label3, label4})
        r.labels.push_back(std::make_unique<Win32Text>(l));
    r.text_boxes.push_back(std::make_unique<Win32Text>(text1));
    r.text_boxes.push_back(std::make_unique<Win32Text>(txt_log));
    r.list = std::make_unique<Win32ListBox>(list_ldb1);
    controls_.Command1 = r.buttons[0].get();
    controls_.Command2 = r.buttons[1].get();
    controls_.Label1 = {r.labels[0].get(), r.labels[1].get()};
    controls_.Label2 = r.labels[2].get();
    controls_.Label3 = r.labels[3].get();
    controls_.Label4 = r.labels[4].get();
    controls_.Text1 = r.text_boxes[0].get();
    controls_.TxtLog = r.text_boxes[1].get();
    controls_.ListLDB1 = r.list.get();
}

void Win32Window::Show() {
    ::ShowWindow(hwnd_, SW_SHOWDEFAULT);
    ::UpdateWindow(hwnd_);
    ::SetFocus(text1);  // Command1, first in the order, is hidden
}

void Win32Window::DoEvents() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));  // for the loop that waits
            return;
        }
        if (hwnd_ != nullptr && ::IsDialogMessageW(hwnd_, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

int Win32Window::MessageLoop() {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        HWND top = ::GetAncestor(message.hwnd, GA_ROOT);
        if (top != nullptr && ::IsDialogMessageW(top, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void Win32Window::Refresh() {
    ::RedrawWindow(hwnd_, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Win32Window::SetMousePointer(int value) {
    mouse_pointer_ = value;
    if (HCURSOR cursor = platform::CursorOf(Pointer())) ::SetCursor(cursor);
}

void Win32Window::SetScreenPointer(int value) {
    // Set at once; put back on every control the mouse goes over while it is in force
    // (WM_SETCURSOR).
    screen_pointer_ = value;
    HCURSOR cursor = platform::CursorOf(Pointer());
    ::SetCursor(cursor != nullptr ? cursor : ::LoadCursorW(nullptr, IDC_ARROW));
}

void Win32Window::Close() {
    if (hwnd_ != nullptr) ::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK Win32Window::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        auto* self = static_cast<Win32Window*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);
    return self->Handle(message, wparam, lparam);
}

LRESULT Win32Window::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) == BN_CLICKED && events_ != nullptr) {
                if (LOWORD(wparam) == IdOf(kCommand1)) events_->Command1Clicked();
                if (LOWORD(wparam) == IdOf(kCommand2)) events_->Command2Clicked();
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC: {
            HWND control = reinterpret_cast<HWND>(lparam);
            for (int id = 0; id < kControlCount; ++id) {
                HBRUSH background = resources_->backgrounds[id];
                if (control != control_windows[id] || background == nullptr) continue;
                ::SetBkColor(reinterpret_cast<HDC>(wparam),
                             ColourOf(kForm1.controls[id].background));
                return reinterpret_cast<LRESULT>(background);
            }
            break;
        }
        case WM_SETCURSOR: {
            // The screen's pointer first, then the window's own, over every control.
            if (HCURSOR cursor = platform::CursorOf(Pointer())) {
                ::SetCursor(cursor);
                return TRUE;
            }
            break;
        }
        case WM_CLOSE:
            if (events_ != nullptr && !events_->QueryUnload()) return 0;
            ::DestroyWindow(hwnd_);
            return 0;
        case WM_DESTROY:
            if (options_.quit_on_destroy) ::PostQuitMessage(0);
            break;
        case WM_NCDESTROY: {
            HWND hwnd = hwnd_;
            hwnd_ = nullptr;
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            return ::DefWindowProcW(hwnd, message, wparam, lparam);
        }
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, message, wparam, lparam);
}

}  // namespace ui
