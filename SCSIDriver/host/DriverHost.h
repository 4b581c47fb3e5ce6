#pragma once
// The driver host process: the kernel layer with the pass-through driver, a device backend
// (udev + SG_IO, or simulated cameras) and the socket the application talks through.
#include "SCSIDriver/host/HostOptions.h"

namespace hvb::driverhost {

// Serves until SIGTERM, SIGINT or SIGHUP; the process's exit status.
int runHost(const HostOptions& options);
// Sends one control request to the running host and prints its answer.
int runControl(const HostOptions& options);
// 0 when a host answers on the socket.
int runPing(const HostOptions& options);

}  // namespace hvb::driverhost
