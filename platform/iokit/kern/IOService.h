#pragma once
// Services: life cycle, driver matching, open and close, termination, notifications.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/iokit/kern/IORegistryEntry.h"

class IOUserClient;

constexpr const char* kIOMatchedNotification = "IOServiceMatched";
constexpr const char* kIOFirstMatchNotification = "IOServiceFirstMatch";
constexpr const char* kIOTerminatedNotification = "IOServiceTerminate";

// Matching-dictionary and personality keys.
constexpr const char* kIOProviderClassKey = "IOProviderClass";
constexpr const char* kIOClassKey = "IOClass";
constexpr const char* kIONameMatchKey = "IONameMatch";
constexpr const char* kIOPropertyMatchKey = "IOPropertyMatch";
constexpr const char* kIOProbeScoreKey = "IOProbeScore";
constexpr const char* kIOUserClientClassKey = "IOUserClientClass";

class IOService;

// A registered interest in services; remove() ends it and deletes the notifier (handlers
// running now still finish).
class IONotifier {
public:
    using Handler = std::function<void(IOService* service)>;
    void remove();
    struct State;

private:
    friend class IOService;
    IONotifier() = default;
    ~IONotifier() = default;
    std::shared_ptr<State> state_;
};

class IOService : public IORegistryEntry {
    OSDeclareDefaultStructors(IOService)
public:
    // ---- life cycle (the platform calls these) ----
    bool init(OSDictionary* dictionary = nullptr) override;
    virtual IOService* probe(IOService* provider, SInt32* score);
    virtual bool start(IOService* provider);
    virtual void stop(IOService* provider);
    virtual bool willTerminate(IOService* provider, IOOptionBits options);
    virtual bool didTerminate(IOService* provider, IOOptionBits options, bool* defer);
    // Phase 1 marks this service and every client left without an active provider inactive,
    // then the clients hear willTerminate (top down), terminate notifications go out, clients
    // hear didTerminate, everything stops bottom up, detaches, is finalized and released.
    // False when the service was already inactive.
    virtual bool terminate(IOOptionBits options = 0);
    virtual bool finalize(IOOptionBits options);

    virtual bool attach(IOService* provider);
    virtual void detach(IOService* provider);
    IOService* getProvider() const;  // first provider, borrowed
    IOService* getClient() const;    // first client, borrowed
    bool isInactive() const { return inactive_.load(); }

    // Publishes the service: drivers are matched to it, then notifications go out.
    virtual void registerService(IOOptionBits options = 0);
    bool isRegistered() const { return registered_.load(); }
    // A family's own matching of a personality's keys against this nub.
    virtual bool matchPropertyTable(OSDictionary* table, SInt32* score);

    // ---- open / close: one client at a time ----
    bool open(IOService* forClient, IOOptionBits options = 0, void* arg = nullptr);
    void close(IOService* forClient, IOOptionBits options = 0);
    bool isOpen(const IOService* forClient = nullptr) const;

    // Creates the user client named by the IOUserClientClass property.
    virtual IOReturn newUserClient(task_t owningTask, void* securityID, UInt32 type, OSDictionary* properties,
                                   IOUserClient** handler);

    // ---- the catalogue of personalities and the service lists ----
    // Adds a driver personality and matches it against the services already registered.
    static bool addPersonality(OSDictionary* personality);
    static IOService* getServiceRoot();
    // Retained, in registration order; only active registered services.
    static std::vector<IOService*> copyMatchingServices(const OSDictionary* matching);
    static bool serviceMatches(const IOService* service, const OSDictionary* matching);
    // The handler runs on the thread that registers or terminates a service, without locks
    // held. For the matched kinds it runs first for every service registered already.
    static IONotifier* addMatchingNotification(const char* type, OSDictionary* matching, IONotifier::Handler handler);
    // The services the matched notifiers remember having reported, over all of them: the
    // active ones they matched, none that has terminated.
    static size_t notifiedServiceCount();

protected:
    virtual bool handleOpen(IOService* forClient, IOOptionBits options, void* arg);
    virtual void handleClose(IOService* forClient, IOOptionBits options);
    virtual bool handleIsOpen(const IOService* forClient) const;

private:
    std::atomic<bool> inactive_{false};
    std::atomic<bool> registered_{false};
    mutable std::mutex openLock_;
    const IOService* opener_ = nullptr;  // identity only; never dereferenced
};
