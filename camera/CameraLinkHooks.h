#pragma once
// What the camera link asks of its neighbours (analytics, the firmware service, the disk-format
// dialog, the string tables). The application sets these at start-up, tests set their own; an
// unset hook does nothing (or gives the stated default).
#include <functional>
#include <map>
#include <string>

#include "camera/CommandTables.h"

namespace hvb {

struct CameraLinkHooks {
    // Analytics: an event name with its text parameters; fire-and-forget.
    std::function<void(const std::string& name, const std::map<std::string, std::string>& params)> sendEvent;
    // Firmware service: true when the camera's version is current (unset: true).
    std::function<bool(const std::string& model, const std::string& currentVersion)> isFirmwareUpToDate;
    // Firmware service: fetch the release notes (blocks; called on a global queue).
    std::function<void()> downloadReleaseNotes;
    // The storage-error disk-format dialog, run on the main queue with its title, the camera's
    // command table and its UID (the dialog formats that camera, not the selected one).
    std::function<void(const std::string& title, const CommandDictionary& table, const std::string& uid)>
        showDiskFormatDialog;
    // A localized text of a string table ("Message", "SD_CARD_ERROR"); unset: the default.
    std::function<std::string(const std::string& table, const std::string& key, const std::string& fallback)>
        localizedString;
};

// A copy of the hooks in force (safe from any thread).
CameraLinkHooks cameraLinkHooks();
void setCameraLinkHooks(CameraLinkHooks hooks);

// Conveniences that call the hook when set.
void sendAnalyticsEvent(const std::string& name, const std::map<std::string, std::string>& params);
std::string localizedString(const std::string& table, const std::string& key, const std::string& fallback);

}  // namespace hvb
