#include "camera/CommandTables.h"

#include <mutex>
#include <string_view>
#include <utility>

#include "camera/HVBCommand.h"

namespace hvb {

namespace {

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

// The alias names of a table's model; the first matching row decides.
CommandDictionary aliasesFor(const std::string& name) {
    if (contains(name, "HVBR4") && !contains(name, "HVBR4B")) return {{"HVB_FW_UPGRADE", 0x05}};
    if (contains(name, "HVBR7")) return {{"HVB_SET_PASSWORD", 0x2B}, {"HVB_FW_UPGRADE", 0x05}};
    if (contains(name, "HVBS2"))
        return {{"HVB_IS_ENCRYPT", 0x82}, {"HVB_SET_PWDCHECK", 0x83}, {"HVB_FW_UPGRADE", 0x7F}};
    if (contains(name, "HVBS8")) return {{"HVB_SET_PASSWORD", 0x2B}, {"HVB_FW_UPGRADE", 0x05}};
    if (contains(name, "HVBT3") || contains(name, "HW7351") || contains(name, "HW7352") ||
        contains(name, "HW7360"))
        return {{"HVB_IS_ENCRYPT", 0x64}, {"HVB_SET_PWDCHECK", 0x65}, {"HVB_FW_UPGRADE", 0x4D}};
    if (contains(name, "HVBR4B") || contains(name, "HW7312") || contains(name, "HW7313"))
        return {{"HVB_FW_UPGRADE", 0x4D}};
    if (contains(name, "HW7331") || contains(name, "HW7332") || contains(name, "HW7333") ||
        contains(name, "HW7334"))
        return {{"HVB_IS_ENCRYPT", 0x64}, {"HVB_SET_PWDCHECK", 0x65}};
    return {};
}

std::optional<CommandDictionary> dictionaryFor(const std::string& name) {
    const HVBCommand::Entries* entries = HVBCommand::tableEntries(name);
    if (!entries) return std::nullopt;
    CommandDictionary dictionary(entries->begin(), entries->end());
    for (auto& [alias, code] : aliasesFor(name)) dictionary[alias] = code;
    // Later HVBR4 firmware names its password check GET_SET_PWDCHECK; the password flows ask
    // every camera for HVB_SET_PWDCHECK, so give it that name too.
    if (auto it = dictionary.find("GET_SET_PWDCHECK"); it != dictionary.end())
        dictionary.try_emplace("HVB_SET_PWDCHECK", it->second);
    return dictionary;
}

}  // namespace

std::optional<CommandDictionary> CommandTableMap::find(const std::string& tableName) const {
    std::shared_lock lock(mutex_);
    auto it = tables_.find(tableName);
    if (it == tables_.end()) return std::nullopt;
    return it->second;
}

bool CommandTableMap::contains(const std::string& tableName) const {
    std::shared_lock lock(mutex_);
    return tables_.count(tableName) != 0;
}

std::optional<uint8_t> CommandTableMap::lookup(const std::string& tableName, const std::string& commandName) const {
    std::shared_lock lock(mutex_);
    auto table = tables_.find(tableName);
    if (table == tables_.end()) return std::nullopt;
    auto command = table->second.find(commandName);
    if (command == table->second.end()) return std::nullopt;
    return command->second;
}

std::size_t CommandTableMap::size() const {
    std::shared_lock lock(mutex_);
    return tables_.size();
}

std::size_t CommandTableMap::entryCount() const {
    std::shared_lock lock(mutex_);
    std::size_t n = 0;
    for (const auto& [name, dictionary] : tables_) n += dictionary.size();
    return n;
}

std::vector<std::string> CommandTableMap::names() const {
    std::shared_lock lock(mutex_);
    std::vector<std::string> out;
    out.reserve(tables_.size());
    for (const auto& [name, dictionary] : tables_) out.push_back(name);
    return out;
}

void CommandTableMap::store(const std::string& tableName, CommandDictionary dictionary) {
    std::unique_lock lock(mutex_);
    tables_.insert_or_assign(tableName, std::move(dictionary));
}

void CommandTableMap::replaceAll(std::map<std::string, CommandDictionary> tables) {
    std::unique_lock lock(mutex_);
    tables_.swap(tables);
}

void CommandTableMap::clear() {
    std::unique_lock lock(mutex_);
    tables_.clear();
}

// The tables here and their data are never destroyed: camera workers may still read them while
// the process exits.
CommandTableMap& cmdTables() {
    static auto* tables = new CommandTableMap;
    return *tables;
}

void buildAllCommandTables() {
    std::map<std::string, CommandDictionary> all;
    for (const std::string& name : commandTableNames())
        if (auto dictionary = dictionaryFor(name)) all.insert_or_assign(name, std::move(*dictionary));
    cmdTables().replaceAll(std::move(all));
}

void buildCommandTable(const std::string& name) {
    // Aliases alone would make a table that does not exist look as if it knew a few commands.
    if (auto dictionary = dictionaryFor(name)) cmdTables().store(name, std::move(*dictionary));
}

std::optional<CommandDictionary> commandTable(const std::string& tableName) {
    return cmdTables().find(tableName);
}

std::optional<uint8_t> lookupCommand(const std::string& tableName, const std::string& commandName) {
    return cmdTables().lookup(tableName, commandName);
}

const std::vector<std::string>& supportedModels() {
    static const auto& models = *new const std::vector<std::string>{
        "HVBR4",  "HVBR7",  "HVBS8",  "HVBS2A", "HVBR4B", "HVBT3A", "HW7312", "HW7313",
        "HW7331", "HW7332", "HW7333", "HW7334", "HW7351", "HW7352", "HW7360"};
    return models;
}

const std::map<std::string, std::string>& modelDisplayNames() {
    static const auto& names = *new const std::map<std::string, std::string>{
        {"HVBR4", "Brevantis HVBR4"},  {"HVBR4B", "Brevantis HVBR4"}, {"HW7312", "Brevantis HVBR4"},
        {"HW7313", "Brevantis HVBR4"}, {"HVBR7", "Brevantis HVBR7"},  {"HVBS8", "Brevantis HVBS8"},
        {"HVBS2A", "Brevantis HVBS2"}, {"HW7331", "Brevantis HVBS2"}, {"HW7332", "Brevantis HVBS2"},
        {"HW7333", "Brevantis HVBS2"}, {"HW7334", "Brevantis HVBS2"}, {"HVBT3A", "Brevantis HVBT3"},
        {"HW7351", "Brevantis HVBT3"}, {"HW7352", "Brevantis HVBT3"}, {"HW7360", "Brevantis HVBT9"},
    };
    return names;
}

const std::map<std::string, std::string>& firmwarePackageNames() {
    static const auto& names = *new const std::map<std::string, std::string>([] {
        std::map<std::string, std::string> m;
        for (const std::string& model : supportedModels()) m.emplace(model, "FW" + model + ".zip");
        return m;
    }());
    return names;
}

const std::vector<std::string>& commandTableNames() { return HVBCommand::tableNames(); }

const std::vector<std::string>& commandTableSearchOrder() {
    static const std::vector<std::string>& order = *new const std::vector<std::string>{
        "HVBR4BCmd_0", "HVBR4BCmd_1", "HW7312Cmd_0", "HW7312Cmd_1", "HW7313Cmd_0", "HW7313Cmd_1",
        "HVBS2ACmd_1", "HVBS2ACmd_2", "HVBS2ACmd_3", "HVBS2ACmd_4", "HVBS2ACmd_5", "HVBS2ACmd_6",
        "HVBT3ACmd_0", "HVBT3ACmd_1", "HVBT3ACmd_2", "HVBT3ACmd_3", "HVBT3ACmd_4",
        "HW7331Cmd_0", "HW7331Cmd_1", "HW7331Cmd_2", "HW7332Cmd_0", "HW7332Cmd_1",
        "HW7333Cmd_0", "HW7333Cmd_1", "HW7334Cmd_0", "HW7334Cmd_1", "HW7351Cmd_0", "HW7351Cmd_1",
        "HW7352Cmd_0", "HW7352Cmd_1", "HW7360Cmd_0", "HW7360Cmd_1",
        "HVBR4Cmd_1", "HVBR4Cmd_2", "HVBR4Cmd_3", "HVBR4Cmd_4",
        "HVBR7Cmd_0", "HVBR7Cmd_1", "HVBR7Cmd_2", "HVBR7Cmd_3",
        "HVBS8Cmd_0", "HVBS8Cmd_1", "HVBS8Cmd_2", "HVBS8Cmd_3",
        "HVBR4Cmd_0",
    };
    return order;
}

std::string commandTableName(const std::string& model, int index) {
    return model + "Cmd_" + std::to_string(index);
}

}  // namespace hvb
