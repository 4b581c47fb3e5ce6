#include "platform/net/Reachability.h"

#include <fstream>
#include <sstream>
#include <string>

namespace net {
namespace {

constexpr unsigned long kRouteUp = 0x1;    // RTF_UP
constexpr unsigned long kInterfaceUp = 0x1;  // IFF_UP

bool interfaceIsUp(const std::filesystem::path& root, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return false;
    std::ifstream in(root / "sys/class/net" / name / "flags");
    std::string text;
    if (!(in >> text)) return false;
    try {
        return (std::stoul(text, nullptr, 16) & kInterfaceUp) != 0;
    } catch (...) {
        return false;
    }
}

}  // namespace

bool isNetworkReachable(const std::filesystem::path& root) {
    std::ifstream in(root / "proc/net/route");
    std::string line;
    // Nothing to tell from (no IPv4 routing table): count it as reachable and let the caller's
    // own request decide.
    if (!std::getline(in, line)) return true;  // header line
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags;
        if (!(fields >> iface >> destination >> gateway >> flags)) continue;
        unsigned long routeFlags = 0;
        try {
            routeFlags = std::stoul(flags, nullptr, 16);
        } catch (...) {
            continue;
        }
        if (destination == "00000000" && (routeFlags & kRouteUp) && interfaceIsUp(root, iface)) return true;
    }
    return false;
}

}  // namespace net
