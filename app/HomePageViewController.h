#pragma once
// A home page with a patterned background; nothing in the application opens it.
#include "platform/appkit/ViewController.h"

namespace hvb {

class HomePageViewController : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr const char* kPatternImage = "bg_machvb_proposal2 ";
    explicit HomePageViewController(QWidget* parent = nullptr);

    void viewDidLoad() override;
    void viewWillAppear() override;
};

}  // namespace hvb
