#pragma once
// The view behind one row of a settings table; a separator row draws its line between groups.
#include <QColor>
#include <QRect>
#include <QWidget>

namespace hvb {

class SettingsRowView : public QWidget {
    Q_OBJECT
public:
    static constexpr QRect kSeparatorLine{137, 15, 460, 1};
    static QColor separatorColor() { return QColor(245, 245, 210); }

    explicit SettingsRowView(QWidget* parent = nullptr);

    bool isSeparator = false;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace hvb
