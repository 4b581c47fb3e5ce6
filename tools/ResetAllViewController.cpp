#include "tools/ResetAllViewController.h"

#include "app/LocalizedString.h"
#include "camera/CameraLink.h"
#include "online/UsageReports.h"
#include "tools/DialogRegistry.h"
#include "tools/HVBToolViewController.h"
#include "tools/ResetAllWorker.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

ResetAllViewController::ResetAllViewController(QWidget* parent) : DeviceTaskViewController(parent) {
    setObjectName("ResetAllViewController");
}

void ResetAllViewController::viewDidLoad() {
    resetAllTitle = title_;
    resetAllQuestion = text_;
    buttonOK = ok_;
    buttonCancel = cancel_;
    resetAllImage = image_;
    resetAllProgress = progress_;
    // The camera named by the opener, or the chosen one: it stays this dialog's camera whatever
    // is plugged meanwhile.
    target_ = takeOpenerTarget();
    table_ = selectedCmdDic;
    if (resetAllState == 0) {
        showQuestion(Str::resetDevice(), Msg::allDataErased() + QStringLiteral(" \r") + Msg::areYouSureToContinue());
        return;
    }
    setTitleText(Str::resetDevice());
    showOutcome(resetAllState == 1);
}

void ResetAllViewController::viewWillAppear() {
    DeviceTaskViewController::viewWillAppear();
    usageReports()->logScreen("Reset All", "ResetAllViewController");
}

void ResetAllViewController::buttonOK_Click() { startResetAll(); }

void ResetAllViewController::buttonCancel_Click() { closeDialogWindow(this); }

void ResetAllViewController::startResetAll() {
    if (resetAllState != 0) {
        closeDialogWindow(this);
        return;
    }
    resetAllResult = 0;
    auto link = cameraLink();
    runOnTarget(
        target_, table_,
        [link](const DialogTarget& target, const CommandDictionary& table) {
            return ResetAllWorker(link, [] { HVBToolViewController::startRedetectionTimer(); }).run(target, table);
        },
        [this](int code) { finishResetAll(code); });
}

void ResetAllViewController::finishResetAll(int code) {
    settleCode(code, resetAllResult, resetAllState, "resetAllResult");
}

void ResetAllViewController::showResetAllFailure() { showOutcome(false); }

}  // namespace hvb
