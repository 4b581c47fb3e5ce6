#pragma once
// The real driver host, started as a child process on a temporary root.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PrivateSystem.h"
#include "platform/iokit_socket/SocketTestSupport.h"

namespace hosttest {

// The build's folder of what the toolbox runs: the driver bundle copy and its installer.
inline std::filesystem::path libexecDir() { return HVB_TEST_LIBEXEC_DIR; }
inline std::filesystem::path bundleDir() { return libexecDir() / "com_brevantis_driver_HVBSCSIDriver.kext"; }
inline std::filesystem::path hostExecutable() {
    return bundleDir() / "Contents/MacOS/com_brevantis_driver_HVBSCSIDriver";
}
inline std::filesystem::path installScript() { return libexecDir() / "installKext.sh"; }
// The host's systemd unit as the bundle carries it, before installKext.sh fills in the executable.
inline std::filesystem::path unitTemplate() {
    return bundleDir() / "Contents/Resources/com_brevantis_driver_HVBSCSIDriver.service.in";
}
inline std::filesystem::path socketOf(const std::filesystem::path& root) { return root / "run/halvetor/iokit.sock"; }

// A host greets admitted peers on the socket of `root`.
inline bool answers(const std::filesystem::path& root) {
    int fd = sockettest::rawConnect(socketOf(root));
    if (fd < 0) return false;
    bool admitted = sockettest::readHelloAdmitted(fd) == 1;
    ::close(fd);
    return admitted;
}

class HostProcess {
public:
    HostProcess() = default;
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;
    ~HostProcess() { kill(SIGKILL); }

    // Starts the host with `arguments` after "--root ROOT"; true once it answers (greets at
    // all, when `admitted` is false). `wrapper`: a command that ends by running the host's
    // command line given after it, in the same process.
    bool start(const std::filesystem::path& root, const std::vector<std::string>& arguments, bool admitted = true,
               const std::vector<std::string>& wrapper = {}) {
        root_ = root;
        std::vector<std::string> words = inPrivateSystem(wrapper);
        for (const std::string& word : {hostExecutable().string(), std::string("--root"), root.string()})
            words.push_back(word);
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        std::string output = (root / "host-output.txt").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        auto up = [&] {
            if (admitted) return answers(root_);
            int fd = sockettest::rawConnect(socketOf(root_));
            if (fd < 0) return false;
            bool greeted = sockettest::readHelloAdmitted(fd) >= 0;
            ::close(fd);
            return greeted;
        };
        return sockettest::eventually([&] { return up() || !running(); }, 60) && running();
    }

    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = status;
            pid_ = -1;
            return false;
        }
        return true;
    }

    // Sends a signal and waits for it to take effect: SIGSTOP until every thread of the process
    // has stopped, other signals but SIGCONT until the process has ended.
    void kill(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        if (signal == SIGSTOP) {
            sockettest::eventually([&] { return stopped(); }, 10);
            return;
        }
        if (signal == SIGCONT) return;
        if (signal == SIGKILL) ::kill(pid_, SIGCONT);
        int status = 0;
        if (::waitpid(pid_, &status, 0) == pid_) exitStatus_ = status;
        pid_ = -1;
    }

    pid_t pid() const { return pid_; }

    // Every thread of the process is stopped (state "T" in /proc).
    bool stopped() const {
        std::error_code ec;
        const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
        bool any = false;
        for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
            std::ifstream in(task.path() / "stat");
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const size_t close = text.rfind(')');
            if (close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'T') return false;
            any = true;
        }
        return any;
    }
    int exitStatus() const { return exitStatus_; }

private:
    std::filesystem::path root_;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

}  // namespace hosttest
