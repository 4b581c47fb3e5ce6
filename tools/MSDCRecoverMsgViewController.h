#pragma once
// How to bring a camera back into its storage mode: the camera's picture with a blinking red
// circle where the buttons are, a hint and OK. Closes by itself when the cameras change.
#include <QPointer>

#include "platform/appkit/ViewController.h"
#include "platform/foundation/NotificationCenter.h"

class QLabel;
class QPushButton;
class QSequentialAnimationGroup;

namespace hvb {

class GraphView;

class MSDCRecoverMsgViewController : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr int kImageSide = 300;
    static constexpr int kBlinkStartMs = 500;
    static constexpr int kBlinkHalfMs = 1000;

    MSDCRecoverMsgViewController();
    ~MSDCRecoverMsgViewController() override;

    QPointer<QPushButton> doneButton;
    QPointer<QLabel> deviceImg;
    QPointer<QLabel> tipMsgLabel;
    QPointer<GraphView> circle;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;

    void doneButtonDidTap();
    void refresh();

    bool isObservingStatus() const { return statusToken_ != 0; }
    bool isBlinking() const;

private:
    void startBlinking();
    foundation::NotificationCenter::Token statusToken_ = 0;
    QPointer<QSequentialAnimationGroup> blink_;
};

}  // namespace hvb
