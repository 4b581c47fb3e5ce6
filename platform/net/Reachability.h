#pragma once
// Whether the network is usable at all: a default route on an interface that is up.
#include <filesystem>

namespace net {

// Reads <root>/proc/net/route and <root>/sys/class/net/<if>/flags (root "/" on a real system).
// Without a routing table to read, the answer is true: the caller's request then decides.
bool isNetworkReachable(const std::filesystem::path& root = "/");

}  // namespace net
