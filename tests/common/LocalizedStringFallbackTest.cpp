// The holders with no string tables at all: every text is its key. The resources folder is an
// empty one of this process, fixed before anything reads the main bundle.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <latch>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/LocalizedString.h"
#include "common/StringCatalog.h"
#include "platform/foundation/TempDir.h"

namespace hvb {
namespace {

using namespace LocalizedString;
using Accessor = const QString& (*)();

struct Holder {
    const char* table;
    const char* key;
    Accessor read;
};

std::vector<Holder> allHolders() {
#define HVB_T_STR(name, key, comment) {kCommonStringTable, key, &Str::name},
#define HVB_T_MSG(name, key, comment) {kMessageTable, key, &Msg::name},
#define HVB_T_BTN(name, key, comment) {kWebcamStringTable, key, &Webcam::Btn::name},
#define HVB_T_TITLE(name, key, comment) {kWebcamStringTable, key, &Webcam::Title::name},
#define HVB_T_WMSG(name, key, comment) {kWebcamStringTable, key, &Webcam::Msg::name},
#define HVB_T_COPY(name, key, comment) {kCopyrightTable, key, &Copyright::name},
    return {HVB_COMMON_STRINGS(HVB_T_STR) HVB_MESSAGE_STRINGS(HVB_T_MSG)
                HVB_WEBCAM_BTN_STRINGS(HVB_T_BTN) HVB_WEBCAM_TITLE_STRINGS(HVB_T_TITLE)
                    HVB_WEBCAM_MSG_STRINGS(HVB_T_WMSG) HVB_COPYRIGHT_STRINGS(HVB_T_COPY)};
}

uint64_t lookups(const char* table, const QString& key) {
    return StringCatalog::main().lookupCount(QString::fromLatin1(table), key);
}

TEST(LocalizedStringWithoutTables, FirstReadFromEightThreadsIsOneLookup) {
    const QString key = QStringLiteral("Version History");
    ASSERT_EQ(lookups(kCommonStringTable, key), 0u);
    std::latch start(8);
    std::vector<const QString*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            seen[i] = &Str::versionHistory();
        });
    }
    for (auto& t : threads) t.join();
    for (const QString* text : seen) {
        EXPECT_EQ(text, seen[0]);
        EXPECT_EQ(*text, key);
    }
    EXPECT_EQ(lookups(kCommonStringTable, key), 1u);
}

TEST(LocalizedStringWithoutTables, EveryTextIsItsKeyAndIsLookedUpOnce) {
    const auto holders = allHolders();
    ASSERT_EQ(holders.size(), 203u);
    for (const Holder& h : holders) {
        const QString key = QString::fromUtf8(h.key);
        const QString& first = h.read();
        const QString& second = h.read();
        EXPECT_EQ(first, key) << h.key;
        EXPECT_EQ(&first, &second) << h.key;
        EXPECT_EQ(lookups(h.table, key), 1u) << h.key;
    }
}

TEST(LocalizedStringWithoutTables, IdentifierKeysShowAsIdentifiers) {
    EXPECT_EQ(Str::ok(), QStringLiteral("OK"));
    EXPECT_EQ(Str::cancel(), QStringLiteral("Cancel"));
    EXPECT_EQ(Str::fail(), QStringLiteral("Fail"));
    EXPECT_EQ(Msg::sdCardError(), QStringLiteral("SD_CARD_ERROR"));
    EXPECT_EQ(Str::passwordSettingUnlock(), QStringLiteral("PasswordSetting.Unlock"));
    EXPECT_EQ(Str::downloadFailed(), QStringLiteral("Download failed."));
    EXPECT_EQ(Webcam::Btn::testWebcam(), QStringLiteral("TEST_WEBCAM_BTN"));
    EXPECT_EQ(Webcam::Btn::testMic(), QStringLiteral("TEST_MIC_BTN"));
    EXPECT_EQ(Webcam::Btn::testFinish(), QStringLiteral("TEST_FINISH_BTN"));
    EXPECT_EQ(Webcam::Btn::recover(), QStringLiteral("RECOVER_BTN"));
    EXPECT_EQ(Webcam::Title::webcamCameraName(), QStringLiteral("WEBCAM_CAMERA_NAME"));
    EXPECT_EQ(Webcam::Title::webcamMicName(), QStringLiteral("WEBCAM_MIC_NAME"));
    EXPECT_EQ(Webcam::Title::videoTestTitle(), QStringLiteral("VIDEO_TEST_TITLE"));
    EXPECT_EQ(Webcam::Title::audioTestTitle(), QStringLiteral("AUDIO_TEST_TITLE"));
    EXPECT_EQ(Webcam::Msg::micTestHint(), QStringLiteral("MIC_TEST_HINT"));
    EXPECT_EQ(Webcam::Msg::recoverMsdcHint(), QStringLiteral("RECOVER_MSDC_HINT"));
    EXPECT_TRUE(Msg::fiveAttemptsFailed().contains(QChar(0x2019)));
    EXPECT_TRUE(Msg::allowSystemSoftware().contains(QStringLiteral("can't")));
    EXPECT_TRUE(Msg::allowSystemSoftware().contains(QStringLiteral("\"Brevantis\"")));
    EXPECT_EQ(Copyright::notice(), QString::fromUtf8("Copyright \xC2\xA9 2026 Brevantis. All rights reserved."));
}

TEST(LocalizedStringWithoutTables, LookupByKeyUsesTheHoldersTexts) {
    const QString& held = Str::edit();
    EXPECT_EQ(localizedCommonString(QStringLiteral("Edit")), held);
    EXPECT_EQ(localizedMessage(QStringLiteral("Please wait...")), Msg::pleaseWait());
    EXPECT_EQ(lookups(kCommonStringTable, QStringLiteral("Edit")), 1u);
    EXPECT_EQ(lookups(kMessageTable, QStringLiteral("Please wait...")), 1u);

    // Download failed (without its full stop) is no key of any holder: it is its own text.
    const QString other = QStringLiteral("Download failed");
    EXPECT_EQ(localizedCommonString(other), other);
    EXPECT_EQ(localizedCommonString(other), other);
    EXPECT_EQ(lookups(kCommonStringTable, other), 1u);
    EXPECT_EQ(localizedCommonString(QStringLiteral("Download failed.")), Str::downloadFailed());
    EXPECT_NE(Str::downloadFailed(), other);
}

}  // namespace
}  // namespace hvb

int main(int argc, char** argv) {
    TempDir resources;  // empty: no tables, no localisations
    ::setenv("HVB_RESOURCES", resources.path().c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
