// The Qt widgets behind a harness's form, for what only Qt can tell (geometry, fonts, focus,
// signals): every form of the app tests is on the Qt window (tests/app/main.cpp).
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "app/form1.h"
#include "app/qt/window.h"

namespace apptest {

inline ui::QtWindow& QtOf(Form1& form) {
    return static_cast<ui::QtWindow&>(form.window());
}

}  // namespace apptest
