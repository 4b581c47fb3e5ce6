#pragma once
// The user side's only way to the kernel side. Everything crossing it is a plain value, so a
// link may be a function call (the embedded link) or a message on a socket.
#include <functional>
#include <memory>

#include "platform/iokit/kern/IOTypes.h"
#include "platform/iokit/link/LinkTypes.h"

namespace iokit {

class Link {
public:
    // Called from any thread when a notification fires; the service handle is the receiver's
    // to release.
    using EventSink = std::function<void(uint64_t notificationID, Handle service)>;

    virtual ~Link() = default;

    // Each handle returned is retained for the caller.
    virtual IOReturn getMatchingServices(const MatchingDictionary& matching, std::vector<Handle>* services) = 0;
    virtual IOReturn retainObject(Handle object) = 0;
    virtual IOReturn releaseObject(Handle object) = 0;

    virtual IOReturn getProperty(Handle entry, const std::string& key, std::optional<Value>* value) = 0;
    virtual IOReturn searchProperty(Handle entry, const std::string& key, uint32_t options,
                                    std::optional<Value>* value) = 0;
    virtual IOReturn getName(Handle entry, std::string* name) = 0;
    virtual IOReturn getEntryID(Handle entry, uint64_t* entryID) = 0;
    virtual IOReturn getPath(Handle entry, std::string* path) = 0;

    // The caller picks the ID. For the matched kinds, services registered already are sent to
    // the sink before this returns.
    virtual IOReturn addNotification(uint64_t notificationID, NotificationKind kind,
                                     const MatchingDictionary& matching) = 0;
    virtual IOReturn removeNotification(uint64_t notificationID) = 0;
    virtual void setEventSink(EventSink sink) = 0;

    virtual IOReturn openConnection(Handle service, uint32_t type, Handle* connection) = 0;
    // Calls on different connections may run at the same time and may block for a long time.
    virtual IOReturn callMethod(Handle connection, uint32_t selector, const std::vector<uint64_t>& scalarInput,
                                const std::vector<uint8_t>& structureInput, uint32_t scalarOutputCount,
                                uint32_t structureOutputSize, CallResult* result) = 0;
    virtual IOReturn closeConnection(Handle connection) = 0;
    // How often the kernel side has gone away under this link so far (its host process ended);
    // the in-process kernel layer never goes.
    virtual uint64_t hostLosses() const { return 0; }
};

// The link the user-side calls use; the embedded link unless another was set.
std::shared_ptr<Link> currentLink();
void setCurrentLink(std::shared_ptr<Link> link);

}  // namespace iokit
