#include "platform/appkit/ViewController.h"

#include <QResizeEvent>

#include "platform/appkit/Window.h"

namespace appkit {

ViewController::ViewController(QWidget* parent) : QWidget(parent) {}

ViewController::~ViewController() = default;

QWidget* ViewController::view() {
    ensureLoaded();
    return this;
}

void ViewController::ensureLoaded() {
    // loading_ keeps a loadView that asks for view() from loading twice.
    if (viewLoaded_ || loading_) return;
    loading_ = true;
    loadView();
    loading_ = false;
    viewLoaded_ = true;
    viewDidLoad();
}

Window* ViewController::hostWindow() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* window = qobject_cast<Window*>(w)) return window;
    }
    return nullptr;
}

void ViewController::beginAppearance() {
    if (appeared_ || appearing_) return;
    ensureLoaded();
    disappearing_ = false;
    appearing_ = true;
    viewWillAppear();
}

void ViewController::endAppearance() {
    if (appeared_) return;
    if (!appearing_) {
        // A "did" without its "will": report both, so the pair stays complete.
        beginAppearance();
        if (!appearing_) return;
    }
    appearing_ = false;
    appeared_ = true;
    viewDidAppear();
}

void ViewController::beginDisappearance() {
    if (disappearing_ || !(appeared_ || appearing_)) return;
    disappearing_ = true;
    viewWillDisappear();
}

void ViewController::endDisappearance() {
    if (!disappearing_) {
        if (!(appeared_ || appearing_)) return;
        beginDisappearance();
        if (!disappearing_) return;
    }
    disappearing_ = false;
    appearing_ = false;
    appeared_ = false;
    viewDidDisappear();
}

void ViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (viewLoaded_) viewWillLayout();
}

void ViewController::presentViewControllerAsModalWindow(ViewController* controller) {
    if (!controller || controller == this) return;
    // Over the presenter's window, so it stays in front of it and goes away with it.
    auto* window = new Window(nullptr, this->window());
    window->setAttribute(Qt::WA_DeleteOnClose);  // performClose deletes it later
    window->setWindowModality(Qt::ApplicationModal);
    window->setContentViewController(controller);
    if (controller->title().isEmpty()) {
        window->setEmptyTitle();
    } else {
        window->setWindowTitle(controller->title());
    }
    controller->presentation_ = window;
    window->makeKeyAndOrderFront();
}

void ViewController::dismissController() {
    if (auto* window = qobject_cast<Window*>(presentation_.data())) window->performClose();
}

}  // namespace appkit
