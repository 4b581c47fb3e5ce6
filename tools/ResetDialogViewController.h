#pragma once
// The reset dialogs (reset to default, erase all) are one dialog: it asks, runs its worker on
// the camera its opener named (or the chosen one) and shows a failure at once; success shows
// when the re-detection opens the dialog anew in state 1 (until then it keeps waiting). They
// differ only in the data of their Kind.
#include <cstdint>
#include <functional>

#include <QString>

#include "camera/CommandTables.h"
#include "tools/CameraSteps.h"
#include "tools/DeviceTaskViewController.h"

namespace hvb {

class ResetDialogViewController : public DeviceTaskViewController {
    Q_OBJECT
public:
    using Work = std::function<int(const DialogTarget&, const CommandDictionary&)>;
    struct Kind {
        // The object's name and the class name of the screen report.
        const char* className;
        const char* screenName;
        // The name the outcome code is logged under.
        const char* resultName;
        uint8_t& state;
        // What the question warns of, before "Are you sure...".
        const QString& (*warning)();
        // The worker's run, holding the link taken as OK is clicked.
        Work (*work)();
    };

    const DialogTarget& target() const { return target_; }

    void viewDidLoad() override;
    void viewWillAppear() override;

    void buttonOK_Click();
    void buttonCancel_Click();

protected:
    ResetDialogViewController(const Kind& kind, QWidget* parent);

    void startReset();
    void okClicked() override { buttonOK_Click(); }
    void cancelClicked() override { buttonCancel_Click(); }

    // The code of the last run.
    int result_ = 0;

    // Settles the run's code (on the thread that ends the run); each dialog names its step.
    void finishReset(int code);
    virtual void finishRun(int code) = 0;

private:
    const Kind& kind_;
    DialogTarget target_;
    CommandDictionary table_;
};

}  // namespace hvb
