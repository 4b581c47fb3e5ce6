#include "app/LeftSplitViewItems.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

#include "platform/appkit/Assets.h"

namespace hvb {

namespace {
constexpr int kPictureSize = 40;
}

LeftSplitViewItems::LeftSplitViewItems(QWidget* parent) : appkit::ViewController(parent) {
    setObjectName("LeftSplitViewItems");
    setAttribute(Qt::WA_Hover);
}

std::string LeftSplitViewItems::pictureName(int index, bool selected) {
    static const char* const names[3][2] = {{"Status_DeSelect", "Status_Select"},
                                            {"Setting_DeSelect", "Setting_Select"},
                                            {"Tool_DeSelect", "Tool_Select"}};
    if (index < 0 || index > 2) return {};
    return names[index][selected ? 1 : 0];
}

void LeftSplitViewItems::loadView() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 14, 8, 12);
    layout->setSpacing(6);
    itemImage = new QLabel(this);
    itemImage->setAlignment(Qt::AlignCenter);
    itemImage->setFixedHeight(kPictureSize);
    itemText = new QLabel(this);
    itemText->setAlignment(Qt::AlignCenter);
    itemText->setTextFormat(Qt::PlainText);
    QFont font = itemText->font();
    font.setPointSizeF(font.pointSizeF() + 1);
    itemText->setFont(font);
    layout->addWidget(itemImage);
    layout->addWidget(itemText);
    setFixedHeight(96);
}

void LeftSplitViewItems::viewDidLoad() { setAttribute(Qt::WA_StyledBackground, false); }

void LeftSplitViewItems::viewWillAppear() {
    view();
    if (itemText) itemText->setText(text.value_or(QString()));
    if (itemImage) itemImage->setPixmap(image.value_or(QPixmap()));
    shownPicture_.clear();
}

void LeftSplitViewItems::showPicture(const std::string& name) {
    shownPicture_ = name;
    if (itemImage) itemImage->setPixmap(appkit::Assets::image(name, QSize(kPictureSize, kPictureSize)));
}

void LeftSplitViewItems::setSelected(bool selected, int index) {
    view();
    const std::string name = pictureName(index, selected);
    if (!name.empty()) showPicture(name);
    whiteBackground_ = selected;
    update();
}

void LeftSplitViewItems::updateTextColor() {
    const bool inactive = isEnabled.has_value() && !*isEnabled;
    setTitleColor(inactive ? QColor(kDisabledGrey, kDisabledGrey, kDisabledGrey) : QColor(Qt::black));
}

void LeftSplitViewItems::setTitleColor(const QColor& color) {
    view();
    if (!itemText) return;
    QPalette palette = itemText->palette();
    palette.setColor(QPalette::WindowText, color);
    itemText->setPalette(palette);
}

QColor LeftSplitViewItems::titleColor() const {
    return itemText ? itemText->palette().color(QPalette::WindowText) : QColor();
}

void LeftSplitViewItems::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && itemIndex) emit clicked(*itemIndex);
    appkit::ViewController::mousePressEvent(event);
}

void LeftSplitViewItems::paintEvent(QPaintEvent* event) {
    if (whiteBackground_) {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        // The list's focus is drawn on its selected entry.
        if (QWidget* list = parentWidget(); list && list->hasFocus()) {
            QStyleOptionFocusRect frame;
            frame.initFrom(list);
            frame.rect = rect().adjusted(3, 3, -3, -3);
            frame.backgroundColor = Qt::white;
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
        }
    }
    appkit::ViewController::paintEvent(event);
}

}  // namespace hvb
