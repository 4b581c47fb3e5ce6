// The firmware upgrade end to end: the dialog opened as the Status panel opens it, the package
// from the web-service stand-in on loopback, simulated cameras on the embedded link that apply
// the image at their reboot and come back with the new version (or a new UID on old firmware).
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <filesystem>

#include "ToolsFixture.h"
#include "ToolsTestSupport.h"
#include "camera/StatusModel.h"
#include "common/LocalizedString.h"
#include "online/FirmwareManager.h"
#include "online/FirmwarePackage.h"
#include "platform/foundation/TempDir.h"
#include "standins/webservice/WebService.h"
#include "status/StatusTableViewCell.h"
#include "status/StatusViewController.h"
#include "tools/BusySpinner.h"
#include "tools/FWUpgradeViewController.h"
#include "tools/FirmwareUpgradeWorker.h"

namespace {

namespace fs = std::filesystem;
using namespace toolstest;
using hvb::FirmwareUpgradeWorker;
using hvb::FWUpgradeViewController;
using hvb::UpgradeResult;

// The live link; a test can act right before a command of a given code goes out.
class HookLink : public hvb::LiveCameraLink {
public:
    std::function<void(uint8_t code)> beforeCommand;
    std::atomic<bool> hideServices{false};
    // The camera refuses this command code (its completion wait fails).
    std::atomic<int> refusedCode{-1};
    hvb::CommandOutcome sendCommandData(io_service_t service, uint8_t code, std::span<const uint8_t> bytes) override {
        if (beforeCommand) beforeCommand(code);
        if (refusedCode.load() == code) return hvb::CommandOutcome::failed;
        return LiveCameraLink::sendCommandData(service, code, bytes);
    }
    io_service_t driverService(const std::string& uid) const override {
        return hideServices ? IO_OBJECT_NULL : LiveCameraLink::driverService(uid);
    }
};

// What the dialog showed on the way.
struct Shown {
    QString question;
    bool sawDownloading = false;
    bool sawCountdown = false;
    QString failureText;     // the first dialog's failure screen
    int firstResult = 0;     // its upgradeResult
    int resultDialogs = 0;   // fresh dialogs opened by the re-detection
    uint8_t resultState = 0;
    QString resultText, resultImage;
    bool stayedOpen = false;  // through Escape and the close button while downloading
};

class Upgrade : public ToolsFixture {
protected:
    void SetUp() override {
        ToolsFixture::SetUp();
        hookLink = std::make_shared<HookLink>();
        link = hookLink;
        hvb::setCameraLink(hookLink);
        fs::create_directories(resources);
        ASSERT_GT(service.start(), 0);
        manager = std::make_unique<hvb::FirmwareManager>(service.baseURL(), resources, packages);
        FWUpgradeViewController::setServicesFactory([this] { return services(); });
    }
    void TearDown() override {
        FWUpgradeViewController::setServicesFactory({});
        ToolsFixture::TearDown();
        service.stop();
    }

    hvb::UpgradeServices services() {
        hvb::UpgradeServices s = hvb::UpgradeServices::defaults();
        auto* m = manager.get();
        s.downloadFirmware = [m](const std::string& model) { return m->downloadFirmware(model); };
        s.deviceModels = manager->deivceModel;
        auto lookup = s.volumeOf;
        s.volumeOf = [this, lookup](const std::string& uid) {
            if (beforeVolumeLookup) beforeVolumeLookup();
            return lookup(uid);
        };
        return s;
    }

    std::shared_ptr<SimulatedBodyCamera> camera(const std::string& model, const std::string& firmware,
                                                const std::string& folder, BodyCameraOptions o = {}) {
        const fs::path volume = root / folder;
        fs::create_directories(volume);
        o.volumeFolder = volume;
        auto c = makeCamera(model, firmware, o);
        // Long enough (scaled) for the countdown to show a few ticks.
        c->setRebootDownTime(20000);
        return c;
    }

    int64_t indexOf(const std::shared_ptr<SimulatedBodyCamera>& c) {
        const auto entries = hvb::DeviceState::shared().deviceEntryList();
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].serialNumber == c->serialNumber()) return static_cast<int64_t>(i);
        return -1;
    }

    // What the Status row's opener sets before the dialog opens.
    void select(const std::shared_ptr<SimulatedBodyCamera>& c) {
        const int64_t index = c ? indexOf(c) : -1;
        hookLink->setSelectedDeviceIndex(index);
        auto cam = hookLink->camera(index);
        hvb::selectedCmdDic = cam ? cam->table : hvb::CommandDictionary{};
        hvb::latestFirmwareVersion = cam && cam->record.ModelName ? service.firmwareVersion(*cam->record.ModelName) : "";
        hvb::fwUpgradeState = 0;
    }

    // Runs the dialog from its question to its end and answers each screen; `shots` names the
    // screenshots (empty: none). `tryToLeave`: Escape and the close button once it works.
    Shown runDialog(const std::string& shots = "", bool tryToLeave = false) {
        Shown shown;
        onModal = [&, shots, tryToLeave](appkit::Window* window) {
            auto* d = dynamic_cast<FWUpgradeViewController*>(window->contentViewController());
            if (!d) {
                window->performClose();
                appkit::abortModal();
                return;
            }
            if (hvb::fwUpgradeState != 0) {
                // The re-detection's fresh dialog: its result screen.
                ++shown.resultDialogs;
                shown.resultState = hvb::fwUpgradeState;
                shown.resultText = d->FWUpgradeQuestion->text();
                shown.resultImage = d->imageName();
                if (!shots.empty())
                    apptest::saveScreenshot(window, shots + (shown.resultState == 1 ? "_success" : "_failure"));
                d->buttonOK->click();
                return;
            }
            shown.question = d->FWUpgradeQuestion->text();
            if (!shots.empty()) apptest::saveScreenshot(window, shots + "_question");
            d->buttonOK->click();
            shown.sawDownloading = d->FWUpgradeQuestion->text() == "Downloading..." && !d->buttonOK->isEnabled() &&
                                   d->FWUpgradeProgress->isAnimating();
            if (!shots.empty()) apptest::saveScreenshot(window, shots + "_downloading");
            QPointer<FWUpgradeViewController> dialog(d);
            if (tryToLeave) {
                QTest::keyClick(window, Qt::Key_Escape);
                QCloseEvent fromTheCloseButton;
                QCoreApplication::sendEvent(window, &fromTheCloseButton);
                shown.stayedOpen = dialog && window->isVisibleWindow() && appkit::modalWindow() == window;
            }
            // Seen as it shows: the countdown lasts only while the camera reboots.
            QObject::connect(d, &FWUpgradeViewController::countdownShown, d, [&, dialog, shots] {
                if (!dialog || shown.sawCountdown) return;
                shown.sawCountdown = dialog->FWUpgradeQuestion->text().startsWith("Upgrading... (");
                if (!shots.empty()) apptest::saveScreenshot(dialog->hostWindow(), shots + "_countdown");
            });
            onceEmitted(d, &FWUpgradeViewController::outcomeShown, [&, dialog, shots](const QString& text) {
                if (!dialog) return;
                shown.failureText = text;
                shown.firstResult = dialog->upgradeResult;
                shown.resultImage = dialog->imageName();
                if (!shots.empty()) apptest::saveScreenshot(dialog->hostWindow(), shots + "_failure");
                dialog->buttonOK->click();
            });
        };
        hvb::runDialogFromStoryboard(hvb::kFWUpgradeWindowController, &hvb::fwUpgradeWindow);
        // The worker may still be on its way out (failure after the dialog closed).
        settle(50);
        return shown;
    }

    // The worker alone, on a worker thread as the dialog runs it, for the codes: returns its code.
    int runWorker(const std::string& password = "") { return runWorker(services(), password); }
    int runWorker(hvb::UpgradeServices s, const std::string& password = "") {
        auto worker = std::make_shared<FirmwareUpgradeWorker>(hookLink, std::move(s), hvb::selectedCmdDic, password,
                                                              FirmwareUpgradeWorker::Listener{});
        auto code = std::make_shared<std::atomic<int>>(0);
        auto done = std::make_shared<std::atomic<bool>>(false);
        const int64_t index = hookLink->selectedDeviceIndex();
        dispatch::globalQueue(dispatch::QoS::background).async([worker, code, done, index] {
            code->store(worker->runFirmwareUpgrade(index));
            done->store(true);
        });
        EXPECT_TRUE(waitUntil([done] { return done->load(); }, 120000));
        return code->load();
    }

    void refuse(const std::string& command) {
        auto it = hvb::selectedCmdDic.find(command);
        hookLink->refusedCode = it == hvb::selectedCmdDic.end() ? -1 : it->second;
    }

    std::optional<std::string> versionOf(const std::shared_ptr<SimulatedBodyCamera>& c) {
        auto record = recordOf(c);
        if (!record) return std::nullopt;
        return hvb::DeviceState::shared().readRecord(record, [](const hvb::DiskDriver_Parameter& r) { return r.FWVersion; });
    }

    TempDir dir;  // declared first: removed after everything that writes into it
    const fs::path root = dir.path(), resources = root / "resources", packages = root / "packages";
    std::shared_ptr<HookLink> hookLink;
    std::function<void()> beforeVolumeLookup;  // on the worker, right before the volume is looked up
    standin::WebService service;
    std::unique_ptr<hvb::FirmwareManager> manager;
};

TEST_F(Upgrade, EachCodeSetComesBackWithTheNewVersionAndSuccess) {
    struct Case {
        std::string model, from, to;
    };
    const std::vector<Case> cases = {
        {"HVBR7", "1.6.01", "1.6.02"}, {"HVBS2A", "1.13.0", "1.13.1"}, {"HVBT3A", "1.3.0", "1.3.1"}, {"HW7334", "1.0.0", "1.0.1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        service.setFirmwareVersion(c.model, c.to);
        auto cam = camera(c.model, c.from, "vol " + c.model);
        ASSERT_TRUE(plug(cam));
        select(cam);
        const Shown shown = runDialog(c.model == "HVBR7" ? "upgrade" : "");
        EXPECT_EQ(shown.question, "Latest FW Ver: " + QString::fromStdString(hvb::FirmwareManager::formatFirmwareVersionText(c.to)) +
                                      "\nDo you want to upgrade now?");
        EXPECT_TRUE(shown.sawDownloading);
        EXPECT_TRUE(shown.sawCountdown);
        EXPECT_EQ(shown.failureText, "") << shown.firstResult;
        EXPECT_EQ(shown.resultDialogs, 1);
        EXPECT_EQ(shown.resultState, 1);
        EXPECT_EQ(shown.resultText, "Success");
        EXPECT_EQ(shown.resultImage, "successIcon");
        EXPECT_EQ(cam->firmwareVersion(), c.to);
        EXPECT_TRUE(waitUntil([&] { return versionOf(cam) == c.to; }));
        // The package came from the stand-in into its folder; the image was consumed.
        EXPECT_TRUE(fs::exists(packages / hvb::firmwarePackageName(c.model)));
        EXPECT_FALSE(fs::exists(root / ("vol " + c.model) / hvb::firmwareImageName(hvb::firmwarePackageName(c.model))));
        EXPECT_TRUE(sawLine("upgradeResult = 1"));
        cam->waitForReturn();
        cam->detach();
        EXPECT_TRUE(waitUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }));
        clearLines();
    }
    // Each run reported its model and its screen.
    size_t upgrades = 0;
    for (const auto& e : reports->events()) upgrades += e.first == "FW_Upgrade";
    EXPECT_EQ(upgrades, cases.size());
    EXPECT_FALSE(reports->screens().empty());
    EXPECT_EQ(reports->screens().front(),
              (std::pair<std::string, std::string>{"FW Upgrade", "FWUpgradeViewController"}));
}

TEST_F(Upgrade, OldFirmwareComesBackWithItsNewUID) {
    service.setFirmwareVersion("HVBR4", "1.4.00");
    auto cam = camera("HVBR4", "1.3.05", "vol R4");
    ASSERT_TRUE(plug(cam));
    const std::string oldUID = cam->uid();
    select(cam);
    const Shown shown = runDialog();
    EXPECT_EQ(shown.resultState, 1);
    EXPECT_EQ(shown.resultText, "Success");
    const std::string newUID = hvb::currentDeviceUID();
    EXPECT_NE(newUID, oldUID);
    EXPECT_EQ(newUID.back(), '0');
    EXPECT_EQ(cam->uid(), newUID);
    EXPECT_EQ(cam->firmwareVersion(), "1.4.00");
    EXPECT_FALSE(fs::exists(resources / "HVBR4UID"));
}

TEST_F(Upgrade, EscapeAndTheCloseButtonLeaveARunningUpgradeOnScreen) {
    service.setFirmwareVersion("HVBR7", "1.6.02");
    auto cam = camera("HVBR7", "1.6.01", "vol stays");
    ASSERT_TRUE(plug(cam));
    select(cam);
    const Shown shown = runDialog("", true);
    EXPECT_TRUE(shown.stayedOpen);
    EXPECT_EQ(shown.resultDialogs, 1);
    EXPECT_EQ(shown.resultText, "Success");
    EXPECT_EQ(cam->firmwareVersion(), "1.6.02");
}

TEST_F(Upgrade, LockedCameraGoesThroughTheWholeLockedBranch) {
    service.setFirmwareVersion("HVBR7", "1.6.02");
    BodyCameraOptions o;
    o.password = "secret1";
    auto cam = camera("HVBR7", "1.6.01", "vol locked", o);
    ASSERT_TRUE(plug(cam));
    select(cam);
    hvb::DeviceState::shared().setEnteredPassword("secret1");
    const Shown shown = runDialog();
    EXPECT_EQ(shown.resultState, 1) << shown.failureText.toStdString();
    EXPECT_EQ(cam->firmwareVersion(), "1.6.02");
    std::vector<std::string> order;
    for (const auto& name : writeNames(*cam))
        if (name == "HVB_UNLOCK_READONLY" || name == "HVB_HIDDENSTORAGE" || name == "HVB_FW_UPGRADE" || name == "HVB_REBOOT")
            order.push_back(name);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], "HVB_UNLOCK_READONLY");
    EXPECT_EQ(order[1], "HVB_HIDDENSTORAGE");
    // The storage was hidden again before the reboot, so the camera comes back locked as it was.
    EXPECT_TRUE(cam->isStorageLocked());
    ASSERT_TRUE(waitUntil([&] { return versionOf(cam) == "1.6.02"; }));
    auto record = recordOf(cam);
    ASSERT_TRUE(record);
    EXPECT_TRUE(hvb::DeviceState::shared().readRecord(record, [](const hvb::DiskDriver_Parameter& r) {
        return r.isLockStatus.value_or(false);
    }));
    EXPECT_FALSE(hvb::DeviceState::shared().readRecord(record, [](const hvb::DiskDriver_Parameter& r) {
        return r.isFWUpgradeBlock.value_or(false);
    }));
}

TEST_F(Upgrade, FailureScreensShowNoSuccess) {
    // -1: nothing selected, and no request to the web service.
    select(nullptr);
    Shown shown = runDialog("upgrade_nocamera");
    EXPECT_EQ(shown.firstResult, UpgradeResult::noCamera);
    EXPECT_EQ(shown.failureText, "Upgrade failed");
    EXPECT_EQ(shown.resultImage, "failIcon");
    EXPECT_EQ(shown.resultDialogs, 0);
    EXPECT_TRUE(service.requests().empty());

    // -500: a checksum mismatch, then a cut download; the package already there stays.
    auto cam = camera("HVBR7", "1.6.01", "vol fail");
    ASSERT_TRUE(plug(cam));
    select(cam);
    service.setFirmwareVersion("HVBR7", "1.6.02");
    standin::Fault corrupt;
    corrupt.corruptFile = true;
    service.setFault(standin::Route::download, corrupt);
    shown = runDialog();
    EXPECT_EQ(shown.firstResult, UpgradeResult::downloadFailed);
    EXPECT_EQ(shown.failureText, "Upgrade failed");
    EXPECT_FALSE(fs::exists(packages / "FWHVBR7.zip"));
    service.clearFaults();
    ASSERT_TRUE(manager->downloadFirmware("HVBR7"));
    const auto oldChecksum = hvb::FirmwareManager::calculateChecksum(packages / "FWHVBR7.zip");
    service.setFirmwareVersion("HVBR7", "1.6.03");
    standin::Fault cut;
    cut.cutMidway = true;
    service.setFault(standin::Route::download, cut);
    select(cam);
    shown = runDialog();
    EXPECT_EQ(shown.firstResult, UpgradeResult::downloadFailed);
    EXPECT_EQ(hvb::FirmwareManager::calculateChecksum(packages / "FWHVBR7.zip"), oldChecksum);
    EXPECT_EQ(cam->firmwareVersion(), "1.6.01");
    EXPECT_FALSE(sawLine("Reboot begin"));

    // -4: a camera on the bus whose storage is not mounted takes no image, and the screen says why.
    service.clearFaults();
    BodyCameraOptions bare;
    bare.serialNumber = "HVBR7NOVOL0001";
    auto unmounted = makeCamera("HVBR7", "1.6.01", bare);
    ASSERT_TRUE(plug(unmounted));
    select(unmounted);
    shown = runDialog("upgrade_novolume");
    EXPECT_EQ(shown.firstResult, UpgradeResult::prepareFailed);
    EXPECT_EQ(shown.failureText, "Upgrade failed\n" + hvb::LocalizedString::Msg::upgradeNoVolume());
    EXPECT_EQ(shown.resultImage, "failIcon");
    EXPECT_EQ(unmounted->firmwareVersion(), "1.6.01");
    EXPECT_FALSE(sawLine("Reboot begin"));

    // -4: the camera gone right before the copy: the screen says that, not that its storage is
    // not mounted.
    BodyCameraOptions second;
    second.serialNumber = "HVBR7LEAVING01";
    auto leaving = camera("HVBR7", "1.6.01", "vol leaving", second);
    ASSERT_TRUE(plug(leaving));
    select(leaving);
    beforeVolumeLookup = [leaving] { leaving->detach(); };
    shown = runDialog("upgrade_cameragone");
    beforeVolumeLookup = nullptr;
    EXPECT_EQ(shown.firstResult, UpgradeResult::prepareFailed);
    EXPECT_EQ(shown.failureText, "Upgrade failed\n" + hvb::LocalizedString::Msg::upgradeCameraGone());
    EXPECT_EQ(shown.resultImage, "failIcon");
    EXPECT_EQ(leaving->firmwareVersion(), "1.6.01");
}

TEST_F(Upgrade, EveryStepsCodeOnAnUnlockedCamera) {
    service.setFirmwareVersion("HVBR7", "1.6.02");
    auto cam = camera("HVBR7", "1.6.01", "vol codes");
    ASSERT_TRUE(plug(cam));
    select(cam);

    // -2: a model without a package.
    {
        auto s = services();
        s.deviceModels = {"HVBR4"};
        EXPECT_EQ(runWorker(s), UpgradeResult::unknownModel);
    }
    // -100: no driver service with the UID.
    hookLink->hideServices = true;
    EXPECT_EQ(runWorker(), UpgradeResult::noService);
    hookLink->hideServices = false;
    // -4: the volume is gone (nothing copied, no command sent).
    {
        auto s = services();
        s.volumeOf = [](const std::string&) { return std::optional<fs::path>(); };
        EXPECT_EQ(runWorker(s), UpgradeResult::prepareFailed);
    }
    // -4: a package whose image is damaged.
    {
        std::string bytes = TempDir::read(packages / "FWHVBR7.zip");
        ASSERT_FALSE(bytes.empty());
        bytes[bytes.size() / 2] ^= 0x33;
        auto s = services();
        s.downloadFirmware = [this](const std::string&) {  // keep the damaged one
            return hvb::FirmwareDownload{true, packages / "FWHVBR7.zip"};
        };
        TempDir::write(packages / "FWHVBR7.zip", bytes);
        EXPECT_EQ(runWorker(s), UpgradeResult::prepareFailed);
        EXPECT_FALSE(fs::exists(root / "vol codes" / "FWHVBR7.bin"));
    }
    // -5: the camera refuses the upgrade command; then a table without it.
    refuse("HVB_FW_UPGRADE");
    EXPECT_EQ(runWorker(), UpgradeResult::commandFailed);
    refuse("");
    auto table = hvb::selectedCmdDic;
    hvb::selectedCmdDic.erase("HVB_FW_UPGRADE");
    EXPECT_EQ(runWorker(), UpgradeResult::commandFailed);
    hvb::selectedCmdDic = table;
    EXPECT_EQ(cam->firmwareVersion(), "1.6.01");
    EXPECT_TRUE(sawLine("upgrade UID = " + cam->uid() + ", upgradeResult = -5"));
}

TEST_F(Upgrade, CameraNeverComingBackShowsFailure) {
    service.setFirmwareVersion("HVBR7", "1.6.02");
    auto cam = camera("HVBR7", "1.6.01", "vol gone");
    ASSERT_TRUE(plug(cam));
    select(cam);
    cam->setStaysAwayAfterReboot(true);
    const Shown shown = runDialog("upgrade_gone");
    EXPECT_TRUE(shown.sawCountdown);
    EXPECT_EQ(shown.resultDialogs, 1);
    EXPECT_EQ(shown.resultState, 2);
    EXPECT_EQ(shown.resultText, "Fail");
    EXPECT_EQ(shown.resultImage, "failIcon");
}

TEST_F(Upgrade, EveryStepsCodeOnALockedCamera) {
    service.setFirmwareVersion("HVBR7", "1.6.02");
    BodyCameraOptions o;
    o.password = "secret1";
    auto cam = camera("HVBR7", "1.6.01", "vol locked codes", o);
    ASSERT_TRUE(plug(cam));
    select(cam);
    const std::string uid = cam->uid();
    auto reselect = [&] {
        ASSERT_TRUE(waitUntil([&] { return indexOf(cam) >= 0 && recordOf(cam) != nullptr; }));
        select(cam);
    };
    // -3: a wrong password; then the camera refusing the read-only unlock.
    EXPECT_EQ(runWorker("wrong"), UpgradeResult::unlockFailed);
    refuse("HVB_UNLOCK_READONLY");
    EXPECT_EQ(runWorker("secret1"), UpgradeResult::unlockFailed);
    refuse("");
    // -4: the camera does not come back after the unlock.
    cam->setStaysAwayAfterReboot(true);
    EXPECT_EQ(runWorker("secret1"), UpgradeResult::prepareFailed);
    cam->setStaysAwayAfterReboot(false);
    // Plugged in again after it stayed away.
    ASSERT_TRUE(cam->attach(bus));
    settle(200);
    reselect();
    // -5: no volume after the unlock.
    {
        auto s = services();
        s.volumeOf = [](const std::string&) { return std::optional<fs::path>(); };
        EXPECT_EQ(runWorker(s, "secret1"), UpgradeResult::commandFailed);
    }
    reselect();
    // -6: the hidden storage refused.
    refuse("HVB_HIDDENSTORAGE");
    EXPECT_EQ(runWorker("secret1"), UpgradeResult::hiddenStorageFailed);
    refuse("");
    reselect();
    // -7: gone after the hidden storage.
    const uint8_t hidden = hvb::selectedCmdDic.at("HVB_HIDDENSTORAGE");
    hookLink->beforeCommand = [&, hidden](uint8_t code) {
        if (code == hidden) cam->setStaysAwayAfterReboot(true);
    };
    EXPECT_EQ(runWorker("secret1"), UpgradeResult::secondWaitFailed);
    hookLink->beforeCommand = {};
    cam->setStaysAwayAfterReboot(false);
    // Plugged in again after it stayed away.
    ASSERT_TRUE(cam->attach(bus));
    settle(200);
    reselect();
    // -8: the upgrade command refused at the end.
    refuse("HVB_FW_UPGRADE");
    EXPECT_EQ(runWorker("secret1"), UpgradeResult::lockedCommandFailed);
    refuse("");
    EXPECT_EQ(cam->firmwareVersion(), "1.6.01");
    EXPECT_EQ(hvb::currentDeviceUID(), uid);
    auto record = recordOf(cam);
    ASSERT_TRUE(record);
    EXPECT_FALSE(hvb::DeviceState::shared().readRecord(record, [](const hvb::DiskDriver_Parameter& r) {
        return r.isFWUpgradeBlock.value_or(false);
    }));
}

TEST_F(Upgrade, ImageLandsOnlyOnTheSelectedCamerasVolume) {
    service.setFirmwareVersion("HVBR7", "1.6.02");
    BodyCameraOptions first, second;
    first.uid = "HVBR7AAAA00001";
    second.uid = "HVBR7AAAA00002";
    auto a = camera("HVBR7", "1.6.01", "vol a", first);
    auto b = camera("HVBR7", "1.6.01", "vol 'b' \"q\" $(touch x) `touch y`", second);
    ASSERT_TRUE(plug(a));
    ASSERT_TRUE(plug(b));
    b->setIgnoresImage(true);  // keep the file to look at
    b->setRebootDownTime(300);
    select(b);
    auto s = services();
    s.startRedetection = [](hvb::Redetection::Progress, std::function<bool()>, uint64_t) {};
    EXPECT_EQ(runWorker(s), UpgradeResult::started);
    EXPECT_TRUE(fs::exists(root / "vol 'b' \"q\" $(touch x) `touch y`" / "FWHVBR7.bin"));
    EXPECT_FALSE(fs::exists(root / "vol a" / "FWHVBR7.bin"));
    EXPECT_FALSE(fs::exists("x"));
    EXPECT_EQ(a->firmwareVersion(), "1.6.01");
    b->waitForReturn();
}

TEST_F(Upgrade, DialogClosedWhileTheWorkerRunsIsNotTouched) {
    service.setFirmwareVersion("HVBR7", "1.6.02");
    auto cam = camera("HVBR7", "1.6.01", "vol closed");
    ASSERT_TRUE(plug(cam));
    select(cam);
    hookLink->hideServices = true;  // the run ends in a failure, after the dialog went
    bool closed = false;
    onModal = [&](appkit::Window* window) {
        auto* d = dynamic_cast<FWUpgradeViewController*>(window->contentViewController());
        ASSERT_NE(d, nullptr);
        d->buttonOK->click();
        window->performClose();
        appkit::abortModal();
        closed = true;
    };
    hvb::runDialogFromStoryboard(hvb::kFWUpgradeWindowController, &hvb::fwUpgradeWindow);
    ASSERT_TRUE(closed);
    // The failure still reaches the shared state; the sanitizer checks that nothing touched the
    // deleted dialog.
    EXPECT_TRUE(waitUntil([this] { return sawLine("upgradeResult = -100"); }));
    EXPECT_TRUE(waitUntil([] { return hvb::fwUpgradeState == 2; }));
    EXPECT_TRUE(waitUntil([] { return hvb::fwUpgradeWindow.isNull() || !hvb::fwUpgradeWindow->isVisible(); }));
}

TEST_F(Upgrade, TheStatusOpenerUnlocksALockedCameraFirstAndNotAsUnlockOnly) {
    BodyCameraOptions o;
    o.password = "secret1";
    auto cam = camera("HVBR7", "1.6.01", "vol opener", o);
    ASSERT_TRUE(plug(cam));
    auto status = hvb::StatusModel::make(cam->serialNumber());
    ASSERT_TRUE(status);
    // A folder action before left the shared flag on "unlock only".
    hvb::passwordEnterFromPanel = true;
    hvb::isPasswordVerified = false;
    std::vector<std::string> opened;
    bool unlockOnlyAtOpen = true, forUpgradeAtOpen = false;
    onModal = [&](appkit::Window* window) {
        opened.push_back(window->contentViewController() ? window->contentViewController()->objectName().toStdString()
                                                         : std::string());
        unlockOnlyAtOpen = hvb::passwordEnterFromPanel;
        forUpgradeAtOpen = hvb::isUnlockForUpgrade;
        // The user gives up: no upgrade dialog follows.
        window->performClose();
        appkit::abortModal();
    };
    hvb::StatusViewController panel;
    panel.startFirmwareUpgrade(*status);
    settle(100);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_FALSE(unlockOnlyAtOpen);
    EXPECT_TRUE(forUpgradeAtOpen);
    EXPECT_TRUE(reports->events().empty());
    EXPECT_EQ(cam->firmwareVersion(), "1.6.01");
}

}  // namespace
