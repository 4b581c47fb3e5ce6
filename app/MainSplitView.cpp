#include "app/MainSplitView.h"

#include <QFrame>
#include <QHBoxLayout>

#include "app/LeftSplitViewController.h"
#include "app/RightSplitViewController.h"

namespace hvb {

MainSplitView::MainSplitView(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("MainSplitView");
    view();
}

void MainSplitView::loadView() {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    left_ = new LeftSplitViewController(this);
    left_->setFixedWidth(kLeftColumnWidth);
    // A plain line, not a splitter handle: the divider has no area for the mouse.
    auto* divider = new QFrame(this);
    divider->setObjectName("dividerColor");
    divider->setFixedWidth(1);
    divider->setAutoFillBackground(true);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::Window, QColor(kDividerGrey, kDividerGrey, kDividerGrey));
    divider->setPalette(palette);
    right_ = new RightSplitViewController(this);
    layout->addWidget(left_->view());
    layout->addWidget(divider);
    layout->addWidget(right_->view(), 1);
}

void MainSplitView::viewWillAppear() {
    left_->beginAppearance();
    right_->beginAppearance();
}

void MainSplitView::viewDidAppear() {
    left_->endAppearance();
    right_->endAppearance();
}

void MainSplitView::viewWillDisappear() {
    left_->beginDisappearance();
    right_->beginDisappearance();
}

void MainSplitView::viewDidDisappear() {
    left_->endDisappearance();
    right_->endDisappearance();
}

}  // namespace hvb
