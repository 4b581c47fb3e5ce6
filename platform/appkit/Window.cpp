#include "platform/appkit/Window.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "platform/appkit/Application.h"
#include "platform/appkit/ModalSessions.h"

namespace appkit {

// ---- Window -------------------------------------------------------------------------------

Window::Window(ViewController* content, QWidget* parent) : QDialog(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (content) setContentViewController(content);
}

Window::~Window() {
    detail::windowDestroyed(this);
    // A content that is still on screen leaves it now, so what it registered when it appeared
    // is given back.
    if (content_) {
        content_->beginDisappearance();
        content_->endDisappearance();
    }
}

void Window::setContentViewController(ViewController* content) {
    if (content == content_.data()) return;
    if (ViewController* old = content_.data()) {
        old->beginDisappearance();
        layout()->removeWidget(old);
        old->hide();
        old->endDisappearance();
        old->setParent(nullptr);
        // Later: the old content may be the one asking for the change.
        old->deleteLater();
    }
    content_ = content;
    if (!content) return;
    content->setParent(this);
    layout()->addWidget(content);
    content->view();
    if (!content->title().isEmpty()) setWindowTitle(content->title());
    const bool onScreen = shown_ && isVisible();
    if (onScreen) content->beginAppearance();
    content->show();
    if (onScreen) content->endAppearance();
}

void Window::setEmptyTitle() { setWindowTitle(QStringLiteral(" ")); }

void Window::aboutToShow() {
    if (!content_) return;
    content_->view();
    content_->beginAppearance();
}

void Window::didShow() {
    shown_ = true;
    if (content_) content_->endAppearance();
}

void Window::makeKeyAndOrderFront() {
    if (!isVisible() || !shown_) {
        aboutToShow();
        show();
        didShow();
    }
    raise();
    activateWindow();
}

void Window::performClose() {
    if (closing_ || (!shown_ && !isVisible())) return;
    closing_ = true;
    QPointer<Window> self(this);
    if (willClose_) {
        auto handler = willClose_;  // the handler may replace itself
        handler();
        if (!self) return;
    }
    if (auto* controller = windowController()) {
        controller->windowWillClose();
        if (!self) return;
    }
    if (content_) content_->beginDisappearance();
    hide();
    if (content_) content_->endDisappearance();
    shown_ = false;
    closing_ = false;
    if (testAttribute(Qt::WA_DeleteOnClose)) deleteLater();
}

WindowController* Window::windowController() const {
    return static_cast<WindowController*>(windowController_.data());
}

// Closing a window does not end the modal session run for it: the system's own dialogs close
// their window and then abort the session themselves. A window the user closes (close button,
// Escape) would however leave the application stuck in a session whose window is gone, so
// that closing also aborts the session, but only when this window's session is the innermost
// one (aborting always ends the innermost session).
void Window::userClose() {
    const bool endsSession = modalWindow() == this;
    performClose();
    if (endsSession) abortModal();
}

void Window::closeEvent(QCloseEvent* event) {
    // Spontaneous: from the window system (the close button); otherwise the program's close().
    if (event->spontaneous()) {
        userClose();
    } else {
        performClose();
    }
    event->accept();
}

void Window::reject() { userClose(); }

// ---- WindowController ---------------------------------------------------------------------

WindowController::WindowController(Window* window, QObject* parent) : QObject(parent) {
    if (window) adopt(window);
}

WindowController::~WindowController() { release(); }

Window* WindowController::window() {
    if (!window_) {
        if (Window* made = makeWindow()) {
            made->madeByController_ = true;
            adopt(made);
        }
    }
    if (window_ && !loaded_) {
        loaded_ = true;
        windowDidLoad();
    }
    return window_;
}

void WindowController::setWindow(Window* window) {
    if (window) {
        adopt(window);
    } else {
        release();
    }
}

ViewController* WindowController::contentViewController() {
    Window* w = window();
    return w ? w->contentViewController() : nullptr;
}

Window* WindowController::makeWindow() { return new Window(); }

void WindowController::showWindow() {
    Window* w = window();
    if (!w) return;
    if (!w->isVisible()) w->setWindowModality(Qt::NonModal);
    w->makeKeyAndOrderFront();
}

void WindowController::close() {
    if (window_) window_->performClose();
}

void WindowController::adopt(Window* window) {
    if (window == window_.data()) {
        window->windowController_ = this;
        return;
    }
    release();
    window_ = window;
    ++window->controllerHolds_;
    window->windowController_ = this;
}

void WindowController::release() {
    Window* w = window_.data();
    window_ = nullptr;
    if (!w) return;
    --w->controllerHolds_;
    if (w->windowController_.data() == this) w->windowController_ = nullptr;
    if (w->controllerHolds_ > 0 || !w->madeByController_) return;
    // A window on screen may be in the middle of its own event handling: delete it later.
    if (w->isVisible()) {
        w->deleteLater();
    } else {
        delete w;
    }
}

}  // namespace appkit
