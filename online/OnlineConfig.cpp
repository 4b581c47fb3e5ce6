#include "online/OnlineConfig.h"

#include "platform/foundation/Paths.h"

namespace hvb::onlineconfig {
namespace {

std::string withoutTrailingSlash(std::string s) {
    while (!s.empty() && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::string apiBase() {
    return withoutTrailingSlash(foundation::paths::env("HVB_API_BASE", "https://api.brevantis.example"));
}

std::string siteURL() { return foundation::paths::env("HVB_SITE_URL", "https://www.brevantis.example/"); }

std::string analyticsBase() {
    return withoutTrailingSlash(foundation::paths::env("HVB_ANALYTICS_BASE", "https://collect.analytics.example"));
}

bool isPlaceholder(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) return false;
    const auto hostStart = scheme + 3;
    auto hostEnd = url.find_first_of(":/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = url.size();
    const std::string host = url.substr(hostStart, hostEnd - hostStart);
    const std::string suffix = ".example";
    return host == "example" ||
           (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0);
}

}  // namespace hvb::onlineconfig
