// The driver host against hostile peers: truncated frames, lying length fields, random bytes,
// hundreds of connections, a peer that never reads. After each, the host is alive, answers a
// status call from another client within a second, and once the attackers are gone it holds
// nothing for them (its own count of peers, bytes waiting to be sent and handles) and ends
// without a leak.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "HostProcess.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TempDir.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketWire.h"

namespace fs = std::filesystem;
using namespace iokit;
using hosttest::HostProcess;

namespace {

// Our client alone: one peer with its connection, nothing waiting to be sent.
const std::string kOurOwn = "peers 1\nqueued 0\nhandles 1\n";

std::vector<uint8_t> header(uint16_t type, uint32_t length, uint32_t requestID = 1) {
    std::vector<uint8_t> h(wire::kHeaderSize, 0);
    auto put = [&](size_t at, uint64_t v, int n) {
        for (int k = 0; k < n; ++k) h[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
    };
    put(0, wire::kMagic, 4);
    put(4, length, 4);
    put(8, type, 2);
    put(12, requestID, 4);
    return h;
}

class HostRobustness : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        ASSERT_TRUE(host.start(dir.path(), {"--camera", "model=HVBR7,firmware=1.6.01,serial=ROBUST01"}));
        app = std::make_shared<SocketLink>(hosttest::socketOf(dir.path()));
        app->setCallTimeout(1000);  // the status call must be served within a second
        MatchingDictionary matching;
        matching.providerClass = kHVBSCSIDriverClassName;
        std::vector<Handle> services;
        ASSERT_EQ(app->getMatchingServices(matching, &services), kIOReturnSuccess);
        ASSERT_EQ(services.size(), 1u);
        ASSERT_EQ(app->openConnection(services[0], 0, &connection), kIOReturnSuccess);
        app->releaseObject(services[0]);
        CallResult r;
        ASSERT_EQ(app->callMethod(connection, 0, {}, {}, 0, 0, &r), kIOReturnSuccess);
        expectServed("start");
        ASSERT_TRUE(sockettest::eventually([&] { return held() == kOurOwn; })) << held();
    }
    void TearDown() override {
        if (connection) app->closeConnection(connection);
        app.reset();
        if (host.pid() <= 0) return;
        host.kill(SIGTERM);
        // Under the leak checker a leak makes the exit status non-zero.
        EXPECT_TRUE(WIFEXITED(host.exitStatus()) && WEXITSTATUS(host.exitStatus()) == 0) << host.exitStatus();
    }

    // What the host holds for its peers, by its own count (the lines about them; what the
    // kernel layer and the cameras keep on record follow).
    std::string held() {
        std::string reply;
        if (app->control({"stats"}, &reply) != kIOReturnSuccess) return "no answer";
        const size_t notified = reply.find("notified ");
        return notified == std::string::npos ? reply : reply.substr(0, notified);
    }

    // The host alive and a well-formed status reply to the other client within a second.
    void expectServed(const std::string& after) {
        ASSERT_TRUE(host.running()) << "the host died after " << after;
        CallResult r;
        ASSERT_EQ(app->callMethod(connection, 5, {0, 16, 4}, {}, 0, 256, &r), kIOReturnSuccess) << after;
        ASSERT_GE(r.structureOutput.size(), 12u);
        EXPECT_EQ(r.structureOutput[0], 16) << after;
    }

    // Plays the attack twice: the host serves after each, and once the attackers have gone it
    // holds what it held for us alone. Counted by the host rather than read off its resident
    // memory, which the allocator's caches move by megabytes either way; memory lost outright
    // shows in the exit status.
    void attackTwice(const std::string& what, const std::function<void()>& attack) {
        for (const std::string& round : {what, what + " again"}) {
            attack();
            expectServed(round);
            EXPECT_TRUE(sockettest::eventually([&] { return held() == kOurOwn; }, 20)) << round << ": " << held();
        }
    }

    // `count` packets of random bytes (half of them behind a plausible header) from peers that
    // connect again whenever they are dropped.
    void randomPeers(unsigned seed, int count) {
        std::mt19937 random(seed);
        int fd = -1;
        for (int i = 0; i < count; ++i) {
            if (fd < 0) fd = peer();
            std::vector<uint8_t> message(random() % 512);
            for (auto& b : message) b = static_cast<uint8_t>(random());
            if (message.size() >= wire::kHeaderSize && random() % 2) {
                auto h = header(static_cast<uint16_t>(random() % 40), static_cast<uint32_t>(message.size()), random());
                std::copy(h.begin(), h.end(), message.begin());
            }
            if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0) {
                ::close(fd);
                fd = -1;
            }
        }
        if (fd >= 0) ::close(fd);
    }

    int peer() {
        int fd = sockettest::rawConnect(hosttest::socketOf(dir.path()));
        EXPECT_GE(fd, 0);
        EXPECT_EQ(sockettest::readHelloAdmitted(fd), 1);
        return fd;
    }

    // Sends one packet and expects the host to drop the peer for it.
    void expectDropped(const std::vector<uint8_t>& packet, const std::string& what) {
        int fd = peer();
        ::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL);
        EXPECT_TRUE(sockettest::closedByPeer(fd, 5)) << what;
        ::close(fd);
    }

    TempDir dir;
    HostProcess host;
    std::shared_ptr<SocketLink> app;
    Handle connection = 0;
};

}  // namespace

TEST_F(HostRobustness, TruncatedFrames) {
    attackTwice("truncated frames", [&] {
        const auto ping = header(static_cast<uint16_t>(wire::Type::ping), wire::kHeaderSize);
        for (size_t cut : {1u, 4u, 8u, 15u})
            expectDropped({ping.begin(), ping.begin() + static_cast<long>(cut)}, "cut header");
        // A status call whose body stops short of its fields.
        wire::Writer call(wire::Type::callMethod, 7);
        call.u32(1);
        call.u32(5);
        call.u32(3);
        call.u64(0);
        expectDropped(call.finish(), "cut body");
    });
}

TEST_F(HostRobustness, LengthFieldsOfZeroOneAndPastTheEnd) {
    attackTwice("length fields", [&] {
        for (uint32_t length : {0u, 1u, 0x80000000u, 0xFFFFFFFFu}) {
            expectDropped(header(static_cast<uint16_t>(wire::Type::ping), length), "length " + std::to_string(length));
            // The same lengths in a field of the body; an empty key is a question like any other.
            auto packet = header(static_cast<uint16_t>(wire::Type::getProperty), wire::kHeaderSize + 8);
            for (int k = 0; k < 4; ++k) packet.push_back(1);
            for (int k = 0; k < 4; ++k) packet.push_back(static_cast<uint8_t>(length >> (8 * k)));
            if (length != 0) {
                expectDropped(packet, "text length " + std::to_string(length));
                continue;
            }
            int fd = peer();
            ASSERT_EQ(::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL), static_cast<ssize_t>(packet.size()));
            uint8_t reply[64];
            EXPECT_GE(::recv(fd, reply, sizeof reply, 0), static_cast<ssize_t>(wire::kHeaderSize));
            ::close(fd);
        }
    });
}

TEST_F(HostRobustness, HugeDeclaredLengthsWithNoBody) {
    attackTwice("huge lengths", [&] {
        for (uint32_t length : {uint32_t(wire::kMaxRequestSize + 1), 64u << 20, 0xFFFFFFF0u}) {
            expectDropped(header(static_cast<uint16_t>(wire::Type::control), length),
                          "declared " + std::to_string(length));
            auto packet = header(static_cast<uint16_t>(wire::Type::control), wire::kHeaderSize + 4);
            for (int k = 0; k < 4; ++k) packet.push_back(static_cast<uint8_t>(length >> (8 * k)));  // argument count
            expectDropped(packet, "count " + std::to_string(length));
        }
        // Bigger than any request may be.
        expectDropped(std::vector<uint8_t>(wire::kMaxRequestSize + 1, 0x41), "oversized packet");
    });
}

TEST_F(HostRobustness, RandomBytes) {
    unsigned seed = 6;
    attackTwice("random bytes", [&] { randomPeers(seed++, 3000); });
}

TEST_F(HostRobustness, TwoHundredConnectionsOpenedAndDropped) {
    attackTwice("200 connections", [&] {
        std::vector<int> fds;
        for (int i = 0; i < 200; ++i) {
            int fd = sockettest::rawConnect(hosttest::socketOf(dir.path()));
            ASSERT_GE(fd, 0) << i;
            fds.push_back(fd);
        }
        expectServed("200 connections held");
        for (int fd : fds) ::close(fd);
        ASSERT_TRUE(sockettest::eventually([&] { return hosttest::answers(dir.path()); }, 5));
    });
}

TEST_F(HostRobustness, APeerThatNeverReadsItsReplies) {
    attackTwice("a peer that never reads", [&] {
        int fd = peer();
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        wire::Writer ask(wire::Type::getPath, 1);
        ask.u32(1);
        const auto request = ask.finish();
        // Each send waits for room, however slowly the host reads under load; a host that stops
        // reading without dropping the peer fails the test rather than hangs it.
        const timeval patience{20, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
        bool dropped = false;
        for (int i = 0; i < 200000 && !dropped; ++i) {
            // Never read: once the host gives up on this peer the sends fail.
            if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
                dropped = errno != EAGAIN && errno != EWOULDBLOCK;
                break;
            }
            if (i % 1000 == 0) expectServed("a peer that does not read, " + std::to_string(i) + " requests in");
        }
        EXPECT_TRUE(dropped);
        ::close(fd);
    });
}
