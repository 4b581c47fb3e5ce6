#pragma once
// Settings of a systemd unit file, read as the tests and the unit's stand-in need them.
#include <sstream>
#include <string>
#include <vector>

namespace hvb::sim {

// The values of the `key=` lines of a unit's text, in order.
inline std::vector<std::string> unitValues(const std::string& unit, const std::string& key) {
    std::vector<std::string> values;
    std::istringstream lines(unit);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + "=", 0) == 0) values.push_back(line.substr(key.size() + 1));
    return values;
}

}  // namespace hvb::sim
