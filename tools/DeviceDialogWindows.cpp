#include "tools/DeviceDialogWindows.h"

#include "tools/DiskFormatViewControl.h"
#include "tools/PasswordSettingViewControl.h"
#include "tools/ResetAllViewController.h"
#include "tools/ResetDefaultViewController.h"

namespace hvb {

appkit::Window* PasswordSettingWindowController::makeWindow() {
    return new appkit::Window(new PasswordSettingViewControl());
}

appkit::Window* DiskFormatWindowControl::makeWindow() { return new appkit::Window(new DiskFormatViewControl()); }

appkit::Window* ResetDefaultWindowController::makeWindow() {
    return new appkit::Window(new ResetDefaultViewController());
}

appkit::Window* ResetAllWindowController::makeWindow() { return new appkit::Window(new ResetAllViewController()); }

}  // namespace hvb
