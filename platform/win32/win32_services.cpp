#include "platform/win32/win32_services.h"

#include <commdlg.h>

#include <vector>

#include "platform/mouse_pointer.h"
#include "platform/program.h"

namespace platform {

std::wstring Utf16(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string Utf8(const std::wstring& utf16) {
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

MsgBoxResult Win32MessageBox::Show(const std::string& prompt, MsgBoxButtons buttons,
                                   const std::string& title) {
    const UINT type = buttons == vbOKCancel ? MB_OKCANCEL : MB_OK;
    const int answer = ::MessageBoxW(owner_, Utf16(prompt).c_str(), Utf16(title).c_str(),
                                     type | MB_APPLMODAL | MB_SETFOREGROUND);
    return buttons == vbOKCancel && answer != IDOK ? vbCancel : vbOK;
}

void Win32CommonDialog::ShowOpen() {
    // Room for the longest name allowed and its terminator: a longer choice fails with
    // FNERR_BUFFERTOOSMALL and counts as none.
    std::vector<wchar_t> buffer(static_cast<size_t>(max_file_size_ > 0 ? max_file_size_ : 0) + 1,
                                L'\0');
    const std::wstring initial = Utf16(file_name_);
    if (initial.size() < buffer.size()) std::copy(initial.begin(), initial.end(), buffer.begin());
    std::vector<wchar_t> folder(MAX_PATH + 1, L'\0');
    const DWORD folder_length = ::GetCurrentDirectoryW(MAX_PATH, folder.data());

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner_;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrInitialDir = folder_length > 0 && folder_length < MAX_PATH ? folder.data() : nullptr;
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_DONTADDTORECENT;

    file_name_.clear();
    if (!::GetOpenFileNameW(&ofn)) return;  // Cancel, a name too long, or no dialog at all
    file_name_ = Utf8(buffer.data());
}

HCURSOR CursorOf(int pointer) {
    switch (pointer) {
        case vbDefault:
            return nullptr;
        case vbHourglass:
            return ::LoadCursorW(nullptr, IDC_WAIT);
        default:
            return ::LoadCursorW(nullptr, IDC_ARROW);
    }
}

std::string ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return Utf8(slash == std::wstring::npos ? std::wstring() : path.substr(0, slash));
}

}  // namespace platform
