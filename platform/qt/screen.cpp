#include "platform/screen.h"

#include <QCursor>
#include <QGuiApplication>

namespace Screen {
namespace {

int current = vbDefault;

}  // namespace

void SetMousePointer(int value) {
    if (value == vbDefault) {
        while (QGuiApplication::overrideCursor() != nullptr) {
            QGuiApplication::restoreOverrideCursor();
        }
    } else {
        QCursor cursor(value == vbHourglass ? Qt::WaitCursor : Qt::ArrowCursor);
        if (QGuiApplication::overrideCursor() != nullptr) {
            QGuiApplication::changeOverrideCursor(cursor);
        } else {
            QGuiApplication::setOverrideCursor(cursor);
        }
    }
    current = value;
}

int MousePointer() {
    return current;
}

}  // namespace Screen
