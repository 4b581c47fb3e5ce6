#include "tools/ResetDialogViewController.h"

#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "tools/DialogRegistry.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

ResetDialogViewController::ResetDialogViewController(const Kind& kind, QWidget* parent)
    : DeviceTaskViewController(parent), kind_(kind) {
    setObjectName(kind.className);
}

void ResetDialogViewController::viewDidLoad() {
    // The camera named by the opener, or the chosen one: it stays this dialog's camera whatever
    // is plugged meanwhile.
    target_ = takeOpenerTarget();
    table_ = selectedCmdDic;
    if (kind_.state == 0) {
        showQuestion(Str::resetDevice(), kind_.warning() + QStringLiteral(" \r") + Msg::areYouSureToContinue());
        return;
    }
    setTitleText(Str::resetDevice());
    showOutcome(kind_.state == 1);
}

void ResetDialogViewController::viewWillAppear() {
    DeviceTaskViewController::viewWillAppear();
    usageReports()->logScreen(kind_.screenName, kind_.className);
}

void ResetDialogViewController::buttonOK_Click() { startReset(); }

void ResetDialogViewController::buttonCancel_Click() { closeDialogWindow(this); }

void ResetDialogViewController::startReset() {
    if (kind_.state != 0) {
        closeDialogWindow(this);
        return;
    }
    result_ = 0;
    runOnTarget(target_, table_, kind_.work(), [this](int code) { finishRun(code); });
}

void ResetDialogViewController::finishReset(int code) { settleCode(code, result_, kind_.state, kind_.resultName); }

}  // namespace hvb
