#include "app/qt/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>

#include "app/qt/fonts.h"
#include "app/qt/icon.h"
#include "platform/screen.h"

namespace ui {
namespace {

constexpr int kTwipsPorPixel = 15;

QRect Twips(int left, int top, int width, int height) {
    return QRect(left / kTwipsPorPixel, top / kTwipsPorPixel, width / kTwipsPorPixel,
                 height / kTwipsPorPixel);
}

QLabel* NovoRotulo(QWidget* parent, const char* text, QRect geometry, Qt::Alignment alignment,
                   const QFont& font) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);  // paths and messages are never markup
    label->setText(QString::fromUtf8(text));
    label->setGeometry(geometry);
    label->setAlignment(alignment | Qt::AlignTop);
    label->setWordWrap(true);
    label->setFont(font);
    return label;
}

void PintaFundo(QLabel* label, QColor color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, color);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
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
    explicit QtTextBox(CaixaTexto* box) : box_(box) {}
    std::string Text() const override { return box_->Text(); }
    void SetText(const std::string& text) override { box_->SetText(text); }

  private:
    CaixaTexto* box_;
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

std::string CaixaTexto::Text() const {
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text.toStdString();
}

void CaixaTexto::SetText(const std::string& text) {
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
    setWindowTitle(QStringLiteral("Compactador/Reparador de Banco de Dados"));
    setWindowIcon(IconeDisco());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(12345 / kTwipsPorPixel, 7845 / kTwipsPorPixel);

    const QString arial = QStringLiteral("Arial");
    const Qt::Alignment left = Qt::AlignLeft;
    const Qt::Alignment centre = Qt::AlignHCenter;

    command1 = new QPushButton(QStringLiteral("Iniciar Processo"), this);
    command1->setGeometry(Twips(75, 7005, 12180, 795));
    command1->setFont(Fonte(arial, 12, true));
    command1->setVisible(false);

    label1[1] =
        NovoRotulo(this, "Arquivo:", Twips(75, 555, 1365, 315), left, Fonte(arial, 12, true));

    text1 = new QLineEdit(this);
    text1->setGeometry(Twips(1455, 525, 9405, 375));

    command2 = new QPushButton(QStringLiteral("Localizar Arquivo"), this);
    command2->setGeometry(Twips(10965, 480, 1230, 390));
    command2->setFont(Fonte(arial, 6.75, false));

    label1[0] = NovoRotulo(this, "", Twips(75, 960, 12150, 660), centre, Fonte(arial, 12, true));

    label2 = NovoRotulo(this, "Escolha o arquivo a ser reparado/compactado",
                        Twips(150, 90, 12225, 315), centre, Fonte(arial, 8.25, true));

    txt_log = new CaixaTexto(this);
    txt_log->setGeometry(Twips(75, 2055, 8790, 4935));
    txt_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_log->setTabChangesFocus(true);
    txt_log->SetText("Log.:");

    list_ldb1 = new QListWidget(this);
    list_ldb1->setGeometry(Twips(9000, 2070, 3270, 4890));
    list_ldb1->setSortingEnabled(false);
    list_ldb1->setFont(Fonte(QStringLiteral("Tahoma"), 9, false));

    label3 = NovoRotulo(this, "Usuários Ativos", Twips(9000, 1770, 3225, 270), centre,
                        Fonte(arial, 8.25, true));
    PintaFundo(label3, QColor(255, 128, 128));

    label4 = NovoRotulo(this, "Arquivo Log", Twips(90, 1755, 8775, 270), centre,
                        Fonte(arial, 8.25, true));
    PintaFundo(label4, QColor(192, 192, 255));

    // Tab order of the controls that take focus; the labels between them take none.
    for (QLabel* label : {label1[0], label1[1], label2, label3, label4}) {
        label->setFocusPolicy(Qt::NoFocus);
    }
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

void QtWindow::closeEvent(QCloseEvent* event) {
    if (events_ != nullptr && !events_->QueryUnload()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace ui
