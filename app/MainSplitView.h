#pragma once
// The main window's two columns: the left list and the right pane, with a fixed divider that
// cannot be dragged.
#include "platform/appkit/ViewController.h"

namespace hvb {

class LeftSplitViewController;
class RightSplitViewController;

class MainSplitView : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr int kDividerGrey = 227;
    static constexpr int kLeftColumnWidth = 180;

    explicit MainSplitView(QWidget* parent = nullptr);

    LeftSplitViewController* leftController() const { return left_; }
    RightSplitViewController* rightController() const { return right_; }

    void loadView() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;
    void viewDidDisappear() override;

private:
    LeftSplitViewController* left_ = nullptr;
    RightSplitViewController* right_ = nullptr;
};

}  // namespace hvb
