// The window's controls as the procedures see them: a label's caption, a text box's text, a
// list box's items, a button's visibility, and what the window as a whole does (pending events,
// repaint, its own mouse pointer and the screen's, close). Each windowing toolkit implements them
// over its own controls (app/qt/ over Qt widgets, app/win32/ over the Windows controls), so the
// procedures are the same code on every platform and touch no toolkit.
#pragma once

#include <array>
#include <string>

namespace ui {

class Label {
  public:
    virtual ~Label() = default;
    virtual std::string Caption() const = 0;
    // Plain text: a caption is never markup.
    virtual void SetCaption(const std::string& caption) = 0;
};

// A text box, one line or several. The text of a multi-line box has CR LF line ends, as the
// Windows control's has.
class TextBox {
  public:
    virtual ~TextBox() = default;
    virtual std::string Text() const = 0;
    // Replaces the whole text; the caret and the view go back to the start.
    virtual void SetText(const std::string& text) = 0;
};

// A list box that keeps its items in the order they were added.
class ListBox {
  public:
    virtual ~ListBox() = default;
    virtual void Clear() = 0;
    virtual void AddItem(const std::string& item) = 0;
    virtual int ListCount() const = 0;
    // REQUIRES: 0 <= index < ListCount().
    virtual std::string List(int index) const = 0;
};

class CommandButton {
  public:
    virtual ~CommandButton() = default;
    // The button's own visibility (whether the window is shown or not).
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    // Clicks the button from code, as though the operator had pressed it: the window's event
    // follows unless the button is disabled.
    virtual void Click() = 0;
};

// The controls of the window, in tab order (labels take no focus).
struct Controls {
    CommandButton* Command1 = nullptr;  // "Iniciar Processo", hidden at start
    std::array<Label*, 2> Label1{};     // [1] "Arquivo:"; [0] the status line
    TextBox* Text1 = nullptr;           // the chosen path
    CommandButton* Command2 = nullptr;  // "Localizar Arquivo"
    Label* Label2 = nullptr;            // the heading
    TextBox* TxtLog = nullptr;          // the log box, "Log.:" at start
    ListBox* ListLDB1 = nullptr;        // users of the lock file
    Label* Label3 = nullptr;            // "Usuários Ativos"
    Label* Label4 = nullptr;            // "Arquivo Log", then the run's log path
};

// What the window reports to the form.
class FormEvents {
  public:
    virtual ~FormEvents() = default;
    virtual void Command1Clicked() = 0;
    virtual void Command2Clicked() = 0;
    // Asked when the operator closes the window: true lets it close.
    virtual bool QueryUnload() = 0;
};

// The window itself: it creates the controls, laid out and captioned as at start, and hands
// their events to the form.
class Window {
  public:
    virtual ~Window() = default;
    // Valid for the window's lifetime.
    virtual const Controls& controls() = 0;
    // REQUIRES: `events` outlives the window; set once, before the window is shown.
    virtual void SetEvents(FormEvents* events) = 0;
    virtual void Show() = 0;
    // Processes the pending events once (VB's DoEvents).
    virtual void DoEvents() = 0;
    // Repaints the window at once.
    virtual void Refresh() = 0;
    // The window's own pointer, by its VB value (platform/mouse_pointer.h).
    virtual void SetMousePointer(int value) = 0;
    // The screen-wide pointer (VB's Screen.MousePointer): while it is not vbDefault it takes
    // precedence over the window's own pointer, over every control; vbDefault gives the window
    // its own pointer back. The program has one window, so the window keeps it.
    virtual void SetScreenPointer(int value) = 0;
    // Closes the window as the operator's close box does (the form may refuse).
    virtual void Close() = 0;
};

}  // namespace ui
