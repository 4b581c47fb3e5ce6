#include "tools/DialogRegistry.h"

#include <mutex>

#include "platform/appkit/StoryboardWindow.h"

namespace hvb {

QPointer<appkit::Window> resetDefaultWindow;
uint8_t resetDefaultState = 0;
QPointer<appkit::Window> resetAllWindow;
uint8_t resetAllState = 0;
QPointer<appkit::Window> passwordSettingWindow;
uint8_t passwordSettingState = 0;
QString resultCause;
uint8_t passwordSettingMode = 0;
std::optional<std::string> dialogTargetUID;

namespace {
std::mutex& uidLock() {
    static std::mutex m;
    return m;
}
std::string& storedUID() {
    static auto* uid = new std::string;  // read by workers: never destroyed
    return *uid;
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
    return appkit::runModalWindowFromStoryboard(identifier, "No window controller for " + identifier, slot);
}

void closeDialogWindow(appkit::ViewController* controller) {
    if (appkit::Window* window = controller ? controller->hostWindow() : nullptr) window->userClose();
}

}  // namespace hvb
