// The program as `cmake --install` lays it out: it runs from a temporary prefix against the driver
// host with a simulated camera, keeps everything it writes in the user's folders, and comes with
// its desktop entry, icon and polkit action.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

TEST(Install, TheInstalledToolboxRunsFromItsPrefixAndWritesOnlyIntoTheUsersFolders) {
    TempDir sandbox;
    const fs::path prefix = sandbox / "prefix";
    foundation::ProcessOptions merged;
    merged.mergeStandardError = true;
    merged.timeoutMs = 240000;
    const auto install =
        foundation::runProcess({HVB_TEST_CMAKE, "--install", HVB_TEST_BUILD_DIR, "--prefix", prefix.string()}, merged);
    ASSERT_EQ(install.exitStatus, 0) << install.standardOutput << install.error;

    // Paths as the installed program sees them: links resolved.
    const fs::path real = fs::canonical(prefix);
    const std::string id = HVB_TEST_DESKTOP_ID;
    const fs::path resources = real / "share/HalvetorBody_ToolBox/Resources";
    const fs::path toolbox = real / "bin/HalvetorBody_ToolBox", script = resources / "installKext.sh";
    const fs::path host = resources / "com_brevantis_driver_HVBSCSIDriver.kext/Contents/MacOS" /
                          "com_brevantis_driver_HVBSCSIDriver";
    for (const fs::path& program :
         {toolbox, script, host, real / "libexec/diskutil", real / "libexec/system_profiler"}) {
        EXPECT_EQ(::access(program.c_str(), X_OK), 0) << program;
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
    }
    for (int size : {16, 32, 48, 128, 256}) {
        // A PNG whose header (width and height, big-endian) says the folder's size.
        const std::string n = std::to_string(size);
        const std::string png = TempDir::read(prefix / "share/icons/hicolor" / (n + "x" + n) / "apps" / (id + ".png"));
        const std::string square = std::string("\0\0", 2) + char(size >> 8) + char(size & 0xff);
        EXPECT_TRUE(png.rfind("\x89PNG", 0) == 0 && png.size() > 24 && png.substr(16, 8) == square + square) << n;
    }
    // The polkit action whose program is the installed installKext.sh.
    const std::string policy = TempDir::read(prefix / "share/polkit-1/actions" / (id + ".policy"));
    EXPECT_NE(policy.find("<action id=\"" + id + ".install-driver\">"), std::string::npos) << policy;
    EXPECT_NE(policy.find("\"org.freedesktop.policykit.exec.path\">" + script.string() + "</annotate>"),
              std::string::npos) << policy;

    // A camera whose firmware has a newer version, so that the toolbox fetches the release notes,
    // which differ from the shipped ones.
    standin::WebService service;
    service.setFirmwareVersion("HVBR7", "1.7.00");
    const std::string notes =
        R"({"HalvetorBody":{"HVBR7":[{"version":"1.7.00","date":"2030/01/01","note":{"en-US":["x"]}}]}})";
    service.setReleaseNotes(notes, "20300101");
    ASSERT_GT(service.start(), 0);
    const fs::path root = sandbox / "root", home = sandbox / "home", output = sandbox / "toolbox.txt";
    fs::create_directories(root / "run/halvetor/disks");
    fs::create_directories(root / "volumes/HVBR7/SYSTEM");
    TempDir::write(root / "etc/halvetor/driver.conf",
                   "backend simulation\ncamera model=HVBR7,firmware=1.6.01,serial=HVBR7INST0001,bsd=disk4,volume=" +
                       (root / "volumes/HVBR7").string() + "\n");
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    std::vector<std::string> environment = {
        "PATH=" + foundation::paths::env("PATH"), "ASAN_OPTIONS=" + foundation::paths::env("ASAN_OPTIONS"),
        "UBSAN_OPTIONS=" + foundation::paths::env("UBSAN_OPTIONS"), "QT_QPA_PLATFORM=offscreen",
        "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(),
        "XDG_DATA_HOME=" + (home / "data").string(), "XDG_CACHE_HOME=" + (home / "cache").string(),
        "XDG_STATE_HOME=" + (home / "state").string(), "XDG_RUNTIME_DIR=" + (home / "run").string(),
        "HVB_ROOT=" + root.string(), "HVB_SIMULATED_DISKS=" + (root / "run/halvetor/disks").string(),
        "HVB_API_BASE=" + service.baseURL(), "HVB_SITE_URL=" + service.baseURL() + "/",
        "HVB_ANALYTICS_BASE=" + service.baseURL()};
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    const auto before = listing(prefix);
    const pid_t app = ::fork();
    ASSERT_GE(app, 0);
    if (app == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        if (::chdir(home.c_str()) == 0) ::execle(toolbox.c_str(), toolbox.c_str(), nullptr, envp.data());
        ::_exit(127);
    }
    // The launch check installs the driver from the prefix into the root; its host serves the camera.
    const auto log = [&] { return TempDir::read(output); };
    EXPECT_TRUE(waitFor([&] { return log().find("deviceModel = HVBR7") != std::string::npos; }, 180s)) << log();
    const fs::path downloaded = home / "cache/HalvetorBody_ToolBox/ReleaseNote.json";
    EXPECT_TRUE(waitFor([&] { return TempDir::read(downloaded) == notes; }, 120s)) << log();
    EXPECT_TRUE(waitFor([&] { return fs::exists(home / "data/HalvetorBody_ToolBox/appcast.xml"); }, 120s));
    ::kill(app, SIGTERM);
    int status = 0;
    if (!waitFor([&] { return ::waitpid(app, &status, WNOHANG) == app; }, 60s)) {
        ADD_FAILURE() << "the toolbox did not end";
        ::kill(app, SIGKILL);
        ::waitpid(app, &status, 0);
    }
    const std::string hostPid = TempDir::read(root / "run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid");
    if (!hostPid.empty()) ::kill(std::stoi(hostPid), SIGTERM);
    service.stop();

    EXPECT_EQ(listing(prefix), before);
}

}  // namespace
