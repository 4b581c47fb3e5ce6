#pragma once
// The main window and its launch checks: the application's version, the processor, the driver
// bundle (installed or reinstalled through the administrator-privileged installer), the command
// tables and the network. Closing the window ends the application.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>

#include "platform/foundation/Plist.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/security/AdminRun.h"

namespace foundation {
class UserDefaults;
}

namespace hvb {

class DriverHostWatch;
class MainSplitView;

// Everything the launch checks ask of the machine, so that a test can answer with fakes.
struct LaunchEnvironment {
    // `arch`: the machine name, trailing newline stripped; none when it cannot be read.
    std::function<std::optional<std::string>()> detectArchitecture;
    std::function<bool(const std::string& path)> fileExists;
    // A plist file as a dictionary; none when missing or not a dictionary.
    std::function<std::optional<foundation::plist::Dictionary>(const std::string& path)> readDictionary;
    foundation::UserDefaults* defaults = nullptr;
    // The installer resources in the libexec folder: "installKext.sh" and the driver bundle copies.
    std::function<std::optional<std::string>()> installKextPath;
    std::function<std::optional<std::string>()> kextBundlePath;
    std::function<std::optional<std::string>()> kextBundlePath1014;
    bool atLeast_10_15 = true;
    std::string systemRoot = "/";  // stands for "/": where the driver and its host's socket are
    std::function<security::AdminRunResult(const std::string& script, const std::vector<std::string>& arguments)>
        runAsAdministrator;
    // The installed driver's host runs: it answers on its socket within a short time, or turns
    // this user away (starting it again would change nothing); unset: no host to ask.
    std::function<bool()> driverHostAnswers;
    // Tells `observer` each change of the host's status from now on (and the status now, once
    // known); null stops. Unset: no host to watch.
    std::function<void(std::function<void(iokit::HostStatus)> observer)> watchDriverHost;
    std::function<iokit::HostStatus()> driverHostStatus;
    // How long a host the toolbox was using may stay away before the user is offered to start it.
    int64_t driverHostGraceMs = 5000;
    // On the real system: the first part of the installer (the script, the bundle, a file in it
    // or a folder holding them) that the privileged run would refuse to take; none when every
    // part will do.
    std::function<std::optional<std::string>(const std::string& script, const std::string& bundle)>
        untrustedInstallerPart;
    std::function<int64_t()> countDriverServices;
    // Shows an alert on the main queue and returns once the user dismissed it (callers are
    // never on the main thread).
    std::function<void(const std::string& title, const std::string& text)> showAlertAndWait;
    // The same with two buttons; true for the first (`confirm`).
    std::function<bool(const std::string& title, const std::string& text, const std::string& confirm,
                       const std::string& cancel)>
        askAndWait;
    std::function<void()> terminate;
    std::function<bool()> isNetworkReachable;
    // GET of the maker's web site (20 s); completion(data, error, status) off the main thread.
    std::function<void(std::function<void(bool hasData, bool hasError, long status)>)> probeWebSite;
    std::function<void(bool)> setInternetAvailable;
    std::function<void()> buildAllCommandTables;
    // The application's "CFBundleShortVersionString".
    std::function<std::optional<std::string>()> shortVersionString;

    // The machine as it is.
    static LaunchEnvironment system();
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kBundleName = "com_brevantis_driver_HVBSCSIDriver.kext";
    static constexpr const char* kToolBoxVersionKey = "ToolBoxVersion";

    explicit MainWindow(LaunchEnvironment environment = LaunchEnvironment::system(), QWidget* parent = nullptr);
    ~MainWindow() override;

    // The launch checks, in their order; the driver check goes to a background queue. The watch
    // of the driver host starts first, so that what the check learns of the host is told.
    void windowDidLoad();
    // Watches the driver host for the rest of the session (windowDidLoad starts it).
    void startDriverHostWatch();
    // Shows the window with the appearance of its panes.
    void showWindow();

    virtual void loadLocalVersion();
    virtual bool isDriverUpdateNeeded();
    // The driver check (runs on the background queue; tests call it directly).
    virtual void checkDriver(const std::optional<std::string>& architecture);
    // One administrator run of the installer; true when the driver is installed afterwards.
    bool runInstallScript(const std::string& mode);
    // Why an installer run left no driver, for the user (localized).
    static std::string installFailureCause(const security::AdminRunResult& result);
    // The first part of the installer a privileged run on the real system refuses: the script or
    // the bundle (or anything in it), or a folder holding either, not owned by root, writable by
    // its group or others, or not a plain file or folder (a link). None when every part will do.
    static std::optional<std::string> untrustedInstallerPart(const std::string& script, const std::string& bundle);
    // Asks for the cameras to be unplugged until no driver service remains.
    void runUnplugRequest();
    bool isNetworkReachable();
    void probeWebSite(std::function<void(bool)> completion);

    std::string localToolBoxVersion() const { return localToolBoxVersion_; }
    int64_t localToolBoxVersionNumber() const { return localToolBoxVersionNumber_; }
    // foundation::paths::extensionsDir(root) / "com_brevantis_driver_HVBSCSIDriver.kext".
    std::string installedBundlePath() const;
    // The application's copy of the driver for this system (empty when absent).
    std::string applicationBundleCopyPath() const;

    MainSplitView* splitView() const { return splitView_; }
    const LaunchEnvironment& environment() const { return environment_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Shared;

    void windowWillClose();
    // The installed bundle's version is below that of the application's copy (false when either
    // cannot be read).
    bool isInstalledBundleOlder(const std::string& installed);
    void buildMenus();
    // False when the user defaults cannot be written now; says why, once per launch.
    bool settingsCanBeStored();
    void tellSettingsNotStored(const std::string& reason);

    // What the installer runs need, shared with the queues they run on: a run waiting on a
    // password prompt when the window goes returns into it, not into the window.
    const std::shared_ptr<Shared> shared_;
    LaunchEnvironment& environment_;  // shared_'s
    std::string localToolBoxVersion_;
    int64_t localToolBoxVersionNumber_ = -1;
    MainSplitView* splitView_ = nullptr;
    std::unique_ptr<DriverHostWatch> hostWatch_;
};

}  // namespace hvb
