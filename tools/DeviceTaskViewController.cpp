#include "tools/DeviceTaskViewController.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "platform/appkit/Assets.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Log.h"
#include "tools/BusySpinner.h"
#include "tools/DialogParts.h"
#include "tools/DialogRegistry.h"

namespace hvb {

using LocalizedString::Msg;
using LocalizedString::Str;

DeviceTaskViewController::DeviceTaskViewController(QWidget* parent) : appkit::ViewController(parent) {}

QString DeviceTaskViewController::displayed(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral(" \r"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

void DeviceTaskViewController::loadView() {
    const auto parts =
        dialogparts::pictureDialog(this, {.width = 460, .grey = 236, .topMargin = 22, .rowSpacing = 20});
    image_ = parts.image;
    progress_ = parts.spinner;
    title_ = parts.title;
    text_ = parts.text;
    text_->setMinimumHeight(text_->fontMetrics().lineSpacing() * 2);
    cancel_ = parts.cancel;
    ok_ = parts.ok;
    ok_->setText(Str::ok());
    cancel_->setText(Str::cancel());
    connect(ok_, &QPushButton::clicked, this, [this] { okClicked(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelClicked(); });
}

DialogTarget DeviceTaskViewController::takeOpenerTarget() {
    DialogTarget target;
    if (dialogTargetUID) {
        target.kind = DialogTarget::Kind::camera;
        target.uid = *dialogTargetUID;
    } else {
        target = CameraSteps::selectedTarget(*cameraLink());
    }
    dialogTargetUID.reset();
    return target;
}

void DeviceTaskViewController::viewWillAppear() {
    if (auto* window = hostWindow()) window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    dialogparts::holdWhileBusy(this, [this] { return busy_; });
}

void DeviceTaskViewController::viewDidAppear() {
    if (auto* window = hostWindow()) window->setEmptyTitle();
    // The focus set before the window showed went to no one.
    if (showsOutcome())
        dialogparts::showResultButton(ok_);
    else if (!busy_)
        cancel_->setFocus(Qt::OtherFocusReason);
}

void DeviceTaskViewController::cancelClicked() { closeDialogWindow(this); }

void DeviceTaskViewController::setTitleText(const QString& title) { title_->setText(title); }

QString DeviceTaskViewController::titleText() const { return title_->text(); }

QString DeviceTaskViewController::text() const { return text_->text(); }

void DeviceTaskViewController::showImage(const QString& name) {
    imageName_ = name;
    if (name != QLatin1String("question")) {
        dialogparts::showPicture(image_, name);
        return;
    }
    const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    image_->setPixmap(icon.pixmap(QSize(dialogparts::kPictureSize - 8, dialogparts::kPictureSize - 8)));
    image_->setVisible(true);
}

void DeviceTaskViewController::showQuestion(const QString& title, const QString& text) {
    busy_ = false;
    title_->setText(title);
    text_->setText(displayed(text));
    showImage(QStringLiteral("question"));
    progress_->stopAnimation();
    progress_->setVisible(false);
    ok_->setEnabled(true);
    cancel_->setEnabled(true);
    cancel_->setVisible(true);
    // OK erases the camera: Return and Space right after opening only ever cancel, the erasing
    // stays one click away.
    cancel_->setDefault(true);
    cancel_->setFocus(Qt::OtherFocusReason);
}

void DeviceTaskViewController::showWorking() {
    busy_ = true;
    imageName_.clear();
    image_->setVisible(false);
    text_->setText(Msg::pleaseWait());
    progress_->setVisible(true);
    progress_->startAnimation();
    ok_->setEnabled(false);
    cancel_->setEnabled(false);
}

void DeviceTaskViewController::showOutcome(bool success) {
    busy_ = false;
    progress_->stopAnimation();
    progress_->setVisible(false);
    showImage(success ? QStringLiteral("successIcon") : QStringLiteral("failIcon"));
    text_->setText(success ? Str::success() : Str::fail());
    cancel_->setVisible(false);
    dialogparts::showResultButton(ok_);
    emit outcomeShown(text_->text());
}

void DeviceTaskViewController::runWorker(dispatch::QoS qos, std::function<int()> work, std::function<void(int)> done) {
    QPointer<DeviceTaskViewController> self(this);
    dispatch::globalQueue(qos).async([self, work = std::move(work), done = std::move(done)] {
        const int result = work();
        dispatch::mainQueue().async([self, done, result] {
            if (self) done(result);
        });
    });
}

void DeviceTaskViewController::runOnTarget(const DialogTarget& target, const CommandDictionary& table,
                                           std::function<int(const DialogTarget&, const CommandDictionary&)> work,
                                           std::function<void(int)> done, dispatch::QoS qos) {
    showWorking();
    runWorker(qos, [target, table, work = std::move(work)] { return work(target, table); }, std::move(done));
}

void DeviceTaskViewController::settleCode(int code, int& result, uint8_t& state, const char* name) {
    result = code;
    foundation::print(std::string(name) + " = " + std::to_string(code));
    if (code >= 0) return;
    state = 2;
    showOutcome(false);
}

}  // namespace hvb
