// The Status panel with simulated cameras: snapshots onto rows, the empty state, the
// notification only while shown, the row ticks, the webcam switch, and the openers of dialogs.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTest>
#include <QThread>
#include <QToolButton>

#include "StatusFixture.h"
#include "common/CameraWorkQueue.h"
#include "common/ControllerFactory.h"
#include "common/DeviceDialogGlobals.h"
#include "common/LocalizedString.h"
#include "platform/appkit/AppkitTestSupport.h"
#include "platform/appkit/Assets.h"
#include "platform/appkit/Storyboard.h"
#include "platform/foundation/Paths.h"
#include "status/BatteryIndicator.h"
#include "status/ReleaseNotesViewController.h"

namespace {

using namespace statustest;
using hvb::DeviceState;

// A window controller of a dialog the tests stand in for.
class FakeWindowController : public appkit::WindowController {
public:
    appkit::Window* makeWindow() override { return new appkit::Window(new appkit::ViewController()); }
};

// The top-level windows shown now whose content has that object name (or any, when empty).
std::vector<appkit::Window*> shownWindows(const QString& contentName = {}) {
    std::vector<appkit::Window*> out;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<appkit::Window*>(widget);
        if (!window || !window->isVisible()) continue;
        auto* content = window->contentViewController();
        if (contentName.isEmpty() || (content && content->objectName() == contentName)) out.push_back(window);
    }
    return out;
}

void closeAll() {
    for (appkit::Window* window : shownWindows()) window->performClose();
    apptest::waitUntil([] { return false; }, 30);
}

class StatusPanel : public StatusFixture {
protected:
    void TearDown() override {
        closeAll();
        StatusFixture::TearDown();
    }
};

TEST_F(StatusPanel, EachCameraGetsARowWithItsOwnSnapshot) {
    auto r7 = attach("HVBR7", "1.6.01");
    auto s2 = attach("HVBS2A", "1.13.0");
    // A camera whose serial (its UID) and label are long, hold paths, shell syntax and bytes
    // that are not UTF-8: read whole, shown as plain text with U+FFFD for the bad bytes.
    BodyCameraOptions hostile;
    hostile.serialNumber = "../../ETC/$(REBOOT);`ID`|SH>X&&Y\xFF\xFE";
    hostile.label = "../../tmp/$(rm x);`id`|sh>y \xC3\x28\xFF <b>bold</b> ";
    while (hostile.serialNumber.size() < 160) hostile.serialNumber += "A1B2/..";
    while (hostile.label.size() < 160) hostile.label += "label/";
    auto odd = attach("HW7360", "1.0.0", hostile);
    auto& p = showPanel();
    ASSERT_EQ(p.numberOfRows(), 3);
    const auto replaced = [](std::string text) {
        for (const char* bad : {"\xFF", "\xFE", "\xC3"})
            for (size_t at; (at = text.find(bad)) != std::string::npos;) text.replace(at, 1, "\uFFFD");
        return text;
    };
    const std::string oddUID = replaced(odd->serialNumber());
    auto oddRecord = recordOf(oddUID);
    ASSERT_NE(oddRecord, nullptr);
    EXPECT_EQ(oddRecord->UID, oddUID);
    EXPECT_EQ(oddRecord->UserLabel, replaced(odd->label()));
    EXPECT_EQ(oddRecord->FWVersion, "1.0.0");
    auto* oddRow = row(2);
    EXPECT_EQ(oddRow->deviceNameLabel()->text().toStdString(), replaced(odd->label()));
    EXPECT_EQ(oddRow->deviceNameLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(oddRow->uidValueLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(oddRow->fwVersionValueLabel()->text(), "1.0");
    const auto models = DeviceState::shared().modelList();
    for (int i = 0; i < 3; ++i) {
        auto* r = row(i);
        EXPECT_EQ(r->height(), hvb::StatusTableViewCell::kRowHeight);
        EXPECT_EQ(r->deviceIndex(), i);
        EXPECT_EQ(r->deviceInfo(), models[static_cast<size_t>(i)]);  // the model itself, not a copy
        auto status = r->deviceInfo()->statusInfo();
        ASSERT_TRUE(status);
        EXPECT_EQ(status->parameters->UID.value_or(""), r->deviceInfo()->SN);
        EXPECT_EQ(r->uidValueLabel()->text().toStdString(), r->deviceInfo()->SN);
    }
    EXPECT_FALSE(p.emptyHVBBox->isVisible());
}

TEST_F(StatusPanel, SnapshotsMatchByUIDAndAnEmptyUIDMatchesNothing) {
    hvb::buildAllCommandTables();
    auto& state = DeviceState::shared();
    auto model = state.ensureModel("CAM0001XYZ");
    auto record = std::make_shared<hvb::DiskDriver_Parameter>();
    record->ModelName = "HVBS2A";
    record->cut = 6;
    record->UID = "";
    state.appendEntry({"OTHERKEY", "", 0});
    state.storeRecord("OTHERKEY", record);
    auto& p = showPanel();
    EXPECT_FALSE(model->statusInfo());
    EXPECT_EQ(p.numberOfRows(), 1);

    // Upper-cased and found within the serial number.
    record->UID = "cam0001";
    foundation::NotificationCenter::defaultCenter().post(hvb::kStatusDidGet);
    ASSERT_TRUE(model->statusInfo());
    EXPECT_EQ(model->statusInfo()->parameters, record);

    // No match keeps what the camera had.
    record->UID = "ELSEWHERE";
    foundation::NotificationCenter::defaultCenter().post(hvb::kStatusDidGet);
    ASSERT_TRUE(model->statusInfo());
    EXPECT_EQ(model->statusInfo()->parameters, record);
}

TEST_F(StatusPanel, TheEmptyStateShowsExactlyWhileNoCameraIsAttached) {
    auto& p = showPanel();
    EXPECT_EQ(p.numberOfRows(), 0);
    EXPECT_TRUE(p.emptyHVBBox->isVisible());
    EXPECT_FALSE(p.tableView->isVisible());
    EXPECT_EQ(p.insertDeviceLabel->text(), hvb::LocalizedString::Str::insertDeviceFirst());
    EXPECT_EQ(p.securityReminderLabel->text(), hvb::LocalizedString::Msg::allowSystemSoftware());
    EXPECT_EQ(p.openSecurityPreferenceBtn->text(), hvb::LocalizedString::Str::openSecurityPreferences());

    auto camera = attach("HW7334", "1.0.0");
    ASSERT_TRUE(wait([&] { return p.numberOfRows() == 1; }));
    EXPECT_FALSE(p.emptyHVBBox->isVisible());
    EXPECT_TRUE(p.tableView->isVisible());
    camera->detach();
    ASSERT_TRUE(wait([&] { return p.numberOfRows() == 0; }));
    EXPECT_TRUE(p.emptyHVBBox->isVisible());
}

TEST_F(StatusPanel, ItObservesStatusOnlyWhileShown) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    const size_t base = center.observerCount(hvb::kStatusDidGet);
    panel = std::make_unique<hvb::StatusViewController>();
    panel->view();
    EXPECT_EQ(center.observerCount(hvb::kStatusDidGet), base);
    panel->beginAppearance();
    panel->endAppearance();
    EXPECT_EQ(center.observerCount(hvb::kStatusDidGet), base + 1);
    // A second appearance report registers nothing more.
    panel->beginAppearance();
    EXPECT_EQ(center.observerCount(hvb::kStatusDidGet), base + 1);
    hidePanel();
    EXPECT_EQ(center.observerCount(hvb::kStatusDidGet), base);

    // Hidden, it does not rebuild; shown again, it does at once.
    DeviceState::shared().ensureModel("SN-HIDDEN");
    center.post(hvb::kStatusDidGet);
    EXPECT_EQ(panel->numberOfRows(), 0);
    panel->beginAppearance();
    panel->endAppearance();
    EXPECT_EQ(panel->numberOfRows(), 1);
    // The screen was reported each time.
    ASSERT_TRUE(wait([&] {
        size_t n = 0;
        for (const auto& params : hvbtest::collectedEvents(web, "screen_view"))
            n += params.value("screen_name", "") == "Main" && params.value("MainBack", "") == "StatusViewController";
        return n >= 2;
    }));
}

TEST_F(StatusPanel, TheSecurityButtonAlertsOnlyWhenTheOpenerFails) {
    auto& p = showPanel();
    int alerts = 0;
    QString message, why;
    appkit::Alert::setResponder([&](const appkit::Alert& alert) {
        ++alerts;
        message = alert.messageText;
        why = alert.informativeText;
        return appkit::NSAlertFirstButtonReturn;
    });
    QTest::mouseClick(p.openSecurityPreferenceBtn, Qt::LeftButton);
    ASSERT_TRUE(wait([&] { return openerArguments().size() == 1; }));
    // The page opened names the folder the driver is really installed in; the one shipped names
    // that of an installed system.
    const std::filesystem::path opened = openerArguments()[0];
    const auto shipped = hvb::StatusViewController::securityHelpPage();
    EXPECT_EQ(opened.filename(), shipped.filename());
    const auto folderLine = [](const std::filesystem::path& folder) {
        return "<code id=\"extensions-dir\">" + folder.string() + "</code>";
    };
    EXPECT_NE(hvbtest::readFile(opened).find(folderLine(foundation::paths::extensionsDir())), std::string::npos);
    EXPECT_NE(hvbtest::readFile(shipped).find(folderLine(foundation::paths::extensionsDir("/"))), std::string::npos);
    apptest::waitUntil([] { return false; }, 100);
    EXPECT_EQ(alerts, 0);

    // Without a program to open it, or when the opener fails, "Fail" says why and where the page is.
    using hvb::LocalizedString::Msg;
    const std::pair<int, QString> failures[] = {
        {3, Msg::openNoProgram().arg(QString::fromStdString(opened.string()))},
        {1, Msg::openFailed().arg(QString::fromStdString(opened.string()), Msg::openerEndedWithStatus().arg(1))},
    };
    for (const auto& [status, expected] : failures) {
        setOpenerStatus(status);
        alerts = 0;
        QTest::mouseClick(p.openSecurityPreferenceBtn, Qt::LeftButton);
        ASSERT_TRUE(wait([&] { return alerts == 1; }));
        EXPECT_EQ(message, hvb::localizedCommonString("Fail"));
        EXPECT_EQ(why, expected);
    }
}

TEST_F(StatusPanel, TicksShowTheBatteryAndTheStorage) {
    BodyCameraOptions options;
    options.volumeFolder = volumeFolder("HW7334");
    auto camera = attach("HW7334", "1.0.0", options);
    camera->setBattery(57);
    camera->setCharging(true);
    showPanel();
    auto* r = row(0);
    ASSERT_TRUE(r && r->hasRefreshTimer());
    ASSERT_TRUE(wait([&] { return r->batteryCapacityLabel()->text() == "57%"; }));
    EXPECT_TRUE(r->batteryIndicator()->isVisible());
    EXPECT_TRUE(r->batteryIndicator()->chargingImageView()->isVisible());
    EXPECT_EQ(r->batteryIndicator()->capacity(), hvb::BatteryCapacity::capacity(57));
    ASSERT_TRUE(wait([&] { return r->volumeCapacityLabel()->isVisible(); }));
    const QRegularExpression storage(R"(^\d+([.,]\d+)? [kMGT]?B \((\d+h )?(\d+m|\d+h)\)$)");
    EXPECT_TRUE(storage.match(r->volumeCapacityLabel()->text()).hasMatch()) << r->volumeCapacityLabel()->text().toStdString();

    // Out of range: the gauge stops at full, the text says what the camera said.
    camera->setBattery(120);
    camera->setCharging(false);
    // A tick may read the level between the two changes: the one after it shows both.
    ASSERT_TRUE(wait([&] {
        return r->batteryCapacityLabel()->text() == "120%" && !r->batteryIndicator()->chargingImageView()->isVisible();
    }));
    EXPECT_EQ(r->batteryIndicator()->capacity(), hvb::BatteryCapacity::capacity(100));
}

TEST_F(StatusPanel, TicksShowTheBatteryLevel) {
    auto camera = attach("HVBR7", "1.6.01");
    showPanel();
    auto* r = row(0);
    ASSERT_TRUE(r);
    const std::vector<std::pair<uint8_t, QString>> levels = {
        {2, "Charging..."}, {4, "EXHAUSTED"}, {0, "Full"}, {9, "Full"}, {1, "Charging..."}};
    for (const auto& [byte, text] : levels) {
        camera->setBattery(byte);
        // A level that reads as another one first must not pass for this one.
        ASSERT_TRUE(wait([&, byte = byte] {
            return r->batteryCapacityLabel()->text() == text &&
                   r->batteryIndicator()->capacity().batteryLevel() ==
                       hvb::BatteryCapacity::levelFromRaw(byte < 5 ? byte : 0);
        })) << int(byte);
    }
    // HVBR7 has no volume here: the storage line says so instead of staying empty.
    ASSERT_TRUE(wait([&] { return r->volumeCapacityLabel()->isVisible(); }));
    EXPECT_EQ(r->volumeCapacityLabel()->text(), hvb::LocalizedString::Msg::storageNotMounted());
    EXPECT_EQ(r->volumeCapacityLabel()->text(), "Storage not mounted");
}

TEST_F(StatusPanel, ACameraUnpluggedWhileItsRowTicksLeavesQuietly) {
    BodyCameraOptions options;
    options.volumeFolder = volumeFolder("going");
    auto camera = attach("HW7334", "1.0.0", options);
    camera->setBattery(64);
    showPanel();
    QPointer<hvb::StatusTableViewCell> r = row(0);
    ASSERT_TRUE(wait([&] { return r->batteryCapacityLabel()->text() == "64%"; }));
    const QString storageBefore = r->volumeCapacityLabel()->text();
    std::set<QString> batteryTexts;
    camera->detach();
    ASSERT_TRUE(wait([&] {
        if (r) batteryTexts.insert(r->batteryCapacityLabel()->text());
        return panel->numberOfRows() == 0;
    }));
    EXPECT_EQ(batteryTexts, (std::set<QString>{"64%"}));
    // Reads that were under way finish without a row to show them.
    drain(*panel);
    // The row went with deleteLater; when the main queue ran outside a Qt event, only an
    // explicit flush reaches it (the application's loop always does).
    ASSERT_TRUE(wait([&] {
        appkit_test::flushDeferredDeletes();
        return r.isNull();
    }));
    EXPECT_FALSE(storageBefore.isEmpty());
}

TEST_F(StatusPanel, OlderFirmwareIsRedWithAnUpgradeButton) {
    setOutdated("HW7334");
    auto old = attach("HW7334", "1.0.0");
    auto current = attach("HVBS2A", "1.13.0");
    auto& p = showPanel();
    ASSERT_EQ(p.numberOfRows(), 2);
    auto byModel = [&](const std::string& sn) {
        for (int i = 0; i < p.numberOfRows(); ++i)
            if (row(i)->deviceInfo()->SN == sn) return row(i);
        return static_cast<hvb::StatusTableViewCell*>(nullptr);
    };
    auto* oldRow = byModel(old->serialNumber());
    auto* currentRow = byModel(current->serialNumber());
    ASSERT_TRUE(wait([&] { return oldRow->upgradeButton()->isVisible(); }));
    EXPECT_EQ(oldRow->fwVersionValueLabel()->palette().color(QPalette::WindowText), appkit::colors::systemRed());
    EXPECT_EQ(oldRow->fwVersionValueLabel()->text(), "1.0");
    EXPECT_TRUE(wait([&] { return releaseNoteDownloads() >= 1; }));
    apptest::waitUntil([] { return false; }, 100);
    EXPECT_FALSE(currentRow->upgradeButton()->isVisible());
    EXPECT_EQ(currentRow->fwVersionValueLabel()->palette().color(QPalette::WindowText), QColor(26, 26, 26));
}

TEST_F(StatusPanel, OneFirmwareQuestionPerModelAtATime) {
    hvb::buildAllCommandTables();
    auto record = std::make_shared<hvb::DiskDriver_Parameter>();
    record->ModelName = "HW7334";
    record->FWVersion = "1.0.0";
    hvb::StatusModel status{record, {}};
    std::mutex gateLock;
    std::condition_variable gateOpen;
    bool open = false;
    std::atomic<int> asked{0};
    auto hooks = hvb::cameraLinkHooks();
    hooks.isFirmwareUpToDate = [&](const std::string&, const std::string&) {
        ++asked;
        std::unique_lock<std::mutex> lock(gateLock);
        gateOpen.wait(lock, [&] { return open; });
        return false;
    };
    hvb::setCameraLinkHooks(hooks);
    auto& cache = hvb::FirmwareInfoCache::shared();
    int answered = 0;
    for (int i = 0; i < 5; ++i) cache.refresh(status, [&answered] { ++answered; });
    ASSERT_TRUE(wait([&] { return asked.load() == 1; }));
    apptest::waitUntil([] { return false; }, 100);
    EXPECT_EQ(asked.load(), 1);
    EXPECT_TRUE(cache.isAsking("HW7334"));
    EXPECT_FALSE(cache.answer(status));
    {
        std::lock_guard<std::mutex> lock(gateLock);
        open = true;
    }
    gateOpen.notify_all();
    ASSERT_TRUE(wait([&] { return answered == 5; }));
    EXPECT_EQ(cache.answer(status), false);
    EXPECT_EQ(asked.load(), 1);
    EXPECT_TRUE(wait([&] { return releaseNoteDownloads() == 1; }));
}

// ---- webcam mode ----

TEST_F(StatusPanel, AWebcamSwitchWhoseUnmountFailsSendsNothingAndTicksAgain) {
    BodyCameraOptions options;
    options.volumeFolder = volumeFolder("In use $X `y` \"z\"");
    auto camera = attach("HVBS2A", "1.13.0", options);
    useFailingDiskutil();
    showPanel();
    auto* r = row(0);
    ASSERT_TRUE(r->webcamButton()->isVisible());
    ASSERT_TRUE(r->hasRefreshTimer());
    camera->clearWrites();
    appkit::Alert::setResponder([](const appkit::Alert&) { return appkit::NSAlertFirstButtonReturn; });
    QTest::mouseClick(r->webcamButton(), Qt::LeftButton);
    EXPECT_FALSE(r->hasRefreshTimer());  // at once, before the unmount
    ASSERT_TRUE(wait([&] { return r->hasRefreshTimer(); }));
    EXPECT_EQ(diskutilArguments(), (std::vector<std::string>{"umount", options.volumeFolder.string()}));
    EXPECT_TRUE(writesOf(*camera, "HVB_WEBCAMMODE").empty());
    EXPECT_FALSE(r->deviceInfo()->isModeChanging.load());
    EXPECT_FALSE(camera->isWebcamMode());
}

TEST_F(StatusPanel, AWebcamSwitchLeavesStorageModeAndTheRowShowsTheWebcam) {
    BodyCameraOptions options;
    options.volumeFolder = volumeFolder("S2 volume");
    auto camera = attach("HVBS2A", "1.13.0", options);
    camera->setRebootDownTime(50);
    showPanel();
    auto* r = row(0);
    const auto model = r->deviceInfo();
    QTest::mouseClick(r->webcamButton(), Qt::LeftButton);
    // A second tap while the first switch runs changes nothing.
    r->webcamButtonDidTap();
    ASSERT_TRUE(wait([&] { return model->isWebcamMode.load(); }));
    EXPECT_EQ(writesOf(*camera, "HVB_WEBCAMMODE"), (std::vector<std::vector<uint8_t>>{block({1})}));
    EXPECT_TRUE(camera->isWebcamMode());
    // The model came through the change; its row shows the webcam and no longer ticks.
    ASSERT_TRUE(wait([&] { return panel->numberOfRows() == 1 && row(0)->webcamStackView()->isVisible(); }));
    EXPECT_EQ(row(0)->deviceInfo(), model);
    EXPECT_FALSE(row(0)->hasRefreshTimer());
    EXPECT_TRUE(row(0)->webcamTestButton()->isVisible());
    EXPECT_FALSE(row(0)->buttonStackView()->isVisible());
    EXPECT_EQ(row(0)->webcamValueLabel()->text(), "HVB S2 Camera");
}

// ---- what the user hears when a row's button cannot do its work ----

// The folder without a file manager, the webcam button of a camera without a volume or with one
// in use: the record of it stays (the event, the log line), and the user is told what failed and why.
TEST_F(StatusPanel, AButtonThatCannotDoItsWorkSaysWhy) {
    using hvb::LocalizedString::Msg;
    struct Case {
        const char* name;
        bool volume;
        std::function<void()> arrange;
        QToolButton* (hvb::StatusTableViewCell::*button)() const;
        std::function<QString(const std::filesystem::path&)> why;
        std::function<void(SimulatedBodyCamera&)> kept;
    };
    const Case cases[] = {
        {"FolderWithoutFileManager", true, [this] { setOpenerStatus(3); }, &hvb::StatusTableViewCell::folderButton,
         [](const std::filesystem::path& volume) {
             return Msg::openFolderNoFileManager().arg(QString::fromStdString(volume.string()));
         },
         [this](SimulatedBodyCamera&) {
             ASSERT_TRUE(waitCollected("Open_Dir", 1));
             EXPECT_EQ(collected("Open_Dir").back().second, "Failed");
         }},
        {"FolderWithoutVolume", false, [] {}, &hvb::StatusTableViewCell::folderButton,
         [](const std::filesystem::path&) { return Msg::folderNotMounted(); },
         [this](SimulatedBodyCamera&) {
             // The event of this tap, after the one of the case before.
             EXPECT_TRUE(wait([this] {
                 const auto events = collected("Open_Dir");
                 return !events.empty() && events.back().second == "mount point not exist";
             }));
         }},
        {"WebcamWithoutVolume", false, [] {}, &hvb::StatusTableViewCell::webcamButton,
         [](const std::filesystem::path&) { return Msg::webcamNoVolume(); },
         [this](SimulatedBodyCamera& camera) {
             EXPECT_TRUE(writesOf(camera, "HVB_WEBCAMMODE").empty());
             EXPECT_TRUE(sawLine("volume not found"));
         }},
        {"WebcamVolumeInUse", true, [this] { useFailingDiskutil(); }, &hvb::StatusTableViewCell::webcamButton,
         [](const std::filesystem::path&) { return Msg::webcamVolumeBusy(); },
         [](SimulatedBodyCamera& camera) { EXPECT_TRUE(writesOf(camera, "HVB_WEBCAMMODE").empty()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BodyCameraOptions options;
        if (c.volume) options.volumeFolder = volumeFolder(c.name);
        auto camera = attach("HVBS2A", "1.13.0", options);
        c.arrange();
        showPanel();
        std::vector<std::pair<QString, QString>> alerts;
        bool onMain = false;
        appkit::Alert::setResponder([&](const appkit::Alert& alert) {
            onMain = QThread::currentThread() == qApp->thread();
            alerts.emplace_back(alert.messageText, alert.informativeText);
            return appkit::NSAlertFirstButtonReturn;
        });
        auto* r = row(0);
        ASSERT_TRUE((r->*c.button)()->isVisible());
        QTest::mouseClick((r->*c.button)(), Qt::LeftButton);
        ASSERT_TRUE(wait([&] { return !alerts.empty(); }));
        EXPECT_TRUE(onMain);
        EXPECT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].first, hvb::localizedCommonString("Error"));
        EXPECT_EQ(alerts[0].second, c.why(options.volumeFolder));
        c.kept(*camera);
        appkit::Alert::setResponder({});
        destroyPanel();
        camera->detach();
        ASSERT_TRUE(wait([] { return DeviceState::shared().PlugInDeviceCnt.load() == 0; }));
        setOpenerStatus(0);
        useRealDiskutil();
    }
}

// ---- openers ----

TEST_F(StatusPanel, DialogsOfOtherModulesOpenOnlyOnceRegistered) {
    auto camera = attach("HW7334", "1.0.0");
    showPanel();
    auto* r = row(0);
    r->editButtonDidTap();
    r->msdcRecoverButtonDidTap();
    r->webcamTestButtonDidTap();
    r->formatButtonDidTap();
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_TRUE(shownWindows().empty());
    for (const char* name : {"EditViewController", "MSDCRecoverMsgViewController", "WebcamTestViewController",
                             "DiskFormatWindowControl"})
        EXPECT_TRUE(sawLine(std::string("No controller for ") + name)) << name;

    auto& factory = hvb::ControllerFactory::shared();
    hvb::EditViewControllerDelegate* handedDelegate = nullptr;
    factory.registerEditViewController([&](const hvb::StatusModel& status, hvb::EditViewControllerDelegate* delegate) {
        handedDelegate = delegate;
        auto* sheet = new appkit::ViewController();
        sheet->setObjectName(QString::fromStdString("edit:" + status.parameters->UID.value_or("")));
        return sheet;
    });
    factory.registerController("MSDCRecoverMsgViewController", [] {
        auto* message = new appkit::ViewController();
        message->setObjectName("recover");
        return message;
    });
    r->editButtonDidTap();
    r->msdcRecoverButtonDidTap();
    factory.registerEditViewController({});
    factory.registerController("MSDCRecoverMsgViewController", {});
    EXPECT_EQ(handedDelegate, static_cast<hvb::EditViewControllerDelegate*>(panel.get()));
    EXPECT_EQ(shownWindows(QString::fromStdString("edit:" + camera->uid())).size(), 1u);
    ASSERT_EQ(shownWindows("recover").size(), 1u);
    EXPECT_EQ(shownWindows("recover")[0]->windowTitle(), r->msdcRecoverButton()->text());
}

TEST_F(StatusPanel, TheFormatActionHandsTheDialogItsTableAndWindow) {
    auto camera = attach("HW7334", "1.0.0");
    showPanel();
    auto* r = row(0);
    appkit::Storyboard::main().registerController("DiskFormatWindowControl", [] { return new FakeWindowController(); });
    hvb::diskFormatResult = hvb::kDiskFormatFailed;
    hvb::activeCommandTable.clear();
    DeviceState::shared().selectedDeviceIndex = -1;
    appkit::Window* modal = nullptr;
    hvb::CommandDictionary tableSeen;
    int resultSeen = -1;
    appkit::setModalSessionHook([&](appkit::Window* window) {
        modal = window;
        tableSeen = hvb::activeCommandTable;
        resultSeen = hvb::diskFormatResult;
        EXPECT_EQ(hvb::diskFormatWindow.data(), window);
        appkit::stopModal();
    });
    r->formatButtonDidTap();
    appkit::Storyboard::main().registerController("DiskFormatWindowControl", nullptr);
    ASSERT_NE(modal, nullptr);
    EXPECT_EQ(tableSeen, hvb::cmdTables().find("HW7334Cmd_1").value());
    EXPECT_EQ(resultSeen, hvb::kDiskFormatNone);
    EXPECT_EQ(DeviceState::shared().selectedDeviceIndex.load(), 0);
}

TEST_F(StatusPanel, TheUpgradeActionOpensTheUpgradeWithTheLatestVersion) {
    auto camera = attach("HW7334", "1.0.0");
    showPanel();
    auto* r = row(0);
    hvb::latestFirmwareVersion.clear();
    hvb::firmwareUpgradeState = 7;
    // Not registered: the version is asked for, nothing opens.
    r->upgradeButtonDidTap();
    ASSERT_TRUE(wait([&] { return sawLine("No controller for FWUpgradeWindowController"); }));
    EXPECT_EQ(hvb::latestFirmwareVersion, web.firmwareVersion("HW7334"));

    appkit::Storyboard::main().registerController("FWUpgradeWindowController", [] { return new FakeWindowController(); });
    bool opened = false;
    appkit::setModalSessionHook([&](appkit::Window* window) {
        opened = true;
        EXPECT_EQ(hvb::firmwareUpgradeWindow.data(), window);
        EXPECT_EQ(hvb::firmwareUpgradeState, 0);
        EXPECT_EQ(hvb::activeCommandTable, snapshotOf(*camera).commands);
        appkit::stopModal();
    });
    hvb::activeCommandTable.clear();
    r->upgradeButtonDidTap();
    ASSERT_TRUE(wait([&] { return opened; }));
    appkit::Storyboard::main().registerController("FWUpgradeWindowController", nullptr);
}

TEST_F(StatusPanel, TheVersionHistoryLinkOpensTheModelsReleaseNotes) {
    auto camera = attach("HW7334", "1.0.0");
    showPanel();
    auto* r = row(0);
    ASSERT_TRUE(r->showsReleaseNoteLink());
    ASSERT_TRUE(r->fwReleaseNoteButton()->isVisible());
    QTest::mouseClick(r->fwReleaseNoteButton(), Qt::LeftButton);
    auto windows = shownWindows("ReleaseNotesViewController");
    ASSERT_EQ(windows.size(), 1u);
    auto* notes = static_cast<hvb::ReleaseNotesViewController*>(windows[0]->contentViewController());
    EXPECT_EQ(notes->model(), "HW7334");
    EXPECT_GT(notes->numberOfRows(), 0);
    EXPECT_EQ(windows[0]->windowTitle(), hvb::localizedCommonString("Version History"));
}

// At quit the camera queue is finished: the running job ends before finish() returns, and no
// job queued before or after it runs.
TEST(CameraWorkQueueAtQuit, FinishWaitsForTheRunningJobAndDropsTheOthers) {
    // A capture that tells when the last copy of its job is gone.
    auto goneSignal = [](std::promise<void>& gone) {
        return std::shared_ptr<void>(nullptr, [&gone](void*) { gone.set_value(); });
    };
    auto queue = hvb::CameraWorkQueue::make();
    std::promise<void> started, waitingGone, lateGone;
    std::atomic<bool> release{false};
    std::atomic<int> ran{0};
    queue->async([&] {
        started.set_value();
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ran += 1;
    });
    queue->async([&ran, token = goneSignal(waitingGone)] { ran += 10; });
    started.get_future().wait();

    std::atomic<bool> returned{false};
    std::thread quitting([&] {
        queue->finish();
        returned = true;
    });
    waitingGone.get_future().wait();  // dropped by finish(), while the first job still runs
    EXPECT_FALSE(returned.load());
    queue->async([&ran, token = goneSignal(lateGone)] { ran += 100; });
    EXPECT_EQ(lateGone.get_future().wait_for(std::chrono::seconds(0)), std::future_status::ready);
    release = true;
    quitting.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(ran.load(), 1);
}

}  // namespace
