#pragma once
// Whether the network is usable at all: a default route on an interface that is up.
#include <filesystem>

namespace net {

// Reads <root>/proc/net/route and <root>/sys/class/net/<if>/flags (root "/" on a real system).
bool isNetworkReachable(const std::filesystem::path& root = "/");

}  // namespace net
