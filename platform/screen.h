// The screen-wide mouse pointer (the runtime's Screen.MousePointer): one pointer for the whole
// application that, while it is set, takes precedence over every window's own pointer. Each
// toolkit keeps it its own way (platform/qt/screen.cpp: Qt's application override cursor,
// never more than one deep, so tests can read it from QGuiApplication::overrideCursor();
// platform/win32/screen.cpp: the cursor the window sets for every control).
#pragma once

// Mouse pointer values, as VB numbers them: the screen's pointer and a window's own.
enum PonteiroMouse : int { vbDefault = 0, vbArrow = 1, vbHourglass = 11 };

namespace Screen {

// Sets the pointer by its VB value; vbDefault gives every window its own pointer back.
void SetMousePointer(int value);
// The value last set (vbDefault when none is in force).
int MousePointer();

}  // namespace Screen
