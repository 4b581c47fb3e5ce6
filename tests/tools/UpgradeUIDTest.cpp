// The UID a camera on old firmware gets for its upgrade.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tools/FirmwareUpgradeWorker.h"

namespace {

TEST(UpgradeUID, WeekdayLetterHexDigitsAndTrailingZero) {
    setenv("TZ", "UTC", 1);
    tzset();
    // Tuesday 2024-03-12 09:26:53.123 UTC.
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 12;
    t.tm_hour = 9;
    t.tm_min = 26;
    t.tm_sec = 53;
    const auto seconds = std::chrono::system_clock::from_time_t(timegm(&t));
    const std::string uid = hvb::FirmwareUpgradeWorker::makeUpgradeUID(seconds + std::chrono::milliseconds(123));
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llX", 20240312092653123ULL);
    std::string expected = hex;
    expected[0] = 'C';
    EXPECT_EQ(uid, expected + "0");
    // Sunday gives "A", Saturday "G".
    EXPECT_EQ(hvb::FirmwareUpgradeWorker::makeUpgradeUID(seconds - std::chrono::hours(48))[0], 'A');
    EXPECT_EQ(hvb::FirmwareUpgradeWorker::makeUpgradeUID(seconds + std::chrono::hours(96))[0], 'G');
}


}  // namespace
