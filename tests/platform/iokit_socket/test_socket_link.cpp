// The socket link against a server in this process: the same answers as the embedded link,
// commands through the driver's user client, pushed notifications, concurrent calls, peers
// that die, misbehave or are not admitted, and a host that goes away and comes back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "platform/iokit_socket/SocketTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TempDir.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"
#include "platform/iokit/link/SocketWire.h"
#include "platform/iokit/user/IOKitLib.h"
#include "standins/camera/SimulatedUsbBus.h"

using namespace iokit;
using sockettest::eventually;
using sockettest::Events;
using sockettest::GateCamera;

namespace {

MatchingDictionary driverMatching() {
    MatchingDictionary m;
    m.providerClass = kHVBSCSIDriverClassName;
    m.setProperty("idVendor", makeNumber(0x6D21, 32));
    m.setProperty("idProduct", makeNumber(0x5000, 32));
    return m;
}

MatchingDictionary usbMatching() {
    MatchingDictionary m;
    m.providerClass = "IOUSBDevice";
    return m;
}

class SocketLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        ASSERT_TRUE(loadHVBSCSIDriverBundle());
        socketPath = dir / "run/halvetor/iokit.sock";
        startServer();
        link = std::make_shared<SocketLink>(socketPath);
        link->setReconnectInterval(20);
    }
    void TearDown() override {
        setCurrentLink(std::make_shared<EmbeddedLink>());
        link.reset();
        server.reset();
        bus.unplugAll();
    }

    void startServer(AdmissionPolicy policy = {}, std::function<void(SocketServer::Options&)> tune = {}) {
        if (!policy.owner && !policy.group) policy.owner = ::geteuid();  // exactly this test
        SocketServer::Options options;
        options.socketPath = socketPath;
        options.policy = policy;
        options.control = [this](const std::vector<std::string>& args, std::string* reply) {
            controlCalls.push_back(args);
            *reply = "done " + std::to_string(args.size());
            return kIOReturnSuccess;
        };
        if (tune) tune(options);
        server = std::make_unique<SocketServer>(options);
        std::string error;
        ASSERT_TRUE(server->start(&error)) << error;
    }

    template <class Camera = hvb::sim::SimulatedCamera>
    std::shared_ptr<Camera> plug(const std::string& serial) {
        hvb::sim::CameraIdentity identity;
        identity.serialNumber = serial;
        auto camera = std::make_shared<Camera>(identity);
        EXPECT_TRUE(bus.plug(camera));
        return camera;
    }

    Handle onlyService(Link& l, const MatchingDictionary& m) {
        std::vector<Handle> services;
        EXPECT_EQ(l.getMatchingServices(m, &services), kIOReturnSuccess);
        EXPECT_EQ(services.size(), 1u);
        for (size_t i = 1; i < services.size(); ++i) l.releaseObject(services[i]);
        return services.empty() ? 0 : services[0];
    }

    // Opens the driver's user client on `l` and opens the provider (selector 0).
    Handle openCamera(Link& l, IOReturn expected = kIOReturnSuccess) {
        Handle service = onlyService(l, driverMatching());
        Handle connection = 0;
        EXPECT_EQ(l.openConnection(service, 0, &connection), kIOReturnSuccess);
        l.releaseObject(service);
        CallResult r;
        EXPECT_EQ(l.callMethod(connection, 0, {}, {}, 0, 0, &r), expected);
        return connection;
    }

    static IOReturn status(Link& l, Handle connection, std::vector<uint8_t>* reply = nullptr) {
        CallResult r;
        IOReturn s = l.callMethod(connection, 5, {0, 16, 4}, {}, 0, 256, &r);
        if (reply) *reply = r.structureOutput;
        return s;
    }

    static IOReturn write(Link& l, Handle connection, uint8_t code, std::vector<uint8_t> payload) {
        std::vector<uint8_t> structure(256, 0);
        std::copy(payload.begin(), payload.end(), structure.begin());
        CallResult r;
        return l.callMethod(connection, 4, {code, payload.size()}, structure, 0, 0, &r);
    }

    TempDir dir;
    std::filesystem::path socketPath;
    std::unique_ptr<SocketServer> server;
    std::shared_ptr<SocketLink> link;
    hvb::sim::SimulatedUsbBus bus;
    std::vector<std::vector<std::string>> controlCalls;
};

}  // namespace

TEST_F(SocketLinkTest, RegistryAnswersMatchTheEmbeddedLink) {
    auto camera = plug("SNSOCK1");
    EmbeddedLink embedded;
    Handle viaSocket = onlyService(*link, driverMatching());
    Handle viaEmbedded = onlyService(embedded, driverMatching());
    ASSERT_NE(viaSocket, 0u);

    uint64_t idSocket = 0, idEmbedded = 1;
    EXPECT_EQ(link->getEntryID(viaSocket, &idSocket), kIOReturnSuccess);
    EXPECT_EQ(embedded.getEntryID(viaEmbedded, &idEmbedded), kIOReturnSuccess);
    EXPECT_EQ(idSocket, idEmbedded);
    std::string a, b;
    EXPECT_EQ(link->getName(viaSocket, &a), kIOReturnSuccess);
    embedded.getName(viaEmbedded, &b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(link->getPath(viaSocket, &a), kIOReturnSuccess);
    embedded.getPath(viaEmbedded, &b);
    EXPECT_EQ(a, b);

    std::optional<Value> value;
    EXPECT_EQ(link->getProperty(viaSocket, "IOUserClientClass", &value), kIOReturnSuccess);
    ASSERT_TRUE(asString(value));
    EXPECT_EQ(*asString(value), kHVBSCSIDriverUserClientClassName);
    EXPECT_EQ(link->searchProperty(viaSocket, "USB Serial Number",
                                   kIORegistryIterateRecursively | kIORegistryIterateParents, &value),
              kIOReturnSuccess);
    ASSERT_TRUE(asString(value));
    EXPECT_EQ(*asString(value), "SNSOCK1");
    EXPECT_EQ(link->searchProperty(viaSocket, "BSD Name", kIORegistryIterateRecursively, &value), kIOReturnSuccess);
    ASSERT_TRUE(asString(value));
    EXPECT_EQ(*asString(value), camera->identity().bsdNames.front());
    EXPECT_EQ(link->getProperty(viaSocket, "no such key", &value), kIOReturnSuccess);
    EXPECT_FALSE(value);

    // Handles count references; a handle that was never given out is refused.
    EXPECT_EQ(link->retainObject(viaSocket), kIOReturnSuccess);
    EXPECT_EQ(link->releaseObject(viaSocket), kIOReturnSuccess);
    EXPECT_EQ(link->getName(viaSocket, &a), kIOReturnSuccess);
    EXPECT_EQ(link->releaseObject(viaSocket), kIOReturnSuccess);
    EXPECT_EQ(link->releaseObject(viaSocket), kIOReturnBadArgument);
    EXPECT_EQ(link->getName(viaSocket, &a), kIOReturnBadArgument);
    EXPECT_EQ(link->getName(12345, &a), kIOReturnBadArgument);
    embedded.releaseObject(viaEmbedded);

    // Bounds are checked before anything is sent.
    MatchingDictionary huge;
    huge.providerClass = std::string(wire::kMaxNameLength + 1, 'x');
    std::vector<Handle> none;
    EXPECT_EQ(link->getMatchingServices(huge, &none), kIOReturnBadArgument);
}

TEST_F(SocketLinkTest, VendorCommandsReachTheCameraThroughTheUserCalls) {
    auto camera = plug("SNSOCK2");
    setCurrentLink(link);
    io_iterator_t it = 0;
    ASSERT_EQ(IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching(kHVBSCSIDriverClassName), &it),
              kIOReturnSuccess);
    io_service_t service = IOIteratorNext(it);
    ASSERT_NE(service, 0u);
    EXPECT_EQ(IOIteratorNext(it), 0u);
    IOObjectRelease(it);

    io_connect_t first = 0, second = 0;
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &first), kIOReturnSuccess);
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &second), kIOReturnSuccess);
    ASSERT_EQ(IOConnectCallMethod(first, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnSuccess);
    EXPECT_EQ(IOConnectCallMethod(second, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnExclusiveAccess);

    uint8_t payload[256] = {0x11, 0x22, 0x33, 0x44};
    uint64_t writeScalars[2] = {0x2A, 4};
    ASSERT_EQ(IOConnectCallMethod(first, 4, writeScalars, 2, payload, sizeof payload, nullptr, nullptr, nullptr,
                                  nullptr),
              kIOReturnSuccess);
    auto written = camera->lastWrite(0x2A);
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));

    uint64_t statusScalars[3] = {0, 16, 4};
    uint8_t reply[256];
    std::memset(reply, 0xCC, sizeof reply);
    size_t replySize = sizeof reply;
    ASSERT_EQ(IOConnectCallMethod(first, 5, statusScalars, 3, nullptr, 0, nullptr, nullptr, reply, &replySize),
              kIOReturnSuccess);
    EXPECT_EQ(replySize, 256u);
    EXPECT_EQ(reply[0], 16);
    EXPECT_EQ(reply[16], 0);  // beyond the 16 bytes the camera sent: zeros, not old memory

    // The platform's checks still hold across the socket.
    replySize = 100;
    EXPECT_EQ(IOConnectCallMethod(first, 5, statusScalars, 3, nullptr, 0, nullptr, nullptr, reply, &replySize),
              kIOReturnBadArgument);
    EXPECT_EQ(IOConnectCallMethod(first, 9, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnUnsupported);
    uint64_t tooMany[17] = {};
    EXPECT_EQ(IOConnectCallMethod(first, 5, tooMany, 17, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnBadArgument);

    EXPECT_EQ(IOServiceClose(first), kIOReturnSuccess);
    EXPECT_EQ(IOConnectCallMethod(second, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnSuccess);
    EXPECT_EQ(IOServiceClose(second), kIOReturnSuccess);
    EXPECT_EQ(IOServiceClose(second), kIOReturnBadArgument);
    IOObjectRelease(service);
}

TEST_F(SocketLinkTest, NotificationsArePushedAsTheyHappen) {
    Events events;
    link->setEventSink(events.sink());
    plug("SNEARLY");
    // A camera present already reaches the sink before the registration returns.
    ASSERT_EQ(link->addNotification(1, NotificationKind::matched, usbMatching()), kIOReturnSuccess);
    EXPECT_EQ(events.of(1).size(), 1u);
    ASSERT_EQ(link->addNotification(2, NotificationKind::terminated, usbMatching()), kIOReturnSuccess);
    ASSERT_EQ(link->addNotification(3, NotificationKind::firstMatch, driverMatching()), kIOReturnSuccess);
    EXPECT_EQ(link->addNotification(3, NotificationKind::firstMatch, driverMatching()), kIOReturnBadArgument);
    EXPECT_EQ(events.of(3).size(), 1u);

    auto late = plug("SNLATE");
    ASSERT_TRUE(events.waitFor(4));
    auto added = events.of(1);
    ASSERT_EQ(added.size(), 2u);
    std::optional<Value> serial;
    EXPECT_EQ(link->getProperty(added[1], "USB Serial Number", &serial), kIOReturnSuccess);
    ASSERT_TRUE(asString(serial));
    EXPECT_EQ(*asString(serial), "SNLATE");

    bus.unplug(late);
    ASSERT_TRUE(events.waitFor(5));
    auto removed = events.of(2);
    ASSERT_EQ(removed.size(), 1u);
    // A terminated service stays readable for whoever holds it.
    EXPECT_EQ(link->getProperty(removed[0], "USB Serial Number", &serial), kIOReturnSuccess);
    ASSERT_TRUE(asString(serial));
    EXPECT_EQ(*asString(serial), "SNLATE");

    EXPECT_EQ(link->removeNotification(1), kIOReturnSuccess);
    EXPECT_EQ(link->removeNotification(1), kIOReturnBadArgument);
    plug("SNAFTER");
    ASSERT_TRUE(events.waitFor(6));  // the driver match only
    EXPECT_EQ(events.of(1).size(), 2u);
    EXPECT_EQ(events.of(3).size(), 3u);
    for (auto& [id, h] : events.list) link->releaseObject(h);
}

TEST_F(SocketLinkTest, ALinkLetGoOfWhileItsSinkDeliversEndsOnTheEventThread) {
    // The sink holds the link while it delivers, as the user side does; everyone else lets go
    // meanwhile, so the last reference goes on the link's own event thread.
    auto held = std::make_shared<std::shared_ptr<SocketLink>>(link);
    std::weak_ptr<SocketLink> weak = link;
    std::atomic<bool> inSink{false}, letGo{false}, ended{false};
    link->setEventSink([held, &inSink, &letGo, &ended](uint64_t, Handle h) {
        std::shared_ptr<SocketLink> self = std::move(*held);
        if (!self) return;
        inSink = true;
        eventually([&] { return letGo.load(); });
        self->releaseObject(h);
        self.reset();
        ended = true;
    });
    ASSERT_EQ(link->addNotification(1, NotificationKind::matched, usbMatching()), kIOReturnSuccess);
    plug("SNLAST");
    ASSERT_TRUE(eventually([&] { return inSink.load(); }));
    link.reset();
    letGo = true;
    EXPECT_TRUE(eventually([&] { return ended.load(); }));
    EXPECT_TRUE(weak.expired());
}

TEST_F(SocketLinkTest, CallsOnDifferentConnectionsRunConcurrently) {
    auto slow = plug<GateCamera>("SNSLOW");
    auto fast = plug("SNFAST");
    std::vector<Handle> services;
    ASSERT_EQ(link->getMatchingServices(driverMatching(), &services), kIOReturnSuccess);
    ASSERT_EQ(services.size(), 2u);
    std::vector<Handle> connections;
    for (Handle s : services) {
        Handle c = 0;
        ASSERT_EQ(link->openConnection(s, 0, &c), kIOReturnSuccess);
        CallResult r;
        ASSERT_EQ(link->callMethod(c, 0, {}, {}, 0, 0, &r), kIOReturnSuccess);
        connections.push_back(c);
        link->releaseObject(s);
    }
    // Which connection belongs to which camera: the registry order is the plug order.
    slow->hold();
    std::atomic<IOReturn> slowResult{kIOReturnInvalid};
    std::thread blocked([&] { slowResult = write(*link, connections[0], 0x30, {1}); });
    ASSERT_TRUE(slow->waitUntilEntered());
    std::vector<uint8_t> reply;
    for (int i = 0; i < 20; ++i) ASSERT_EQ(status(*link, connections[1], &reply), kIOReturnSuccess);
    // Lookups and property reads go on meanwhile, too.
    std::vector<Handle> both;
    EXPECT_EQ(link->getMatchingServices(usbMatching(), &both), kIOReturnSuccess);
    EXPECT_EQ(both.size(), 2u);
    for (Handle h : both) link->releaseObject(h);
    EXPECT_EQ(slowResult.load(), kIOReturnInvalid);  // still held at the camera
    slow->release();
    blocked.join();
    EXPECT_EQ(slowResult.load(), kIOReturnSuccess);
    EXPECT_TRUE(slow->lastWrite(0x30));
    EXPECT_FALSE(fast->lastWrite(0x30));
    for (Handle c : connections) link->closeConnection(c);
}

TEST_F(SocketLinkTest, ConcurrentCallersGetTheirOwnRepliesWhileNotificationsFlow) {
    // Several threads share the socket, each reading its own camera's serial and opening,
    // polling and closing its own camera, while cameras come and go: every reply must reach the
    // thread that asked, and every notification read meanwhile must reach the sink.
    constexpr int kThreads = 4;
    constexpr int kMinRounds = 20;
    constexpr int kPlugs = 6;
    Events events;
    link->setEventSink(events.sink());
    std::map<std::string, Handle> services;
    for (int i = 0; i < kThreads; ++i) plug("SNCC" + std::to_string(i));
    ASSERT_EQ(link->addNotification(1, NotificationKind::matched, usbMatching()), kIOReturnSuccess);
    ASSERT_EQ(link->addNotification(2, NotificationKind::terminated, usbMatching()), kIOReturnSuccess);
    std::vector<Handle> all;
    ASSERT_EQ(link->getMatchingServices(driverMatching(), &all), kIOReturnSuccess);
    for (Handle h : all) {
        std::optional<Value> serial;
        link->searchProperty(h, "USB Serial Number", kIORegistryIterateRecursively | kIORegistryIterateParents, &serial);
        ASSERT_TRUE(asString(serial));
        services[*asString(serial)] = h;
    }
    ASSERT_EQ(services.size(), static_cast<size_t>(kThreads));

    std::atomic<bool> plugsDone{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (auto& [serial, service] : services) {
        callers.emplace_back([&, serial = serial, service = service] {
            for (int round = 0; round < kMinRounds || !plugsDone.load(); ++round) {
                std::optional<Value> value;
                IOReturn read = link->searchProperty(service, "USB Serial Number",
                                                     kIORegistryIterateRecursively | kIORegistryIterateParents, &value);
                if (read != kIOReturnSuccess || !asString(value) || *asString(value) != serial) ++wrong;
                // Opening succeeds only when this thread's last close has taken effect.
                Handle connection = 0;
                CallResult r;
                std::vector<uint8_t> reply;
                if (link->openConnection(service, 0, &connection) != kIOReturnSuccess ||
                    link->callMethod(connection, 0, {}, {}, 0, 0, &r) != kIOReturnSuccess ||
                    status(*link, connection, &reply) != kIOReturnSuccess || reply.size() != 256 || reply[0] != 16) {
                    ++wrong;
                }
                if (connection) link->closeConnection(connection);
            }
        });
    }
    for (int i = 0; i < kPlugs; ++i) {
        auto visitor = plug("SNVISIT" + std::to_string(i));
        const bool arrived = events.waitFor(kThreads + 2 * i + 1);
        bus.unplug(visitor);
        if (!arrived || !events.waitFor(kThreads + 2 * i + 2)) break;
    }
    plugsDone = true;
    for (auto& t : callers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(events.of(1).size(), static_cast<size_t>(kThreads + kPlugs));
    EXPECT_EQ(events.of(2).size(), static_cast<size_t>(kPlugs));
    for (Handle h : all) link->releaseObject(h);
    for (auto& [id, h] : events.list) link->releaseObject(h);
}

TEST_F(SocketLinkTest, APeerThatGoesAwayClosesItsProviders) {
    plug("SNDIE");
    auto other = std::make_unique<SocketLink>(socketPath);
    Handle held = openCamera(*other);
    ASSERT_NE(held, 0u);
    Handle mine = openCamera(*link, kIOReturnExclusiveAccess);
    other.reset();  // the peer is gone without closing anything
    ASSERT_TRUE(eventually([&] {
        CallResult r;
        return link->callMethod(mine, 0, {}, {}, 0, 0, &r) == kIOReturnSuccess;
    }));
    EXPECT_EQ(status(*link, mine), kIOReturnSuccess);
    link->closeConnection(mine);
}

TEST_F(SocketLinkTest, HostGoneFailsThePendingCallAndEndsItsServices) {
    auto slow = plug<GateCamera>("SNGONE");
    Events events;
    link->setEventSink(events.sink());
    ASSERT_EQ(link->addNotification(7, NotificationKind::terminated, usbMatching()), kIOReturnSuccess);
    ASSERT_EQ(link->addNotification(8, NotificationKind::matched, usbMatching()), kIOReturnSuccess);
    ASSERT_EQ(events.of(8).size(), 1u);
    // An observer set now hears the status of now before the call returns, then each change.
    std::mutex heardLock;
    std::vector<HostStatus> heard;
    auto statusesHeard = [&] {
        std::lock_guard<std::mutex> guard(heardLock);
        return heard;
    };
    link->setHostStatusObserver([&](HostStatus status) {
        std::lock_guard<std::mutex> guard(heardLock);
        heard.push_back(status);
    });
    EXPECT_EQ(statusesHeard(), (std::vector<HostStatus>{{HostStatus::State::connected}}));
    Handle connection = openCamera(*link);
    slow->hold();
    std::atomic<IOReturn> pending{kIOReturnInvalid};
    std::thread blocked([&] { pending = write(*link, connection, 0x31, {9}); });
    ASSERT_TRUE(slow->waitUntilEntered());

    server->stop();  // the host goes away mid-call
    blocked.join();
    EXPECT_EQ(pending.load(), kIOReturnNotAttached);
    EXPECT_EQ(link->hostLosses(), 1u);
    ASSERT_TRUE(events.waitFor(2));
    auto ended = events.of(7);
    ASSERT_EQ(ended.size(), 1u);
    std::string name;
    EXPECT_EQ(link->getName(ended[0], &name), kIOReturnSuccess);
    EXPECT_EQ(name, "HVB R7");
    std::optional<Value> serial;
    EXPECT_EQ(link->getProperty(ended[0], "USB Serial Number", &serial), kIOReturnSuccess);
    ASSERT_TRUE(asString(serial));
    EXPECT_EQ(*asString(serial), "SNGONE");
    EXPECT_EQ(link->searchProperty(ended[0], "BSD Name", kIORegistryIterateRecursively, &serial), kIOReturnSuccess);
    EXPECT_TRUE(asString(serial));
    // Handles of the old host answer cleanly; no host means no services.
    EXPECT_EQ(link->getName(events.of(8)[0], &name), kIOReturnNotAttached);
    uint64_t entryID = 0;
    EXPECT_EQ(link->getEntryID(events.of(8)[0], &entryID), kIOReturnNotAttached);  // known, yet gone
    EXPECT_EQ(status(*link, connection), kIOReturnNotAttached);
    EXPECT_EQ(link->closeConnection(connection), kIOReturnSuccess);
    std::vector<Handle> services{1, 2};
    EXPECT_EQ(link->getMatchingServices(driverMatching(), &services), kIOReturnSuccess);
    EXPECT_TRUE(services.empty());
    slow->release();

    // A host that comes back hears the notifications again and reports what is attached.
    startServer();
    ASSERT_TRUE(events.waitFor(3));
    EXPECT_EQ(events.of(8).size(), 2u);
    EXPECT_TRUE(link->isConnected());
    EXPECT_EQ(statusesHeard(), (std::vector<HostStatus>{{HostStatus::State::connected},
                                                        {HostStatus::State::absent},
                                                        {HostStatus::State::connected}}));
    EXPECT_EQ(link->hostLosses(), 1u);  // counted once, and not undone by the host's return
    link->setHostStatusObserver(nullptr);
    for (auto& [id, h] : events.list) link->releaseObject(h);
}

TEST_F(SocketLinkTest, EveryWaitingCallerFailsWhenTheHostGoes) {
    // Two threads wait at once for replies that will not come, each reading the socket itself.
    std::vector<std::shared_ptr<GateCamera>> cameras{plug<GateCamera>("SNWAIT1"), plug<GateCamera>("SNWAIT2")};
    std::vector<Handle> services;
    ASSERT_EQ(link->getMatchingServices(driverMatching(), &services), kIOReturnSuccess);
    ASSERT_EQ(services.size(), 2u);
    std::vector<Handle> connections;
    for (Handle s : services) {
        Handle c = 0;
        CallResult r;
        ASSERT_EQ(link->openConnection(s, 0, &c), kIOReturnSuccess);
        ASSERT_EQ(link->callMethod(c, 0, {}, {}, 0, 0, &r), kIOReturnSuccess);
        connections.push_back(c);
    }
    for (auto& camera : cameras) camera->hold();
    std::atomic<IOReturn> results[2] = {kIOReturnInvalid, kIOReturnInvalid};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) waiters.emplace_back([&, i] { results[i] = write(*link, connections[i], 0x31, {1}); });
    for (auto& camera : cameras) ASSERT_TRUE(camera->waitUntilEntered());
    server->stop();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(results[0].load(), kIOReturnNotAttached);
    EXPECT_EQ(results[1].load(), kIOReturnNotAttached);
    for (auto& camera : cameras) camera->release();
    for (Handle s : services) link->releaseObject(s);
}

TEST_F(SocketLinkTest, MalformedOrOversizedMessagesDropOnlyThatPeer) {
    plug("SNFUZZ");
    Handle connection = openCamera(*link);
    auto sendRaw = [&](const std::vector<uint8_t>& bytes) {
        int fd = sockettest::rawConnect(socketPath);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(sockettest::readHelloAdmitted(fd), 1);
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        bool closed = sockettest::closedByPeer(fd);
        ::close(fd);
        return closed;
    };
    EXPECT_TRUE(sendRaw(std::vector<uint8_t>(wire::kMaxRequestSize + 64, 0)));  // oversized
    wire::Writer badMagic(wire::Type::ping, 1);
    auto bytes = badMagic.finish();
    bytes[0] = 'X';
    EXPECT_TRUE(sendRaw(bytes));
    wire::Writer unknown(static_cast<wire::Type>(99), 1);
    EXPECT_TRUE(sendRaw(unknown.finish()));
    wire::Writer tooManyScalars(wire::Type::callMethod, 1);
    tooManyScalars.u32(1);
    tooManyScalars.u32(5);
    tooManyScalars.u32(17);
    EXPECT_TRUE(sendRaw(tooManyScalars.finish()));
    wire::Writer internalID(wire::Type::addNotification, 1);
    internalID.u64(wire::kInternalNotificationBit | 1);
    internalID.u8(0);
    internalID.matching(usbMatching());
    EXPECT_TRUE(sendRaw(internalID.finish()));

    // A stream of random messages from peers that reconnect whenever they are dropped.
    std::mt19937 random(6);
    int fd = -1;
    for (int i = 0; i < 2000; ++i) {
        if (fd < 0) {
            fd = sockettest::rawConnect(socketPath);
            ASSERT_GE(fd, 0);
        }
        std::vector<uint8_t> message(random() % 64);
        for (auto& b : message) b = static_cast<uint8_t>(random());
        if (message.size() >= wire::kHeaderSize && random() % 2) {
            wire::Writer head(static_cast<wire::Type>(random() % 32), random());
            auto& h = head.finish();
            std::copy(h.begin(), h.begin() + 12, message.begin());
            for (int k = 0; k < 4; ++k) message[4 + k] = static_cast<uint8_t>(message.size() >> (8 * k));
        }
        if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(status(*link, connection), kIOReturnSuccess);
    EXPECT_EQ(link->ping(), kIOReturnSuccess);
    EXPECT_TRUE(eventually([&] { return server->clientCount() == 1; }));
    link->closeConnection(connection);
}

TEST_F(SocketLinkTest, ControlRequestsReachTheHost) {
    std::string reply;
    EXPECT_EQ(link->control({"plug", "HVBR7", "serial=X"}, &reply), kIOReturnSuccess);
    EXPECT_EQ(reply, "done 3");
    ASSERT_EQ(controlCalls.size(), 1u);
    EXPECT_EQ(controlCalls[0][2], "serial=X");
    EXPECT_EQ(link->control(std::vector<std::string>(33, "x"), &reply), kIOReturnBadArgument);
}

TEST(ConfiguredLinkTest, TheSocketUnlessEmbeddedIsAskedFor) {
    ::setenv("HVB_IOKIT_LINK", "embedded", 1);
    EXPECT_TRUE(std::dynamic_pointer_cast<EmbeddedLink>(makeConfiguredLink()));
    ::unsetenv("HVB_IOKIT_LINK");
    TempDir root;
    ::setenv("HVB_ROOT", root.path().c_str(), 1);
    auto link = std::dynamic_pointer_cast<SocketLink>(makeConfiguredLink());
    ::unsetenv("HVB_ROOT");
    ASSERT_TRUE(link);
    // No host runs on that root: no driver is loaded, so nothing matches, and nothing fails.
    std::vector<Handle> services{7};
    EXPECT_EQ(link->getMatchingServices(driverMatching(), &services), kIOReturnSuccess);
    EXPECT_TRUE(services.empty());
    EXPECT_EQ(link->addNotification(1, NotificationKind::matched, usbMatching()), kIOReturnSuccess);
    EXPECT_EQ(link->ping(), kIOReturnNotAttached);
    EXPECT_FALSE(link->isConnected());
}

TEST(AdmissionPolicyTest, RootGroupAndSandboxOwner) {
    AdmissionPolicy rootOnly;
    EXPECT_TRUE(rootOnly.admits({1, 0, 0}));
    EXPECT_FALSE(rootOnly.admits({1, 1000, 1000}));
    AdmissionPolicy withGroup;
    withGroup.group = 4242;
    EXPECT_TRUE(withGroup.admits({1, 1000, 4242}));
    EXPECT_FALSE(withGroup.admits({1, 1000, 1000}));
    AdmissionPolicy sandbox;
    sandbox.admitRoot = false;
    sandbox.owner = 1000;
    EXPECT_TRUE(sandbox.admits({1, 1000, 1000}));
    EXPECT_FALSE(sandbox.admits({1, 0, 0}));
    EXPECT_FALSE(sandbox.admits({1, 1001, 1000}));

    TempDir dir;
    auto fromRoot = AdmissionPolicy::forSystemRoot("/", "");
    EXPECT_TRUE(fromRoot.admitRoot);
    EXPECT_FALSE(fromRoot.owner);
    if (::geteuid() != 0) GTEST_SKIP() << "a root folder of another owner needs root to make";
    ASSERT_EQ(::chown(dir.path().c_str(), 4321, 4321), 0);
    auto owned = AdmissionPolicy::forSystemRoot(dir.path(), "");
    ASSERT_TRUE(owned.owner);
    EXPECT_EQ(*owned.owner, 4321u);
    EXPECT_FALSE(owned.admitRoot);
}

TEST_F(SocketLinkTest, PeersThatAreNotAdmittedAreRefused) {
    server.reset();
    AdmissionPolicy someoneElse;
    someoneElse.admitRoot = false;
    someoneElse.owner = ::geteuid() + 1;
    startServer(someoneElse);
    SocketLink refused(socketPath);
    EXPECT_EQ(refused.connect(), kIOReturnNotPrivileged);
    std::vector<Handle> services;
    EXPECT_EQ(refused.getMatchingServices(driverMatching(), &services), kIOReturnNotPrivileged);
    EXPECT_EQ(refused.ping(), kIOReturnNotPrivileged);
    EXPECT_EQ(refused.hostStatus(), (HostStatus{HostStatus::State::refused, Refusal::notAdmitted}));

    // A socket file this user may not open (not in the host's group): a host runs behind it, so
    // it is a refusal to tell, not a host to start.
    server.reset();
    startServer();
    ASSERT_EQ(::chmod(socketPath.c_str(), 0), 0);
    IOReturn closedOff = kIOReturnSuccess;
    HostStatus closedOffStatus;
    ASSERT_TRUE(sockettest::runWithoutOverridingFileModes([&] {
        SocketLink link(socketPath);
        closedOff = link.connect();
        closedOffStatus = link.hostStatus();
    }));
    EXPECT_EQ(closedOff, kIOReturnNotPrivileged);
    EXPECT_EQ(closedOffStatus, (HostStatus{HostStatus::State::refused, Refusal::socketNotPermitted}));
    ASSERT_EQ(::chmod(socketPath.c_str(), 0600), 0);
    if (::geteuid() != 0) GTEST_SKIP() << "another user's peer needs root to be played";

    // Another user, with the socket file opened up to everyone: the credentials still decide.
    server.reset();
    startServer(AdmissionPolicy{});  // this user only
    ASSERT_EQ(::chmod(socketPath.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    auto childAdmitted = [&](uid_t uid, gid_t gid) {
        pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(3);
            int fd = sockettest::rawConnect(socketPath);
            if (fd < 0) ::_exit(4);
            ::_exit(sockettest::readHelloAdmitted(fd) == 1 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(childAdmitted(65534, 65534), 1);
    EXPECT_EQ(link->ping(), kIOReturnSuccess);  // the refusal dropped nobody else
}

TEST_F(SocketLinkTest, OneProcessCannotTakeEverySlot) {
    server.reset();
    startServer({}, [](SocketServer::Options& o) {
        o.maxClientsPerProcess = 3;
        o.idleBeforeDropMs = 600000;  // nobody is idle long enough to give way
    });
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(sockettest::rawConnect(socketPath));
        EXPECT_EQ(sockettest::readHelloAdmitted(held.back()), 1);
    }
    int fourth = sockettest::rawConnect(socketPath);
    EXPECT_EQ(sockettest::readHelloAdmitted(fourth), static_cast<int>(wire::Admission::processFull));
    ::close(fourth);
    for (int fd : held) ::close(fd);
    // Once they are gone the process gets in again.
    EXPECT_TRUE(eventually([&] { return server->clientCount() == 0; }));
    EXPECT_EQ(link->ping(), kIOReturnSuccess);
}

TEST_F(SocketLinkTest, IdlePeersMakeRoomFirstAndACameraConnectionKeepsItsPlace) {
    plug("SNIDLE");
    server.reset();
    startServer({}, [](SocketServer::Options& o) {
        o.maxClients = 3;
        o.idleBeforeDropMs = 50;
    });
    // A peer with a connection open is never idle.
    Handle connection = openCamera(*link);
    std::vector<int> idle;
    for (int i = 0; i < 2; ++i) {
        idle.push_back(sockettest::rawConnect(socketPath));
        EXPECT_EQ(sockettest::readHelloAdmitted(idle.back()), 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // long enough to count as idle
    // Every slot is taken: the application still gets in, in place of the peer idle longest.
    SocketLink application(socketPath);
    EXPECT_EQ(application.addNotification(1, NotificationKind::matched, usbMatching()), kIOReturnSuccess);
    EXPECT_TRUE(sockettest::closedByPeer(idle[0], 5));
    SocketLink another(socketPath);
    EXPECT_EQ(another.addNotification(1, NotificationKind::matched, usbMatching()), kIOReturnSuccess);
    EXPECT_TRUE(sockettest::closedByPeer(idle[1], 5));
    // Everyone left holds something open, all of this one user: a newcomer of the same user
    // is refused rather than one of them dropped; the watchers and the camera connection stay.
    int late = sockettest::rawConnect(socketPath);
    EXPECT_EQ(sockettest::readHelloAdmitted(late), static_cast<int>(wire::Admission::tableFull));
    EXPECT_EQ(status(*link, connection), kIOReturnSuccess);
    for (int fd : {idle[0], idle[1], late}) ::close(fd);
    EXPECT_EQ(application.ping(), kIOReturnSuccess);
    EXPECT_EQ(another.ping(), kIOReturnSuccess);
    EXPECT_EQ(status(*link, connection), kIOReturnSuccess);
    link->closeConnection(connection);
}

namespace {

// Refused peers, by what turns them away; the server's clock is the test's own.
struct RefusalCase {
    const char* name;
    const char* why;  // the reason the server gives
    int held;         // connections of ours that take the slots first
    Refusal refusal;  // what the peer hears
    std::function<void(AdmissionPolicy&, SocketServer::Options&)> setUp;
};

class RefusalLines : public SocketLinkTest, public ::testing::WithParamInterface<RefusalCase> {};

wire::Admission admissionOf(Refusal refusal) {
    switch (refusal) {
        case Refusal::processFull: return wire::Admission::processFull;
        case Refusal::userShareFull: return wire::Admission::userShareFull;
        case Refusal::tableFull: return wire::Admission::tableFull;
        default: return wire::Admission::notAdmitted;
    }
}

}  // namespace

TEST_P(RefusalLines, AFloodOfRefusalsWritesOneLineASecondWithACount) {
    const RefusalCase& c = GetParam();
    std::atomic<int64_t> nowNs{1'000'000'000};
    std::mutex linesLock;
    std::vector<std::string> lines;
    const int token = foundation::addLogSink([&](foundation::LogChannel, const std::string& line) {
        if (line.rfind("iokit socket: refus", 0) != 0) return;
        std::lock_guard<std::mutex> guard(linesLock);
        lines.push_back(line);
    });
    auto written = [&] {
        std::lock_guard<std::mutex> guard(linesLock);
        return lines;
    };
    server.reset();
    AdmissionPolicy policy;
    policy.owner = ::geteuid();
    startServer(policy, [&](SocketServer::Options& o) {
        o.idleBeforeDropMs = 600000;
        o.clock = [&] { return dispatch::Clock::time_point(std::chrono::nanoseconds(nowNs.load())); };
        c.setUp(policy, o);
        o.policy = policy;
    });
    std::vector<int> held;
    for (int i = 0; i < c.held; ++i) {
        held.push_back(sockettest::rawConnect(socketPath));
        ASSERT_EQ(sockettest::readHelloAdmitted(held.back()), 1);
    }
    auto refuseOne = [&] {
        int fd = sockettest::rawConnect(socketPath);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(sockettest::readHelloAdmitted(fd), static_cast<int>(admissionOf(c.refusal)));
        ::close(fd);
    };
    // 300 within one second of the server's clock: the first in full, the rest held back.
    for (int i = 0; i < 300; ++i) refuseOne();
    ASSERT_EQ(written().size(), 1u);
    EXPECT_NE(written()[0].find(std::string(": ") + c.why), std::string::npos) << written()[0];
    // Once the second is over the count goes out on its own, in one line.
    nowNs += 1'000'000'000;
    ASSERT_TRUE(eventually([&] { return written().size() == 2; }, 5));
    EXPECT_EQ(written()[1], std::string("iokit socket: refused 299 more peers in the last second: ") + c.why);
    // A quiet second later the next refusal is written in full again.
    nowNs += 2'000'000'000;
    refuseOne();
    ASSERT_TRUE(eventually([&] { return written().size() == 3; }, 5));
    EXPECT_EQ(written()[2].rfind("iokit socket: refusing peer pid ", 0), 0u) << written()[2];
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(written().size(), 3u);
    // A link hears why; what it watches stays registered and reaches the host once it is let in.
    SocketLink refused(socketPath);
    refused.setReconnectInterval(20);
    EXPECT_EQ(refused.connect(), kIOReturnNotPrivileged);
    EXPECT_EQ(refused.hostStatus(), (HostStatus{HostStatus::State::refused, c.refusal}));
    Events events;
    refused.setEventSink(events.sink());
    EXPECT_EQ(refused.addNotification(1, NotificationKind::matched, usbMatching()), kIOReturnSuccess);
    plug("REFUSED1");
    for (int fd : held) ::close(fd);
    if (c.refusal == Refusal::notAdmitted) {
        EXPECT_FALSE(refused.isConnected());
    } else {
        EXPECT_TRUE(events.waitFor(1));
        EXPECT_EQ(refused.hostStatus(), (HostStatus{HostStatus::State::connected, Refusal::none}));
    }
    foundation::removeLogSink(token);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, RefusalLines,
    ::testing::Values(
        RefusalCase{"NotAMember", "not admitted", 0, Refusal::notAdmitted,
                    [](AdmissionPolicy& p, SocketServer::Options&) { p.owner = ::geteuid() + 1; }},
        RefusalCase{"OverTheUsersShare", "too many peers of this user", 2, Refusal::userShareFull,
                    [](AdmissionPolicy&, SocketServer::Options& o) { o.maxClientsPerUser = 2; }},
        RefusalCase{"OverTheProcessLimit", "too many connections from this process", 2, Refusal::processFull,
                    [](AdmissionPolicy&, SocketServer::Options& o) { o.maxClientsPerProcess = 2; }},
        RefusalCase{"EverySlotTaken", "too many peers", 2, Refusal::tableFull,
                    [](AdmissionPolicy&, SocketServer::Options& o) { o.maxClients = 2; }}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });
