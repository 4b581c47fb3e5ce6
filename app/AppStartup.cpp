#include "app/AppStartup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
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

// The lock file's descriptor and the instance socket, open for the life of the process.
// Close-on-exec: the installer and the driver host it starts must not hold them after this
// toolbox has ended.
int instanceLockFd = -1;
int instanceSocketFd = -1;

enum class Claim { held, taken, unavailable };

// The lock file in `folder`. A link under the name is not followed and a FIFO not waited on:
// only a regular file of this user's is taken.
Claim claimLockFile(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const int fd = ::open((folder / "instance.lock").c_str(),
                          O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) return Claim::unavailable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return Claim::unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        instanceLockFd = fd;
        return Claim::held;
    }
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? Claim::taken : Claim::unavailable;
}

}  // namespace

// A name in the abstract socket namespace for this user and settings folder: nothing on disk
// that a link or a read-only folder could stand in for, and gone with the process that held it.
std::string instanceSocketName() {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::weakly_canonical(foundation::paths::configDir(), ec);
    if (ec) folder = foundation::paths::configDir();
    uint64_t hash = 14695981039346656037ull;  // FNV-1a: the same in every build
    for (const unsigned char c : folder.string()) hash = (hash ^ c) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(1, '\0') + foundation::paths::kAppName + "." + std::to_string(::geteuid()) + "." + hex;
}

namespace {

// The instance socket: held here, taken by a toolbox of this user, or neither, with the reason
// it cannot keep a second toolbox out. Anyone may bind an abstract name, so a name that is
// taken decides something only when a process of this user listens on it.
struct SocketClaim {
    Claim claim = Claim::unavailable;
    bool takenByAnother = false;
    std::string reason;
};

SocketClaim claimInstanceSocket() {
    auto unavailable = [](const std::string& reason, bool takenByAnother = false) {
        return SocketClaim{Claim::unavailable, takenByAnother, reason};
    };
    auto because = [](const char* what, int error) { return std::string(what) + " (" + std::strerror(error) + ")"; };
    const std::string name = instanceSocketName();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() > sizeof address.sun_path) return unavailable("the instance socket's name is too long");
    std::memcpy(address.sun_path, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return unavailable(because("no instance socket could be made", errno));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(fd, 8) == 0) {
        instanceSocketFd = fd;
        // A later launch only connects to learn who holds the name; its connection is closed
        // at once, so the queue never fills.
        std::thread([fd] {
            for (;;) {
                const int peer = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (peer >= 0) ::close(peer);
                else if (errno != EINTR && errno != ECONNABORTED) return;
            }
        }).detach();
        return SocketClaim{Claim::held, false, {}};
    }
    const int error = errno;
    ::close(fd);
    if (error != EADDRINUSE)
        return unavailable(because("the instance socket could not be bound", error));
    // Without waiting: a holder that never accepts, or whose queue is full, answers nothing.
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) return unavailable(because("no socket could be made to ask who holds the instance socket", errno));
    SocketClaim claim;
    if (::connect(probe, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        claim = unavailable(because("the instance socket's name is taken but nothing answers on it", errno), true);
    } else {
        ucred holder{};
        socklen_t size = sizeof holder;
        if (::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &holder, &size) != 0)
            claim = unavailable("the holder of the instance socket could not be told", true);
        else if (holder.uid != ::geteuid())
            claim = unavailable("the instance socket is held by user " + std::to_string(holder.uid) +
                                    ", not by a toolbox of this user",
                                true);
        else
            claim.claim = Claim::taken;
    }
    ::close(probe);
    return claim;
}

bool refuseSecondToolbox() {
    foundation::systemLog("HalvetorBody_ToolBox is already running for this user; this one ends");
    appkit::Alert alert;
    alert.messageText = localizedCommonString("Information");
    alert.informativeText = localizedMessage("The Halvetor Body ToolBox is already running.");
    alert.runModal();
    return false;
}

}  // namespace

bool claimSingleInstance() {
    // The socket notices a toolbox even where no lock file can be made, the lock file one that
    // holds no socket here (another network namespace) and one whose socket name someone else
    // has taken.
    const SocketClaim socket = claimInstanceSocket();
    if (socket.claim == Claim::taken) return refuseSecondToolbox();
    // The settings folder, as it is this user's; the runtime folder when that one cannot hold
    // the file (read-only, or something else in its place).
    std::vector<std::filesystem::path> folders{foundation::paths::configDir()};
    const std::string runtime = foundation::paths::env("XDG_RUNTIME_DIR");
    if (!runtime.empty()) folders.push_back(std::filesystem::path(runtime) / foundation::paths::kAppName);
    for (const auto& folder : folders) {
        const Claim file = claimLockFile(folder);
        if (file == Claim::held) {
            if (socket.takenByAnother) foundation::systemLog(socket.reason + "; the lock file alone decides");
            return true;
        }
        if (file == Claim::taken) return refuseSecondToolbox();
    }
    if (socket.claim == Claim::held) {
        foundation::systemLog("no lock file could be made; the instance socket alone keeps a second toolbox out");
        return true;
    }
    foundation::systemLog("no lock file could be made and " + socket.reason +
                          ", so a second toolbox would not be noticed");
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
