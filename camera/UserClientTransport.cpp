#include "camera/UserClientTransport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"

namespace hvb {

std::atomic<bool> deviceAvailable{true};

namespace {

uint32_t readLE32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

unsigned hex(kern_return_t result) { return static_cast<unsigned>(result); }

// One command at a time per camera: a command and its wait hold the camera's gate, so two
// threads never interleave on the wire or collide on the driver's exclusive open. Keyed by
// registry entry ID, because every action looks its service handle up afresh.
class CommandGates {
public:
    std::shared_ptr<std::mutex> gateFor(io_service_t service) {
        uint64_t entryID = 0;
        if (IORegistryEntryGetRegistryEntryID(service, &entryID) != kIOReturnSuccess) return nullptr;
        std::lock_guard<std::mutex> guard(lock_);
        for (auto it = gates_.begin(); it != gates_.end();) {
            it = it->second.expired() && it->first != entryID ? gates_.erase(it) : std::next(it);
        }
        auto gate = gates_[entryID].lock();
        if (!gate) {
            gate = std::make_shared<std::mutex>();
            gates_[entryID] = gate;
        }
        return gate;
    }

private:
    std::mutex lock_;
    std::map<uint64_t, std::weak_ptr<std::mutex>> gates_;
};

CommandGates& gates() {
    static auto* g = new CommandGates;
    return *g;
}

struct GateHold {
    explicit GateHold(io_service_t service) : gate(gates().gateFor(service)) {
        if (gate) gate->lock();
    }
    ~GateHold() {
        if (gate) gate->unlock();
    }
    GateHold(const GateHold&) = delete;
    GateHold& operator=(const GateHold&) = delete;
    std::shared_ptr<std::mutex> gate;
};

std::atomic<MainThreadCommandCheck> gMainThreadCheck{kDefaultMainThreadCommandCheck};
std::atomic<bool> gMainThreadCommandLogged{false};

// `what` names the command ("write 0x36", "read 0x28", "status wait").
void checkThread(const char* what, int code) {
    if (!dispatch::mainEventLoopRunning() || !dispatch::isMainThread()) return;
    const MainThreadCommandCheck action = gMainThreadCheck.load();
    if (action == MainThreadCommandCheck::ignore) return;
    char message[200];
    if (code >= 0)
        std::snprintf(message, sizeof message,
                      "camera command %s 0x%02X issued on the main thread while the event loop runs", what, code);
    else
        std::snprintf(message, sizeof message, "camera command %s issued on the main thread while the event loop runs",
                      what);
    if (action == MainThreadCommandCheck::abort) {
        std::fprintf(stderr, "%s\n", message);
        std::abort();
    }
    if (!gMainThreadCommandLogged.exchange(true)) foundation::systemLog(message);
}

kern_return_t callOpenSelector(io_connect_t connection) {
    return IOConnectCallMethod(connection, kM37OpenUserClientMethod, nullptr, 0, nullptr, 0, nullptr, nullptr,
                               nullptr, nullptr);
}

// Results that mean the command never reached the camera.
bool nothingSent(kern_return_t result) {
    return result == kIOReturnNotOpen || result == kIOReturnNotAttached || result == kIOReturnExclusiveAccess ||
           result == kIOReturnBadArgument;
}

uint32_t pollStatus(io_connect_t connection, bool& available) {
    available = true;
    std::array<uint8_t, kUserClientStructureSize> reply{};
    const uint64_t scalars[3] = {0, kStatusReplyLength, 4};
    size_t replySize = reply.size();
    kern_return_t result = IOConnectCallMethod(connection, kM37ServiceStatusMethod, scalars, 3, nullptr, 0, nullptr,
                                               nullptr, reply.data(), &replySize);
    if (result != kIOReturnSuccess) {
        foundation::printf("kM37ServiceStatusMethod returned 0x%08x\n\n", hex(result));
        available = false;
        return 0;
    }
    uint32_t word0 = readLE32(reply.data());
    uint32_t word2 = readLE32(reply.data() + 8);
    return word0 == kStatusReplyLength ? word2 : 0;
}

CommandOutcome waitReady(io_service_t service) {
    io_connect_t connection = IO_OBJECT_NULL;
    kern_return_t result = IOServiceOpen(service, mach_task_self(), 0, &connection);
    if (result != kIOReturnSuccess) {
        foundation::printf("IOServiceOpen returned 0x%08x\n\n", hex(result));
        return CommandOutcome::failed;
    }
    result = callOpenSelector(connection);
    if (result != kIOReturnSuccess) {
        foundation::printf("UserClientOpenResult returned 0x%08x\n\n", hex(result));
        IOServiceClose(connection);
        return CommandOutcome::failed;
    }
    int counter = kStatusPollCount;
    bool available = true;
    for (;;) {
        uint32_t status = pollStatus(connection, available);
        deviceAvailable.store(available);
        if (status != 0 || !available) break;
        dispatch::pause(kStatusPollPauseMs);
        if (!(counter-- > 0)) {
            foundation::printf("Command is still running 1 min!\n");
            IOServiceClose(connection);
            return CommandOutcome::failed;
        }
    }
    if (!available) foundation::printf("Device is not available\n");
    IOServiceClose(connection);
    return available ? CommandOutcome::completed : CommandOutcome::deviceGone;
}

// Opens a connection and the user client on it; 0 (after printing why) when either fails.
io_connect_t openUserClient(io_service_t service) {
    io_connect_t connection = IO_OBJECT_NULL;
    kern_return_t result = IOServiceOpen(service, mach_task_self(), 0, &connection);
    if (result != kIOReturnSuccess) {
        foundation::printf("IOServiceOpen returned 0x%08x\n\n", hex(result));
        return IO_OBJECT_NULL;
    }
    result = callOpenSelector(connection);
    if (result != kIOReturnSuccess) {
        foundation::printf("UserClientOpenResult returned 0x%08x\n\n", hex(result));
        IOServiceClose(connection);
        return IO_OBJECT_NULL;
    }
    return connection;
}

}  // namespace

CommandOutcome userClientWriteOutcome(io_service_t service, uint8_t cmd, const uint8_t* data, uint32_t len) {
    checkThread("write", cmd);
    if (len > kUserClientStructureSize || (len && !data)) return CommandOutcome::failed;
    GateHold hold(service);
    io_connect_t connection = openUserClient(service);
    if (!connection) return CommandOutcome::failed;
    std::array<uint8_t, kUserClientStructureSize> payload{};
    if (len) std::memcpy(payload.data(), data, len);
    const uint64_t scalars[2] = {cmd, len};
    kern_return_t result = IOConnectCallMethod(connection, kM37WriteMethod, scalars, 2, payload.data(),
                                               payload.size(), nullptr, nullptr, nullptr, nullptr);
    IOServiceClose(connection);
    if (nothingSent(result) || result == kIOReturnNotPermitted) {
        foundation::printf("kM37WriteMethod returned 0x%08x\n\n", hex(result));
        return result == kIOReturnNotPermitted ? CommandOutcome::refused : CommandOutcome::failed;
    }
    // Anything else reached the camera (a reboot command may be cut short): the wait decides.
    return waitReady(service);
}

bool userClientWrite(io_service_t service, uint8_t cmd, const uint8_t* data, uint32_t len) {
    return carried(userClientWriteOutcome(service, cmd, data, len));
}

CommandOutcome userClientReadOutcome(io_service_t service, uint8_t cmd, uint8_t* out, uint32_t len) {
    checkThread("read", cmd);
    // An empty read is valid and needs no buffer, like an empty write. A length past the
    // structure is refused before the caller's buffer is touched: it may be shorter than `len`.
    if (len > kUserClientStructureSize || (len && !out)) return CommandOutcome::failed;
    if (len) std::memset(out, 0, len);
    GateHold hold(service);
    io_connect_t connection = openUserClient(service);
    if (!connection) return CommandOutcome::failed;
    std::array<uint8_t, kUserClientStructureSize> reply{};
    const uint64_t phase1[3] = {cmd, len, 1};
    size_t replySize = reply.size();
    // Phase 1 only prepares the reply; its data is never used.
    IOConnectCallMethod(connection, kM37ReadMethod, phase1, 3, nullptr, 0, nullptr, nullptr, reply.data(), &replySize);
    dispatch::pause(kReadPhasePauseMs);
    reply.fill(0);
    const uint64_t phase2[3] = {cmd, len, 2};
    replySize = reply.size();
    kern_return_t result = IOConnectCallMethod(connection, kM37ReadMethod, phase2, 3, nullptr, 0, nullptr, nullptr,
                                               reply.data(), &replySize);
    IOServiceClose(connection);
    if (result != kIOReturnSuccess) {
        foundation::printf("kM37ReadMethod returned 0x%08x\n\n", hex(result));
        return CommandOutcome::failed;
    }
    if (len) std::memcpy(out, reply.data(), len);
    return waitReady(service);
}

bool userClientRead(io_service_t service, uint8_t cmd, uint8_t* out, uint32_t len) {
    return carried(userClientReadOutcome(service, cmd, out, len));
}

uint32_t userClientServiceStatus(io_connect_t connection) {
    deviceAvailable.store(true);
    bool available = true;
    uint32_t status = pollStatus(connection, available);
    deviceAvailable.store(available);
    return status;
}

CommandOutcome userClientWaitReadyOutcome(io_service_t service) {
    checkThread("status wait", -1);
    GateHold hold(service);
    return waitReady(service);
}

bool userClientWaitReady(io_service_t service) {
    return carried(userClientWaitReadyOutcome(service));
}

void setMainThreadCommandCheck(MainThreadCommandCheck action) {
    gMainThreadCheck.store(action);
    gMainThreadCommandLogged.store(false);
}

io_service_t findDriverService(int index) {
    io_iterator_t iterator = IO_OBJECT_NULL;
    kern_return_t result =
        IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching(kDriverServiceClassName), &iterator);
    if (result != kIOReturnSuccess) {
        foundation::printf("IOServiceGetMatchingServices returned 0x%08x\n\n", hex(result));
        return IO_OBJECT_NULL;
    }
    io_service_t found = IO_OBJECT_NULL;
    int position = 0;
    while (io_service_t service = IOIteratorNext(iterator)) {
        if (position++ == index) found = service;
        else IOObjectRelease(service);
    }
    IOObjectRelease(iterator);
    return found;
}

}  // namespace hvb
