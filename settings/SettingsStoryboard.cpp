#include "settings/SettingsStoryboard.h"

#include "platform/appkit/Storyboard.h"
#include "settings/SettingsViewController.h"

namespace hvb {

void registerSettingsControllers() {
    appkit::Storyboard::main().registerController("SettingsViewController", [] { return new SettingsViewController(); });
}

}  // namespace hvb
