// The program as `cmake --install` lays it out: it runs from a temporary prefix against the driver
// host with a simulated camera, keeps everything it writes in the user's folders, and comes with
// its desktop entry, icons, metainfo and polkit action; the uninstall takes all of it away. A
// build of its own, in the folders a packager names, installs below DESTDIR and runs from a
// moved prefix.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "SCSIDriver/PrivateSystem.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/TempDir.h"
#include "standins/webservice/WebService.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

template <class Pred>
bool waitFor(Pred pred, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(200ms);
    }
    return true;
}

// Each entry below `top`, and `top`, with its mode, size and change time: a file written, replaced,
// or made and removed again changes an entry or its folder's.
std::vector<std::string> listing(const fs::path& top) {
    std::vector<fs::path> paths{top};
    for (const auto& entry : fs::recursive_directory_iterator(top)) paths.push_back(entry.path());
    std::vector<std::string> entries;
    for (const fs::path& path : paths) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        entries.push_back(path.string() + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                          std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec));
    }
    return entries;
}

// Every file below `top`, as "/<path below top>", and every folder as "/<path>/".
std::set<std::string> tree(const fs::path& top) {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        const std::string rel = "/" + entry.path().lexically_relative(top).string();
        entries.insert(entry.is_directory() && !entry.is_symlink() ? rel + "/" : rel);
    }
    return entries;
}

// Every file below `top` that someone may run, as its path below `top`.
std::set<std::string> executablesBelow(const fs::path& top) {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(top))
        if (entry.is_regular_file() && (entry.status().permissions() & fs::perms(0111)) != fs::perms::none)
            found.insert(entry.path().lexically_relative(top).string());
    return found;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The machine's model as the installed "system_profiler" tells it: what the toolbox reports when
// it finds its helper programs.
std::string profilerModel(const fs::path& profiler) {
    const auto run = foundation::runProcess({profiler.string(), "SPHardwareDataType"});
    const std::string key = "Model Identifier: ";
    for (const std::string& line : lines(run.standardOutput))
        if (const auto at = line.find(key); at != std::string::npos) return line.substr(at + key.size());
    return {};
}

// The installed toolbox started against the driver host with a simulated HVBR7 whose firmware has
// a newer version, the web-service stand-in and the user's folders in `sandbox`.
class InstalledToolbox {
public:
    InstalledToolbox(const fs::path& toolbox, const fs::path& sandbox)
        : root_(sandbox / "root"), home_(sandbox / "home"), output_(sandbox / "toolbox.txt") {
        service_.setFirmwareVersion("HVBR7", "1.7.00");
        service_.setReleaseNotes(kNotes, "20300101");
        if (service_.start() <= 0) return;
        fs::create_directories(root_ / "run/halvetor/disks");
        fs::create_directories(root_ / "volumes/HVBR7/SYSTEM");
        TempDir::write(root_ / "etc/halvetor/driver.conf",
                       "backend simulation\ncamera model=HVBR7,firmware=1.6.01,serial=HVBR7INST0001,bsd=disk4,volume=" +
                           (root_ / "volumes/HVBR7").string() + "\n");
        fs::create_directories(home_ / "run");
        fs::permissions(home_ / "run", fs::perms::owner_all);
        std::vector<std::string> environment = {
            "PATH=" + foundation::paths::env("PATH"), "ASAN_OPTIONS=" + foundation::paths::env("ASAN_OPTIONS"),
            "UBSAN_OPTIONS=" + foundation::paths::env("UBSAN_OPTIONS"), "QT_QPA_PLATFORM=offscreen",
            "HOME=" + home_.string(), "XDG_CONFIG_HOME=" + (home_ / "config").string(),
            "XDG_DATA_HOME=" + (home_ / "data").string(), "XDG_CACHE_HOME=" + (home_ / "cache").string(),
            "XDG_STATE_HOME=" + (home_ / "state").string(), "XDG_RUNTIME_DIR=" + (home_ / "run").string(),
            "HVB_ROOT=" + root_.string(), "HVB_SIMULATED_DISKS=" + (root_ / "run/halvetor/disks").string(),
            "HVB_API_BASE=" + service_.baseURL(), "HVB_SITE_URL=" + service_.baseURL() + "/",
            "HVB_ANALYTICS_BASE=" + service_.baseURL()};
        std::vector<char*> envp;
        for (std::string& variable : environment) envp.push_back(variable.data());
        envp.push_back(nullptr);
        // Run by root, its launch check runs the installer as root.
        const std::string helper = hosttest::inPrivateSystem({}).front();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            if (::chdir(home_.c_str()) == 0)
                ::execle(helper.c_str(), helper.c_str(), toolbox.c_str(), nullptr, envp.data());
            ::_exit(127);
        }
    }
    ~InstalledToolbox() { stop(); }

    bool started() const { return pid_ > 0; }
    std::string log() const { return TempDir::read(output_); }
    const fs::path& home() const { return home_; }
    standin::WebService& service() { return service_; }

    // The launch check installed the driver from the toolbox's resources into the root, and its
    // host serves the camera.
    bool servesTheCamera() const {
        return waitFor([&] { return log().find("deviceModel = HVBR7") != std::string::npos; }, 180s);
    }
    // The machine facts the toolbox reported, read with its helper programs.
    bool reportedModel(const std::string& model) const {
        const std::string field = "\"User_Mac_Model\":\"" + model + "\"";
        return waitFor(
            [&] {
                for (const auto& request : service_.requestsTo("/mp/collect"))
                    if (request.body.find(field) != std::string::npos) return true;
                return false;
            },
            120s);
    }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            if (!waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 60s)) {
                ADD_FAILURE() << "the toolbox did not end";
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
            pid_ = -1;
        }
        const std::string hostPid = TempDir::read(root_ / "run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid");
        if (!hostPid.empty()) ::kill(std::stoi(hostPid), SIGTERM);
        service_.stop();
    }

    static constexpr const char* kNotes =
        R"({"HalvetorBody":{"HVBR7":[{"version":"1.7.00","date":"2030/01/01","note":{"en-US":["x"]}}]}})";

private:
    standin::WebService service_;
    fs::path root_, home_, output_;
    pid_t pid_ = -1;
};

TEST(Install, TheInstalledToolboxRunsFromItsPrefixAndWritesOnlyIntoTheUsersFolders) {
    TempDir sandbox;
    const fs::path prefix = sandbox / "prefix";
    foundation::ProcessOptions merged;
    merged.mergeStandardError = true;
    merged.timeoutMs = 240000;
    // Shared folders other programs made before: the uninstall leaves them, empty or not.
    for (const char* shared : {"share/applications", "share/icons/hicolor/48x48/apps", "share/metainfo"})
        fs::create_directories(prefix / shared);
    const auto install =
        foundation::runProcess({HVB_TEST_CMAKE, "--install", HVB_TEST_BUILD_DIR, "--prefix", prefix.string()}, merged);
    ASSERT_EQ(install.exitStatus, 0) << install.standardOutput << install.error;
    std::vector<std::string> missingTools;

    // Paths as the installed program sees them: links resolved.
    const fs::path real = fs::canonical(prefix);
    const std::string id = HVB_TEST_DESKTOP_ID;
    const fs::path helpers = real / "libexec/HalvetorBody_ToolBox";
    const fs::path toolbox = real / "bin/HalvetorBody_ToolBox", script = helpers / "installKext.sh";
    const fs::path host = helpers / "com_brevantis_driver_HVBSCSIDriver.kext/Contents/MacOS" /
                          "com_brevantis_driver_HVBSCSIDriver";
    for (const fs::path& program : {toolbox, script, host, helpers / "diskutil", helpers / "system_profiler"}) {
        EXPECT_EQ(::access(program.c_str(), X_OK), 0) << program;
    }
    // The helper programs keep to the toolbox's own folder: no generic name in libexec itself.
    std::set<std::string> libexec;
    for (const auto& entry : fs::directory_iterator(real / "libexec")) libexec.insert(entry.path().filename());
    EXPECT_EQ(libexec, std::set<std::string>{"HalvetorBody_ToolBox"});
    // What runs lies in the libexec folder: a distribution allows no program under the data folder.
    EXPECT_EQ(executablesBelow(prefix / "share"), std::set<std::string>{});
    // The manual page reads without a warning.
    const auto roff = foundation::runProcess(
        {"groff", "-man", "-Tutf8", "-ww", "-z", (prefix / "share/man/man1/HalvetorBody_ToolBox.1").string()}, merged);
    if (roff.launched) {
        EXPECT_TRUE(roff.exitStatus == 0 && roff.standardOutput.empty()) << roff.standardOutput;
    } else {
        missingTools.push_back("groff (package groff-base) is not installed: " + roff.error);
    }
    // Tests, benchmarks, stand-ins and build tools stay in the build.
    for (const auto& entry : fs::recursive_directory_iterator(prefix)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.rfind("test_", 0) && name.rfind("bench_", 0) && name.rfind("hvb-", 0)) << entry.path();
    }

    // The desktop entry starts the installed program and names an icon installed at its sizes.
    const fs::path desktopFile = prefix / "share/applications" / (id + ".desktop");
    const std::string entry = TempDir::read(desktopFile);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    for (const std::string& line : {std::string("Type=Application"), "Exec=" + toolbox.string(), "Icon=" + id})
        EXPECT_NE(entry.find("\n" + line + "\n"), std::string::npos) << line << "\n" << entry;
    const auto validate = foundation::runProcess({"desktop-file-validate", desktopFile.string()}, merged);
    if (validate.launched) {
        EXPECT_EQ(validate.exitStatus, 0) << validate.standardOutput;
    } else {
        missingTools.push_back("desktop-file-validate (package desktop-file-utils) is not installed: " + validate.error);
    }
    for (int size : {16, 32, 48, 128, 256}) {
        // A PNG whose header (width and height, big-endian) says the folder's size.
        const std::string n = std::to_string(size);
        const std::string png = TempDir::read(prefix / "share/icons/hicolor" / (n + "x" + n) / "apps" / (id + ".png"));
        const std::string square = std::string("\0\0", 2) + char(size >> 8) + char(size & 0xff);
        EXPECT_TRUE(png.rfind("\x89PNG", 0) == 0 && png.size() > 24 && png.substr(16, 8) == square + square) << n;
    }
    const std::string svg = TempDir::read(prefix / "share/icons/hicolor/scalable/apps" / (id + ".svg"));
    EXPECT_TRUE(!svg.empty() && svg == TempDir::read(fs::path(HVB_TEST_SOURCE_DIR) / "resources/images/AppIcon.svg"));

    // The metainfo software centres read: valid, launching the desktop entry, this version, and a
    // screenshot whose picture is installed beside the resources.
    const fs::path metainfo = prefix / "share/metainfo" / (id + ".metainfo.xml");
    const std::string component = TempDir::read(metainfo);
    for (const std::string& element : std::vector<std::string>{
             "<component type=\"desktop-application\">", "<id>" + id + "</id>",
          "<launchable type=\"desktop-id\">" + id + ".desktop</launchable>",
          std::string("<project_license>LicenseRef-proprietary</project_license>"),
          std::string("<release version=\"" HVB_TEST_VERSION "\" date=\"" HVB_TEST_RELEASE_DATE "\"/>"),
          std::string("<image type=\"source\">https://www.brevantis.example/HalvetorBody_ToolBox/screenshots/"
                      "status.png</image>")})
        EXPECT_NE(component.find(element), std::string::npos) << element << "\n" << component;
    const auto appstream = foundation::runProcess({"appstreamcli", "validate", "--no-net", metainfo.string()}, merged);
    if (appstream.launched) {
        EXPECT_EQ(appstream.exitStatus, 0) << appstream.standardOutput;
    } else {
        missingTools.push_back("appstreamcli (package appstream) is not installed: " + appstream.error);
    }
    const std::string screenshot = TempDir::read(prefix / "share/HalvetorBody_ToolBox/screenshots/status.png");
    EXPECT_TRUE(screenshot.rfind("\x89PNG", 0) == 0 &&
                screenshot == TempDir::read(fs::path(HVB_TEST_SOURCE_DIR) / "resources/app/screenshot-status.png"));

    // The polkit actions: installing runs the installed installKext.sh; starting and removing
    // run manageKext.sh beside it, told apart by its first argument. Each its own words.
    const fs::path policyFile = prefix / "share/polkit-1/actions" / (id + ".policy");
    const std::string policy = TempDir::read(policyFile);
    const std::string manage = (helpers / "manageKext.sh").string();
    EXPECT_EQ(::access(manage.c_str(), X_OK), 0);
    std::set<std::string> messages;
    for (const auto& [action, program, argv1] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"install-driver", script.string(), ""}, {"start-driver", manage, "START"},
             {"remove-driver", manage, "REMOVE"}}) {
        const size_t begin = policy.find("<action id=\"" + id + "." + action + "\">");
        ASSERT_NE(begin, std::string::npos) << action << "\n" << policy;
        const std::string text = policy.substr(begin, policy.find("</action>", begin) - begin);
        EXPECT_NE(text.find("\"org.freedesktop.policykit.exec.path\">" + program + "</annotate>"), std::string::npos)
            << text;
        EXPECT_EQ(text.find("\"org.freedesktop.policykit.exec.argv1\">" + argv1 + "</annotate>") == std::string::npos,
                  argv1.empty()) << text;
        EXPECT_NE(text.find("<allow_any>auth_admin</allow_any>"), std::string::npos) << text;
        const size_t message = text.find("<message>");
        ASSERT_NE(message, std::string::npos) << text;
        messages.insert(text.substr(message, text.find("</message>") - message));
    }
    EXPECT_EQ(messages.size(), 3u);
    const auto xml = foundation::runProcess({"xmllint", "--noout", policyFile.string()}, merged);
    if (xml.launched) {
        EXPECT_EQ(xml.exitStatus, 0) << xml.standardOutput;
    } else {
        missingTools.push_back("xmllint (package libxml2-utils) is not installed: " + xml.error);
    }

    // Run from the prefix, the toolbox finds its resources and its helpers, and fetches the
    // release notes, which differ from the shipped ones.
    const std::string model = profilerModel(helpers / "system_profiler");
    EXPECT_FALSE(model.empty());
    const auto before = listing(prefix);
    {
        InstalledToolbox run(toolbox, sandbox.path());
        ASSERT_TRUE(run.started());
        EXPECT_TRUE(run.servesTheCamera()) << run.log();
        EXPECT_TRUE(run.reportedModel(model)) << run.log();
        const fs::path downloaded = run.home() / "cache/HalvetorBody_ToolBox/ReleaseNote.json";
        EXPECT_TRUE(waitFor([&] { return TempDir::read(downloaded) == InstalledToolbox::kNotes; }, 120s)) << run.log();
        EXPECT_TRUE(waitFor([&] { return fs::exists(run.home() / "data/HalvetorBody_ToolBox/appcast.xml"); }, 120s));
    }
    EXPECT_EQ(listing(prefix), before);

    // The uninstall leaves no folder of the toolbox's, keeps the prefix's own folders, the
    // shared ones that were there before, and what other programs put into those the install
    // made. The toolbox's data and libexec folders, become links to folders that are not the
    // toolbox's, are not followed: nothing there is removed (nor the driver, whose script lies there).
    TempDir::write(prefix / "share/polkit-1/actions/other.policy", "<policyconfig/>\n");
    TempDir::write(prefix / "share/icons/hicolor/32x32/apps/other.png", "png");
    const fs::path foreign = sandbox / "foreign";
    const std::vector<std::string> foreignFiles = {"Info.plist", "Resources/installKext.sh", "Resources/ReleaseNote.json"};
    for (const std::string& file : foreignFiles) TempDir::write(foreign / file, "not the toolbox's " + file);
    fs::create_directories(foreign / "screenshots");
    fs::remove_all(prefix / "share/HalvetorBody_ToolBox");
    fs::create_directory_symlink(foreign, prefix / "share/HalvetorBody_ToolBox");
    const fs::path foreignPrograms = sandbox / "foreign-programs";
    fs::rename(prefix / "libexec/HalvetorBody_ToolBox", foreignPrograms);
    fs::create_directory_symlink(foreignPrograms, prefix / "libexec/HalvetorBody_ToolBox");
    const std::set<std::string> programs = tree(foreignPrograms);
    const auto uninstall =
        hosttest::runInPrivateSystem({HVB_TEST_CMAKE, "-P", HVB_TEST_BUILD_DIR "/uninstall.cmake"}, merged);
    EXPECT_EQ(uninstall.exitStatus, 0) << uninstall.standardOutput << uninstall.error;
    for (const std::string& file : foreignFiles)
        EXPECT_EQ(TempDir::read(foreign / file), "not the toolbox's " + file) << uninstall.standardOutput;
    EXPECT_EQ(tree(foreign), (std::set<std::string>{"/Info.plist", "/Resources/", "/Resources/installKext.sh",
                                                     "/Resources/ReleaseNote.json", "/screenshots/"}));
    EXPECT_EQ(tree(foreignPrograms), programs);
    EXPECT_TRUE(programs.count("/manageKext.sh"));
    for (const char* link : {"share/HalvetorBody_ToolBox", "libexec/HalvetorBody_ToolBox"}) {
        EXPECT_TRUE(fs::is_symlink(prefix / link)) << link;
        fs::remove(prefix / link);
    }
    EXPECT_EQ(tree(prefix), (std::set<std::string>{"/bin/", "/libexec/", "/share/", "/share/applications/",
                                                    "/share/icons/", "/share/icons/hicolor/",
                                                    "/share/icons/hicolor/32x32/", "/share/icons/hicolor/32x32/apps/",
                                                    "/share/icons/hicolor/32x32/apps/other.png",
                                                    "/share/icons/hicolor/48x48/", "/share/icons/hicolor/48x48/apps/",
                                                    "/share/metainfo/", "/share/polkit-1/", "/share/polkit-1/actions/",
                                                    "/share/polkit-1/actions/other.policy"}))
        << uninstall.standardOutput;
    // The driver the toolbox installs at run time is in no manifest. Not run as root, or with a
    // link on the way to the installed script, the uninstall leaves it and says in one line what
    // removes it.
    const std::string manageScript = (prefix / "libexec/HalvetorBody_ToolBox/manageKext.sh").string();
    EXPECT_NE(uninstall.standardOutput.find(
                  std::string("The camera driver stays installed, if it is (") +
                  (::geteuid() == 0 ? manageScript + " is not there, or a link lies on its way" : "not run as root") +
                  "): \"sudo " + manageScript + " REMOVE\" removes it"),
              std::string::npos)
        << uninstall.standardOutput;

    // Run as root on the real system, the uninstall first removes the driver through the
    // installed script: its host, its unit and its bundle go, then the toolbox. Seen in a private
    // system, with stand-ins for systemctl, groupadd and usermod where the script's PATH finds them.
    if (::geteuid() == 0) {
        const std::string steps =
            "mkdir -p /run/systemd/system\n"
            "stand_in() { printf '#!/bin/sh\\n%s\\n' \"$2\" >\"/usr/local/sbin/$1\" && chmod 755 \"/usr/local/sbin/$1\"; }\n"
            "stand_in systemctl 'echo \"$*\" >>/run/systemctl.log\n"
            "[ \"$1\" = restart ] || exit 0\n"
            "exec $(sed -n \"s/^ExecStart=\\(.*\\) --root \\/$/\\1/p\" \"/etc/systemd/system/$2\") --root / --daemon 9<&-'\n"
            "stand_in groupadd 'exit 0'\n"
            "stand_in usermod 'exit 0'\n"
            "\"$1\" --install \"$2\" --prefix \"$3\" >/dev/null || exit 91\n"
            "R=$3/libexec/HalvetorBody_ToolBox\n"
            "env -i sh \"$R/installKext.sh\" \"$R/$4.kext\" \"$4.kext\" NORMAL 2>&1; echo \"install=$?\"\n"
            "pid=$(cat \"/run/halvetor/$4.pid\")\n"
            "\"$1\" -P \"$2/uninstall.cmake\" 2>&1; echo \"uninstall=$?\"\n"
            "[ -e /usr/local/lib/HalvetorBody_ToolBox ] || echo 'bundle gone'\n"
            "[ -e \"/etc/systemd/system/$4.service\" ] || echo 'unit gone'\n"
            "case $(sed -n 's/.*) \\(.\\).*/\\1/p' \"/proc/$pid/stat\" 2>/dev/null) in\n"
            "  '' | Z | X) echo 'host gone' ;;\n"
            "  *) kill \"$pid\" ;;\n"
            "esac\n"
            "[ -e \"$R\" ] || echo 'toolbox gone'\n"
            "exit 0\n";
        const auto removal =
            hosttest::runInPrivateSystem({"sh", "-c", steps, "sh", HVB_TEST_CMAKE, HVB_TEST_BUILD_DIR,
                                          (sandbox / "again").string(), "com_brevantis_driver_HVBSCSIDriver"},
                                         merged);
        const std::string& out = removal.standardOutput;
        EXPECT_EQ(removal.exitStatus, 0) << out;
        EXPECT_NE(out.find("installed, its host answers\ninstall=0\n"), std::string::npos) << out;
        EXPECT_NE(out.find("REMOVE: the driver is removed from /usr/local/lib/HalvetorBody_ToolBox/Extensions\n"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("uninstall=0\nbundle gone\nunit gone\nhost gone\ntoolbox gone\n"), std::string::npos)
            << out;
        EXPECT_EQ(out.find("The camera driver stays"), std::string::npos) << out;
    }
    if (!missingTools.empty()) GTEST_SKIP() << missingTools.front();
}

// A build of its own with the install folders a packager sets (configured once, then brought up
// to date: the folders are fixed at configure time, in the install rules and in the program).
TEST(Install, AnotherLayoutInstallsBelowDestdirAsListedAndRunsFromAMovedPrefix) {
    const fs::path build = fs::path(HVB_TEST_BUILD_DIR) / "install-layout";
    foundation::ProcessOptions merged;
    merged.mergeStandardError = true;
    merged.timeoutMs = 1200000;
    std::vector<std::string> configure = {HVB_TEST_CMAKE, "-S", HVB_TEST_SOURCE_DIR, "-B", build.string(),
                                          "-G", HVB_TEST_GENERATOR, "-DCMAKE_MAKE_PROGRAM=" HVB_TEST_MAKE_PROGRAM,
                                          "-DCMAKE_C_COMPILER=" HVB_TEST_C_COMPILER,
                                          "-DCMAKE_CXX_COMPILER=" HVB_TEST_CXX_COMPILER,
                                          "-DCMAKE_C_COMPILER_LAUNCHER=" HVB_TEST_C_LAUNCHER,
                                          "-DCMAKE_CXX_COMPILER_LAUNCHER=" HVB_TEST_CXX_LAUNCHER,
                                          "-DCMAKE_BUILD_TYPE=", "-DHVB_SANITIZE=OFF", "-DHVB_TSAN=OFF",
                                          "-DHVB_BUILD_TESTS=OFF", "-DHVB_BUILD_BENCH=OFF",
                                          "-DCMAKE_INSTALL_PREFIX=/usr", "-DCMAKE_INSTALL_BINDIR=lib/hvb/bin",
                                          "-DCMAKE_INSTALL_LIBEXECDIR=lib/x", "-DCMAKE_INSTALL_DATADIR=share2",
                                          "-DCMAKE_INSTALL_MANDIR=share2/man"};
    const auto configured = foundation::runProcess(configure, merged);
    ASSERT_EQ(configured.exitStatus, 0) << configured.standardOutput << configured.error;
    const auto built = foundation::runProcess({HVB_TEST_CMAKE, "--build", build.string(), "-j", "4"}, merged);
    ASSERT_EQ(built.exitStatus, 0) << built.standardOutput.substr(built.standardOutput.size() -
                                                                  std::min<size_t>(built.standardOutput.size(), 20000));

    TempDir sandbox;
    const fs::path stage = sandbox / "stage";
    foundation::ProcessOptions staged = merged;
    staged.extraEnvironment.push_back("DESTDIR=" + stage.string());
    const auto install = foundation::runProcess({HVB_TEST_CMAKE, "--install", build.string()}, staged);
    ASSERT_EQ(install.exitStatus, 0) << install.standardOutput << install.error;

    // Everything in the folders given, nothing in the usual ones.
    const std::string id = HVB_TEST_DESKTOP_ID;
    const std::set<std::string> staged_tree = tree(stage);
    std::set<std::string> files;
    for (const std::string& path : staged_tree) {
        if (path.back() == '/') continue;
        files.insert(path);
        EXPECT_TRUE(path.rfind("/usr/lib/hvb/bin/", 0) == 0 || path.rfind("/usr/share2/", 0) == 0 ||
                    path.rfind("/usr/lib/x/HalvetorBody_ToolBox/", 0) == 0)
            << path;
    }
    const fs::path usr = stage / "usr";
    for (const std::string& path : std::vector<std::string>{
             "/usr/lib/hvb/bin/HalvetorBody_ToolBox", "/usr/lib/x/HalvetorBody_ToolBox/diskutil",
          "/usr/lib/x/HalvetorBody_ToolBox/system_profiler", "/usr/share2/HalvetorBody_ToolBox/Info.plist",
          "/usr/lib/x/HalvetorBody_ToolBox/installKext.sh", "/usr/lib/x/HalvetorBody_ToolBox/manageKext.sh",
          "/usr/lib/x/HalvetorBody_ToolBox/com_brevantis_driver_HVBSCSIDriver.kext/Contents/Info.plist",
          "/usr/share2/HalvetorBody_ToolBox/Resources/ReleaseNote.json", "/usr/share2/man/man1/HalvetorBody_ToolBox.1",
          "/usr/share2/HalvetorBody_ToolBox/screenshots/status.png", "/usr/share2/applications/" + id + ".desktop",
          "/usr/share2/metainfo/" + id + ".metainfo.xml", "/usr/share2/polkit-1/actions/" + id + ".policy",
          "/usr/share2/icons/hicolor/scalable/apps/" + id + ".svg",
          "/usr/share2/icons/hicolor/48x48/apps/" + id + ".png"})
        EXPECT_EQ(files.count(path), 1u) << path;
    // The manifest lists each installed file once, as CMake lists its own: without DESTDIR.
    const std::vector<std::string> manifest = lines(TempDir::read(build / "install_manifest.txt"));
    EXPECT_EQ(std::set<std::string>(manifest.begin(), manifest.end()), files);
    EXPECT_EQ(manifest.size(), files.size());
    // The desktop entry and the polkit action name the installed paths.
    const std::string entry = TempDir::read(usr / "share2/applications" / (id + ".desktop"));
    EXPECT_NE(entry.find("\nExec=/usr/lib/hvb/bin/HalvetorBody_ToolBox\n"), std::string::npos) << entry;
    const std::string policy = TempDir::read(usr / "share2/polkit-1/actions" / (id + ".policy"));
    EXPECT_NE(policy.find(">/usr/lib/x/HalvetorBody_ToolBox/installKext.sh</annotate>"), std::string::npos) << policy;
    EXPECT_NE(policy.find(">/usr/lib/x/HalvetorBody_ToolBox/manageKext.sh</annotate>"), std::string::npos) << policy;
    // A package may hold no program under the data folder; the manual page names the installed script.
    EXPECT_EQ(executablesBelow(usr / "share2"), std::set<std::string>{});
    const std::string manPage = TempDir::read(usr / "share2/man/man1/HalvetorBody_ToolBox.1");
    EXPECT_NE(manPage.find("\npkexec /usr/lib/x/HalvetorBody_ToolBox/manageKext.sh REMOVE\n"), std::string::npos)
        << manPage;

    // Moved elsewhere, the toolbox finds its resources (the driver it installs) and its helpers.
    const fs::path moved = fs::canonical(sandbox.path()) / "moved";
    fs::rename(usr, moved);
    const std::string model = profilerModel(moved / "lib/x/HalvetorBody_ToolBox/system_profiler");
    EXPECT_FALSE(model.empty());
    {
        InstalledToolbox run(moved / "lib/hvb/bin/HalvetorBody_ToolBox", sandbox.path());
        ASSERT_TRUE(run.started());
        EXPECT_TRUE(run.servesTheCamera()) << run.log();
        EXPECT_TRUE(run.reportedModel(model)) << run.log();
    }
    fs::rename(moved, usr);

    // The uninstall below the same DESTDIR takes every file and folder away again.
    const auto uninstall = foundation::runProcess({HVB_TEST_CMAKE, "-P", (build / "uninstall.cmake").string()}, staged);
    EXPECT_EQ(uninstall.exitStatus, 0) << uninstall.standardOutput << uninstall.error;
    EXPECT_EQ(tree(stage), std::set<std::string>{}) << uninstall.standardOutput;
    // Below DESTDIR no driver is removed; the line names the script as the system has it.
    EXPECT_NE(uninstall.standardOutput.find("The camera driver stays installed, if it is (DESTDIR is set): \"sudo "
                                            "/usr/lib/x/HalvetorBody_ToolBox/manageKext.sh REMOVE\""),
              std::string::npos)
        << uninstall.standardOutput;
}

}  // namespace
