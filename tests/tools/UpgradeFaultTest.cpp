// The firmware upgrade when things go wrong on the camera's side: it is pulled off the bus at
// each step of either branch, or it refuses a damaged or foreign image at its reboot and comes
// back on its old firmware. Every such run ends on a failure screen, never on "Success", leaves
// no modal session behind and lifts the camera's upgrade block. A driver host lost while the
// upgrade waits for the camera ends the wait at once; a camera only slow to come back is waited for.
#include <zip.h>

#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "DeviceDialogTestSupport.h"
#include "common/LocalizedString.h"
#include "online/FirmwareManager.h"
#include "online/FirmwarePackage.h"
#include "standins/webservice/Content.h"
#include "standins/webservice/WebService.h"
#include "status/StatusTableViewCell.h"
#include "tools/FWUpgradeViewController.h"
#include "tools/FirmwareUpgradeWorker.h"

namespace {

namespace fs = std::filesystem;
using namespace toolstest;
using hvb::UpgradeResult;

constexpr const char* kPassword = "Abcd1234";
constexpr const char* kOld = "1.6.01";
constexpr const char* kNew = "1.6.02";

// What one run of the dialog showed.
struct DialogRun {
    bool sawCountdown = false;
    QString failureText;  // the first dialog's own failure screen
    QString failureImage;
    int firstResult = 0;
    // The fresh dialogs the re-detection opened: state at load, text, image.
    struct Result {
        int state;
        QString text, image;
    };
    std::vector<Result> results;

    bool showedSuccess() const {
        if (failureText == "Success") return true;
        for (const auto& r : results)
            if (r.state == 1 || r.text == "Success" || r.image == "successIcon") return true;
        return false;
    }
};

class UpgradeFaults : public DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        ASSERT_FALSE(folder.empty());
        resources = fs::path(folder) / "resources";
        fs::create_directories(resources);
        ASSERT_GT(service.start(), 0);
        service.setFirmwareVersion("HVBR7", kNew);
        packages = fs::path(folder) / "packages";
        manager = std::make_unique<hvb::FirmwareManager>(service.baseURL(), resources, packages);
        hvb::FWUpgradeViewController::setServicesFactory([this] { return services(); });
    }
    void TearDown() override {
        hvb::FWUpgradeViewController::setServicesFactory({});
        DialogFixture::TearDown();
        service.stop();
    }

    // The application's services with the stand-in's package; the hooks run on the worker's
    // thread right after the package was made current and right before the volume lookup.
    hvb::UpgradeServices services() {
        hvb::UpgradeServices s = hvb::UpgradeServices::defaults();
        s.deviceModels = manager->deivceModel;
        auto* m = manager.get();
        s.downloadFirmware = [this, m](const std::string& model) {
            auto got = keptPackage.empty() ? m->downloadFirmware(model) : hvb::FirmwareDownload{true, keptPackage};
            if (afterDownload) afterDownload();
            return got;
        };
        auto lookup = s.volumeOf;
        s.volumeOf = [this, lookup](const std::string& uid) {
            if (beforeVolumeLookup) beforeVolumeLookup();
            return lookup(uid);
        };
        return s;
    }

    std::shared_ptr<SimulatedBodyCamera> plugged(bool locked) {
        auto c = camera("HVBR7", kOld, locked ? kPassword : "");
        // Long enough that the camera's departure is handled before it comes back.
        c->setRebootDownTime(5000);
        EXPECT_TRUE(plug(c));
        return c;
    }

    // What the Status row's opener sets before the dialog opens.
    void select(const std::shared_ptr<SimulatedBodyCamera>& c) {
        const auto entries = hvb::DeviceState::shared().deviceEntryList();
        int64_t index = -1;
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].serialNumber == c->serialNumber()) index = static_cast<int64_t>(i);
        faults->setSelectedDeviceIndex(index);
        auto chosen = faults->camera(index);
        hvb::selectedCmdDic = chosen ? chosen->table : hvb::CommandDictionary{};
        hvb::latestFirmwareVersion = service.firmwareVersion("HVBR7");
        hvb::fwUpgradeState = 0;
        hvb::DeviceState::shared().setEnteredPassword(kPassword);
    }

    // Runs the dialog from its question to its last screen, pressing OK on each.
    DialogRun runDialog() {
        DialogRun run;
        onModal = [this, &run](appkit::Window* window) {
            auto* d = dynamic_cast<hvb::FWUpgradeViewController*>(window->contentViewController());
            if (!d) return drive(window);
            if (hvb::fwUpgradeState != 0) {
                run.results.push_back({hvb::fwUpgradeState, d->FWUpgradeQuestion->text(), d->imageName()});
                if (!resultShot.empty()) { EXPECT_TRUE(apptest::saveScreenshot(window, resultShot)); }
                d->buttonOK->click();
                return;
            }
            QPointer<hvb::FWUpgradeViewController> dialog(d);
            QObject::connect(d, &hvb::FWUpgradeViewController::countdownShown, d, [&run] { run.sawCountdown = true; });
            onceEmitted(d, &hvb::FWUpgradeViewController::outcomeShown, [&run, dialog](const QString& text) {
                if (!dialog) return;
                run.failureText = text;
                run.failureImage = dialog->imageName();
                run.firstResult = dialog->upgradeResult;
                dialog->buttonOK->click();
            });
            d->buttonOK->click();
        };
        hvb::runDialogFromStoryboard(hvb::kFWUpgradeWindowController, &hvb::fwUpgradeWindow);
        settle(50);
        return run;
    }

    bool upgradeBlocked(const std::shared_ptr<SimulatedBodyCamera>& c) {
        auto r = recordOf(c);
        return r && r->isFWUpgradeBlock == true;
    }

    // Puts a package holding `image` under the name the camera's package uses, and keeps it
    // there (no download replaces it).
    void placePackage(const std::string& image) {
        fs::create_directories(packages);
        const fs::path package = packages / hvb::firmwarePackageName("HVBR7");
        const std::string entry = hvb::firmwareImageName(package.filename().string());
        int error = 0;
        zip_t* za = zip_open(package.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        ASSERT_NE(za, nullptr);
        zip_source_t* source = zip_source_buffer(za, image.data(), image.size(), 0);
        ASSERT_NE(source, nullptr);
        const zip_int64_t index = zip_file_add(za, entry.c_str(), source, ZIP_FL_ENC_RAW);
        ASSERT_GE(index, 0);
        ASSERT_EQ(zip_file_set_encryption(za, static_cast<zip_uint64_t>(index), ZIP_EM_TRAD_PKWARE,
                                          hvb::FirmwareUpgradeWorker::kPackagePassword),
                  0);
        ASSERT_EQ(zip_close(za), 0);
        keptPackage = package;
    }

    fs::path resources, packages;
    standin::WebService service;
    std::unique_ptr<hvb::FirmwareManager> manager;
    fs::path keptPackage;  // handed over instead of a download
    std::function<void()> afterDownload;
    std::function<void()> beforeVolumeLookup;
    std::string resultShot;  // the re-detection's result screen as a picture of that name
};

// ---- the camera pulled off the bus, or gone for good after a reboot, at each step ----

enum class Hook { download, volumeLookup, command };
// hostLost: the driver host goes as the camera is sent away, and nothing comes back through it.
enum class Fault { unplug, staysAway, hostLost };

struct Step {
    const char* name;
    bool locked;
    Hook hook;
    const char* command;  // Hook::command: the command the fault comes right before
    int occurrence;       // which block of that command (writes and reads count)
    Fault fault;
    int code;             // the run's code; 0: the re-detection gives up
};

void PrintTo(const Step& s, std::ostream* out) { *out << s.name; }

class UpgradeUnplugged : public UpgradeFaults, public ::testing::WithParamInterface<Step> {};

TEST_P(UpgradeUnplugged, EndsOnTheFailureScreenWithTheBlockLifted) {
    const Step s = GetParam();
    auto cam = plugged(s.locked);
    select(cam);
    auto chosen = faults->camera(faults->selectedDeviceIndex());
    ASSERT_TRUE(chosen);
    ASSERT_EQ(chosen->record.isDeviceEncryption.value_or(false), s.locked);
    std::function<void()> fault;
    if (s.fault == Fault::unplug) fault = [cam] { cam->detach(); };
    else if (s.fault == Fault::staysAway) fault = [cam] { cam->setStaysAwayAfterReboot(true); };
    else fault = [this, cam] { cam->setStaysAwayAfterReboot(true); faults->loseHost(); };
    switch (s.hook) {
        case Hook::download: afterDownload = fault; break;
        case Hook::volumeLookup: beforeVolumeLookup = fault; break;
        case Hook::command: faults->before(code(cam, s.command), fault, s.occurrence); break;
    }
    if (s.fault == Fault::hostLost && !s.locked) resultShot = "upgrade_hostlost_failure";

    const DialogRun run = runDialog();

    EXPECT_FALSE(run.showedSuccess());
    EXPECT_EQ(sawLine("the driver host went away: the camera cannot come back through it"), s.fault == Fault::hostLost);
    if (s.code != 0) {
        EXPECT_EQ(run.firstResult, s.code);
        // The screen names what happened, the camera gone (its storage with it, before the copy),
        // never a storage that is merely not mounted.
        EXPECT_EQ(run.failureText, "Upgrade failed\n" + hvb::LocalizedString::Msg::upgradeCameraGone());
        EXPECT_EQ(run.failureImage, "failIcon");
        EXPECT_TRUE(run.results.empty());
        EXPECT_TRUE(sawLine("upgradeResult = " + std::to_string(s.code)));
    } else {
        EXPECT_TRUE(run.sawCountdown);
        EXPECT_EQ(run.failureText, "");
        ASSERT_EQ(run.results.size(), 1u);
        EXPECT_EQ(run.results[0].state, 2);
        EXPECT_EQ(run.results[0].text,
                  s.fault == Fault::hostLost ? "Fail\n" + hvb::LocalizedString::Msg::upgradeCameraGone() : "Fail");
        EXPECT_EQ(run.results[0].image, "failIcon");
    }
    EXPECT_EQ(hvb::fwUpgradeState, 2);
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
    EXPECT_FALSE(upgradeBlocked(cam));
    // Every row ends with the camera off the bus: it is not listed once the upgrade let go of it
    // (a kept entry would also take the camera's place when it is plugged in again).
    EXPECT_TRUE(waitUntil([&] { return recordOf(cam) == nullptr; }, 5000));
    EXPECT_EQ(hvb::DeviceState::shared().PlugInDeviceCnt.load(), 0);
    // Before the upgrade command the camera was never told to take the image.
    if (s.code != 0) {
        EXPECT_EQ(cam->firmwareVersion(), kOld);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UpgradeUnplugged,
    ::testing::Values(
        Step{"UnpluggedWhileDownloading", false, Hook::download, "", 0, Fault::unplug, UpgradeResult::noService},
        Step{"UnpluggedBeforeTheCopy", false, Hook::volumeLookup, "", 0, Fault::unplug, UpgradeResult::prepareFailed},
        Step{"UnpluggedBeforeTheUpgradeCommand", false, Hook::command, "HVB_FW_UPGRADE", 1, Fault::unplug,
             UpgradeResult::commandFailed},
        Step{"GoneForGoodAfterTheUpgradeCommand", false, Hook::command, "HVB_FW_UPGRADE", 1, Fault::staysAway, 0},
        Step{"HostLostDuringTheCountdown", false, Hook::command, "HVB_FW_UPGRADE", 1, Fault::hostLost, 0},
        Step{"LockedUnpluggedWhileDownloading", true, Hook::download, "", 0, Fault::unplug, UpgradeResult::noService},
        Step{"LockedUnpluggedBeforeTheCheck", true, Hook::command, "HVB_SET_PWDCHECK", 1, Fault::unplug,
             UpgradeResult::unlockFailed},
        Step{"LockedUnpluggedBeforeTheCheckIsRead", true, Hook::command, "HVB_GET_PWDCHECK", 1, Fault::unplug,
             UpgradeResult::unlockFailed},
        Step{"LockedUnpluggedBeforeTheUnlock", true, Hook::command, "HVB_UNLOCK_READONLY", 1, Fault::unplug,
             UpgradeResult::unlockFailed},
        Step{"LockedGoneDuringTheFirstWait", true, Hook::command, "HVB_UNLOCK_READONLY", 1, Fault::staysAway,
             UpgradeResult::prepareFailed},
        Step{"LockedHostLostDuringTheFirstWait", true, Hook::command, "HVB_UNLOCK_READONLY", 1, Fault::hostLost,
             UpgradeResult::prepareFailed},
        Step{"LockedUnpluggedBeforeTheCopy", true, Hook::volumeLookup, "", 0, Fault::unplug,
             UpgradeResult::commandFailed},
        // The second check's first write is the third of its code.
        Step{"LockedUnpluggedBeforeTheSecondCheck", true, Hook::command, "HVB_SET_PWDCHECK", 3, Fault::unplug,
             UpgradeResult::hiddenStorageFailed},
        Step{"LockedUnpluggedBeforeHidingTheStorage", true, Hook::command, "HVB_HIDDENSTORAGE", 1, Fault::unplug,
             UpgradeResult::hiddenStorageFailed},
        Step{"LockedGoneDuringTheSecondWait", true, Hook::command, "HVB_HIDDENSTORAGE", 1, Fault::staysAway,
             UpgradeResult::secondWaitFailed},
        Step{"LockedHostLostDuringTheSecondWait", true, Hook::command, "HVB_HIDDENSTORAGE", 1, Fault::hostLost,
             UpgradeResult::secondWaitFailed},
        Step{"LockedUnpluggedBeforeTheUpgradeCommand", true, Hook::command, "HVB_FW_UPGRADE", 1, Fault::unplug,
             UpgradeResult::lockedCommandFailed},
        Step{"LockedHostLostDuringTheCountdown", true, Hook::command, "HVB_FW_UPGRADE", 1, Fault::hostLost, 0},
        Step{"LockedGoneForGoodAfterTheUpgradeCommand", true, Hook::command, "HVB_FW_UPGRADE", 1, Fault::staysAway,
             0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- links on the camera's volume ----

struct VolumeLink {
    const char* name;
    bool rootIsLink;  // else: the image's temporary name is a link
};

void PrintTo(const VolumeLink& p, std::ostream* out) { *out << p.name; }

class UpgradeVolumeLink : public UpgradeFaults, public ::testing::WithParamInterface<VolumeLink> {};

// A link on the volume never carries the image elsewhere: the copy fails, the camera gets no
// upgrade command and the dialog shows the failure.
TEST_P(UpgradeVolumeLink, FailsWithNothingWrittenOutside) {
    const VolumeLink p = GetParam();
    auto cam = camera("HVBR7", kOld);
    cam->setRebootDownTime(5000);
    const fs::path outside = fs::path(folder) / "outside";
    fs::create_directories(outside);
    TempDir::write(outside / "kept.bin", "not to be overwritten");
    if (p.rootIsLink) {
        fs::rename(volumeOf(cam), outside / "volume");
        fs::create_directory_symlink(outside / "volume", volumeOf(cam));
    } else {
        fs::create_symlink(outside / "kept.bin", volumeOf(cam) / "FWHVBR7.bin.part");
    }
    ASSERT_TRUE(plug(cam));
    select(cam);

    const DialogRun run = runDialog();

    EXPECT_EQ(run.firstResult, UpgradeResult::prepareFailed);
    EXPECT_EQ(run.failureText, "Upgrade failed");
    EXPECT_EQ(run.failureImage, "failIcon");
    EXPECT_FALSE(run.showedSuccess());
    EXPECT_TRUE(run.results.empty());
    const auto names = writeNames(*cam);
    EXPECT_EQ(std::count(names.begin(), names.end(), "HVB_FW_UPGRADE"), 0);
    EXPECT_EQ(TempDir::read(outside / "kept.bin"), "not to be overwritten");
    for (const auto& item : fs::recursive_directory_iterator(outside))
        EXPECT_EQ(item.path().filename().string().find("FWHVBR7"), std::string::npos) << item.path();
    EXPECT_EQ(cam->firmwareVersion(), kOld);
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
}

INSTANTIATE_TEST_SUITE_P(Links, UpgradeVolumeLink,
                         ::testing::Values(VolumeLink{"AtTheImagesTemporaryName", false},
                                           VolumeLink{"AsTheVolumesRoot", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the camera refuses the image at its reboot ----

struct Image {
    const char* name;
    bool locked;
    std::string (*bytes)();
    bool accepted;
    int64_t rebootMs = 5000;  // how long each reboot keeps the camera off the bus
};

std::string rightImage() { return standin::firmwareImage("HVBR7", kNew); }
std::string foreignModelImage() { return standin::firmwareImage("HVBS8", kNew); }
std::string cutImage() {
    std::string image = rightImage();
    image.resize(image.size() - 4096);
    return image;
}
std::string damagedHeaderImage() {
    std::string image = rightImage();
    image[3] ^= 0x20;  // "VERSION=" no longer reads as such
    return image;
}

void PrintTo(const Image& p, std::ostream* out) { *out << p.name; }

class UpgradeImage : public UpgradeFaults, public ::testing::WithParamInterface<Image> {};

TEST_P(UpgradeImage, OnlyANewFirmwareCountsAsSuccess) {
    const Image p = GetParam();
    auto cam = plugged(p.locked);
    cam->setRebootDownTime(p.rebootMs);
    select(cam);
    placePackage(p.bytes());
    ASSERT_FALSE(HasFatalFailure());

    const DialogRun run = runDialog();

    // The image reached the camera and the camera came back either way.
    EXPECT_TRUE(sawLine("upgradeResult = 1"));
    EXPECT_EQ(run.failureText, "");
    EXPECT_FALSE(fs::exists(volumeOf(cam) / "FWHVBR7.bin"));
    ASSERT_TRUE(waitUntil([&] { return recordOf(cam) != nullptr; }));
    EXPECT_EQ(recordOf(cam)->FWVersion, p.accepted ? kNew : kOld);
    EXPECT_EQ(cam->firmwareVersion(), p.accepted ? kNew : kOld);
    ASSERT_EQ(run.results.size(), 1u);
    if (p.accepted) {
        EXPECT_EQ(run.results[0].state, 1);
        EXPECT_EQ(run.results[0].text, "Success");
        EXPECT_EQ(run.results[0].image, "successIcon");
    } else {
        EXPECT_FALSE(run.showedSuccess());
        EXPECT_EQ(run.results[0].state, 2);
        EXPECT_EQ(run.results[0].text, "Fail");
        EXPECT_EQ(run.results[0].image, "failIcon");
        EXPECT_TRUE(sawLine("upgrade UID = " + cam->uid() + " came back on firmware " + kOld));
    }
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
    EXPECT_FALSE(upgradeBlocked(cam));
}

INSTANTIATE_TEST_SUITE_P(Images, UpgradeImage,
                         ::testing::Values(Image{"Right", false, rightImage, true},
                                           Image{"OfAnotherModel", false, foreignModelImage, false},
                                           Image{"Cut", false, cutImage, false},
                                           Image{"WithADamagedHeader", false, damagedHeaderImage, false},
                                           Image{"RightOnALockedCamera", true, rightImage, true},
                                           // Slow, yet back within the countdown and each wait.
                                           Image{"RightAfterASlowReboot", false, rightImage, true, 120000},
                                           Image{"RightOnALockedCameraAfterSlowReboots", true, rightImage, true, 30000},
                                           Image{"OfAnotherModelOnALockedCamera", true, foreignModelImage, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
