#include "app/RightSplitViewController.h"

#include <QVBoxLayout>

#include "app/LeftSplitViewController.h"
#include "app/RightViewContainer.h"
#include "platform/foundation/Bundle.h"

namespace hvb {

RightSplitViewController::RightSplitViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("RightSplitViewController");
}

RightSplitViewController::~RightSplitViewController() {
    // The panels outlive this pane; only the pane itself goes.
    if (current_) {
        current_->hide();
        current_->setParent(nullptr);
    }
}

void RightSplitViewController::loadView() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

void RightSplitViewController::viewDidLoad() {
    replaceRightView(RightViewContainer::statusViewController());
    LeftSplitViewController::setDelegate(this);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(kBackgroundGrey, kBackgroundGrey, kBackgroundGrey));
    setPalette(palette);
}

void RightSplitViewController::viewWillAppear() {
    onScreen_ = true;
    if (auto* panel = qobject_cast<appkit::ViewController*>(current_.data())) panel->beginAppearance();
}

void RightSplitViewController::viewWillDisappear() {
    if (auto* panel = qobject_cast<appkit::ViewController*>(current_.data())) panel->beginDisappearance();
}

void RightSplitViewController::viewDidDisappear() {
    onScreen_ = false;
    if (auto* panel = qobject_cast<appkit::ViewController*>(current_.data())) panel->endDisappearance();
}

void RightSplitViewController::viewDidAppear() {
    if (auto* panel = qobject_cast<appkit::ViewController*>(current_.data())) panel->endAppearance();
    if (QWidget* top = window()) {
        top->setWindowTitle(QString::fromStdString(foundation::Bundle::main().infoString("CFBundleName").value_or("")));
    }
}

void RightSplitViewController::replaceRightView(QWidget* view) {
    if (view == current_.data()) {
        // Still the same panel: it stays; nothing leaves or appears.
        return;
    }
    auto* oldController = qobject_cast<appkit::ViewController*>(current_.data());
    auto* newController = qobject_cast<appkit::ViewController*>(view);
    const bool visible = onScreen_;
    if (current_) {
        if (oldController && oldController->isAppeared()) oldController->beginDisappearance();
        layout()->removeWidget(current_);
        current_->hide();
        current_->setParent(nullptr);
        if (oldController) oldController->endDisappearance();
    }
    current_ = view;
    if (!view) return;
    if (newController) newController->view();
    if (newController && visible) newController->beginAppearance();
    layout()->addWidget(view);
    view->show();
    if (newController && visible) newController->endAppearance();
}

}  // namespace hvb
