#include "app/RightViewContainer.h"

#include <QPointer>

#include "platform/appkit/Storyboard.h"
#include "platform/foundation/Log.h"

namespace hvb {

namespace {

int& counter() {
    static int count = 0;
    return count;
}

// A panel whose own controller is not part of the application yet.
class EmptyPaneViewController : public appkit::ViewController {
public:
    using appkit::ViewController::ViewController;
};

appkit::ViewController* keep(QPointer<appkit::ViewController>& slot, const char* identifier) {
    // The panels live for the process: one that went with its window is made again.
    if (!slot) slot = instantiateController(identifier);
    return slot.data();
}

}  // namespace

appkit::ViewController* instantiateController(const std::string& identifier) {
    ++counter();
    if (auto* controller = appkit::Storyboard::main().instantiateController<appkit::ViewController>(identifier)) {
        return controller;
    }
    foundation::print("No controller for " + identifier);
    auto* empty = new EmptyPaneViewController();
    empty->setObjectName(QString::fromStdString(identifier));
    return empty;
}

appkit::ViewController* RightViewContainer::statusViewController() {
    static QPointer<appkit::ViewController> slot;
    return keep(slot, "StatusViewController");
}

appkit::ViewController* RightViewContainer::settingsViewController() {
    static QPointer<appkit::ViewController> slot;
    return keep(slot, "SettingsViewController");
}

appkit::ViewController* RightViewContainer::toolViewController() {
    static QPointer<appkit::ViewController> slot;
    return keep(slot, "HVBToolViewController");
}

appkit::ViewController* RightViewContainer::warningPageViewController() {
    static QPointer<appkit::ViewController> slot;
    return keep(slot, "WarningPageViewController");
}

int RightViewContainer::instantiationCount() { return counter(); }

}  // namespace hvb
