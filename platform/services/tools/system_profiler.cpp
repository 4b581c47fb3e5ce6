// Our "system_profiler": prints the hardware overview for SPHardwareDataType.
#include <cstdio>
#include <cstring>

#include "platform/services/HardwareOverview.h"

int main(int argc, char** argv) {
    bool hardware = argc < 2;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "SPHardwareDataType") == 0) hardware = true;
    if (!hardware) return 0;  // no other data type is known here
    const std::string text = services::formatHardwareOverview(services::readHardwareOverview());
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}
