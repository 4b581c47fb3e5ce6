#include "platform/appkit/Application.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include "platform/appkit/ModalSessions.h"
#include "platform/appkit/Window.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"

namespace appkit {

namespace {

struct Session {
    QPointer<Window> window;
    Window* identity = nullptr;  // the window, also while it is being destroyed
    QEventLoop* loop = nullptr;
    int code = NSModalResponseAbort;
    bool ended = false;
};

// Sessions are started and ended on the GUI thread only; the lock is for the readers
// (modalSessionDepth and modalWindow may be asked from anywhere).
std::mutex& sessionMutex() {
    static std::mutex m;
    return m;
}
std::vector<Session*>& sessions() {
    static std::vector<Session*> list;
    return list;
}

std::mutex& hookMutex() {
    static std::mutex m;
    return m;
}
ModalHook& modalHook() {
    static ModalHook hook;
    return hook;
}
std::function<void()>& terminateHandler() {
    static std::function<void()> handler;
    return handler;
}

void end(Session* session, int code) {
    if (session->ended) return;
    session->ended = true;
    session->code = code;
    if (session->loop) session->loop->exit(0);
}

// Ends the innermost session. From another thread the request goes to the GUI thread, where
// sessions live, through the main queue (which nested loops run too) rather than a call object
// handed over by Qt's own locking; a second request before the session's run has returned
// changes nothing (it never falls through to the session outside).
void endInnermost(int code) {
    if (!detail::onGuiThread()) {
        dispatch::mainQueue().async([code] { endInnermost(code); });
        return;
    }
    Session* innermost = nullptr;
    {
        std::lock_guard<std::mutex> lock(sessionMutex());
        if (!sessions().empty()) innermost = sessions().back();
    }
    if (!innermost) {
        foundation::systemLog("appkit: no modal session to end");
        return;
    }
    end(innermost, code);
}

}  // namespace

namespace detail {

bool onGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void windowDestroyed(Window* window) {
    if (!onGuiThread()) return;
    std::vector<Session*> affected;
    {
        std::lock_guard<std::mutex> lock(sessionMutex());
        for (Session* s : sessions()) {
            if (s->identity == window) affected.push_back(s);
        }
    }
    for (Session* s : affected) end(s, NSModalResponseAbort);
}

}  // namespace detail

int runModalForWindow(Window* window) {
    if (!detail::onGuiThread()) {
        foundation::systemLog("appkit: runModalForWindow called off the main thread");
        return NSModalResponseAbort;
    }
    if (!window) {
        foundation::systemLog("appkit: runModalForWindow without a window");
        return NSModalResponseAbort;
    }
    Session session;
    session.window = window;
    session.identity = window;
    {
        std::lock_guard<std::mutex> lock(sessionMutex());
        for (Session* s : sessions()) {
            if (s->identity == window) {
                foundation::systemLog("appkit: runModalForWindow for a window already in a modal session");
                return NSModalResponseAbort;
            }
        }
        sessions().push_back(&session);
    }
    dispatch::setModalSessionActive(true);

    QEventLoop loop;
    session.loop = &loop;
    const Qt::WindowModality previousModality = window->windowModality();
    const bool wasShown = window->isVisibleWindow() && window->isVisible();
    if (!wasShown) window->aboutToShow();
    // Qt takes a new modality only when the window is shown again.
    if (session.window && window->isVisible() && previousModality != Qt::ApplicationModal) window->hide();
    if (session.window) {
        window->setWindowModality(Qt::ApplicationModal);
        window->show();
        window->raise();
        window->activateWindow();
        if (!wasShown) window->didShow();
    }
    ModalHook hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        hook = modalHook();
    }
    if (hook && session.window && !session.ended) hook(window);
    // The session may have been ended already (from a hook or an appearance handler).
    if (!session.ended && session.window) loop.exec(QEventLoop::DialogExec);

    session.loop = nullptr;
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(sessionMutex());
        auto& list = sessions();
        list.erase(std::remove(list.begin(), list.end(), &session), list.end());
        last = list.empty();
    }
    if (last) dispatch::setModalSessionActive(false);

    // Left without stopModal or abortModal: the window went away or the application quits.
    const int code = session.ended ? session.code : NSModalResponseAbort;
    if (Window* w = session.window.data()) {
        // Once the session is over the window no longer blocks the others (as on the platform,
        // where a window left open after its session is an ordinary window).
        if (w->isVisible()) {
            if (w->windowModality() != Qt::NonModal) {
                w->hide();
                w->setWindowModality(Qt::NonModal);
                w->show();
            }
        } else {
            w->setWindowModality(previousModality);
        }
    }
    return code;
}

void stopModal() { endInnermost(NSModalResponseStop); }

void stopModalWithCode(int code) { endInnermost(code); }

void abortModal() { endInnermost(NSModalResponseAbort); }

int modalSessionDepth() {
    std::lock_guard<std::mutex> lock(sessionMutex());
    return static_cast<int>(sessions().size());
}

Window* modalWindow() {
    std::lock_guard<std::mutex> lock(sessionMutex());
    if (sessions().empty()) return nullptr;
    return sessions().back()->window.data();
}

ModalHook setModalSessionHook(ModalHook hook) {
    std::lock_guard<std::mutex> lock(hookMutex());
    ModalHook previous = std::move(modalHook());
    modalHook() = std::move(hook);
    return previous;
}

void terminate() {
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        handler = terminateHandler();
    }
    if (handler) {
        handler();
        return;
    }
    // By name: from any thread, Qt then carries only its own call across.
    if (QCoreApplication* app = QCoreApplication::instance()) QMetaObject::invokeMethod(app, "quit", Qt::QueuedConnection);
}

std::function<void()> setTerminateHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(hookMutex());
    std::function<void()> previous = std::move(terminateHandler());
    terminateHandler() = std::move(handler);
    return previous;
}

}  // namespace appkit
