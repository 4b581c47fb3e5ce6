#include "platform/foundation/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <string_view>

#include "platform/foundation/Paths.h"

extern char** environ;

namespace foundation {

namespace {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

bool makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// argv[0] as a path (when it holds a slash) or the first executable of that name on PATH.
std::string resolveProgram(const std::string& program, std::string& error) {
    if (program.empty()) {
        error = "no program given";
        return {};
    }
    if (program.find('/') != std::string::npos) return program;
    std::string path = paths::env("PATH", "/usr/local/bin:/usr/bin:/bin");
    size_t start = 0;
    for (;;) {
        size_t end = path.find(':', start);
        std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/" + program;
        if (isExecutableFile(candidate)) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    error = program + ": command not found";
    return {};
}

std::vector<std::string> buildEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
    for (const std::string& entry : extra) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string_view name(entry.data(), eq + 1);
        bool replaced = false;
        for (std::string& existing : env) {
            if (existing.compare(0, name.size(), name) == 0) {
                existing = entry;
                replaced = true;
                break;
            }
        }
        if (!replaced) env.push_back(entry);
    }
    return env;
}

std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Only async-signal-safe calls between fork and exec. Failure is reported through errorFd.
[[noreturn]] void execChild(int stdinFd, int stdoutFd, int stderrFd, int errorFd, const char* program,
                            char* const* argv, char* const* envp, const char* workingDirectory) {
    auto fail = [&](int stage) {
        int payload[2] = {stage, errno};
        ssize_t ignored = ::write(errorFd, payload, sizeof payload);
        (void)ignored;
        ::_exit(127);
    };
    sigset_t all;
    ::sigemptyset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);

    // The sources may sit on 0-3 themselves when the parent runs with closed standard
    // descriptors: lift them out of the way first.
    int lifted[4] = {stdinFd, stdoutFd, stderrFd, errorFd};
    for (int& fd : lifted) {
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
        if (moved < 0) ::_exit(127);
        fd = moved;
    }
    errorFd = lifted[3];
    if (::dup2(lifted[0], 0) < 0 || ::dup2(lifted[1], 1) < 0 || ::dup2(lifted[2], 2) < 0) fail(1);
    // The error pipe goes to 3 so that every other descriptor above it can be closed.
    if (::dup3(errorFd, 3, O_CLOEXEC) < 0) fail(1);
    errorFd = 3;
    if (::syscall(SYS_close_range, 4u, UINT_MAX, 0u) != 0) {
        long max = ::sysconf(_SC_OPEN_MAX);
        if (max < 0 || max > 65536) max = 65536;
        for (int fd = 4; fd < max; ++fd) ::close(fd);
    }
    if (workingDirectory && ::chdir(workingDirectory) != 0) fail(2);
    ::execve(program, argv, envp);
    fail(3);
    ::_exit(127);
}

void appendAvailable(int fd, std::string& out, bool& open) {
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) open = false;
        else if (errno == EINTR) continue;
        else if (errno != EAGAIN && errno != EWOULDBLOCK) open = false;
        return;
    }
}

// SIGPIPE is blocked on this thread while writing to the child, and a SIGPIPE raised by a
// write to a child that has stopped reading is consumed, so it never reaches the process.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipeSet;
        ::sigemptyset(&pipeSet);
        ::sigaddset(&pipeSet, SIGPIPE);
        sigset_t pending;
        ::sigpending(&pending);
        wasPending_ = ::sigismember(&pending, SIGPIPE) == 1;
        ::pthread_sigmask(SIG_BLOCK, &pipeSet, &old_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pipeSet;
            ::sigemptyset(&pipeSet);
            ::sigaddset(&pipeSet, SIGPIPE);
            timespec zero{0, 0};
            while (::sigtimedwait(&pipeSet, nullptr, &zero) > 0) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_{};
    bool wasPending_ = false;
};

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ProcessResult result;
    if (argv.empty()) {
        result.error = "no program given";
        return result;
    }
    std::string program = resolveProgram(argv[0], result.error);
    if (program.empty()) {
        result.programNotFound = !argv[0].empty();
        return result;
    }

    std::vector<std::string> args(argv);
    std::vector<std::string> env = buildEnvironment(options.extraEnvironment);
    std::vector<char*> cArgs = cStrings(args);
    std::vector<char*> cEnv = cStrings(env);
    const char* workDir = options.workingDirectory ? options.workingDirectory->c_str() : nullptr;

    Fd inRead, inWrite, outRead, outWrite, errRead, errWrite, failRead, failWrite;
    bool pipesOk = makePipe(outRead, outWrite) && makePipe(failRead, failWrite);
    if (pipesOk && !options.mergeStandardError) pipesOk = makePipe(errRead, errWrite);
    if (pipesOk) {
        if (options.standardInput) {
            pipesOk = makePipe(inRead, inWrite);
        } else {
            inRead.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            pipesOk = inRead.get() >= 0;
        }
    }
    if (!pipesOk) {
        result.error = std::string("cannot create pipes: ") + std::strerror(errno);
        return result;
    }

    int childErr = options.mergeStandardError ? outWrite.get() : errWrite.get();
    pid_t pid = ::fork();
    if (pid < 0) {
        result.error = std::string("cannot start ") + argv[0] + ": " + std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        execChild(inRead.get(), outWrite.get(), childErr, failWrite.get(), program.c_str(), cArgs.data(),
                  cEnv.data(), workDir);
    }

    inRead.reset();
    outWrite.reset();
    errWrite.reset();
    failWrite.reset();

    // Did exec succeed? The error pipe closes on exec, or carries the failure.
    int failure[2] = {0, 0};
    ssize_t got;
    do {
        got = ::read(failRead.get(), failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        const char* stage = failure[0] == 2 ? "cannot enter working directory" : "cannot start";
        result.error = std::string(stage) + " (" + argv[0] + "): " + std::strerror(failure[1]);
        result.programNotFound = failure[0] != 2 && failure[1] == ENOENT;
        return result;
    }
    result.launched = true;

    for (Fd* fd : {&inWrite, &outRead, &errRead}) {
        if (fd->get() >= 0) ::fcntl(fd->get(), F_SETFL, ::fcntl(fd->get(), F_GETFL) | O_NONBLOCK);
    }

    using Clock = std::chrono::steady_clock;
    const bool hasTimeout = options.timeoutMs > 0;
    const Clock::time_point deadline =
        hasTimeout ? Clock::now() + std::chrono::milliseconds(options.timeoutMs) : Clock::time_point::max();

    std::string_view input = options.standardInput ? std::string_view(*options.standardInput) : std::string_view();
    size_t written = 0;
    if (inWrite.get() >= 0 && input.empty()) inWrite.reset();
    bool outOpen = true;
    bool errOpen = errRead.get() >= 0;
    bool killed = false;
    {
        SigpipeGuard guard;
        while (outOpen || errOpen || inWrite.get() >= 0) {
            pollfd fds[3];
            nfds_t count = 0;
            int outIndex = -1, errIndex = -1, inIndex = -1;
            if (outOpen) {
                outIndex = static_cast<int>(count);
                fds[count++] = {outRead.get(), POLLIN, 0};
            }
            if (errOpen) {
                errIndex = static_cast<int>(count);
                fds[count++] = {errRead.get(), POLLIN, 0};
            }
            if (inWrite.get() >= 0) {
                inIndex = static_cast<int>(count);
                fds[count++] = {inWrite.get(), POLLOUT, 0};
            }
            int waitMs = -1;
            if (hasTimeout) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0) {
                    ::kill(pid, SIGKILL);
                    killed = true;
                    break;
                }
                waitMs = left > INT_MAX ? INT_MAX : static_cast<int>(left) + 1;
            }
            int ready = ::poll(fds, count, waitMs);
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (outIndex >= 0 && fds[outIndex].revents) appendAvailable(outRead.get(), result.standardOutput, outOpen);
            if (errIndex >= 0 && fds[errIndex].revents) appendAvailable(errRead.get(), result.standardError, errOpen);
            if (inIndex >= 0 && fds[inIndex].revents) {
                if (fds[inIndex].revents & (POLLERR | POLLHUP)) {
                    inWrite.reset();  // the child closed its input
                } else {
                    ssize_t n = ::write(inWrite.get(), input.data() + written, input.size() - written);
                    if (n > 0) written += static_cast<size_t>(n);
                    else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) inWrite.reset();
                    if (written >= input.size()) inWrite.reset();
                }
            }
        }
    }
    inWrite.reset();
    outRead.reset();
    errRead.reset();

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    result.timedOut = killed;
    if (waited == pid) {
        if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
        else if (WIFSIGNALED(status)) result.exitStatus = 128 + WTERMSIG(status);
    }
    return result;
}

}  // namespace foundation
