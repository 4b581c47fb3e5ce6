// Appcast feeds as the web service publishes them, and the version order the updater relies on.
#include <gtest/gtest.h>

#include <string>

#include "platform/services/Appcast.h"

namespace {

using services::appcast::compareVersions;
using services::appcast::newestItem;
using services::appcast::parse;

std::string item(const std::string& title, const std::string& version, const std::string& url) {
    return "<item><title>" + title + "</title><sparkle:version>" + version +
           "</sparkle:version><enclosure url=\"" + url + "\" sparkle:version=\"" + version +
           "\" length=\"10\" type=\"application/octet-stream\"/></item>";
}

std::string feed(const std::string& items, const std::string& prefix = "sparkle") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\" xmlns:" + prefix +
           "=\"http://www.brevantis.example/xml-namespaces/appcast\"><channel><title>Updates</title>" + items +
           "</channel></rss>";
}

TEST(AppcastParse, ReadsTheServicesFeed) {
    const auto items = parse(feed(item("Version 2.1.0", "2.1.0", "http://127.0.0.1:9/download/app/app-2.1.0.tar.gz")));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title, "Version 2.1.0");
    EXPECT_EQ(items[0].versionString, "2.1.0");
    EXPECT_FALSE(items[0].displayVersionString);
    EXPECT_EQ(items[0].enclosureURL, "http://127.0.0.1:9/download/app/app-2.1.0.tar.gz");
    EXPECT_EQ(items[0].link, items[0].enclosureURL) << "without <link> the enclosure is where to get it";
}

TEST(AppcastParse, LinkVersionSourcesAndPrefixes) {
    // Any prefix bound to the feed's namespace; the version as an attribute only; an explicit
    // <link>; a display version; the RSS version attribute is not an item version.
    const std::string xml = feed(
        "<item><title> Build 7 </title><link> https://www.brevantis.example/toolbox </link>"
        "<up:shortVersionString>3.0</up:shortVersionString>"
        "<enclosure url=\"https://cdn.example/a.tar.gz\" up:version=\"3.0.7\"/></item>"
        "<item><title>No version</title><enclosure url=\"https://cdn.example/b.tar.gz\"/></item>",
        "up");
    const auto items = parse(xml);
    ASSERT_EQ(items.size(), 1u) << "an item without a version cannot be compared and is left out";
    EXPECT_EQ(items[0].title, "Build 7");
    EXPECT_EQ(items[0].versionString, "3.0.7");
    EXPECT_EQ(items[0].displayVersionString, "3.0");
    EXPECT_EQ(items[0].link, "https://www.brevantis.example/toolbox");
    EXPECT_EQ(items[0].enclosureURL, "https://cdn.example/a.tar.gz");
}

TEST(AppcastParse, GarbageAndEmptyGiveNoItems) {
    EXPECT_TRUE(parse("").empty());
    EXPECT_TRUE(parse("not xml at all <<<").empty());
    EXPECT_TRUE(parse("<rss><channel><item><title>x</title>").empty()) << "cut short";
    EXPECT_TRUE(parse("{\"result\":{\"appcast\":1}}").empty());
    EXPECT_TRUE(parse(std::string("<rss>\0<channel/></rss>", 22)).empty());
    EXPECT_TRUE(parse(feed("")).empty());
    EXPECT_TRUE(parse("<feed><item><sparkle:version>9</sparkle:version></item></feed>").empty()) << "not RSS";
    const std::string binary(4096, '\xff');
    EXPECT_TRUE(parse(binary).empty());
}

TEST(AppcastParse, ManyItemsAndHugeVersions) {
    std::string items;
    for (int i = 0; i < 2000; ++i) items += item("V" + std::to_string(i), "1." + std::to_string(i), "https://x.example/" + std::to_string(i));
    const std::string huge(5000, '9');
    items += item("Huge", huge + ".1", "https://x.example/huge");
    const auto parsed = parse(feed(items));
    ASSERT_EQ(parsed.size(), 2001u);
    const auto newest = newestItem(parsed);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->title, "Huge");
}

TEST(VersionOrder, NumbersPartByPart) {
    EXPECT_GT(compareVersions("1.10", "1.9"), 0) << "not decimal fractions";
    EXPECT_LT(compareVersions("1.9", "1.10"), 0);
    EXPECT_GT(compareVersions("2.1.0", "2.0.9"), 0);
    EXPECT_GT(compareVersions("10.0", "9.99.99"), 0);
    EXPECT_EQ(compareVersions("2.1", "2.1.0"), 0);
    EXPECT_EQ(compareVersions("2.01", "2.1"), 0);
    EXPECT_GT(compareVersions("2.1.0.1", "2.1"), 0);
    EXPECT_GT(compareVersions("1.0.0", ""), 0);
    EXPECT_EQ(compareVersions("", ""), 0);
    EXPECT_EQ(compareVersions("1.2b", "1.2"), 0) << "only the numbers count";
    // Longer than any integer type, and equal lengths compared digit by digit.
    EXPECT_GT(compareVersions("1." + std::string(40, '9'), "1." + std::string(39, '9')), 0);
    EXPECT_LT(compareVersions("1.18446744073709551616", "1.18446744073709551617"), 0);
    EXPECT_EQ(compareVersions("0000000000000000000000007", "7"), 0);
}

TEST(VersionOrder, NewestItemIsTheFirstOfTheHighest) {
    auto make = [](const char* title, const char* version) {
        services::AppcastItem item;
        item.title = title;
        item.versionString = version;
        return item;
    };
    const std::vector<services::AppcastItem> items{make("a", "1.9"), make("b", "1.10"), make("c", "1.10.0"),
                                                   make("d", "1.2")};
    EXPECT_EQ(newestItem(items)->title, "b");
    EXPECT_FALSE(newestItem({}));
}

}  // namespace
