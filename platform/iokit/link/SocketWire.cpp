#include "platform/iokit/link/SocketWire.h"

#include <cstring>

#include "platform/iokit/kern/IOTypes.h"

namespace iokit::wire {

namespace {

enum ValueTag : uint8_t { kNumberTag = 0, kTextTag = 1, kDataTag = 2, kBoolTag = 3 };

// Numbers travel little-endian.
void appendLittle(std::vector<uint8_t>& out, uint64_t v, size_t size) {
    for (size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t fromLittle(const uint8_t* p, size_t size) {
    uint64_t v = 0;
    for (size_t i = size; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

std::optional<Value> find(const PropertyTable& table, const std::string& key) {
    for (auto& [k, v] : table) {
        if (k == key) return v;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Value> EntrySnapshot::property(const std::string& key) const { return find(own, key); }

std::optional<Value> EntrySnapshot::search(const std::string& key, uint32_t options) const {
    if (auto v = find(own, key)) return v;
    if (!(options & kIORegistryIterateRecursively)) return std::nullopt;
    const auto& others = (options & kIORegistryIterateParents) ? ancestors : descendants;
    for (const PropertyTable& table : others) {
        if (auto v = find(table, key)) return v;
    }
    return std::nullopt;
}

// ---- Writer ----------------------------------------------------------------------------------

Writer::Writer(Type type, uint32_t requestID, uint16_t flags) {
    buffer_.reserve(128);
    u32(kMagic);
    u32(0);
    u16(static_cast<uint16_t>(type));
    u16(flags);
    u32(requestID);
}

void Writer::u8(uint8_t v) { buffer_.push_back(v); }
void Writer::u16(uint16_t v) { appendLittle(buffer_, v, 2); }
void Writer::u32(uint32_t v) { appendLittle(buffer_, v, 4); }
void Writer::u64(uint64_t v) { appendLittle(buffer_, v, 8); }
void Writer::text(const std::string& s) {
    u32(static_cast<uint32_t>(s.size()));
    buffer_.insert(buffer_.end(), s.begin(), s.end());
}
void Writer::bytes(std::span<const uint8_t> b) {
    u32(static_cast<uint32_t>(b.size()));
    buffer_.insert(buffer_.end(), b.begin(), b.end());
}

void Writer::value(const Value& v) {
    if (auto* n = std::get_if<Number>(&v)) {
        u8(kNumberTag);
        u64(n->value);
        u8(n->bits);
    } else if (auto* s = std::get_if<std::string>(&v)) {
        u8(kTextTag);
        text(s->size() > kMaxValueLength ? s->substr(0, kMaxValueLength) : *s);
    } else if (auto* d = std::get_if<std::vector<uint8_t>>(&v)) {
        u8(kDataTag);
        bytes(std::span<const uint8_t>(d->data(), std::min(d->size(), kMaxValueLength)));
    } else {
        u8(kBoolTag);
        u8(std::get<bool>(v) ? 1 : 0);
    }
}

void Writer::optionalValue(const std::optional<Value>& v) {
    u8(v ? 1 : 0);
    if (v) value(*v);
}

void Writer::matching(const MatchingDictionary& m) {
    text(m.providerClass);
    text(m.nameMatch);
    u32(static_cast<uint32_t>(m.propertyMatch.size()));
    for (auto& [k, v] : m.propertyMatch) {
        text(k);
        value(v);
    }
}

void Writer::table(const PropertyTable& t) {
    size_t n = std::min(t.size(), kMaxTableEntries);
    u32(static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) {
        text(t[i].first.size() > kMaxNameLength ? t[i].first.substr(0, kMaxNameLength) : t[i].first);
        value(t[i].second);
    }
}

void Writer::snapshot(const EntrySnapshot& s) {
    text(s.name.substr(0, kMaxNameLength));
    u64(s.entryID);
    text(s.path.substr(0, kMaxPathLength));
    table(s.own);
    for (const auto* list : {&s.ancestors, &s.descendants}) {
        size_t n = std::min(list->size(), kMaxSnapshotEntries);
        u32(static_cast<uint32_t>(n));
        for (size_t i = 0; i < n; ++i) table((*list)[i]);
    }
}

std::vector<uint8_t>& Writer::finish() {
    uint32_t length = static_cast<uint32_t>(buffer_.size());
    for (int i = 0; i < 4; ++i) buffer_[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    return buffer_;
}

// ---- Reader ----------------------------------------------------------------------------------

Reader::Reader(std::span<const uint8_t> packet) : data_(packet) {
    if (packet.size() < kHeaderSize) {
        ok_ = false;
        return;
    }
    header_.magic = u32();
    header_.length = u32();
    header_.type = u16();
    header_.flags = u16();
    header_.requestID = u32();
    if (header_.magic != kMagic || header_.length != packet.size() || (header_.flags & ~kReplyFlag)) ok_ = false;
}

bool Reader::take(size_t n, const uint8_t** out) {
    if (!ok_ || n > data_.size() - position_) {
        ok_ = false;
        return false;
    }
    *out = data_.data() + position_;
    position_ += n;
    return true;
}

uint8_t Reader::u8() {
    const uint8_t* p;
    return take(1, &p) ? p[0] : 0;
}
uint16_t Reader::u16() {
    const uint8_t* p;
    return take(2, &p) ? static_cast<uint16_t>(fromLittle(p, 2)) : 0;
}
uint32_t Reader::u32() {
    const uint8_t* p;
    return take(4, &p) ? static_cast<uint32_t>(fromLittle(p, 4)) : 0;
}
uint64_t Reader::u64() {
    const uint8_t* p;
    return take(8, &p) ? fromLittle(p, 8) : 0;
}

uint32_t Reader::count(size_t maxCount) {
    uint32_t n = u32();
    if (n <= maxCount) return n;
    ok_ = false;
    return 0;
}

std::span<const uint8_t> Reader::run(size_t maxLength) {
    uint32_t n = count(maxLength);
    const uint8_t* p;
    if (!take(n, &p)) return {};
    return {p, n};
}

std::string Reader::text(size_t maxLength) {
    auto r = run(maxLength);
    return std::string(r.begin(), r.end());
}

std::vector<uint8_t> Reader::bytes(size_t maxLength) {
    auto r = run(maxLength);
    return std::vector<uint8_t>(r.begin(), r.end());
}

Value Reader::value() {
    switch (u8()) {
        case kNumberTag: {
            uint64_t v = u64();
            uint8_t bits = u8();
            if (bits == 0 || bits > 64) ok_ = false;
            return Number{v, bits};
        }
        case kTextTag: return text(kMaxValueLength);
        case kDataTag: return bytes(kMaxValueLength);
        case kBoolTag: {
            uint8_t b = u8();
            if (b > 1) ok_ = false;
            return b == 1;
        }
        default: ok_ = false; return false;
    }
}

std::optional<Value> Reader::optionalValue() {
    uint8_t present = u8();
    if (present > 1) ok_ = false;
    if (present != 1 || !ok_) return std::nullopt;
    return value();
}

PropertyTable Reader::pairs(size_t maxCount) {
    PropertyTable t;
    uint32_t n = count(maxCount);
    for (uint32_t i = 0; i < n && ok_; ++i) {
        std::string key = text(kMaxNameLength);
        Value v = value();
        if (ok_) t.emplace_back(std::move(key), std::move(v));
    }
    return t;
}

MatchingDictionary Reader::matching() {
    MatchingDictionary m;
    m.providerClass = text(kMaxNameLength);
    m.nameMatch = text(kMaxNameLength);
    for (auto& [key, v] : pairs(kMaxPropertyMatches)) m.propertyMatch[key] = std::move(v);
    return m;
}

PropertyTable Reader::table() { return pairs(kMaxTableEntries); }

EntrySnapshot Reader::snapshot() {
    EntrySnapshot s;
    s.name = text(kMaxNameLength);
    s.entryID = u64();
    s.path = text(kMaxPathLength);
    s.own = table();
    for (auto* list : {&s.ancestors, &s.descendants}) {
        uint32_t n = count(kMaxSnapshotEntries);
        for (uint32_t i = 0; i < n && ok_; ++i) list->push_back(table());
    }
    return s;
}

}  // namespace iokit::wire
