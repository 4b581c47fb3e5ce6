#include "tools/HVBToolViewController.h"

#include <chrono>

#include <QComboBox>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "camera/CameraLink.h"
#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "common/CameraSelectorModel.h"
#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "platform/appkit/Application.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/DialogRegistry.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

namespace {

constexpr int kButtonWidth = 150;

QFrame* makeBox(QWidget* parent) {
    auto* box = new QFrame(parent);
    box->setObjectName(QStringLiteral("toolBox"));
    box->setStyleSheet(QStringLiteral("QFrame#toolBox { background: white; border: 1px solid #d4d4d4; "
                                      "border-radius: 8px; }"));
    return box;
}

QLabel* makeLabel(QWidget* parent, bool groupTitle, bool rowTitle = false) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QFont font = label->font();
    if (groupTitle) {
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() + 2);
    } else if (rowTitle) {
        font.setBold(true);
    } else {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(85, 85, 85));
        label->setPalette(palette);
    }
    label->setFont(font);
    return label;
}

QPushButton* makeButton(QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setMinimumWidth(kButtonWidth);
    button->setAutoDefault(false);
    return button;
}

// A row: its title and text on the left, its buttons on the right.
QHBoxLayout* makeRow(QLabel* title, QLabel* text, std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout();
    row->setSpacing(12);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(4);
    if (title) texts->addWidget(title);
    texts->addWidget(text);
    row->addLayout(texts, 1);
    for (QPushButton* button : buttons) row->addWidget(button, 0, Qt::AlignVCenter);
    return row;
}

}  // namespace

HVBToolViewController::HVBToolViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("HVBToolViewController");
}

HVBToolViewController::~HVBToolViewController() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
}

void HVBToolViewController::loadView() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(36, 30, 36, 24);
    root->setSpacing(22);

    auto* deviceRow = new QHBoxLayout();
    deviceRow->setSpacing(14);
    deviceLabel = makeLabel(this, true);
    deviceLabel->setWordWrap(false);
    deviceComboBox = new QComboBox(this);
    deviceModel_ = new CameraSelectorModel(UnnamedCamera::blank, this);
    deviceComboBox->setModel(deviceModel_);
    deviceComboBox->setMinimumWidth(320);
    deviceComboBox->setMinimumHeight(30);
    deviceRow->addWidget(deviceLabel);
    deviceRow->addWidget(deviceComboBox);
    deviceRow->addStretch(1);
    root->addLayout(deviceRow);

    auto* stack = new QVBoxLayout();
    stack->setSpacing(16);

    passwordBox = makeBox(this);
    auto* passwordLayout = new QVBoxLayout(passwordBox);
    passwordLayout->setContentsMargins(20, 14, 20, 16);
    passwordLayout->setSpacing(10);
    PWDLabel = makeLabel(passwordBox, true);
    PWDMsg = makeLabel(passwordBox, false);
    SetPWDBtn = makeButton(passwordBox);
    ChangePWDBtn = makeButton(passwordBox);
    DisablePWDBtn = makeButton(passwordBox);
    passwordLayout->addWidget(PWDLabel);
    passwordLayout->addLayout(makeRow(nullptr, PWDMsg, {SetPWDBtn, ChangePWDBtn, DisablePWDBtn}));
    stack->addWidget(passwordBox);

    FormatBox = makeBox(this);
    auto* formatLayout = new QVBoxLayout(FormatBox);
    formatLayout->setContentsMargins(20, 14, 20, 16);
    formatLayout->setSpacing(10);
    DiskFormatLabel = makeLabel(FormatBox, true);
    DiskFormatMsg = makeLabel(FormatBox, false);
    FormatBtn = makeButton(FormatBox);
    formatLayout->addWidget(DiskFormatLabel);
    formatLayout->addLayout(makeRow(nullptr, DiskFormatMsg, {FormatBtn}));
    stack->addWidget(FormatBox);

    ResetBox = makeBox(this);
    auto* resetLayout = new QVBoxLayout(ResetBox);
    resetLayout->setContentsMargins(20, 14, 20, 16);
    resetLayout->setSpacing(10);
    ResetLabel = makeLabel(ResetBox, true);
    ResetDefaultTitle = makeLabel(ResetBox, false, true);
    ResetDefaultMsg = makeLabel(ResetBox, false);
    ResetDefaultBtn = makeButton(ResetBox);
    resetSeparator_ = new QFrame(ResetBox);
    resetSeparator_->setFrameShape(QFrame::HLine);
    resetSeparator_->setStyleSheet(QStringLiteral("color: #e2e2e2;"));
    ResetAllTitle = makeLabel(ResetBox, false, true);
    ResetAllMsg = makeLabel(ResetBox, false);
    ResetAllBtn = makeButton(ResetBox);
    resetLayout->addWidget(ResetLabel);
    resetLayout->addLayout(makeRow(ResetDefaultTitle, ResetDefaultMsg, {ResetDefaultBtn}));
    resetLayout->addWidget(resetSeparator_);
    resetLayout->addLayout(makeRow(ResetAllTitle, ResetAllMsg, {ResetAllBtn}));
    stack->addWidget(ResetBox);

    root->addLayout(stack);
    root->addStretch(1);

    connect(deviceComboBox, &QComboBox::currentIndexChanged, this, [this] { comboBoxSelectionDidChange(); });
    connect(SetPWDBtn, &QPushButton::clicked, this, [this] { SetPWDBtn_Click(); });
    connect(ChangePWDBtn, &QPushButton::clicked, this, [this] { ChangePWDBtn_Click(); });
    connect(DisablePWDBtn, &QPushButton::clicked, this, [this] { DisablePWDBtn_Click(); });
    connect(FormatBtn, &QPushButton::clicked, this, [this] { FormatBtn_Click(); });
    connect(ResetDefaultBtn, &QPushButton::clicked, this, [this] { ResetDefaultBtn_Click(); });
    connect(ResetAllBtn, &QPushButton::clicked, this, [this] { ResetAllBtn_Click(); });
}

void HVBToolViewController::viewDidLoad() {
    disableAllControls();
    deviceLabel->setText(Str::device());
    PWDLabel->setText(Str::password());
    SetPWDBtn->setText(Str::set());
    ChangePWDBtn->setText(Str::change());
    DisablePWDBtn->setText(Str::disable());
    DiskFormatLabel->setText(Str::formatDisk());
    DiskFormatMsg->setText(Msg::allDataErased());
    FormatBtn->setText(Str::format());
    ResetLabel->setText(Str::resetDevice());
    ResetDefaultTitle->setText(Str::resetAllSettings());
    ResetDefaultMsg->setText(Msg::settingsReset());
    ResetDefaultBtn->setText(Str::reset());
    ResetAllTitle->setText(Str::eraseAllContentsAndSettings());
    ResetAllMsg->setText(Msg::allDataErased());
    ResetAllBtn->setText(Str::erase() + QStringLiteral(" / ") + Str::reset());
    constraintNotResetable = {};
    constraintResetable = {};
}

void HVBToolViewController::viewWillAppear() {
    usageReports()->logScreen("HVB Tool", "HVBToolViewController");
    reloadToolPage();
    if (!statusToken_) {
        QPointer<HVBToolViewController> self(this);
        statusToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
            kStatusDidGet, [self](const foundation::Notification&) {
                if (self) self->fillOutDataSource();
            });
    }
}

void HVBToolViewController::viewWillDisappear() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
    statusToken_ = 0;
}

void HVBToolViewController::fillOutDataSource() { reloadToolPage(); }

void HVBToolViewController::comboBoxSelectionDidChange() { deviceSelectionChanged(); }

void HVBToolViewController::disableAllControls() {
    {
        QSignalBlocker quiet(deviceComboBox);
        deviceModel_->clear();
        deviceComboBox->setCurrentIndex(-1);
    }
    deviceComboBox->setEnabled(false);
    for (QPushButton* button : {SetPWDBtn.data(), ChangePWDBtn.data(), DisablePWDBtn.data(), FormatBtn.data(),
                                ResetDefaultBtn.data(), ResetAllBtn.data()})
        button->setEnabled(false);
}

std::vector<int64_t> HVBToolViewController::itemDeviceIndexes() const {
    std::vector<int64_t> indexes;
    for (const CameraSelectorItem& item : deviceModel_->currentItems()) indexes.push_back(item.entryIndex);
    return indexes;
}

void HVBToolViewController::reloadToolPage() {
    auto link = cameraLink();
    const int64_t count = link->plugInDeviceCount();
    QPointer<HVBToolViewController> self(this);
    if (count <= 0) {
        {
            QSignalBlocker quiet(deviceComboBox);
            deviceModel_->clear();
        }
        dispatch::mainQueue().async([self] {
            if (self) self->refreshToolRows(-1);
        });
        return;
    }
    {
        QSignalBlocker quiet(deviceComboBox);
        deviceModel_->reload(*link);
    }
    const int64_t selected = CameraSelectorModel::clampedIndex(link->selectedDeviceIndex(), count);
    link->setSelectedDeviceIndex(selected);
    int item = deviceModel_->rowOfEntry(selected);
    if (item < 0 && deviceComboBox->count() > 0) item = 0;
    {
        QSignalBlocker quiet(deviceComboBox);
        deviceComboBox->setCurrentIndex(item);
    }
    // The selection reaches the rows as a user's would.
    deviceSelectionChanged();
}

void HVBToolViewController::deviceSelectionChanged() {
    auto link = cameraLink();
    const int n = deviceComboBox->currentIndex();
    const int64_t count = link->plugInDeviceCount();
    if (!CameraSelectorModel::actsOnSelection(count, n)) return;
    link->setSelectedDeviceIndex(deviceModel_->entryIndexAt(n));
    QPointer<HVBToolViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->refreshToolRows(self->deviceModel_->entryIndexAt(self->deviceComboBox->currentIndex()));
    });
}

void HVBToolViewController::showItemOfDevice(int64_t deviceIndex) {
    const int item = deviceModel_->rowOfEntry(deviceIndex);
    if (item < 0) return;
    QSignalBlocker quiet(deviceComboBox);
    deviceComboBox->setCurrentIndex(item);
}

void HVBToolViewController::refreshToolRows(int64_t deviceIndex) {
    if (deviceIndex == -1) {
        for (QPushButton* button : {SetPWDBtn.data(), ChangePWDBtn.data(), DisablePWDBtn.data(), FormatBtn.data(),
                                    ResetDefaultBtn.data(), ResetAllBtn.data()})
            button->setEnabled(false);
        deviceComboBox->setEnabled(false);
        QSignalBlocker quiet(deviceComboBox);
        deviceComboBox->setCurrentIndex(-1);
        return;
    }
    auto link = cameraLink();
    auto camera = link->camera(deviceIndex);
    if (!camera || !camera->record.ModelName) return;
    selectedCmdDic = camera->table;
    foundation::print(camera->record.FWVersion.value_or(""));
    FormatBtn->setEnabled(true);
    ResetDefaultBtn->setEnabled(true);
    ResetAllBtn->setEnabled(true);
    deviceComboBox->setEnabled(true);
    showItemOfDevice(deviceIndex);

    // A camera whose lock state was not learnt counts as unprotected.
    isDeviceEncryption = camera->record.isDeviceEncryption.value_or(false);
    const bool lockable = selectedCmdDic.count("HVB_LOCKABLE") != 0;
    const bool resettable = selectedCmdDic.count("HVB_RESET") != 0;
    if (lockable && camera->record.isDeviceEncryption.has_value()) {
        stackViewHeight = kStackHeightWithPassword;
        passwordBox->setVisible(true);
        SetPWDBtn->setVisible(!isDeviceEncryption);
        SetPWDBtn->setEnabled(!isDeviceEncryption);
        ChangePWDBtn->setVisible(isDeviceEncryption);
        ChangePWDBtn->setEnabled(isDeviceEncryption);
        DisablePWDBtn->setVisible(isDeviceEncryption);
        DisablePWDBtn->setEnabled(isDeviceEncryption);
        PWDMsg->setText(isDeviceEncryption ? Str::changePassword() + QStringLiteral(" / ") + Str::disablePassword()
                                           : Str::setAPassword());
    } else {
        stackViewHeight = kStackHeightWithoutPassword;
        passwordBox->setVisible(false);
    }

    foundation::print(constraintNotResetable.active ? "true" : "false");
    foundation::print(constraintResetable.active ? "true" : "false");
    ResetDefaultTitle->setVisible(resettable);
    ResetDefaultMsg->setVisible(resettable);
    ResetDefaultBtn->setVisible(resettable);
    resetSeparator_->setVisible(resettable);
    // Off first, so the two are never on together.
    if (resettable) {
        constraintNotResetable.active = false;
        constraintResetable.active = true;
    } else {
        constraintResetable.active = false;
        constraintNotResetable.active = true;
    }
}

// ---- actions ----

void HVBToolViewController::SetPWDBtn_Click() { openPasswordSetting(0); }
void HVBToolViewController::ChangePWDBtn_Click() { openPasswordSetting(1); }
void HVBToolViewController::DisablePWDBtn_Click() { openPasswordSetting(2); }
void HVBToolViewController::FormatBtn_Click() { openDiskFormatDialog(); }
void HVBToolViewController::ResetDefaultBtn_Click() { openResetDefaultDialog(); }
void HVBToolViewController::ResetAllBtn_Click() { openResetAllDialog(); }

void HVBToolViewController::openPasswordSetting(uint8_t mode) {
    passwordSettingState = 0;
    passwordSettingMode = mode;
    runDialogFromStoryboard(kPasswordSettingWindowController, &passwordSettingWindow);
}

void HVBToolViewController::openBehindUnlock(const char* identifier, QPointer<appkit::Window>* slot,
                                             const std::function<void(const std::string& uid)>& prepare) {
    auto link = cameraLink();
    auto camera = link->camera(link->selectedDeviceIndex());
    const std::string uid = camera ? camera->record.UID.value_or("") : std::string();
    const CommandDictionary table = selectedCmdDic;
    if (isDeviceEncryption) {
        isUnlockOnly = false;
        // Only this opening's verdict lets the dialog open.
        isPasswordVerified = false;
        runDialogFromStoryboard(kPasswordEnterWindowController);
        if (!isPasswordVerified) return;
        // The rows may have followed another camera meanwhile.
        selectedCmdDic = table;
    }
    prepare(uid);
    runDialogFromStoryboard(identifier, slot);
}

void HVBToolViewController::openDiskFormatDialog() {
    openBehindUnlock(kDiskFormatWindowControl, &diskFormatWindow, [](const std::string& uid) {
        diskFormatState = 0;
        diskFormatTarget = DiskFormatTarget{uid, selectedCmdDic};
        diskFormatTitleString.clear();
    });
}

void HVBToolViewController::openResetDefaultDialog() {
    openBehindUnlock(kResetDefaultWindowController, &resetDefaultWindow, [](const std::string& uid) {
        resetDefaultState = 0;
        dialogTargetUID = uid;
    });
}

void HVBToolViewController::openResetAllDialog() {
    openBehindUnlock(kResetAllWindowController, &resetAllWindow, [](const std::string& uid) {
        resetAllState = 0;
        dialogTargetUID = uid;
    });
}

// ---- the dialog registry ----

void HVBToolViewController::reopenDialogWithResult(uint8_t result, const QString& cause) {
    struct Slot {
        QPointer<appkit::Window>* window;
        void (*setState)(uint8_t);
        const char* identifier;
    };
    const Slot dialogSlots[] = {
        {&resetAllWindow, [](uint8_t r) { resetAllState = r; }, kResetAllWindowController},
        {&passwordSettingWindow, [](uint8_t r) { passwordSettingState = r; }, kPasswordSettingWindowController},
        {&diskFormatWindow, [](uint8_t r) { diskFormatState = r; }, kDiskFormatWindowControl},
        {&resetDefaultWindow, [](uint8_t r) { resetDefaultState = r; }, kResetDefaultWindowController},
        {&fwUpgradeWindow, [](uint8_t r) { fwUpgradeState = r; }, kFWUpgradeWindowController},
    };
    for (const Slot& slot : dialogSlots) {
        appkit::Window* window = slot.window->data();
        if (!window || !window->isVisibleWindow()) continue;
        // A dialog that already ended its own session is only closed.
        const bool sessionRuns = appkit::modalWindow() == window;
        window->performClose();
        if (sessionRuns) appkit::abortModal();
        *slot.window = nullptr;
        // The 50 ms between the two dialogs pass with the loop served: a sleep in this main-queue
        // task would stop every window painting.
        QEventLoop gap;
        const auto gapMs = std::chrono::duration_cast<std::chrono::milliseconds>(dispatch::scaled(dispatch::Millis(50)));
        QTimer::singleShot(gapMs, &gap, &QEventLoop::quit);
        gap.exec();
        slot.setState(result);
        resultCause = cause;
        runDialogFromStoryboard(slot.identifier, slot.window);
        return;
    }
}

std::shared_ptr<Redetection> HVBToolViewController::startRedetectionTimer(Redetection::Progress progress,
                                                                         std::function<bool()> cameBackAsAsked,
                                                                         std::optional<uint64_t> hostLosses,
                                                                         const QString& hostLostCause) {
    auto ended = [cameBackAsAsked = std::move(cameBackAsAsked), hostLostCause](Redetection::Ending ending) {
        const bool success = ending == Redetection::Ending::found && (!cameBackAsAsked || cameBackAsAsked());
        const uint8_t result = success ? 1 : 2;
        const QString cause = ending == Redetection::Ending::hostLost ? hostLostCause : QString();
        dispatch::mainQueue().async([result, cause] { reopenDialogWithResult(result, cause); });
    };
    return Redetection::start(cameraLink(), currentDeviceUID(), std::move(progress), std::move(ended), hostLosses);
}

}  // namespace hvb
