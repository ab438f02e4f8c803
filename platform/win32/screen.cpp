// The screen-wide pointer on Windows: kept here and set at once; the window puts it back on
// every control the mouse goes over while it is in force (app/win32/window.cpp, WM_SETCURSOR).
#include "platform/screen.h"

#include "platform/win32/win32_services.h"

namespace Screen {
namespace {

int current = vbDefault;

}  // namespace

void SetMousePointer(int value) {
    current = value;
    HCURSOR cursor = platform::CursorOf(value);
    ::SetCursor(cursor != nullptr ? cursor : ::LoadCursorW(nullptr, IDC_ARROW));
}

int MousePointer() {
    return current;
}

}  // namespace Screen
