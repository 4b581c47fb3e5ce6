#pragma once
// The kernel side of one peer, in this process: a table of the peer's handles and open
// connections over the kernel layer. The driver host serves each socket peer with one too.
#include <memory>

#include "platform/iokit/link/Link.h"

namespace iokit {

class EmbeddedLink : public Link {
public:
    EmbeddedLink();
    ~EmbeddedLink() override;  // as disconnect()

    IOReturn getMatchingServices(const MatchingDictionary& matching, std::vector<Handle>* services) override;
    IOReturn retainObject(Handle object) override;
    IOReturn releaseObject(Handle object) override;
    IOReturn getProperty(Handle entry, const std::string& key, std::optional<Value>* value) override;
    IOReturn searchProperty(Handle entry, const std::string& key, uint32_t options,
                            std::optional<Value>* value) override;
    IOReturn getName(Handle entry, std::string* name) override;
    IOReturn getEntryID(Handle entry, uint64_t* entryID) override;
    IOReturn getPath(Handle entry, std::string* path) override;
    IOReturn addNotification(uint64_t notificationID, NotificationKind kind,
                             const MatchingDictionary& matching) override;
    IOReturn removeNotification(uint64_t notificationID) override;
    void setEventSink(EventSink sink) override;
    IOReturn openConnection(Handle service, uint32_t type, Handle* connection) override;
    IOReturn callMethod(Handle connection, uint32_t selector, const std::vector<uint64_t>& scalarInput,
                        const std::vector<uint8_t>& structureInput, uint32_t scalarOutputCount,
                        uint32_t structureOutputSize, CallResult* result) override;
    IOReturn closeConnection(Handle connection) override;

    // The peer went away: every connection still open hears clientDied, notifications end and
    // every handle is released. Later calls answer kIOReturnNotAttached.
    void disconnect();

    // What one peer may hold: handles to objects and connections together (more answer
    // kIOReturnNoResources), and user references per handle.
    static constexpr size_t kMaxHandles = 4096;
    static constexpr uint32_t kMaxUserReferences = 65536;
    // No open connection and no notification: nothing the peer would lose if dropped now.
    bool holdsNothingOpen() const;
    size_t handleCount() const;
    size_t connectionCount() const;
    // Tests: a lower limit, and where the handle counter stands (to reach its wrap).
    void setLimitsForTesting(size_t maxHandles, Handle nextHandle);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace iokit
