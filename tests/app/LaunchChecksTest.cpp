// The main window's launch checks: the driver decision table, the installer run, reachability and
// the web-site probe, with the machine answered by fakes (and by a real installer run once).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

#include <thread>

#include "app/DriverHostWatch.h"
#include "app/MainWindow.h"
#include "common/DriverHostState.h"
#include "common/LocalizedString.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"
#include "SCSIDriver/HostProcess.h"
#include "status/StatusViewController.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/AdminRun.h"
#include "platform/services/qt/DesktopUpdater.h"
#include "../platform/foundation/TempDir.h"
#include "AppTestSupport.h"
#include "online/OnlineTestSupport.h"
#include "platform/iokit_socket/SocketTestSupport.h"
#include "standins/webservice/Content.h"
#include "standins/webservice/WebService.h"

namespace {

using hvb::LaunchEnvironment;
using hvb::MainWindow;
namespace plist = foundation::plist;

constexpr const char* kCopy = "/res/com_brevantis_driver_HVBSCSIDriver.kext";
constexpr const char* kInstalled = "/sandbox/Library/Extensions/com_brevantis_driver_HVBSCSIDriver.kext";

struct FakeMachine {
    std::optional<std::string> arch = std::string("x86_64");
    std::set<std::string> files;
    std::map<std::string, std::optional<std::string>> bundleVersions;  // Info.plist path -> CFBundleVersion
    std::vector<std::vector<std::string>> installs;
    std::vector<std::pair<std::string, std::string>> alerts;
    std::vector<int64_t> serviceCounts;  // answered in turn, then 0
    int terminations = 0;
    security::AdminRunResult installResult;
    bool installCreatesBundle = true;
    bool reachable = true;
    bool hostAnswers = true;
    int hostQuestions = 0;
    int probes = 0;
    std::vector<bool> internet;
    std::vector<std::string> events;  // order of what happened
    std::mutex lock;                  // the alert comes from the check's worker
    void note(std::string event) {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(std::move(event));
    }
    TempDir home;
    foundation::UserDefaults defaults{home / "defaults.json"};

    FakeMachine() {
        installResult.launched = true;
        installResult.exitStatus = 0;
        files.insert(std::string(kCopy) + "/Contents/Info.plist");
        bundleVersions[std::string(kCopy) + "/Contents/Info.plist"] = "1.0.0";
    }

    LaunchEnvironment environment(std::string appVersion = "1.2.0") {
        LaunchEnvironment env;
        env.detectArchitecture = [this] { return arch; };
        env.fileExists = [this](const std::string& p) { return files.count(p) > 0; };
        env.readDictionary = [this](const std::string& p) -> std::optional<plist::Dictionary> {
            auto it = bundleVersions.find(p);
            if (it == bundleVersions.end()) return std::nullopt;
            plist::Dictionary dict;
            if (it->second) dict["CFBundleVersion"] = plist::Value(*it->second);
            return dict;
        };
        env.defaults = &defaults;
        env.installKextPath = [] { return std::optional<std::string>("/res/installKext.sh"); };
        env.kextBundlePath = [] { return std::optional<std::string>(kCopy); };
        env.kextBundlePath1014 = [] { return std::optional<std::string>("/res/old.kext"); };
        env.systemRoot = "/sandbox";
        env.runAsAdministrator = [this](const std::string& script, const std::vector<std::string>& args) {
            std::vector<std::string> call{script};
            call.insert(call.end(), args.begin(), args.end());
            installs.push_back(call);
            note("install " + args.back());
            if (installCreatesBundle && installResult.exitStatus == 0) files.insert(kInstalled);
            return installResult;
        };
        env.driverHostAnswers = [this] {
            ++hostQuestions;
            return hostAnswers;
        };
        env.countDriverServices = [this]() -> int64_t {
            note("count");
            if (serviceCounts.empty()) return 0;
            int64_t n = serviceCounts.front();
            serviceCounts.erase(serviceCounts.begin());
            return n;
        };
        env.showAlertAndWait = [this](const std::string& title, const std::string& text) {
            std::lock_guard<std::mutex> guard(lock);
            alerts.emplace_back(title, text);
            events.push_back("alert " + text);
        };
        env.terminate = [this] {
            ++terminations;
            note("terminate");
        };
        env.isNetworkReachable = [this] { return reachable; };
        env.probeWebSite = [this](std::function<void(bool, bool, long)> completion) {
            ++probes;
            completion(true, false, 200);
        };
        env.setInternetAvailable = [this](bool on) { internet.push_back(on); };
        env.buildAllCommandTables = [this] { note("tables"); };
        env.shortVersionString = [appVersion] { return std::optional<std::string>(appVersion); };
        return env;
    }

    void installDriver(const std::string& version) {
        files.insert(kInstalled);
        files.insert(std::string(kInstalled) + "/Contents/Info.plist");
        bundleVersions[std::string(kInstalled) + "/Contents/Info.plist"] = version;
    }
    size_t alertsWith(const std::string& text) const {
        size_t n = 0;
        for (const auto& a : alerts) n += a.second == text;
        return n;
    }
};

const std::string kNewDriver =
    "A new driver version is ready for installation. Please make sure you have unplugged the Halvetor Body.";
const std::string kNotRemoved = "Looks like your Halvetor Body has not been removed. Please check again.";

TEST(DriverCheck, ArchitectureDecidesFirst) {
    {
        FakeMachine m;
        m.arch.reset();
        MainWindow w(m.environment());
        w.loadLocalVersion();
        w.checkDriver(std::nullopt);
        ASSERT_EQ(m.alerts.size(), 1u);
        EXPECT_EQ(m.alerts[0], std::make_pair(std::string("Information"), std::string("Architecture not supported")));
        EXPECT_TRUE(m.installs.empty());
        EXPECT_EQ(m.terminations, 0);
    }
    {
        FakeMachine m;
        MainWindow w(m.environment());
        w.loadLocalVersion();
        w.checkDriver(std::string("arm64"));
        // The user learns why before the application quits.
        EXPECT_EQ(m.events, (std::vector<std::string>{"alert Architecture not supported", "terminate"}));
        EXPECT_TRUE(m.installs.empty());
    }
    for (const char* arch : {"aarch64", "x86_64", "arm64e"}) {
        FakeMachine m;
        MainWindow w(m.environment());
        w.loadLocalVersion();
        w.checkDriver(std::string(arch));
        EXPECT_EQ(m.terminations, 0) << arch;
        EXPECT_EQ(m.installs.size(), 1u) << arch;
    }
}

TEST(DriverCheck, MissingDriverInstallsAtOnceWithoutUnplugRequest) {
    FakeMachine m;
    MainWindow w(m.environment("1.2.0"));
    w.loadLocalVersion();
    w.checkDriver(std::string("x86_64"));
    ASSERT_EQ(m.installs.size(), 1u);
    EXPECT_EQ(m.installs[0], (std::vector<std::string>{"/res/installKext.sh", kCopy,
                                                       "com_brevantis_driver_HVBSCSIDriver.kext", "NORMAL"}));
    EXPECT_EQ(m.alertsWith(kNewDriver), 0u);
    EXPECT_EQ(m.defaults.string("ToolBoxVersion").value, "1.2.0");
}

TEST(DriverCheck, OlderStoredVersionAsksToUnplugUntilNoCameraThenReloads) {
    FakeMachine m;
    m.installDriver("1.0.0");
    m.defaults.set("ToolBoxVersion", "1.1.9");
    m.serviceCounts = {2, 1, 0};
    MainWindow w(m.environment("1.2.0"));
    w.loadLocalVersion();
    w.checkDriver(std::string("x86_64"));
    EXPECT_EQ(m.events, (std::vector<std::string>{"alert " + kNewDriver, "count", "alert " + kNotRemoved, "count",
                                                  "alert " + kNotRemoved, "count", "install RELOAD"}));
    EXPECT_EQ(m.alerts[1].first, "Attention");
    EXPECT_EQ(m.defaults.string("ToolBoxVersion").value, "1.2.0");
}

TEST(DriverCheck, FirstLaunchWithInstalledDriverReloadsOnlyWhenTheAppVersionParses) {
    FakeMachine m;
    m.installDriver("1.0.0");
    MainWindow w(m.environment("1.2.0"));
    w.loadLocalVersion();
    EXPECT_TRUE(w.isDriverUpdateNeeded());
    w.checkDriver(std::string("x86_64"));
    ASSERT_EQ(m.installs.size(), 1u);
    EXPECT_EQ(m.installs[0].back(), "RELOAD");

    FakeMachine n;
    n.installDriver("1.0.0");
    MainWindow v(n.environment("1.2.beta"));  // not a version number: -1
    v.loadLocalVersion();
    EXPECT_EQ(v.localToolBoxVersionNumber(), -1);
    EXPECT_FALSE(v.isDriverUpdateNeeded());
    v.checkDriver(std::string("x86_64"));
    EXPECT_TRUE(n.installs.empty());
}

TEST(DriverCheck, StoredVersionAndBundleVersionsCompareAsNumbers) {
    struct Case {
        std::string stored, installed, copy;
        bool reload;
    };
    const Case cases[] = {
        {"1.2.0", "1.0.3", "1.0.10", true},   // 10003 < 10010, not a text comparison
        {"1.2.0", "1.0.10", "1.0.3", false},
        {"1.2.0", "1.0.0", "1.0.0", false},
        {"1.10.0", "1.0.0", "1.0.0", false},  // a newer stored version needs nothing
        {"garbage", "1.0.0", "1.0.0", true},  // unreadable default counts as missing
    };
    for (const auto& c : cases) {
        FakeMachine m;
        m.installDriver(c.installed);
        m.bundleVersions[std::string(kCopy) + "/Contents/Info.plist"] = c.copy;
        m.defaults.set("ToolBoxVersion", c.stored);
        MainWindow w(m.environment("1.2.0"));
        w.loadLocalVersion();
        w.checkDriver(std::string("x86_64"));
        EXPECT_EQ(m.installs.size(), c.reload ? 1u : 0u) << c.stored << " " << c.installed << " " << c.copy;
    }
}

TEST(DriverCheck, MissingOrUnreadableVersionFilesChangeNothing) {
    const std::function<void(FakeMachine&)> breakers[] = {
        [](FakeMachine& m) { m.files.erase(std::string(kInstalled) + "/Contents/Info.plist"); },
        [](FakeMachine& m) { m.files.erase(std::string(kCopy) + "/Contents/Info.plist"); },
        [](FakeMachine& m) { m.bundleVersions.erase(std::string(kInstalled) + "/Contents/Info.plist"); },
        [](FakeMachine& m) { m.bundleVersions[std::string(kCopy) + "/Contents/Info.plist"] = std::nullopt; },
    };
    for (const auto& breakIt : breakers) {
        FakeMachine m;
        m.installDriver("1.0.0");
        m.bundleVersions[std::string(kCopy) + "/Contents/Info.plist"] = "9.9.9";
        m.defaults.set("ToolBoxVersion", "1.2.0");
        breakIt(m);
        MainWindow w(m.environment("1.2.0"));
        w.loadLocalVersion();
        w.checkDriver(std::string("x86_64"));
        EXPECT_TRUE(m.installs.empty());
        EXPECT_TRUE(m.alerts.empty());
    }
}

// An installed, up-to-date driver whose host does not answer is started through the installer's
// START, which installs nothing; a START that fails is told like a failed install.
TEST(DriverCheck, AnInstalledDriverWhoseHostDoesNotAnswerIsStarted) {
    struct Case {
        bool answers;
        bool versionReadable;
        int startStatus;
    };
    for (const Case c : {Case{true, true, 0}, Case{false, true, 0}, Case{false, false, 0}, Case{false, true, 1}}) {
        SCOPED_TRACE(std::to_string(c.answers) + std::to_string(c.versionReadable) + std::to_string(c.startStatus));
        FakeMachine m;
        m.installDriver("1.0.0");
        if (!c.versionReadable) m.bundleVersions.erase(std::string(kInstalled) + "/Contents/Info.plist");
        m.defaults.set("ToolBoxVersion", "1.3.0");  // newer than the application: kept as it is
        m.hostAnswers = c.answers;
        m.installResult.exitStatus = c.startStatus;
        MainWindow w(m.environment("1.2.0"));
        w.loadLocalVersion();
        w.checkDriver(std::string("x86_64"));
        EXPECT_EQ(m.hostQuestions, 1);
        EXPECT_EQ(m.defaults.string("ToolBoxVersion").value, "1.3.0");
        EXPECT_EQ(m.alertsWith(kNewDriver), 0u);
        if (c.answers) {
            EXPECT_TRUE(m.installs.empty());
            continue;
        }
        ASSERT_EQ(m.installs.size(), 1u);
        EXPECT_EQ(m.installs[0], (std::vector<std::string>{"/res/installKext.sh", kCopy,
                                                           "com_brevantis_driver_HVBSCSIDriver.kext", "START"}));
        EXPECT_EQ(m.alerts.size(), c.startStatus == 0 ? 0u : 1u);
        if (c.startStatus != 0) {
            EXPECT_EQ(m.alerts.at(0).first, "Driver loaded error");
        }
    }
    // A missing bundle is installed, an old one reloaded; neither asks the host first.
    FakeMachine m;
    m.hostAnswers = false;
    MainWindow w(m.environment("1.2.0"));
    w.loadLocalVersion();
    w.checkDriver(std::string("x86_64"));
    EXPECT_EQ(m.hostQuestions, 0);
    ASSERT_EQ(m.installs.size(), 1u);
    EXPECT_EQ(m.installs[0].back(), "NORMAL");
}

// A Linux system has no /Library: the real system keeps the driver under /usr/local/lib, a sandbox
// root keeps the Library/Extensions layout.
TEST(DriverCheck, TheInstalledBundleLivesInTheLinuxLayoutOnTheRealSystem) {
    const std::string bundle = "com_brevantis_driver_HVBSCSIDriver.kext";
    const std::pair<std::string, std::string> cases[] = {
        {"/", "/usr/local/lib/HalvetorBody_ToolBox/Extensions/" + bundle},
        {"", "/usr/local/lib/HalvetorBody_ToolBox/Extensions/" + bundle},
        {"//", "/usr/local/lib/HalvetorBody_ToolBox/Extensions/" + bundle},
        {"/sandbox", "/sandbox/Library/Extensions/" + bundle},
        {"/tmp/demo/", "/tmp/demo/Library/Extensions/" + bundle},
    };
    for (const auto& [root, expected] : cases) {
        FakeMachine m;
        auto env = m.environment();
        env.systemRoot = root;
        MainWindow w(env);
        EXPECT_EQ(w.installedBundlePath(), expected) << root;
    }
}

// The alert keeps its words and adds the cause, in words the user can act on: a restart mends
// none of these.
TEST(DriverCheck, FailedOrCancelledInstallsKeepTheStoredVersion) {
    struct Failure {
        std::function<void(FakeMachine&)> make;
        std::string cause;
    };
    const Failure failures[] = {
        {[](FakeMachine& m) { m.installResult.cancelled = true, m.installResult.exitStatus = 126; },
         "The request for administrator rights was cancelled. Start the toolbox again and confirm with your "
         "password to install the driver."},
        {[](FakeMachine& m) { m.installResult.notAuthorized = true, m.installResult.exitStatus = 127; },
         "Administrator rights were refused. Start the toolbox again with an account that may install the driver."},
        // The script's own last error line, whatever it printed before.
        {[](FakeMachine& m) {
             m.installResult.exitStatus = 1;
             m.installResult.output = "copying\n";
             m.installResult.errorOutput = "installKext.sh: warning\ninstallKext.sh: could not copy the bundle\n  \n";
         },
         "The driver installation failed: installKext.sh: could not copy the bundle"},
        {[](FakeMachine& m) { m.installResult.exitStatus = 1; }, "The driver installation failed (exit status 1)."},
        {[](FakeMachine& m) {
             m.installResult.launched = false;
             m.installResult.mode = security::AdminRunMode::pkexec;
             m.installResult.programMissing = true;
             m.installResult.program = "/usr/bin/pkexec";
             m.installResult.error = "cannot start (/usr/bin/pkexec): No such file or directory";
         },
         "pkexec, the program that asks for administrator rights, is not installed. Install it, then start the "
         "toolbox again."},
        {[](FakeMachine& m) {
             m.installResult.launched = false;
             m.installResult.error = "refusing an administrator run into /srv: /srv is writable by others";
         },
         "The driver installation could not be started: refusing an administrator run into /srv: /srv is writable "
         "by others"},
        // A run that ended well but left no bundle behind.
        {[](FakeMachine& m) { m.installCreatesBundle = false; },
         "The driver installation ended, but the driver is not in place."},
    };
    for (const auto& fail : failures) {
        SCOPED_TRACE(fail.cause);
        FakeMachine m;
        m.defaults.set("ToolBoxVersion", "1.0.0");
        fail.make(m);
        MainWindow w(m.environment("1.2.0"));
        w.loadLocalVersion();
        EXPECT_FALSE(w.runInstallScript("NORMAL"));
        EXPECT_EQ(m.defaults.string("ToolBoxVersion").value, "1.0.0");
        std::lock_guard<std::mutex> guard(m.lock);
        ASSERT_EQ(m.alerts.size(), 1u);
        EXPECT_EQ(m.alerts[0].first, "Driver loaded error");
        EXPECT_EQ(m.alerts[0].second, "Please restart computer to make sure driver work.\n\n" + fail.cause);
    }
}

// A file where the settings folder should be: the installed version cannot be noted. The user
// hears why once per launch, and later launches do not reinstall for that.
TEST(DriverCheck, SettingsThatCannotBeStoredAreToldOnceAndDoNotReinstallEachLaunch) {
    FakeMachine m;
    TempDir::write(m.home / "blocked", "");
    for (int launch = 0; launch < 3; ++launch) {
        SCOPED_TRACE(launch);
        foundation::UserDefaults defaults(m.home / "blocked/defaults.json");
        auto env = m.environment("1.2.0");
        env.defaults = &defaults;
        MainWindow w(env);
        w.loadLocalVersion();
        m.alerts.clear();
        w.checkDriver(std::string("x86_64"));
        EXPECT_EQ(m.installs.size(), 1u);  // the first launch's only
        EXPECT_EQ(m.alertsWith(kNewDriver), 0u);
        ASSERT_EQ(m.alerts.size(), 1u);
        EXPECT_EQ(m.alerts[0].second.find("The settings folder cannot be written."), 0u);
        EXPECT_NE(m.alerts[0].second.find((m.home / "blocked").string()), std::string::npos) << m.alerts[0].second;
        if (launch == 0) m.installDriver("1.0.0");
    }
}

TEST(DriverCheck, ReloadThatKeepsTheOldBundleCountsAsFailureWhenTheScriptFails) {
    // The old bundle is still there, but the script said it failed: not a success.
    FakeMachine m;
    m.installDriver("1.0.0");
    m.defaults.set("ToolBoxVersion", "1.0.0");
    m.installResult.exitStatus = 1;
    MainWindow w(m.environment("1.2.0"));
    w.loadLocalVersion();
    EXPECT_FALSE(w.runInstallScript("RELOAD"));
    EXPECT_EQ(m.defaults.string("ToolBoxVersion").value, "1.0.0");
}

TEST(DriverCheck, AbsentResourcesStillRunAndFail) {
    FakeMachine m;
    auto env = m.environment();
    env.installKextPath = [] { return std::optional<std::string>(); };
    env.kextBundlePath = [] { return std::optional<std::string>(); };
    MainWindow w(env);
    w.loadLocalVersion();
    m.installCreatesBundle = false;
    EXPECT_FALSE(w.runInstallScript("NORMAL"));
    ASSERT_EQ(m.installs.size(), 1u);
    EXPECT_EQ(m.installs[0], (std::vector<std::string>{"", "", "com_brevantis_driver_HVBSCSIDriver.kext", "NORMAL"}));
}

// The real installer path: the administrator runner runs the script directly for a sandbox root
// the user owns, every path one argument, whatever characters it holds.
TEST(DriverCheck, InstallPathsWithShellCharactersReachTheScriptUnchanged) {
    TempDir sandbox;
    const std::filesystem::path resources = sandbox / "Res $(touch pwned) 'q' \"dq\" `id`";
    const std::filesystem::path copy = resources / "com_brevantis_driver_HVBSCSIDriver.kext";
    const std::filesystem::path script = resources / "installKext.sh";
    const std::filesystem::path root = sandbox / "root dir";
    std::filesystem::create_directories(copy);
    std::filesystem::create_directories(root);
    TempDir::write(script,
                   "#!/bin/sh\n"
                   "printf '%s\\n' \"$1\" \"$2\" \"$3\" > \"$HVB_ROOT/args\"\n"
                   "mkdir -p \"$HVB_ROOT/Library/Extensions/$2\"\n");
    FakeMachine m;
    auto env = m.environment();
    env.fileExists = [](const std::string& p) { return std::filesystem::exists(p); };
    env.installKextPath = [script] { return std::optional<std::string>(script.string()); };
    env.kextBundlePath = [copy] { return std::optional<std::string>(copy.string()); };
    env.systemRoot = root.string();
    env.runAsAdministrator = [root](const std::string& s, const std::vector<std::string>& args) {
        security::AdminRunOptions options;
        options.systemRoot = root;
        ::setenv("HVB_ROOT", root.c_str(), 1);
        auto result = security::runScriptAsAdministrator(s, args, options);
        ::unsetenv("HVB_ROOT");
        return result;
    };
    MainWindow w(env);
    w.loadLocalVersion();
    EXPECT_TRUE(w.runInstallScript("NORMAL"));
    EXPECT_EQ(TempDir::read(root / "args"), copy.string() + "\ncom_brevantis_driver_HVBSCSIDriver.kext\nNORMAL\n");
    EXPECT_FALSE(std::filesystem::exists(sandbox / "pwned"));
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_EQ(m.defaults.string("ToolBoxVersion").value, "1.2.0");
}

TEST(LaunchChecks, WindowDidLoadBuildsTablesAndProbesOnlyWhenReachable) {
    hvbtest::LogCapture log;
    {
        FakeMachine m;
        m.arch.reset();  // the background check stops at once
        MainWindow w(m.environment());
        w.windowDidLoad();
        EXPECT_EQ(w.localToolBoxVersion(), "1.2.0");
        EXPECT_EQ(w.localToolBoxVersionNumber(), 10200);
        EXPECT_EQ(m.probes, 1);
        EXPECT_EQ(m.internet, std::vector<bool>{true});
        EXPECT_TRUE(apptest::waitUntil([&] {
            std::lock_guard<std::mutex> guard(m.lock);
            return !m.alerts.empty();
        }));
        EXPECT_NE(std::find(m.events.begin(), m.events.end(), "tables"), m.events.end());
    }
    {
        FakeMachine m;
        m.arch.reset();
        m.reachable = false;
        MainWindow w(m.environment());
        w.windowDidLoad();
        EXPECT_EQ(m.probes, 0);
        EXPECT_EQ(m.internet, std::vector<bool>{false});
        apptest::waitUntil([&] {
            std::lock_guard<std::mutex> guard(m.lock);
            return !m.alerts.empty();
        });
    }
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "MainWindow START"), lines.end());
}

// The probe against the web-service stand-in: only a 200 with a body counts.
TEST(LaunchChecks, WebSiteProbeNeedsDataAndStatus200) {
    standin::WebService service;
    ASSERT_GT(service.start(), 0);
    ::setenv("HVB_SITE_URL", (service.baseURL() + "/").c_str(), 1);
    auto probe = [] {
        FakeMachine m;
        auto env = LaunchEnvironment::system();
        MainWindow w(env);
        std::atomic<int> answer{-1};
        w.probeWebSite([&](bool ok) { answer = ok ? 1 : 0; });
        apptest::waitUntil([&] { return answer.load() >= 0; }, 30000);
        return answer.load();
    };
    EXPECT_EQ(probe(), 1);
    EXPECT_GE(service.requestsTo("/").size(), 1u);

    standin::Fault notFound;
    notFound.status = 404;
    service.setFault(standin::Route::root, notFound);
    EXPECT_EQ(probe(), 0);

    standin::Fault empty;
    empty.emptyBody = true;
    service.setFault(standin::Route::root, empty);
    EXPECT_EQ(probe(), 0);

    // A site that does not answer in time: the 20 s time-out, scaled down for the test.
    dispatch::setTimeScale(0.02);
    standin::Fault slow;
    slow.delayMs = 3000;
    service.setFault(standin::Route::root, slow);
    EXPECT_EQ(probe(), 0);
    dispatch::setTimeScale(1);
    service.clearFaults();

    ::setenv("HVB_SITE_URL", "https://www.halvetor.example/", 1);
    EXPECT_EQ(probe(), 0);  // the placeholder is never contacted
    ::unsetenv("HVB_SITE_URL");
}

}  // namespace

// ---- the driver host during the session ----

namespace {

using iokit::HostStatus;
using iokit::Refusal;

// The installer's parts on the real system: a per-user copy is told before any password is
// asked, a sandbox root is not looked at.
TEST(DriverCheck, APerUserCopyIsToldItCannotInstallTheDriverBeforeAnyPasswordIsAsked) {
    for (const std::string root : {"/", "/sandbox"}) {
        SCOPED_TRACE(root);
        FakeMachine m;
        auto env = m.environment();
        env.systemRoot = root;
        std::vector<std::string> looked;
        env.untrustedInstallerPart = [&](const std::string& script, const std::string& bundle) {
            looked = {script, bundle};
            return std::optional<std::string>(script);
        };
        MainWindow w(env);
        w.loadLocalVersion();
        w.checkDriver(std::string("x86_64"));
        if (root != "/") {
            EXPECT_TRUE(looked.empty());
            EXPECT_EQ(m.installs.size(), 1u);
            continue;
        }
        EXPECT_EQ(looked, (std::vector<std::string>{"/res/installKext.sh", kCopy}));
        EXPECT_TRUE(m.installs.empty());
        ASSERT_EQ(m.alerts.size(), 1u);
        EXPECT_EQ(m.alerts[0].first, "Driver loaded error");
        EXPECT_NE(m.alerts[0].second.find("cannot install the camera driver: /res/installKext.sh is not owned"),
                  std::string::npos);
        EXPECT_NE(m.alerts[0].second.find("system-wide"), std::string::npos) << m.alerts[0].second;
    }
    // The check itself, on files: sound only when root owns everything and no one else may write.
    TempDir dir;
    const auto script = dir / "installKext.sh";
    const auto bundle = dir / "driver.kext";
    TempDir::write(script, "#!/bin/sh\n");
    TempDir::write(bundle / "Contents/Info.plist", "<plist/>");
    for (const auto& folder : {bundle, bundle / "Contents"}) std::filesystem::permissions(folder, std::filesystem::perms(0755));
    std::filesystem::permissions(bundle / "Contents/Info.plist", std::filesystem::perms(0644));
    std::filesystem::permissions(script, std::filesystem::perms(0777));
    EXPECT_EQ(MainWindow::untrustedInstallerPart(script, bundle), script.string());
    std::filesystem::permissions(script, std::filesystem::perms(0755));
    if (::geteuid() != 0) {
        EXPECT_EQ(MainWindow::untrustedInstallerPart(script, bundle), script.string());  // not root's
        GTEST_SKIP() << "the link and ownership cases need root: only root owns a sound installer";
    }
    EXPECT_EQ(MainWindow::untrustedInstallerPart(script, bundle), std::nullopt);
    std::filesystem::create_symlink("/etc/passwd", bundle / "Contents/link");
    EXPECT_EQ(MainWindow::untrustedInstallerPart(script, bundle), (bundle / "Contents/link").string());
    std::filesystem::remove(bundle / "Contents/link");
    ASSERT_EQ(::chown((bundle / "Contents/Info.plist").c_str(), 65534, 65534), 0);
    EXPECT_EQ(MainWindow::untrustedInstallerPart(script, bundle), (bundle / "Contents/Info.plist").string());

    // Root's copy in a folder another user may change (theirs, or open to all, sticky or not)
    // is no better: that user may swap the parts before the privileged run reads them.
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    struct Changeable {
        const char* name;
        uid_t owner;
        mode_t mode;
    };
    for (const auto& [name, owner, mode] : {Changeable{"theirs", 65534, 0755}, {"open", 0, 0777}, {"sticky", 0, 01777}}) {
        SCOPED_TRACE(name);
        const auto folder = dir / name / "Resources";
        std::filesystem::create_directories(folder);
        std::filesystem::copy(script, folder / "installKext.sh");
        std::filesystem::copy(dir / "driver.kext", folder / "driver.kext", std::filesystem::copy_options::recursive);
        ASSERT_EQ(::chown((folder / "driver.kext/Contents/Info.plist").c_str(), 0, 0), 0);
        EXPECT_EQ(MainWindow::untrustedInstallerPart(folder / "installKext.sh", folder / "driver.kext"), std::nullopt);
        const auto changeable = mode == 01777 ? folder : folder.parent_path();
        ASSERT_EQ(::chown(changeable.c_str(), owner, owner), 0);
        ASSERT_EQ(::chmod(changeable.c_str(), mode), 0);
        EXPECT_EQ(MainWindow::untrustedInstallerPart(folder / "installKext.sh", folder / "driver.kext"),
                  changeable.string());
        // The bundle alone in such a folder, the script in a sound one.
        EXPECT_EQ(MainWindow::untrustedInstallerPart(script, folder / "driver.kext"), changeable.string());
    }
    // A shared folder with the sticky bit may lead to the one holding the parts.
    const auto below = dir / "sticky/Resources/inner";
    std::filesystem::create_directories(below);
    ASSERT_EQ(::chmod(below.c_str(), 0755), 0);
    std::filesystem::copy(script, below / "installKext.sh");
    std::filesystem::copy(dir / "driver.kext", below / "driver.kext", std::filesystem::copy_options::recursive);
    ASSERT_EQ(::chown((below / "driver.kext/Contents/Info.plist").c_str(), 0, 0), 0);
    EXPECT_EQ(MainWindow::untrustedInstallerPart(below / "installKext.sh", below / "driver.kext"), std::nullopt);
}

// A host that turns the toolbox away runs: it is never started, and each reason is told once,
// in words the user can act on. The user would agree to a start at once, so a refusal taken for a
// lost host would show as one; a real loss at the end shows that it would.
TEST(DriverHostWatch, ARefusingHostIsNotStartedAndEachReasonIsToldOnce) {
    FakeMachine m;
    m.installDriver("1.0.0");
    m.defaults.set("ToolBoxVersion", "1.2.0");
    auto env = m.environment("1.2.0");
    std::function<void(HostStatus)> observer;
    env.watchDriverHost = [&](std::function<void(HostStatus)> o) { observer = std::move(o); };
    env.driverHostGraceMs = 1;
    std::atomic<int> asks{0};
    env.askAndWait = [&](const std::string&, const std::string&, const std::string&, const std::string&) {
        ++asks;
        return true;
    };
    MainWindow w(env);
    w.loadLocalVersion();
    w.startDriverHostWatch();
    ASSERT_TRUE(observer);
    auto alerts = [&] {
        std::lock_guard<std::mutex> guard(m.lock);
        return m.alerts;
    };
    // The first refusal after a served session stands far beyond the grace period.
    observer(HostStatus{HostStatus::State::connected});
    observer(HostStatus{HostStatus::State::refused, Refusal::socketNotPermitted});
    ASSERT_TRUE(apptest::waitUntil([&] { return alerts().size() == 1; }));
    // A refusal taken for a loss would have asked one grace period after it.
    dispatch::pause(200 * env.driverHostGraceMs);
    EXPECT_EQ(asks.load(), 0);
    for (Refusal refusal : {Refusal::socketNotPermitted, Refusal::userShareFull, Refusal::socketNotPermitted}) {
        observer(HostStatus{HostStatus::State::refused, refusal});
    }
    w.checkDriver(std::string("x86_64"));
    observer(HostStatus{HostStatus::State::connected});
    ASSERT_TRUE(apptest::waitUntil([&] { return alerts().size() >= 2; }));
    dispatch::pause(200 * env.driverHostGraceMs);
    const auto told = alerts();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].first, "The camera driver is running but does not let the toolbox in.");
    EXPECT_NE(told[0].second.find("to the group \"halvetor\", then log out and log in again"), std::string::npos)
        << told[0].second;
    EXPECT_NE(told[1].second.find("Too many programs of your account"), std::string::npos) << told[1].second;
    EXPECT_EQ(asks.load(), 0);
    EXPECT_TRUE(m.installs.empty());
    observer(HostStatus{HostStatus::State::absent});
    ASSERT_TRUE(apptest::waitUntil([&] {
        std::lock_guard<std::mutex> guard(m.lock);
        return !m.events.empty() && m.events.back() == "install START";
    }));
    EXPECT_EQ(asks.load(), 1);
    EXPECT_EQ(m.installs.size(), 1u);
    // The start has returned once the watch has found the host still away after it.
    EXPECT_TRUE(apptest::waitUntil(
        [] { return hvb::DriverHostState::shared().state() == hvb::DriverHostState::State::down; }));

    // The launch check's own question, about a host behind a socket file this user may not open:
    // it runs, so it is not started.
    TempDir dir;
    iokit::SocketServer::Options options;
    options.socketPath = dir / "run/halvetor/iokit.sock";
    options.policy.owner = ::geteuid();
    iokit::SocketServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    ASSERT_EQ(::chmod(options.socketPath.c_str(), 0), 0);
    auto link = std::make_shared<iokit::SocketLink>(options.socketPath);
    iokit::setCurrentLink(link);
    bool answers = false;
    ASSERT_TRUE(sockettest::runWithoutOverridingFileModes(
        [&] { answers = LaunchEnvironment::system().driverHostAnswers(); }));
    EXPECT_TRUE(answers);
    EXPECT_EQ(link->hostStatus(), (HostStatus{HostStatus::State::refused, Refusal::socketNotPermitted}));
    iokit::setCurrentLink(std::make_shared<iokit::EmbeddedLink>());
}

// The watch of a window with a fake host whose status the test sets, and a Status page.
struct WatchedWindow {
    FakeMachine m;
    LaunchEnvironment env = m.environment();
    std::function<void(HostStatus)> observer;
    std::atomic<HostStatus::State> hostNow{HostStatus::State::connected};
    std::atomic<int> asks{0}, runsBegun{0}, runsEnded{0};
    std::atomic<bool> agree{false}, hostAnswersAfterStart{true};
    dispatch::Semaphore gate{0};  // each run waits here, as on its password prompt
    std::atomic<bool> gated{false};

    WatchedWindow() {
        m.installDriver("1.0.0");
        env.watchDriverHost = [this](std::function<void(HostStatus)> o) { observer = std::move(o); };
        env.driverHostStatus = [this] { return HostStatus{hostNow.load()}; };
        env.driverHostGraceMs = 1;
        env.askAndWait = [this](const std::string&, const std::string&, const std::string&, const std::string&) {
            ++asks;
            return agree.load();
        };
        auto run = env.runAsAdministrator;
        env.runAsAdministrator = [this, run](const std::string& script, const std::vector<std::string>& arguments) {
            ++runsBegun;
            if (gated.load()) gate.wait();
            auto result = run(script, arguments);
            if (result.exitStatus == 0 && hostAnswersAfterStart.load()) hostNow = HostStatus::State::connected;
            ++runsEnded;
            return result;
        };
    }
    void lose() {
        hostNow = HostStatus::State::absent;
        observer(HostStatus{HostStatus::State::absent});
    }
};

// Declined, the Status page says that the driver is not running and offers its start: one press,
// one run (a second press while it runs starts nothing), "Starting" meanwhile; a failed start is
// told and offered again; once the host answers, the line goes.
TEST(DriverHostWatch, TheStatusPageTellsAStoppedDriverAndStartsItWithOnePress) {
    using hvb::DriverHostState;
    using hvb::LocalizedString::Msg;
    WatchedWindow h;
    h.m.installResult.exitStatus = 1;  // the first start fails
    h.gated = true;
    hvb::StatusViewController page;
    page.view();
    auto shown = [&](const QString& text, bool enabled) {
        return page.driverStoppedLabel->isVisibleTo(&page) && page.startDriverBtn->isVisibleTo(&page) &&
               page.driverStoppedLabel->text().remove('\n').remove(' ') == QString(text).remove(' ') &&
               page.startDriverBtn->isEnabled() == enabled;
    };
    {
        MainWindow w(h.env);
        w.startDriverHostWatch();
        ASSERT_TRUE(h.observer);
        h.observer(HostStatus{HostStatus::State::connected});
        EXPECT_FALSE(page.driverStoppedLabel->isVisibleTo(&page));
        h.lose();
        ASSERT_TRUE(apptest::waitUntil([&] { return shown(Msg::driverNotRunning(), true); }));
        EXPECT_EQ(h.asks.load(), 1);
        EXPECT_EQ(page.startDriverBtn->text(), Msg::startDriver());
        EXPECT_TRUE(page.insertDeviceLabel->isVisibleTo(&page));
        EXPECT_TRUE(page.openSecurityPreferenceBtn->isVisibleTo(&page));

        page.startDriverBtn->click();
        ASSERT_TRUE(apptest::waitUntil([&] { return h.runsBegun.load() == 1 && shown(Msg::driverStarting(), false); }));
        EXPECT_TRUE(DriverHostState::shared().start());  // asked again while it runs
        h.gate.signal();
        ASSERT_TRUE(apptest::waitUntil([&] { return shown(Msg::driverNotRunning(), true); }));
        EXPECT_EQ(h.runsBegun.load(), 1);
        {
            std::lock_guard<std::mutex> guard(h.m.lock);
            ASSERT_EQ(h.m.alerts.size(), 1u);
            EXPECT_EQ(h.m.alerts[0].first, Msg::driverLoadedError().toStdString());
        }

        h.m.installResult.exitStatus = 0;
        h.gated = false;
        page.startDriverBtn->click();
        ASSERT_TRUE(apptest::waitUntil([&] { return h.runsEnded.load() == 2; }));
        h.observer(HostStatus{HostStatus::State::connected});
        ASSERT_TRUE(apptest::waitUntil([&] { return !page.driverStoppedLabel->isVisibleTo(&page); }));
        EXPECT_FALSE(page.startDriverBtn->isVisibleTo(&page));
        EXPECT_EQ(h.asks.load(), 1);
        EXPECT_EQ(h.m.installs.size(), 2u);
        EXPECT_EQ(h.m.installs.back().back(), "START");
    }
    // The window gone, nothing starts the driver any more.
    EXPECT_FALSE(DriverHostState::shared().start());
}

// The launch check's START that fails leaves the same word and start on the page.
TEST(DriverHostWatch, AFailedLaunchStartIsOfferedOnThePage) {
    WatchedWindow h;
    h.m.hostAnswers = false;
    h.hostNow = HostStatus::State::absent;
    h.m.installResult.exitStatus = 1;
    h.m.defaults.set("ToolBoxVersion", "1.2.0");
    hvb::StatusViewController page;
    page.view();
    MainWindow w(h.env);
    w.loadLocalVersion();
    w.startDriverHostWatch();
    h.observer(HostStatus{HostStatus::State::absent});
    w.checkDriver(std::string("x86_64"));
    EXPECT_EQ(h.runsEnded.load(), 1);
    ASSERT_TRUE(apptest::waitUntil([&] { return page.startDriverBtn->isVisibleTo(&page); }));
    EXPECT_TRUE(page.startDriverBtn->isEnabled());
    EXPECT_EQ(h.asks.load(), 0);
}

// Runs that overlap (the launch check's and the watch's) are each waited for: a host lost while
// one still runs is that run's to bring back, not the user's to be asked about.
TEST(DriverHostWatch, OverlappingInstallerRunsEachKeepTheOfferBack) {
    WatchedWindow h;
    h.gated = true;
    h.agree = true;
    std::mutex linesLock;
    std::vector<std::string> lines;
    const int sink = foundation::addLogSink([&](foundation::LogChannel, const std::string& line) {
        std::lock_guard<std::mutex> guard(linesLock);
        lines.push_back(line);
    });
    auto heldBack = [&] {
        std::lock_guard<std::mutex> guard(linesLock);
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("the driver installer runs: it brings the host back") != std::string::npos;
        });
    };
    {
        MainWindow w(h.env);
        w.startDriverHostWatch();
        h.observer(HostStatus{HostStatus::State::connected});
        std::atomic<int> returned{0};
        auto reload = [&] {
            w.runInstallScript("RELOAD");
            ++returned;
        };
        std::thread first(reload), second(reload);
        ASSERT_TRUE(apptest::waitUntil([&] { return h.runsBegun.load() == 2; }));
        h.gate.signal();
        ASSERT_TRUE(apptest::waitUntil([&] { return returned.load() == 1; }));
        h.lose();  // stopped by the reload still under way
        EXPECT_TRUE(apptest::waitUntil([&] { return heldBack() == 1; }));
        EXPECT_EQ(h.asks.load(), 0);
        h.gated = false;
        h.gate.signal();
        h.gate.signal();  // and a start that should not have begun
        first.join();
        second.join();

        // Lost once both ended, it is asked about.
        h.hostNow = HostStatus::State::connected;
        h.observer(HostStatus{HostStatus::State::connected});
        h.lose();
        EXPECT_TRUE(apptest::waitUntil([&] { return h.runsEnded.load() == 3; }));
        // The start has returned once the watch has taken the host for running again.
        EXPECT_TRUE(apptest::waitUntil(
            [] { return hvb::DriverHostState::shared().state() == hvb::DriverHostState::State::notKnownDown; }));
        EXPECT_EQ(h.asks.load(), 1);
        EXPECT_EQ(heldBack(), 1);
    }
    foundation::removeLogSink(sink);
}

// The window goes while the watch's START waits on its password prompt: the run returns into
// what it shares with the window, never into the window (run under the address sanitizer).
TEST(DriverHostWatch, AWindowClosedDuringAPendingStartIsNotReturnedInto) {
    auto h = std::make_shared<WatchedWindow>();
    h->gated = true;
    h->agree = true;
    std::weak_ptr<WatchedWindow> alive = h;
    {
        // The run holds what it needs by sharing: the environment's hooks keep the machine.
        LaunchEnvironment env = h->env;
        env.runAsAdministrator = [h, run = h->env.runAsAdministrator](const std::string& s,
                                                                      const std::vector<std::string>& a) {
            return run(s, a);
        };
        env.fileExists = [h, exists = h->env.fileExists](const std::string& p) { return exists(p); };
        auto window = std::make_unique<MainWindow>(env);
        window->startDriverHostWatch();
        h->observer(HostStatus{HostStatus::State::connected});
        h->lose();
        ASSERT_TRUE(apptest::waitUntil([&] { return h->runsBegun.load() == 1; }));
        window.reset();
        EXPECT_FALSE(hvb::DriverHostState::shared().start());
    }
    h->gate.signal();
    ASSERT_TRUE(apptest::waitUntil([&] { return h->runsEnded.load() == 1; }));
    // Every hook let go of the machine once the run returned: nothing of the window is left.
    h.reset();
    EXPECT_TRUE(apptest::waitUntil([&] { return alive.expired(); }));
    EXPECT_EQ(hvb::DriverHostState::shared().state(), hvb::DriverHostState::State::notKnownDown);
}

struct SandboxHost {
    TempDir dir;
    std::filesystem::path root = dir / "root";
    std::filesystem::path pidFile = root / "run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid";

    SandboxHost(const std::string& camera) {
        TempDir::write(root / "etc/halvetor/driver.conf", "camera " + camera + "\n");
    }
    ~SandboxHost() { kill(SIGTERM); }
    pid_t pid() const {
        try {
            return static_cast<pid_t>(std::stol(TempDir::read(pidFile)));
        } catch (const std::exception&) {
            return -1;
        }
    }
    bool kill(int signal) const {
        const pid_t host = pid();
        return host > 0 && ::kill(host, signal) == 0;
    }
    security::AdminRunResult install(const std::string& script, const std::vector<std::string>& arguments) const {
        security::AdminRunOptions options;
        options.systemRoot = root;
        options.timeoutMs = 120000;
        options.runner = hosttest::runInPrivateSystem;
        ::setenv("HVB_ROOT", root.c_str(), 1);
        auto result = security::runScriptAsAdministrator(script, arguments, options);
        ::unsetenv("HVB_ROOT");
        return result;
    }
};

}  // namespace

// The real host, killed during the session. Back within the grace period (as a service manager
// brings it back) nothing is asked; away for longer, the user is asked once and the launch
// check's START brings it and its camera back; declined, nothing asks again, and the Status page
// says that the driver is not running and starts it with one press.
TEST(DriverHostWatch, AHostKilledDuringTheSessionIsOfferedAStartOnceAndItsCameraComesBack) {
    dispatch::setTimeScale(0.1);
    SandboxHost sandbox("HVBR7,serial=KILL1");
    const std::string script = hosttest::installScript().string();
    const std::string bundle = hosttest::bundleDir().string();
    ASSERT_EQ(sandbox.install(script, {bundle, MainWindow::kBundleName, "NORMAL"}).exitStatus, 0);

    auto link = std::make_shared<iokit::SocketLink>(hosttest::socketOf(sandbox.root));
    link->setReconnectInterval(20);
    iokit::setCurrentLink(link);
    std::atomic<int> matched{0};
    link->setEventSink([&](uint64_t, iokit::Handle) { ++matched; });

    const LaunchEnvironment system = LaunchEnvironment::system();
    LaunchEnvironment env;
    env.systemRoot = sandbox.root.string();
    env.fileExists = system.fileExists;
    env.installKextPath = [script] { return std::optional<std::string>(script); };
    env.kextBundlePath = [bundle] { return std::optional<std::string>(bundle); };
    std::atomic<int> starts{0}, runsEnded{0};
    env.runAsAdministrator = [&](const std::string& s, const std::vector<std::string>& arguments) {
        starts += arguments.back() == "START";
        auto result = sandbox.install(s, arguments);
        ++runsEnded;
        return result;
    };
    env.watchDriverHost = system.watchDriverHost;
    env.driverHostStatus = system.driverHostStatus;
    env.driverHostGraceMs = 30000;
    std::atomic<int> asks{0};
    std::atomic<bool> answer{true};
    std::mutex lock;
    std::vector<std::string> asked, told;
    env.askAndWait = [&](const std::string& title, const std::string& text, const std::string& confirm,
                         const std::string& cancel) {
        std::lock_guard<std::mutex> guard(lock);
        asked.push_back(title + "|" + text + "|" + confirm + "|" + cancel);
        ++asks;
        return answer.load();
    };
    env.showAlertAndWait = [&](const std::string& title, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        told.push_back(title + "|" + text);
    };
    using hvb::DriverHostState;
    hvb::StatusViewController page;
    page.view();
    auto driverLineShown = [&](bool enabled) {
        return page.driverStoppedLabel->isVisibleTo(&page) && page.startDriverBtn->isVisibleTo(&page) &&
               page.startDriverBtn->isEnabled() == enabled;
    };
    auto driverLineGone = [&] {
        return !page.driverStoppedLabel->isVisibleTo(&page) && !page.startDriverBtn->isVisibleTo(&page);
    };
    {
        MainWindow w(env);
        w.startDriverHostWatch();
        iokit::MatchingDictionary usb;
        usb.providerClass = "IOUSBDevice";
        ASSERT_EQ(link->addNotification(1, iokit::NotificationKind::matched, usb), kIOReturnSuccess);
        ASSERT_TRUE(sockettest::eventually([&] { return matched.load() >= 1; }, 20));

        // Back at once, started by someone else: no question.
        hosttest::HostProcess restarted;
        ASSERT_TRUE(sandbox.kill(SIGKILL));
        ASSERT_TRUE(sockettest::eventually([&] { return !link->isConnected(); }, 20));
        ASSERT_TRUE(restarted.start(sandbox.root, {}));
        ASSERT_TRUE(sockettest::eventually([&] { return matched.load() >= 2; }, 20));
        dispatch::pause(2 * env.driverHostGraceMs);
        EXPECT_EQ(asks.load(), 0);
        EXPECT_EQ(starts.load(), 0);

        // Gone for good: one question, and START brings the host and its camera back.
        ASSERT_TRUE(sandbox.kill(SIGKILL));
        ASSERT_TRUE(sockettest::eventually([&] { return !restarted.running() && asks.load() == 1; }, 30));
        ASSERT_TRUE(sockettest::eventually([&] { return matched.load() >= 3 && runsEnded.load() == 1; }, 60));
        EXPECT_EQ(starts.load(), 1);
        EXPECT_TRUE(link->isConnected());
        {
            std::lock_guard<std::mutex> guard(lock);
            EXPECT_EQ(asked.at(0), "The camera driver stopped.|No camera can be found while it is stopped. Start it "
                                   "again? You will be asked for an administrator password.|Start Driver|Not Now");
            EXPECT_TRUE(told.empty());
        }

        // Declined: the driver stays stopped and nothing asks again.
        answer = false;
        ASSERT_TRUE(sandbox.kill(SIGKILL));
        ASSERT_TRUE(sockettest::eventually([&] { return asks.load() == 2; }, 30));
        dispatch::pause(3 * env.driverHostGraceMs);
        EXPECT_EQ(asks.load(), 2);
        EXPECT_EQ(starts.load(), 1);
        EXPECT_FALSE(link->isConnected());

        // The page says so beside its insertion hint, and one press starts it (a second one
        // while it starts changes nothing): no question, one START, the camera back by itself.
        ASSERT_TRUE(apptest::waitUntil([&] { return driverLineShown(true); }));
        EXPECT_EQ(page.driverStoppedLabel->text().remove('\n').remove(' '),
                  QString(hvb::LocalizedString::Msg::driverNotRunning()).remove(' '));
        EXPECT_TRUE(page.insertDeviceLabel->isVisibleTo(&page));
        page.startDriverBtn->click();
        EXPECT_FALSE(page.startDriverBtn->isEnabled());
        ASSERT_TRUE(sockettest::eventually([&] { return starts.load() == 2; }, 60));
        EXPECT_TRUE(DriverHostState::shared().start());
        ASSERT_TRUE(sockettest::eventually([&] { return matched.load() >= 4 && runsEnded.load() == 2; }, 60));
        ASSERT_TRUE(apptest::waitUntil([&] { return driverLineGone(); }, 20000));
        EXPECT_EQ(starts.load(), 2);
        EXPECT_EQ(asks.load(), 2);
        EXPECT_TRUE(link->isConnected());
    }
    iokit::setCurrentLink(std::make_shared<iokit::EmbeddedLink>());
    dispatch::setTimeScale(1);
}

// The offer and a refusal as the user sees them: real alerts, answered by a click.
TEST(DriverHostWatch, TheOfferAndTheRefusalAreAlertsWithTheirButtons) {
    const LaunchEnvironment system = LaunchEnvironment::system();
    // The alert runs its own modal loop: it is found and clicked from a timer of that loop.
    auto clickFirstWhenShown = [](const std::string& name, QStringList* buttons) {
        auto* timer = new QTimer;
        timer->setInterval(20);
        QObject::connect(timer, &QTimer::timeout, [timer, name, buttons] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* first = top->isVisible() ? top->findChild<QPushButton*>("alertButton0") : nullptr;
                if (!first) continue;
                timer->stop();
                timer->deleteLater();
                EXPECT_TRUE(apptest::saveScreenshot(top, name));
                for (auto* button : top->findChildren<QPushButton*>()) *buttons << button->text();
                first->click();
                return;
            }
        });
        timer->start();
    };
    using hvb::LocalizedString::Msg;
    QStringList offerButtons;
    clickFirstWhenShown("driver-stopped-offer", &offerButtons);
    std::atomic<int> answer{-1};
    std::thread offer([&] {
        answer = system.askAndWait(Msg::driverStopped().toStdString(), Msg::driverStoppedDetails().toStdString(),
                                   Msg::startDriver().toStdString(), Msg::notNow().toStdString());
    });
    EXPECT_TRUE(apptest::waitUntil([&] { return answer.load() != -1; }));
    offer.join();
    EXPECT_EQ(answer.load(), 1);
    EXPECT_EQ(offerButtons, (QStringList{"Not Now", "Start Driver"}));

    QStringList refusalButtons;
    clickFirstWhenShown("driver-host-refused", &refusalButtons);
    std::atomic<bool> dismissed{false};
    std::thread refusal([&] {
        system.showAlertAndWait(Msg::driverHostRefused().toStdString(),
                                hvb::DriverHostWatch::refusalText(Refusal::socketNotPermitted, "halvetor"));
        dismissed = true;
    });
    EXPECT_TRUE(apptest::waitUntil([&] { return dismissed.load(); }));
    refusal.join();
    EXPECT_EQ(refusalButtons.size(), 1);

    // Asked while another window is modal (an upgrade's failure screen), the question waits until
    // that one is closed: never two modal windows stacked.
    std::atomic<bool> waiting{false};
    const int sink = foundation::addLogSink([&](foundation::LogChannel, const std::string& line) {
        if (line.find("an alert waits for the window in front of it") != std::string::npos) waiting = true;
    });
    auto messageOf = [](QWidget* top) {
        auto* label = top->findChild<QLabel*>("messageText");
        return label ? label->text() : QString();
    };
    std::atomic<int> asked{-1};
    int depthWhenShown = -1;
    TempDir home;
    services::DesktopUpdater updater({.currentVersion = "0.0.1", .appName = {}, .openURL = {}});
    bool offerShownWhenAsked = false;
    QTimer clicker;
    clicker.setInterval(20);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        QWidget* front = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* first = top->isVisible() ? top->findChild<QPushButton*>("alertButton0") : nullptr;
            if (!first) continue;
            if (messageOf(top) == Msg::driverStopped()) {
                depthWhenShown = appkit::modalSessionDepth();
                offerShownWhenAsked = updater.isOfferShown();
                first->click();
                return;
            }
            if (messageOf(top) == "Upgrade failed") front = top;
        }
        if (front && (waiting.load() || asked.load() != -1)) front->findChild<QPushButton*>("alertButton0")->click();
        if (waiting.load() && updater.isOfferShown()) updater.offerDialog()->laterButton()->click();
    });
    clicker.start();
    std::thread question;
    QTimer::singleShot(0, [&] {
        question = std::thread([&] {
            asked = system.askAndWait(Msg::driverStopped().toStdString(), Msg::driverStoppedDetails().toStdString(),
                                      Msg::startDriver().toStdString(), Msg::notNow().toStdString());
        });
    });
    appkit::Alert front;
    front.messageText = "Upgrade failed";
    front.runModal();
    EXPECT_TRUE(apptest::waitUntil([&] { return asked.load() != -1; }));
    question.join();
    // Nor over the update offer, a window of its own.
    TempDir::write(home / "appcast.xml", standin::appcastXML("https://www.brevantis.example", "en", 0));
    updater.setFeedURL(home / "appcast.xml");
    services::Updater::setShared(&updater);
    updater.checkForUpdatesInBackground();
    ASSERT_TRUE(apptest::waitUntil([&] { return updater.isOfferShown(); }));
    EXPECT_TRUE(waiting.exchange(false));
    asked = -1;
    question = std::thread([&] {
        asked = system.askAndWait(Msg::driverStopped().toStdString(), Msg::driverStoppedDetails().toStdString(),
                                  Msg::startDriver().toStdString(), Msg::notNow().toStdString());
    });
    EXPECT_TRUE(apptest::waitUntil([&] { return asked.load() != -1; }));
    question.join();
    services::Updater::setShared(nullptr);
    EXPECT_FALSE(offerShownWhenAsked);
    clicker.stop();
    foundation::removeLogSink(sink);
    EXPECT_TRUE(waiting.load());
    EXPECT_EQ(depthWhenShown, 1);
}
