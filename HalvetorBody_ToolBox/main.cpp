// The application's entry: the launch order is main window load, will finish launching, did
// finish launching, then the event loop.
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/AppStartup.h"
#include "app/MainWindow.h"
#include "common/CameraWorkQueue.h"
#include "common/StringTableTranslator.h"
#include "platform/appkit/FocusFrameStyle.h"
#include "platform/appkit/MainQueueDriver.h"
#include "platform/foundation/Log.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/services/qt/DesktopUpdater.h"
#include "settings/SettingsStoryboard.h"
#include "tools/ToolsStoryboard.h"

namespace {

int quitPipe[2] = {-1, -1};

void onQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(quitPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the application the way closing its window does.
void quitOnSignals(QApplication& application) {
    if (::pipe(quitPipe) != 0) return;
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] { QApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    appkit::installFocusFrameStyle();
    QApplication::setApplicationName("HalvetorBody_ToolBox");
    QApplication::setOrganizationName("Brevantis");
    // The desktop entry's name, by which the desktop shell finds the window's name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(HVB_DESKTOP_ID));
    // Before anything else: a second toolbox would reinstall the driver and restart its host
    // under the first one.
    if (!hvb::claimSingleInstance()) return 0;
    quitOnSignals(application);
    hvb::installStringTableTranslator();
    appkit::installMainQueueDriver(&application);
    iokit::installConfiguredLink();
    hvb::registerAppControllers();
    hvb::registerSettingsControllers();
    hvb::registerToolControllers();
    hvb::installCameraLinkHooks();
    hvb::installUpdateHooks();
    // The updater in place of the update framework; kept for the life of the process.
    auto* updater = new services::DesktopUpdater(&application);
    services::Updater::setShared(updater);

    hvb::AppDelegate delegate;
    hvb::MainWindow window;
    window.windowDidLoad();
    delegate.applicationWillFinishLaunching();
    window.showWindow();
    foundation::systemLog("MainWindow shown");
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });
    application.exec();
    // No camera job may still run when the exit handlers tear down what it reads.
    hvb::CameraWorkQueue::finishAll();
    services::Updater::setShared(nullptr);
    return 0;
}
