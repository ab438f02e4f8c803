// The window: its controls as laid out in twips (15 twips to a pixel), start-up state, the
// runtime services the procedures use, and the dispatch of the two events it handles.
#include "app/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>

#include "app/fonts.h"
#include "app/icon.h"

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

}  // namespace

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

Form1::Form1(const platform::Services& services, QWidget* parent)
    : QWidget(parent),
      CaixaAbrirArquivo(*services.file_dialog),
      services_(services),
      files_(services.env, services.path_style) {
    BuildControls();
}

Form1::~Form1() = default;

void Form1::BuildControls() {
    setWindowTitle(QStringLiteral("Compactador/Reparador de Banco de Dados"));
    setWindowIcon(IconeDisco());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(12345 / kTwipsPorPixel, 7845 / kTwipsPorPixel);

    const QString arial = QStringLiteral("Arial");
    const Qt::Alignment left = Qt::AlignLeft;
    const Qt::Alignment centre = Qt::AlignHCenter;

    Command1 = new QPushButton(QStringLiteral("Iniciar Processo"), this);
    Command1->setGeometry(Twips(75, 7005, 12180, 795));
    Command1->setFont(Fonte(arial, 12, true));
    Command1->setVisible(false);

    Label1[1] =
        NovoRotulo(this, "Arquivo:", Twips(75, 555, 1365, 315), left, Fonte(arial, 12, true));

    Text1 = new QLineEdit(this);
    Text1->setGeometry(Twips(1455, 525, 9405, 375));

    Command2 = new QPushButton(QStringLiteral("Localizar Arquivo"), this);
    Command2->setGeometry(Twips(10965, 480, 1230, 390));
    Command2->setFont(Fonte(arial, 6.75, false));

    Label1[0] = NovoRotulo(this, "", Twips(75, 960, 12150, 660), centre, Fonte(arial, 12, true));

    Label2 = NovoRotulo(this, "Escolha o arquivo a ser reparado/compactado",
                        Twips(150, 90, 12225, 315), centre, Fonte(arial, 8.25, true));

    TxtLog = new CaixaTexto(this);
    TxtLog->setGeometry(Twips(75, 2055, 8790, 4935));
    TxtLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TxtLog->setTabChangesFocus(true);
    TxtLog->SetText("Log.:");

    ListLDB1 = new QListWidget(this);
    ListLDB1->setGeometry(Twips(9000, 2070, 3270, 4890));
    ListLDB1->setSortingEnabled(false);
    ListLDB1->setFont(Fonte(QStringLiteral("Tahoma"), 9, false));

    Label3 = NovoRotulo(this, "Usuários Ativos", Twips(9000, 1770, 3225, 270), centre,
                        Fonte(arial, 8.25, true));
    PintaFundo(Label3, QColor(255, 128, 128));

    Label4 = NovoRotulo(this, "Arquivo Log", Twips(90, 1755, 8775, 270), centre,
                        Fonte(arial, 8.25, true));
    PintaFundo(Label4, QColor(192, 192, 255));

    // Tab order of the controls that take focus; the labels between them take none.
    for (QLabel* label : {Label1[0], Label1[1], Label2, Label3, Label4}) {
        label->setFocusPolicy(Qt::NoFocus);
    }
    setTabOrder(Command1, Text1);
    setTabOrder(Text1, Command2);
    setTabOrder(Command2, TxtLog);
    setTabOrder(TxtLog, ListLDB1);
    Text1->setFocus();  // Command1, first in the order, is hidden

    connect(Command1, &QPushButton::clicked, this, &Form1::OnCommand1Clicked);
    connect(Command2, &QPushButton::clicked, this, &Form1::OnCommand2Clicked);
}

platform::MsgBoxResult Form1::MsgBox(const std::string& prompt, platform::MsgBoxButtons buttons) {
    return services_.message_box->Show(prompt, buttons, kTituloAplicacao);
}

bool Form1::Existe(const std::string& path) {
    return files_.Exists(path);
}

void Form1::DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Form1::Refresh() {
    repaint();
}

void Form1::SetMousePointer(int value) {
    mouse_pointer_ = value;
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

void Form1::End() {
    throw platform::EndProgram();
}

template <class Procedure>
void Form1::Dispatch(Procedure&& procedure) {
    try {
        procedure();
    } catch (const platform::EndProgram&) {
        services_.program_end->EndNow();
    } catch (...) {
        ReportUnhandledError(std::current_exception());
    }
}

void Form1::ReportUnhandledError(std::exception_ptr error) {
    platform::ErrorInfo info = platform::Describe(error);
    try {
        MsgBox("Erro em tempo de execução '" + std::to_string(info.number) + "':\n\n" +
               info.description);
    } catch (...) {
        // The program ends all the same.
    }
    services_.program_end->EndNow();
}

void Form1::OnCommand1Clicked() {
    // A second run never starts while one is under way: the run lets pending events through
    // at every log line, and file selection may show the button again meanwhile.
    if (run_under_way_) return;
    run_under_way_ = true;
    Command1->setEnabled(false);
    Dispatch([this] { Command1_Click(); });
    run_under_way_ = false;
    Command1->setEnabled(true);
    if (close_pending_) {
        close_pending_ = false;
        close();
    }
}

void Form1::OnCommand2Clicked() {
    Dispatch([this] { Command2_Click(); });
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing the window in the middle of a run would leave the database under its working
    // name with nobody to put it back; the window closes as soon as the run has returned.
    if (run_under_way_) {
        close_pending_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
