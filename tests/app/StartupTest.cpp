// Launch order of the application delegate and its launch events.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../platform/foundation/TempDir.h"
#include "../platform/iokit_socket/SocketTestSupport.h"
#include "app/AppDelegate.h"
#include "app/AppStartup.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"
#include "online/OnlineTestSupport.h"
#include "platform/foundation/Log.h"

namespace {

using hvb::AppDelegate;

struct Recorder {
    std::vector<std::string> calls;
    std::vector<std::pair<std::string, std::optional<std::map<std::string, std::string>>>> events;
    std::optional<std::string> region;

    AppDelegate::Steps steps() {
        AppDelegate::Steps s;
        s.pause = [this](int64_t ms) { calls.push_back("pause " + std::to_string(ms)); };
        s.createWatcher = [this] { calls.push_back("watcher"); };
        s.startCrashReporting = [this](const std::string& secret, const std::vector<std::string>& services) {
            calls.push_back("crash " + secret + " " + services.at(0) + "," + services.at(1));
        };
        s.sendEvent = [this](const std::string& name, const std::optional<std::map<std::string, std::string>>& p) {
            calls.push_back("event " + name);
            events.emplace_back(name, p);
        };
        s.regionCode = [this] { return region; };
        s.regionNameInTraditionalChinese = [](const std::string& code) {
            return AppDelegate::displayRegionName(code, "zh_Hant");
        };
        s.setUpdaterDelegate = [this] { calls.push_back("updater delegate"); };
        return s;
    }
};

TEST(Startup, DidFinishLaunchingRunsTheWatcherBeforeCrashReportingBeforeTheEvents) {
    Recorder r;
    r.region = "TW";
    AppDelegate delegate(r.steps());
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(r.calls, (std::vector<std::string>{"updater delegate", "pause 500", "watcher",
                                                 "crash 4d7e2a90-b1c3-4f58-9e06-7a2c5b8d1f34 Analytics,Crashes",
                                                 "event User_Region", "event User_Mac_Model"}));
    ASSERT_EQ(r.events.size(), 2u);
    ASSERT_TRUE(r.events[0].second);
    // The region's name in Traditional Chinese, not its code.
    EXPECT_EQ(r.events[0].second->at("action"), "台灣");
    EXPECT_EQ(r.events[0].second->size(), 1u);
    EXPECT_FALSE(r.events[1].second);  // the reporter adds the machine's facts itself
}

TEST(Startup, RegionEventOnlyForARegionWithAName) {
    for (std::optional<std::string> region : {std::optional<std::string>(), std::optional<std::string>("QX"),
                                              std::optional<std::string>("")}) {
        Recorder r;
        r.region = region;
        AppDelegate delegate(r.steps());
        delegate.applicationDidFinishLaunching();
        ASSERT_EQ(r.events.size(), 1u) << region.value_or("(none)");
        EXPECT_EQ(r.events[0].first, "User_Mac_Model");
    }
    EXPECT_EQ(AppDelegate::displayRegionName("JP", "zh_Hant").value_or(""), "日本");
    EXPECT_EQ(AppDelegate::displayRegionName("US", "zh_Hant").value_or(""), "美國");
}

TEST(Startup, TerminatePrintsItsLine) {
    hvbtest::LogCapture log;
    Recorder r;
    AppDelegate delegate(r.steps());
    EXPECT_EQ(AppDelegate::shared(), &delegate);
    delegate.applicationWillTerminate();
    EXPECT_EQ(log.lines(), std::vector<std::string>{"terminate"});
}

namespace fs = std::filesystem;

// Starts the toolbox for the same user and settings folder, and returns what it printed once it
// has said it is already running, shown its window, or had a minute.
std::string launchSecondToolbox(const TempDir& sandbox, const fs::path& configHome) {
    const fs::path root = sandbox / "root", output = sandbox / "second.txt";
    fs::create_directories(root);
    fs::create_directories(sandbox / "resources");
    std::vector<std::string> environment = {"QT_QPA_PLATFORM=offscreen", "ASAN_OPTIONS=detect_leaks=0",
                                            "HOME=" + sandbox.path().string(), "HVB_ROOT=" + root.string(),
                                            "HVB_RESOURCES=" + (sandbox / "resources").string(),
                                            "XDG_CONFIG_HOME=" + configHome.string()};
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const pid_t second = ::fork();
    if (second == 0) {
        int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        // The run as another user names its own copy (see ForAnotherUser).
        const char* toolbox = ::getenv("HVB_TEST_TOOLBOX");
        char* argv[] = {const_cast<char*>(toolbox ? toolbox : HVB_TEST_BUILD_DIR "/bin/HalvetorBody_ToolBox"), nullptr};
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    sockettest::eventually(
        [&] {
            const std::string log = TempDir::read(output);
            return log.find("already running") != std::string::npos || log.find("MainWindow START") != std::string::npos;
        },
        60);
    ::kill(second, SIGTERM);
    ::waitpid(second, nullptr, 0);
    return TempDir::read(output);
}

// This process stands for a toolbox that runs; the application started beside it for the same
// user says so and touches nothing: no window, no driver check, no settings.
TEST(Startup, ASecondToolboxSaysItIsAlreadyRunningAndTouchesNothing) {
    ASSERT_TRUE(hvb::claimSingleInstance());
    TempDir sandbox;
    auto settings = [] {
        std::map<std::string, fs::file_time_type> files;
        for (const auto& entry : fs::directory_iterator(foundation::paths::configDir())) {
            files[entry.path().filename().string()] = entry.last_write_time();
        }
        return files;
    };
    const auto settingsBefore = settings();
    const std::string log = launchSecondToolbox(sandbox, foundation::paths::env("XDG_CONFIG_HOME"));
    EXPECT_NE(log.find("already running"), std::string::npos) << log;
    EXPECT_EQ(log.find("MainWindow START"), std::string::npos) << log;
    EXPECT_TRUE(fs::is_empty(sandbox / "root"));
    EXPECT_EQ(settings(), settingsBefore);
}

// ---- what lies at the lock file's name, and who holds the socket name ---------------------------

enum class AtLockName { nothing, fifo, linkToAFile, noFolderPossible, readOnlyFolder };
// Anyone may bind an abstract name: user 65534 binds the toolbox's without listening, or
// listens with its queue full, before the toolbox starts.
enum class AtSocketName { nothing, boundByAnother, fullQueueOfAnother };

struct LockCase {
    const char* name;
    AtLockName shape;
    AtSocketName socket = AtSocketName::nothing;
};

// A folder user 65534 can read, with the programs it runs: the build tree may lie where only its
// owner can look (a checkout under /root), so it runs none from there.
class ForAnotherUser {
public:
    ForAnotherUser() {
        std::string pattern = "/tmp/hvb-other-user-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder_ = pattern;
        fs::permissions(folder_, fs::perms(0755));
    }
    ~ForAnotherUser() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    // `program` in the folder: a second name for it when anyone may run it (a build's programs
    // are large), else a copy anyone may run.
    fs::path add(const fs::path& program) {
        const fs::path there = folder_ / program.filename();
        struct stat info {};
        const bool anyoneRuns = ::stat(program.c_str(), &info) == 0 && (info.st_mode & 05) == 05;
        if (!anyoneRuns || ::link(program.c_str(), there.c_str()) != 0) {
            fs::copy_file(program, there, fs::copy_options::overwrite_existing);
            fs::permissions(there, fs::perms(0755));
        }
        return there;
    }

private:
    fs::path folder_;
};

// A process of user 65534 that holds `name` as `mode` says ("bound" or "full") until the end.
class NameHolder {
public:
    // Empty when it holds the name; otherwise why it could not be started.
    std::string start(const std::string& name, const char* mode) {
        const std::string program = programs_.add(HVB_TEST_INSTANCE_HOLDER).string();
        int output[2];
        if (::pipe2(output, O_CLOEXEC) != 0) return "no pipe";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(output[1], 1);
            ::dup2(output[1], 2);
            ::execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                    program.c_str(), name.c_str() + 1, mode, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(output[1]);
        std::string said;
        char buffer[64];
        pollfd ready{output[0], POLLIN, 0};
        while (said.find('\n') == std::string::npos && ::poll(&ready, 1, 20000) == 1) {
            const ssize_t n = ::read(output[0], buffer, sizeof buffer);
            if (n <= 0) break;
            said.append(buffer, static_cast<size_t>(n));
        }
        ::close(output[0]);
        return said == "ready\n" ? std::string() : "the holder said \"" + said + "\"";
    }
    ~NameHolder() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    ForAnotherUser programs_;
    pid_t pid_ = -1;
};

void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }

class SingleInstance : public ::testing::TestWithParam<LockCase> {};

// This process is the toolbox that runs; whatever lies at the lock file's name, taking the
// claim neither blocks nor lets a second toolbox of the same user in. A socket name another
// user holds keeps no toolbox from starting: the lock file decides, and where there is none
// either, the toolbox starts and says once why a second one would not be noticed.
TEST_P(SingleInstance, NothingAtTheLockNameHangsALaunchOrLetsASecondToolboxIn) {
    const LockCase c = GetParam();
    if (c.socket != AtSocketName::nothing && ::geteuid() != 0)
        GTEST_SKIP() << "another user's process on the socket name needs root to start";
    if (c.socket != AtSocketName::nothing && ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "another user's process on the socket name needs setpriv";
    if (c.shape == AtLockName::readOnlyFolder && ::geteuid() == 0) {
        // Root writes into a read-only folder: this case runs again as an unprivileged user.
        if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "root writes into a read-only folder, and no setpriv";
        if (::getenv("HVB_TEST_AS_NOBODY")) GTEST_SKIP() << "setpriv kept root";
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        ForAnotherUser programs;
        const fs::path self = programs.add(fs::read_symlink("/proc/self/exe"));
        const fs::path toolbox = programs.add(HVB_TEST_BUILD_DIR "/bin/HalvetorBody_ToolBox");
        const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
        foundation::ProcessOptions options;
        options.mergeStandardError = true;
        options.extraEnvironment = {"HVB_TEST_AS_NOBODY=1", "TMPDIR=/tmp", "HVB_TEST_TOOLBOX=" + toolbox.string()};
        const auto run = foundation::runProcess(
            {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", self.string(), filter}, options);
        EXPECT_EQ(run.exitStatus, 0) << run.standardOutput;
        EXPECT_EQ(run.standardOutput.find("[  SKIPPED ]"), std::string::npos) << run.standardOutput;
        return;
    }
    TempDir sandbox;
    const fs::path configHome = sandbox / "config";
    const fs::path folder = configHome / foundation::paths::kAppName, lock = folder / "instance.lock";
    const fs::path target = sandbox / "target";
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    NameHolder holder;
    if (c.socket != AtSocketName::nothing) {
        const std::string why =
            holder.start(hvb::instanceSocketName(), c.socket == AtSocketName::boundByAnother ? "bound" : "full");
        ASSERT_EQ(why, "");
    }
    switch (c.shape) {
        case AtLockName::nothing: break;
        case AtLockName::fifo:
            fs::create_directories(folder);
            ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0);
            break;
        case AtLockName::linkToAFile:
            fs::create_directories(folder);
            TempDir::write(target, "untouched");
            fs::permissions(target, fs::perms(0644));
            fs::create_symlink(target, lock);
            break;
        case AtLockName::noFolderPossible:
            TempDir::write(folder, "a file where the settings folder should be");
            break;
        case AtLockName::readOnlyFolder:
            fs::create_directories(folder);
            fs::permissions(folder, fs::perms(0500));
            break;
    }

    // A claim that blocks fails here rather than hanging the run; a writer lets a claim blocked
    // on the FIFO go.
    hvbtest::LogCapture claimLog;
    auto claimed = std::make_shared<std::promise<bool>>();
    auto result = claimed->get_future();
    std::thread claimer([claimed] { claimed->set_value(hvb::claimSingleInstance()); });
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the claim did not return";
        const int writer = ::open(lock.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) ::close(writer);
        if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            std::fflush(nullptr);
            std::_Exit(1);
        }
        claimer.join();
        return;
    }
    claimer.join();
    EXPECT_TRUE(result.get());
    const auto said = [&](const std::string& part) {
        size_t count = 0;
        for (const std::string& line : claimLog.lines()) count += line.find(part) != std::string::npos;
        return count;
    };
    if (c.socket != AtSocketName::nothing) {
        // One line, with the reason.
        const std::string verdict =
            c.shape == AtLockName::noFolderPossible ? "a second toolbox would not be noticed" : "the lock file alone decides";
        EXPECT_EQ(said("instance socket"), 1u);
        EXPECT_EQ(said("taken but nothing answers on it"), 1u);
        EXPECT_EQ(said(verdict), 1u);
    }

    if (c.socket == AtSocketName::nothing || c.shape != AtLockName::noFolderPossible) {
        const std::string log = launchSecondToolbox(sandbox, configHome);
        EXPECT_NE(log.find("already running"), std::string::npos) << log;
        EXPECT_EQ(log.find("MainWindow START"), std::string::npos) << log;
    }

    std::error_code ec;
    switch (c.shape) {
        case AtLockName::nothing: EXPECT_TRUE(fs::is_regular_file(lock)); break;
        case AtLockName::fifo: EXPECT_EQ(fs::symlink_status(lock, ec).type(), fs::file_type::fifo); break;
        case AtLockName::linkToAFile:
            EXPECT_TRUE(fs::is_symlink(lock));
            EXPECT_EQ(TempDir::read(target), "untouched");
            EXPECT_EQ(fs::status(target).permissions(), fs::perms(0644));
            break;
        case AtLockName::noFolderPossible: EXPECT_TRUE(fs::is_regular_file(folder)); break;
        case AtLockName::readOnlyFolder:
            EXPECT_TRUE(fs::is_empty(folder));
            fs::permissions(folder, fs::perms(0700));
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(AtTheLockName, SingleInstance,
                         ::testing::Values(LockCase{"FIFO", AtLockName::fifo},
                                           LockCase{"LinkToAFile", AtLockName::linkToAFile},
                                           LockCase{"FileInPlaceOfTheFolder", AtLockName::noFolderPossible},
                                           LockCase{"ReadOnlyFolder", AtLockName::readOnlyFolder},
                                           LockCase{"SocketNameBoundByAnotherUser", AtLockName::nothing,
                                                    AtSocketName::boundByAnother},
                                           LockCase{"SocketNameOfAnotherUserWithAFullQueue", AtLockName::nothing,
                                                    AtSocketName::fullQueueOfAnother},
                                           LockCase{"SocketNameBoundByAnotherUserAndNoLockFile",
                                                    AtLockName::noFolderPossible, AtSocketName::boundByAnother}),
                         [](const ::testing::TestParamInfo<LockCase>& info) { return std::string(info.param.name); });

}  // namespace
