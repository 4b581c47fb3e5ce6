#pragma once
// The clock-sync dialog: it starts syncing the selected camera's clock with the computer's as
// soon as it loads, waits with a spinner, then shows the outcome and the camera's clock with an
// OK button that closes it.
#include <QPointer>
#include <QString>

#include "platform/appkit/ViewController.h"

class QLabel;
class QPushButton;

namespace hvb {

class BusySpinner;
struct SyncTimeOutcome;

class SyncTimeViewController : public appkit::ViewController {
    Q_OBJECT
public:
    explicit SyncTimeViewController(QWidget* parent = nullptr);

    QPointer<QLabel> SyncTimeTitle;
    QPointer<QLabel> SyncTimeMessage;
    QPointer<BusySpinner> SyncTimeProgress;
    QPointer<QPushButton> buttonOK;
    QPointer<QPushButton> buttonCancel;
    QPointer<QLabel> SyncTimeImage;
    // The image shown ("successIcon", "failIcon"; empty while waiting).
    QString imageName() const { return imageName_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;

    void buttonOK_Click();
    // Queues the sync on a background queue; its outcome comes back on the main queue.
    virtual void runTimeSync();
    void showSyncSuccess(const QString& message);
    void showSyncFailure();

private:
    void showOutcome(const SyncTimeOutcome& outcome);
    void showImage(const QString& name);
    QString imageName_;
};

}  // namespace hvb
