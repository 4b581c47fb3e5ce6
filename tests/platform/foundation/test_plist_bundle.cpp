#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "TempDir.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Plist.h"

using namespace foundation;
namespace fs = std::filesystem;

namespace {

std::string doc(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Example//DTD PLIST 1.0//EN\" \"PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

TEST(Plist, ReadsEveryValueType) {
    plist::ParseResult r = plist::parseXml(doc(R"(
<dict>
  <key>CFBundleVersion</key><string>1.2.3</string>
  <key>escaped</key><string>a &amp; b <![CDATA[<c>]]></string>
  <key>blank</key><string> </string>
  <key>empty</key><string/>
  <key>count</key><integer> -42 </integer>
  <key>big</key><integer>9223372036854775807</integer>
  <key>small</key><integer>-9223372036854775808</integer>
  <key>hex</key><integer>0x1F</integer>
  <key>ratio</key><real>3.5</real>
  <key>exp</key><real>-1e3</real>
  <key>yes</key><true/>
  <key>no</key><false/>
  <key>when</key><date>2024-05-01T12:00:00Z</date>
  <key>bytes</key><data>
    SGVs
    bG8=
  </data>
  <key>list</key><array><integer>1</integer><array/><dict/></array>
  <key>nested</key><dict><key>inner</key><string>x</string></dict>
</dict>)"));
    ASSERT_TRUE(r.value) << r.error;
    const plist::Value& root = *r.value;
    ASSERT_NE(root.asDictionary(), nullptr);
    EXPECT_EQ(*root.get("CFBundleVersion")->asString(), "1.2.3");
    EXPECT_EQ(*root.get("escaped")->asString(), "a & b <c>");
    EXPECT_EQ(*root.get("blank")->asString(), " ");
    EXPECT_EQ(*root.get("empty")->asString(), "");
    EXPECT_EQ(*root.get("count")->asInteger(), -42);
    EXPECT_EQ(*root.get("big")->asInteger(), INT64_MAX);
    EXPECT_EQ(*root.get("small")->asInteger(), INT64_MIN);
    EXPECT_EQ(*root.get("hex")->asInteger(), 31);
    EXPECT_DOUBLE_EQ(*root.get("ratio")->asReal(), 3.5);
    EXPECT_DOUBLE_EQ(*root.get("exp")->asReal(), -1000.0);
    EXPECT_TRUE(*root.get("yes")->asBool());
    EXPECT_FALSE(*root.get("no")->asBool());
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(root.get("when")->asDate()->time_since_epoch()).count(),
              1714564800);
    EXPECT_EQ(*root.get("bytes")->asData(), (plist::Data{'H', 'e', 'l', 'l', 'o'}));
    const plist::Array* list = root.get("list")->asArray();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ(*(*list)[0].asInteger(), 1);
    EXPECT_TRUE((*list)[1].asArray()->empty());
    EXPECT_TRUE((*list)[2].asDictionary()->empty());
    EXPECT_EQ(*root.get("nested")->get("inner")->asString(), "x");

    // Typed accessors refuse other types; get() on a non-dictionary is null.
    EXPECT_EQ(root.get("count")->asString(), nullptr);
    EXPECT_EQ(root.get("ratio")->asInteger(), nullptr);
    EXPECT_EQ(root.get("missing"), nullptr);
    EXPECT_EQ(root.get("count")->get("x"), nullptr);
}

TEST(Plist, MalformedDocumentsFailClearly) {
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<array>";
    for (int i = 0; i < 5000; ++i) deep += "</array>";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty text", ""},
        {"not XML", "this is not a plist"},
        {"unclosed", doc("<dict><key>a</key><string>b</string>")},
        {"truncated", doc("<dict><key>a</key><string>b</str")},
        {"wrong root", "<dict><key>a</key><string>b</string></dict>"},
        {"empty plist", doc("")},
        {"two roots", doc("<string>a</string><string>b</string>")},
        {"key without value", doc("<dict><key>a</key></dict>")},
        {"two keys", doc("<dict><key>a</key><key>b</key><string>c</string></dict>")},
        {"value without key", doc("<dict><string>c</string></dict>")},
        {"text in dict", doc("<dict>stray<key>a</key><true/></dict>")},
        {"unknown element", doc("<dict><key>a</key><float>1</float></dict>")},
        {"element in string", doc("<string>a<b/>c</string>")},
        {"bad integer", doc("<integer>12a</integer>")},
        {"empty integer", doc("<integer></integer>")},
        {"integer overflow", doc("<integer>9223372036854775808</integer>")},
        {"double sign", doc("<integer>--1</integer>")},
        {"bad real", doc("<real>1.5.2</real>")},
        {"bad date", doc("<date>2024-13-01T00:00:00Z</date>")},
        {"day out of month", doc("<date>2023-02-29T00:00:00Z</date>")},
        {"date without zone", doc("<date>2024-05-01T12:00:00</date>")},
        {"date out of range", doc("<date>9999-01-01T00:00:00Z</date>")},
        {"bad base64", doc("<data>@@@@</data>")},
        {"base64 after padding", doc("<data>SG=Vs</data>")},
        {"true with content", doc("<true>no</true>")},
        {"binary plist", std::string("bplist00\x01\x02", 10)},
        {"nested too deeply", doc(deep)},
    };
    for (const auto& [what, text] : cases) {
        plist::ParseResult r = plist::parseXml(text);
        EXPECT_FALSE(r.value) << what;
        EXPECT_FALSE(r.error.empty()) << what;
    }
}

TEST(Plist, ReadsFilesAndNamesTheFileOnFailure) {
    TempDir dir;
    TempDir::write(dir / "good.plist", doc("<array><string>a</string></array>"));
    TempDir::write(dir / "bad.plist", "<plist><dict><key>");
    plist::ParseResult good = plist::parseFile((dir / "good.plist").string());
    ASSERT_TRUE(good.value) << good.error;
    EXPECT_EQ(*(*good.value->asArray())[0].asString(), "a");

    for (const char* name : {"bad.plist", "missing.plist"}) {
        plist::ParseResult r = plist::parseFile((dir / name).string());
        EXPECT_FALSE(r.value);
        EXPECT_NE(r.error.find(name), std::string::npos) << r.error;
    }
}

TEST(Bundle, DriverBundleLayout) {
    TempDir dir;
    fs::path kext = dir / "HVBDriver.kext";
    TempDir::write(kext / "Contents/Info.plist",
                   doc("<dict><key>CFBundleVersion</key><string>2.0.1</string><key>n</key><integer>1</integer></dict>"));
    TempDir::write(kext / "Contents/Resources/installKext.sh", "#!/bin/sh\n");
    fs::create_directories(kext / "Contents/Resources/Inner.kext");
    TempDir::write(kext / "Contents/Resources/README", "x");
    TempDir::write(dir / "secret.txt", "x");

    std::optional<Bundle> bundle = Bundle::at(kext);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->bundlePath(), kext);
    EXPECT_EQ(bundle->resourcePath(), kext / "Contents/Resources");
    EXPECT_EQ(bundle->infoString("CFBundleVersion"), "2.0.1");
    EXPECT_EQ(bundle->infoString("n"), std::nullopt);  // not a string
    EXPECT_EQ(bundle->infoString("missing"), std::nullopt);
    EXPECT_EQ(bundle->infoDictionary().size(), 2u);

    EXPECT_EQ(bundle->pathForResource("installKext", "sh"), kext / "Contents/Resources/installKext.sh");
    EXPECT_EQ(bundle->pathForResource("installKext", ".sh"), kext / "Contents/Resources/installKext.sh");
    EXPECT_EQ(bundle->pathForResource("Inner", "kext"), kext / "Contents/Resources/Inner.kext");
    EXPECT_EQ(bundle->pathForResource("README", ""), kext / "Contents/Resources/README");
    EXPECT_EQ(bundle->pathForResource("missing", "sh"), std::nullopt);
    EXPECT_EQ(bundle->pathForResource("", ""), std::nullopt);
    EXPECT_EQ(bundle->pathForResource("../../../secret", "txt"), std::nullopt);
    EXPECT_EQ(bundle->pathForResource((dir / "secret").string(), "txt"), std::nullopt);

    EXPECT_FALSE(Bundle::at(dir / "Missing.kext"));
    EXPECT_FALSE(Bundle::at(dir / "secret.txt"));

    // A bundle with a broken information file is still a bundle, with an empty dictionary.
    fs::path broken = dir / "Broken.kext";
    TempDir::write(broken / "Contents/Info.plist", "<plist><dict><key>CFBundleVersion</key>");
    std::optional<Bundle> b = Bundle::at(broken);
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->infoDictionary().empty());
    EXPECT_EQ(b->infoString("CFBundleVersion"), std::nullopt);
}

TEST(Bundle, MainBundleAndPathsFollowTheEnvironment) {
    TempDir dir;
    // The main bundle is made once per process: its folder keeps one name across repeats.
    fs::path mainDir = fs::temp_directory_path() / ("hvb-main-bundle-" + std::to_string(::getpid()));
    struct Cleanup {
        fs::path p;
        ~Cleanup() { fs::remove_all(p); }
    } cleanup{mainDir};
    fs::path resources = mainDir / "share/HalvetorBody_ToolBox/Resources";
    TempDir::write(resources / "ReleaseNote.json", "{}");
    TempDir::write(mainDir / "share/HalvetorBody_ToolBox/Info.plist",
                   doc("<dict><key>CFBundleShortVersionString</key><string>3.1</string></dict>"));
    ::setenv("HVB_RESOURCES", resources.c_str(), 1);
    EXPECT_EQ(paths::resourcesDir(), resources);
    Bundle& main = Bundle::main();
    EXPECT_EQ(main.resourcePath(), resources);
    EXPECT_EQ(main.infoString("CFBundleShortVersionString"), "3.1");
    EXPECT_EQ(main.pathForResource("ReleaseNote", "json"), resources / "ReleaseNote.json");
    ::unsetenv("HVB_RESOURCES");
    EXPECT_EQ(paths::resourcesDir(), (paths::executableDir() / "../share/HalvetorBody_ToolBox/Resources").lexically_normal());
    EXPECT_TRUE(fs::exists(paths::executableDir() / "test_foundation"));

    ::setenv("HVB_ROOT", dir.path().c_str(), 1);
    EXPECT_EQ(paths::systemRoot(), dir.path());
    ::setenv("HVB_ROOT", "", 1);
    EXPECT_EQ(paths::systemRoot(), fs::path("/"));
    ::unsetenv("HVB_ROOT");

    std::string home = paths::env("HOME");
    ::setenv("HOME", dir.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    ::setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    EXPECT_EQ(paths::configDir(), dir / "cfg/HalvetorBody_ToolBox");
    EXPECT_EQ(paths::applicationSupportDir(), dir / ".local/share/HalvetorBody_ToolBox");
    EXPECT_EQ(paths::cacheDir(), dir / "cache/HalvetorBody_ToolBox");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(paths::configDir(), dir / ".config/HalvetorBody_ToolBox");
    EXPECT_EQ(paths::cacheDir(), dir / ".cache/HalvetorBody_ToolBox");
    if (!home.empty()) ::setenv("HOME", home.c_str(), 1);

    EXPECT_EQ(paths::env("HVB_SURELY_UNSET_VARIABLE", "fallback"), "fallback");
}

}  // namespace
