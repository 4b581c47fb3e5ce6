#include "camera/NvUSBcmd.h"

#include "platform/foundation/TextCharacters.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/Log.h"

namespace hvb {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::u32string decodeUtf8(std::span<const uint8_t> bytes) {
    return foundation::text::characters(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void appendUtf8(std::string& out, char32_t cp) { foundation::text::appendUtf8(out, cp); }

std::string encodeUtf8(std::u32string_view chars) { return foundation::text::utf8(chars); }

bool isDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

int hexValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
    return -1;
}

// Reads through the transport into a buffer of exactly `length` bytes (zeros when refused).
std::vector<uint8_t> readReply(io_service_t service, uint8_t cmd, uint32_t length, bool* success) {
    bool ok = false;
    std::vector<uint8_t> reply;
    if (length <= kUserClientStructureSize) {
        reply.assign(length, 0);
        uint8_t none = 0;
        ok = userClientRead(service, cmd, length ? reply.data() : &none, length);
    }
    if (success) *success = ok;
    return reply;
}

}  // namespace

// ---- payloads ----------------------------------------------------------------------------------

std::array<uint8_t, NvUSBcmd::kDataPayloadSize> NvUSBcmd::dataPayload(std::span<const uint8_t> bytes) {
    std::array<uint8_t, kDataPayloadSize> block{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
    return block;
}

std::optional<std::vector<uint8_t>> NvUSBcmd::wordsPayload(std::span<const uint32_t> numbers) {
    if (numbers.size() > kMaxWords) return std::nullopt;
    std::vector<uint8_t> payload;
    payload.reserve(numbers.size() * 4);
    for (uint32_t number : numbers) {
        for (int shift = 0; shift < 32; shift += 8) payload.push_back(static_cast<uint8_t>(number >> shift));
    }
    return payload;
}

CommandOutcome NvUSBcmd::sendCommandDataOutcome(io_service_t service, uint8_t cmd, std::span<const uint8_t> bytes) {
    auto block = dataPayload(bytes);
    return userClientWriteOutcome(service, cmd, block.data(), static_cast<uint32_t>(block.size()));
}

bool NvUSBcmd::sendCommandData(io_service_t service, uint8_t cmd, std::span<const uint8_t> bytes) {
    return carried(sendCommandDataOutcome(service, cmd, bytes));
}

bool NvUSBcmd::sendCommandData(io_service_t service, uint8_t cmd, std::string_view text) {
    return sendCommandData(service, cmd,
                           std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

CommandOutcome NvUSBcmd::sendCommandWordsOutcome(io_service_t service, uint8_t cmd,
                                                 std::span<const uint32_t> numbers) {
    auto payload = wordsPayload(numbers);
    if (!payload) return CommandOutcome::failed;
    return userClientWriteOutcome(service, cmd, payload->data(), static_cast<uint32_t>(payload->size()));
}

bool NvUSBcmd::sendCommandWords(io_service_t service, uint8_t cmd, std::span<const uint32_t> numbers) {
    return carried(sendCommandWordsOutcome(service, cmd, numbers));
}

// ---- decoders ----------------------------------------------------------------------------------

int NvUSBcmd::decodeByte(std::span<const uint8_t> reply) {
    return reply.empty() ? 0 : static_cast<int>(static_cast<int8_t>(reply[0]));
}

namespace {
// The reply's bytes up to its first zero.
std::span<const uint8_t> beforeZero(std::span<const uint8_t> reply) {
    const void* zero = reply.empty() ? nullptr : std::memchr(reply.data(), 0, reply.size());
    return reply.first(zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - reply.data()) : reply.size());
}
}  // namespace

std::u32string NvUSBcmd::replyCharacters(std::span<const uint8_t> reply) { return decodeUtf8(beforeZero(reply)); }

std::string NvUSBcmd::replyText(std::span<const uint8_t> reply) { return encodeUtf8(replyCharacters(reply)); }

std::optional<std::string> NvUSBcmd::decodeString(std::span<const uint8_t> reply) {
    std::u32string text = replyCharacters(reply);
    if (text.empty()) return std::nullopt;
    // A first byte equal to the count of the characters after it is a length prefix.
    if (reply[0] == static_cast<uint8_t>(text.size() - 1)) return encodeUtf8(std::u32string_view(text).substr(1));
    return encodeUtf8(text);
}

std::optional<std::string> NvUSBcmd::decodePrintedString(uint8_t cmd, std::span<const uint8_t> reply) {
    // The camera's bytes up to the first zero, escaped: a reply cannot forge log lines.
    const auto shown = beforeZero(reply);
    const std::string_view bytes(reinterpret_cast<const char*>(shown.data()), shown.size());
    foundation::print("cmd = " + std::to_string(cmd) + ", str = " + foundation::escapedForLog(bytes));
    return decodeString(reply);
}

std::optional<std::string> NvUSBcmd::decodeDigitPrefixedString(std::span<const uint8_t> reply) {
    std::u32string text = replyCharacters(reply);
    if (text.empty()) return std::nullopt;
    if (reply[0] >= '0' && reply[0] <= '9' && static_cast<size_t>(reply[0] - '0') == text.size() - 1) {
        return encodeUtf8(std::u32string_view(text).substr(1));
    }
    return encodeUtf8(text);
}

std::string NvUSBcmd::decodeNumberPrefixedString(std::span<const uint8_t> reply) {
    std::u32string text = replyCharacters(reply);
    const size_t n = text.size();
    if (n == 0) return {};
    if (n >= 2 && isDigit(text[0]) && isDigit(text[1])) {
        size_t value = static_cast<size_t>(text[0] - U'0') * 10 + static_cast<size_t>(text[1] - U'0');
        if (value == n - 2) return encodeUtf8(std::u32string_view(text).substr(2));
    }
    if (isDigit(text[0]) && static_cast<size_t>(text[0] - U'0') == n - 1) {
        return encodeUtf8(std::u32string_view(text).substr(1));
    }
    return encodeUtf8(text);
}

std::string NvUSBcmd::decodeUnicodeLabel(std::span<const uint8_t> reply) {
    std::u32string text = replyCharacters(reply);
    if (text.size() <= 2) return {};
    // Groups of four characters after the first two; each is one UTF-16 code unit in hex,
    // parsed as far as its leading hex digits go (none: 0). A trailing partial group is ignored.
    std::vector<char16_t> units;
    for (size_t pos = 2; pos + 4 <= text.size(); pos += 4) {
        uint32_t value = 0;
        for (size_t k = 0; k < 4; ++k) {
            int digit = hexValue(text[pos + k]);
            if (digit < 0) break;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        units.push_back(static_cast<char16_t>(value));
    }
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t unit = units[i];
        bool high = unit >= 0xD800 && unit <= 0xDBFF;
        bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                          (static_cast<char32_t>(units[i + 1]) - 0xDC00);
            appendUtf8(out, cp);
            ++i;
        } else if (high || low) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

// ---- reads -------------------------------------------------------------------------------------

int NvUSBcmd::readCommandByte(io_service_t service, uint8_t cmd, uint32_t length, bool* success) {
    return decodeByte(readReply(service, cmd, length, success));
}

std::optional<std::string> NvUSBcmd::readCommandString(io_service_t service, uint8_t cmd, uint32_t length,
                                                       bool* success) {
    return decodePrintedString(cmd, readReply(service, cmd, length, success));
}

std::optional<std::string> NvUSBcmd::readCommandDigitPrefixedString(io_service_t service, uint8_t cmd,
                                                                    uint32_t length, bool* success) {
    return decodeDigitPrefixedString(readReply(service, cmd, length, success));
}

std::string NvUSBcmd::readCommandNumberPrefixedString(io_service_t service, uint8_t cmd, uint32_t length,
                                                      bool* success) {
    return decodeNumberPrefixedString(readReply(service, cmd, length, success));
}

std::string NvUSBcmd::readCommandUnicodeLabel(io_service_t service, uint8_t cmd, uint32_t length, bool* success) {
    return decodeUnicodeLabel(readReply(service, cmd, length, success));
}

}  // namespace hvb
