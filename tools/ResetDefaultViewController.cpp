#include "tools/ResetDefaultViewController.h"

#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "tools/DialogRegistry.h"
#include "tools/HVBToolViewController.h"
#include "tools/ResetDefaultWorker.h"

namespace hvb {

namespace {

ResetDialogViewController::Work resetDefaultWork() {
    auto link = cameraLink();
    return [link](const DialogTarget& target, const CommandDictionary& table) {
        return ResetDefaultWorker(link, [] { HVBToolViewController::startRedetectionTimer(); }).run(target, table);
    };
}

const ResetDialogViewController::Kind kResetDefault{
    .className = "ResetDefaultViewController",
    .screenName = "Reset Default",
    .resultName = "resetDefaultResult",
    .state = resetDefaultState,
    .warning = LocalizedString::Msg::allSettingsReset,
    .work = resetDefaultWork,
};

}  // namespace

ResetDefaultViewController::ResetDefaultViewController(QWidget* parent)
    : ResetDialogViewController(kResetDefault, parent) {}

}  // namespace hvb
