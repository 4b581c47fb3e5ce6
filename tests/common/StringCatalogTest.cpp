#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include <QFile>

#include "common/LocalizedString.h"
#include "common/StringCatalog.h"
#include "platform/foundation/TempDir.h"

namespace hvb {
namespace {

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// ---- the ".strings" reader -------------------------------------------------------------------

TEST(ParseStrings, EntriesWithCommentsAndBlanks) {
    const StringsTable t = parseStrings(
        "/* A note for translators; \"quoted\" = \"not an entry\"; */\n"
        "\"OK\" = \"OK\";\n"
        "// a line comment \"x\" = \"y\";\n"
        "  \"Cancel\"\t=\n\"Abbrechen\" ;\n"
        "\"Edit\"=\"Edit\";/* trailing */");
    EXPECT_TRUE(t.complete);
    EXPECT_EQ(t.entries.size(), 3);
    EXPECT_EQ(t.entries.value(u("OK")), u("OK"));
    EXPECT_EQ(t.entries.value(u("Cancel")), u("Abbrechen"));
    EXPECT_EQ(t.entries.value(u("Edit")), u("Edit"));
    EXPECT_FALSE(t.entries.contains(u("quoted")));
    EXPECT_FALSE(t.entries.contains(u("x")));
}

TEST(ParseStrings, Escapes) {
    const StringsTable t = parseStrings(
        "\"a\" = \"say \\\"hi\\\"\";\n"
        "\"b\" = \"back\\\\slash\";\n"
        "\"c\" = \"line\\nnext\\ttab\\rret\";\n"
        "\"d\" = \"caf\\u00e9 can\\U2019t\";\n"
        "\"e\" = \"\\ud83d\\ude00\";\n"
        "\"f\" = \"\\ud83d alone\";\n"
        "\"g\" = \"\\q\";\n"
        "\"developer \\\"Brevantis\\\"\" = \"x\";\n");
    EXPECT_TRUE(t.complete);
    EXPECT_EQ(t.entries.value(u("a")), u("say \"hi\""));
    EXPECT_EQ(t.entries.value(u("b")), u("back\\slash"));
    EXPECT_EQ(t.entries.value(u("c")), u("line\nnext\ttab\rret"));
    EXPECT_EQ(t.entries.value(u("d")), u("caf\xC3\xA9 can\xE2\x80\x99t"));
    EXPECT_EQ(t.entries.value(u("e")), u("\xF0\x9F\x98\x80"));
    EXPECT_EQ(t.entries.value(u("f")), QString(QChar(QChar::ReplacementCharacter)) + u(" alone"));
    EXPECT_EQ(t.entries.value(u("g")), u("q"));
    EXPECT_TRUE(t.entries.contains(u("developer \"Brevantis\"")));
}

TEST(ParseStrings, Utf8TextAndByteOrderMark) {
    const StringsTable t = parseStrings("\xEF\xBB\xBF\"Cancel\" = \"\xE5\x8F\x96\xE6\xB6\x88\";");
    EXPECT_TRUE(t.complete);
    EXPECT_EQ(t.entries.value(u("Cancel")), u("\xE5\x8F\x96\xE6\xB6\x88"));
    EXPECT_TRUE(parseStrings("").complete);
    EXPECT_TRUE(parseStrings("  /* only a comment */ // and another").entries.isEmpty());
}

TEST(ParseStrings, MalformedTextKeepsTheEntriesBeforeTheFault) {
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"\"a\" = \"A\";\n\"b\" = \"B\"\n\"c\" = \"C\";", 3},  // missing semicolon
        {"\"a\" = \"A\";\n\"b\" = \"B;\n", 3},                 // string never ends
        {"\"a\" = \"A\";\n/* never closed\n\"b\" = \"B\";", 2},
        {"\"a\" = \"A\";\n\"b\" \"B\";", 2},                   // no equals sign
        {"\"a\" = \"A\";\n\"b\" = \"\\u12G4\";", 2},           // bad \u escape
        {"\"a\" = \"A\";\nb = \"B\";", 2},                     // key without quotes
        {"\"a\" = \"A\";\n\"b\" = \"ends in a backslash\\", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const StringsTable t = parseStrings(c.text);
        EXPECT_FALSE(t.complete);
        EXPECT_EQ(t.errorLine, c.line);
        EXPECT_EQ(t.entries.size(), 1);
        EXPECT_EQ(t.entries.value(u("a")), u("A"));
    }
    // Bytes that are no text at all: no entries, no crash.
    QByteArray junk;
    for (int i = 0; i < 256; ++i) junk.append(static_cast<char>(i));
    EXPECT_FALSE(parseStrings(junk).complete);
}

// ---- which localisation -------------------------------------------------------------------------

TEST(LocalizationOrder, PreferredLanguagesThenEnglishThenBase) {
    const QStringList available = {u("Base"), u("en"), u("zh-Hant")};
    auto order = [&](const QStringList& preferred) {
        return StringCatalog::localizationOrder(preferred, available);
    };
    EXPECT_EQ(order({u("zh-Hant-TW"), u("en-US")}), (QStringList{u("zh-Hant"), u("en"), u("Base")}));
    EXPECT_EQ(order({u("zh-TW")}), (QStringList{u("zh-Hant"), u("en"), u("Base")}));
    EXPECT_EQ(order({u("zh_HK.UTF-8")}), (QStringList{u("zh-Hant"), u("en"), u("Base")}));
    EXPECT_EQ(order({u("en-US"), u("zh-Hant-TW")}), (QStringList{u("en"), u("zh-Hant"), u("Base")}));
    EXPECT_EQ(order({u("fr-FR")}), (QStringList{u("en"), u("Base")}));
    // Simplified Chinese is not served Traditional.
    EXPECT_EQ(order({u("zh-Hans-CN")}), (QStringList{u("en"), u("Base")}));
    EXPECT_EQ(order({u("zh-CN")}), (QStringList{u("en"), u("Base")}));
    EXPECT_EQ(order({}), (QStringList{u("en"), u("Base")}));

    EXPECT_EQ(StringCatalog::localizationOrder({u("pt-BR"), u("de-AT")}, {u("de"), u("pt_BR"), u("fr")}),
              (QStringList{u("pt_BR"), u("de")}));
    EXPECT_EQ(StringCatalog::localizationOrder({u("en-GB")}, {}), QStringList());
}

// ---- lookups ---------------------------------------------------------------------------------

class StringCatalogTest : public ::testing::Test {
protected:
    void write(const std::string& relative, const std::string& text) {
        TempDir::write(dir / relative, text);
    }
    TempDir dir;
};

TEST_F(StringCatalogTest, KeyComesFromTheFirstLocalisationThatHasIt) {
    write("en.lproj/T.strings", "\"a\" = \"A\"; \"b\" = \"B\";");
    write("zh-Hant.lproj/T.strings", "\"a\" = \"\xE7\x94\xB2\";");
    write("Base.lproj/T.strings", "\"c\" = \"C base\";");
    write("Base.lproj/Only.strings", "\"d\" = \"D\";");
    StringCatalog catalog(dir.path(), {u("zh-Hant-TW")});
    EXPECT_EQ(catalog.searchOrder(), (QStringList{u("zh-Hant"), u("en"), u("Base")}));
    EXPECT_EQ(catalog.localizedString(u("a"), u("T")), u("\xE7\x94\xB2"));
    EXPECT_EQ(catalog.localizedString(u("b"), u("T")), u("B"));
    EXPECT_EQ(catalog.localizedString(u("c"), u("T")), u("C base"));
    EXPECT_EQ(catalog.localizedString(u("d"), u("Only")), u("D"));
    EXPECT_EQ(catalog.localizedString(u("missing"), u("T")), u("missing"));
    EXPECT_EQ(catalog.localizedString(u("a"), u("NoSuchTable"), u("a comment")), u("a"));

    EXPECT_EQ(catalog.lookupCount(), 6u);
    EXPECT_EQ(catalog.lookupCount(u("T"), u("a")), 1u);
    catalog.localizedString(u("a"), u("T"));
    EXPECT_EQ(catalog.lookupCount(u("T"), u("a")), 2u);  // the catalogue itself keeps nothing
}

TEST_F(StringCatalogTest, MalformedTableServesTheEntriesBeforeTheFault) {
    write("en.lproj/T.strings", "\"a\" = \"A\";\n\"b\" = \"B\"\n\"c\" = \"C\";");
    StringCatalog catalog(dir.path(), {u("en-US")});
    EXPECT_EQ(catalog.localizedString(u("a"), u("T")), u("A"));
    EXPECT_EQ(catalog.localizedString(u("b"), u("T")), u("b"));
    EXPECT_EQ(catalog.localizedString(u("c"), u("T")), u("c"));
}

TEST_F(StringCatalogTest, NoTablesGiveTheKeys) {
    StringCatalog catalog(dir.path() / "absent", {u("zh-Hant-TW")});
    EXPECT_TRUE(catalog.searchOrder().isEmpty());
    EXPECT_EQ(catalog.localizedString(u("SD_CARD_ERROR"), u("Message")), u("SD_CARD_ERROR"));
}

// ---- the application's own tables -------------------------------------------------------------

std::map<std::string, int> countByTable() {
    std::map<std::string, int> counts;
    for (const auto& entry : LocalizedString::entries()) ++counts[entry.table];
    return counts;
}

TEST(ApplicationTables, HoldersHaveTheirKeysInOrder) {
    const auto counts = countByTable();
    EXPECT_EQ(counts.at("CommonString"), 99);
    EXPECT_EQ(counts.at("Message"), 93);
    EXPECT_EQ(counts.at("WebcamString"), 10);
    EXPECT_EQ(counts.at("Copyright"), 1);

    const auto all = LocalizedString::entries();
    EXPECT_STREQ(all.front().key, "24HR");
    EXPECT_STREQ(all[98].key, "Edit");
    EXPECT_STREQ(all[99].key, "Are you sure you want to continue?");
    std::map<std::string, std::string> comments;
    for (const auto& e : all) comments[std::string(e.table) + "/" + e.key] = e.comment;
    EXPECT_EQ(comments.at("CommonString/Download failed."), "Download failed");
    EXPECT_EQ(comments.count("CommonString/Download failed"), 0u);
    EXPECT_EQ(comments.at("CommonString/PasswordSetting.Unlock"), "Unlock");
    EXPECT_EQ(comments.at("Message/SD_CARD_ERROR"), "Storage error, please format device.");
    EXPECT_EQ(comments.at("WebcamString/RECOVER_MSDC_HINT"), "MSDC Recover view hint");
    EXPECT_EQ(comments.at("CommonString/OK"), "OK");
    EXPECT_EQ(comments.count(
                  "Message/Five failed password attempts. If you can\xE2\x80\x99t remember your "
                  "password, you need to erase your Halvetor Body, which deletes your data and "
                  "settings, including the password."),
              1u);
    EXPECT_EQ(comments.count(
                  "Message/If the device still can't be detected, please confirm that the system "
                  "software from developer \"Brevantis\" has been allowed."),
              1u);
}

// Every text the program shows exists in both languages it ships: the same files (its help page
// too), and in each table every key and no other.
TEST(ApplicationTables, EveryLocalisationHasEveryKeyAndNoOther) {
    auto filesOf = [](const char* localisation) {
        std::set<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(HVB_TEST_SOURCE_DIR "/resources/" +
                                                                     std::string(localisation) + ".lproj"))
            files.insert(entry.path().filename().string());
        return files;
    };
    EXPECT_EQ(filesOf("en"), filesOf("zh-Hant"));
    for (const char* localisation : {"en", "zh-Hant"}) {
        for (const char* table : {"CommonString", "Message", "WebcamString", "Copyright"}) {
            SCOPED_TRACE(std::string(localisation) + "/" + table);
            QFile file(QStringLiteral(HVB_TEST_SOURCE_DIR "/resources/%1.lproj/%2.strings")
                           .arg(QString::fromLatin1(localisation), QString::fromLatin1(table)));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const StringsTable parsed = parseStrings(file.readAll());
            EXPECT_TRUE(parsed.complete) << "fault on line " << parsed.errorLine;
            int expected = 0;
            for (const auto& entry : LocalizedString::entries()) {
                if (std::string(entry.table) != table) continue;
                ++expected;
                const QString key = QString::fromUtf8(entry.key);
                EXPECT_TRUE(parsed.entries.contains(key)) << entry.key;
                EXPECT_FALSE(parsed.entries.value(key).trimmed().isEmpty()) << entry.key;
            }
            EXPECT_EQ(parsed.entries.size(), expected);
        }
    }
}

TEST(ApplicationTables, EnglishTextsAreProperEnglish) {
    StringCatalog english(HVB_TEST_SOURCE_DIR "/resources", {u("en-US")});
    EXPECT_EQ(english.localizedString(u("OK"), u("CommonString")), u("OK"));
    EXPECT_EQ(english.localizedString(u("Download failed."), u("CommonString")), u("Download failed."));
    EXPECT_EQ(english.localizedString(u("SD_CARD_ERROR"), u("Message")),
              u("Storage error, please format the device."));
    EXPECT_EQ(english.localizedString(u("PasswordSetting.Unlock"), u("CommonString")), u("Unlock"));
    EXPECT_EQ(english.localizedString(u("TEST_WEBCAM_BTN"), u("WebcamString")), u("Test Webcam"));
    for (const auto& entry : LocalizedString::entries()) {
        const QString text = english.localizedString(QString::fromUtf8(entry.key),
                                                     QString::fromLatin1(entry.table));
        // No identifier-like text reaches the user.
        EXPECT_FALSE(text.contains(QLatin1Char('_'))) << entry.key;
    }
    const QString notice = u("Copyright \xC2\xA9 2026 Brevantis. All rights reserved.");
    EXPECT_EQ(english.localizedString(notice, u("Copyright")), notice);
}

TEST(ApplicationTables, TraditionalChineseForTaiwan) {
    StringCatalog chinese(HVB_TEST_SOURCE_DIR "/resources", {u("zh-TW"), u("en")});
    EXPECT_EQ(chinese.localizedString(u("Cancel"), u("CommonString")), u("\xE5\x8F\x96\xE6\xB6\x88"));
    EXPECT_EQ(chinese.localizedString(u("PasswordSetting.Unlock"), u("CommonString")),
              u("\xE8\xA7\xA3\xE9\x8E\x96"));
}

}  // namespace
}  // namespace hvb
