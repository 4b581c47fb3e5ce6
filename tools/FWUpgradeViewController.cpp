#include "tools/FWUpgradeViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "online/FirmwareManager.h"
#include "online/UsageReports.h"
#include "platform/appkit/Assets.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/BusySpinner.h"
#include "tools/DialogParts.h"
#include "tools/DialogRegistry.h"
#include "tools/HVBToolViewController.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

namespace {
std::function<UpgradeServices()>& servicesFactory() {
    static std::function<UpgradeServices()> factory;
    return factory;
}

UpgradeServices makeServices() {
    UpgradeServices services = servicesFactory() ? servicesFactory()() : UpgradeServices::defaults();
    if (!services.startRedetection)
        services.startRedetection = [](Redetection::Progress progress, std::function<bool()> upgraded,
                                       uint64_t hostLosses) {
            HVBToolViewController::startRedetectionTimer(std::move(progress), std::move(upgraded), hostLosses,
                                                         Msg::upgradeCameraGone());
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
    const auto parts = dialogparts::pictureDialog(this, {.minimumHeight = 160, .wrapTitle = false});
    FWUpgradeImage = parts.image;
    FWUpgradeProgress = parts.spinner;
    FWUpgradeTitle = parts.title;
    FWUpgradeQuestion = parts.text;  // plain text: the version comes from the web
    buttonCancel = parts.cancel;
    buttonOK = parts.ok;
    buttonOK->setDefault(true);
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
        dialogparts::showResultButton(buttonOK);
    } else {
        showImage(QStringLiteral("failIcon"));
        FWUpgradeQuestion->setText(resultCause.isEmpty() ? Str::fail()
                                                         : Str::fail() + QLatin1Char('\n') + resultCause);
        buttonCancel->setVisible(false);
        dialogparts::showResultButton(buttonOK);
    }
}

void FWUpgradeViewController::viewWillAppear() {
    usageReports()->logScreen("FW Upgrade", "FWUpgradeViewController");
    if (auto* window = hostWindow()) window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    dialogparts::holdWhileBusy(this, [this] { return busy_; });
}

void FWUpgradeViewController::viewDidAppear() {
    if (auto* window = hostWindow()) window->setEmptyTitle();
    // Opened on its result: the focus set before the window showed went to no one.
    if (fwUpgradeState != 0) dialogparts::showResultButton(buttonOK);
}

void FWUpgradeViewController::buttonCancel_Click() { closeDialogWindow(this); }

void FWUpgradeViewController::buttonOK_Click() { startUpgradeFromButton(); }

void FWUpgradeViewController::startUpgradeFromButton() {
    if (fwUpgradeState != 0) {
        foundation::print("PlugInDeviceCnt = " + std::to_string(cameraLink()->plugInDeviceCount()));
        closeDialogWindow(this);
        return;
    }
    upgradeResult = 0;
    failureCause_.clear();
    busy_ = true;
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
    listener.failedBecause = [self](UpgradeCause cause) {
        dispatch::mainQueue().async([self, cause] {
            if (!self) return;
            switch (cause) {
                case UpgradeCause::noVolume: self->failureCause_ = Msg::upgradeNoVolume(); break;
                case UpgradeCause::cameraGone: self->failureCause_ = Msg::upgradeCameraGone(); break;
            }
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
    auto link = cameraLink();
    auto worker = std::make_shared<FirmwareUpgradeWorker>(link, makeServices(), selectedCmdDic, link->enteredPassword(),
                                                          std::move(listener));
    const int64_t index = link->selectedDeviceIndex();
    dispatch::globalQueue(dispatch::QoS::background).async([worker, index] { worker->runFirmwareUpgrade(index); });
}

void FWUpgradeViewController::showCountdown(int64_t secondsLeft) {
    FWUpgradeQuestion->setText(Str::upgrading() + QStringLiteral(" (") + QString::number(secondsLeft) +
                               QStringLiteral(" ") + Str::seconds() + QStringLiteral(")"));
    emit countdownShown(secondsLeft);
}

void FWUpgradeViewController::showImage(const QString& name) {
    imageName_ = name;
    dialogparts::showPicture(FWUpgradeImage, name);
}

void FWUpgradeViewController::showFailure() {
    busy_ = false;
    FWUpgradeProgress->stopAnimation();
    FWUpgradeProgress->setVisible(false);
    showImage(QStringLiteral("failIcon"));
    FWUpgradeQuestion->setText(failureCause_.isEmpty() ? Str::upgradeFailed()
                                                       : Str::upgradeFailed() + QLatin1Char('\n') + failureCause_);
    buttonCancel->setVisible(false);
    dialogparts::showResultButton(buttonOK);
    emit outcomeShown(FWUpgradeQuestion->text());
}

}  // namespace hvb
