// Cost of one write with its wait and one two-phase read with its wait against a camera that
// completes at once. The read carries the mandated 50 ms pause between its phases; the
// "above_pause_us" counter is what the path costs beyond the pauses (a time under them fails).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "bench/MandatedPauses.h"
#include "camera/UserClientTransport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "standins/camera/SimulatedUsbBus.h"

namespace {

struct Rig {
    hvb::sim::SimulatedUsbBus bus;
    std::shared_ptr<hvb::sim::SimulatedCamera> camera = std::make_shared<hvb::sim::SimulatedCamera>();
    io_service_t service = 0;

    Rig() {
        foundation::setLogEchoEnabled(false);  // measure the path, not the terminal
        dispatch::setTimeScale(1.0);
        loadHVBSCSIDriverBundle();
        camera->setReplyText(0x35, "1.6.01");
        bus.plug(camera);
        service = hvb::findDriverService(0);
    }
};

Rig& rig() {
    static Rig* r = new Rig;
    return *r;
}

void report(benchmark::State& state, std::chrono::steady_clock::duration total, double pausesMs) {
    double perIteration = std::chrono::duration<double, std::micro>(total).count() / state.iterations();
    if (!hvb::bench::coversMandatedPauses(state, "above_pause_us", perIteration / 1000.0, pausesMs)) return;
    state.counters["above_pause_us"] = perIteration - pausesMs * 1000.0;
}

void BM_WriteWithWait(benchmark::State& state) {
    Rig& r = rig();
    const uint8_t payload[4] = {1, 0, 0, 0};
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!hvb::userClientWrite(r.service, 0x36, payload, 4)) state.SkipWithError("write failed");
    }
    report(state, std::chrono::steady_clock::now() - start, 0);
}
BENCHMARK(BM_WriteWithWait)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_TwoPhaseReadWithWait(benchmark::State& state) {
    Rig& r = rig();
    uint8_t out[200];
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!hvb::userClientRead(r.service, 0x35, out, sizeof out)) state.SkipWithError("read failed");
    }
    report(state, std::chrono::steady_clock::now() - start, hvb::kReadPhasePauseMs);
}
BENCHMARK(BM_TwoPhaseReadWithWait)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(40);

}  // namespace

namespace {

// The same read with the pause shrunk to nothing: the path alone, without the sleep's own
// wake-up latency that the real-time figure above includes.
void BM_TwoPhaseReadPathOnly(benchmark::State& state) {
    Rig& r = rig();
    uint8_t out[200];
    dispatch::setTimeScale(1e-9);
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!hvb::userClientRead(r.service, 0x35, out, sizeof out)) state.SkipWithError("read failed");
    }
    report(state, std::chrono::steady_clock::now() - start, 0);
    dispatch::setTimeScale(1.0);
}
BENCHMARK(BM_TwoPhaseReadPathOnly)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
