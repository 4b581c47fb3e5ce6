// Matching, termination order, open policy, kernel notifications, the SCSI base's task pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/iokit/kern/IOSCSIPeripheralDeviceType00.h"
#include "platform/iokit/kern/IOService.h"

namespace {
std::vector<std::string> gEvents;
bool gProbeAccepts = true;
bool gStartAccepts = true;
int gDriversFreed = 0;

std::string tag(IOService* s) { return s ? s->getName() : "null"; }

void addString(OSDictionary* d, const char* k, const char* v) {
    OSString* s = OSString::withCString(v);
    d->setObject(k, s);
    s->release();
}

size_t indexOf(const std::string& event) {
    auto it = std::find(gEvents.begin(), gEvents.end(), event);
    return it == gEvents.end() ? SIZE_MAX : static_cast<size_t>(it - gEvents.begin());
}
}  // namespace

// A service that records its life-cycle calls.
class TestRecorder : public IOService {
    OSDeclareDefaultStructors(TestRecorder)
public:
    bool willTerminate(IOService* provider, IOOptionBits o) override {
        gEvents.push_back("will:" + tag(this) + "<" + tag(provider));
        return IOService::willTerminate(provider, o);
    }
    bool didTerminate(IOService* provider, IOOptionBits o, bool* defer) override {
        gEvents.push_back("did:" + tag(this) + "<" + tag(provider));
        return IOService::didTerminate(provider, o, defer);
    }
    void stop(IOService* provider) override { gEvents.push_back("stop:" + tag(this) + "<" + tag(provider)); }
    void detach(IOService* provider) override {
        gEvents.push_back("detach:" + tag(this));
        IOService::detach(provider);
    }
    bool finalize(IOOptionBits o) override {
        gEvents.push_back("finalize:" + tag(this));
        return IOService::finalize(o);
    }
};
OSDefineMetaClassAndStructors(TestRecorder, IOService);

class TestMatchNubBase : public IOService {
    OSDeclareDefaultStructors(TestMatchNubBase)
};
OSDefineMetaClassAndStructors(TestMatchNubBase, IOService);
class TestMatchNub : public TestMatchNubBase {
    OSDeclareDefaultStructors(TestMatchNub)
};
OSDefineMetaClassAndStructors(TestMatchNub, TestMatchNubBase);

class TestMatchDriver : public IOService {
    OSDeclareDefaultStructors(TestMatchDriver)
public:
    IOService* probe(IOService* provider, SInt32* score) override {
        return gProbeAccepts ? IOService::probe(provider, score) : nullptr;
    }
    bool start(IOService* provider) override { return gStartAccepts && IOService::start(provider); }

protected:
    void free() override {
        ++gDriversFreed;
        IOService::free();
    }
};
OSDefineMetaClassAndStructors(TestMatchDriver, IOService);

namespace {
IOService* makeNub(const char* kind, IOService* provider = IOService::getServiceRoot()) {
    auto* nub = new TestMatchNub;
    nub->init();
    nub->setProperty("kind", kind);
    EXPECT_TRUE(nub->attach(provider));
    return nub;
}

IOService* firstClient(IOService* nub) { return nub->getClient(); }
}  // namespace

TEST(Matching, PersonalityMatchesSubclassesAndPropertiesProbeAndStartDecide) {
    OSDictionary* personality = OSDictionary::withCapacity(4);
    addString(personality, kIOProviderClassKey, "TestMatchNubBase");
    addString(personality, kIOClassKey, "TestMatchDriver");
    addString(personality, "IOUserClientClass", "Nothing");
    OSDictionary* match = OSDictionary::withCapacity(1);
    addString(match, "kind", "camera");
    personality->setObject(kIOPropertyMatchKey, match);
    match->release();
    ASSERT_TRUE(IOService::addPersonality(personality));
    personality->release();

    IOService* camera = makeNub("camera");
    camera->registerService();
    IOService* driver = firstClient(camera);
    ASSERT_NE(driver, nullptr);
    EXPECT_STREQ(driver->getClassName(), "TestMatchDriver");
    auto* copied = OSDynamicCast(OSString, driver->getProperty("IOUserClientClass"));
    ASSERT_NE(copied, nullptr);  // the personality's properties become the driver's
    EXPECT_TRUE(copied->isEqualTo("Nothing"));

    IOService* other = makeNub("other");
    other->registerService();
    EXPECT_EQ(firstClient(other), nullptr);

    gDriversFreed = 0;
    gProbeAccepts = false;
    IOService* refusedProbe = makeNub("camera");
    refusedProbe->registerService();
    EXPECT_EQ(firstClient(refusedProbe), nullptr);
    EXPECT_EQ(gDriversFreed, 1);
    gProbeAccepts = true;
    gStartAccepts = false;
    IOService* refusedStart = makeNub("camera");
    refusedStart->registerService();
    EXPECT_EQ(firstClient(refusedStart), nullptr);
    EXPECT_EQ(gDriversFreed, 2);
    gStartAccepts = true;

    for (IOService* nub : {camera, other, refusedProbe, refusedStart}) {
        EXPECT_TRUE(nub->terminate());
        nub->release();
    }
    EXPECT_EQ(gDriversFreed, 3);  // the matched driver went with its nub
}

TEST(Matching, ServiceListsHoldOnlyActiveRegisteredServicesInOrder) {
    IOService* a = makeNub("list");
    IOService* b = makeNub("list");
    IOService* hidden = makeNub("list");  // never registered
    a->registerService();
    b->registerService();
    OSDictionary* matching = OSDictionary::withCapacity(2);
    addString(matching, kIOProviderClassKey, "TestMatchNubBase");
    OSDictionary* properties = OSDictionary::withCapacity(1);
    addString(properties, "kind", "list");
    matching->setObject(kIOPropertyMatchKey, properties);
    properties->release();

    auto found = IOService::copyMatchingServices(matching);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], a);
    EXPECT_EQ(found[1], b);
    for (auto* s : found) s->release();
    a->terminate();
    found = IOService::copyMatchingServices(matching);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], b);
    for (auto* s : found) s->release();
    matching->release();
    for (IOService* nub : {a, b, hidden}) {
        nub->terminate();
        nub->release();
    }
}

TEST(Termination, RunsInThePlatformOrder) {
    gEvents.clear();
    auto make = [](const char* name, IOService* provider) {
        auto* s = new TestRecorder;
        s->init();
        s->setName(name);
        EXPECT_TRUE(s->attach(provider));
        return s;
    };
    TestRecorder* nub = make("nub", IOService::getServiceRoot());
    TestRecorder* driver = make("driver", nub);
    TestRecorder* client = make("client", driver);
    TestRecorder* media = make("media", driver);
    driver->registerService();
    OSDictionary* matching = OSDictionary::withCapacity(1);
    addString(matching, kIOProviderClassKey, "TestRecorder");
    IONotifier* notifier = IOService::addMatchingNotification(
        kIOTerminatedNotification, matching, [](IOService* s) { gEvents.push_back("notify:" + tag(s)); });
    matching->release();

    ASSERT_TRUE(nub->terminate());
    EXPECT_FALSE(nub->terminate());  // once only
    for (IOService* s : {static_cast<IOService*>(nub), static_cast<IOService*>(driver),
                         static_cast<IOService*>(client), static_cast<IOService*>(media)}) {
        EXPECT_TRUE(s->isInactive());
    }
    // willTerminate top down, notifications, didTerminate, stop bottom up, detach, finalize.
    std::vector<std::string> order = {
        "will:driver<nub",  "will:client<driver", "notify:driver",  "did:driver<nub",  "did:client<driver",
        "stop:media<driver", "stop:client<driver", "stop:driver<nub", "stop:nub<Root",   "detach:media",
        "detach:nub",       "finalize:media",     "finalize:client", "finalize:driver", "finalize:nub",
    };
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        EXPECT_LT(indexOf(order[i]), indexOf(order[i + 1])) << order[i] << " before " << order[i + 1];
    }
    EXPECT_EQ(std::count(gEvents.begin(), gEvents.end(), "notify:driver"), 1);
    EXPECT_EQ(indexOf("notify:nub"), SIZE_MAX);  // never registered
    notifier->remove();
    // Calls that must stay safe after termination.
    EXPECT_FALSE(driver->isOpen());
    driver->close(client);
    EXPECT_FALSE(driver->open(client));
    for (IOService* s : {static_cast<IOService*>(nub), static_cast<IOService*>(driver),
                         static_cast<IOService*>(client), static_cast<IOService*>(media)}) {
        s->release();
    }
}

TEST(OpenPolicy, OneClientAtATime) {
    auto* provider = new IOService;
    provider->init();
    auto* a = new IOService;
    a->init();
    auto* b = new IOService;
    b->init();
    ASSERT_TRUE(provider->attach(IOService::getServiceRoot()));

    EXPECT_FALSE(provider->isOpen());
    EXPECT_TRUE(provider->open(a));
    EXPECT_TRUE(provider->open(a));  // the owner may open again
    EXPECT_FALSE(provider->open(b));
    EXPECT_TRUE(provider->isOpen(a));
    EXPECT_FALSE(provider->isOpen(b));
    provider->close(b);  // not the owner: no effect
    EXPECT_TRUE(provider->isOpen(a));
    provider->close(a);
    EXPECT_FALSE(provider->isOpen());
    EXPECT_TRUE(provider->open(b));
    provider->close(b);

    provider->terminate();
    EXPECT_FALSE(provider->open(a));  // inactive
    for (IOService* s : {provider, a, b}) s->release();
}

TEST(Notifications, MatchedReachesExistingAndNewServicesOnce) {
    IOService* before = makeNub("notify");
    before->registerService();
    std::vector<IOService*> seen;
    OSDictionary* matching = OSDictionary::withCapacity(1);
    OSDictionary* properties = OSDictionary::withCapacity(1);
    addString(properties, "kind", "notify");
    matching->setObject(kIOPropertyMatchKey, properties);
    properties->release();
    IONotifier* notifier =
        IOService::addMatchingNotification(kIOMatchedNotification, matching, [&](IOService* s) { seen.push_back(s); });
    matching->release();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], before);

    IOService* after = makeNub("notify");
    after->registerService();
    after->registerService();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], after);
    notifier->remove();
    IOService* late = makeNub("notify");
    late->registerService();
    EXPECT_EQ(seen.size(), 2u);
    for (IOService* nub : {before, after, late}) {
        nub->terminate();
        nub->release();
    }
}

TEST(Notifications, TerminatedServicesAreForgottenEvenWhileNotifiersArrive) {
    const size_t base = IOService::notifiedServiceCount();
    OSDictionary* matching = OSDictionary::withCapacity(1);
    OSDictionary* properties = OSDictionary::withCapacity(1);
    addString(properties, "kind", "visit");
    matching->setObject(kIOPropertyMatchKey, properties);
    properties->release();
    std::mutex seenLock;
    std::map<IOService*, int> seen;
    IONotifier* steady = IOService::addMatchingNotification(kIOMatchedNotification, matching, [&](IOService* s) {
        std::lock_guard<std::mutex> guard(seenLock);
        ++seen[s];
    });
    IOService* resident = makeNub("visit");
    resident->registerService();
    EXPECT_EQ(IOService::notifiedServiceCount(), base + 1);
    // Services come and go while other notifiers are added, each first running over the
    // services registered so far: every one is reported once at most, and none stays behind.
    std::atomic<bool> done{false};
    std::thread adder([&] {
        while (!done) {
            IONotifier* n = IOService::addMatchingNotification(kIOMatchedNotification, matching, [](IOService*) {});
            n->remove();
        }
    });
    std::vector<IOService*> visitors;
    for (int i = 0; i < 300; ++i) {
        IOService* visitor = makeNub("visit");
        visitor->registerService();
        visitor->terminate();
        visitors.push_back(visitor);
    }
    done = true;
    adder.join();
    EXPECT_EQ(IOService::notifiedServiceCount(), base + 1);
    {
        std::lock_guard<std::mutex> guard(seenLock);
        for (auto& [service, times] : seen) EXPECT_EQ(times, 1);
        EXPECT_EQ(seen.size(), 301u);
    }
    // Registered again once inactive, a service is neither reported nor remembered.
    visitors.front()->registerService();
    EXPECT_EQ(IOService::notifiedServiceCount(), base + 1);
    resident->terminate();
    EXPECT_EQ(IOService::notifiedServiceCount(), base);
    steady->remove();
    matching->release();
    resident->release();
    for (IOService* visitor : visitors) visitor->release();
}

// ---- SCSI peripheral base ------------------------------------------------------------------------

namespace {
struct FakeBackend : SCSIDeviceBackend {
    int calls = 0;
    std::vector<uint8_t> received;
    uint64_t claimRealized = 0;
    SCSIExecuteResult execute(const SCSICommandDescriptorBlock&, uint8_t direction, std::span<uint8_t> buffer,
                              uint32_t) override {
        ++calls;
        if (direction == kSCSIDataTransfer_FromInitiatorToTarget) {
            received.assign(buffer.begin(), buffer.end());
            std::fill(buffer.begin(), buffer.end(), 0xAB);  // must not reach the caller's memory
        } else {
            std::fill(buffer.begin(), buffer.end(), 0x5A);
        }
        return {kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_GOOD, claimRealized};
    }
    std::vector<std::string> mediaBSDNames() const override { return {"sdz", "sdz1"}; }
};
}  // namespace

class TestPeripheral : public IOSCSIPeripheralDeviceType00 {
    OSDeclareDefaultStructors(TestPeripheral)
public:
    using IOSCSIPeripheralDeviceType00::GetRealizedDataTransferCount;
    using IOSCSIPeripheralDeviceType00::GetSCSITask;
    using IOSCSIPeripheralDeviceType00::GetTaskStatus;
    using IOSCSIPeripheralDeviceType00::ReleaseSCSITask;
    using IOSCSIPeripheralDeviceType00::SendCommand;
    using IOSCSIPeripheralDeviceType00::SetDataBuffer;
    using IOSCSIPeripheralDeviceType00::SetDataTransferDirection;
    using IOSCSIPeripheralDeviceType00::SetRequestedDataTransferCount;
};
OSDefineMetaClassAndStructors(TestPeripheral, IOSCSIPeripheralDeviceType00);

TEST(SCSIPeripheral, PoolIsBoundedAndDataPhasesStayInsideTheirDescriptors) {
    auto backend = std::make_shared<FakeBackend>();
    auto* nub = new IOSCSIPeripheralDeviceNub;
    nub->init();
    nub->setBackend(backend);
    ASSERT_TRUE(nub->attach(IOService::getServiceRoot()));
    auto* device = new TestPeripheral;
    device->init();
    ASSERT_TRUE(device->attach(nub));
    ASSERT_TRUE(device->start(nub));

    OSObject* bsd = device->copyProperty(kIOBSDNameKey, kIOServicePlane, kIORegistryIterateRecursively);
    ASSERT_NE(OSDynamicCast(OSString, bsd), nullptr);
    EXPECT_TRUE(OSDynamicCast(OSString, bsd)->isEqualTo("sdz"));
    bsd->release();

    device->setTaskPoolSize(2);
    SCSITaskIdentifier t1 = device->GetSCSITask();
    SCSITaskIdentifier t2 = device->GetSCSITask();
    ASSERT_NE(t1, nullptr);
    ASSERT_NE(t2, nullptr);
    EXPECT_EQ(device->GetSCSITask(), nullptr);  // exhausted
    device->ReleaseSCSITask(t2);
    SCSITaskIdentifier t3 = device->GetSCSITask();
    EXPECT_NE(t3, nullptr);
    device->ReleaseSCSITask(t3);

    const uint8_t payload[4] = {1, 2, 3, 4};
    IOMemoryDescriptor* out =
        IOMemoryDescriptor::withAddress(const_cast<uint8_t*>(payload), sizeof payload, kIODirectionOut);
    device->SetDataTransferDirection(t1, kSCSIDataTransfer_FromInitiatorToTarget);
    device->SetDataBuffer(t1, out);
    device->SetRequestedDataTransferCount(t1, 100);  // more than described: clipped
    backend->claimRealized = 4;
    EXPECT_EQ(device->SendCommand(t1, 1000), kSCSIServiceResponse_TASK_COMPLETE);
    EXPECT_EQ(backend->received, std::vector<uint8_t>({1, 2, 3, 4}));
    EXPECT_EQ(payload[0], 1);
    out->release();

    uint8_t reply[8] = {};
    IOMemoryDescriptor* in = IOMemoryDescriptor::withAddress(reply, 6, kIODirectionIn);
    device->SetDataTransferDirection(t1, kSCSIDataTransfer_FromTargetToInitiator);
    device->SetDataBuffer(t1, in);
    device->SetRequestedDataTransferCount(t1, 6);
    backend->claimRealized = 1000;  // a backend claiming more than asked is clipped
    device->SendCommand(t1, 1000);
    EXPECT_EQ(device->GetRealizedDataTransferCount(t1), 6u);
    EXPECT_EQ(reply[5], 0x5A);
    EXPECT_EQ(reply[6], 0);
    in->release();

    nub->terminate();
    int before = backend->calls;
    EXPECT_EQ(device->SendCommand(t1, 1000), kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE);
    EXPECT_EQ(device->GetTaskStatus(t1), kSCSITaskStatus_DeviceNotPresent);
    EXPECT_EQ(backend->calls, before);
    device->ReleaseSCSITask(t1);
    nub->release();
    device->release();
}
