#pragma once
// The UID of the camera the running dialog works on: set by each dialog's worker before it
// acts, read by the re-detection of the rebooted camera. Safe from any thread; Qt-free.
#include <string>

namespace hvb {

std::string currentDeviceUID();
void setCurrentDeviceUID(std::string uid);

}  // namespace hvb
