#include "app/PanelCollectionView.h"

#include <QVBoxLayout>

#include "app/LeftSplitViewItems.h"

namespace hvb {

PanelCollectionView::PanelCollectionView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
}

void PanelCollectionView::reloadData(int count, const std::function<LeftSplitViewItems*(int)>& make) {
    for (auto* item : items_) delete item;
    items_.clear();
    auto* box = static_cast<QVBoxLayout*>(layout());
    for (int i = 0; i < count; ++i) {
        LeftSplitViewItems* item = make(i);
        items_.push_back(item);
        if (!item) continue;
        item->setParent(this);
        box->insertWidget(i, item->view());
        connect(item, &LeftSplitViewItems::clicked, this, [this, i](int) { userClicked(i); });
    }
}

LeftSplitViewItems* PanelCollectionView::itemAtIndex(int index) const {
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return items_[static_cast<size_t>(index)];
}

void PanelCollectionView::selectItems(const std::set<int>& indexes) { selection_.insert(indexes.begin(), indexes.end()); }

void PanelCollectionView::deselectItems(const std::set<int>& indexes) {
    for (int i : indexes) selection_.erase(i);
}

void PanelCollectionView::userClicked(int index) {
    if (!selectable_ || index < 0 || index >= numberOfItems()) return;
    if (selection_ == std::set<int>{index}) return;
    std::set<int> previous = selection_;
    selection_ = {index};
    if (!previous.empty() && delegate_.didDeselect) delegate_.didDeselect(previous);
    if (delegate_.didSelect) delegate_.didSelect({index});
}

}  // namespace hvb
