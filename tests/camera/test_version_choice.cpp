// Version texts and the choice of a camera's command table by model and firmware version.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/CommandTables.h"
#include "camera/VersionNumber.h"

namespace {

using hvb::commandTableIndex;
using hvb::parseVersionNumber;

TEST(VersionNumber, Parser) {
    const std::vector<std::pair<std::string, int64_t>> cases = {
        {"0.0.01", 1},
        {"1.3.99", 10399},
        {"1.10.00", 11000},
        {"1.9.99", 10999},
        {"1", 10000},
        {"1.2", 10200},
        {"1.2.3.4", 10203},     // cut at the last dot
        {"1.2.3.", 10203},      // the cut removes the empty last part
        {"1.2.3.4.5", 10203},   // cut to 1.2.3.4, whose fourth part weighs 0
        {"1.2.3.x.5", -1},      // cut to 1.2.3.x, whose last part does not read
        {"1.2.3_beta", 10203},
        {"1.2_3", 10200},
        {"1.2.3.4_5", 10203},   // three dots: cut at the dot, not at "_"
        {"+1.0.0", 10000},
        {"-1.0.0", -10000},
        {"-0.0.1", 1},
        {"", -1},
        {"1..2", -1},
        {".1.2", -1},
        {"1.2.", -1},
        {"V1.0.0", -1},
        {" 1.0.0", -1},
        {"1.0.0 ", -1},
        {"1.a.0", -1},
        {"_1.0", -1},
        {"1.+.0", -1},
        {"+-1.0.0", -1},
        {"++1", -1},
        {"1.0x10.0", -1},
        {"\xD9\xA1.0.0", -1},  // a non-ASCII digit
        // Beyond 64 bits, in the part itself, in part x weight, or in the sum: not a version.
        {"0.0.9223372036854775807", 9223372036854775807LL},
        {"0.0.-9223372036854775808", -9223372036854775807LL - 1},
        {"0.0.9223372036854775808", -1},
        {"922337203685477.0.0", 9223372036854770000LL},
        {"922337203685478.0.0", -1},
        {"0.92233720368547758.7", 9223372036854775807LL},
        {"0.92233720368547758.8", -1},
        {"1.2.3.99999999999999999999.5", -1},  // a fourth part still has to read
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(parseVersionNumber(text), value) << '"' << text << '"';
}

// Per model: the threshold texts and their values, index 0 first.
struct Thresholds {
    std::string model;
    std::vector<std::string> texts;
    std::vector<int64_t> values;
};
const std::vector<Thresholds> kThresholds = {
    {"HVBR4", {"0.0.01", "1.4.00", "1.5.00", "1.7.00", "1.8.00"}, {1, 10400, 10500, 10700, 10800}},
    {"HVBR7", {"0.0.01", "1.2.00", "1.3.99", "1.6.01"}, {1, 10200, 10399, 10601}},
    {"HVBS8", {"0.0.01", "1.3.00", "1.4.01", "1.7.04"}, {1, 10300, 10401, 10704}},
    {"HVBS2A",
     {"0.0.01", "1.0.00", "1.6.00", "1.7.00", "1.10.00", "1.10.01", "1.13.0"},
     {1, 10000, 10600, 10700, 11000, 11001, 11300}},
    {"HVBR4B", {"0.0.01", "1.0.0"}, {1, 10000}},
    {"HVBT3A", {"0.0.01", "1.0.00", "1.1.00", "1.1.02", "1.3.0"}, {1, 10000, 10100, 10102, 10300}},
    {"HW7312", {"0.0.01", "1.0.00"}, {1, 10000}},
    {"HW7313", {"0.0.01", "1.0.00"}, {1, 10000}},
    {"HW7331", {"0.0.01", "1.1.0", "1.3.0"}, {1, 10100, 10300}},
    {"HW7332", {"0.0.01", "1.0.2"}, {1, 10002}},
    {"HW7333", {"0.0.01", "1.0.0"}, {1, 10000}},
    {"HW7334", {"0.0.01", "1.0.0"}, {1, 10000}},
    {"HW7351", {"0.0.01", "1.1.0"}, {1, 10100}},
    {"HW7352", {"0.0.01", "1.0.2"}, {1, 10002}},
    {"HW7360", {"0.0.01", "1.0.0"}, {1, 10000}},
};

std::string versionText(int64_t v) {
    return std::to_string(v / 10000) + "." + std::to_string(v / 100 % 100) + "." + std::to_string(v % 100);
}

TEST(TableChoice, ThresholdData) {
    const auto& data = hvb::fwVersionThresholds();
    ASSERT_EQ(data.size(), kThresholds.size());
    for (const auto& t : kThresholds) {
        ASSERT_TRUE(data.count(t.model)) << t.model;
        EXPECT_EQ(data.at(t.model), t.texts) << t.model;
        for (std::size_t i = 0; i < t.texts.size(); ++i) EXPECT_EQ(parseVersionNumber(t.texts[i]), t.values[i]);
    }
}

TEST(TableChoice, AtJustBelowAndJustAboveEveryThreshold) {
    hvb::buildAllCommandTables();
    for (const auto& t : kThresholds) {
        for (std::size_t i = 0; i < t.values.size(); ++i) {
            const int index = static_cast<int>(i);
            const int64_t v = t.values[i];
            EXPECT_EQ(commandTableIndex(t.model, t.texts[i]), index) << t.model << " " << t.texts[i];
            EXPECT_EQ(commandTableIndex(t.model, versionText(v)), index) << t.model << " " << versionText(v);
            EXPECT_EQ(commandTableIndex(t.model, versionText(v - 1)), i == 0 ? 0 : index - 1)
                << t.model << " " << versionText(v - 1);
            // HVBS2A's 1.10.00 and 1.10.01 are one apart: just above the first is the second.
            const bool nextIsAdjacent = i + 1 < t.values.size() && t.values[i + 1] == v + 1;
            EXPECT_EQ(commandTableIndex(t.model, versionText(v + 1)), nextIsAdjacent ? index + 1 : index)
                << t.model << " " << versionText(v + 1);
            // Every table the choice can name exists, except index 0 of HVBS2A.
            const std::string name = hvb::commandTableName(t.model, index);
            EXPECT_EQ(hvb::commandTable(name).has_value(), !(t.model == "HVBS2A" && index == 0)) << name;
        }
        const int last = static_cast<int>(t.values.size()) - 1;
        EXPECT_EQ(commandTableIndex(t.model, "99.99.99"), last) << t.model;
        EXPECT_EQ(commandTableIndex(t.model, "0.0.0"), 0) << t.model;
        EXPECT_EQ(commandTableIndex(t.model, ""), 0) << t.model;
        EXPECT_EQ(commandTableIndex(t.model, "-1.0.0"), 0) << t.model;
        EXPECT_EQ(commandTableIndex(t.model, "garbage"), 0) << t.model;
    }
}

TEST(TableChoice, ExamplesAndCuts) {
    EXPECT_EQ(commandTableIndex("HVBR4", "1.3.99"), 0);
    EXPECT_EQ(commandTableIndex("HVBR4", "1.4.00"), 1);
    EXPECT_EQ(commandTableIndex("HVBR4", "1.8.00"), 4);
    EXPECT_EQ(commandTableIndex("HVBR4", "2.0.0"), 4);
    EXPECT_EQ(commandTableIndex("HVBS2A", "1.10.00"), 4);
    EXPECT_EQ(commandTableIndex("HVBS2A", "1.10.01"), 5);
    EXPECT_EQ(commandTableIndex("HVBS2A", "1.9.5"), 3);
    EXPECT_EQ(commandTableIndex("HVBS2A", "0.9.99"), 0);
    EXPECT_EQ(commandTableIndex("HVBR7", "1.3.99"), 2);
    EXPECT_EQ(commandTableIndex("HVBR7", "1.3.98"), 1);
    EXPECT_EQ(commandTableIndex("HVBT3A", "1.1.02"), 3);
    EXPECT_EQ(commandTableIndex("HVBT3A", "1.1.1"), 2);
    EXPECT_EQ(commandTableIndex("HW7332", "1.0.2"), 1);
    EXPECT_EQ(commandTableIndex("HW7332", "1.0.1"), 0);

    // A fourth part is cut before parsing.
    EXPECT_EQ(commandTableIndex("HVBR4", "1.5.00.123"), 2);
    EXPECT_EQ(commandTableIndex("HVBR4", "1.7.99.999"), 3);
    // Cut to 1.2.3.x, which the parser cuts again to 1.2.3 (10203), although 1.2.3.x.5 alone is -1.
    EXPECT_EQ(parseVersionNumber("1.2.3.x.5"), -1);
    EXPECT_EQ(commandTableIndex("HVBR4", "1.2.3.x.5"), 0);
    EXPECT_EQ(parseVersionNumber("1.8.00.x.5"), -1);
    EXPECT_EQ(commandTableIndex("HVBR4", "1.8.00.x.5"), 4);
    EXPECT_EQ(commandTableIndex("HVBR4", "1.8.00_beta"), 4);
}

TEST(TableChoice, UnknownModels) {
    for (const char* model : {"HVBS2P", "HVBS2", "HVBT3", "HVBT9", "hvbr4", "HVBR4 ", "", "HVBR4Cmd_4"})
        for (const char* version : {"1.8.00", "99.0.0", "0.0.01"})
            EXPECT_EQ(commandTableIndex(model, version), 0) << '"' << model << "\" " << version;
    // Its index names no table, so every command of such a camera is unsupported.
    hvb::buildAllCommandTables();
    EXPECT_FALSE(hvb::commandTable(hvb::commandTableName("HVBS2P", commandTableIndex("HVBS2P", "1.0.0"))));
}

}  // namespace
