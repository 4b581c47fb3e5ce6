#pragma once
// Process-wide values the Status panel shares with the device dialogs it opens (disk format,
// password entry, firmware upgrade). Openers set them right before a dialog opens; the dialogs
// read and change them. Main thread only.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include <QPointer>

#include "camera/CommandTables.h"
#include "platform/appkit/Window.h"

namespace hvb {

// The command table of the camera a device dialog works on.
extern CommandDictionary activeCommandTable;

// The password-entry dialog: opened from the panel's folder action, or for an upgrade; true
// after the camera accepted the password.
// The first is also the "unlock only" flag of the other openers (common/UnlockFlags.h).
extern std::atomic<bool> passwordEnterFromPanel;
extern bool passwordEnterForUpgrade;
extern bool passwordEnterUnlocked;

// The newest firmware version the firmware service reported to the upgrade action; the
// firmware-upgrade dialog reads it. Main thread only.
extern std::string latestFirmwareVersion;

// The firmware-upgrade dialog's state (0 before each opening) and its window while shown.
extern uint8_t firmwareUpgradeState;
extern QPointer<appkit::Window> firmwareUpgradeWindow;

// The disk-format dialog's result (0 none, 1 formatted, 2 failed) and its window.
enum : int { kDiskFormatNone = 0, kDiskFormatDone = 1, kDiskFormatFailed = 2 };
extern int diskFormatResult;
extern QPointer<appkit::Window> diskFormatWindow;
// The camera the disk-format dialog formats, named by whoever opens it (the Tool panel and a
// Status row: the chosen camera; the plug-in read: the camera with the storage error), and the
// title that opener gives it (empty: the dialog's own). The dialog takes both as it loads.
struct DiskFormatTarget {
    std::string uid;
    CommandDictionary table;
};
extern std::optional<DiskFormatTarget> diskFormatTarget;
extern QString diskFormatTitleString;

// Runs the disk-format dialog modally for the camera `uid` with its command table and title
// (empty: the dialog's own); returns once it closed. Without the dialog in the storyboard
// nothing opens and the target and title are withdrawn.
void runDiskFormatDialog(const std::string& uid, const CommandDictionary& table, const QString& title);

}  // namespace hvb
