#include "app/MainWindow.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <filesystem>
#include <memory>
#include <mutex>

#include <QCloseEvent>
#include <QMenuBar>

#include "app/About.h"
#include "app/DriverHostWatch.h"
#include "app/MainSplitView.h"
#include "app/RightSplitViewController.h"
#include "camera/CommandTables.h"
#include "camera/KextResources.h"
#include "camera/UserClientTransport.h"
#include "camera/VersionNumber.h"
#include "common/DriverHostState.h"
#include "common/LocalizedString.h"
#include "online/AutoUpdateManager.h"
#include "online/OnlineConfig.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/user/IOKitLib.h"
#include "platform/net/Reachability.h"
#include "platform/net/Transfer.h"
#include "platform/services/Updater.h"

namespace hvb {

namespace {

std::string commonString(const char* key) { return localizedCommonString(QString::fromUtf8(key)).toStdString(); }
std::string messageString(const char* key) { return localizedMessage(QString::fromUtf8(key)).toStdString(); }

int64_t countServicesOfDriverClass() {
    io_iterator_t iterator = IO_OBJECT_NULL;
    kern_return_t kr = IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching(kDriverServiceClassName),
                                                    &iterator);
    if (kr != kIOReturnSuccess) {
        foundation::printf("IOServiceGetMatchingServices returned 0x%08x", static_cast<unsigned>(kr));
        return 0;
    }
    int64_t count = 0;
    while (io_object_t service = IOIteratorNext(iterator)) {
        ++count;
        IOObjectRelease(service);
    }
    IOObjectRelease(iterator);
    return count;
}

// How often an alert looks whether the window in front of it has gone.
constexpr int64_t kModalRecheckMs = 100;

// A modal window, or the update offer (a window of its own that asks the user as one does).
bool somethingInFront() {
    if (appkit::modalSessionDepth() != 0) return true;
    const services::Updater* updater = services::Updater::shared();
    return updater && updater->isOfferShown();
}

// Runs `show` on the main queue once nothing is in front: an alert from a background check waits
// for the window in front (a dialog's failure screen, another alert, the update offer) instead of
// stacking on it.
void showWhenNothingModal(std::function<void()> show, bool waited = false) {
    dispatch::mainQueue().async([show = std::move(show), waited]() mutable {
        if (!somethingInFront()) {
            show();
            return;
        }
        if (!waited) foundation::print("an alert waits for the window in front of it");
        dispatch::mainQueue().asyncAfter(kModalRecheckMs, [show = std::move(show)]() mutable {
            showWhenNothingModal(std::move(show), true);
        });
    });
}

// An alert on the main queue; the calling (background) thread waits until it is dismissed, so
// a repeated request never piles alerts up.
void showAlertOnMainAndWait(const std::string& title, const std::string& text) {
    auto done = std::make_shared<dispatch::Semaphore>(0);
    showWhenNothingModal([title, text, done] {
        appkit::Alert alert;
        alert.messageText = QString::fromStdString(title);
        alert.informativeText = QString::fromStdString(text);
        alert.addButtonWithTitle(LocalizedString::Str::ok());
        alert.runModal();
        done->signal();
    });
    done->wait();
}

bool askOnMainAndWait(const std::string& title, const std::string& text, const std::string& confirm,
                      const std::string& cancel) {
    auto done = std::make_shared<dispatch::Semaphore>(0);
    auto confirmed = std::make_shared<std::atomic<bool>>(false);
    showWhenNothingModal([=] {
        appkit::Alert alert;
        alert.messageText = QString::fromStdString(title);
        alert.informativeText = QString::fromStdString(text);
        alert.addButtonWithTitle(QString::fromStdString(confirm));
        alert.addButtonWithTitle(QString::fromStdString(cancel));
        confirmed->store(alert.runModal() == appkit::NSAlertFirstButtonReturn);
        done->signal();
    });
    done->wait();
    return confirmed->load();
}

std::shared_ptr<iokit::SocketLink> currentSocketLink() {
    return std::dynamic_pointer_cast<iokit::SocketLink>(iokit::currentLink());
}

// "/" (however written) or empty: the machine itself, not a sandbox root.
bool isRealSystemRoot(const std::string& root) { return root.find_first_not_of('/') == std::string::npos; }

}  // namespace

struct MainWindow::Shared {
    explicit Shared(LaunchEnvironment env) : environment(std::move(env)) {}

    LaunchEnvironment environment;
    std::atomic<bool> windowGone{false};
    std::atomic<bool> settingsNotStoredTold{false};
    std::atomic<uint64_t> installRuns{0};
    // Runs may overlap (the launch check's, the watch's): one running is any still running.
    std::atomic<int> installsRunning{0};
    std::mutex versionLock;
    std::string toolBoxVersion;

    std::string installedBundlePath() const {
        return (foundation::paths::extensionsDir(environment.systemRoot) / kBundleName).string();
    }
    std::string applicationBundleCopyPath() const {
        auto path = environment.atLeast_10_15
                        ? (environment.kextBundlePath ? environment.kextBundlePath() : std::nullopt)
                        : (environment.kextBundlePath1014 ? environment.kextBundlePath1014() : std::nullopt);
        return path.value_or("");
    }
    // A run that ends after the window went tells nobody: the alert would stand for a window
    // that is gone, before an application that is quitting.
    void alert(const std::string& title, const std::string& text) {
        if (!windowGone.load() && environment.showAlertAndWait) environment.showAlertAndWait(title, text);
    }
    void tellSettingsNotStored(const std::string& reason);
    bool runInstallScript(const std::string& mode);
};

LaunchEnvironment LaunchEnvironment::system() {
    LaunchEnvironment env;
    env.detectArchitecture = []() -> std::optional<std::string> {
        struct utsname name {};
        if (::uname(&name) != 0) return std::nullopt;
        std::string machine = name.machine;
        if (!machine.empty() && machine.back() == '\n') machine.pop_back();
        if (machine.empty()) return std::nullopt;
        return machine;
    };
    env.fileExists = [](const std::string& path) {
        std::error_code ec;
        return !path.empty() && std::filesystem::exists(path, ec);
    };
    env.readDictionary = [](const std::string& path) -> std::optional<foundation::plist::Dictionary> {
        auto parsed = foundation::plist::parseFile(path);
        if (!parsed.value) return std::nullopt;
        const foundation::plist::Dictionary* dict = parsed.value->asDictionary();
        if (!dict) return std::nullopt;
        return *dict;
    };
    env.defaults = &foundation::UserDefaults::standard();
    env.installKextPath = [] { return hvb::installKextPath(); };
    env.kextBundlePath = [] { return hvb::kextBundlePath(); };
    env.kextBundlePath1014 = [] { return hvb::kextBundlePath1014(); };
    env.atLeast_10_15 = true;  // Linux counts as a current system: the plain bundle
    env.systemRoot = foundation::paths::systemRoot().string();
    env.runAsAdministrator = [](const std::string& script, const std::vector<std::string>& arguments) {
        return security::runDriverScriptAsAdministrator(script, arguments);
    };
    env.driverHostAnswers = [] {
        auto link = currentSocketLink();
        if (!link) return true;  // the in-process kernel layer has no host
        // A host on its way up (at boot, restarted by its unit) gets a moment.
        for (int tries = 0;; ++tries) {
            const IOReturn status = link->connect();
            // A host that turns this user away (not in its group until the next login, its share
            // taken, a socket it may not open) runs: a start would change nothing. The watch of
            // the host says why.
            if (status == kIOReturnSuccess || status == iokit::kIOReturnNotPrivileged) return true;
            if (tries == 9) return false;
            dispatch::pause(200);
        }
    };
    env.watchDriverHost = [](std::function<void(iokit::HostStatus)> observer) {
        if (auto link = currentSocketLink()) link->setHostStatusObserver(std::move(observer));
    };
    env.driverHostStatus = [] {
        auto link = currentSocketLink();
        return link ? link->hostStatus() : iokit::HostStatus{iokit::HostStatus::State::connected};
    };
    if (isRealSystemRoot(env.systemRoot)) env.untrustedInstallerPart = &MainWindow::untrustedInstallerPart;
    env.countDriverServices = countServicesOfDriverClass;
    env.showAlertAndWait = showAlertOnMainAndWait;
    env.askAndWait = askOnMainAndWait;
    env.terminate = [] { appkit::terminate(); };
    env.isNetworkReachable = [] { return net::isNetworkReachable(); };
    env.probeWebSite = [](std::function<void(bool, bool, long)> completion) {
        const net::Request request = hvb::websiteProbeRequest();
        if (onlineconfig::isPlaceholder(request.url) || !net::isValidURL(request.url)) {
            // The placeholder site never answers: fail at once instead of waiting for DNS.
            dispatch::globalQueue().async([completion] { completion(false, true, 0); });
            return;
        }
        net::Session::shared().dataTask(request, [completion](net::DataResult result) {
            completion(result.body.has_value(), result.error.has_value(),
                       result.response ? result.response->statusCode : 0);
        });
    };
    env.setInternetAvailable = [](bool available) { hvb::setInternetAvailable(available); };
    env.buildAllCommandTables = [] { hvb::buildAllCommandTables(); };
    env.shortVersionString = [] { return foundation::Bundle::main().infoString("CFBundleShortVersionString"); };
    return env;
}

MainWindow::MainWindow(LaunchEnvironment environment, QWidget* parent)
    : QMainWindow(parent),
      shared_(std::make_shared<Shared>(std::move(environment))),
      environment_(shared_->environment) {
    setObjectName("MainWindow");
    splitView_ = new MainSplitView(this);
    setCentralWidget(splitView_);
    resize(1040, 680);
    setMinimumSize(900, 600);
    buildMenus();
}

MainWindow::~MainWindow() {
    shared_->windowGone.store(true);
    if (!hostWatch_) return;
    hostWatch_->stop();
    DriverHostState::shared().setStarter(nullptr);
    DriverHostState::shared().set(DriverHostState::State::notKnownDown);
    if (environment_.watchDriverHost) environment_.watchDriverHost(nullptr);
}

void MainWindow::startDriverHostWatch() {
    if (hostWatch_ || !environment_.watchDriverHost) return;
    DriverHostWatch::Hooks hooks;
    hooks.tell = environment_.showAlertAndWait;
    hooks.ask = environment_.askAndWait;
    // The watch runs on its own queue and waits there for the run, as the launch check does;
    // its hooks hold what the run needs, never the window.
    hooks.startDriver = [shared = shared_] { return shared->runInstallScript("START"); };
    hooks.installerRuns = [shared = shared_] { return shared->installRuns.load(); };
    hooks.installerRunning = [shared = shared_] { return shared->installsRunning.load() > 0; };
    hooks.currentStatus = environment_.driverHostStatus;
    hooks.showState = [](DriverHostState::State state) { DriverHostState::shared().set(state); };
    hostWatch_ = std::make_unique<DriverHostWatch>(std::move(hooks), environment_.driverHostGraceMs);
    DriverHostState::shared().setStarter(hostWatch_->starter());
    DriverHostWatch* watch = hostWatch_.get();
    environment_.watchDriverHost([watch](iokit::HostStatus status) { watch->statusChanged(status); });
}

void MainWindow::buildMenus() {
    QString appName = QString::fromStdString(
        foundation::Bundle::main().infoString("CFBundleName").value_or(foundation::paths::kAppName));
    QMenu* appMenu = menuBar()->addMenu(appName);
    QAction* about = appMenu->addAction(LocalizedString::Msg::aboutApp().arg(appName));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] {
        auto* page = new About();
        if (auto* right = splitView_ ? splitView_->rightController() : nullptr) {
            right->presentViewControllerAsModalWindow(page);
        }
    });
    appMenu->addSeparator();
    QAction* quit = appMenu->addAction(LocalizedString::Msg::quitApp().arg(appName));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] { close(); });
}

void MainWindow::windowDidLoad() {
    foundation::print("MainWindow START");
    loadLocalVersion();
    startDriverHostWatch();
    dispatch::globalQueue(dispatch::QoS::background).async([this] {
        auto architecture = environment_.detectArchitecture ? environment_.detectArchitecture() : std::nullopt;
        checkDriver(architecture);
    });
    if (environment_.buildAllCommandTables) environment_.buildAllCommandTables();
    if (isNetworkReachable()) {
        probeWebSite([this](bool ok) {
            if (environment_.setInternetAvailable) environment_.setInternetAvailable(ok);
        });
    } else if (environment_.setInternetAvailable) {
        // Not reachable: the flag is cleared and no probe or update check follows.
        environment_.setInternetAvailable(false);
    }
}

void MainWindow::showWindow() {
    splitView_->beginAppearance();
    show();
    splitView_->endAppearance();
}

void MainWindow::loadLocalVersion() {
    localToolBoxVersion_.clear();
    localToolBoxVersionNumber_ = -1;
    auto version = environment_.shortVersionString ? environment_.shortVersionString() : std::nullopt;
    if (!version) return;
    localToolBoxVersion_ = *version;
    localToolBoxVersionNumber_ = parseVersionNumber(*version);
    std::lock_guard<std::mutex> guard(shared_->versionLock);
    shared_->toolBoxVersion = *version;
}

bool MainWindow::isDriverUpdateNeeded() {
    int64_t stored = -1;
    if (environment_.defaults) {
        auto value = environment_.defaults->string(kToolBoxVersionKey);
        if (value) stored = parseVersionNumber(value.value);
    }
    return stored < localToolBoxVersionNumber_;
}

std::string MainWindow::installedBundlePath() const { return shared_->installedBundlePath(); }

std::string MainWindow::applicationBundleCopyPath() const { return shared_->applicationBundleCopyPath(); }

void MainWindow::checkDriver(const std::optional<std::string>& architecture) {
    const std::string information = commonString("Information");
    if (!architecture) {
        foundation::print("failed to detect architecture");
        if (environment_.showAlertAndWait) environment_.showAlertAndWait(information, "Architecture not supported");
        return;
    }
    if (*architecture == "arm64") {
        foundation::print("Not supported");
        // The user sees why the application quits before it does.
        if (environment_.showAlertAndWait) environment_.showAlertAndWait(information, "Architecture not supported");
        if (environment_.terminate) environment_.terminate();
        return;
    }
    const std::string installed = installedBundlePath();
    if (!environment_.fileExists(installed)) {
        runInstallScript("NORMAL");
        return;
    }
    // Where this version cannot be noted, a reinstall for it would come back at every launch:
    // then only the bundle versions below decide.
    if (isDriverUpdateNeeded() && settingsCanBeStored()) {
        runUnplugRequest();
        runInstallScript("RELOAD");
        return;
    }
    if (isInstalledBundleOlder(installed)) {
        runUnplugRequest();
        runInstallScript("RELOAD");
        return;
    }
    // Up to date, but a host that is down (stopped, crashed, not started at boot) leaves the
    // toolbox without cameras: it is started the way it was installed.
    if (environment_.driverHostAnswers && !environment_.driverHostAnswers()) {
        foundation::print("the driver host does not answer");
        if (!runInstallScript("START") && hostWatch_) hostWatch_->startFailed();
    }
}

bool MainWindow::isInstalledBundleOlder(const std::string& installed) {
    const std::string installedInfo = installed + "/Contents/Info.plist";
    const std::string copyInfo = applicationBundleCopyPath() + "/Contents/Info.plist";
    if (!environment_.fileExists(installedInfo) || !environment_.fileExists(copyInfo)) return false;
    auto installedDict = environment_.readDictionary(installedInfo);
    auto copyDict = environment_.readDictionary(copyInfo);
    if (!installedDict || !copyDict) return false;
    auto versionOf = [](const foundation::plist::Dictionary& dict) -> std::optional<std::string> {
        auto it = dict.find("CFBundleVersion");
        if (it == dict.end() || !it->second.asString()) return std::nullopt;
        return *it->second.asString();
    };
    auto installedVersion = versionOf(*installedDict);
    auto copyVersion = versionOf(*copyDict);
    if (!installedVersion || !copyVersion) return false;
    foundation::print(*installedVersion);
    return parseVersionNumber(*installedVersion) < parseVersionNumber(*copyVersion);
}

void MainWindow::runUnplugRequest() {
    const auto show = [this](const std::string& title, const std::string& text) {
        if (environment_.showAlertAndWait) environment_.showAlertAndWait(title, text);
    };
    show(commonString("Information"),
         messageString("A new driver version is ready for installation. Please make sure you have unplugged the Halvetor Body."));
    int64_t count = environment_.countDriverServices ? environment_.countDriverServices() : 0;
    while (count > 0) {
        show(commonString("Attention"),
             messageString("Looks like your Halvetor Body has not been removed. Please check again."));
        foundation::print(std::to_string(count));
        count = environment_.countDriverServices();
    }
}

// Why a run left no driver, in words the user can act on: a restart mends none of these.
std::string MainWindow::installFailureCause(const security::AdminRunResult& result) {
    using LocalizedString::Msg;
    QString cause;
    if (!result.launched) {
        if (result.programMissing && result.mode == security::AdminRunMode::pkexec) {
            const std::string name = std::filesystem::path(result.program).filename().string();
            cause = Msg::adminProgramMissing().arg(QString::fromStdString(name.empty() ? "pkexec" : name));
        } else {
            cause = Msg::installNotStarted().arg(QString::fromStdString(result.error));
        }
    } else if (result.cancelled) {
        cause = Msg::adminRequestCancelled();
    } else if (result.notAuthorized) {
        cause = Msg::adminRightsRefused();
    } else if (result.exitStatus != 0) {
        const std::string line = foundation::lastNonEmptyLine(result.errorOutput);
        cause = line.empty() ? Msg::installFailedWithStatus().arg(result.exitStatus)
                             : Msg::installFailed().arg(QString::fromStdString(line));
    } else {
        cause = Msg::installLeftNoDriver();
    }
    return cause.toStdString();
}

std::optional<std::string> MainWindow::untrustedInstallerPart(const std::string& script, const std::string& bundle) {
    namespace fs = std::filesystem;
    // A part that is not there is left to the run, which says so.
    auto refused = [](const fs::path& path, bool folder) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return false;
        const bool plain = folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
        return !plain || st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    };
    // The folders holding a part, by their real path as the script walks them: from "/" down,
    // root's and writable by no one else; a shared folder with the sticky bit may lead to the one
    // holding the part, whose entries stay their owners'.
    auto untrustedFolder = [](const fs::path& part) -> std::optional<std::string> {
        std::error_code ec;
        const fs::path holder = fs::weakly_canonical(fs::absolute(part, ec).parent_path(), ec);
        if (ec) return std::nullopt;
        fs::path current;
        for (auto it = holder.begin(); it != holder.end(); ++it) {
            current /= *it;
            struct stat st {};
            if (::lstat(current.c_str(), &st) != 0) return std::nullopt;
            const bool last = std::next(it) == holder.end();
            const bool shared = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
            if (!S_ISDIR(st.st_mode) || st.st_uid != 0 || (shared && (last || !(st.st_mode & S_ISVTX))))
                return current.string();
        }
        return std::nullopt;
    };
    if (auto folder = untrustedFolder(script)) return folder;
    if (refused(script, false)) return script;
    if (auto folder = untrustedFolder(bundle)) return folder;
    if (refused(bundle, true)) return bundle;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(bundle, ec), end; !ec && it != end; it.increment(ec)) {
        const bool folder = !it->is_symlink(ec) && it->is_directory(ec);
        if (refused(it->path(), folder)) return it->path().string();
    }
    return std::nullopt;
}

bool MainWindow::runInstallScript(const std::string& mode) { return shared_->runInstallScript(mode); }

bool MainWindow::Shared::runInstallScript(const std::string& mode) {
    const std::string script = environment.installKextPath ? environment.installKextPath().value_or("") : "";
    const std::vector<std::string> arguments = {applicationBundleCopyPath(), kBundleName, mode};
    ++installRuns;
    ++installsRunning;
    struct Ended {
        std::atomic<int>& running;
        ~Ended() { --running; }
    } ended{installsRunning};
    using LocalizedString::Msg;
    // On the real system the privileged script takes only an installer that root owns and no one
    // else may change: a per-user copy is told before anybody is asked for a password.
    if (environment.untrustedInstallerPart && isRealSystemRoot(environment.systemRoot)) {
        if (auto part = environment.untrustedInstallerPart(script, applicationBundleCopyPath())) {
            foundation::print("the driver installer cannot run from this copy: " + *part);
            alert(Msg::driverLoadedError().toStdString(),
                  Msg::installFromUserCopy().arg(QString::fromStdString(*part)).toStdString());
            return false;
        }
    }
    security::AdminRunResult result;
    if (environment.runAsAdministrator) result = environment.runAsAdministrator(script, arguments);
    const bool ran = result.launched && !result.cancelled && !result.notAuthorized && result.exitStatus == 0;
    if (ran && environment.fileExists(installedBundlePath())) {
        foundation::print(result.output);
        // Starting the host installs nothing: the stored version stays what it was.
        if (mode != "START" && environment.defaults) {
            std::string version;
            {
                std::lock_guard<std::mutex> guard(versionLock);
                version = toolBoxVersion;
            }
            environment.defaults->set(kToolBoxVersionKey, version);
            if (auto error = environment.defaults->writeError()) tellSettingsNotStored(*error);
        }
        return true;
    }
    foundation::print("ERROR");
    if (!result.output.empty()) foundation::print(result.output);
    if (!result.errorOutput.empty()) foundation::print(result.errorOutput);
    if (!result.error.empty()) foundation::print(result.error);
    // The check runs on its background queue and has nothing left to do: it waits for the user.
    alert(Msg::driverLoadedError().toStdString(),
          Msg::restartToMakeDriverWork().toStdString() + "\n\n" + installFailureCause(result));
    return false;
}

bool MainWindow::settingsCanBeStored() {
    if (!environment_.defaults) return true;
    auto error = environment_.defaults->synchronize();
    if (error) tellSettingsNotStored(*error);
    return !error;
}

void MainWindow::tellSettingsNotStored(const std::string& reason) { shared_->tellSettingsNotStored(reason); }

void MainWindow::Shared::tellSettingsNotStored(const std::string& reason) {
    if (settingsNotStoredTold.exchange(true)) return;
    foundation::print("the settings cannot be stored: " + reason);
    alert(commonString("Attention"), messageString("The settings folder cannot be written.") + "\n\n" + reason);
}

bool MainWindow::isNetworkReachable() {
    // Unknown counts as reachable: the site probe then decides.
    return environment_.isNetworkReachable ? environment_.isNetworkReachable() : true;
}

void MainWindow::probeWebSite(std::function<void(bool)> completion) {
    if (!environment_.probeWebSite) {
        completion(false);
        return;
    }
    environment_.probeWebSite([completion](bool hasData, bool hasError, long status) {
        websiteProbeCompletion(hasData, hasError ? std::optional<net::Error>(net::Error{}) : std::nullopt, status,
                               completion);
    });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (splitView_->isAppeared()) {
        splitView_->beginDisappearance();
        splitView_->endDisappearance();
    }
    windowWillClose();
    QMainWindow::closeEvent(event);
}

void MainWindow::windowWillClose() { appkit::terminate(); }

}  // namespace hvb
