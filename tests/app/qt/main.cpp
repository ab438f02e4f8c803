// The Qt window's tests run headless: one QApplication on the offscreen platform for the whole
// binary, and every harness's form on the Qt window.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/qt/window.h"
#include "tests/app/harness.h"

std::unique_ptr<ui::Window> apptest::NewWindow() {
    return std::make_unique<ui::QtWindow>();
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
