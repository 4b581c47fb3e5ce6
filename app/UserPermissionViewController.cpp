#include "app/UserPermissionViewController.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/LocalizedString.h"
#include "online/UsageReports.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"

namespace hvb {

namespace {

constexpr const char* kLegacyBundle = "MIRbrook37.kext";

std::string loginName() {
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name) return entry->pw_name;
    return {};
}

std::string extensionsFolder() { return foundation::paths::extensionsDir().string() + "/"; }

}  // namespace

UserPermissionViewController::UserPermissionViewController(QWidget* parent)
    : appkit::ViewController(parent), runner_(&UserPermissionViewController::runCommand) {
    setObjectName("UserPermissionViewController");
    if (auto path = foundation::Bundle::main().pathForResource("MIRbrook37", "kext")) kextPath = path->string();
}

int UserPermissionViewController::runCommand(const std::vector<std::string>& arguments,
                                             const std::string& standardInput) {
    foundation::ProcessOptions options;
    options.standardInput = standardInput;
    options.mergeStandardError = true;
    foundation::ProcessResult result = foundation::runProcess(arguments, options);
    return result.launched ? result.exitStatus : -1;
}

std::vector<std::string> UserPermissionViewController::copyCommand() const {
    return {"sudo", "-S", "cp", "-r", kextPath.value_or(""), extensionsFolder()};
}

std::vector<std::string> UserPermissionViewController::loadCommand() const {
    // Loading the driver means starting the copied bundle's host.
    const std::string bundle = extensionsFolder() + kLegacyBundle;
    return {"sudo", "-S", bundle + "/Contents/MacOS/MIRbrook37", "--daemon"};
}

void UserPermissionViewController::loadView() {
    setFixedWidth(440);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(10);
    permissionTitleLabel = new QLabel(this);
    QFont bold = permissionTitleLabel->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() + 2);
    permissionTitleLabel->setFont(bold);
    permissionDescriptionLabel = new QLabel(this);
    for (QLabel* label : {permissionTitleLabel.data(), permissionDescriptionLabel.data()}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    auto* form = new QFormLayout();
    form->setLabelAlignment(Qt::AlignRight);
    userNameLabel = new QLabel(this);
    passwordLabel = new QLabel(this);
    userNameText = new QLineEdit(this);
    passwordText = new QLineEdit(this);
    passwordText->setEchoMode(QLineEdit::Password);
    form->addRow(userNameLabel, userNameText);
    form->addRow(passwordLabel, passwordText);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    btnCancel = new QPushButton(this);
    btnOK = new QPushButton(this);
    btnOK->setDefault(true);
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnOK);
    layout->addLayout(buttons);
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOK_Click(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancel_Click(); });
    // Return in the field is taken here: passed on, it would also press the default button.
    passwordText->installEventFilter(this);
}

bool UserPermissionViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == passwordText.data() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            passwordText_PressEnter();
            return true;
        }
    }
    return appkit::ViewController::eventFilter(watched, event);
}

void UserPermissionViewController::viewDidLoad() {
    permissionTitleLabel->setText(LocalizedString::Msg::permissionTitle());
    permissionDescriptionLabel->setText(LocalizedString::Msg::permissionDescription());
    userNameLabel->setText(LocalizedString::Msg::permissionUserName());
    userNameText->setText(QString::fromStdString(loginName()));
    userNameText->setReadOnly(true);
    passwordLabel->setText(LocalizedString::Msg::permissionPassword());
    btnCancel->setText(LocalizedString::Str::cancel());
    btnOK->setText(LocalizedString::Str::ok());
}

void UserPermissionViewController::viewWillAppear() {
    usageReports()->logScreen("User Permission", "UserPermissionViewController");
}

void UserPermissionViewController::btnOK_Click() { install(); }

void UserPermissionViewController::passwordText_PressEnter() { install(); }

void UserPermissionViewController::btnCancel_Click() {
    if (auto* w = hostWindow()) w->performClose();
    appkit::abortModal();
    appkit::terminate();
}

void UserPermissionViewController::install() {
    // The password travels on standard input only, never in an argument.
    const std::string input = passwordText->text().toStdString() + "\n";
    const int copyStatus = runner_(copyCommand(), input);
    foundation::print("cpResult = " + std::to_string(copyStatus));
    if (copyStatus != 0) {
        appkit::Alert alert;
        alert.messageText = "BREVANTIS";
        alert.informativeText = localizedCommonString("Incorrect Password.");
        alert.buttons = {localizedCommonString("OK")};
        alert.runModal();
        return;
    }
    const int loadStatus = runner_(loadCommand(), input);
    foundation::print("loadResult = " + std::to_string(loadStatus));
    appkit::Alert alert;
    alert.messageText = "BREVANTIS";
    alert.informativeText = LocalizedString::Msg::unmountAndMountAgain();
    alert.buttons = {localizedCommonString("OK")};
    alert.runModal();
    if (auto* w = hostWindow()) w->performClose();
    appkit::abortModal();
}

}  // namespace hvb
