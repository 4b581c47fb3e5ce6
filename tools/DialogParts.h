#pragma once
// Widgets the device dialogs share, built in one place so the dialogs look alike.
#include <cstdint>
#include <functional>

#include <QColor>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QToolButton>
#include <QVBoxLayout>

namespace appkit {
class ViewController;
}

namespace hvb {

class BusySpinner;
class HandCursorNSTextField;

namespace dialogparts {

// The dialogs' body: a fixed width on their light grey.
void dialogBody(QWidget* dialog, int width, int grey = 236);
// A square place where a picture and a busy spinner take turns (the spinner starts hidden).
QWidget* iconPlace(QWidget* parent, int size, int spinnerDiameter, QLabel*& image, BusySpinner*& spinner);
// A bold plain-text title `extraPoints` above the base size.
QLabel* titleLabel(QWidget* parent, qreal extraPoints, bool wordWrap);
// A wrapping plain-text label.
QLabel* textLabel(QWidget* parent);
// A clickable text that looks like a link.
HandCursorNSTextField* linkLabel(QWidget* parent);
// The side of the pictures the picture dialogs show (the password dialogs' lock is larger).
inline constexpr int kPictureSize = 56;
// How a picture dialog looks; as it stands, the clock and upgrade dialogs' look.
struct PictureLook {
    int width = 440;
    int grey = 227;
    int minimumHeight = 150;
    int topMargin = 20;
    int rowSpacing = 18;
    bool wrapTitle = true;
};
// The picture-and-texts dialog: a picture place (with its spinner) left of a bold title over a
// wrapping text, Cancel and OK below; laid out on `dialog`, which gets the body of `look`.
struct PictureDialog {
    QLabel* image = nullptr;
    BusySpinner* spinner = nullptr;
    QLabel* title = nullptr;
    QLabel* text = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* ok = nullptr;
};
PictureDialog pictureDialog(QWidget* dialog, const PictureLook& look = {});
// Shows the named picture of the application's images at `size`.
void showPicture(QLabel* image, const QString& name, int size = kPictureSize);
// Cancel and OK at the right, neither a default button (callers choose which takes Return).
QHBoxLayout* buttonRow(QWidget* parent, QPushButton*& cancel, QPushButton*& ok, int minimumWidth = 96);
// An outcome screen's way out: OK shown and enabled, the default button (Return) and focused
// (Space), the way every result dialog ends.
void showResultButton(QPushButton* ok);

// The side of the password dialogs' lock picture.
inline constexpr int kLockSize = 64;
// The password dialogs' form: the lock's place (with its spinner) left of a column of a bold
// title, an info text, the dialog's own entries (`addEntries` puts them into the column), a
// warning line, the forgot-password link, and Cancel and OK; laid out on `dialog`, `width` wide.
struct PasswordForm {
    QLabel* image = nullptr;
    BusySpinner* spinner = nullptr;
    QLabel* title = nullptr;
    QLabel* info = nullptr;
    QLabel* warning = nullptr;
    HandCursorNSTextField* forgot = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* ok = nullptr;
};
PasswordForm passwordForm(QWidget* dialog, int width, bool wrapTitle,
                          const std::function<void(QVBoxLayout* column)>& addEntries);
// A password entry field at least `minimumWidth` wide.
QLineEdit* passwordField(QWidget* parent, int minimumWidth, QLineEdit::EchoMode echoMode);
// The eye beside a password entry that shows or masks it; it takes no focus.
QToolButton* eyeButton(QWidget* parent);
// Shows the eye's picture ("password_off": the entry masked, "password_on": shown) with the
// name and tooltip of what a press does.
void showEye(QToolButton* eye, const QString& image);

// While `busy` holds, the dialog's window takes neither Escape nor its close button, so the camera's
// work is never walked away from; the dialog's own closing still works. Called as the dialog
// appears; once per window.
void holdWhileBusy(appkit::ViewController* dialog, std::function<bool()> busy);

// The password dialogs' warnings.
QColor warningRed();
// Characters as the user counts them (a surrogate pair is one).
qsizetype characterCount(const QString& text);
// The wrong-password line with the count so far and the warning about running out.
QString attemptsWarning(int64_t attempts);

}  // namespace dialogparts
}  // namespace hvb
