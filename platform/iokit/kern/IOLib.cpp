#include "platform/iokit/kern/IOLib.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/foundation/Log.h"

void* IOMalloc(size_t size) { return std::malloc(size == 0 ? 1 : size); }

void IOFree(void* address, size_t) { std::free(address); }

void IOLog(const char* format, ...) {
    char stackBuffer[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, args);
    va_end(args);
    std::string line;
    if (needed < 0) {
        line = format;
    } else if (static_cast<size_t>(needed) < sizeof stackBuffer) {
        line.assign(stackBuffer, static_cast<size_t>(needed));
    } else {
        line.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(line.data(), line.size(), format, copy);
        line.resize(static_cast<size_t>(needed));
    }
    va_end(copy);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    foundation::systemLog(line);
}
