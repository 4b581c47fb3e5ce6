#pragma once
// The "fail next" test hooks of the kernel layer: a count of failures still to hand out.
#include <atomic>

namespace iokit {

// Takes one pending failure: true when the caller must fail this time.
inline bool takeFailure(std::atomic<int>& pending) {
    int n = pending.load();
    while (n > 0) {
        if (pending.compare_exchange_weak(n, n - 1)) return true;
    }
    return false;
}

}  // namespace iokit
