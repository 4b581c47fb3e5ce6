#pragma once
// What the application wires up before its window loads: the one-toolbox lock, the storyboard's
// controllers, the camera link's hooks into the application, and the updater.
#include <string>

namespace hvb {

// Taken first thing: true when no other toolbox of this user runs (its lock file and its
// instance socket are then held until the process ends); otherwise the user is told the toolbox is already running and false comes
// back, with nothing else touched.
bool claimSingleInstance();
// The abstract socket name (with its leading NUL) a toolbox of this user and settings folder
// holds while it runs.
std::string instanceSocketName();
// Registers the controllers of the application shell in the storyboard "Main".
void registerAppControllers();
// Points the camera link at analytics, the firmware service, the string tables and the
// disk-format dialog.
void installCameraLinkHooks();
// Gives the self-update its alert, browser, string tables and the user's languages.
void installUpdateHooks();

}  // namespace hvb
