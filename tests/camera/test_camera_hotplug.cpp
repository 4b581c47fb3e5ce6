// Hot-plug: cameras present at start, repeated matches, unplugs with and without a running
// format, webcam-mode switches, reboots, placeholder serial numbers, foreign devices.
#include "CameraLinkFixture.h"
#include "camera/DeviceInfoManager.h"
#include "camera/NvUSBcmd.h"
#include "camera/Settings.h"
#include "camera/USBEventManager.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

using namespace camtest;

namespace {
hvb::DeviceState& state() { return hvb::DeviceState::shared(); }
}  // namespace

class HotPlug : public CameraLinkFixture {
protected:
    std::shared_ptr<SimulatedBodyCamera> bringUp(const CameraProfile& p, BodyCameraOptions options = {}) {
        auto camera = makeCamera(p, std::move(options));
        int64_t before = state().PlugInDeviceCnt.load();
        EXPECT_TRUE(camera->attach(bus));
        EXPECT_TRUE(runUntil([&] { return state().PlugInDeviceCnt.load() == before + 1; }));
        return camera;
    }
};

TEST_F(HotPlug, ACameraAttachedAtStartIsReadWhenTheWatcherIsCreated) {
    auto camera = makeCamera(profile("HW7360", "1.0.0"));
    ASSERT_TRUE(camera->attach(bus));
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 0);
    startWatcher();  // drains the iterators: model, count and bring-up without a new event
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 1);
    ASSERT_NE(state().findModel(camera->serialNumber()), nullptr);
    EXPECT_EQ(hvb::USBWatcherHandler::shared().deviceCnt.load(), 0);
    auto entries = state().deviceEntryList();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].driverIndex, 0);
    EXPECT_TRUE(hvb::USBWatcherHandler::shared().hasDeviceService());
    EXPECT_TRUE(sawLine("Match event serial number = " + camera->serialNumber()));
    // The USB description logs the disk below a storage-mode camera the way the BSD-name reader does.
    EXPECT_TRUE(sawLine("index = 1, Device file path0: " + camera->bsdName()));
    ASSERT_TRUE(runUntil([&] { return statusPosts > 0; }));
}

TEST_F(HotPlug, ASecondDriverMatchForTheSameCameraIsIgnored) {
    startWatcher();
    auto camera = bringUp(profile("HVBT3A", "1.3.0"));
    settle();
    auto log = camera->log().size();
    io_service_t service = hvb::DeviceInfoManager::shared().driverService(camera->serialNumber());
    ASSERT_NE(service, 0u);
    hvb::USBWatcherHandler::shared().driverServiceMatched(service);
    IOObjectRelease(service);
    ASSERT_TRUE(waitForArrivals());
    EXPECT_TRUE(sawLine("No add = " + camera->serialNumber()));
    EXPECT_EQ(state().deviceEntryList().size(), 1u);
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 1);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(camera->log().size(), log);  // nothing was read
    EXPECT_FALSE(state().isAddingDevice.load());
}

TEST_F(HotPlug, AnUnplugRemovesEntryRecordAndModelAndPostsAgain) {
    startWatcher();
    auto camera = bringUp(profile("HVBS2A", "1.13.0"));
    settle();
    int postsBefore = statusPosts;
    camera->detach();
    ASSERT_TRUE(runUntil([&] { return state().PlugInDeviceCnt.load() == 0 && state().modelList().empty(); }));
    settle();
    EXPECT_TRUE(state().deviceEntryList().empty());
    EXPECT_EQ(state().recordCount(), 0u);
    EXPECT_GT(statusPosts, postsBefore);
    EXPECT_EQ(hvb::USBWatcherHandler::shared().deviceCnt.load(), -1);
    EXPECT_FALSE(hvb::USBWatcherHandler::shared().hasDeviceService());
    EXPECT_TRUE(sawLine("Teriminate event serial number = " + camera->serialNumber()));
    EXPECT_TRUE(sawLine("deletedIndex = 0"));
}

TEST_F(HotPlug, AFormatOrUpgradeHoldsTheCameraThroughItsUnplug) {
    startWatcher();
    auto formatting = bringUp(profile("HW7334", "1.0.0"));
    auto upgrading = bringUp(profile("HVBR7", "1.6.01"));
    state().updateRecord(formatting->serialNumber(), [](hvb::DiskDriver_Parameter& r) { r.isFormatBlock = true; });
    state().updateRecord(upgrading->serialNumber(), [](hvb::DiskDriver_Parameter& r) { r.isFWUpgradeBlock = true; });
    formatting->detach();
    upgrading->detach();
    ASSERT_TRUE(runUntil([&] { return countLines("No delete = ") == 2; }));
    EXPECT_TRUE(sawLine("No delete = " + formatting->serialNumber()));
    EXPECT_EQ(state().deviceEntryList().size(), 2u);
    EXPECT_EQ(state().recordCount(), 2u);
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 2);
    // Back on the bus while still held (a reboot): that one departure is not handled again.
    ASSERT_TRUE(upgrading->attach(bus));
    ASSERT_TRUE(runUntil([&] { return sawLine("No add = " + upgrading->serialNumber()); }));
    settle();
    EXPECT_EQ(countLines("No delete = "), 2u);
    EXPECT_EQ(countLines("Teriminate event serial number = "), 2u);

    // Once its block is lifted, a held camera that is gone is withdrawn; one still held stays,
    // and so does a camera on the bus.
    auto present = bringUp(profile("HVBT3A", "1.3.0"));
    state().updateRecord(formatting->serialNumber(), [](hvb::DiskDriver_Parameter& r) { r.isFormatBlock = false; });
    for (const auto& camera : {formatting, upgrading, present})
        hvb::USBEventManager::shared().withdrawIfGone(camera->serialNumber());
    EXPECT_TRUE(sawLine("Withdraw after block = " + formatting->serialNumber()));
    EXPECT_EQ(recordOf(formatting->serialNumber()), nullptr);
    EXPECT_NE(recordOf(upgrading->serialNumber()), nullptr);
    EXPECT_NE(recordOf(present->serialNumber()), nullptr);
    EXPECT_EQ(state().deviceEntryList().size(), 2u);
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 2);
}

TEST_F(HotPlug, ACameraMatchedAgainBeforeItsDepartureIsReadAfreshAndStaysListed) {
    startWatcher();
    auto camera = bringUp(profile("HVBR7", "1.6.01"));
    settle();
    // It leaves and comes back while the main loop is busy; its new match is handled first.
    camera->detach();
    camera->setLabel("Back again");
    ASSERT_TRUE(camera->attach(bus));
    io_service_t service = 0;
    for (int i = 0; i < 500 && !service; ++i) {
        service = hvb::DeviceInfoManager::shared().driverService(camera->serialNumber());
        if (!service) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(service, 0u);
    hvb::USBWatcherHandler::shared().driverServiceMatched(service);
    IOObjectRelease(service);
    ASSERT_TRUE(waitForArrivals());
    ASSERT_NE(recordOf(camera->serialNumber()), nullptr);
    EXPECT_EQ(recordOf(camera->serialNumber())->UserLabel, "Back again");
    EXPECT_EQ(state().deviceEntryList().size(), 1u);

    // Then the old departure, the new arrival and the match again, in the loop's order.
    ASSERT_TRUE(runUntil([&] { return countLines("Back already = ") == 1; }));
    settle();
    EXPECT_EQ(state().deviceEntryList().size(), 1u);
    ASSERT_NE(recordOf(camera->serialNumber()), nullptr);
    EXPECT_EQ(recordOf(camera->serialNumber())->UserLabel, "Back again");
    EXPECT_NE(state().findModel(camera->serialNumber()), nullptr);
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 1);
    EXPECT_TRUE(hvb::USBWatcherHandler::shared().hasDeviceService());

    // Its real departure later still withdraws it.
    camera->detach();
    ASSERT_TRUE(runUntil([&] { return state().PlugInDeviceCnt.load() == 0 && state().modelList().empty(); }));
    EXPECT_TRUE(state().deviceEntryList().empty());
}

TEST_F(HotPlug, AnArrivingCameraIsReadOffTheMainThreadWhileItsLoopServes) {
    // As in the application: from here a camera command on the main thread aborts.
    dispatch::setMainEventLoopRunning(true);
    struct LoopEnds {
        ~LoopEnds() { dispatch::setMainEventLoopRunning(false); }
    } loopEnds;
    std::mutex lock;
    std::optional<std::thread::id> reader;
    int token = foundation::addLogSink([&](foundation::LogChannel, const std::string& line) {
        if (line.find("deviceUID = ") == std::string::npos) return;
        std::lock_guard<std::mutex> guard(lock);
        reader = std::this_thread::get_id();
    });
    startWatcher();
    auto camera = makeCamera(profile("HVBS2A", "1.13.0"));
    ASSERT_TRUE(camera->attach(bus));
    bool servedWhileReading = false;
    EXPECT_TRUE(runUntil([&] {
        servedWhileReading = servedWhileReading || state().isAddingDevice.load();
        return state().PlugInDeviceCnt.load() == 1;
    }));
    foundation::removeLogSink(token);
    EXPECT_TRUE(servedWhileReading);
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_TRUE(reader.has_value());
    EXPECT_NE(*reader, std::this_thread::get_id());
}

TEST_F(HotPlug, ACameraThatLeavesDuringItsReadIsWithdrawnAfterItIsPublished) {
    auto camera = makeCamera(profile("HVBR7", "1.6.01"));
    // It answers the read's last command, then leaves before the read has returned.
    std::optional<uint8_t> last;
    for (auto key : hvb::allCases<hvb::EnumSettings>())
        if (auto c = camera->profile().codeOf(hvb::settingCommandName(key))) last = *c;
    ASSERT_TRUE(last.has_value());
    ASSERT_TRUE(camera->attach(bus));
    camera->session()->vanishAfterCommand(*last);
    startWatcher();
    const std::string departure = "Teriminate event serial number = " + camera->serialNumber();
    ASSERT_TRUE(runUntil([&] { return events.size() == 1 && sawLine(departure); }));
    settle();
    EXPECT_TRUE(state().deviceEntryList().empty());
    EXPECT_EQ(recordOf(camera->serialNumber()), nullptr);
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 0);
    EXPECT_EQ(state().findModel(camera->serialNumber()), nullptr);
}

TEST_F(HotPlug, TheCounterNeverGoesBelowZeroAndAGoneCameraWithoutSerialIsFound) {
    startWatcher();
    auto camera = bringUp(profile("HW7312", "1.0.00"));
    // An entry whose camera left while its serial could not be read.
    state().appendEntry({"GHOST0000001", "", 1});
    state().storeRecord("GHOST0000001", std::make_shared<hvb::DiskDriver_Parameter>());
    state().PlugInDeviceCnt = 0;
    hvb::USBEventManager::shared().removeDevice(0, "");
    EXPECT_TRUE(sawLine("no serial deletedIndex = 1"));
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 0);
    EXPECT_EQ(recordOf("GHOST0000001"), nullptr);
    ASSERT_EQ(state().deviceEntryList().size(), 1u);
    camera->detach();
    ASSERT_TRUE(runUntil([&] { return state().deviceEntryList().empty(); }));
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 0);
    // An unplug that matches nothing changes nothing.
    hvb::USBEventManager::shared().removeDevice(0, "NOSUCHCAMERA");
    EXPECT_TRUE(sawLine("deletedIndex = -1"));
}

TEST_F(HotPlug, TwoCamerasKeepTheirOwnEntriesAndTheSurvivorIsRenumbered) {
    startWatcher();
    auto first = bringUp(profile("HVBT3A", "1.0.00"));
    auto second = bringUp(profile("HW7312", "1.0.00"));
    auto entries = state().deviceEntryList();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].driverIndex, 0);
    EXPECT_EQ(entries[1].driverIndex, 1);
    first->detach();
    ASSERT_TRUE(runUntil([&] { return state().PlugInDeviceCnt.load() == 1; }));
    entries = state().deviceEntryList();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].serialNumber, second->serialNumber());
    EXPECT_EQ(entries[0].driverIndex, 0);
    EXPECT_NE(recordOf(second->serialNumber()), nullptr);
    EXPECT_EQ(recordOf(first->serialNumber()), nullptr);
}

TEST_F(HotPlug, CamerasReportingThePlaceholderSerialAreKeyedByTheirBSDName) {
    startWatcher();
    BodyCameraOptions a, b;
    a.serialNumber = b.serialNumber = hvb::kPlaceholderSerialNumber;
    a.uid = "HW7360PLACE0000A";
    b.uid = "HW7360PLACE0000B";
    a.bsdName = "disk6";
    b.bsdName = "disk7";
    auto first = bringUp(profile("HW7360", "1.0.0"), a);
    auto second = bringUp(profile("HW7360", "1.0.0"), b);
    const std::string placeholder = hvb::kPlaceholderSerialNumber;
    auto recordA = recordOf(placeholder + "disk6");
    auto recordB = recordOf(placeholder + "disk7");
    ASSERT_NE(recordA, nullptr);
    ASSERT_NE(recordB, nullptr);
    EXPECT_EQ(recordA->UID, "HW7360PLACE0000A");
    EXPECT_EQ(recordB->UID, "HW7360PLACE0000B");
    auto entries = state().deviceEntryList();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].bsdName, "disk6");
    EXPECT_EQ(entries[1].bsdName, "disk7");
    EXPECT_EQ(state().modelList().size(), 1u);  // one model object per serial number
    EXPECT_TRUE(sawLine("Device BSD Name = disk6"));

    first->detach();
    ASSERT_TRUE(runUntil([&] { return state().PlugInDeviceCnt.load() == 1; }));
    entries = state().deviceEntryList();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].bsdName, "disk7");
    EXPECT_EQ(entries[0].driverIndex, 0);
    EXPECT_EQ(recordOf(placeholder + "disk6"), nullptr);
    EXPECT_NE(recordOf(placeholder + "disk7"), nullptr);
}

TEST_F(HotPlug, ASwitchToWebcamModeKeepsTheModelAndCountsAWebcam) {
    startWatcher();
    auto camera = bringUp(profile("HW7334", "1.0.0"));
    auto model = state().findModel(camera->serialNumber());
    ASSERT_NE(model, nullptr);
    model->isModeChanging = true;
    camera->switchMode(true, 20);
    ASSERT_TRUE(runUntil([&] { return hvb::USBWatcherHandler::shared().webcamCnt.load() == 1; }));
    settle();
    EXPECT_EQ(state().findModel(camera->serialNumber()), model);
    EXPECT_TRUE(model->isWebcamMode.load());
    EXPECT_FALSE(model->isModeChanging.load());
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 0);  // the storage camera left
    EXPECT_EQ(hvb::USBWatcherHandler::shared().deviceCnt.load(), -1);
    EXPECT_EQ(events.size(), 1u);  // no bring-up in webcam mode
    ASSERT_NE(model->usbInfo(), nullptr);
    EXPECT_EQ(model->usbInfo()->productId, 0x8612);

    // Back to storage mode: counted and read again.
    camera->switchMode(false, 20);
    ASSERT_TRUE(runUntil([&] { return state().PlugInDeviceCnt.load() == 1; }));
    EXPECT_EQ(hvb::USBWatcherHandler::shared().webcamCnt.load(), 0);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(HotPlug, ARebootLeavesAndComesBackWithARebuiltRecord) {
    startWatcher();
    auto camera = bringUp(profile("HVBT3A", "1.3.0"));
    ASSERT_EQ(recordOf(camera->serialNumber())->UserLabel, "Officer 7");
    camera->setLabel("Night shift");
    camera->setSetting("HVB_LED", 1);
    // The reboot command: the camera leaves during the wait, which counts as done.
    io_service_t service = hvb::DeviceInfoManager::shared().driverService(camera->serialNumber());
    ASSERT_NE(service, 0u);
    const uint8_t one = 1;
    EXPECT_TRUE(hvb::NvUSBcmd::sendCommandData(service, 0x49, std::span<const uint8_t>(&one, 1)));
    IOObjectRelease(service);
    ASSERT_TRUE(runUntil([&] { return camera->attachCount() == 2 && state().PlugInDeviceCnt.load() == 1 &&
                                      events.size() == 2; }));
    auto record = recordOf(camera->serialNumber());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->UserLabel, "Night shift");
    EXPECT_EQ(record->DeviceParam->LED(), 1);
    EXPECT_EQ(state().deviceEntryList().size(), 1u);

    // A reboot that comes back under another BSD name is read again too.
    camera->reboot(20, "disk12");
    ASSERT_TRUE(runUntil([&] { return camera->attachCount() == 3 && events.size() == 3; }));
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 1);
    EXPECT_NE(recordOf(camera->serialNumber()), nullptr);
}

TEST_F(HotPlug, ForeignDevicesAndCamerasWithoutASerialChangeNothing) {
    startWatcher();
    hvb::sim::CameraIdentity other;
    other.productName = "Generic Flash Disk";
    other.serialNumber = "FLASH0001";
    other.vendorID = 0x0781;
    auto foreign = std::make_shared<hvb::sim::SimulatedCamera>(other);
    hvb::sim::CameraIdentity unnamed;
    unnamed.productName = "HVB Body Camera";
    unnamed.serialNumber = "";
    auto noSerial = std::make_shared<hvb::sim::SimulatedCamera>(unnamed);
    ASSERT_TRUE(bus.plug(foreign));
    ASSERT_TRUE(bus.plug(noSerial));
    settle();
    settle();
    EXPECT_TRUE(state().modelList().empty());
    EXPECT_EQ(state().findModel("FLASH0001"), nullptr);
    EXPECT_EQ(state().findModel(""), nullptr);
    EXPECT_EQ(hvb::USBWatcherHandler::shared().deviceCnt.load(), -1);
    bus.unplug(foreign);
    bus.unplug(noSerial);
    settle();
    EXPECT_EQ(hvb::USBWatcherHandler::shared().deviceCnt.load(), -1);
}

TEST_F(HotPlug, ACameraWithoutHVBInItsNameIsWithdrawnAsItWasBroughtUp) {
    startWatcher();
    CameraProfile renamed = profile("HVBT3A", "1.3.0");
    renamed.productName = "Body Camera T3";
    BodyCameraOptions options;
    options.serialNumber = "T3RENAMED0001";
    auto camera = bringUp(renamed, options);  // the driver matched it by vendor and product
    ASSERT_NE(recordOf("T3RENAMED0001"), nullptr);
    ASSERT_NE(state().findModel("T3RENAMED0001"), nullptr);
    camera->detach();
    ASSERT_TRUE(runUntil([&] { return state().PlugInDeviceCnt.load() == 0; }));
    settle();
    EXPECT_TRUE(state().deviceEntryList().empty());
    EXPECT_EQ(recordOf("T3RENAMED0001"), nullptr);
    EXPECT_EQ(state().findModel("T3RENAMED0001"), nullptr);
    EXPECT_EQ(hvb::USBWatcherHandler::shared().deviceCnt.load(), -1);  // never counted either way
    EXPECT_FALSE(hvb::USBWatcherHandler::shared().hasDeviceService());
}

TEST_F(HotPlug, AnSDCardErrorAsksForTheFormatDialogWithTheStorageMessage) {
    auto hooks = hvb::cameraLinkHooks();
    startWatcher();
    auto plain = makeCamera(profile("HW7333", "1.0.0"));
    plain->setSDCardStatus(1);
    ASSERT_TRUE(plain->attach(bus));
    ASSERT_TRUE(runUntil([&] { return dialogs.size() == 1; }));
    EXPECT_EQ(dialogs[0].first, "Storage error, please format device.");
    EXPECT_EQ(dialogs[0].second, *hvb::commandTable("HW7333Cmd_1"));
    EXPECT_TRUE(recordOf(plain->serialNumber())->isSDCardError);

    hooks.localizedString = [](const std::string& table, const std::string& key, const std::string&) {
        return table + "/" + key;
    };
    hvb::setCameraLinkHooks(hooks);
    auto translated = makeCamera(profile("HW7334", "1.0.0"));
    translated->setSDCardStatus(1);
    ASSERT_TRUE(translated->attach(bus));
    ASSERT_TRUE(runUntil([&] { return dialogs.size() == 2; }));
    EXPECT_EQ(dialogs[1].first, "Message/SD_CARD_ERROR");

    // Any other status is no error.
    auto fine = makeCamera(profile("HW7334", "1.0.0"), [] {
        BodyCameraOptions o;
        o.uid = "HW7334FINE0001";
        return o;
    }());
    fine->setSDCardStatus(2);
    ASSERT_TRUE(fine->attach(bus));
    ASSERT_TRUE(runUntil([&] { return state().PlugInDeviceCnt.load() == 3; }));
    settle();
    EXPECT_EQ(dialogs.size(), 2u);
    EXPECT_FALSE(recordOf(fine->serialNumber())->isSDCardError);
}

TEST_F(HotPlug, ASettingReadTheTransportFailedStaysUnknown) {
    auto camera = makeCamera(profile("HW7360", "1.0.0"));
    camera->setHidden(true);
    camera->setEncrypted(true);
    ASSERT_TRUE(camera->attach(bus));
    camera->session()->refuseCode(0x2F, 2);  // LED
    startWatcher();
    auto record = recordOf(camera->serialNumber());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->DeviceParam->LED(), -1);
    EXPECT_EQ(record->DeviceParam->BUZZERSWITCH(), camera->setting("HVB_BUZZERSWITCH"));
    EXPECT_EQ(record->isLockStatus, true);
    EXPECT_EQ(record->isDeviceEncryption, true);
}

TEST_F(HotPlug, ACameraOfNoKnownModelIsNotPublished) {
    hvb::sim::CameraProfile odd = profile("HW7360", "1.0.0");
    odd.reportedModel = "HVBX9";
    auto camera = makeCamera(odd);
    ASSERT_TRUE(camera->attach(bus));
    startWatcher();
    EXPECT_TRUE(sawLine("Invalid"));
    EXPECT_EQ(state().PlugInDeviceCnt.load(), 0);
    EXPECT_TRUE(state().deviceEntryList().empty());
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(state().isAddingDevice.load());
    EXPECT_NE(state().findModel(camera->serialNumber()), nullptr);  // still seen on USB
}

TEST_F(HotPlug, WaitingForADriverServiceEndsOnceEitherWay) {
    std::atomic<int> calls{0};
    std::atomic<bool> found{true};
    hvb::HVBModel::findDeviceInBackground([&](bool f, io_service_t service) {
        found = f;
        EXPECT_EQ(service, 0u);
        ++calls;
    });
    ASSERT_TRUE(runUntil([&] { return calls.load() == 1; }));
    EXPECT_FALSE(found.load());
    EXPECT_EQ(countLines("FindHVB timerCounter = "), 50u);

    // The camera is attached and matched inside the wait's 50 rounds: 5 s of real time here.
    dispatch::setTimeScale(0.1);
    startWatcher();
    std::atomic<io_service_t> got{0};
    hvb::HVBModel::findDeviceInBackground([&](bool f, io_service_t service) {
        found = f;
        got = service;
        ++calls;
    });
    auto camera = makeCamera(profile("HW7312", "1.0.00"));
    ASSERT_TRUE(camera->attach(bus));
    ASSERT_TRUE(runUntil([&] { return calls.load() == 2; }));
    EXPECT_TRUE(found.load());
    ASSERT_NE(got.load(), 0u);
    EXPECT_EQ(hvb::USBWatcher::readSerialNumber(got.load()), camera->serialNumber());
    IOObjectRelease(got.load());
}
