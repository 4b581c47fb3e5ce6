// Boundaries of the settings vocabulary, and its tie to the command names.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "camera/HVBCommand.h"
#include "camera/Settings.h"

namespace {

using namespace hvb;

TEST(SettingsVocabulary, SettingKeys) {
    const auto all = allCases<EnumSettings>();
    ASSERT_EQ(all.size(), 34u);
    EXPECT_EQ(all.front(), EnumSettings::RESOLUTION);
    EXPECT_EQ(all.back(), EnumSettings::BUFFERAUDIO);
    EXPECT_EQ(settingIndex(EnumSettings::TIME_ZONE), 25u);

    // Every setting is read and written by "HVB_" + its name, which some table holds.
    std::set<std::string> commands;
    for (const auto& name : HVBCommand::tableNames())
        for (const auto& [command, code] : *HVBCommand::tableEntries(name)) commands.insert(command);
    std::set<std::string_view> names;
    for (EnumSettings s : all) {
        EXPECT_TRUE(names.insert(caseName(s)).second) << caseName(s);
        EXPECT_EQ(settingFromName(caseName(s)), s) << caseName(s);
        EXPECT_TRUE(commands.count(settingCommandName(s))) << settingCommandName(s);
    }
    EXPECT_EQ(settingCommandName(EnumSettings::DEFAULT_RECORD_STATUS), "HVB_DEFAULT_RECORD_STATUS");
    EXPECT_FALSE(settingFromName("DEFAULT_RECORDING_STATUS").has_value());
    EXPECT_FALSE(settingFromName("resolution").has_value());
    EXPECT_FALSE(settingFromName("").has_value());
}

template <class E>
void expectOptionBoundaries(std::size_t count) {
    ASSERT_EQ(caseCount<E>(), count);
    for (E e : allCases<E>()) {
        EXPECT_EQ(fromRawValue<E>(rawValue(e)), e);
        EXPECT_EQ(caseFromName<E>(caseName(e)), e);
    }
    EXPECT_FALSE(fromRawValue<E>(static_cast<int64_t>(count)).has_value());
    EXPECT_FALSE(fromRawValue<E>(-1).has_value());  // the "not read" value of a setting
    EXPECT_FALSE(fromRawValue<E>(INT64_MIN).has_value());
}

TEST(SettingsVocabulary, OptionsFromRawValues) {
    expectOptionBoundaries<TIMEFORMAT>(2);
    expectOptionBoundaries<DATEFORMAT>(3);
    expectOptionBoundaries<LIGHTFREQ>(2);
    expectOptionBoundaries<IRSWITCH>(2);
    expectOptionBoundaries<RECORDINGMODE>(2);
    expectOptionBoundaries<DEFAULT_RECORDING_STATUS>(2);
    expectOptionBoundaries<BUFFERLENGTH>(4);
    expectOptionBoundaries<VIDEOLENGTH>(3);
    expectOptionBoundaries<VOICE_SAMPLERATE>(5);
    expectOptionBoundaries<FILEFORMAT>(2);
    expectOptionBoundaries<IsEnableStatement>(2);
    expectOptionBoundaries<TIME_ZONE>(39);

    EXPECT_EQ(fromRawValue<BUFFERLENGTH>(3), BUFFERLENGTH::Seconds_120);
    EXPECT_EQ(caseName(IsEnableStatement::ENABLE), "ENABLE");
    EXPECT_EQ(caseName(VOICE_SAMPLERATE::SR_22050), "SR_22050");
}

TEST(SettingsVocabulary, TimeZones) {
    EXPECT_EQ(fromRawValue<TIME_ZONE>(38), TIME_ZONE::P_14_00);
    EXPECT_FALSE(fromRawValue<TIME_ZONE>(39).has_value());
    EXPECT_EQ(fromRawValue<TIME_ZONE>(14), TIME_ZONE::P_00_00);
    EXPECT_EQ(fromRawValue<TIME_ZONE>(22), TIME_ZONE::P_05_30);
    EXPECT_EQ(caseName(TIME_ZONE::N_09_30), "N_09_30");
    EXPECT_EQ(timeZoneTableText(TIME_ZONE::N_09_30), "UTC-09:30");
    EXPECT_EQ(timeZoneTableText(TIME_ZONE::P_05_45), "UTC+05:45");
    EXPECT_EQ(timeZoneOffsetText(TIME_ZONE::P_05_30), "+05:30");
    EXPECT_EQ(timeZoneOffsetText(TIME_ZONE::P_00_00), "+00:00");
    EXPECT_EQ(timeZoneOffsetText(TIME_ZONE::N_12_00), "-12:00");
    EXPECT_EQ(timeZoneOffsetText(static_cast<TIME_ZONE>(39)), "");
    EXPECT_EQ(caseName(static_cast<TIME_ZONE>(-1)), "");
    EXPECT_EQ(timeZoneTable().size(), allCases<TIME_ZONE>().size());
}

}  // namespace
