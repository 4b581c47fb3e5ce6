#pragma once
// Every fixed text the screens show comes from one of four string tables of the application's
// resources ("CommonString", "Message", "WebcamString", "Copyright"), by its English key.
// Each text is looked up on its first read (thread-safe, once) and kept for the life of the
// process, so screens that rebuild themselves often read stored texts.
#include <span>

#include <QString>

namespace hvb {

// The texts of each table, one line per key in declaration order: X(name, key, comment).
// The comment is the translators' note; it is the key itself unless the key is an identifier
// or the text needs a hint.
#define HVB_COMMON_STRINGS(X) \
    X(hr24, "24HR", "24HR") \
    X(hz50, "50 Hz", "50 Hz") \
    X(hz60, "60 Hz", "60 Hz") \
    X(amPm, "AM/PM", "AM/PM") \
    X(autoMode, "Auto", "Auto") \
    X(cancel, "Cancel", "Cancel") \
    X(change, "Change", "Change") \
    X(changePassword, "Change Password", "Change Password") \
    X(ok, "OK", "OK") \
    X(dateFormat, "Date Format", "Date Format") \
    X(device, "Device", "Device") \
    X(deviceSettings, "Device Settings", "Device Settings") \
    X(ddmmyyyy, "DD/MM/YYYY", "DD/MM/YYYY") \
    X(downloadFailed, "Download failed.", "Download failed") \
    X(downloading, "Downloading...", "Downloading...") \
    X(error, "Error", "Error") \
    X(fail, "Fail", "Fail") \
    X(format, "Format", "Format") \
    X(formatDisk, "Format Disk", "Format Disk") \
    X(lightFrequency, "Light Frequency", "Light Frequency") \
    X(firmwareUpgrade, "Firmware Upgrade", "Firmware Upgrade") \
    X(infraredLED, "Infrared LED", "Infrared LED") \
    X(latestFWVer, "Latest FW Ver", "Latest FW Ver") \
    X(loopRecording, "Loop Recording", "Loop Recording") \
    X(manual, "Manual", "Manual") \
    X(mmddyyyy, "MM/DD/YYYY", "MM/DD/YYYY") \
    X(microphone, "Microphone", "Microphone") \
    X(mins, "mins", "mins") \
    X(off, "OFF", "OFF") \
    X(on, "ON", "ON") \
    X(confirmPassword, "Confirm Password", "Confirm Password") \
    X(incorrectPassword, "Incorrect Password.", "Incorrect Password.") \
    X(newPassword, "New Password", "New Password") \
    X(originalPassword, "Original Password", "Original Password") \
    X(passwordCorrect, "Password Correct !", "Password Correct !") \
    X(password, "Password", "Password") \
    X(reset, "Reset", "Reset") \
    X(resetDevice, "Reset Device", "Reset Device") \
    X(resolution, "Resolution", "Resolution") \
    X(set, "Set", "Set") \
    X(settings, "Settings", "Settings") \
    X(videoStamp, "Video Stamp", "Video Stamp") \
    X(status, "Status", "Status") \
    X(success, "Success", "Success") \
    X(timeFormat, "Time Format", "Time Format") \
    X(tools, "Tools", "Tools") \
    X(upgradeFailed, "Upgrade failed", "Upgrade failed") \
    X(upgrading, "Upgrading...", "Upgrading...") \
    X(version, "Version", "Version") \
    X(videoLength, "Video Length", "Video Length") \
    X(videoSettings, "Video Settings", "Video Settings") \
    X(yyyymmdd, "YYYY/MM/DD", "YYYY/MM/DD") \
    X(bufferedVideoLength, "Buffered Video Length", "Buffered Video Length") \
    X(watermark, "Watermark", "Watermark") \
    X(stealthMode, "Stealth Mode", "Stealth Mode") \
    X(defaultRecordingMode, "Default Recording Mode", "Default Recording Mode") \
    X(imageStabilization, "Image Stabilization", "Image Stabilization") \
    X(eraseAllContentsAndSettings, "Erase All Contents and Settings", "Erase All Contents and Settings") \
    X(ledIndicator, "LED Indicator", "LED Indicator") \
    X(buzzer, "Buzzer", "Buzzer") \
    X(seconds, "Seconds", "Seconds") \
    X(resetUsingFunctionButtons, "Reset Using Function Buttons", "Reset Using Function Buttons") \
    X(bufferingMode, "Buffering mode", "Buffering mode") \
    X(recordingMode, "Recording mode", "Recording mode") \
    X(resetAllSettings, "Reset All Settings", "Reset All Settings") \
    X(userLabel, "User label", "User label") \
    X(snapshotButton, "Snapshot Button", "Snapshot Button") \
    X(audioRecording, "Audio Recording", "Audio Recording") \
    X(audioSampleRate, "Audio Sample Rate", "Audio Sample Rate") \
    X(hz48000, "48000 Hz", "48000 Hz") \
    X(hz44100, "44100 Hz", "44100 Hz") \
    X(hz32000, "32000 Hz", "32000 Hz") \
    X(hz24000, "24000 Hz", "24000 Hz") \
    X(hz22050, "22050 Hz", "22050 Hz") \
    X(syncTimeWithPC, "Sync time with PC", "Sync time with PC") \
    X(doYouWantToUpgradeNow, "Do you want to upgrade now?", "Do you want to upgrade now?") \
    X(information, "Information", "Information") \
    X(attention, "Attention", "Attention") \
    X(insertDeviceFirst, "Please insert Brevantis Halvetor Body device first.", "Please insert Brevantis Halvetor Body device first.") \
    X(openSecurityPreferences, "Open Security Preferences", "Open Security Preferences") \
    X(wifiFunction, "Wi-Fi function", "Wi-Fi function") \
    X(timeZone, "Time Zone", "Time Zone") \
    X(videoFormat, "Video Format", "Video Format") \
    X(teamSync, "Team Sync", "Team Sync") \
    X(leader, "Leader", "Leader") \
    X(deviceLocked, "Your device is locked, please unlock it with Halvetor Body toolbox.", "Your device is locked, please unlock it with toolbox") \
    X(disable, "Disable", "Disable") \
    X(setAPassword, "Set a password", "Set a password") \
    X(disablePassword, "Disable password", "Disable password") \
    X(passwordSettingUnlock, "PasswordSetting.Unlock", "Unlock") \
    X(erase, "Erase", "Erase") \
    X(vibrator, "Vibrator", "Vibrator") \
    X(bufferingRecordingAudio, "Buffering Recording Audio", "Buffering Recording Audio") \
    X(forgotPassword, "Forgot Password?", "Forgot Password?") \
    X(attempts, "Attempts", "Attempts") \
    X(unlockDevice, "Unlock device", "Unlock device") \
    X(disablePasswordBeforeUpgrade, "Before FW upgrade should disable password", "Before FW upgrade should disable password") \
    X(versionHistory, "Version History", "Version History") \
    X(edit, "Edit", "Edit")

#define HVB_MESSAGE_STRINGS(X) \
    X(areYouSureToContinue, "Are you sure you want to continue?", "Are you sure you want to continue?") \
    X(incorrectPasswordConfirmation, "Incorrect password confirmation.", "Incorrect password confirmation.") \
    X(allDataErased, "All data will be permanently erased.", "All data will be permanently erased.") \
    X(allSettingsReset, "All settings will be reset to default.", "All settings will be reset to default.") \
    X(pleaseWait, "Please wait...", "Please wait...") \
    X(pleaseUpdateFirmware, "Please update firmware.", "Please update firmware.") \
    X(settingsReset, "Settings will be reset to default.", "Settings will be reset to default.") \
    X(pressButtonsToFormatAndReset, "Press the Power and Snapshot buttons at the same time for 5 seconds to format and reset the device.", "Press buttons to format and reset") \
    X(multipleDevicesDetected, "Multiple devices detected! Please use only one device.", "Multiple devices detected! Please use only one device.") \
    X(newDriverReady, "A new driver version is ready for installation. Please make sure you have unplugged the Halvetor Body.", "A new driver version is ready for installation. Please make sure you have unplugged the Halvetor Body.") \
    X(deviceNotRemoved, "Looks like your Halvetor Body has not been removed. Please check again.", "Looks like your Halvetor Body has not been removed. Please check again.") \
    X(allowSystemSoftware, "If the device still can't be detected, please confirm that the system software from developer \"Brevantis\" has been allowed.", "If the device still can't be detected, please confirm that the system software from developer \"Brevantis\" has been allowed.") \
    X(fiveAttemptsWarning, "After five failed attempts to enter your password, you need to erase the device, which deletes your data and settings, including your password.", "After five failed attempts to enter your password, you need to erase the device, which deletes your data and settings, including your password.") \
    X(fiveAttemptsFailed, "Five failed password attempts. If you can’t remember your password, you need to erase your Halvetor Body, which deletes your data and settings, including the password.", "Five failed password attempts. If you can’t remember your password, you need to erase your Halvetor Body, which deletes your data and settings, including the password.") \
    X(passwordRule, "8~16 Characters with no space", "8~16 Characters with no space") \
    X(passwordSetHint, "Once password is set, you can only open the drive via Halvetor Body toolbox.", "Once password is set, you can only open the drive via Halvetor Body toolbox.") \
    X(passwordRemovedHint, "Once password is removed, the drive will not be protected.", "Once password is removed, the drive will not be protected.") \
    X(getLatestSoftware, "Get the latest software version from Brevantis website.", "Get the latest software version from Brevantis website.") \
    X(sdCardError, "SD_CARD_ERROR", "Storage error, please format device.") \
    X(labelLimit, "Up to %1 characters", "The longest user label a camera stores; %1 is a number") \
    X(labelLimitCyrillic, "Up to %1 characters, %2 in Cyrillic", "The longest user label in Latin letters (%1) and in Cyrillic (%2)") \
    X(driverLoadedError, "Driver loaded error", "Driver loaded error") \
    X(restartToMakeDriverWork, "Please restart computer to make sure driver work.", "Please restart computer to make sure driver work.") \
    X(adminProgramMissing, "%1, the program that asks for administrator rights, is not installed. Install it, then start the toolbox again.", "Why the driver was not installed; %1 is a program name") \
    X(adminRequestCancelled, "The request for administrator rights was cancelled. Start the toolbox again and confirm with your password to install the driver.", "Why the driver was not installed") \
    X(adminRightsRefused, "Administrator rights were refused. Start the toolbox again with an account that may install the driver.", "Why the driver was not installed") \
    X(installNotStarted, "The driver installation could not be started: %1", "Why the driver was not installed; %1 is the system's reason") \
    X(installFailed, "The driver installation failed: %1", "Why the driver was not installed; %1 is the installer's last error line") \
    X(installFailedWithStatus, "The driver installation failed (exit status %1).", "Why the driver was not installed; %1 is a number") \
    X(installLeftNoDriver, "The driver installation ended, but the driver is not in place.", "Why the driver was not installed") \
    X(driverHostRefused, "The camera driver is running but does not let the toolbox in.", "Title when the driver host turned the toolbox away") \
    X(driverHostNotAdmitted, "Your account may not use the camera driver yet. If it was just added to the driver's group, log out and log in again.", "Why the driver host turned the toolbox away") \
    X(driverHostSocketNotPermitted, "The camera driver is running, but your account may not use it. Ask an administrator to add it to the group \"%1\", then log out and log in again.", "Why the driver host turned the toolbox away; %1 is a group name") \
    X(driverHostUserShareFull, "Too many programs of your account are connected to the camera driver. Close those you do not need: the cameras appear as soon as the driver lets the toolbox in.", "Why the driver host turned the toolbox away") \
    X(driverHostFull, "The camera driver serves as many programs as it can. The cameras appear as soon as it lets the toolbox in.", "Why the driver host turned the toolbox away") \
    X(driverStopped, "The camera driver stopped.", "Title of the offer to start the driver again") \
    X(driverStoppedDetails, "No camera can be found while it is stopped. Start it again? You will be asked for an administrator password.", "Offer to start the driver again") \
    X(startDriver, "Start Driver", "Button of the offer to start the driver again") \
    X(notNow, "Not Now", "Button of the offer to start the driver again") \
    X(driverNotRunning, "The camera driver is not running: no camera can be found until it is started.", "Status panel, while the driver is known to be stopped") \
    X(driverStarting, "Starting the camera driver…", "Status panel, while the driver is being started") \
    X(installFromUserCopy, "This copy of the toolbox cannot install the camera driver: %1 is not owned by the administrator or may be changed by other users. The toolbox installed system-wide by an administrator (for example under /usr/local, or from a package) installs the driver.", "Why the driver was not installed; %1 is a file or folder") \
    X(openFolderNoFileManager, "The camera's folder %1 could not be opened: no file manager is set up to open folders.", "%1 is a folder") \
    X(openFolderFailed, "The camera's folder %1 could not be opened: %2", "%1 is a folder, %2 the system's reason") \
    X(renameButton, "Rename", "Accessible name of the Status row's pencil button") \
    X(renameButtonTip, "Change the camera's user label", "Tooltip of the Status row's pencil button") \
    X(findCameraButton, "Find Camera", "Accessible name of the Status row's speaker button") \
    X(findCameraButtonTip, "Sound the camera's buzzer so you can find it", "Tooltip of the Status row's speaker button") \
    X(openFolderButton, "Open Folder", "Accessible name of the Status row's folder button") \
    X(openFolderButtonTip, "Open the camera's folder", "Tooltip of the Status row's folder button") \
    X(unlockCameraButton, "Unlock Camera", "Accessible name of the lock buttons of a locked camera") \
    X(unlockToOpenFolderTip, "Unlock the camera to open its folder", "Tooltip of the Status row's lock button") \
    X(unlockToChangeSettingsTip, "Unlock the camera to change its settings", "Tooltip of the Setting panel's lock button") \
    X(cameraUnlocked, "Camera Unlocked", "Accessible name of the Setting panel's open lock") \
    X(cameraUnlockedTip, "The camera is unlocked: its settings can be changed.", "Tooltip of the Setting panel's open lock") \
    X(webcamModeButton, "Webcam Mode", "Accessible name of the Status row's webcam button") \
    X(webcamModeButtonTip, "Switch the camera to webcam mode", "Tooltip of the Status row's webcam button") \
    X(showPassword, "Show Password", "The eye beside a password entry, the password masked") \
    X(hidePassword, "Hide Password", "The eye beside a password entry, the password shown") \
    X(webcamNoVolume, "The camera cannot switch to webcam mode: its storage is not mounted.", "Why the webcam button did nothing") \
    X(webcamVolumeBusy, "The camera cannot switch to webcam mode: its storage could not be unmounted. Close the files and windows that use it, then try again.", "Why the webcam button did nothing") \
    X(webcamTestNoCamera, "No webcam of the Halvetor Body was found. Switch the camera to webcam mode with its webcam button first.", "Why the webcam test closed") \
    X(webcamTestNoMicrophone, "No microphone of the Halvetor Body was found.", "Why the webcam test closed") \
    X(labelCharacters, "Letters A–Z, digits, spaces and underscores", "The characters a user label takes") \
    X(labelCharactersCyrillic, "Letters A–Z and А–я, digits, spaces and underscores", "The characters a user label takes, Cyrillic included") \
    X(labelCharactersExtendedCyrillic, "Letters A–Z, А–я and Ёё, digits, spaces and underscores", "The characters a user label takes, Cyrillic with Ё included") \
    X(softwareUpdate, "Software Update", "Title of the new-version offer") \
    X(newVersionAvailable, "A new version of %1 is available", "%1 is the application's name") \
    X(newVersionDetails, "%1 %2 is now available (you have %3). Get it here:", "%1 application, %2 new version, %3 the version in use") \
    X(unknownVersion, "an unknown version", "Stands for the version in use when it is not known") \
    X(openDownloadPage, "Open Download Page", "Button of the new-version offer") \
    X(skipThisVersion, "Skip This Version", "Button of the new-version offer") \
    X(remindMeLater, "Remind Me Later", "Button of the new-version offer") \
    X(permissionTitle, "Lumacorder wants to make changes.", "Driver permission page title") \
    X(permissionDescription, "Enter your password to allow this.", "Driver permission page") \
    X(permissionUserName, "User Name:", "Driver permission page") \
    X(permissionPassword, "Password:", "Driver permission page") \
    X(unmountAndMountAgain, "Please unmount devices and mount again", "Driver permission page, after loading the driver") \
    X(openerEndedWithStatus, "xdg-open ended with exit status %1.", "The file opener's failure; %1 is a number") \
    X(folderNotMounted, "The camera's folder could not be opened: its storage is not mounted.", "Why the folder button did nothing") \
    X(openNoProgram, "%1 could not be opened: no program is set up to open it.", "%1 is a file or a web address") \
    X(openFailed, "%1 could not be opened: %2", "%1 is a file or a web address, %2 the system's reason") \
    X(upgradeNoVolume, "The firmware could not be copied to the camera: its storage is not mounted.", "Why the firmware upgrade failed") \
    X(storageNotMounted, "Storage not mounted", "Status row: the storage line of a camera whose storage is not mounted, so no free space can be told") \
    X(upgradeCameraGone, "The camera went away during the upgrade: it was unplugged, or its driver stopped.", "Why the firmware upgrade failed") \
    X(webcamTestNoVideoDevice, "The camera is in webcam mode, but no video device of the Halvetor Body was found.", "Why the webcam test closed") \
    X(alreadyRunning, "The Halvetor Body ToolBox is already running.", "A second toolbox started for the same user ends") \
    X(statement, "Statement", "About page: the link to the statement document") \
    X(batteryFull, "Full", "Battery level") \
    X(batteryCharging, "Charging...", "Battery level") \
    X(batteryExhausted, "EXHAUSTED", "Battery level") \
    X(aboutApp, "About %1", "Application menu; %1 is the application's name") \
    X(quitApp, "Quit %1", "Application menu; %1 is the application's name")

#define HVB_WEBCAM_BTN_STRINGS(X) \
    X(testWebcam, "TEST_WEBCAM_BTN", "Show test window") \
    X(testMic, "TEST_MIC_BTN", "goto test mic state") \
    X(testFinish, "TEST_FINISH_BTN", "Test finish") \
    X(recover, "RECOVER_BTN", "Show recover window")

#define HVB_WEBCAM_TITLE_STRINGS(X) \
    X(webcamCameraName, "WEBCAM_CAMERA_NAME", "Status view camera title") \
    X(webcamMicName, "WEBCAM_MIC_NAME", "Status view mic title") \
    X(videoTestTitle, "VIDEO_TEST_TITLE", "Test window video test title") \
    X(audioTestTitle, "AUDIO_TEST_TITLE", "Test window audio test title")

#define HVB_WEBCAM_MSG_STRINGS(X) \
    X(micTestHint, "MIC_TEST_HINT", "Test view audio test hint") \
    X(recoverMsdcHint, "RECOVER_MSDC_HINT", "MSDC Recover view hint")

#define HVB_COPYRIGHT_STRINGS(X) \
    X(notice, "Copyright © 2026 Brevantis. All rights reserved.", "Copyright © 2026 Brevantis. All rights reserved.")

namespace LocalizedString {

inline constexpr const char* kCommonStringTable = "CommonString";
inline constexpr const char* kMessageTable = "Message";
inline constexpr const char* kWebcamStringTable = "WebcamString";
inline constexpr const char* kCopyrightTable = "Copyright";

#define HVB_DECLARE_LOCALIZED_TEXT(name, key, comment) static const QString& name();

// "CommonString": labels, button titles, option texts, short results.
class Str {
public:
    Str() = delete;
    HVB_COMMON_STRINGS(HVB_DECLARE_LOCALIZED_TEXT)
};

// "Message": longer messages, warnings and hints.
class Msg {
public:
    Msg() = delete;
    HVB_MESSAGE_STRINGS(HVB_DECLARE_LOCALIZED_TEXT)
};

// "WebcamString": the webcam test and the storage-mode recovery view.
namespace Webcam {
class Btn {
public:
    Btn() = delete;
    HVB_WEBCAM_BTN_STRINGS(HVB_DECLARE_LOCALIZED_TEXT)
};
class Title {
public:
    Title() = delete;
    HVB_WEBCAM_TITLE_STRINGS(HVB_DECLARE_LOCALIZED_TEXT)
};
class Msg {
public:
    Msg() = delete;
    HVB_WEBCAM_MSG_STRINGS(HVB_DECLARE_LOCALIZED_TEXT)
};
}  // namespace Webcam

// "Copyright": the legal notice of the About page.
class Copyright {
public:
    Copyright() = delete;
    HVB_COPYRIGHT_STRINGS(HVB_DECLARE_LOCALIZED_TEXT)
};

#undef HVB_DECLARE_LOCALIZED_TEXT

// One text of the holders: its table, key and translators' comment.
struct Entry {
    const char* table;
    const char* key;
    const char* comment;
};
// Every text of the four holders, table by table in declaration order.
std::span<const Entry> entries();

}  // namespace LocalizedString

// The text of a key of "CommonString" / "Message" (the key itself when the table lacks it).
// A key of a holder gives that holder's stored text; any other key is looked up once as well.
QString localizedCommonString(const QString& key);
QString localizedMessage(const QString& key);

}  // namespace hvb
