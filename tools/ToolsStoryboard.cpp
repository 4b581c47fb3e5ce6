#include "tools/ToolsStoryboard.h"

#include "common/ControllerFactory.h"
#include "common/WindowShells.h"
#include "platform/appkit/Storyboard.h"
#include "tools/DeviceDialogWindows.h"
#include "tools/EditViewController.h"
#include "tools/FWUpgradeViewController.h"
#include "tools/HVBToolViewController.h"
#include "tools/MSDCRecoverMsgViewController.h"
#include "tools/PasswordEnterViewControl.h"
#include "tools/PasswordEnterWindowController.h"
#include "tools/SyncTimeViewController.h"
#include "tools/WebcamTestViewController.h"

namespace hvb {

void registerToolControllers() {
    auto& storyboard = appkit::Storyboard::main();
    storyboard.registerController("HVBToolViewController", [] { return new HVBToolViewController(); });
    storyboard.registerController("SyncTimeWindowController", [] {
        // The shell's class builds no window: this one holds the dialog and goes when it closes.
        auto* window = new appkit::Window(new SyncTimeViewController());
        window->setAttribute(Qt::WA_DeleteOnClose);
        return new SyncTimeWindowController(window);
    });
    storyboard.registerController("FWUpgradeWindowController", [] {
        auto* window = new appkit::Window(new FWUpgradeViewController());
        window->setAttribute(Qt::WA_DeleteOnClose);
        return new FWUpgradeWindowController(window);
    });
    storyboard.registerController("PasswordEnterWindowController", [] { return new PasswordEnterWindowController(); });
    storyboard.registerController("PasswordEnterViewController", [] { return new PasswordEnterViewControl(); });
    storyboard.registerController("PasswordSettingWindowController", [] { return new PasswordSettingWindowController(); });
    storyboard.registerController("DiskFormatWindowControl", [] { return new DiskFormatWindowControl(); });
    storyboard.registerController("ResetDefaultWindowController", [] { return new ResetDefaultWindowController(); });
    storyboard.registerController("ResetAllWindowController", [] { return new ResetAllWindowController(); });

    auto& factory = ControllerFactory::shared();
    factory.registerController("MSDCRecoverMsgViewController", [] { return new MSDCRecoverMsgViewController(); });
    factory.registerController("WebcamTestViewController", [] { return new WebcamTestViewController(); });
    factory.registerEditViewController([](const StatusModel& status, EditViewControllerDelegate* delegate) {
        auto* edit = new EditViewController(status);
        edit->setDelegate(delegate);
        return edit;
    });
}

}  // namespace hvb
