#pragma once
// From a camera's serial number to its driver service, its disk and its volume.
#include <optional>
#include <string>

#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

class DeviceInfoManager {
public:
    static DeviceInfoManager& shared();

    // The first driver service whose "USB Serial Number" contains the text (an empty text
    // matches none); the caller releases it.
    io_service_t driverService(const std::string& serial) const;
    // The camera's volume location (file-URL text); records the device node that has it in the
    // model of that SN.
    std::optional<std::string> mountPoint(const std::string& uid) const;
    // The same without touching the models.
    std::optional<std::string> volumePath(const std::string& uid) const;

private:
    std::optional<std::string> lookUp(const std::string& uid, std::string* node) const;
};

// The volume-location URL of a BSD name or "/dev/" node into `buffer` (at most 127 bytes and a
// zero); false, with the buffer unchanged, when not mounted or when the text does not fit.
bool volumePathForBSDName(const char* bsdName, char (&buffer)[128]);

}  // namespace hvb
