#pragma once
// Simulated cameras behind the driver in this process, the Qt event loop driving the main
// queue, the web service stand-in collecting analytics, and the desktop's opener and the
// "diskutil" helper replaced by recording scripts in a helper folder of the test's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <QApplication>
#include <QWidget>

#include "app/AppStartup.h"
#include "app/AppTestSupport.h"
#include "camera/CameraLinkFixture.h"
#include "camera/StatusModel.h"
#include "online/OnlineTestSupport.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "standins/webservice/WebService.h"
#include "status/FirmwareInfoCache.h"
#include "status/StatusTableViewCell.h"
#include "status/StatusViewController.h"

namespace statustest {

using namespace camtest;

// The shared web service once started, for the environment below to stop.
inline standin::WebService*& startedWebService() {
    static standin::WebService* service = nullptr;
    return service;
}

class StatusFixture : public CameraLinkFixture {
protected:
    void SetUp() override {
        CameraLinkFixture::SetUp();
        hvb::registerAppControllers();
        hvb::FirmwareInfoCache::shared().reset();
        auto hooks = hvb::cameraLinkHooks();
        hooks.isFirmwareUpToDate = [state = firmware_](const std::string& model, const std::string&) {
            std::lock_guard<std::mutex> guard(state->lock);
            return state->outdated.count(model) == 0;
        };
        hooks.downloadReleaseNotes = [state = firmware_] {
            std::lock_guard<std::mutex> guard(state->lock);
            ++state->releaseNoteDownloads;
        };
        hvb::setCameraLinkHooks(hooks);

        web.clearRequests();
        web.clearFaults();

        helpers_ = std::make_unique<TempDir>();
        ::setenv("HVB_LIBEXEC", helpers_->path().c_str(), 1);
        setOpenerStatus(0);
        useRealDiskutil();
    }

    void TearDown() override {
        destroyPanel();
        appkit::Alert::setResponder({});
        appkit::setModalSessionHook({});
        CameraLinkFixture::TearDown();
        hvb::FirmwareInfoCache::shared().reset();
        ::unsetenv("HVB_LIBEXEC");
        helpers_.reset();
    }

    // ---- waiting ----
    static bool wait(const std::function<bool()>& pred, int timeoutMs = 15000) {
        return apptest::waitUntil(pred, timeoutMs);
    }
    // Everything queued for the panel's cameras so far has run, and its main-queue follow-ups.
    void drain(hvb::StatusTableViewCellDelegate& delegate) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        delegate.performCameraWork([done] { *done = true; });
        ASSERT_TRUE(wait([done] { return done->load(); }));
        apptest::waitUntil([] { return false; }, 30);
    }

    // Camera commands never run on the GUI thread: a test's direct reads go to a worker.
    template <class F>
    static auto onWorker(F&& f) {
        return std::async(std::launch::async, std::forward<F>(f)).get();
    }

    // ---- cameras ----
    std::shared_ptr<SimulatedBodyCamera> attach(const std::string& model, const std::string& firmware,
                                                BodyCameraOptions options = {}) {
        auto camera = makeCamera(profile(model, firmware), std::move(options));
        const int64_t before = hvb::DeviceState::shared().PlugInDeviceCnt.load();
        EXPECT_TRUE(camera->attach(bus));
        if (!watcher) startWatcher();
        EXPECT_TRUE(wait([before] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() > before; }));
        return camera;
    }
    std::filesystem::path volumeFolder(const std::string& name) {
        auto folder = volumes_.path() / name;
        std::filesystem::create_directories(folder);
        return folder;
    }
    static hvb::StatusModel snapshotOf(const SimulatedBodyCamera& camera) {
        auto snapshot = hvb::StatusModel::make(camera.serialNumber());
        if (!snapshot) throw std::runtime_error("no snapshot of " + camera.serialNumber());
        return *snapshot;
    }
    // The camera's writes of one command, oldest first.
    static std::vector<std::vector<uint8_t>> writesOf(const SimulatedBodyCamera& camera, const std::string& name) {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& write : camera.writes())
            if (write.name == name) out.push_back(write.payload);
        return out;
    }
    static std::vector<std::string> writeNames(const SimulatedBodyCamera& camera) {
        std::vector<std::string> out;
        for (const auto& write : camera.writes()) out.push_back(write.name);
        return out;
    }
    static std::vector<uint8_t> block(std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> out(bytes);
        out.resize(32, 0);
        return out;
    }
    static std::vector<uint8_t> block(const std::string& text) {
        std::vector<uint8_t> out(text.begin(), text.end());
        out.resize(32, 0);
        return out;
    }

    // ---- the panel ----
    hvb::StatusViewController& showPanel(QSize size = {860, 660}) {
        panel = std::make_unique<hvb::StatusViewController>();
        panel->resize(size);
        panel->view();
        panel->beginAppearance();
        panel->show();
        panel->endAppearance();
        return *panel;
    }
    void hidePanel() {
        panel->beginDisappearance();
        panel->hide();
        panel->endDisappearance();
    }
    void destroyPanel() {
        if (!panel) return;
        if (panel->isAppeared()) hidePanel();
        drain(*panel);
        panel.reset();
        apptest::waitUntil([] { return false; }, 30);
    }
    hvb::StatusTableViewCell* row(int index) const { return panel ? panel->rowAt(index) : nullptr; }

    // ---- firmware service ----
    void setOutdated(const std::string& model) {
        std::lock_guard<std::mutex> guard(firmware_->lock);
        firmware_->outdated.insert(model);
    }
    int releaseNoteDownloads() {
        std::lock_guard<std::mutex> guard(firmware_->lock);
        return firmware_->releaseNoteDownloads;
    }

    // ---- analytics at the collector ----
    // (action, label) of each event of that name the collector got.
    std::vector<std::pair<std::string, std::string>> collected(const std::string& name) {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& params : hvbtest::collectedEvents(web, name))
            out.emplace_back(params.value("action", ""), params.value("label", ""));
        return out;
    }
    bool waitCollected(const std::string& name, size_t count) {
        return wait([&] { return collected(name).size() >= count; });
    }

    // ---- helper programs ----
    std::filesystem::path helperPath(const std::string& name) const { return helpers_->path() / name; }
    void setOpenerStatus(int status) {
        writeScript("xdg-open", "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + helperPath("open.args").string() +
                                    "'; done\nexit " + std::to_string(status) + "\n");
    }
    // The arguments the opener got, one per line, in the order of its runs.
    std::vector<std::string> openerArguments() const { return lines(helperPath("open.args")); }
    void useRealDiskutil() {
        std::error_code ec;
        std::filesystem::remove(helperPath("diskutil"), ec);
        std::filesystem::create_symlink(HVB_TEST_BUILD_DIR "/libexec/diskutil", helperPath("diskutil"));
    }
    void useFailingDiskutil() {
        std::error_code ec;
        std::filesystem::remove(helperPath("diskutil"), ec);
        writeScript("diskutil", "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                                    helperPath("diskutil.args").string() +
                                    "'; done\necho 'Volume is busy' >&2\nexit 1\n");
    }
    std::vector<std::string> diskutilArguments() const { return lines(helperPath("diskutil.args")); }

    // One web service for the whole program: the firmware manager keeps the address it first saw.
    static standin::WebService& sharedWebService() {
        static standin::WebService* service = [] {
            auto* s = new standin::WebService();
            if (s->start() > 0) {
                ::setenv("HVB_ANALYTICS_BASE", s->baseURL().c_str(), 1);
                ::setenv("HVB_API_BASE", s->baseURL().c_str(), 1);
            }
            startedWebService() = s;
            return s;
        }();
        return *service;
    }

    standin::WebService& web = sharedWebService();
    std::unique_ptr<hvb::StatusViewController> panel;

private:
    void writeScript(const std::string& name, const std::string& body) {
        const auto path = helperPath(name);
        std::error_code ec;
        std::filesystem::remove(path, ec);  // a link to the real helper stays untouched
        TempDir::write(path, "#!/bin/sh\n" + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    static std::vector<std::string> lines(const std::filesystem::path& path) {
        std::vector<std::string> out;
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }

    // What the firmware hooks answer and count. The hooks hold it too: a release-note download
    // that a row's refresh set off may still run on a worker after the test is gone.
    struct FirmwareState {
        std::mutex lock;
        std::set<std::string> outdated;
        int releaseNoteDownloads = 0;
    };
    std::shared_ptr<FirmwareState> firmware_ = std::make_shared<FirmwareState>();
    std::unique_ptr<TempDir> helpers_;
    TempDir volumes_;
};

// Stops the shared web service when the tests are done, before the program's teardown: a request
// the panel sent last must not still be served while the server library's statics go. An atexit
// handler is too late for the statics the library makes on its first request, which come after it.
class SharedWebServiceStop : public ::testing::Environment {
public:
    void TearDown() override {
        if (standin::WebService* service = startedWebService()) service->stop();
    }
};
inline ::testing::Environment* const kSharedWebServiceStop =
    ::testing::AddGlobalTestEnvironment(new SharedWebServiceStop);

}  // namespace statustest
