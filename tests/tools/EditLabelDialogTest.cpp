// The user-label and team-sync dialog: the label's length, characters and payload per label
// form (UTF-8, the Unicode hex form, the plain form), the team-sync group and the leader, OK
// without changes, a group the list does not have; and the Status row's edit button end to end.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "ToolsFixture.h"
#include "ToolsTestSupport.h"
#include "status/StatusTableViewCell.h"
#include "status/StatusViewController.h"
#include "standins/camera/CameraProfile.h"
#include "tools/EditLabelRules.h"
#include "tools/EditViewController.h"

namespace {

using namespace toolstest;
using hvb::EditViewController;

struct Call {
    std::string what;
    std::string value;
    bool operator==(const Call&) const = default;
};

class RecordingDelegate : public hvb::EditViewControllerDelegate {
public:
    void editUserLabel(const hvb::StatusModel&, const QString& label) override {
        calls.push_back({"label", label.toStdString()});
    }
    void setTeamSyncGroup(const hvb::StatusModel&, int64_t group) override {
        calls.push_back({"group", std::to_string(group)});
    }
    void setTeamSyncLeader(const hvb::StatusModel&, bool leader) override {
        calls.push_back({"leader", leader ? "on" : "off"});
    }
    std::vector<Call> calls;
};

// A camera as the dialog sees it: settings only when the team-sync values are given.
struct CameraSpec {
    std::string model = "HW7334";
    std::string table = "HW7334Cmd_1";
    std::string firmware = "1.0.0";
    std::string label = "Unit 34";
    bool russian = false;
    std::optional<int64_t> teamSync = std::nullopt;
    int64_t group = 0;
    int64_t leader = -1;
};

class EditLabel : public ::testing::Test {
protected:
    void SetUp() override {
        hvb::buildAllCommandTables();
        link = makeFakeLink();
        hvb::setCameraLink(link);
        previousReports_ = hvb::usageReports();
        hvb::setUsageReports(link);
    }
    void TearDown() override {
        window.reset();
        hvb::setCameraLink(nullptr);
        hvb::setUsageReports(previousReports_);
    }

    EditViewController* open(const CameraSpec& spec) {
        auto record = std::make_shared<hvb::DiskDriver_Parameter>();
        record->ModelName = spec.model;
        record->FWVersion = spec.firmware;
        record->UserLabel = spec.label;
        record->isSupportRussian = spec.russian;
        if (spec.teamSync) {
            record->DeviceParam = std::make_shared<hvb::sDeviceParam>();
            record->DeviceParam->TEAMSYNC() = *spec.teamSync;
            record->DeviceParam->TEAMSYNC_GROUP() = spec.group;
            record->DeviceParam->BLE_TRIGGER_HOST() = spec.leader;
        }
        hvb::StatusModel status;
        status.parameters = record;
        status.commands = hvb::cmdTables().find(spec.table).value();
        auto* edit = new EditViewController(status);
        edit->setDelegate(&delegate);
        window = std::make_unique<appkit::Window>(edit);
        window->makeKeyAndOrderFront();
        return edit;
    }
    static void type(EditViewController* d, const QString& text) {
        d->deviceNameLabel->setText(text);
        emit d->deviceNameLabel->textEdited(text);
    }
    static void choose(EditViewController* d, int index) {
        d->teamSyncComboBox->setCurrentIndex(index);
        emit d->teamSyncComboBox->activated(index);
    }
    static bool accepted(EditViewController* d) { return d->doneButton->isEnabled() && !d->hasRedBorder(); }

    std::shared_ptr<hvbtest::FakeCameraLink> link;
    std::shared_ptr<hvb::UsageReports> previousReports_;
    RecordingDelegate delegate;
    std::unique_ptr<appkit::Window> window;
};

TEST_F(EditLabel, ShowsTheCamerasValuesAndReportsItsScreen) {
    auto* d = open({.teamSync = 1, .group = 3, .leader = 1});
    EXPECT_EQ(d->titleLabel->text(), "Edit");
    EXPECT_EQ(d->deviceNameTitleLabel->text(), "User label");
    EXPECT_EQ(d->deviceNameLabel->text(), "Unit 34");
    EXPECT_EQ(d->teamSyncComboBox->count(), 11);
    EXPECT_EQ(d->teamSyncComboBox->currentIndex(), 3);
    EXPECT_TRUE(d->leaderButton->isEnabled());
    EXPECT_TRUE(d->leaderButton->isChecked());
    EXPECT_EQ(d->width(), 400);
    EXPECT_EQ(d->height(), 180);
    ASSERT_EQ(link->screens().size(), 1u);
    EXPECT_EQ(link->screens()[0], std::make_pair(std::string("Edit User Label"), std::string("EditViewController")));
}

TEST_F(EditLabel, TheLabelIsCutToTheModelsLength) {
    const QString thirty = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    auto* s2 = open({.model = "HVBS2A", .table = "HVBS2ACmd_6", .firmware = "1.13.0"});
    type(s2, thirty);
    EXPECT_EQ(s2->deviceNameLabel->text(), thirty.left(20));
    EXPECT_TRUE(accepted(s2));
    auto* other = open({});
    type(other, thirty);
    EXPECT_EQ(other->deviceNameLabel->text(), thirty.left(25));
    EXPECT_TRUE(accepted(other));
    // The plain label form carries 25 ASCII characters whole.
    auto* r4 = open({.model = "HVBR4", .table = "HVBR4Cmd_1", .firmware = "1.4.00"});
    type(r4, thirty);
    EXPECT_TRUE(accepted(r4));
}

TEST_F(EditLabel, ForbiddenCharactersAndBlankLabelsAreRefused) {
    auto* d = open({});
    for (const QString& text : {QStringLiteral("Unit-34"), QStringLiteral("Unit.34"), QStringLiteral("   "),
                                QString::fromUtf8("巡逻一号"), QString::fromUtf8("Отряд")}) {
        SCOPED_TRACE(text.toStdString());
        type(d, text);
        EXPECT_TRUE(d->hasRedBorder());
        EXPECT_FALSE(d->doneButton->isEnabled());
    }
    type(d, QStringLiteral("Unit_34 b"));
    EXPECT_TRUE(accepted(d));
}

TEST_F(EditLabel, CyrillicUpToTheThirtyTwoBytesOfTheUtf8Form) {
    auto* d = open({.russian = true});
    const QString sixteen = QString::fromUtf8("АБВГДЕЖЗИЙКЛМНОП");  // 32 bytes
    type(d, sixteen);
    EXPECT_TRUE(accepted(d));
    type(d, sixteen + QString::fromUtf8("Р"));  // 34 bytes: the field keeps what fits
    EXPECT_EQ(d->deviceNameLabel->text(), sixteen);
    EXPECT_TRUE(accepted(d));
    type(d, QString::fromUtf8("АБВГДЕЖЗИЙКЛМНО 1"));  // 30 + 2 bytes
    EXPECT_TRUE(accepted(d));
    // Ё and ё only where the firmware takes the extended set.
    type(d, QString::fromUtf8("Ёлка"));
    EXPECT_TRUE(d->hasRedBorder());
    auto* s2 = open({.model = "HVBS2A", .table = "HVBS2ACmd_6", .firmware = "1.13.0", .russian = true});
    type(s2, QString::fromUtf8("Ёлка ёж"));
    EXPECT_TRUE(accepted(s2));
    // CJK stays out whatever the camera takes, though it would fit.
    type(s2, QString::fromUtf8("巡逻"));
    EXPECT_TRUE(s2->hasRedBorder());
}

TEST_F(EditLabel, TheUnicodeFormCarriesSevenCharacters) {
    // The count and four hex digits per UTF-16 unit: 7 units take 29 bytes, 8 take 33.
    auto* d = open({.model = "HVBR7", .table = "HVBR7Cmd_3", .firmware = "1.6.01", .russian = true});
    type(d, QStringLiteral("Patrol7"));
    EXPECT_TRUE(accepted(d));
    type(d, QStringLiteral("Patrol78"));
    EXPECT_EQ(d->deviceNameLabel->text(), "Patrol7");
    EXPECT_TRUE(accepted(d));
    type(d, QString::fromUtf8("Патруль"));
    EXPECT_TRUE(accepted(d));
    EXPECT_EQ(hvb::EditLabelRules::payloadSize(*hvb::cmdTables().find("HVBR7Cmd_3"), QString::fromUtf8("Патруль")),
              std::optional<size_t>(29));
}

// The field takes no more than the camera's label command carries, and says how much that is and
// which characters it takes; a refused character turns that line red, so the red field has a reason.
TEST_F(EditLabel, TheFieldTakesWhatTheCameraStoresAndSaysSo) {
    const QString latin = QStringLiteral("Letters A\u2013Z, digits, spaces and underscores");
    const QString cyrillic = QString::fromUtf8("Letters A\u2013Z and \u0410\u2013\u044F, digits, spaces and underscores");
    const QString extended =
        QString::fromUtf8("Letters A\u2013Z, \u0410\u2013\u044F and \u0401\u0451, digits, spaces and underscores");
    struct Case {
        CameraSpec camera;
        QString typed, kept, note, characters;
    };
    const QString thirty = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    const std::vector<Case> cases = {
        // UTF-8: 25 or 20 Latin letters by model; 32 bytes are 16 Cyrillic letters.
        {{}, thirty, thirty.left(25), "Up to 25 characters", latin},
        {{.russian = true}, QString::fromUtf8("АБВГДЕЖЗИЙКЛМНОПРС"), QString::fromUtf8("АБВГДЕЖЗИЙКЛМНОП"),
         "Up to 25 characters, 16 in Cyrillic", cyrillic},
        {{.model = "HVBS2A", .table = "HVBS2ACmd_6", .firmware = "1.13.0", .russian = true}, thirty, thirty.left(20),
         "Up to 20 characters, 16 in Cyrillic", extended},
        // The plain form: Latin letters only.
        {{.model = "HVBR4", .table = "HVBR4Cmd_1", .firmware = "1.4.00"}, thirty, thirty.left(25),
         "Up to 25 characters", latin},
        // The Unicode form: the camera's own 8-letter label cannot be written back whole.
        {{.model = "HVBR7", .table = "HVBR7Cmd_3", .firmware = "1.6.01", .label = "Patrol 7", .russian = true},
         QStringLiteral("Patrol 7 B"), QStringLiteral("Patrol "), "Up to 7 characters", extended},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.camera.table + " " + c.typed.toStdString());
        auto* d = open(c.camera);
        EXPECT_EQ(d->labelLimitLabel->text(), c.note);
        EXPECT_EQ(d->labelLimitLabel->textFormat(), Qt::PlainText);
        ASSERT_NE(d->labelCharactersLabel, nullptr);
        EXPECT_EQ(d->labelCharactersLabel->text(), c.characters);
        EXPECT_EQ(d->labelCharactersLabel->textFormat(), Qt::PlainText);
        EXPECT_TRUE(d->labelCharactersLabel->isVisible());
        // Whole, and clear of the field and the team-sync controls.
        EXPECT_GE(d->labelCharactersLabel->height(), d->labelCharactersLabel->heightForWidth(d->labelCharactersLabel->width()));
        EXPECT_FALSE(d->labelCharactersLabel->geometry().intersects(d->teamSyncComboBox->geometry()));
        EXPECT_FALSE(d->labelCharactersLabel->geometry().intersects(d->deviceNameLabel->geometry()));
        EXPECT_FALSE(d->labelCharactersLabel->geometry().intersects(d->doneButton->geometry()));
        type(d, QString::fromUtf8("巡逻"));  // fits every form, refused by all
        EXPECT_TRUE(d->hasRedBorder());
        EXPECT_TRUE(d->charactersHintIsRed());
        type(d, QStringLiteral("   "));  // refused, but not for its characters
        EXPECT_FALSE(d->charactersHintIsRed());
        type(d, c.typed);
        EXPECT_EQ(d->deviceNameLabel->text(), c.kept);
        EXPECT_TRUE(accepted(d));
        EXPECT_FALSE(d->charactersHintIsRed());
        d->doneButton->click();
        ASSERT_FALSE(delegate.calls.empty());
        EXPECT_EQ(delegate.calls.back(), (Call{"label", c.kept.toStdString()}));
    }
}

// The demo's cameras carry labels their models store whole: typing at the end of one never cuts it.
TEST(DemoLabels, EveryDemoCamerasLabelIsOneItsModelTakes) {
    hvb::buildAllCommandTables();
    std::ifstream script(HVB_TEST_SOURCE_DIR "/scripts/run.sh");
    ASSERT_TRUE(script.good());
    int cameras = 0;
    // The demo lists its cameras one a line, each quoted: "model=…,label=…,…".
    for (std::string line; std::getline(script, line);) {
        const size_t start = line.find("\"model=");
        if (start == std::string::npos || line.find_first_not_of(' ') != start) continue;
        const size_t end = line.find('"', start + 1);
        if (end == std::string::npos) continue;
        std::map<std::string, std::string> fields;
        std::stringstream items(line.substr(start + 1, end - start - 1));
        for (std::string item; std::getline(items, item, ',');) {
            const size_t equals = item.find('=');
            if (equals != std::string::npos) fields[item.substr(0, equals)] = item.substr(equals + 1);
        }
        SCOPED_TRACE(line);
        ++cameras;
        const auto* profile = hvb::sim::findCameraProfile(fields["model"], fields["firmware"]);
        ASSERT_NE(profile, nullptr);
        const auto table = hvb::cmdTables().find(profile->tableName);
        ASSERT_TRUE(table.has_value());
        const QString label = QString::fromStdString(fields["label"]);
        ASSERT_FALSE(label.isEmpty());
        EXPECT_EQ(hvb::EditLabelRules::verdict(label, false, false), hvb::EditLabelRules::Verdict::accepted);
        const int maximum = hvb::EditLabelRules::maximumLength(fields["model"]);
        EXPECT_EQ(hvb::EditLabelRules::fitted(label, maximum, *table), label);
        EXPECT_LE(label.size(), hvb::EditLabelRules::limit(maximum, *table, false).characters);
    }
    EXPECT_EQ(cameras, 2);
}

TEST_F(EditLabel, OKWithoutChangesCallsNothing) {
    auto* d = open({.teamSync = 1, .group = 3, .leader = 0});
    d->doneButton->click();
    EXPECT_TRUE(delegate.calls.empty());
}

TEST_F(EditLabel, OffUnchecksTheLeaderAndOKReportsWhatChangedInOrder) {
    auto* d = open({.teamSync = 1, .group = 3, .leader = 1});
    type(d, QStringLiteral("Unit 9"));
    choose(d, 0);
    EXPECT_FALSE(d->leaderButton->isChecked());
    EXPECT_FALSE(d->leaderButton->isEnabled());
    d->doneButton->click();
    EXPECT_EQ(delegate.calls, (std::vector<Call>{{"label", "Unit 9"}, {"group", "0"}, {"leader", "off"}}));

    delegate.calls.clear();
    auto* follower = open({.teamSync = 1, .group = 3, .leader = 0});
    choose(follower, 0);
    follower->doneButton->click();
    EXPECT_EQ(delegate.calls, (std::vector<Call>{{"group", "0"}}));

    delegate.calls.clear();
    auto* joining = open({.teamSync = 0, .group = 0, .leader = 0});
    choose(joining, 5);
    EXPECT_TRUE(joining->leaderButton->isEnabled());
    joining->leaderButton->setChecked(true);
    joining->doneButton->click();
    EXPECT_EQ(delegate.calls, (std::vector<Call>{{"group", "5"}, {"leader", "on"}}));
}

TEST_F(EditLabel, AGroupTheListDoesNotHaveShowsNoSelection) {
    auto* d = open({.teamSync = 1, .group = 12, .leader = 0});
    EXPECT_EQ(d->teamSyncComboBox->currentIndex(), -1);
    d->doneButton->click();
    EXPECT_TRUE(delegate.calls.empty());
    auto* again = open({.teamSync = 1, .group = -1, .leader = 0});
    EXPECT_EQ(again->teamSyncComboBox->currentIndex(), -1);
    choose(again, 4);
    again->doneButton->click();
    EXPECT_EQ(delegate.calls, (std::vector<Call>{{"group", "4"}}));
}

TEST_F(EditLabel, WithoutSettingsTheTeamSyncControlsAreOff) {
    auto* d = open({});
    EXPECT_FALSE(d->teamSyncComboBox->isEnabled());
    EXPECT_FALSE(d->teamSyncTitleLabel->isEnabled());
    EXPECT_FALSE(d->leaderButton->isEnabled());
    EXPECT_FALSE(d->leaderButton->isChecked());
    // Whatever the combo box says, nothing is written for controls that were not offered.
    d->teamSyncComboBox->setCurrentIndex(6);
    d->doneButton->click();
    EXPECT_TRUE(delegate.calls.empty());
}

TEST_F(EditLabel, AGoneDelegateGetsNothing) {
    auto* d = open({.teamSync = 1, .group = 3, .leader = 1});
    auto panel = std::make_unique<hvb::StatusViewController>();
    d->setDelegate(panel.get());
    panel.reset();
    type(d, QStringLiteral("Unit 9"));
    d->doneButton->click();  // must not reach the deleted panel
    EXPECT_TRUE(delegate.calls.empty());
}

// ---- from a Status row, with a camera ----

class EditFromStatus : public ToolsFixture {};

TEST_F(EditFromStatus, TheRowsEditButtonRenamesTheCamera) {
    auto camera = makeCamera("HW7334", "1.0.0");
    ASSERT_TRUE(plug(camera));
    hvb::StatusViewController panel;
    panel.view();
    panel.beginAppearance();
    panel.show();
    panel.endAppearance();
    ASSERT_TRUE(waitUntil([&] { return panel.rowAt(0) != nullptr; }));
    panel.rowAt(0)->editButtonDidTap();
    EditViewController* edit = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<appkit::Window*>(w);
        if (window && window->isVisibleWindow())
            if (auto* content = dynamic_cast<EditViewController*>(window->contentViewController())) edit = content;
    }
    ASSERT_NE(edit, nullptr);
    QPointer<EditViewController> guard(edit);
    EXPECT_EQ(edit->deviceNameLabel->text(), QString::fromStdString(camera->label()));
    edit->deviceNameLabel->setText("Unit 9");
    emit edit->deviceNameLabel->textEdited("Unit 9");
    edit->doneButton->click();
    ASSERT_TRUE(waitUntil([&] { return !guard || !guard->isVisible(); }));
    ASSERT_TRUE(waitUntil([&] { return camera->label() == "Unit 9"; }));
    // Read under the record's lock: the camera's new read writes it from a worker.
    ASSERT_TRUE(waitUntil([&] {
        auto record = recordOf(camera);
        return record && hvb::DeviceState::shared().readRecord(record, [](const hvb::DiskDriver_Parameter& r) {
                   return r.UserLabel == "Unit 9";
               });
    }));

    // By the keyboard alone: Tab to the rename button, Space, Tab to the name (taken whole),
    // the new one typed, Return.
    panel.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return panel.isActiveWindow(); }));
    for (int press = 0; press < 30 && QApplication::focusWidget() != panel.rowAt(0)->editButton(); ++press)
        QTest::keyClick(panel.focusWidget() ? panel.focusWidget() : &panel, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), panel.rowAt(0)->editButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() != &panel; }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), "Unit 10");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return camera->label() == "Unit 10"; }));
    panel.beginDisappearance();
    panel.endDisappearance();
}

}  // namespace
