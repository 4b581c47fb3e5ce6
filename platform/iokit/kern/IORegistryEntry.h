#pragma once
// Entries of the registry: a name, a property table, parent and child links in the service
// plane, an ID and a path.
#include <mutex>
#include <string>
#include <vector>

#include "platform/iokit/kern/OSObject.h"

// Guards the links between entries. Never held while calling a driver's virtual methods.
std::recursive_mutex& IORegistryLock();

class IORegistryEntry : public OSObject {
    OSDeclareDefaultStructors(IORegistryEntry)
public:
    // The properties of `dictionary` (when given) become the entry's own.
    virtual bool init(OSDictionary* dictionary = nullptr);

    const char* getName() const;  // the registry name; the class name unless set
    void setName(const char* name);

    // Borrowed: valid while the property stays set. copyProperty answers a retained object.
    OSObject* getProperty(const char* key) const;
    OSObject* copyProperty(const char* key) const;
    // Searches this entry and then, with kIORegistryIterateRecursively, its ancestors
    // (kIORegistryIterateParents) or its descendants. Retained result or null.
    OSObject* copyProperty(const char* key, const char* plane, IOOptionBits options) const;
    bool setProperty(const char* key, OSObject* value);
    bool setProperty(const char* key, const char* text);
    bool setProperty(const char* key, uint64_t value, unsigned numberOfBits);
    bool setProperty(const char* key, bool value);
    std::vector<std::string> propertyKeys() const;

    uint64_t getRegistryEntryID() const { return entryID_; }
    std::string getPath(const char* plane = kIOServicePlane) const;

    // Retained snapshots of the links.
    std::vector<IORegistryEntry*> copyParentEntries() const;
    std::vector<IORegistryEntry*> copyChildEntries() const;

protected:
    bool attachToParent(IORegistryEntry* parent);
    void detachFromParent(IORegistryEntry* parent);
    void free() override;

private:
    mutable std::mutex propertyLock_;
    OSDictionary* properties_ = nullptr;
    std::string name_;
    uint64_t entryID_ = 0;
    std::vector<IORegistryEntry*> parents_;   // guarded by IORegistryLock()
    std::vector<IORegistryEntry*> children_;  // guarded by IORegistryLock()
};

void releaseAll(const std::vector<IORegistryEntry*>& entries);
