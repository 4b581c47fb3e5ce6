#pragma once
// Fakes for the Tool panel's tests: the fake camera link with cameras as the panel reads them,
// dialogs that stand in for the long-running ones of the storyboard, and a poller that acts
// inside a running modal session.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QLabel>
#include <QPointer>
#include <QTimer>

#include "camera/FakeCameraLink.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"

namespace toolstest {

// The one fake link, answering with the program's own command tables.
inline std::shared_ptr<hvbtest::FakeCameraLink> makeFakeLink() {
    auto link = std::make_shared<hvbtest::FakeCameraLink>();
    link->programTables = true;
    return link;
}

// A camera of that table, listed at the next index: firmware 1.0.0, its lock state, and its
// user label when it has one.
inline hvb::DiskDriver_Parameter& addCamera(hvbtest::FakeCameraLink& link, const std::string& serial,
                                            const std::string& model, int64_t cut,
                                            std::optional<bool> encrypted = false, const std::string& label = "") {
    hvb::DiskDriver_Parameter& record = link.addCamera(serial, model, cut);
    record.FWVersion = "1.0.0";
    record.isDeviceEncryption = encrypted;
    if (!label.empty()) record.UserLabel = label;
    return record;
}

// A stand-in for a long-running dialog: it notes the state byte it found when it loaded.
struct DialogLog {
    std::vector<std::pair<std::string, int>> opened;  // identifier, state at load
};

class FakeDialog : public appkit::ViewController {
public:
    FakeDialog(std::string identifier, int state) : identifier(std::move(identifier)), state(state) {
        auto* label = new QLabel(QString::fromStdString(this->identifier), this);
        label->resize(200, 40);
        resize(220, 60);
    }
    const std::string identifier;
    const int state;
};

class FakeDialogWindowController : public appkit::WindowController {
public:
    FakeDialogWindowController(std::string identifier, std::function<int()> state, DialogLog* log)
        : identifier_(std::move(identifier)), state_(std::move(state)), log_(log) {}
    appkit::Window* makeWindow() override {
        const int state = state_ ? state_() : -1;
        if (log_) log_->opened.emplace_back(identifier_, state);
        return new appkit::Window(new FakeDialog(identifier_, state));
    }

private:
    std::string identifier_;
    std::function<int()> state_;
    DialogLog* log_;
};

inline void registerFakeDialog(const std::string& identifier, std::function<int()> state, DialogLog* log) {
    appkit::Storyboard::main().registerController(identifier, [identifier, state, log] {
        return new FakeDialogWindowController(identifier, state, log);
    });
}

// Runs `action` once, with the signal's values, the first time `sender` emits `signal`: from the
// Qt loop once the emitting step is done (so also inside modal sessions). Never runs once
// `sender` is gone.
template <class Sender, class Signal, class Action>
void onceEmitted(Sender* sender, Signal signal, Action action) {
    QObject::connect(sender, signal, sender, std::move(action),
                     static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
}

// Runs `action` from the Qt loop, after the current step (for a modal session's hook, once
// the session runs). Never runs once `owner` is gone.
inline void later(QObject* owner, std::function<void()> action) {
    QMetaObject::invokeMethod(owner, std::move(action), Qt::QueuedConnection);
}

// Runs `action` once `condition` holds, checking every few milliseconds from the Qt loop (so
// also inside modal sessions): only for states that stay until the test acts. The poller goes
// away with `owner`.
inline void whenTrue(QObject* owner, std::function<bool()> condition, std::function<void()> action) {
    auto* timer = new QTimer(owner);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, condition, action] {
        if (!condition()) return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

}  // namespace toolstest
