// `make run`'s script, headless on a temporary sandbox: the driver is installed through the
// application's launch check, the host serves both demo cameras, the web-service stand-in sees the
// probe, the appcast request and the launch events, and nothing is left running afterwards. Run
// again in the kept sandbox, whose host the first run stopped, the launch check starts the host
// and the toolbox finds both cameras again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fcntl.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RegularFile.h"
#include "../platform/foundation/TempDir.h"
#include "SCSIDriver/PrivateSystem.h"
#if HVB_HAVE_EMULATED_USB_BUS
#include "standins/usbbus/UmockdevPreload.h"
#endif

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

size_t countOf(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// A file under /proc; empty when its process has gone meanwhile (a read then fails with ESRCH).
std::string readProc(const fs::path& file) {
    std::string text;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

// Every process whose parent chain leads to `root` (read from /proc).
std::set<pid_t> descendants(pid_t root) {
    std::map<pid_t, pid_t> parent;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = readProc(entry.path() / "stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state;
        pid_t ppid;
        rest >> state >> ppid;
        parent[std::stoi(name)] = ppid;
    }
    std::set<pid_t> found;
    bool grew = true;
    while (grew) {
        grew = false;
        for (auto [pid, ppid] : parent) {
            if ((ppid == root || found.count(ppid)) && !found.count(pid)) {
                found.insert(pid);
                grew = true;
            }
        }
    }
    return found;
}

bool alive(pid_t pid) {
    if (::kill(pid, 0) != 0) return false;
    std::string stat = readProc("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close == std::string::npos || stat.size() < close + 3 || stat[close + 2] != 'Z';
}

std::string exeName(pid_t pid) {
    std::error_code ec;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename().string();
}

template <class Pred>
bool waitFor(Pred pred, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(200ms);
    }
    return pred();
}

// The toolbox's log names both demo cameras' models once it has read them (90 s at most).
bool bothCamerasRead(const fs::path& log) {
    return waitFor(
        [&] {
            const std::string text = TempDir::read(log);
            return text.find("deviceModel = HVBR7") != std::string::npos &&
                   text.find("deviceModel = HW7334") != std::string::npos;
        },
        std::chrono::seconds(90));
}

// A process's environment, read from /proc.
std::map<std::string, std::string> environmentOf(pid_t pid) {
    std::map<std::string, std::string> environment;
    std::istringstream in(readProc("/proc/" + std::to_string(pid) + "/environ"));
    for (std::string entry; std::getline(in, entry, '\0');) {
        const size_t equals = entry.find('=');
        if (equals != std::string::npos) environment[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    return environment;
}

// The pid a pid file names; 0 when there is none (yet).
pid_t pidIn(const fs::path& file) {
    try {
        return std::stoi(TempDir::read(file));
    } catch (...) {
        return 0;
    }
}

const char* const kHostName = "com_brevantis_driver_HVBSCSIDriver";

fs::path hostPidFile(const fs::path& root) { return root / "run/halvetor" / (std::string(kHostName) + ".pid"); }

// Quits the demo as its user does, by ending the toolbox: the script ends with it (status 0),
// and every process that ran for it (those below the script and the host) ends too.
void quitToolbox(pid_t script, const fs::path& root) {
    std::set<pid_t> processes = descendants(script);
    if (const pid_t host = pidIn(hostPidFile(root)); host > 0) processes.insert(host);
    pid_t app = 0;
    for (pid_t p : processes) {
        if (exeName(p) == "HalvetorBody_ToolBox") app = p;
    }
    EXPECT_GT(app, 0) << "no toolbox runs";
    if (app > 0) ::kill(app, SIGTERM);
    int status = 0;
    const bool exited = waitFor([&] { return ::waitpid(script, &status, WNOHANG) == script; }, 30s);
    if (!exited) ::kill(-script, SIGKILL), ::waitpid(script, &status, 0);
    EXPECT_TRUE(exited);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (pid_t p : processes) {
        EXPECT_TRUE(waitFor([&] { return !alive(p); }, 10s)) << "left running: " << p << " " << exeName(p);
    }
}

// `make run`'s script in a process group of its own, its output to `output`, with the programs
// of `buildDir` (relative: to the source folder, as `make run` gives it). A terminal's signals
// reach it as they would from a shell, whatever this process ignores or blocks.
pid_t startScript(const fs::path& root, const fs::path& output, const char* option = nullptr,
                  const std::string& buildDir = HVB_TEST_BUILD_DIR) {
    const std::string script = std::string(HVB_TEST_SOURCE_DIR) + "/scripts/run.sh";
    // As root the toolbox runs the installer as root: in a private system of its own.
    const std::string helper = hosttest::inPrivateSystem({}).front();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("HVB_DEMO_ROOT", root.c_str(), 1);
        ::unsetenv("DISPLAY");
        if (::chdir("/") != 0) ::_exit(126);  // the script finds its own folder
        ::execl(helper.c_str(), helper.c_str(), "/bin/bash", script.c_str(), "--build-dir", buildDir.c_str(), option,
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid > 0) ::setpgid(pid, pid);  // before any signal is sent to the group
    return pid;
}

// Every live process whose command line names `root` (as `pgrep -f ROOT` finds them).
std::set<pid_t> mentioning(const fs::path& root) {
    std::set<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        if (pid == ::getpid()) continue;
        if (readProc(entry.path() / "cmdline").find(root.string()) != std::string::npos && alive(pid))
            found.insert(pid);
    }
    return found;
}

TEST(Demo, MakeRunScriptServesBothCamerasAndCleansUp) {
    TempDir sandbox;
    const fs::path root = sandbox / "root";
    const fs::path output = sandbox / "run.log";
    pid_t pid = startScript(root, output);
    ASSERT_GE(pid, 0);

    const fs::path installed = root / "Library/Extensions/com_brevantis_driver_HVBSCSIDriver.kext";
    const fs::path webLog = root / "var/log/halvetor/webservice.log";
    auto webRequests = [&] { return TempDir::read(webLog); };

    // Installed by the application's own launch check, through installKext.sh.
    EXPECT_TRUE(waitFor([&] { return fs::exists(installed / "Contents/Info.plist"); }, 60s)) << TempDir::read(output);
    // Both cameras read: one "Device" event per camera reaches the collector.
    const bool bothUp = waitFor(
        [&] {
            const std::string log = webRequests();
            return log.find("\"action\":\"HVBR7\"") != std::string::npos &&
                   log.find("\"action\":\"HW7334\"") != std::string::npos;
        },
        60s);
    EXPECT_TRUE(bothUp) << TempDir::read(output) << "\n---\n" << webRequests();
    EXPECT_TRUE(waitFor([&] { return webRequests().find("REQUEST POST /v1/api/get/version") != std::string::npos; }, 30s));
    EXPECT_TRUE(waitFor([&] { return countOf(webRequests(), "\"name\":\"User_Mac_Model\"") >= 1; }, 30s));

    const std::string log = TempDir::read(output);
    EXPECT_NE(log.find("MainWindow START"), std::string::npos);
    EXPECT_NE(log.find("deviceModel = HVBR7"), std::string::npos);
    EXPECT_NE(log.find("deviceModel = HW7334"), std::string::npos);
    EXPECT_NE(log.find("--control plug"), std::string::npos);  // how to plug more cameras
    const std::string requests = webRequests();
    EXPECT_NE(requests.find("REQUEST GET / "), std::string::npos);  // the start-up probe

    // The host that the launch check started serves both cameras.
    const std::string host = installed.string() + "/Contents/MacOS/com_brevantis_driver_HVBSCSIDriver";
    auto listed = foundation::runProcess({host, "--root", root.string(), "--control", "list"});
    EXPECT_NE(listed.standardOutput.find("HVBR7"), std::string::npos) << listed.standardOutput;
    EXPECT_NE(listed.standardOutput.find("HW7334"), std::string::npos) << listed.standardOutput;

    // Quitting the application ends the script, which stops the host and the stand-in.
    quitToolbox(pid, root);
    EXPECT_NE(TempDir::read(output).find("terminate"), std::string::npos);
    ASSERT_FALSE(foundation::runProcess({host, "--root", root.string(), "--ping"}).exitStatus == 0);

    // The same sandbox again: installed and up to date, but no host answers.
    fs::remove(webLog);
    const fs::path again = sandbox / "run-again.log";
    pid = startScript(root, again);
    ASSERT_GE(pid, 0);
    const bool bothAgain = bothCamerasRead(again);
    EXPECT_TRUE(bothAgain) << TempDir::read(again);
    EXPECT_NE(TempDir::read(again).find("installKext.sh: START:"), std::string::npos) << TempDir::read(again);
    listed = foundation::runProcess({host, "--root", root.string(), "--control", "list"});
    EXPECT_NE(listed.standardOutput.find("HVBR7"), std::string::npos) << listed.standardOutput;
    quitToolbox(pid, root);
}

// With --usb-bus the same two cameras are on the emulated kernel bus and the host drives them
// through its Linux backend; only the host runs on that bus, so the toolbox is online as in the
// simulation demo (the site probe, the update check). Started as `make run` starts it (its build
// folder relative to the source folder), it prints commands that work from any folder.
TEST(Demo, TheUsbBusSwitchRunsTheCamerasThroughTheLinuxBackend) {
#if !HVB_HAVE_EMULATED_USB_BUS
    GTEST_SKIP() << "hvb-usbbus was not built (umockdev is not installed)";
#else
    if (!hvb::sim::umockdevPreloadLibrary()) GTEST_SKIP() << "umockdev's preload library is not installed";
    TempDir sandbox;
    const fs::path root = sandbox / "root";
    const fs::path output = sandbox / "run.log";
    const fs::path webLog = root / "var/log/halvetor/webservice.log";
    const std::string buildDir = fs::relative(HVB_TEST_BUILD_DIR, HVB_TEST_SOURCE_DIR).string();
    pid_t pid = startScript(root, output, "--usb-bus", buildDir);
    ASSERT_GE(pid, 0);
    const bool bothUp = bothCamerasRead(output);
    EXPECT_TRUE(bothUp) << TempDir::read(output);
    EXPECT_NE(TempDir::read(root / "etc/halvetor/driver.conf").find("backend linux"), std::string::npos);
    const std::string hostLog = TempDir::read(root / "var/log/halvetor/com_brevantis_driver_HVBSCSIDriver.log");
    EXPECT_NE(hostLog.find("with the linux backend"), std::string::npos) << hostLog;
    EXPECT_NE(hostLog.find("generic node /dev/sg"), std::string::npos) << hostLog;

    // Online as in the simulation demo: the start-up probe of the site and the update check.
    EXPECT_TRUE(waitFor([&] { return TempDir::read(webLog).find("REQUEST GET / ") != std::string::npos; }, 30s))
        << TempDir::read(webLog);
    EXPECT_TRUE(waitFor([&] {
        return TempDir::read(webLog).find("REQUEST POST /v1/api/get/version") != std::string::npos;
    }, 30s)) << TempDir::read(webLog);

    // The bus's folder and preload library reach the host, not the toolbox; neither gets a
    // leak check other than the one this test runs with.
    pid_t app = 0;
    for (pid_t p : descendants(pid)) {
        if (exeName(p) == "HalvetorBody_ToolBox") app = p;
    }
    const pid_t host = pidIn(hostPidFile(root));
    ASSERT_GT(app, 0);
    ASSERT_GT(host, 0);
    auto toolboxEnvironment = environmentOf(app);
    auto hostEnvironment = environmentOf(host);
    // The toolbox shows the simulation demo's window title and About version (from the information
    // dictionary beside its resources) and release notes (no link followed): the build's.
    auto shown = [](const fs::path& resources) {
        const foundation::Bundle bundle(resources.parent_path(), resources, resources.parent_path() / "Info.plist");
        return std::make_tuple(bundle.infoString("CFBundleName"), bundle.infoString("CFBundleShortVersionString"),
                               foundation::readRegularFile(resources / "ReleaseNote.json", 4 << 20).content);
    };
    const fs::path buildResources = fs::path(HVB_TEST_BUILD_DIR) / "share/HalvetorBody_ToolBox/Resources";
    EXPECT_EQ(shown(toolboxEnvironment.count("HVB_RESOURCES") ? fs::path(toolboxEnvironment["HVB_RESOURCES"])
                                                              : buildResources),
              shown(buildResources));
    EXPECT_EQ(toolboxEnvironment.count("UMOCKDEV_DIR"), 0u) << toolboxEnvironment["UMOCKDEV_DIR"];
    EXPECT_EQ(toolboxEnvironment["LD_PRELOAD"].find("libumockdev-preload"), std::string::npos)
        << toolboxEnvironment["LD_PRELOAD"];
    EXPECT_FALSE(hostEnvironment["UMOCKDEV_DIR"].empty());
    EXPECT_NE(hostEnvironment["LD_PRELOAD"].find("libumockdev-preload"), std::string::npos)
        << hostEnvironment["LD_PRELOAD"];
    const char* leakOptions = ::getenv("ASAN_OPTIONS");
    const std::string asanOptions = leakOptions && *leakOptions ? leakOptions : "detect_leaks=0";  // the script's default
    EXPECT_EQ(toolboxEnvironment["ASAN_OPTIONS"], asanOptions);
    EXPECT_EQ(hostEnvironment["ASAN_OPTIONS"], asanOptions);

    // The printed unplug command, run from another folder, reaches the bus.
    std::vector<std::string> unplug;
    {
        std::istringstream lines(TempDir::read(output));
        for (std::string line; std::getline(lines, line);) {
            if (line.find("--control unplug HW7334DEMO001") == std::string::npos) continue;
            std::istringstream words(line);
            for (std::string word; words >> word;) unplug.push_back(word);
        }
    }
    ASSERT_FALSE(unplug.empty()) << TempDir::read(output);
    EXPECT_TRUE(fs::path(unplug[0]).is_absolute()) << unplug[0];
    EXPECT_EQ(unplug[0], (fs::path(HVB_TEST_SOURCE_DIR) / buildDir / "SCSIDriver/hvb-usbbus").lexically_normal().string());
    foundation::ProcessOptions elsewhere;
    elsewhere.workingDirectory = sandbox.path().string();
    auto unplugged = foundation::runProcess(unplug, elsewhere);
    EXPECT_EQ(unplugged.exitStatus, 0) << unplugged.standardError << unplugged.error;
    auto listed = foundation::runProcess({unplug[0], "--root", root.string(), "--control", "list"}, elsewhere);
    EXPECT_NE(listed.standardOutput.find("HVBR7DEMO0001"), std::string::npos) << listed.standardOutput;
    EXPECT_EQ(listed.standardOutput.find("HW7334DEMO001"), std::string::npos) << listed.standardOutput;
    EXPECT_TRUE(waitFor([&] {
        return TempDir::read(root / "var/log/halvetor/com_brevantis_driver_HVBSCSIDriver.log").find("left") != std::string::npos;
    }, 30s));

    quitToolbox(pid, root);
#endif
}

}  // namespace

namespace {

// How the demo is ended from outside: a signal to its whole process group (Ctrl-C, a closed
// terminal, `kill -- -PGID`) or to the script alone, then `repeats` more of it to the script
// while it cleans up, 100 ms apart (make forwards its SIGTERM to the script; Ctrl-C pressed
// again).
struct Ending {
    const char* name;
    int signal;
    bool wholeGroup;
    int repeats;
};

void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

class DemoEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(DemoEnding, EndsTheToolboxTheHostAndTheWebService) {
    const Ending ending = GetParam();
    TempDir sandbox;
    const fs::path root = sandbox / "root";
    const fs::path output = sandbox / "run.log";
    pid_t pid = startScript(root, output);
    ASSERT_GT(pid, 0);

    // Up once the host that the toolbox's launch check started answers.
    const std::string host =
        (root / "Library/Extensions/com_brevantis_driver_HVBSCSIDriver.kext/Contents/MacOS/com_brevantis_driver_HVBSCSIDriver")
            .string();
    const bool answers = waitFor(
        [&] {
            if (!fs::exists(host)) return false;
            foundation::ProcessOptions options;
            options.timeoutMs = 10000;
            return foundation::runProcess({host, "--root", root.string(), "--ping"}, options).exitStatus == 0;
        },
        90s);
    if (!answers) ::kill(-pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(answers) << TempDir::read(output);

    std::set<pid_t> processes = descendants(pid);
    for (pid_t p : mentioning(root)) processes.insert(p);
    const fs::path pidFile = root / "run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid";
    if (fs::exists(pidFile)) processes.insert(std::stoi(TempDir::read(pidFile)));
    std::set<std::string> names;
    for (pid_t p : processes) names.insert(exeName(p));
    EXPECT_TRUE(names.count("HalvetorBody_ToolBox") && names.count("hvb-webservice") &&
                names.count("com_brevantis_driver_HVBSCSIDriver"));

    ::kill(ending.wholeGroup ? -pid : pid, ending.signal);
    for (int i = 0; i < ending.repeats; ++i) {
        std::this_thread::sleep_for(100ms);
        ::kill(pid, ending.signal);  // not reaped yet, so still the script's pid
    }
    int status = 0;
    const bool exited = waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60s);
    if (!exited) ::kill(-pid, SIGKILL), ::waitpid(pid, &status, 0);
    EXPECT_TRUE(exited);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + ending.signal) << status;
    const std::string log = TempDir::read(output);
    EXPECT_EQ(log.find("run_pending_traps"), std::string::npos) << log;
    EXPECT_EQ(log.find("bad value"), std::string::npos) << log;

    for (pid_t p : processes) {
        EXPECT_TRUE(waitFor([&] { return !alive(p); }, 10s)) << "left running: " << p << " " << exeName(p);
        if (alive(p)) ::kill(p, SIGKILL);
    }
    // Nor has anything been started since for this sandbox.
    const std::set<pid_t> left = mentioning(root);
    EXPECT_TRUE(left.empty()) << "left running: " << (left.empty() ? 0 : *left.begin()) << " "
                              << (left.empty() ? "" : exeName(*left.begin()));
    for (pid_t p : left) ::kill(p, SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(Signals, DemoEnding,
                         ::testing::Values(Ending{"TermToGroupAsFromMake", SIGTERM, true, 10},
                                           Ending{"IntToGroupTwice", SIGINT, true, 1},
                                           Ending{"HupToGroup", SIGHUP, true, 0},
                                           Ending{"TermToScriptAlone", SIGTERM, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
