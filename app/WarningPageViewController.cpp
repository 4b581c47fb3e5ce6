#include "app/WarningPageViewController.h"

#include <QLabel>
#include <QVBoxLayout>

#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "platform/appkit/Assets.h"

namespace hvb {

WarningPageViewController::WarningPageViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("WarningPageViewController");
}

void WarningPageViewController::loadView() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->addStretch(1);
    auto* icon = new QLabel(this);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(appkit::Assets::image("failIcon", QSize(64, 64)));
    layout->addWidget(icon);
    warningMessage = new QLabel(this);
    warningMessage->setTextFormat(Qt::PlainText);
    warningMessage->setAlignment(Qt::AlignCenter);
    warningMessage->setWordWrap(true);
    QFont font = warningMessage->font();
    font.setPointSizeF(font.pointSizeF() + 4);
    font.setBold(true);
    warningMessage->setFont(font);
    layout->addWidget(warningMessage);
    layout->addStretch(2);
}

void WarningPageViewController::viewDidLoad() {
    warningMessage->setText(localizedMessage("Multiple devices detected! Please use only one device."));
}

void WarningPageViewController::viewWillAppear() {
    usageReports()->logScreen("Warning", "WarningPageViewController");
}

}  // namespace hvb
