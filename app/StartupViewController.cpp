#include "app/StartupViewController.h"

#include <QVBoxLayout>

#include "online/UsageReports.h"

namespace hvb {

StartupViewController::StartupViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("StartupViewController");
}

void StartupViewController::loadView() {
    auto* layout = new QVBoxLayout(this);
    logoView = new QWidget(this);
    logoView->setFixedSize(160, 160);
    layout->addStretch(1);
    layout->addWidget(logoView, 0, Qt::AlignCenter);
    layout->addStretch(1);
}

void StartupViewController::viewDidLoad() {
    logoView->setAutoFillBackground(true);
    QPalette palette = logoView->palette();
    palette.setColor(QPalette::Window, QColor(142, 142, 147));
    logoView->setPalette(palette);
}

void StartupViewController::viewWillAppear() { usageReports()->logScreen("Startup", "StartupViewController"); }

}  // namespace hvb
