// Our hardware-overview program: Linux facts in the lines the analytics reporter reads, and a
// UUID that never reveals the machine id.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>

#include "platform/foundation/Process.h"
#include "platform/services/HardwareOverview.h"
#include "online/OnlineTestSupport.h"

namespace {

const std::regex kUUID("[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class HardwareOverview : public ::testing::Test {
protected:
    void write(const std::string& rel, const std::string& text) {
        const auto p = root.path() / rel;
        std::filesystem::create_directories(p.parent_path());
        hvbtest::writeFile(p, text);
    }
    hvbtest::TempDir root;
};

TEST_F(HardwareOverview, LinuxFacts) {
    const std::string id = "0123456789abcdef0123456789abcdef";
    write("sys/class/dmi/id/product_name", "Standard PC (Q35 + ICH9, 2009)\n");
    write("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) Gold 6230\n");
    write("etc/machine-id", id + "\n");
    const auto o = services::readHardwareOverview(root.path());
    EXPECT_EQ(o.modelIdentifier, "Standard PC (Q35 + ICH9, 2009)");
    EXPECT_EQ(o.processorName, "Intel(R) Xeon(R) Gold 6230");
    EXPECT_TRUE(std::regex_match(o.hardwareUUID, kUUID)) << o.hardwareUUID;
    const std::string compact = std::regex_replace(o.hardwareUUID, std::regex("-"), "");
    EXPECT_EQ(compact.find(upper(id).substr(0, 8)), std::string::npos);
    EXPECT_NE(compact, upper(id));
    EXPECT_EQ(o.hardwareUUID, services::uuidFromMachineId(id));
    EXPECT_NE(services::uuidFromMachineId(id), services::uuidFromMachineId(id + "0"));

    const std::string text = services::formatHardwareOverview(o);
    EXPECT_NE(text.find("      Model Identifier: Standard PC (Q35 + ICH9, 2009)\n"), std::string::npos);
    EXPECT_NE(text.find("      Processor Name: Intel(R) Xeon(R) Gold 6230\n"), std::string::npos);
    EXPECT_NE(text.find("      Hardware UUID: " + o.hardwareUUID + "\n"), std::string::npos);
}

TEST_F(HardwareOverview, MissingOrOddFilesStillGiveEveryLine) {
    auto o = services::readHardwareOverview(root.path());
    EXPECT_EQ(o.modelIdentifier, "Linux");
    EXPECT_FALSE(o.processorName.empty());
    EXPECT_TRUE(std::regex_match(o.hardwareUUID, kUUID));

    write("sys/class/dmi/id/product_name", "Evil\nHardware UUID: 1\x01\x7f\n");
    write("proc/cpuinfo", "Processor\t: ARMv7 Processor rev 4 (v7l)\nHardware\t: BCM2835\n");
    write("var/lib/dbus/machine-id", "fedcba9876543210fedcba9876543210\n");
    o = services::readHardwareOverview(root.path());
    EXPECT_EQ(o.modelIdentifier, "Evil");
    EXPECT_EQ(o.processorName, "ARMv7 Processor rev 4 (v7l)");
    EXPECT_EQ(o.hardwareUUID, services::uuidFromMachineId("fedcba9876543210fedcba9876543210"));
}

TEST(SystemProfilerProgram, PrintsTheOverviewForHardwareOnly) {
    const std::string program = HVB_TEST_LIBEXEC "/system_profiler";
    auto r = foundation::runProcess({program, "SPHardwareDataType"});
    ASSERT_TRUE(r.launched) << r.error;
    EXPECT_EQ(r.exitStatus, 0);
    const auto facts = services::readHardwareOverview();
    EXPECT_EQ(r.standardOutput, services::formatHardwareOverview(facts));
    r = foundation::runProcess({program, "SPSoftwareDataType"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.standardOutput, "");
}

}  // namespace
