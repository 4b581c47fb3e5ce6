// The views need the application object before any widget exists, and the application's own
// resources (images, colours, string tables) from the source tree.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include "platform/appkit/FocusFrameStyle.h"

int main(int argc, char** argv) {
    // Also when the test list is read (that run does not get the tests' environment).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::setenv("HVB_RESOURCES", HVB_TEST_SOURCE_DIR "/resources", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    appkit::installFocusFrameStyle();
    return RUN_ALL_TESTS();
}
