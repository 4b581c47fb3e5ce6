#pragma once
// The left list's collection: a fixed column of entries with a selection set and a selectable
// switch. Clicks reach the delegate only while the collection is selectable; code changes the
// selection without any callback. Tab gives it the focus, which its selected entry shows, and the
// Up and Down keys select the entry above or below as a click on it does.
#include <functional>
#include <set>
#include <vector>

#include <QWidget>

namespace hvb {

class LeftSplitViewItems;

class PanelCollectionView : public QWidget {
    Q_OBJECT
public:
    struct Delegate {
        std::function<void(const std::set<int>&)> didSelect;
        std::function<void(const std::set<int>&)> didDeselect;
    };

    explicit PanelCollectionView(QWidget* parent = nullptr);

    void setDelegate(Delegate delegate) { delegate_ = std::move(delegate); }
    // Creates the entries through `make` (the data source), one per index.
    void reloadData(int count, const std::function<LeftSplitViewItems*(int index)>& make);

    int numberOfItems() const { return static_cast<int>(items_.size()); }
    // The entry at an index, or nullptr when none was created there.
    LeftSplitViewItems* itemAtIndex(int index) const;

    bool isSelectable() const { return selectable_; }
    void setSelectable(bool selectable) { selectable_ = selectable; }
    const std::set<int>& selectionIndexes() const { return selection_; }
    void setSelectionIndexes(std::set<int> indexes) { selection_ = std::move(indexes); }
    void selectItems(const std::set<int>& indexes);
    void deselectItems(const std::set<int>& indexes);

    // A user click on an entry (what a mouse press does).
    void userClicked(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void updateItems();

    Delegate delegate_;
    std::vector<LeftSplitViewItems*> items_;
    std::set<int> selection_;
    bool selectable_ = true;
};

}  // namespace hvb
