// Form1: the program's one window. Every procedure of the system is a method of this class
// and the form-level variables are its members, so the procedures share the state of a run
// through the window as they always have. The methods live in the files of three folders:
//   app/  the runtime services, GravaLog, Command2_Click, event dispatch (the window and its
//         controls are the toolkit's: app/qt/, app/win32/)
//   run/  Command1_Click and its stages (set-up, pre-flight, backups, exits)
//   db/   the database services (BloqueioTavos, OQueFazer, QuemUsa)
//
// Error policies (see platform/error.h): the run and OQueFazer continue on error through
// Passo() and Teste(); GravaLog, QuemUsa and Command2_Click handle nothing, their errors reach
// the caller. Ending the program throws platform::EndProgram, which only the event handler that
// started the procedure catches.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "app/controls.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/mouse_pointer.h"
#include "platform/services.h"

namespace dao {
class Database;  // an open database of the engine interface (dao/)
class DBEngine;  // the engine interface's engine object
}  // namespace dao

// The caption of every message box: the application's title.
inline constexpr const char* kTituloAplicacao = "Compactador";

// The form runs on any window that implements the control layer (app/controls.h): the Qt one
// (app/qt/) or the Windows one (app/win32/).
class Form1 final : private ui::FormEvents {
  public:
    // REQUIRES: every service in `services` outlives the form. The form owns `window`.
    Form1(const platform::Services& services, std::unique_ptr<ui::Window> window);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Shows the window and gives it its first focus.
    void Show() { window_->Show(); }
    ui::Window& window() { return *window_; }

    // ---- Controls, in tab order (labels take no focus); they live as long as the window ----
    ui::CommandButton* Command1;                // "Iniciar Processo", hidden at start
    std::array<ui::Label*, 2> Label1;           // [1] "Arquivo:"; [0] the status line
    ui::TextBox* Text1;                         // the chosen path
    ui::CommandButton* Command2;                // "Localizar Arquivo"
    ui::Label* Label2;                          // the heading
    ui::TextBox* TxtLog;                        // the log box, "Log.:" at start
    ui::ListBox* ListLDB1;                      // users of the lock file
    ui::Label* Label3;                          // "Usuários Ativos"
    ui::Label* Label4;                          // "Arquivo Log", then the run's log path
    platform::CommonDialog& CaixaAbrirArquivo;  // never visible

    // The screen-wide pointer (VB's Screen object), which the window keeps.
    class ScreenObject {
      public:
        explicit ScreenObject(ui::Window& window) : window_(window) {}
        void SetMousePointer(int value) {
            value_ = value;
            window_.SetScreenPointer(value);
        }
        // The value last set (vbDefault when none is in force).
        int MousePointer() const { return value_; }

      private:
        ui::Window& window_;
        int value_ = vbDefault;
    };
    ScreenObject Screen;

    // ---- Form-level variables ----
    std::shared_ptr<dao::Database> Banco;  // the database open through the engine, if any
    std::string ArquivoPrincipal;          // the chosen database, from Text1 at the start of a run
    std::string ArquivoAtual;              // the file of the run's current step
    std::string PastaPrograma;             // the program's folder
    std::string PastaArquivo;              // the folder of ArquivoPrincipal
    std::string NomeBase;                  // ArquivoPrincipal without its last four characters
    std::string ArquivoTavo;               // the client database tavo.mdb beside it
    std::string ArquivoTavo1;              // the client database tavo1.mdb beside it
    std::string ArquivoLDB;                // its lock file
    std::string ArquivoCopia;              // first backup copy
    std::string ArquivoCopiaExtra;         // second backup copy
    std::string ArquivoReparado;           // the working file that is repaired
    std::string ArquivoCompactado;         // the compaction's output
    std::string ArquivoLog;                // the run's log file
    std::shared_ptr<platform::FileSystemObject> Fso;  // created by each run

    platform::ErrObject Err;  // the current error: number, description and detail

    // ---- Procedures ----
    // Logs one message: status line, log box, repaint, log file (app/grava_log.cpp).
    void GravaLog(std::string Texto);
    // Appends the detail of the current error (Err.Detail: the engine's own English text,
    // with which table, page or check), when there is one, to the run's log file on a line of
    // its own, "<date> - <time> - Detalhe: <detail>", for support. Called right after a line
    // that shows the error. It goes to the file only: the status line and the log box, which
    // the operator reads, keep the Portuguese line as the last message. It never fails: a
    // detail that cannot be written is lost and changes nothing in the run (app/grava_log.cpp).
    void GravaDetalhe() noexcept;
    // "Localizar Arquivo": choose the database (app/command2_click.cpp).
    void Command2_Click();
    // "Iniciar Processo": the maintenance run (run/command1_click.cpp).
    void Command1_Click();
    // The database services (db/).
    void BloqueioTavos(int32_t Tipo);
    int32_t OQueFazer();
    void QuemUsa();

    // ---- Runtime services the procedures use ----
    // A modal box with the application's title and no icon.
    platform::MsgBoxResult MsgBox(const std::string& prompt,
                                  platform::MsgBoxButtons buttons = platform::vbOKOnly);
    // The existence test (plain files only; folders and hidden files are not found).
    bool Existe(const std::string& path);
    platform::FileSystem& Arquivos() { return files_; }
    // The engine object (DAO's DBEngine) over the window's file services. Each run has one of
    // its own, made when "Iniciar Processo" is clicked, so what a repair reported never
    // reaches a later run; a procedure called outside a run uses the latest.
    dao::DBEngine& DBEngine() { return *engine_; }
    // The separator between a folder and a name: "\" on Windows, "/" on POSIX.
    std::string Sep() const { return std::string(1, services_.path_style.separator); }
    platform::DateTime Agora() { return services_.clock->Now(); }
    // The program's own folder, as the platform reports it (VB's App.Path).
    const std::string& AppPath() const { return services_.program_folder; }
    // Lets the window process its pending events once (VB's DoEvents).
    void DoEvents();
    // Repaints the window at once.
    void Refresh();
    void SetMousePointer(int value);
    int MousePointer() const { return mouse_pointer_; }
    // Ends the program at once: no later statement of the procedure runs.
    [[noreturn]] void End();

    // Continue on error: one statement; an error goes to Err and the caller goes on.
    template <class Statement>
    void Passo(Statement&& statement) {
        platform::ResumeNext(Err, std::forward<Statement>(statement));
    }
    // A test under continue on error: one that fails to evaluate counts as true.
    template <class Test>
    bool Teste(Test&& test) {
        return platform::ResumeNextTest(Err, std::forward<Test>(test));
    }

    // True from the click of "Iniciar Processo" until its run has returned.
    bool ProcessoEmAndamento() const { return run_under_way_; }

  private:
    // The window's events.
    void Command1Clicked() override;
    void Command2Clicked() override;
    // Closing the window in the middle of a run would leave the database under its working
    // name with nobody to put it back: the window closes as soon as the run has returned.
    bool QueryUnload() override;

    // Runs an event procedure. EndProgram ends the program; an error that no procedure
    // handled is reported in a box and ends the program, as the runtime does. Nothing
    // crosses into the toolkit's event loop.
    template <class Procedure>
    void Dispatch(Procedure&& procedure);
    void ReportUnhandledError(std::exception_ptr error);

    // The run's opening steps (run/setup.cpp): takes the run stamp into `Carimbo` and builds
    // the file set. False when the run left through the failure exit.
    bool AberturaProcesso(std::string& Carimbo);
    // The pre-flight (run/preflight.cpp): system lock, classification into `Classificacao`,
    // lock file, stale temporaries, warning. False when the run left through the failure exit.
    bool VerificacoesIniciais(int32_t& Classificacao);
    // Backups, repair, compaction and replacement (run/maintenance.cpp). False when the run
    // left through the failure exit.
    bool CopiaReparaCompacta(int32_t Classificacao);
    // Puts the first backup copy back and says whether that worked (run/restore.cpp).
    void VoltaBackup(bool RepintaDepois);
    // The failure exit and the success exit of a run (run/exits.cpp).
    void SaidaFalha();
    [[noreturn]] void SaidaSucesso();

    std::unique_ptr<ui::Window> window_;
    platform::Services services_;
    platform::FileSystem files_;
    std::unique_ptr<dao::DBEngine> engine_;
    int mouse_pointer_ = vbDefault;
    bool run_under_way_ = false;
    bool close_pending_ = false;
};
