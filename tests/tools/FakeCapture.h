#pragma once
// A capture backend with the devices a test lists and sessions whose picture is a drawing and
// whose levels the test feeds.
#include <memory>

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>

#include "platform/services/media/CaptureBackend.h"

namespace toolstest {

class FakeCaptureSession : public services::CaptureSession {
public:
    FakeCaptureSession() : preview_(new QLabel()) {
        preview_->setScaledContents(true);
        preview_->setPixmap(frame());
    }
    ~FakeCaptureSession() override {
        if (preview_ && !preview_->parent()) delete preview_.data();
    }
    QWidget* previewWidget() override { return preview_.data(); }
    void setLevelHandler(LevelHandler handler) override { handler_ = std::move(handler); }
    void startRunning() override { *running_ = true; }
    void stopRunning() override { *running_ = false; }
    bool isRunning() const override { return *running_; }
    // Outlives the session, for tests that look after the window went.
    std::shared_ptr<bool> runningFlag() const { return running_; }
    // One audio buffer's levels, as the system would deliver them.
    void feed(const std::vector<float>& levels) {
        if (handler_) handler_(levels);
    }

    // A test picture: sky, ground, a sun.
    static QPixmap frame() {
        QPixmap pixmap(640, 360);
        QPainter p(&pixmap);
        QLinearGradient sky(0, 0, 0, 240);
        sky.setColorAt(0, QColor(70, 130, 200));
        sky.setColorAt(1, QColor(170, 210, 240));
        p.fillRect(0, 0, 640, 240, sky);
        p.fillRect(0, 240, 640, 120, QColor(90, 140, 70));
        p.setBrush(QColor(250, 210, 80));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(480, 90), 40, 40);
        p.setPen(Qt::white);
        QFont font = p.font();
        font.setPixelSize(22);
        p.setFont(font);
        p.drawText(QRect(20, 300, 400, 40), Qt::AlignLeft | Qt::AlignVCenter, "HVB R7 Camera");
        return pixmap;
    }

private:
    QPointer<QLabel> preview_;
    LevelHandler handler_;
    std::shared_ptr<bool> running_ = std::make_shared<bool>(false);
};

class FakeCaptureBackend : public services::CaptureBackend {
public:
    std::vector<services::CaptureDevice> videos;
    std::vector<services::CaptureDevice> audios;
    bool failSessions = false;
    FakeCaptureSession* lastSession = nullptr;  // owned by the test window

    std::vector<services::CaptureDevice> videoInputs() override { return videos; }
    std::vector<services::CaptureDevice> audioInputs() override { return audios; }
    std::unique_ptr<services::CaptureSession> makeSession(const services::CaptureDevice&,
                                                          const services::CaptureDevice&) override {
        if (failSessions) return nullptr;
        auto session = std::make_unique<FakeCaptureSession>();
        lastSession = session.get();
        return session;
    }
};

}  // namespace toolstest
