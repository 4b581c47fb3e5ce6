// The user-side calls over the embedded link: lookups, properties, connections, external-method
// dispatch checks, closed and dropped connections, notifications on the main run loop.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "platform/iokit/kern/IOUserClient.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/user/IOKitLib.h"

namespace {
int gCalls = 0;
int gCloses = 0;
int gDeaths = 0;

IOReturn recordCall(OSObject*, void*, IOExternalMethodArguments* args) {
    ++gCalls;
    if (args->scalarOutputCount) args->scalarOutput[0] = args->scalarInput[0] + 1;
    if (args->structureOutputSize) std::memset(args->structureOutput, 0x42, args->structureOutputSize);
    return kIOReturnSuccess;
}

const IOExternalMethodDispatch kRows[3] = {
    {&recordCall, 1, 4, 1, 8},
    {nullptr, 0, 0, 0, 0},
    {&recordCall, 0, kIOUCVariableStructureSize, 0, 0},
};
}  // namespace

class TestUserClient : public IOUserClient {
    OSDeclareDefaultStructors(TestUserClient)
public:
    IOReturn externalMethod(uint32_t selector, IOExternalMethodArguments* args, IOExternalMethodDispatch* dispatch,
                            OSObject* target, void* reference) override {
        if (selector < 3) dispatch = const_cast<IOExternalMethodDispatch*>(&kRows[selector]);
        return IOUserClient::externalMethod(selector, args, dispatch, target, reference);
    }
    IOReturn clientClose() override {
        ++gCloses;
        terminate();
        return kIOReturnSuccess;
    }
    IOReturn clientDied() override {
        ++gDeaths;
        return IOUserClient::clientDied();
    }
};
OSDefineMetaClassAndStructors(TestUserClient, IOUserClient);

class TestUserService : public IOService {
    OSDeclareDefaultStructors(TestUserService)
};
OSDefineMetaClassAndStructors(TestUserService, IOService);

namespace {
TestUserService* publish(const char* name) {
    auto* service = new TestUserService;
    service->init();
    service->setName(name);
    service->setProperty("IOUserClientClass", "TestUserClient");
    service->setProperty("idProduct", uint64_t{0x5000}, 16);
    service->setProperty("Data", true);
    EXPECT_TRUE(service->attach(IOService::getServiceRoot()));
    service->registerService();
    return service;
}

io_service_t lookUp(const char* name) {
    io_iterator_t iterator = 0;
    if (IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceNameMatching(name), &iterator) != kIOReturnSuccess) {
        return 0;
    }
    io_service_t service = IOIteratorNext(iterator);
    EXPECT_EQ(IOIteratorNext(iterator), 0u);
    IOObjectRelease(iterator);
    return service;
}
}  // namespace

TEST(UserSide, LooksUpAndReadsRegistryEntries) {
    TestUserService* kernelService = publish("user-entry");
    io_service_t service = lookUp("user-entry");
    ASSERT_NE(service, 0u);

    io_name_t name;
    ASSERT_EQ(IORegistryEntryGetName(service, name), kIOReturnSuccess);
    EXPECT_STREQ(name, "user-entry");
    io_string_t path;
    ASSERT_EQ(IORegistryEntryGetPath(service, kIOServicePlane, path), kIOReturnSuccess);
    EXPECT_STREQ(path, "IOService:/user-entry");
    uint64_t id = 0;
    ASSERT_EQ(IORegistryEntryGetRegistryEntryID(service, &id), kIOReturnSuccess);
    EXPECT_EQ(id, kernelService->getRegistryEntryID());

    auto product = IORegistryEntryCreateCFProperty(service, "idProduct");
    ASSERT_NE(iokit::asNumber(product), nullptr);
    EXPECT_EQ(iokit::asNumber(product)->value, 0x5000u);
    EXPECT_EQ(iokit::asNumber(product)->bits, 16);
    EXPECT_FALSE(IORegistryEntryCreateCFProperty(service, "missing").has_value());
    EXPECT_FALSE(IORegistryEntryCreateCFProperty(0xDEAD, "idProduct").has_value());

    auto byClass = IOServiceMatching("TestUserService");
    byClass.setProperty("idProduct", iokit::makeNumber(0x5001));
    io_iterator_t none = 0;
    ASSERT_EQ(IOServiceGetMatchingServices(kIOMainPortDefault, byClass, &none), kIOReturnSuccess);
    EXPECT_EQ(IOIteratorNext(none), 0u);
    IOObjectRelease(none);

    EXPECT_EQ(IOObjectRelease(service), kIOReturnSuccess);
    EXPECT_NE(IOObjectRelease(service), kIOReturnSuccess);  // released already
    kernelService->terminate();
    kernelService->release();
}

TEST(UserSide, ExternalMethodsAreCheckedAgainstTheirRowsBeforeTheyRun) {
    TestUserService* kernelService = publish("user-dispatch");
    io_service_t service = lookUp("user-dispatch");
    io_connect_t connection = 0;
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnSuccess);

    gCalls = 0;
    uint64_t in[17] = {41};
    uint8_t structIn[8] = {};
    uint64_t out[2] = {};
    uint8_t structOut[16] = {};
    uint32_t outCount = 1;
    size_t outSize = 8;
    EXPECT_EQ(IOConnectCallMethod(connection, 0, in, 1, structIn, 4, out, &outCount, structOut, &outSize),
              kIOReturnSuccess);
    EXPECT_EQ(out[0], 42u);
    EXPECT_EQ(structOut[7], 0x42);
    EXPECT_EQ(structOut[8], 0);
    EXPECT_EQ(gCalls, 1);

    struct Case {
        uint32_t scalarsIn;
        size_t structIn;
        uint32_t scalarsOut;
        size_t structOut;
    };
    for (Case c : {Case{0, 4, 1, 8}, Case{2, 4, 1, 8}, Case{1, 3, 1, 8}, Case{1, 4, 0, 8}, Case{1, 4, 2, 8},
                   Case{1, 4, 1, 7}, Case{1, 4, 1, 16}}) {
        outCount = c.scalarsOut;
        outSize = c.structOut;
        EXPECT_EQ(IOConnectCallMethod(connection, 0, in, c.scalarsIn, structIn, c.structIn, out, &outCount, structOut,
                                      &outSize),
                  kIOReturnBadArgument);
    }
    EXPECT_EQ(gCalls, 1);  // no mismatching call ran

    EXPECT_EQ(IOConnectCallMethod(connection, 1, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnNoCompletion);
    EXPECT_EQ(IOConnectCallMethod(connection, 2, nullptr, 0, structIn, 8, nullptr, nullptr, nullptr, nullptr),
              kIOReturnSuccess);  // any size fits a variable row
    EXPECT_EQ(IOConnectCallMethod(connection, 9, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnUnsupported);
    EXPECT_EQ(IOConnectCallMethod(connection, 0, in, 17, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnBadArgument);  // more scalars than a message carries
    EXPECT_EQ(gCalls, 2);

    gCloses = 0;
    EXPECT_EQ(IOServiceClose(connection), kIOReturnSuccess);
    EXPECT_EQ(gCloses, 1);
    EXPECT_NE(IOServiceClose(connection), kIOReturnSuccess);  // closed once only
    EXPECT_EQ(gCloses, 1);
    EXPECT_NE(IOConnectCallMethod(connection, 2, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnSuccess);

    kernelService->terminate();
    EXPECT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnNoDevice);
    IOObjectRelease(service);
    kernelService->release();
}

TEST(UserSide, ADroppedPeerReachesItsClientsAsClientDied) {
    TestUserService* kernelService = publish("user-drop");
    auto link = std::make_shared<iokit::EmbeddedLink>();
    iokit::MatchingDictionary matching;
    matching.nameMatch = "user-drop";
    std::vector<iokit::Handle> services;
    ASSERT_EQ(link->getMatchingServices(matching, &services), kIOReturnSuccess);
    ASSERT_EQ(services.size(), 1u);
    iokit::Handle a = 0, b = 0;
    ASSERT_EQ(link->openConnection(services[0], 0, &a), kIOReturnSuccess);
    ASSERT_EQ(link->openConnection(services[0], 0, &b), kIOReturnSuccess);
    ASSERT_EQ(link->closeConnection(a), kIOReturnSuccess);

    gDeaths = 0;
    gCloses = 0;
    link->disconnect();
    EXPECT_EQ(gDeaths, 1);  // only the connection still open
    EXPECT_EQ(gCloses, 1);  // clientDied closes on the owner's behalf
    iokit::CallResult result;
    EXPECT_EQ(link->callMethod(b, 2, {}, {}, 0, 0, &result), kIOReturnNotAttached);
    link.reset();
    EXPECT_EQ(gDeaths, 1);
    kernelService->terminate();
    kernelService->release();
}

namespace {
struct Seen {
    std::vector<std::string> names;
    int callbacks = 0;
};

void drain(void* refcon, io_iterator_t iterator) {
    auto* seen = static_cast<Seen*>(refcon);
    ++seen->callbacks;
    while (io_object_t object = IOIteratorNext(iterator)) {
        io_name_t name;
        IORegistryEntryGetName(object, name);
        seen->names.push_back(name);
        IOObjectRelease(object);
    }
}
}  // namespace

TEST(UserSide, NotificationsArriveOnTheMainRunLoop) {
    auto& loop = dispatch::RunLoop::main();
    loop.adoptCurrentThread();
    TestUserService* early = publish("notify-early");
    IONotificationPortRef port = IONotificationPortCreate(kIOMainPortDefault);
    IORunLoopAddSource(loop, IONotificationPortGetRunLoopSource(port));
    Seen matched, terminated;
    io_iterator_t matchedIterator = 0, terminatedIterator = 0;
    ASSERT_EQ(IOServiceAddMatchingNotification(port, "IOServiceFirstMatch", IOServiceMatching("TestUserService"),
                                               &drain, &matched, &matchedIterator),
              kIOReturnSuccess);
    ASSERT_EQ(IOServiceAddMatchingNotification(port, "IOServiceTerminate", IOServiceMatching("TestUserService"),
                                               &drain, &terminated, &terminatedIterator),
              kIOReturnSuccess);
    io_iterator_t bogus = 0;
    EXPECT_NE(IOServiceAddMatchingNotification(port, "IOServiceBogus", IOServiceMatching("TestUserService"), &drain,
                                               &matched, &bogus),
              kIOReturnSuccess);
    drain(&matched, matchedIterator);  // services there already; arms the notification
    drain(&terminated, terminatedIterator);
    ASSERT_EQ(matched.names, std::vector<std::string>({"notify-early"}));

    TestUserService* late = publish("notify-late");
    EXPECT_EQ(matched.names.size(), 1u);  // not before the run loop runs
    ASSERT_TRUE(loop.runUntil([&] { return matched.names.size() == 2; }, std::chrono::seconds(5)));
    EXPECT_EQ(matched.names[1], "notify-late");
    late->terminate();
    ASSERT_TRUE(loop.runUntil([&] { return terminated.names.size() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(terminated.names[0], "notify-late");

    IONotificationPortDestroy(port);
    early->terminate();  // no callback after the port is gone
    loop.runPending();
    EXPECT_EQ(terminated.names.size(), 1u);
    early->release();
    late->release();
}

TEST(PeerLimits, APeerHoldsAtMostItsHandlesAndGetsThemBackWhenReleased) {
    TestUserService* kernelService = publish("user-limits");
    auto link = std::make_shared<iokit::EmbeddedLink>();
    link->setLimitsForTesting(8, 1);
    iokit::MatchingDictionary matching;
    matching.nameMatch = "user-limits";
    std::vector<iokit::Handle> held;
    std::vector<iokit::Handle> services;
    for (int i = 0; i < 7; ++i) {
        ASSERT_EQ(link->getMatchingServices(matching, &services), kIOReturnSuccess);
        held.insert(held.end(), services.begin(), services.end());
    }
    iokit::Handle connection = 0;
    ASSERT_EQ(link->openConnection(held[0], 0, &connection), kIOReturnSuccess);
    EXPECT_EQ(link->handleCount(), 8u);
    // At the limit: refused, and nothing was taken.
    EXPECT_EQ(link->getMatchingServices(matching, &services), kIOReturnNoResources);
    EXPECT_TRUE(services.empty());
    iokit::Handle another = 0;
    EXPECT_EQ(link->openConnection(held[0], 0, &another), kIOReturnNoResources);
    EXPECT_EQ(another, 0u);
    EXPECT_EQ(link->handleCount(), 8u);
    // Released handles make room again.
    ASSERT_EQ(link->releaseObject(held.back()), kIOReturnSuccess);
    held.pop_back();
    ASSERT_EQ(link->getMatchingServices(matching, &services), kIOReturnSuccess);
    ASSERT_EQ(services.size(), 1u);
    held.push_back(services[0]);
    EXPECT_EQ(link->closeConnection(connection), kIOReturnSuccess);
    for (auto h : held) EXPECT_EQ(link->releaseObject(h), kIOReturnSuccess);
    EXPECT_EQ(link->handleCount(), 0u);
    kernelService->terminate();
    kernelService->release();
}

TEST(PeerLimits, AWrappedHandleCounterNeverHandsOutALiveHandle) {
    TestUserService* kernelService = publish("user-wrap");
    auto link = std::make_shared<iokit::EmbeddedLink>();
    iokit::MatchingDictionary matching;
    matching.nameMatch = "user-wrap";
    std::vector<iokit::Handle> services;
    ASSERT_EQ(link->getMatchingServices(matching, &services), kIOReturnSuccess);
    ASSERT_EQ(services.size(), 1u);
    const iokit::Handle first = services[0];  // handle 1, kept
    ASSERT_EQ(link->retainObject(first), kIOReturnSuccess);
    // The counter stands just before its wrap: the next handles are the last one, then 2.
    link->setLimitsForTesting(iokit::EmbeddedLink::kMaxHandles, 0x7FFFFFFFu);
    std::vector<iokit::Handle> next;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(link->getMatchingServices(matching, &services), kIOReturnSuccess);
        next.push_back(services[0]);
    }
    EXPECT_EQ(next[0], 0x7FFFFFFFu);
    EXPECT_EQ(next[1], 2u);  // 1 is live
    // Handle 1 still holds both its references.
    EXPECT_EQ(link->releaseObject(first), kIOReturnSuccess);
    std::string name;
    EXPECT_EQ(link->getName(first, &name), kIOReturnSuccess);
    EXPECT_EQ(name, "user-wrap");
    EXPECT_EQ(link->releaseObject(first), kIOReturnSuccess);
    EXPECT_EQ(link->getName(first, &name), kIOReturnBadArgument);
    for (auto h : next) EXPECT_EQ(link->releaseObject(h), kIOReturnSuccess);
    kernelService->terminate();
    kernelService->release();
}
