// A window with no toolkit: the controls of the layout table (app/layout.h) as plain values,
// captioned and shown as at start, for the form's tests. Buttons click as the toolkits' do
// (a disabled one takes no click), closing asks the form, and pending events are what a test
// posts: DoEvents runs them.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/form1.h"

namespace apptest {

class MemoryWindow final : public ui::Window {
  public:
    MemoryWindow();
    MemoryWindow(const MemoryWindow&) = delete;
    MemoryWindow& operator=(const MemoryWindow&) = delete;

    const ui::Controls& controls() override { return controls_; }
    void SetEvents(ui::FormEvents* events) override { events_ = events; }
    void Show() override { shown_ = true; }
    void DoEvents() override;
    void Refresh() override { ++refreshes; }
    void SetMousePointer(int value) override { mouse_pointer = value; }
    void SetScreenPointer(int value) override { screen_pointer = value; }
    void Close() override;

    // Runs at the next DoEvents, as an event the toolkit would have queued.
    void Post(std::function<void()> event) { pending_.push_back(std::move(event)); }
    // Shown and not closed.
    bool Visible() const { return shown_ && !closed_; }
    // The form's events, for an event the toolkit delivers whatever the controls' state.
    ui::FormEvents& events() const { return *events_; }

    int refreshes = 0;
    int mouse_pointer = 0;   // vbDefault
    int screen_pointer = 0;  // vbDefault

  private:
    struct Label;
    struct TextBox;
    class ListBox;
    class Button;

    ui::FormEvents* events_ = nullptr;
    bool shown_ = false;
    bool closed_ = false;
    std::deque<std::function<void()>> pending_;
    std::vector<std::unique_ptr<ui::Label>> labels_;
    std::vector<std::unique_ptr<ui::TextBox>> text_boxes_;
    std::unique_ptr<ui::ListBox> list_;
    std::vector<std::unique_ptr<ui::CommandButton>> buttons_;
    ui::Controls controls_;
};

// The window of a form built on a MemoryWindow.
inline MemoryWindow& MemoryOf(Form1& form) {
    return static_cast<MemoryWindow&>(form.window());
}

}  // namespace apptest
