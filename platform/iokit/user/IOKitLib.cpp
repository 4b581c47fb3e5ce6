#include "platform/iokit/user/IOKitLib.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/Link.h"

namespace {

// Iterators live on this side; their handles carry the top bit so they never collide with the
// kernel side's object handles.
constexpr uint32_t kIteratorBit = 0x80000000u;

struct PortState {
    std::mutex lock;
    dispatch::RunLoop* loop = nullptr;
    bool alive = true;
};

struct Iterator {
    std::mutex lock;
    std::deque<io_object_t> pending;
    bool released = false;  // an event arriving after the release gives its service back
    bool isNotification = false;
    bool armed = false;
    uint64_t notificationID = 0;
    IOServiceMatchingCallback callback = nullptr;
    void* refcon = nullptr;
    std::shared_ptr<PortState> port;
    io_iterator_t self = 0;
};

struct UserState {
    std::mutex lock;
    std::shared_ptr<iokit::Link> link;
    uint32_t nextIterator = 1;
    uint64_t nextNotification = 1;
    std::map<io_iterator_t, std::shared_ptr<Iterator>> iterators;
    std::map<uint64_t, std::shared_ptr<Iterator>> notifications;
};

UserState& userState() {
    static auto* state = new UserState;
    return *state;
}

io_iterator_t addIterator(const std::shared_ptr<Iterator>& iterator) {
    auto& state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    io_iterator_t handle = kIteratorBit | state.nextIterator++;
    if (state.nextIterator >= kIteratorBit) state.nextIterator = 1;
    iterator->self = handle;
    state.iterators[handle] = iterator;
    return handle;
}

std::shared_ptr<Iterator> findIterator(io_iterator_t handle) {
    auto& state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    auto it = state.iterators.find(handle);
    return it == state.iterators.end() ? nullptr : it->second;
}

void postCallback(const std::shared_ptr<Iterator>& iterator, dispatch::RunLoop* loop) {
    std::weak_ptr<Iterator> weak = iterator;
    loop->post([weak] {
        auto it = weak.lock();
        if (!it || !findIterator(it->self)) return;  // released meanwhile
        {
            std::lock_guard<std::mutex> guard(it->port->lock);
            if (!it->port->alive) return;
        }
        it->callback(it->refcon, it->self);
    });
}

void onEvent(uint64_t notificationID, iokit::Handle service) {
    std::shared_ptr<Iterator> iterator;
    std::shared_ptr<iokit::Link> link;
    {
        auto& state = userState();
        std::lock_guard<std::mutex> guard(state.lock);
        auto it = state.notifications.find(notificationID);
        if (it != state.notifications.end()) iterator = it->second;
        link = state.link;
    }
    if (!iterator) {
        if (link) link->releaseObject(service);
        return;
    }
    dispatch::RunLoop* loop = nullptr;
    {
        std::lock_guard<std::mutex> portGuard(iterator->port->lock);
        loop = iterator->port->alive ? iterator->port->loop : nullptr;
    }
    bool post = false;
    bool orphaned = false;
    {
        std::lock_guard<std::mutex> guard(iterator->lock);
        if (iterator->released) {
            orphaned = true;
        } else {
            iterator->pending.push_back(service);
            if (iterator->armed && loop && iterator->callback) {
                iterator->armed = false;
                post = true;
            }
        }
    }
    if (orphaned) {
        if (link) link->releaseObject(service);
        return;
    }
    if (post) postCallback(iterator, loop);
}

void installLink(UserState& state, std::shared_ptr<iokit::Link> link) {
    state.link = std::move(link);
    if (state.link) state.link->setEventSink(&onEvent);
}

std::shared_ptr<iokit::Link> link() { return iokit::currentLink(); }

kern_return_t copyText(const std::string& text, char* out, size_t capacity) {
    if (!out || capacity == 0) return kIOReturnBadArgument;
    size_t n = std::min(text.size(), capacity - 1);
    if (n) std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return kIOReturnSuccess;
}

}  // namespace

struct IONotificationPort {
    std::shared_ptr<PortState> state = std::make_shared<PortState>();
    std::mutex lock;
    std::vector<io_iterator_t> iterators;
};

namespace iokit {

std::shared_ptr<Link> currentLink() {
    auto& state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.link) installLink(state, std::make_shared<EmbeddedLink>());
    return state.link;
}

void setCurrentLink(std::shared_ptr<Link> newLink) {
    auto& state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    installLink(state, std::move(newLink));
}

}  // namespace iokit

task_port_t mach_task_self() { return static_cast<task_port_t>(getpid()); }

iokit::MatchingDictionary IOServiceMatching(const char* className) {
    iokit::MatchingDictionary matching;
    matching.providerClass = className ? className : "";
    return matching;
}

iokit::MatchingDictionary IOServiceNameMatching(const char* name) {
    iokit::MatchingDictionary matching;
    matching.nameMatch = name ? name : "";
    return matching;
}

kern_return_t IOServiceGetMatchingServices(mach_port_t, iokit::MatchingDictionary matching, io_iterator_t* existing) {
    if (!existing) return kIOReturnBadArgument;
    *existing = IO_OBJECT_NULL;
    std::vector<iokit::Handle> services;
    kern_return_t result = link()->getMatchingServices(matching, &services);
    if (result != kIOReturnSuccess) return result;
    auto iterator = std::make_shared<Iterator>();
    iterator->pending.assign(services.begin(), services.end());
    *existing = addIterator(iterator);
    return kIOReturnSuccess;
}

io_object_t IOIteratorNext(io_iterator_t handle) {
    auto iterator = findIterator(handle);
    if (!iterator) return IO_OBJECT_NULL;
    std::lock_guard<std::mutex> guard(iterator->lock);
    if (iterator->pending.empty()) {
        iterator->armed = iterator->isNotification;
        return IO_OBJECT_NULL;
    }
    io_object_t next = iterator->pending.front();
    iterator->pending.pop_front();
    return next;
}

kern_return_t IOObjectRetain(io_object_t object) {
    if (object & kIteratorBit) return findIterator(object) ? kIOReturnSuccess : kIOReturnBadArgument;
    return link()->retainObject(object);
}

kern_return_t IOObjectRelease(io_object_t object) {
    if (object == IO_OBJECT_NULL) return kIOReturnBadArgument;
    if (!(object & kIteratorBit)) return link()->releaseObject(object);
    std::shared_ptr<Iterator> iterator;
    {
        auto& state = userState();
        std::lock_guard<std::mutex> guard(state.lock);
        auto it = state.iterators.find(object);
        if (it == state.iterators.end()) return kIOReturnBadArgument;
        iterator = it->second;
        state.iterators.erase(it);
        if (iterator->isNotification) state.notifications.erase(iterator->notificationID);
    }
    auto current = link();
    if (iterator->isNotification) current->removeNotification(iterator->notificationID);
    std::deque<io_object_t> left;
    {
        std::lock_guard<std::mutex> guard(iterator->lock);
        iterator->released = true;
        left.swap(iterator->pending);
    }
    for (io_object_t service : left) current->releaseObject(service);
    return kIOReturnSuccess;
}

std::optional<iokit::Value> IORegistryEntryCreateCFProperty(io_registry_entry_t entry, const char* key) {
    std::optional<iokit::Value> value;
    if (!key || link()->getProperty(entry, key, &value) != kIOReturnSuccess) return std::nullopt;
    return value;
}

std::optional<iokit::Value> IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const char*, const char* key,
                                                            IOOptionBits options) {
    std::optional<iokit::Value> value;
    if (!key || link()->searchProperty(entry, key, options, &value) != kIOReturnSuccess) return std::nullopt;
    return value;
}

kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name) {
    std::string text;
    kern_return_t result = link()->getName(entry, &text);
    if (result != kIOReturnSuccess) return result;
    return copyText(text, name, sizeof(io_name_t));
}

kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, uint64_t* entryID) {
    if (!entryID) return kIOReturnBadArgument;
    return link()->getEntryID(entry, entryID);
}

kern_return_t IORegistryEntryGetPath(io_registry_entry_t entry, const char*, io_string_t path) {
    std::string text;
    kern_return_t result = link()->getPath(entry, &text);
    if (result != kIOReturnSuccess) return result;
    return copyText(text, path, sizeof(io_string_t));
}

// ---- notifications ---------------------------------------------------------------------------

IONotificationPortRef IONotificationPortCreate(mach_port_t) { return new IONotificationPort; }

void IONotificationPortDestroy(IONotificationPortRef port) {
    if (!port) return;
    {
        std::lock_guard<std::mutex> guard(port->state->lock);
        port->state->alive = false;
    }
    std::vector<io_iterator_t> iterators;
    {
        std::lock_guard<std::mutex> guard(port->lock);
        iterators.swap(port->iterators);
    }
    for (io_iterator_t iterator : iterators) {
        if (findIterator(iterator)) IOObjectRelease(iterator);
    }
    delete port;
}

IORunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef port) { return port; }

void IORunLoopAddSource(dispatch::RunLoop& loop, IORunLoopSourceRef source) {
    if (!source) return;
    {
        std::lock_guard<std::mutex> guard(source->state->lock);
        source->state->loop = &loop;
    }
    std::vector<io_iterator_t> iterators;
    {
        std::lock_guard<std::mutex> guard(source->lock);
        iterators = source->iterators;
    }
    // Events that arrived before the source was added.
    for (io_iterator_t handle : iterators) {
        auto iterator = findIterator(handle);
        if (!iterator) continue;
        bool post = false;
        {
            std::lock_guard<std::mutex> guard(iterator->lock);
            if (iterator->armed && !iterator->pending.empty()) {
                iterator->armed = false;
                post = true;
            }
        }
        if (post) postCallback(iterator, &loop);
    }
}

kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef port, const char* type,
                                               iokit::MatchingDictionary matching,
                                               IOServiceMatchingCallback callback, void* refcon,
                                               io_iterator_t* notification) {
    if (!port || !type || !notification) return kIOReturnBadArgument;
    *notification = IO_OBJECT_NULL;
    iokit::NotificationKind kind;
    if (std::strcmp(type, "IOServiceMatched") == 0) kind = iokit::NotificationKind::matched;
    else if (std::strcmp(type, "IOServiceFirstMatch") == 0) kind = iokit::NotificationKind::firstMatch;
    else if (std::strcmp(type, "IOServiceTerminate") == 0) kind = iokit::NotificationKind::terminated;
    else return kIOReturnUnsupported;

    auto current = link();
    auto iterator = std::make_shared<Iterator>();
    iterator->isNotification = true;
    iterator->callback = callback;
    iterator->refcon = refcon;
    iterator->port = port->state;
    // A terminate notification starts empty, so it is armed at once.
    iterator->armed = kind == iokit::NotificationKind::terminated;
    io_iterator_t handle = addIterator(iterator);
    {
        auto& state = userState();
        std::lock_guard<std::mutex> guard(state.lock);
        iterator->notificationID = state.nextNotification++;
        state.notifications[iterator->notificationID] = iterator;
    }
    kern_return_t result = current->addNotification(iterator->notificationID, kind, matching);
    if (result != kIOReturnSuccess) {
        IOObjectRelease(handle);
        return result;
    }
    {
        std::lock_guard<std::mutex> guard(port->lock);
        port->iterators.push_back(handle);
    }
    *notification = handle;
    return kIOReturnSuccess;
}

// ---- connections -------------------------------------------------------------------------------

kern_return_t IOServiceOpen(io_service_t service, task_port_t, uint32_t type, io_connect_t* connect) {
    if (!connect) return kIOReturnBadArgument;
    *connect = IO_OBJECT_NULL;
    if (service == IO_OBJECT_NULL || (service & kIteratorBit)) return kIOReturnBadArgument;
    return link()->openConnection(service, type, connect);
}

kern_return_t IOServiceClose(io_connect_t connect) {
    if (connect == IO_OBJECT_NULL) return kIOReturnBadArgument;
    return link()->closeConnection(connect);
}

kern_return_t IOConnectCallMethod(io_connect_t connection, uint32_t selector, const uint64_t* input,
                                  uint32_t inputCnt, const void* inputStruct, size_t inputStructCnt,
                                  uint64_t* output, uint32_t* outputCnt, void* outputStruct,
                                  size_t* outputStructCnt) {
    // Sizes are checked before anything is copied from the caller's memory.
    if (inputCnt > iokit::kMaxScalarCount || (inputCnt && !input)) return kIOReturnBadArgument;
    if (inputStructCnt > iokit::kMaxInlineStructureSize || (inputStructCnt && !inputStruct)) {
        return kIOReturnBadArgument;
    }
    uint32_t scalarOutCount = (output && outputCnt) ? *outputCnt : 0;
    size_t structOutSize = (outputStruct && outputStructCnt) ? *outputStructCnt : 0;
    if (scalarOutCount > iokit::kMaxScalarCount || structOutSize > iokit::kMaxInlineStructureSize) {
        return kIOReturnBadArgument;
    }
    std::vector<uint64_t> scalars(input, input + inputCnt);
    const auto* bytes = static_cast<const uint8_t*>(inputStruct);
    std::vector<uint8_t> structure(bytes, bytes + inputStructCnt);
    iokit::CallResult result;
    kern_return_t status = link()->callMethod(connection, selector, scalars, structure, scalarOutCount,
                                              static_cast<uint32_t>(structOutSize), &result);
    if (output && outputCnt) {
        size_t n = std::min<size_t>(result.scalarOutput.size(), scalarOutCount);
        std::copy_n(result.scalarOutput.begin(), n, output);
        *outputCnt = static_cast<uint32_t>(n);
    }
    if (outputStruct && outputStructCnt) {
        size_t n = std::min(result.structureOutput.size(), structOutSize);
        if (n) std::memcpy(outputStruct, result.structureOutput.data(), n);
        *outputStructCnt = n;
    }
    return status;
}
