#pragma once
// Kernel allocation and logging.
#include <cstddef>

#include "platform/iokit/kern/IOTypes.h"

// IOMalloc(0) gives a valid, unique pointer that IOFree(ptr, 0) releases, so a zero-length
// transfer needs no special case. Null only when memory is exhausted.
void* IOMalloc(size_t size);
void IOFree(void* address, size_t size);

// printf-style; each call is one line of the host's system log.
void IOLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
