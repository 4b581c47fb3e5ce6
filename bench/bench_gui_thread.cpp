// How long the GUI thread goes without serving its event loop, at real time and offscreen, with
// the cameras behind a socket server in this process as in the application and the Status panel
// and the Setting pane on screen. A 2 ms precise Qt timer on the GUI thread notes the gap between
// its ticks; the longest gap of a round is that round's block. Each benchmark runs several rounds:
// "Plug" a camera plugged until its row is shown and unplugged again, "StatusTick" three seconds
// of the Status panel's one-second row ticks, "SettingWrite" a pop-up choice on the Setting pane
// until its result is shown, "FirmwareUpgrade" the upgrade dialog from its OK to its result
// dialog (download, unpack, reboot, countdown, the camera read again). Counters: the smallest,
// median and largest block of the rounds; the same less the time the GUI thread was runnable but
// waited for a core ("own", from /proc/thread-self/schedstat: on a loaded machine that wait is
// the load's, not the program's); and the one-minute load average before and after.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "app/AppStartup.h"
#include "camera/CameraLink.h"
#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/USBWatcher.h"
#include "camera/USBWatcherHandler.h"
#include "online/FirmwareManager.h"
#include "online/UsageReports.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/MainQueueDriver.h"
#include "platform/appkit/Window.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"
#include "settings/PopUpButtonCell.h"
#include "settings/SettingsTableView.h"
#include "settings/SettingsViewController.h"
#include "standins/camera/SimulatedBodyCamera.h"
#include "standins/webservice/WebService.h"
#include "status/StatusTableViewCell.h"
#include "status/StatusViewController.h"
#include "tools/DialogRegistry.h"
#include "tools/FWUpgradeViewController.h"
#include "tools/ToolsStoryboard.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double one = -1;
    in >> one;
    return one;
}

// Serves the Qt loop (and through it the main queue) until done() holds or the time is up. It
// sleeps between events as the application's loop does; a 5 ms tick looks at done() again.
bool serveUntil(const std::function<bool()>& done, int timeoutMs = 120000) {
    QElapsedTimer timer;
    timer.start();
    QTimer look;
    look.start(5);
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void serveFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    serveUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

// The calling thread's time on a core and time spent runnable but waiting for one (ms).
struct Sched {
    double runningMs = 0;
    double queuedMs = 0;
};
Sched threadSched() {
    std::ifstream in("/proc/thread-self/schedstat");
    double running = 0, queued = 0;
    in >> running >> queued;
    return {running / 1e6, queued / 1e6};
}

// The GUI thread's longest gap between two ticks of a 2 ms timer, from start() to stop(), and
// how much of that gap the thread spent runnable but waiting for a core: on a loaded machine
// that part is the load's, the rest ("own") is the program's (running, or asleep in its code).
class Probe {
public:
    struct Block {
        double ms = 0;
        double queuedMs = 0;
        double own() const { return ms - queuedMs; }
    };

    Probe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] { note(); });
    }
    void start() {
        longest_ = {};
        sinceLast_.start();
        atLast_ = threadSched();
        timer_.start();
    }
    Block stop() {
        timer_.stop();
        note();  // a block still running when the round ends counts too
        return longest_;
    }

private:
    void note() {
        const double gap = static_cast<double>(sinceLast_.nsecsElapsed()) / 1e6;
        const Sched now = threadSched();
        if (gap > longest_.ms) longest_ = {gap, std::min(gap, now.queuedMs - atLast_.queuedMs)};
        sinceLast_.restart();
        atLast_ = now;
    }

    QTimer timer_;
    QElapsedTimer sinceLast_;
    Sched atLast_;
    Block longest_;
};

// Usage reports that go nowhere.
class QuietReports : public hvb::UsageReports {
public:
    void sendEvent(const std::string&, const std::map<std::string, std::string>&) override {}
    void logScreen(const std::string&, const std::string&) override {}
};

struct Rig {
    fs::path folder;
    std::unique_ptr<QApplication> application;
    hvb::sim::SimulatedUsbBus bus;
    std::unique_ptr<iokit::SocketServer> server;
    standin::WebService service;
    std::unique_ptr<hvb::FirmwareManager> manager;
    std::unique_ptr<hvb::USBWatcher> watcher;
    std::shared_ptr<hvb::sim::SimulatedBodyCamera> resident;
    std::unique_ptr<hvb::StatusViewController> status;
    std::unique_ptr<hvb::SettingsViewController> settings;
    int reloads = 0;
    Probe probe;
    // What the upgrade's dialogs showed.
    int resultDialogs = 0;
    int failures = 0;
    uint8_t resultState = 0;

    Rig() {
        std::string pattern = (fs::temp_directory_path() / "hvb-bench-gui-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("HVB_RESOURCES", HVB_BENCH_BUILD_DIR "/share/HalvetorBody_ToolBox/Resources", 0);
        ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        foundation::setLogEchoEnabled(false);
        dispatch::setTimeScale(1.0);
        diskarb::simulatedDiskTable();
        static int argc = 1;
        static char name[] = "bench_gui_thread";
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

        service.start();
        service.setFirmwareVersion("HVBR7", "1.6.02");
        const fs::path resources = folder / "resources";
        fs::create_directories(resources);
        manager = std::make_unique<hvb::FirmwareManager>(service.baseURL(), resources, folder / "packages");
        hvb::FWUpgradeViewController::setServicesFactory([this] {
            hvb::UpgradeServices s = hvb::UpgradeServices::defaults();
            auto* m = manager.get();
            s.downloadFirmware = [m](const std::string& model) { return m->downloadFirmware(model); };
            s.deviceModels = manager->deivceModel;
            return s;
        });
        hvb::registerAppControllers();
        hvb::registerToolControllers();
        hvb::setUsageReports(std::make_shared<QuietReports>());
        appkit::setModalSessionHook([this](appkit::Window* window) { answer(window); });

        watcher = std::make_unique<hvb::USBWatcher>(hvb::USBWatcherHandler::sharedPointer());
        hvb::sim::BodyCameraOptions o;
        o.label = "Unit 34";
        o.bsdName = "disk5";
        o.volumeFolder = folder / "HW7334";
        fs::create_directories(o.volumeFolder / "SYSTEM");
        resident = hvb::sim::SimulatedBodyCamera::make(*hvb::sim::findCameraProfile("HW7334", "1.0.0"), o);
        resident->attach(bus);
        serveUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1; });

        status = std::make_unique<hvb::StatusViewController>();
        status->resize(860, 660);
        status->view();
        status->beginAppearance();
        status->show();
        status->endAppearance();
        settings = std::make_unique<hvb::SettingsViewController>();
        QObject::connect(settings.get(), &hvb::SettingsViewController::settingTablesReloaded, [this] { ++reloads; });
        settings->resize(860, 680);
        settings->view();
        settings->beginAppearance();
        settings->show();
        settings->endAppearance();
        serveUntil([this] { return reloads > 0 && status->numberOfRows() == 1; });
    }

    // Counts the cameras brought up: the one that stays, plus `extra`.
    static bool listed(int64_t extra) { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1 + extra; }

    std::shared_ptr<hvb::sim::SimulatedBodyCamera> plug(const char* model, const char* firmware,
                                                       hvb::sim::BodyCameraOptions o) {
        auto camera = hvb::sim::SimulatedBodyCamera::make(*hvb::sim::findCameraProfile(model, firmware), o);
        camera->attach(bus);
        serveUntil([this] { return listed(1) && status->numberOfRows() == 2; });
        return camera;
    }
    void unplug(const std::shared_ptr<hvb::sim::SimulatedBodyCamera>& camera) {
        camera->waitForReturn();
        camera->detach();
        serveUntil([this] { return listed(0) && status->numberOfRows() == 1; });
        serveFor(100);
    }

    hvb::PopUpButtonCell* cell(const QString& identifier) {
        for (auto* table : {settings->deviceTableView.data(), settings->videoTableView.data(),
                            settings->stampTableView.data()})
            for (int row = 0; row < table->settingsModel()->rowCount(); ++row)
                if (auto* c = table->popUpCell(row); c && c->popUpButton->objectName() == identifier) return c;
        return nullptr;
    }

    // The Setting pane on that camera, idle.
    void select(const QString& title) {
        serveUntil([this] { return !settings->isBusy(); });
        const int position = settings->deviceComboBox->findText(title);
        if (position < 0 || position == settings->deviceComboBox->currentIndex()) return;
        const int before = reloads;
        settings->deviceComboBox->setCurrentIndex(position);
        emit settings->deviceComboBox->activated(position);
        serveUntil([&] { return reloads > before && !settings->isBusy(); });
    }

    // The upgrade's dialogs answered as a user would: OK to the question, OK to the result; a
    // failure screen is noted and closed.
    void answer(appkit::Window* window) {
        auto* dialog = dynamic_cast<hvb::FWUpgradeViewController*>(window->contentViewController());
        if (!dialog) {
            window->performClose();
            appkit::abortModal();
            return;
        }
        if (hvb::fwUpgradeState != 0) {
            ++resultDialogs;
            resultState = hvb::fwUpgradeState;
            dialog->buttonOK->click();
            return;
        }
        dialog->buttonOK->click();
        QPointer<hvb::FWUpgradeViewController> d(dialog);
        auto* watch = new QTimer(application.get());
        QObject::connect(watch, &QTimer::timeout, [this, d, watch] {
            if (!d) {
                watch->deleteLater();
                return;
            }
            if (!d->buttonOK->isEnabled()) return;
            ++failures;
            watch->deleteLater();
            d->buttonOK->click();
        });
        watch->start(50);
    }
};

Rig& rig() {
    static Rig* r = new Rig;  // lives for the process
    return *r;
}

// The rounds' longest blocks (smallest, median, largest), the same less the time the GUI thread
// waited for a core, and the load.
void report(benchmark::State& state, const std::vector<Probe::Block>& blocks, double loadBefore) {
    std::vector<double> wall, own;
    for (const auto& b : blocks) {
        wall.push_back(b.ms);
        own.push_back(b.own());
    }
    std::sort(wall.begin(), wall.end());
    std::sort(own.begin(), own.end());
    state.counters["block_min_ms"] = wall.front();
    state.counters["block_median_ms"] = wall[wall.size() / 2];
    state.counters["block_max_ms"] = wall.back();
    state.counters["own_min_ms"] = own.front();
    state.counters["own_median_ms"] = own[own.size() / 2];
    state.counters["own_max_ms"] = own.back();
    state.counters["rounds"] = static_cast<double>(blocks.size());
    state.counters["load_before"] = loadBefore;
    state.counters["load_after"] = loadAverage();
}

void Plug(benchmark::State& state) {
    Rig& r = rig();
    for (auto _ : state) {
        const double load = loadAverage();
        std::vector<Probe::Block> blocks;
        for (int round = 0; round < 7; ++round) {
            hvb::sim::BodyCameraOptions o;
            o.serialNumber = "T3A000000001";
            o.bsdName = "disk6";
            r.probe.start();
            const auto start = Clock::now();
            auto camera = r.plug("HVBT3A", "1.3.0", o);
            blocks.push_back(r.probe.stop());
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
            r.unplug(camera);
        }
        report(state, blocks, load);
    }
}

void StatusTick(benchmark::State& state) {
    Rig& r = rig();
    for (auto _ : state) {
        const double load = loadAverage();
        std::vector<Probe::Block> blocks;
        for (int round = 0; round < 5; ++round) {
            r.probe.start();
            serveFor(3000);
            blocks.push_back(r.probe.stop());
        }
        state.SetIterationTime(15);
        report(state, blocks, load);
    }
}

void SettingWrite(benchmark::State& state) {
    Rig& r = rig();
    r.select("Unit 34");
    for (auto _ : state) {
        const double load = loadAverage();
        std::vector<Probe::Block> blocks;
        double seconds = 0;
        for (int round = 0; round < 7; ++round) {
            auto* c = r.cell("HVB_LED");
            if (!c) break;
            const int next = c->popUpButton->currentIndex() == 0 ? 1 : 0;
            const int before = r.reloads;
            const size_t written = r.resident->writes().size();
            r.probe.start();
            const auto start = Clock::now();
            c->popUpButton->setCurrentIndex(next);
            emit c->popUpButton->activated(next);
            serveUntil([&] {
                return r.resident->writes().size() > written && r.reloads > before && !r.settings->isBusy();
            });
            blocks.push_back(r.probe.stop());
            seconds += std::chrono::duration<double>(Clock::now() - start).count();
        }
        if (blocks.empty()) {
            state.SkipWithError("no LED row on the Setting pane");
            return;
        }
        state.SetIterationTime(seconds);
        report(state, blocks, load);
    }
}

void FirmwareUpgrade(benchmark::State& state) {
    Rig& r = rig();
    for (auto _ : state) {
        const double load = loadAverage();
        std::vector<Probe::Block> blocks;
        double seconds = 0;
        for (int round = 0; round < 3; ++round) {
            hvb::sim::BodyCameraOptions o;
            o.serialNumber = "HVBR7UPGRADE1";
            o.bsdName = "disk7";
            o.volumeFolder = r.folder / "HVBR7";
            fs::create_directories(o.volumeFolder / "SYSTEM");
            auto camera = r.plug("HVBR7", "1.6.01", o);
            int64_t index = -1;
            const auto entries = hvb::DeviceState::shared().deviceEntryList();
            for (size_t i = 0; i < entries.size(); ++i)
                if (entries[i].serialNumber == camera->serialNumber()) index = static_cast<int64_t>(i);
            auto link = hvb::cameraLink();
            link->setSelectedDeviceIndex(index);
            auto chosen = link->camera(index);
            hvb::selectedCmdDic = chosen ? chosen->table : hvb::CommandDictionary{};
            hvb::latestFirmwareVersion = r.service.firmwareVersion("HVBR7");
            hvb::fwUpgradeState = 0;
            const int results = r.resultDialogs, failures = r.failures;

            r.probe.start();
            const auto start = Clock::now();
            hvb::runDialogFromStoryboard(hvb::kFWUpgradeWindowController, &hvb::fwUpgradeWindow);
            serveUntil([&] { return r.resultDialogs > results || r.failures > failures; }, 600000);
            blocks.push_back(r.probe.stop());
            seconds += std::chrono::duration<double>(Clock::now() - start).count();
            if (r.failures > failures || r.resultState != 1) {
                state.SkipWithError("the upgrade did not succeed");
                return;
            }
            serveUntil([&] { return appkit::modalSessionDepth() == 0; });
            r.unplug(camera);
        }
        state.SetIterationTime(seconds);
        report(state, blocks, load);
    }
}

}  // namespace

BENCHMARK(Plug)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(StatusTick)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SettingWrite)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(FirmwareUpgrade)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
