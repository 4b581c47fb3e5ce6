#pragma once
// A property-list value and a reader of XML property lists (dict, array, string, integer,
// real, true/false, date, data).
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace foundation::plist {

struct Value;
using Dictionary = std::map<std::string, Value>;
using Array = std::vector<Value>;
using Data = std::vector<uint8_t>;
using Date = std::chrono::system_clock::time_point;

struct Value {
    std::variant<std::monostate, std::string, int64_t, double, bool, Date, Data,
                 std::shared_ptr<Array>, std::shared_ptr<Dictionary>>
        v;

    Value() = default;
    Value(std::string s) : v(std::move(s)) {}
    Value(const char* s) : v(std::string(s)) {}
    Value(int64_t i) : v(i) {}
    Value(double d) : v(d) {}
    Value(bool b) : v(b) {}
    Value(Date d) : v(d) {}
    Value(Data d) : v(std::move(d)) {}
    Value(Array a) : v(std::make_shared<Array>(std::move(a))) {}
    Value(Dictionary d) : v(std::make_shared<Dictionary>(std::move(d))) {}

    const std::string* asString() const;
    const int64_t* asInteger() const;
    const double* asReal() const;
    const bool* asBool() const;
    const Date* asDate() const;
    const Data* asData() const;
    const Array* asArray() const;
    const Dictionary* asDictionary() const;
    // Member of a dictionary value, or nullptr.
    const Value* get(const std::string& key) const;
};

struct ParseResult {
    std::optional<Value> value;  // the root, when the document is a valid property list
    std::string error;           // why not, otherwise
};

ParseResult parseXml(const std::string& text);
ParseResult parseFile(const std::string& path);

}  // namespace foundation::plist
