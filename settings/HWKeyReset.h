#pragma once
// The write behind the hardware-key-reset radios (reset through the function buttons off or
// on), up to the camera's answer. Runs on a worker; the panel shows the result.
#include <cstdint>
#include <string>

#include "camera/CommandTables.h"

namespace hvb {

class CameraLink;
class UsageReports;

struct HWKeyResetRequest {
    int64_t selectedDeviceIndex = -1;
    std::string uid;
    CommandDictionary cmdDic;
    int tag = 0;  // the value written: 0 off, 1 on
};

struct HWKeyResetResult {
    enum class Kind { noCamera, written, failed };
    Kind kind = Kind::noCamera;
    std::string key;
    std::string action;
    std::string label;
};

class HWKeyReset {
public:
    // "Reset Using Function Buttons " and DISABLE or ENABLE.
    static std::string action(int tag);
    static HWKeyResetResult perform(CameraLink& link, UsageReports& reports, const HWKeyResetRequest& request);
};

}  // namespace hvb
