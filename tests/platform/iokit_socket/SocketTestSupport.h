#pragma once
// Helpers shared by the socket link's tests: an event collector, a camera whose writes can be
// held, raw peers that speak (or mangle) the socket protocol, a bounded wait, and a thread that
// meets file modes as another user would.
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/iokit/link/Link.h"
#include "standins/camera/SimulatedCamera.h"

namespace sockettest {

// Polls `condition` until it holds or `seconds` pass (real time); these waits are for another
// process or thread to act, never pauses of the system under test.
inline bool eventually(const std::function<bool()>& condition, double seconds = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Runs `work` on a thread of its own that has given up overriding file modes, so that even root
// meets a socket file's mode as a user outside its group would. Capabilities are a thread's own
// (a fork would have to start the threads under test again). False, with `work` not run, when the
// thread kept either capability.
inline bool runWithoutOverridingFileModes(const std::function<void()>& work) {
    bool dropped = false;
    std::thread worker([&] {
        constexpr uint32_t kOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (::syscall(SYS_capget, &header, data) != 0) return;
        data[0].effective &= ~kOverrides;
        if (::syscall(SYS_capset, &header, data) != 0) return;
        __user_cap_data_struct now[2] = {};
        if (::syscall(SYS_capget, &header, now) != 0 || (now[0].effective & kOverrides) != 0) return;
        dropped = true;
        work();
    });
    worker.join();
    return dropped;
}

struct Events {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::pair<uint64_t, iokit::Handle>> list;

    iokit::Link::EventSink sink() {
        return [this](uint64_t id, iokit::Handle h) {
            std::lock_guard<std::mutex> guard(lock);
            list.emplace_back(id, h);
            arrived.notify_all();
        };
    }
    bool waitFor(size_t count, double seconds = 10) {
        std::unique_lock<std::mutex> guard(lock);
        return arrived.wait_for(guard, std::chrono::duration<double>(seconds), [&] { return list.size() >= count; });
    }
    std::vector<iokit::Handle> of(uint64_t id) {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<iokit::Handle> out;
        for (auto& [i, h] : list) {
            if (i == id) out.push_back(h);
        }
        return out;
    }
    size_t size() {
        std::lock_guard<std::mutex> guard(lock);
        return list.size();
    }
};

// A camera whose vendor writes wait at the door while it is held.
class GateCamera : public hvb::sim::SimulatedCamera {
public:
    using hvb::sim::SimulatedCamera::SimulatedCamera;
    void hold() {
        std::lock_guard<std::mutex> guard(lock_);
        held_ = true;
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock_);
        held_ = false;
        changed_.notify_all();
    }
    bool waitUntilEntered(double seconds = 10) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::duration<double>(seconds), [&] { return waiting_ > 0; });
    }
    SCSIExecuteResult execute(const SCSICommandDescriptorBlock& cdb, uint8_t direction, std::span<uint8_t> buffer,
                              uint32_t timeoutMs) override {
        if (cdb[10] == 0x02 && cdb[11] == 0x03) {
            std::unique_lock<std::mutex> guard(lock_);
            ++waiting_;
            changed_.notify_all();
            changed_.wait(guard, [&] { return !held_; });
            --waiting_;
        }
        return hvb::sim::SimulatedCamera::execute(cdb, direction, buffer, timeoutMs);
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool held_ = false;
    int waiting_ = 0;
};

// A bare SOCK_SEQPACKET peer; -1 when nothing answers.
inline int rawConnect(const std::filesystem::path& path) {
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The admitted byte of the host's greeting (header 16 bytes, version 4, admitted 1), or -1.
// Only system calls: safe in a child forked from a threaded test.
inline int readHelloAdmitted(int fd) {
    unsigned char buffer[64];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 21) return -1;
    return buffer[20];
}

// True when the peer closed the connection within `seconds` (everything sent before it is read
// and dropped).
inline bool closedByPeer(int fd, double seconds = 10) {
    timeval tv{static_cast<time_t>(seconds), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    unsigned char buffer[1024];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) return true;
        if (n < 0) return errno == ECONNRESET;
    }
}

}  // namespace sockettest
