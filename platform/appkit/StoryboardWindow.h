#pragma once
// A dialog of the storyboard "Main" run modally: the storyboard's window controller gives its
// window, a fresh controller of the same class holds that window through the session, then the
// storyboard's controller goes.
#include <functional>
#include <memory>
#include <string>

#include <QPointer>

#include "platform/appkit/Storyboard.h"
#include "platform/appkit/Window.h"

namespace appkit {

namespace detail {
using WrapWindow = std::unique_ptr<WindowController> (*)(Window*);
bool runStoryboardWindow(WindowController* fromStoryboard, WrapWindow wrap, const std::string& missingLine,
                         QPointer<Window>* slot, const std::function<void()>& beforeLoad);
}  // namespace detail

// Instantiates the `Controller` of `identifier` from the storyboard "Main", calls `beforeLoad`
// (when given) before its window loads, keeps the window in `slot` (when given) and runs the
// application modally for it. Returns once the session ended; false, with the slot cleared and
// `missingLine` printed, when the storyboard gives no such controller or it no window.
template <class Controller = WindowController>
bool runModalWindowFromStoryboard(const std::string& identifier, const std::string& missingLine,
                                  QPointer<Window>* slot = nullptr, const std::function<void()>& beforeLoad = {}) {
    return detail::runStoryboardWindow(
        Storyboard::main().instantiateController<Controller>(identifier),
        [](Window* window) -> std::unique_ptr<WindowController> { return std::make_unique<Controller>(window); },
        missingLine, slot, beforeLoad);
}

}  // namespace appkit
