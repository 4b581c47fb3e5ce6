#include "common/DeviceDialogGlobals.h"

#include "platform/appkit/StoryboardWindow.h"

namespace hvb {

CommandDictionary activeCommandTable;
std::atomic<bool> passwordEnterFromPanel{false};
bool passwordEnterForUpgrade = false;
bool passwordEnterUnlocked = false;
std::string latestFirmwareVersion;
uint8_t firmwareUpgradeState = 0;
QPointer<appkit::Window> firmwareUpgradeWindow;
int diskFormatResult = kDiskFormatNone;
QPointer<appkit::Window> diskFormatWindow;
std::optional<DiskFormatTarget> diskFormatTarget;
QString diskFormatTitleString;

void runDiskFormatDialog(const std::string& uid, const CommandDictionary& table, const QString& title) {
    // The dialog takes its camera and title as it loads.
    diskFormatResult = kDiskFormatNone;
    diskFormatTarget = DiskFormatTarget{uid, table};
    diskFormatTitleString = title;
    if (!appkit::runModalWindowFromStoryboard("DiskFormatWindowControl", "No controller for DiskFormatWindowControl",
                                              &diskFormatWindow)) {
        diskFormatTarget.reset();
        diskFormatTitleString.clear();
    }
}

}  // namespace hvb
