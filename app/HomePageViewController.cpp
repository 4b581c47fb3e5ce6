#include "app/HomePageViewController.h"

#include "online/UsageReports.h"
#include "platform/appkit/Assets.h"

namespace hvb {

HomePageViewController::HomePageViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("HomePageViewController");
}

void HomePageViewController::viewDidLoad() { setAutoFillBackground(true); }

void HomePageViewController::viewWillAppear() {
    QPixmap tile = appkit::Assets::image(kPatternImage);
    if (!tile.isNull()) {
        QPalette palette = this->palette();
        palette.setBrush(QPalette::Window, QBrush(tile));
        setPalette(palette);
    }
    usageReports()->logScreen("Home Page", "HomePageViewController");
}

}  // namespace hvb
