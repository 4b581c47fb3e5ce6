#include "app/PanelCollectionView.h"

#include <QKeyEvent>
#include <QVBoxLayout>

#include "app/LeftSplitViewItems.h"

namespace hvb {

PanelCollectionView::PanelCollectionView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
    setFocusPolicy(Qt::TabFocus);
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

void PanelCollectionView::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Up ? -1 : event->key() == Qt::Key_Down ? 1 : 0;
    if (step == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (!selection_.empty()) userClicked(*selection_.begin() + step);
}

void PanelCollectionView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    updateItems();
}

void PanelCollectionView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    updateItems();
}

void PanelCollectionView::updateItems() {
    for (auto* item : items_)
        if (item) item->update();
}

}  // namespace hvb
