#pragma once
// The webcam test of a camera in webcam mode: first its live picture, then its microphone as a
// level bar. Uses the system's capture devices whose names show they are the camera's; without
// both a picture and a sound device it closes at once. Closes by itself when the cameras change.
#include <memory>
#include <optional>
#include <vector>

#include <QPointer>

#include "platform/appkit/ViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/services/media/CaptureBackend.h"
#include "tools/TestStatus.h"

class QLabel;
class QPushButton;

namespace hvb {

class VolumeProgressView;

class WebcamTestViewController : public appkit::ViewController {
    Q_OBJECT
public:
    // Finds the camera's devices and prepares the session.
    WebcamTestViewController();
    ~WebcamTestViewController() override;

    std::optional<services::CaptureDevice> webcam;
    std::optional<services::CaptureDevice> microphone;
    TestStatus status = TestStatus::videoTest;

    QPointer<QLabel> titleLabel;
    QPointer<QPushButton> nextBtn;
    QPointer<QWidget> streamView;
    QPointer<QWidget> micStackView;
    QPointer<QLabel> micImage;
    QPointer<QLabel> micTestHint;
    QPointer<VolumeProgressView> voiceProgress;

    services::CaptureSession* captureSession() const { return captureSession_.get(); }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;
    void viewWillLayout() override;

    void nextBtnDidTap();
    void refresh();
    // One audio buffer's per-channel levels.
    void captureOutput(const std::vector<float>& channelPowerDb);

private:
    void applyStepTexts();
    void dismiss();
    // Why the test cannot run: which of the camera's devices is missing.
    QString missingDeviceText() const;
    std::unique_ptr<services::CaptureSession> captureSession_;
    foundation::NotificationCenter::Token statusToken_ = 0;
    bool dismissed_ = false;
    bool cameraVideoFound_ = false;
};

}  // namespace hvb
