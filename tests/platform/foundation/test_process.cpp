#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "TempDir.h"
#include "platform/foundation/Process.h"

using namespace foundation;
namespace fs = std::filesystem;

namespace {

TEST(Process, ArgumentsArePassedLiterally) {
    TempDir dir;
    ProcessOptions options;
    options.workingDirectory = dir.path().string();
    std::vector<std::string> argv = {"printf", "[%s]", "a b", "$(touch pwned)", "; touch pwned2", "*", "`id`",
                                     "'\"", ""};
    ProcessResult r = runProcess(argv, options);
    ASSERT_TRUE(r.launched) << r.error;
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.standardOutput, "[a b][$(touch pwned)][; touch pwned2][*][`id`]['\"][]");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(Process, ExitStatusSignalsAndStreams) {
    ProcessResult r = runProcess({"sh", "-c", "echo out; echo err >&2; exit 3"});
    ASSERT_TRUE(r.launched);
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.standardOutput, "out\n");
    EXPECT_EQ(r.standardError, "err\n");
    EXPECT_FALSE(r.timedOut);

    ProcessOptions merged;
    merged.mergeStandardError = true;
    r = runProcess({"sh", "-c", "echo out; echo err >&2"}, merged);
    EXPECT_EQ(r.standardOutput, "out\nerr\n");
    EXPECT_EQ(r.standardError, "");

    r = runProcess({"sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(r.exitStatus, 128 + 15);

    r = runProcess({"/bin/sh", "-c", "exit 0"});  // a path skips the lookup
    EXPECT_EQ(r.exitStatus, 0);
}

TEST(Process, StandardInputAndLargeOutputsDoNotDeadlock) {
    ProcessOptions options;
    options.standardInput = "hello\nworld\n";
    ProcessResult r = runProcess({"cat"}, options);
    EXPECT_EQ(r.standardOutput, "hello\nworld\n");

    // Megabytes in, and out on both streams at once: more than any pipe buffer holds.
    std::string big(6 * 1024 * 1024, 'x');
    for (size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('a' + (i / 4096) % 26);
    options.standardInput = big;
    r = runProcess({"sh", "-c", "tee /dev/stderr"}, options);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(r.standardOutput == big) << r.standardOutput.size();
    EXPECT_TRUE(r.standardError == big) << r.standardError.size();

    // A child that reads nothing and exits: the unread input must not kill us with SIGPIPE.
    r = runProcess({"true"}, options);
    EXPECT_TRUE(r.launched);
    EXPECT_EQ(r.exitStatus, 0);

    // Without input the child reads end-of-file at once instead of waiting on ours.
    r = runProcess({"cat"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.standardOutput, "");
}

TEST(Process, LaunchFailuresAreReportedNotThrown) {
    TempDir dir;
    TempDir::write(dir / "not-executable", "#!/bin/sh\necho hi\n");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {""},
        {"hvb-no-such-program-anywhere"},
        {(dir / "missing").string()},
        {(dir / "not-executable").string()},
        {dir.path().string()},
    };
    for (const auto& argv : cases) {
        ProcessResult r = runProcess(argv);
        EXPECT_FALSE(r.launched) << (argv.empty() ? "(empty)" : argv[0]);
        EXPECT_FALSE(r.error.empty());
    }
    ProcessOptions badDir;
    badDir.workingDirectory = (dir / "no-such-folder").string();
    ProcessResult r = runProcess({"true"}, badDir);
    EXPECT_FALSE(r.launched);
    EXPECT_NE(r.error.find("working directory"), std::string::npos) << r.error;
}

TEST(Process, TimeoutKillsTheChild) {
    ProcessOptions options;
    options.timeoutMs = 200;
    ProcessResult r = runProcess({"sleep", "60"}, options);
    EXPECT_TRUE(r.launched);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 128 + 9);

    options.timeoutMs = 60000;
    r = runProcess({"echo", "quick"}, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.standardOutput, "quick\n");
}

TEST(Process, EnvironmentDirectoryAndDescriptors) {
    TempDir dir;
    ProcessOptions options;
    options.extraEnvironment = {"HVB_PROBE=one two", "HOME=" + dir.path().string(), "not-an-entry"};
    options.workingDirectory = dir.path().string();
    ProcessResult r = runProcess({"sh", "-c", "printf '%s|%s|' \"$HVB_PROBE\" \"$HOME\"; pwd"}, options);
    EXPECT_EQ(r.standardOutput, "one two|" + dir.path().string() + "|" + fs::canonical(dir.path()).string() + "\n");

    // A descriptor the parent leaves inheritable does not leak into the child.
    int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    int high = ::dup2(fd, 200);
    ASSERT_EQ(high, 200);
    r = runProcess({"sh", "-c", "test -e /proc/self/fd/200 && echo leaked || echo closed"});
    EXPECT_EQ(r.standardOutput, "closed\n");
    ::close(fd);
    ::close(high);
}

}  // namespace
