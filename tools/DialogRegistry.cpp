#include "tools/DialogRegistry.h"

#include <mutex>

#include "platform/appkit/Application.h"
#include "platform/appkit/Storyboard.h"
#include "platform/foundation/Log.h"

namespace hvb {

QPointer<appkit::Window> resetDefaultWindow;
uint8_t resetDefaultState = 0;
QPointer<appkit::Window> resetAllWindow;
uint8_t resetAllState = 0;
QPointer<appkit::Window> passwordSettingWindow;
uint8_t passwordSettingState = 0;
uint8_t passwordSettingMode = 0;
std::optional<std::string> dialogTargetUID;

namespace {
std::mutex& uidLock() {
    static std::mutex m;
    return m;
}
std::string& storedUID() {
    static std::string uid;
    return uid;
}
}  // namespace

std::string currentDeviceUID() {
    std::lock_guard<std::mutex> guard(uidLock());
    return storedUID();
}

void setCurrentDeviceUID(std::string uid) {
    std::lock_guard<std::mutex> guard(uidLock());
    storedUID() = std::move(uid);
}

bool runDialogFromStoryboard(const std::string& identifier, QPointer<appkit::Window>* slot) {
    auto* fromStoryboard = appkit::Storyboard::main().instantiateController<appkit::WindowController>(identifier);
    appkit::Window* window = fromStoryboard ? fromStoryboard->window() : nullptr;
    if (!window) {
        if (slot) *slot = nullptr;
        foundation::print("No window controller for " + identifier);
        delete fromStoryboard;
        return false;
    }
    if (slot) *slot = window;
    {
        appkit::WindowController controller(window);
        appkit::runModalForWindow(window);
    }
    delete fromStoryboard;
    return true;
}

void closeDialogWindow(appkit::ViewController* controller) {
    appkit::Window* window = controller ? controller->hostWindow() : nullptr;
    if (!window) return;
    const bool endsSession = appkit::modalWindow() == window;
    window->performClose();
    if (endsSession) appkit::abortModal();
}

}  // namespace hvb
