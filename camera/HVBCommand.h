#pragma once
// The vendor command tables: one per camera model and firmware generation, each mapping a
// command name to its one-byte code. Constant data; the rest of the system reads commands
// through cmdTables (CommandTables.h), which adds the cross-model alias names.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hvb::HVBCommand {

// (command name, code) in declaration order, which is ascending code order.
using Entries = std::vector<std::pair<std::string, uint8_t>>;

class Table;

// One command of one table. Equal when it is the same command of the same table.
class Case {
public:
    const Table& table() const { return *table_; }
    const std::string& name() const;
    uint8_t rawValue() const;
    std::size_t position() const { return index_; }
    bool operator==(const Case&) const = default;

private:
    friend class Table;
    Case(const Table* table, uint16_t index) : table_(table), index_(index) {}
    const Table* table_;
    uint16_t index_;
};

class Table {
public:
    Table(std::string name, Entries entries);
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    const std::string& name() const { return name_; }
    const Entries& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }

    std::vector<Case> allCases() const;
    // The command with this code; none when the table has no such code (0 is a real code).
    std::optional<Case> caseForCode(uint8_t code) const;
    std::optional<Case> caseNamed(std::string_view commandName) const;
    std::optional<uint8_t> code(std::string_view commandName) const;
    // Same names with the same codes (tables of different names may hold the same commands).
    bool sameCommands(const Table& other) const { return entries_ == other.entries_; }

private:
    std::string name_;
    Entries entries_;
    std::array<int16_t, 256> byCode_{};  // position of each code's command, -1 when absent
};

// The 45 table names in declaration order.
const std::vector<std::string>& tableNames();
// The table of that exact name, or nullptr.
const Table* table(std::string_view tableName);
// The commands of the table of that exact name, or nullptr when there is no such table.
const Entries* tableEntries(std::string_view tableName);

// One accessor per table, named like the table.
#define HVB_COMMAND_TABLE_LIST(X)                                                               \
    X(HVBR4Cmd_0) X(HVBR4Cmd_1) X(HVBR4Cmd_2) X(HVBR4Cmd_3) X(HVBR4Cmd_4)                       \
    X(HVBR7Cmd_0) X(HVBR7Cmd_1) X(HVBR7Cmd_2) X(HVBR7Cmd_3)                                     \
    X(HVBS8Cmd_0) X(HVBS8Cmd_1) X(HVBS8Cmd_2) X(HVBS8Cmd_3)                                     \
    X(HVBS2ACmd_1) X(HVBS2ACmd_2) X(HVBS2ACmd_3) X(HVBS2ACmd_4) X(HVBS2ACmd_5) X(HVBS2ACmd_6)   \
    X(HVBT3ACmd_0) X(HVBT3ACmd_1) X(HVBT3ACmd_2) X(HVBT3ACmd_3) X(HVBT3ACmd_4)                  \
    X(HVBR4BCmd_0) X(HVBR4BCmd_1) X(HW7312Cmd_0) X(HW7312Cmd_1) X(HW7313Cmd_0) X(HW7313Cmd_1)   \
    X(HW7331Cmd_0) X(HW7331Cmd_1) X(HW7331Cmd_2) X(HW7332Cmd_0) X(HW7332Cmd_1)                  \
    X(HW7333Cmd_0) X(HW7333Cmd_1) X(HW7334Cmd_0) X(HW7334Cmd_1) X(HW7351Cmd_0) X(HW7351Cmd_1)   \
    X(HW7352Cmd_0) X(HW7352Cmd_1) X(HW7360Cmd_0) X(HW7360Cmd_1)

#define HVB_DECLARE_COMMAND_TABLE(name) const Table& name();
HVB_COMMAND_TABLE_LIST(HVB_DECLARE_COMMAND_TABLE)
#undef HVB_DECLARE_COMMAND_TABLE

}  // namespace hvb::HVBCommand

template <>
struct std::hash<hvb::HVBCommand::Case> {
    std::size_t operator()(const hvb::HVBCommand::Case& c) const noexcept {
        return std::hash<const void*>()(&c.table()) ^ (c.position() * 0x9E3779B97F4A7C15ULL);
    }
};
