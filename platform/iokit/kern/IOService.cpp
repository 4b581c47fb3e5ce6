#include "platform/iokit/kern/IOService.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/iokit/kern/IOLib.h"
#include "platform/iokit/kern/IOUserClient.h"

struct IONotifier::State {
    std::string type;
    OSDictionary* matching = nullptr;
    Handler handler;
    std::atomic<bool> removed{false};
    std::mutex deliveredLock;
    // Matched kinds: each service once, however it arrives (the registration and the first
    // run over the registered services may race); a service leaves it when it terminates.
    std::set<uint64_t> delivered;
    ~State() {
        if (matching) matching->release();
    }
};

namespace {

struct Catalogue {
    std::vector<OSDictionary*> personalities;                   // retained
    std::vector<IOService*> registered;                         // retained, registration order
    std::vector<std::shared_ptr<IONotifier::State>> notifiers;  // guarded by IORegistryLock()
};

Catalogue& catalogue() {
    static auto* c = new Catalogue;
    return *c;
}

bool isMatchedKind(const std::string& type) {
    return type == kIOMatchedNotification || type == kIOFirstMatchNotification;
}

// Notifiers of `type` that want `service`; the caller holds no lock.
std::vector<std::shared_ptr<IONotifier::State>> notifiersFor(const char* type, const IOService* service) {
    std::vector<std::shared_ptr<IONotifier::State>> out;
    std::vector<std::shared_ptr<IONotifier::State>> all;
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        all = catalogue().notifiers;
    }
    for (auto& state : all) {
        if (!state->removed && state->type == type && IOService::serviceMatches(service, state->matching)) {
            out.push_back(state);
        }
    }
    return out;
}

void fire(IONotifier::State& state, IOService* service) {
    if (state.removed) return;
    if (isMatchedKind(state.type)) {
        // Checked under the lock that forget() takes after the service went inactive: either
        // the entry is made before it is forgotten, or the service is seen inactive and none
        // is made, so a terminated service never stays behind nor is matched again.
        std::lock_guard<std::mutex> guard(state.deliveredLock);
        if (service->isInactive()) return;
        if (!state.delivered.insert(service->getRegistryEntryID()).second) return;
    }
    state.handler(service);
}

// The matched notifiers let go of services that have gone inactive.
void forget(const std::vector<uint64_t>& entryIDs) {
    std::vector<std::shared_ptr<IONotifier::State>> all;
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        all = catalogue().notifiers;
    }
    for (auto& state : all) {
        if (!isMatchedKind(state->type)) continue;
        std::lock_guard<std::mutex> guard(state->deliveredLock);
        for (uint64_t id : entryIDs) state->delivered.erase(id);
    }
}

void deliver(const std::vector<std::shared_ptr<IONotifier::State>>& states, IOService* service) {
    for (auto& state : states) fire(*state, service);
}

SInt32 probeScore(const OSDictionary* personality) {
    auto* score = OSDynamicCast(OSNumber, personality->getObject(kIOProbeScoreKey));
    return score ? static_cast<SInt32>(score->unsigned32BitValue()) : 0;
}

bool providerClassFits(IOService* nub, OSDictionary* personality) {
    auto* providerClass = OSDynamicCast(OSString, personality->getObject(kIOProviderClassKey));
    return providerClass && nub->isKindOf(providerClass->getCStringNoCopy());
}

bool hasClientOfClass(IOService* nub, const char* className) {
    auto children = nub->copyChildEntries();
    bool found = false;
    for (auto* child : children) found = found || std::strcmp(child->getClassName(), className) == 0;
    releaseAll(children);
    return found;
}

// Tries the personalities (best score first) until one driver starts on the nub.
void matchDrivers(IOService* nub, const std::vector<OSDictionary*>& personalities) {
    std::vector<std::pair<SInt32, OSDictionary*>> candidates;
    for (auto* personality : personalities) {
        SInt32 score = probeScore(personality);
        auto* propertyMatch = OSDynamicCast(OSDictionary, personality->getObject(kIOPropertyMatchKey));
        bool fits = providerClassFits(nub, personality) && nub->matchPropertyTable(personality, &score);
        if (fits && propertyMatch) {
            for (auto& key : propertyMatch->keys()) {
                OSObject* mine = nub->copyProperty(key.c_str());
                fits = fits && mine && mine->isEqualTo(propertyMatch->getObject(key.c_str()));
                if (mine) mine->release();
            }
        }
        if (fits) candidates.emplace_back(score, personality);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (auto& [score, personality] : candidates) {
        if (nub->isInactive()) return;
        auto* className = OSDynamicCast(OSString, personality->getObject(kIOClassKey));
        if (!className || hasClientOfClass(nub, className->getCStringNoCopy())) continue;
        OSObject* object = OSMetaClass::allocClassWithName(className->getCStringNoCopy());
        IOService* driver = OSDynamicCast(IOService, object);
        if (!driver) {
            if (object) object->release();
            IOLog("IOService: no service class %s\n", className->getCStringNoCopy());
            continue;
        }
        if (!driver->init(personality) || !driver->attach(nub)) {
            driver->release();
            continue;
        }
        SInt32 probeResultScore = score;
        if (!driver->probe(nub, &probeResultScore)) {
            driver->detach(nub);
            driver->release();
            continue;
        }
        if (!driver->start(nub)) {
            driver->detach(nub);
            driver->release();
            continue;
        }
        driver->release();  // the registry keeps it through the attachment
        return;
    }
}

}  // namespace

void IONotifier::remove() {
    if (state_) {
        state_->removed = true;
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        auto& list = catalogue().notifiers;
        list.erase(std::remove(list.begin(), list.end(), state_), list.end());
    }
    delete this;
}

OSDefineMetaClassAndStructors(IOService, IORegistryEntry);

bool IOService::init(OSDictionary* dictionary) { return IORegistryEntry::init(dictionary); }

IOService* IOService::probe(IOService*, SInt32*) { return this; }
bool IOService::start(IOService*) { return true; }
void IOService::stop(IOService*) {}
bool IOService::willTerminate(IOService*, IOOptionBits) { return true; }
bool IOService::didTerminate(IOService*, IOOptionBits, bool* defer) {
    if (defer) *defer = false;
    return true;
}
bool IOService::finalize(IOOptionBits) { return true; }
bool IOService::matchPropertyTable(OSDictionary*, SInt32*) { return true; }

bool IOService::attach(IOService* provider) {
    if (!provider || provider->isInactive()) return false;
    return attachToParent(provider);
}

void IOService::detach(IOService* provider) {
    if (provider) detachFromParent(provider);
}

IOService* IOService::getProvider() const {
    std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
    auto parents = copyParentEntries();
    IOService* provider = parents.empty() ? nullptr : OSDynamicCast(IOService, parents.front());
    releaseAll(parents);  // still held by the link
    return provider;
}

IOService* IOService::getClient() const {
    std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
    auto children = copyChildEntries();
    IOService* client = children.empty() ? nullptr : OSDynamicCast(IOService, children.front());
    releaseAll(children);
    return client;
}

void IOService::registerService(IOOptionBits) {
    if (isInactive()) return;
    std::vector<OSDictionary*> personalities;
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        // Under the lock terminate() marks services inactive in, so a service terminated
        // meanwhile never enters the list it would not leave.
        if (isInactive() || registered_.exchange(true)) return;
        retain();
        catalogue().registered.push_back(this);
        personalities = catalogue().personalities;
        for (auto* p : personalities) p->retain();
    }
    retain();  // a driver's start may terminate us meanwhile
    matchDrivers(this, personalities);
    for (auto* p : personalities) p->release();
    if (!isInactive()) {
        deliver(notifiersFor(kIOMatchedNotification, this), this);
        deliver(notifiersFor(kIOFirstMatchNotification, this), this);
    }
    release();
}

bool IOService::terminate(IOOptionBits options) {
    std::vector<IOService*> victims;  // top down, retained
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        if (inactive_.exchange(true)) return false;
        retain();
        victims.push_back(this);
        for (size_t i = 0; i < victims.size(); ++i) {
            auto children = victims[i]->copyChildEntries();
            for (auto* child : children) {
                auto* client = OSDynamicCast(IOService, child);
                if (!client || client->isInactive()) continue;
                auto providers = client->copyParentEntries();
                bool orphaned = std::all_of(providers.begin(), providers.end(), [](IORegistryEntry* p) {
                    auto* s = OSDynamicCast(IOService, p);
                    return !s || s->isInactive();
                });
                releaseAll(providers);
                if (orphaned) {
                    client->inactive_ = true;
                    client->retain();
                    victims.push_back(client);
                }
            }
            releaseAll(children);
        }
        auto& registered = catalogue().registered;
        for (auto* victim : victims) {
            auto it = std::find(registered.begin(), registered.end(), victim);
            if (it != registered.end()) {
                registered.erase(it);
                victim->release();  // the list's reference; `victims` still holds one
            }
        }
    }
    auto isVictim = [&](IORegistryEntry* entry) {
        return std::find(victims.begin(), victims.end(), entry) != victims.end();
    };
    std::vector<std::vector<IOService*>> providersOf;
    for (auto* victim : victims) {
        auto parents = victim->copyParentEntries();
        std::vector<IOService*> providers;
        for (auto* parent : parents) {
            if (auto* provider = OSDynamicCast(IOService, parent)) providers.push_back(provider);
            else parent->release();
        }
        providersOf.push_back(std::move(providers));
    }
    for (size_t i = 0; i < victims.size(); ++i) {
        for (auto* provider : providersOf[i]) {
            if (isVictim(provider)) victims[i]->willTerminate(provider, options);
        }
    }
    std::vector<uint64_t> victimIDs;
    for (auto* victim : victims) victimIDs.push_back(victim->getRegistryEntryID());
    forget(victimIDs);
    for (auto* victim : victims) {
        if (victim->isRegistered()) deliver(notifiersFor(kIOTerminatedNotification, victim), victim);
    }
    for (size_t i = 0; i < victims.size(); ++i) {
        for (auto* provider : providersOf[i]) {
            if (!isVictim(provider)) continue;
            bool defer = false;
            victims[i]->didTerminate(provider, options, &defer);
        }
    }
    for (size_t i = victims.size(); i-- > 0;) {
        for (auto* provider : providersOf[i]) victims[i]->stop(provider);
    }
    for (size_t i = victims.size(); i-- > 0;) {
        for (auto* provider : providersOf[i]) victims[i]->detach(provider);
    }
    for (size_t i = victims.size(); i-- > 0;) victims[i]->finalize(options);
    for (size_t i = victims.size(); i-- > 0;) {
        for (auto* provider : providersOf[i]) provider->release();
        victims[i]->release();
    }
    return true;
}

bool IOService::open(IOService* forClient, IOOptionBits options, void* arg) {
    if (!forClient || isInactive()) return false;
    std::lock_guard<std::mutex> guard(openLock_);
    return handleOpen(forClient, options, arg);
}

void IOService::close(IOService* forClient, IOOptionBits options) {
    std::lock_guard<std::mutex> guard(openLock_);
    if (handleIsOpen(forClient)) handleClose(forClient, options);
}

bool IOService::isOpen(const IOService* forClient) const {
    std::lock_guard<std::mutex> guard(openLock_);
    return handleIsOpen(forClient);
}

bool IOService::handleOpen(IOService* forClient, IOOptionBits, void*) {
    if (opener_ && opener_ != forClient) return false;
    opener_ = forClient;
    return true;
}

void IOService::handleClose(IOService* forClient, IOOptionBits) {
    if (opener_ == forClient) opener_ = nullptr;
}

bool IOService::handleIsOpen(const IOService* forClient) const {
    return forClient ? opener_ == forClient : opener_ != nullptr;
}

IOReturn IOService::newUserClient(task_t owningTask, void* securityID, UInt32 type, OSDictionary*,
                                  IOUserClient** handler) {
    if (!handler) return kIOReturnBadArgument;
    *handler = nullptr;
    if (isInactive()) return kIOReturnNoDevice;
    auto* className = OSDynamicCast(OSString, copyProperty(kIOUserClientClassKey));
    if (!className) return kIOReturnUnsupported;
    OSObject* object = OSMetaClass::allocClassWithName(className->getCStringNoCopy());
    className->release();
    auto* client = OSDynamicCast(IOUserClient, object);
    if (!client) {
        if (object) object->release();
        return kIOReturnUnsupported;
    }
    if (!client->initWithTask(owningTask, securityID, type)) {
        client->release();
        return kIOReturnUnsupported;
    }
    if (!client->attach(this)) {
        client->release();
        return isInactive() ? kIOReturnNoDevice : kIOReturnUnsupported;
    }
    if (!client->start(this)) {
        client->detach(this);
        client->release();
        return kIOReturnUnsupported;
    }
    *handler = client;
    return kIOReturnSuccess;
}

// ---- catalogue -------------------------------------------------------------------------------

bool IOService::addPersonality(OSDictionary* personality) {
    if (!personality || !OSDynamicCast(OSString, personality->getObject(kIOClassKey)) ||
        !OSDynamicCast(OSString, personality->getObject(kIOProviderClassKey))) {
        return false;
    }
    std::vector<IOService*> existing;
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        personality->retain();
        catalogue().personalities.push_back(personality);
        existing = catalogue().registered;
        for (auto* service : existing) service->retain();
    }
    for (auto* service : existing) {
        if (!service->isInactive()) matchDrivers(service, {personality});
        service->release();
    }
    return true;
}

IOService* IOService::getServiceRoot() {
    static IOService* root = [] {
        auto* service = new IOService;
        service->init();
        service->setName("Root");
        return service;
    }();
    return root;
}

bool IOService::serviceMatches(const IOService* service, const OSDictionary* matching) {
    if (!service || !matching) return false;
    if (auto* cls = OSDynamicCast(OSString, matching->getObject(kIOProviderClassKey))) {
        if (!service->isKindOf(cls->getCStringNoCopy())) return false;
    }
    if (auto* name = OSDynamicCast(OSString, matching->getObject(kIONameMatchKey))) {
        if (!name->isEqualTo(service->getName())) return false;
    }
    if (auto* properties = OSDynamicCast(OSDictionary, matching->getObject(kIOPropertyMatchKey))) {
        for (auto& key : properties->keys()) {
            OSObject* mine = service->copyProperty(key.c_str());
            bool equal = mine && mine->isEqualTo(properties->getObject(key.c_str()));
            if (mine) mine->release();
            if (!equal) return false;
        }
    }
    return true;
}

std::vector<IOService*> IOService::copyMatchingServices(const OSDictionary* matching) {
    std::vector<IOService*> all;
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        all = catalogue().registered;
        for (auto* service : all) service->retain();
    }
    std::vector<IOService*> out;
    for (auto* service : all) {
        if (!service->isInactive() && serviceMatches(service, matching)) {
            out.push_back(service);
        } else {
            service->release();
        }
    }
    return out;
}

size_t IOService::notifiedServiceCount() {
    std::vector<std::shared_ptr<IONotifier::State>> all;
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        all = catalogue().notifiers;
    }
    size_t count = 0;
    for (auto& state : all) {
        std::lock_guard<std::mutex> guard(state->deliveredLock);
        count += state->delivered.size();
    }
    return count;
}

IONotifier* IOService::addMatchingNotification(const char* type, OSDictionary* matching,
                                               IONotifier::Handler handler) {
    if (!type || !matching || !handler) return nullptr;
    auto state = std::make_shared<IONotifier::State>();
    state->type = type;
    matching->retain();
    state->matching = matching;
    state->handler = std::move(handler);
    auto* notifier = new IONotifier;
    notifier->state_ = state;
    std::vector<IOService*> existing;
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        catalogue().notifiers.push_back(state);
        if (isMatchedKind(state->type)) {
            existing = catalogue().registered;
            for (auto* service : existing) service->retain();
        }
    }
    for (auto* service : existing) {
        if (!service->isInactive() && serviceMatches(service, matching)) fire(*state, service);
        service->release();
    }
    return notifier;
}
