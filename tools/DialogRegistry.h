#pragma once
// The device dialogs' shared state: the window slot and state byte of each long-running dialog
// (a state byte is 0 at the question, 1 to show success, 2 to show failure), the command table
// and camera the running dialog works on, and the unlock dialog's flags. Several of them are the
// application shell's own values, which the Status panel sets, under the names the dialogs use.
// Slots, bytes and flags are main-thread only; currentDeviceUID is safe from any thread.
#include <cstdint>
#include <optional>
#include <string>

#include <QPointer>

#include "camera/CommandTables.h"
#include "common/DeviceDialogGlobals.h"
#include "common/UnlockFlags.h"
#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"
#include "tools/CurrentDeviceUID.h"

namespace hvb {

// ---- the command table the dialogs take their codes from ----
inline CommandDictionary& selectedCmdDic = activeCommandTable;

// ---- window slots and state bytes ----
inline QPointer<appkit::Window>& fwUpgradeWindow = firmwareUpgradeWindow;
inline uint8_t& fwUpgradeState = firmwareUpgradeState;
// The disk-format dialog's slot is the shell's diskFormatWindow.
inline int& diskFormatState = diskFormatResult;
extern QPointer<appkit::Window> resetDefaultWindow;
extern uint8_t resetDefaultState;
extern QPointer<appkit::Window> resetAllWindow;
extern uint8_t resetAllState;
extern QPointer<appkit::Window> passwordSettingWindow;
extern uint8_t passwordSettingState;
// Why the re-detection's result is a failure, when it knows (said below "Fail"); empty: it does
// not. Set with the state byte as the fresh dialog opens.
extern QString resultCause;
// 0 set, 1 change, 2 disable.
extern uint8_t passwordSettingMode;
// The UID of the camera the next reset dialog works on, when its opener names one (the Tool
// panel does, since the unlock dialog before it may reboot the camera); the dialog takes it as
// it loads. None: the selected camera.
extern std::optional<std::string> dialogTargetUID;

// ---- the unlock dialog ----
// isUnlockOnly (settings/UnlockFlags.h), the shell's passwordEnterFromPanel: true, a correct
// password opens the camera's storage; false, it removes the password.
inline bool& isUnlockForUpgrade = passwordEnterForUpgrade;
// The unlock dialog's verdict, read by its opener after the modal run.
inline bool& isPasswordVerified = passwordEnterUnlocked;


// The storyboard identifiers of the long-running dialogs.
inline constexpr const char* kResetAllWindowController = "ResetAllWindowController";
inline constexpr const char* kPasswordSettingWindowController = "PasswordSettingWindowController";
inline constexpr const char* kDiskFormatWindowControl = "DiskFormatWindowControl";
inline constexpr const char* kResetDefaultWindowController = "ResetDefaultWindowController";
inline constexpr const char* kFWUpgradeWindowController = "FWUpgradeWindowController";
inline constexpr const char* kPasswordEnterWindowController = "PasswordEnterWindowController";

// Instantiates the window controller of `identifier` from the storyboard "Main", keeps its
// window in `slot` (when given), wraps the window in a fresh controller and runs the application
// modally for it. Returns when the dialog ended its session; false, with the slot cleared and a
// line printed, when the storyboard has no window controller of that identifier.
bool runDialogFromStoryboard(const std::string& identifier, QPointer<appkit::Window>* slot = nullptr);

// Closes the window the controller is shown in and ends the modal session run for that window,
// when one runs for it as the innermost session (a window presented without a session of its
// own only closes).
void closeDialogWindow(appkit::ViewController* controller);

}  // namespace hvb
