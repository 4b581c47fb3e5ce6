// The Status panel with two simulated cameras behind a socket server in this process (the same
// messages as the driver host), at real time: "max_gui_block_ms" is the longest the GUI thread
// went without serving its event loop during ten seconds of one-second row ticks (each tick
// reads the battery and the storage of its camera), "status_to_rows_ms" the time from a
// "statusDidGet" to the panel's rows rebuilt and painted (mean and maximum over the posts).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/USBWatcher.h"
#include "camera/USBWatcherHandler.h"
#include "platform/appkit/MainQueueDriver.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"
#include "standins/camera/SimulatedBodyCamera.h"
#include "status/StatusTableViewCell.h"
#include "status/StatusViewController.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// Serves the Qt loop until pred() holds or the time is up.
bool serveUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

struct Rig {
    std::filesystem::path folder;
    hvb::sim::SimulatedUsbBus bus;
    std::unique_ptr<iokit::SocketServer> server;
    std::unique_ptr<QApplication> application;
    std::vector<std::shared_ptr<hvb::sim::SimulatedBodyCamera>> cameras;
    std::unique_ptr<hvb::USBWatcher> watcher;

    Rig() {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("HVB_RESOURCES", HVB_BENCH_BUILD_DIR "/share/HalvetorBody_ToolBox/Resources", 0);
        foundation::setLogEchoEnabled(false);
        dispatch::setTimeScale(1.0);
        std::string pattern = (std::filesystem::temp_directory_path() / "hvb-bench-status-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        diskarb::simulatedDiskTable();
        static int argc = 1;
        static char name[] = "bench_status";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QApplication>(argc, argv);
        appkit::installMainQueueDriver(application.get());
        loadHVBSCSIDriverBundle();
        hvb::buildAllCommandTables();
        iokit::SocketServer::Options options;
        options.socketPath = folder / "iokit.sock";
        options.policy.owner = ::geteuid();
        server = std::make_unique<iokit::SocketServer>(options);
        std::string error;
        server->start(&error);
        iokit::setCurrentLink(std::make_shared<iokit::SocketLink>(options.socketPath));
    }
    ~Rig() {
        watcher.reset();
        for (auto& camera : cameras) camera->detach();
        server.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    void attach(const char* model, const char* firmware, const char* bsd) {
        hvb::sim::BodyCameraOptions options;
        options.bsdName = bsd;
        options.volumeFolder = folder / bsd;
        std::filesystem::create_directories(options.volumeFolder);
        auto camera = hvb::sim::SimulatedBodyCamera::make(*hvb::sim::findCameraProfile(model, firmware), options);
        camera->attach(bus);
        cameras.push_back(camera);
    }
};

void StatusPanel(benchmark::State& state) {
    Rig rig;
    auto& center = foundation::NotificationCenter::defaultCenter();
    Clock::time_point posted;
    std::vector<double> latencies;
    // Registered before the panel: it sees each post first.
    auto first = center.addObserver(hvb::kStatusDidGet, [&](const auto&) { posted = Clock::now(); });

    hvb::StatusViewController panel;
    panel.resize(860, 660);
    panel.view();
    panel.beginAppearance();
    panel.show();
    panel.endAppearance();
    // Registered after the panel: its refresh has run when this one is called.
    auto last = center.addObserver(hvb::kStatusDidGet, [&](const auto&) {
        panel.repaint();
        latencies.push_back(msSince(posted));
    });

    rig.watcher = std::make_unique<hvb::USBWatcher>(hvb::USBWatcherHandler::sharedPointer());
    rig.attach("HVBR7", "1.6.01", "disk4");
    rig.attach("HW7334", "1.0.0", "disk5");
    serveUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 2; }, 120000);
    serveUntil([&] {
        return panel.numberOfRows() == 2 && !panel.rowAt(0)->batteryCapacityLabel()->text().isEmpty() &&
               !panel.rowAt(1)->batteryCapacityLabel()->text().isEmpty();
    }, 30000);

    for (auto _ : state) {
        double longest = 0;
        QElapsedTimer sinceLast;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longest = std::max(longest, static_cast<double>(sinceLast.nsecsElapsed()) / 1e6);
            sinceLast.restart();
        });
        sinceLast.start();
        probe.start();
        const auto start = Clock::now();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        probe.stop();
        state.SetIterationTime(msSince(start) / 1000.0);
        state.counters["max_gui_block_ms"] = longest;
    }
    if (!latencies.empty()) {
        double sum = 0;
        for (double ms : latencies) sum += ms;
        state.counters["status_to_rows_ms"] = sum / static_cast<double>(latencies.size());
        state.counters["status_to_rows_max_ms"] = *std::max_element(latencies.begin(), latencies.end());
        state.counters["status_posts"] = static_cast<double>(latencies.size());
    }
    center.removeObserver(first);
    center.removeObserver(last);
    panel.beginDisappearance();
    panel.endDisappearance();
    rig.watcher.reset();
    serveUntil([] { return false; }, 200);
}

}  // namespace

BENCHMARK(StatusPanel)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
