#include "tools/PasswordChangeViewControl.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/LocalizedString.h"
#include "online/UsageReports.h"
#include "tools/DialogRegistry.h"

namespace hvb {

using LocalizedString::Str;

PasswordChangeViewControl::PasswordChangeViewControl(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("PasswordChangeViewControl");
}

void PasswordChangeViewControl::loadView() {
    setFixedWidth(440);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(24, 20, 24, 16);
    outer->setSpacing(16);
    auto* form = new QFormLayout();
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(12);
    form->setVerticalSpacing(10);
    originalPasswordLabel = new QLabel(this);
    newPasswordLabel = new QLabel(this);
    confirmPasswordLabel = new QLabel(this);
    originalPasswordBox = new QLineEdit(this);
    newPasswordBox = new QLineEdit(this);
    confirmPasswordBox = new QLineEdit(this);
    for (QLineEdit* box : {originalPasswordBox.data(), newPasswordBox.data(), confirmPasswordBox.data()})
        box->setEchoMode(QLineEdit::Password);
    form->addRow(originalPasswordLabel, originalPasswordBox);
    form->addRow(newPasswordLabel, newPasswordBox);
    form->addRow(confirmPasswordLabel, confirmPasswordBox);
    outer->addLayout(form);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttonCancel = new QPushButton(this);
    buttonOK = new QPushButton(this);
    for (QPushButton* button : {buttonCancel.data(), buttonOK.data()}) {
        button->setAutoDefault(false);
        button->setMinimumWidth(90);
        buttons->addWidget(button);
    }
    outer->addLayout(buttons);
    connect(buttonCancel, &QPushButton::clicked, this, [this] { closeDialogWindow(this); });
}

void PasswordChangeViewControl::viewDidLoad() {
    originalPasswordLabel->setText(Str::originalPassword());
    newPasswordLabel->setText(Str::newPassword());
    confirmPasswordLabel->setText(Str::confirmPassword());
    buttonCancel->setText(Str::cancel());
    buttonOK->setText(Str::ok());
    buttonOK->setEnabled(false);
}

void PasswordChangeViewControl::viewWillAppear() {
    usageReports()->logScreen("PWD Change", "PasswordChangeViewControl");
}

void PasswordChangeViewControl::viewDidAppear() {
    if (auto* window = hostWindow()) window->setWindowTitle(Str::changePassword());
}

}  // namespace hvb
