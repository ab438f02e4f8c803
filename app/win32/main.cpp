// Start-up on Windows: create and show the window, then wait for the operator. No code of the
// system's own runs here, and nothing is read from the command line, the environment or
// settings. The program's folder is the folder of the .exe.
#include <windows.h>

#include "app/form1.h"
#include "app/win32/window.h"
#include "platform/heap.h"
#include "platform/win32/win32_services.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    platform::ShareHeapArenas();
    ::SetProcessDPIAware();  // the layout is placed at the screen's own resolution

    platform::ProgramServices<platform::Win32MessageBox, platform::Win32CommonDialog> program;
    ui::Win32Options options;
    options.quit_on_destroy = true;
    auto window = std::make_unique<ui::Win32Window>(options);
    program.message_box.SetOwner(window->hwnd());
    program.file_dialog.SetOwner(window->hwnd());
    Form1 form(program.services(), std::move(window));
    form.Show();
    return ui::Win32Window::MessageLoop();
}
