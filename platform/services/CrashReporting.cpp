#include "platform/services/CrashReporting.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

namespace services {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

// Everything the handler needs is prepared before a crash: it may only use open/write.
char gReportPrefix[4096];  // "<dir>/crash-"
struct sigaction gPrevious[kSignalCount];
std::atomic<bool> gInstalled{false};
std::atomic<bool> gHandling{false};

// ---- async-signal-safe text ----------------------------------------------------------------
struct Buffer {
    char data[512];
    size_t length = 0;
    void add(const char* s) {
        while (*s && length + 1 < sizeof data) data[length++] = *s++;
        data[length] = '\0';
    }
    void addNumber(unsigned long long v, int minDigits = 1) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && n < 24);
        while (n < minDigits && n < 24) digits[n++] = '0';
        while (n > 0 && length + 1 < sizeof data) data[length++] = digits[--n];
        data[length] = '\0';
    }
};

void writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t w = ::write(fd, data, length);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += w;
        length -= static_cast<size_t>(w);
    }
}

const char* signalName(int sig) {
    switch (sig) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGILL: return "SIGILL";
        case SIGFPE: return "SIGFPE";
        case SIGABRT: return "SIGABRT";
        default: return "signal";
    }
}

// UTC calendar time from seconds since the epoch, by arithmetic only (gmtime is not safe here).
void addUTCTime(Buffer& b, long long seconds) {
    long long days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    b.addNumber(static_cast<unsigned long long>(year), 4);
    b.add("-");
    b.addNumber(static_cast<unsigned long long>(month), 2);
    b.add("-");
    b.addNumber(static_cast<unsigned long long>(day), 2);
    b.add("T");
    b.addNumber(static_cast<unsigned long long>(rest / 3600), 2);
    b.add(":");
    b.addNumber(static_cast<unsigned long long>(rest / 60 % 60), 2);
    b.add(":");
    b.addNumber(static_cast<unsigned long long>(rest % 60), 2);
    b.add("Z");
}

void writeReport(int sig) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const pid_t pid = ::getpid();

    char path[sizeof gReportPrefix + 64];
    size_t n = 0;
    for (const char* p = gReportPrefix; *p && n + 1 < sizeof path; ++p) path[n++] = *p;
    path[n] = '\0';
    Buffer name;
    name.addNumber(static_cast<unsigned long long>(pid));
    name.add("-");
    name.addNumber(static_cast<unsigned long long>(now.tv_sec));
    name.add("-");
    name.addNumber(static_cast<unsigned long long>(sig));
    name.add(".txt");
    for (size_t i = 0; i < name.length && n + 1 < sizeof path; ++i) path[n++] = name.data[i];
    path[n] = '\0';

    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return;
    Buffer head;
    head.add("Crash report\nsignal: ");
    head.addNumber(static_cast<unsigned long long>(sig));
    head.add(" (");
    head.add(signalName(sig));
    head.add(")\ntime: ");
    addUTCTime(head, static_cast<long long>(now.tv_sec));
    head.add("\npid: ");
    head.addNumber(static_cast<unsigned long long>(pid));
    head.add("\nbacktrace:\n");
    writeAll(fd, head.data, head.length);
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
}

void crashHandler(int sig, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    size_t index = 0;
    while (index < kSignalCount && kSignals[index] != sig) ++index;
    // A second crash while writing the first report only hands over.
    if (!gHandling.exchange(true)) writeReport(sig);
    if (index == kSignalCount) return;

    // Hand the signal to whoever had it before (a sanitizer, the default action).
    const struct sigaction& prev = gPrevious[index];
    ::sigaction(sig, &prev, nullptr);
    errno = savedErrno;
    // A fault raised by the hardware happens again when we return, now reaching the previous
    // handler with its true details; a signal that was sent is sent again.
    if (info == nullptr || info->si_code <= 0 || sig == SIGABRT) ::raise(sig);
    (void)context;
}

// backtrace() loads its unwinder on first use, which allocates: do that now, not in a crash.
void warmUpBacktrace() {
    void* frames[4];
    (void)::backtrace(frames, 4);
}

void installAlternateStack() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;  // one is there
    // Kept for the life of the process: a crash may come at any time.
    static void* memory = std::malloc(static_cast<size_t>(std::max<long>(SIGSTKSZ, 64 * 1024)));
    if (!memory) return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = static_cast<size_t>(std::max<long>(SIGSTKSZ, 64 * 1024));
    ::sigaltstack(&stack, nullptr);
}

bool installHandlers() {
    const std::filesystem::path dir = CrashReporting::reportsDirectory();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::string prefix = (dir / "crash-").string();
    if (ec || prefix.size() + 1 > sizeof gReportPrefix) {
        foundation::print("[CrashReporting] cannot prepare " + dir.string() + (ec ? ": " + ec.message() : ""));
        return false;
    }
    std::memcpy(gReportPrefix, prefix.c_str(), prefix.size() + 1);
    warmUpBacktrace();
    installAlternateStack();
    for (size_t i = 0; i < kSignalCount; ++i) {
        struct sigaction action{};
        action.sa_sigaction = crashHandler;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(kSignals[i], &action, &gPrevious[i]);
    }
    return true;
}

}  // namespace

std::filesystem::path CrashReporting::reportsDirectory() {
    return foundation::paths::applicationSupportDir() / "CrashReports";
}

bool CrashReporting::handlersInstalled() { return gInstalled.load(); }

void CrashReporting::start(const std::string& appSecret, const std::vector<std::string>& services) {
    std::string list;
    for (const auto& s : services) list += (list.empty() ? "" : ", ") + s;
    foundation::print("[CrashReporting] start (" + list + ")" + (appSecret.empty() ? " without an app secret" : ""));
    if (std::find(services.begin(), services.end(), "Crashes") == services.end()) return;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (gInstalled.load()) return;
    if (installHandlers()) gInstalled.store(true);
}

}  // namespace services
