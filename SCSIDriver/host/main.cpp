// com_brevantis_driver_HVBSCSIDriver: the driver host, and its small client commands.
#include <stdlib.h>

#include <iostream>
#include <string>
#include <vector>

#include "SCSIDriver/host/DriverHost.h"

int main(int argc, char** argv) {
    using namespace hvb::driverhost;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    auto options = parseArguments(arguments, &error);
    if (!options) {
        std::cerr << kHostName << ": " << error << "\n" << usage();
        return 64;
    }
    if (options->mode == Mode::help) {
        std::cout << usage();
        return 0;
    }
    // Everything in this process (sockets, pid file, log, volumes) lives under the one root.
    ::setenv("HVB_ROOT", options->root.c_str(), 1);
    switch (options->mode) {
        case Mode::ping: return runPing(*options);
        case Mode::control: return runControl(*options);
        default: break;
    }
    if (!applyConfigFile(*options, &error)) {
        std::cerr << kHostName << ": " << error << "\n";
        return 78;
    }
    return runHost(*options);
}
