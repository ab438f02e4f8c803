// Start-up on Windows: create and show the window, then wait for the operator. No code of the
// system's own runs here, and nothing is read from the command line, the environment or
// settings. The program's folder is the folder of the .exe.
#include <windows.h>

#include "app/form1.h"
#include "app/win32/window.h"
#include "platform/win32/win32_services.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ::SetProcessDPIAware();  // the layout is placed at the screen's own resolution

    platform::SystemClock clock;
    platform::Win32MessageBox message_box;
    platform::Win32CommonDialog file_dialog;
    platform::ProcessEnd program_end;

    const platform::Services services = platform::MakeServices(
        platform::ProgramFolder(), clock, message_box, file_dialog, program_end);

    ui::Win32Options options;
    options.quit_on_destroy = true;
    auto window = std::make_unique<ui::Win32Window>(options);
    message_box.SetOwner(window->hwnd());
    file_dialog.SetOwner(window->hwnd());
    Form1 form(services, std::move(window));
    form.Show();
    return ui::Win32Window::MessageLoop();
}
