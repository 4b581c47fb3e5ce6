#pragma once
// The shape the long device dialogs share (disk format, reset to default, reset all): a question
// with OK and Cancel (Cancel takes Return, as OK erases), then "Please wait..." with a spinner
// while a worker acts on the camera, then a success or failure screen. While the worker runs the window cannot be closed, so the
// only ways out are the outcome screens.
#include <functional>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include "camera/CommandTables.h"
#include "platform/appkit/ViewController.h"
#include "platform/dispatch/Dispatch.h"
#include "tools/CameraSteps.h"


namespace hvb {

class BusySpinner;

class DeviceTaskViewController : public appkit::ViewController {
    Q_OBJECT
public:
    explicit DeviceTaskViewController(QWidget* parent = nullptr);

    bool isBusy() const { return busy_; }
    // True once an outcome screen shows (the worker failed, or the dialog opened on a result).
    bool showsOutcome() const { return !busy_ && (imageName_ == "successIcon" || imageName_ == "failIcon"); }
    QString titleText() const;
    QString text() const;
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    // The picture shown: "question", "successIcon", "failIcon", or empty while working.
    const QString& imageName() const { return imageName_; }
    // The text as the dialog shows it: a carriage return of the catalogue texts breaks the line.
    static QString displayed(const QString& text);

    void loadView() override;
    void viewWillAppear() override;
    void viewDidAppear() override;

signals:
    // An outcome screen came up after the dialog worked: "Success" or "Fail".
    void outcomeShown(const QString& text);

protected:
    void showQuestion(const QString& title, const QString& text);
    // "Please wait...", the spinner, OK and Cancel disabled.
    void showWorking();
    // "Success" or "Fail" with its icon; OK closes, Cancel is gone.
    void showOutcome(bool success);
    void setTitleText(const QString& title);
    // The camera the opener named, or the chosen one; taking it clears the opener's choice.
    static DialogTarget takeOpenerTarget();

    // Runs `work` on a global queue; `done` gets its result on the main queue if the dialog lives.
    void runWorker(dispatch::QoS qos, std::function<int()> work, std::function<void(int)> done);
    // The working screen, then `work` with the dialog's camera and table on a global queue.
    void runOnTarget(const DialogTarget& target, const CommandDictionary& table,
                     std::function<int(const DialogTarget&, const CommandDictionary&)> work,
                     std::function<void(int)> done, dispatch::QoS qos = dispatch::QoS::background);
    // Keeps and logs a worker's code ("<name> = code"). A negative one is the failure screen and
    // `state` 2; the others leave the outcome to the re-detection, which reopens the dialog.
    void settleCode(int code, int& result, uint8_t& state, const char* name);

    virtual void okClicked() = 0;
    virtual void cancelClicked();

    QPointer<QLabel> title_;
    QPointer<QLabel> text_;
    QPointer<QLabel> image_;
    QPointer<BusySpinner> progress_;
    QPointer<QPushButton> ok_;
    QPointer<QPushButton> cancel_;

private:
    void showImage(const QString& name);
    bool busy_ = false;
    QString imageName_;
};

}  // namespace hvb
