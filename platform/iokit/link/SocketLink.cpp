#include "platform/iokit/link/SocketLink.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Paths.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/LinkSupport.h"
#include "platform/iokit/link/SocketServer.h"
#include "platform/iokit/link/SocketWire.h"

namespace iokit {

namespace fs = std::filesystem;
using wire::Type;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kHelloTimeoutMs = 5000;
constexpr int64_t kCallTimeoutMs = 120000;  // four times a camera command's own time-out
// While calls run their callers read the socket, and the background reader naps: first for
// kReaderRest, then twice as long each time it finds them still at it, up to kReaderNapMax. A
// run of calls thus neither wakes it nor is slowed by it, and a notification that comes after
// the calls waits at most that long. They bound a latency and pause nothing, so real time.
constexpr auto kReaderRest = std::chrono::milliseconds(5);
constexpr auto kReaderNapMax = std::chrono::milliseconds(50);
constexpr Handle kLastLocalHandle = 0x7FFFFFFFu;  // the user side owns the upper half
constexpr int64_t kRefusedRetryMs = 2000;

bool validMatching(const MatchingDictionary& m) {
    auto valueFits = [](const Value& v) {
        if (auto* s = std::get_if<std::string>(&v)) return s->size() <= wire::kMaxValueLength;
        if (auto* d = std::get_if<std::vector<uint8_t>>(&v)) return d->size() <= wire::kMaxValueLength;
        if (auto* n = std::get_if<Number>(&v)) return n->bits >= 1 && n->bits <= 64;
        return true;
    };
    if (m.providerClass.size() > wire::kMaxNameLength || m.nameMatch.size() > wire::kMaxNameLength ||
        m.propertyMatch.size() > wire::kMaxPropertyMatches) {
        return false;
    }
    for (auto& [k, v] : m.propertyMatch) {
        if (k.size() > wire::kMaxNameLength || !valueFits(v)) return false;
    }
    return true;
}

// This thread's wake-up, set by another thread that took a packet this one waits for; -1 when
// none could be made. One per thread serves every link: a thread waits for one thing at a time.
int threadWakeFd() {
    struct Wake {
        int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        ~Wake() {
            if (fd >= 0) ::close(fd);
        }
    };
    thread_local Wake wake;
    if (wake.fd < 0) wake.fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return wake.fd;
}

// Sets an event descriptor.
void kick(int fd) {
    if (fd < 0) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

// Wakes the thread that owns `fd`, unless that is this one (it is awake).
void wakeOther(int fd) {
    if (fd != threadWakeFd()) kick(fd);
}

bool sendPacket(int fd, const std::vector<uint8_t>& message) {
    // One packet per send: threads may send on the same socket at once.
    ssize_t n;
    do {
        n = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(message.size());
}

}  // namespace

struct SocketLink::Impl {
    fs::path path;

    // One session's socket. Its descriptor stays open while any thread may still wait on it.
    struct Channel {
        Channel(int s, uint64_t id) : fd(s), session(id), buffer(wire::kMaxMessageSize + 1) {}
        ~Channel() { ::close(fd); }
        Channel(const Channel&) = delete;
        Channel& operator=(const Channel&) = delete;
        const int fd;
        const uint64_t session;
        std::mutex receiving;         // one packet taken and handed on at a time, in order
        std::vector<uint8_t> buffer;  // under `receiving`
    };

    mutable std::mutex lock;
    std::condition_variable changed;  // sessions ended, events delivered
    std::shared_ptr<Channel> channel;  // the current session's, or the last one's
    uint64_t session = 0;
    bool connected = false;
    bool stopping = false;
    std::mutex connectLock;  // one connect at a time; notification changes go with it
    uint32_t nextRequest = 1;

    // A call waiting for its reply; it lives on the caller's stack.
    struct Pending {
        uint64_t session = 0;
        int wakeFd = -1;  // the caller's
        bool done = false;
        bool failed = false;
        std::vector<uint8_t> packet;
        uint64_t eventMark = 0;
    };
    std::map<uint32_t, Pending*> pending;
    // Closes sent in this session and not yet answered (nobody waits for their replies), and the
    // calls waiting until there are none.
    std::set<uint32_t> closes;
    std::vector<int> closeWaiters;

    // Threads waiting for a reply read the socket themselves; the background reader leaves it
    // to them meanwhile and reads it while none does, for the notifications. A caller moves it
    // off the socket as its call starts, so that the reply wakes the caller alone; otherwise
    // callers only count themselves (no lock or wake-up shared with it).
    std::atomic<int> callersReading{0};
    std::atomic<Clock::rep> lastCallEnd{0};
    std::atomic<bool> readerStop{false};
    std::condition_variable readerWake;  // a session started, or the link stops
    std::thread reader;
    int readerWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ~Impl() {
        if (readerWakeFd >= 0) ::close(readerWakeFd);
    }
    bool readerPolling = false;  // on the socket

    struct Object {
        uint64_t session = 0;  // 0 with a snapshot: a service of a host that has gone
        Handle remote = 0;
        uint32_t references = 1;
        std::shared_ptr<wire::EntrySnapshot> snapshot;
        std::optional<uint64_t> entryID;  // once known: it never changes
    };
    std::map<Handle, Object> objects;
    struct Connection {
        uint64_t session = 0;
        Handle remote = 0;
    };
    std::map<Handle, Connection> connections;
    Handle nextLocal = 1;

    struct Notification {
        NotificationKind kind;
        MatchingDictionary matching;
    };
    std::map<uint64_t, Notification> notifications;
    std::map<uint64_t, std::map<uint64_t, std::shared_ptr<wire::EntrySnapshot>>> watches;

    EventSink sink;
    std::deque<std::pair<uint64_t, Handle>> events;
    uint64_t eventsQueued = 0;
    uint64_t eventsDelivered = 0;
    std::condition_variable eventReady;
    std::thread eventThread;
    std::thread::id eventThreadID;

    // The status as last told; changes are told one at a time, in order.
    mutable std::mutex statusLock;
    HostStatus status;
    std::atomic<uint64_t> losses{0};  // sessions that ended with the host gone
    std::mutex observerLock;
    std::function<void(HostStatus)> observer;

    std::thread reconnectThread;
    std::condition_variable reconnectWake;
    int64_t reconnectMs = 500;
    int64_t callTimeoutMs = kCallTimeoutMs;

    // ---- handles (lock held) ----
    Handle newLocal() {
        for (;;) {
            Handle h = nextLocal++;
            if (nextLocal > kLastLocalHandle) nextLocal = 1;
            if (!objects.count(h) && !connections.count(h)) return h;
        }
    }
    Handle addObject(uint64_t objectSession, Handle remote, std::shared_ptr<wire::EntrySnapshot> snapshot = nullptr,
                     std::optional<uint64_t> entryID = std::nullopt) {
        Handle h = newLocal();
        objects[h] = Object{objectSession, remote, 1, std::move(snapshot), entryID};
        return h;
    }
    bool live(uint64_t objectSession) const { return connected && objectSession == session; }
    uint32_t newRequestID() {
        for (;;) {
            uint32_t id = nextRequest++;
            if (nextRequest == 0) nextRequest = 1;
            if (!pending.count(id) && !closes.count(id)) return id;
        }
    }

    // ---- status ----
    // Records a new status and tells it. Whether a session runs is read afresh, so that a loss
    // told by one thread is not covered by a late word of the connect that came before it.
    void setStatus(HostStatus next) {
        std::lock_guard<std::mutex> serial(observerLock);
        {
            std::lock_guard<std::mutex> guard(lock);
            if (stopping) return;
            const bool isConnected = next.state == HostStatus::State::connected;
            if (isConnected != connected) return;
        }
        {
            std::lock_guard<std::mutex> guard(statusLock);
            if (status == next) return;
            status = next;
        }
        if (observer) observer(next);
    }

    // ---- session ----
    IOReturn connect() {
        std::lock_guard<std::mutex> serial(connectLock);
        return connectLocked();
    }

    IOReturn connectLocked() {
        Refusal refusal = Refusal::none;
        const IOReturn result = tryConnect(&refusal);
        if (result == kIOReturnSuccess) setStatus({HostStatus::State::connected, Refusal::none});
        else if (result == kIOReturnNotPrivileged) setStatus({HostStatus::State::refused, refusal});
        else setStatus({HostStatus::State::absent, Refusal::none});
        return result;
    }

    static Refusal refusalOf(uint8_t admission) {
        switch (static_cast<wire::Admission>(admission)) {
            case wire::Admission::processFull: return Refusal::processFull;
            case wire::Admission::userShareFull: return Refusal::userShareFull;
            case wire::Admission::tableFull: return Refusal::tableFull;
            default: return Refusal::notAdmitted;
        }
    }

    IOReturn tryConnect(Refusal* refusal) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (connected) return kIOReturnSuccess;
            if (stopping) return kIOReturnNotAttached;
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.native().empty() || path.native().size() >= sizeof address.sun_path) return kIOReturnNotAttached;
        std::memcpy(address.sun_path, path.c_str(), path.native().size());
        int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (s < 0) return kIOReturnNotAttached;
        if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            ::close(s);
            // The file is there and a host may well listen on it: this user may not open it
            // (not in its group), which no start of the host mends.
            if (error == EACCES || error == EPERM) {
                *refusal = Refusal::socketNotPermitted;
                return kIOReturnNotPrivileged;
            }
            return kIOReturnNotAttached;
        }
        // The host greets every peer at once, admitted or not.
        pollfd pfd{s, POLLIN, 0};
        // A safeguard against a wedged host, not a pause of the system: shrunk time in tests
        // never takes it below a second.
        auto wait = std::max<std::chrono::milliseconds>(
            std::chrono::duration_cast<std::chrono::milliseconds>(dispatch::scaled(dispatch::Millis(kHelloTimeoutMs))),
            std::chrono::seconds(1));
        int rc;
        do {
            rc = ::poll(&pfd, 1, static_cast<int>(std::max<int64_t>(1, wait.count())));
        } while (rc < 0 && errno == EINTR);
        std::vector<uint8_t> buffer(256);
        ssize_t n = rc > 0 ? ::recv(s, buffer.data(), buffer.size(), 0) : -1;
        if (n <= 0) {
            ::close(s);
            return kIOReturnNotAttached;
        }
        wire::Reader hello(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
        uint32_t version = hello.u32();
        uint8_t admitted = hello.u8();
        hello.u32();  // the host's process
        if (!hello.finish() || hello.header().type != static_cast<uint16_t>(Type::hello) ||
            version != wire::kProtocolVersion) {
            ::close(s);
            return kIOReturnNotAttached;
        }
        if (admitted != static_cast<uint8_t>(wire::Admission::admitted)) {
            ::close(s);
            *refusal = refusalOf(admitted);
            return kIOReturnNotPrivileged;
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            if (stopping) {
                ::close(s);
                return kIOReturnNotAttached;
            }
            channel = std::make_shared<Channel>(s, ++session);
            connected = true;
            readerWake.notify_all();
        }
        setStatus({HostStatus::State::connected, Refusal::none});
        // The host knows nothing of this peer yet: register every notification anew. The
        // services present arrive as events, as they would for a fresh registration.
        std::map<uint64_t, Notification> all;
        {
            std::lock_guard<std::mutex> guard(lock);
            all = notifications;
        }
        for (auto& [id, notification] : all) sendAddNotification(id, notification.kind, notification.matching);
        return kIOReturnSuccess;
    }

    void hostLost(uint64_t lostSession) {
        if (!endSession(lostSession)) return;
        ++losses;
        setStatus({HostStatus::State::absent, Refusal::none});
    }

    // False when the session had ended already.
    bool endSession(uint64_t lostSession) {
        std::lock_guard<std::mutex> guard(lock);
        if (lostSession != session || !connected) return false;
        connected = false;
        // Every thread waiting on the socket wakes to its end and finds its call failed.
        ::shutdown(channel->fd, SHUT_RDWR);
        for (auto& [id, p] : pending) {
            if (p->session == lostSession) p->failed = true;
        }
        closes.clear();
        // The host's services are gone: each that a terminate notification covered is
        // reported terminated, readable from its snapshot.
        for (auto& [notificationID, entries] : watches) {
            if (!notifications.count(notificationID)) continue;
            for (auto& [entryID, snapshot] : entries) {
                events.emplace_back(notificationID, addObject(0, 0, snapshot, snapshot->entryID));
                ++eventsQueued;
            }
        }
        watches.clear();
        changed.notify_all();
        eventReady.notify_all();
        reconnectWake.notify_all();
        readerWake.notify_all();
        return true;
    }

    // Takes the next packet from the host, when one is there, and hands it on: a reply to the
    // caller waiting for it, a notification to the event queue. One at a time and in order, so
    // the notifications sent before a reply are queued before the reply is seen.
    void take(Channel& ch, bool background) {
        std::lock_guard<std::mutex> receiving(ch.receiving);
        if (background && callersReading.load() > 0) return;
        bool truncated = false;
        ssize_t n = receivePacket(ch.fd, ch.buffer, &truncated, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0 || truncated ||
            !handOn(ch.session, std::span<const uint8_t>(ch.buffer.data(), static_cast<size_t>(n)))) {
            hostLost(ch.session);
        }
    }

    // False for a packet the host should never send.
    bool handOn(uint64_t packetSession, std::span<const uint8_t> packet) {
        wire::Reader r(packet);
        if (!r.ok()) return false;
        if (r.isReply()) {
            std::lock_guard<std::mutex> guard(lock);
            if (!live(packetSession)) return true;  // its calls have failed already
            const uint32_t id = r.header().requestID;
            if (closes.erase(id)) {
                if (closes.empty()) {
                    for (int fd : closeWaiters) wakeOther(fd);
                }
                return true;
            }
            // None waiting: the caller gave up (timed out) and the late reply is dropped.
            auto it = pending.find(id);
            if (it == pending.end()) return true;
            Pending& p = *it->second;
            if (p.done || p.failed) return true;
            p.packet.assign(packet.begin(), packet.end());
            p.done = true;
            p.eventMark = eventsQueued;
            wakeOther(p.wakeFd);
            return true;
        }
        const auto type = static_cast<Type>(r.header().type);
        if (type == Type::event) {
            uint64_t notificationID = r.u64();
            Handle remote = r.u32();
            uint64_t entryID = r.u64();
            if (!r.finish()) return false;
            std::lock_guard<std::mutex> guard(lock);
            if (!live(packetSession)) return true;  // its end has been reported already
            auto watched = watches.find(notificationID);
            if (watched != watches.end()) watched->second.erase(entryID);
            events.emplace_back(notificationID, addObject(packetSession, remote, nullptr, entryID));
            ++eventsQueued;
            eventReady.notify_one();
            return true;
        }
        if (type == Type::watch) {
            uint64_t notificationID = r.u64();
            auto snapshot = std::make_shared<wire::EntrySnapshot>(r.snapshot());
            if (!r.finish()) return false;
            std::lock_guard<std::mutex> guard(lock);
            if (live(packetSession) && notifications.count(notificationID)) {
                watches[notificationID][snapshot->entryID] = snapshot;
            }
            return true;
        }
        return false;  // nothing else comes unasked
    }

    // Waits until `settled` holds (checked under `lock`), the link stops or the deadline passes:
    // false for the deadline. Meanwhile the thread reads the socket itself, so that its reply
    // reaches it without a thread in between; a packet for another waiter is handed on to it.
    template <class Settled>
    bool await(Channel& ch, int wakeFd, Clock::time_point deadline, Settled settled) {
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (settled() || stopping) return true;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd fds[2] = {{ch.fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            int rc = ::poll(fds, 2, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
            if (rc < 0 && errno != EINTR) {
                hostLost(ch.session);  // cannot wait on this socket: end its calls
                continue;
            }
            if (rc <= 0) continue;
            if (fds[1].revents & POLLIN) {
                uint64_t count;
                [[maybe_unused]] ssize_t n = ::read(wakeFd, &count, sizeof count);
            }
            if (fds[0].revents) take(ch, false);
        }
    }

    // A thread starts reading for its call (lock held): the background reader is asked off the
    // socket when it waits there. The caller sets the returned descriptor.
    int startReading() {
        callersReading.fetch_add(1);
        if (!readerPolling) return -1;
        readerPolling = false;
        return readerWakeFd;
    }

    // A thread stops reading for its call; the background reader takes over a moment after
    // the last.
    void stopReading() {
        lastCallEnd.store(Clock::now().time_since_epoch().count());
        callersReading.fetch_sub(1);
    }

    // Sleeps for `span` or until the background reader's descriptor is set.
    void nap(Clock::duration span) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(span).count();
        timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd pfd{readerWakeFd, POLLIN, 0};
        if (::ppoll(&pfd, readerWakeFd >= 0 ? 1 : 0, &timeout, nullptr) > 0) {
            uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(readerWakeFd, &count, sizeof count);
        }
    }

    // Reads the socket while no caller does, a rest after the last call.
    void readLoop() {
        Clock::duration busyNap = kReaderRest;
        while (!readerStop.load()) {
            const Clock::time_point restEnd = Clock::time_point(Clock::duration(lastCallEnd.load())) + kReaderRest;
            if (callersReading.load() > 0) {
                nap(busyNap);
                busyNap = std::min<Clock::duration>(busyNap * 2, kReaderNapMax);
                continue;
            }
            busyNap = kReaderRest;
            if (const auto now = Clock::now(); now < restEnd) {
                nap(restEnd - now);
                continue;
            }
            std::shared_ptr<Channel> ch;
            {
                std::unique_lock<std::mutex> guard(lock);
                readerWake.wait(guard, [&] { return stopping || connected; });
                if (stopping) return;
                ch = channel;
                readerPolling = readerWakeFd >= 0;
            }
            pollfd fds[2] = {{ch->fd, POLLIN, 0}, {readerWakeFd, POLLIN, 0}};
            int rc = ::poll(fds, readerWakeFd >= 0 ? 2 : 1, -1);
            if (rc > 0 && (fds[1].revents & POLLIN)) {
                uint64_t count;
                [[maybe_unused]] ssize_t n = ::read(readerWakeFd, &count, sizeof count);
            }
            if (rc > 0 && fds[0].revents) take(*ch, true);
            else if (rc < 0 && errno != EINTR) hostLost(ch->session);
            std::lock_guard<std::mutex> guard(lock);
            readerPolling = false;
        }
    }

    void eventLoop() {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            eventReady.wait(guard, [&] { return stopping || !events.empty(); });
            if (events.empty()) return;  // stopping
            auto [notificationID, handle] = events.front();
            events.pop_front();
            EventSink current = stopping ? nullptr : sink;
            guard.unlock();
            if (current) current(notificationID, handle);
            else changeReference(handle, false);
            guard.lock();
            ++eventsDelivered;
            changed.notify_all();
        }
    }

    void reconnectLoop() {
        std::unique_lock<std::mutex> guard(lock);
        while (!stopping) {
            // A host that turned us away is asked less often: each try costs it a line in its log.
            bool refused;
            {
                std::lock_guard<std::mutex> statusGuard(statusLock);
                refused = status.state == HostStatus::State::refused;
            }
            const int64_t wait = refused ? std::max(reconnectMs, kRefusedRetryMs) : reconnectMs;
            reconnectWake.wait_for(guard, dispatch::scaled(dispatch::Millis(wait)));
            if (stopping) break;
            if (connected || notifications.empty()) continue;
            guard.unlock();
            connect();
            guard.lock();
        }
    }

    // ---- requests ----
    struct Outcome {
        IOReturn status = kIOReturnSuccess;  // of the exchange, not of the call
        bool noHost = false;
        std::vector<uint8_t> packet;
        uint64_t eventMark = 0;
        uint64_t session = 0;  // of the host that answered
    };

    static constexpr uint64_t kAnySession = 0;

    // Sends a request and waits for its reply. With `requiredSession`, only to that session's
    // host: a handle of a host that has gone must not reach the next one.
    template <class Body>
    Outcome request(Type type, const Body& body, bool autoConnect, uint64_t requiredSession = kAnySession) {
        Outcome outcome;
        if (autoConnect && !isConnected()) {
            IOReturn c = connect();
            if (c != kIOReturnSuccess) {
                outcome.status = c;
                outcome.noHost = c == kIOReturnNotAttached;
                return outcome;
            }
        }
        Pending p;
        int readerToKick = -1;
        p.wakeFd = threadWakeFd();
        if (p.wakeFd < 0) {
            outcome.status = kIOReturnNoResources;
            return outcome;
        }
        std::shared_ptr<Channel> ch;
        uint32_t id;
        Clock::time_point deadline;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!connected || (requiredSession != kAnySession && requiredSession != session)) {
                outcome.status = kIOReturnNotAttached;
                outcome.noHost = !connected;
                return outcome;
            }
            id = newRequestID();
            p.session = session;
            pending[id] = &p;
            ch = channel;
            readerToKick = startReading();
            // Real time: a safeguard against a wedged host, not a pause of the system.
            deadline = Clock::now() + std::chrono::milliseconds(callTimeoutMs);
        }
        wire::Writer w(type, id);
        body(w);
        if (!sendPacket(ch->fd, w.finish())) hostLost(p.session);
        kick(readerToKick);
        const bool ended = await(*ch, p.wakeFd, deadline, [&] { return p.done || p.failed; });
        std::lock_guard<std::mutex> guard(lock);
        pending.erase(id);
        stopReading();
        if (!ended) {
            outcome.status = kIOReturnTimeout;
        } else if (!p.done) {
            outcome.status = kIOReturnNotAttached;
        } else {
            outcome.packet = std::move(p.packet);
            outcome.eventMark = p.eventMark;
            outcome.session = p.session;
        }
        return outcome;
    }
    Outcome request(Type type, bool autoConnect) {
        return request(type, [](wire::Writer&) {}, autoConnect);
    }

    // Sends a close without waiting for its reply: the host closes every connection it handed
    // out, so the answer is known. Later calls wait for it (awaitCloses). False for no such
    // connection; a connection of a host that has gone is closed already.
    bool sendClose(Handle connection) {
        std::shared_ptr<Channel> ch;
        Handle remote = 0;
        uint32_t id;
        {
            std::lock_guard<std::mutex> guard(lock);
            auto it = connections.find(connection);
            if (it == connections.end()) return false;
            const bool isLive = live(it->second.session);
            remote = it->second.remote;
            connections.erase(it);
            if (!isLive) return true;
            id = newRequestID();
            closes.insert(id);
            ch = channel;
        }
        wire::Writer w(Type::closeConnection, id);
        w.u32(remote);
        if (!sendPacket(ch->fd, w.finish())) hostLost(ch->session);
        return true;
    }

    // Waits until the host has carried out every close sent before, so that a call never finds
    // its device still held by a connection this process has closed.
    IOReturn awaitCloses() {
        std::shared_ptr<Channel> ch;
        uint64_t current;
        Clock::time_point deadline;
        int readerToKick = -1;
        const int wakeFd = threadWakeFd();
        {
            std::lock_guard<std::mutex> guard(lock);
            if (closes.empty()) return kIOReturnSuccess;
            if (wakeFd < 0) return kIOReturnNoResources;
            ch = channel;
            current = session;
            closeWaiters.push_back(wakeFd);
            readerToKick = startReading();
            deadline = Clock::now() + std::chrono::milliseconds(callTimeoutMs);
        }
        kick(readerToKick);
        const bool ended = await(*ch, wakeFd, deadline, [&] { return closes.empty() || session != current; });
        std::lock_guard<std::mutex> guard(lock);
        closeWaiters.erase(std::find(closeWaiters.begin(), closeWaiters.end(), wakeFd));
        stopReading();
        return ended ? kIOReturnSuccess : kIOReturnTimeout;
    }

    // A reply the host should never send ends the session.
    void protocolError(const Outcome&) {
        std::lock_guard<std::mutex> guard(lock);
        if (connected) ::shutdown(channel->fd, SHUT_RDWR);
    }

    // Reads a reply: *status, then the rest through `read`. False, with the exchange's own
    // failure in *status, when it failed or the reply does not parse; the latter ends the
    // session and reads as kIOReturnNotAttached.
    template <class Read>
    bool readReply(const Outcome& o, IOReturn* status, Read read) {
        *status = o.status;
        if (o.status != kIOReturnSuccess) return false;
        wire::Reader r(o.packet);
        *status = static_cast<IOReturn>(r.u32());
        read(r);
        if (r.finish()) return true;
        protocolError(o);
        *status = kIOReturnNotAttached;
        return false;
    }
    bool readReply(const Outcome& o, IOReturn* status) {
        return readReply(o, status, [](wire::Reader&) {});
    }

    bool isConnected() const {
        std::lock_guard<std::mutex> guard(lock);
        return connected;
    }

    IOReturn sendAddNotification(uint64_t id, NotificationKind kind, const MatchingDictionary& matching) {
        Outcome o = request(
            Type::addNotification,
            [&](wire::Writer& w) {
                w.u64(id);
                w.u8(static_cast<uint8_t>(kind));
                w.matching(matching);
            },
            false);
        IOReturn status;
        if (!readReply(o, &status)) return status;
        // The services present were sent before the reply; they reach the sink before this
        // returns, as the embedded link does.
        if (std::this_thread::get_id() != eventThreadID) {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [&] { return eventsDelivered >= o.eventMark || stopping; });
        }
        return status;
    }

    // Counts a reference to a local object up, or down (forgetting it at none), and tells the
    // host that holds it while that host lasts. False for no such object.
    bool changeReference(Handle handle, bool retain) {
        Handle remote = 0;
        uint64_t objectSession = 0;
        {
            std::lock_guard<std::mutex> guard(lock);
            auto it = objects.find(handle);
            if (it == objects.end()) return false;
            if (live(it->second.session)) {
                remote = it->second.remote;
                objectSession = it->second.session;
            }
            if (retain) ++it->second.references;
            else if (--it->second.references == 0) objects.erase(it);
        }
        if (remote) {
            request(retain ? Type::retainObject : Type::releaseObject, [&](wire::Writer& w) { w.u32(remote); },
                    false, objectSession);
        }
        return true;
    }

    // The host's handle for a local connection and its session: kIOReturnBadArgument for no
    // such connection, kIOReturnNotAttached when the host that held it has gone.
    IOReturn connectionRemote(Handle connection, Handle* remote, uint64_t* remoteSession) {
        std::lock_guard<std::mutex> guard(lock);
        auto it = connections.find(connection);
        if (it == connections.end()) return kIOReturnBadArgument;
        if (!live(it->second.session)) return kIOReturnNotAttached;
        *remote = it->second.remote;
        *remoteSession = it->second.session;
        return kIOReturnSuccess;
    }

    // What a local handle stands for: a live remote object (with its session), a snapshot, or
    // nothing usable; and its entry ID when known.
    struct Resolved {
        IOReturn status = kIOReturnSuccess;
        Handle remote = 0;
        uint64_t session = 0;
        std::shared_ptr<wire::EntrySnapshot> snapshot;
        std::optional<uint64_t> entryID;
    };
    Resolved resolve(Handle handle) {
        std::lock_guard<std::mutex> guard(lock);
        Resolved r;
        auto it = objects.find(handle);
        if (it == objects.end()) {
            r.status = kIOReturnBadArgument;
        } else if (it->second.snapshot) {
            r.snapshot = it->second.snapshot;
        } else if (!live(it->second.session)) {
            r.status = kIOReturnNotAttached;
        } else {
            r.remote = it->second.remote;
            r.session = it->second.session;
            r.entryID = it->second.entryID;
        }
        return r;
    }

    // The name or path of an entry, from its snapshot or its host.
    IOReturn entryText(Handle entry, std::string* out, Type type, std::string wire::EntrySnapshot::*field,
                       size_t maxLength) {
        if (!out) return kIOReturnBadArgument;
        auto target = resolve(entry);
        if (target.status != kIOReturnSuccess) return target.status;
        if (target.snapshot) {
            *out = (*target.snapshot).*field;
            return kIOReturnSuccess;
        }
        Outcome o = request(type, [&](wire::Writer& w) { w.u32(target.remote); }, false, target.session);
        IOReturn status;
        std::string text;
        if (readReply(o, &status, [&](wire::Reader& r) { text = r.text(maxLength); }) && status == kIOReturnSuccess) {
            *out = std::move(text);
        }
        return status;
    }

    // A property of an entry, from its snapshot or its host; getProperty is a search of the
    // entry alone (options 0).
    IOReturn entryProperty(Type type, Handle entry, const std::string& key, uint32_t options,
                           std::optional<Value>* value) {
        if (!value) return kIOReturnBadArgument;
        *value = std::nullopt;
        if (key.size() > wire::kMaxNameLength) return kIOReturnBadArgument;
        auto target = resolve(entry);
        if (target.status != kIOReturnSuccess) return target.status;
        if (target.snapshot) {
            *value = target.snapshot->search(key, options);
            return kIOReturnSuccess;
        }
        Outcome o = request(
            type,
            [&](wire::Writer& w) {
                w.u32(target.remote);
                w.text(key);
                if (type == Type::searchProperty) w.u32(options);
            },
            false, target.session);
        IOReturn status;
        std::optional<Value> result;
        if (readReply(o, &status, [&](wire::Reader& r) { result = r.optionalValue(); })) *value = std::move(result);
        return status;
    }
};

SocketLink::SocketLink(fs::path socketPath) : impl_(std::make_shared<Impl>()) {
    impl_->path = std::move(socketPath);
    Impl* impl = impl_.get();
    impl_->reader = std::thread([impl] { impl->readLoop(); });
    // The event thread holds the state: the link may be let go of from inside the sink, and
    // then the thread outlives it.
    impl_->eventThread = std::thread([self = impl_] { self->eventLoop(); });
    impl_->eventThreadID = impl_->eventThread.get_id();
    impl_->reconnectThread = std::thread([impl] { impl->reconnectLoop(); });
}

SocketLink::~SocketLink() {
    {
        // No channel is made from now on; waiters on the current one wake to its end.
        std::lock_guard<std::mutex> guard(impl_->lock);
        impl_->stopping = true;
        impl_->connected = false;
        if (impl_->channel) ::shutdown(impl_->channel->fd, SHUT_RDWR);
        impl_->changed.notify_all();
        impl_->eventReady.notify_all();
        impl_->reconnectWake.notify_all();
        impl_->readerWake.notify_all();
    }
    impl_->readerStop.store(true);
    kick(impl_->readerWakeFd);
    if (impl_->reconnectThread.joinable()) impl_->reconnectThread.join();
    if (impl_->reader.joinable()) impl_->reader.join();
    if (impl_->eventThread.joinable()) {
        // The last reference went inside the sink: the event loop cannot wait for itself; it
        // ends on its own once the sink returns.
        if (impl_->eventThread.get_id() == std::this_thread::get_id()) impl_->eventThread.detach();
        else impl_->eventThread.join();
    }
}

IOReturn SocketLink::connect() { return impl_->connect(); }
bool SocketLink::isConnected() const { return impl_->isConnected(); }
uint64_t SocketLink::hostLosses() const { return impl_->losses.load(); }

HostStatus SocketLink::hostStatus() const {
    std::lock_guard<std::mutex> guard(impl_->statusLock);
    return impl_->status;
}

void SocketLink::setHostStatusObserver(std::function<void(HostStatus)> observer) {
    // Under the lock every change is told with: no change can come between the status read here
    // and its delivery, so an older status never overtakes a newer one.
    std::lock_guard<std::mutex> serial(impl_->observerLock);
    impl_->observer = std::move(observer);
    if (!impl_->observer) return;
    HostStatus now;
    {
        std::lock_guard<std::mutex> guard(impl_->statusLock);
        now = impl_->status;
    }
    if (now.state != HostStatus::State::unknown) impl_->observer(now);
}

const char* describeRefusal(Refusal refusal) {
    switch (refusal) {
        case Refusal::none: return "admitted";
        case Refusal::notAdmitted: return "not admitted";
        case Refusal::processFull: return "too many connections from this process";
        case Refusal::userShareFull: return "too many peers of this user";
        case Refusal::tableFull: return "too many peers";
        case Refusal::socketNotPermitted: return "this user may not open its socket";
    }
    return "refused";
}

void SocketLink::setReconnectInterval(int64_t ms) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->reconnectMs = std::max<int64_t>(1, ms);
    impl_->reconnectWake.notify_all();
}

void SocketLink::setCallTimeout(int64_t ms) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->callTimeoutMs = std::max<int64_t>(1, ms);
}

IOReturn SocketLink::ping() {
    IOReturn status;
    impl_->readReply(impl_->request(Type::ping, true), &status);
    return status;
}

IOReturn SocketLink::control(const std::vector<std::string>& arguments, std::string* reply) {
    if (arguments.size() > wire::kMaxControlArguments) return kIOReturnBadArgument;
    for (auto& a : arguments) {
        if (a.size() > wire::kMaxNameLength) return kIOReturnBadArgument;
    }
    auto o = impl_->request(
        Type::control,
        [&](wire::Writer& w) {
            w.u32(static_cast<uint32_t>(arguments.size()));
            for (auto& a : arguments) w.text(a);
        },
        true);
    IOReturn status;
    std::string text;
    if (impl_->readReply(o, &status, [&](wire::Reader& r) { text = r.text(wire::kMaxValueLength); }) && reply) {
        *reply = std::move(text);
    }
    return status;
}

IOReturn SocketLink::getMatchingServices(const MatchingDictionary& matching, std::vector<Handle>* services) {
    if (!services) return kIOReturnBadArgument;
    services->clear();
    if (!validMatching(matching)) return kIOReturnBadArgument;
    auto o = impl_->request(Type::getMatchingServices, [&](wire::Writer& w) { w.matching(matching); }, true);
    // No host is running: no driver is loaded, so nothing matches.
    if (o.noHost) return kIOReturnSuccess;
    IOReturn status;
    std::vector<Handle> remote;
    if (!impl_->readReply(o, &status, [&](wire::Reader& r) {
            uint32_t count = r.u32();
            if (count > wire::kMaxHandles) r.fail();
            for (uint32_t i = 0; i < count && r.ok(); ++i) remote.push_back(r.u32());
        })) {
        return status;
    }
    std::lock_guard<std::mutex> guard(impl_->lock);
    for (Handle h : remote) services->push_back(impl_->addObject(o.session, h));
    return status;
}

IOReturn SocketLink::retainObject(Handle object) {
    return impl_->changeReference(object, true) ? kIOReturnSuccess : kIOReturnBadArgument;
}

IOReturn SocketLink::releaseObject(Handle object) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->objects.count(object)) return kIOReturnBadArgument;
    }
    impl_->changeReference(object, false);
    return kIOReturnSuccess;
}

IOReturn SocketLink::getProperty(Handle entry, const std::string& key, std::optional<Value>* value) {
    return impl_->entryProperty(Type::getProperty, entry, key, 0, value);
}

IOReturn SocketLink::searchProperty(Handle entry, const std::string& key, uint32_t options,
                                    std::optional<Value>* value) {
    return impl_->entryProperty(Type::searchProperty, entry, key, options, value);
}

IOReturn SocketLink::getName(Handle entry, std::string* name) {
    return impl_->entryText(entry, name, Type::getName, &wire::EntrySnapshot::name, wire::kMaxNameLength);
}

IOReturn SocketLink::getPath(Handle entry, std::string* path) {
    return impl_->entryText(entry, path, Type::getPath, &wire::EntrySnapshot::path, wire::kMaxPathLength);
}

IOReturn SocketLink::getEntryID(Handle entry, uint64_t* entryID) {
    if (!entryID) return kIOReturnBadArgument;
    auto target = impl_->resolve(entry);
    if (target.status != kIOReturnSuccess) return target.status;
    if (target.snapshot) {
        *entryID = target.snapshot->entryID;
        return kIOReturnSuccess;
    }
    if (target.entryID) {
        *entryID = *target.entryID;
        return kIOReturnSuccess;
    }
    auto o = impl_->request(Type::getEntryID, [&](wire::Writer& w) { w.u32(target.remote); }, false, target.session);
    IOReturn status;
    uint64_t id = 0;
    if (impl_->readReply(o, &status, [&](wire::Reader& r) { id = r.u64(); }) && status == kIOReturnSuccess) {
        *entryID = id;
        // An entry keeps its ID for life: later questions (every camera command asks) are
        // answered here.
        std::lock_guard<std::mutex> guard(impl_->lock);
        auto it = impl_->objects.find(entry);
        if (it != impl_->objects.end() && it->second.session == target.session && it->second.remote == target.remote) {
            it->second.entryID = id;
        }
    }
    return status;
}

IOReturn SocketLink::addNotification(uint64_t notificationID, NotificationKind kind,
                                     const MatchingDictionary& matching) {
    if (!validMatching(matching) || (notificationID & wire::kInternalNotificationBit)) return kIOReturnBadArgument;
    std::lock_guard<std::mutex> serial(impl_->connectLock);
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->notifications.count(notificationID)) return kIOReturnBadArgument;
        impl_->notifications[notificationID] = Impl::Notification{kind, matching};
    }
    IOReturn status;
    if (impl_->isConnected()) {
        status = impl_->sendAddNotification(notificationID, kind, matching);
        // A host that went away meanwhile gets it again when it is back.
        if (status == kIOReturnNotAttached) status = kIOReturnSuccess;
    } else {
        // Registers it (with the others) when a host answers or lets this peer in; none yet,
        // or a refusal (hostStatus says why), is no failure.
        status = impl_->connectLocked();
        if (status == kIOReturnNotAttached || status == kIOReturnNotPrivileged) status = kIOReturnSuccess;
    }
    if (status != kIOReturnSuccess) {
        std::lock_guard<std::mutex> guard(impl_->lock);
        impl_->notifications.erase(notificationID);
        impl_->watches.erase(notificationID);
    } else {
        impl_->reconnectWake.notify_all();
    }
    return status;
}

IOReturn SocketLink::removeNotification(uint64_t notificationID) {
    std::lock_guard<std::mutex> serial(impl_->connectLock);
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->notifications.erase(notificationID)) return kIOReturnBadArgument;
        impl_->watches.erase(notificationID);
    }
    impl_->request(Type::removeNotification, [&](wire::Writer& w) { w.u64(notificationID); }, false);
    return kIOReturnSuccess;
}

void SocketLink::setEventSink(EventSink sink) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->sink = std::move(sink);
}

IOReturn SocketLink::openConnection(Handle service, uint32_t type, Handle* connection) {
    if (!connection) return kIOReturnBadArgument;
    *connection = 0;
    auto target = impl_->resolve(service);
    if (target.status != kIOReturnSuccess) return target.status;
    if (target.snapshot) return kIOReturnNotAttached;
    auto o = impl_->request(
        Type::openConnection,
        [&](wire::Writer& w) {
            w.u32(target.remote);
            w.u32(type);
        },
        false, target.session);
    IOReturn status;
    Handle remote = 0;
    if (!impl_->readReply(o, &status, [&](wire::Reader& r) { remote = r.u32(); }) || status != kIOReturnSuccess) {
        return status;
    }
    std::lock_guard<std::mutex> guard(impl_->lock);
    Handle local = impl_->newLocal();
    impl_->connections[local] = Impl::Connection{target.session, remote};
    *connection = local;
    return kIOReturnSuccess;
}

IOReturn SocketLink::callMethod(Handle connection, uint32_t selector, const std::vector<uint64_t>& scalarInput,
                                const std::vector<uint8_t>& structureInput, uint32_t scalarOutputCount,
                                uint32_t structureOutputSize, CallResult* result) {
    if (!beginCall(result, scalarInput.size(), structureInput.size(), scalarOutputCount, structureOutputSize)) {
        return kIOReturnBadArgument;
    }
    Handle remote = 0;
    uint64_t session = 0;
    if (IOReturn found = impl_->connectionRemote(connection, &remote, &session); found != kIOReturnSuccess) return found;
    if (IOReturn closed = impl_->awaitCloses(); closed != kIOReturnSuccess) return closed;
    auto o = impl_->request(
        Type::callMethod,
        [&](wire::Writer& w) {
            w.u32(remote);
            w.u32(selector);
            w.u32(static_cast<uint32_t>(scalarInput.size()));
            for (uint64_t s : scalarInput) w.u64(s);
            w.bytes(structureInput);
            w.u32(scalarOutputCount);
            w.u32(structureOutputSize);
        },
        false, session);
    IOReturn status;
    std::vector<uint64_t> scalars;
    std::vector<uint8_t> bytes;
    if (!impl_->readReply(o, &status, [&](wire::Reader& r) {
            uint32_t count = r.u32();
            if (count > scalarOutputCount) r.fail();
            for (uint32_t i = 0; i < count && r.ok(); ++i) scalars.push_back(r.u64());
            bytes = r.bytes(structureOutputSize);
        })) {
        return status;
    }
    result->scalarOutput = std::move(scalars);
    result->structureOutput = std::move(bytes);
    return status;
}

IOReturn SocketLink::closeConnection(Handle connection) {
    return impl_->sendClose(connection) ? kIOReturnSuccess : kIOReturnBadArgument;
}

std::shared_ptr<Link> makeConfiguredLink() {
    if (foundation::paths::env("HVB_IOKIT_LINK") == "embedded") return std::make_shared<EmbeddedLink>();
    return std::make_shared<SocketLink>(defaultSocketPath());
}

void installConfiguredLink() { setCurrentLink(makeConfiguredLink()); }

}  // namespace iokit
