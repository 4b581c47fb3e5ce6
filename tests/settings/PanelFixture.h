#pragma once
// The Setting pane on this process's camera link: simulated cameras behind the driver in this
// process, analytics to the web-service stand-in, message dialogs answered by the test.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <nlohmann/json.hpp>

#include "app/AppStartup.h"
#include "app/AppTestSupport.h"
#include "camera/CameraLinkFixture.h"
#include "camera/FakeCameraLink.h"
#include "common/MsgDialog.h"
#include "online/OnlineTestSupport.h"
#include "platform/appkit/AppkitTestSupport.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Window.h"
#include "settings/ButtonCell.h"
#include "settings/PopUpButtonCell.h"
#include "settings/SettingsRowView.h"
#include "settings/SettingsTableView.h"
#include "settings/SettingsViewController.h"
#include "standins/webservice/WebService.h"

namespace settingstest {

using hvbtest::FakeEvent;
using Lines = std::vector<std::string>;

// A table as its widgets show it (the same form as describe()).
inline Lines describeTable(hvb::SettingsTableView* table) {
    Lines out;
    for (int row = 0; row < table->settingsModel()->rowCount(); ++row) {
        if (auto* view = table->rowView(row); view && view->isSeparator) {
            out.push_back("---");
            continue;
        }
        std::string line = table->titleAt(row).toStdString();
        if (auto* button = table->buttonCell(row)) {
            line += " [" + button->btnSyncTime->text().toStdString() + "]";
            if (!button->btnSyncTime->isEnabled()) line += " !";
        } else if (auto* cell = table->popUpCell(row)) {
            line += " " + cell->popUpButton->currentText().toStdString() + "/" + std::to_string(cell->popUpButton->count());
            if (!cell->popUpButton->isEnabled()) line += " !";
        } else {
            line += line.empty() ? "(blank)" : " (no control)";
        }
        out.push_back(line);
    }
    return out;
}

// What a message dialog showed.
struct ShownDialog {
    std::string title, text, icon;
    bool operator==(const ShownDialog&) const = default;
};

class PanelFixture : public camtest::CameraLinkFixture {
protected:
    void SetUp() override {
        CameraLinkFixture::SetUp();
        hvb::registerAppControllers();
        ASSERT_GT(service.start(), 0);
        ::setenv("HVB_ANALYTICS_BASE", service.baseURL().c_str(), 1);
        modalHook_.emplace([this](appkit::Window* window) { answerDialog(window); });
        startWatcher();
    }

    void TearDown() override {
        // Each appearance reports the screen from a worker; it is through once it arrived.
        EXPECT_TRUE(apptest::waitUntil([&] { return screenViews() >= appearances; }, 30000));
        if (panel) {
            apptest::waitUntil([&] { return !panel->isBusy(); }, 30000);
            panel->beginDisappearance();
            panel->endDisappearance();
            panel.reset();
        }
        modalHook_.reset();
        apptest::waitUntil([] { return false; }, 30);
        ::unsetenv("HVB_ANALYTICS_BASE");
        CameraLinkFixture::TearDown();
    }

    // A camera of that model on the bus, read and published; `before` tunes it first.
    std::shared_ptr<camtest::SimulatedBodyCamera> plug(
        const std::string& model, const std::string& firmware,
        const std::function<void(camtest::SimulatedBodyCamera&)>& before = {}, camtest::BodyCameraOptions options = {}) {
        auto camera = makeCamera(camtest::profile(model, firmware), std::move(options));
        if (before) before(*camera);
        const int64_t count = hvb::DeviceState::shared().PlugInDeviceCnt.load();
        EXPECT_TRUE(camera->attach(bus));
        EXPECT_TRUE(apptest::waitUntil([&] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == count + 1; },
                                       30000));
        apptest::waitUntil([] { return false; }, 30);
        camera->clearWrites();
        return camera;
    }

    // A camera with a volume folder (with its SYSTEM folder) that the test can look into.
    std::shared_ptr<camtest::SimulatedBodyCamera> plugWithVolume(
        const std::string& model, const std::string& firmware,
        const std::function<void(camtest::SimulatedBodyCamera&)>& before = {}) {
        volumes.push_back(std::make_unique<TempDir>());
        std::filesystem::create_directories(volumes.back()->path() / "SYSTEM");
        camtest::BodyCameraOptions options;
        options.volumeFolder = volumes.back()->path();
        return plug(model, firmware, before, options);
    }

    std::filesystem::path iniOf(size_t volume) { return volumes.at(volume)->path() / "SYSTEM" / "BVConfig.ini"; }

    // The pane, shown and appeared, with its tables built.
    hvb::SettingsViewController* showPanel(std::shared_ptr<hvb::CameraLink> link = nullptr,
                                           bool withCamera = true) {
        panel = std::make_unique<hvb::SettingsViewController>(std::move(link));
        QObject::connect(panel.get(), &hvb::SettingsViewController::settingTablesReloaded, [this] { ++reloads; });
        panel->resize(860, 680);
        panel->view();
        panel->beginAppearance();
        ++appearances;
        panel->show();
        panel->endAppearance();
        if (withCamera) {
            EXPECT_TRUE(waitForReload(0));
        }
        return panel.get();
    }

    // Waits until the tables were rebuilt after `before` reloads and no write is under way.
    bool waitForReload(int before) {
        const bool reloaded = apptest::waitUntil([&] { return reloads > before && !panel->isBusy(); }, 30000);
        apptest::waitUntil([] { return false; }, 20);
        return reloaded;
    }

    hvb::PopUpButtonCell* cell(const std::string& identifier) {
        for (auto* table : {panel->deviceTableView.data(), panel->videoTableView.data(), panel->stampTableView.data()})
            for (int row = 0; row < table->settingsModel()->rowCount(); ++row)
                if (auto* c = table->popUpCell(row); c && c->popUpButton->objectName().toStdString() == identifier)
                    return c;
        return nullptr;
    }

    // Chooses an option the way a user does, then waits for the write and the rebuild.
    bool choose(const std::string& identifier, int index) {
        hvb::PopUpButtonCell* c = cell(identifier);
        if (!c) {
            ADD_FAILURE() << "no pop-up " << identifier;
            return false;
        }
        const int before = reloads;
        c->popUpButton->setCurrentIndex(index);
        emit c->popUpButton->activated(index);
        return waitForReload(before);
    }

    // Chooses a camera in the selector by its text, as a user does.
    bool chooseCamera(const QString& title) {
        const int position = panel->deviceComboBox->findText(title);
        if (position < 0) return false;
        const int before = reloads;
        panel->deviceComboBox->setCurrentIndex(position);
        emit panel->deviceComboBox->activated(position);
        return waitForReload(before);
    }

    std::string shown(const std::string& identifier) {
        auto* c = cell(identifier);
        return c ? c->popUpButton->currentText().toStdString() : std::string("(none)");
    }

    int64_t value(const std::shared_ptr<camtest::SimulatedBodyCamera>& camera, hvb::EnumSettings key) {
        auto record = recordOf(camera->serialNumber());
        return record && record->DeviceParam ? record->DeviceParam->get(key) : -2;
    }

    // The "Settings" events, then the "Settings_Failed" ones, the analytics stand-in received,
    // once there are `count` of them.
    std::vector<FakeEvent> collected(size_t count) {
        std::vector<FakeEvent> events;
        apptest::waitUntil(
            [&] {
                events.clear();
                for (const char* name : {"Settings", "Settings_Failed"})
                    for (const auto& p : hvbtest::collectedEvents(service, name))
                        events.push_back({name, p.value("action", ""), p.value("label", "")});
                return events.size() >= count;
            },
            30000);
        return events;
    }
    // Screen views of the pane the analytics stand-in received.
    int screenViews() {
        int count = 0;
        for (const auto& p : hvbtest::collectedEvents(service, "screen_view"))
            if (p.value("screen_name", "") == "Settings" && p.value("MainBack", "") == "SettingsViewController") ++count;
        return count;
    }
    std::multiset<std::pair<std::string, std::string>> collectedSet(size_t count) {
        std::multiset<std::pair<std::string, std::string>> set;
        for (const auto& e : collected(count)) set.insert({e.name, e.action + "|" + e.label});
        return set;
    }

    // Message dialogs: recorded, then closed with OK (after `whileOpen`, when set).
    std::vector<ShownDialog> dialogsShown;
    std::function<void()> whileOpen;
    // The next dialog is also saved as a picture under this name.
    std::string dialogScreenshot;

    standin::WebService service;
    std::unique_ptr<hvb::SettingsViewController> panel;
    std::vector<std::unique_ptr<TempDir>> volumes;
    int reloads = 0;
    int appearances = 0;

private:
    void answerDialog(appkit::Window* window) {
        auto* dialog = dynamic_cast<hvb::MsgDialogViewController*>(window->contentViewController());
        if (!dialog) {
            appkit::abortModal();
            return;
        }
        dialogsShown.push_back({dialog->MsgTitle->text().toStdString(), dialog->MsgText->text().toStdString(),
                                dialog->iconName().toStdString()});
        if (!dialogScreenshot.empty()) {
            window->adjustSize();
            EXPECT_TRUE(apptest::saveScreenshot(window, dialogScreenshot));
            dialogScreenshot.clear();
        }
        if (whileOpen) whileOpen();
        dialog->ButtonOK_Click();
    }
    std::optional<appkit_test::ModalHookScope> modalHook_;
};

}  // namespace settingstest
