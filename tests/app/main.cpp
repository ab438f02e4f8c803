// The form's tests run on no toolkit: every harness's form is on the in-memory window.
#include <gtest/gtest.h>

#include "tests/app/harness.h"
#include "tests/app/memory_window.h"

std::unique_ptr<ui::Window> apptest::NewWindow() {
    return std::make_unique<MemoryWindow>();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
