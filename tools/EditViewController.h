#pragma once
// The user-label and team-sync dialog of a Status row: the camera's label, its team-sync group
// and whether it leads the group. It only checks what the user chose (the label field takes no
// more than the camera stores, and says how much that is); OK hands each changed value to the
// delegate (the Status panel), which writes it to the camera, and closes.
#include <optional>

#include <QPointer>
#include <QString>

#include "camera/StatusModel.h"
#include "common/EditViewControllerDelegate.h"
#include "platform/appkit/ViewController.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace hvb {

class EditViewController : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 180;
    static constexpr int kMaximumGroup = 10;

    explicit EditViewController(StatusModel status, QWidget* parent = nullptr);

    // The delegate is not owned; calls are skipped once it is gone.
    void setDelegate(EditViewControllerDelegate* delegate);

    QPointer<QLabel> titleLabel;
    QPointer<QLabel> deviceNameTitleLabel;
    QPointer<QLineEdit> deviceNameLabel;
    // Under the field: the longest label this camera stores.
    QPointer<QLabel> labelLimitLabel;
    // Which characters the label takes; red while the field holds one it does not.
    QPointer<QLabel> labelCharactersLabel;
    QPointer<QLabel> teamSyncTitleLabel;
    QPointer<QComboBox> teamSyncComboBox;
    QPointer<QCheckBox> leaderButton;
    QPointer<QPushButton> doneButton;
    const StatusModel status;

    bool hasRedBorder() const { return redBorder_; }
    bool charactersHintIsRed() const { return charactersRed_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;

    void controlTextDidChange();
    void comboBoxSelectionDidChange();
    void doneButtonDidTap();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // What the dialog compares against, read once from the snapshot.
    struct Snapshot {
        QString label;
        std::optional<std::string> model;
        std::optional<std::string> firmware;
        bool russian = false;
        int64_t group = 0;  // TEAMSYNC_GROUP, 0 without a settings record
        std::optional<bool> teamSync;
        std::optional<bool> leader;
    };
    void placeViews();
    void setBorder(bool red);
    EditViewControllerDelegate* liveDelegate() const;

    Snapshot snapshot_;
    bool extendedCyrillic_ = false;
    bool redBorder_ = false;
    bool charactersRed_ = false;
    EditViewControllerDelegate* delegate_ = nullptr;
    QPointer<QObject> delegateObject_;
    bool delegateIsObject_ = false;
};

}  // namespace hvb
