#pragma once
// Helpers shared by the application's GUI tests.
#include <chrono>
#include <functional>
#include <string>

#include <QCoreApplication>
#include <QDir>
#include <QLayout>
#include <QElapsedTimer>
#include <QPixmap>
#include <QWidget>

#include "platform/dispatch/Dispatch.h"

namespace apptest {

// Serves the Qt loop (and through it the main queue) until pred() holds or the time is up.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        dispatch::RunLoop::main().runPending();
    }
    return true;
}

// Renders a widget into build/screenshots/<name>.png for a person to look at.
inline bool saveScreenshot(QWidget* widget, const std::string& name) {
    const std::string folder = std::string(HVB_TEST_BUILD_DIR) + "/screenshots";
    QDir().mkpath(QString::fromStdString(folder));
    widget->ensurePolished();
    if (widget->layout()) widget->layout()->activate();
    return widget->grab().save(QString::fromStdString(folder + "/" + name + ".png"));
}

}  // namespace apptest
