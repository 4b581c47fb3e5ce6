#include "platform/foundation/Plist.h"
#include "platform/foundation/Strings.h"

#include <pugixml.hpp>

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

namespace foundation::plist {

// ---- accessors ----------------------------------------------------------------------------

const std::string* Value::asString() const { return std::get_if<std::string>(&v); }
const int64_t* Value::asInteger() const { return std::get_if<int64_t>(&v); }
const double* Value::asReal() const { return std::get_if<double>(&v); }
const bool* Value::asBool() const { return std::get_if<bool>(&v); }
const Date* Value::asDate() const { return std::get_if<Date>(&v); }
const Data* Value::asData() const { return std::get_if<Data>(&v); }

const Array* Value::asArray() const {
    auto p = std::get_if<std::shared_ptr<Array>>(&v);
    return p ? p->get() : nullptr;
}

const Dictionary* Value::asDictionary() const {
    auto p = std::get_if<std::shared_ptr<Dictionary>>(&v);
    return p ? p->get() : nullptr;
}

const Value* Value::get(const std::string& key) const {
    const Dictionary* dict = asDictionary();
    if (!dict) return nullptr;
    auto it = dict->find(key);
    return it == dict->end() ? nullptr : &it->second;
}

// ---- reader -------------------------------------------------------------------------------

namespace {

// Deeper nesting than this is refused rather than risking the stack on a hostile document.
constexpr int kMaxDepth = 256;

struct Failure {
    std::string message;
};

bool isBlank(std::string_view s) { return trimmed(s).empty(); }

// The text of a leaf element (character data and CDATA sections); nested elements are an error.
std::string leafText(const pugi::xml_node& node) {
    std::string text;
    for (const pugi::xml_node& child : node.children()) {
        switch (child.type()) {
            case pugi::node_pcdata:
            case pugi::node_cdata:
                text += child.value();
                break;
            case pugi::node_comment:
            case pugi::node_pi:
                break;
            default:
                throw Failure{std::string("unexpected element inside <") + node.name() + ">"};
        }
    }
    return text;
}

int64_t parseInteger(std::string_view raw) {
    std::string_view s = trimmed(raw);
    bool negative = false;
    std::string_view digits = s;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty() || digits.front() == '+' || digits.front() == '-')
        throw Failure{"invalid <integer> \"" + std::string(s) + "\""};
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (ec != std::errc() || end != digits.data() + digits.size())
        throw Failure{"invalid <integer> \"" + std::string(s) + "\""};
    constexpr uint64_t kMaxPositive = static_cast<uint64_t>(INT64_MAX);
    if (negative) {
        if (magnitude > kMaxPositive + 1) throw Failure{"<integer> out of range: " + std::string(s)};
        if (magnitude == kMaxPositive + 1) return INT64_MIN;
        return -static_cast<int64_t>(magnitude);
    }
    if (magnitude > kMaxPositive) throw Failure{"<integer> out of range: " + std::string(s)};
    return static_cast<int64_t>(magnitude);
}

double parseReal(std::string_view raw) {
    std::string_view s = trimmed(raw);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        throw Failure{"invalid <real> \"" + std::string(trimmed(raw)) + "\""};
    return value;
}

// "2024-05-01T12:00:00Z" (UTC, the only form property lists carry).
Date parseDate(std::string_view raw) {
    std::string_view s = trimmed(raw);
    auto fail = [&]() -> Failure { return Failure{"invalid <date> \"" + std::string(s) + "\""}; };
    if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
        s[16] != ':' || s[19] != 'Z')
        throw fail();
    auto number = [&](size_t pos, size_t len) {
        int value = 0;
        for (size_t i = pos; i < pos + len; ++i) {
            if (s[i] < '0' || s[i] > '9') throw fail();
            value = value * 10 + (s[i] - '0');
        }
        return value;
    };
    int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    std::chrono::year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                    std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 59) throw fail();
    std::chrono::sys_seconds seconds = std::chrono::sys_days(ymd) + std::chrono::hours(hour) +
                                       std::chrono::minutes(minute) + std::chrono::seconds(second);
    // The clock's range is about 1678-2262; outside it the conversion would overflow.
    using std::chrono::floor;
    if (seconds <= floor<std::chrono::seconds>(Date::min()) || seconds >= floor<std::chrono::seconds>(Date::max()))
        throw Failure{"<date> out of range \"" + std::string(s) + "\""};
    return std::chrono::time_point_cast<Date::duration>(seconds);
}

Data parseBase64(std::string_view text) {
    auto decode = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    Data out;
    uint32_t buffer = 0;
    int bits = 0;
    int padding = 0;
    size_t symbols = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            ++padding;
            ++symbols;
            continue;
        }
        int v = decode(c);
        if (v < 0 || padding > 0) throw Failure{"invalid base64 in <data>"};
        buffer = (buffer << 6) | static_cast<uint32_t>(v);
        bits += 6;
        ++symbols;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    if (padding > 2 || (padding > 0 && symbols % 4 != 0) || symbols % 4 == 1)
        throw Failure{"invalid base64 in <data>"};
    return out;
}

Value parseValue(const pugi::xml_node& node, int depth);

Dictionary parseDict(const pugi::xml_node& node, int depth) {
    Dictionary dict;
    std::optional<std::string> key;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            if (!isBlank(child.value())) throw Failure{"unexpected text inside <dict>"};
            continue;
        }
        if (child.type() != pugi::node_element) continue;
        if (!key) {
            if (std::string_view(child.name()) != "key")
                throw Failure{std::string("expected <key> in <dict>, found <") + child.name() + ">"};
            key = leafText(child);
            continue;
        }
        if (std::string_view(child.name()) == "key")
            throw Failure{"<key> \"" + *key + "\" has no value"};
        dict.insert_or_assign(*key, parseValue(child, depth + 1));
        key.reset();
    }
    if (key) throw Failure{"<key> \"" + *key + "\" has no value"};
    return dict;
}

Array parseArray(const pugi::xml_node& node, int depth) {
    Array array;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            if (!isBlank(child.value())) throw Failure{"unexpected text inside <array>"};
            continue;
        }
        if (child.type() != pugi::node_element) continue;
        array.push_back(parseValue(child, depth + 1));
    }
    return array;
}

Value parseValue(const pugi::xml_node& node, int depth) {
    if (depth > kMaxDepth) throw Failure{"property list nested too deeply"};
    std::string_view name = node.name();
    if (name == "dict") return Value(parseDict(node, depth));
    if (name == "array") return Value(parseArray(node, depth));
    if (name == "string") return Value(leafText(node));
    if (name == "integer") return Value(parseInteger(leafText(node)));
    if (name == "real") return Value(parseReal(leafText(node)));
    if (name == "true" || name == "false") {
        if (!isBlank(leafText(node))) throw Failure{"<" + std::string(name) + "/> must be empty"};
        return Value(name == "true");
    }
    if (name == "date") return Value(parseDate(leafText(node)));
    if (name == "data") return Value(parseBase64(leafText(node)));
    throw Failure{"unknown element <" + std::string(name) + ">"};
}

}  // namespace

ParseResult parseXml(const std::string& text) {
    ParseResult result;
    if (text.rfind("bplist", 0) == 0) {
        result.error = "binary property lists are not supported";
        return result;
    }
    pugi::xml_document doc;
    pugi::xml_parse_result parsed =
        doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!parsed) {
        result.error = std::string("malformed XML at offset ") + std::to_string(parsed.offset) + ": " +
                       parsed.description();
        return result;
    }
    pugi::xml_node root = doc.document_element();
    if (!root || std::string_view(root.name()) != "plist") {
        result.error = "the document is not a property list (no <plist> root)";
        return result;
    }
    pugi::xml_node top;
    for (const pugi::xml_node& child : root.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            if (!isBlank(child.value())) {
                result.error = "unexpected text inside <plist>";
                return result;
            }
            continue;
        }
        if (child.type() != pugi::node_element) continue;
        if (top) {
            result.error = "<plist> holds more than one value";
            return result;
        }
        top = child;
    }
    if (!top) {
        result.error = "<plist> is empty";
        return result;
    }
    try {
        result.value = parseValue(top, 0);
    } catch (const Failure& failure) {
        result.error = failure.message;
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    return result;
}

ParseResult parseFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return ParseResult{std::nullopt, "cannot open \"" + path + "\""};
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return ParseResult{std::nullopt, "cannot read \"" + path + "\""};
    ParseResult result = parseXml(buffer.str());
    if (!result.value) result.error = path + ": " + result.error;
    return result;
}

}  // namespace foundation::plist
