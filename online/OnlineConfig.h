#pragma once
// Where the online services live. The defaults are placeholders that never answer; tests and
// the demo point these at the loopback stand-in through the environment.
#include <string>

namespace hvb::onlineconfig {

// The maker's web API base, without a trailing "/": HVB_API_BASE.
std::string apiBase();
// The maker's web site (probed at start-up): HVB_SITE_URL.
std::string siteURL();
// The analytics collector base, without a trailing "/": HVB_ANALYTICS_BASE.
std::string analyticsBase();
// The web API's version request, under apiBase(): firmware versions and the application's own.
inline constexpr const char* kVersionPath = "/v1/api/get/version";
// True when `url` still names a placeholder host (under ".example"), which is never contacted.
bool isPlaceholder(const std::string& url);

}  // namespace hvb::onlineconfig
