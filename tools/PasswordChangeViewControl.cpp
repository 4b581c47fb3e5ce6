#include "tools/PasswordChangeViewControl.h"

#include <utility>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "tools/DialogParts.h"
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
    for (auto [label, box] : {std::pair{&originalPasswordLabel, &originalPasswordBox},
                              std::pair{&newPasswordLabel, &newPasswordBox},
                              std::pair{&confirmPasswordLabel, &confirmPasswordBox}}) {
        *label = new QLabel(this);
        *box = new QLineEdit(this);
        (*box)->setEchoMode(QLineEdit::Password);
        form->addRow(*label, *box);
    }
    outer->addLayout(form);
    QPushButton* cancel = nullptr;
    QPushButton* ok = nullptr;
    outer->addLayout(dialogparts::buttonRow(this, cancel, ok, 90));
    buttonCancel = cancel;
    buttonOK = ok;
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
