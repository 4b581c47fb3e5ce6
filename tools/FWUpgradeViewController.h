#pragma once
// The firmware-upgrade dialog: the question with the latest published version, then the run
// on a background queue ("Downloading...", the countdown while the camera reboots), or the
// result screen of a fresh dialog once the re-detection decided. While it runs the window
// cannot be closed.
#include <functional>

#include <QPointer>
#include <QString>

#include "platform/appkit/ViewController.h"
#include "tools/FirmwareUpgradeWorker.h"

class QLabel;
class QPushButton;

namespace hvb {

class BusySpinner;

class FWUpgradeViewController : public appkit::ViewController {
    Q_OBJECT
public:
    explicit FWUpgradeViewController(QWidget* parent = nullptr);

    QPointer<QLabel> FWUpgradeTitle;
    QPointer<QLabel> FWUpgradeQuestion;
    QPointer<BusySpinner> FWUpgradeProgress;
    QPointer<QPushButton> buttonOK;
    QPointer<QPushButton> buttonCancel;
    QPointer<QLabel> FWUpgradeImage;
    int upgradeResult = 0;
    // The image shown ("successIcon", "failIcon"; empty otherwise).
    QString imageName() const { return imageName_; }
    // From OK on the question until the failure screen or the re-detection's fresh dialog.
    bool isBusy() const { return busy_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;

    void buttonOK_Click();
    void buttonCancel_Click();
    void startUpgradeFromButton();
    void showCountdown(int64_t secondsLeft);
    void showFailure();

    // The services the run uses; tests put their own (the stand-in's resources, a fake clock...).
    static void setServicesFactory(std::function<UpgradeServices()> factory);

signals:
    // The countdown while the camera reboots with its new firmware, at each second.
    void countdownShown(qint64 secondsLeft);
    // The failure screen came up while the dialog worked.
    void outcomeShown(const QString& text);

private:
    void showImage(const QString& name);
    QString imageName_;
    bool busy_ = false;
    QString failureCause_;  // said below "Upgrade failed" when known
};

}  // namespace hvb
