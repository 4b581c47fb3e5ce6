#pragma once
// The right pane of the main window: shows one panel at a time, switched by the left list.
#include <QPointer>

#include "app/LeftSplitViewDelegate.h"
#include "platform/appkit/ViewController.h"

namespace hvb {

class RightSplitViewController : public appkit::ViewController, public LeftSplitViewDelegate {
    Q_OBJECT
public:
    static constexpr int kBackgroundGrey = 227;

    explicit RightSplitViewController(QWidget* parent = nullptr);
    ~RightSplitViewController() override;

    void replaceRightView(QWidget* view) override;
    // The panel shown now.
    QWidget* currentView() const { return current_.data(); }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;
    void viewDidDisappear() override;

private:
    QPointer<QWidget> current_;
    bool onScreen_ = false;
};

}  // namespace hvb
