#pragma once
// The page the right pane shows while two or more cameras are attached.
#include <QPointer>

#include "platform/appkit/ViewController.h"

class QLabel;

namespace hvb {

class WarningPageViewController : public appkit::ViewController {
    Q_OBJECT
public:
    explicit WarningPageViewController(QWidget* parent = nullptr);
    QPointer<QLabel> warningMessage;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
};

}  // namespace hvb
