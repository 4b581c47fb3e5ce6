#pragma once
// An older way to install a driver: asks for the user's password and copies and starts a
// driver bundle with it. Nothing in the application opens it.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>

#include "platform/appkit/ViewController.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace hvb {

class UserPermissionViewController : public appkit::ViewController {
    Q_OBJECT
public:
    // Runs a program with the text on its standard input; gives the exit status.
    using Runner = std::function<int(const std::vector<std::string>& arguments, const std::string& standardInput)>;

    explicit UserPermissionViewController(QWidget* parent = nullptr);

    QPointer<QLabel> permissionTitleLabel;
    QPointer<QLabel> permissionDescriptionLabel;
    QPointer<QLabel> userNameLabel;
    QPointer<QLabel> passwordLabel;
    QPointer<QLineEdit> userNameText;
    QPointer<QLineEdit> passwordText;
    std::optional<std::string> kextPath;
    QPointer<QPushButton> btnCancel;
    QPointer<QPushButton> btnOK;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;

    void btnOK_Click();
    void passwordText_PressEnter();
    void btnCancel_Click();

    // The command runner (tests replace it); the default drains the merged output.
    void setRunner(Runner runner) { runner_ = std::move(runner); }
    static int runCommand(const std::vector<std::string>& arguments, const std::string& standardInput);
    // The two commands of an installation.
    std::vector<std::string> copyCommand() const;
    std::vector<std::string> loadCommand() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void install();
    Runner runner_;
};

}  // namespace hvb
