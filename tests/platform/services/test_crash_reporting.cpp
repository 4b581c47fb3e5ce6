// Crash reports: a crashing process leaves a report file and still ends the way it would have
// (or reaches the handler that was installed before, such as a sanitizer's).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <regex>

#include "online/OnlineTestSupport.h"
#include "platform/services/CrashReporting.h"

namespace {

using services::CrashReporting;

const char* const kSecret = "4d7e2a90-b1c3-4f58-9e06-7a2c5b8d1f34";
const std::vector<std::string> kServices{"Analytics", "Crashes"};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

[[noreturn]] void writeThroughABadPointer() {
    volatile uintptr_t address = 8;
    *reinterpret_cast<volatile int*>(address) = 1;
    std::abort();  // not reached
}

class CrashReports : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "fast");
        ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    }

    std::filesystem::path dir() const { return home.path() / "HalvetorBody_ToolBox" / "CrashReports"; }

    // The one report written, checked for the signal; its text.
    std::string onlyReport(int sig) {
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(dir()))
            for (const auto& e : std::filesystem::directory_iterator(dir())) files.push_back(e.path());
        EXPECT_EQ(files.size(), 1u);
        if (files.size() != 1) return {};
        const std::string name = files[0].filename().string();
        std::smatch m;
        EXPECT_TRUE(std::regex_match(name, m, std::regex(R"(crash-(\d+)-(\d+)-(\d+)\.txt)"))) << name;
        if (m.empty()) return {};
        EXPECT_EQ(std::stoi(m[3].str()), sig);
        const std::string text = hvbtest::readFile(files[0]);
        EXPECT_NE(text.find("signal: " + std::to_string(sig) + " ("), std::string::npos) << text;
        EXPECT_NE(text.find("pid: " + m[1].str() + "\n"), std::string::npos) << text;
        // The report's calendar time is the moment in the file name.
        const std::time_t seconds = static_cast<std::time_t>(std::stoll(m[2].str()));
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        char expected[32];
        std::strftime(expected, sizeof expected, "time: %Y-%m-%dT%H:%M:%SZ\n", &utc);
        EXPECT_NE(text.find(expected), std::string::npos) << text;
        const auto bt = text.find("backtrace:\n");
        EXPECT_NE(bt, std::string::npos);
        if (bt != std::string::npos) {
            EXPECT_GT(text.size(), bt + 12) << "frames follow";
        }
        return text;
    }

    hvbtest::TempDir home;
};

TEST_F(CrashReports, HardwareFaultWritesAReportAndStillEndsTheProcess) {
    if (kAddressSanitizer) {
        // The sanitizer's handler was there first and still reports the fault.
        EXPECT_EXIT(
            {
                CrashReporting::start(kSecret, kServices);
                writeThroughABadPointer();
            },
            [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "AddressSanitizer: SEGV");
    } else {
        EXPECT_EXIT(
            {
                CrashReporting::start(kSecret, kServices);
                writeThroughABadPointer();
            },
            ::testing::KilledBySignal(SIGSEGV), "");
    }
    const std::string text = onlyReport(SIGSEGV);
    EXPECT_NE(text.find("(SIGSEGV)"), std::string::npos);
}

TEST_F(CrashReports, SentSignalReachesTheHandlerInstalledBefore) {
    EXPECT_EXIT(
        {
            struct sigaction before{};
            before.sa_handler = [](int) {
                static const char line[] = "earlier handler ran\n";
                (void)!::write(STDERR_FILENO, line, sizeof line - 1);
                ::_exit(42);
            };
            sigemptyset(&before.sa_mask);
            ::sigaction(SIGBUS, &before, nullptr);
            CrashReporting::start(kSecret, kServices);
            ::raise(SIGBUS);
            ::_exit(0);  // the signal did not come back
        },
        ::testing::ExitedWithCode(42), "earlier handler ran");
    onlyReport(SIGBUS);
}

TEST_F(CrashReports, AbortIsReportedAndEndsWithSIGABRT) {
    EXPECT_EXIT(
        {
            CrashReporting::start(kSecret, kServices);
            CrashReporting::start(kSecret, kServices);  // a second start changes nothing
            std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "");
    const std::string text = onlyReport(SIGABRT);
    EXPECT_NE(text.find("(SIGABRT)"), std::string::npos);
}

TEST_F(CrashReports, StartIsLoggedAndWithoutCrashesInstallsNothing) {
    hvbtest::LogCapture log;
    CrashReporting::start(kSecret, {"Analytics"});
    EXPECT_FALSE(CrashReporting::handlersInstalled());
    EXPECT_TRUE(log.contains("[CrashReporting] start (Analytics)"));
    EXPECT_FALSE(std::filesystem::exists(dir())) << "no report folder prepared";
}

}  // namespace
