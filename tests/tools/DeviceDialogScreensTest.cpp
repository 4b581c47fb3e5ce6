// Pictures of the password, label, format and reset dialogs in every state, for people to look
// at: build*/screenshots/; and the dialogs' window titles.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QToolButton>
#include <QWindow>

#include "DeviceDialogTestSupport.h"
#include "app/About.h"
#include "common/LocalizedString.h"
#include "common/MsgDialog.h"
#include "platform/appkit/Alert.h"
#include "tools/DiskFormatViewControl.h"
#include "tools/EditViewController.h"
#include "tools/ResetAllViewController.h"
#include "tools/ResetDefaultViewController.h"

#include <tuple>

namespace {

using namespace toolstest;

class DialogScreens : public DialogFixture {
protected:
    // The dialog in a window of its own (no modal session), for the chosen camera.
    template <class T>
    std::unique_ptr<appkit::Window> show(std::shared_ptr<SimulatedBodyCamera> cam = nullptr) {
        hvb::DeviceState::shared().selectedDeviceIndex = cam ? 0 : -1;
        auto chosen = faults->camera(0);
        hvb::selectedCmdDic = chosen ? chosen->table : hvb::CommandDictionary{};
        auto window = std::make_unique<appkit::Window>(new T());
        window->makeKeyAndOrderFront();
        settle(20);
        return window;
    }
    template <class T>
    static T* content(const std::unique_ptr<appkit::Window>& w) {
        return static_cast<T*>(w->contentViewController());
    }
    // Question, working and the worker's outcome of one task dialog.
    template <class T>
    void taskScreens(const std::string& prefix, std::shared_ptr<SimulatedBodyCamera> cam) {
        auto w = show<T>(cam);
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), prefix + "-question"));
        EXPECT_EQ(apptest::keyboardFaults(w.get(), {{"QPushButton \"Cancel\"", prefix + "-focus-cancel"}}),
                  QStringList());
        auto* d = content<T>(w);
        // Taken as it shows: the format's result screen closes itself.
        bool shot = false;
        QObject::connect(d, &hvb::DeviceTaskViewController::outcomeShown, d, [&] {
            EXPECT_TRUE(apptest::saveScreenshot(w.get(), prefix + "-fail"));
            shot = true;
        });
        d->okButton()->click();
        ASSERT_TRUE(d->isBusy());
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), prefix + "-working"));
        ASSERT_TRUE(waitUntil([&] { return shot; }));
        w->performClose();
    }
};

TEST_F(DialogScreens, FormatAndResetDialogs) {
    auto cam = camera("HW7334", "1.0.0");
    ASSERT_TRUE(plug(cam));
    // Formats that never end, and a reset the camera is gone for, end on the failure screens.
    cam->setFormatNeverFinishes(true);
    hvb::diskFormatState = 0;
    hvb::diskFormatTarget = hvb::DiskFormatTarget{cam->uid(), *hvb::cmdTables().find(cam->profile().tableName)};
    taskScreens<hvb::DiskFormatViewControl>("format-dialog", cam);
    hvb::resetAllState = 0;
    taskScreens<hvb::ResetAllViewController>("reset-all-dialog", cam);
    hvb::resetDefaultState = 0;
    hvb::setCurrentDeviceUID("");
    cam->detach();
    ASSERT_TRUE(waitUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }));
    taskScreens<hvb::ResetDefaultViewController>("reset-default-dialog", nullptr);

    // The storage-error opening, and the screens a re-detection opens.
    hvb::diskFormatState = 0;
    hvb::diskFormatTitleString = hvb::LocalizedString::Msg::sdCardError();
    hvb::diskFormatTarget = hvb::DiskFormatTarget{"HW7333SN00009", {}};
    auto storage = show<hvb::DiskFormatViewControl>();
    EXPECT_TRUE(apptest::saveScreenshot(storage.get(), "format-dialog-storage-error"));
    storage->performClose();
    struct Result {
        const char* name;
        uint8_t* state;
        bool format;
    };
    uint8_t formatState = 0;
    for (auto [name, state, format] : {Result{"format-dialog", &formatState, true},
                                       Result{"reset-default-dialog", &hvb::resetDefaultState, false},
                                       Result{"reset-all-dialog", &hvb::resetAllState, false}}) {
        *state = 1;
        if (format) hvb::diskFormatState = 1;
        std::unique_ptr<appkit::Window> w;
        if (format) w = show<hvb::DiskFormatViewControl>();
        else if (state == &hvb::resetAllState) w = show<hvb::ResetAllViewController>();
        else w = show<hvb::ResetDefaultViewController>();
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), std::string(name) + "-success"));
        w->performClose();
        *state = 0;
        hvb::diskFormatState = 0;
    }
}

TEST_F(DialogScreens, PasswordDialog) {
    auto cam = camera("HVBR7", "1.6.01", "Abcd1234");
    ASSERT_TRUE(plug(cam));
    auto open = [&](uint8_t mode, uint8_t state = 0) {
        hvb::passwordSettingMode = mode;
        hvb::passwordSettingState = state;
        return show<hvb::PasswordSettingViewControl>(cam);
    };
    using P = hvb::PasswordSettingViewControl;
    {
        auto w = open(0);
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-set-form"));
        EXPECT_EQ(apptest::keyboardFaults(w.get()), QStringList());
        auto* d = content<P>(w);
        type(d->newPassword.field, "abc 123");
        type(d->confirm.field, "abc");
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-set-form-invalid"));
        type(d->newPassword.field, "Abcd5678");
        type(d->confirm.field, "Abcd5678");
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-set-form-ready"));
        type(d->confirm.field, "Abcd5679");
        d->buttonOK->click();
        ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
        settle(20);
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-set-confirmation-error"));
    }
    {
        auto w = open(1);
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-change-form"));
        EXPECT_EQ(apptest::keyboardFaults(w.get(), {{"QToolButton \"\"", "password-change-form-focus-eye"}}),
                  QStringList());
        auto* d = content<P>(w);
        // The three eyes are pictures only: each names what a press does, masked or shown.
        int eyes = 0;
        EXPECT_EQ(apptest::unnamedPictureButtons(w.get(), eyes, "en"), QStringList());
        EXPECT_EQ(eyes, 3);
        EXPECT_EQ(d->original.eye->toolTip(), hvb::LocalizedString::Msg::showPassword());
        d->original.eye->click();
        EXPECT_EQ(d->original.eye->toolTip(), hvb::LocalizedString::Msg::hidePassword());
        EXPECT_EQ(d->original.eye->accessibleName(), hvb::LocalizedString::Msg::hidePassword());
        EXPECT_EQ(apptest::unnamedPictureButtons(w.get(), eyes, "en"), QStringList());
        d->original.eye->click();
        type(d->original.field, "Wrong999");
        type(d->newPassword.field, "Zyxw9876");
        type(d->confirm.field, "Zyxw9876");
        d->buttonOK->click();
        EXPECT_TRUE(d->isBusy());
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-change-working"));
        ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
        settle(20);
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-change-wrong-original"));
    }
    recordOf(cam)->passwordErrorCnt = 5;
    {
        auto w = open(2);
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-disable-exhausted"));
    }
    recordOf(cam)->passwordErrorCnt = 0;
    {
        auto w = open(2);
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-disable-form"));
        EXPECT_EQ(apptest::keyboardFaults(w.get()), QStringList());
        auto* d = content<P>(w);
        type(d->original.field, "Abcd1234");
        cam->session()->refuseCode(code(cam, "HVB_GET_PWDCHECK"), 2);
        d->buttonOK->click();
        ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
        settle(20);
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), "password-disable-fail"));
    }
    for (auto [mode, state, name] : {std::tuple{0, 1, "password-set-success"}, std::tuple{1, 1, "password-change-success"},
                                     std::tuple{2, 1, "password-disable-success"},
                                     std::tuple{1, 2, "password-change-fail-after-reboot"}}) {
        auto w = open(static_cast<uint8_t>(mode), static_cast<uint8_t>(state));
        EXPECT_TRUE(apptest::saveScreenshot(w.get(), name));
    }
    hvb::passwordSettingState = 0;

    // The boxes the dialog shows on the way.
    for (auto [success, title, text, name] :
         {std::tuple{false, "Error", "Incorrect Password.", "password-message-incorrect"},
          std::tuple{true, "Success", "Password Correct !", "password-message-correct"}}) {
        hvb::msgDialogIsSuccess = success;
        hvb::msgDialogTitle = title;
        hvb::msgDialogText = text;
        hvb::MsgDialogWindowController controller;
        appkit::Window* w = controller.window();
        w->makeKeyAndOrderFront();
        settle(20);
        EXPECT_TRUE(apptest::saveScreenshot(w, name));
        EXPECT_EQ(apptest::keyboardFaults(w), QStringList());
        w->performClose();
    }
}

TEST_F(DialogScreens, LabelDialog) {
    auto cam = camera("HVBS2A", "1.13.0");
    ASSERT_TRUE(plug(cam));
    auto status = hvb::StatusModel::make(hvb::DeviceState::shared().entryAt(0)->key());
    ASSERT_TRUE(status.has_value());
    hvb::DeviceState::shared().updateRecord(status->parameters, [](hvb::DiskDriver_Parameter& r) {
        if (r.DeviceParam) {
            r.DeviceParam->TEAMSYNC() = 1;
            r.DeviceParam->TEAMSYNC_GROUP() = 3;
        }
    });
    auto* edit = new hvb::EditViewController(*status);
    appkit::Window w(edit);
    w.makeKeyAndOrderFront();
    settle(20);
    EXPECT_TRUE(apptest::saveScreenshot(&w, "label-dialog"));
    EXPECT_EQ(apptest::keyboardFaults(&w), QStringList());
    edit->deviceNameLabel->setText("Unit-34!");
    emit edit->deviceNameLabel->textEdited("Unit-34!");
    EXPECT_TRUE(apptest::saveScreenshot(&w, "label-dialog-invalid"));
    w.performClose();

    hvb::StatusModel bare = *status;
    bare.parameters = std::make_shared<hvb::DiskDriver_Parameter>();
    bare.parameters->ModelName = "HVBR7";
    bare.parameters->UserLabel = "Patrol 7";
    bare.commands = hvb::cmdTables().find("HVBR7Cmd_3").value();  // the Unicode label form
    auto* noSync = new hvb::EditViewController(bare);
    appkit::Window w2(noSync);
    w2.makeKeyAndOrderFront();
    settle(20);
    EXPECT_TRUE(apptest::saveScreenshot(&w2, "label-dialog-without-team-sync"));
    w2.performClose();
}

// The title the window system shows: the application's name in place of an empty one (the
// platform plug-ins all format window titles so).
QString shownTitle(QWidget* window) {
    const QString title = window->windowHandle() ? window->windowHandle()->title() : QString();
    return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

TEST_F(DialogScreens, DialogsWithoutATitleShowNone) {
    auto cam = plugged("HVBR7", "1.6.01");
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    hvb::selectedCmdDic = faults->camera(0)->table;
    for (const char* id : {"MsgDialogWindowController", "SyncTimeWindowController", "FWUpgradeWindowController",
                           "PasswordEnterWindowController", "PasswordSettingWindowController",
                           hvb::kDiskFormatWindowControl, hvb::kResetDefaultWindowController,
                           hvb::kResetAllWindowController}) {
        SCOPED_TRACE(id);
        auto* shell = appkit::Storyboard::main().instantiateController<appkit::WindowController>(id);
        ASSERT_NE(shell, nullptr);
        appkit::Window* window = shell->window();
        ASSERT_NE(window, nullptr);
        window->makeKeyAndOrderFront();
        EXPECT_TRUE(shownTitle(window).trimmed().isEmpty()) << shownTitle(window).toStdString();
        window->performClose();
        delete shell;
        settle(20);
    }
    // The pages a view controller presents: the label dialog and the About page.
    appkit::ViewController presenter;
    presenter.view();
    auto status = hvb::StatusModel::make(hvb::DeviceState::shared().entryAt(0)->key());
    ASSERT_TRUE(status.has_value());
    for (appkit::ViewController* page : {static_cast<appkit::ViewController*>(new hvb::EditViewController(*status)),
                                         static_cast<appkit::ViewController*>(new hvb::About())}) {
        SCOPED_TRACE(page->metaObject()->className());
        presenter.presentViewControllerAsModalWindow(page);
        ASSERT_NE(page->hostWindow(), nullptr);
        EXPECT_TRUE(shownTitle(page->hostWindow()).trimmed().isEmpty()) << shownTitle(page->hostWindow()).toStdString();
        page->dismissController();
        settle(20);
    }
    // An alert has no title of its own ("already running", the driver's errors).
    QString alertTitle = QStringLiteral("not shown");
    onModal = [&alertTitle](appkit::Window* w) {
        alertTitle = shownTitle(w);
        w->performClose();
        appkit::abortModal();
    };
    appkit::Alert alert;
    alert.messageText = QStringLiteral("Driver loaded error");
    alert.runModal();
    EXPECT_TRUE(alertTitle.trimmed().isEmpty()) << alertTitle.toStdString();
}

}  // namespace
