#include "tools/DiskFormatViewControl.h"

#include <QLabel>
#include <QPushButton>

#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Log.h"
#include "tools/DialogRegistry.h"
#include "tools/DiskFormatWorker.h"
#include "tools/HVBToolViewController.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

DiskFormatViewControl::DiskFormatViewControl(QWidget* parent) : DeviceTaskViewController(parent) {
    setObjectName("DiskFormatViewControl");
}

void DiskFormatViewControl::viewDidLoad() {
    diskFormatTitle = title_;
    diskFormatQuestion = text_;
    buttonOK = ok_;
    buttonCancel = cancel_;
    diskFormatProgress = progress_;
    diskFormatImage = image_;
    // The opener's camera and title are this dialog's alone: no later opening finds them.
    if (diskFormatTarget) {
        target_.kind = DialogTarget::Kind::camera;
        target_.uid = diskFormatTarget->uid;
        table_ = diskFormatTarget->table;
    }
    diskFormatTarget.reset();
    if (!diskFormatTitleString.isEmpty()) titleString = diskFormatTitleString;
    diskFormatTitleString.clear();

    if (diskFormatState == 0) {
        showQuestion(Str::formatDisk(), Msg::allDataErased() + QStringLiteral("\n") + Msg::areYouSureToContinue());
        return;
    }
    setTitleText(Str::formatDisk());
    showOutcome(diskFormatState == 1);
}

void DiskFormatViewControl::viewWillAppear() {
    DeviceTaskViewController::viewWillAppear();
    usageReports()->logScreen("Disk Format", "DiskFormatViewController");
    if (titleString) setTitleText(*titleString);
}

void DiskFormatViewControl::buttonOK_Click() { startFormat(); }

void DiskFormatViewControl::buttonCancel_Click() { closeDialogWindow(this); }

void DiskFormatViewControl::startFormat() {
    if (diskFormatState != 0) {
        closeDialogWindow(this);
        return;
    }
    formatResult = 0;
    auto link = cameraLink();
    runOnTarget(
        target_, table_,
        [link](const DialogTarget& target, const CommandDictionary& table) {
            DiskFormatWorker worker(link, [] { HVBToolViewController::startRedetectionTimer(); });
            return worker.run(target, table);
        },
        [this](int code) { showFormatResult(code); }, dispatch::QoS::defaultQoS);
}

void DiskFormatViewControl::showFormatResult(int code) {
    formatResult = code;
    foundation::print("formatResult = " + std::to_string(code));
    titleString.reset();
    setTitleText(Str::formatDisk());
    diskFormatState = code < 0 ? 2 : 1;
    showOutcome(code >= 0);
    QPointer<DiskFormatViewControl> self(this);
    dispatch::mainQueue().asyncAfter(kResultShownMs, [self] {
        if (self) self->closeWhenOnTop();
    });
}

// Closing ends this window's session; with another dialog's session above it, that would leave
// a session without a window, so the close waits until this one is on top again.
void DiskFormatViewControl::closeWhenOnTop() {
    appkit::Window* window = hostWindow();
    if (!window || !window->isVisibleWindow()) return;
    if (appkit::modalWindow() && appkit::modalWindow() != window) {
        QPointer<DiskFormatViewControl> self(this);
        dispatch::mainQueue().asyncAfter(1000, [self] {
            if (self) self->closeWhenOnTop();
        });
        return;
    }
    closeDialogWindow(this);
}

}  // namespace hvb
