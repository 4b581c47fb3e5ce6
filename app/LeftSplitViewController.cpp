#include "app/LeftSplitViewController.h"

#include <QPalette>
#include <QVBoxLayout>

#include "app/LeftSplitViewItems.h"
#include "app/PanelCollectionView.h"
#include "app/RightViewContainer.h"
#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "platform/appkit/Assets.h"

namespace hvb {

namespace {

QPointer<QObject>& delegateSlot() {
    static QPointer<QObject> slot;
    return slot;
}

const QColor kListBackground(205, 205, 209);
const QColor kDisabledTitle(LeftSplitViewItems::kDisabledGrey, LeftSplitViewItems::kDisabledGrey,
                            LeftSplitViewItems::kDisabledGrey);

}  // namespace

const QStringList& Selections::itemTitles() {
    static const QStringList titles = {localizedCommonString("Status"), localizedCommonString("Settings"),
                                       localizedCommonString("Tools")};
    return titles;
}

const std::vector<QPixmap>& Selections::itemImages() {
    static const std::vector<QPixmap> images = {appkit::Assets::image("Status_DeSelect", QSize(40, 40)),
                                                appkit::Assets::image("Setting_DeSelect", QSize(40, 40)),
                                                appkit::Assets::image("Tool_DeSelect", QSize(40, 40))};
    return images;
}

LeftSplitViewController::LeftSplitViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("LeftSplitViewController");
}

LeftSplitViewController::~LeftSplitViewController() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
}

LeftSplitViewDelegate* LeftSplitViewController::delegate() {
    return dynamic_cast<LeftSplitViewDelegate*>(delegateSlot().data());
}

void LeftSplitViewController::setDelegate(QObject* paneController) { delegateSlot() = paneController; }

void LeftSplitViewController::loadView() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    collectionView_ = new PanelCollectionView(this);
    layout->addWidget(collectionView_);
}

void LeftSplitViewController::viewDidLoad() {
    collectionView_->setDelegate({[this](const std::set<int>& s) { didSelectItems(s); },
                                  [this](const std::set<int>& s) { didDeselectItems(s); }});
    collectionView_->setSelectable(false);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kListBackground);
    setPalette(palette);
    collectionView_->reloadData(kItemCount, [this](int index) { return makeItem(index); });
    // Kept for the controller's life (removed only when the controller itself goes).
    statusToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
        kStatusDidGet, [this](const foundation::Notification&) { CheckDeviceNum(); });
}

LeftSplitViewItems* LeftSplitViewController::makeItem(int index) {
    auto* item = new LeftSplitViewItems();
    item->text = Selections::itemTitles().value(index);
    item->image = Selections::itemImages().at(static_cast<size_t>(index));
    item->itemIndex = index;
    item->setTitleColor(index == 0 ? QColor(Qt::black) : kDisabledTitle);
    item->beginAppearance();
    item->endAppearance();
    return item;
}

void LeftSplitViewController::switchPane(int index) {
    LeftSplitViewDelegate* pane = delegate();
    if (!pane) return;
    switch (index) {
        case 0: pane->replaceRightView(RightViewContainer::statusViewController()); break;
        case 1: pane->replaceRightView(RightViewContainer::settingsViewController()); break;
        case 2: pane->replaceRightView(RightViewContainer::toolViewController()); break;
        default: break;
    }
}

void LeftSplitViewController::didSelectItems(const std::set<int>& indexPaths) {
    if (indexPaths.empty()) return;
    const int index = *indexPaths.begin();
    LeftSplitViewItems* item = collectionView_->itemAtIndex(index);
    if (!item) return;
    item->setSelected(true, index);
    switchPane(index);
}

void LeftSplitViewController::didDeselectItems(const std::set<int>& indexPaths) {
    if (indexPaths.empty()) return;
    const int index = *indexPaths.begin();
    LeftSplitViewItems* item = collectionView_->itemAtIndex(index);
    if (!item) return;
    item->setSelected(false, index);
}

void LeftSplitViewController::viewDidAppear() {
    for (int i = 0; i < kItemCount; ++i) didDeselectItems({i});
    didSelectItems({0});
    collectionView_->setSelectionIndexes({0});
}

void LeftSplitViewController::CheckDeviceNum() {
    view();
    const auto models = cameraLink()->modelList();
    const size_t n = models.size();
    const int count = collectionView_->numberOfItems();
    if (n >= 2) {
        collectionView_->setSelectable(false);
        if (LeftSplitViewDelegate* pane = delegate()) {
            pane->replaceRightView(RightViewContainer::warningPageViewController());
        }
        for (int i = 0; i < count; ++i) {
            if (auto* item = collectionView_->itemAtIndex(i)) {
                item->isEnabled = false;
                item->setTitleColor(kDisabledTitle);
            }
        }
        return;
    }
    if (n == 1 && models.front() && !models.front()->isWebcamMode) {
        collectionView_->setSelectable(true);
        const auto& selection = collectionView_->selectionIndexes();
        if (selection.empty()) return;
        switchPane(*selection.begin());
        for (int i = 0; i < count; ++i) {
            if (auto* item = collectionView_->itemAtIndex(i)) {
                item->isEnabled = true;
                item->setTitleColor(Qt::black);
            }
        }
        return;
    }
    collectionView_->setSelectable(false);
    const auto selection = collectionView_->selectionIndexes();
    if (selection.empty()) return;
    const int s = *selection.begin();
    didDeselectItems({s});
    collectionView_->deselectItems({s});
    didSelectItems({0});
    collectionView_->selectItems({0});
    for (int i = 1; i < count; ++i) {
        if (auto* item = collectionView_->itemAtIndex(i)) {
            item->isEnabled = false;
            item->setTitleColor(kDisabledTitle);
        }
    }
    if (auto* first = collectionView_->itemAtIndex(0)) {
        first->isEnabled = true;
        first->updateTextColor();
    }
}

}  // namespace hvb
