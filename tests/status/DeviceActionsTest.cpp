// The panel's device actions end to end against simulated cameras: the bytes each sends, what it
// keeps in the record, what reaches the analytics collector, and the failure paths.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <QLabel>
#include <QTest>
#include <QToolButton>

#include "StatusFixture.h"
#include "camera/CameraLink.h"
#include "common/DeviceDialogGlobals.h"
#include "common/LocalizedString.h"
#include "common/MsgDialog.h"
#include "platform/appkit/Storyboard.h"
#include "status/StatusStorageTable.h"

namespace {

using namespace statustest;
using hvb::StatusViewController;

class DeviceActions : public StatusFixture {
protected:
    void SetUp() override {
        StatusFixture::SetUp();
        actions = std::make_unique<StatusViewController>();
        appkit::setModalSessionHook([this](appkit::Window* window) {
            ++dialogs;
            if (auto* box = dynamic_cast<hvb::MsgDialogViewController*>(window->contentViewController())) {
                dialogTitle = box->MsgTitle->text();
                dialogText = box->MsgText->text();
            }
            appkit::abortModal();
        });
    }
    void TearDown() override {
        if (actions) drain(*actions);
        actions.reset();
        StatusFixture::TearDown();
    }
    void settleActions() { drain(*actions); }
    std::string labelOf(const SimulatedBodyCamera& camera) {
        return recordOf(camera.serialNumber())->UserLabel.value_or("<none>");
    }
    int64_t setting(const SimulatedBodyCamera& camera, hvb::EnumSettings key) {
        return recordOf(camera.serialNumber())->DeviceParam->get(key);
    }

    static hvb::BatteryReading read(const hvb::StatusModel& status) {
        return onWorker([&] { return StatusViewController::readBatteryState(status); });
    }
    static std::optional<hvb::StorageReading> storage(const hvb::StatusModel& status) {
        return onWorker([&] { return StatusViewController::storageFigure(status); });
    }

    std::unique_ptr<StatusViewController> actions;
    int dialogs = 0;
    QString dialogTitle, dialogText;
};

// ---- user label ----

TEST_F(DeviceActions, LabelInUTF8IsCutAtTheLastWholeCharacter) {
    auto camera = attach("HVBS2A", "1.13.0");
    const int postsBefore = statusPosts;
    actions->editUserLabel(snapshotOf(*camera), QString::fromUtf8("Patrol \xE2\x9C\x93"));
    settleActions();
    ASSERT_EQ(writesOf(*camera, "HVB_UTF8_USERLABEL").size(), 1u);
    EXPECT_EQ(writesOf(*camera, "HVB_UTF8_USERLABEL")[0], block("Patrol \xE2\x9C\x93"));
    EXPECT_EQ(camera->label(), "Patrol \xE2\x9C\x93");
    EXPECT_EQ(labelOf(*camera), "Patrol \xE2\x9C\x93");
    EXPECT_TRUE(wait([&] { return statusPosts > postsBefore; }));

    // 9 bytes and twenty two-byte letters: eleven letters fit in 32 bytes, the twelfth would not.
    QString longLabel = "Officer 9";
    for (int i = 0; i < 20; ++i) longLabel += QChar(0xE9);
    std::string expected = "Officer 9";
    for (int i = 0; i < 11; ++i) expected += "\xC3\xA9";
    actions->editUserLabel(snapshotOf(*camera), longLabel);
    settleActions();
    EXPECT_EQ(writesOf(*camera, "HVB_UTF8_USERLABEL").back(), block(expected));
    EXPECT_EQ(camera->label(), expected);
    EXPECT_EQ(labelOf(*camera), expected);  // the record keeps what the camera has

    actions->editUserLabel(snapshotOf(*camera), QString());
    settleActions();
    EXPECT_EQ(writesOf(*camera, "HVB_UTF8_USERLABEL").back(), block({}));
    EXPECT_EQ(labelOf(*camera), "");

    ASSERT_TRUE(waitCollected("Edit_User_Label", 3));
    for (const auto& event : collected("Edit_User_Label")) EXPECT_EQ(event, std::make_pair(std::string("HVBS2A"), std::string("Success")));
}

TEST_F(DeviceActions, LabelInTheUnicodeFormCountsAndCutsWholeGroups) {
    auto camera = attach("HVBR7", "1.6.01");
    ASSERT_TRUE(snapshotOf(*camera).commands.count("HVB_UNICODE_USERLABEL"));
    ASSERT_FALSE(snapshotOf(*camera).commands.count("HVB_UTF8_USERLABEL"));

    actions->editUserLabel(snapshotOf(*camera), "Ab");
    settleActions();
    ASSERT_EQ(writesOf(*camera, "HVB_UNICODE_USERLABEL").size(), 1u);
    EXPECT_EQ(writesOf(*camera, "HVB_UNICODE_USERLABEL")[0], block("200410062"));
    EXPECT_EQ(camera->label(), "Ab");
    EXPECT_EQ(labelOf(*camera), "Ab");

    // Seven groups fit: "7" and 28 digits.
    actions->editUserLabel(snapshotOf(*camera), "ABCDEFGHIJ");
    settleActions();
    EXPECT_EQ(writesOf(*camera, "HVB_UNICODE_USERLABEL").back(), block("70041004200430044004500460047"));
    EXPECT_EQ(camera->label(), "ABCDEFG");
    EXPECT_EQ(labelOf(*camera), "ABCDEFG");

    // A letter outside the basic plane is two groups, never cut in half.
    actions->editUserLabel(snapshotOf(*camera), QString::fromUtf8("x\xF0\x9F\x98\x80"));
    settleActions();
    EXPECT_EQ(writesOf(*camera, "HVB_UNICODE_USERLABEL").back(), block("30078d83dde00"));
    EXPECT_EQ(camera->label(), "x\xF0\x9F\x98\x80");
    actions->editUserLabel(snapshotOf(*camera), QString::fromUtf8("ABCDEF\xF0\x9F\x98\x80"));
    settleActions();
    EXPECT_EQ(writesOf(*camera, "HVB_UNICODE_USERLABEL").back(), block("6004100420043004400450046"));
    EXPECT_EQ(labelOf(*camera), "ABCDEF");

    actions->editUserLabel(snapshotOf(*camera), "");
    settleActions();
    EXPECT_EQ(writesOf(*camera, "HVB_UNICODE_USERLABEL").back(), block("0"));
    EXPECT_EQ(camera->label(), "");
    ASSERT_TRUE(waitCollected("Edit_User_Label", 5));
}

TEST_F(DeviceActions, LabelPayloadChoosesTheFirstCommandTheTableHas) {
    hvb::CommandDictionary table{{"HVB_USERLABEL", 0x38}, {"HVB_UNICODE_USERLABEL", 0x45}};
    auto payload = StatusViewController::userLabelPayload(table, "Ab");
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->command, "HVB_UNICODE_USERLABEL");
    table["HVB_UTF8_USERLABEL"] = 0x58;
    EXPECT_EQ(StatusViewController::userLabelPayload(table, "Ab")->command, "HVB_UTF8_USERLABEL");
    EXPECT_EQ(StatusViewController::userLabelPayload({{"HVB_USERLABEL", 0x38}}, "Ab")->bytes, "Ab");
    EXPECT_FALSE(StatusViewController::userLabelPayload({{"HVB_FINDDEVICE", 0x40}}, "Ab"));
    EXPECT_FALSE(StatusViewController::userLabelPayload({}, "Ab"));
    EXPECT_EQ(StatusViewController::unicodeHexScalars(QString::fromUtf8("A\xC3\xA9")),
              (std::vector<std::string>{"0041", "00e9"}));
}

TEST_F(DeviceActions, ALabelTheCameraCannotTakeIsAFailureAndNothingIsSent) {
    auto camera = attach("HVBS2A", "1.13.0");
    auto status = snapshotOf(*camera);
    status.commands.erase("HVB_UTF8_USERLABEL");
    camera->clearWrites();
    actions->editUserLabel(status, "Nope");
    settleActions();
    EXPECT_TRUE(camera->writes().empty());
    ASSERT_TRUE(waitCollected("Edit_User_Label", 1));
    EXPECT_EQ(collected("Edit_User_Label")[0].second, "Failed");
    EXPECT_NE(labelOf(*camera), "Nope");
    EXPECT_EQ(dialogs, 0);
}

// ---- team sync ----

TEST_F(DeviceActions, GroupSetsTeamSyncAndTheGroupAndLeavesTheLeader) {
    auto camera = attach("HVBT3A", "1.3.0");
    camera->clearWrites();
    actions->setTeamSyncGroup(snapshotOf(*camera), 5);
    settleActions();
    EXPECT_EQ(writeNames(*camera), (std::vector<std::string>{"HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP"}));
    EXPECT_EQ(writesOf(*camera, "HVB_TEAMSYNC")[0], block({1}));
    EXPECT_EQ(writesOf(*camera, "HVB_TEAMSYNC_GROUP")[0], block({5}));
    EXPECT_EQ(setting(*camera, hvb::EnumSettings::TEAMSYNC), 1);
    EXPECT_EQ(setting(*camera, hvb::EnumSettings::TEAMSYNC_GROUP), 5);
    EXPECT_EQ(camera->setting("HVB_TEAMSYNC_GROUP"), 5);
    ASSERT_TRUE(waitCollected("Team_Sync_Group", 2));
    EXPECT_EQ(collected("Team_Sync_Group"),
              (std::vector<std::pair<std::string, std::string>>{{"true", "HVBT3A"}, {"5", "HVBT3A"}}));
}

TEST_F(DeviceActions, GroupZeroClearsTeamSyncTheGroupAndTheLeader) {
    auto camera = attach("HVBT3A", "1.3.0");
    camera->clearWrites();
    actions->setTeamSyncGroup(snapshotOf(*camera), 0);
    settleActions();
    EXPECT_EQ(writeNames(*camera),
              (std::vector<std::string>{"HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP", "HVB_BLE_TRIGGER_HOST"}));
    for (const auto& write : camera->writes()) EXPECT_EQ(write.payload, block({0}));
    EXPECT_EQ(setting(*camera, hvb::EnumSettings::TEAMSYNC), 0);
    EXPECT_EQ(setting(*camera, hvb::EnumSettings::TEAMSYNC_GROUP), 0);
    EXPECT_EQ(setting(*camera, hvb::EnumSettings::BLE_TRIGGER_HOST), 0);
    ASSERT_TRUE(waitCollected("Team_Sync_Group", 3));
    EXPECT_EQ(collected("Team_Sync_Group"), (std::vector<std::pair<std::string, std::string>>{
                                                {"false", "HVBT3A"}, {"0", "HVBT3A"}, {"Leader false", "HVBT3A"}}));
}

TEST_F(DeviceActions, AGroupOutsideOneByteSendsNothingAndFails) {
    auto camera = attach("HVBT3A", "1.3.0");
    camera->clearWrites();
    hvb::msgDialogText = "text of an earlier dialog";
    actions->setTeamSyncGroup(snapshotOf(*camera), 256);
    actions->setTeamSyncGroup(snapshotOf(*camera), -1);
    settleActions();
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(dialogTitle, hvb::localizedCommonString("Fail"));
    EXPECT_EQ(dialogText, "");
    ASSERT_TRUE(waitCollected("Team_Sync_Group", 2));
    for (const auto& event : collected("Team_Sync_Group")) EXPECT_EQ(event.first, "Failed");
}

TEST_F(DeviceActions, LeaderIsSetAndSkippedWhereTheCameraHasNoLeader) {
    auto t3 = attach("HVBT3A", "1.3.0");
    auto s2 = attach("HVBS2A", "1.13.0");
    t3->clearWrites();
    s2->clearWrites();
    actions->setTeamSyncLeader(snapshotOf(*t3), true);
    actions->setTeamSyncLeader(snapshotOf(*s2), false);
    settleActions();
    EXPECT_EQ(writesOf(*t3, "HVB_BLE_TRIGGER_HOST"), (std::vector<std::vector<uint8_t>>{block({1})}));
    EXPECT_EQ(setting(*t3, hvb::EnumSettings::BLE_TRIGGER_HOST), 1);
    EXPECT_TRUE(s2->writes().empty());
    EXPECT_EQ(dialogs, 0);
    ASSERT_TRUE(waitCollected("Team_Sync_Group", 1));
    EXPECT_EQ(collected("Team_Sync_Group"), (std::vector<std::pair<std::string, std::string>>{{"Leader true", "HVBT3A"}}));
}

// ---- buzzer, folder ----

TEST_F(DeviceActions, BuzzerSoundsTheCamera) {
    auto camera = attach("HVBS2A", "1.13.0");
    camera->clearWrites();
    actions->findDeviceBuzzer(snapshotOf(*camera));
    settleActions();
    EXPECT_EQ(writesOf(*camera, "HVB_FINDDEVICE"), (std::vector<std::vector<uint8_t>>{block({1})}));
    ASSERT_TRUE(waitCollected("Buzzer", 1));
    EXPECT_EQ(collected("Buzzer")[0], std::make_pair(std::string("HVBS2A"), std::string("Success")));
}

TEST_F(DeviceActions, TheFolderGoesToTheOpenerAsOneArgumentWhateverItsName) {
    BodyCameraOptions options;
    options.volumeFolder = volumeFolder("Cam 7 \"Q\" 'x' $HOME ;ls; `id`");
    auto camera = attach("HW7334", "1.0.0", options);
    actions->openDeviceFolder(snapshotOf(*camera));
    settleActions();
    EXPECT_EQ(openerArguments(), (std::vector<std::string>{options.volumeFolder.string()}));
    ASSERT_TRUE(waitCollected("Open_Dir", 1));
    EXPECT_EQ(collected("Open_Dir")[0], std::make_pair(std::string("HW7334"), std::string("Success")));

    setOpenerStatus(3);
    actions->openDeviceFolder(snapshotOf(*camera));
    settleActions();
    ASSERT_TRUE(waitCollected("Open_Dir", 2));
    EXPECT_EQ(collected("Open_Dir")[1].second, "Failed");
}

TEST_F(DeviceActions, AFolderThatIsNotMountedIsAnError) {
    auto camera = attach("HW7334", "1.0.0");  // no volume
    std::vector<QString> alerts;
    appkit::Alert::setResponder([&](const appkit::Alert& alert) {
        alerts.push_back(alert.messageText);
        return appkit::NSAlertFirstButtonReturn;
    });
    actions->openDeviceFolder(snapshotOf(*camera));
    settleActions();
    ASSERT_TRUE(wait([&] { return !alerts.empty(); }));
    EXPECT_EQ(alerts, (std::vector<QString>{hvb::localizedCommonString("Error")}));
    EXPECT_TRUE(openerArguments().empty());
    ASSERT_TRUE(waitCollected("Open_Dir", 1));
    EXPECT_EQ(collected("Open_Dir")[0].second, "mount point not exist");
}

TEST_F(DeviceActions, ALockedCameraAsksForItsPasswordInsteadOfOpening) {
    BodyCameraOptions options;
    options.volumeFolder = volumeFolder("locked");
    auto camera = attach("HVBS2A", "1.13.0", options);
    auto status = snapshotOf(*camera);
    recordOf(camera->serialNumber())->isLockStatus = true;
    hvb::passwordEnterFromPanel = false;
    // While the dialog is not part of the application, nothing opens.
    actions->openDeviceFolder(status);
    settleActions();
    EXPECT_FALSE(hvb::passwordEnterFromPanel);
    EXPECT_TRUE(sawLine("No controller for PasswordEnterViewController"));

    int made = 0;
    appkit::Storyboard::main().registerController("PasswordEnterViewController", [&made] {
        ++made;
        return new appkit::ViewController();
    });
    actions->openDeviceFolder(status);
    settleActions();
    appkit::Storyboard::main().registerController("PasswordEnterViewController", nullptr);
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(hvb::passwordEnterFromPanel);
    EXPECT_TRUE(openerArguments().empty());
    EXPECT_TRUE(collected("Open_Dir").empty());
    hvb::passwordEnterFromPanel = false;
}

// ---- no camera, no command ----

TEST_F(DeviceActions, AnEmptyOrUnknownUIDReachesNoCamera) {
    auto camera = attach("HVBS2A", "1.13.0");
    auto status = snapshotOf(*camera);
    auto stranger = std::make_shared<hvb::DiskDriver_Parameter>(*status.parameters);
    stranger->UID = "";
    hvb::StatusModel blank{stranger, status.commands};
    camera->clearWrites();
    hvb::msgDialogText = "text of an earlier dialog";
    actions->findDeviceBuzzer(blank);
    actions->editUserLabel(blank, "Nobody");
    actions->setTeamSyncLeader(blank, true);
    settleActions();
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_TRUE(sawLine("service not found"));
    // The edits report it with the failure message, whose text is its own.
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(dialogText, "");
    EXPECT_FALSE(read(blank).charging);
    EXPECT_FALSE(storage(blank));
    EXPECT_TRUE(onWorker([&] { return StatusViewController::readString(blank); }).empty());

    stranger->UID = "NOT-ATTACHED";
    actions->findDeviceBuzzer(blank);
    settleActions();
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_FALSE(hvb::cameraLink()->open(""));
}

TEST_F(DeviceActions, ABuzzerTheTableLacksSendsNothing) {
    auto camera = attach("HVBS2A", "1.13.0");
    auto status = snapshotOf(*camera);
    status.commands.erase("HVB_FINDDEVICE");
    camera->clearWrites();
    actions->findDeviceBuzzer(status);
    settleActions();
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_TRUE(sawLine("cmd is nil"));
    EXPECT_TRUE(collected("Buzzer").empty());
}

// ---- battery and storage reads ----

TEST_F(DeviceActions, BatteryAsCapacityOrLevel) {
    auto capacity = attach("HW7334", "1.0.0");
    auto level = attach("HVBR7", "1.6.01");
    capacity->setBattery(57);
    capacity->setCharging(true);
    EXPECT_EQ(read(snapshotOf(*capacity)), (hvb::BatteryReading{true, 57, false}));
    // The capacity byte is signed.
    capacity->setBattery(200);
    capacity->setCharging(false);
    EXPECT_EQ(read(snapshotOf(*capacity)), (hvb::BatteryReading{false, -56, false}));
    // The level byte is unsigned: 0 to 4, anything else reads as level 0.
    level->setBattery(3);
    EXPECT_EQ(read(snapshotOf(*level)), (hvb::BatteryReading{false, 3, true}));
    level->setBattery(200);
    EXPECT_EQ(read(snapshotOf(*level)), (hvb::BatteryReading{false, 0, true}));
}

TEST_F(DeviceActions, AFailedBatteryReadGivesNoReading) {
    auto camera = attach("HW7334", "1.0.0");
    const auto status = snapshotOf(*camera);
    camera->session()->refuseCode(status.commands.at("HVB_ISCHARGING"));
    EXPECT_FALSE(read(status).charging);
    auto other = attach("HVBR7", "1.6.01");
    const auto otherStatus = snapshotOf(*other);
    other->session()->refuseCode(otherStatus.commands.at("HVB_BATTERYLEVEL"));
    EXPECT_FALSE(read(otherStatus).charging);
    // A camera with neither a capacity nor a level command says nothing either.
    auto old = attach("HVBR4", "1.4.00");
    EXPECT_FALSE(read(snapshotOf(*old)).charging);
    EXPECT_TRUE(sawLine("cmd not found"));
}

TEST_F(DeviceActions, StorageFromTheVolumeAndTheReservedSpace) {
    BodyCameraOptions options;
    options.volumeFolder = volumeFolder("HW7333 volume");
    auto camera = attach("HW7333", "1.0.0", options);
    camera->setReservedSpace("900-120");
    const auto status = snapshotOf(*camera);
    EXPECT_EQ(onWorker([&] { return StatusViewController::readString(status); }), (std::vector<std::string>{"900", "120"}));

    auto figure = storage(status);
    ASSERT_TRUE(figure);
    EXPECT_GT(figure->availableBytes, 0);
    // Firmware 1.0.0 is below the reserved-space threshold: the table's own values apply.
    const auto record = recordOf(camera->serialNumber());
    const hvb::StorageSettings settings{record->DeviceParam->RESOLUTION(), record->DeviceParam->RECORDINGMODE()};
    EXPECT_DOUBLE_EQ(figure->seconds, hvb::StatusStorageTable::recordingSeconds(
                                          "HW7333", settings, figure->availableBytes / 1024.0 / 1024.0, {}));
    EXPECT_TRUE(figure->mounted);
    // No volume: no figure, but the word that it is not mounted.
    auto bare = attach("HW7334", "1.0.0");
    auto unmounted = storage(snapshotOf(*bare));
    ASSERT_TRUE(unmounted);
    EXPECT_FALSE(unmounted->mounted);
    EXPECT_EQ(unmounted->availableBytes, 0);
}

// ---- the program's end ----

// The shared web service stops once the tests are done, not from an exit handler: there, a request
// the panel sent last was still parsed while the server library's statics were being destroyed.
// One plain HTTP request on loopback, and what became of it. Plain sockets, so that the request
// leaves no state of its own behind in the server library's client side. A reply is awaited for
// a bounded time: a service that takes the connection and never answers is still there.
enum class Request { refused, answered, unanswered };

Request sendARequest(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Request::refused;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval timeout{10, 0};
    Request outcome = Request::refused;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const char request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        char reply[16] = {};
        outcome = ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) > 0 && ::recv(fd, reply, sizeof reply, 0) > 0
                      ? Request::answered
                      : Request::unanswered;
    }
    ::close(fd);
    return outcome;
}

TEST_F(DeviceActions, TheSharedWebServiceServesNoLongerWhenTheProgramExits) {
    static int port = 0;
    port = web.port();
    ASSERT_EQ(sendARequest(port), Request::answered);  // the server library has made its statics by now
    std::atexit([] {
        switch (sendARequest(port)) {
            case Request::refused: return;
            case Request::answered:
                std::fputs("the shared web service still served a request while the program exited\n", stderr);
                break;
            case Request::unanswered:
                std::fputs("the shared web service still took a connection while the program exited, and gave "
                           "no answer within 10 s\n", stderr);
                break;
        }
        std::_Exit(1);
    });
}

}  // namespace
