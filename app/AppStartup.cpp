#include "app/AppStartup.h"

#include <optional>

#include "app/AppDelegate.h"
#include "app/DeviceDialogGlobals.h"
#include "app/LocalizedString.h"
#include "app/MsgDialog.h"
#include "app/StatusViewController.h"
#include "app/WarningPageViewController.h"
#include "camera/CameraLinkHooks.h"
#include "online/FirmwareManager.h"
#include "online/Google4Analytics.h"
#include "platform/appkit/Storyboard.h"
#include "online/AutoUpdateManager.h"
#include "platform/appkit/Alert.h"

#include <QDesktopServices>
#include <QLocale>
#include <QUrl>

namespace hvb {

namespace {

// A key of the string table "Message" or "CommonString"; none for another table.
std::optional<std::string> tableString(const std::string& table, const std::string& key) {
    if (table == "Message") return localizedMessage(QString::fromStdString(key)).toStdString();
    if (table == "CommonString") return localizedCommonString(QString::fromStdString(key)).toStdString();
    return std::nullopt;
}

}  // namespace

void registerAppControllers() {
    auto& storyboard = appkit::Storyboard::main();
    storyboard.registerController("WarningPageViewController", [] { return new WarningPageViewController(); });
    storyboard.registerController("MsgDialogWindowController", [] { return new MsgDialogWindowController(); });
    storyboard.registerController("StatusViewController", [] { return new StatusViewController(); });
}

void installCameraLinkHooks() {
    CameraLinkHooks hooks;
    hooks.sendEvent = [](const std::string& name, const std::map<std::string, std::string>& params) {
        Google4Analytics::sendEvent(name, params);
    };
    hooks.isFirmwareUpToDate = [](const std::string& model, const std::string& version) {
        return firmwareManager().isFirmwareUpToDate(model, version);
    };
    hooks.downloadReleaseNotes = [] { firmwareManager().downloadReleaseNotes(); };
    hooks.localizedString = [](const std::string& table, const std::string& key, const std::string& fallback) {
        return tableString(table, key).value_or(fallback);
    };
    // A camera whose memory card reports an error: the disk-format dialog for that camera.
    hooks.showDiskFormatDialog = [](const std::string& title, const CommandDictionary& table,
                                    const std::string& uid) {
        runDiskFormatDialog(uid, table, QString::fromStdString(title));
    };
    setCameraLinkHooks(std::move(hooks));
}

void installUpdateHooks() {
    AutoUpdateManager::Hooks hooks;
    hooks.runAlert = [](const std::string& title, const std::string& text, const std::vector<std::string>& buttons) {
        appkit::Alert alert;
        alert.messageText = QString::fromStdString(title);
        alert.informativeText = QString::fromStdString(text);
        for (const auto& button : buttons) alert.addButtonWithTitle(QString::fromStdString(button));
        return alert.runModal();
    };
    hooks.openURL = [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); };
    hooks.localized = [](const std::string& table, const std::string& key) {
        // Any table but "Message" reads as "CommonString".
        return tableString(table == "Message" ? table : "CommonString", key).value_or("");
    };
    // The C locale names no language of the user's.
    for (const QString& language : QLocale::system().uiLanguages()) {
        if (language == QLatin1String("C") || language == QLatin1String("POSIX")) continue;
        hooks.preferredLanguages.push_back(language.toStdString());
    }
    hooks.countryCode = AppDelegate::systemRegionCode().value_or("");
    AutoUpdateManager::shared().setHooks(std::move(hooks));
}

}  // namespace hvb
