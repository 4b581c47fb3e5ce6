#include "tools/FWUpgradeViewController.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/LocalizedString.h"
#include "app/StatusTableViewCell.h"
#include "camera/DeviceState.h"
#include "online/FirmwareManager.h"
#include "platform/appkit/Assets.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/BusySpinner.h"
#include "tools/DialogRegistry.h"
#include "tools/HVBToolViewController.h"
#include "tools/ToolsCameraLink.h"

namespace hvb {

using LocalizedString::Str;

namespace {
constexpr int kIconSize = 56;

std::function<UpgradeServices()>& servicesFactory() {
    static std::function<UpgradeServices()> factory;
    return factory;
}

UpgradeServices makeServices() {
    UpgradeServices services = servicesFactory() ? servicesFactory()() : UpgradeServices::defaults();
    if (!services.startRedetection)
        services.startRedetection = [](Redetection::Progress progress, std::function<bool()> upgraded) {
            HVBToolViewController::startRedetectionTimer(std::move(progress), std::move(upgraded));
        };
    return services;
}
}  // namespace

void FWUpgradeViewController::setServicesFactory(std::function<UpgradeServices()> factory) {
    servicesFactory() = std::move(factory);
}

FWUpgradeViewController::FWUpgradeViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("FWUpgradeViewController");
}

void FWUpgradeViewController::loadView() {
    setFixedWidth(440);
    setMinimumHeight(160);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(227, 227, 227));
    setPalette(palette);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(24, 20, 24, 16);
    outer->setSpacing(16);
    auto* row = new QHBoxLayout();
    row->setSpacing(18);
    auto* iconPlace = new QWidget(this);
    iconPlace->setFixedSize(kIconSize, kIconSize);
    auto* iconGrid = new QGridLayout(iconPlace);
    iconGrid->setContentsMargins(0, 0, 0, 0);
    FWUpgradeImage = new QLabel(iconPlace);
    FWUpgradeImage->setAlignment(Qt::AlignCenter);
    FWUpgradeProgress = new BusySpinner(iconPlace, 36);
    FWUpgradeProgress->setVisible(false);
    iconGrid->addWidget(FWUpgradeImage, 0, 0, Qt::AlignCenter);
    iconGrid->addWidget(FWUpgradeProgress, 0, 0, Qt::AlignCenter);
    row->addWidget(iconPlace, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(8);
    FWUpgradeTitle = new QLabel(this);
    FWUpgradeTitle->setTextFormat(Qt::PlainText);
    QFont titleFont = FWUpgradeTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() + 2);
    FWUpgradeTitle->setFont(titleFont);
    FWUpgradeQuestion = new QLabel(this);
    FWUpgradeQuestion->setTextFormat(Qt::PlainText);  // the version comes from the web
    FWUpgradeQuestion->setWordWrap(true);
    texts->addWidget(FWUpgradeTitle);
    texts->addWidget(FWUpgradeQuestion);
    texts->addStretch(1);
    row->addLayout(texts, 1);
    outer->addLayout(row, 1);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttonCancel = new QPushButton(this);
    buttonCancel->setMinimumWidth(90);
    buttonOK = new QPushButton(this);
    buttonOK->setMinimumWidth(90);
    buttonOK->setDefault(true);
    buttons->addWidget(buttonCancel);
    buttons->addWidget(buttonOK);
    outer->addLayout(buttons);
    connect(buttonOK, &QPushButton::clicked, this, [this] { buttonOK_Click(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] { buttonCancel_Click(); });
}

void FWUpgradeViewController::viewDidLoad() {
    buttonOK->setText(Str::ok());
    buttonCancel->setText(Str::cancel());
    FWUpgradeTitle->setText(Str::firmwareUpgrade());
    if (fwUpgradeState == 0) {
        FWUpgradeImage->setVisible(false);
        const QString version =
            QString::fromStdString(FirmwareManager::formatFirmwareVersionText(latestFirmwareVersion));
        FWUpgradeQuestion->setText(Str::latestFWVer() + QStringLiteral(": ") + version + QStringLiteral("\n") +
                                   Str::doYouWantToUpgradeNow());
    } else if (fwUpgradeState == 1) {
        showImage(QStringLiteral("successIcon"));
        FWUpgradeQuestion->setText(Str::success());
        buttonCancel->setVisible(false);
    } else {
        showImage(QStringLiteral("failIcon"));
        FWUpgradeQuestion->setText(Str::fail());
        buttonCancel->setVisible(false);
    }
}

void FWUpgradeViewController::viewWillAppear() {
    toolsCameraLink()->logScreen("FW Upgrade", "FWUpgradeViewController");
    if (auto* window = hostWindow()) window->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void FWUpgradeViewController::viewDidAppear() {
    if (auto* window = hostWindow()) window->setWindowTitle(QString());
}

void FWUpgradeViewController::buttonCancel_Click() { closeDialogWindow(this); }

void FWUpgradeViewController::buttonOK_Click() { startUpgradeFromButton(); }

void FWUpgradeViewController::startUpgradeFromButton() {
    if (fwUpgradeState != 0) {
        foundation::print("PlugInDeviceCnt = " + std::to_string(toolsCameraLink()->plugInDeviceCount()));
        closeDialogWindow(this);
        return;
    }
    upgradeResult = 0;
    FWUpgradeQuestion->setText(Str::downloading());
    FWUpgradeImage->setVisible(false);
    FWUpgradeProgress->setVisible(true);
    FWUpgradeProgress->startAnimation();
    buttonOK->setEnabled(false);
    buttonCancel->setEnabled(false);

    // The worker only ever reaches the dialog through the main queue, and not once it is gone.
    QPointer<FWUpgradeViewController> self(this);
    FirmwareUpgradeWorker::Listener listener;
    listener.countdown = [self](int64_t secondsLeft) {
        dispatch::mainQueue().async([self, secondsLeft] {
            if (self) self->showCountdown(secondsLeft);
        });
    };
    listener.finished = [self](int code) {
        dispatch::mainQueue().async([self, code] {
            if (code < 0) fwUpgradeState = 2;
            if (!self) return;
            self->upgradeResult = code;
            if (code < 0) self->showFailure();
        });
    };
    auto worker = std::make_shared<FirmwareUpgradeWorker>(toolsCameraLink(), makeServices(), selectedCmdDic,
                                                          DeviceState::shared().enteredPassword(), std::move(listener));
    const int64_t index = toolsCameraLink()->selectedDeviceIndex();
    dispatch::globalQueue(dispatch::QoS::background).async([worker, index] { worker->runFirmwareUpgrade(index); });
}

void FWUpgradeViewController::showCountdown(int64_t secondsLeft) {
    FWUpgradeQuestion->setText(Str::upgrading() + QStringLiteral(" (") + QString::number(secondsLeft) +
                               QStringLiteral(" ") + Str::seconds() + QStringLiteral(")"));
}

void FWUpgradeViewController::showImage(const QString& name) {
    imageName_ = name;
    FWUpgradeImage->setPixmap(appkit::Assets::image(name.toStdString(), QSize(kIconSize, kIconSize)));
    FWUpgradeImage->setVisible(true);
}

void FWUpgradeViewController::showFailure() {
    FWUpgradeProgress->stopAnimation();
    FWUpgradeProgress->setVisible(false);
    showImage(QStringLiteral("failIcon"));
    FWUpgradeQuestion->setText(Str::upgradeFailed());
    buttonOK->setEnabled(true);
    buttonCancel->setVisible(false);
}

}  // namespace hvb
