#pragma once
// A form with the original, new and confirmation password: texts and fields only. Nothing of
// the application opens it (the password setting dialog changes passwords); its OK stays
// disabled and its Cancel closes it.
#include <QPointer>
#include <QString>

#include "platform/appkit/ViewController.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace hvb {

class PasswordChangeViewControl : public appkit::ViewController {
    Q_OBJECT
public:
    explicit PasswordChangeViewControl(QWidget* parent = nullptr);

    QPointer<QLabel> originalPasswordLabel;
    QPointer<QLabel> newPasswordLabel;
    QPointer<QLabel> confirmPasswordLabel;
    QPointer<QLineEdit> originalPasswordBox;
    QPointer<QLineEdit> newPasswordBox;
    QPointer<QLineEdit> confirmPasswordBox;
    QPointer<QPushButton> buttonCancel;
    QPointer<QPushButton> buttonOK;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
};

}  // namespace hvb
