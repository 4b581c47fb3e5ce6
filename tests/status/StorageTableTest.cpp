// The recording-time table: reserve and divisor by model and setting, the camera's own reserve
// and size from the reserved-space query, and which firmware is asked for them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "status/StatusStorageTable.h"

namespace {

using hvb::ReservedSpace;
using hvb::StatusStorageTable;
using hvb::StorageSettings;

std::optional<StorageSettings> res(int64_t resolution, int64_t mode = 0) { return StorageSettings{resolution, mode}; }
const std::optional<StorageSettings> kNoSettings = std::nullopt;

struct Case {
    const char* model;
    std::optional<StorageSettings> settings;
    ReservedSpace camera;
    std::optional<double> reserve;
    std::optional<double> divisor;
};

class StorageTable : public ::testing::TestWithParam<Case> {};

TEST_P(StorageTable, ReserveAndDivisor) {
    const Case& c = GetParam();
    EXPECT_EQ(StatusStorageTable::reserveMB(c.model, c.settings, c.camera), c.reserve) << c.model;
    EXPECT_EQ(StatusStorageTable::divisorMB(c.model, c.settings, c.camera), c.divisor) << c.model;
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, StorageTable,
    ::testing::Values(
        // Fixed reserve; two resolutions.
        Case{"HVBR4", res(0), {}, 600, 282}, Case{"HVBR4", res(1, 3), {}, 600, 167},
        Case{"HVBR4", kNoSettings, {}, 600, 282}, Case{"HVBR4", res(2), {}, 600, std::nullopt},
        Case{"HVBR4B", res(1), {}, 600, 145}, Case{"HVBR7", res(0), {}, 600, 273.7},
        Case{"HVBR7", res(1), {}, 600, 158.7}, Case{"HVBS8", kNoSettings, {}, 600, 355},
        Case{"HVBS8", res(1), {}, 600, 181},
        // HW7312/HW7313: no reserve in mode 0; the camera's size before the resolution.
        Case{"HW7312", res(3), {}, 0, 82.7}, Case{"HW7312", res(3, 1), {}, 600, 82.7},
        Case{"HW7313", kNoSettings, {}, 0, 346}, Case{"HW7313", res(4), {0, 99}, 0, 99},
        Case{"HW7313", res(5), {}, 0, std::nullopt},
        // HVBS2A and its kin: reserve by resolution in mode 0.
        Case{"HVBS2A", kNoSettings, {}, 2300, 181}, Case{"HVBS2A", res(1), {}, 1800, 150},
        Case{"HVBS2A", res(2), {}, 1300, 78}, Case{"HVBS2A", res(0), {}, 2300, 181},
        Case{"HVBS2A", res(2, 1), {}, 600, 78}, Case{"HVBT3A", res(0), {}, 2300, 171},
        Case{"HW7351", res(1), {}, 1800, 150}, Case{"HW7352", res(3), {}, 2300, std::nullopt},
        Case{"HW7331", res(3), {}, 1800, 86.2}, Case{"HW7332", res(4), {}, 1300, 78},
        Case{"HW7331", res(1), {}, 2300, 219}, Case{"HW7331", kNoSettings, {}, 2300, 219},
        // HW7333/HW7334 and HW7360: the camera's reserve Q and size P come first.
        Case{"HW7333", res(3), {}, 1300, 84}, Case{"HW7334", res(4), {}, 1300, 32},
        Case{"HW7333", res(2), {}, 2300, 252}, Case{"HW7333", res(3), {900, 120}, 900, 120},
        Case{"HW7333", res(3, 2), {900, 120}, 600, 120}, Case{"HW7333", kNoSettings, {900, 0}, 900, 252},
        Case{"HW7333", kNoSettings, {}, 2300, 252}, Case{"HW7360", res(2), {}, 1300, 84},
        Case{"HW7360", res(3), {}, 1300, 32}, Case{"HW7360", res(4), {}, 2300, std::nullopt},
        Case{"HW7360", res(1), {700, 50}, 700, 50},
        // Outside the table.
        Case{"HVBT9", res(0), {}, std::nullopt, std::nullopt}));

TEST(StorageFigure, SecondsFromFreeMegabytes) {
    // 767 MB at RES 1 on an HVBR4: (767 - 600) / 167 * 180.
    EXPECT_DOUBLE_EQ(StatusStorageTable::recordingSeconds("HVBR4", res(1), 767, {}), 180);
    // Less free space than the reserve holds nothing.
    EXPECT_EQ(StatusStorageTable::recordingSeconds("HVBR4", res(1), 600, {}), 0);
    EXPECT_EQ(StatusStorageTable::recordingSeconds("HVBR4", res(1), 12, {}), 0);
    // A resolution without divisor, and a model outside the table.
    EXPECT_EQ(StatusStorageTable::recordingSeconds("HVBR4", res(7), 5000, {}), 0);
    EXPECT_EQ(StatusStorageTable::recordingSeconds("XYZ", res(0), 5000, {}), 0);
    // The camera's own figures.
    EXPECT_DOUBLE_EQ(StatusStorageTable::recordingSeconds("HW7360", res(0), 1000, {400, 60}), 1800);
}

TEST(ReservedSpace, AskedOnlyFromTheThresholdOn) {
    EXPECT_FALSE(StatusStorageTable::readsReservedSpace("HW7313", 10008));
    EXPECT_TRUE(StatusStorageTable::readsReservedSpace("HW7313", 10009));
    EXPECT_FALSE(StatusStorageTable::readsReservedSpace("HW7333", 10500));
    EXPECT_TRUE(StatusStorageTable::readsReservedSpace("HW7333", 10501));
    EXPECT_FALSE(StatusStorageTable::readsReservedSpace("HW7360", 10300));
    EXPECT_TRUE(StatusStorageTable::readsReservedSpace("HW7360", 20000));
    // Their neighbours in the table never are; nor a camera without a version number.
    EXPECT_FALSE(StatusStorageTable::readsReservedSpace("HW7312", 99999));
    EXPECT_FALSE(StatusStorageTable::readsReservedSpace("HW7334", 99999));
    EXPECT_FALSE(StatusStorageTable::readsReservedSpace("HW7333", std::nullopt));
}

TEST(ReservedSpace, PartsOfTheReply) {
    auto q = [](const char* model, std::vector<std::string> parts) {
        return StatusStorageTable::reservedSpaceFromParts(model, parts);
    };
    EXPECT_EQ(q("HW7333", {"900", "120.5"}).reserve, 900);
    EXPECT_EQ(q("HW7333", {"900", "120.5"}).size, 120.5);
    // HW7313 reports its size only.
    EXPECT_EQ(q("HW7313", {"900", "120"}).reserve, 0);
    EXPECT_EQ(q("HW7313", {"900", "120"}).size, 120);
    // Anything but exactly two parts gives nothing.
    EXPECT_EQ(q("HW7360", {"900"}).reserve, 0);
    EXPECT_EQ(q("HW7360", {"900", "120", "5"}).size, 0);
    // A part that does not read as a finite, non-negative number is "not given".
    EXPECT_EQ(q("HW7360", {"abc", "12x"}).reserve, 0);
    EXPECT_EQ(q("HW7360", {"abc", "12x"}).size, 0);
    EXPECT_EQ(q("HW7360", {"inf", "nan"}).reserve, 0);
    EXPECT_EQ(q("HW7360", {"inf", "nan"}).size, 0);
    EXPECT_EQ(q("HW7360", {"", "1e400"}).size, 0);
    // Not given, the table's own values apply: no division by a zero or negative size.
    const auto space = q("HW7360", {"0", "0"});
    EXPECT_DOUBLE_EQ(StatusStorageTable::recordingSeconds("HW7360", res(0), 2552, space), 180);
}

}  // namespace
