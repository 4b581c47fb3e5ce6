#include "tools/SyncTimeViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "platform/appkit/Assets.h"
#include "platform/dispatch/Dispatch.h"
#include "tools/BusySpinner.h"
#include "tools/DialogParts.h"
#include "tools/DialogRegistry.h"
#include "tools/SyncTimeWorker.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

SyncTimeViewController::SyncTimeViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("SyncTimeViewController");
}

void SyncTimeViewController::loadView() {
    const auto parts = dialogparts::pictureDialog(this);
    SyncTimeImage = parts.image;
    SyncTimeProgress = parts.spinner;
    SyncTimeTitle = parts.title;
    SyncTimeMessage = parts.text;  // plain text: the clock comes from the camera
    buttonCancel = parts.cancel;
    buttonOK = parts.ok;
    buttonCancel->setVisible(false);
    // The dialog keeps its size while the button is hidden.
    QSizePolicy keep = buttonOK->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    buttonOK->setSizePolicy(keep);
    connect(buttonOK, &QPushButton::clicked, this, [this] { buttonOK_Click(); });
}

void SyncTimeViewController::viewDidLoad() {
    SyncTimeTitle->setText(Str::syncTimeWithPC());
    buttonOK->setText(Str::ok());
    buttonOK->setVisible(false);
    SyncTimeImage->setVisible(false);
    SyncTimeMessage->setText(Msg::pleaseWait());
    SyncTimeProgress->setVisible(true);
    SyncTimeProgress->startAnimation();
    runTimeSync();
}

void SyncTimeViewController::viewWillAppear() {
    usageReports()->logScreen("Sync Time", "SyncTimeViewController");
    if (auto* window = hostWindow()) window->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void SyncTimeViewController::viewDidAppear() {
    if (auto* window = hostWindow()) window->setEmptyTitle();
}

void SyncTimeViewController::buttonOK_Click() { closeDialogWindow(this); }

void SyncTimeViewController::runTimeSync() {
    QPointer<SyncTimeViewController> self(this);
    auto link = cameraLink();
    const std::string title = Str::syncTimeWithPC().toStdString();
    dispatch::globalQueue(dispatch::QoS::background).async([self, link, title] {
        SyncTimeOutcome outcome = SyncTimeWorker::runTimeSync(*link, title);
        dispatch::mainQueue().async([self, outcome] {
            if (self) self->showOutcome(outcome);
        });
    });
}

void SyncTimeViewController::showOutcome(const SyncTimeOutcome& outcome) {
    if (outcome.kind == SyncTimeOutcome::Kind::success) showSyncSuccess(QString::fromStdString(outcome.message));
    // Without a camera the dialog still ends with a way to close it.
    else showSyncFailure();
}

void SyncTimeViewController::showImage(const QString& name) {
    imageName_ = name;
    dialogparts::showPicture(SyncTimeImage, name);
    SyncTimeProgress->stopAnimation();
    SyncTimeProgress->setVisible(false);
}

void SyncTimeViewController::showSyncSuccess(const QString& message) {
    SyncTimeTitle->setText(Str::success());
    showImage(QStringLiteral("successIcon"));
    SyncTimeMessage->setText(message);
    dialogparts::showResultButton(buttonOK);
}

void SyncTimeViewController::showSyncFailure() {
    SyncTimeTitle->setText(Str::fail());
    showImage(QStringLiteral("failIcon"));
    SyncTimeMessage->setText(QString());
    dialogparts::showResultButton(buttonOK);
}

}  // namespace hvb
