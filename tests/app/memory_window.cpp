#include "tests/app/memory_window.h"

#include <memory>

#include "app/layout.h"

namespace apptest {

struct MemoryWindow::Label final : ui::Label {
    explicit Label(const ui::ControlLayout& c) : caption(c.caption) {}
    std::string Caption() const override { return caption; }
    void SetCaption(const std::string& text) override { caption = text; }
    std::string caption;
};

struct MemoryWindow::TextBox final : ui::TextBox {
    explicit TextBox(const ui::ControlLayout& c) : text(c.caption) {}
    std::string Text() const override { return text; }
    void SetText(const std::string& value) override { text = value; }
    std::string text;
};

class MemoryWindow::ListBox final : public ui::ListBox {
  public:
    void Clear() override { items_.clear(); }
    void AddItem(const std::string& item) override { items_.push_back(item); }
    int ListCount() const override { return static_cast<int>(items_.size()); }
    std::string List(int index) const override { return items_.at(static_cast<size_t>(index)); }

  private:
    std::vector<std::string> items_;
};

class MemoryWindow::Button final : public ui::CommandButton {
  public:
    Button(const ui::ControlLayout& c, std::function<void()> clicked)
        : visible_(c.visible), clicked_(std::move(clicked)) {}
    bool Visible() const override { return visible_; }
    void SetVisible(bool visible) override { visible_ = visible; }
    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    void Click() override {
        if (enabled_) clicked_();
    }

  private:
    bool visible_;
    bool enabled_ = true;
    std::function<void()> clicked_;
};

MemoryWindow::MemoryWindow() {
    using ui::kForm1;
    auto label = [&](ui::ControlId id) {
        labels_.push_back(std::make_unique<Label>(kForm1[id]));
        return labels_.back().get();
    };
    auto text_box = [&](ui::ControlId id) {
        text_boxes_.push_back(std::make_unique<TextBox>(kForm1[id]));
        return text_boxes_.back().get();
    };
    auto button = [&](ui::ControlId id, void (ui::FormEvents::*event)()) {
        buttons_.push_back(std::make_unique<Button>(kForm1[id], [this, event] {
            if (events_ != nullptr) (events_->*event)();
        }));
        return buttons_.back().get();
    };
    list_ = std::make_unique<ListBox>();
    controls_.Command1 = button(ui::kCommand1, &ui::FormEvents::Command1Clicked);
    controls_.Label1 = {label(ui::kLabel1_0), label(ui::kLabel1_1)};
    controls_.Text1 = text_box(ui::kText1);
    controls_.Command2 = button(ui::kCommand2, &ui::FormEvents::Command2Clicked);
    controls_.Label2 = label(ui::kLabel2);
    controls_.TxtLog = text_box(ui::kTxtLog);
    controls_.ListLDB1 = list_.get();
    controls_.Label3 = label(ui::kLabel3);
    controls_.Label4 = label(ui::kLabel4);
}

void MemoryWindow::DoEvents() {
    // What the events post in turn waits for the next call, as a toolkit's queue does.
    std::deque<std::function<void()>> now;
    now.swap(pending_);
    for (auto& event : now) event();
}

void MemoryWindow::Close() {
    if (closed_) return;
    if (events_ != nullptr && !events_->QueryUnload()) return;
    closed_ = true;
}

}  // namespace apptest
