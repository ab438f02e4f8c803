// The message box, the file-open dialog and the pointers of the Windows window, over the
// Windows API; and the conversions between the system's UTF-8 and the API's UTF-16.
#pragma once

#include <windows.h>

#include <string>

#include "platform/common_dialog.h"
#include "platform/message_box.h"

namespace platform {

// UTF-8 to UTF-16 and back; a byte that is not valid UTF-8 becomes U+FFFD.
std::wstring Utf16(const std::string& utf8);
std::string Utf8(const std::wstring& utf16);

// MessageBoxW over `owner` (disabled while the box is open): OK, or OK and Cancel; no icon.
// Escape and the close box answer Cancel when there is a Cancel button, OK otherwise.
class Win32MessageBox final : public MessageBox {
  public:
    void SetOwner(HWND owner) { owner_ = owner; }
    MsgBoxResult Show(const std::string& prompt, MsgBoxButtons buttons,
                      const std::string& title) override;

  private:
    HWND owner_ = nullptr;
};

// The common Open dialog (GetOpenFileNameW). A file name with wildcards ("*.mdb") is the
// listing's pattern, as the dialog itself takes it; the dialog opens on the current folder.
// A chosen path longer than the longest name allowed is handed back as no choice at all,
// never cut short. Names may be typed that do not exist (the run tests existence).
class Win32CommonDialog final : public CommonDialog {
  public:
    void SetOwner(HWND owner) { owner_ = owner; }
    void SetMaxFileSize(int characters) override { max_file_size_ = characters; }
    void SetFileName(const std::string& name) override { file_name_ = name; }
    void ShowOpen() override;
    std::string FileName() const override { return file_name_; }

  private:
    HWND owner_ = nullptr;
    int max_file_size_ = 260;
    std::string file_name_;
};

// The cursor of a pointer value (platform/mouse_pointer.h): the hourglass or the arrow; null for
// vbDefault (each window's own).
HCURSOR CursorOf(int pointer);

}  // namespace platform
