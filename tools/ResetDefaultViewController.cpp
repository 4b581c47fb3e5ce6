#include "tools/ResetDefaultViewController.h"

#include "app/LocalizedString.h"
#include "camera/CameraLink.h"
#include "online/UsageReports.h"
#include "tools/DialogRegistry.h"
#include "tools/HVBToolViewController.h"
#include "tools/ResetDefaultWorker.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

ResetDefaultViewController::ResetDefaultViewController(QWidget* parent) : DeviceTaskViewController(parent) {
    setObjectName("ResetDefaultViewController");
}

void ResetDefaultViewController::viewDidLoad() {
    resetDefaultTitle = title_;
    resetDefaultQuestion = text_;
    buttonOK = ok_;
    buttonCancel = cancel_;
    resetDefaultImage = image_;
    resetDefaultProgress = progress_;
    // The camera named by the opener, or the chosen one: it stays this dialog's camera whatever
    // is plugged meanwhile.
    target_ = takeOpenerTarget();
    table_ = selectedCmdDic;
    if (resetDefaultState == 0) {
        showQuestion(Str::resetDevice(),
                     Msg::allSettingsReset() + QStringLiteral(" \r") + Msg::areYouSureToContinue());
        return;
    }
    setTitleText(Str::resetDevice());
    showOutcome(resetDefaultState == 1);
}

void ResetDefaultViewController::viewWillAppear() {
    DeviceTaskViewController::viewWillAppear();
    usageReports()->logScreen("Reset Default", "ResetDefaultViewController");
}

void ResetDefaultViewController::buttonOK_Click() { startResetDefault(); }

void ResetDefaultViewController::buttonCancel_Click() { closeDialogWindow(this); }

void ResetDefaultViewController::startResetDefault() {
    if (resetDefaultState != 0) {
        closeDialogWindow(this);
        return;
    }
    resetDefaultResult = 0;
    auto link = cameraLink();
    runOnTarget(
        target_, table_,
        [link](const DialogTarget& target, const CommandDictionary& table) {
            return ResetDefaultWorker(link, [] { HVBToolViewController::startRedetectionTimer(); }).run(target, table);
        },
        [this](int code) { finishResetDefault(code); });
}

void ResetDefaultViewController::finishResetDefault(int code) {
    settleCode(code, resetDefaultResult, resetDefaultState, "resetDefaultResult");
}

void ResetDefaultViewController::showResetDefaultFailure() { showOutcome(false); }

}  // namespace hvb
