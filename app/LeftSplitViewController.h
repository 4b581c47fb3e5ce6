#pragma once
// The left list of the main window: three entries (Status, Setting, Tool), the selection that
// switches the right pane, and the device-count rule that locks the list.
#include <set>

#include <QPointer>
#include <QPixmap>
#include <QStringList>

#include "app/LeftSplitViewDelegate.h"
#include "platform/appkit/ViewController.h"
#include "platform/foundation/NotificationCenter.h"

namespace hvb {

class PanelCollectionView;
class LeftSplitViewItems;

// The entries' titles and pictures, by entry number.
struct Selections {
    static const QStringList& itemTitles();
    static const std::vector<QPixmap>& itemImages();
};

class LeftSplitViewController : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr int kItemCount = 3;

    explicit LeftSplitViewController(QWidget* parent = nullptr);
    ~LeftSplitViewController() override;

    // The process-wide slot of the right pane; empty until the right pane has loaded.
    static LeftSplitViewDelegate* delegate();
    static void setDelegate(QObject* paneController);

    PanelCollectionView* collectionView() const { return collectionView_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewDidAppear() override;

    void didSelectItems(const std::set<int>& indexPaths);
    void didDeselectItems(const std::set<int>& indexPaths);
    // The device-count rule, on every "statusDidGet".
    void CheckDeviceNum();

private:
    LeftSplitViewItems* makeItem(int index);
    void switchPane(int index);

    PanelCollectionView* collectionView_ = nullptr;
    foundation::NotificationCenter::Token statusToken_ = 0;
};

}  // namespace hvb
