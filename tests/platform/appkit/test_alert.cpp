// Alerts: the responder of tests, and a real alert answered by a click.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "AppkitTestSupport.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Window.h"
#include "platform/dispatch/Dispatch.h"

using namespace appkit_test;

namespace {

class AlertTest : public ::testing::Test {
protected:
    void TearDown() override {
        appkit::Alert::setResponder(nullptr);
        EXPECT_EQ(appkit::modalSessionDepth(), 0);
        EXPECT_FALSE(dispatch::modalSessionActive());
        flushDeferredDeletes();
    }
    SessionWatchdog watchdog_;
};

QPushButton* buttonTitled(QWidget* window, const QString& title) {
    for (auto* button : window->findChildren<QPushButton*>()) {
        if (button->text() == title) return button;
    }
    return nullptr;
}

}  // namespace

TEST_F(AlertTest, TheResponderAnswersWithoutShowingAnything) {
    int sessions = 0;
    ModalHookScope hook([&](appkit::Window*) { ++sessions; });
    appkit::Alert seen;
    appkit::Alert::setResponder([&](const appkit::Alert& alert) {
        seen = alert;
        return appkit::NSAlertSecondButtonReturn;
    });

    appkit::Alert alert;
    alert.messageText = "Driver loaded error";
    alert.informativeText = "Please try again.";
    alert.addButtonWithTitle("OK");
    alert.addButtonWithTitle("Cancel");
    EXPECT_EQ(alert.runModal(), appkit::NSAlertSecondButtonReturn);
    EXPECT_EQ(sessions, 0);
    EXPECT_EQ(seen.messageText, "Driver loaded error");
    EXPECT_EQ(seen.informativeText, "Please try again.");
    EXPECT_EQ(seen.buttons, (QStringList{"OK", "Cancel"}));

    auto previous = appkit::Alert::setResponder(nullptr);
    ASSERT_TRUE(previous);
    EXPECT_EQ(previous(alert), appkit::NSAlertSecondButtonReturn);
}

TEST_F(AlertTest, ClickingTheSecondButtonReturnsItsCodeFromAModalSession) {
    bool sessionActive = false;
    bool plainTexts = false;
    bool boldMessage = false;
    bool firstIsDefault = false;
    ModalHookScope hook([&](appkit::Window* window) {
        QTimer::singleShot(0, [&, window] {
            sessionActive = dispatch::modalSessionActive();
            auto* message = window->findChild<QLabel*>("messageText");
            auto* informative = window->findChild<QLabel*>("informativeText");
            ASSERT_TRUE(message && informative);
            plainTexts = message->textFormat() == Qt::PlainText && informative->textFormat() == Qt::PlainText &&
                         message->text() == "<b>Cam</b> 01" && informative->text() == "<a href='x'>web</a>";
            boldMessage = message->font().bold() && !informative->font().bold();
            QPushButton* first = buttonTitled(window, "First");
            QPushButton* second = buttonTitled(window, "Second");
            ASSERT_TRUE(first && second);
            firstIsDefault = first->isDefault() && !second->isDefault();
            QTest::mouseClick(second, Qt::LeftButton);
        });
    });

    appkit::Alert alert;
    alert.messageText = "<b>Cam</b> 01";  // texts from a camera or the web stay literal
    alert.informativeText = "<a href='x'>web</a>";
    alert.addButtonWithTitle("First");
    alert.addButtonWithTitle("Second");
    alert.addButtonWithTitle("Third");
    EXPECT_EQ(alert.runModal(), appkit::NSAlertSecondButtonReturn);
    EXPECT_TRUE(sessionActive);
    EXPECT_TRUE(plainTexts);
    EXPECT_TRUE(boldMessage);
    EXPECT_TRUE(firstIsDefault);
}

TEST_F(AlertTest, AnAlertWithoutButtonsOffersOKAndReturnTakesIt) {
    QStringList titles;
    ModalHookScope hook([&](appkit::Window* window) {
        for (auto* button : window->findChildren<QPushButton*>()) titles << button->text();
        QTimer::singleShot(0, [window] { QTest::keyClick(window, Qt::Key_Return); });
    });
    appkit::Alert alert;
    alert.messageText = "Architecture not supported";
    EXPECT_EQ(alert.runModal(), appkit::NSAlertFirstButtonReturn);
    EXPECT_EQ(titles, QStringList{"OK"});
}
