#pragma once
// Plain, serialisable values that cross between the user side and the kernel side.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace iokit {

using Handle = uint32_t;  // 0 is "none"

struct Number {
    uint64_t value = 0;
    uint8_t bits = 64;
    bool operator==(const Number& other) const { return value == other.value; }
};

// A registry property: number, text, bytes or boolean.
using Value = std::variant<Number, std::string, std::vector<uint8_t>, bool>;

inline Value makeNumber(uint64_t value, uint8_t bits = 32) { return Number{value, bits}; }
inline const Number* asNumber(const std::optional<Value>& v) { return v ? std::get_if<Number>(&*v) : nullptr; }
inline const std::string* asString(const std::optional<Value>& v) {
    return v ? std::get_if<std::string>(&*v) : nullptr;
}
inline const std::vector<uint8_t>* asData(const std::optional<Value>& v) {
    return v ? std::get_if<std::vector<uint8_t>>(&*v) : nullptr;
}

// Which services a lookup or notification wants: a class (subclasses included), optionally a
// registry name, and properties that must be present with equal values.
struct MatchingDictionary {
    std::string providerClass;
    std::string nameMatch;
    std::map<std::string, Value> propertyMatch;

    void setProperty(const std::string& key, Value value) { propertyMatch[key] = std::move(value); }
};

enum class NotificationKind : uint8_t { matched, firstMatch, terminated };

struct CallResult {
    std::vector<uint64_t> scalarOutput;
    std::vector<uint8_t> structureOutput;
};

// Bounds the kernel side enforces on every call before dispatch.
constexpr uint32_t kMaxScalarCount = 16;
constexpr uint32_t kMaxInlineStructureSize = 4096;

}  // namespace iokit
