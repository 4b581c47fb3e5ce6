#include "platform/services/media/QtCaptureBackend.h"

#include <cstdlib>
#include <optional>

#include <QAudioDevice>
#include <QAudioSource>
#include <QCamera>
#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QPointer>
#include <QVideoWidget>

#include "platform/services/media/AudioLevels.h"

namespace services {

namespace {

std::optional<SampleFormat> sampleFormatOf(QAudioFormat::SampleFormat format) {
    switch (format) {
        case QAudioFormat::UInt8: return SampleFormat::unsigned8;
        case QAudioFormat::Int16: return SampleFormat::signed16;
        case QAudioFormat::Int32: return SampleFormat::signed32;
        case QAudioFormat::Float: return SampleFormat::float32;
        default: return std::nullopt;
    }
}

// The format nearest to 640 x 480, the size of a medium-quality preview.
QCameraFormat mediumFormat(const QCameraDevice& device) {
    QCameraFormat best;
    long bestDistance = -1;
    for (const QCameraFormat& format : device.videoFormats()) {
        const QSize size = format.resolution();
        const long distance = std::labs(static_cast<long>(size.width()) * size.height() - 640L * 480L);
        if (bestDistance < 0 || distance < bestDistance) {
            best = format;
            bestDistance = distance;
        }
    }
    return best;
}

class QtCaptureSession : public CaptureSession {
public:
    QtCaptureSession(const QCameraDevice& camera, const QAudioDevice& microphone)
        : camera_(new QCamera(camera)), preview_(new QVideoWidget()) {
        const QCameraFormat format = mediumFormat(camera);
        if (!format.isNull()) camera_->setCameraFormat(format);
        preview_->setAspectRatioMode(Qt::KeepAspectRatioByExpanding);
        session_.setCamera(camera_.get());
        session_.setVideoOutput(preview_.data());
        const QAudioFormat audioFormat = microphone.preferredFormat();
        audio_ = std::make_unique<QAudioSource>(microphone, audioFormat);
        channels_ = audioFormat.channelCount();
        sampleFormat_ = sampleFormatOf(audioFormat.sampleFormat());
    }

    ~QtCaptureSession() override {
        stopRunning();
        session_.setVideoOutput(nullptr);
        session_.setCamera(nullptr);
        // A preview nobody took goes with the session.
        if (preview_ && !preview_->parent()) delete preview_.data();
    }

    bool usable() const { return camera_->isAvailable(); }

    QWidget* previewWidget() override { return preview_.data(); }
    void setLevelHandler(LevelHandler handler) override { handler_ = std::move(handler); }

    void startRunning() override {
        if (running_) return;
        running_ = true;
        camera_->start();
        input_ = audio_->start();
        if (input_) QObject::connect(input_, &QIODevice::readyRead, input_, [this] { meter(); });
    }

    void stopRunning() override {
        if (!running_) return;
        running_ = false;
        if (input_) QObject::disconnect(input_, nullptr, nullptr, nullptr);
        input_ = nullptr;
        audio_->stop();
        camera_->stop();
    }

    bool isRunning() const override { return running_; }

private:
    void meter() {
        if (!input_) return;
        const QByteArray bytes = input_->readAll();
        if (!handler_ || !sampleFormat_) return;
        auto levels = channelPowerDb(
            std::span<const std::byte>(reinterpret_cast<const std::byte*>(bytes.constData()), bytes.size()),
            channels_, *sampleFormat_);
        if (!levels.empty()) handler_(levels);
    }

    QMediaCaptureSession session_;
    std::unique_ptr<QCamera> camera_;
    QPointer<QVideoWidget> preview_;
    std::unique_ptr<QAudioSource> audio_;
    QPointer<QIODevice> input_;
    int channels_ = 0;
    std::optional<SampleFormat> sampleFormat_;
    LevelHandler handler_;
    bool running_ = false;
};

}  // namespace

std::vector<CaptureDevice> QtCaptureBackend::videoInputs() {
    std::vector<CaptureDevice> devices;
    for (const QCameraDevice& device : QMediaDevices::videoInputs())
        devices.push_back({device.id().toStdString(), device.description().toStdString()});
    return devices;
}

std::vector<CaptureDevice> QtCaptureBackend::audioInputs() {
    std::vector<CaptureDevice> devices;
    for (const QAudioDevice& device : QMediaDevices::audioInputs())
        devices.push_back({device.id().toStdString(), device.description().toStdString()});
    return devices;
}

std::unique_ptr<CaptureSession> QtCaptureBackend::makeSession(const CaptureDevice& video, const CaptureDevice& audio) {
    std::optional<QCameraDevice> camera;
    for (const QCameraDevice& device : QMediaDevices::videoInputs())
        if (device.id().toStdString() == video.id) camera = device;
    std::optional<QAudioDevice> microphone;
    for (const QAudioDevice& device : QMediaDevices::audioInputs())
        if (device.id().toStdString() == audio.id) microphone = device;
    if (!camera || !microphone) return nullptr;
    auto session = std::make_unique<QtCaptureSession>(*camera, *microphone);
    if (!session->usable()) return nullptr;
    return session;
}

}  // namespace services
