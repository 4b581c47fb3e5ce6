#pragma once
// The unlock dialog: the user types the selected camera's password; the camera checks it and
// counts wrong attempts (five use them up, then only the forgot-password path to erasing the
// camera remains). A right password either opens the camera's storage or removes the password,
// and the dialog waits for the camera to come back. The verdict reaches the opener through
// isPasswordVerified.
#include <memory>

#include <QPointer>
#include <QString>

#include "camera/CommandTables.h"
#include "platform/appkit/ViewController.h"
#include "tools/UnlockWorker.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace hvb {

class BusySpinner;
class HandCursorNSTextField;

class PasswordEnterViewControl : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr int kMaxCharacters = 16;
    static constexpr int kMinCharacters = 8;

    explicit PasswordEnterViewControl(QWidget* parent = nullptr);
    ~PasswordEnterViewControl() override;

    QPointer<QLabel> passwordEnterTitle;
    QPointer<QLabel> passwordInfoText;
    QPointer<QLabel> passwordString;
    QPointer<QLineEdit> passwordSecureTextField;
    QPointer<QLineEdit> passwordTextField;
    QPointer<QToolButton> passwordEye;
    QPointer<QPushButton> buttonOK;
    QPointer<QPushButton> buttonCancel;
    QPointer<QLabel> passwordErrorWarning;
    QPointer<QLabel> passwordImage;
    QPointer<BusySpinner> passwordEnterProgress;
    QPointer<HandCursorNSTextField> passwordForgotLabel;

    // The last accepted entry (at most 16 characters).
    const QString& nowPassword() const { return nowPassword_; }
    // "password_on" or "password_off".
    const QString& eyeImageName() const { return eyeImage_; }
    // A check or a wait for the camera runs: nothing can be changed, the window not be closed.
    bool isBusy() const { return busy_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;

    // The entry rule, for either field.
    void controlTextDidChange(QLineEdit* field);
    void PasswordEye_Click();
    // Return in an entry field: submits when OK is enabled.
    void insertNewline();
    void buttonOK_Click();
    void buttonCancel_Click();
    void forgotPasswordClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void submitPassword();
    void handle(UnlockWorker::Event event, int64_t attempts);
    void showWarning(const QString& text, const QColor& color);
    void showExhausted();
    void backToIdle();
    void closeAndShowFailure();
    void setEntryEnabled(bool enabled);

    QString nowPassword_;
    QString eyeImage_;
    bool busy_ = false;
    bool exhausted_ = false;
    bool isPasswordErrorBefore_ = false;
    std::shared_ptr<UnlockWorker> worker_;
    QPointer<QWidget> filteredWindow_;
};

}  // namespace hvb
