#pragma once
// A path timed against the fixed pauses it has to make cannot take less than them: a figure
// under them means the wrong moment was timed, so it fails the benchmark instead of printing.
#include <benchmark/benchmark.h>

#include <cstdio>

namespace hvb::bench {

// False, with the benchmark failed and the figures in its message, when `measuredMs` is below
// `mandatedMs`.
inline bool coversMandatedPauses(benchmark::State& state, const char* what, double measuredMs, double mandatedMs) {
    if (measuredMs >= mandatedMs) return true;
    char message[240];
    std::snprintf(message, sizeof message,
                  "%s: %.3f ms measured is under the %.0f ms of mandated pauses (ratio %.6f, below 1)", what,
                  measuredMs, mandatedMs, mandatedMs > 0 ? measuredMs / mandatedMs : 0.0);
    state.SkipWithError(message);
    return false;
}

// Sets counter `name` to the measured time over the mandated pauses; where nothing is mandated
// there is no ratio. False (the benchmark failed) for a ratio below 1.
inline bool reportRatio(benchmark::State& state, const char* name, double measuredMs, double mandatedMs) {
    if (mandatedMs <= 0) return true;
    if (!coversMandatedPauses(state, name, measuredMs, mandatedMs)) return false;
    state.counters[name] = measuredMs / mandatedMs;
    return true;
}

}  // namespace hvb::bench
