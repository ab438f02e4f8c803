// The form over its window: the runtime services the procedures use and the dispatch of the
// two events it handles. The window, its controls and their layout are the toolkit's (app/qt/,
// app/win32/).
#include "app/form1.h"

#include "dao/dbengine.h"

Form1::Form1(const platform::Services& services, std::unique_ptr<ui::Window> window)
    : CaixaAbrirArquivo(*services.file_dialog),
      Screen(*window),
      window_(std::move(window)),
      services_(services),
      files_(services.env, services.path_style),
      engine_(std::make_unique<dao::DBEngine>(services.env)) {
    const ui::Controls& c = window_->controls();
    Command1 = c.Command1;
    Label1 = c.Label1;
    Text1 = c.Text1;
    Command2 = c.Command2;
    Label2 = c.Label2;
    TxtLog = c.TxtLog;
    ListLDB1 = c.ListLDB1;
    Label3 = c.Label3;
    Label4 = c.Label4;
    window_->SetEvents(this);
}

Form1::~Form1() = default;

platform::MsgBoxResult Form1::MsgBox(const std::string& prompt, platform::MsgBoxButtons buttons) {
    return services_.message_box->Show(prompt, buttons, kTituloAplicacao);
}

bool Form1::Existe(const std::string& path) {
    return files_.Exists(path);
}

void Form1::DoEvents() {
    window_->DoEvents();
}

void Form1::Refresh() {
    window_->Refresh();
}

void Form1::SetMousePointer(int value) {
    mouse_pointer_ = value;
    window_->SetMousePointer(value);
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

void Form1::Command1Clicked() {
    // A second run never starts while one is under way: the run lets pending events through
    // at every log line, and file selection may show the button again meanwhile.
    if (run_under_way_) return;
    run_under_way_ = true;
    engine_ = std::make_unique<dao::DBEngine>(services_.env);
    Command1->SetEnabled(false);
    Dispatch([this] { Command1_Click(); });
    run_under_way_ = false;
    Command1->SetEnabled(true);
    if (close_pending_) {
        close_pending_ = false;
        window_->Close();
    }
}

void Form1::Command2Clicked() {
    Dispatch([this] { Command2_Click(); });
}

bool Form1::QueryUnload() {
    if (!run_under_way_) return true;
    close_pending_ = true;
    return false;
}
