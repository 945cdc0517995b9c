// Test entry point: the plugin's locale set-up happens in Init, so the tests
// pin the time locale the same way before running.
#include <gtest/gtest.h>

#include "platform/platform.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    feedlet::platform::SetUserTimeLocale();
    return RUN_ALL_TESTS();
}
