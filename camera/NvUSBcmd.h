#pragma once
// Camera command payloads and reply decoders. Each operation makes exactly one write or read
// through the transport; the decoders are also usable on their own.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "camera/UserClientTransport.h"

namespace hvb {

class NvUSBcmd {
public:
    static constexpr size_t kDataPayloadSize = 32;
    static constexpr size_t kMaxWords = 64;

    // ---- writes ----
    // The bytes (a text as its UTF-8 bytes) in a 32-byte block, cut or zero-padded.
    static bool sendCommandData(io_service_t service, uint8_t cmd, std::span<const uint8_t> bytes);
    static bool sendCommandData(io_service_t service, uint8_t cmd, std::string_view text);
    static CommandOutcome sendCommandDataOutcome(io_service_t service, uint8_t cmd, std::span<const uint8_t> bytes);
    // Each number as 4 little-endian bytes; at most 64 numbers (refused before any call), none
    // sends an empty payload.
    static bool sendCommandWords(io_service_t service, uint8_t cmd, std::span<const uint32_t> numbers);
    static CommandOutcome sendCommandWordsOutcome(io_service_t service, uint8_t cmd,
                                                  std::span<const uint32_t> numbers);

    // ---- reads: each decodes whatever the buffer holds and reports the transfer in `success` ----
    static int readCommandByte(io_service_t service, uint8_t cmd, uint32_t length, bool* success);
    static std::optional<std::string> readCommandString(io_service_t service, uint8_t cmd, uint32_t length,
                                                        bool* success);
    static std::optional<std::string> readCommandDigitPrefixedString(io_service_t service, uint8_t cmd,
                                                                     uint32_t length, bool* success);
    static std::string readCommandNumberPrefixedString(io_service_t service, uint8_t cmd, uint32_t length,
                                                       bool* success);
    static std::string readCommandUnicodeLabel(io_service_t service, uint8_t cmd, uint32_t length, bool* success);

    // ---- payload forms ----
    static std::array<uint8_t, kDataPayloadSize> dataPayload(std::span<const uint8_t> bytes);
    static std::optional<std::vector<uint8_t>> wordsPayload(std::span<const uint32_t> numbers);

    // ---- reply decoders (never read past the reply) ----
    static int decodeByte(std::span<const uint8_t> reply);
    // The bytes up to the first zero (or all of them) as code points; invalid UTF-8 becomes
    // U+FFFD.
    static std::u32string replyCharacters(std::span<const uint8_t> reply);
    static std::string replyText(std::span<const uint8_t> reply);
    static std::optional<std::string> decodeString(std::span<const uint8_t> reply);
    // decodeString, after printing the reply of `cmd` as "cmd = <cmd>, str = <its text, escaped>".
    static std::optional<std::string> decodePrintedString(uint8_t cmd, std::span<const uint8_t> reply);
    static std::optional<std::string> decodeDigitPrefixedString(std::span<const uint8_t> reply);
    static std::string decodeNumberPrefixedString(std::span<const uint8_t> reply);
    static std::string decodeUnicodeLabel(std::span<const uint8_t> reply);
};

}  // namespace hvb
