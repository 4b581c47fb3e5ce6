// GUI tests own their QApplication: offscreen, in the application's style, the main queue driven from
// the Qt loop, the application's built resources and a private home for defaults.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <QApplication>

#include "platform/appkit/FocusFrameStyle.h"
#include "platform/appkit/MainQueueDriver.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("HVB_RESOURCES", HVB_TEST_BUILD_DIR "/share/HalvetorBody_ToolBox/Resources", 0);
    std::string home = (std::filesystem::temp_directory_path() / "hvb-app-test-XXXXXX").string();
    if (::mkdtemp(home.data())) {
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    }
    QApplication application(argc, argv);
    appkit::installFocusFrameStyle();
    appkit::installMainQueueDriver(&application);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return result;
}
