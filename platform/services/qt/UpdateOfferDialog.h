#pragma once
// The offer of a newer version: where to get it, and the three answers.
#include <QDialog>

class QLabel;
class QPushButton;

namespace services {

class UpdateOfferDialog : public QDialog {
    Q_OBJECT
public:
    enum class Answer { openLink, skipThisVersion, remindMeLater };

    UpdateOfferDialog(const QString& appName, const QString& newVersion, const QString& currentVersion,
                      const QString& link, QWidget* parent = nullptr);

    QPushButton* openButton() const { return openButton_; }
    QPushButton* skipButton() const { return skipButton_; }
    QPushButton* laterButton() const { return laterButton_; }
    QLabel* linkLabel() const { return linkLabel_; }

signals:
    // Emitted once, whichever way the dialog ends (closing it counts as "Remind Me Later").
    void answered(services::UpdateOfferDialog::Answer answer);

protected:
    void done(int result) override;
    // Closed by the program (the application quitting), not by the user: no answer is given.
    void closeEvent(QCloseEvent* event) override;

private:
    void answer(Answer a);

    QPushButton* openButton_ = nullptr;
    QPushButton* skipButton_ = nullptr;
    QPushButton* laterButton_ = nullptr;
    QLabel* linkLabel_ = nullptr;
    bool answered_ = false;
};

}  // namespace services
