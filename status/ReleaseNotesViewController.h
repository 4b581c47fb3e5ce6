#pragma once
// The version history of one camera model: one row per release with its version, date and
// numbered notes in the user's language (else English), from the release-note file the
// firmware service keeps in the resources. Presented as a fixed-size modal window.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QLocale>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include "online/ReleaseNote.h"
#include "platform/appkit/ViewController.h"

class QScrollArea;
class QVBoxLayout;

namespace hvb {

class ReleaseNotesTableViewCell;

class ReleaseNotesViewController : public appkit::ViewController {
    Q_OBJECT
public:
    // A model's entries, as FirmwareManager::getReleaseNotes gives them.
    using NotesSource = std::function<std::optional<nlohmann::json>(const std::string& model)>;
    static constexpr int kSide = 500;

    // Without a source the shared firmware manager's file is read.
    explicit ReleaseNotesViewController(QString model, NotesSource source = {}, QWidget* parent = nullptr);

    const QString& model() const { return model_; }
    const std::vector<ReleaseNote>& versionInfo() const { return versionInfo_; }
    QScrollArea* scrollView() const { return scrollView_; }
    QWidget* tableView() const { return tableView_; }
    int numberOfRows() const { return static_cast<int>(cells_.size()); }
    ReleaseNotesTableViewCell* cellAt(int row) const;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;

    // One entry of the file as a row; none when "version" or "date" is not a text, "note" is
    // not an object of text lists, or it has no lines for the locale keys nor "en-US".
    static std::optional<ReleaseNote> makeReleaseNote(const nlohmann::json& entry, const QStringList& localeKeys);
    // The keys a locale's notes go under, most specific first: "zh-Hant-TW", "zh-TW".
    static QStringList localeKeys(const QLocale& locale);
    static QStringList currentLocaleKeys();

private:
    void setupLayout();
    void reloadData();

    QString model_;
    NotesSource source_;
    std::vector<ReleaseNote> versionInfo_;
    QScrollArea* scrollView_ = nullptr;
    QWidget* tableView_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
    std::vector<ReleaseNotesTableViewCell*> cells_;
};

}  // namespace hvb
