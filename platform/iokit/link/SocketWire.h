#pragma once
// The messages between the driver host and the application over the Unix socket. Each message
// is one SOCK_SEQPACKET packet: a 16-byte header (magic, length of the whole message, type,
// flags, request ID) and a body of fixed-width little-endian fields. Every count and length is
// bounded; a reader that meets anything out of bounds, unknown, or left over fails, and the
// receiver drops the peer that sent it.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/iokit/link/LinkTypes.h"

namespace iokit::wire {

constexpr uint32_t kMagic = 0x4B425648;  // "HVBK"
constexpr uint32_t kProtocolVersion = 1;
constexpr size_t kHeaderSize = 16;
constexpr size_t kMaxRequestSize = 16 * 1024;   // application to host
constexpr size_t kMaxMessageSize = 256 * 1024;  // host to application (snapshots included)
constexpr size_t kMaxNameLength = 1024;         // class names, keys, registry names
constexpr size_t kMaxPathLength = 4096;
constexpr size_t kMaxValueLength = 4096;        // text and data property values
constexpr size_t kMaxPropertyMatches = 32;
constexpr size_t kMaxHandles = 4096;
constexpr size_t kMaxControlArguments = 32;
constexpr size_t kMaxTableEntries = 128;        // properties of one snapshot entry
constexpr size_t kMaxSnapshotEntries = 64;      // ancestors or descendants of one snapshot
constexpr uint64_t kInternalNotificationBit = 1ull << 63;

enum class Type : uint16_t {
    hello = 1,
    ping = 2,
    getMatchingServices = 10,
    retainObject = 11,
    releaseObject = 12,
    getProperty = 13,
    searchProperty = 14,
    getName = 15,
    getEntryID = 16,
    getPath = 17,
    addNotification = 18,
    removeNotification = 19,
    openConnection = 20,
    callMethod = 21,
    closeConnection = 22,
    control = 30,
    event = 200,  // host to application: a notification fired
    watch = 201,  // host to application: a live service a terminate notification covers
};
constexpr uint16_t kReplyFlag = 0x0001;

// The hello's admission byte: 1 lets the peer in; any other value turns it away and says why.
// A peer that knows only 1 and 0 reads every other value as a refusal.
enum class Admission : uint8_t {
    notAdmitted = 0,    // neither root nor a member of the host's group
    admitted = 1,
    processFull = 2,    // this process holds its share of connections
    userShareFull = 3,  // this user's processes hold their share
    tableFull = 4,      // every slot is taken
};

struct Header {
    uint32_t magic = kMagic;
    uint32_t length = 0;
    uint16_t type = 0;
    uint16_t flags = 0;
    uint32_t requestID = 0;
};

// What a terminated service still answers after its host has gone: its name, ID, path and
// the property tables the searches reach (its own, its ancestors nearest first, and its
// descendants in depth-first order).
using PropertyTable = std::vector<std::pair<std::string, Value>>;
struct EntrySnapshot {
    std::string name;
    uint64_t entryID = 0;
    std::string path;
    PropertyTable own;
    std::vector<PropertyTable> ancestors;
    std::vector<PropertyTable> descendants;

    std::optional<Value> property(const std::string& key) const;
    std::optional<Value> search(const std::string& key, uint32_t options) const;
};

class Writer {
public:
    Writer(Type type, uint32_t requestID, uint16_t flags = 0);
    void u8(uint8_t v);
    void u16(uint16_t v);
    void u32(uint32_t v);
    void u64(uint64_t v);
    void text(const std::string& s);
    void bytes(std::span<const uint8_t> b);
    void value(const Value& v);
    void optionalValue(const std::optional<Value>& v);
    void matching(const MatchingDictionary& m);
    void snapshot(const EntrySnapshot& s);
    // The finished message with its length filled in.
    std::vector<uint8_t>& finish();

private:
    void table(const PropertyTable& t);
    std::vector<uint8_t> buffer_;
};

class Reader {
public:
    // Checks the header against the packet; ok() is false when it does not hold.
    explicit Reader(std::span<const uint8_t> packet);
    bool ok() const { return ok_; }
    const Header& header() const { return header_; }
    bool isReply() const { return header_.flags & kReplyFlag; }

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    std::string text(size_t maxLength);
    std::vector<uint8_t> bytes(size_t maxLength);
    Value value();
    std::optional<Value> optionalValue();
    MatchingDictionary matching();
    EntrySnapshot snapshot();
    // True when every byte was read and nothing failed.
    bool finish() const { return ok_ && position_ == data_.size(); }
    void fail() { ok_ = false; }

private:
    bool take(size_t n, const uint8_t** out);
    uint32_t count(size_t maxCount);  // a count of at most maxCount
    std::span<const uint8_t> run(size_t maxLength);  // a length-prefixed run of bytes
    PropertyTable pairs(size_t maxCount);  // a count, then that many keys and values
    PropertyTable table();
    std::span<const uint8_t> data_;
    size_t position_ = 0;
    bool ok_ = true;
    Header header_;
};

}  // namespace iokit::wire
