#pragma once
// The process-wide command dictionary: table name ("<model>Cmd_<n>") -> command name -> code,
// with the alias names the rest of the system uses across models, and the model catalogues.
// A command a table does not hold is "not supported"; a lookup never turns it into code 0.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace hvb {

using CommandDictionary = std::unordered_map<std::string, uint8_t>;

// Table name -> dictionary. Filled once at start-up and only read afterwards; every access is
// guarded, so readers on any thread are safe even against a rebuild.
class CommandTableMap {
public:
    // A copy of the entry under that table name; none when there is no such entry.
    std::optional<CommandDictionary> find(const std::string& tableName) const;
    bool contains(const std::string& tableName) const;
    std::optional<uint8_t> lookup(const std::string& tableName, const std::string& commandName) const;
    std::size_t size() const;          // tables
    std::size_t entryCount() const;    // commands and aliases of all tables together
    std::vector<std::string> names() const;

    void store(const std::string& tableName, CommandDictionary dictionary);
    void replaceAll(std::map<std::string, CommandDictionary> tables);
    void clear();

private:
    mutable std::shared_mutex mutex_;
    std::map<std::string, CommandDictionary> tables_;
};

CommandTableMap& cmdTables();

// Rebuilds every entry of cmdTables from the command tables (readers see the old or the new
// content, never a half-built one).
void buildAllCommandTables();
// Builds and stores the entry of one table name; a name that is no table gets no entry.
void buildCommandTable(const std::string& name);

std::optional<CommandDictionary> commandTable(const std::string& tableName);
std::optional<uint8_t> lookupCommand(const std::string& tableName, const std::string& commandName);

const std::vector<std::string>& supportedModels();
const std::map<std::string, std::string>& modelDisplayNames();
const std::map<std::string, std::string>& firmwarePackageNames();
// The 45 table names in declaration order, and in the order the plug-in read probes them.
const std::vector<std::string>& commandTableNames();
const std::vector<std::string>& commandTableSearchOrder();
// "<model>Cmd_<index>".
std::string commandTableName(const std::string& model, int index);

}  // namespace hvb
