#pragma once
// Whatever root runs in these tests (the scripts, the uninstall, a host) runs through
// private_system.sh beside this file, so that no fault of it reaches the machine.
#include <string>
#include <vector>

#include "platform/foundation/Process.h"

namespace hosttest {

// A command line that runs `command` there.
inline std::vector<std::string> inPrivateSystem(std::vector<std::string> command) {
    command.insert(command.begin(), HVB_TEST_SOURCE_DIR "/tests/SCSIDriver/private_system.sh");
    return command;
}

// A process runner (an administrator run's) that runs everything there.
inline foundation::ProcessResult runInPrivateSystem(const std::vector<std::string>& command,
                                                    const foundation::ProcessOptions& options) {
    return foundation::runProcess(inPrivateSystem(command), options);
}

}  // namespace hosttest
