#include "tools/EditViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>

#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "common/SettingOptions.h"
#include "online/FirmwareManager.h"
#include "online/UsageReports.h"
#include "platform/appkit/Window.h"
#include "tools/EditLabelRules.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

namespace {

// Sizes in the platform's points, which are pixels at its standard resolution.
QLabel* makeText(QWidget* parent, int pointSize, bool bold) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPixelSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgbF(0.2, 0.2, 0.2, 1));
    label->setPalette(palette);
    return label;
}

// Places a widget at x with its vertical centre at centreY, at its natural height.
void placeCentred(QWidget* widget, int x, int centreY, int width = -1) {
    const QSize hint = widget->sizeHint();
    const int w = width > 0 ? width : hint.width();
    widget->setGeometry(x, centreY - hint.height() / 2, w, hint.height());
}

}  // namespace

EditViewController::EditViewController(StatusModel status, QWidget* parent)
    : appkit::ViewController(parent), status(std::move(status)) {
    setObjectName("EditViewController");
}

void EditViewController::setDelegate(EditViewControllerDelegate* delegate) {
    delegate_ = delegate;
    delegateObject_ = dynamic_cast<QObject*>(delegate);
    delegateIsObject_ = delegateObject_ != nullptr;
}

EditViewControllerDelegate* EditViewController::liveDelegate() const {
    if (delegateIsObject_ && !delegateObject_) return nullptr;
    return delegate_;
}

void EditViewController::loadView() {
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(249, 249, 254));
    setPalette(palette);

    titleLabel = makeText(this, 18, true);
    deviceNameTitleLabel = makeText(this, 14, false);
    deviceNameLabel = new QLineEdit(this);
    QFont fieldFont = deviceNameLabel->font();
    fieldFont.setPixelSize(14);
    deviceNameLabel->setFont(fieldFont);
    QPalette fieldPalette = deviceNameLabel->palette();
    fieldPalette.setColor(QPalette::Text, QColor(26, 26, 26));
    deviceNameLabel->setPalette(fieldPalette);
    labelLimitLabel = makeText(this, 11, false);
    labelLimitLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette hint = labelLimitLabel->palette();
    hint.setColor(QPalette::WindowText, QColor::fromRgbF(0.45, 0.45, 0.45, 1));
    labelLimitLabel->setPalette(hint);
    labelCharactersLabel = makeText(this, 11, false);
    labelCharactersLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    labelCharactersLabel->setWordWrap(true);
    labelCharactersLabel->setPalette(hint);
    teamSyncTitleLabel = makeText(this, 14, false);
    teamSyncComboBox = new QComboBox(this);
    teamSyncComboBox->setEditable(false);
    teamSyncComboBox->setFont(fieldFont);
    teamSyncComboBox->setMaxVisibleItems(11);
    leaderButton = new QCheckBox(this);
    doneButton = new QPushButton(this);
    doneButton->setDefault(true);
    doneButton->setAutoDefault(true);

    connect(deviceNameLabel, &QLineEdit::textEdited, this, [this] { controlTextDidChange(); });
    connect(teamSyncComboBox, &QComboBox::activated, this, [this] { comboBoxSelectionDidChange(); });
    connect(doneButton, &QPushButton::clicked, this, [this] { doneButtonDidTap(); });
    connect(deviceNameLabel, &QLineEdit::returnPressed, this, [this] {
        if (doneButton->isEnabled()) doneButtonDidTap();
    });
}

void EditViewController::viewDidLoad() {
    setTitle(QString());
    if (status.parameters) {
        const DiskDriver_Parameter r = cameraLink()->recordFields(status.parameters);
        snapshot_.label = QString::fromStdString(r.UserLabel.value_or(""));
        snapshot_.model = r.ModelName;
        snapshot_.firmware = r.FWVersion;
        snapshot_.russian = r.isSupportRussian;
        snapshot_.group = r.DeviceParam ? r.DeviceParam->TEAMSYNC_GROUP() : 0;
    }
    snapshot_.teamSync = status.teamSync();
    snapshot_.leader = status.bleTriggerHost();
    extendedCyrillic_ =
        snapshot_.russian && FirmwareManager::supportsExtendedCyrillicLabel(snapshot_.model, snapshot_.firmware);

    titleLabel->setText(Str::edit());
    deviceNameTitleLabel->setText(Str::userLabel());
    const auto limit = EditLabelRules::limit(EditLabelRules::maximumLength(snapshot_.model), status.commands,
                                             snapshot_.russian);
    labelLimitLabel->setText(limit.cyrillic ? Msg::labelLimitCyrillic().arg(limit.characters).arg(*limit.cyrillic)
                                            : Msg::labelLimit().arg(limit.characters));
    labelCharactersLabel->setText(!snapshot_.russian ? Msg::labelCharacters()
                                  : extendedCyrillic_ ? Msg::labelCharactersExtendedCyrillic()
                                                      : Msg::labelCharactersCyrillic());
    teamSyncTitleLabel->setText(Str::teamSync());
    leaderButton->setText(Str::leader());
    doneButton->setText(Str::ok());
    teamSyncComboBox->addItems(SettingOptions::teamSyncGroupOptions());

    deviceNameLabel->setText(snapshot_.label);
    setBorder(false);
    if (!snapshot_.leader) {
        leaderButton->setEnabled(false);
        leaderButton->setChecked(false);
    } else {
        leaderButton->setEnabled(true);
        leaderButton->setChecked(*snapshot_.leader);
    }
    const bool teamSyncKnown = snapshot_.teamSync.has_value();
    teamSyncTitleLabel->setEnabled(teamSyncKnown);
    teamSyncComboBox->setEnabled(teamSyncKnown);
    // A group the list does not have shows no selection.
    const bool inRange = snapshot_.group >= 0 && snapshot_.group <= kMaximumGroup;
    teamSyncComboBox->setCurrentIndex(teamSyncKnown && inRange ? static_cast<int>(snapshot_.group) : -1);
    placeViews();
}

void EditViewController::viewWillAppear() {
    if (auto* window = hostWindow()) {
        window->layout()->setSizeConstraint(QLayout::SetFixedSize);
        window->setEmptyTitle();
    }
    usageReports()->logScreen("Edit User Label", "EditViewController");
    doneButton->setFocus();
}

void EditViewController::resizeEvent(QResizeEvent* event) {
    appkit::ViewController::resizeEvent(event);
    if (isViewLoaded()) placeViews();
}

void EditViewController::placeViews() {
    placeCentred(titleLabel, 10, 26);
    placeCentred(deviceNameTitleLabel, 28, 64);
    const int fieldX = deviceNameTitleLabel->geometry().right() + 1 + 10;
    placeCentred(deviceNameLabel, fieldX, 64, kWidth - 20 - fieldX);
    // Right-aligned under the field, clear of the team-sync row's controls on the left.
    const int hintHeight = labelLimitLabel->sizeHint().height();
    labelLimitLabel->setGeometry(fieldX, deviceNameLabel->geometry().bottom() + 2, kWidth - 20 - fieldX, hintHeight);
    placeCentred(teamSyncTitleLabel, 28, 64 + 34);
    placeCentred(teamSyncComboBox, teamSyncTitleLabel->geometry().right() + 1 + 10, 64 + 34, 80);
    // Under the length, right of the team-sync group, clear of the OK button.
    const int charactersX = teamSyncComboBox->geometry().right() + 1 + 12;
    const int charactersTop = labelLimitLabel->geometry().bottom() + 1;
    labelCharactersLabel->setGeometry(charactersX, charactersTop, kWidth - 20 - charactersX,
                                      kHeight - 10 - 25 - 4 - charactersTop);
    placeCentred(leaderButton, 31, 64 + 34 + 34);
    doneButton->setGeometry(kWidth - 10 - 80, kHeight - 10 - 25, 80, 25);
}

void EditViewController::setBorder(bool red) {
    redBorder_ = red;
    deviceNameLabel->setStyleSheet(red ? QStringLiteral("QLineEdit { border: 2px solid rgb(255, 0, 0); }")
                                       : QStringLiteral("QLineEdit { border: 1px solid black; }"));
}

void EditViewController::controlTextDidChange() {
    // The model's length, then what the camera's label command carries.
    const QString cut = EditLabelRules::fitted(deviceNameLabel->text(), EditLabelRules::maximumLength(snapshot_.model),
                                               status.commands);
    if (cut != deviceNameLabel->text()) deviceNameLabel->setText(cut);
    const auto verdict = EditLabelRules::verdict(deviceNameLabel->text(), snapshot_.russian, extendedCyrillic_);
    const bool accepted = verdict == EditLabelRules::Verdict::accepted;
    setBorder(!accepted);
    charactersRed_ = verdict == EditLabelRules::Verdict::forbiddenCharacter;
    QPalette palette = labelLimitLabel->palette();
    if (charactersRed_) palette.setColor(QPalette::WindowText, QColor(200, 0, 0));
    labelCharactersLabel->setPalette(palette);
    doneButton->setEnabled(accepted);
}

void EditViewController::comboBoxSelectionDidChange() {
    if (teamSyncComboBox->currentIndex() == 0) {
        leaderButton->setChecked(false);
        leaderButton->setEnabled(false);
        return;
    }
    leaderButton->setEnabled(snapshot_.leader.has_value());
}

void EditViewController::doneButtonDidTap() {
    if (!doneButton->isEnabled()) return;
    const QString label = deviceNameLabel->text();
    if (auto* d = liveDelegate(); d && label != snapshot_.label) d->editUserLabel(status, label);
    // Only a group the camera can take, chosen where the controls were offered, and new.
    const int group = teamSyncComboBox->currentIndex();
    if (auto* d = liveDelegate();
        d && teamSyncComboBox->isEnabled() && group >= 0 && group <= kMaximumGroup && group != snapshot_.group)
        d->setTeamSyncGroup(status, group);
    if (auto* d = liveDelegate(); d && snapshot_.leader && leaderButton->isChecked() != *snapshot_.leader)
        d->setTeamSyncLeader(status, leaderButton->isChecked());
    dismissController();
}

}  // namespace hvb
