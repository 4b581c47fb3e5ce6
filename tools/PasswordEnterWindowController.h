#pragma once
// The unlock dialog's window controller: its window holds the unlock dialog.
#include "platform/appkit/Window.h"

namespace hvb {

class PasswordEnterWindowController : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
    appkit::Window* makeWindow() override;
};

}  // namespace hvb
