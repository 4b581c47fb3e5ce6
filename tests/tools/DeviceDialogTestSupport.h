#pragma once
// What the password, format and reset tests share: a live link that can act right before a
// chosen command reaches the camera (pull it off the bus, say), and a fixture that drives the
// long dialogs through their modal sessions and notes every outcome screen as the dialog shows it.
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "ToolsFixture.h"
#include "ToolsTestSupport.h"
#include "platform/foundation/TempDir.h"
#include "tools/DeviceTaskViewController.h"
#include "tools/HVBToolViewController.h"
#include "tools/PasswordEnterViewControl.h"
#include "tools/PasswordSettingViewControl.h"
#include "tools/Redetection.h"

namespace toolstest {

// The live link with an action that runs once, right before (or right after) the n-th command
// of a code; its driver host can be lost.
class FaultLink : public hvb::LiveCameraLink {
public:
    void loseHost() { ++hostLosses_; }
    uint64_t driverHostLosses() const override { return hostLosses_.load(); }

    void before(uint8_t code, std::function<void()> action, int occurrence = 1) {
        std::lock_guard<std::mutex> guard(faultLock_);
        faults_[code] = Fault{std::move(action), occurrence};
    }
    void after(uint8_t code, std::function<void()> action, int occurrence = 1) {
        std::lock_guard<std::mutex> guard(faultLock_);
        afters_[code] = Fault{std::move(action), occurrence};
    }

    hvb::CommandOutcome sendCommandData(io_service_t s, uint8_t code, std::span<const uint8_t> bytes) override {
        fire(code);
        const auto outcome = LiveCameraLink::sendCommandData(s, code, bytes);
        fire(code, afters_);
        return outcome;
    }
    hvb::CommandOutcome sendCommandWords(io_service_t s, uint8_t code, std::span<const uint32_t> words) override {
        fire(code);
        return LiveCameraLink::sendCommandWords(s, code, words);
    }
    hvb::CommandOutcome readCommand(io_service_t s, uint8_t code, std::vector<uint8_t>& reply,
                                    uint32_t length) override {
        fire(code);
        return LiveCameraLink::readCommand(s, code, reply, length);
    }

private:
    struct Fault {
        std::function<void()> action;
        int occurrence = 1;
    };
    void fire(uint8_t code) { fire(code, faults_); }
    void fire(uint8_t code, std::map<uint8_t, Fault>& faults) {
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> guard(faultLock_);
            auto it = faults.find(code);
            if (it == faults.end()) return;
            if (--it->second.occurrence > 0) return;
            action = std::move(it->second.action);
            faults.erase(it);
        }
        if (action) action();
    }
    std::mutex faultLock_;
    std::map<uint8_t, Fault> faults_;
    std::map<uint8_t, Fault> afters_;  // only data writes have them
    std::atomic<uint64_t> hostLosses_{0};
};

// One screen a long dialog showed when its outcome was decided.
struct Outcome {
    std::string dialog;  // the content's object name
    int state = 0;       // the dialog's state byte when it loaded
    QString text;        // "Success" or "Fail"
};

class DialogFixture : public ToolsFixture {
protected:
    void SetUp() override {
        ToolsFixture::SetUp();
        faults = std::make_shared<FaultLink>();
        link = faults;
        hvb::setCameraLink(faults);
        hvb::selectedCmdDic.clear();
        hvb::diskFormatTarget.reset();
        hvb::dialogTargetUID.reset();
        onModal = [this](appkit::Window* w) { drive(w); };
    }
    void TearDown() override {
        // A re-detection still ticking would replace a later test's dialog.
        EXPECT_TRUE(waitUntil([] { return hvb::Redetection::running() == 0; }, 60000));
        settle(50);
        panel.reset();
        ToolsFixture::TearDown();
    }

    // A camera with a volume folder of its own (holding one file and SYSTEM/BVConfig.ini).
    std::shared_ptr<SimulatedBodyCamera> camera(const std::string& model, const std::string& firmware,
                                                const std::string& password = "") {
        BodyCameraOptions o;
        o.password = password;
        // A UID the plug-in read takes: twelve letters and digits or more.
        char number[8];
        std::snprintf(number, sizeof number, "%05zu", cameras.size() + 1);
        o.serialNumber = model + "SN" + number;
        o.volumeFolder = folder / o.serialNumber;
        TempDir::write(o.volumeFolder / "DCIM_0001.MP4", "video");
        TempDir::write(o.volumeFolder / "SYSTEM" / "BVConfig.ini", "0000\n");
        return makeCamera(model, firmware, o);
    }
    std::shared_ptr<SimulatedBodyCamera> plugged(const std::string& model, const std::string& firmware,
                                                 const std::string& password = "") {
        auto c = camera(model, firmware, password);
        EXPECT_TRUE(plug(c));
        return c;
    }
    std::filesystem::path volumeOf(const std::shared_ptr<SimulatedBodyCamera>& c) const {
        return folder / c->serialNumber();
    }
    bool hasVideo(const std::shared_ptr<SimulatedBodyCamera>& c) const {
        return std::filesystem::exists(volumeOf(c) / "DCIM_0001.MP4");
    }

    // The Tool panel, shown, with the camera of that device index chosen.
    hvb::HVBToolViewController& toolPanel(int64_t deviceIndex = 0) {
        hvb::DeviceState::shared().selectedDeviceIndex = deviceIndex;
        panel = std::make_unique<hvb::HVBToolViewController>();
        panel->view();
        panel->beginAppearance();
        panel->endAppearance();
        EXPECT_TRUE(waitUntil([&] { return panel->FormatBtn->isEnabled(); }));
        return *panel;
    }
    // The panel after a camera came back: rows for the chosen camera again.
    void refreshPanel() {
        panel->reloadToolPage();
        settle(20);
    }

    std::vector<std::string> names(const std::shared_ptr<SimulatedBodyCamera>& c) { return writeNames(*c); }
    static std::vector<uint8_t> block(const std::string& text) {
        std::vector<uint8_t> out(32, 0);
        std::copy(text.begin(), text.end(), out.begin());
        return out;
    }
    static std::vector<uint8_t> startBlock() {
        std::vector<uint8_t> out(32, 0);
        out[0] = 1;
        return out;
    }

    bool sawSuccess() const {
        for (const auto& o : outcomes)
            if (o.text == "Success") return true;
        return false;
    }
    QString lastOutcome() const { return outcomes.empty() ? QString() : outcomes.back().text; }

    // ---- driving the dialogs ----

    // What the password dialog types when it opens at its form (mode decides which boxes).
    struct Form {
        QString original;
        QString newPassword;
        QString confirm;
    };
    std::optional<Form> form;
    // What the unlock dialog types.
    QString unlockPassword;
    // False: a question is answered with Cancel.
    bool answerOK = true;
    // Called when a long dialog shows its question, before it is answered.
    std::function<void(appkit::ViewController*)> atQuestion;

    void drive(appkit::Window* w) {
        appkit::ViewController* content = w->contentViewController();
        ++opened;
        if (auto* task = dynamic_cast<hvb::DeviceTaskViewController*>(content)) return driveTask(task);
        if (auto* password = dynamic_cast<hvb::PasswordSettingViewControl*>(content)) return drivePassword(password);
        if (auto* unlock = dynamic_cast<hvb::PasswordEnterViewControl*>(content)) {
            unlock->passwordSecureTextField->setText(unlockPassword);
            unlock->controlTextDidChange(unlock->passwordSecureTextField);
            unlock->buttonOK->click();
            return;
        }
        w->performClose();
        appkit::abortModal();
    }

    void note(appkit::ViewController* content, int state, const QString& text) {
        outcomes.push_back({content->objectName().toStdString(), state, text});
    }

    void driveTask(hvb::DeviceTaskViewController* task) {
        QPointer<hvb::DeviceTaskViewController> d(task);
        if (task->showsOutcome()) {
            // Opened on a result (the re-detection's replacement).
            note(task, 1, task->text());
            later(task, [d] {
                if (d) d->okButton()->click();
            });
            return;
        }
        if (atQuestion) atQuestion(task);
        if (!answerOK) {
            task->cancelButton()->click();
            return;
        }
        // Noted as it shows: the format's result screen closes itself soon after.
        onceEmitted(task, &hvb::DeviceTaskViewController::outcomeShown, [this, d](const QString& text) {
            if (!d) return;
            note(d, 0, text);
            if (d->hostWindow() && d->hostWindow()->isVisibleWindow()) d->okButton()->click();
        });
        task->okButton()->click();
    }

    void drivePassword(hvb::PasswordSettingViewControl* p) {
        QPointer<hvb::PasswordSettingViewControl> d(p);
        if (hvb::passwordSettingState != 0) {
            note(p, hvb::passwordSettingState, p->passwordSettingInfoText->text());
            later(p, [d] {
                if (d) d->buttonOK->click();
            });
            return;
        }
        if (atQuestion) atQuestion(p);
        if (!form) {
            p->buttonCancel->click();
            return;
        }
        fill(p, *form);
        if (!p->buttonOK->isEnabled()) {
            note(p, 0, QStringLiteral("OK disabled"));
            p->buttonCancel->click();
            return;
        }
        // A failure screen (state 2) or the form again after an error; a success waits for the
        // re-detection, which replaces this dialog.
        onceEmitted(p, &hvb::PasswordSettingViewControl::outcomeShown, [this, d](const QString& text) {
            if (!d) return;
            note(d, 0, text);
            d->buttonOK->click();
        });
        onceEmitted(p, &hvb::PasswordSettingViewControl::formShownAgain, [this, d] {
            if (!d) return;
            note(d, 0, QStringLiteral("form again"));
            d->buttonCancel->click();
        });
        p->buttonOK->click();
    }

    static void type(QLineEdit* field, const QString& text) {
        field->setText(text);
        emit field->textEdited(text);
    }
    static void fill(hvb::PasswordSettingViewControl* p, const Form& f) {
        if (!p->original.box->isHidden()) type(p->original.field, f.original);
        if (!p->newPassword.box->isHidden()) type(p->newPassword.field, f.newPassword);
        if (!p->confirm.box->isHidden()) type(p->confirm.field, f.confirm);
    }

    std::shared_ptr<FaultLink> faults;
    std::unique_ptr<hvb::HVBToolViewController> panel;
    TempDir volumes;
    const std::filesystem::path folder = volumes.path();
    std::vector<Outcome> outcomes;
    int opened = 0;
};

}  // namespace toolstest
