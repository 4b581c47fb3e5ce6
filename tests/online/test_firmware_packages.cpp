// Firmware packages and the release-note file: fetched from the stand-in over HTTP, verified,
// and put in place only when complete and verified.
#include <gtest/gtest.h>

#include <future>

#include <nlohmann/json.hpp>

#include "OnlineTestSupport.h"
#include "online/FirmwareManager.h"
#include "standins/webservice/Content.h"

using hvb::FirmwareManager;
using standin::Fault;
using standin::Route;
namespace fs = std::filesystem;

namespace {

class FirmwarePackages : public hvbtest::StandInTest {
protected:
    FirmwareManager makeManager() { return FirmwareManager(service.baseURL(), resources.path(), packages.path()); }
    // The folder of the files under test: the packages' own.
    virtual fs::path folder() const { return packages.path(); }
    fs::path local(const std::string& name) const { return folder() / name; }
    std::string served(const std::string& model) const { return *service.fileBytes(service.firmwarePath(model)); }
    size_t count(const char* path) const { return service.requestsTo(path).size(); }
    size_t downloads() const {
        size_t n = 0;
        for (const auto& r : service.requests())
            if (r.path.rfind("/download/", 0) == 0) ++n;
        return n;
    }
    // Only the named files lie in the folder: no temporary file was left behind.
    void expectOnly(std::vector<fs::path> names) const {
        std::sort(names.begin(), names.end());
        EXPECT_EQ(hvbtest::filesIn(folder()), names);
    }

    TempDir packages;
};

TEST_F(FirmwarePackages, UpToDateLocalPackageIsNotDownloaded) {
    FirmwareManager m = makeManager();
    hvbtest::writeFile(local("FWHVBR4.zip"), served("HVBR4"));
    hvbtest::LogCapture log;
    EXPECT_TRUE(m.downloadFirmware("HVBR4"));
    EXPECT_EQ(log.count("[downloadFirmware(model:)] local file is the latest version"), 1u);
    EXPECT_EQ(count("/v1/api/get/version"), 1u);
    EXPECT_EQ(count("/v1/api/generateLink"), 0u);
    EXPECT_EQ(downloads(), 0u);
}

TEST_F(FirmwarePackages, ChangedChecksumDownloadsVerifiesAndReplaces) {
    FirmwareManager m = makeManager();
    hvbtest::writeFile(local("FWHVBR7.zip"), "an older package");
    EXPECT_TRUE(m.downloadFirmware("HVBR7"));
    EXPECT_EQ(hvbtest::readFile(local("FWHVBR7.zip")), served("HVBR7"));
    EXPECT_EQ(FirmwareManager::calculateChecksum(local("FWHVBR7.zip")), service.checksum(service.firmwarePath("HVBR7")));
    EXPECT_EQ(count("/v1/api/generateLink"), 1u);
    ASSERT_EQ(downloads(), 1u);
    // The download is a plain GET without the token.
    for (const auto& r : service.requests())
        if (r.path.rfind("/download/", 0) == 0) {
            EXPECT_EQ(r.method, "GET");
            EXPECT_FALSE(r.hasHeader("Authorization"));
        }
    expectOnly({"FWHVBR7.zip"});

    // A newer package published later replaces it again.
    service.setFirmwareVersion("HVBR7", "1.7.00");
    EXPECT_TRUE(m.downloadFirmware("HVBR7"));
    EXPECT_EQ(hvbtest::readFile(local("FWHVBR7.zip")), served("HVBR7"));
}

TEST_F(FirmwarePackages, MissingLocalPackageIsDownloaded) {
    FirmwareManager m = makeManager();
    hvbtest::LogCapture log;
    EXPECT_TRUE(m.downloadFirmware("HVBS2A"));
    EXPECT_EQ(hvbtest::readFile(local("FWHVBS2A.zip")), served("HVBS2A"));
    EXPECT_TRUE(log.contains("[calculateChecksum(fileURL:)] exception: "));
}

TEST_F(FirmwarePackages, LowerCaseChecksumMatchesTheUpperCaseLocalOne) {
    FirmwareManager m = makeManager();
    service.setFault(Route::version, Fault{.lowerCaseChecksum = true});
    EXPECT_TRUE(m.downloadFirmware("HW7331"));  // no local file: downloaded and verified
    EXPECT_EQ(downloads(), 1u);
    EXPECT_TRUE(m.downloadFirmware("HW7331"));  // now equal: no second download
    EXPECT_EQ(downloads(), 1u);
    const auto local = FirmwareManager::calculateChecksum(this->local("FWHW7331.zip"));
    ASSERT_TRUE(local.has_value());
    EXPECT_EQ(local->size(), 32u);
    EXPECT_EQ(local->find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

TEST_F(FirmwarePackages, WrongChecksumFailsAndKeepsTheOldFile) {
    FirmwareManager m = makeManager();
    hvbtest::writeFile(local("FWHVBR4.zip"), "old but usable");
    for (Fault fault : {Fault{.wrongChecksum = true}, Fault{.corruptFile = true}}) {
        service.clearFaults();
        service.setFault(fault.corruptFile ? Route::download : Route::version, fault);
        hvbtest::LogCapture log;
        EXPECT_FALSE(m.downloadFirmware("HVBR4"));
        EXPECT_EQ(log.count("[downloadFirmware(model:)] checksums are inconsistent"), 1u);
        EXPECT_EQ(hvbtest::readFile(local("FWHVBR4.zip")), "old but usable");
        expectOnly({"FWHVBR4.zip"});
    }
    EXPECT_EQ(downloads(), 2u);
}

TEST_F(FirmwarePackages, FailedDownloadsKeepTheOldFile) {
    FirmwareManager m = makeManager();
    hvbtest::writeFile(local("FWHVBT3A.zip"), "old");
    struct Case {
        Route route;
        Fault fault;
    } cases[] = {
        {Route::download, Fault{.cutMidway = true}},
        {Route::download, Fault{.status = 403}},
        {Route::generateLink, Fault{.status = 500}},
        {Route::generateLink, Fault{.notJson = true}},
        {Route::generateLink, Fault{.url = std::string("not a url")}},
    };
    for (const auto& c : cases) {
        service.clearFaults();
        service.setFault(c.route, c.fault);
        hvbtest::LogCapture log;
        EXPECT_FALSE(m.downloadFirmware("HVBT3A"));
        EXPECT_TRUE(log.contains("[downloadFile(tag:path:model:saveTo:)] failed. ("));
        EXPECT_EQ(log.count("[downloadFirmware(model:)] download failed"), 1u);
        EXPECT_EQ(hvbtest::readFile(local("FWHVBT3A.zip")), "old");
        expectOnly({"FWHVBT3A.zip"});
    }
    // The link that is not a URL was never fetched.
    EXPECT_EQ(downloads(), 2u);
}

TEST_F(FirmwarePackages, IdleTimeOutEndsAStalledDownloadButNotASlowOne) {
    FirmwareManager m = makeManager();
    m.setTimeoutsForTesting(FirmwareManager::kRequestTimeoutMs, 3000);
    hvbtest::writeFile(local("FWHW7352.zip"), "old");
    service.setFault(Route::download, Fault{.delayMs = 10000});
    EXPECT_FALSE(m.downloadFirmware("HW7352"));
    EXPECT_EQ(hvbtest::readFile(local("FWHW7352.zip")), "old");

    // Seven chunks 500 ms apart take longer than the idle limit in all, yet never stall (a busy
    // machine may stretch a gap well past 500 ms).
    service.setFault(Route::download, Fault{.chunkDelayMs = 500});
    EXPECT_TRUE(m.downloadFirmware("HW7352"));
    EXPECT_EQ(hvbtest::readFile(local("FWHW7352.zip")), served("HW7352"));
    expectOnly({"FWHW7352.zip"});
}

TEST_F(FirmwarePackages, NoReplyOrUnknownModel) {
    FirmwareManager m = makeManager();
    hvbtest::LogCapture log;
    EXPECT_FALSE(m.downloadFirmware("HVBS2"));
    EXPECT_EQ(log.count("[downloadFirmware(model:)] HVBS2's firmware filename not found"), 1u);
    EXPECT_TRUE(service.requests().empty());

    service.setFault(Route::version, Fault{.status = 500});
    EXPECT_FALSE(m.downloadFirmware("HVBR4"));
    EXPECT_EQ(log.count("[downloadFirmware(model:)] HVBR4's firmware checksum not found"), 1u);
    EXPECT_EQ(count("/v1/api/generateLink"), 0u);
}

TEST_F(FirmwarePackages, PublishedChecksumAbsent) {
    FirmwareManager m = makeManager();
    service.setFault(Route::version, Fault{.missingMember = "checksum"});
    // No local file and no checksum: both absent count as equal.
    EXPECT_TRUE(m.downloadFirmware("HW7333"));
    EXPECT_EQ(downloads(), 0u);
    // A local file against no checksum: downloaded, cannot be verified, old file kept.
    hvbtest::writeFile(local("FWHW7333.zip"), "old");
    hvbtest::LogCapture log;
    EXPECT_FALSE(m.downloadFirmware("HW7333"));
    EXPECT_EQ(log.count("[downloadFirmware(model:)] checksums are inconsistent"), 1u);
    EXPECT_EQ(hvbtest::readFile(local("FWHW7333.zip")), "old");
}

TEST_F(FirmwarePackages, DownloadTaskReportsFileErrorsAsTheyAre) {
    FirmwareManager m = makeManager();
    const std::string url = service.baseURL() + "/download/" + service.firmwarePath("HVBR4");
    fs::create_directory(local("occupied"));
    hvbtest::writeFile(local("occupied") / "x", "keeps the folder non-empty");
    std::promise<std::optional<hvb::DownloadError>> done;
    m.downloadTask(url, local("occupied"), [&](std::optional<hvb::DownloadError> e) { done.set_value(std::move(e)); });
    auto f = done.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto err = f.get();
    ASSERT_TRUE(err.has_value());
    EXPECT_TRUE(std::holds_alternative<hvb::FileError>(*err)) << hvb::describe(*err);
    expectOnly({"occupied"});

    const auto missing = m.fetchFile(service.baseURL() + "/download/firmware/none.zip", local("none.zip"));
    ASSERT_TRUE(missing.has_value());
    ASSERT_TRUE(std::holds_alternative<hvb::CommonError>(*missing));
    EXPECT_EQ(std::get<hvb::CommonError>(*missing).statusCode, 404);
}

TEST(Checksum, UpperCaseHexOfTheWholeFile) {
    hvbtest::TempDir dir;
    hvbtest::writeFile(dir.path() / "abc", "abc");
    EXPECT_EQ(FirmwareManager::calculateChecksum(dir.path() / "abc"), "900150983CD24FB0D6963F7D28E17F72");
    hvbtest::writeFile(dir.path() / "empty", "");
    EXPECT_EQ(FirmwareManager::calculateChecksum(dir.path() / "empty"), "D41D8CD98F00B204E9800998ECF8427E");
    std::string big(3 * 65536 + 7, 'x');
    hvbtest::writeFile(dir.path() / "big", big);
    EXPECT_EQ(FirmwareManager::calculateChecksum(dir.path() / "big"), standin::md5Hex(big));
    hvbtest::LogCapture log;
    EXPECT_FALSE(FirmwareManager::calculateChecksum(dir.path() / "missing").has_value());
    EXPECT_FALSE(FirmwareManager::calculateChecksum(dir.path()).has_value());
    EXPECT_EQ(log.lines().size(), 2u);
    EXPECT_TRUE(log.contains("[calculateChecksum(fileURL:)] exception: "));

    EXPECT_TRUE(FirmwareManager::checksumsEqual(std::nullopt, std::nullopt));
    EXPECT_FALSE(FirmwareManager::checksumsEqual("ABC", std::nullopt));
    EXPECT_TRUE(FirmwareManager::checksumsEqual("abcdef", "ABCDEF"));
    EXPECT_FALSE(FirmwareManager::checksumsEqual("abcdef", "ABCDEE"));
}

// ---- release notes ---------------------------------------------------------------------------

class ReleaseNotes : public FirmwarePackages {
protected:
    fs::path folder() const override { return resources.path(); }
};

TEST_F(ReleaseNotes, DownloadThenLatest) {
    FirmwareManager m = makeManager();
    EXPECT_TRUE(m.downloadReleaseNotes());
    EXPECT_EQ(hvbtest::readFile(local("ReleaseNote.json")), *service.fileBytes(standin::WebService::kReleaseNotePath));
    const auto reqs = service.requestsTo("/v1/api/get/version");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(reqs[0].body),
              (nlohmann::json{{"tag", "firmware"}, {"category", "HVB"}, {"target", "releasenote"}}));
    const auto links = service.requestsTo("/v1/api/generateLink");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(links[0].body)["target"], "releasenote");

    hvbtest::LogCapture log;
    EXPECT_TRUE(m.downloadReleaseNotes());
    EXPECT_EQ(log.count("[downloadReleaseNotes()] local file is the latest version"), 1u);
    EXPECT_EQ(count("/v1/api/generateLink"), 1u);
}

TEST_F(ReleaseNotes, FailuresKeepTheOldFile) {
    FirmwareManager m = makeManager();
    hvbtest::writeFile(local("ReleaseNote.json"), "{\"HalvetorBody\":{}}");
    hvbtest::LogCapture log;
    service.setFault(Route::version, Fault{.notJson = true});
    EXPECT_FALSE(m.downloadReleaseNotes());
    EXPECT_EQ(log.count("[downloadReleaseNotes()] releasenote's firmware checksum not found"), 1u);
    service.clearFaults();
    service.setFault(Route::download, Fault{.cutMidway = true});
    EXPECT_FALSE(m.downloadReleaseNotes());
    EXPECT_EQ(log.count("[downloadReleaseNotes()] download failed"), 1u);
    EXPECT_EQ(hvbtest::readFile(local("ReleaseNote.json")), "{\"HalvetorBody\":{}}");
    expectOnly({"ReleaseNote.json"});
}

TEST_F(ReleaseNotes, ACorruptOrUnpublishedDownloadKeepsTheOldFileAndFails) {
    FirmwareManager m = makeManager();
    const std::string old = "{\"HalvetorBody\":{\"HVBR4\":[]}}";
    hvbtest::writeFile(local("ReleaseNote.json"), old);
    for (Fault fault : {Fault{.corruptFile = true}, Fault{.wrongChecksum = true}}) {
        service.clearFaults();
        service.setFault(fault.corruptFile ? Route::download : Route::version, fault);
        hvbtest::LogCapture log;
        EXPECT_FALSE(m.downloadReleaseNotes());
        EXPECT_EQ(log.count("[downloadReleaseNotes()] checksums are inconsistent"), 1u);
        EXPECT_EQ(hvbtest::readFile(local("ReleaseNote.json")), old);
        expectOnly({"ReleaseNote.json"});
    }
    EXPECT_EQ(downloads(), 2u);
    // Once the service serves the published file again, it is taken.
    service.clearFaults();
    EXPECT_TRUE(m.downloadReleaseNotes());
    EXPECT_EQ(hvbtest::readFile(local("ReleaseNote.json")), *service.fileBytes(standin::WebService::kReleaseNotePath));
}

TEST_F(ReleaseNotes, TheDownloadGoesToTheUserFolderAndIsReadBeforeTheShippedFile) {
    hvbtest::TempDir cache;
    const fs::path downloaded = cache.path() / "notes" / "ReleaseNote.json";
    FirmwareManager m(service.baseURL(), resources.path(), packages.path(), downloaded.parent_path());
    const std::string shipped = R"({"HalvetorBody":{"HVBR4":[]}})";
    hvbtest::writeFile(local("ReleaseNote.json"), shipped);
    EXPECT_EQ(m.readReleaseNotes(), nlohmann::json::parse(shipped));

    EXPECT_TRUE(m.downloadReleaseNotes());
    const std::string published = *service.fileBytes(standin::WebService::kReleaseNotePath);
    EXPECT_EQ(hvbtest::readFile(downloaded), published);
    EXPECT_EQ(hvbtest::readFile(local("ReleaseNote.json")), shipped);
    expectOnly({"ReleaseNote.json"});
    EXPECT_EQ(m.readReleaseNotes(), nlohmann::json::parse(published));

    // A shipped file that is the published one is not fetched again.
    fs::remove(downloaded);
    hvbtest::writeFile(local("ReleaseNote.json"), published);
    EXPECT_TRUE(m.downloadReleaseNotes());
    EXPECT_EQ(count("/v1/api/generateLink"), 1u);
    EXPECT_FALSE(fs::exists(downloaded));
}

TEST_F(ReleaseNotes, OneDownloadAtATime) {
    FirmwareManager m = makeManager();
    service.setFault(Route::version, Fault{.delayMs = 1500});
    std::vector<std::future<bool>> calls;
    for (int i = 0; i < 4; ++i) calls.push_back(std::async(std::launch::async, [&m] { return m.downloadReleaseNotes(); }));
    for (auto& c : calls) EXPECT_TRUE(c.get());
    EXPECT_EQ(count("/v1/api/get/version"), 1u);
    EXPECT_EQ(count("/v1/api/generateLink"), 1u);
    // Once it has ended, a new call runs again.
    EXPECT_TRUE(m.downloadReleaseNotes());
    EXPECT_EQ(count("/v1/api/get/version"), 2u);
}

TEST_F(ReleaseNotes, ReadingTheFile) {
    FirmwareManager m = makeManager();
    {
        hvbtest::LogCapture log;
        EXPECT_FALSE(m.getReleaseNotes("HVBR4").has_value());  // no file
        EXPECT_TRUE(log.contains("[readReleaseNotes()] exception: "));
    }
    auto notesFor = [&](const std::string& doc, const std::string& model) {
        hvbtest::writeFile(local("ReleaseNote.json"), doc);
        return m.getReleaseNotes(model);
    };
    {
        hvbtest::LogCapture log;
        EXPECT_FALSE(notesFor("{\"HalvetorBody\":", "HVBR4").has_value());
        EXPECT_TRUE(log.contains("[readReleaseNotes()] exception: "));
    }
    hvbtest::LogCapture quiet;
    EXPECT_FALSE(notesFor("[1,2]", "HVBR4").has_value());
    EXPECT_FALSE(m.readReleaseNotes().has_value());
    EXPECT_FALSE(notesFor("{\"Other\":{}}", "HVBR4").has_value());
    EXPECT_FALSE(notesFor("{\"HalvetorBody\":[]}", "HVBR4").has_value());
    EXPECT_FALSE(notesFor("{\"HalvetorBody\":{\"HVBR7\":[]}}", "HVBR4").has_value());
    EXPECT_FALSE(notesFor("{\"HalvetorBody\":{\"HVBR4\":{\"version\":\"1\"}}}", "HVBR4").has_value());
    EXPECT_FALSE(notesFor("{\"HalvetorBody\":{\"HVBR4\":[{},3]}}", "HVBR4").has_value());
    EXPECT_TRUE(quiet.lines().empty()) << "only read and parse errors are logged";

    const auto two = notesFor(R"({"HalvetorBody":{"HVBR4":[{"version":"1.6.00"},{"version":7}]},"x":1})", "HVBR4");
    ASSERT_TRUE(two.has_value());
    EXPECT_EQ(two->size(), 2u);

    // The file the stand-in publishes, read after a download: every call reads it anew.
    ASSERT_TRUE(m.downloadReleaseNotes());
    const auto published = m.getReleaseNotes("HW7312");
    ASSERT_TRUE(published.has_value());
    ASSERT_FALSE(published->empty());
    EXPECT_EQ((*published)[0]["version"], "1.6.00");
    EXPECT_TRUE((*published)[0]["note"]["en-US"].is_array());
}

}  // namespace
