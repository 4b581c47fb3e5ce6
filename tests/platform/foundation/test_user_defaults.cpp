#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "TempDir.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

using namespace foundation;
namespace fs = std::filesystem;

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { setLogEchoEnabled(false); }
    void TearDown() override { setLogEchoEnabled(true); }
    TempDir dir;
    fs::path file = dir / "config/HalvetorBody_ToolBox/defaults.json";
};

TEST_F(UserDefaultsTest, TypedReadsTellMissingFromWrongType) {
    UserDefaults d(file);
    d.set("ToolBoxVersion", "1.0.5");
    d.set("count", 7);
    d.set("ratio", 2.5);
    d.set("flag", true);
    d.set("names", std::vector<std::string>{"a", "b"});

    EXPECT_EQ(d.string("ToolBoxVersion").status, LookupStatus::found);
    EXPECT_EQ(d.string("ToolBoxVersion").value, "1.0.5");
    EXPECT_EQ(d.integer("count").value, 7);
    EXPECT_DOUBLE_EQ(d.real("ratio").value, 2.5);
    EXPECT_DOUBLE_EQ(d.real("count").value, 7.0);  // integers read as reals
    EXPECT_TRUE(d.boolean("flag").value);
    EXPECT_EQ(d.stringArray("names").value, (std::vector<std::string>{"a", "b"}));

    for (const char* key : {"nothing", ""}) {
        EXPECT_EQ(d.string(key).status, LookupStatus::missing);
        EXPECT_EQ(d.integer(key).status, LookupStatus::missing);
        EXPECT_EQ(d.real(key).status, LookupStatus::missing);
        EXPECT_EQ(d.boolean(key).status, LookupStatus::missing);
        EXPECT_EQ(d.stringArray(key).status, LookupStatus::missing);
        EXPECT_FALSE(d.contains(key));
    }
    auto wrongString = d.string("count");
    EXPECT_EQ(wrongString.status, LookupStatus::wrongType);
    EXPECT_FALSE(wrongString);
    EXPECT_EQ(wrongString.value, "");
    EXPECT_EQ(d.integer("ToolBoxVersion").status, LookupStatus::wrongType);
    EXPECT_EQ(d.integer("ratio").status, LookupStatus::wrongType);
    EXPECT_EQ(d.integer("flag").status, LookupStatus::wrongType);
    EXPECT_EQ(d.real("flag").status, LookupStatus::wrongType);
    EXPECT_EQ(d.boolean("count").status, LookupStatus::wrongType);
    EXPECT_EQ(d.stringArray("ToolBoxVersion").status, LookupStatus::wrongType);

    d.remove("count");
    EXPECT_EQ(d.integer("count").status, LookupStatus::missing);
    d.set("count", int64_t{1} << 40);
    EXPECT_EQ(d.integer("count").value, int64_t{1} << 40);
}

TEST_F(UserDefaultsTest, ValuesOfOtherWritersAreTypedToo) {
    TempDir::write(file, R"({"mixed": ["a", 1], "huge": 18446744073709551615, "neg": -3, "obj": {"x": 1}})");
    UserDefaults d(file);
    EXPECT_EQ(d.stringArray("mixed").status, LookupStatus::wrongType);
    EXPECT_TRUE(d.stringArray("mixed").value.empty());
    EXPECT_EQ(d.integer("huge").status, LookupStatus::wrongType);  // beyond int64
    EXPECT_EQ(d.integer("neg").value, -3);
    EXPECT_EQ(d.string("obj").status, LookupStatus::wrongType);
    EXPECT_TRUE(d.contains("obj"));
}

TEST_F(UserDefaultsTest, PersistsAcrossInstancesAndReloads) {
    {
        UserDefaults d(file);
        d.set("ToolBoxVersion", std::string("2.0"));
        d.set("volume", 0.75);
    }
    ASSERT_TRUE(fs::exists(file));
    EXPECT_TRUE(nlohmann::json::parse(TempDir::read(file)).is_object());
    // Only the file itself is left behind: the temporary files were renamed over it.
    size_t entries = 0;
    for (auto& e : fs::directory_iterator(file.parent_path())) entries += e.is_regular_file();
    EXPECT_EQ(entries, 1u);

    UserDefaults again(file);
    EXPECT_EQ(again.string("ToolBoxVersion").value, "2.0");
    EXPECT_DOUBLE_EQ(again.real("volume").value, 0.75);

    UserDefaults writer(file);
    writer.set("ToolBoxVersion", "3.0");
    EXPECT_EQ(again.string("ToolBoxVersion").value, "2.0");  // until reloaded
    again.reload();
    EXPECT_EQ(again.string("ToolBoxVersion").value, "3.0");
    EXPECT_EQ(again.file(), file);
}

TEST_F(UserDefaultsTest, CorruptFileIsKeptAsideAndDefaultsStartEmpty) {
    for (const std::string& bad : {std::string("{\"ToolBoxVersion\": \"1.0\""), std::string("[1, 2]"),
                                   std::string(""), std::string("\x01\xff garbage")}) {
        TempDir::write(file, bad);
        fs::path aside = file;
        aside += ".corrupt";
        fs::remove(aside);
        UserDefaults d(file);
        EXPECT_FALSE(d.contains("ToolBoxVersion"));
        EXPECT_FALSE(fs::exists(file));
        ASSERT_TRUE(fs::exists(aside));
        EXPECT_EQ(TempDir::read(aside), bad);
        d.set("ToolBoxVersion", "1.1");
        UserDefaults fresh(file);
        EXPECT_EQ(fresh.string("ToolBoxVersion").value, "1.1");
    }
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
    UserDefaults d(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                d.set("k" + std::to_string(t) + "_" + std::to_string(i), static_cast<int64_t>(i));
                (void)d.integer("k0_0");
            }
        });
    }
    for (auto& th : threads) th.join();
    UserDefaults reread(file);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 25; ++i) EXPECT_EQ(reread.integer("k" + std::to_string(t) + "_" + std::to_string(i)).value, i);
}

TEST_F(UserDefaultsTest, UnwritableFolderDoesNotThrow) {
    TempDir::write(dir / "blocker", "a file where a folder should be");
    UserDefaults d(dir / "blocker/defaults.json");
    EXPECT_NO_THROW(d.set("k", "v"));
    EXPECT_EQ(d.string("k").value, "v");  // kept in memory
}

}  // namespace
