#pragma once
// Between the windows and the modal runner of this layer (not for the application's code).

namespace appkit {

class Window;

namespace detail {

// True on the thread the Qt application runs on (false when there is no application).
bool onGuiThread();
// A window that goes away ends every session still running for it (with NSModalResponseAbort),
// so no caller is left waiting on a window nobody can close.
void windowDestroyed(Window* window);

}  // namespace detail
}  // namespace appkit
