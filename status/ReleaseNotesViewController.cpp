#include "status/ReleaseNotesViewController.h"

#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "common/DynamicTextField.h"
#include "common/LocalizedString.h"
#include "online/FirmwareManager.h"
#include "online/UsageReports.h"
#include "platform/appkit/Window.h"
#include "status/ReleaseNotesTableViewCell.h"

namespace hvb {

namespace {

constexpr const char* kFallbackLocaleKey = "en-US";

bool isTextList(const nlohmann::json& value) {
    if (!value.is_array()) return false;
    for (const auto& line : value)
        if (!line.is_string()) return false;
    return true;
}

}  // namespace

ReleaseNotesViewController::ReleaseNotesViewController(QString model, NotesSource source, QWidget* parent)
    : appkit::ViewController(parent), model_(std::move(model)), source_(std::move(source)) {
    setObjectName("ReleaseNotesViewController");
    scrollView_ = new QScrollArea(this);
    scrollView_->setObjectName("scrollView");
    scrollView_->setWidgetResizable(true);
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

ReleaseNotesTableViewCell* ReleaseNotesViewController::cellAt(int row) const {
    if (row < 0 || row >= numberOfRows()) return nullptr;
    return cells_[static_cast<size_t>(row)];
}

void ReleaseNotesViewController::loadView() {
    setTitle(localizedCommonString(QStringLiteral("Version History")));
    setFixedSize(kSide, kSide);
}

void ReleaseNotesViewController::viewDidLoad() {
    setupLayout();
    const auto entries = source_ ? source_(model_.toStdString()) : firmwareManager().getReleaseNotes(model_.toStdString());
    versionInfo_.clear();
    if (entries && entries->is_array()) {
        const QStringList keys = currentLocaleKeys();
        for (const auto& entry : *entries)
            if (auto note = makeReleaseNote(entry, keys)) versionInfo_.push_back(std::move(*note));
    }
    reloadData();
}

void ReleaseNotesViewController::setupLayout() {
    tableView_ = new QWidget();
    tableView_->setObjectName("ReleaseNoteColumn");
    tableView_->setAutoFillBackground(true);
    tableView_->setBackgroundRole(QPalette::Window);
    rows_ = new QVBoxLayout(tableView_);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(20);
    scrollView_->setWidget(tableView_);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->addWidget(scrollView_);
}

void ReleaseNotesViewController::reloadData() {
    for (auto* cell : cells_) cell->deleteLater();
    cells_.clear();
    while (QLayoutItem* item = rows_->takeAt(0)) delete item;
    for (const ReleaseNote& note : versionInfo_) {
        auto* cell = new ReleaseNotesTableViewCell(tableView_);
        cell->versionLabel()->setText(QString::fromStdString(note.version));
        cell->dateLabel()->setText(QString::fromStdString(note.date));
        cell->notesLabel()->setText(QString::fromStdString(note.notes));
        rows_->addWidget(cell);
        cells_.push_back(cell);
    }
    rows_->addStretch(1);
}

void ReleaseNotesViewController::viewWillAppear() {
    usageReports()->logScreen("Release Notes", "ReleaseNotesViewController");
}

void ReleaseNotesViewController::viewDidAppear() {
    // The window keeps its size.
    if (appkit::Window* window = hostWindow()) window->setFixedSize(window->sizeHint().expandedTo(size()));
}

std::optional<ReleaseNote> ReleaseNotesViewController::makeReleaseNote(const nlohmann::json& entry,
                                                                       const QStringList& localeKeys) {
    if (!entry.is_object()) return std::nullopt;
    const auto version = entry.find("version");
    const auto date = entry.find("date");
    const auto note = entry.find("note");
    if (version == entry.end() || !version->is_string()) return std::nullopt;
    if (date == entry.end() || !date->is_string()) return std::nullopt;
    if (note == entry.end() || !note->is_object()) return std::nullopt;
    for (const auto& [key, lines] : note->items())
        if (!isTextList(lines)) return std::nullopt;

    const nlohmann::json* lines = nullptr;
    QStringList keys = localeKeys;
    keys << QString::fromLatin1(kFallbackLocaleKey);
    for (const QString& key : keys) {
        auto it = note->find(key.toStdString());
        if (it != note->end()) {
            lines = &*it;
            break;
        }
    }
    if (!lines) return std::nullopt;

    ReleaseNote row;
    row.version = (localizedCommonString(QStringLiteral("Version")) + QStringLiteral(" ")).toStdString() +
                  version->get<std::string>();
    row.date = date->get<std::string>();
    int number = 0;
    for (const auto& line : *lines) {
        if (number > 0) row.notes += "\n";
        row.notes += std::to_string(++number) + ". " + line.get<std::string>();
    }
    return row;
}

QStringList ReleaseNotesViewController::localeKeys(const QLocale& locale) {
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage) return {};
    const QString language = QLocale::languageToCode(locale.language());
    const QString script =
        locale.script() == QLocale::AnyScript ? QString() : QLocale::scriptToCode(locale.script());
    const QString region =
        locale.territory() == QLocale::AnyTerritory ? QString() : QLocale::territoryToCode(locale.territory());
    QStringList keys;
    auto add = [&keys](QStringList parts) {
        parts.removeAll(QString());
        const QString key = parts.join(QLatin1Char('-'));
        if (!key.isEmpty() && !keys.contains(key)) keys << key;
    };
    add({language, script, region});
    add({language, region});
    return keys;
}

QStringList ReleaseNotesViewController::currentLocaleKeys() { return localeKeys(QLocale()); }

}  // namespace hvb
