// The window over Qt widgets: the controls of the layout table (app/layout.h) at 15 twips to a
// pixel, with their fonts and colours, in tab order, and the controls of app/controls.h over
// them.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>
#include <memory>
#include <string>

#include "app/controls.h"
#include "app/layout.h"

class QCloseEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace ui {

// The multi-line text box. Its text has CR LF line ends, as the Windows control's has.
class QtMultiLineEdit : public QPlainTextEdit {
  public:
    explicit QtMultiLineEdit(QWidget* parent) : QPlainTextEdit(parent) {}
    std::string Text() const;
    // Replaces the whole text; the caret and the view go back to the start.
    void SetText(const std::string& text);
};

class QtWindow final : public QWidget, public Window {
  public:
    explicit QtWindow(QWidget* parent = nullptr);
    ~QtWindow() override;

    const Controls& controls() override { return controls_; }
    void SetEvents(FormEvents* events) override { events_ = events; }
    void Show() override { show(); }
    void DoEvents() override;
    void Refresh() override { repaint(); }
    void SetMousePointer(int value) override;
    void SetScreenPointer(int value) override;
    void Close() override { close(); }

    // The widgets, in tab order, for what only Qt can tell (geometry, fonts, focus).
    QPushButton* command1;
    std::array<QLabel*, 2> label1;
    QLineEdit* text1;
    QPushButton* command2;
    QLabel* label2;
    QtMultiLineEdit* txt_log;
    QListWidget* list_ldb1;
    QLabel* label3;
    QLabel* label4;
    // The same widgets by their place in the layout table.
    std::array<QWidget*, kControlCount> widgets{};

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();
    void BindControls();

    FormEvents* events_ = nullptr;
    Controls controls_;
    struct Adapters;
    std::unique_ptr<Adapters> adapters_;
};

}  // namespace ui
