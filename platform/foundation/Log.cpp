#include "platform/foundation/Log.h"

#include <syslog.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace foundation {

namespace {

struct LogState {
    std::mutex outputMutex;  // one line at a time on each stream
    std::mutex sinkMutex;
    std::map<int, std::shared_ptr<LogSink>> sinks;
    int nextToken = 1;
    std::atomic<bool> echo{true};
    bool useSyslog = false;
};

LogState& state() {
    // Never destroyed: workers may log while the process exits.
    static LogState* s = [] {
        auto* st = new LogState();
        const char* v = std::getenv("HVB_SYSLOG");
        st->useSyslog = v && std::strcmp(v, "1") == 0;
        if (st->useSyslog) ::openlog(nullptr, LOG_PID, LOG_USER);
        return st;
    }();
    return *s;
}

void notifySinks(LogChannel channel, const std::string& line) {
    std::vector<std::shared_ptr<LogSink>> sinks;
    {
        std::lock_guard<std::mutex> lock(state().sinkMutex);
        sinks.reserve(state().sinks.size());
        for (auto& [token, sink] : state().sinks) sinks.push_back(sink);
    }
    // Outside the lock, so a sink may log or remove itself.
    for (auto& sink : sinks) {
        if (*sink) (*sink)(channel, line);
    }
}

std::string withoutNewline(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return std::string(line);
}

void writeLine(FILE* stream, std::string_view prefix, const std::string& line) {
    std::lock_guard<std::mutex> lock(state().outputMutex);
    if (!prefix.empty()) std::fwrite(prefix.data(), 1, prefix.size(), stream);
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

void print(std::string_view text) {
    std::string line = withoutNewline(text);
    if (state().echo.load()) writeLine(stdout, {}, line);
    notifySinks(LogChannel::standardOutput, line);
}

void printf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        text.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(text.data(), text.size(), fmt, args);
        text.resize(static_cast<size_t>(needed));
    }
    va_end(args);
    print(text);
}

void systemLog(std::string_view text) {
    std::string line = withoutNewline(text);
    if (state().echo.load()) {
        if (state().useSyslog) {
            ::syslog(LOG_NOTICE, "%s", line.c_str());
        } else {
            writeLine(stderr, "[system] ", line);
        }
    }
    notifySinks(LogChannel::systemLog, line);
}

int addLogSink(LogSink sink) {
    std::lock_guard<std::mutex> lock(state().sinkMutex);
    int token = state().nextToken++;
    state().sinks.emplace(token, std::make_shared<LogSink>(std::move(sink)));
    return token;
}

void removeLogSink(int token) {
    std::shared_ptr<LogSink> removed;
    {
        std::lock_guard<std::mutex> lock(state().sinkMutex);
        auto it = state().sinks.find(token);
        if (it == state().sinks.end()) return;
        removed = std::move(it->second);
        state().sinks.erase(it);
    }
}

void setLogEchoEnabled(bool enabled) { state().echo.store(enabled); }

}  // namespace foundation
