#pragma once
// The generic modal result box, fed through three process-wide values that the caller sets just
// before opening it; they keep their last values between dialogs.
#include <QPointer>
#include <QString>

#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"

class QLabel;
class QPushButton;

namespace hvb {

extern bool msgDialogIsSuccess;
extern QString msgDialogTitle;
extern QString msgDialogText;

class MsgDialogWindowController : public appkit::WindowController {
    Q_OBJECT
public:
    using appkit::WindowController::WindowController;
    // Makes the window its own and runs the application modally for it.
    virtual void showModal(appkit::Window* window);
    // The storyboard's window: the dialog's content in a window of its own.
    appkit::Window* makeWindow() override;
};

class MsgDialogViewController : public appkit::ViewController {
    Q_OBJECT
public:
    explicit MsgDialogViewController(QWidget* parent = nullptr);

    QPointer<QPushButton> buttonCancel;
    QPointer<QPushButton> buttonOK;
    QPointer<QLabel> MsgTitle;
    QPointer<QLabel> MsgText;
    QPointer<QLabel> MsgIcon;
    // The icon's name as set (tests and screens).
    QString iconName() const { return iconName_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;

    void ButtonOK_Click();
    void ButtonCancel_Click();

private:
    QString iconName_;
};

// Sets the three values and shows the dialog, the way every caller opens it; returns when the
// user closed it.
void showMessageDialog(bool isSuccess, const QString& title, const QString& text);

}  // namespace hvb
