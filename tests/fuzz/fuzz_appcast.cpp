// The appcast feed reader and its version comparison.
#include <cstdint>
#include <string_view>

#include "platform/services/Appcast.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    const auto items = services::appcast::parse(xml);
    services::appcast::newestItem(items);
    services::appcast::compareVersions(xml, "1.2.3");
    return 0;
}
