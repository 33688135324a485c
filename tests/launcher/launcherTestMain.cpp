// The launcher tests' entry: one launcher application on Qt's offscreen platform for all tests.
#include <gtest/gtest.h>

#include <cstdlib>

#include "launcher/launcherApplication.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("TRELLIK_AUDIO", "silent", 0);
    ::testing::InitGoogleTest(&argc, argv);
    TlauncherApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
