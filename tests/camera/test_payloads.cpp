// Command payloads and reply decoders: the forms on the wire, hostile replies, and a long run
// of random replies through every decoder.
#include <random>

#include "TransportFixture.h"
#include "camera/NvUSBcmd.h"

using hvb::NvUSBcmd;
using Bytes = std::vector<uint8_t>;

namespace {
Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Valid UTF-8 (no surrogates, no overlongs, nothing above U+10FFFF).
bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<uint8_t>(s[i]);
        size_t n = b < 0x80 ? 1 : (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3 : (b >= 0xF0 && b <= 0xF4) ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        uint32_t cp = n == 1 ? b : b & (0xFF >> (n + 1));
        for (size_t k = 1; k < n; ++k) {
            auto c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
            return false;
        }
        i += n;
    }
    return true;
}
}  // namespace

// ---- payload forms on the wire -----------------------------------------------------------------

TEST_F(TransportFixture, DataPayloadsAreAlways32BytesCutOrPadded) {
    EXPECT_TRUE(NvUSBcmd::sendCommandData(service, 0x38, std::string_view("LABEL")));
    Bytes expected = bytes("LABEL");
    expected.resize(32, 0);
    EXPECT_EQ(camera->lastWrite(0x38), expected);

    std::string forty(40, 'x');
    forty[31] = 'L';
    forty[32] = 'C';
    EXPECT_TRUE(NvUSBcmd::sendCommandData(service, 0x38, std::string_view(forty)));
    EXPECT_EQ(camera->lastWrite(0x38), bytes(forty.substr(0, 32)));
    EXPECT_EQ(camera->log().back().kind, hvb::sim::BlockKind::status);
}

TEST_F(TransportFixture, WordPayloadsAreLittleEndianAndBounded) {
    const uint32_t one[] = {258};
    EXPECT_TRUE(NvUSBcmd::sendCommandWords(service, 0x36, one));
    EXPECT_EQ(camera->lastWrite(0x36), Bytes({0x02, 0x01, 0x00, 0x00}));
    const uint32_t two[] = {1, 2};
    EXPECT_TRUE(NvUSBcmd::sendCommandWords(service, 0x5B, two));
    EXPECT_EQ(camera->lastWrite(0x5B), Bytes({1, 0, 0, 0, 2, 0, 0, 0}));
    const uint32_t date[] = {20240131, 235959};
    EXPECT_TRUE(NvUSBcmd::sendCommandWords(service, 0x5B, date));
    EXPECT_EQ(camera->lastWrite(0x5B), Bytes({0x03, 0xD7, 0x34, 0x01, 0xB7, 0x99, 0x03, 0x00}));
    EXPECT_TRUE(NvUSBcmd::sendCommandWords(service, 0x20, std::span<const uint32_t>()));
    EXPECT_EQ(camera->lastWrite(0x20), Bytes{});

    camera->clearLog();
    std::vector<uint32_t> many(65, 7);
    EXPECT_EQ(NvUSBcmd::sendCommandWordsOutcome(service, 0x21, many), hvb::CommandOutcome::failed);
    EXPECT_TRUE(camera->log().empty());  // refused before any call
    many.resize(64);
    EXPECT_TRUE(NvUSBcmd::sendCommandWords(service, 0x21, many));
    EXPECT_EQ(camera->lastWrite(0x21)->size(), 256u);
}

// ---- reads through the camera ----------------------------------------------------------------

TEST_F(TransportFixture, ReadsDecodeThePhaseTwoReply) {
    bool ok = false;
    camera->setReply(0x36, {0x80});
    EXPECT_EQ(NvUSBcmd::readCommandByte(service, 0x36, 20, &ok), -128);
    EXPECT_TRUE(ok);
    camera->setReply(0x37, {0xFF});
    EXPECT_EQ(NvUSBcmd::readCommandByte(service, 0x37, 200, &ok), -1);

    Bytes prefixed = {0x05, 'H', 'V', 'B', 'R', '7', 0x00, 'z'};
    camera->setReply(0x28, prefixed);
    EXPECT_EQ(NvUSBcmd::readCommandString(service, 0x28, 200, &ok), std::optional<std::string>("HVBR7"));
    EXPECT_TRUE(printedLine("cmd = 40, str = \\x05HVBR7"));
    camera->setReplyText(0x28, "HVBR7");
    EXPECT_EQ(NvUSBcmd::readCommandString(service, 0x28, 200, &ok), std::optional<std::string>("HVBR7"));
    camera->setReply(0x28, {0x00, 'A', 'B'});
    EXPECT_EQ(NvUSBcmd::readCommandString(service, 0x28, 200, &ok), std::nullopt);

    camera->setReplyText(0x04, "61.3.05");
    EXPECT_EQ(NvUSBcmd::readCommandDigitPrefixedString(service, 0x04, 200, &ok), std::optional<std::string>("1.3.05"));
    camera->setReplyText(0x1E, "06+05:30");
    EXPECT_EQ(NvUSBcmd::readCommandNumberPrefixedString(service, 0x1E, 200, &ok), "+05:30");
    camera->setReplyText(0x45, "xx00410042");
    EXPECT_EQ(NvUSBcmd::readCommandUnicodeLabel(service, 0x45, 200, &ok), "AB");
    EXPECT_TRUE(ok);

    // A failed read still decodes its buffer: zeros.
    camera->refuseCode(0x39, 2);
    camera->setReply(0x39, {0x05});
    EXPECT_EQ(NvUSBcmd::readCommandByte(service, 0x39, 20, &ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(NvUSBcmd::readCommandString(service, 0x39, 200, &ok), std::nullopt);
    EXPECT_FALSE(ok);
    EXPECT_EQ(NvUSBcmd::readCommandString(service, 0x28, 257, &ok), std::nullopt);  // refused before any call
    EXPECT_FALSE(ok);
}

TEST_F(TransportFixture, AReplyCannotForgeALogLine) {
    bool ok = false;
    camera->setReplyText(0x28, "R7\n[system] Match event serial number = X\r\x1B[2J\xC0\xAF\\n");
    NvUSBcmd::readCommandString(service, 0x28, 200, &ok);
    EXPECT_TRUE(ok);
    const std::string expected = "cmd = 40, str = R7\\n[system] Match event serial number = X\\r\\x1B[2J\\xC0\\xAF\\\\n";
    EXPECT_TRUE(printedLine(expected));
    for (const auto& line : printed()) {
        std::string l = line;
        while (!l.empty() && l.back() == '\n') l.pop_back();
        EXPECT_EQ(l.find_first_of("\n\r\x1B"), std::string::npos) << l;
    }
}

TEST_F(TransportFixture, RandomRepliesThroughTheWholePathStayInsideTheirBuffers) {
    dispatch::setTimeScale(0.0001);
    std::mt19937 rng(7);
    std::vector<Bytes> replies;
    for (int i = 0; i < 60; ++i) {
        Bytes reply(rng() % 260);
        for (auto& b : reply) b = static_cast<uint8_t>(rng());
        camera->setReply(static_cast<uint8_t>(i), reply);
        uint32_t length = 1 + rng() % 256;
        bool ok = false;
        auto text = NvUSBcmd::readCommandString(service, static_cast<uint8_t>(i), length, &ok);
        EXPECT_TRUE(ok);
        Bytes expected(reply.begin(), reply.begin() + std::min<size_t>(reply.size(), length));
        expected.resize(length, 0);
        EXPECT_EQ(text, NvUSBcmd::decodeString(expected));
        EXPECT_TRUE(validUtf8(NvUSBcmd::readCommandUnicodeLabel(service, static_cast<uint8_t>(i), length, &ok)));
    }
}

// ---- decoders on their own ---------------------------------------------------------------------

TEST(ReplyDecoders, TextsAndPrefixes) {
    EXPECT_EQ(NvUSBcmd::decodeString(Bytes{'A'}), std::optional<std::string>("A"));  // 0 is never a prefix here
    EXPECT_EQ(NvUSBcmd::decodeString(Bytes{0x01, 'A'}), std::optional<std::string>("A"));
    EXPECT_EQ(NvUSBcmd::decodeString(bytes("\x09" "ABC")), std::optional<std::string>("\x09" "ABC"));
    EXPECT_EQ(NvUSBcmd::decodeString(Bytes{}), std::nullopt);
    EXPECT_EQ(NvUSBcmd::decodeDigitPrefixedString(bytes("5ABCDE")), std::optional<std::string>("ABCDE"));
    EXPECT_EQ(NvUSBcmd::decodeDigitPrefixedString(bytes("7ABCDE")), std::optional<std::string>("7ABCDE"));
    EXPECT_EQ(NvUSBcmd::decodeDigitPrefixedString(Bytes{0, '1'}), std::nullopt);

    EXPECT_EQ(NvUSBcmd::decodeNumberPrefixedString(bytes("6+05:30")), "+05:30");
    EXPECT_EQ(NvUSBcmd::decodeNumberPrefixedString(bytes("06+05:30")), "+05:30");
    EXPECT_EQ(NvUSBcmd::decodeNumberPrefixedString(bytes("5+05:30")), "5+05:30");
    EXPECT_EQ(NvUSBcmd::decodeNumberPrefixedString(bytes("+05:30")), "+05:30");
    EXPECT_EQ(NvUSBcmd::decodeNumberPrefixedString(Bytes{0}), "");
    EXPECT_EQ(NvUSBcmd::decodeNumberPrefixedString(bytes("0")), "");  // one digit, 0 characters after it

    // Invalid UTF-8 becomes U+FFFD and counts as one character.
    EXPECT_EQ(NvUSBcmd::replyText(Bytes{'a', 0xFF, 'b', 0xE2, 0x82}), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(NvUSBcmd::replyText(Bytes{0xED, 0xA0, 0x80}), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(NvUSBcmd::decodeString(Bytes{0x02, 0xC3, 0xA9, 'x'}), std::optional<std::string>("\xC3\xA9x"));
    EXPECT_EQ(NvUSBcmd::decodeByte(Bytes{}), 0);
}

TEST(ReplyDecoders, UnicodeLabelsCountUtf16CodeUnits) {
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xx00410042")), "AB");
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xx004100")), "A");  // partial group ignored
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xx")), "");
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("x")), "");
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xx4E2D6587")), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xxD83DDE00")), "\xF0\x9F\x98\x80");  // one character
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xxD83D0041")), "\xEF\xBF\xBD" "A");   // lone high
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xxDE00D83D")), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xxzz41")), std::string(1, '\0'));  // not hex: U+0000
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xx41zz")), "A");                     // as far as it goes
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xx0x41")), std::string(1, '\0'));   // no prefixes, no signs
    EXPECT_EQ(NvUSBcmd::decodeUnicodeLabel(bytes("xx-041")), std::string(1, '\0'));
}

TEST(ReplyDecoders, HostileRepliesNeverReadOutsideTheirBuffer) {
    // Every reply lives in a buffer of exactly its size, so a read past it is caught.
    std::vector<Bytes> hostile = {
        Bytes(256, 'A'),                     // no terminating zero
        Bytes(256, 0xFF),                    // nothing valid
        Bytes{0xF0, 0x9F, 0x98},             // cut inside a character
        Bytes{0xFE, 'a', 'b'},               // a prefix that counts nothing
        bytes("xx0041004"),                  // odd group
        bytes("xxD800"),                     // lone surrogate at the end
        Bytes{0x30},                         // a digit and nothing more
        Bytes{'9', '9'},                     // a number prefix larger than the text
    };
    for (const Bytes& reply : hostile) {
        auto exact = std::make_unique<uint8_t[]>(reply.size());
        std::copy(reply.begin(), reply.end(), exact.get());
        std::span<const uint8_t> view(exact.get(), reply.size());
        NvUSBcmd::decodeByte(view);
        auto s = NvUSBcmd::decodeString(view);
        auto d = NvUSBcmd::decodeDigitPrefixedString(view);
        EXPECT_TRUE(!s || validUtf8(*s));
        EXPECT_TRUE(!d || validUtf8(*d));
        EXPECT_TRUE(validUtf8(NvUSBcmd::decodeNumberPrefixedString(view)));
        EXPECT_TRUE(validUtf8(NvUSBcmd::decodeUnicodeLabel(view)));
    }
    EXPECT_EQ(NvUSBcmd::decodeString(Bytes(256, 'A'))->size(), 256u);
    EXPECT_EQ(NvUSBcmd::decodeNumberPrefixedString(Bytes{'9', '9'}), "99");
}

TEST(ReplyDecoders, HundredThousandRandomReplies) {
    std::mt19937 rng(20240131);
    // Bytes a camera might plausibly send, and plenty it should not.
    const std::string alphabet = "0123456789abcdefABCDEFxX+-:.\x05\x06";
    for (int i = 0; i < 100000; ++i) {
        size_t size = rng() % 258;
        auto exact = std::make_unique<uint8_t[]>(size);
        int style = static_cast<int>(rng() % 3);
        for (size_t k = 0; k < size; ++k) {
            uint32_t r = rng();
            if (style == 0) exact[k] = static_cast<uint8_t>(r);
            else if (style == 1) exact[k] = static_cast<uint8_t>(alphabet[r % alphabet.size()]);
            else exact[k] = (r % 17 == 0) ? 0 : static_cast<uint8_t>(0x80 | (r & 0x7F));
        }
        if (size && rng() % 4 == 0) exact[0] = static_cast<uint8_t>(size - 1 - rng() % 3);  // near-right prefixes
        std::span<const uint8_t> reply(exact.get(), size);

        int b = NvUSBcmd::decodeByte(reply);
        ASSERT_GE(b, -128);
        ASSERT_LE(b, 127);
        std::u32string chars = NvUSBcmd::replyCharacters(reply);
        ASSERT_LE(chars.size(), size);
        auto s = NvUSBcmd::decodeString(reply);
        ASSERT_EQ(s.has_value(), !chars.empty());
        if (s) {
            ASSERT_TRUE(validUtf8(*s));
        }
        auto d = NvUSBcmd::decodeDigitPrefixedString(reply);
        if (d) {
            ASSERT_TRUE(validUtf8(*d));
        }
        ASSERT_TRUE(validUtf8(NvUSBcmd::decodeNumberPrefixedString(reply)));
        std::string label = NvUSBcmd::decodeUnicodeLabel(reply);
        ASSERT_TRUE(validUtf8(label));
        ASSERT_LE(label.size(), chars.size() > 2 ? (chars.size() - 2) / 4 * 3 : 0);
    }
}
