#pragma once
// The application object's modal sessions and termination, in the platform's shape:
// runModalForWindow blocks in a nested event loop until stopModal or abortModal; while a
// session runs, repeating timers of the main run loop skip their ticks.
#include <functional>

namespace appkit {

class Window;

// Return codes of a modal session.
constexpr int NSModalResponseStop = -1000;
constexpr int NSModalResponseAbort = -1001;
constexpr int NSModalResponseContinue = -1002;
// The first, second and third buttons of an alert.
constexpr int NSAlertFirstButtonReturn = 1000;
constexpr int NSAlertSecondButtonReturn = 1001;
constexpr int NSAlertThirdButtonReturn = 1002;

// Shows the window application-modal (content appearance hooks included) and runs a nested
// loop until the session is ended; returns its code. Must be called on the main thread.
int runModalForWindow(Window* window);
// End the innermost session: with NSModalResponseStop, the given code, or NSModalResponseAbort.
// From another thread the request is carried out on the main thread. A session whose window is
// destroyed, or that the user closes (close button, Escape), ends with NSModalResponseAbort.
void stopModal();
void stopModalWithCode(int code);
void abortModal();
// The number of modal sessions running now (nested sessions count each).
int modalSessionDepth();
// The window of the innermost session, or none.
Window* modalWindow();

// Tests: called on the main thread right after a session's window is shown (a test drives the
// dialog from here, then ends the session). Returns the previous hook.
using ModalHook = std::function<void(Window*)>;
ModalHook setModalSessionHook(ModalHook hook);

// Asks the application to quit once control returns to its event loop (from any thread).
void terminate();
// Tests: what terminate() does instead of quitting; returns the previous hook.
std::function<void()> setTerminateHandler(std::function<void()> handler);

}  // namespace appkit
