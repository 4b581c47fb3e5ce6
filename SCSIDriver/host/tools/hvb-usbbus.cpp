// hvb-usbbus: simulated cameras on the emulated kernel USB bus of a root, until it is stopped;
// cameras are plugged and unplugged through its control socket meanwhile. Only what drives the
// cameras runs on the bus (the driver host on its Linux backend, started with --run): the rest
// of the system, the toolbox included, keeps the machine's own /sys and /dev.
//
//   hvb-usbbus --root ROOT [--scsi-delay MS] [--camera DESC]...
//   hvb-usbbus --root ROOT --run PROGRAM ARG...
//   hvb-usbbus --root ROOT --control plug MODEL key=value... | unplug SERIAL | list
#include <signal.h>
#include <unistd.h>

#include <cerrno>
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
    "usage: hvb-usbbus --root ROOT [--scsi-delay MS] [--camera DESC]...\n"
    "       hvb-usbbus --root ROOT --run PROGRAM ARG...\n"
    "       hvb-usbbus --root ROOT --control plug MODEL key=value... | unplug SERIAL | list\n";
// The control word that asks the bus for its testbed folder.
constexpr const char* kDirectoryWord = "directory";

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

// PROGRAM in place of this process, on the bus that serves ROOT: its testbed folder and
// umockdev's preload library, after the sanitizer runtime this program carries (PROGRAM is one
// of this build's, the driver host).
int runOnBus(const std::filesystem::path& root, std::vector<std::string> program) {
    std::string directory;
    {
        iokit::SocketLink link(socketPath(root));  // closed before the program replaces this one
        if (link.control({kDirectoryWord}, &directory) != kIOReturnSuccess) directory.clear();
    }
    if (directory.empty()) {
        std::cerr << "hvb-usbbus: no bus answers on " << socketPath(root) << "\n";
        return 3;
    }
    while (!directory.empty() && directory.back() == '\n') directory.pop_back();
    auto library = hvb::sim::umockdevPreloadLibrary();
    if (!library) {
        std::cerr << "hvb-usbbus: umockdev's preload library (libumockdev-preload.so) is not installed\n";
        return 69;
    }
    ::setenv("UMOCKDEV_DIR", directory.c_str(), 1);
    ::setenv("LD_PRELOAD", hvb::sim::umockdevPreloadList(*library).c_str(), 1);
    std::vector<char*> argv;
    for (auto& word : program) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::cerr << "hvb-usbbus: cannot run " << program[0] << ": " << std::strerror(errno) << "\n";
    return 126;
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
    bool runMode = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--root" && i + 1 < args.size()) root = args[++i];
        else if (a == "--scsi-delay" && i + 1 < args.size()) scsiDelay = std::atoll(args[++i].c_str());
        else if (a == "--camera" && i + 1 < args.size()) cameras.push_back(args[++i]);
        else if (a == "--control") {
            controlMode = true;
            controlArguments.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (a == "--run" && i + 1 < args.size()) {
            runMode = true;
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
    if (runMode) return runOnBus(root, program);

    hvb::sim::restartUnderUmockdev();
    if (std::string reason = hvb::sim::EmulatedUsbBus::unavailableReason(); !reason.empty()) {
        std::cerr << "hvb-usbbus: " << reason << "\n";
        return 69;
    }
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
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
    options.control = [&backend, &bus](const std::vector<std::string>& arguments, std::string* reply) -> IOReturn {
        if (arguments.size() == 1 && arguments[0] == kDirectoryWord) {
            *reply = bus.directory();
            return kIOReturnSuccess;
        }
        return backend.control(arguments, reply);
    };
    iokit::SocketServer server(options);
    std::string error;
    if (!server.start(&error)) {
        std::cerr << "hvb-usbbus: " << error << "\n";
        return 1;
    }
    std::cout << "hvb-usbbus: UMOCKDEV_DIR=" << bus.directory() << "\n" << std::flush;

    // Up until it is stopped.
    for (int signal = 0; ::sigwait(&signals, &signal) != 0;) {
    }
    server.stop();
    backend.unplugAll();
    return 0;
}
