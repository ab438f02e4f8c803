// Mouse pointer values, as VB numbers them: the screen's pointer (Screen.MousePointer) and a
// window's own. The window keeps both (app/controls.h).
#pragma once

enum PonteiroMouse : int { vbDefault = 0, vbArrow = 1, vbHourglass = 11 };
