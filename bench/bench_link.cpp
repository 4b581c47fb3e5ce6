// The cost of one user-client call on each link: a status poll (selector 5, three scalars in,
// 256 bytes out) to a simulated camera, through the embedded link and through a socket server
// in this process (the same messages and workers as the driver host); and, as the floor, a bare
// round trip of messages of the same sizes over a Unix socket pair between two threads.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "platform/foundation/Log.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"
#include "platform/iokit/link/SocketWire.h"
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

// Nanoseconds per embedded status call and per bare round trip in this run, for the socket's
// ratios.
double gEmbeddedNs = 0;
double gRawNs = 0;

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

// The status call's request and reply as they travel, for their sizes.
std::vector<uint8_t> statusRequest() {
    iokit::wire::Writer w(iokit::wire::Type::callMethod, 1);
    w.u32(1);
    w.u32(5);
    w.u32(3);
    for (uint64_t s : {0, 16, 4}) w.u64(s);
    w.bytes({});
    w.u32(0);
    w.u32(256);
    return std::move(w.finish());
}

std::vector<uint8_t> statusReply() {
    iokit::wire::Writer w(iokit::wire::Type::callMethod, 1, iokit::wire::kReplyFlag);
    w.u32(0);
    w.u32(0);
    std::vector<uint8_t> structure(256);
    w.bytes(structure);
    return std::move(w.finish());
}

// The floor: a request and its reply over a SOCK_SEQPACKET pair, answered by another thread
// blocked in recv, with nothing done in between.
void BM_RawRoundTrip(benchmark::State& state) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    const std::vector<uint8_t> request = statusRequest();
    const std::vector<uint8_t> reply = statusReply();
    std::thread echo([&] {
        std::vector<uint8_t> buffer(iokit::wire::kMaxRequestSize + 1);
        while (::recv(pair[1], buffer.data(), buffer.size(), 0) > 0) {
            if (::send(pair[1], reply.data(), reply.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(reply.size())) break;
        }
    });
    std::vector<uint8_t> buffer(iokit::wire::kMaxMessageSize + 1);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (::send(pair[0], request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()) ||
            ::recv(pair[0], buffer.data(), buffer.size(), 0) != static_cast<ssize_t>(reply.size())) {
            state.SkipWithError("round trip failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    const auto elapsed = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    ::shutdown(pair[0], SHUT_RDWR);
    echo.join();
    ::close(pair[0]);
    ::close(pair[1]);
    gRawNs = state.iterations() ? elapsed / static_cast<double>(state.iterations()) : 0;
}
BENCHMARK(BM_RawRoundTrip)->UseRealTime();

void BM_StatusCallSocket(benchmark::State& state) {
    iokit::SocketLink link(world().folder / "iokit.sock");
    const double ns = statusCalls(state, link);
    // Side by side with the embedded call and the bare round trip of the same run (registered
    // first, so measured first).
    if (gEmbeddedNs > 0) state.counters["x_embedded"] = ns / gEmbeddedNs;
    if (gRawNs > 0) state.counters["x_raw"] = ns / gRawNs;
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
