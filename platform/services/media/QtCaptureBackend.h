#pragma once
// The capture devices of Qt Multimedia: a camera previewed in a video widget and a microphone
// whose buffers are metered per channel.
#include "platform/services/media/CaptureBackend.h"

namespace services {

class QtCaptureBackend : public CaptureBackend {
public:
    std::vector<CaptureDevice> videoInputs() override;
    std::vector<CaptureDevice> audioInputs() override;
    std::unique_ptr<CaptureSession> makeSession(const CaptureDevice& video, const CaptureDevice& audio) override;
};

}  // namespace services
