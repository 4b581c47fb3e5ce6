#pragma once
// One release of the version history: the version at the top left, its date at the top right,
// the numbered notes below, wrapped to the row's width. Texts come from the web: plain text.
#include <QWidget>

class QLabel;

namespace hvb {

class DynamicTextField;

class ReleaseNotesTableViewCell : public QWidget {
    Q_OBJECT
public:
    explicit ReleaseNotesTableViewCell(QWidget* parent = nullptr);

    QLabel* versionLabel() const { return versionLabel_; }
    QLabel* dateLabel() const { return dateLabel_; }
    DynamicTextField* notesLabel() const { return notesLabel_; }

private:
    void setupLayout();

    QLabel* versionLabel_ = nullptr;
    QLabel* dateLabel_ = nullptr;
    DynamicTextField* notesLabel_ = nullptr;
};

}  // namespace hvb
