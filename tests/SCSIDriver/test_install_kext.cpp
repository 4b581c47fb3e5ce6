// installKext.sh through the administrator run: NORMAL on an empty sandbox root, RELOAD over a
// running host, START and REMOVE, a copy that fails, interruptions, locks other users hold, the
// real system's layout, and arguments with blanks, quotes and shell characters.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "HostProcess.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/TempDir.h"
#include "platform/security/AdminRun.h"
#include "standins/unit/UnitFile.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kBundleName = "com_brevantis_driver_HVBSCSIDriver.kext";
constexpr const char* kExecutable = "com_brevantis_driver_HVBSCSIDriver";

// The state letter of /proc/PID/stat; 0 when there is no such process.
char processState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? 0 : text[close + 2];
}

bool processAlive(pid_t pid) {
    char state = processState(pid);
    return state != 0 && state != 'Z' && state != 'X';
}

// The script's work, detached from the process started: that process's child.
pid_t workOf(pid_t script) {
    return std::atoi(foundation::runProcess({"pgrep", "-P", std::to_string(script)}).standardOutput.c_str());
}

// The soft limit named in /proc/PID/limits ("Max open files"), as written there.
std::string softLimit(pid_t pid, const std::string& name) {
    const std::string limits = TempDir::read("/proc/" + std::to_string(pid) + "/limits");
    std::string soft;
    if (const size_t at = limits.find("\n" + name + " "); at != std::string::npos)
        std::istringstream(limits.substr(at + 1 + name.size())) >> soft;
    return soft;
}

pid_t hostPid(const fs::path& root) {
    std::ifstream in(root / "run/halvetor" / (std::string(kExecutable) + ".pid"));
    pid_t pid = 0;
    in >> pid;
    return pid;
}

std::string bundleVersion(const fs::path& bundle) {
    auto b = foundation::Bundle::at(bundle);
    return b ? b->infoString("CFBundleVersion").value_or("") : "";
}

// A copy of the built bundle whose Info.plist says `version`.
fs::path bundleCopy(const fs::path& folder, const std::string& version = "1.0.0") {
    fs::create_directories(folder);
    fs::path copy = folder / kBundleName;
    fs::copy(hosttest::bundleDir(), copy, fs::copy_options::recursive);
    fs::path plist = copy / "Contents/Info.plist";
    std::string text = TempDir::read(plist);
    std::string from = "<key>CFBundleVersion</key>\n\t<string>";
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos);
    size_t end = text.find("</string>", at + from.size());
    text.replace(at + from.size(), end - at - from.size(), version);
    TempDir::write(plist, text);
    return copy;
}

class InstallKextTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const fs::path& root : roots) {
            pid_t pid = hostPid(root);
            if (pid > 0 && processAlive(pid)) {
                ::kill(pid, SIGTERM);
                sockettest::eventually([&] { return !processAlive(pid); }, 20);
            }
        }
    }

    fs::path makeRoot(const std::string& name) {
        fs::path root = dir / name;
        fs::create_directories(root);
        roots.push_back(root);
        return root;
    }

    security::AdminRunResult install(const fs::path& root, const fs::path& source, const std::string& mode,
                                     const std::string& name = kBundleName,
                                     const fs::path& script = hosttest::installScript()) {
        security::AdminRunOptions options;
        options.systemRoot = root;
        options.timeoutMs = 120000;
        options.runner = hosttest::runInPrivateSystem;
        return security::runScriptAsAdministrator(script.string(), {source.string(), name, mode}, options);
    }

    // The script as a child process, as `uid` when that is another user (a sandbox owner),
    // without the administrator run; its output goes to `log`. `inChild` runs in the child
    // before the script (its caller's limits, group, output).
    pid_t startScript(uid_t uid, const fs::path& root, const fs::path& source, const std::string& mode,
                      const fs::path& log, std::vector<std::string> environment = {},
                      const std::function<void()>& inChild = {}) {
        std::string script = hosttest::installScript().string();
        std::string helper = hosttest::inPrivateSystem({}).front();
        environment.push_back("HVB_ROOT=" + root.string());
        std::string src = source.string();
        std::string logPath = log.string();
        std::vector<char*> envp;
        for (std::string& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        pid_t child = ::fork();
        if (child == 0) {
            int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            if (uid != ::geteuid() && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(120);
            if (inChild) inChild();
            char* argv[] = {helper.data(), const_cast<char*>("/bin/sh"), script.data(), src.data(),
                            const_cast<char*>(kBundleName), const_cast<char*>(mode.c_str()), nullptr};
            ::execve(helper.c_str(), argv, envp.data());
            ::_exit(127);
        }
        return child;
    }

    // The exit status, or -1 for a script that a signal ended.
    static int waitForScript(pid_t child) {
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int installAs(uid_t uid, const fs::path& root, const fs::path& source, const std::string& mode,
                  std::string* output, std::vector<std::string> environment = {}) {
        fs::path log = dir / "install-as.txt";
        int status = waitForScript(startScript(uid, root, source, mode, log, std::move(environment)));
        if (output) *output = TempDir::read(log);
        return status;
    }

    static std::vector<std::string> leftovers(const fs::path& root) {
        std::vector<std::string> names;
        for (auto& entry : fs::directory_iterator(root / "Library/Extensions")) {
            if (entry.path().filename() != kBundleName) names.push_back(entry.path().filename().string());
        }
        return names;
    }

    TempDir dir;
    std::vector<fs::path> roots;
};

// systemd looks up the device groups a unit allows once, when it starts: the driver behind each
// is loaded first (Wants= and After= its modprobe@ unit). A group this table does not know fails,
// until its driver is named here and in the unit.
void expectDriversBeforeDeviceGroups(const std::string& unit) {
    static const std::map<std::string, std::string> driverOf = {{"char-sg", "sg"}, {"block-sd", "sd_mod"}};
    auto words = [&](const std::string& key) {  // " a b " of all the key's lines
        std::string all = " ";
        for (const std::string& value : hvb::sim::unitValues(unit, key)) all += value + " ";
        return all;
    };
    const auto wants = words("Wants"), after = words("After");
    const auto allowed = hvb::sim::unitValues(unit, "DeviceAllow");
    EXPECT_FALSE(allowed.empty()) << unit;
    for (const std::string& allow : allowed) {
        const std::string group = allow.substr(0, allow.find(' '));
        const auto driver = driverOf.find(group);
        const std::string loader =
            driver == driverOf.end() ? "(no driver known for the group)" : "modprobe@" + driver->second + ".service";
        EXPECT_NE(wants.find(" " + loader + " "), std::string::npos) << group << ": Wants= lacks " << loader;
        EXPECT_NE(after.find(" " + loader + " "), std::string::npos) << group << ": After= lacks " << loader;
    }
}

}  // namespace

TEST_F(InstallKextTest, NormalInstallsIntoAnEmptyRootAndStartsTheHost) {
    fs::path root = makeRoot("root");
    auto result = install(root, hosttest::bundleDir(), "NORMAL");
    ASSERT_TRUE(result.launched) << result.error;
    EXPECT_EQ(result.mode, security::AdminRunMode::direct);
    ASSERT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    fs::path installed = root / "Library/Extensions" / kBundleName;
    EXPECT_TRUE(fs::exists(installed / "Contents/MacOS" / kExecutable));
    EXPECT_EQ(bundleVersion(installed), "1.0.0");
    EXPECT_TRUE(hosttest::answers(root));
    pid_t pid = hostPid(root);
    EXPECT_TRUE(pid > 0 && processAlive(pid));
    EXPECT_TRUE(leftovers(root).empty());
}

TEST_F(InstallKextTest, ReloadStopsTheRunningHostAndStartsTheNewBundle) {
    fs::path root = makeRoot("root");
    ASSERT_EQ(install(root, hosttest::bundleDir(), "NORMAL").exitStatus, 0);
    pid_t before = hostPid(root);
    ASSERT_TRUE(processAlive(before));

    fs::path newer = bundleCopy(dir / "newer", "1.0.1");
    auto result = install(root, newer, "RELOAD");
    ASSERT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_FALSE(processAlive(before));
    pid_t after = hostPid(root);
    EXPECT_NE(after, before);
    EXPECT_TRUE(processAlive(after));
    EXPECT_TRUE(hosttest::answers(root));
    EXPECT_EQ(bundleVersion(root / "Library/Extensions" / kBundleName), "1.0.1");
    EXPECT_TRUE(leftovers(root).empty());

    // RELOAD with no host running starts one as well.
    ::kill(after, SIGTERM);
    ASSERT_TRUE(sockettest::eventually([&] { return !processAlive(after); }, 20));
    ASSERT_EQ(install(root, hosttest::bundleDir(), "RELOAD").exitStatus, 0);
    EXPECT_TRUE(hosttest::answers(root));
    EXPECT_EQ(bundleVersion(root / "Library/Extensions" / kBundleName), "1.0.0");
}

TEST_F(InstallKextTest, AFailingCopyKeepsTheInstalledBundleAndItsHost) {
    const uid_t user = ::geteuid() == 0 ? 65534 : ::geteuid();
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    fs::path root = makeRoot("owned-root");
    fs::path bad = bundleCopy(dir / "bad");
    TempDir::write(bad / "Contents/Resources/unreadable", "secret");
    ASSERT_EQ(::chmod((bad / "Contents/Resources/unreadable").c_str(), 0), 0);
    if (user != ::geteuid()) {
        // The sandbox belongs to that user; the unreadable file stays root's.
        ASSERT_EQ(::chown(root.c_str(), user, user), 0);
    }
    std::string output;
    ASSERT_EQ(installAs(user, root, hosttest::bundleDir(), "NORMAL", &output), 0) << output;
    pid_t running = hostPid(root);
    ASSERT_TRUE(processAlive(running));

    for (const char* mode : {"NORMAL", "RELOAD"}) {
        EXPECT_NE(installAs(user, root, bad, mode, &output), 0) << mode;
        EXPECT_NE(output.find("could not copy"), std::string::npos) << output;
        EXPECT_TRUE(fs::exists(root / "Library/Extensions" / kBundleName / "Contents/MacOS" / kExecutable));
        EXPECT_FALSE(fs::exists(root / "Library/Extensions" / kBundleName / "Contents/Resources/unreadable"));
        EXPECT_TRUE(processAlive(running)) << mode;
        EXPECT_EQ(hostPid(root), running);
        EXPECT_TRUE(leftovers(root).empty());
    }
    // A bundle without its executable is refused before anything is touched.
    fs::path incomplete = bundleCopy(dir / "incomplete");
    fs::remove(incomplete / "Contents/MacOS" / kExecutable);
    EXPECT_NE(installAs(user, root, incomplete, "RELOAD", &output), 0);
    EXPECT_TRUE(processAlive(running));
    EXPECT_TRUE(hosttest::answers(root) || user != ::geteuid());

    // A link in a bundle would be installed as a link, and its target run from then on: a bundle
    // holding one, or anything but folders and regular files, is refused, whatever the mode.
    const fs::path ran = dir / "linked-program-ran";
    const fs::path program = dir / "linked-program";
    TempDir::write(program, "#!/bin/sh\n: > '" + ran.string() + "'\nexit 1\n");
    ::chmod(program.c_str(), 0755);
    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> odd = {
        {"executable linked", [&](const fs::path& b) {
             fs::remove(b / "Contents/MacOS" / kExecutable);
             fs::create_symlink(program, b / "Contents/MacOS" / kExecutable);
         }},
        {"folder linked",
         [&](const fs::path& b) {
             fs::remove_all(b / "Contents/Resources");
             fs::create_directory_symlink(dir.path(), b / "Contents/Resources");
         }},
        {"bundle linked", [&](const fs::path& b) {
             fs::rename(b, b.string() + ".real");
             fs::create_directory_symlink(b.string() + ".real", b);
         }},
        {"fifo", [&](const fs::path& b) { ASSERT_EQ(::mkfifo((b / "Contents/Info.fifo").c_str(), 0644), 0); }},
    };
    for (size_t i = 0; i < odd.size(); ++i) {
        const std::string& label = odd[i].first;
        fs::path source = bundleCopy(dir / ("odd-" + std::to_string(i)), "7.7.7");
        odd[i].second(source);
        for (const char* mode : {"NORMAL", "RELOAD"}) {
            EXPECT_NE(installAs(user, root, source, mode, &output), 0) << label << " " << mode;
            EXPECT_NE(output.find("refusing to install"), std::string::npos) << label << "\n" << output;
            EXPECT_EQ(bundleVersion(root / "Library/Extensions" / kBundleName), "1.0.0") << label;
            EXPECT_TRUE(processAlive(running)) << label;
            EXPECT_TRUE(leftovers(root).empty()) << label;
        }
    }
    EXPECT_FALSE(fs::exists(ran));
}

TEST_F(InstallKextTest, BlanksQuotesAndShellCharactersAreJustCharacters) {
    fs::path root = makeRoot("root 'one' \"two\" $(touch pwned);&");
    fs::path source = bundleCopy(dir / "it's a \"copy\" `id` $HOME");
    auto result = install(root, source, "NORMAL");
    ASSERT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_TRUE(fs::exists(root / "Library/Extensions" / kBundleName / "Contents/Info.plist"));
    EXPECT_TRUE(hosttest::answers(root));
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(root / "pwned"));

    // Arguments the script refuses, with nothing created outside the extensions folder.
    EXPECT_NE(install(root, source, "NORMAL", "../escape.kext").exitStatus, 0);
    EXPECT_FALSE(fs::exists(root / "Library/escape.kext"));
    EXPECT_NE(install(root, source, "NORMAL", "").exitStatus, 0);
    EXPECT_NE(install(root, source, "NORMAL", ".hidden.kext").exitStatus, 0);
    EXPECT_NE(install(root, source, "NORMAL", "other.kext").exitStatus, 0);  // no such executable
    EXPECT_NE(install(root, source, "normal").exitStatus, 0);
    EXPECT_NE(install(root, source, "NORMAL; touch pwned").exitStatus, 0);
    EXPECT_NE(install(root, dir / "missing", "NORMAL").exitStatus, 0);
    security::AdminRunOptions options;
    options.systemRoot = root;
    options.runner = hosttest::runInPrivateSystem;
    EXPECT_NE(security::runScriptAsAdministrator(hosttest::installScript().string(), {source.string()}, options)
                  .exitStatus,
              0);
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_TRUE(leftovers(root).empty());
    EXPECT_TRUE(hosttest::answers(root));
}

TEST_F(InstallKextTest, AsRootTheScriptRefusesATreeAnotherUserControls) {
    if (::geteuid() != 0) GTEST_SKIP() << "folders of other owners need root";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    fs::path theirs = makeRoot("theirs");
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    std::string output;
    EXPECT_NE(installAs(0, theirs, hosttest::bundleDir(), "NORMAL", &output), 0);
    EXPECT_NE(output.find("refusing to install as root"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(theirs / "Library"));
    // Root's root, but an extensions folder the other user put there.
    fs::path planted = makeRoot("planted");
    fs::create_directories(planted / "Library/Extensions");
    ASSERT_EQ(::chown((planted / "Library/Extensions").c_str(), 65534, 65534), 0);
    EXPECT_NE(installAs(0, planted, hosttest::bundleDir(), "NORMAL", &output), 0);
    EXPECT_NE(output.find("refusing to install as root"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(planted / "Library/Extensions" / kBundleName));

    // A shared root (root's, 1777) is no root for root to write below, whatever was planted in
    // it; nor is one whose run or log folder another user holds. Nothing is made, nothing ended.
    const fs::path elsewhere = dir / "elsewhere";
    fs::create_directories(elsewhere);
    // Each root: a folder below it (or the root itself) given a mode or another owner; a
    // folder of that user planted inside it; the extensions' parent linked elsewhere. Below the
    // root no folder is shared, sticky or not: that user could put the host's folders there
    // before the host makes them.
    struct UnsafeRoot {
        const char* label;
        const char* folder;  // "" for the root
        mode_t mode = 0;     // 0: as made
        bool theirs = false;
        const char* planted = nullptr;
        bool libraryLinked = false;
    };
    const UnsafeRoot roots[] = {
        {"shared", "", 01777},
        {"shared, Library linked", "", 01777, false, nullptr, true},
        {"run theirs", "run", 0, true},
        {"var theirs", "var", 0, true},
        {"run shared", "run", 01777},
        {"run shared, the host's folder planted", "run", 01777, false, "run/halvetor"},
        {"Library writable by a group", "Library", 0775},
        {"log folder shared", "var/log", 01777},
    };
    int made = 0;
    auto make = [&](const UnsafeRoot& row) {
        const fs::path r = makeRoot("unsafe-" + std::to_string(made++));
        const fs::path folder = r / row.folder;
        fs::create_directories(folder);
        if (row.mode != 0) ::chmod(folder.c_str(), row.mode);
        if (row.theirs) ::chown(folder.c_str(), 65534, 65534);
        if (row.planted) {
            fs::create_directories(r / row.planted);
            ::chown((r / row.planted).c_str(), 65534, 65534);
        }
        if (row.libraryLinked) fs::create_directory_symlink(elsewhere, r / "Library");
        return r;
    };
    for (const UnsafeRoot& row : roots) {
        const std::string label = row.label;
        const fs::path unsafe = make(row);
        for (const char* mode : {"NORMAL", "START", "REMOVE"}) {
            EXPECT_NE(installAs(0, unsafe, hosttest::bundleDir(), mode, &output), 0) << label << " " << mode;
            EXPECT_NE(output.find("refusing to install as root"), std::string::npos) << label << "\n" << output;
        }
        EXPECT_FALSE(fs::exists(unsafe / "Library/Extensions")) << label;
        EXPECT_FALSE(hosttest::answers(unsafe)) << label;
    }
    EXPECT_TRUE(fs::is_empty(elsewhere));

    // In a root of root's own, root runs no program another user chose: a bundle under another
    // name, or one that user owns, may change or may swap, is refused before it is copied.
    fs::path sound = makeRoot("sound");
    const fs::path ran = dir / "their-program-ran";
    auto theirs_bundle = [&](const fs::path& folder, const std::string& name) {
        fs::create_directories(folder);
        const fs::path bundle = folder / name;
        fs::copy(hosttest::bundleDir(), bundle, fs::copy_options::recursive);
        const fs::path program = bundle / "Contents/MacOS" / name.substr(0, name.size() - 5);
        fs::remove(bundle / "Contents/MacOS" / kExecutable);
        TempDir::write(program, "#!/bin/sh\nid -u >>'" + ran.string() + "'\nexit 1\n");
        ::chmod(program.c_str(), 0755);
        return bundle;
    };
    const fs::path open = dir / "open";
    const std::vector<std::pair<std::string, std::function<fs::path()>>> sources = {
        {"another name", [&] { return theirs_bundle(dir / "named", "evil.kext"); }},
        {"a bundle of another user", [&] {
             fs::path b = theirs_bundle(dir / "owned", kBundleName);
             foundation::runProcess({"chown", "-R", "65534:65534", b.string()});
             return b;
         }},
        {"a file others may write", [&] {
             fs::path b = theirs_bundle(dir / "writable", kBundleName);
             ::chmod((b / "Contents/Info.plist").c_str(), 0666);
             return b;
         }},
        {"root's bundle in a folder of another user", [&] {
             fs::path b = theirs_bundle(dir / "their-folder", kBundleName);
             ::chown((dir / "their-folder").c_str(), 65534, 65534);
             return b;
         }},
        {"root's bundle in a shared folder", [&] {
             fs::path b = theirs_bundle(open, kBundleName);
             ::chmod(open.c_str(), 01777);
             return b;
         }},
    };
    for (const auto& [label, make] : sources) {
        const fs::path source = make();
        const std::string name = source.filename().string();
        for (const std::string mode : {"NORMAL", "RELOAD"}) {
            auto result = install(sound, source, mode, name);
            EXPECT_EQ(result.exitStatus, 1) << label << " " << mode << "\n" << result.output;
            EXPECT_FALSE(fs::exists(sound / "Library/Extensions" / name)) << label;
        }
    }
    EXPECT_FALSE(fs::exists(ran)) << TempDir::read(ran);
    // Root's bundle in root's folders installs.
    auto result = install(sound, bundleCopy(dir / "roots"), "NORMAL");
    EXPECT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_TRUE(hosttest::answers(sound));
}

// Root's runs here go through a private system: a script that adds the group and makes the run
// folder on the machine's own folders, against every rule, changes only that system.
TEST_F(InstallKextTest, AFaultOfTheScriptAsRootDoesNotReachTheMachine) {
    if (::geteuid() != 0) GTEST_SKIP() << "the machine's accounts need root";
    auto machineChanged = [] {
        return ("\n" + TempDir::read("/etc/group")).find("\nhalvetor:") != std::string::npos ||
               fs::exists("/run/halvetor");
    };
    ASSERT_FALSE(machineChanged());
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    std::string script = TempDir::read(hosttest::installScript());
    const size_t at = script.find('\n', script.find("\nsay() {") + 1);
    ASSERT_NE(at, std::string::npos);
    script.insert(at + 1, "/usr/sbin/groupadd --system halvetor && mkdir /run/halvetor && say \"the machine changed\"\n");
    const fs::path faulty = dir / "faulty/installKext.sh";
    TempDir::write(faulty, script);
    auto result = install(makeRoot("root"), hosttest::bundleDir(), "NORMAL", kBundleName, faulty);
    EXPECT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_NE(result.output.find("the machine changed"), std::string::npos) << result.output << result.errorOutput;
    EXPECT_FALSE(machineChanged());
}

// pkexec is asked for the real system only: a sandbox root the user does not own is refused in
// words before anyone is asked for a password, and nothing is installed there.
TEST_F(InstallKextTest, ThroughPkexecOnlyTheRealSystemIsAskedFor) {
    if (::geteuid() != 0) GTEST_SKIP() << "a root-owned sandbox needs root";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    fs::path root = makeRoot("root");
    const fs::path asked = dir / "pkexec-asked";
    fs::path pkexec = dir / "pkexec";
    TempDir::write(pkexec, "#!/bin/sh\n: >'" + asked.string() + "'\nexec /usr/bin/env -i \"$@\"\n");
    fs::permissions(pkexec, fs::perms::owner_all);
    security::AdminRunOptions options;
    options.systemRoot = root;
    options.runner = hosttest::runInPrivateSystem;
    options.effectiveUid = 1000;
    options.pkexecPath = pkexec.string();
    options.timeoutMs = 120000;
    for (const std::string mode : {"NORMAL", "START", "REMOVE"}) {
        auto result = security::runDriverScriptAsAdministrator(
            hosttest::installScript().string(), {hosttest::bundleDir().string(), kBundleName, mode}, options);
        EXPECT_FALSE(result.launched) << mode;
        EXPECT_NE(result.error.find("refusing an administrator run into " + root.string()), std::string::npos)
            << result.error;
    }
    EXPECT_FALSE(fs::exists(asked));
    EXPECT_FALSE(fs::exists(root / "Library"));
    EXPECT_FALSE(hosttest::answers(root));
}

TEST_F(InstallKextTest, BundleNamesAreLettersDigitsDotsUnderscoresAndDashes) {
    // A bundle whose executable carries the odd name, so that only the name is wrong.
    fs::path root = makeRoot("root");
    for (const std::string name : {"com brevantis.kext", "com;driver.kext", "com$x.kext", "comé.kext"}) {
        const std::string executable = name.substr(0, name.size() - 5);
        fs::path copy = dir / "odd" / name;
        fs::create_directories(copy.parent_path());
        fs::copy(hosttest::bundleDir(), copy, fs::copy_options::recursive);
        fs::copy_file(copy / "Contents/MacOS" / kExecutable, copy / "Contents/MacOS" / executable);
        auto result = install(root, copy, "NORMAL", name);
        EXPECT_NE(result.exitStatus, 0) << name;
        EXPECT_NE(result.errorOutput.find("bad bundle name"), std::string::npos) << result.errorOutput;
        EXPECT_FALSE(fs::exists(root / "Library/Extensions" / name));
        fs::remove_all(dir / "odd");
    }
}

// Interrupted while the new host is awaited, the script puts the previous bundle back and starts
// it: by TERM, or by the caller's terminal, whose Ctrl-Z stops nothing and whose Ctrl-\ (QUIT)
// interrupts as TERM does.
TEST_F(InstallKextTest, AnInterruptedReloadPutsThePreviousBundleBackAndStartsIt) {
    fs::path root = makeRoot("root");
    ASSERT_EQ(install(root, hosttest::bundleDir(), "NORMAL").exitStatus, 0);
    // A new bundle whose host starts but never answers: the script waits for it.
    fs::path mute = bundleCopy(dir / "mute", "9.9.9");
    fs::path marker = dir / "mute-started";
    TempDir::write(mute / "Contents/MacOS" / kExecutable,
                   "#!/bin/sh\ncase \"$*\" in *--ping*) exit 1 ;; esac\n: > '" + marker.string() + "'\nexit 0\n");
    ::chmod((mute / "Contents/MacOS" / kExecutable).c_str(), 0755);

    fs::path log = dir / "interrupted.txt";
    const std::vector<std::pair<std::string, std::vector<int>>> interrupts = {
        {"TERM", {SIGTERM}}, {"the terminal's TSTP and QUIT", {SIGTSTP, SIGQUIT}}};
    for (const auto& [label, signals] : interrupts) {
        fs::remove(marker);
        pid_t child = startScript(::geteuid(), root, mute, "RELOAD", log, {}, [] { ::setpgid(0, 0); });
        ASSERT_TRUE(sockettest::eventually([&] { return fs::exists(marker); }, 30)) << label;
        for (int signal : signals) ::kill(label == "TERM" ? child : -child, signal);
        const bool ended = sockettest::eventually([&] { return !processAlive(child); }, 60);
        EXPECT_TRUE(ended) << label;
        if (!ended) ::killpg(child, SIGKILL);
        EXPECT_EQ(waitForScript(child), 1) << label << "\n" << TempDir::read(log);
        const std::string output = TempDir::read(log);
        EXPECT_NE(output.find("the install was interrupted; the previous bundle is back"), std::string::npos)
            << label << "\n" << output;
        EXPECT_EQ(bundleVersion(root / "Library/Extensions" / kBundleName), "1.0.0") << label;
        EXPECT_TRUE(hosttest::answers(root)) << label;
        EXPECT_TRUE(leftovers(root).empty()) << label;
    }
}

// A signal at each named point of a RELOAD over a running host, as a user, the system or a crash
// sends it. TERM and INT end with the previous bundle back, or, once the new host answers (its
// daemon returns only then), with the new one and success; after KILL the next run, in the mode
// the launch check picks, repairs what was left. Either way one bundle is installed and its host
// answers.
class InstallKextInterruptTest : public InstallKextTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(InstallKextInterruptTest, EndsWithOneBundleInstalledAndItsHostAnswering) {
    const std::string point = GetParam();
    const uid_t me = ::geteuid();
    fs::path root = makeRoot("root");
    fs::path installed = root / "Library/Extensions" / kBundleName;
    const fs::path versions[] = {bundleCopy(dir / "one", "1.0.1"), bundleCopy(dir / "two", "1.0.2")};
    std::string output;
    ASSERT_EQ(installAs(me, root, versions[0], "NORMAL", &output), 0) << output;
    int next = 1;
    for (const std::string signal : {"TERM", "INT", "KILL"}) {
        SCOPED_TRACE(point + " " + signal);
        const std::string before = bundleVersion(installed);
        const std::string target = bundleVersion(versions[next]);
        const int status = installAs(me, root, versions[next], "RELOAD", &output,
                                     {"HVB_TEST_SIGNAL_SELF_AT=" + point + " " + signal});
        if (signal == "KILL") {
            EXPECT_EQ(status, -1) << output;
            const char* mode = fs::exists(installed) ? "RELOAD" : "NORMAL";
            EXPECT_EQ(installAs(me, root, versions[next], mode, &output), 0) << output;
            EXPECT_EQ(bundleVersion(installed), target);
        } else if (point == "answer" || point == "answered" || point == "started" || point == "cleanup") {
            EXPECT_EQ(status, 0) << output;
            EXPECT_EQ(bundleVersion(installed), target);
        } else {
            EXPECT_EQ(status, 1) << output;
            EXPECT_NE(output.find("the install was interrupted"), std::string::npos) << output;
            EXPECT_EQ(bundleVersion(installed), before);
        }
        EXPECT_TRUE(hosttest::answers(root)) << output;
        EXPECT_TRUE(processAlive(hostPid(root)));
        const auto left = leftovers(root);
        EXPECT_TRUE(left.empty()) << left.front();
        if (bundleVersion(installed) == target) next = 1 - next;
    }
}

INSTANTIATE_TEST_SUITE_P(Points, InstallKextInterruptTest,
                         ::testing::Values("copy", "stop", "stopped", "aside", "moved", "place", "placed", "answer",
                                           "answered", "started", "cleanup"));

TEST_F(InstallKextTest, TwoInstallsAtOnceRunOneAfterTheOther) {
    const uid_t me = ::geteuid();
    fs::path root = makeRoot("root");
    ASSERT_EQ(installAs(me, root, hosttest::bundleDir(), "NORMAL", nullptr), 0);
    // The first install halts with the installed bundle moved aside and nothing in its place.
    pid_t first = startScript(me, root, bundleCopy(dir / "first", "1.0.1"), "RELOAD", dir / "first.txt",
                              {"HVB_TEST_SIGNAL_SELF_AT=moved STOP"});
    ASSERT_TRUE(sockettest::eventually([&] { return processState(workOf(first)) == 'T'; }, 60));
    pid_t second = startScript(me, root, bundleCopy(dir / "second", "1.0.2"), "RELOAD", dir / "second.txt");
    // The second waits for the first one's lock instead of installing into the gap.
    auto waitsForLock = [&] {
        return foundation::runProcess({"pgrep", "-x", "-P", std::to_string(workOf(second)), "flock"}).exitStatus == 0;
    };
    bool waits = sockettest::eventually([&] { return waitsForLock() || !processAlive(second); }, 60);
    EXPECT_TRUE(waits && processAlive(second));
    ::kill(workOf(first), SIGCONT);
    EXPECT_EQ(waitForScript(first), 0) << TempDir::read(dir / "first.txt");
    EXPECT_EQ(waitForScript(second), 0) << TempDir::read(dir / "second.txt");
    EXPECT_EQ(bundleVersion(root / "Library/Extensions" / kBundleName), "1.0.2");
    EXPECT_TRUE(hosttest::answers(root));
    EXPECT_TRUE(leftovers(root).empty());

    // A caller whose output pipe is full and never read holds no one up: once its install is
    // done, the next one gets the lock and completes while that caller still waits to write.
    const fs::path installed = root / "Library/Extensions" / kBundleName;
    int full[2];
    ASSERT_EQ(::pipe2(full, O_NONBLOCK | O_CLOEXEC), 0);
    const std::string block(4096, 'x');
    while (::write(full[1], block.data(), block.size()) > 0) {
    }
    ::fcntl(full[1], F_SETFL, 0);
    pid_t stalled = startScript(me, root, bundleCopy(dir / "third", "1.0.3"), "RELOAD", dir / "third.txt", {},
                                [&] { ::dup2(full[1], 1); });
    ::close(full[1]);
    EXPECT_TRUE(sockettest::eventually([&] { return bundleVersion(installed) == "1.0.3" && hosttest::answers(root); },
                                       60));
    pid_t next = startScript(me, root, bundleCopy(dir / "next", "1.0.2"), "RELOAD", dir / "next.txt");
    EXPECT_TRUE(sockettest::eventually([&] { return !processAlive(next); }, 60));
    EXPECT_TRUE(processAlive(stalled));
    ::fcntl(full[0], F_SETFL, 0);  // read to the end of the stalled one's output
    std::string relayed;
    char buffer[4096];
    for (ssize_t n; (n = ::read(full[0], buffer, sizeof buffer)) > 0;) relayed.append(buffer, static_cast<size_t>(n));
    ::close(full[0]);
    EXPECT_EQ(waitForScript(stalled), 0) << TempDir::read(dir / "third.txt");
    EXPECT_NE(relayed.find("RELOAD: " + installed.string() + " installed, its host answers\n"), std::string::npos)
        << relayed.substr(relayed.size() > 400 ? relayed.size() - 400 : 0);
    EXPECT_EQ(waitForScript(next), 0) << TempDir::read(dir / "next.txt");
    EXPECT_EQ(bundleVersion(installed), "1.0.2");
    EXPECT_TRUE(hosttest::answers(root));
}

// A user with no rights at all holds flock on whatever the script reads; none of it is the
// install lock, whose file only the script's user may open. A link or folder planted where the
// lock file goes is refused, never followed.
TEST_F(InstallKextTest, LocksOtherUsersHoldDoNotStopAnInstall) {
    if (::geteuid() != 0) GTEST_SKIP() << "another user's process needs root to start";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    fs::path root = makeRoot("root");
    fs::path source = bundleCopy(dir / "source", "1.0.1");
    ASSERT_EQ(install(root, hosttest::bundleDir(), "NORMAL").exitStatus, 0);
    const fs::path extensions = root / "Library/Extensions", installed = extensions / kBundleName;
    const fs::path lockFile = root / "Library/.installKext.lock";
    EXPECT_TRUE(fs::is_regular_file(lockFile));
    EXPECT_EQ(fs::status(lockFile).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    auto holdAsNobody = [](const fs::path& path) {
        pid_t child = ::fork();
        if (child == 0) {
            ::setpgid(0, 0);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "flock", "-x",
                     path.c_str(), "sleep", "600", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return child;
    };
    auto heldByAnother = [](const fs::path& path) {
        return foundation::runProcess({"flock", "-x", "-n", path.string(), "true"}).exitStatus == 1;
    };
    const fs::path targets[] = {root,
                                root / "Library",
                                extensions,
                                installed,
                                installed / "Contents",
                                installed / "Contents/MacOS",
                                installed / "Contents/MacOS" / kExecutable,
                                installed / "Contents/Info.plist",
                                source,
                                source / "Contents",
                                source / "Contents/MacOS" / kExecutable,
                                root / "run/halvetor",
                                root / "run/halvetor" / (std::string(kExecutable) + ".pid")};
    std::vector<pid_t> holders;
    for (const fs::path& target : targets) {
        holders.push_back(holdAsNobody(target));
        EXPECT_TRUE(sockettest::eventually([&] { return heldByAnother(target); }, 30)) << target;
    }
    // The lock file itself: that user cannot even open it.
    pid_t refused = holdAsNobody(lockFile);
    EXPECT_NE(waitForScript(refused), 0);

    auto result = install(root, source, "RELOAD");
    EXPECT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_EQ(bundleVersion(installed), "1.0.1");
    EXPECT_TRUE(hosttest::answers(root));
    result = install(root, fs::path("-"), "REMOVE");
    EXPECT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_FALSE(fs::exists(installed));
    for (pid_t holder : holders) {
        ::kill(-holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
    }

    // Planted at the lock's place: a link to a file the script would then create or lock, and a folder.
    for (const bool asLink : {true, false}) {
        SCOPED_TRACE(asLink ? "link" : "folder");
        fs::path planted = makeRoot(asLink ? "planted-link" : "planted-folder");
        fs::create_directories(planted / "Library");
        const fs::path target = dir / "link-target";
        if (asLink) fs::create_symlink(target, planted / "Library/.installKext.lock");
        else fs::create_directories(planted / "Library/.installKext.lock");
        result = install(planted, hosttest::bundleDir(), "NORMAL");
        EXPECT_NE(result.exitStatus, 0);
        EXPECT_NE(result.errorOutput.find("refusing the lock"), std::string::npos) << result.errorOutput;
        EXPECT_FALSE(fs::exists(target));
        EXPECT_FALSE(fs::exists(planted / "Library/Extensions" / kBundleName));
        EXPECT_FALSE(hosttest::answers(planted));
    }
}

// START only starts the installed bundle's host, when none answers; REMOVE takes the driver away
// with whatever an interrupted install left, and finds nothing to do the second time.
TEST_F(InstallKextTest, StartStartsTheInstalledHostAndRemoveLeavesNothingOfOurs) {
    fs::path root = makeRoot("root");
    auto result = install(root, "-", "START");
    EXPECT_NE(result.exitStatus, 0);
    EXPECT_NE(result.errorOutput.find("no driver is installed"), std::string::npos) << result.errorOutput;
    EXPECT_EQ(install(root, "-", "REMOVE").exitStatus, 0);
    EXPECT_FALSE(fs::exists(root / "Library"));

    ASSERT_EQ(install(root, bundleCopy(dir / "one", "1.0.1"), "NORMAL").exitStatus, 0);
    const fs::path installed = root / "Library/Extensions" / kBundleName;
    const pid_t first = hostPid(root);
    result = install(root, "-", "START");
    ASSERT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_EQ(hostPid(root), first);  // it answered: left alone
    ::kill(first, SIGTERM);
    ASSERT_TRUE(sockettest::eventually([&] { return !processAlive(first); }, 20));
    ASSERT_FALSE(hosttest::answers(root));
    // Started by root for a caller who limits its file size and open files, the host has a
    // service's limits all the same. (Soft limits: root may lack CAP_SYS_RESOURCE in a container,
    // and lowered hard ones it could not raise again.)
    auto limited = [] {
        for (const auto& [resource, soft] : {std::pair{RLIMIT_FSIZE, 51200000}, std::pair{RLIMIT_NOFILE, 24}}) {
            rlimit limit{};
            ::getrlimit(resource, &limit);
            limit.rlim_cur = soft;
            ::setrlimit(resource, &limit);
        }
    };
    ASSERT_EQ(waitForScript(startScript(::geteuid(), root, "-", "START", dir / "start.txt", {}, limited)), 0)
        << TempDir::read(dir / "start.txt");
    EXPECT_TRUE(hosttest::answers(root));
    const pid_t second = hostPid(root);
    EXPECT_TRUE(second != first && processAlive(second));
    if (::geteuid() == 0) {
        EXPECT_EQ(softLimit(second, "Max file size"), "unlimited");
        EXPECT_GE(std::atol(softLimit(second, "Max open files").c_str()), 1024);
    }
    EXPECT_EQ(bundleVersion(installed), "1.0.1");
    EXPECT_TRUE(leftovers(root).empty());

    // What killed installs left, beside the bundle.
    fs::create_directories(root / "Library/Extensions" / (std::string(".") + kBundleName + ".new.AbCdEfGh") / kBundleName);
    fs::create_directories(root / "Library/Extensions" / (std::string(".") + kBundleName + ".old.HgFeDcBa") / kBundleName);
    TempDir::write(root / "Library/Extensions/other.kext/Contents/Info.plist", "not ours");
    result = install(root, "-", "REMOVE");
    ASSERT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_FALSE(processAlive(second));
    EXPECT_FALSE(hosttest::answers(root));
    EXPECT_FALSE(fs::exists(installed));
    EXPECT_EQ(leftovers(root), std::vector<std::string>{"other.kext"});  // someone else's stays
    EXPECT_FALSE(fs::exists(root / "Library/.installKext.lock"));

    fs::remove_all(root / "Library/Extensions/other.kext");
    EXPECT_EQ(install(root, "-", "REMOVE").exitStatus, 0);
    EXPECT_FALSE(fs::exists(root / "Library"));
    EXPECT_EQ(install(root, "-", "REMOVE").exitStatus, 0);
}

// A process is the host only when it runs the installed executable as the script's user: one
// that carries the host's name, or runs that executable for another user, and whose pid the pid
// file names, is neither stopped nor killed.
TEST_F(InstallKextTest, OnlyTheInstalledExecutableRunAsThisUserIsTakenForTheHost) {
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    fs::path root = makeRoot("root");
    ASSERT_EQ(install(root, hosttest::bundleDir(), "NORMAL").exitStatus, 0);
    const fs::path pidFile = root / "run/halvetor" / (std::string(kExecutable) + ".pid");
    const std::string named = std::string("/home/nobody/bin/") + kExecutable;
    const std::string installed = (root / "Library/Extensions" / kBundleName / "Contents/MacOS" / kExecutable).string();
    const fs::path theirs = dir / "theirs";
    fs::create_directories(theirs);
    const std::vector<std::string> renamed = {"bash", "-c", "exec -a \"$0\" sleep 600", named};
    std::vector<std::pair<std::string, std::vector<std::string>>> impostors = {{"named, this user", renamed}};
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
        const std::vector<std::string> nobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        impostors.push_back({"named, another user", nobody});
        impostors.back().second.insert(impostors.back().second.end(), renamed.begin(), renamed.end());
        impostors.push_back({"the installed executable, another user", nobody});
        impostors.back().second.insert(impostors.back().second.end(), {installed, "--root", theirs.string()});
    }
    for (const auto& [label, words] : impostors) {
        pid_t host = hostPid(root);
        ::kill(host, SIGTERM);
        ASSERT_TRUE(sockettest::eventually([&] { return !processAlive(host); }, 20)) << label;
        pid_t impostor = ::fork();
        if (impostor == 0) {
            ::setpgid(0, 0);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            std::vector<char*> argv;
            for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ASSERT_TRUE(sockettest::eventually([&] {
            char link[256] = {};
            return ::readlink(("/proc/" + std::to_string(impostor) + "/exe").c_str(), link, sizeof link - 1) > 0 &&
                   std::string(link).find("setpriv") == std::string::npos &&
                   std::string(link).find("bash") == std::string::npos;
        }, 20)) << label;
        TempDir::write(pidFile, std::to_string(impostor) + "\n");
        auto result = install(root, "-", "START");
        EXPECT_EQ(result.exitStatus, 0) << label << "\n" << result.output << result.errorOutput;
        EXPECT_TRUE(hosttest::answers(root)) << label;
        EXPECT_TRUE(processAlive(impostor)) << label;
        EXPECT_NE(hostPid(root), impostor) << label;
        ::kill(-impostor, SIGKILL);
        ::waitpid(impostor, nullptr, 0);
    }
}

// On the real system ("/") the driver lives in /usr/local/lib/HalvetorBody_ToolBox/Extensions, never
// under /Library; seen in a private system.
TEST_F(InstallKextTest, OnTheRealSystemTheDriverLivesUnderUsrLocalLib) {
    if (::geteuid() != 0) GTEST_SKIP() << "the real system's layout needs root";
    const std::string steps =
        "home=/usr/local/lib/HalvetorBody_ToolBox\n"
        "mkdir -p \"$home/Extensions\" && cp -R \"$2\" \"$home/Extensions/\" || exit 91\n"
        "env -i sh \"$1\" - \"$3\" START; echo \"start=$?\"\n"
        "\"$home/Extensions/$3/Contents/MacOS/$4\" --root / --ping >/dev/null 2>&1 && echo answers\n"
        "env -i sh \"$1\" - \"$3\" REMOVE; echo \"remove=$?\"\n"
        "[ -e \"$home\" ] || echo gone\n"
        "[ -S /run/halvetor/iokit.sock ] || echo no-socket\n"
        // A host left by a failed REMOVE would keep the namespace alive.
        "[ -f \"/run/halvetor/$4.pid\" ] && kill \"$(cat \"/run/halvetor/$4.pid\")\"\n"
        "exit 0\n";
    foundation::ProcessOptions options;
    options.mergeStandardError = true;
    options.timeoutMs = 120000;
    auto result = hosttest::runInPrivateSystem({"sh", "-c", steps, "sh", hosttest::installScript().string(),
                                                hosttest::bundleDir().string(), kBundleName, kExecutable},
                                               options);
    const std::string& out = result.standardOutput;
    EXPECT_NE(out.find("START: the host of /usr/local/lib/HalvetorBody_ToolBox/Extensions/"), std::string::npos)
        << out;
    EXPECT_NE(out.find("start=0\nanswers\n"), std::string::npos) << out;
    EXPECT_NE(out.find("remove=0\ngone\nno-socket\n"), std::string::npos) << out;
}

// On the real system root takes nothing from its caller but the mode: only the bundle installed
// for everyone beside the script, under the driver's own name, into folders no one else may
// write, with its unit written beside and renamed into place, and only its own unit touched. The
// host's log folder is made by the host, also in a /var/log its group may write; the unit passes
// `systemd-analyze verify` and its exposure is rated 3.0 at most.
// Each case runs in a private system whose /etc/systemd/system is empty, with stand-ins for
// systemctl, groupadd and usermod in its /usr/local/sbin, where the script's PATH finds them first.
TEST_F(InstallKextTest, OnTheRealSystemRootTakesNothingButTheModeFromItsCaller) {
    if (::geteuid() != 0) GTEST_SKIP() << "the real system's layout needs root";
    const std::string setup =
        "mount -t tmpfs -o mode=755 none /etc/systemd/system || exit 90\n"
        "R=/usr/local/libexec/HalvetorBody_ToolBox home=/usr/local/lib/HalvetorBody_ToolBox\n"
        "units=/etc/systemd/system\n"
        "mkdir -p \"$R\" /run/systemd/system && cp \"$1/installKext.sh\" \"$1/manageKext.sh\" \"$R/\" &&\n"
        "  cp -R \"$1/$2\" \"$R/\" && chmod -R go-w \"$R\" || exit 91\n"
        "stand_in() { printf '#!/bin/sh\\n%s\\n' \"$2\" >\"/usr/local/sbin/$1\" && chmod 755 \"/usr/local/sbin/$1\"; }\n"
        "stand_in systemctl 'echo \"$*\" >>/run/systemctl.log\n"
        "[ \"$1\" = restart ] || exit 0\n"
        // As systemd would, without the install lock the script holds.
        "exec $(sed -n \"s/^ExecStart=\\(.*\\) --root \\/$/\\1/p\" \"/etc/systemd/system/$2\") --root / --daemon 9<&-'\n"
        "stand_in groupadd 'echo \"groupadd $*\" >>/run/accounts.log'\n"
        "stand_in usermod 'echo \"usermod $*\" >>/run/accounts.log'\n"
        "run() { env -i sh \"$@\" 2>&1; echo \"status=$?\"; }\n"
        // As pkexec runs a program for uid 65534 once authorised.
        "pkexec_run() { env -i PATH=/usr/bin:/bin PKEXEC_UID=65534 /bin/sh \"$@\" 2>&1; echo \"status=$?\"; }\n"
        // A bundle of that user's, whose program tells when it runs, and a root-owned sandbox.
        "mkdir -p /run/nobody/evil.kext/Contents/MacOS /run/sandbox && cp \"$R/$2/Contents/Info.plist\" "
        "/run/nobody/evil.kext/Contents/ &&\n"
        "  printf '#!/bin/sh\\nid -u >>/run/ran\\nexit 1\\n' >/run/nobody/evil.kext/Contents/MacOS/evil &&\n"
        "  chmod 755 /run/nobody/evil.kext/Contents/MacOS/evil && chown -R 65534:65534 /run/nobody || exit 92\n"
        "echo packaged >\"$units/packaged.unit\"\n";
    const std::string report =
        "[ -e \"$home/Extensions/$2\" ] && echo installed\n"
        "[ -e /run/ran ] && echo ran\n"
        "cat \"$units/packaged.unit\"\n"
        "[ -f /run/systemctl.log ] && sed 's/^/systemctl /' /run/systemctl.log\n"
        // A host left running would keep the namespace alive.
        "[ -f \"/run/halvetor/$3.pid\" ] && kill \"$(cat \"/run/halvetor/$3.pid\")\"\n"
        "exit 0\n";
    const std::string normal = "run \"$R/installKext.sh\" \"$R/$2\" \"$2\" NORMAL\n";
    const std::string refused = "status=1\n";
    const std::string ubuntuLog = "chown 0:65534 /var/log && chmod 775 /var/log\n";
    struct Case {
        std::string label, steps;
        std::vector<std::string> expected, unexpected;
    };
    const std::vector<Case> cases = {
        {"installed for everyone, a link at the unit's name",
         "ln -s packaged.unit \"$units/$3.service\"\n"
         "pkexec_run \"$R/installKext.sh\" \"$R/$2\" \"$2\" NORMAL\n"
             "[ -f \"$units/$3.service\" ] && [ ! -L \"$units/$3.service\" ] && grep -c \"^ExecStart=$home/\" "
             "\"$units/$3.service\"\n"
             "\"$home/Extensions/$2/Contents/MacOS/$3\" --root / --ping >/dev/null 2>&1 && echo answers\n"
             "kill \"$(cat \"/run/halvetor/$3.pid\")\"; sleep 1\n"
             "pkexec_run \"$R/manageKext.sh\" START\n"
             "pkexec_run \"$R/manageKext.sh\" REMOVE\n"
             "ls -A \"$units\"\n",
         {"status=0\n1\nanswers\n", "START: the host of /usr/local/lib/HalvetorBody_ToolBox/Extensions/",
          "REMOVE: the driver is removed from /usr/local/lib/HalvetorBody_ToolBox/Extensions\nstatus=0\n"
          "packaged.unit\npackaged\n",
          "systemctl enable " + std::string(kExecutable) + ".service\n"},
         {"installed\n"}},
        {"another name, another unit",
         "ln -s packaged.unit \"$units/dbus-org.freedesktop.timesync1.service\"\n"
         "echo 'ssh unit' >\"$units/ssh.service\"\n"
         "odd=/usr/local/share/odd/dbus-org.freedesktop.timesync1.kext\n"
         "mkdir -p \"${odd%/*}\" && cp -R \"$R/$2\" \"$odd\"\n"
         "printf '#!/bin/sh\\nid -u >/run/ran\\nexit 1\\n' >\"$odd/Contents/MacOS/dbus-org.freedesktop.timesync1\"\n"
         "chmod 755 \"$odd/Contents/MacOS/dbus-org.freedesktop.timesync1\"\n"
         "run \"$R/installKext.sh\" \"$odd\" dbus-org.freedesktop.timesync1.kext NORMAL\n"
         "run \"$R/installKext.sh\" - ssh.kext REMOVE\n"
         "cat \"$units/ssh.service\"\n",
         {"status=1\n", "not \"ssh.kext\"\nstatus=1\nssh unit\npackaged\n"},
         {"ran\n", "systemctl"}},
        {"through pkexec, a root and a bundle of the caller's",
         "pkexec_run \"$R/installKext.sh\" --root /run/sandbox /run/nobody/evil.kext evil.kext NORMAL\n"
         "env -i PATH=/usr/bin:/bin PKEXEC_UID=65534 HVB_ROOT=/run/sandbox /bin/sh \"$R/installKext.sh\" "
         "/run/nobody/evil.kext evil.kext NORMAL 2>&1; echo \"status=$?\"\n"
         "pkexec_run \"$R/manageKext.sh\" --root /run/sandbox START\n"
         "pkexec_run \"$R/installKext.sh\" /run/nobody/evil.kext evil.kext NORMAL\n"
         "ls -A /run/sandbox\n",
         {"--root is refused\nstatus=1\n", "HVB_ROOT is refused\nstatus=1\n", "not \"evil.kext\"\nstatus=1\n"},
         {"ran\n", "systemctl", "installed\n", "Library"}},
        {"through pkexec, START and REMOVE by the installer",
         normal + "pkexec_run \"$R/installKext.sh\" - \"$2\" START\npkexec_run \"$R/installKext.sh\" - \"$2\" REMOVE\n"
         "\"$home/Extensions/$2/Contents/MacOS/$3\" --root / --ping >/dev/null 2>&1 && echo still-answers\n",
         {"START is manageKext.sh's\nstatus=1\n", "REMOVE is manageKext.sh's\nstatus=1\nstill-answers\n",
          "installed\n"},
         {"the driver is removed"}},
        // Any root whose real path is "/" is the real system; "/" is read-only here, so nothing
        // can land at its top.
        {"the root \"/.\"",
         "mount -o remount,bind,ro / || exit 93\n"
         "run \"$R/installKext.sh\" --root /. /run/nobody/evil.kext evil.kext NORMAL\n"
         "run \"$R/installKext.sh\" --root /. \"$R/$2\" \"$2\" NORMAL\n"
         "[ -S /run/halvetor/iokit.sock ] && echo real-socket\n",
         {"not \"evil.kext\"\nstatus=1\n", "NORMAL: /usr/local/lib/HalvetorBody_ToolBox/Extensions/" +
          std::string(kBundleName) + " installed, its host answers\nstatus=0\n",
          "real-socket\ninstalled\n", "systemctl enable"},
         {"ran\n"}},
        {"a bundle from elsewhere",
         "mkdir -p /usr/local/share/elsewhere && cp -R \"$R/$2\" /usr/local/share/elsewhere/\n"
         "run \"$R/installKext.sh\" \"/usr/local/share/elsewhere/$2\" \"$2\" NORMAL\n",
         {"only the bundle beside this script", refused},
         {"installed\n", "systemctl"}},
        {"installed for one user", "chown -R 65534:65534 \"$R\"\n" + normal,
         {"only an install for everyone", refused}, {"installed\n", "systemctl"}},
        {"a script others may write", "chmod g+w \"$R/installKext.sh\"\n" + normal,
         {"only an install for everyone", refused}, {"installed\n", "systemctl"}},
        {"a bundle file of another user", "chown 65534 \"$R/$2/Contents/Info.plist\"\n" + normal,
         {"only an install for everyone", refused}, {"installed\n", "systemctl"}},
        {"a manageKext.sh beside another user's installKext.sh",
         "chown 65534 \"$R/installKext.sh\"\nrun \"$R/manageKext.sh\" START\nrun \"$R/manageKext.sh\" REMOVE\n",
         {"refusing to run", refused + "manageKext.sh: refusing"}, {"systemctl"}},
        {"/usr/local/lib writable by a group", "chmod 775 /usr/local/lib\n" + normal,
         {"refusing to install as root into", refused}, {"installed\n", "systemctl"}},
        {"an extensions folder of another user",
         "mkdir -p \"$home/Extensions\" && chown 65534 \"$home/Extensions\"\n" + normal,
         {"refusing to install as root into", refused}, {"installed\n", "systemctl"}},
        {"a run folder of another user",
         "mkdir -p /run/halvetor && chown 65534 /run/halvetor\n" + normal +
             "run \"$R/installKext.sh\" - \"$2\" START\n",
         {"refusing to install as root into \"/run/halvetor\"", refused + "installKext.sh: refusing"},
         {"installed\n", "systemctl"}},
        {"a log folder others may write", "chmod 777 /var/log\n" + normal,
         {"refusing to install as root into \"/var/log/halvetor\"", refused}, {"installed\n", "systemctl"}},
        // Ubuntu's /var/log is 0775 root:syslog: the host makes its own log folder there, and
        // keeps its log from other users.
        {"a log folder its group may write, as on Ubuntu", ubuntuLog + normal +
             "stat -c '%a %u' /var/log/halvetor \"/var/log/halvetor/$3.log\"\n",
         {"status=0\n750 0\n640 0\n", "installed\n"}, {"refusing"}},
        {"a link for the host's log folder there",
         ubuntuLog + "ln -s /usr/local/share /var/log/halvetor\n" + normal + "ls /usr/local/share\n",
         {"refusing the log folder: \"/var/log/halvetor\" is a link", refused}, {"installed\n", ".log\n"}},
        // The unit keeps the host to what a camera needs: `systemd-analyze` checks it and rates
        // its exposure (0 safest, 10 the most exposed; 3.0 at most here). It is the bundle's own,
        // with the installed executable filled in.
        {"the unit it writes",
         normal +
             "systemd-analyze verify \"$units/$3.service\" >/run/verified 2>&1; echo \"verify=$?\"\n"
             "systemd-analyze security --offline=yes --threshold=30 \"$units/$3.service\" >/run/rating 2>&1\n"
             "echo \"security=$?\"; cat /run/verified; grep 'Overall exposure' /run/rating || cat /run/rating\n"
             "sed \"s|@EXECUTABLE@|$home/Extensions/$2/Contents/MacOS/$3|\" \\\n"
             "  \"$R/$2/Contents/Resources/$3.service.in\" | cmp - \"$units/$3.service\" && echo filled-in\n",
         {"status=0\nverify=0\nsecurity=0\n", "filled-in\n", "installed\n"}, {}},
    };
    foundation::ProcessOptions options;
    options.mergeStandardError = true;
    options.timeoutMs = 120000;
    for (const Case& c : cases) {
        auto result = hosttest::runInPrivateSystem({"sh", "-c", setup + c.steps + report, "sh",
                                                    hosttest::libexecDir().string(), kBundleName, kExecutable},
                                                   options);
        const std::string& out = result.standardOutput;
        EXPECT_EQ(result.exitStatus, 0) << c.label << "\n" << out;
        for (const std::string& text : c.expected)
            EXPECT_NE(out.find(text), std::string::npos) << c.label << ": " << text << "\n" << out;
        for (const std::string& text : c.unexpected)
            EXPECT_EQ(out.find(text), std::string::npos) << c.label << ": " << text << "\n" << out;
    }
    expectDriversBeforeDeviceGroups(TempDir::read(hosttest::unitTemplate()));  // what "filled-in" found written
}
