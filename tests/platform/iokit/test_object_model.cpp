// Object model, registry entries, memory descriptors.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/iokit/kern/IOLib.h"
#include "platform/iokit/kern/IOMemoryDescriptor.h"
#include "platform/iokit/kern/IOService.h"

namespace {
int gFreed = 0;
}

class TestCounted : public OSObject {
    OSDeclareDefaultStructors(TestCounted)
protected:
    void free() override {
        ++gFreed;
        OSObject::free();
    }
};
OSDefineMetaClassAndStructors(TestCounted, OSObject);

class TestBaseService : public IOService {
    OSDeclareDefaultStructors(TestBaseService)
    OSMetaClassDeclareReservedUnused(TestBaseService, 0);
};
OSDefineMetaClassAndStructors(TestBaseService, IOService);
OSMetaClassDefineReservedUnused(TestBaseService, 0);

class TestDerivedService : public TestBaseService {
    OSDeclareDefaultStructors(TestDerivedService)
};
OSDefineMetaClassAndStructors(TestDerivedService, TestBaseService);

TEST(ObjectModel, ClassRegistryKnowsNamesAndSuperclasses) {
    EXPECT_TRUE(OSMetaClass::classIsKindOf("TestDerivedService", "TestBaseService"));
    EXPECT_TRUE(OSMetaClass::classIsKindOf("TestDerivedService", "IOService"));
    EXPECT_TRUE(OSMetaClass::classIsKindOf("TestDerivedService", "OSObject"));
    EXPECT_FALSE(OSMetaClass::classIsKindOf("TestBaseService", "TestDerivedService"));
    EXPECT_FALSE(OSMetaClass::classIsKindOf("NoSuchClass", "OSObject"));
    EXPECT_EQ(OSMetaClass::allocClassWithName("NoSuchClass"), nullptr);

    OSObject* object = OSMetaClass::allocClassWithName("TestDerivedService");
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->getClassName(), "TestDerivedService");
    EXPECT_NE(OSDynamicCast(TestBaseService, object), nullptr);
    EXPECT_EQ(OSDynamicCast(OSString, object), nullptr);
    EXPECT_EQ(OSDynamicCast(IOService, static_cast<OSObject*>(nullptr)), nullptr);
    object->release();
}

TEST(ObjectModel, LastReleaseFreesAndDictionariesHoldTheirValues) {
    gFreed = 0;
    auto* counted = new TestCounted;
    OSDictionary* dict = OSDictionary::withCapacity(1);
    dict->setObject("k", counted);
    counted->release();
    EXPECT_EQ(gFreed, 0);
    EXPECT_EQ(dict->getObject("k"), counted);

    OSDictionary* copy = OSDictionary::withDictionary(dict);
    dict->release();
    EXPECT_EQ(gFreed, 0);
    copy->removeObject("k");
    EXPECT_EQ(gFreed, 1);
    copy->release();
}

TEST(ObjectModel, ValuesCompareByValue) {
    OSNumber* a = OSNumber::withNumber(0x6D21, 16);
    OSNumber* b = OSNumber::withNumber(0x6D21, 32);
    OSNumber* masked = OSNumber::withNumber(0x1FFFF, 16);
    EXPECT_TRUE(a->isEqualTo(b));
    EXPECT_EQ(masked->unsigned32BitValue(), 0xFFFFu);
    OSString* s = OSString::withCString("HVB");
    EXPECT_FALSE(a->isEqualTo(s));
    EXPECT_TRUE(s->isEqualTo("HVB"));
    OSBoolean* t = OSBoolean::withBoolean(true);
    EXPECT_TRUE(t->isTrue());
    EXPECT_FALSE(t->isEqualTo(OSBoolean::shared(false)));
    for (OSObject* o : std::initializer_list<OSObject*>{a, b, masked, s, t}) o->release();
}

TEST(Registry, PropertySearchWalksUpOrDownAndPathsNameTheChain) {
    auto* top = new IOService;
    top->init();
    top->setName("Top");
    top->setProperty("USB Serial Number", "S1");
    auto* middle = new IOService;
    middle->init();
    auto* leaf = new IOService;
    leaf->init();
    leaf->setName("disk");
    leaf->setProperty("BSD Name", "sdb");
    ASSERT_TRUE(top->attach(IOService::getServiceRoot()));
    ASSERT_TRUE(middle->attach(top));
    ASSERT_TRUE(leaf->attach(middle));

    auto text = [](OSObject* o) {
        auto* s = OSDynamicCast(OSString, o);
        std::string out = s ? s->string() : "";
        if (o) o->release();
        return out;
    };
    EXPECT_EQ(text(leaf->copyProperty("USB Serial Number", kIOServicePlane,
                                      kIORegistryIterateRecursively | kIORegistryIterateParents)),
              "S1");
    EXPECT_EQ(text(top->copyProperty("BSD Name", kIOServicePlane, kIORegistryIterateRecursively)), "sdb");
    // Without the recursive option only the entry itself counts; parents alone never go down.
    EXPECT_EQ(top->copyProperty("BSD Name", kIOServicePlane, 0), nullptr);
    EXPECT_EQ(text(leaf->copyProperty("BSD Name", kIOServicePlane,
                                      kIORegistryIterateRecursively | kIORegistryIterateParents)),
              "sdb");
    EXPECT_EQ(middle->copyProperty("BSD Name", kIOServicePlane,
                                   kIORegistryIterateRecursively | kIORegistryIterateParents),
              nullptr);

    EXPECT_EQ(leaf->getPath(), "IOService:/Top/IOService/disk");
    EXPECT_STREQ(middle->getName(), "IOService");
    EXPECT_NE(leaf->getRegistryEntryID(), middle->getRegistryEntryID());
    top->terminate();
    top->release();
    middle->release();
    leaf->release();
}

TEST(Memory, DescriptorsBoundEveryCopyAndProtectOutgoingMemory) {
    uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(IOMemoryDescriptor::withAddress(nullptr, 4, kIODirectionIn), nullptr);
    IOMemoryDescriptor* empty = IOMemoryDescriptor::withAddress(nullptr, 0, kIODirectionIn);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->getLength(), 0u);
    empty->release();

    IOMemoryDescriptor* out = IOMemoryDescriptor::withAddress(bytes, 8, kIODirectionOut);
    uint8_t copy[16] = {};
    EXPECT_EQ(out->readBytes(6, copy, 16), 2u);
    EXPECT_EQ(copy[0], 7);
    EXPECT_EQ(out->readBytes(9, copy, 1), 0u);
    EXPECT_EQ(out->writeBytes(0, copy, 4), 0u);  // memory going out is never written
    EXPECT_EQ(bytes[0], 1);
    out->release();

    IOMemoryDescriptor* in = IOMemoryDescriptor::withAddress(bytes, 8, kIODirectionIn);
    const uint8_t zeros[16] = {};
    EXPECT_EQ(in->writeBytes(4, zeros, 16), 4u);
    EXPECT_EQ(bytes[3], 4);
    EXPECT_EQ(bytes[4], 0);
    EXPECT_EQ(in->complete(), kIOReturnNotOpen);  // nothing prepared
    IOMemoryDescriptor::failNextPrepare();
    EXPECT_NE(in->prepare(), kIOReturnSuccess);
    EXPECT_EQ(in->prepare(), kIOReturnSuccess);
    EXPECT_EQ(in->complete(), kIOReturnSuccess);
    in->release();

    IOMemoryDescriptor::failNextWithAddress();
    EXPECT_EQ(IOMemoryDescriptor::withAddress(bytes, 8, kIODirectionIn), nullptr);

    void* zero = IOMalloc(0);
    EXPECT_NE(zero, nullptr);
    IOFree(zero, 0);
}
