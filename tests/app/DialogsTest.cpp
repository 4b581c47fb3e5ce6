// The message dialog, the About page and the administrator-permission dialog.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "AppTestSupport.h"
#include "app/About.h"
#include "app/AppStartup.h"
#include "app/UserPermissionViewController.h"
#include "common/LocalizedString.h"
#include "common/MsgDialog.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/AppkitTestSupport.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

using namespace hvb;

struct Shown {
    QString title, text, icon, ok, cancel;
};

// Opens the message dialog the way callers do and answers it with `button` once it is shown.
Shown openMessageDialog(const char* button) {
    Shown shown;
    appkit_test::ModalHookScope hook([&](appkit::Window* window) {
        auto* dialog = dynamic_cast<MsgDialogViewController*>(window->contentViewController());
        ASSERT_NE(dialog, nullptr);
        shown = {dialog->MsgTitle->text(), dialog->MsgText->text(), dialog->iconName(), dialog->buttonOK->text(),
                 dialog->buttonCancel->text()};
        QTest::mouseClick(std::string(button) == "OK" ? dialog->buttonOK.data() : dialog->buttonCancel.data(),
                          Qt::LeftButton);
    });
    auto* fromStoryboard =
        appkit::Storyboard::main().instantiateController<MsgDialogWindowController>("MsgDialogWindowController");
    if (fromStoryboard) {
        appkit::Window* window = fromStoryboard->window();
        MsgDialogWindowController controller(window);
        controller.showModal(window);
        EXPECT_FALSE(window->isVisible());
        delete fromStoryboard;
    }
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
    return shown;
}

TEST(MessageDialog, ShowsTheStickyValuesAndBothButtonsJustClose) {
    registerAppControllers();
    msgDialogIsSuccess = true;
    msgDialogTitle = "Success";
    msgDialogText = "Label changed.";
    Shown first = openMessageDialog("OK");
    EXPECT_EQ(first.title, "Success");
    EXPECT_EQ(first.text, "Label changed.");
    EXPECT_EQ(first.icon, "successIcon");
    EXPECT_EQ(first.ok, "OK");
    EXPECT_EQ(first.cancel, "Cancel");

    // Only the title changes: the text and the icon stay from before.
    msgDialogTitle = "Again";
    Shown second = openMessageDialog("Cancel");
    EXPECT_EQ(second.title, "Again");
    EXPECT_EQ(second.text, "Label changed.");
    EXPECT_EQ(second.icon, "successIcon");

    msgDialogIsSuccess = false;
    EXPECT_EQ(openMessageDialog("OK").icon, "failIcon");
}

TEST(MessageDialog, TextFromACameraIsShownAsPlainText) {
    registerAppControllers();
    msgDialogTitle = "<b>x</b>";
    msgDialogText = "<img src=x>";
    Shown shown = openMessageDialog("OK");
    EXPECT_EQ(shown.title, "<b>x</b>");
    EXPECT_EQ(shown.text, "<img src=x>");
}

TEST(AboutPage, VersionLineAndCloseButtonHover) {
    About about;
    appkit::Window window(&about);
    window.aboutToShow();
    window.didShow();
    const std::string version = foundation::Bundle::main().infoString("CFBundleShortVersionString").value_or("?");
    EXPECT_EQ(about.CurrentVersionField->text().toStdString(), "Version " + version);
    EXPECT_FALSE(about.Copyright->text().isEmpty());
    EXPECT_FALSE(about.okButtonHighlighted());
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(about.okBtn, &enter);
    EXPECT_TRUE(about.okButtonHighlighted());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(about.okBtn, &leave);
    EXPECT_FALSE(about.okButtonHighlighted());
    std::vector<QUrl> opened;
    auto previous = About::setDocumentOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    // The link opens the statement; Return afterwards is OK, not the link again.
    window.show();
    QPushButton* link = nullptr;
    for (auto* button : about.findChildren<QPushButton*>())
        if (button->text() == hvb::LocalizedString::Msg::statement()) link = button;
    EXPECT_NE(link, nullptr);
    if (link) QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(!opened.empty() && opened[0].toLocalFile().endsWith("/Statement.docx"));
    QWidget* focused = window.focusWidget() ? window.focusWidget() : &window;
    QTest::keyClick(focused, Qt::Key_Return);
    apptest::waitUntil([&] { return !window.isVisible(); }, 2000);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_FALSE(window.isVisible());
    About::setDocumentOpener(previous);
    window.setContentViewController(nullptr);
}

TEST(AboutPage, VersionElementRules) {
    About about;
    std::vector<std::string> found;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
        About::kLatestVersionFound, [&](const foundation::Notification& n) {
            found.push_back(std::any_cast<std::string>(n.userInfo));
        });
    // Text of other elements never reaches the version.
    about.parserDidStartElement("other");
    about.parserFoundCharacters("9.9.9");
    about.parserDidEndElement("other");
    EXPECT_FALSE(about.latestVersion.has_value());
    // The last chunk wins.
    about.parserDidStartElement("HalvetorMACToolSWversion");
    about.parserFoundCharacters("1.");
    about.parserFoundCharacters("2.3");
    about.parserDidEndElement("HalvetorMACToolSWversion");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], "2.3");
    // The element is not reset: text after its end tag overwrites the version.
    about.parserFoundCharacters("\n");
    EXPECT_EQ(about.latestVersion.value_or(""), "\n");
    foundation::NotificationCenter::defaultCenter().removeObserver(token);
}

struct Runs {
    std::vector<std::vector<std::string>> commands;
    std::vector<std::string> inputs;
    std::vector<int> statuses;
};

TEST(AdminPermission, PasswordGoesOnlyToStandardInputAndAFailedCopyKeepsTheDialog) {
    std::vector<QString> alerts;
    auto previous = appkit::Alert::setResponder([&](const appkit::Alert& a) {
        alerts.push_back(a.messageText + "|" + a.informativeText);
        return appkit::NSAlertFirstButtonReturn;
    });
    // On screen in its window, where the default button takes Return as well.
    auto* shown = new UserPermissionViewController();
    appkit::Window window(shown);
    window.makeKeyAndOrderFront();
    UserPermissionViewController& page = *shown;
    Runs runs;
    runs.statuses = {1, 1};
    page.setRunner([&](const std::vector<std::string>& argv, const std::string& input) {
        runs.commands.push_back(argv);
        runs.inputs.push_back(input);
        int status = runs.statuses.empty() ? 0 : runs.statuses.front();
        if (!runs.statuses.empty()) runs.statuses.erase(runs.statuses.begin());
        return status;
    });
    const std::string password = "p'a\"s$(id)`x`\\";
    page.passwordText->setText(QString::fromStdString(password));
    page.btnOK_Click();
    ASSERT_EQ(runs.commands.size(), 1u);
    EXPECT_EQ(runs.inputs[0], password + "\n");
    for (const auto& arg : runs.commands[0]) EXPECT_EQ(arg.find(password), std::string::npos);
    EXPECT_EQ(runs.commands[0][0], "sudo");
    EXPECT_EQ(runs.commands[0][1], "-S");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "BREVANTIS|Incorrect Password.");

    // Return in the password field does what OK does, once: a wrong password is tried once
    // more and the dialog stays; then copy and start the driver.
    page.passwordText->setFocus();
    QTest::keyClick(page.passwordText, Qt::Key_Return);
    ASSERT_EQ(runs.commands.size(), 2u);
    ASSERT_EQ(alerts.size(), 2u);
    QTest::keyClick(page.passwordText, Qt::Key_Return);
    ASSERT_EQ(runs.commands.size(), 4u);
    EXPECT_EQ(runs.commands[3][0], "sudo");
    EXPECT_EQ(runs.inputs[3], password + "\n");
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[2], "BREVANTIS|Please unmount devices and mount again");
    appkit::Alert::setResponder(previous);
}

TEST(AdminPermission, LiteralTextsAndCancelEndsTheApplication) {
    UserPermissionViewController page;
    page.view();
    page.viewDidLoad();
    EXPECT_EQ(page.permissionTitleLabel->text(), "Lumacorder wants to make changes.");
    EXPECT_EQ(page.userNameLabel->text(), "User Name:");
    EXPECT_TRUE(page.userNameText->isReadOnly());
    EXPECT_FALSE(page.userNameText->text().isEmpty());
    EXPECT_FALSE(page.kextPath.has_value());  // the bundle holds no such driver
    int terminated = 0;
    auto previous = appkit::setTerminateHandler([&] { ++terminated; });
    page.btnCancel_Click();
    appkit::setTerminateHandler(previous);
    EXPECT_EQ(terminated, 1);
}

TEST(AdminPermission, ThePathTravelsAsOneArgument) {
    UserPermissionViewController page;
    page.kextPath = "/res/my driver's $(x).kext";
    auto copy = page.copyCommand();
    ASSERT_EQ(copy.size(), 6u);
    EXPECT_EQ(copy[4], "/res/my driver's $(x).kext");
    // The runner feeds the input, drains the output and gives the exit status.
    EXPECT_EQ(UserPermissionViewController::runCommand({"/bin/sh", "-c", "cat >/dev/null; exit 3"}, "secret\n"), 3);
}

}  // namespace
