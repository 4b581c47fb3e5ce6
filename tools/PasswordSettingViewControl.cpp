#include "tools/PasswordSettingViewControl.h"

#include <utility>

#include <QGridLayout>
#include <QHBoxLayout>
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
#include "platform/appkit/Window.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TextCharacters.h"
#include "tools/BusySpinner.h"
#include "tools/DialogParts.h"
#include "tools/DialogRegistry.h"
#include "tools/HVBToolViewController.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

namespace {

const char* kRedBorderProperty = "hvbRedBorder";

// Anything but ASCII letters and digits (a non-ASCII character is never one in UTF-8).
bool hasForbiddenCharacter(const QString& text) {
    return !foundation::text::isAsciiAlphanumeric(text.toStdString());
}

}  // namespace

PasswordSettingViewControl::PasswordSettingViewControl(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("PasswordSettingViewControl");
}

void PasswordSettingViewControl::buildBox(PasswordBox& entry, QWidget* parent, EyeAction eyeClicked) {
    entry.box = new QWidget(parent);
    auto* row = new QHBoxLayout(entry.box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    entry.title = new QLabel(entry.box);
    entry.title->setTextFormat(Qt::PlainText);
    entry.title->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    entry.field = dialogparts::passwordField(entry.box, 220, QLineEdit::Password);
    entry.eye = dialogparts::eyeButton(entry.box);
    entry.eyeImage = QStringLiteral("password_off");
    dialogparts::showEye(entry.eye, entry.eyeImage);
    row->addWidget(entry.title);
    row->addWidget(entry.field, 1);
    row->addWidget(entry.eye);
    connect(entry.field, &QLineEdit::textEdited, this, [this] { passwordTextDidChange(); });
    connect(entry.field, &QLineEdit::returnPressed, this, [this] {
        if (buttonOK->isEnabled()) buttonOK_Click();
    });
    connect(entry.eye, &QToolButton::clicked, this, [this, eyeClicked] { (this->*eyeClicked)(); });
}

void PasswordSettingViewControl::loadView() {
    const auto form = dialogparts::passwordForm(this, 580, false, [this](QVBoxLayout* column) {
        passwordSettingStackView = new QWidget(this);
        auto* stack = new QVBoxLayout(passwordSettingStackView);
        stack->setContentsMargins(0, 4, 0, 0);
        stack->setSpacing(8);
        using Self = PasswordSettingViewControl;
        // One box a row: its entry and what its eye does.
        for (auto [entry, eyeClicked] : {std::pair{&original, &Self::OriginalPasswordEye_Click},
                                         std::pair{&newPassword, &Self::NewPasswordEye_Click},
                                         std::pair{&confirm, &Self::ConfirmPasswordEye_Click}}) {
            buildBox(*entry, passwordSettingStackView, eyeClicked);
            stack->addWidget(entry->box);
        }
        column->addWidget(passwordSettingStackView);
        charLimitMsg = new QLabel(this);
        charLimitMsg->setTextFormat(Qt::PlainText);
        QPalette hint = charLimitMsg->palette();
        hint.setColor(QPalette::WindowText, QColor(110, 110, 110));
        charLimitMsg->setPalette(hint);
        column->addWidget(charLimitMsg, 0, Qt::AlignRight);
    });
    passwordSettingImage = form.image;
    passwordSettingProgress = form.spinner;
    passwordSettingTitle = form.title;
    passwordSettingInfoText = form.info;
    passwordErrorWarning = form.warning;
    passwordForgotLabel = form.forgot;
    buttonCancel = form.cancel;
    buttonOK = form.ok;

    connect(buttonOK, &QPushButton::clicked, this, [this] { buttonOK_Click(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] { buttonCancel_Click(); });
    connect(passwordForgotLabel, &HandCursorNSTextField::clicked, this, [this] { forgotPasswordClicked(); });
}

QString PasswordSettingViewControl::modeTitle() const {
    if (passwordSettingMode == 1) return Str::changePassword();
    if (passwordSettingMode == 2) return Str::passwordSettingUnlock();
    return Str::setAPassword();
}

void PasswordSettingViewControl::viewDidLoad() {
    // The camera chosen when the dialog opens is the one it works on.
    target_ = CameraSteps::selectedTarget(*cameraLink());
    commands_ = selectedCmdDic;
    buttonOK->setText(Str::ok());
    buttonCancel->setText(Str::cancel());
    isPasswordErrorBefore = false;
    passwordForgotLabel->setText(Str::forgotPassword());
    passwordForgotLabel->setVisible(false);
    if (passwordSettingState != 0) {
        showOutcomeScreen();
        return;
    }
    const QString separator = QStringLiteral(" : ");
    passwordSettingTitle->setText(modeTitle());
    charLimitMsg->setText(Msg::passwordRule());
    setPasswordSettingStackViewCollapsed(false);
    passwordErrorWarning->setVisible(false);
    switch (passwordSettingMode) {
        case 0:
            passwordSettingInfoText->setText(Msg::passwordSetHint());
            setPasswordSettingInfoTextCollapsed(false);
            newPassword.title->setText(Str::password() + separator);
            confirm.title->setText(Str::confirmPassword() + separator);
            original.box->setVisible(false);
            break;
        case 1:
            setPasswordSettingInfoTextCollapsed(true);
            original.title->setText(Str::originalPassword() + separator);
            newPassword.title->setText(Str::newPassword() + separator);
            confirm.title->setText(Str::confirmPassword() + separator);
            break;
        default:
            passwordSettingInfoText->setText(Msg::passwordRemovedHint());
            setPasswordSettingInfoTextCollapsed(false);
            original.title->setText(Str::password() + separator);
            newPassword.box->setVisible(false);
            confirm.box->setVisible(false);
            charLimitMsg->setVisible(false);
            break;
    }
    showImage(QStringLiteral("lockIconPasswordEnter"));
    buttonOK->setEnabled(false);
    alignTitles();
    if (passwordSettingMode != 0 && isPasswordAttemptsExhausted())
        showAttemptsWarning(CameraSteps::kMaxPasswordAttempts);
}

void PasswordSettingViewControl::viewWillAppear() {
    if (auto* window = hostWindow()) window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    dialogparts::holdWhileBusy(this, [this] { return busy_; });
    usageReports()->logScreen("PWD Setting", "PasswordSettingViewController");
    for (PasswordBox* entry : {&original, &newPassword, &confirm}) {
        if (!entry->box->isHidden() && entry->field->isEnabled()) {
            entry->field->setFocus();
            break;
        }
    }
}

void PasswordSettingViewControl::viewDidAppear() {
    if (auto* window = hostWindow()) window->setEmptyTitle();
    // Opened on its result: the focus set before the window showed went to no one.
    if (passwordSettingState != 0) dialogparts::showResultButton(buttonOK);
}

// The three labels share one width, so the fields line up.
void PasswordSettingViewControl::alignTitles() {
    int width = 0;
    for (PasswordBox* entry : {&original, &newPassword, &confirm})
        width = std::max(width, entry->title->fontMetrics().horizontalAdvance(entry->title->text()) + 4);
    for (PasswordBox* entry : {&original, &newPassword, &confirm}) entry->title->setFixedWidth(width);
}

void PasswordSettingViewControl::setPasswordSettingInfoTextCollapsed(bool collapsed) {
    passwordSettingInfoText->setVisible(!collapsed);
}

void PasswordSettingViewControl::setPasswordSettingStackViewCollapsed(bool collapsed) {
    passwordSettingStackView->setVisible(!collapsed);
    for (PasswordBox* entry : {&original, &newPassword, &confirm}) entry->box->setVisible(!collapsed);
    charLimitMsg->setVisible(!collapsed);
    passwordErrorWarning->setVisible(!collapsed);
}

bool PasswordSettingViewControl::isPasswordAttemptsExhausted() const {
    auto camera = cameraLink()->cameraWithUID(target_.uid);
    return camera && camera->record.passwordErrorCnt >= CameraSteps::kMaxPasswordAttempts;
}

bool PasswordSettingViewControl::hasRedBorder(const QLineEdit* field) const {
    return field && field->property(kRedBorderProperty).toBool();
}

void PasswordSettingViewControl::setRedBorder(QLineEdit* field, bool red) {
    field->setProperty(kRedBorderProperty, red);
    field->setStyleSheet(red ? QStringLiteral("QLineEdit { border: 2px solid rgb(255, 0, 0); border-radius: 3px; "
                                              "padding: 1px 4px; }")
                             : QString());
}

void PasswordSettingViewControl::showImage(const QString& name) {
    imageName_ = name;
    dialogparts::showPicture(passwordSettingImage, name, dialogparts::kLockSize);
}

void PasswordSettingViewControl::showWarning(const QString& text) {
    QPalette palette = passwordErrorWarning->palette();
    palette.setColor(QPalette::WindowText, dialogparts::warningRed());
    passwordErrorWarning->setPalette(palette);
    passwordErrorWarning->setText(text);
}

void PasswordSettingViewControl::passwordTextDidChange() {
    bool allPass = true;
    bool anyShown = false;
    for (PasswordBox* entry : {&original, &newPassword, &confirm}) {
        if (entry->box->isHidden()) continue;
        anyShown = true;
        QLineEdit* field = entry->field;
        if (dialogparts::characterCount(field->text()) <= maxumumPasswordLength) {
            entry->maximum = field->text();
        } else {
            field->setText(entry->maximum);
        }
        const QString text = field->text();
        const bool invalid = hasForbiddenCharacter(text);
        setRedBorder(field, invalid);
        if (invalid || dialogparts::characterCount(text) < kMinimumPasswordLength) allPass = false;
    }
    buttonOK->setEnabled(anyShown && allPass);
}

void PasswordSettingViewControl::togglePasswordVisibility(PasswordBox& entry) {
    entry.eyeImage = entry.eyeImage == QStringLiteral("password_on") ? QStringLiteral("password_off")
                                                                     : QStringLiteral("password_on");
    dialogparts::showEye(entry.eye, entry.eyeImage);
    entry.field->setEchoMode(entry.eyeImage == QStringLiteral("password_on") ? QLineEdit::Normal
                                                                             : QLineEdit::Password);
    entry.field->setFocus();
}

void PasswordSettingViewControl::buttonOK_Click() {
    if (passwordSettingState != 0) {
        closeDialogWindow(this);
        return;
    }
    submitPasswordSetting();
}

void PasswordSettingViewControl::buttonCancel_Click() {
    if (busy_) return;
    closeDialogWindow(this);
}

void PasswordSettingViewControl::submitPasswordSetting() {
    if (busy_) return;
    PasswordSettingRequest request;
    request.mode = passwordSettingMode;
    request.target = target_;
    request.original = original.field->text().toStdString();
    request.newPassword = newPassword.field->text().toStdString();
    request.confirm = confirm.field->text().toStdString();
    request.commands = commands_;
    request.passwordErrorBefore = isPasswordErrorBefore;

    busy_ = true;
    passwordErrorStatus = PasswordErrorStatus::OTHER_ERR;
    passwordSettingResult = 0;
    passwordSettingInfoText->setText(Msg::pleaseWait());
    setPasswordSettingInfoTextCollapsed(false);
    setPasswordSettingStackViewCollapsed(true);
    passwordSettingImage->setVisible(false);
    imageName_.clear();
    passwordSettingProgress->setVisible(true);
    passwordSettingProgress->startAnimation();
    buttonOK->setEnabled(false);
    buttonCancel->setEnabled(false);
    passwordForgotLabel->setEnabled(false);

    QPointer<PasswordSettingViewControl> self(this);
    auto onMain = [self](std::function<void(PasswordSettingViewControl&)> step) {
        dispatch::mainQueue().async([self, step] {
            if (self) step(*self);
        });
    };
    PasswordSettingWorker::Listener listener;
    listener.attemptsWarning = [onMain](int64_t attempts) {
        onMain([attempts](PasswordSettingViewControl& d) {
            d.isPasswordErrorBefore = true;
            d.showAttemptsWarning(attempts);
        });
    };
    listener.originalAccepted = [onMain] {
        onMain([](PasswordSettingViewControl& d) { d.isPasswordErrorBefore = false; });
    };
    listener.passwordCorrect = [onMain] {
        onMain([](PasswordSettingViewControl& d) { d.showPasswordCorrectScreen(); });
    };
    listener.finished = [onMain](int code, PasswordErrorStatus status) {
        onMain([code, status](PasswordSettingViewControl& d) {
            d.passwordSettingResult = code;
            d.passwordErrorStatus = status;
            d.showPasswordSettingResult();
        });
    };
    auto link = cameraLink();
    dispatch::globalQueue(dispatch::QoS::background).async([link, request, listener] {
        PasswordSettingWorker worker(link, [] { HVBToolViewController::startRedetectionTimer(); });
        worker.run(request, listener);
    });
}

void PasswordSettingViewControl::showAttemptsWarning(int64_t attempts) {
    if (attempts < CameraSteps::kMaxPasswordAttempts) {
        showWarning(dialogparts::attemptsWarning(attempts));
        return;
    }
    passwordForgotLabel->setText(Str::forgotPassword());
    passwordForgotLabel->setVisible(true);
    passwordForgotLabel->setEnabled(true);
    newPassword.box->setVisible(false);
    confirm.box->setVisible(false);
    charLimitMsg->setVisible(false);
    original.field->setEnabled(false);
    original.eye->setEnabled(false);
    buttonOK->setEnabled(false);
    showWarning(Msg::fiveAttemptsFailed());
    passwordErrorWarning->setVisible(true);
}

void PasswordSettingViewControl::showPasswordSettingResult() {
    const std::string line = "PasswordSetting = " + std::to_string(passwordSettingResult);
    foundation::print(line);
    foundation::print(line);
    if (passwordSettingResult >= 0) return;
    switch (passwordErrorStatus) {
        case PasswordErrorStatus::ORIGINAL_PASSWORD_ERR: return showOriginalPasswordError();
        case PasswordErrorStatus::CONFIRM_PASSWORD_ERR: return showConfirmPasswordError();
        case PasswordErrorStatus::OTHER_ERR: return showOtherPasswordError();
    }
}

// The common part of going back to the form after an error or a right password.
void PasswordSettingViewControl::backToInput() {
    busy_ = false;
    passwordSettingProgress->stopAnimation();
    passwordSettingProgress->setVisible(false);
    buttonOK->setEnabled(false);
    // Return belongs to the entry fields again.
    buttonOK->setDefault(false);
    buttonCancel->setEnabled(true);
    buttonCancel->setVisible(true);
    showImage(QStringLiteral("lockIconPasswordEnter"));
    passwordForgotLabel->setEnabled(true);
}

void PasswordSettingViewControl::showOriginalPasswordError() {
    QPointer<PasswordSettingViewControl> self(this);
    showMessageDialog(false, Str::error(), Str::incorrectPassword());
    if (!self) return;
    const bool exhausted = !original.field->isEnabled();
    setPasswordSettingStackViewCollapsed(false);
    newPassword.box->setVisible(false);
    confirm.box->setVisible(false);
    charLimitMsg->setVisible(false);
    if (passwordSettingMode == 1) setPasswordSettingInfoTextCollapsed(true);
    setRedBorder(original.field, true);
    passwordSettingInfoText->setText(Msg::passwordRemovedHint());
    backToInput();
    passwordForgotLabel->setVisible(exhausted);
    if (!exhausted) original.field->setFocus();
    emit formShownAgain();
}

void PasswordSettingViewControl::showConfirmPasswordError() {
    QPointer<PasswordSettingViewControl> self(this);
    showMessageDialog(false, Str::error(), Msg::incorrectPasswordConfirmation());
    if (!self) return;
    setPasswordSettingStackViewCollapsed(false);
    passwordErrorWarning->setVisible(false);
    if (passwordSettingMode == 0) original.box->setVisible(false);
    if (passwordSettingMode == 1) setPasswordSettingInfoTextCollapsed(true);
    if (passwordSettingMode == 2) {
        newPassword.box->setVisible(false);
        confirm.box->setVisible(false);
        charLimitMsg->setVisible(false);
    }
    setRedBorder(confirm.field, true);
    passwordSettingInfoText->setText(Msg::passwordSetHint());
    backToInput();
    confirm.field->setFocus();
    emit formShownAgain();
}

void PasswordSettingViewControl::showOtherPasswordError() {
    busy_ = false;
    passwordSettingState = 2;
    passwordSettingProgress->stopAnimation();
    passwordSettingProgress->setVisible(false);
    passwordSettingInfoText->setText(Str::fail());
    setPasswordSettingInfoTextCollapsed(false);
    buttonCancel->setVisible(false);
    showImage(QStringLiteral("failIcon"));
    passwordForgotLabel->setEnabled(true);
    dialogparts::showResultButton(buttonOK);
    emit outcomeShown(passwordSettingInfoText->text());
}

void PasswordSettingViewControl::showPasswordCorrectScreen() {
    QPointer<PasswordSettingViewControl> self(this);
    showMessageDialog(true, Str::success(), Str::passwordCorrect());
    if (!self) return;
    setPasswordSettingStackViewCollapsed(false);
    passwordErrorWarning->setVisible(false);
    setPasswordSettingInfoTextCollapsed(true);
    for (PasswordBox* entry : {&newPassword, &confirm}) {
        entry->field->clear();
        entry->maximum.clear();
        setRedBorder(entry->field, false);
    }
    setRedBorder(original.field, false);
    backToInput();
    newPassword.field->setFocus();
    emit formShownAgain();
}

void PasswordSettingViewControl::showOutcomeScreen() {
    passwordSettingTitle->setText(modeTitle());
    const bool success = passwordSettingState == 1;
    showImage(success ? QStringLiteral("successIcon") : QStringLiteral("failIcon"));
    passwordSettingInfoText->setText(success ? Str::success() : Str::fail());
    buttonCancel->setVisible(false);
    setPasswordSettingInfoTextCollapsed(false);
    setPasswordSettingStackViewCollapsed(true);
    passwordForgotLabel->setVisible(false);
    dialogparts::showResultButton(buttonOK);
    setMinimumHeight(kOutcomeHeight);
}

void PasswordSettingViewControl::forgotPasswordClicked() {
    if (busy_ || !passwordForgotLabel->isEnabled()) return;
    resetAllState = 0;
    QPointer<PasswordSettingViewControl> self(this);
    runDialogFromStoryboard(kResetAllWindowController, &resetAllWindow);
    if (!self || resetAllState != 1) return;
    isPasswordVerified = false;
    closeDialogWindow(this);
}

}  // namespace hvb
