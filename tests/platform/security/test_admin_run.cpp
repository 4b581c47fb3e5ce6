// Administrator-privileged runs: which way a run goes, the argument vector it uses (never a
// shell line), exit status and cancellation through pkexec's conventions.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/foundation/TempDir.h"
#include "platform/security/AdminRun.h"

namespace fs = std::filesystem;
using security::AdminRunMode;

namespace {

// Prints each argument on its own line between brackets, and HVB_ROOT.
const char* kEchoScript =
    "#!/bin/sh\n"
    "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n"
    "printf 'root=%s\\n' \"$HVB_ROOT\"\n"
    "exit 3\n";

fs::path writeExecutable(const fs::path& path, const std::string& text) {
    TempDir::write(path, text);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    return path;
}

}  // namespace

TEST(AdminRunMode, RootAndOwnedSandboxRunDirectlyEverythingElseThroughPkexec) {
    TempDir sandbox;
    EXPECT_EQ(security::chooseAdminRunMode(0, "/"), AdminRunMode::direct);
    EXPECT_EQ(security::chooseAdminRunMode(1000, "/"), AdminRunMode::pkexec);
    EXPECT_EQ(security::chooseAdminRunMode(1000, sandbox / "missing"), AdminRunMode::pkexec);
    if (::geteuid() != 0) GTEST_SKIP() << "changing a folder's owner needs root";
    ASSERT_EQ(::chown(sandbox.path().c_str(), 4321, 4321), 0);
    EXPECT_EQ(security::chooseAdminRunMode(4321, sandbox.path()), AdminRunMode::direct);
    EXPECT_EQ(security::chooseAdminRunMode(1234, sandbox.path()), AdminRunMode::pkexec);
    // A link to "/" is the real system, not a sandbox.
    fs::create_directory_symlink("/", sandbox / "slash");
    EXPECT_EQ(security::chooseAdminRunMode(4321, sandbox / "slash"), AdminRunMode::pkexec);
}

TEST(AdminRun, DirectRunPassesArgumentsVerbatimAndReturnsTheExitStatus) {
    TempDir dir;
    fs::path script = writeExecutable(dir / "echo args.sh", kEchoScript);
    security::AdminRunOptions options;
    options.systemRoot = dir.path();
    options.effectiveUid = 0;
    auto result = security::runScriptAsAdministrator(
        script.string(), {"/path with blanks/x.kext", "it's \"quoted\"", "$(touch pwned)", "; rm -rf /"}, options);
    ASSERT_TRUE(result.launched) << result.error;
    EXPECT_EQ(result.mode, AdminRunMode::direct);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.output, "[/path with blanks/x.kext]\n[it's \"quoted\"]\n[$(touch pwned)]\n[; rm -rf /]\nroot=" +
                                 dir.path().string() + "\n");
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST(AdminRun, PkexecRunCarriesTheRootAndReportsCancelAndRefusal) {
    TempDir dir;
    fs::path script = writeExecutable(dir / "install.sh", kEchoScript);
    // A stand-in for pkexec that runs what it is given in a cleared environment, as the real one
    // does once authorised.
    fs::path passing = writeExecutable(dir / "pkexec-ok", "#!/bin/sh\nexec /usr/bin/env -i \"$@\"\n");
    fs::path dismissed = writeExecutable(dir / "pkexec-dismissed", "#!/bin/sh\nexit 126\n");
    fs::path refused = writeExecutable(dir / "pkexec-refused", "#!/bin/sh\nexit 127\n");

    security::AdminRunOptions options;
    options.systemRoot = "/";
    options.effectiveUid = 1000;
    options.pkexecPath = passing.string();
    // pkexec runs the script itself (polkit picks the action by the program's path); on "/" no
    // root is named, the script's default.
    auto args = security::adminRunArguments(AdminRunMode::pkexec, script.string(), {"a b", "NORMAL"}, options);
    EXPECT_EQ(args, (std::vector<std::string>{passing.string(), script.string(), "a b", "NORMAL"}));

    auto result = security::runScriptAsAdministrator(script.string(), {"a b", "NORMAL"}, options);
    ASSERT_TRUE(result.launched) << result.error;
    EXPECT_EQ(result.mode, AdminRunMode::pkexec);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.output, "[a b]\n[NORMAL]\nroot=\n");
    EXPECT_FALSE(result.cancelled);
    EXPECT_FALSE(result.notAuthorized);

    options.pkexecPath = dismissed.string();
    result = security::runScriptAsAdministrator(script.string(), {"NORMAL"}, options);
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.notAuthorized);
    EXPECT_EQ(result.exitStatus, 126);

    options.pkexecPath = refused.string();
    result = security::runScriptAsAdministrator(script.string(), {"NORMAL"}, options);
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.notAuthorized);

    options.pkexecPath = (dir / "no-such-pkexec").string();
    result = security::runScriptAsAdministrator(script.string(), {"NORMAL"}, options);
    EXPECT_FALSE(result.launched);
    EXPECT_FALSE(result.error.empty());
    EXPECT_TRUE(result.programMissing);
    EXPECT_EQ(result.program, (dir / "no-such-pkexec").string());
    // Nowhere on PATH, as on a system without polkit.
    options.pkexecPath = "hvb-no-such-pkexec";
    result = security::runScriptAsAdministrator(script.string(), {"NORMAL"}, options);
    EXPECT_FALSE(result.launched);
    EXPECT_TRUE(result.programMissing);
    EXPECT_EQ(result.program, "hvb-no-such-pkexec");
    // The script's error output stays apart from its output.
    fs::path failing = writeExecutable(dir / "failing.sh", "#!/bin/sh\necho working\necho 'cannot copy' >&2\nexit 1\n");
    options.pkexecPath = passing.string();
    result = security::runScriptAsAdministrator(failing.string(), {"NORMAL"}, options);
    ASSERT_TRUE(result.launched) << result.error;
    EXPECT_FALSE(result.programMissing);
    EXPECT_EQ(result.output, "working\n");
    EXPECT_EQ(result.errorOutput, "cannot copy\n");

    // pkexec is asked for the real system only: a sandbox root of another user's (here one that
    // is not there, or root's) is refused in words, and the script never runs.
    fs::path asked = dir / "pkexec-asked";
    fs::path recording = writeExecutable(dir / "pkexec-recording", "#!/bin/sh\n: >\"" + asked.string() + "\"\nexit 0\n");
    options.pkexecPath = recording.string();
    fs::create_directories(dir / "sandbox");
    for (const fs::path& root : {dir / "sandbox", dir / "missing"}) {
        options.systemRoot = root;
        result = security::runScriptAsAdministrator(script.string(), {"a b", "NORMAL"}, options);
        EXPECT_FALSE(result.launched) << root;
        EXPECT_NE(result.error.find("the real system only"), std::string::npos) << result.error;
        EXPECT_EQ(security::adminRunArguments(AdminRunMode::pkexec, script.string(), {"NORMAL"}, options),
                  (std::vector<std::string>{recording.string(), script.string(), "NORMAL"}));
    }
    EXPECT_FALSE(fs::exists(asked));
    options.systemRoot = "/";
    options.pkexecPath = passing.string();

    // The driver installer's START and REMOVE go through pkexec by their own entry point, with
    // the mode alone, so that polkit asks for each in its own words, and by it alone: without
    // it, the installer is not run in its place.
    result = security::runDriverScriptAsAdministrator(script.string(), {"copy", "name.kext", "START"}, options);
    EXPECT_FALSE(result.launched) << result.output;
    EXPECT_NE(result.error.find("manageKext.sh"), std::string::npos) << result.error;
    writeExecutable(dir / "manageKext.sh", "#!/bin/sh\necho manage \"$*\"\n");
    for (const std::string mode : {"START", "REMOVE"}) {
        result = security::runDriverScriptAsAdministrator(script.string(), {"copy", "name.kext", mode}, options);
        EXPECT_EQ(result.output, "manage " + mode + "\n") << mode;
    }
    result = security::runDriverScriptAsAdministrator(script.string(), {"copy", "name.kext", "RELOAD"}, options);
    EXPECT_EQ(result.output, "[copy]\n[name.kext]\n[RELOAD]\nroot=\n");
    options.effectiveUid = 0;
    result = security::runDriverScriptAsAdministrator(script.string(), {"copy", "name.kext", "START"}, options);
    EXPECT_EQ(result.output, "[copy]\n[name.kext]\n[START]\nroot=/\n");
}

TEST(AdminRun, RelativeRootAndScriptReachTheScriptAsAbsolutePaths) {
    // pkexec starts the program in root's home folder, and the script refuses a relative root.
    TempDir dir;
    fs::path script = writeExecutable(dir / "install.sh", kEchoScript);
    fs::path relativeRoot = fs::relative(dir.path(), fs::current_path());
    fs::path relativeScript = fs::relative(script, fs::current_path());
    ASSERT_TRUE(relativeRoot.is_relative());
    security::AdminRunOptions options;
    options.systemRoot = relativeRoot;
    options.effectiveUid = 0;
    auto result = security::runScriptAsAdministrator(relativeScript.string(), {"NORMAL"}, options);
    ASSERT_TRUE(result.launched) << result.error;
    EXPECT_EQ(result.output, "[NORMAL]\nroot=" + dir.path().string() + "\n");

    // Through pkexec, asked for the real system only, no root travels at all.
    auto args = security::adminRunArguments(AdminRunMode::pkexec, relativeScript.string(), {"NORMAL"}, options);
    EXPECT_EQ(args, (std::vector<std::string>{"pkexec", script.string(), "NORMAL"}));
}

TEST(AdminRun, ExitStatusesOfADirectRunAreNotMistakenForCancel) {
    TempDir dir;
    fs::path script = writeExecutable(dir / "s.sh", "exit 126\n");
    security::AdminRunOptions options;
    options.systemRoot = dir.path();
    options.effectiveUid = 0;
    auto result = security::runScriptAsAdministrator(script.string(), {}, options);
    EXPECT_EQ(result.exitStatus, 126);
    EXPECT_FALSE(result.cancelled);
    EXPECT_FALSE(security::runScriptAsAdministrator("", {}, options).launched);
}

TEST(AdminRun, APrivilegedRunIntoATreeOthersControlIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "folders of other owners need root";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    fs::path script = writeExecutable(dir / "install.sh", kEchoScript);
    fs::path passing = writeExecutable(dir / "pkexec-ok", "#!/bin/sh\nexec \"$@\"\n");
    security::AdminRunOptions options;
    options.effectiveUid = 1234;
    options.pkexecPath = passing.string();
    auto refusedFor = [&](const fs::path& root) {
        options.systemRoot = root;
        auto result = security::runScriptAsAdministrator(script.string(), {"NORMAL"}, options);
        return !result.launched && result.error.find("refusing") != std::string::npos;
    };
    // Another user's sandbox: pkexec would run the script as root in a tree that user controls.
    fs::create_directories(dir / "theirs");
    ASSERT_EQ(::chown((dir / "theirs").c_str(), 4321, 4321), 0);
    EXPECT_TRUE(refusedFor(dir / "theirs"));
    // Root's folder below one another user may rename, and one everyone may write to.
    fs::create_directories(dir / "theirs/inner");
    EXPECT_TRUE(refusedFor(dir / "theirs/inner"));
    fs::create_directories(dir / "open");
    ASSERT_EQ(::chmod((dir / "open").c_str(), 0777), 0);
    EXPECT_TRUE(refusedFor(dir / "open"));
    fs::create_directory_symlink(dir / "safe", dir / "link");
    fs::create_directories(dir / "safe");
    EXPECT_TRUE(refusedFor(dir / "link"));
    // Root's all the way down: still not the caller's, and pkexec is for the real system only.
    fs::create_directories(dir / "shared/safe");
    ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
    EXPECT_TRUE(refusedFor(dir / "shared/safe"));
    // A link to "/" is the real system: pkexec runs the script there, with no root named.
    fs::create_directory_symlink("/", dir / "slash");
    options.systemRoot = dir / "slash";
    auto result = security::runScriptAsAdministrator(script.string(), {"NORMAL"}, options);
    ASSERT_TRUE(result.launched) << result.error;
    EXPECT_EQ(result.mode, AdminRunMode::pkexec);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.output, "[NORMAL]\nroot=\n");
}
