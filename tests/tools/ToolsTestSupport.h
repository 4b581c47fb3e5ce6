#pragma once
// Fakes for the Tool panel's tests: a camera link whose device state the test writes, dialogs
// that stand in for the long-running ones of the storyboard, and a poller that acts inside a
// running modal session.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QLabel>
#include <QPointer>
#include <QTimer>

#include "camera/SerialMatch.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"
#include "tools/ToolsCameraLink.h"

namespace toolstest {

// Device state written by the test; camera commands are not expected.
class FakeToolsLink : public hvb::ToolsCameraLink {
public:
    int64_t count = 0;
    std::vector<hvb::DeviceEntry> entries;
    std::map<std::string, hvb::DiskDriver_Parameter> records;
    // The driver services present, by serial number (none: a service without one).
    std::vector<std::optional<std::string>> serials;
    bool adding = false;
    int64_t selected = -1;

    int64_t plugInDeviceCount() const override { return count; }
    std::vector<hvb::DeviceEntry> deviceEntries() const override { return entries; }
    std::optional<hvb::DiskDriver_Parameter> record(const std::string& key) const override {
        auto it = records.find(key);
        if (it == records.end()) return std::nullopt;
        return it->second;
    }
    std::optional<hvb::CommandDictionary> commandTable(const std::string& name) const override {
        return hvb::cmdTables().find(name);
    }
    int64_t selectedDeviceIndex() const override { return selected; }
    void setSelectedDeviceIndex(int64_t index) override { selected = index; }
    bool isAddingDevice() const override { return adding; }
    bool modelListEmpty() const override { return entries.empty(); }
    std::optional<int64_t> changePasswordErrorCount(const std::string& key,
                                                    const std::function<int64_t(int64_t)>& change) override {
        auto it = records.find(key);
        if (it == records.end()) return std::nullopt;
        it->second.passwordErrorCnt = change(it->second.passwordErrorCnt);
        return it->second.passwordErrorCnt;
    }
    void setEnteredPassword(const std::string&) override {}
    std::string enteredPassword() const override { return {}; }
    bool setFormatBlock(const std::string& key, bool blocked) override {
        auto it = records.find(key);
        if (it == records.end()) return false;
        it->second.isFormatBlock = blocked;
        return true;
    }
    void writeBVConfigIni(const std::string&) override {}
    // The live link's rule: the first service whose serial contains the UID; its handle is its
    // position plus one.
    io_service_t driverService(const std::string& uid) const override {
        for (size_t i = 0; i < serials.size(); ++i)
            if (serials[i] && hvb::serialContains(*serials[i], uid, hvb::MatchCase::sensitive))
                return static_cast<io_service_t>(i + 1);
        return IO_OBJECT_NULL;
    }
    void releaseService(io_service_t) const override {}
    void clearDeviceService() override {}
    bool hasDeviceService() const override { return false; }
    hvb::CommandOutcome sendCommandData(io_service_t, uint8_t, std::span<const uint8_t>) override {
        return hvb::CommandOutcome::failed;
    }
    hvb::CommandOutcome sendCommandWords(io_service_t, uint8_t, std::span<const uint32_t>) override {
        return hvb::CommandOutcome::failed;
    }
    hvb::CommandOutcome readCommand(io_service_t, uint8_t, std::vector<uint8_t>&, uint32_t) override {
        return hvb::CommandOutcome::failed;
    }
    bool syncDeviceDateTime(const std::string&, const hvb::CommandDictionary&, const std::string&) override {
        return false;
    }
    std::string readDeviceDateTime(const std::string&, const hvb::CommandDictionary&) override { return {}; }
    void sendEvent(const std::string&, const std::map<std::string, std::string>&) override {}
    void logScreen(const std::string&, const std::string&) override {}

    // A camera of that table, listed at the next index.
    void addCamera(const std::string& serial, const std::string& model, int64_t cut,
                   std::optional<bool> encrypted = false, const std::string& label = "") {
        hvb::DeviceEntry entry{serial, "", static_cast<int64_t>(entries.size())};
        hvb::DiskDriver_Parameter record;
        record.ModelName = model;
        record.cut = cut;
        record.UID = serial;
        record.FWVersion = "1.0.0";
        record.UserLabel = label;
        record.isDeviceEncryption = encrypted;
        records[entry.key()] = record;
        entries.push_back(entry);
        count = static_cast<int64_t>(entries.size());
    }
};

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
