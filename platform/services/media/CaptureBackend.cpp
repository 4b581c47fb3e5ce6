#include "platform/services/media/CaptureBackend.h"

#include <mutex>

#ifdef HVB_HAVE_QT_MULTIMEDIA
#include "platform/services/media/QtCaptureBackend.h"
#endif

namespace services {

namespace {

// A build without Qt Multimedia has no capture device.
class NoCaptureBackend : public CaptureBackend {
public:
    std::vector<CaptureDevice> videoInputs() override { return {}; }
    std::vector<CaptureDevice> audioInputs() override { return {}; }
    std::unique_ptr<CaptureSession> makeSession(const CaptureDevice&, const CaptureDevice&) override {
        return nullptr;
    }
};

std::mutex& backendLock() {
    static std::mutex m;
    return m;
}
std::shared_ptr<CaptureBackend>& storedBackend() {
    static std::shared_ptr<CaptureBackend> backend;
    return backend;
}

}  // namespace

std::shared_ptr<CaptureBackend> makeSystemCaptureBackend() {
#ifdef HVB_HAVE_QT_MULTIMEDIA
    return std::make_shared<QtCaptureBackend>();
#else
    return std::make_shared<NoCaptureBackend>();
#endif
}

std::shared_ptr<CaptureBackend> CaptureBackend::shared() {
    std::lock_guard<std::mutex> guard(backendLock());
    if (!storedBackend()) storedBackend() = makeSystemCaptureBackend();
    return storedBackend();
}

void CaptureBackend::setShared(std::shared_ptr<CaptureBackend> backend) {
    std::lock_guard<std::mutex> guard(backendLock());
    storedBackend() = std::move(backend);
}

}  // namespace services
