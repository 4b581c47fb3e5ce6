// hvb-usbbus: simulated cameras on the emulated kernel USB bus, with a program (the toolbox, or
// the driver host on its Linux backend) running under it; cameras are plugged and unplugged
// through its control socket while the program runs.
//
//   hvb-usbbus --root ROOT [--scsi-delay MS] [--camera DESC]... [-- PROGRAM ARG...]
//   hvb-usbbus --root ROOT --control plug MODEL key=value... | unplug SERIAL | list
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "SCSIDriver/host/HostOptions.h"
#include "SCSIDriver/host/SimulationBackend.h"
#include "platform/foundation/Log.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"
#include "standins/usbbus/EmulatedUsbBus.h"
#include "standins/usbbus/UmockdevPreload.h"

namespace {

constexpr const char* kUsage =
    "usage: hvb-usbbus --root ROOT [--scsi-delay MS] [--camera DESC]... [-- PROGRAM ARG...]\n"
    "       hvb-usbbus --root ROOT --control plug MODEL key=value... | unplug SERIAL | list\n";

std::filesystem::path socketPath(const std::filesystem::path& root) { return root / "run/halvetor/usbbus.sock"; }

int control(const std::filesystem::path& root, const std::vector<std::string>& arguments) {
    iokit::SocketLink link(socketPath(root));
    std::string reply;
    IOReturn status = link.control(arguments, &reply);
    if (status == kIOReturnNotAttached) {
        std::cerr << "hvb-usbbus: no bus answers on " << socketPath(root) << "\n";
        return 3;
    }
    if (!reply.empty()) (status == kIOReturnSuccess ? std::cout : std::cerr) << reply << (reply.back() == '\n' ? "" : "\n");
    return status == kIOReturnSuccess ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::filesystem::path root;
    int64_t scsiDelay = 1000;
    std::vector<std::string> cameras;
    std::vector<std::string> program;
    std::vector<std::string> controlArguments;
    bool controlMode = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--root" && i + 1 < args.size()) root = args[++i];
        else if (a == "--scsi-delay" && i + 1 < args.size()) scsiDelay = std::atoll(args[++i].c_str());
        else if (a == "--camera" && i + 1 < args.size()) cameras.push_back(args[++i]);
        else if (a == "--control") {
            controlMode = true;
            controlArguments.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (a == "--") {
            program.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else {
            std::cerr << kUsage;
            return 64;
        }
    }
    if (root.empty() || !root.is_absolute()) {
        std::cerr << "hvb-usbbus: --root must name an absolute folder\n" << kUsage;
        return 64;
    }
    if (controlMode) return control(root, controlArguments);

    hvb::sim::restartUnderUmockdev();
    if (std::string reason = hvb::sim::EmulatedUsbBus::unavailableReason(); !reason.empty()) {
        std::cerr << "hvb-usbbus: " << reason << "\n";
        return 69;
    }
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&signals, s);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    foundation::setLogEchoEnabled(false);

    hvb::sim::EmulatedUsbBus bus(scsiDelay);
    hvb::driverhost::SimulationBackend backend(root, bus);
    for (const std::string& text : cameras) {
        std::string error;
        auto description = hvb::driverhost::parseCameraDescription(text, &error);
        std::string reply;
        if (!description || backend.plug(*description, &reply) != kIOReturnSuccess) {
            std::cerr << "hvb-usbbus: camera " << text << ": " << (description ? reply : error) << "\n";
            return 2;
        }
    }
    iokit::SocketServer::Options options;
    options.socketPath = socketPath(root);
    options.policy = iokit::AdmissionPolicy::forSystemRoot(root, "halvetor");
    options.control = [&backend](const std::vector<std::string>& arguments, std::string* reply) {
        return backend.control(arguments, reply);
    };
    iokit::SocketServer server(options);
    std::string error;
    if (!server.start(&error)) {
        std::cerr << "hvb-usbbus: " << error << "\n";
        return 1;
    }
    std::cout << "hvb-usbbus: UMOCKDEV_DIR=" << bus.directory() << "\n" << std::flush;

    pid_t child = -1;
    // A sanitizer runtime that this build put first in LD_PRELOAD reaches every program below,
    // also the shell tools the toolbox runs, which are not built with it: the leak check would
    // take their C library's allocations at exit for leaks and fail them.
    if (const char* preload = ::getenv("LD_PRELOAD"); preload && std::strstr(preload, "libasan")) {
        const char* options = ::getenv("ASAN_OPTIONS");
        std::string quiet = std::string(options && *options ? options : "") + (options && *options ? ":" : "") +
                            "detect_leaks=0";
        ::setenv("ASAN_OPTIONS", quiet.c_str(), 1);
    }
    if (!program.empty()) {
        child = ::fork();
        if (child == 0) {
            ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
            std::vector<char*> argv2;
            for (auto& w : program) argv2.push_back(w.data());
            argv2.push_back(nullptr);
            ::execvp(argv2[0], argv2.data());
            std::perror("hvb-usbbus: exec");
            ::_exit(127);
        }
    }
    int status = 0;
    for (;;) {
        int signal = 0;
        if (::sigwait(&signals, &signal) != 0) continue;
        if (signal == SIGCHLD) {
            int childStatus = 0;
            if (child > 0 && ::waitpid(child, &childStatus, WNOHANG) == child) {
                status = WIFEXITED(childStatus) ? WEXITSTATUS(childStatus) : 128 + WTERMSIG(childStatus);
                break;
            }
            continue;
        }
        if (child > 0) {
            ::kill(child, signal);
            continue;  // ends when the program does
        }
        break;
    }
    server.stop();
    backend.unplugAll();
    return status;
}
