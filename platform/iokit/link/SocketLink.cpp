#include "platform/iokit/link/SocketLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
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

constexpr int64_t kHelloTimeoutMs = 5000;
constexpr int64_t kCallTimeoutMs = 120000;  // four times a camera command's own time-out
// How long a caller waits awake for its reply before it sleeps (see request()).
constexpr auto kAwakeWait = std::chrono::microseconds(100);
constexpr Handle kLastLocalHandle = 0x7FFFFFFFu;  // the user side owns the upper half

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

}  // namespace

struct SocketLink::Impl : std::enable_shared_from_this<Impl> {
    fs::path path;

    mutable std::mutex lock;
    std::condition_variable changed;  // replies arrived, sessions ended, events delivered
    int fd = -1;
    uint64_t session = 0;
    bool connected = false;
    bool stopping = false;
    std::thread reader;
    std::mutex sendLock;   // one packet at a time; also guards replacing the descriptor
    std::mutex connectLock;  // one connect at a time; notification changes go with it
    uint32_t nextRequest = 1;

    struct Pending {
        uint64_t session = 0;
        bool done = false;
        bool failed = false;
        std::atomic<bool> settled{false};  // done or failed, readable without the lock
        std::vector<uint8_t> packet;
        uint64_t eventMark = 0;
    };
    std::map<uint32_t, std::shared_ptr<Pending>> pending;

    struct Object {
        uint64_t session = 0;  // 0 with a snapshot: a service of a host that has gone
        Handle remote = 0;
        uint32_t references = 1;
        std::shared_ptr<wire::EntrySnapshot> snapshot;
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
    Handle addObject(uint64_t objectSession, Handle remote, std::shared_ptr<wire::EntrySnapshot> snapshot = nullptr) {
        Handle h = newLocal();
        objects[h] = Object{objectSession, remote, 1, std::move(snapshot)};
        return h;
    }
    bool live(uint64_t objectSession) const { return connected && objectSession == session; }

    // ---- session ----
    IOReturn connect() {
        std::lock_guard<std::mutex> serial(connectLock);
        return connectLocked();
    }

    IOReturn connectLocked() {
        std::thread previous;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (connected) return kIOReturnSuccess;
            if (stopping) return kIOReturnNotAttached;
            previous = std::move(reader);
        }
        if (previous.joinable()) previous.join();

        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.native().empty() || path.native().size() >= sizeof address.sun_path) return kIOReturnNotAttached;
        std::memcpy(address.sun_path, path.c_str(), path.native().size());
        int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (s < 0) return kIOReturnNotAttached;
        if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(s);
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
        if (admitted != 1) {
            ::close(s);
            return kIOReturnNotPrivileged;
        }
        uint64_t current;
        {
            std::lock_guard<std::mutex> sending(sendLock);
            std::lock_guard<std::mutex> guard(lock);
            if (fd >= 0) ::close(fd);
            fd = s;
            current = ++session;
            connected = true;
            auto self = shared_from_this();
            reader = std::thread([self, s, current] { self->readLoop(s, current); });
        }
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
        std::lock_guard<std::mutex> guard(lock);
        if (lostSession != session || !connected) return;
        connected = false;
        ::shutdown(fd, SHUT_RDWR);
        for (auto& [id, p] : pending) {
            if (p->session == lostSession) {
                p->failed = true;
                p->settled.store(true, std::memory_order_release);
            }
        }
        // The host's services are gone: each that a terminate notification covered is
        // reported terminated, readable from its snapshot.
        for (auto& [notificationID, entries] : watches) {
            if (!notifications.count(notificationID)) continue;
            for (auto& [entryID, snapshot] : entries) {
                events.emplace_back(notificationID, addObject(0, 0, snapshot));
                ++eventsQueued;
            }
        }
        watches.clear();
        changed.notify_all();
        eventReady.notify_all();
        reconnectWake.notify_all();
    }

    void readLoop(int s, uint64_t readerSession) {
        std::vector<uint8_t> buffer(wire::kMaxMessageSize + 1);
        for (;;) {
            bool truncated = false;
            ssize_t n = receivePacket(s, buffer, &truncated);
            if (n <= 0 || truncated) break;
            std::span<const uint8_t> packet(buffer.data(), static_cast<size_t>(n));
            wire::Reader r(packet);
            if (!r.ok()) break;
            if (r.isReply()) {
                std::lock_guard<std::mutex> guard(lock);
                auto it = pending.find(r.header().requestID);
                if (it != pending.end() && it->second->session == readerSession) {
                    it->second->packet.assign(packet.begin(), packet.end());
                    it->second->done = true;
                    it->second->eventMark = eventsQueued;
                    it->second->settled.store(true, std::memory_order_release);
                    changed.notify_all();
                }
                continue;
            }
            const auto type = static_cast<Type>(r.header().type);
            if (type == Type::event) {
                uint64_t notificationID = r.u64();
                Handle remote = r.u32();
                uint64_t entryID = r.u64();
                if (!r.finish()) break;
                std::lock_guard<std::mutex> guard(lock);
                auto watched = watches.find(notificationID);
                if (watched != watches.end()) watched->second.erase(entryID);
                events.emplace_back(notificationID, addObject(readerSession, remote));
                ++eventsQueued;
                eventReady.notify_one();
            } else if (type == Type::watch) {
                uint64_t notificationID = r.u64();
                auto snapshot = std::make_shared<wire::EntrySnapshot>(r.snapshot());
                if (!r.finish()) break;
                std::lock_guard<std::mutex> guard(lock);
                if (notifications.count(notificationID)) watches[notificationID][snapshot->entryID] = snapshot;
            } else {
                break;  // nothing else comes unasked
            }
        }
        hostLost(readerSession);
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
            reconnectWake.wait_for(guard, dispatch::scaled(dispatch::Millis(reconnectMs)));
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
    };

    Outcome request(Type type, const std::function<void(wire::Writer&)>& body, bool autoConnect = true) {
        Outcome outcome;
        if (autoConnect && !isConnected()) {
            IOReturn c = connect();
            if (c != kIOReturnSuccess) {
                outcome.status = c;
                outcome.noHost = c == kIOReturnNotAttached;
                return outcome;
            }
        }
        auto p = std::make_shared<Pending>();
        uint32_t id;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!connected) {
                outcome.status = kIOReturnNotAttached;
                outcome.noHost = true;
                return outcome;
            }
            id = nextRequest++;
            if (nextRequest == 0) nextRequest = 1;
            p->session = session;
            pending[id] = p;
        }
        wire::Writer w(type, id);
        if (body) body(w);
        auto& message = w.finish();
        bool sent = false;
        {
            std::lock_guard<std::mutex> sending(sendLock);
            int s = -1;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (connected && session == p->session) s = fd;
            }
            if (s >= 0) {
                ssize_t n;
                do {
                    n = ::send(s, message.data(), message.size(), MSG_NOSIGNAL);
                } while (n < 0 && errno == EINTR);
                sent = n == static_cast<ssize_t>(message.size());
            }
        }
        if (!sent) hostLost(p->session);
        // A reply is usually back within tens of microseconds: wait for it awake for a moment
        // before sleeping, so that the reading thread need not wake this one as well.
        const auto awakeUntil = std::chrono::steady_clock::now() + kAwakeWait;
        while (!p->settled.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < awakeUntil)
            std::this_thread::yield();
        std::unique_lock<std::mutex> guard(lock);
        // Real time: a safeguard against a wedged host, not a pause of the system.
        bool ended = changed.wait_for(guard, std::chrono::milliseconds(callTimeoutMs),
                                      [&] { return p->done || p->failed || stopping; });
        pending.erase(id);
        if (!ended) {
            outcome.status = kIOReturnTimeout;
            return outcome;
        }
        if (!p->done) {
            outcome.status = kIOReturnNotAttached;
            return outcome;
        }
        outcome.packet = std::move(p->packet);
        outcome.eventMark = p->eventMark;
        return outcome;
    }

    // A reply the host should never send ends the session.
    void protocolError(const Outcome&) {
        std::lock_guard<std::mutex> guard(lock);
        if (connected) ::shutdown(fd, SHUT_RDWR);
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
        {
            std::lock_guard<std::mutex> guard(lock);
            auto it = objects.find(handle);
            if (it == objects.end()) return false;
            if (live(it->second.session)) remote = it->second.remote;
            if (retain) ++it->second.references;
            else if (--it->second.references == 0) objects.erase(it);
        }
        if (remote) {
            request(retain ? Type::retainObject : Type::releaseObject, [&](wire::Writer& w) { w.u32(remote); },
                    false);
        }
        return true;
    }

    // The host's handle for a local connection: kIOReturnBadArgument for no such connection,
    // kIOReturnNotAttached when the host that held it has gone. `forget` drops it either way.
    IOReturn connectionRemote(Handle connection, bool forget, Handle* remote) {
        std::lock_guard<std::mutex> guard(lock);
        auto it = connections.find(connection);
        if (it == connections.end()) return kIOReturnBadArgument;
        bool isLive = live(it->second.session);
        if (isLive) *remote = it->second.remote;
        if (forget) connections.erase(it);
        return isLive ? kIOReturnSuccess : kIOReturnNotAttached;
    }

    // What a local handle stands for: a live remote object, a snapshot, or nothing usable.
    struct Resolved {
        IOReturn status = kIOReturnSuccess;
        Handle remote = 0;
        std::shared_ptr<wire::EntrySnapshot> snapshot;
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
        Outcome o = request(type, [&](wire::Writer& w) { w.u32(target.remote); }, false);
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
            false);
        IOReturn status;
        std::optional<Value> result;
        if (readReply(o, &status, [&](wire::Reader& r) { result = r.optionalValue(); })) *value = std::move(result);
        return status;
    }
};

SocketLink::SocketLink(fs::path socketPath) : impl_(std::make_shared<Impl>()) {
    impl_->path = std::move(socketPath);
    Impl* impl = impl_.get();
    // The event thread holds the state: the link may be let go of from inside the sink, and
    // then the thread outlives it.
    impl_->eventThread = std::thread([self = impl_] { self->eventLoop(); });
    impl_->eventThreadID = impl_->eventThread.get_id();
    impl_->reconnectThread = std::thread([impl] { impl->reconnectLoop(); });
}

SocketLink::~SocketLink() {
    std::thread reader;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        impl_->stopping = true;
        impl_->connected = false;
        if (impl_->fd >= 0) ::shutdown(impl_->fd, SHUT_RDWR);
        impl_->changed.notify_all();
        impl_->eventReady.notify_all();
        impl_->reconnectWake.notify_all();
    }
    if (impl_->reconnectThread.joinable()) impl_->reconnectThread.join();
    {
        // A connect that was under way has finished by now; its reader is the last one.
        std::lock_guard<std::mutex> serial(impl_->connectLock);
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->fd >= 0) ::shutdown(impl_->fd, SHUT_RDWR);
        reader = std::move(impl_->reader);
    }
    if (reader.joinable()) reader.join();
    if (impl_->eventThread.joinable()) {
        // The last reference went inside the sink: the event loop cannot wait for itself; it
        // ends on its own once the sink returns.
        if (impl_->eventThread.get_id() == std::this_thread::get_id()) impl_->eventThread.detach();
        else impl_->eventThread.join();
    }
    std::lock_guard<std::mutex> sending(impl_->sendLock);
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->fd >= 0) ::close(impl_->fd);
    impl_->fd = -1;
}

IOReturn SocketLink::connect() { return impl_->connect(); }
bool SocketLink::isConnected() const { return impl_->isConnected(); }

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
    impl_->readReply(impl_->request(Type::ping, nullptr), &status);
    return status;
}

IOReturn SocketLink::control(const std::vector<std::string>& arguments, std::string* reply) {
    if (arguments.size() > wire::kMaxControlArguments) return kIOReturnBadArgument;
    for (auto& a : arguments) {
        if (a.size() > wire::kMaxNameLength) return kIOReturnBadArgument;
    }
    auto o = impl_->request(Type::control, [&](wire::Writer& w) {
        w.u32(static_cast<uint32_t>(arguments.size()));
        for (auto& a : arguments) w.text(a);
    });
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
    auto o = impl_->request(Type::getMatchingServices, [&](wire::Writer& w) { w.matching(matching); });
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
    uint64_t session = impl_->session;
    for (Handle h : remote) services->push_back(impl_->addObject(session, h));
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
    auto o = impl_->request(Type::getEntryID, [&](wire::Writer& w) { w.u32(target.remote); }, false);
    IOReturn status;
    uint64_t id = 0;
    if (impl_->readReply(o, &status, [&](wire::Reader& r) { id = r.u64(); }) && status == kIOReturnSuccess) {
        *entryID = id;
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
        // Registers it (with the others) when a host answers; none yet is no failure.
        status = impl_->connectLocked();
        if (status == kIOReturnNotAttached) status = kIOReturnSuccess;
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
    uint64_t session;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        session = impl_->session;
    }
    auto o = impl_->request(
        Type::openConnection,
        [&](wire::Writer& w) {
            w.u32(target.remote);
            w.u32(type);
        },
        false);
    IOReturn status;
    Handle remote = 0;
    if (!impl_->readReply(o, &status, [&](wire::Reader& r) { remote = r.u32(); }) || status != kIOReturnSuccess) {
        return status;
    }
    std::lock_guard<std::mutex> guard(impl_->lock);
    Handle local = impl_->newLocal();
    impl_->connections[local] = Impl::Connection{session, remote};
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
    if (IOReturn found = impl_->connectionRemote(connection, false, &remote); found != kIOReturnSuccess) return found;
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
        false);
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
    Handle remote = 0;
    IOReturn found = impl_->connectionRemote(connection, true, &remote);
    // The host that held it has gone and closed it already.
    if (found == kIOReturnNotAttached) return kIOReturnSuccess;
    if (found != kIOReturnSuccess) return found;
    IOReturn status;
    impl_->readReply(impl_->request(Type::closeConnection, [&](wire::Writer& w) { w.u32(remote); }, false), &status);
    return status;
}

std::shared_ptr<Link> makeConfiguredLink() {
    if (foundation::paths::env("HVB_IOKIT_LINK") == "embedded") return std::make_shared<EmbeddedLink>();
    return std::make_shared<SocketLink>(defaultSocketPath());
}

void installConfiguredLink() { setCurrentLink(makeConfiguredLink()); }

}  // namespace iokit
