#pragma once
// The window controllers of the long device dialogs in the storyboard "Main": each builds a
// window holding its dialog and has no behaviour of its own.
#include "platform/appkit/Window.h"

namespace hvb {

class PasswordSettingWindowController : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
    appkit::Window* makeWindow() override;
};

class DiskFormatWindowControl : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
    appkit::Window* makeWindow() override;
};

class ResetDefaultWindowController : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
    appkit::Window* makeWindow() override;
};

class ResetAllWindowController : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
    appkit::Window* makeWindow() override;
};

}  // namespace hvb
