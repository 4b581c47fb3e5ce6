// The socket messages: every field survives the trip, and nothing out of bounds, unknown or
// left over is read as a message.
#include <gtest/gtest.h>

#include <random>

#include "platform/iokit/kern/IOTypes.h"
#include "platform/iokit/link/SocketWire.h"

using namespace iokit;
using namespace iokit::wire;

namespace {

std::vector<uint8_t> packet(Writer& w) { return w.finish(); }

}  // namespace

TEST(SocketWire, FieldsRoundTrip) {
    MatchingDictionary m;
    m.providerClass = "com_brevantis_driver_HVBSCSIDriver";
    m.setProperty("idVendor", makeNumber(0x6D21, 32));
    m.setProperty("name", std::string("HVB R7"));
    m.setProperty("blob", std::vector<uint8_t>{1, 2, 3});
    m.setProperty("flag", true);
    Writer w(Type::addNotification, 77);
    w.u8(0xAB);
    w.u16(0xBEEF);
    w.u32(0xDEADBEEF);
    w.u64(0x0123456789ABCDEFull);
    w.text("key");
    w.optionalValue(std::nullopt);
    w.optionalValue(Value(makeNumber(5, 8)));
    w.matching(m);
    auto bytes = packet(w);

    Reader r(bytes);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.header().type, static_cast<uint16_t>(Type::addNotification));
    EXPECT_EQ(r.header().requestID, 77u);
    EXPECT_FALSE(r.isReply());
    EXPECT_EQ(r.u8(), 0xAB);
    EXPECT_EQ(r.u16(), 0xBEEF);
    EXPECT_EQ(r.u32(), 0xDEADBEEFu);
    EXPECT_EQ(r.u64(), 0x0123456789ABCDEFull);
    EXPECT_EQ(r.text(10), "key");
    EXPECT_FALSE(r.optionalValue());
    auto five = r.optionalValue();
    ASSERT_TRUE(asNumber(five));
    EXPECT_EQ(asNumber(five)->value, 5u);
    EXPECT_EQ(asNumber(five)->bits, 8);
    MatchingDictionary back = r.matching();
    EXPECT_TRUE(r.finish());
    EXPECT_EQ(back.providerClass, m.providerClass);
    ASSERT_EQ(back.propertyMatch.size(), 4u);
    EXPECT_EQ(back.propertyMatch["idVendor"], m.propertyMatch["idVendor"]);
    EXPECT_EQ(std::get<std::string>(back.propertyMatch["name"]), "HVB R7");
    EXPECT_EQ(std::get<std::vector<uint8_t>>(back.propertyMatch["blob"]), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(std::get<bool>(back.propertyMatch["flag"]));
}

TEST(SocketWire, HeaderMustDescribeThePacket) {
    Writer w(Type::ping, 1);
    auto good = packet(w);
    EXPECT_TRUE(Reader(good).finish());

    auto badMagic = good;
    badMagic[0] ^= 0xFF;
    EXPECT_FALSE(Reader(badMagic).ok());
    auto longer = good;
    longer.push_back(0);  // the length no longer matches
    EXPECT_FALSE(Reader(longer).ok());
    auto flags = good;
    flags[10] = 0x80;  // unknown flag
    EXPECT_FALSE(Reader(flags).ok());
    EXPECT_FALSE(Reader(std::span<const uint8_t>(good.data(), 8)).ok());

    Writer extra(Type::ping, 2);
    extra.u8(1);  // a ping has no body: left over
    auto leftover = packet(extra);
    Reader r(leftover);
    EXPECT_TRUE(r.ok());
    EXPECT_FALSE(r.finish());
}

TEST(SocketWire, LengthsAndCountsAreBounded) {
    {
        Writer w(Type::getProperty, 1);
        w.text(std::string(kMaxNameLength + 1, 'k'));
        auto p = packet(w);
        Reader r(p);
        r.text(kMaxNameLength);
        EXPECT_FALSE(r.ok());
    }
    {
        // A length field that claims more than the packet holds.
        Writer w(Type::getProperty, 1);
        w.u32(1000);
        w.u8('x');
        auto p = packet(w);
        Reader r(p);
        r.text(4096);
        EXPECT_FALSE(r.ok());
    }
    {
        Writer w(Type::getMatchingServices, 1);
        w.text("IOService");
        w.text("");
        w.u32(kMaxPropertyMatches + 1);
        auto p = packet(w);
        Reader r(p);
        r.matching();
        EXPECT_FALSE(r.ok());
    }
    {
        Writer w(Type::getProperty, 1);
        w.u8(1);
        w.u8(9);  // no such value tag
        auto p = packet(w);
        Reader r(p);
        r.optionalValue();
        EXPECT_FALSE(r.ok());
    }
    {
        Writer w(Type::getProperty, 1);
        w.u8(0);  // number
        w.u64(1);
        w.u8(65);  // bits out of range
        auto p = packet(w);
        Reader r(p);
        r.value();
        EXPECT_FALSE(r.ok());
    }
    {
        Writer w(Type::getProperty, 1);
        w.u8(3);  // boolean
        w.u8(2);
        auto p = packet(w);
        Reader r(p);
        r.value();
        EXPECT_FALSE(r.ok());
    }
}

TEST(SocketWire, SnapshotsAnswerSearchesAsTheRegistryDoes) {
    EntrySnapshot s;
    s.name = "IOSCSIPeripheralDeviceNub";
    s.entryID = 42;
    s.path = "IOService:/HVB R7/IOUSBInterface/IOSCSIPeripheralDeviceNub";
    s.own = {{"Peripheral Device Type", makeNumber(0, 8)}};
    s.ancestors = {{{"idVendor", makeNumber(0x6D21, 16)}},
                   {{"USB Serial Number", std::string("SN1")}, {"idVendor", makeNumber(1, 16)}}};
    s.descendants = {{{"CFBundleVersion", std::string("1.0.0")}}, {{"BSD Name", std::string("disk4")}},
                     {{"BSD Name", std::string("disk4s1")}}};
    Writer w(Type::watch, 0);
    w.u64(9);
    w.snapshot(s);
    auto p = packet(w);
    Reader r(p);
    EXPECT_EQ(r.u64(), 9u);
    EntrySnapshot back = r.snapshot();
    ASSERT_TRUE(r.finish());
    EXPECT_EQ(back.name, s.name);
    EXPECT_EQ(back.entryID, 42u);
    EXPECT_EQ(back.path, s.path);

    EXPECT_FALSE(back.property("USB Serial Number"));
    EXPECT_FALSE(back.search("USB Serial Number", 0));
    EXPECT_FALSE(back.search("USB Serial Number", kIORegistryIterateParents));  // not recursive
    auto serial = back.search("USB Serial Number", kIORegistryIterateRecursively | kIORegistryIterateParents);
    ASSERT_TRUE(asString(serial));
    EXPECT_EQ(*asString(serial), "SN1");
    // The nearest ancestor wins; descendants in depth-first order.
    EXPECT_EQ(asNumber(back.search("idVendor", kIORegistryIterateRecursively | kIORegistryIterateParents))->value,
              0x6D21u);
    EXPECT_EQ(*asString(back.search("BSD Name", kIORegistryIterateRecursively)), "disk4");
    EXPECT_FALSE(back.search("BSD Name", kIORegistryIterateRecursively | kIORegistryIterateParents));
}

TEST(SocketWire, RandomPacketsNeverReadOutOfBounds) {
    std::mt19937 random(20261209);
    size_t accepted = 0;
    for (int i = 0; i < 100000; ++i) {
        std::vector<uint8_t> bytes(random() % 96);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        if (bytes.size() >= kHeaderSize && random() % 2) {
            // A valid header in front of random bodies reaches the field readers.
            Writer w(static_cast<Type>(random() % 32), random());
            auto& head = w.finish();
            std::copy(head.begin(), head.begin() + kHeaderSize, bytes.begin());
            uint32_t length = static_cast<uint32_t>(bytes.size());
            for (int k = 0; k < 4; ++k) bytes[4 + k] = static_cast<uint8_t>(length >> (8 * k));
        }
        Reader r(bytes);
        if (!r.ok()) continue;
        switch (random() % 4) {
            case 0: r.matching(); break;
            case 1: r.snapshot(); break;
            case 2: r.optionalValue(); break;
            default: r.bytes(kMaxInlineStructureSize); break;
        }
        accepted += r.finish() ? 1 : 0;
    }
    SUCCEED() << accepted << " random packets happened to be well formed";
}
