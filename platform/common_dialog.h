// Stand-in for the common-dialog control as a file-open dialog: the four operations the
// system uses (set the longest name, set the file name, show the Open dialog, read the file
// name). An empty name after ShowOpen means that no file was chosen.
#pragma once

#include <string>

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

}  // namespace platform
