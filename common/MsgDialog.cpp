#include "common/MsgDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Assets.h"
#include "platform/appkit/Storyboard.h"

namespace hvb {

bool msgDialogIsSuccess = false;
QString msgDialogTitle;
QString msgDialogText;

void MsgDialogWindowController::showModal(appkit::Window* window) {
    setWindow(window);
    appkit::runModalForWindow(window);
}

appkit::Window* MsgDialogWindowController::makeWindow() { return new appkit::Window(new MsgDialogViewController()); }

MsgDialogViewController::MsgDialogViewController(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("MsgDialogViewController");
}

void MsgDialogViewController::loadView() {
    setMinimumWidth(420);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(24, 20, 24, 16);
    outer->setSpacing(16);
    auto* row = new QHBoxLayout();
    row->setSpacing(18);
    MsgIcon = new QLabel(this);
    MsgIcon->setFixedSize(56, 56);
    MsgIcon->setAlignment(Qt::AlignCenter);
    row->addWidget(MsgIcon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(8);
    MsgTitle = new QLabel(this);
    MsgTitle->setTextFormat(Qt::PlainText);
    MsgTitle->setWordWrap(true);
    QFont titleFont = MsgTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() + 2);
    MsgTitle->setFont(titleFont);
    MsgText = new QLabel(this);
    MsgText->setTextFormat(Qt::PlainText);
    MsgText->setWordWrap(true);
    texts->addWidget(MsgTitle);
    texts->addWidget(MsgText);
    texts->addStretch(1);
    row->addLayout(texts, 1);
    outer->addLayout(row, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttonCancel = new QPushButton(this);
    buttonOK = new QPushButton(this);
    buttonOK->setDefault(true);
    buttons->addWidget(buttonCancel);
    buttons->addWidget(buttonOK);
    outer->addLayout(buttons);
    connect(buttonOK, &QPushButton::clicked, this, [this] { ButtonOK_Click(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] { ButtonCancel_Click(); });
}

void MsgDialogViewController::viewDidLoad() {
    buttonOK->setText(localizedCommonString("OK"));
    buttonCancel->setText(localizedCommonString("Cancel"));
    MsgText->setText(msgDialogText);
    iconName_ = msgDialogIsSuccess ? QStringLiteral("successIcon") : QStringLiteral("failIcon");
    MsgIcon->setPixmap(appkit::Assets::image(iconName_.toStdString(), QSize(56, 56)));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(227, 227, 227));
    setPalette(palette);
}

void MsgDialogViewController::viewWillAppear() { usageReports()->logScreen("Dialog", "MsgDialogViewController"); }

void MsgDialogViewController::viewDidAppear() {
    if (auto* w = hostWindow()) w->setEmptyTitle();
    MsgTitle->setText(msgDialogTitle);
}

void MsgDialogViewController::ButtonOK_Click() {
    if (auto* w = hostWindow()) w->performClose();
    appkit::abortModal();
}

void MsgDialogViewController::ButtonCancel_Click() {
    if (auto* w = hostWindow()) w->performClose();
    appkit::abortModal();
}

void showMessageDialog(bool isSuccess, const QString& title, const QString& text) {
    msgDialogIsSuccess = isSuccess;
    msgDialogTitle = title;
    msgDialogText = text;
    auto* fromStoryboard =
        appkit::Storyboard::main().instantiateController<MsgDialogWindowController>("MsgDialogWindowController");
    if (!fromStoryboard) return;
    appkit::Window* window = fromStoryboard->window();
    MsgDialogWindowController controller(window);
    controller.showModal(window);
    delete fromStoryboard;
}

}  // namespace hvb
