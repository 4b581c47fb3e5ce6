#pragma once
// Where the online services live, and how much of their answers is taken. The defaults are
// placeholders that never answer; tests and the demo point these at the loopback stand-in
// through the environment.
#include <cstdint>
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
// How much of each answer is taken. A longer one stops its transfer and fails it: held in
// memory for the replies, written to a temporary file for the downloads (the file already in
// place stays). Real answers stay far below these.
inline constexpr uint64_t kMiB = 1024 * 1024;
// The web API's JSON replies (versions, download links).
inline constexpr uint64_t kMaxApiReplyBytes = 4 * kMiB;
// The web site's page fetched by the start-up probe.
inline constexpr uint64_t kMaxSiteProbeBytes = 4 * kMiB;
// The self-update's reply, whose appcast the updater reads up to this size.
inline constexpr uint64_t kMaxAppcastReplyBytes = 8 * kMiB;
// The analytics collector's reply to an event.
inline constexpr uint64_t kMaxAnalyticsReplyBytes = 1 * kMiB;
// Downloads: a firmware package and "ReleaseNote.json".
inline constexpr uint64_t kMaxFirmwarePackageBytes = 128 * kMiB;
inline constexpr uint64_t kMaxReleaseNotesBytes = 4 * kMiB;
// Unpacking a firmware package: the sizes its entries record, together, and their number.
inline constexpr uint64_t kMaxUnpackedPackageBytes = 128 * kMiB;
inline constexpr uint64_t kMaxPackageEntries = 64;

// True when `url` still names a placeholder host (under ".example"), which is never contacted.
bool isPlaceholder(const std::string& url);

}  // namespace hvb::onlineconfig
