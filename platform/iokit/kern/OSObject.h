#pragma once
// Reference-counted kernel objects, the class registry they are created from, and the value
// objects that make up property tables and personalities.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/iokit/kern/IOTypes.h"

class OSObject;

// One per class: its name, its superclass's name and a factory. Registered by name at load.
class OSMetaClass {
public:
    using Factory = OSObject* (*)();
    OSMetaClass(const char* className, const char* superClassName, Factory factory);
    ~OSMetaClass();
    OSMetaClass(const OSMetaClass&) = delete;
    OSMetaClass& operator=(const OSMetaClass&) = delete;

    const char* getClassName() const { return className_; }
    const char* getSuperClassName() const { return superClassName_; }
    const OSMetaClass* getSuperClass() const;

    static const OSMetaClass* getMetaClassWithName(const char* name);
    // A new instance of the named class (retain count 1), or null for an unknown class.
    static OSObject* allocClassWithName(const char* name);
    // True when `className` is `baseName` or one of its subclasses.
    static bool classIsKindOf(const char* className, const char* baseName);

private:
    const char* className_;
    const char* superClassName_;
    Factory factory_;
};

class OSObject {
public:
    static const OSMetaClass gMetaClass;
    static const OSMetaClass* const metaClass;
    static OSObject* MetaClassAlloc();

    virtual const OSMetaClass* getMetaClass() const;
    const char* getClassName() const { return getMetaClass()->getClassName(); }
    bool isKindOf(const char* className) const;

    void retain() const;
    void release() const;
    int getRetainCount() const;

    virtual bool init();
    virtual bool isEqualTo(const OSObject* other) const { return other == this; }

    OSObject(const OSObject&) = delete;
    OSObject& operator=(const OSObject&) = delete;

protected:
    OSObject();
    virtual ~OSObject();
    // Runs when the last reference goes; subclasses release what they hold and call the base,
    // which deletes the object.
    virtual void free();

private:
    mutable std::atomic<int> retainCount_{1};
};

template <class T, class U>
inline T* osDynamicCast(U* object) {
    return object ? dynamic_cast<T*>(object) : nullptr;
}
#define OSDynamicCast(type, inst) osDynamicCast<type>(inst)
#define OSTypeID(type) (&type::gMetaClass)

#define OSDeclareDefaultStructors(className)                  \
public:                                                       \
    static const OSMetaClass gMetaClass;                      \
    static const OSMetaClass* const metaClass;                \
    static OSObject* MetaClassAlloc();                        \
    const OSMetaClass* getMetaClass() const override;         \
    className();                                              \
                                                              \
protected:                                                    \
    ~className() override;                                    \
                                                              \
private:

#define OSDefineMetaClassAndStructors(className, superclassName)                                  \
    const OSMetaClass className::gMetaClass(#className, #superclassName, &className::MetaClassAlloc); \
    const OSMetaClass* const className::metaClass = &className::gMetaClass;                       \
    OSObject* className::MetaClassAlloc() { return new className; }                              \
    const OSMetaClass* className::getMetaClass() const { return &gMetaClass; }                    \
    className::className() = default;                                                              \
    className::~className() = default;                                                             \
    static_assert(true, "")

// Virtual slots held free for later versions of a class.
#define OSMetaClassDeclareReservedUnused(className, index) \
private:                                                   \
    virtual void _RESERVED##className##index()

#define OSMetaClassDefineReservedUnused(className, index) \
    void className::_RESERVED##className##index() {}      \
    static_assert(true, "")

// ---- value objects ------------------------------------------------------------------------

class OSNumber : public OSObject {
    OSDeclareDefaultStructors(OSNumber)
public:
    static OSNumber* withNumber(uint64_t value, unsigned numberOfBits);
    bool init(uint64_t value, unsigned numberOfBits);
    unsigned numberOfBits() const { return bits_; }
    uint8_t unsigned8BitValue() const { return static_cast<uint8_t>(value_); }
    uint16_t unsigned16BitValue() const { return static_cast<uint16_t>(value_); }
    uint32_t unsigned32BitValue() const { return static_cast<uint32_t>(value_); }
    uint64_t unsigned64BitValue() const { return value_; }
    bool isEqualTo(const OSObject* other) const override;

private:
    uint64_t value_ = 0;
    unsigned bits_ = 64;
};

class OSString : public OSObject {
    OSDeclareDefaultStructors(OSString)
public:
    static OSString* withCString(const char* text);
    static OSString* withString(const std::string& text);
    const char* getCStringNoCopy() const { return text_.c_str(); }
    const std::string& string() const { return text_; }
    size_t getLength() const { return text_.size(); }
    bool isEqualTo(const char* text) const { return text && text_ == text; }
    bool isEqualTo(const OSObject* other) const override;

private:
    std::string text_;
};

class OSData : public OSObject {
    OSDeclareDefaultStructors(OSData)
public:
    static OSData* withBytes(const void* bytes, size_t length);
    const void* getBytesNoCopy() const { return bytes_.data(); }
    size_t getLength() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    bool isEqualTo(const OSObject* other) const override;

private:
    std::vector<uint8_t> bytes_;
};

class OSBoolean : public OSObject {
    OSDeclareDefaultStructors(OSBoolean)
public:
    static OSBoolean* withBoolean(bool value);  // one of the two shared instances, retained
    bool isTrue() const { return value_; }
    bool isFalse() const { return !value_; }
    bool getValue() const { return value_; }
    bool isEqualTo(const OSObject* other) const override;
    static OSBoolean* shared(bool value);  // not retained

private:
    bool value_ = false;
};
const OSBoolean* kOSBooleanTrueObject();
const OSBoolean* kOSBooleanFalseObject();

// Keys are texts; values are retained while in the dictionary. Not locked: its owner locks.
class OSDictionary : public OSObject {
    OSDeclareDefaultStructors(OSDictionary)
public:
    static OSDictionary* withCapacity(unsigned capacity);
    static OSDictionary* withDictionary(const OSDictionary* other);  // shallow copy
    bool setObject(const char* key, OSObject* value);
    OSObject* getObject(const char* key) const;
    void removeObject(const char* key);
    unsigned getCount() const { return static_cast<unsigned>(entries_.size()); }
    std::vector<std::string> keys() const;
    bool isEqualTo(const OSObject* other) const override;

protected:
    void free() override;

private:
    std::map<std::string, OSObject*> entries_;
};
