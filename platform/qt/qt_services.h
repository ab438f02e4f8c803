// The message box and the file-open dialog of the Qt window.
#pragma once

#include <string>

#include "platform/common_dialog.h"
#include "platform/message_box.h"

class QWidget;

namespace platform {

// A Qt message box, application-modal over `parent`. Closing it with Escape or the close box
// answers Cancel when there is a Cancel button, OK otherwise.
class QtMessageBox final : public MessageBox {
  public:
    explicit QtMessageBox(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    MsgBoxResult Show(const std::string& prompt, MsgBoxButtons buttons,
                      const std::string& title) override;

  private:
    QWidget* parent_;
};

// The program's own file-open dialog (platform/qt/file_open_dialog.h), which reads and writes no
// settings. It opens on the current folder, never on one remembered from an earlier use. A
// file name with wildcards ("*.mdb") becomes the listing's pattern, as the Windows dialog does
// with it; any other name is preselected. Names may be typed that do not exist (the run tests
// existence). A chosen path longer than the longest name allowed is handed back as no choice
// at all, never cut short.
class QtCommonDialog final : public CommonDialog {
  public:
    explicit QtCommonDialog(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    void SetMaxFileSize(int characters) override { max_file_size_ = characters; }
    void SetFileName(const std::string& name) override { file_name_ = name; }
    void ShowOpen() override;
    std::string FileName() const override { return file_name_; }

  private:
    QWidget* parent_;
    int max_file_size_ = 260;
    std::string file_name_;
};

}  // namespace platform
