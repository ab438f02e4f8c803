// The runtime's modal message box: the OK button alone, or OK and Cancel; no icon; the
// application's title as caption. The window takes one at construction, so tests can script
// the operator's answers.
#pragma once

#include <string>

namespace platform {

// Buttons and answers, with VB's values.
enum MsgBoxButtons : int { vbOKOnly = 0, vbOKCancel = 1 };
enum MsgBoxResult : int { vbOK = 1, vbCancel = 2 };

class MessageBox {
  public:
    virtual ~MessageBox() = default;
    // Shows `prompt` and waits for the operator; returns the button pressed.
    virtual MsgBoxResult Show(const std::string& prompt, MsgBoxButtons buttons,
                              const std::string& title) = 0;
};

}  // namespace platform
