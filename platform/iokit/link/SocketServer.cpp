#include "platform/iokit/link/SocketServer.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <mutex>
#include <thread>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PollWaker.h"
#include "platform/iokit/kern/IOLib.h"
#include "platform/iokit/kern/IOService.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/LinkSupport.h"
#include "platform/iokit/link/RefusalLog.h"
#include "platform/iokit/link/SocketWire.h"

namespace iokit {

namespace fs = std::filesystem;
using wire::Type;

std::filesystem::path defaultSocketPath() { return foundation::paths::systemRoot() / "run/halvetor/iokit.sock"; }

// ---- admission -------------------------------------------------------------------------------

AdmissionPolicy AdmissionPolicy::forSystemRoot(const fs::path& systemRoot, const std::string& groupName) {
    AdmissionPolicy policy;
    std::error_code ec;
    fs::path root = fs::weakly_canonical(systemRoot, ec);
    struct stat st {};
    if (!ec && root != "/" && ::stat(root.c_str(), &st) == 0 && st.st_uid != 0) {
        policy.admitRoot = false;
        policy.owner = st.st_uid;
        return policy;
    }
    if (!groupName.empty()) {
        std::vector<char> buffer(16384);
        struct group gr {};
        struct group* found = nullptr;
        if (::getgrnam_r(groupName.c_str(), &gr, buffer.data(), buffer.size(), &found) == 0 && found) {
            policy.group = found->gr_gid;
        }
    }
    return policy;
}

bool AdmissionPolicy::admits(const PeerCredentials& peer) const {
    if (owner) return peer.uid == *owner;
    if (admitRoot && peer.uid == 0) return true;
    if (!group) return false;
    if (peer.gid == *group) return true;
    // Supplementary groups come from the group database of the peer's user.
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* user = nullptr;
    if (::getpwuid_r(peer.uid, &pw, buffer.data(), buffer.size(), &user) != 0 || !user) return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        if (count <= 0 || count > 65536) return false;
        groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
    }
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<size_t>(i)] == *group) return true;
    }
    return false;
}

// ---- registry snapshots ----------------------------------------------------------------------

namespace {

constexpr size_t kSnapshotBudget = 128 * 1024;

size_t valueSize(const Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) return s->size();
    if (auto* d = std::get_if<std::vector<uint8_t>>(&v)) return d->size();
    return 9;
}

wire::PropertyTable tableOf(const IORegistryEntry* entry, size_t& budget) {
    wire::PropertyTable table;
    for (const std::string& key : entry->propertyKeys()) {
        if (table.size() >= wire::kMaxTableEntries || key.size() > wire::kMaxNameLength) continue;
        OSObject* object = entry->copyProperty(key.c_str());
        if (!object) continue;
        auto value = toValue(object);
        object->release();
        if (!value) continue;
        size_t cost = key.size() + std::min(valueSize(*value), wire::kMaxValueLength) + 16;
        if (cost > budget) continue;
        budget -= cost;
        table.emplace_back(key, std::move(*value));
    }
    return table;
}

// The entry with this ID anywhere below the root (retained), or null.
IORegistryEntry* findEntry(uint64_t entryID) {
    std::vector<IORegistryEntry*> pending;
    IOService* root = IOService::getServiceRoot();
    root->retain();
    pending.push_back(root);
    IORegistryEntry* found = nullptr;
    size_t visited = 0;
    while (!pending.empty()) {
        IORegistryEntry* entry = pending.back();
        pending.pop_back();
        if (!found && entry->getRegistryEntryID() == entryID) {
            found = entry;
            continue;
        }
        if (!found && ++visited < 100000) {
            for (IORegistryEntry* child : entry->copyChildEntries()) pending.push_back(child);
        }
        entry->release();
    }
    return found;
}

void collectDescendants(const IORegistryEntry* entry, std::vector<wire::PropertyTable>& out, size_t& budget,
                        int depth) {
    if (depth > 16) return;
    auto children = entry->copyChildEntries();
    for (IORegistryEntry* child : children) {
        if (out.size() < wire::kMaxSnapshotEntries) {
            out.push_back(tableOf(child, budget));
            collectDescendants(child, out, budget, depth + 1);
        }
    }
    releaseAll(children);
}

wire::EntrySnapshot makeSnapshot(IORegistryEntry* entry) {
    wire::EntrySnapshot s;
    size_t budget = kSnapshotBudget;
    s.name = entry->getName();
    s.entryID = entry->getRegistryEntryID();
    s.path = entry->getPath(kIOServicePlane);
    s.own = tableOf(entry, budget);
    auto parents = entry->copyParentEntries();
    IORegistryEntry* parent = parents.empty() ? nullptr : parents.front();
    if (parent) parent->retain();
    releaseAll(parents);
    while (parent && s.ancestors.size() < wire::kMaxSnapshotEntries) {
        s.ancestors.push_back(tableOf(parent, budget));
        auto up = parent->copyParentEntries();
        IORegistryEntry* next = up.empty() ? nullptr : up.front();
        if (next) next->retain();
        releaseAll(up);
        parent->release();
        parent = next;
    }
    if (parent) parent->release();
    collectDescendants(entry, s.descendants, budget, 0);
    return s;
}

int makeSocket() { return ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0); }

bool fillAddress(const fs::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, text.data(), text.size());
    return true;
}

}  // namespace

// ---- one peer --------------------------------------------------------------------------------

namespace {

// Where the request being handled on this thread leaves work that may block, which answers
// the reply to send (see readLoop).
using Deferred = std::function<std::vector<uint8_t>()>;
thread_local Deferred* tDeferred = nullptr;

// How long a peer's requests may wait unread while its only reader runs a call, before a
// standby thread takes over the reading.
constexpr int64_t kStandbyAfterMs = 2;

struct Client : std::enable_shared_from_this<Client> {
    int fd = -1;
    PeerCredentials peer;
    std::shared_ptr<EmbeddedLink> link = std::make_shared<EmbeddedLink>();
    SocketServer::ControlHandler control;
    size_t maxCallsInFlight = 64;
    size_t maxQueuedBytes = 2u << 20;

    // What a queued message costs: its buffer and the bookkeeping around it, so that a flood of
    // small replies is counted for the memory it takes.
    static size_t cost(const std::vector<uint8_t>& message) { return message.capacity() + 64; }

    std::mutex outLock;
    std::condition_variable outReady;
    std::deque<std::vector<uint8_t>> out;
    size_t queuedBytes = 0;
    bool writing = false;  // the writer has taken a message and not finished sending it
    bool closed = false;

    // The writer runs on a worker of the global queue (its threads are reused across peers);
    // it is done once writerDone is set, under outLock.
    bool writerDone = false;
    std::condition_variable writerEnded;
    std::atomic<size_t> callsInFlight{0};
    std::atomic<bool> finished{false};
    std::mutex finishLock;
    std::condition_variable finishedChanged;
    // Threads in the reading role (see readLoop); once the last has seen the end, none joins.
    std::mutex roleLock;
    int readers = 0;
    bool readingEnded = false;
    static constexpr int kStandingReaders = 1;
    // The standby: a thread that waits on a timer and reads once nobody has read for
    // kStandbyAfterMs (readLoop). The timer is armed when reading falls vacant and is not armed
    // yet, and left to run out: a run of short calls costs no system call each. `vacantSince`
    // while nobody reads; `standbyLaunched` while the standby's job exists; `standbyStop` ends
    // it. All under roleLock.
    int standbyTimer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    bool standbyArmed = false;
    dispatch::Clock::time_point vacantSince;
    bool standbyLaunched = false;
    bool standbyStop = false;
    std::condition_variable standbyEnded;
    std::atomic<dispatch::Clock::rep> lastRequest{dispatch::Clock::now().time_since_epoch().count()};

    // Nothing open, nothing running, and no request for at least `idle`.
    bool idleFor(dispatch::Clock::duration idle) const {
        if (finished.load() || callsInFlight.load() != 0 || !link->holdsNothingOpen()) return false;
        const dispatch::Clock::time_point last{dispatch::Clock::duration(lastRequest.load())};
        return dispatch::Clock::now() - last >= idle;
    }

    std::mutex watchLock;
    // Terminate notifications and the live services each covers: entry ID to our handle.
    std::map<uint64_t, std::map<uint64_t, Handle>> watches;

    ~Client() {
        if (standbyTimer >= 0) ::close(standbyTimer);
    }

    void start() {
        std::weak_ptr<Client> weak = weak_from_this();
        link->setEventSink([weak](uint64_t notificationID, Handle service) {
            if (auto self = weak.lock()) self->onEvent(notificationID, service);
        });
        auto self = shared_from_this();
        dispatch::globalQueue().async([self] {
            self->writeLoop();
            std::lock_guard<std::mutex> guard(self->outLock);
            self->writerDone = true;
            self->writerEnded.notify_all();
        });
        // All counted before any starts, so that the count cannot reach zero (the end of the
        // reading) while one is still to come.
        {
            std::lock_guard<std::mutex> guard(roleLock);
            readers = kStandingReaders;
            standbyLaunched = standbyTimer >= 0;
        }
        for (int i = 0; i < kStandingReaders; ++i) launchReader();
        if (standbyTimer >= 0) launchStandby();
    }

    void launchReader() {
        auto self = shared_from_this();
        dispatch::globalQueue().async([self] { self->readLoop(); });
    }

    void launchStandby() {
        auto self = shared_from_this();
        dispatch::globalQueue().async([self] { self->standbyLoop(); });
    }

    // When the standby takes over if reading stays vacant.
    dispatch::Clock::time_point standbyDue() const {
        return vacantSince + std::max<std::chrono::nanoseconds>(dispatch::scaled(dispatch::Millis(kStandbyAfterMs)),
                                                                std::chrono::microseconds(1));
    }

    // Arms the standby's timer for `due` (roleLock held).
    void armStandby(dispatch::Clock::time_point due) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count();
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        standbyArmed = ::timerfd_settime(standbyTimer, TFD_TIMER_ABSTIME, &when, nullptr) == 0;
    }

    // Reading fell vacant: a call runs on the only reader (roleLock held).
    void readingVacant() {
        vacantSince = dispatch::Clock::now();
        if (!standbyArmed) armStandby(standbyDue());
    }

    // Waits until nobody has read for a while (a call runs on the only reader), then reads,
    // leaving a new standby in its place.
    void standbyLoop() {
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(roleLock);
                if (standbyStop) break;
            }
            pollfd pfd{standbyTimer, POLLIN, 0};
            if (::poll(&pfd, 1, -1) < 0 && errno != EINTR) break;
            uint64_t expirations;
            [[maybe_unused]] ssize_t n = ::read(standbyTimer, &expirations, sizeof expirations);
            {
                std::lock_guard<std::mutex> guard(roleLock);
                if (standbyStop) break;
                if (n != sizeof expirations) continue;  // not run out yet
                standbyArmed = false;
                if (readers != 0 || readingEnded) continue;  // somebody reads: wait for the next vacancy
                // Vacant since a later call than the one the timer was armed for: wait its turn.
                if (const auto due = standbyDue(); dispatch::Clock::now() < due) {
                    armStandby(due);
                    continue;
                }
                ++readers;
            }
            launchStandby();
            readLoop();
            return;
        }
        std::lock_guard<std::mutex> guard(roleLock);
        standbyLaunched = false;
        standbyEnded.notify_all();
    }

    // Waits until the reading has ended and the peer's link is torn down.
    void waitFinished() {
        std::unique_lock<std::mutex> guard(finishLock);
        finishedChanged.wait(guard, [&] { return finished.load(); });
    }

    void send(std::vector<uint8_t> message) {
        std::lock_guard<std::mutex> guard(outLock);
        if (closed) return;
        if (out.empty() && !writing) {
            // Nothing queued or on its way: send now, unless the peer's buffer is full. Never
            // blocks, so a notification never holds up the thread that fired it.
            ssize_t sent;
            do {
                sent = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            } while (sent < 0 && errno == EINTR);
            if (sent == static_cast<ssize_t>(message.size())) return;
            if (sent >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                closeLocked();
                return;
            }
        }
        if (queuedBytes + cost(message) > maxQueuedBytes) {
            // A peer that does not read its messages is dropped rather than let them pile up.
            IOLog("iokit socket: peer %d does not read; dropping it\n", static_cast<int>(peer.pid));
            closeLocked();
            return;
        }
        queuedBytes += cost(message);
        out.push_back(std::move(message));
        outReady.notify_one();
    }

    void closeLocked() {
        if (closed) return;
        closed = true;
        ::shutdown(fd, SHUT_RDWR);
        outReady.notify_all();
    }

    void close() {
        std::lock_guard<std::mutex> guard(outLock);
        closeLocked();
    }

    void writeLoop() {
        for (;;) {
            std::vector<uint8_t> message;
            {
                std::unique_lock<std::mutex> guard(outLock);
                outReady.wait(guard, [&] { return closed || !out.empty(); });
                if (closed) return;
                message = std::move(out.front());
                out.pop_front();
                queuedBytes -= cost(message);
                writing = true;
            }
            ssize_t sent;
            do {
                sent = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
            } while (sent < 0 && errno == EINTR);
            std::lock_guard<std::mutex> guard(outLock);
            writing = false;
            if (sent != static_cast<ssize_t>(message.size())) {
                closeLocked();
                return;
            }
        }
    }

    // One thread waits on the socket. A request that may block (a camera command may take its
    // 30 s) runs on the thread that read it, so a call starts without waiting for a worker to
    // wake; should it last, the standby reads the peer's other requests meanwhile. After its
    // call a thread reads again while fewer than kStandingReaders do, and retires otherwise.
    // Not more standing readers, nor a second one started for every call: the kernel gives
    // each packet to the reader that has waited longest, so the thread that has just answered
    // (still running, next to the caller) would not take the next request, and every request
    // would wake a cold thread, often on another processor.
    void readLoop() {
        std::vector<uint8_t> buffer(wire::kMaxRequestSize + 1);
        bool misbehaved = false;
        for (;;) {
            bool truncated = false;
            ssize_t n = receivePacket(fd, buffer, &truncated);
            if (n <= 0) break;
            if (truncated || static_cast<size_t>(n) > wire::kMaxRequestSize) {
                IOLog("iokit socket: oversized message from peer %d; dropping it\n", static_cast<int>(peer.pid));
                misbehaved = true;
                break;
            }
            lastRequest.store(dispatch::Clock::now().time_since_epoch().count());
            Deferred work;
            tDeferred = &work;
            const bool ok = handle(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
            tDeferred = nullptr;
            if (!ok) {
                IOLog("iokit socket: malformed message from peer %d; dropping it\n", static_cast<int>(peer.pid));
                misbehaved = true;
                break;
            }
            if (!work) continue;
            bool launch = false;
            {
                std::lock_guard<std::mutex> guard(roleLock);
                if (--readers == 0) {
                    // Nobody reads while this call runs: the standby takes over should it last.
                    if (standbyTimer >= 0) {
                        readingVacant();
                    } else {
                        ++readers;
                        launch = true;
                    }
                }
            }
            if (launch) launchReader();
            std::vector<uint8_t> answer = work();
            callsInFlight.fetch_sub(1);
            bool readOn;
            {
                std::lock_guard<std::mutex> guard(roleLock);
                readOn = !readingEnded && readers < kStandingReaders;
                if (readOn) ++readers;
            }
            // Sent last: the caller wakes as this thread goes back to waiting, so that the two
            // can share a processor.
            send(std::move(answer));
            if (!readOn) return;
        }
        // A peer that misbehaved is dropped; the other readers then see the end as well.
        if (misbehaved) close();
        bool last = false;
        {
            std::lock_guard<std::mutex> guard(roleLock);
            last = --readers == 0;
            if (last) readingEnded = true;
        }
        if (last) finishReading();
    }

    void finishReading() {
        close();
        {
            std::unique_lock<std::mutex> guard(outLock);
            writerEnded.wait(guard, [&] { return writerDone; });
        }
        if (standbyTimer >= 0) {
            // The standby wakes to its end at once.
            std::unique_lock<std::mutex> guard(roleLock);
            standbyStop = true;
            itimerspec now{};
            now.it_value.tv_nsec = 1;
            ::timerfd_settime(standbyTimer, 0, &now, nullptr);
            standbyEnded.wait(guard, [&] { return !standbyLaunched; });
            ::close(standbyTimer);
            standbyTimer = -1;
        }
        // The peer's connections hear clientDied; its handles and notifications end.
        link->disconnect();
        {
            std::lock_guard<std::mutex> guard(watchLock);
            watches.clear();
        }
        ::close(fd);
        std::lock_guard<std::mutex> guard(finishLock);
        finished.store(true);
        finishedChanged.notify_all();
    }

    static std::vector<uint8_t> reply(Type type, uint32_t requestID, IOReturn status) {
        wire::Writer w(type, requestID, wire::kReplyFlag);
        w.u32(static_cast<uint32_t>(status));
        return std::move(w.finish());
    }

    // Has `work` run on the thread that read its request, once another reads on (readLoop);
    // false when the peer has too many calls in flight already.
    bool onWorker(Deferred work) {
        if (callsInFlight.fetch_add(1) >= maxCallsInFlight) {
            callsInFlight.fetch_sub(1);
            return false;
        }
        *tDeferred = std::move(work);
        return true;
    }

    bool handle(std::span<const uint8_t> packet) {
        wire::Reader r(packet);
        if (!r.ok() || r.isReply()) return false;
        const uint32_t id = r.header().requestID;
        const auto type = static_cast<Type>(r.header().type);
        switch (type) {
            case Type::ping: {
                if (!r.finish()) return false;
                send(reply(type, id, kIOReturnSuccess));
                return true;
            }
            case Type::getMatchingServices: {
                MatchingDictionary matching = r.matching();
                if (!r.finish()) return false;
                std::vector<Handle> services;
                IOReturn status = link->getMatchingServices(matching, &services);
                while (services.size() > wire::kMaxHandles) {
                    link->releaseObject(services.back());
                    services.pop_back();
                }
                wire::Writer w(type, id, wire::kReplyFlag);
                w.u32(static_cast<uint32_t>(status));
                w.u32(static_cast<uint32_t>(services.size()));
                for (Handle h : services) w.u32(h);
                send(std::move(w.finish()));
                return true;
            }
            case Type::retainObject:
            case Type::releaseObject: {
                Handle h = r.u32();
                if (!r.finish()) return false;
                IOReturn status = type == Type::retainObject ? link->retainObject(h) : link->releaseObject(h);
                send(reply(type, id, status));
                return true;
            }
            case Type::getProperty:
            case Type::searchProperty: {
                Handle h = r.u32();
                std::string key = r.text(wire::kMaxNameLength);
                uint32_t options = type == Type::searchProperty ? r.u32() : 0;
                if (!r.finish()) return false;
                std::optional<Value> value;
                IOReturn status = type == Type::getProperty ? link->getProperty(h, key, &value)
                                                            : link->searchProperty(h, key, options, &value);
                wire::Writer w(type, id, wire::kReplyFlag);
                w.u32(static_cast<uint32_t>(status));
                w.optionalValue(value);
                send(std::move(w.finish()));
                return true;
            }
            case Type::getName:
            case Type::getPath: {
                Handle h = r.u32();
                if (!r.finish()) return false;
                std::string text;
                IOReturn status = type == Type::getName ? link->getName(h, &text) : link->getPath(h, &text);
                wire::Writer w(type, id, wire::kReplyFlag);
                w.u32(static_cast<uint32_t>(status));
                w.text(text.substr(0, type == Type::getName ? wire::kMaxNameLength : wire::kMaxPathLength));
                send(std::move(w.finish()));
                return true;
            }
            case Type::getEntryID: {
                Handle h = r.u32();
                if (!r.finish()) return false;
                uint64_t entryID = 0;
                IOReturn status = link->getEntryID(h, &entryID);
                wire::Writer w(type, id, wire::kReplyFlag);
                w.u32(static_cast<uint32_t>(status));
                w.u64(entryID);
                send(std::move(w.finish()));
                return true;
            }
            case Type::addNotification: {
                uint64_t notificationID = r.u64();
                uint8_t kind = r.u8();
                MatchingDictionary matching = r.matching();
                if (!r.finish() || kind > static_cast<uint8_t>(NotificationKind::terminated) ||
                    (notificationID & wire::kInternalNotificationBit)) {
                    return false;
                }
                send(reply(type, id, addNotification(notificationID, static_cast<NotificationKind>(kind), matching)));
                return true;
            }
            case Type::removeNotification: {
                uint64_t notificationID = r.u64();
                if (!r.finish() || (notificationID & wire::kInternalNotificationBit)) return false;
                send(reply(type, id, removeNotification(notificationID)));
                return true;
            }
            case Type::openConnection: {
                Handle service = r.u32();
                uint32_t connectionType = r.u32();
                if (!r.finish()) return false;
                return onWorker([this, type, id, service, connectionType] {
                    Handle connection = 0;
                    IOReturn status = link->openConnection(service, connectionType, &connection);
                    wire::Writer w(type, id, wire::kReplyFlag);
                    w.u32(static_cast<uint32_t>(status));
                    w.u32(connection);
                    return std::move(w.finish());
                });
            }
            case Type::callMethod: {
                Handle connection = r.u32();
                uint32_t selector = r.u32();
                uint32_t scalarCount = r.u32();
                if (scalarCount > kMaxScalarCount) return false;
                std::vector<uint64_t> scalars(scalarCount);
                for (auto& s : scalars) s = r.u64();
                std::vector<uint8_t> structure = r.bytes(kMaxInlineStructureSize);
                uint32_t scalarOutputCount = r.u32();
                uint32_t structureOutputSize = r.u32();
                if (!r.finish() || scalarOutputCount > kMaxScalarCount ||
                    structureOutputSize > kMaxInlineStructureSize) {
                    return false;
                }
                return onWorker([this, type, id, connection, selector, scalars = std::move(scalars),
                                 structure = std::move(structure), scalarOutputCount, structureOutputSize] {
                    CallResult result;
                    IOReturn status = link->callMethod(connection, selector, scalars, structure, scalarOutputCount,
                                                       structureOutputSize, &result);
                    wire::Writer w(type, id, wire::kReplyFlag);
                    w.u32(static_cast<uint32_t>(status));
                    size_t n = std::min<size_t>(result.scalarOutput.size(), scalarOutputCount);
                    w.u32(static_cast<uint32_t>(n));
                    for (size_t i = 0; i < n; ++i) w.u64(result.scalarOutput[i]);
                    size_t bytes = std::min<size_t>(result.structureOutput.size(), structureOutputSize);
                    w.bytes(std::span<const uint8_t>(result.structureOutput.data(), bytes));
                    return std::move(w.finish());
                });
            }
            case Type::closeConnection: {
                Handle connection = r.u32();
                if (!r.finish()) return false;
                return onWorker([this, type, id, connection] { return reply(type, id, link->closeConnection(connection)); });
            }
            case Type::control: {
                uint32_t count = r.u32();
                if (count > wire::kMaxControlArguments) return false;
                std::vector<std::string> arguments;
                for (uint32_t i = 0; i < count && r.ok(); ++i) arguments.push_back(r.text(wire::kMaxNameLength));
                if (!r.finish()) return false;
                return onWorker([this, type, id, arguments = std::move(arguments)] {
                    std::string text;
                    IOReturn status = control ? control(arguments, &text) : kIOReturnUnsupported;
                    wire::Writer w(type, id, wire::kReplyFlag);
                    w.u32(static_cast<uint32_t>(status));
                    w.text(text.substr(0, wire::kMaxValueLength));
                    return std::move(w.finish());
                });
            }
            default: return false;
        }
    }

    IOReturn addNotification(uint64_t notificationID, NotificationKind kind, const MatchingDictionary& matching) {
        if (kind != NotificationKind::terminated) return link->addNotification(notificationID, kind, matching);
        // Besides the terminate notification, follow the services it covers as they come and
        // go, so that the application can end them itself should this host go away.
        {
            std::lock_guard<std::mutex> guard(watchLock);
            if (watches.count(notificationID)) return kIOReturnBadArgument;
            watches[notificationID];
        }
        const uint64_t internalID = notificationID | wire::kInternalNotificationBit;
        IOReturn status = link->addNotification(internalID, NotificationKind::matched, matching);
        if (status == kIOReturnSuccess) {
            status = link->addNotification(notificationID, kind, matching);
            if (status != kIOReturnSuccess) link->removeNotification(internalID);
        }
        if (status != kIOReturnSuccess) dropWatches(notificationID);
        return status;
    }

    IOReturn removeNotification(uint64_t notificationID) {
        IOReturn status = link->removeNotification(notificationID);
        bool watched;
        {
            std::lock_guard<std::mutex> guard(watchLock);
            watched = watches.count(notificationID) != 0;
        }
        if (watched) {
            link->removeNotification(notificationID | wire::kInternalNotificationBit);
            dropWatches(notificationID);
        }
        return status;
    }

    void dropWatches(uint64_t notificationID) {
        std::map<uint64_t, Handle> handles;
        {
            std::lock_guard<std::mutex> guard(watchLock);
            auto it = watches.find(notificationID);
            if (it == watches.end()) return;
            handles.swap(it->second);
            watches.erase(it);
        }
        for (auto& [entryID, h] : handles) link->releaseObject(h);
    }

    void onEvent(uint64_t notificationID, Handle service) {
        uint64_t entryID = 0;
        link->getEntryID(service, &entryID);
        if (notificationID & wire::kInternalNotificationBit) {
            const uint64_t watchedID = notificationID & ~wire::kInternalNotificationBit;
            IORegistryEntry* entry = findEntry(entryID);
            bool keep = false;
            {
                std::lock_guard<std::mutex> guard(watchLock);
                auto it = watches.find(watchedID);
                if (entry && it != watches.end() && !it->second.count(entryID)) {
                    it->second[entryID] = service;
                    keep = true;
                }
            }
            if (keep) {
                wire::Writer w(Type::watch, 0);
                w.u64(watchedID);
                w.snapshot(makeSnapshot(entry));
                send(std::move(w.finish()));
            } else {
                link->releaseObject(service);
            }
            if (entry) entry->release();
            return;
        }
        Handle watchHandle = 0;
        {
            std::lock_guard<std::mutex> guard(watchLock);
            auto it = watches.find(notificationID);
            if (it != watches.end()) {
                auto entry = it->second.find(entryID);
                if (entry != it->second.end()) {
                    watchHandle = entry->second;
                    it->second.erase(entry);
                }
            }
        }
        if (watchHandle) link->releaseObject(watchHandle);
        wire::Writer w(Type::event, 0);
        w.u64(notificationID);
        w.u32(service);
        w.u64(entryID);
        send(std::move(w.finish()));
    }
};

}  // namespace

// ---- the server ------------------------------------------------------------------------------

struct SocketServer::Impl {
    Options options;
    int listenFd = -1;
    std::unique_ptr<foundation::PollWaker> waker;
    std::thread acceptThread;
    mutable std::mutex lock;
    std::vector<std::shared_ptr<Client>> clients;
    bool running = false;

    // Peers dropped to make room, until their reading has ended.
    std::vector<std::shared_ptr<Client>> leaving;

    void reap(bool all) {
        std::vector<std::shared_ptr<Client>> done;
        {
            std::lock_guard<std::mutex> guard(lock);
            for (auto* list : {&clients, &leaving}) {
                for (auto it = list->begin(); it != list->end();) {
                    if (all || (*it)->finished.load()) {
                        done.push_back(*it);
                        it = list->erase(it);
                    } else {
                        ++it;
                    }
                }
            }
        }
        for (auto& client : done) {
            client->close();
            client->waitFinished();
        }
    }

    struct Refusal {
        const char* why;
        wire::Admission admission;
    };

    // Frees a slot for a new peer when one is needed; the reason to refuse the newcomer, or none.
    //
    // A process at its own limit, or a user at its share, may only give up one of its own
    // idle connections (or one that has ended): the crowd is its own, and it is refused rather
    // than anybody else dropped. Were a busy peer of the same user dropped instead, the one
    // to go would be the application: it asks about once a second and watches notifications,
    // so its last request is always the oldest, and a few dozen peers that connect again at
    // once would push it out over and over. A user's share is well below the table, so a full
    // table means several users: a newcomer under its share may then take the place of an
    // idle or ended peer of anyone, or of a peer of a user holding more slots than its own
    // (by more than one, so that two users never trade places back and forth). First to go: a
    // peer that has ended, then an idle one, then one that holds no connection (it only
    // watches or asks), then one with connections open; within each, the user holding the
    // most slots, then the peer whose last request is oldest. A peer in the middle of a call
    // (a camera command) is never dropped. A dropped peer that watches notifications connects
    // again and registers them anew.
    std::optional<Refusal> makeRoomFor(const PeerCredentials& peer) {
        const auto idle = dispatch::scaled(dispatch::Millis(options.idleBeforeDropMs));
        std::shared_ptr<Client> dropped;
        const char* reason = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock);
            size_t sameProcess = 0;
            std::map<uid_t, size_t> perUser;
            for (auto& c : clients) {
                if (c->finished.load()) continue;
                if (c->peer.pid == peer.pid) ++sameProcess;
                ++perUser[c->peer.uid];
            }
            const size_t sameUser = perUser[peer.uid];
            const bool processFull = sameProcess >= options.maxClientsPerProcess;
            const bool userFull = sameUser >= options.maxClientsPerUser;
            const bool tableFull = clients.size() >= options.maxClients;
            if (!processFull && !userFull && !tableFull) return std::nullopt;
            static const char* const kTiers[] = {"ended", "idle", "watching", "with connections"};
            struct Rank {
                int tier;
                size_t share;
                dispatch::Clock::rep last;
                bool before(const Rank& o) const {
                    if (tier != o.tier) return tier < o.tier;
                    if (share != o.share) return share > o.share;
                    return last < o.last;
                }
            };
            auto best = clients.end();
            Rank bestRank{};
            for (auto it = clients.begin(); it != clients.end(); ++it) {
                Client& c = **it;
                Rank rank{3, perUser[c.peer.uid], c.lastRequest.load()};
                if (c.finished.load()) rank.tier = 0;
                else if (c.idleFor(idle)) rank.tier = 1;
                else if (c.callsInFlight.load() != 0) continue;
                else if (c.link->connectionCount() == 0) rank.tier = 2;
                if (processFull) {
                    if (c.peer.pid != peer.pid || rank.tier > 1) continue;
                } else if (userFull) {
                    if (c.peer.uid != peer.uid || rank.tier > 1) continue;
                } else if (rank.tier > 1 && (c.peer.uid == peer.uid || rank.share <= sameUser + 1)) {
                    continue;
                }
                if (best == clients.end() || rank.before(bestRank)) {
                    best = it;
                    bestRank = rank;
                }
            }
            if (best == clients.end()) {
                if (processFull) return Refusal{"too many connections from this process", wire::Admission::processFull};
                if (userFull) return Refusal{"too many peers of this user", wire::Admission::userShareFull};
                return Refusal{"too many peers", wire::Admission::tableFull};
            }
            dropped = *best;
            reason = kTiers[bestRank.tier];
            clients.erase(best);
            leaving.push_back(dropped);
        }
        IOLog("iokit socket: dropping peer %d (%s) to admit peer %d\n", static_cast<int>(dropped->peer.pid), reason,
              static_cast<int>(peer.pid));
        // Its reading ends once the socket is shut; what it still runs finishes on its own.
        dropped->close();
        return std::nullopt;
    }

    // Only the accepting thread refuses and flushes.
    std::unique_ptr<RefusalLog> refusals;

    void refuse(int fd, Refusal refusal, const PeerCredentials& peer) {
        refusals->refused(peer.pid, peer.uid, refusal.why);
        wire::Writer w(Type::hello, 0);
        w.u32(wire::kProtocolVersion);
        w.u8(static_cast<uint8_t>(refusal.admission));
        w.u32(static_cast<uint32_t>(::getpid()));
        auto& message = w.finish();
        [[maybe_unused]] ssize_t n = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
    }

    // How long the accepting thread may wait before a held count of refusals is due.
    int waitBudgetMs() {
        auto due = refusals->nextFlush();
        if (!due) return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*due - refusals->now()).count();
        // A test's own clock moves in steps: look again at least every second.
        return static_cast<int>(std::clamp<int64_t>(left + 1, 1, 1000));
    }

    void acceptLoop() {
        for (;;) {
            const auto woke = waker->wait(listenFd, waitBudgetMs());
            refusals->flush();
            if (woke == foundation::PollWaker::Result::timedOut) continue;
            if (woke != foundation::PollWaker::Result::readable) break;
            int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                // Out of descriptors: let peers finish before accepting again.
                if (errno == EMFILE || errno == ENFILE) dispatch::pause(100);
                continue;
            }
            reap(false);
            ucred credentials{};
            socklen_t length = sizeof credentials;
            PeerCredentials peer;
            if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
                refuse(fd, {"no credentials", wire::Admission::notAdmitted}, peer);
                continue;
            }
            peer.pid = credentials.pid;
            peer.uid = credentials.uid;
            peer.gid = credentials.gid;
            if (!options.policy.admits(peer)) {
                refuse(fd, {"not admitted", wire::Admission::notAdmitted}, peer);
                continue;
            }
            if (auto refusal = makeRoomFor(peer)) {
                refuse(fd, *refusal, peer);
                continue;
            }
            auto client = std::make_shared<Client>();
            client->fd = fd;
            client->peer = peer;
            client->control = options.control;
            client->maxCallsInFlight = options.maxCallsInFlight;
            client->maxQueuedBytes = options.maxQueuedBytes;
            wire::Writer hello(Type::hello, 0);
            hello.u32(wire::kProtocolVersion);
            hello.u8(static_cast<uint8_t>(wire::Admission::admitted));
            hello.u32(static_cast<uint32_t>(::getpid()));
            client->send(std::move(hello.finish()));
            {
                std::lock_guard<std::mutex> guard(lock);
                clients.push_back(client);
            }
            client->start();
        }
    }
};

SocketServer::SocketServer(Options options) : impl_(std::make_shared<Impl>()) {
    impl_->options = std::move(options);
}

SocketServer::~SocketServer() { stop(); }

bool SocketServer::start(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        if (impl_->listenFd >= 0) ::close(impl_->listenFd);
        impl_->listenFd = -1;
        return false;
    };
    if (impl_->running) return true;
    const fs::path& path = impl_->options.socketPath;
    sockaddr_un address;
    if (!fillAddress(path, address)) return fail("socket path too long or empty: " + path.string());
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) return fail("cannot create " + path.parent_path().string() + ": " + ec.message());
    if (fs::exists(fs::symlink_status(path, ec))) {
        int probe = makeSocket();
        bool answered = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (probe >= 0) ::close(probe);
        if (answered) return fail("another host answers on " + path.string());
        ::unlink(path.c_str());
    }
    impl_->listenFd = makeSocket();
    if (impl_->listenFd < 0) return fail(std::string("socket: ") + std::strerror(errno));
    // The file is created with its final mode: private, for the sandbox's owner, or open to
    // everyone when a group is admitted: members added by the installer are admitted at once
    // through their credentials (checked against the group database on every connection),
    // without waiting for a new login to give their processes the group. Its mode is never
    // changed through the path afterwards, and its owner only without following a link, so a
    // link planted in the folder cannot turn either onto another file.
    const AdmissionPolicy& policy = impl_->options.policy;
    const bool open = !policy.owner && policy.group;
    mode_t old = ::umask(open ? 0111 : 0177);
    int rc = ::bind(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::umask(old);
    if (rc != 0) return fail("bind " + path.string() + ": " + std::strerror(errno));
    if (policy.owner && ::geteuid() == 0) {
        if (::fchownat(AT_FDCWD, path.c_str(), *policy.owner, static_cast<gid_t>(-1), AT_SYMLINK_NOFOLLOW) != 0)
            return fail("chown socket");
    } else if (open) {
        [[maybe_unused]] int ignored =
            ::fchownat(AT_FDCWD, path.c_str(), static_cast<uid_t>(-1), *policy.group, AT_SYMLINK_NOFOLLOW);
    }
    if (::listen(impl_->listenFd, 64) != 0) return fail(std::string("listen: ") + std::strerror(errno));
    impl_->waker = std::make_unique<foundation::PollWaker>();
    if (!impl_->waker->ok()) return fail("pipe");
    impl_->refusals = std::make_unique<RefusalLog>(impl_->options.clock);
    impl_->running = true;
    auto impl = impl_;
    impl_->acceptThread = std::thread([impl] { impl->acceptLoop(); });
    return true;
}

void SocketServer::stop() {
    if (!impl_->running) return;
    impl_->running = false;
    impl_->waker->wake();
    if (impl_->acceptThread.joinable()) impl_->acceptThread.join();
    ::close(impl_->listenFd);
    impl_->listenFd = -1;
    ::unlink(impl_->options.socketPath.c_str());
    impl_->waker.reset();
    impl_->reap(true);
}

SocketServer::Stats SocketServer::stats() const {
    impl_->reap(false);
    std::lock_guard<std::mutex> guard(impl_->lock);
    Stats stats;
    for (auto* list : {&impl_->clients, &impl_->leaving}) {
        for (auto& c : *list) {
            ++stats.peers;
            stats.handles += c->link->handleCount();
            std::lock_guard<std::mutex> out(c->outLock);
            stats.queuedBytes += c->queuedBytes;
        }
    }
    return stats;
}

size_t SocketServer::clientCount() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    size_t n = 0;
    for (auto& c : impl_->clients) n += c->finished.load() ? 0 : 1;
    return n;
}

}  // namespace iokit
