#include "tools/MSDCRecoverMsgViewController.h"

#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSequentialAnimationGroup>
#include <QTimer>
#include <QVBoxLayout>

#include "camera/DeviceState.h"
#include "common/GraphView.h"
#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "platform/appkit/Assets.h"
#include "tools/DialogRegistry.h"

namespace hvb {

MSDCRecoverMsgViewController::MSDCRecoverMsgViewController() : appkit::ViewController(nullptr) {
    setObjectName("MSDCRecoverMsgViewController");
}

MSDCRecoverMsgViewController::~MSDCRecoverMsgViewController() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
}

void MSDCRecoverMsgViewController::loadView() {
    setFixedSize(kImageSide * 4 / 3, 450);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);

    doneButton = new QPushButton(localizedCommonString("OK"), this);
    doneButton->setDefault(true);  // Return
    doneButton->setMinimumWidth(90);
    deviceImg = new QLabel(this);
    deviceImg->setFixedSize(kImageSide, kImageSide);
    deviceImg->setScaledContents(true);
    deviceImg->setPixmap(appkit::Assets::image("img_hvb_homepage_hvbs2", QSize(kImageSide, kImageSide)));
    tipMsgLabel = new QLabel(this);
    tipMsgLabel->setTextFormat(Qt::PlainText);
    tipMsgLabel->setText(LocalizedString::Webcam::Msg::recoverMsdcHint());
    tipMsgLabel->setWordWrap(true);
    tipMsgLabel->setAlignment(Qt::AlignCenter);
    QFont font = tipMsgLabel->font();
    font.setPixelSize(16);
    tipMsgLabel->setFont(font);
    QPalette text = tipMsgLabel->palette();
    text.setColor(QPalette::WindowText, QColor(26, 26, 26));
    tipMsgLabel->setPalette(text);
    circle = new GraphView(deviceImg);
    QPointer<GraphView> drawn = circle;
    // The whole oval, whatever part of the view is repainted.
    circle->setDrawHandler([drawn](QPainter& painter, const QRectF&) {
        if (drawn) drawOvalStroke(painter, QRectF(drawn->rect()), appkit::colors::systemRed(), 5.0);
    });
    connect(doneButton, &QPushButton::clicked, this, [this] { doneButtonDidTap(); });
}

void MSDCRecoverMsgViewController::viewDidLoad() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(15, 15, 15, 15);
    root->setSpacing(0);
    auto* stack = new QVBoxLayout();
    stack->setSpacing(10);
    stack->addWidget(deviceImg, 0, Qt::AlignHCenter);
    stack->addWidget(tipMsgLabel);
    root->addStretch(1);
    root->addLayout(stack);
    root->addStretch(1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(doneButton);
    root->addLayout(buttons);
    // A fifth of the picture wide, its centre 35 below the picture's centre.
    const int side = kImageSide / 5;
    circle->setGeometry((kImageSide - side) / 2, kImageSide / 2 + 35 - side / 2, side, side);
}

void MSDCRecoverMsgViewController::viewWillAppear() {
    if (auto* window = hostWindow()) window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    usageReports()->logScreen("MSDC Recover", "MSDCRecoverMsgViewController");
    if (!statusToken_) {
        QPointer<MSDCRecoverMsgViewController> self(this);
        statusToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
            kStatusDidGet, [self](const foundation::Notification&) {
                if (self) self->refresh();
            });
    }
    QTimer::singleShot(kBlinkStartMs, this, [this] {
        if (isAppeared()) startBlinking();
    });
}

void MSDCRecoverMsgViewController::viewWillDisappear() {
    if (statusToken_) foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
    statusToken_ = 0;
    if (blink_) blink_->stop();
}

void MSDCRecoverMsgViewController::startBlinking() {
    if (!blink_) {
        auto* effect = new QGraphicsOpacityEffect(circle);
        effect->setOpacity(1.0);
        circle->setGraphicsEffect(effect);
        blink_ = new QSequentialAnimationGroup(this);
        for (auto [from, to] : {std::pair{1.0, 0.0}, std::pair{0.0, 1.0}}) {
            auto* half = new QPropertyAnimation(effect, "opacity", blink_);
            half->setStartValue(from);
            half->setEndValue(to);
            half->setDuration(kBlinkHalfMs);
            half->setEasingCurve(QEasingCurve::InQuad);
            blink_->addAnimation(half);
        }
        blink_->setLoopCount(-1);
    }
    blink_->start();
}

bool MSDCRecoverMsgViewController::isBlinking() const {
    return blink_ && blink_->state() == QAbstractAnimation::Running;
}

void MSDCRecoverMsgViewController::doneButtonDidTap() { closeDialogWindow(this); }

void MSDCRecoverMsgViewController::refresh() { doneButtonDidTap(); }

}  // namespace hvb
