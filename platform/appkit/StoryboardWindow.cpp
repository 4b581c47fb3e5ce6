#include "platform/appkit/StoryboardWindow.h"

#include "platform/appkit/Application.h"
#include "platform/foundation/Log.h"

namespace appkit::detail {

bool runStoryboardWindow(WindowController* fromStoryboard, WrapWindow wrap, const std::string& missingLine,
                         QPointer<Window>* slot, const std::function<void()>& beforeLoad) {
    if (fromStoryboard && beforeLoad) beforeLoad();
    Window* window = fromStoryboard ? fromStoryboard->window() : nullptr;
    if (!window) {
        if (slot) *slot = nullptr;
        foundation::print(missingLine);
        delete fromStoryboard;
        return false;
    }
    if (slot) *slot = window;
    {
        // A window the storyboard's controller made stays until that controller goes as well.
        std::unique_ptr<WindowController> controller = wrap(window);
        runModalForWindow(window);
    }
    delete fromStoryboard;
    return true;
}

}  // namespace appkit::detail
