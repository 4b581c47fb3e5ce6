// The storage-mode recovery message and the webcam test, presented the way the Status panel's
// row presents them; the webcam test on a fake capture backend.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "../app/AppTestSupport.h"
#include "FakeCapture.h"
#include "ToolsTestSupport.h"
#include "camera/DeviceState.h"
#include "common/ControllerFactory.h"
#include "common/LocalizedString.h"
#include "common/VolumeProgressView.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/services/media/AudioLevels.h"
#include "tools/MSDCRecoverMsgViewController.h"
#include "tools/ToolsStoryboard.h"
#include "tools/WebcamTestRules.h"
#include "tools/WebcamTestViewController.h"

namespace {

using namespace toolstest;
using hvb::WebcamTestRules;
namespace Webcam = hvb::LocalizedString::Webcam;

class Presented : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        link = makeFakeLink();
        hvb::setCameraLink(link);
        previousReports_ = hvb::usageReports();
        hvb::setUsageReports(link);
        hvb::registerToolControllers();
        backend = std::make_shared<FakeCaptureBackend>();
        services::CaptureBackend::setShared(backend);
        presenter = std::make_unique<appkit::ViewController>();
        presenter->resize(300, 200);
        presenter->show();
    }
    void TearDown() override {
        presenter.reset();
        apptest::waitUntil([] { return false; }, 20);
        services::CaptureBackend::setShared(nullptr);
        hvb::setCameraLink(nullptr);
        hvb::setUsageReports(previousReports_);
    }

    // As the Status row does: made by class name, titled, presented.
    template <class T>
    QPointer<T> present(const char* className) {
        auto* controller = hvb::ControllerFactory::shared().make(className);
        EXPECT_NE(controller, nullptr);
        controller->setTitle("from the row");
        presenter->presentViewControllerAsModalWindow(controller);
        return QPointer<T>(dynamic_cast<T*>(controller));
    }
    static bool gone(QWidget* controller) { return !controller || !controller->isVisible(); }
    static size_t statusObservers() {
        return foundation::NotificationCenter::defaultCenter().observerCount(hvb::kStatusDidGet);
    }

    std::shared_ptr<hvbtest::FakeCameraLink> link;
    std::shared_ptr<FakeCaptureBackend> backend;
    std::unique_ptr<appkit::ViewController> presenter;
    std::shared_ptr<hvb::UsageReports> previousReports_;
};

TEST_F(Presented, TheRecoveryMessageClosesOnStatusDidGetAndGivesBackItsObserver) {
    const size_t before = statusObservers();
    auto message = present<hvb::MSDCRecoverMsgViewController>("MSDCRecoverMsgViewController");
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->isObservingStatus());
    EXPECT_EQ(statusObservers(), before + 1);
    EXPECT_EQ(message->hostWindow()->windowTitle(), "from the row");
    EXPECT_EQ(message->tipMsgLabel->textFormat(), Qt::PlainText);
    ASSERT_TRUE(apptest::waitUntil([&] { return message && message->isBlinking(); }));
    hvb::postStatusDidGet();
    ASSERT_TRUE(apptest::waitUntil([&] { return gone(message); }));
    EXPECT_EQ(statusObservers(), before);
}

TEST_F(Presented, TheRecoveryMessageClosesWithReturn) {
    auto message = present<hvb::MSDCRecoverMsgViewController>("MSDCRecoverMsgViewController");
    ASSERT_TRUE(message);
    QTest::keyClick(message->hostWindow(), Qt::Key_Return);
    ASSERT_TRUE(apptest::waitUntil([&] { return gone(message); }));
}

TEST(WebcamRules, OnlyTheCamerasDevicesAreUsedAndBothAreNeeded) {
    EXPECT_EQ(WebcamTestRules::chooseDevices({"Integrated Camera", "hvb cam", "HVB R7 Camera", "HVB other"},
                                             {"Built-in", "HVB R7 Microphone"}),
              std::make_pair(size_t(2), size_t(1)));
    EXPECT_FALSE(WebcamTestRules::chooseDevices({"hvb cam"}, {"HVB mic"}));
    EXPECT_FALSE(WebcamTestRules::chooseDevices({"HVB cam"}, {"Built-in"}));
    EXPECT_FALSE(WebcamTestRules::chooseDevices({}, {"HVB mic"}));
}

TEST(WebcamRules, TheLevelBarFollowsTheSecondChannel) {
    auto at = [](std::vector<float> levels) { return WebcamTestRules::levelProgress(levels); };
    EXPECT_DOUBLE_EQ(*at({-60.f, -30.f}), 0.0);
    EXPECT_DOUBLE_EQ(*at({-60.f, -15.f}), 0.5);
    EXPECT_DOUBLE_EQ(*at({-60.f, 0.f}), 1.0);
    EXPECT_DOUBLE_EQ(*at({0.f, -45.f}), 0.0);   // below -30: empty, never negative
    EXPECT_DOUBLE_EQ(*at({-60.f, 6.f}), 1.0);   // above full scale: full
    EXPECT_DOUBLE_EQ(*at({-15.f}), 0.5);        // mono: its only channel
    EXPECT_DOUBLE_EQ(*at({-60.f, -15.f, 0.f}), 0.5);
    EXPECT_FALSE(at({}));
    EXPECT_DOUBLE_EQ(*at({0.f, -std::numeric_limits<float>::infinity()}), 0.0);
    EXPECT_DOUBLE_EQ(*at({0.f, std::numeric_limits<float>::infinity()}), 0.0);
    EXPECT_DOUBLE_EQ(*at({0.f, std::nanf("")}), 0.0);
}

TEST(WebcamRules, ChannelPowerIsTheRootMeanSquareInDecibels) {
    // Left at full scale, right at half, as 16-bit samples.
    std::vector<int16_t> samples;
    for (int i = 0; i < 100; ++i) {
        const int16_t sign = i % 2 ? 1 : -1;
        samples.push_back(static_cast<int16_t>(sign * 32767));
        samples.push_back(static_cast<int16_t>(sign * 16384));
    }
    auto bytes = std::as_bytes(std::span<const int16_t>(samples));
    auto levels = services::channelPowerDb(bytes, 2, services::SampleFormat::signed16);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0], 0.0, 0.01);
    EXPECT_NEAR(levels[1], -6.02, 0.01);
    std::vector<float> quiet(64, 0.0f);
    auto silence = services::channelPowerDb(std::as_bytes(std::span<const float>(quiet)), 1,
                                            services::SampleFormat::float32);
    ASSERT_EQ(silence.size(), 1u);
    EXPECT_TRUE(std::isinf(silence[0]) && silence[0] < 0);
    EXPECT_TRUE(services::channelPowerDb(bytes.first(3), 2, services::SampleFormat::signed16).empty());
    EXPECT_TRUE(services::channelPowerDb(bytes, 0, services::SampleFormat::signed16).empty());
}

TEST_F(Presented, TheWebcamTestTakesTheCamerasDevicesAndGoesThroughBothSteps) {
    backend->videos = {{"v0", "Integrated Camera"}, {"v1", "hvb webcam"}, {"v2", "HVB R7 Camera"}};
    backend->audios = {{"a0", "Built-in Microphone"}, {"a1", "HVB R7 Microphone"}};
    auto test = present<hvb::WebcamTestViewController>("WebcamTestViewController");
    ASSERT_TRUE(test);
    ASSERT_TRUE(test->webcam && test->microphone);
    EXPECT_EQ(test->webcam->id, "v2");
    EXPECT_EQ(test->microphone->id, "a1");
    ASSERT_NE(backend->lastSession, nullptr);
    EXPECT_TRUE(backend->lastSession->isRunning());
    EXPECT_EQ(test->titleLabel->text(), Webcam::Title::videoTestTitle());
    EXPECT_EQ(test->nextBtn->text(), Webcam::Btn::testMic());
    EXPECT_FALSE(test->micStackView->isVisible());
    EXPECT_TRUE(test->streamView->isVisible());
    EXPECT_TRUE(backend->lastSession->previewWidget()->isVisible());

    // Levels are fed in either step.
    backend->lastSession->feed({-60.f, -15.f});
    apptest::waitUntil([] { return false; }, 20);
    EXPECT_DOUBLE_EQ(test->voiceProgress->progress(), 0.5);

    QTest::keyClick(test->hostWindow(), Qt::Key_Return);  // Return is the next button
    EXPECT_EQ(test->status, hvb::TestStatus::audioTest);
    EXPECT_FALSE(test->streamView->isVisible());
    EXPECT_TRUE(test->micStackView->isVisible());
    EXPECT_EQ(test->titleLabel->text(), Webcam::Title::audioTestTitle());
    EXPECT_EQ(test->nextBtn->text(), Webcam::Btn::testFinish());
    backend->lastSession->feed({-20.f});
    apptest::waitUntil([] { return false; }, 20);
    EXPECT_NEAR(test->voiceProgress->progress(), 1.0 / 3.0, 1e-6);
    backend->lastSession->feed({});
    EXPECT_NEAR(test->voiceProgress->progress(), 1.0 / 3.0, 1e-6);

    auto running = backend->lastSession->runningFlag();
    test->nextBtn->click();
    ASSERT_TRUE(apptest::waitUntil([&] { return gone(test); }));
    EXPECT_FALSE(*running);
}

// Without the camera's picture or its microphone the test closes at once, and says which is missing.
TEST_F(Presented, TheWebcamTestClosesAtOnceWithoutBothDevicesAndSaysWhich) {
    struct Case {
        std::vector<services::CaptureDevice> videos, audios;
        QString why;
        bool webcamMode = false;  // a camera the toolbox knows is in webcam mode
    };
    const Case cases[] = {
        {{{"v0", "HVB R7 Camera"}}, {{"a0", "hvb microphone"}}, hvb::LocalizedString::Msg::webcamTestNoMicrophone()},
        {{{"v0", "Integrated Camera"}}, {{"a0", "HVB R7 Microphone"}}, hvb::LocalizedString::Msg::webcamTestNoCamera()},
        {{}, {}, hvb::LocalizedString::Msg::webcamTestNoCamera()},
        {{{"v0", "Integrated Camera"}}, {{"a0", "HVB R7 Microphone"}}, hvb::LocalizedString::Msg::webcamTestNoVideoDevice(),
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why.toStdString());
        hvb::DeviceState::shared().removeModels("SN-WEBCAM");
        if (c.webcamMode) hvb::DeviceState::shared().ensureModel("SN-WEBCAM")->isWebcamMode = true;
        backend->videos = c.videos;
        backend->audios = c.audios;
        std::vector<QString> alerts;
        bool closedFirst = false;
        QPointer<hvb::WebcamTestViewController> test;
        appkit::Alert::setResponder([&](const appkit::Alert& alert) {
            closedFirst = gone(test);
            alerts.push_back(alert.messageText + "|" + alert.informativeText);
            return appkit::NSAlertFirstButtonReturn;
        });
        const size_t before = statusObservers();
        test = present<hvb::WebcamTestViewController>("WebcamTestViewController");
        ASSERT_TRUE(test);
        EXPECT_FALSE(test->webcam.has_value());
        EXPECT_EQ(backend->lastSession, nullptr);
        ASSERT_TRUE(apptest::waitUntil([&] { return gone(test) && !alerts.empty(); }));
        EXPECT_TRUE(closedFirst);
        EXPECT_EQ(alerts, std::vector<QString>{hvb::LocalizedString::Str::error() + "|" + c.why});
        EXPECT_EQ(statusObservers(), before);
        appkit::Alert::setResponder({});
    }
    hvb::DeviceState::shared().removeModels("SN-WEBCAM");
}

TEST_F(Presented, TheWebcamTestClosesWhenTheCamerasChange) {
    backend->videos = {{"v0", "HVB R7 Camera"}};
    backend->audios = {{"a0", "HVB R7 Microphone"}};
    const size_t before = statusObservers();
    auto test = present<hvb::WebcamTestViewController>("WebcamTestViewController");
    ASSERT_TRUE(test);
    ASSERT_TRUE(backend->lastSession && backend->lastSession->isRunning());
    auto running = backend->lastSession->runningFlag();
    EXPECT_EQ(statusObservers(), before + 1);
    hvb::postStatusDidGet();
    ASSERT_TRUE(apptest::waitUntil([&] { return gone(test); }));
    EXPECT_FALSE(*running);
    EXPECT_EQ(statusObservers(), before);
}

TEST_F(Presented, AnInputThatCannotBeMadeLeavesTheTestWithoutPicture) {
    backend->videos = {{"v0", "HVB R7 Camera"}};
    backend->audios = {{"a0", "HVB R7 Microphone"}};
    backend->failSessions = true;
    auto test = present<hvb::WebcamTestViewController>("WebcamTestViewController");
    ASSERT_TRUE(test);
    EXPECT_EQ(test->captureSession(), nullptr);
    apptest::waitUntil([] { return false; }, 30);
    EXPECT_FALSE(gone(test));  // both devices exist: the window stays, without a picture
    test->nextBtn->click();
    test->nextBtn->click();
    ASSERT_TRUE(apptest::waitUntil([&] { return gone(test); }));
}

}  // namespace
