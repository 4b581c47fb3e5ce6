// The release-notes window: which entries become rows, the language of their notes, the
// numbering, and texts from the web shown as plain text.
#include <gtest/gtest.h>

#include <fstream>

#include <QLabel>
#include <QScrollArea>

#include "app/AppTestSupport.h"
#include "camera/CameraLinkFixture.h"
#include "common/DynamicTextField.h"
#include "common/LocalizedString.h"
#include "online/FirmwareManager.h"
#include "platform/appkit/Window.h"
#include "status/ReleaseNotesTableViewCell.h"
#include "status/ReleaseNotesViewController.h"

namespace {

using hvb::ReleaseNotesViewController;
using json = nlohmann::json;

json entry(json version, json date, json note) { return json{{"version", version}, {"date", date}, {"note", note}}; }

const QStringList kTaiwan{"zh-Hant-TW", "zh-TW"};

TEST(MakeReleaseNote, NumbersTheLinesUnderTheVersion) {
    auto note = ReleaseNotesViewController::makeReleaseNote(
        entry("1.6.00", "2024/05/01", {{"en-US", {"Fix A", "Fix B"}}}), {});
    ASSERT_TRUE(note);
    EXPECT_EQ(note->version, hvb::localizedCommonString("Version").toStdString() + " 1.6.00");
    EXPECT_EQ(note->date, "2024/05/01");
    EXPECT_EQ(note->notes, "1. Fix A\n2. Fix B");
    // No lines, no notes.
    EXPECT_EQ(ReleaseNotesViewController::makeReleaseNote(entry("1.0", "d", {{"en-US", json::array()}}), {})->notes, "");
}

TEST(MakeReleaseNote, EntriesWithAMistypedMemberAreLeftOut) {
    const json lines = {{"en-US", {"Fix"}}};
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(entry(160, "2024/05/01", lines), {}));
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(entry("1.6", nullptr, lines), {}));
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(entry("1.6", "d", json::array({"Fix"})), {}));
    // One language of another type disqualifies the whole entry, even when it is not the one asked.
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(
        entry("1.6", "d", {{"en-US", {"Fix"}}, {"de-DE", "Korrektur"}}), {}));
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(entry("1.6", "d", {{"en-US", {"Fix", 2}}}), {}));
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(json{{"version", "1.6"}, {"date", "d"}}, {}));
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(json::array({1, 2}), {}));
}

TEST(MakeReleaseNote, TheUsersLanguageElseEnglishElseNothing) {
    const json both = {{"en-US", {"Fix"}}, {"zh-Hant-TW", {"修正"}}};
    EXPECT_EQ(ReleaseNotesViewController::makeReleaseNote(entry("1", "d", both), kTaiwan)->notes, "1. 修正");
    EXPECT_EQ(ReleaseNotesViewController::makeReleaseNote(entry("1", "d", both), {"fr-FR"})->notes, "1. Fix");
    EXPECT_EQ(ReleaseNotesViewController::makeReleaseNote(entry("1", "d", {{"zh-TW", {"短"}}}), kTaiwan)->notes, "1. 短");
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(entry("1", "d", {{"ja-JP", {"修正"}}}), kTaiwan));
    EXPECT_FALSE(ReleaseNotesViewController::makeReleaseNote(entry("1", "d", json::object()), kTaiwan));
}

TEST(MakeReleaseNote, LocaleKeysFromTheSystemLocale) {
    EXPECT_EQ(ReleaseNotesViewController::localeKeys(QLocale("zh_Hant_TW")), kTaiwan);
    EXPECT_EQ(ReleaseNotesViewController::localeKeys(QLocale("zh_TW")), kTaiwan);
    EXPECT_EQ(ReleaseNotesViewController::localeKeys(QLocale("en_US")), (QStringList{"en-Latn-US", "en-US"}));
    EXPECT_TRUE(ReleaseNotesViewController::localeKeys(QLocale::c()).isEmpty());
}

class ReleaseNotesWindow : public ::testing::Test {
protected:
    static std::unique_ptr<appkit::Window> show(ReleaseNotesViewController* controller) {
        auto window = std::make_unique<appkit::Window>(controller);
        window->aboutToShow();
        window->show();
        window->didShow();
        return window;
    }
};

TEST_F(ReleaseNotesWindow, RowsInFileOrderAsPlainText) {
    const json entries = json::array({
        entry("1.6.00", "2024/05/01", {{"en-US", {"<b>Bold</b> & <i>more</i>", "Second"}}}),
        entry(15, "2023/11/20", {{"en-US", {"skipped"}}}),
        entry("1.4.00", "2023/01/02", {{"en-US", {"Old"}}}),
    });
    std::string asked;
    auto* controller = new ReleaseNotesViewController("HW7334", [&](const std::string& model) -> std::optional<json> {
        asked = model;
        return entries;
    });
    auto window = show(controller);
    EXPECT_EQ(asked, "HW7334");
    ASSERT_EQ(controller->numberOfRows(), 2);
    EXPECT_EQ(controller->versionInfo().size(), 2u);
    auto* first = controller->cellAt(0);
    EXPECT_EQ(first->versionLabel()->text(), hvb::localizedCommonString("Version") + " 1.6.00");
    EXPECT_EQ(first->dateLabel()->text(), "2024/05/01");
    EXPECT_EQ(first->notesLabel()->text(), "1. <b>Bold</b> & <i>more</i>\n2. Second");
    for (QLabel* label : {first->versionLabel(), first->dateLabel(), static_cast<QLabel*>(first->notesLabel())})
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(controller->cellAt(1)->versionLabel()->text(), hvb::localizedCommonString("Version") + " 1.4.00");
    EXPECT_EQ(window->windowTitle(), hvb::localizedCommonString("Version History"));
    EXPECT_EQ(controller->size(), QSize(500, 500));
    // The window keeps its size.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    window->performClose();
}

TEST_F(ReleaseNotesWindow, AMissingOrMalformedFileShowsAnEmptyList) {
    TempDir resources;
    hvb::FirmwareManager manager("http://127.0.0.1:9", resources.path());
    auto fromFile = [&manager](const std::string& model) { return manager.getReleaseNotes(model); };
    {
        auto* controller = new ReleaseNotesViewController("HVBR7", fromFile);
        auto window = show(controller);
        EXPECT_EQ(controller->numberOfRows(), 0);
        window->performClose();
    }
    // A model whose value is an object instead of a list.
    std::ofstream(resources.path() / "ReleaseNote.json")
        << R"({"HalvetorBody":{"HVBR7":{"version":"1.6.00"},"HW7334":[{"version":"1","date":"d","note":{"en-US":["x"]}}]}})";
    {
        auto* controller = new ReleaseNotesViewController("HVBR7", fromFile);
        auto window = show(controller);
        EXPECT_EQ(controller->numberOfRows(), 0);
        window->performClose();
    }
    {
        auto* controller = new ReleaseNotesViewController("HW7334", fromFile);
        auto window = show(controller);
        EXPECT_EQ(controller->numberOfRows(), 1);
        window->performClose();
    }
}

TEST_F(ReleaseNotesWindow, TheShippedFileHasNotesForEveryModel) {
    for (const char* model : {"HVBR4", "HVBR7", "HVBS2A", "HW7312", "HW7334", "HW7360"}) {
        auto* controller = new ReleaseNotesViewController(model);
        auto window = show(controller);
        EXPECT_GT(controller->numberOfRows(), 0) << model;
        window->performClose();
    }
}

}  // namespace
