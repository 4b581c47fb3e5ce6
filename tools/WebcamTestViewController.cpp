#include "tools/WebcamTestViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPainterPath>
#include <QPushButton>
#include <QRegion>
#include <QVBoxLayout>

#include "camera/DeviceState.h"
#include "common/LocalizedString.h"
#include "common/VolumeProgressView.h"
#include "online/UsageReports.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Assets.h"
#include "platform/dispatch/Dispatch.h"
#include "tools/DialogRegistry.h"
#include "tools/WebcamTestRules.h"

namespace hvb {

namespace Webcam = LocalizedString::Webcam;

namespace {

constexpr int kRootWidth = 650;
constexpr int kRootHeight = 450;
constexpr int kCornerRadius = 20;
constexpr int kMicImageMax = 120;
constexpr int kLevelBarHeight = 35;

QColor textGrey() { return QColor(26, 26, 26); }

}  // namespace

WebcamTestViewController::WebcamTestViewController() : appkit::ViewController(nullptr) {
    setObjectName("WebcamTestViewController");
    auto backend = services::CaptureBackend::shared();
    const auto videos = backend->videoInputs();
    const auto audios = backend->audioInputs();
    std::vector<std::string> videoNames, audioNames;
    for (const auto& d : videos) videoNames.push_back(d.name);
    for (const auto& d : audios) audioNames.push_back(d.name);
    cameraVideoFound_ = WebcamTestRules::chooseDevices(videoNames, videoNames).has_value();
    auto chosen = WebcamTestRules::chooseDevices(videoNames, audioNames);
    if (!chosen) return;
    webcam = videos[chosen->first];
    microphone = audios[chosen->second];
    // An input that cannot be made leaves the test without a session, as without devices.
    captureSession_ = backend->makeSession(*webcam, *microphone);
    if (captureSession_) {
        QPointer<WebcamTestViewController> self(this);
        captureSession_->setLevelHandler([self](const std::vector<float>& levels) {
            if (self) self->captureOutput(levels);
        });
    }
}

WebcamTestViewController::~WebcamTestViewController() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
    // The session goes before the views its preview sits in.
    captureSession_.reset();
}

void WebcamTestViewController::loadView() {
    setFixedSize(kRootWidth, kRootHeight);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);

    titleLabel = new QLabel(this);
    titleLabel->setTextFormat(Qt::PlainText);
    QFont titleFont = titleLabel->font();
    titleFont.setPixelSize(16);
    titleLabel->setFont(titleFont);
    QPalette grey = titleLabel->palette();
    grey.setColor(QPalette::WindowText, textGrey());
    titleLabel->setPalette(grey);

    nextBtn = new QPushButton(this);
    nextBtn->setDefault(true);  // Return
    nextBtn->setMinimumWidth(110);
    connect(nextBtn, &QPushButton::clicked, this, [this] { nextBtnDidTap(); });

    streamView = new QWidget(this);
    streamView->setAutoFillBackground(true);
    QPalette dark = streamView->palette();
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    streamView->setPalette(dark);
    auto* streamLayout = new QVBoxLayout(streamView);
    streamLayout->setContentsMargins(0, 0, 0, 0);

    micImage = new QLabel();
    micImage->setScaledContents(true);
    micImage->setPixmap(appkit::Assets::image("mic", QSize(kMicImageMax, kMicImageMax)));
    micTestHint = new QLabel();
    micTestHint->setTextFormat(Qt::PlainText);
    micTestHint->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    micTestHint->setWordWrap(true);
    QFont hintFont = micTestHint->font();
    hintFont.setPixelSize(14);
    micTestHint->setFont(hintFont);
    micTestHint->setPalette(grey);
    voiceProgress = new VolumeProgressView();
}

void WebcamTestViewController::viewDidLoad() {
    micStackView = new QWidget(this);
    auto* row = new QHBoxLayout(micStackView);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const int barWidth = kRootWidth / 2;
    micImage->setFixedSize(kMicImageMax, kMicImageMax);
    micTestHint->setFixedSize(barWidth, kLevelBarHeight);
    voiceProgress->setFixedSize(barWidth, kLevelBarHeight);
    row->addWidget(micImage, 0, Qt::AlignVCenter);
    auto* inner = new QVBoxLayout();
    inner->setSpacing(15);
    inner->addWidget(micTestHint, 0, Qt::AlignLeft);
    inner->addWidget(voiceProgress, 0, Qt::AlignLeft);
    row->addLayout(inner);
    micStackView->setVisible(false);
    applyStepTexts();
    viewWillLayout();
}

// The stream 0.8 of the width at 16:9, centred; the title 20 above it, starting 20 left of
// it; the button 20 below it, ending 20 right of it; the microphone part centred.
void WebcamTestViewController::viewWillLayout() {
    if (!streamView) return;
    const int w = width(), h = height();
    const int streamW = w * 8 / 10;
    const int streamH = streamW * 9 / 16;
    const QRect stream((w - streamW) / 2, (h - streamH) / 2, streamW, streamH);
    streamView->setGeometry(stream);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, streamW, streamH), kCornerRadius, kCornerRadius);
    streamView->setMask(QRegion(rounded.toFillPolygon().toPolygon()));
    titleLabel->adjustSize();
    const int titleH = titleLabel->sizeHint().height();
    titleLabel->setGeometry(stream.left() - 20, std::max(15, stream.top() - 20 - titleH), streamW + 40, titleH);
    const QSize button = nextBtn->sizeHint().expandedTo(QSize(nextBtn->minimumWidth(), 0));
    nextBtn->setGeometry(stream.right() + 1 + 20 - button.width(),
                         std::min(stream.bottom() + 1 + 20, h - 15 - button.height()), button.width(),
                         button.height());
    if (micStackView) {
        const QSize mic = micStackView->sizeHint();
        micStackView->setGeometry((w - mic.width()) / 2, (h - mic.height()) / 2, mic.width(), mic.height());
    }
}

void WebcamTestViewController::applyStepTexts() {
    if (status == TestStatus::videoTest) {
        titleLabel->setText(Webcam::Title::videoTestTitle());
        nextBtn->setText(Webcam::Btn::testMic());
    } else {
        titleLabel->setText(Webcam::Title::audioTestTitle());
        streamView->setVisible(false);
        nextBtn->setText(Webcam::Btn::testFinish());
    }
    micTestHint->setText(Webcam::Msg::micTestHint());
    viewWillLayout();
}

void WebcamTestViewController::viewWillAppear() {
    if (auto* window = hostWindow()) window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    if (!statusToken_) {
        QPointer<WebcamTestViewController> self(this);
        statusToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
            kStatusDidGet, [self](const foundation::Notification&) {
                if (self) self->refresh();
            });
    }
    usageReports()->logScreen("Webcam Test", "WebcamTestViewController");
}

QString WebcamTestViewController::missingDeviceText() const {
    if (cameraVideoFound_) return LocalizedString::Msg::webcamTestNoMicrophone();
    // A camera the toolbox already knows in webcam mode needs no switch: its video device is missing.
    for (const auto& model : DeviceState::shared().modelList())
        if (model && model->isWebcamMode.load()) return LocalizedString::Msg::webcamTestNoVideoDevice();
    return LocalizedString::Msg::webcamTestNoCamera();
}

void WebcamTestViewController::viewDidAppear() {
    if (!webcam || !microphone) {
        // Closed once its showing is over, not from inside it; then the user hears why.
        QPointer<WebcamTestViewController> self(this);
        const QString why = missingDeviceText();
        dispatch::mainQueue().async([self, why] {
            if (!self) return;
            self->dismiss();
            appkit::Alert alert;
            alert.messageText = LocalizedString::Str::error();
            alert.informativeText = why;
            alert.addButtonWithTitle(LocalizedString::Str::ok());
            alert.runModal();
        });
        return;
    }
    if (!captureSession_) return;
    if (QWidget* preview = captureSession_->previewWidget()) {
        if (preview->parentWidget() != streamView) {
            preview->setParent(streamView);
            streamView->layout()->addWidget(preview);
        }
        preview->show();
    }
    captureSession_->startRunning();
}

void WebcamTestViewController::viewWillDisappear() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
    statusToken_ = 0;
    if (captureSession_) captureSession_->stopRunning();
}

void WebcamTestViewController::nextBtnDidTap() {
    if (status == TestStatus::videoTest) {
        status = TestStatus::audioTest;
        applyStepTexts();
        micStackView->setVisible(true);
        viewWillLayout();
        return;
    }
    dismiss();
}

void WebcamTestViewController::refresh() { dismiss(); }

void WebcamTestViewController::dismiss() {
    if (dismissed_) return;
    dismissed_ = true;
    closeDialogWindow(this);
}

void WebcamTestViewController::captureOutput(const std::vector<float>& channelPowerDb) {
    auto progress = WebcamTestRules::levelProgress(channelPowerDb);
    if (progress && voiceProgress) voiceProgress->setProgress(*progress);
}

}  // namespace hvb
