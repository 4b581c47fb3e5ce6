// The cost of one user-client call on each link: a status poll (selector 5, three scalars in,
// 256 bytes out) to a simulated camera, through the embedded link and through a socket server
// in this process (the same messages and workers as the driver host).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "platform/foundation/Log.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"
#include "standins/camera/SimulatedUsbBus.h"

namespace {

struct World {
    std::filesystem::path folder;
    hvb::sim::SimulatedUsbBus bus;
    std::unique_ptr<iokit::SocketServer> server;

    World() {
        foundation::setLogEchoEnabled(false);
        loadHVBSCSIDriverBundle();
        bus.plug(std::make_shared<hvb::sim::SimulatedCamera>());
        std::string pattern = (std::filesystem::temp_directory_path() / "hvb-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        iokit::SocketServer::Options options;
        options.socketPath = folder / "iokit.sock";
        options.policy.owner = ::geteuid();
        server = std::make_unique<iokit::SocketServer>(options);
        std::string error;
        server->start(&error);
    }
    ~World() {
        server.reset();
        bus.unplugAll();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

World& world() {
    static World w;
    return w;
}

// Nanoseconds per embedded status call in this run, for the socket's ratio.
double gEmbeddedNs = 0;

// Runs the status calls; the real nanoseconds per call.
double statusCalls(benchmark::State& state, iokit::Link& link) {
    iokit::MatchingDictionary matching;
    matching.providerClass = kHVBSCSIDriverClassName;
    std::vector<iokit::Handle> services;
    link.getMatchingServices(matching, &services);
    if (services.empty()) {
        state.SkipWithError("no driver service");
        return 0;
    }
    iokit::Handle connection = 0;
    link.openConnection(services[0], 0, &connection);
    iokit::CallResult result;
    link.callMethod(connection, 0, {}, {}, 0, 0, &result);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        IOReturn status = link.callMethod(connection, 5, {0, 16, 4}, {}, 0, 256, &result);
        if (status != kIOReturnSuccess) {
            state.SkipWithError("status call failed");
            break;
        }
        benchmark::DoNotOptimize(result.structureOutput.data());
    }
    const auto elapsed = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    link.closeConnection(connection);
    for (auto s : services) link.releaseObject(s);
    return state.iterations() ? elapsed / static_cast<double>(state.iterations()) : 0;
}

void BM_StatusCallEmbedded(benchmark::State& state) {
    world();
    iokit::EmbeddedLink link;
    gEmbeddedNs = statusCalls(state, link);
}
BENCHMARK(BM_StatusCallEmbedded)->UseRealTime();

void BM_StatusCallSocket(benchmark::State& state) {
    iokit::SocketLink link(world().folder / "iokit.sock");
    const double ns = statusCalls(state, link);
    // Side by side with the embedded call of the same run (registered first, so measured first).
    if (gEmbeddedNs > 0) state.counters["x_embedded"] = ns / gEmbeddedNs;
}
BENCHMARK(BM_StatusCallSocket)->UseRealTime();

// A round trip the host answers on its reading thread, without a worker: the floor of any call.
void BM_PingSocket(benchmark::State& state) {
    iokit::SocketLink link(world().folder / "iokit.sock");
    for (auto _ : state) {
        if (link.ping() != kIOReturnSuccess) {
            state.SkipWithError("ping failed");
            break;
        }
    }
}
BENCHMARK(BM_PingSocket)->UseRealTime();

}  // namespace
