// The driver host's configuration: the file's lines and the key=value camera descriptions, in
// both their comma and their word forms.
#include <cstdint>
#include <string>
#include <vector>

#include "SCSIDriver/host/HostOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hvb::driverhost;
    const std::string text(reinterpret_cast<const char*>(data), size);
    HostOptions options;
    options.root = "/nonexistent-fuzz-root";
    std::string error;
    applyConfigText(options, text, &error);
    parseCameraDescription(text, &error);
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= text.size() && words.size() < 64) {
        const size_t space = text.find(' ', start);
        words.push_back(text.substr(start, space == std::string::npos ? std::string::npos : space - start));
        if (space == std::string::npos) break;
        start = space + 1;
    }
    parseCameraDescription(words, &error);
    return 0;
}
