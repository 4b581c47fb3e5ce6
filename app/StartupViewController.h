#pragma once
// A start page with a logo area; nothing in the application opens it.
#include <QPointer>

#include "platform/appkit/ViewController.h"

namespace hvb {

class StartupViewController : public appkit::ViewController {
    Q_OBJECT
public:
    explicit StartupViewController(QWidget* parent = nullptr);
    QPointer<QWidget> logoView;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
};

}  // namespace hvb
