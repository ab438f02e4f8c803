#include "app/qt/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>

#include "app/layout.h"
#include "app/qt/fonts.h"
#include "app/qt/icon.h"
#include "platform/mouse_pointer.h"

namespace ui {
namespace {

constexpr int kTwipsPerPixel = 15;

QRect Pixels(const ControlLayout& c) {
    return QRect(c.left / kTwipsPerPixel, c.top / kTwipsPerPixel, c.width / kTwipsPerPixel,
                 c.height / kTwipsPerPixel);
}

QString CaptionOf(const ControlLayout& c) {
    return QString::fromUtf8(c.caption);
}

// Places the widget, gives it the layout's font (the application's when none is named) and
// its visibility at start.
template <class W>
W* Placed(W* widget, const ControlLayout& c) {
    widget->setGeometry(Pixels(c));
    if (c.font != nullptr) widget->setFont(WindowFont(QString::fromUtf8(c.font), c.points, c.bold));
    if (!c.visible) widget->setVisible(false);
    return widget;
}

QLabel* NewLabel(QWidget* parent, const ControlLayout& c) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);  // paths and messages are never markup
    label->setText(CaptionOf(c));
    label->setAlignment((c.alignment == Alignment::kCentre ? Qt::AlignHCenter : Qt::AlignLeft) |
                        Qt::AlignTop);
    label->setWordWrap(true);
    label->setFocusPolicy(Qt::NoFocus);
    if (c.has_background) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window,
                         QColor(c.background.red, c.background.green, c.background.blue));
        label->setPalette(palette);
        label->setAutoFillBackground(true);
    }
    return Placed(label, c);
}

class QtLabel final : public Label {
  public:
    explicit QtLabel(QLabel* label) : label_(label) {}
    std::string Caption() const override { return label_->text().toStdString(); }
    void SetCaption(const std::string& caption) override {
        label_->setText(QString::fromStdString(caption));
    }

  private:
    QLabel* label_;
};

class QtLineEdit final : public TextBox {
  public:
    explicit QtLineEdit(QLineEdit* edit) : edit_(edit) {}
    std::string Text() const override { return edit_->text().toStdString(); }
    void SetText(const std::string& text) override { edit_->setText(QString::fromStdString(text)); }

  private:
    QLineEdit* edit_;
};

class QtTextBox final : public TextBox {
  public:
    explicit QtTextBox(QtMultiLineEdit* box) : box_(box) {}
    std::string Text() const override { return box_->Text(); }
    void SetText(const std::string& text) override { box_->SetText(text); }

  private:
    QtMultiLineEdit* box_;
};

class QtListBox final : public ListBox {
  public:
    explicit QtListBox(QListWidget* list) : list_(list) {}
    void Clear() override { list_->clear(); }
    void AddItem(const std::string& item) override { list_->addItem(QString::fromStdString(item)); }
    int ListCount() const override { return list_->count(); }
    std::string List(int index) const override { return list_->item(index)->text().toStdString(); }

  private:
    QListWidget* list_;
};

class QtButton final : public CommandButton {
  public:
    explicit QtButton(QPushButton* button) : button_(button) {}
    bool Visible() const override { return !button_->isHidden(); }
    void SetVisible(bool visible) override { button_->setVisible(visible); }
    bool Enabled() const override { return button_->isEnabled(); }
    void SetEnabled(bool enabled) override { button_->setEnabled(enabled); }
    void Click() override { button_->click(); }

  private:
    QPushButton* button_;
};

}  // namespace

struct QtWindow::Adapters {
    QtButton command1, command2;
    QtLabel label1_0, label1_1, label2, label3, label4;
    QtLineEdit text1;
    QtTextBox txt_log;
    QtListBox list_ldb1;
};

std::string QtMultiLineEdit::Text() const {
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text.toStdString();
}

void QtMultiLineEdit::SetText(const std::string& text) {
    QString plain = QString::fromStdString(text);
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(plain);
}

QtWindow::QtWindow(QWidget* parent) : QWidget(parent) {
    BuildControls();
    BindControls();
}

QtWindow::~QtWindow() = default;

void QtWindow::BuildControls() {
    const FormLayout& form = kForm1;
    setWindowTitle(QString::fromUtf8(form.caption));
    setWindowIcon(DriveIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(form.width / kTwipsPerPixel, form.height / kTwipsPerPixel);

    command1 = Placed(new QPushButton(CaptionOf(form[kCommand1]), this), form[kCommand1]);
    label1[1] = NewLabel(this, form[kLabel1_1]);
    text1 = Placed(new QLineEdit(CaptionOf(form[kText1]), this), form[kText1]);
    command2 = Placed(new QPushButton(CaptionOf(form[kCommand2]), this), form[kCommand2]);
    label1[0] = NewLabel(this, form[kLabel1_0]);
    label2 = NewLabel(this, form[kLabel2]);

    txt_log = Placed(new QtMultiLineEdit(this), form[kTxtLog]);
    txt_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_log->setTabChangesFocus(true);
    txt_log->SetText(form[kTxtLog].caption);

    list_ldb1 = Placed(new QListWidget(this), form[kListLDB1]);
    list_ldb1->setSortingEnabled(false);

    label3 = NewLabel(this, form[kLabel3]);
    label4 = NewLabel(this, form[kLabel4]);
    widgets = {command1, label1[1], text1,     command2, label1[0],
               label2,   txt_log,   list_ldb1, label3,   label4};

    // Tab order of the controls that take focus; the labels between them take none.
    setTabOrder(command1, text1);
    setTabOrder(text1, command2);
    setTabOrder(command2, txt_log);
    setTabOrder(txt_log, list_ldb1);
    text1->setFocus();  // Command1, first in the order, is hidden

    connect(command1, &QPushButton::clicked, this, [this] {
        if (events_ != nullptr) events_->Command1Clicked();
    });
    connect(command2, &QPushButton::clicked, this, [this] {
        if (events_ != nullptr) events_->Command2Clicked();
    });
}

void QtWindow::BindControls() {
    adapters_.reset(new Adapters{QtButton(command1), QtButton(command2), QtLabel(label1[0]),
                                 QtLabel(label1[1]), QtLabel(label2), QtLabel(label3),
                                 QtLabel(label4), QtLineEdit(text1), QtTextBox(txt_log),
                                 QtListBox(list_ldb1)});
    Adapters& a = *adapters_;
    controls_.Command1 = &a.command1;
    controls_.Label1 = {&a.label1_0, &a.label1_1};
    controls_.Text1 = &a.text1;
    controls_.Command2 = &a.command2;
    controls_.Label2 = &a.label2;
    controls_.TxtLog = &a.txt_log;
    controls_.ListLDB1 = &a.list_ldb1;
    controls_.Label3 = &a.label3;
    controls_.Label4 = &a.label4;
}

void QtWindow::DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtWindow::SetMousePointer(int value) {
    switch (value) {
        case vbDefault:
            unsetCursor();
            break;
        case vbHourglass:
            setCursor(Qt::WaitCursor);
            break;
        default:
            setCursor(Qt::ArrowCursor);
            break;
    }
}

void QtWindow::SetScreenPointer(int value) {
    // Qt's application override cursor, never more than one deep.
    if (value == vbDefault) {
        while (QGuiApplication::overrideCursor() != nullptr) {
            QGuiApplication::restoreOverrideCursor();
        }
    } else {
        QCursor cursor(value == vbHourglass ? Qt::WaitCursor : Qt::ArrowCursor);
        if (QGuiApplication::overrideCursor() != nullptr) {
            QGuiApplication::changeOverrideCursor(cursor);
        } else {
            QGuiApplication::setOverrideCursor(cursor);
        }
    }
}

void QtWindow::closeEvent(QCloseEvent* event) {
    if (events_ != nullptr && !events_->QueryUnload()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace ui
