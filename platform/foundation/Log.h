#pragma once
// Plain-text logging, one line per call. `print` is standard output (the system's print),
// `systemLog` the system log channel (standard error with a prefix, or syslog when
// HVB_SYSLOG=1). Both are thread-safe and never interleave within a line.
#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

namespace foundation {

enum class LogChannel { standardOutput, systemLog };

void print(std::string_view line);       // appends a newline unless the line ends with one
void printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));  // printed as formatted
void systemLog(std::string_view line);

// Tests and hosts may watch every line (without its newline) besides the normal output.
// Returns a token for removeLogSink, which returns once no other thread is still in the sink.
using LogSink = std::function<void(LogChannel, const std::string&)>;
int addLogSink(LogSink sink);
void removeLogSink(int token);
// Silences the normal output (sinks still see every line); for noisy tests.
void setLogEchoEnabled(bool enabled);
// Lines the filter turns down are not echoed either (sinks still see them); none: all are.
using LogEchoFilter = std::function<bool(LogChannel, const std::string&)>;
void setLogEchoFilter(LogEchoFilter filter);

// Text from a camera or the web as it may stand inside one log line: line breaks, other control
// characters, direction overrides and invalid bytes come out as escapes ("\n", "\x1B",
// "\u{202E}"), and a backslash as "\\", so such text can neither end the line nor pass for
// another one.
std::string escapedForLog(std::string_view text);

}  // namespace foundation
