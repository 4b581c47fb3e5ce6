// The web service's JSON replies: version records and download links.
#include <cstdint>
#include <string_view>

#include "online/FirmwareManager.h"
#include "platform/foundation/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (foundation::setLogEchoEnabled(false), true);
    (void)quiet;
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    hvb::VersionResponse::decode(body);
    hvb::DownloadURLResponse::decode(body);
    hvb::FirmwareManager::formatFirmwareVersionText(body);
    hvb::FirmwareManager::compareVersions(body, "1.6.00");
    return 0;
}
