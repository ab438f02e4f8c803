// The window tests of the Windows build: every harness's form is on the Windows window, laid
// out at the resolution of the screen (Wine's own under xvfb-run).
#include <gtest/gtest.h>

#include "app/win32/window.h"
#include "tests/app/harness.h"

std::unique_ptr<ui::Window> apptest::NewWindow() {
    return std::make_unique<ui::Win32Window>();
}

int main(int argc, char** argv) {
    ::SetProcessDPIAware();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
