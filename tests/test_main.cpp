// Test entry point: the plugin's locale set-up happens in Init, so the tests
// pin the time locale the same way before running. On Windows the program
// is also a test's other process (--hold-mutexes).
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "test_util.h"

int main(int argc, char** argv) {
#ifdef _WIN32
    // A test's other process (plugin_test.cpp).
    if (argc > 1 && std::strcmp(argv[1], "--hold-mutexes") == 0)
        return feedlet::testing_util::HoldNamedMutexes(argc - 2, argv + 2);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    feedlet::platform::SetUserTimeLocale();
    return RUN_ALL_TESTS();
}
