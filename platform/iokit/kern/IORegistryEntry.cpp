#include "platform/iokit/kern/IORegistryEntry.h"

#include <algorithm>
#include <atomic>

std::recursive_mutex& IORegistryLock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

namespace {
std::atomic<uint64_t> gNextEntryID{0x100000100ull};
constexpr int kMaxSearchDepth = 64;

OSObject* search(const IORegistryEntry* entry, const char* key, IOOptionBits options, int depth) {
    if (OSObject* value = entry->copyProperty(key)) return value;
    if (!(options & kIORegistryIterateRecursively) || depth >= kMaxSearchDepth) return nullptr;
    auto next = (options & kIORegistryIterateParents) ? entry->copyParentEntries() : entry->copyChildEntries();
    OSObject* found = nullptr;
    for (auto* other : next) {
        if (!found) found = search(other, key, options, depth + 1);
    }
    releaseAll(next);
    return found;
}
}  // namespace

void releaseAll(const std::vector<IORegistryEntry*>& entries) {
    for (auto* entry : entries) entry->release();
}

OSDefineMetaClassAndStructors(IORegistryEntry, OSObject);

bool IORegistryEntry::init(OSDictionary* dictionary) {
    std::lock_guard<std::mutex> guard(propertyLock_);
    if (!properties_) properties_ = OSDictionary::withCapacity(8);
    if (dictionary) {
        for (auto& key : dictionary->keys()) properties_->setObject(key.c_str(), dictionary->getObject(key.c_str()));
    }
    if (entryID_ == 0) entryID_ = gNextEntryID.fetch_add(1);
    return true;
}

const char* IORegistryEntry::getName() const {
    std::lock_guard<std::mutex> guard(propertyLock_);
    return name_.empty() ? getClassName() : name_.c_str();
}

void IORegistryEntry::setName(const char* name) {
    std::lock_guard<std::mutex> guard(propertyLock_);
    name_ = name ? name : "";
}

OSObject* IORegistryEntry::getProperty(const char* key) const {
    std::lock_guard<std::mutex> guard(propertyLock_);
    return properties_ ? properties_->getObject(key) : nullptr;
}

OSObject* IORegistryEntry::copyProperty(const char* key) const {
    std::lock_guard<std::mutex> guard(propertyLock_);
    OSObject* value = properties_ ? properties_->getObject(key) : nullptr;
    if (value) value->retain();
    return value;
}

OSObject* IORegistryEntry::copyProperty(const char* key, const char*, IOOptionBits options) const {
    if (!key) return nullptr;
    return search(this, key, options, 0);
}

bool IORegistryEntry::setProperty(const char* key, OSObject* value) {
    std::lock_guard<std::mutex> guard(propertyLock_);
    if (!properties_) properties_ = OSDictionary::withCapacity(8);
    return properties_->setObject(key, value);
}

bool IORegistryEntry::setProperty(const char* key, const char* text) {
    OSString* value = OSString::withCString(text);
    bool ok = setProperty(key, value);
    value->release();
    return ok;
}

bool IORegistryEntry::setProperty(const char* key, uint64_t number, unsigned numberOfBits) {
    OSNumber* value = OSNumber::withNumber(number, numberOfBits);
    bool ok = setProperty(key, value);
    value->release();
    return ok;
}

bool IORegistryEntry::setProperty(const char* key, bool flag) {
    OSBoolean* value = OSBoolean::withBoolean(flag);
    bool ok = setProperty(key, value);
    value->release();
    return ok;
}

std::vector<std::string> IORegistryEntry::propertyKeys() const {
    std::lock_guard<std::mutex> guard(propertyLock_);
    return properties_ ? properties_->keys() : std::vector<std::string>{};
}

std::string IORegistryEntry::getPath(const char* plane) const {
    std::vector<std::string> names;
    std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
    const IORegistryEntry* entry = this;
    for (int depth = 0; entry && depth < kMaxSearchDepth; ++depth) {
        if (entry->parents_.empty()) break;  // the root is not named in paths
        names.push_back(entry->getName());
        entry = entry->parents_.front();
    }
    std::string path = std::string(plane ? plane : kIOServicePlane) + ":";
    if (names.empty()) return path + "/";
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + *it;
    return path;
}

std::vector<IORegistryEntry*> IORegistryEntry::copyParentEntries() const {
    std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
    for (auto* parent : parents_) parent->retain();
    return parents_;
}

std::vector<IORegistryEntry*> IORegistryEntry::copyChildEntries() const {
    std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
    for (auto* child : children_) child->retain();
    return children_;
}

bool IORegistryEntry::attachToParent(IORegistryEntry* parent) {
    if (!parent || parent == this) return false;
    std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
    if (std::find(parents_.begin(), parents_.end(), parent) != parents_.end()) return true;
    parent->retain();
    parents_.push_back(parent);
    retain();
    parent->children_.push_back(this);
    return true;
}

void IORegistryEntry::detachFromParent(IORegistryEntry* parent) {
    bool linked = false;
    {
        std::lock_guard<std::recursive_mutex> guard(IORegistryLock());
        auto it = std::find(parents_.begin(), parents_.end(), parent);
        if (it != parents_.end()) {
            parents_.erase(it);
            auto& siblings = parent->children_;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
            linked = true;
        }
    }
    if (linked) {
        parent->release();
        release();  // may free this entry: nothing may follow
    }
}

void IORegistryEntry::free() {
    {
        std::lock_guard<std::mutex> guard(propertyLock_);
        if (properties_) properties_->release();
        properties_ = nullptr;
    }
    OSObject::free();
}
