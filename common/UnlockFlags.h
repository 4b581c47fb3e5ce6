#pragma once
// What the openers of the password-entry dialog tell it: opened only to unlock the camera (the
// Setting panel's lock button, the Status panel) rather than as the first step of a format or
// a reset.
// One flag with the shell's, which the Status panel's folder action sets.
#include <atomic>

#include "common/DeviceDialogGlobals.h"

namespace hvb {

inline std::atomic<bool>& isUnlockOnly = passwordEnterFromPanel;

}  // namespace hvb
