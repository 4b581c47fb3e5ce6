#include "tools/ResetAllViewController.h"

#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "tools/DialogRegistry.h"
#include "tools/HVBToolViewController.h"
#include "tools/ResetAllWorker.h"

namespace hvb {

namespace {

ResetDialogViewController::Work resetAllWork() {
    auto link = cameraLink();
    return [link](const DialogTarget& target, const CommandDictionary& table) {
        return ResetAllWorker(link, [] { HVBToolViewController::startRedetectionTimer(); }).run(target, table);
    };
}

const ResetDialogViewController::Kind kResetAll{
    .className = "ResetAllViewController",
    .screenName = "Reset All",
    .resultName = "resetAllResult",
    .state = resetAllState,
    .warning = LocalizedString::Msg::allDataErased,
    .work = resetAllWork,
};

}  // namespace

ResetAllViewController::ResetAllViewController(QWidget* parent) : ResetDialogViewController(kResetAll, parent) {}

}  // namespace hvb
