#pragma once
// The application's side of the socket link to the driver host. It connects when first used
// and again whenever the host comes back, registering its notifications anew; while no host
// runs there are no services, as with a driver that is not loaded. When the host goes away,
// calls in flight fail with kIOReturnNotAttached, and every service a terminate notification
// covered is reported terminated (its name, ID, path and properties stay readable).
// A calling thread reads its own reply from the socket (and hands on whatever else it reads);
// a close returns once sent, and the link's later method calls wait until the host has done it.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/iokit/link/Link.h"

namespace iokit {

// Not among the kernel layer's codes: the host refused this peer; the host did not answer.
constexpr IOReturn kIOReturnNotPrivileged = static_cast<IOReturn>(0xE00002C1u);
constexpr IOReturn kIOReturnTimeout = static_cast<IOReturn>(0xE00002D6u);

// Why the host turned this peer away.
enum class Refusal {
    none,
    notAdmitted,         // neither root nor in the host's group (added to it, but not logged in since)
    processFull,         // this process holds its share of connections
    userShareFull,       // this user's processes hold their share
    tableFull,           // every slot of the host is taken
    socketNotPermitted,  // the socket file itself may not be opened by this user
};
// The host's own words for a refusal, for logs and the command line.
const char* describeRefusal(Refusal refusal);

// Whether a host serves the link: `unknown` before the first try, `absent` when none answers.
struct HostStatus {
    enum class State { unknown, connected, absent, refused };
    State state = State::unknown;
    Refusal refusal = Refusal::none;  // with `refused`
    bool operator==(const HostStatus&) const = default;
};

class SocketLink : public Link {
public:
    explicit SocketLink(std::filesystem::path socketPath);
    ~SocketLink() override;  // closes the session: the host hears clientDied for open connections

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
    uint64_t hostLosses() const override;

    // Connects now when not connected: kIOReturnSuccess, kIOReturnNotAttached (no host) or
    // kIOReturnNotPrivileged (the host, or its socket file, refused this peer: hostStatus says
    // why). A refused link keeps its notifications and tries again as it does for a lost host.
    IOReturn connect();
    bool isConnected() const;
    HostStatus hostStatus() const;
    // Told the status now (once known, before this returns) and then each change, on the link's
    // threads, one call at a time; it must not call back into the link (hand the work on).
    // Null: none is told.
    void setHostStatusObserver(std::function<void(HostStatus)> observer);
    // The host answers a request.
    IOReturn ping();
    // A control request of the driver host ("plug", "unplug", "list", ...).
    IOReturn control(const std::vector<std::string>& arguments, std::string* reply);
    // How often a link with notifications looks for a host that is not there (system clock).
    void setReconnectInterval(int64_t ms);
    // How long a call waits for a host that neither answers nor goes away (a stopped or wedged
    // process): well beyond the longest camera command. The call then fails with
    // kIOReturnTimeout and a late answer is dropped.
    void setCallTimeout(int64_t ms);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// The link the application uses: HVB_IOKIT_LINK=embedded asks for the in-process kernel
// layer (tests, configurations without a host); otherwise the driver host's socket.
std::shared_ptr<Link> makeConfiguredLink();
// Makes makeConfiguredLink() the current link.
void installConfiguredLink();

}  // namespace iokit
