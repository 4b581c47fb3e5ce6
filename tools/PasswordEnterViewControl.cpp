#include "tools/PasswordEnterViewControl.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "camera/CameraLink.h"
#include "common/HandCursorNSTextField.h"
#include "common/LocalizedString.h"
#include "common/MsgDialog.h"
#include "online/UsageReports.h"
#include "platform/appkit/Assets.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/BusySpinner.h"
#include "tools/CameraSteps.h"
#include "tools/DialogParts.h"
#include "tools/DialogRegistry.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

namespace {

QColor correctGrey() { return QColor::fromRgbF(0.2, 0.2, 0.2, 1); }

}  // namespace

PasswordEnterViewControl::PasswordEnterViewControl(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("PasswordEnterViewControl");
}

PasswordEnterViewControl::~PasswordEnterViewControl() {
    if (worker_) worker_->cancel();
}

void PasswordEnterViewControl::loadView() {
    const auto form = dialogparts::passwordForm(this, 520, true, [this](QVBoxLayout* column) {
        auto* entryRow = new QHBoxLayout();
        entryRow->setSpacing(8);
        passwordString = new QLabel(this);
        passwordString->setTextFormat(Qt::PlainText);
        entryRow->addWidget(passwordString);
        // The masked and the plain entry share one place; the eye shows one of them.
        auto* fields = new QGridLayout();
        fields->setContentsMargins(0, 0, 0, 0);
        passwordSecureTextField = dialogparts::passwordField(this, 230, QLineEdit::Password);
        passwordTextField = dialogparts::passwordField(this, 230, QLineEdit::Normal);
        for (QLineEdit* field : {passwordSecureTextField.data(), passwordTextField.data()}) {
            fields->addWidget(field, 0, 0);
            connect(field, &QLineEdit::textEdited, this, [this, field] { controlTextDidChange(field); });
            connect(field, &QLineEdit::returnPressed, this, [this] { insertNewline(); });
        }
        entryRow->addLayout(fields, 1);
        passwordEye = dialogparts::eyeButton(this);
        entryRow->addWidget(passwordEye);
        column->addLayout(entryRow);
    });
    passwordImage = form.image;
    passwordImage->setPixmap(
        appkit::Assets::image("lockIconPasswordEnter", QSize(dialogparts::kLockSize, dialogparts::kLockSize)));
    passwordEnterProgress = form.spinner;
    passwordEnterTitle = form.title;
    passwordInfoText = form.info;
    passwordErrorWarning = form.warning;
    passwordForgotLabel = form.forgot;
    buttonCancel = form.cancel;
    buttonOK = form.ok;

    connect(passwordEye, &QToolButton::clicked, this, [this] { PasswordEye_Click(); });
    connect(buttonOK, &QPushButton::clicked, this, [this] { buttonOK_Click(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] { buttonCancel_Click(); });
    connect(passwordForgotLabel, &HandCursorNSTextField::clicked, this, [this] { forgotPasswordClicked(); });
}

void PasswordEnterViewControl::viewDidLoad() {
    // A verdict of an earlier opening never answers this one (closing by Escape sets none).
    isPasswordVerified = false;
    passwordTextField->setVisible(false);
    passwordSecureTextField->setVisible(true);
    if (isUnlockForUpgrade) {
        passwordEnterTitle->setText(Str::disablePasswordBeforeUpgrade());
        buttonOK->setText(Str::disablePassword());
    } else {
        passwordEnterTitle->setText(Str::unlockDevice());
        buttonOK->setText(Str::ok());
    }
    passwordInfoText->setText(Str::deviceLocked());
    buttonCancel->setText(Str::cancel());
    passwordString->setText(Str::password() + QStringLiteral(" : "));
    eyeImage_ = QStringLiteral("password_off");
    dialogparts::showEye(passwordEye, eyeImage_);
    buttonOK->setEnabled(false);
    passwordErrorWarning->setVisible(false);
    passwordForgotLabel->setText(Str::forgotPassword());
    passwordForgotLabel->setVisible(false);
    isPasswordErrorBefore_ = false;
    if (UnlockWorker::isPasswordAttemptsExhausted(*cameraLink(), cameraLink()->selectedDeviceIndex()))
        showExhausted();
}

void PasswordEnterViewControl::viewWillAppear() {
    if (auto* window = hostWindow()) {
        window->layout()->setSizeConstraint(QLayout::SetFixedSize);
        if (filteredWindow_ != window) {
            window->installEventFilter(this);
            filteredWindow_ = window;
        }
    }
    usageReports()->logScreen("PWD Enter", "PasswordEnterViewControl");
    if (passwordSecureTextField->isEnabled()) passwordSecureTextField->setFocus();
}

void PasswordEnterViewControl::viewDidAppear() {
    if (auto* window = hostWindow()) window->setEmptyTitle();
}

void PasswordEnterViewControl::viewWillDisappear() { isUnlockForUpgrade = false; }

// While the camera is being asked, neither Escape nor the close button may walk away from it.
bool PasswordEnterViewControl::eventFilter(QObject* watched, QEvent* event) {
    if (busy_ && watched == filteredWindow_.data()) {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) return true;
    }
    return appkit::ViewController::eventFilter(watched, event);
}

void PasswordEnterViewControl::controlTextDidChange(QLineEdit* field) {
    if (!field) return;
    const QString text = field->text();
    if (dialogparts::characterCount(text) <= kMaxCharacters) {
        nowPassword_ = text;
    } else {
        field->setText(nowPassword_);
    }
    buttonOK->setEnabled(dialogparts::characterCount(field->text()) >= kMinCharacters);
    QLineEdit* other = field == passwordSecureTextField.data() ? passwordTextField.data()
                                                               : passwordSecureTextField.data();
    other->setText(field->text());
    passwordImage->setVisible(true);
}

void PasswordEnterViewControl::PasswordEye_Click() {
    eyeImage_ = eyeImage_ == QStringLiteral("password_on") ? QStringLiteral("password_off")
                                                            : QStringLiteral("password_on");
    dialogparts::showEye(passwordEye, eyeImage_);
    const bool plainShown = passwordTextField->isVisible();
    passwordTextField->setVisible(!plainShown);
    passwordSecureTextField->setVisible(plainShown);
    (plainShown ? passwordSecureTextField : passwordTextField)->setFocus();
}

void PasswordEnterViewControl::insertNewline() {
    foundation::print("Selector method is (insertNewline:)");
    if (buttonOK->isEnabled()) submitPassword();
}

void PasswordEnterViewControl::buttonOK_Click() { submitPassword(); }

void PasswordEnterViewControl::buttonCancel_Click() {
    isPasswordVerified = false;
    closeDialogWindow(this);
}

void PasswordEnterViewControl::setEntryEnabled(bool enabled) {
    passwordSecureTextField->setEnabled(enabled);
    passwordTextField->setEnabled(enabled);
    passwordEye->setEnabled(enabled);
}

void PasswordEnterViewControl::submitPassword() {
    if (busy_) return;
    busy_ = true;
    passwordImage->setVisible(false);
    passwordEnterProgress->setVisible(true);
    passwordEnterProgress->startAnimation();
    setEntryEnabled(false);
    buttonOK->setEnabled(false);
    buttonCancel->setEnabled(false);
    passwordForgotLabel->setEnabled(false);
    passwordErrorWarning->setVisible(false);

    UnlockRequest request;
    auto link = cameraLink();
    request.selectedDeviceIndex = link->selectedDeviceIndex();
    request.password = passwordSecureTextField->text().toStdString();
    request.unlockOnly = isUnlockOnly;
    QPointer<PasswordEnterViewControl> self(this);
    worker_ = std::make_shared<UnlockWorker>(link, [self](UnlockWorker::Event event, int64_t attempts) {
        dispatch::mainQueue().async([self, event, attempts] {
            if (self) self->handle(event, attempts);
        });
    });
    auto worker = worker_;
    dispatch::globalQueue(dispatch::QoS::background).async([worker, request] { worker->run(request); });
}

void PasswordEnterViewControl::showWarning(const QString& text, const QColor& color) {
    QPalette palette = passwordErrorWarning->palette();
    palette.setColor(QPalette::WindowText, color);
    passwordErrorWarning->setPalette(palette);
    passwordErrorWarning->setText(text);
    passwordErrorWarning->setVisible(true);
}

void PasswordEnterViewControl::showExhausted() {
    exhausted_ = true;
    passwordForgotLabel->setText(Str::forgotPassword());
    passwordForgotLabel->setVisible(true);
    setEntryEnabled(false);
    buttonOK->setEnabled(false);
    showWarning(Msg::fiveAttemptsFailed(), dialogparts::warningRed());
}

void PasswordEnterViewControl::backToIdle() {
    busy_ = false;
    passwordEnterProgress->stopAnimation();
    passwordEnterProgress->setVisible(false);
    passwordImage->setVisible(true);
    buttonCancel->setEnabled(true);
    passwordForgotLabel->setEnabled(true);
    if (exhausted_) return;
    setEntryEnabled(true);
    QLineEdit* shown = passwordTextField->isVisible() ? passwordTextField.data() : passwordSecureTextField.data();
    buttonOK->setEnabled(dialogparts::characterCount(shown->text()) >= kMinCharacters);
    shown->setFocus();
}

void PasswordEnterViewControl::closeAndShowFailure() {
    busy_ = false;
    closeDialogWindow(this);
    // After this the dialog may be gone: only values are used.
    showMessageDialog(false, QStringLiteral("Fail"), QString());
}

void PasswordEnterViewControl::handle(UnlockWorker::Event event, int64_t attempts) {
    using Event = UnlockWorker::Event;
    switch (event) {
        case Event::wrongPassword:
            isPasswordVerified = false;
            isPasswordErrorBefore_ = true;
            backToIdle();
            buttonOK->setEnabled(false);
            if (attempts >= CameraSteps::kMaxPasswordAttempts) {
                showExhausted();
            } else {
                showWarning(dialogparts::attemptsWarning(attempts), dialogparts::warningRed());
            }
            return;
        case Event::noVerdict:
            backToIdle();
            showWarning(Str::fail(), dialogparts::warningRed());
            return;
        case Event::passwordVerified:
            isPasswordVerified = true;
            return;
        case Event::passwordCorrect:
            passwordEnterProgress->stopAnimation();
            passwordEnterProgress->setVisible(false);
            passwordImage->setVisible(true);
            showWarning(Str::passwordCorrect(), correctGrey());
            return;
        case Event::finished:
        case Event::storageShown:
            busy_ = false;
            closeDialogWindow(this);
            return;
        case Event::pleaseWait:
            passwordSecureTextField->setVisible(false);
            passwordTextField->setVisible(false);
            passwordEye->setVisible(false);
            passwordErrorWarning->setVisible(false);
            passwordImage->setVisible(false);
            passwordString->setVisible(false);
            passwordEnterProgress->setVisible(true);
            passwordEnterProgress->startAnimation();
            passwordInfoText->setText(Msg::pleaseWait());
            return;
        case Event::disableFailed:
            // The password may still be set: no opener goes on as if it were gone.
            isPasswordVerified = false;
            closeAndShowFailure();
            return;
        case Event::unlockFailed:
            closeAndShowFailure();
            return;
    }
}

void PasswordEnterViewControl::forgotPasswordClicked() {
    if (busy_) return;
    auto link = cameraLink();
    auto camera = link->camera(link->selectedDeviceIndex());
    if (!camera || camera->table.empty()) return;
    selectedCmdDic = camera->table;
    resetAllState = 0;
    QPointer<PasswordEnterViewControl> self(this);
    runDialogFromStoryboard(kResetAllWindowController, &resetAllWindow);
    if (!self || resetAllState != 1) return;
    isPasswordVerified = false;
    closeDialogWindow(this);
}

}  // namespace hvb
