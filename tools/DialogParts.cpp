#include "tools/DialogParts.h"

#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QPalette>
#include <QPointer>
#include <QVBoxLayout>

#include "common/HandCursorNSTextField.h"
#include "common/LocalizedString.h"
#include "platform/appkit/Assets.h"
#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"
#include "tools/BusySpinner.h"

namespace hvb::dialogparts {

namespace {

// Watches one window for its dialog; goes away with the dialog.
class BusyHold : public QObject {
public:
    BusyHold(QObject* dialog, QWidget* window, std::function<bool()> busy)
        : QObject(dialog), window_(window), busy_(std::move(busy)) {
        window->installEventFilter(this);
    }
    QWidget* window() const { return window_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool close = event->type() == QEvent::Close;
        const bool escape =
            event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (watched != window_.data() || !(close || escape) || !busy_()) return false;
        event->ignore();
        return true;
    }

private:
    QPointer<QWidget> window_;
    std::function<bool()> busy_;
};

}  // namespace

void holdWhileBusy(appkit::ViewController* dialog, std::function<bool()> busy) {
    QWidget* window = dialog->hostWindow();
    if (!window) return;
    for (QObject* child : dialog->children())
        if (auto* hold = dynamic_cast<BusyHold*>(child); hold && hold->window() == window) return;
    new BusyHold(dialog, window, std::move(busy));
}

void dialogBody(QWidget* dialog, int width, int grey) {
    dialog->setFixedWidth(width);
    dialog->setAutoFillBackground(true);
    QPalette palette = dialog->palette();
    palette.setColor(QPalette::Window, QColor(grey, grey, grey));
    dialog->setPalette(palette);
}

QWidget* iconPlace(QWidget* parent, int size, int spinnerDiameter, QLabel*& image, BusySpinner*& spinner) {
    auto* place = new QWidget(parent);
    place->setFixedSize(size, size);
    auto* grid = new QGridLayout(place);
    grid->setContentsMargins(0, 0, 0, 0);
    image = new QLabel(place);
    image->setAlignment(Qt::AlignCenter);
    spinner = new BusySpinner(place, spinnerDiameter);
    spinner->setVisible(false);
    grid->addWidget(image, 0, 0, Qt::AlignCenter);
    grid->addWidget(spinner, 0, 0, Qt::AlignCenter);
    return place;
}

QLabel* titleLabel(QWidget* parent, qreal extraPoints, bool wordWrap) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wordWrap);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() + extraPoints);
    label->setFont(font);
    return label;
}

QLabel* textLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

HandCursorNSTextField* linkLabel(QWidget* parent) {
    auto* label = new HandCursorNSTextField(parent);
    QPalette link = label->palette();
    link.setColor(QPalette::WindowText, appkit::colors::linkBlue());
    label->setPalette(link);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    return label;
}

PictureDialog pictureDialog(QWidget* dialog, const PictureLook& look) {
    dialogBody(dialog, look.width, look.grey);
    dialog->setMinimumHeight(look.minimumHeight);
    PictureDialog parts;
    auto* outer = new QVBoxLayout(dialog);
    outer->setContentsMargins(24, look.topMargin, 24, 16);
    outer->setSpacing(16);
    auto* row = new QHBoxLayout();
    row->setSpacing(look.rowSpacing);
    row->addWidget(iconPlace(dialog, kPictureSize, 36, parts.image, parts.spinner), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(8);
    parts.title = titleLabel(dialog, 2, look.wrapTitle);
    parts.text = textLabel(dialog);
    texts->addWidget(parts.title);
    texts->addWidget(parts.text);
    texts->addStretch(1);
    row->addLayout(texts, 1);
    outer->addLayout(row, 1);
    outer->addLayout(buttonRow(dialog, parts.cancel, parts.ok));
    return parts;
}

void showPicture(QLabel* image, const QString& name, int size) {
    image->setPixmap(appkit::Assets::image(name.toStdString(), QSize(size, size)));
    image->setVisible(true);
}

QHBoxLayout* buttonRow(QWidget* parent, QPushButton*& cancel, QPushButton*& ok, int minimumWidth) {
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    cancel = new QPushButton(parent);
    ok = new QPushButton(parent);
    for (QPushButton* button : {cancel, ok}) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setMinimumWidth(minimumWidth);
        row->addWidget(button);
    }
    return row;
}

void showResultButton(QPushButton* ok) {
    ok->setVisible(true);
    ok->setEnabled(true);
    ok->setDefault(true);
    ok->setFocus(Qt::OtherFocusReason);
}

PasswordForm passwordForm(QWidget* dialog, int width, bool wrapTitle,
                          const std::function<void(QVBoxLayout* column)>& addEntries) {
    dialogBody(dialog, width);
    PasswordForm parts;
    auto* outer = new QHBoxLayout(dialog);
    outer->setContentsMargins(28, 24, 28, 18);
    outer->setSpacing(22);
    outer->addWidget(iconPlace(dialog, kLockSize, 40, parts.image, parts.spinner), 0, Qt::AlignTop);

    auto* column = new QVBoxLayout();
    column->setSpacing(10);
    parts.title = titleLabel(dialog, 3, wrapTitle);
    parts.info = textLabel(dialog);
    column->addWidget(parts.title);
    column->addWidget(parts.info);
    addEntries(column);
    parts.warning = textLabel(dialog);
    column->addWidget(parts.warning);
    parts.forgot = linkLabel(dialog);
    column->addWidget(parts.forgot, 0, Qt::AlignLeft);
    column->addStretch(1);
    // Return belongs to the entry fields, which submit only when OK is enabled.
    column->addLayout(buttonRow(dialog, parts.cancel, parts.ok));
    outer->addLayout(column, 1);
    return parts;
}

QLineEdit* passwordField(QWidget* parent, int minimumWidth, QLineEdit::EchoMode echoMode) {
    auto* field = new QLineEdit(parent);
    field->setEchoMode(echoMode);
    field->setMinimumWidth(minimumWidth);
    field->setMinimumHeight(28);
    return field;
}

QToolButton* eyeButton(QWidget* parent) {
    auto* eye = new QToolButton(parent);
    eye->setAutoRaise(true);
    eye->setIconSize(QSize(20, 20));
    eye->setFixedSize(28, 28);
    // Reached by Tab after its field; a click leaves the focus in the field.
    eye->setFocusPolicy(Qt::TabFocus);
    return eye;
}

void showEye(QToolButton* eye, const QString& image) {
    eye->setIcon(appkit::Assets::icon(image.toStdString()));
    const QString& does = image == QLatin1String("password_on") ? LocalizedString::Msg::hidePassword()
                                                                : LocalizedString::Msg::showPassword();
    eye->setAccessibleName(does);
    eye->setToolTip(does);
}

QColor warningRed() { return QColor::fromRgbF(150 / 255.0, 0, 20 / 255.0, 1); }

qsizetype characterCount(const QString& text) { return text.toUcs4().size(); }

QString attemptsWarning(int64_t attempts) {
    using LocalizedString::Msg;
    using LocalizedString::Str;
    return Str::incorrectPassword() + QStringLiteral(" ") + Str::attempts() + QStringLiteral(": ") +
           QString::number(attempts) + QStringLiteral("\n(") + Msg::fiveAttemptsWarning() + QStringLiteral(")");
}

}  // namespace hvb::dialogparts
