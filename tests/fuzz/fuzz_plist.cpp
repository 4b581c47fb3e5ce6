// The property-list reader (bundle Info.plist files come from outside the program).
#include <cstdint>
#include <string>

#include "platform/foundation/Plist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto result = foundation::plist::parseXml(std::string(reinterpret_cast<const char*>(data), size));
    if (result.value) {
        if (const auto* dict = result.value->asDictionary())
            for (const auto& [key, value] : *dict) value.get(key);
    }
    return 0;
}
