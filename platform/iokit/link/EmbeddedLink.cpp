#include "platform/iokit/link/EmbeddedLink.h"

#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>

#include "platform/iokit/kern/IOService.h"
#include "platform/iokit/kern/IOUserClient.h"
#include "platform/iokit/link/LinkSupport.h"

namespace iokit {

namespace {

std::atomic<uint64_t> gNextSession{1};

OSObject* toObject(const Value& value) {
    if (auto* number = std::get_if<Number>(&value)) return OSNumber::withNumber(number->value, number->bits);
    if (auto* text = std::get_if<std::string>(&value)) return OSString::withString(*text);
    if (auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) return OSData::withBytes(bytes->data(), bytes->size());
    return OSBoolean::withBoolean(std::get<bool>(value));
}

OSDictionary* toDictionary(const MatchingDictionary& matching) {
    OSDictionary* dict = OSDictionary::withCapacity(4);
    if (!matching.providerClass.empty()) {
        OSString* cls = OSString::withString(matching.providerClass);
        dict->setObject(kIOProviderClassKey, cls);
        cls->release();
    }
    if (!matching.nameMatch.empty()) {
        OSString* name = OSString::withString(matching.nameMatch);
        dict->setObject(kIONameMatchKey, name);
        name->release();
    }
    if (!matching.propertyMatch.empty()) {
        OSDictionary* properties = OSDictionary::withCapacity(4);
        for (auto& [key, value] : matching.propertyMatch) {
            OSObject* object = toObject(value);
            properties->setObject(key.c_str(), object);
            object->release();
        }
        dict->setObject(kIOPropertyMatchKey, properties);
        properties->release();
    }
    return dict;
}

const char* notificationType(NotificationKind kind) {
    switch (kind) {
        case NotificationKind::matched: return kIOMatchedNotification;
        case NotificationKind::firstMatch: return kIOFirstMatchNotification;
        case NotificationKind::terminated: return kIOTerminatedNotification;
    }
    return kIOMatchedNotification;
}

}  // namespace

struct EmbeddedLink::Impl {
    mutable std::mutex lock;
    bool disconnected = false;
    task peer;
    Handle nextHandle = 1;
    // A handle's count of user references; the object is retained once per handle.
    struct Entry {
        OSObject* object = nullptr;
        uint32_t userReferences = 0;
    };
    std::map<Handle, Entry> objects;
    std::map<Handle, IOUserClient*> connections;  // retained
    std::map<uint64_t, IONotifier*> notifiers;
    EventSink sink;

    size_t maxHandles = EmbeddedLink::kMaxHandles;

    bool inUse(Handle handle) const { return objects.count(handle) || connections.count(handle); }
    bool hasRoomFor(size_t count) const { return objects.size() + connections.size() + count <= maxHandles; }
    bool full() const { return !hasRoomFor(1); }

    // A handle no live object or connection has (lock held; the table is not full, so one is
    // found). After the counter wraps, live handles are skipped, never handed out twice.
    Handle newHandle() {
        for (;;) {
            Handle handle = nextHandle++;
            if (nextHandle == 0 || nextHandle >= 0x80000000u) nextHandle = 1;  // the user side owns the upper half
            if (!inUse(handle)) return handle;
        }
    }

    // Takes over one reference of `object`; 0 (the reference given back) when the peer is gone
    // or holds as many handles as it may.
    Handle addHandle(OSObject* object) {
        std::unique_lock<std::mutex> guard(lock);
        if (disconnected || full()) {
            guard.unlock();
            object->release();
            return 0;
        }
        Handle handle = newHandle();
        objects[handle] = Entry{object, 1};
        return handle;
    }

    // Retained object behind a handle, or null.
    template <class T>
    T* copy(Handle handle) {
        std::lock_guard<std::mutex> guard(lock);
        auto it = objects.find(handle);
        if (it == objects.end()) return nullptr;
        T* typed = OSDynamicCast(T, it->second.object);
        if (typed) typed->retain();
        return typed;
    }

    // One fact of the registry entry behind a handle, into *out.
    template <class T, class Read>
    IOReturn readEntry(Handle handle, T* out, Read read) {
        if (!out) return kIOReturnBadArgument;
        auto* entry = copy<IORegistryEntry>(handle);
        if (!entry) return kIOReturnBadArgument;
        *out = read(*entry);
        entry->release();
        return kIOReturnSuccess;
    }

    // A property of the registry entry behind a handle, as `find` copies it, into *value.
    template <class Find>
    IOReturn readProperty(Handle handle, std::optional<Value>* value, Find find) {
        if (!value) return kIOReturnBadArgument;
        *value = std::nullopt;
        auto* entry = copy<IORegistryEntry>(handle);
        if (!entry) return kIOReturnBadArgument;
        if (OSObject* object = find(*entry)) {
            *value = toValue(object);
            object->release();
        }
        entry->release();
        return kIOReturnSuccess;
    }
};

EmbeddedLink::EmbeddedLink() : impl_(std::make_shared<Impl>()) {
    impl_->peer.pid = static_cast<int>(getpid());
    impl_->peer.sessionID = gNextSession.fetch_add(1);
}

EmbeddedLink::~EmbeddedLink() { disconnect(); }

void EmbeddedLink::disconnect() {
    std::map<Handle, Impl::Entry> objects;
    std::map<Handle, IOUserClient*> connections;
    std::map<uint64_t, IONotifier*> notifiers;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->disconnected) return;
        impl_->disconnected = true;
        objects.swap(impl_->objects);
        connections.swap(impl_->connections);
        notifiers.swap(impl_->notifiers);
        impl_->sink = nullptr;
    }
    for (auto& [id, notifier] : notifiers) notifier->remove();
    for (auto& [handle, client] : connections) {
        client->clientDied();
        client->release();
    }
    for (auto& [handle, entry] : objects) entry.object->release();
}

bool EmbeddedLink::holdsNothingOpen() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->connections.empty() && impl_->notifiers.empty();
}

size_t EmbeddedLink::handleCount() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->objects.size() + impl_->connections.size();
}

size_t EmbeddedLink::connectionCount() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->connections.size();
}

void EmbeddedLink::setLimitsForTesting(size_t maxHandles, Handle nextHandle) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->maxHandles = maxHandles;
    impl_->nextHandle = nextHandle;
}

IOReturn EmbeddedLink::getMatchingServices(const MatchingDictionary& matching, std::vector<Handle>* services) {
    if (!services) return kIOReturnBadArgument;
    services->clear();
    OSDictionary* dict = toDictionary(matching);
    auto found = IOService::copyMatchingServices(dict);
    dict->release();
    {
        // All or nothing: a peer at its limit gets no partial list.
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->disconnected && !impl_->hasRoomFor(found.size())) {
            for (auto* service : found) service->release();
            return kIOReturnNoResources;
        }
    }
    for (auto* service : found) {
        Handle handle = impl_->addHandle(service);
        if (handle) services->push_back(handle);
    }
    return kIOReturnSuccess;
}

IOReturn EmbeddedLink::retainObject(Handle object) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    auto it = impl_->objects.find(object);
    if (it == impl_->objects.end()) return kIOReturnBadArgument;
    if (it->second.userReferences >= kMaxUserReferences) return kIOReturnNoResources;
    ++it->second.userReferences;
    return kIOReturnSuccess;
}

IOReturn EmbeddedLink::releaseObject(Handle object) {
    OSObject* released = nullptr;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        auto it = impl_->objects.find(object);
        if (it == impl_->objects.end()) return kIOReturnBadArgument;
        if (--it->second.userReferences == 0) {
            released = it->second.object;
            impl_->objects.erase(it);
        }
    }
    if (released) released->release();
    return kIOReturnSuccess;
}

IOReturn EmbeddedLink::getProperty(Handle entry, const std::string& key, std::optional<Value>* value) {
    return impl_->readProperty(entry, value, [&](const IORegistryEntry& e) { return e.copyProperty(key.c_str()); });
}

IOReturn EmbeddedLink::searchProperty(Handle entry, const std::string& key, uint32_t options,
                                      std::optional<Value>* value) {
    return impl_->readProperty(entry, value, [&](const IORegistryEntry& e) {
        return e.copyProperty(key.c_str(), kIOServicePlane, options);
    });
}

IOReturn EmbeddedLink::getName(Handle entry, std::string* name) {
    return impl_->readEntry(entry, name, [](const IORegistryEntry& e) { return std::string(e.getName()); });
}

IOReturn EmbeddedLink::getEntryID(Handle entry, uint64_t* entryID) {
    return impl_->readEntry(entry, entryID, [](const IORegistryEntry& e) { return e.getRegistryEntryID(); });
}

IOReturn EmbeddedLink::getPath(Handle entry, std::string* path) {
    return impl_->readEntry(entry, path, [](const IORegistryEntry& e) { return e.getPath(kIOServicePlane); });
}

IOReturn EmbeddedLink::addNotification(uint64_t notificationID, NotificationKind kind,
                                       const MatchingDictionary& matching) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->disconnected) return kIOReturnNotAttached;
        if (impl_->notifiers.count(notificationID)) return kIOReturnBadArgument;
    }
    std::weak_ptr<Impl> weak = impl_;
    OSDictionary* dict = toDictionary(matching);
    IONotifier* notifier = IOService::addMatchingNotification(
        notificationType(kind), dict, [weak, notificationID](IOService* service) {
            auto impl = weak.lock();
            if (!impl) return;
            EventSink sink;
            {
                std::lock_guard<std::mutex> guard(impl->lock);
                sink = impl->sink;
            }
            if (!sink) return;
            service->retain();
            Handle handle = impl->addHandle(service);
            if (handle) sink(notificationID, handle);
        });
    dict->release();
    if (!notifier) return kIOReturnBadArgument;
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->disconnected) {
        notifier->remove();
        return kIOReturnNotAttached;
    }
    impl_->notifiers[notificationID] = notifier;
    return kIOReturnSuccess;
}

IOReturn EmbeddedLink::removeNotification(uint64_t notificationID) {
    IONotifier* notifier = nullptr;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        auto it = impl_->notifiers.find(notificationID);
        if (it == impl_->notifiers.end()) return kIOReturnBadArgument;
        notifier = it->second;
        impl_->notifiers.erase(it);
    }
    notifier->remove();
    return kIOReturnSuccess;
}

void EmbeddedLink::setEventSink(EventSink sink) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->sink = std::move(sink);
}

IOReturn EmbeddedLink::openConnection(Handle service, uint32_t type, Handle* connection) {
    if (!connection) return kIOReturnBadArgument;
    *connection = 0;
    auto* target = impl_->copy<IOService>(service);
    if (!target) return kIOReturnBadArgument;
    IOUserClient* client = nullptr;
    IOReturn result = target->newUserClient(&impl_->peer, nullptr, type, nullptr, &client);
    target->release();
    if (result != kIOReturnSuccess) return result;
    std::unique_lock<std::mutex> guard(impl_->lock);
    if (impl_->disconnected || impl_->full()) {
        const bool gone = impl_->disconnected;
        guard.unlock();
        if (gone) client->clientDied();
        else client->clientClose();
        client->release();
        return gone ? kIOReturnNotAttached : kIOReturnNoResources;
    }
    Handle handle = impl_->newHandle();
    impl_->connections[handle] = client;
    *connection = handle;
    return kIOReturnSuccess;
}

IOReturn EmbeddedLink::callMethod(Handle connection, uint32_t selector, const std::vector<uint64_t>& scalarInput,
                                  const std::vector<uint8_t>& structureInput, uint32_t scalarOutputCount,
                                  uint32_t structureOutputSize, CallResult* result) {
    if (!beginCall(result, scalarInput.size(), structureInput.size(), scalarOutputCount, structureOutputSize)) {
        return kIOReturnBadArgument;
    }
    IOUserClient* client = nullptr;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        auto it = impl_->connections.find(connection);
        if (it == impl_->connections.end()) return impl_->disconnected ? kIOReturnNotAttached : kIOReturnBadArgument;
        client = it->second;
        client->retain();
    }
    std::vector<uint64_t> scalarsOut(scalarOutputCount, 0);
    std::vector<uint8_t> structureOut(structureOutputSize, 0);
    IOExternalMethodArguments args;
    args.selector = selector;
    args.scalarInput = scalarInput.empty() ? nullptr : scalarInput.data();
    args.scalarInputCount = static_cast<uint32_t>(scalarInput.size());
    args.structureInput = structureInput.empty() ? nullptr : structureInput.data();
    args.structureInputSize = static_cast<uint32_t>(structureInput.size());
    args.scalarOutput = scalarsOut.empty() ? nullptr : scalarsOut.data();
    args.scalarOutputCount = scalarOutputCount;
    args.structureOutput = structureOut.empty() ? nullptr : structureOut.data();
    args.structureOutputSize = structureOutputSize;
    IOReturn status = client->externalMethod(selector, &args, nullptr, nullptr, nullptr);
    client->release();
    scalarsOut.resize(std::min(args.scalarOutputCount, scalarOutputCount));
    structureOut.resize(std::min(args.structureOutputSize, structureOutputSize));
    result->scalarOutput = std::move(scalarsOut);
    result->structureOutput = std::move(structureOut);
    return status;
}

IOReturn EmbeddedLink::closeConnection(Handle connection) {
    IOUserClient* client = nullptr;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        auto it = impl_->connections.find(connection);
        if (it == impl_->connections.end()) return kIOReturnBadArgument;
        client = it->second;
        impl_->connections.erase(it);
    }
    client->clientClose();
    client->release();
    return kIOReturnSuccess;
}

}  // namespace iokit
