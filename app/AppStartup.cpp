#include "app/AppStartup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/AppDelegate.h"
#include "app/WarningPageViewController.h"
#include "camera/CameraLinkHooks.h"
#include "common/DeviceDialogGlobals.h"
#include "common/LocalizedString.h"
#include "common/MsgDialog.h"
#include "online/AutoUpdateManager.h"
#include "online/FirmwareManager.h"
#include "online/Google4Analytics.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Storyboard.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "status/StatusViewController.h"

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

// The lock file's descriptor, open for the life of the process. Close-on-exec: the installer and
// the driver host it starts must not hold the lock after this toolbox has ended.
int instanceLockFd = -1;

}  // namespace

bool claimSingleInstance() {
    // The settings folder, as it is this user's; the runtime folder when that one cannot hold
    // the file (read-only, or a file in its place).
    std::vector<std::filesystem::path> folders{foundation::paths::configDir()};
    const std::string runtime = foundation::paths::env("XDG_RUNTIME_DIR");
    if (!runtime.empty()) folders.push_back(std::filesystem::path(runtime) / foundation::paths::kAppName);
    for (const auto& folder : folders) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        const int fd = ::open((folder / "instance.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            instanceLockFd = fd;
            return true;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) continue;
        foundation::systemLog("HalvetorBody_ToolBox is already running for this user; this one ends");
        appkit::Alert alert;
        alert.messageText = localizedCommonString("Information");
        alert.informativeText = localizedMessage("The Halvetor Body ToolBox is already running.");
        alert.runModal();
        return false;
    }
    foundation::systemLog("no lock file could be made, so a second toolbox would not be noticed");
    return true;
}

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
