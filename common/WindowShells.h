#pragma once
// Window controllers that exist only so that a window of the storyboard has a controller class.
#include "platform/appkit/Window.h"

namespace hvb {

class SyncTimeWindowController : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
};

class FWUpgradeWindowController : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
};

class PasswordChangeWindowControl : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
};

class UserPermissionWindowController : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
};

}  // namespace hvb
