#include "settings/SettingsViewController.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "camera/CameraLink.h"
#include "camera/DeviceState.h"
#include "common/CameraSelectorModel.h"
#include "common/LocalizedString.h"
#include "common/MsgDialog.h"
#include "common/UnlockFlags.h"
#include "common/WindowShells.h"
#include "online/UsageReports.h"
#include "platform/appkit/Assets.h"
#include "platform/appkit/StoryboardWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "settings/HWKeyReset.h"
#include "settings/SettingWrite.h"
#include "settings/SettingsTableBuilder.h"
#include "settings/SettingsTableView.h"

namespace hvb {

namespace {

constexpr int kRadioOff = 0;
constexpr int kRadioOn = 1;

double popUpTextWidth(const QString& text) {
    static const QFontMetrics metrics(QFont(QStringLiteral("Arial"), 14));
    return metrics.horizontalAdvance(text);
}

QWidget* tablePage(SettingsTableView* table, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table);
    return page;
}

}  // namespace

SettingsViewController::SettingsViewController(std::shared_ptr<CameraLink> link, QWidget* parent)
    : appkit::ViewController(parent), link_(link ? std::move(link) : cameraLink()) {
    setObjectName("SettingsViewController");
}

SettingsViewController::~SettingsViewController() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
}

void SettingsViewController::loadView() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    content_ = new QWidget(this);
    outer->addWidget(content_);
    auto* layout = new QVBoxLayout(content_);
    layout->setContentsMargins(28, 20, 28, 20);
    layout->setSpacing(14);

    // As tall as the lock button, so the tables do not move when it comes and goes.
    auto* topBar = new QWidget(content_);
    topBar->setFixedHeight(36);
    auto* top = new QHBoxLayout(topBar);
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(12);
    deviceLabel = new QLabel(content_);
    deviceLabel->setTextFormat(Qt::PlainText);
    QFont labelFont = deviceLabel->font();
    labelFont.setBold(true);
    deviceLabel->setFont(labelFont);
    deviceComboBox = new QComboBox(content_);
    deviceComboBox->setEditable(false);
    deviceComboBox->setMinimumWidth(260);
    deviceComboBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    selector_ = new CameraSelectorModel(UnnamedCamera::serial, deviceComboBox);
    deviceComboBox->setModel(selector_);
    lockBtn = new QPushButton(content_);
    lockBtn->setFlat(true);
    lockBtn->setFixedSize(36, 36);
    lockBtn->setIconSize(QSize(26, 26));
    busyIndicator = new QProgressBar(content_);
    busyIndicator->setRange(0, 0);
    busyIndicator->setTextVisible(false);
    busyIndicator->setFixedWidth(140);
    busyIndicator->hide();
    top->addWidget(deviceLabel);
    top->addWidget(deviceComboBox);
    top->addWidget(lockBtn);
    top->addStretch(1);
    top->addWidget(busyIndicator);
    layout->addWidget(topBar);

    tabView = new QTabWidget(content_);
    tabView->setDocumentMode(false);
    deviceTableView = new SettingsTableView(this, this);
    videoTableView = new SettingsTableView(this, this);
    stampTableView = new SettingsTableView(this, this);
    deviceTabViewItem = tablePage(deviceTableView, tabView);
    videoTabViewItem = tablePage(videoTableView, tabView);
    stampTabViewItem = tablePage(stampTableView, tabView);
    tabView->addTab(deviceTabViewItem, QString());
    tabView->addTab(videoTabViewItem, QString());
    tabView->addTab(stampTabViewItem, QString());
    layout->addWidget(tabView, 1);

    HWKeyResetBox = new QFrame(content_);
    HWKeyResetBox->setObjectName("HWKeyResetBox");
    HWKeyResetBox->setFrameShape(QFrame::StyledPanel);
    auto* box = new QVBoxLayout(HWKeyResetBox);
    box->setContentsMargins(16, 12, 16, 12);
    box->setSpacing(6);
    HWKeyResetText = new QLabel(HWKeyResetBox);
    HWKeyResetText->setTextFormat(Qt::PlainText);
    HWKeyResetText->setFont(labelFont);
    HWKeyResetMsg = new QLabel(HWKeyResetBox);
    HWKeyResetMsg->setTextFormat(Qt::PlainText);
    HWKeyResetMsg->setWordWrap(true);
    auto* choice = new QHBoxLayout();
    choice->setSpacing(24);
    HWKeyResetON = new QRadioButton(HWKeyResetBox);
    HWKeyResetOFF = new QRadioButton(HWKeyResetBox);
    radios_ = new QButtonGroup(this);
    radios_->addButton(HWKeyResetOFF, kRadioOff);
    radios_->addButton(HWKeyResetON, kRadioOn);
    choice->addWidget(HWKeyResetON);
    choice->addWidget(HWKeyResetOFF);
    choice->addStretch(1);
    box->addWidget(HWKeyResetText);
    box->addWidget(HWKeyResetMsg);
    box->addLayout(choice);
    layout->addWidget(HWKeyResetBox);

    // User choices only: a refill or a rebuild selects without reporting.
    connect(deviceComboBox, &QComboBox::activated, this, [this](int) { comboBoxSelectionDidChange(); });
    connect(radios_, &QButtonGroup::idClicked, this, [this](int id) { radioButtonChange(id); });
    connect(lockBtn, &QPushButton::clicked, this, [this] { lockBtn_Click(); });
    connect(tabView, &QTabWidget::currentChanged, this, [this] { updateTabs(link_->plugInDeviceCount()); });
}

void SettingsViewController::viewDidLoad() {
    deviceLabel->setText(localizedCommonString("Device"));
    tabView->setTabText(0, localizedCommonString("Device Settings"));
    tabView->setTabText(1, localizedCommonString("Video Settings"));
    tabView->setTabText(2, localizedCommonString("Video Stamp"));
    HWKeyResetText->setText(localizedCommonString("Reset Using Function Buttons") + QStringLiteral(" :"));
    HWKeyResetMsg->setText(
        localizedMessage("Press the Power and Snapshot buttons at the same time for 5 seconds to format and reset the device."));
    HWKeyResetON->setText(localizedCommonString("ON"));
    HWKeyResetOFF->setText(localizedCommonString("OFF"));
    resetDeviceSelector();
}

void SettingsViewController::viewWillAppear() {
    usageReports()->logScreen("Settings", "SettingsViewController");
    reloadSettingPage();
    if (!statusToken_) {
        QPointer<SettingsViewController> self(this);
        statusToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
            kStatusDidGet, [self](const foundation::Notification&) {
                if (self) self->fillOutDataSource();
            });
    }
}

void SettingsViewController::viewWillDisappear() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
    statusToken_ = 0;
}

void SettingsViewController::fillOutDataSource() { reloadSettingPage(); }

void SettingsViewController::resetDeviceSelector() {
    {
        const QSignalBlocker blocker(deviceComboBox);
        selector_->clear();
    }
    deviceComboBox->setEnabled(false);
    HWKeyResetBox->hide();
    lockBtn->hide();
    updateTabs(link_->plugInDeviceCount());
}

void SettingsViewController::reloadSettingPage() {
    view();
    const bool hadSelection = deviceComboBox->currentIndex() != -1;
    {
        const QSignalBlocker blocker(deviceComboBox);
        selector_->clear();
    }
    const int64_t count = link_->plugInDeviceCount();
    foundation::print("reloadSettingPage PlugInDeviceCnt = " + std::to_string(count));
    updateTabs(count);
    // Emptying a selector that showed a camera reports the lost selection, as the platform's
    // combo box does; with no camera left that clears the tables.
    if (hadSelection) comboBoxSelectionDidChange();
    if (count == 0) return;

    {
        const QSignalBlocker blocker(deviceComboBox);
        selector_->reload(*link_);
    }
    const int64_t selected = CameraSelectorModel::clampedIndex(link_->selectedDeviceIndex(), count);
    link_->setSelectedDeviceIndex(selected);
    deviceComboBox->setEnabled(true);
    // The item of that camera; when it has none, the first camera listed.
    int position = selector_->rowOfEntry(selected);
    if (position < 0 && selector_->rowCount() > 0) position = 0;
    {
        const QSignalBlocker blocker(deviceComboBox);
        deviceComboBox->setCurrentIndex(position);
    }
    comboBoxSelectionDidChange();
}

void SettingsViewController::comboBoxSelectionDidChange() {
    const int position = deviceComboBox->currentIndex();
    if (!CameraSelectorModel::actsOnSelection(link_->plugInDeviceCount(), position)) return;
    const int64_t entry = selector_->entryIndexAt(position);
    link_->setSelectedDeviceIndex(entry);
    QPointer<SettingsViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (!self) return;
        const int now = self->deviceComboBox->currentIndex();
        self->loadDeviceSettings(self->selector_->entryIndexAt(now));
    });
}

bool SettingsViewController::tabViewShouldSelectTabViewItem(int) const {
    return tabsSelectable(link_->plugInDeviceCount());
}

// The tab shown stays; the others can be chosen only while a camera is brought up.
void SettingsViewController::updateTabs(int64_t count) {
    if (!tabView) return;
    for (int i = 0; i < tabView->count(); ++i)
        tabView->setTabEnabled(i, i == tabView->currentIndex() || tabsSelectable(count));
}

void SettingsViewController::lockBtn_Click() { openUnlockWindow(); }

void SettingsViewController::radioButtonChange(int tag) { applyHWKeyReset(tag); }

void SettingsViewController::clearTables() {
    deviceDataSource.clear();
    videoDataSource.clear();
    stampDataSource.clear();
    deviceCells_.clear();
    videoCells_.clear();
    stampCells_.clear();
    stealthIndex = micIndex = defaultRecordingModeIndex = videoStampIndex = -1;
}

void SettingsViewController::loadDeviceSettings(int64_t index) {
    QPointer<SettingsViewController> self(this);
    if (index == -1) {
        {
            const QSignalBlocker blocker(deviceComboBox);
            deviceComboBox->setCurrentIndex(-1);
        }
        deviceComboBox->setEnabled(false);
        lockBtn->hide();
        HWKeyResetBox->hide();
        clearTables();
        dispatch::mainQueue().async([self] {
            if (self) self->reloadSettingTables();
        });
        return;
    }
    const auto camera = link_->camera(index);
    if (!camera) return;
    if (camera->record.isOldFirmware) {
        clearTables();
        lockBtn->hide();
        dispatch::mainQueue().async([self] {
            if (self) self->reloadSettingTablesHidingKeyReset();
        });
        return;
    }
    showBuild(SettingsTableBuilder::build(camera->record, camera->table));
    dispatch::mainQueue().async([self] {
        if (self) self->reloadSettingTables();
    });
}

void SettingsViewController::showBuild(const SettingsBuild& build) {
    curUID = build.curUID;
    lockFlag = build.lockFlag;
    cmdDic = build.cmdDic;
    switch (build.lockButton) {
        case SettingsBuild::LockButton::hidden: lockBtn->hide(); break;
        case SettingsBuild::LockButton::locked:
            lockBtn->show();
            lockBtn->setEnabled(true);
            lockBtn->setIcon(appkit::Assets::icon("lockIconStatus"));
            lockBtn->setAccessibleName(LocalizedString::Msg::unlockCameraButton());
            lockBtn->setToolTip(LocalizedString::Msg::unlockToChangeSettingsTip());
            break;
        case SettingsBuild::LockButton::unlocked:
            lockBtn->show();
            lockBtn->setEnabled(false);
            lockBtn->setIcon(appkit::Assets::icon("unlockIconStatus"));
            lockBtn->setAccessibleName(LocalizedString::Msg::cameraUnlocked());
            lockBtn->setToolTip(LocalizedString::Msg::cameraUnlockedTip());
            break;
    }
    HWKeyResetON->setEnabled(build.radiosEnabled);
    HWKeyResetOFF->setEnabled(build.radiosEnabled);

    deviceDataSource = build.deviceRows;
    videoDataSource = build.videoRows;
    stampDataSource = build.stampRows;
    deviceCells_ = build.deviceCells;
    videoCells_ = build.videoCells;
    stampCells_ = build.stampCells;
    stealthIndex = build.rules.stealthIndex;
    micIndex = build.rules.micIndex;
    defaultRecordingModeIndex = build.rules.defaultRecordingModeIndex;
    videoStampIndex = build.rules.videoStampIndex;

    if (build.showsHWKeyReset) {
        HWKeyResetBox->show();
        preButtonResetSelect = build.hwKeyReset;
        if (build.hwKeyReset == 1) HWKeyResetON->setChecked(true);
        else if (build.hwKeyReset == 0) HWKeyResetOFF->setChecked(true);
    } else {
        HWKeyResetBox->hide();
    }

    SettingsTableBuilder::growWidth(deviceTableComboBoxWidth, deviceDataSource, popUpTextWidth,
                                    minDeviceTableComboBoxWidth);
    SettingsTableBuilder::growWidth(videoTableComboBoxWidth, videoDataSource, popUpTextWidth,
                                    minVideoTableComboBoxWidth);
    SettingsTableBuilder::growWidth(stampTableComboBoxWidth, stampDataSource, popUpTextWidth,
                                    minStampTableComboBoxWidth);
}

void SettingsViewController::reloadTables(bool hidingKeyReset) {
    deviceTableView->reloadData(deviceDataSource, deviceCells_, deviceTableComboBoxWidth, deviceTableComboBoxWidth);
    if (hidingKeyReset) HWKeyResetBox->hide();
    videoTableView->reloadData(videoDataSource, videoCells_, videoTableComboBoxWidth, deviceTableComboBoxWidth);
    stampTableView->reloadData(stampDataSource, stampCells_, stampTableComboBoxWidth, deviceTableComboBoxWidth);
    // The cells' controls are made anew at the end of the Tab order; the key-reset choice below
    // the tables follows them, as it stands.
    for (SettingsTableView* table : {stampTableView, videoTableView, deviceTableView}) {
        if (QWidget* last = table->lastControl()) {
            QWidget::setTabOrder(last, HWKeyResetON);
            QWidget::setTabOrder(HWKeyResetON, HWKeyResetOFF);
            break;
        }
    }
    emit settingTablesReloaded();
}

void SettingsViewController::reloadSettingTables() { reloadTables(false); }

void SettingsViewController::reloadSettingTablesHidingKeyReset() { reloadTables(true); }

// ---- writes ----

void SettingsViewController::beginBusy() {
    if (busy_++ > 0) return;
    content_->setEnabled(false);
    busyIndicator->show();
    setCursor(Qt::BusyCursor);
    emit busyChanged(true);
}

void SettingsViewController::endBusy() {
    if (busy_ == 0 || --busy_ > 0) return;
    content_->setEnabled(true);
    busyIndicator->hide();
    unsetCursor();
    emit busyChanged(false);
}

void SettingsViewController::showFailure() {
    // The failure's own title and icon, and no text left from an earlier message.
    showMessageDialog(false, LocalizedString::Str::fail(), QString());
}

void SettingsViewController::applySetting(int index, const QString& identifier, const QString& title) {
    writeSetting(index, identifier, title, {});
}

void SettingsViewController::writeSetting(int index, const QString& identifier, const QString& title,
                                          std::function<void()> done) {
    SettingWriteRequest request;
    request.selectedDeviceIndex = link_->selectedDeviceIndex();
    request.uid = curUID.toStdString();
    request.cmdDic = cmdDic;
    request.index = index;
    request.identifier = identifier.toStdString();
    request.title = title.toStdString();
    beginBusy();
    QPointer<SettingsViewController> self(this);
    auto link = link_;
    auto reports = usageReports();
    dispatch::globalQueue(dispatch::QoS::userInitiated).async([self, link, reports, request, done = std::move(done)] {
        SettingWriteResult result = SettingWrite::perform(*link, *reports, request);
        dispatch::mainQueue().async([self, result, done] {
            if (!self) return;
            if (result.kind == SettingWriteResult::Kind::noCamera) {
                self->endBusy();
                if (done) done();
                return;
            }
            const std::string key = result.key;
            auto finish = [self, key, done] {
                if (self) self->finishWrite(key, done);
            };
            if (result.kind == SettingWriteResult::Kind::failed) {
                self->showFailure();
                finish();
            } else if (result.interlock) {
                const SettingInterlock& forced = *result.interlock;
                self->writeSetting(forced.index, QString::fromStdString(forced.identifier),
                                   QString::fromStdString(forced.title), finish);
            } else {
                finish();
            }
        });
    });
}

void SettingsViewController::finishWrite(const std::string& key, std::function<void()> done) {
    reloadSettingPage();
    QPointer<SettingsViewController> self(this);
    auto link = link_;
    dispatch::globalQueue(dispatch::QoS::userInitiated).async([self, link, key, done] {
        link->writeBVConfigIni(key);
        dispatch::mainQueue().async([self, done] {
            if (!self) return;
            self->endBusy();
            if (done) done();
        });
    });
}

void SettingsViewController::applyHWKeyReset(int tag) {
    if (tag == preButtonResetSelect) return;
    HWKeyResetRequest request;
    request.selectedDeviceIndex = link_->selectedDeviceIndex();
    request.uid = curUID.toStdString();
    request.cmdDic = cmdDic;
    request.tag = tag;
    beginBusy();
    QPointer<SettingsViewController> self(this);
    auto link = link_;
    auto reports = usageReports();
    dispatch::globalQueue(dispatch::QoS::userInitiated).async([self, link, reports, request] {
        HWKeyResetResult result = HWKeyReset::perform(*link, *reports, request);
        dispatch::mainQueue().async([self, result, tag = request.tag] {
            if (!self) return;
            if (result.kind == HWKeyResetResult::Kind::noCamera) {
                self->endBusy();
                return;
            }
            if (result.kind == HWKeyResetResult::Kind::written) self->preButtonResetSelect = tag;
            else self->showFailure();
            self->finishWrite(result.key, {});
        });
    });
}

// ---- dialogs ----

void SettingsViewController::openSyncTimeWindow() {
    if (!appkit::runModalWindowFromStoryboard<SyncTimeWindowController>(
            "SyncTimeWindowController", "openSyncTimeWindow: the clock-sync dialog is not available"))
        return;
    reloadSettingPage();
}

void SettingsViewController::openUnlockWindow() {
    isUnlockOnly = true;
    appkit::runModalWindowFromStoryboard("PasswordEnterWindowController",
                                         "openUnlockWindow: the unlock dialog is not available");
}

}  // namespace hvb
