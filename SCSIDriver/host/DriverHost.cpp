#include "SCSIDriver/host/DriverHost.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <memory>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "SCSIDriver/host/HostFolders.h"
#include "SCSIDriver/host/HostLog.h"
#include "SCSIDriver/host/SimulationBackend.h"
#include "platform/devices/linux/LinuxCameraBus.h"
#include "platform/devices/linux/UdevMonitor.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Log.h"
#include "platform/iokit/kern/IOLib.h"
#include "platform/iokit/kern/IOService.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketServer.h"

namespace hvb::driverhost {

namespace fs = std::filesystem;

namespace {

// Written beside its final name and renamed into place, never through a link.
bool writePidFile(const fs::path& path) {
    return !foundation::writeFileAtomically(path, std::to_string(::getpid()) + "\n", 0644);
}

// In the daemon, the parent waits for the child to say whether it serves.
int daemonize(int* readyFd) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child > 0) {
        ::close(pipeFds[1]);
        char status = 0;
        ssize_t n;
        do {
            n = ::read(pipeFds[0], &status, 1);
        } while (n < 0 && errno == EINTR);
        ::_exit(n == 1 && status == 1 ? 0 : 1);
    }
    ::close(pipeFds[0]);
    ::setsid();
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2) ::close(null);
    }
    if (::chdir("/") != 0) return -1;
    *readyFd = pipeFds[1];
    return 0;
}

void reportReady(int& readyFd, bool ready) {
    if (readyFd < 0) return;
    char status = ready ? 1 : 0;
    [[maybe_unused]] ssize_t n = ::write(readyFd, &status, 1);
    ::close(readyFd);
    readyFd = -1;
}

}  // namespace

int runHost(const HostOptions& options) {
    // The host's own folders, before it leaves its caller, so that a refusal reaches them.
    std::string why;
    if (!openHostFolder(options.socketPath().parent_path(), kRunFolderMode, &why)) {
        std::cerr << kHostName << ": refusing the run folder: " << why << "\n";
        return 1;
    }
    FolderHandle logFolder;
    if (options.logFile.empty()) {
        logFolder = openHostFolder(options.effectiveLogFile().parent_path(), kLogFolderMode, &why);
        if (!logFolder) {
            std::cerr << kHostName << ": refusing the log folder: " << why << "\n";
            return 1;
        }
    }
    int readyFd = -1;
    if (options.daemon && daemonize(&readyFd) != 0) {
        std::cerr << kHostName << ": cannot start in the background\n";
        return 1;
    }
    // Signals are taken by sigwait on this thread only; every thread started later inherits
    // the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    HostLog log(options.debug);
    const bool logOpen = logFolder ? log.open(std::move(logFolder), options.effectiveLogFile().filename().string())
                                   : log.open(options.effectiveLogFile());
    if (!logOpen) {
        std::cerr << kHostName << ": cannot write the log " << options.effectiveLogFile() << "\n";
    }
    if (options.daemon) foundation::setLogEchoEnabled(false);
    if (!options.debug) {
        foundation::setLogEchoFilter([](foundation::LogChannel, const std::string& line) { return !isCallTrace(line); });
    }
    const Backend backend = options.effectiveBackend();
    IOLog("%s: starting on root %s with the %s backend\n", kHostName, options.root.c_str(),
          backend == Backend::linux ? "linux" : "simulation");

    if (!loadHVBSCSIDriverBundle()) {
        IOLog("%s: the driver bundle could not be loaded\n", kHostName);
        reportReady(readyFd, false);
        return 1;
    }

    std::unique_ptr<SimulationBackend> simulation;
    std::unique_ptr<devices::LinuxCameraBus> linuxBus;
    std::unique_ptr<devices::UdevMonitor> udev;
    if (backend == Backend::simulation) {
        simulation = std::make_unique<SimulationBackend>(options.root);
    }

    // Cameras present at start are in the registry before the first peer can ask.
    if (simulation) {
        for (const CameraDescription& description : options.cameras) {
            std::string reply;
            if (simulation->plug(description, &reply) != kIOReturnSuccess) {
                IOLog("%s: camera %s: %s\n", kHostName, description.model.c_str(), reply.c_str());
                reportReady(readyFd, false);
                return 2;
            }
        }
    } else {
        linuxBus = std::make_unique<devices::LinuxCameraBus>();
        udev = std::make_unique<devices::UdevMonitor>(*linuxBus);
        if (!udev->start()) IOLog("%s: %s\n", kHostName, udev->error().c_str());
        else if (!udev->error().empty()) IOLog("%s: %s\n", kHostName, udev->error().c_str());
    }

    iokit::SocketServer::Options serverOptions;
    serverOptions.socketPath = options.socketPath();
    serverOptions.policy = iokit::AdmissionPolicy::forSystemRoot(options.root, options.group);
    SimulationBackend* sim = simulation.get();
    iokit::SocketServer* serving = nullptr;  // set before the first peer can ask
    serverOptions.control = [sim, &serving](const std::vector<std::string>& arguments, std::string* reply) {
        if (arguments.size() == 1 && arguments[0] == "stats") {
            const auto stats = serving->stats();
            if (reply) {
                *reply = "peers " + std::to_string(stats.peers) + "\nqueued " + std::to_string(stats.queuedBytes) +
                         "\nhandles " + std::to_string(stats.handles) + "\n";
                // What the kernel layer and the cameras keep on record: bounded by what is
                // plugged in and watched now, however long the host runs.
                *reply += "notified " + std::to_string(IOService::notifiedServiceCount()) + "\n";
                if (sim) *reply += "recorded " + std::to_string(sim->recordedBlockCount()) + "\n";
            }
            return kIOReturnSuccess;
        }
        if (!sim) {
            if (reply) *reply = "this host drives real cameras; nothing to plug";
            return kIOReturnUnsupported;
        }
        const std::string verb = foundation::escapedForLog(arguments.empty() ? "" : arguments[0]);
        IOLog("%s: control request \"%s\"\n", kHostName, verb.c_str());
        return sim->control(arguments, reply);
    };
    iokit::SocketServer server(serverOptions);
    serving = &server;
    std::string error;
    if (!server.start(&error)) {
        IOLog("%s: %s\n", kHostName, error.c_str());
        reportReady(readyFd, false);
        return 1;
    }

    if (!writePidFile(options.pidFile())) IOLog("%s: cannot write %s\n", kHostName, options.pidFile().c_str());
    IOLog("%s: serving on %s\n", kHostName, options.socketPath().c_str());
    reportReady(readyFd, true);

    int signal = 0;
    while (::sigwait(&stopSignals, &signal) != 0) {
    }
    IOLog("%s: stopping (signal %d)\n", kHostName, signal);
    server.stop();
    if (udev) udev->stop();
    if (linuxBus) linuxBus->removeAll();
    if (simulation) simulation->unplugAll();
    std::error_code ec;
    fs::remove(options.pidFile(), ec);
    IOLog("%s: stopped\n", kHostName);
    return 0;
}

namespace {

// Says why the host turned this command away: 4; 0 when it did not.
int tellRefusal(const HostOptions& options, const iokit::SocketLink& link, IOReturn status) {
    if (status != iokit::kIOReturnNotPrivileged) return 0;
    const iokit::Refusal refusal = link.hostStatus().refusal;
    std::cerr << kHostName << ": the host on " << options.socketPath();
    switch (refusal) {
        case iokit::Refusal::notAdmitted: std::cerr << " does not admit this user\n"; break;
        case iokit::Refusal::socketNotPermitted: std::cerr << " may not be opened by this user\n"; break;
        default: std::cerr << " refused this command: " << iokit::describeRefusal(refusal) << "\n"; break;
    }
    return 4;
}

}  // namespace

int runControl(const HostOptions& options) {
    iokit::SocketLink link(options.socketPath());
    std::string reply;
    IOReturn status = link.control(options.controlArguments, &reply);
    if (int refused = tellRefusal(options, link, status)) return refused;
    if (status == kIOReturnNotAttached) {
        std::cerr << kHostName << ": no host answers on " << options.socketPath() << "\n";
        return 3;
    }
    if (!reply.empty()) (status == kIOReturnSuccess ? std::cout : std::cerr) << reply << (reply.back() == '\n' ? "" : "\n");
    return status == kIOReturnSuccess ? 0 : 1;
}

int runPing(const HostOptions& options) {
    iokit::SocketLink link(options.socketPath());
    const IOReturn status = link.ping();
    if (tellRefusal(options, link, status)) return 1;
    return status == kIOReturnSuccess ? 0 : 1;
}

}  // namespace hvb::driverhost
