#include "platform/foundation/Log.h"

#include <syslog.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/TextCharacters.h"

namespace foundation {

namespace {

// A sink and the calls of it under way, so that removing it can wait for them.
struct SinkEntry {
    LogSink sink;
    int calls = 0;
    bool removed = false;
};

struct LogState {
    std::mutex outputMutex;  // one line at a time on each stream
    std::mutex sinkMutex;
    std::condition_variable sinkIdle;
    std::map<int, std::shared_ptr<SinkEntry>> sinks;
    int nextToken = 1;
    std::atomic<bool> echo{true};
    std::mutex filterMutex;
    std::shared_ptr<LogEchoFilter> echoFilter;
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

// The sinks this thread is calling now (a sink that logs or removes itself).
thread_local std::vector<const SinkEntry*> callingSinks;

void notifySinks(LogChannel channel, const std::string& line) {
    LogState& st = state();
    std::vector<std::shared_ptr<SinkEntry>> sinks;
    {
        std::lock_guard<std::mutex> lock(st.sinkMutex);
        sinks.reserve(st.sinks.size());
        for (auto& [token, entry] : st.sinks) sinks.push_back(entry);
    }
    // Outside the lock, so a sink may log or remove itself.
    for (auto& entry : sinks) {
        {
            std::lock_guard<std::mutex> lock(st.sinkMutex);
            if (entry->removed) continue;
            ++entry->calls;
        }
        callingSinks.push_back(entry.get());
        if (entry->sink) entry->sink(channel, line);
        callingSinks.pop_back();
        std::lock_guard<std::mutex> lock(st.sinkMutex);
        if (--entry->calls == 0) st.sinkIdle.notify_all();
    }
}

std::string withoutNewline(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return std::string(line);
}

bool echoes(LogChannel channel, const std::string& line) {
    if (!state().echo.load()) return false;
    std::shared_ptr<LogEchoFilter> filter;
    {
        std::lock_guard<std::mutex> lock(state().filterMutex);
        filter = state().echoFilter;
    }
    return !filter || (*filter)(channel, line);
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
    if (echoes(LogChannel::standardOutput, line)) writeLine(stdout, {}, line);
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
    if (echoes(LogChannel::systemLog, line)) {
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
    auto entry = std::make_shared<SinkEntry>();
    entry->sink = std::move(sink);
    state().sinks.emplace(token, std::move(entry));
    return token;
}

void removeLogSink(int token) {
    LogState& st = state();
    std::unique_lock<std::mutex> lock(st.sinkMutex);
    auto it = st.sinks.find(token);
    if (it == st.sinks.end()) return;
    std::shared_ptr<SinkEntry> entry = std::move(it->second);
    st.sinks.erase(it);
    entry->removed = true;
    // What the sink writes to may go once this returns: calls on other threads finish first
    // (a call on this thread is the one removing it).
    const auto own = std::count(callingSinks.begin(), callingSinks.end(), entry.get());
    st.sinkIdle.wait(lock, [&] { return entry->calls <= own; });
}

void setLogEchoEnabled(bool enabled) { state().echo.store(enabled); }

void setLogEchoFilter(LogEchoFilter filter) {
    auto shared = filter ? std::make_shared<LogEchoFilter>(std::move(filter)) : nullptr;
    std::lock_guard<std::mutex> lock(state().filterMutex);
    state().echoFilter = std::move(shared);
}

std::string escapedForLog(std::string_view raw) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size());
    auto byteEscape = [&](unsigned char b) {
        out += "\\x";
        out += hex[b >> 4];
        out += hex[b & 0xF];
    };
    size_t i = 0;
    while (i < raw.size()) {
        const text::Sequence s = text::decodeAt(raw, i);
        if (!s.valid) {
            for (size_t k = 0; k < s.length; ++k) byteEscape(static_cast<unsigned char>(raw[i + k]));
        } else if (s.character == '\\') {
            out += "\\\\";
        } else if (s.character == '\n') {
            out += "\\n";
        } else if (s.character == '\r') {
            out += "\\r";
        } else if (s.character == '\t') {
            out += "\\t";
        } else if (s.character < 0x20 || s.character == 0x7F) {
            byteEscape(static_cast<unsigned char>(s.character));
        } else if ((s.character >= 0x80 && s.character <= 0x9F) || s.character == 0x2028 || s.character == 0x2029 ||
                   (s.character >= 0x202A && s.character <= 0x202E) || (s.character >= 0x2066 && s.character <= 0x2069)) {
            // C1 controls, line and paragraph separators, and direction overrides.
            char code[16];  // room for any unsigned value, though these are four digits
            std::snprintf(code, sizeof code, "\\u{%04X}", static_cast<unsigned>(s.character));
            out += code;
        } else {
            out.append(raw.substr(i, s.length));
        }
        i += s.length;
    }
    return out;
}

}  // namespace foundation
