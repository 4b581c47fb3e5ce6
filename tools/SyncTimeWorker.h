#pragma once
// The clock sync of the selected camera: the computer's clock to the camera, then the camera's
// clock read back. Blocks (the clock commands pause between writes); run it on a worker. Qt-free.
#include <string>

#include "camera/CameraLink.h"

namespace hvb {

struct SyncTimeOutcome {
    // noCamera: nothing selected, or no record (or no UID) for the selection; nothing was sent.
    enum class Kind { noCamera, success, failure };
    Kind kind = Kind::noCamera;
    // On success: the title line and the camera's clock, or empty when no clock came back.
    std::string message;
};

class SyncTimeWorker {
public:
    // `title` is the localized "Sync time with PC" that heads the success message.
    static SyncTimeOutcome runTimeSync(CameraLink& link, const std::string& title);
};

}  // namespace hvb
