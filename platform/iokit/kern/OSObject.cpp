#include "platform/iokit/kern/OSObject.h"

#include <cstring>

namespace {

struct ClassTable {
    std::mutex lock;
    std::map<std::string, const OSMetaClass*> byName;
};

ClassTable& classTable() {
    static ClassTable* table = new ClassTable;  // outlives every static metaclass
    return *table;
}

}  // namespace

OSMetaClass::OSMetaClass(const char* className, const char* superClassName, Factory factory)
    : className_(className), superClassName_(superClassName), factory_(factory) {
    auto& table = classTable();
    std::lock_guard<std::mutex> guard(table.lock);
    table.byName[className] = this;
}

OSMetaClass::~OSMetaClass() {
    auto& table = classTable();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.byName.find(className_);
    if (it != table.byName.end() && it->second == this) table.byName.erase(it);
}

const OSMetaClass* OSMetaClass::getSuperClass() const {
    if (!superClassName_ || std::strcmp(superClassName_, className_) == 0) return nullptr;
    return getMetaClassWithName(superClassName_);
}

const OSMetaClass* OSMetaClass::getMetaClassWithName(const char* name) {
    if (!name) return nullptr;
    auto& table = classTable();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.byName.find(name);
    return it == table.byName.end() ? nullptr : it->second;
}

OSObject* OSMetaClass::allocClassWithName(const char* name) {
    const OSMetaClass* meta = getMetaClassWithName(name);
    if (!meta || !meta->factory_) return nullptr;
    return meta->factory_();
}

bool OSMetaClass::classIsKindOf(const char* className, const char* baseName) {
    if (!className || !baseName) return false;
    const OSMetaClass* meta = getMetaClassWithName(className);
    // Bounded walk: a broken superclass chain must not loop.
    for (int depth = 0; meta && depth < 64; ++depth) {
        if (std::strcmp(meta->getClassName(), baseName) == 0) return true;
        meta = meta->getSuperClass();
    }
    return false;
}

// ---- OSObject ------------------------------------------------------------------------------

const OSMetaClass OSObject::gMetaClass("OSObject", nullptr, &OSObject::MetaClassAlloc);
const OSMetaClass* const OSObject::metaClass = &OSObject::gMetaClass;

OSObject* OSObject::MetaClassAlloc() { return new OSObject; }
const OSMetaClass* OSObject::getMetaClass() const { return &gMetaClass; }
OSObject::OSObject() = default;
OSObject::~OSObject() = default;

bool OSObject::isKindOf(const char* className) const {
    return OSMetaClass::classIsKindOf(getClassName(), className);
}

bool OSObject::init() { return true; }

void OSObject::retain() const { retainCount_.fetch_add(1, std::memory_order_relaxed); }

void OSObject::release() const {
    if (retainCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) const_cast<OSObject*>(this)->free();
}

int OSObject::getRetainCount() const { return retainCount_.load(std::memory_order_relaxed); }

void OSObject::free() { delete this; }

// ---- values ----------------------------------------------------------------------------------

OSDefineMetaClassAndStructors(OSNumber, OSObject);

OSNumber* OSNumber::withNumber(uint64_t value, unsigned numberOfBits) {
    auto* number = new OSNumber;
    number->init(value, numberOfBits);
    return number;
}

bool OSNumber::init(uint64_t value, unsigned numberOfBits) {
    if (numberOfBits == 0 || numberOfBits > 64) numberOfBits = 64;
    bits_ = numberOfBits;
    value_ = bits_ == 64 ? value : (value & ((uint64_t{1} << bits_) - 1));
    return true;
}

bool OSNumber::isEqualTo(const OSObject* other) const {
    auto* number = dynamic_cast<const OSNumber*>(other);
    return number && number->value_ == value_;
}

OSDefineMetaClassAndStructors(OSString, OSObject);

OSString* OSString::withCString(const char* text) { return withString(text ? text : ""); }

OSString* OSString::withString(const std::string& text) {
    auto* string = new OSString;
    string->text_ = text;
    return string;
}

bool OSString::isEqualTo(const OSObject* other) const {
    auto* string = dynamic_cast<const OSString*>(other);
    return string && string->text_ == text_;
}

OSDefineMetaClassAndStructors(OSData, OSObject);

OSData* OSData::withBytes(const void* bytes, size_t length) {
    auto* data = new OSData;
    if (bytes && length) {
        auto* p = static_cast<const uint8_t*>(bytes);
        data->bytes_.assign(p, p + length);
    }
    return data;
}

bool OSData::isEqualTo(const OSObject* other) const {
    auto* data = dynamic_cast<const OSData*>(other);
    return data && data->bytes_ == bytes_;
}

OSDefineMetaClassAndStructors(OSBoolean, OSObject);

OSBoolean* OSBoolean::shared(bool value) {
    static OSBoolean* const yes = [] { auto* b = new OSBoolean; b->value_ = true; return b; }();
    static OSBoolean* const no = [] { auto* b = new OSBoolean; b->value_ = false; return b; }();
    return value ? yes : no;
}

const OSBoolean* kOSBooleanTrueObject() { return OSBoolean::shared(true); }
const OSBoolean* kOSBooleanFalseObject() { return OSBoolean::shared(false); }

OSBoolean* OSBoolean::withBoolean(bool value) {
    OSBoolean* object = shared(value);
    object->retain();
    return object;
}

bool OSBoolean::isEqualTo(const OSObject* other) const {
    auto* boolean = dynamic_cast<const OSBoolean*>(other);
    return boolean && boolean->value_ == value_;
}

OSDefineMetaClassAndStructors(OSDictionary, OSObject);

OSDictionary* OSDictionary::withCapacity(unsigned) { return new OSDictionary; }

OSDictionary* OSDictionary::withDictionary(const OSDictionary* other) {
    auto* dict = new OSDictionary;
    if (other) {
        for (auto& [key, value] : other->entries_) dict->setObject(key.c_str(), value);
    }
    return dict;
}

bool OSDictionary::setObject(const char* key, OSObject* value) {
    if (!key || !value) return false;
    value->retain();
    auto [it, inserted] = entries_.emplace(key, value);
    if (!inserted) {
        it->second->release();
        it->second = value;
    }
    return true;
}

OSObject* OSDictionary::getObject(const char* key) const {
    if (!key) return nullptr;
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : it->second;
}

void OSDictionary::removeObject(const char* key) {
    if (!key) return;
    auto it = entries_.find(key);
    if (it == entries_.end()) return;
    it->second->release();
    entries_.erase(it);
}

std::vector<std::string> OSDictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (auto& entry : entries_) out.push_back(entry.first);
    return out;
}

bool OSDictionary::isEqualTo(const OSObject* other) const {
    auto* dict = dynamic_cast<const OSDictionary*>(other);
    if (!dict || dict->entries_.size() != entries_.size()) return false;
    for (auto& [key, value] : entries_) {
        OSObject* theirs = dict->getObject(key.c_str());
        if (!theirs || !value->isEqualTo(theirs)) return false;
    }
    return true;
}

void OSDictionary::free() {
    for (auto& entry : entries_) entry.second->release();
    entries_.clear();
    OSObject::free();
}
