#include "platform/services/qt/UpdateOfferDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QCloseEvent>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace services {
namespace {

// Every text here comes from the bundle or the web: never rich text.
QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

}  // namespace

UpdateOfferDialog::UpdateOfferDialog(const QString& appName, const QString& newVersion,
                                     const QString& currentVersion, const QString& link, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Software Update"));
    setObjectName("UpdateOfferDialog");

    auto* headline = plainLabel(tr("A new version of %1 is available").arg(appName), this);
    headline->setObjectName("headline");
    QFont bold = headline->font();
    bold.setBold(true);
    headline->setFont(bold);
    auto* versions = plainLabel(tr("%1 %2 is now available (you have %3). Get it here:")
                                    .arg(appName, newVersion, currentVersion.isEmpty() ? tr("an unknown version") : currentVersion),
                                this);
    versions->setObjectName("versionLine");
    linkLabel_ = plainLabel(link, this);
    linkLabel_->setObjectName("link");
    linkLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    openButton_ = new QPushButton(tr("Open Download Page"), this);
    openButton_->setObjectName("openButton");
    openButton_->setDefault(true);
    skipButton_ = new QPushButton(tr("Skip This Version"), this);
    skipButton_->setObjectName("skipButton");
    laterButton_ = new QPushButton(tr("Remind Me Later"), this);
    laterButton_->setObjectName("laterButton");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(skipButton_);
    buttons->addStretch(1);
    buttons->addWidget(laterButton_);
    buttons->addWidget(openButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(headline);
    layout->addWidget(versions);
    layout->addWidget(linkLabel_);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    connect(openButton_, &QPushButton::clicked, this, [this] { answer(Answer::openLink); });
    connect(skipButton_, &QPushButton::clicked, this, [this] { answer(Answer::skipThisVersion); });
    connect(laterButton_, &QPushButton::clicked, this, [this] { answer(Answer::remindMeLater); });
}

void UpdateOfferDialog::answer(Answer a) {
    if (answered_) return;
    answered_ = true;
    // Closed first, so that whatever the answer starts (an alert, a browser) is not behind it.
    QPointer<UpdateOfferDialog> guard(this);
    QDialog::done(a == Answer::openLink ? Accepted : Rejected);
    if (guard) emit answered(a);
}

void UpdateOfferDialog::done(int result) {
    // Escape or the window's close button: the user postpones.
    if (!answered_) {
        answer(Answer::remindMeLater);
        return;
    }
    QDialog::done(result);
}

void UpdateOfferDialog::closeEvent(QCloseEvent* event) {
    if (!event->spontaneous()) answered_ = true;
    QDialog::closeEvent(event);
}

}  // namespace services
