#include "app/DeviceDialogGlobals.h"

namespace hvb {

CommandDictionary activeCommandTable;
std::atomic<bool> passwordEnterFromPanel{false};
bool passwordEnterForUpgrade = false;
bool passwordEnterUnlocked = false;
uint8_t firmwareUpgradeState = 0;
QPointer<appkit::Window> firmwareUpgradeWindow;
int diskFormatResult = kDiskFormatNone;
QPointer<appkit::Window> diskFormatWindow;
std::optional<DiskFormatTarget> diskFormatTarget;
QString diskFormatTitleString;

}  // namespace hvb
