#include "tools/PasswordEnterWindowController.h"

#include "tools/PasswordEnterViewControl.h"

namespace hvb {

appkit::Window* PasswordEnterWindowController::makeWindow() {
    return new appkit::Window(new PasswordEnterViewControl());
}

}  // namespace hvb
