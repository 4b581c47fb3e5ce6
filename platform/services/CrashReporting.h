#pragma once
// The start of crash reporting and usage analytics. Analytics go through the system's own
// reporter; crashes are written as report files by signal handlers installed here.
#include <filesystem>
#include <string>
#include <vector>

namespace services {

class CrashReporting {
public:
    // Logs the start; with "Crashes" among the services, installs the crash handlers (once per
    // process) for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT. A report is written as
    // reportsDirectory()/"crash-<pid>-<seconds>-<signal>.txt", then the handler that was there
    // before takes the signal (the default one ends the process).
    static void start(const std::string& appSecret, const std::vector<std::string>& services);

    // foundation::paths::applicationSupportDir()/"CrashReports".
    static std::filesystem::path reportsDirectory();
    static bool handlersInstalled();
};

}  // namespace services
