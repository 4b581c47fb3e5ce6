#pragma once
// The system's capture devices for the webcam test: the cameras and microphones it lists, and a
// session that previews one camera and meters one microphone. Behind an interface, so tests
// use a fake backend; the default is Qt Multimedia where it was built, otherwise a backend that
// lists no device.
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace services {

struct CaptureDevice {
    std::string id;
    std::string name;  // the name the system shows for it
};

// One camera and one microphone, previewed and metered while running.
class CaptureSession {
public:
    // The average power of each channel of one audio buffer, in dB below full scale (0 is full
    // scale, silence is minus infinity); called on the main thread.
    using LevelHandler = std::function<void(const std::vector<float>& channelPowerDb)>;

    virtual ~CaptureSession() = default;
    // The live picture; the caller shows it (and may reparent it) while the session lives.
    virtual QWidget* previewWidget() = 0;
    virtual void setLevelHandler(LevelHandler handler) = 0;
    virtual void startRunning() = 0;
    virtual void stopRunning() = 0;
    virtual bool isRunning() const = 0;
};

class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;
    // In the system's order.
    virtual std::vector<CaptureDevice> videoInputs() = 0;
    virtual std::vector<CaptureDevice> audioInputs() = 0;
    // A session for the two devices; none when an input cannot be made.
    virtual std::unique_ptr<CaptureSession> makeSession(const CaptureDevice& video, const CaptureDevice& audio) = 0;

    // The backend the application uses; tests set their own (none: back to the default).
    static std::shared_ptr<CaptureBackend> shared();
    static void setShared(std::shared_ptr<CaptureBackend> backend);
};

// The default backend of this build.
std::shared_ptr<CaptureBackend> makeSystemCaptureBackend();

}  // namespace services
