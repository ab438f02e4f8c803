// The platform services the window takes at construction. main() passes the real ones; tests
// pass scripted ones (a fake clock, scripted boxes and dialog, a recorded program end, a
// temporary program folder, a fault-injecting Env).
#pragma once

#include <string>
#include <utility>

#include "jet/base/env.h"
#include "platform/clock.h"
#include "platform/common_dialog.h"
#include "platform/message_box.h"
#include "platform/path_style.h"
#include "platform/program.h"

namespace platform {

struct Services {
    std::string program_folder;           // App.Path
    Clock* clock = nullptr;               // REQUIRED
    MessageBox* message_box = nullptr;    // REQUIRED
    CommonDialog* file_dialog = nullptr;  // REQUIRED: the window's CaixaAbrirArquivo
    ProgramEnd* program_end = nullptr;    // REQUIRED
    jet::Env* env = jet::Env::Default();  // every file operation goes through it
    PathStyle path_style = PathStyle::Native();
};

// The services a program or tool starts its window with: the real Env and the machine's paths.
inline Services MakeServices(std::string program_folder, Clock& clock, MessageBox& message_box,
                             CommonDialog& file_dialog, ProgramEnd& program_end) {
    Services services;
    services.program_folder = std::move(program_folder);
    services.clock = &clock;
    services.message_box = &message_box;
    services.file_dialog = &file_dialog;
    services.program_end = &program_end;
    return services;
}

// The services of the program itself, as its main() starts it: the machine's clock, the end
// of the process and the program's folder, with the toolkit's message box and file dialog
// (which main() gives the window to).
template <class ToolkitMessageBox, class ToolkitFileDialog>
struct ProgramServices {
    SystemClock clock;
    ToolkitMessageBox message_box;
    ToolkitFileDialog file_dialog;
    ProcessEnd program_end;

    Services services() {
        return MakeServices(ProgramFolder(), clock, message_box, file_dialog, program_end);
    }
};

}  // namespace platform
