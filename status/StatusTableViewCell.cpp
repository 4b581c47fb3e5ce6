#include "status/StatusTableViewCell.h"

#include <algorithm>
#include <array>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "camera/CameraLink.h"
#include "camera/Shell.h"
#include "common/ControllerFactory.h"
#include "common/DeviceDialogGlobals.h"
#include "common/LinkButton.h"
#include "common/LocalizedString.h"
#include "online/FirmwareManager.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Assets.h"
#include "platform/appkit/ViewController.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/foundation/Log.h"
#include "status/BatteryIndicator.h"
#include "status/FirmwareInfoCache.h"
#include "status/ReleaseNotesViewController.h"

namespace hvb {

namespace {

using namespace LocalizedString;

const QColor kGrey(26, 26, 26);
const QColor kLightGrey(142, 142, 147);
constexpr int kImageSide = 200;
constexpr int kPictureSide = 124;
constexpr int kInfoLeading = kImageSide + 22;
constexpr int kBatteryWidth = 42;
constexpr int kBatteryHeight = 25;  // 42 x 13/22
constexpr int kButtonSide = 30;

QLabel* makeLabel(QWidget* parent, int pixelSize, bool bold, const QColor& color, const QString& text = {}) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

// A button that shows only a picture: its name and tooltip say what it does.
QToolButton* makeImageButton(QWidget* parent, const char* image, const QString& name, const QString& tip) {
    auto* button = new QToolButton(parent);
    button->setAccessibleName(name);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFixedSize(kButtonSide, kButtonSide);
    button->setIconSize(QSize(22, 22));
    button->setIcon(appkit::Assets::icon(image));
    button->setCursor(Qt::PointingHandCursor);
    // Reached by Tab; a click leaves the focus where it was.
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QPushButton* makeTextButton(QWidget* parent, const QString& title) {
    auto* button = new QPushButton(title, parent);
    button->setFixedHeight(kButtonSide);
    button->setFocusPolicy(Qt::TabFocus);
    button->hide();
    return button;
}

QWidget* makeLine(QWidget* parent, std::initializer_list<QWidget*> views, int spacing = 2) {
    auto* line = new QWidget(parent);
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* view : views) {
        view->setParent(line);
        layout->addWidget(view, 0, Qt::AlignVCenter);
    }
    return line;
}

// Places a view by its preferred size with its vertical centre at `centreY`.
void placeCentred(QWidget* view, int x, int centreY, int maxWidth) {
    const QSize size = view->sizeHint();
    view->setGeometry(x, centreY - size.height() / 2, std::max(0, std::min(size.width(), maxWidth)), size.height());
}

void refreshLayout(QWidget* container) {
    if (container && container->layout()) {
        container->layout()->invalidate();
        container->layout()->activate();
    }
}

}  // namespace

StatusTableViewCell::StatusTableViewCell(QWidget* parent) : QWidget(parent) {
    setObjectName("StatusTableViewCell");
    setFixedHeight(kRowHeight);
    setupLayout();
}

StatusTableViewCell::~StatusTableViewCell() { cancelTimer(); }

void StatusTableViewCell::setupLayout() {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);

    // The picture, with the storage and battery lines below it.
    productImageView_ = new QLabel(this);
    productImageView_->setObjectName("productImageView");
    productImageView_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    productImageView_->setContentsMargins(0, 6, 0, 0);
    volumeCapacityLabel_ = makeLabel(this, 14, false, kGrey);
    volumeCapacityLabel_->hide();
    batteryIndicator_ = new BatteryIndicator(this);
    batteryIndicator_->hide();
    batteryCapacityLabel_ = makeLabel(this, 20, false, kGrey);
    batteryCapacityLabel_->hide();

    // The information lines.
    deviceNameLabel_ = makeLabel(this, 16, true, kGrey);
    productNameLabel_ = makeLabel(this, 14, true, kGrey);
    uidTitleLabel_ = makeLabel(this, 14, false, kLightGrey, Str::device() + QStringLiteral(":"));
    uidValueLabel_ = makeLabel(this, 14, false, kGrey);
    fwVersionTitleLabel_ = makeLabel(this, 14, false, kLightGrey, Str::version() + QStringLiteral(":"));
    fwVersionValueLabel_ = makeLabel(this, 14, false, kGrey);
    fwReleaseNoteButton_ = new LinkButton(Str::versionHistory(), this);
    fwReleaseNoteButton_->setObjectName("fwReleaseNoteButton");
    fwReleaseNoteButton_->setStyleSheet(QStringLiteral(
        "QPushButton { border: none; padding: 0 0 0 8px; color: rgb(0, 122, 255); font-size: 12px; "
        "text-decoration: underline; background: transparent; }"));
    teamSyncTitleLabel_ = makeLabel(this, 14, false, kLightGrey, Str::teamSync() + QStringLiteral(":"));
    teamSyncValueLabel_ = makeLabel(this, 14, false, kGrey);
    webcamTitleLabel_ = makeLabel(this, 14, false, kLightGrey,
                                  Webcam::Title::webcamCameraName() + QStringLiteral("/") +
                                      Webcam::Title::webcamMicName() + QStringLiteral(":"));
    webcamValueLabel_ = makeLabel(this, 14, false, kGrey);
    const QColor red = appkit::Assets::color("BrevantisRed", appkit::Assets::currentAppearance())
                           .value_or(appkit::colors::systemRed());
    cardErrorMsgLabel_ = makeLabel(this, 20, false, red, Msg::sdCardError());
    cardErrorMsgLabel_->setObjectName("cardErrorMsgLabel");

    uidStackView_ = makeLine(this, {uidTitleLabel_, uidValueLabel_});
    fwStackView_ = makeLine(this, {fwVersionTitleLabel_, fwVersionValueLabel_, fwReleaseNoteButton_});
    teamSyncStackView_ = makeLine(this, {teamSyncTitleLabel_, teamSyncValueLabel_});
    webcamStackView_ = makeLine(this, {webcamTitleLabel_, webcamValueLabel_});
    webcamStackView_->hide();

    // The link stays unless the first camera has a snapshot whose model has no release notes.
    const std::shared_ptr<CameraLink> link = cameraLink();
    const auto models = link->modelList();
    if (!models.empty()) {
        if (auto first = models.front()->statusInfo(); first && first->parameters) {
            const std::string model = link->recordFields(first->parameters).ModelName.value_or("");
            if (!firmwareManager().getReleaseNotes(model)) {
                showsReleaseNoteLink_ = false;
                fwStackView_->layout()->removeWidget(fwReleaseNoteButton_);
                fwReleaseNoteButton_->hide();
            }
        }
    }

    infoStackView_ = new QWidget(this);
    auto* info = new QVBoxLayout(infoStackView_);
    info->setContentsMargins(0, 0, 0, 0);
    info->setSpacing(4);
    for (QWidget* view : std::array<QWidget*, 6>{productNameLabel_, uidStackView_, fwStackView_, teamSyncStackView_,
                                                 webcamStackView_, cardErrorMsgLabel_}) {
        view->setParent(infoStackView_);
        info->addWidget(view, 0, Qt::AlignLeft);
    }
    info->addStretch(1);

    // The image buttons at the top right.
    editButton_ = makeImageButton(this, "pencilIcon", Msg::renameButton(), Msg::renameButtonTip());
    editButton_->setObjectName("editButton");
    buzzerButton_ = makeImageButton(this, "buzzerIcon", Msg::findCameraButton(), Msg::findCameraButtonTip());
    buzzerButton_->setObjectName("buzzerButton");
    folderButton_ = makeImageButton(this, "folderIcon", Msg::openFolderButton(), Msg::openFolderButtonTip());
    folderButton_->setObjectName("folderButton");
    folderImageName_ = "folderIcon";
    webcamButton_ = makeImageButton(this, "webcamIcon", Msg::webcamModeButton(), Msg::webcamModeButtonTip());
    webcamButton_->setObjectName("webcamButton");
    buttonStackView_ = makeLine(this, {editButton_, buzzerButton_, folderButton_, webcamButton_}, 8);

    // The text buttons at the bottom right.
    upgradeButton_ = makeTextButton(this, Str::firmwareUpgrade());
    upgradeButton_->setObjectName("upgradeButton");
    formatButton_ = makeTextButton(this, Str::format());
    formatButton_->setObjectName("formatButton");
    webcamTestButton_ = makeTextButton(this, Webcam::Btn::testWebcam());
    webcamTestButton_->setObjectName("webcamTestButton");
    msdcRecoverButton_ = makeTextButton(this, Webcam::Btn::recover());
    msdcRecoverButton_->setObjectName("msdcRecoverButton");
    funcBtnStackView_ = makeLine(this, {upgradeButton_, formatButton_, webcamTestButton_, msdcRecoverButton_}, 15);

    // Tab takes the row as it reads: the buttons at the top, the link among the lines, the
    // buttons at the bottom.
    const std::array<QWidget*, 9> tabOrder = {editButton_,     buzzerButton_,     folderButton_,
                                              webcamButton_,   fwReleaseNoteButton_, upgradeButton_,
                                              formatButton_,   webcamTestButton_, msdcRecoverButton_};
    for (size_t i = 1; i < tabOrder.size(); ++i) QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(editButton_, &QToolButton::clicked, this, [this] { editButtonDidTap(); });
    connect(buzzerButton_, &QToolButton::clicked, this, [this] { buzzerButtonDidTap(); });
    connect(folderButton_, &QToolButton::clicked, this, [this] { folderButtonDidTap(); });
    connect(webcamButton_, &QToolButton::clicked, this, [this] { webcamButtonDidTap(); });
    connect(fwReleaseNoteButton_, &QPushButton::clicked, this, [this] { fwReleaseNoteButtonDidTap(); });
    connect(upgradeButton_, &QPushButton::clicked, this, [this] { upgradeButtonDidTap(); });
    connect(formatButton_, &QPushButton::clicked, this, [this] { formatButtonDidTap(); });
    connect(webcamTestButton_, &QPushButton::clicked, this, [this] { webcamTestButtonDidTap(); });
    connect(msdcRecoverButton_, &QPushButton::clicked, this, [this] { msdcRecoverButtonDidTap(); });
    layoutSubviews();
}

void StatusTableViewCell::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutSubviews();
}

void StatusTableViewCell::layoutSubviews() {
    const int w = width();
    const int h = height();
    productImageView_->setGeometry(0, 0, kImageSide, kImageSide);
    placeCentred(volumeCapacityLabel_, 26, 146, kImageSide - 30);
    batteryIndicator_->setGeometry(26, 178 - kBatteryHeight / 2, kBatteryWidth, kBatteryHeight);
    placeCentred(batteryCapacityLabel_, 26 + kBatteryWidth + 10, 178, kImageSide - 26 - kBatteryWidth - 10);

    refreshLayout(buttonStackView_);
    const QSize buttons = buttonStackView_->sizeHint();
    buttonStackView_->setGeometry(w - 12 - buttons.width(), 22 - buttons.height() / 2, buttons.width(),
                                  buttons.height());
    const int nameRight = buttonStackView_->isVisible() ? buttonStackView_->x() - 10 : w - 12;
    placeCentred(deviceNameLabel_, kInfoLeading, 22, nameRight - kInfoLeading);

    for (QWidget* line : {uidStackView_, fwStackView_, teamSyncStackView_, webcamStackView_}) refreshLayout(line);
    refreshLayout(infoStackView_);
    infoStackView_->setGeometry(kInfoLeading, 22 + 30, std::max(0, w - kInfoLeading - 12),
                                infoStackView_->sizeHint().height());

    const int minimum = static_cast<int>(w * 0.2);
    for (QPushButton* button : {upgradeButton_, formatButton_, webcamTestButton_, msdcRecoverButton_}) {
        button->setMinimumWidth(std::max(minimum, button->sizeHint().width()));
    }
    refreshLayout(funcBtnStackView_);
    const QSize funcs = funcBtnStackView_->sizeHint();
    funcBtnStackView_->setGeometry(w - 12 - funcs.width(), h - 12 - kButtonSide, funcs.width(), kButtonSide);
}

// ---- camera, delegate --------------------------------------------------------------------------

void StatusTableViewCell::setDeviceInfo(std::shared_ptr<HVBModel> model) {
    if (model != deviceInfo_) {
        // Another camera: what the old one read says nothing about it.
        hasBatteryReading_ = false;
        hasStorageReading_ = false;
        modeSwitchPending_ = false;
        volumeCapacityLabel_->clear();
        batteryCapacityLabel_->clear();
    }
    deviceInfo_ = std::move(model);
}

StatusTableViewCellDelegate* StatusTableViewCell::delegate() const {
    if (!delegate_ || !delegateLife_) return nullptr;
    return delegate_;
}

void StatusTableViewCell::setDelegate(StatusTableViewCellDelegate* delegate) {
    delegate_ = delegate;
    delegateLife_ = delegate ? delegate->presentingController() : nullptr;
}

// ---- fill --------------------------------------------------------------------------------------

void StatusTableViewCell::refresh(bool askFirmware) {
    std::optional<StatusModel> status = deviceInfo_ ? deviceInfo_->statusInfo() : std::nullopt;
    bool current = true;
    if (status) {
        FirmwareInfoCache& cache = FirmwareInfoCache::shared();
        current = cache.answer(*status).value_or(true);
        if (askFirmware) {
            QPointer<StatusTableViewCell> self(this);
            cache.refresh(*status, [self] {
                if (self) self->refresh(false);
            });
        }
    }
    applyState(StatusRowState::make(deviceInfo_.get(), status, current));
}

void StatusTableViewCell::setFolderImage(const std::string& name) {
    if (folderImageName_ == name) return;
    folderImageName_ = name;
    folderButton_->setIcon(appkit::Assets::icon(name));
    // A locked camera's folder button asks for the password first.
    const bool locked = name == "lockIconStatus";
    folderButton_->setAccessibleName(locked ? Msg::unlockCameraButton() : Msg::openFolderButton());
    folderButton_->setToolTip(locked ? Msg::unlockToOpenFolderTip() : Msg::openFolderButtonTip());
}

void StatusTableViewCell::applyState(const StatusRowState& state) {
    shown_ = state;
    const bool webcam = state.webcamMode;
    if (webcam) modeSwitchPending_ = false;  // the switch is done
    buttonStackView_->setVisible(!webcam);
    fwStackView_->setVisible(!webcam);
    batteryIndicator_->setVisible(!webcam && hasBatteryReading_);
    batteryCapacityLabel_->setVisible(!webcam && hasBatteryReading_);
    volumeCapacityLabel_->setVisible(!webcam && hasStorageReading_);
    cardErrorMsgLabel_->setVisible(state.cardErrorShown);
    webcamStackView_->setVisible(webcam);
    msdcRecoverButton_->setVisible(webcam);
    webcamTestButton_->setVisible(webcam);
    formatButton_->setVisible(state.formatShown);

    const std::string image = state.imageName.value_or("");
    if (image != productImageName_) {
        productImageName_ = image;
        productImageView_->setPixmap(image.empty() ? QPixmap()
                                                   : appkit::Assets::image(image, QSize(kPictureSide, kPictureSide)));
    }
    deviceNameLabel_->setText(state.deviceName);
    productNameLabel_->setText(state.productName);
    uidValueLabel_->setText(state.uid);
    webcamValueLabel_->setText(state.webcamName);

    if (state.details) {
        const StatusRowState::Details& d = *state.details;
        setFolderImage(d.locked ? "lockIconStatus" : "folderIcon");
        editButton_->setVisible(d.editShown);
        webcamButton_->setVisible(d.webcamButtonShown);
        folderButton_->setVisible(d.folderShown);
        teamSyncLinesShown_ = d.teamSyncShown;
        teamSyncTitleLabel_->setVisible(d.teamSyncShown);
        teamSyncValueLabel_->setVisible(d.teamSyncShown);
        teamSyncValueLabel_->setText(d.teamSyncText);
        fwVersionValueLabel_->setText(d.firmwareText);
        QPalette palette = fwVersionValueLabel_->palette();
        palette.setColor(QPalette::WindowText, d.firmwareCurrent ? kGrey : appkit::colors::systemRed());
        fwVersionValueLabel_->setPalette(palette);
        upgradeButton_->setVisible(d.upgradeShown);
    }
    // A line whose labels are both hidden takes no room.
    teamSyncStackView_->setVisible(!webcam && teamSyncLinesShown_);
    layoutSubviews();
}

// ---- refresh timer -----------------------------------------------------------------------------

void StatusTableViewCell::startRefreshTimer() {
    refreshWanted_ = true;
    if (modeSwitchPending_) return;
    if (deviceInfo_ && (deviceInfo_->isWebcamMode.load() || deviceInfo_->isModeChanging.load())) {
        cancelTimer();
        return;
    }
    cancelTimer();
    QPointer<StatusTableViewCell> self(this);
    timer_ = dispatch::Timer::make(dispatch::mainQueue(), kRefreshIntervalMs, [self] {
        if (self) self->refreshTick();
    });
    timer_->resume();
}

void StatusTableViewCell::stopRefreshTimer() {
    refreshWanted_ = false;
    cancelTimer();
}

void StatusTableViewCell::cancelTimer() {
    if (timer_) timer_->cancel();
    timer_.reset();
}

void StatusTableViewCell::refreshTick() {
    if (readingInFlight_ || !deviceInfo_) return;
    std::optional<StatusModel> status = deviceInfo_->statusInfo();
    StatusTableViewCellDelegate* d = delegate();
    if (!status || !d) return;
    readingInFlight_ = true;
    QPointer<StatusTableViewCell> self(this);
    std::shared_ptr<HVBModel> model = deviceInfo_;
    d->readDeviceState(*status, [self, model](const BatteryReading& battery, const std::optional<StorageReading>& storage) {
        if (!self) return;
        self->readingInFlight_ = false;
        // The row may show another camera by now; this reading is not about it.
        if (self->deviceInfo_ != model) return;
        self->applyReadings(battery, storage);
    });
}

void StatusTableViewCell::applyReadings(const BatteryReading& battery, const std::optional<StorageReading>& storage) {
    const bool webcam = shown_.webcamMode;
    if (battery.charging) {
        hasBatteryReading_ = true;
        batteryIndicator_->setVisible(!webcam);
        batteryIndicator_->setCharging(*battery.charging);
        batteryIndicator_->chargingImageView()->setVisible(*battery.charging);
        if (battery.isLevel) {
            batteryIndicator_->setCapacity(BatteryCapacity::level(
                BatteryCapacity::levelFromRaw(battery.value).value_or(BatteryCapacity::BatteryLevel::exhausted)));
        } else {
            // The gauge cannot show less than empty or more than full; the text keeps the value.
            batteryIndicator_->setCapacity(BatteryCapacity::capacity(std::clamp<int64_t>(battery.value, 0, 100)));
        }
        batteryCapacityLabel_->setVisible(!webcam);
        batteryCapacityLabel_->setText(StatusRowState::batteryText(battery));
    }
    if (storage) {
        hasStorageReading_ = true;
        volumeCapacityLabel_->setVisible(!webcam);
        volumeCapacityLabel_->setText(StatusRowState::storageText(*storage));
    }
    layoutSubviews();
}

// ---- button actions ----------------------------------------------------------------------------

void StatusTableViewCell::presentFromDelegate(appkit::ViewController* controller) {
    StatusTableViewCellDelegate* d = delegate();
    appkit::ViewController* presenter = d ? d->presentingController() : nullptr;
    if (!presenter) {
        delete controller;
        return;
    }
    presenter->presentViewControllerAsModalWindow(controller);
}

void StatusTableViewCell::editButtonDidTap() {
    std::optional<StatusModel> status = deviceInfo_ ? deviceInfo_->statusInfo() : std::nullopt;
    StatusTableViewCellDelegate* d = delegate();
    if (!status || !d) return;
    appkit::ViewController* sheet = ControllerFactory::shared().makeEditViewController(*status, d->editDelegate());
    if (!sheet) {
        foundation::print("No controller for EditViewController");
        return;
    }
    presentFromDelegate(sheet);
}

void StatusTableViewCell::buzzerButtonDidTap() {
    std::optional<StatusModel> status = deviceInfo_ ? deviceInfo_->statusInfo() : std::nullopt;
    StatusTableViewCellDelegate* d = delegate();
    if (!status || !d) return;
    d->findDeviceBuzzer(*status);
}

void StatusTableViewCell::folderButtonDidTap() {
    std::optional<StatusModel> status = deviceInfo_ ? deviceInfo_->statusInfo() : std::nullopt;
    if (!status) return;
    cameraLink()->setSelectedDeviceIndex(deviceIndex_);
    if (StatusTableViewCellDelegate* d = delegate()) d->openDeviceFolder(*status);
}

void StatusTableViewCell::upgradeButtonDidTap() {
    std::optional<StatusModel> status = deviceInfo_ ? deviceInfo_->statusInfo() : std::nullopt;
    if (!status) return;
    cameraLink()->setSelectedDeviceIndex(deviceIndex_);
    if (StatusTableViewCellDelegate* d = delegate()) d->startFirmwareUpgrade(*status);
}

void StatusTableViewCell::fwReleaseNoteButtonDidTap() {
    std::optional<StatusModel> status = deviceInfo_ ? deviceInfo_->statusInfo() : std::nullopt;
    if (!status || !delegate()) return;
    const std::string model = cameraLink()->recordFields(status->parameters).ModelName.value_or("");
    presentFromDelegate(new ReleaseNotesViewController(QString::fromStdString(model)));
}

void StatusTableViewCell::webcamSwitchFailed(const std::shared_ptr<HVBModel>& model) {
    if (deviceInfo_ != model) return;
    modeSwitchPending_ = false;
    if (refreshWanted_) startRefreshTimer();
}

namespace {

// The user tapped and nothing changed: why, told from the main queue, the worker going on.
void tellWebcamSwitchFailed(const QString& why) {
    dispatch::mainQueue().async([why] {
        appkit::Alert alert;
        alert.messageText = LocalizedString::Str::error();
        alert.informativeText = why;
        alert.addButtonWithTitle(LocalizedString::Str::ok());
        alert.runModal();
    });
}

}  // namespace

void StatusTableViewCell::webcamButtonDidTap() {
    std::optional<StatusModel> status = deviceInfo_ ? deviceInfo_->statusInfo() : std::nullopt;
    // A second tap while the camera changes its mode must not undo the first.
    if (!status || modeSwitchPending_) return;
    auto command = status->commands.find("HVB_WEBCAMMODE");
    if (command == status->commands.end()) return;
    const std::string uid = upperCaseUID(status->parameters);
    // No tick may talk to the camera while it changes its mode.
    cancelTimer();
    modeSwitchPending_ = true;
    std::shared_ptr<HVBModel> model = deviceInfo_;
    const uint8_t code = command->second;
    QPointer<StatusTableViewCell> self(this);
    // Nothing changed yet: the row ticks again.
    auto abandoned = [self, model] {
        dispatch::mainQueue().async([self, model] {
            if (self) self->webcamSwitchFailed(model);
        });
    };
    // The camera was marked as changing: it is not, so an unplug removes it as usual.
    auto failed = [model, abandoned] {
        model->isModeChanging = false;
        abandoned();
    };
    auto work = [uid, model, code, abandoned, failed, link = cameraLink()] {
        CameraHandle service = link->open(uid);
        if (!service) return abandoned();
        auto volume = link->volumePath(uid);
        std::optional<std::filesystem::path> folder = volume ? diskarb::pathFromFileURL(*volume) : std::nullopt;
        if (!folder) {
            foundation::print("volume not found");
            tellWebcamSwitchFailed(LocalizedString::Msg::webcamNoVolume());
            return abandoned();
        }
        model->isModeChanging = true;
        ShellResult unmount = Shell::shared().run({"diskutil", "umount", folder->string()});
        foundation::print(unmount.output.value_or(""));
        // The volume is still in use: switching now would pull it from under its user.
        if (unmount.status != 0) {
            tellWebcamSwitchFailed(LocalizedString::Msg::webcamVolumeBusy());
            return failed();
        }
        const bool sent = carried(link->sendByte(service.get(), code, 1));
        foundation::print(sent ? "true" : "false");
        service.reset();
        if (!sent) failed();
    };
    if (StatusTableViewCellDelegate* d = delegate()) d->performCameraWork(std::move(work));
    else dispatch::globalQueue(dispatch::QoS::userInitiated).async(std::move(work));
}

void StatusTableViewCell::msdcRecoverButtonDidTap() {
    appkit::ViewController* message = ControllerFactory::shared().make("MSDCRecoverMsgViewController");
    if (!message) {
        foundation::print("No controller for MSDCRecoverMsgViewController");
        return;
    }
    message->setTitle(msdcRecoverButton_->text());
    presentFromDelegate(message);
}

void StatusTableViewCell::webcamTestButtonDidTap() {
    appkit::ViewController* test = ControllerFactory::shared().make("WebcamTestViewController");
    if (!test) {
        foundation::print("No controller for WebcamTestViewController");
        return;
    }
    test->setTitle(webcamTestButton_->text());
    presentFromDelegate(test);
}

void StatusTableViewCell::formatButtonDidTap() {
    cameraLink()->setSelectedDeviceIndex(deviceIndex_);
    std::optional<StatusModel> status = deviceInfo_ ? deviceInfo_->statusInfo() : std::nullopt;
    if (!status || !status->parameters) return;
    const DiskDriver_Parameter record = cameraLink()->recordFields(status->parameters);
    if (!record.ModelName) return;
    const std::string uid = record.UID.value_or("");
    activeCommandTable = status->commands;
    // The dialog formats this row's camera, whatever is selected by the time OK is pressed.
    // The row may be gone once it returns (the camera reboots after a format).
    runDiskFormatDialog(uid, activeCommandTable, {});
}

}  // namespace hvb
