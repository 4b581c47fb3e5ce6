#pragma once
// Helpers shared by the application's GUI tests.
#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QStringList>
#include <QLayout>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QSet>
#include <QToolTip>
#include <QWidget>

#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/HVBModel.h"
#include "common/DriverHostState.h"
#include "common/LocalizedString.h"
#include "common/StringCatalog.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"

// Lists of faults print as text when a check fails.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace apptest {

// Serves the Qt loop (and through it the main queue) until pred() holds or the time is up.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        dispatch::RunLoop::main().runPending();
    }
    return true;
}

// Renders a widget into build/screenshots/<name>.png for a person to look at.
inline bool saveScreenshot(QWidget* widget, const std::string& name) {
    const std::string folder = std::string(HVB_TEST_BUILD_DIR) + "/screenshots";
    QDir().mkpath(QString::fromStdString(folder));
    widget->ensurePolished();
    if (widget->layout()) widget->layout()->activate();
    return widget->grab().save(QString::fromStdString(folder + "/" + name + ".png"));
}

// The window as saveScreenshot takes it, with the tooltip of `widget` drawn where it shows when
// the pointer rests on it.
inline bool saveScreenshotWithToolTip(QWidget* window, QWidget* widget, const std::string& name) {
    QToolTip::showText(widget->mapToGlobal(QPoint(widget->width() / 2, widget->height())), widget->toolTip(), widget);
    QWidget* tip = nullptr;
    waitUntil([&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("qtooltip_label") && top->isVisible()) tip = top;
        return tip != nullptr;
    }, 2000);
    window->ensurePolished();
    if (window->layout()) window->layout()->activate();
    QPixmap picture = window->grab();
    if (tip) {
        QPainter painter(&picture);
        painter.drawPixmap(window->mapFromGlobal(tip->pos()), tip->grab());
    }
    QToolTip::hideText();
    const std::string folder = std::string(HVB_TEST_BUILD_DIR) + "/screenshots";
    QDir().mkpath(QString::fromStdString(folder));
    return tip && picture.save(QString::fromStdString(folder + "/" + name + ".png"));
}

// A localisation's "Message" table of the source tree, key to text.
inline QHash<QString, QString> messageTable(const QString& localisation) {
    QFile file(QStringLiteral(HVB_TEST_SOURCE_DIR "/resources/%1.lproj/Message.strings").arg(localisation));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return hvb::parseStrings(file.readAll()).entries;
}

// What is amiss with the buttons of `root` that show a picture and no text: each needs a name for
// screen readers and a tooltip, both texts of the localisation's "Message" table whose key has a
// text in English and in Traditional Chinese alike. `seen` counts the buttons looked at.
inline QStringList unnamedPictureButtons(QWidget* root, int& seen, const QString& localisation) {
    const QHash<QString, QString> shown = messageTable(localisation);
    const QHash<QString, QString> en = messageTable(QStringLiteral("en"));
    const QHash<QString, QString> zh = messageTable(QStringLiteral("zh-Hant"));
    QStringList faults;
    for (auto* button : root->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(root) || button->icon().isNull() || !button->text().isEmpty()) continue;
        ++seen;
        const QString who = button->objectName().isEmpty() ? QString::fromLatin1(button->metaObject()->className())
                                                           : button->objectName();
        for (const auto& [what, text] : {std::pair{QStringLiteral("name"), button->accessibleName()},
                                         std::pair{QStringLiteral("tooltip"), button->toolTip()}}) {
            const QString key = shown.key(text);
            if (text.isEmpty())
                faults << who + QStringLiteral(": no ") + what;
            else if (key.isEmpty())
                faults << who + QStringLiteral(": ") + what + QStringLiteral(" not of the table: ") + text;
            else if (en.value(key).trimmed().isEmpty() || zh.value(key).trimmed().isEmpty())
                faults << who + QStringLiteral(": ") + what + QStringLiteral(" not in both languages: ") + key;
        }
    }
    return faults;
}

// What keeps `window` from being used by the keyboard alone: a visible, enabled button, link or
// pop-up that Tab, pressed from no focus until the focus is back where it began, never reaches (of
// a group of radio buttons, it reaches one), Tab staying on one place or going up the window, and
// a place it stops at that looks the same without the focus (unless it is the only one). The
// window is saved as shots[name] while the focus is on the place of that name.
inline QStringList keyboardFaults(QWidget* window, const QHash<QString, std::string>& shots = {}) {
    window->activateWindow();
    if (!waitUntil([&] { return window->isActiveWindow(); }, 2000)) return {"the window never became active"};
    auto who = [](QWidget* w) {
        auto* button = qobject_cast<QAbstractButton*>(w);
        if (!w->objectName().isEmpty()) return w->objectName();
        return w->metaObject()->className() + (button ? " \"" + button->text() + "\"" : QString());
    };
    auto top = [&](QWidget* place) { return place->mapTo(window, QPoint(0, 0)).y(); };
    QStringList faults;
    if (QWidget* now = window->focusWidget()) now->clearFocus();
    QHash<QWidget*, QImage> focused;  // each place as it looks with the focus
    QWidget *first = nullptr, *last = nullptr;
    for (int press = 0; press < 200; ++press, last = QApplication::focusWidget()) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(window->focusWidget() ? window->focusWidget() : window, &tab);
        QWidget* now = QApplication::focusWidget();
        if (!now || now == first || now == last) {
            if (now && now == last && now != first) faults << who(now) + ": Tab stays there";
            break;
        }
        if (last && top(now) + 8 < top(last)) faults << who(now) + ": reached after " + who(last) + ", below it";
        if (!first) first = now;
        focused.insert(now, now->grab().toImage());
        if (shots.contains(who(now)) && !saveScreenshot(window, shots.value(who(now)))) faults << "no screenshot";
    }
    if (QWidget* now = QApplication::focusWidget()) now->clearFocus();
    for (auto it = focused.cbegin(); focused.size() > 1 && it != focused.cend(); ++it)
        if (it.key()->grab().toImage() == it.value()) faults << who(it.key()) + ": no sign of the focus";
    QSet<QWidget*> radioGroups;  // the parents of the radio buttons Tab reached
    for (QWidget* place : focused.keys())
        if (qobject_cast<QRadioButton*>(place)) radioGroups.insert(place->parentWidget());
    for (QWidget* control : window->findChildren<QWidget*>()) {
        const bool operable = qobject_cast<QAbstractButton*>(control) || qobject_cast<QComboBox*>(control) ||
                              control->inherits("hvb::HandCursorNSTextField");
        const bool reached = focused.contains(control) ||
                             (qobject_cast<QRadioButton*>(control) && radioGroups.contains(control->parentWidget()));
        if (operable && control->isVisibleTo(window) && control->isEnabled() && !reached)
            faults << who(control) + ": never reached by Tab";
    }
    return faults;
}

// A camera the Status row shows in full: a model with a webcam mode, its record and commands.
inline std::shared_ptr<hvb::HVBModel> cameraWithStatus(bool locked) {
    hvb::buildAllCommandTables();
    auto record = std::make_shared<hvb::DiskDriver_Parameter>();
    record->ModelName = "HVBS2A";
    record->FWVersion = "1.13.0";
    record->UID = "123456789012";
    record->UserLabel = "Unit 7";
    record->isLockStatus = locked;
    record->DeviceParam = std::make_shared<hvb::sDeviceParam>();
    auto camera = std::make_shared<hvb::HVBModel>("SN1");
    camera->setStatusInfo(
        hvb::StatusModel{record, hvb::cmdTables().find("HVBS2ACmd_6").value_or(hvb::CommandDictionary{})});
    return camera;
}

// Lists one camera in `models`, then the same one locked, and shows each in the Status row of
// `window`, saved as "<prefix>main-window-one-camera" and "…-one-locked-camera", the speaker's
// tooltip and the focus on the rename and version buttons and the panel list too; `each` checks
// more of each. Returns what is amiss: the row not showing the camera, what unnamedPictureButtons
// or keyboardFaults finds, or not the four picture buttons of a camera (rename, speaker, folder,
// webcam) or the two of a locked one (the speaker and the lock).
inline QStringList showEachCameraRow(QWidget* window, std::vector<std::shared_ptr<hvb::HVBModel>>& models,
                                     const std::string& prefix, const QString& localisation,
                                     const std::function<void()>& each = {}) {
    using hvb::LocalizedString::Msg;
    QStringList wrong;
    for (const bool locked : {false, true}) {
        const QString state = QString::fromLatin1(locked ? "locked: " : "unlocked: ");
        models = {cameraWithStatus(locked)};
        foundation::NotificationCenter::defaultCenter().post(hvb::kStatusDidGet);
        // The row has shown the camera once its folder button says what it does for that lock.
        const QString folderDoes = locked ? Msg::unlockCameraButton() : Msg::openFolderButton();
        if (!waitUntil([&] {
                auto* folder = window->findChild<QAbstractButton*>("folderButton");
                return folder && folder->isVisibleTo(window) && folder->accessibleName() == folderDoes;
            }))
            wrong << state + "the row never showed the camera";
        if (!saveScreenshot(window, prefix + (locked ? "main-window-one-locked-camera" : "main-window-one-camera")))
            wrong << state + "no screenshot";
        int seen = 0;
        for (const QString& fault : unnamedPictureButtons(window, seen, localisation)) wrong << state + fault;
        if (seen != (locked ? 2 : 4)) wrong << state + QString::number(seen) + " picture buttons";
        auto* speaker = window->findChild<QAbstractButton*>("buzzerButton");
        if (!locked && !(speaker && saveScreenshotWithToolTip(window, speaker, prefix + "main-window-speaker-tooltip")))
            wrong << state + "no speaker tooltip";
        const QHash<QString, std::string> shots = {
            {"editButton", prefix + "main-window-focus-rename"},
            {"fwReleaseNoteButton", prefix + "main-window-focus-version-history"},
            {"hvb::PanelCollectionView", prefix + "main-window-focus-panel-list"}};
        for (const QString& fault : keyboardFaults(window, shots)) wrong << state + fault;
        if (each) each();
    }
    return wrong;
}

// Shows the Status page with the driver known to be stopped, then being started, and saves
// "<prefix>main-window-driver-stopped" and "…-starting"; `each` checks more of each state. Ends
// with the state not known down. Returns what went wrong: the line missing, shown when it should
// not be, not saying the state's text, or not hidden again.
inline QStringList showEachDriverHostState(QWidget* window, const std::string& prefix,
                                           const std::function<void(QLabel* line)>& each = {}) {
    using hvb::DriverHostState;
    using hvb::LocalizedString::Msg;
    QStringList wrong;
    auto* line = window->findChild<QLabel*>("driverStoppedLabel");
    if (!line) return {"no driverStoppedLabel"};
    if (line->isVisible()) wrong << "shown before the driver was known to be stopped";
    auto says = [&](const QString& text) {
        return line->isVisible() && line->text().remove('\n').remove(' ') == QString(text).remove(' ');
    };
    const std::tuple<DriverHostState::State, const char*, QString> states[] = {
        {DriverHostState::State::down, "main-window-driver-stopped", Msg::driverNotRunning()},
        {DriverHostState::State::starting, "main-window-driver-starting", Msg::driverStarting()},
    };
    for (const auto& [state, name, text] : states) {
        DriverHostState::shared().set(state);
        if (!waitUntil([&] { return says(text); })) wrong << QString("%1: the line says \"%2\"").arg(name, line->text());
        if (!saveScreenshot(window, prefix + name)) wrong << QString("%1: no screenshot").arg(name);
        if (each) each(line);
    }
    DriverHostState::shared().set(DriverHostState::State::notKnownDown);
    if (!waitUntil([&] { return !line->isVisible(); })) wrong << "still shown once the host answers";
    return wrong;
}

}  // namespace apptest
