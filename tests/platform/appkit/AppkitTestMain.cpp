// Widget tests need the application object before any widget exists; the main queue runs on
// its loop as in the application.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/appkit/MainQueueDriver.h"

int main(int argc, char** argv) {
    // Also when the test list is read (that run does not get the tests' environment).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    appkit::installMainQueueDriver(&application);
    return RUN_ALL_TESTS();
}
