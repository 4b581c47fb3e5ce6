// A camera's bring-up at real time, for each simulated model: from its plug (its driver service
// is published within it) to the camera brought up, when it is counted in (PlugInDeviceCnt 1)
// and its "Device" event is sent. "mandated_ms" is the sum of the fixed pauses the plug-in read
// has to make for that camera (50 ms between the phases of each read, 50 ms after each read,
// 150 ms after the encryption read, none after the SD-card read) and "ratio" the measured time
// over it; a time under the mandated pauses fails the benchmark. Each model is brought up twice:
// through the simulation backend's bus and, where umockdev runs, through the Linux backend
// (udev, sysfs, SG_IO on /dev/sgN) on the emulated kernel bus, its SCSI nodes there at once.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "bench/MandatedPauses.h"
#include "camera/CameraLinkHooks.h"
#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/USBWatcher.h"
#include "camera/USBWatcherHandler.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/devices/linux/LinuxCameraBus.h"
#include "platform/devices/linux/UdevMonitor.h"
#include "standins/camera/SimulatedBodyCamera.h"
#if HVB_HAVE_EMULATED_USB_BUS
#include "standins/usbbus/EmulatedUsbBus.h"
#include "standins/usbbus/UmockdevPreload.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

#if HVB_HAVE_EMULATED_USB_BUS
// The emulated bus is seen only under umockdev's preload library.
[[maybe_unused]] const bool underUmockdev = hvb::sim::restartUnderUmockdev();
#endif

struct Rig {
    hvb::sim::SimulatedUsbBus bus;
    std::unique_ptr<hvb::USBWatcher> watcher;
    // The "Device" events sent, and when the last one was.
    std::atomic<int> broughtUp{0};
    std::atomic<Clock::rep> broughtUpAt{0};

    Rig() {
        foundation::setLogEchoEnabled(false);
        dispatch::setTimeScale(1.0);
        dispatch::RunLoop::main().adoptCurrentThread();
        loadHVBSCSIDriverBundle();
        hvb::buildAllCommandTables();
        hvb::CameraLinkHooks hooks;
        hooks.sendEvent = [this](const std::string& name, const std::map<std::string, std::string>&) {
            if (name != "Device") return;
            broughtUpAt = Clock::now().time_since_epoch().count();
            ++broughtUp;
        };
        hvb::setCameraLinkHooks(std::move(hooks));
        watcher = std::make_unique<hvb::USBWatcher>(hvb::USBWatcherHandler::sharedPointer());
    }
};

Rig& rig() {
    static Rig* r = new Rig;
    return *r;
}

hvb::sim::SimulatedUsbBus* simulationBus() { return &rig().bus; }

#if HVB_HAVE_EMULATED_USB_BUS
// The kernel's bus and the Linux backend that reads it into the same registry.
struct LinuxRig {
    hvb::sim::EmulatedUsbBus bus{0};
    devices::LinuxCameraBus cameras;
    devices::UdevMonitor monitor{cameras};
    LinuxRig() { monitor.start(); }
};

// Null where umockdev cannot run.
LinuxRig* linuxRig() {
    static LinuxRig* r = hvb::sim::EmulatedUsbBus::unavailableReason().empty() ? new LinuxRig : nullptr;
    return r;
}

hvb::sim::SimulatedUsbBus* emulatedBus() {
    rig();
    return linuxRig() ? &linuxRig()->bus : nullptr;
}

std::string emulatedBusUnavailable() { return hvb::sim::EmulatedUsbBus::unavailableReason(); }
#else
hvb::sim::SimulatedUsbBus* emulatedBus() { return nullptr; }
std::string emulatedBusUnavailable() { return "umockdev was not found when this benchmark was built"; }
#endif

double mandatedMs(const hvb::sim::SimulatedBodyCamera& camera) {
    const auto& profile = camera.profile();
    auto sd = profile.codeOf("HVB_SD_CARD_STATUS");
    auto encryption = profile.codeOf("HVB_IS_ENCRYPT");
    if (!encryption) encryption = profile.codeOf("HVB_LOCKABLE");
    double total = 0;
    for (const auto& block : camera.log()) {
        if (block.kind != hvb::sim::BlockKind::readPhase2) continue;
        total += 50;  // between the two phases
        if (sd && block.code() == *sd) continue;
        total += (encryption && block.code() == *encryption) ? 150 : 50;
    }
    return total;
}

void BringUp(benchmark::State& state, hvb::sim::SimulatedUsbBus* (*busOf)(), const char* model,
             const char* firmware) {
    Rig& r = rig();
    hvb::sim::SimulatedUsbBus* bus = busOf();
    if (!bus) {
        state.SkipWithError(emulatedBusUnavailable().c_str());
        return;
    }
    const auto* profile = hvb::sim::findCameraProfile(model, firmware);
    double mandated = 0;
    double measured = 0;
    double blocks = 0;
    for (auto _ : state) {
        auto camera = hvb::sim::SimulatedBodyCamera::make(*profile);
        hvb::DeviceState::shared().reset();
        const int before = r.broughtUp.load();
        auto& loop = dispatch::RunLoop::main();
        const auto plugged = Clock::now();
        camera->attach(*bus);
        const bool up = loop.runUntil(
            [&] { return r.broughtUp.load() > before && hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1; },
            std::chrono::seconds(120));
        if (!up) {
            state.SkipWithError("the camera was not brought up");
            camera->detach();
            break;
        }
        const Clock::time_point broughtUp{Clock::duration{r.broughtUpAt.load()}};
        const double ms = std::chrono::duration<double, std::milli>(broughtUp - plugged).count();
        state.SetIterationTime(ms / 1000.0);
        measured += ms;
        mandated = mandatedMs(*camera);
        blocks = static_cast<double>(camera->recordedBlockCount());
        camera->detach();
        loop.runUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }, std::chrono::seconds(10));
        loop.runUntil([] { return false; }, std::chrono::milliseconds(20));
    }
    if (state.error_occurred()) return;
    const double perIteration = measured / static_cast<double>(state.iterations());
    state.counters["measured_ms"] = perIteration;
    state.counters["blocks"] = blocks;
    state.counters["mandated_ms"] = mandated;
    hvb::bench::reportRatio(state, "ratio", perIteration, mandated);
}

}  // namespace

#define HVB_BRINGUP(name, model, firmware)                                                                  \
    BENCHMARK_CAPTURE(BringUp, name, simulationBus, model, firmware)                                       \
        ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);                                   \
    BENCHMARK_CAPTURE(BringUp, name##_linux, emulatedBus, model, firmware)                                 \
        ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
HVB_BRINGUP(HVBR4_1_3_05, "HVBR4", "1.3.05")
HVB_BRINGUP(HVBR4_1_4_00, "HVBR4", "1.4.00")
HVB_BRINGUP(HVBR7_1_6_01, "HVBR7", "1.6.01")
HVB_BRINGUP(HVBS2A_1_13_0, "HVBS2A", "1.13.0")
HVB_BRINGUP(HVBT3A_1_3_0, "HVBT3A", "1.3.0")
HVB_BRINGUP(HVBT3A_1_0_00, "HVBT3A", "1.0.00")
HVB_BRINGUP(HW7312_1_0_00, "HW7312", "1.0.00")
HVB_BRINGUP(HW7333_1_0_0, "HW7333", "1.0.0")
HVB_BRINGUP(HW7334_1_0_0, "HW7334", "1.0.0")
HVB_BRINGUP(HW7360_1_0_0, "HW7360", "1.0.0")
