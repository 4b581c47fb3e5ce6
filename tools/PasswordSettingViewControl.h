#pragma once
// The password setting dialog: sets a first password on the chosen camera (mode 0), changes it
// (1) or removes it (2). It checks what is typed, runs the camera's sequences on a worker,
// counts wrong original passwords (five use them up; then only the forgot-password path to
// erasing the camera is left) and shows the outcome. After a success it waits, with the camera
// rebooting, until the re-detection opens it anew on its outcome screen.
#include <memory>

#include <QPointer>
#include <QString>

#include "camera/CommandTables.h"
#include "platform/appkit/ViewController.h"
#include "tools/CameraSteps.h"
#include "tools/PasswordSettingWorker.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace hvb {

class BusySpinner;
class HandCursorNSTextField;

class PasswordSettingViewControl : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr int maxumumPasswordLength = 16;
    static constexpr int kMinimumPasswordLength = 8;
    static constexpr int kOutcomeHeight = 150;

    explicit PasswordSettingViewControl(QWidget* parent = nullptr);

    // One entry per box; its eye switches it between masked and plain.
    struct PasswordBox {
        QPointer<QWidget> box;
        QPointer<QLabel> title;
        QPointer<QLineEdit> field;
        QPointer<QToolButton> eye;
        QString eyeImage;
        QString maximum;  // the last accepted text
    };

    QPointer<QLabel> passwordSettingTitle;
    QPointer<QLabel> passwordSettingInfoText;
    QPointer<QLabel> passwordSettingImage;
    QPointer<BusySpinner> passwordSettingProgress;
    PasswordBox original;
    PasswordBox newPassword;
    PasswordBox confirm;
    QPointer<QWidget> passwordSettingStackView;
    QPointer<QPushButton> buttonOK;
    QPointer<QPushButton> buttonCancel;
    QPointer<HandCursorNSTextField> passwordForgotLabel;
    QPointer<QLabel> passwordErrorWarning;
    QPointer<QLabel> charLimitMsg;

    PasswordErrorStatus passwordErrorStatus = PasswordErrorStatus::OTHER_ERR;
    int passwordSettingResult = 0;
    bool isPasswordErrorBefore = false;

    // The camera this dialog works on, taken as it loads.
    const DialogTarget& target() const { return target_; }
    bool isBusy() const { return busy_; }
    // The picture shown: "lockIconPasswordEnter", "successIcon", "failIcon", or empty.
    const QString& imageName() const { return imageName_; }
    bool hasRedBorder(const QLineEdit* field) const;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;

    void passwordTextDidChange();
    void OriginalPasswordEye_Click() { togglePasswordVisibility(original); }
    void NewPasswordEye_Click() { togglePasswordVisibility(newPassword); }
    void ConfirmPasswordEye_Click() { togglePasswordVisibility(confirm); }
    void buttonOK_Click();
    void buttonCancel_Click();
    void forgotPasswordClicked();

    void setPasswordSettingInfoTextCollapsed(bool collapsed);
    void setPasswordSettingStackViewCollapsed(bool collapsed);
    bool isPasswordAttemptsExhausted() const;

    void showAttemptsWarning(int64_t attempts);
    void showPasswordSettingResult();
    void showOriginalPasswordError();
    void showConfirmPasswordError();
    void showOtherPasswordError();
    void showPasswordCorrectScreen();

signals:
    // The failure screen came up after the camera was asked: "Fail".
    void outcomeShown(const QString& text);
    // The form is back for another try, after an error or a right original password.
    void formShownAgain();

private:
    using EyeAction = void (PasswordSettingViewControl::*)();
    void buildBox(PasswordBox& box, QWidget* parent, EyeAction eyeClicked);
    void togglePasswordVisibility(PasswordBox& box);
    void submitPasswordSetting();
    void showOutcomeScreen();
    void showImage(const QString& name);
    void showWarning(const QString& text);
    void setRedBorder(QLineEdit* field, bool red);
    void backToInput();
    void alignTitles();
    QString modeTitle() const;

    DialogTarget target_;
    CommandDictionary commands_;
    bool busy_ = false;
    QString imageName_;
};

}  // namespace hvb
