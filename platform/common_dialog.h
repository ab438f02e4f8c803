// Stand-in for the common-dialog control as a file-open dialog: the four operations the
// system uses (set the longest name, set the file name, show the Open dialog, read the file
// name). An empty name after ShowOpen means that no file was chosen.
#pragma once

#include <string>

class QWidget;

namespace platform {

class CommonDialog {
  public:
    virtual ~CommonDialog() = default;
    virtual void SetMaxFileSize(int characters) = 0;
    virtual void SetFileName(const std::string& name) = 0;
    // Modal; returns when the operator closes the dialog.
    virtual void ShowOpen() = 0;
    virtual std::string FileName() const = 0;
};

// The program's own file-open dialog (platform/file_open_dialog.h), which reads and writes no
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
