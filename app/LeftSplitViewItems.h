#pragma once
// One entry of the main window's left list: a picture and a title for a panel. It draws its
// selected and enabled looks; the list decides them.
#include <optional>
#include <string>

#include <QPixmap>
#include <QPointer>

#include "platform/appkit/ViewController.h"

class QLabel;

namespace hvb {

class LeftSplitViewItems : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr int kDisabledGrey = 145;

    explicit LeftSplitViewItems(QWidget* parent = nullptr);

    std::optional<QString> text;
    std::optional<QPixmap> image;
    std::optional<int> itemIndex;
    QPointer<QLabel> itemText;
    QPointer<QLabel> itemImage;
    std::optional<bool> isEnabled;

    // The picture of an entry number in either look; empty for other numbers.
    static std::string pictureName(int index, bool selected);

    void setSelected(bool selected, int index);
    void updateTextColor();
    // The title colour (the list sets it directly too).
    void setTitleColor(const QColor& color);
    QColor titleColor() const;
    // The picture view's current picture name and the background look (tests, screens).
    std::string shownPictureName() const { return shownPicture_; }
    bool hasWhiteBackground() const { return whiteBackground_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;

signals:
    void clicked(int index);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showPicture(const std::string& name);
    std::string shownPicture_;
    bool whiteBackground_ = false;
};

}  // namespace hvb
