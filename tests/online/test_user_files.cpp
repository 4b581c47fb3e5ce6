// The files read back from the user's own folders: the downloaded release notes, the firmware
// packages, the update feed and the settings. Whatever someone put under such a name (a link to
// an endless device, a FIFO, a huge file, a folder) is refused at once and set aside, and the
// next check or download works again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "OnlineTestSupport.h"
#include "app/AppTestSupport.h"
#include "online/AutoUpdateManager.h"
#include "online/FirmwareManager.h"
#include "online/OnlineConfig.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/services/qt/DesktopUpdater.h"
#include "platform/services/qt/UpdateOfferDialog.h"

namespace {

namespace fs = std::filesystem;
using hvb::FirmwareManager;

enum class Kind { releaseNotesCheck, releaseNotesRead, firmwarePackage, appcast, settings };
enum class Shape { linkToDevZero, fifo, oversize, folder };

struct Case {
    Kind kind;
    Shape shape;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    static const char* const kinds[] = {"ReleaseNotesCheck", "ReleaseNotesRead", "FirmwarePackage", "Appcast",
                                        "Settings"};
    static const char* const shapes[] = {"LinkToDevZero", "Fifo", "Oversize", "Folder"};
    return std::string(kinds[static_cast<int>(info.param.kind)]) + "_" + shapes[static_cast<int>(info.param.shape)];
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << "kind " << static_cast<int>(c.kind) << ", shape " << static_cast<int>(c.shape);
}

class CountingDelegate : public services::UpdaterDelegate {
public:
    void updaterDidNotFindUpdate(services::Updater&) override { ++notFound; }
    void updaterUserDidSkipThisVersion(services::Updater&, const services::AppcastItem&) override {}
    void updaterFailedToDownloadUpdate(services::Updater&, const services::AppcastItem&, const std::string&) override {}
    void userDidCancelDownload(services::Updater&) override {}
    void updaterWillRelaunchApplication(services::Updater&) override {}
    void updaterDidRelaunchApplication(services::Updater&) override {}
    std::atomic<int> notFound{0};
};

class UserFiles : public hvbtest::StandInTest, public ::testing::WithParamInterface<Case> {
protected:
    fs::path cache() const { return home.path() / "cache" / foundation::paths::kAppName; }

    fs::path file() const {
        switch (GetParam().kind) {
            case Kind::releaseNotesCheck:
            case Kind::releaseNotesRead: return cache() / "ReleaseNote.json";
            case Kind::firmwarePackage: return cache() / "Firmware" / "FWHVBR4.zip";
            case Kind::appcast: return hvb::AutoUpdateManager::appcastFile();
            case Kind::settings: return home.path() / "config" / foundation::paths::kAppName / "defaults.json";
        }
        return {};
    }
    uint64_t limit() const {
        switch (GetParam().kind) {
            case Kind::releaseNotesCheck:
            case Kind::releaseNotesRead: return hvb::onlineconfig::kMaxReleaseNotesBytes;
            case Kind::firmwarePackage: return hvb::onlineconfig::kMaxFirmwarePackageBytes;
            case Kind::appcast: return hvb::onlineconfig::kMaxAppcastReplyBytes;
            case Kind::settings: return foundation::kMaxDefaultsBytes;
        }
        return 0;
    }
    fs::path aside() const {
        fs::path p = file();
        p += GetParam().kind == Kind::settings ? ".corrupt" : ".bad";
        return p;
    }
    fs::file_type badType() const {
        switch (GetParam().shape) {
            case Shape::linkToDevZero: return fs::file_type::symlink;
            case Shape::fifo: return fs::file_type::fifo;
            case Shape::oversize: return fs::file_type::regular;
            case Shape::folder: return fs::file_type::directory;
        }
        return fs::file_type::none;
    }

    void placeBadFile() {
        const fs::path f = file();
        fs::create_directories(f.parent_path());
        switch (GetParam().shape) {
            case Shape::linkToDevZero: fs::create_symlink("/dev/zero", f); break;
            case Shape::fifo: ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); break;
            case Shape::oversize: {
                if (GetParam().kind == Kind::settings) {
                    // Well-formed settings, one byte past the limit: refused for their size alone.
                    const std::string head = R"({"ToolBoxVersion":"1.0","pad":")", tail = "\"}";
                    hvbtest::writeFile(f, head + std::string(limit() + 1 - head.size() - tail.size(), 'x') + tail);
                    break;
                }
                // One byte past the limit, sparse.
                const int fd = ::open(f.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                ASSERT_GE(fd, 0);
                ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(limit() + 1)), 0);
                ::close(fd);
                break;
            }
            case Shape::folder:
                fs::create_directories(f);
                hvbtest::writeFile(f / "kept", "what was in it");
                break;
        }
    }

    // Runs `work` on a thread of its own: a reader that blocks fails the test instead of hanging
    // it. A writer then lets a reader blocked on the FIFO go; one that still does not return
    // (reading an endless device) ends the run as failed.
    bool returnsPromptly(const std::function<void()>& work) {
        auto done = std::make_shared<std::promise<void>>();
        auto finished = done->get_future();
        std::thread worker([work, done] {
            work();
            done->set_value();
        });
        if (finished.wait_for(std::chrono::seconds(20)) == std::future_status::ready) {
            worker.join();
            return true;
        }
        ADD_FAILURE() << "the reader of " << file() << " did not return";
        releaseFifoReader();
        if (finished.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            std::fprintf(stderr, "the reader of %s is stuck for good\n", file().c_str());
            std::fflush(nullptr);
            std::_Exit(1);
        }
        worker.join();
        return false;
    }
    void releaseFifoReader() {
        std::error_code ec;
        if (fs::symlink_status(file(), ec).type() != fs::file_type::fifo) return;
        const int writer = ::open(file().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) ::close(writer);
    }

    // The bad file lies aside as it was, under the name its reader's one line gives.
    void expectSetAside(const hvbtest::LogCapture& log) {
        std::error_code ec;
        EXPECT_EQ(fs::symlink_status(aside(), ec).type(), badType()) << aside();
        if (GetParam().shape == Shape::folder) {
            EXPECT_EQ(hvbtest::readFile(aside() / "kept"), "what was in it");
        }
        if (GetParam().shape == Shape::oversize) {
            EXPECT_EQ(fs::file_size(aside(), ec), limit() + 1);
        }
        size_t lines = 0;
        for (const auto& line : log.lines())
            if (line.find(aside().string()) != std::string::npos) ++lines;
        EXPECT_EQ(lines, 1u);
    }

    FirmwareManager makeManager() { return FirmwareManager(service.baseURL(), resources.path(), cache() / "Firmware", cache()); }

    std::unique_ptr<services::DesktopUpdater> makeUpdater() {
        services::DesktopUpdater::Options options;
        options.currentVersion = "1.0.0";
        options.appName = "Halvetor Body ToolBox";
        options.defaults = &updaterDefaults;
        options.openURL = [](const std::string&) { return true; };
        auto updater = std::make_unique<services::DesktopUpdater>(options);
        updater->setDelegate(&delegate);
        return updater;
    }

    void TearDown() override {
        services::Updater::setShared(nullptr);
        releaseFifoReader();
        StandInTest::TearDown();
    }

    hvbtest::TempDir other;
    foundation::UserDefaults updaterDefaults{other.path() / "defaults.json"};
    CountingDelegate delegate;
};

TEST_P(UserFiles, ABadFileIsRefusedAtOnceSetAsideAndFetchedOrWrittenAgain) {
    placeBadFile();
    const std::string published = *service.fileBytes(standin::WebService::kReleaseNotePath);
    switch (GetParam().kind) {
        case Kind::releaseNotesCheck: {
            FirmwareManager m = makeManager();
            hvbtest::writeFile(resources.path() / "ReleaseNote.json", R"({"HalvetorBody":{}})");
            hvbtest::LogCapture log;
            bool ok = false;
            ASSERT_TRUE(returnsPromptly([&] { ok = m.downloadReleaseNotes(); }));
            EXPECT_TRUE(ok);
            expectSetAside(log);
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file())));
            EXPECT_EQ(hvbtest::readFile(file()), published);
            // A later check finds the stored copy current.
            hvbtest::LogCapture later;
            EXPECT_TRUE(m.downloadReleaseNotes());
            EXPECT_EQ(later.count("[downloadReleaseNotes()] local file is the latest version"), 1u);
            break;
        }
        case Kind::releaseNotesRead: {
            FirmwareManager m = makeManager();
            hvbtest::writeFile(resources.path() / "ReleaseNote.json", published);
            hvbtest::LogCapture log;
            std::optional<nlohmann::json> notes;
            ASSERT_TRUE(returnsPromptly([&] { notes = m.getReleaseNotes("HW7312"); }));
            // The shipped copy meanwhile.
            ASSERT_TRUE(notes.has_value());
            EXPECT_FALSE(notes->empty());
            expectSetAside(log);
            EXPECT_TRUE(m.downloadReleaseNotes());
            EXPECT_TRUE(m.getReleaseNotes("HW7312").has_value());
            break;
        }
        case Kind::firmwarePackage: {
            FirmwareManager m = makeManager();
            hvbtest::LogCapture log;
            hvb::FirmwareDownload download;
            ASSERT_TRUE(returnsPromptly([&] { download = m.downloadFirmware("HVBR4"); }));
            EXPECT_TRUE(download);
            EXPECT_EQ(download.package, file());
            expectSetAside(log);
            EXPECT_EQ(hvbtest::readFile(file()), *service.fileBytes(service.firmwarePath("HVBR4")));
            hvbtest::LogCapture later;
            EXPECT_TRUE(m.downloadFirmware("HVBR4"));
            EXPECT_EQ(later.count("[downloadFirmware(model:)] local file is the latest version"), 1u);
            break;
        }
        case Kind::appcast: {
            auto updater = makeUpdater();
            services::Updater::setShared(updater.get());
            updater->setFeedURL(file());
            hvbtest::LogCapture log;
            updater->checkForUpdatesInBackground();
            if (!apptest::waitUntil([&] { return delegate.notFound.load() == 1; }, 20000)) {
                ADD_FAILURE() << "the feed's reader did not report";
                releaseFifoReader();
                break;
            }
            expectSetAside(log);
            // The next check's feed takes the name and its offer comes up.
            hvb::AutoUpdateManager::shared().checkForUpdate();
            EXPECT_TRUE(apptest::waitUntil([&] { return updater->offerDialog() != nullptr; }, 30000));
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file())));
            if (updater->offerDialog()) delete updater->offerDialog();
            break;
        }
        case Kind::settings: {
            hvbtest::LogCapture log;
            std::unique_ptr<foundation::UserDefaults> defaults;
            ASSERT_TRUE(returnsPromptly([&] { defaults = std::make_unique<foundation::UserDefaults>(file()); }));
            EXPECT_FALSE(defaults->contains("ToolBoxVersion"));
            expectSetAside(log);
            defaults->set("ToolBoxVersion", "1.1");
            foundation::UserDefaults fresh(file());
            EXPECT_EQ(fresh.string("ToolBoxVersion").value, "1.1");
            break;
        }
    }
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (Kind kind : {Kind::releaseNotesCheck, Kind::releaseNotesRead, Kind::firmwarePackage, Kind::appcast, Kind::settings})
        for (Shape shape : {Shape::linkToDevZero, Shape::fifo, Shape::oversize, Shape::folder})
            cases.push_back({kind, shape});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(KindsAndShapes, UserFiles, ::testing::ValuesIn(allCases()), caseName);

}  // namespace
