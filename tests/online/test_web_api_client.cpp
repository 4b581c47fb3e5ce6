// The web API client against the stand-in over real HTTP: reply handling, the version cache,
// version comparison and display, and the label character-set rule.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <nlohmann/json.hpp>

#include "OnlineTestSupport.h"
#include "online/AutoUpdateManager.h"
#include "online/FirmwareManager.h"
#include "online/Google4Analytics.h"
#include "standins/webservice/Content.h"

using hvb::CommonError;
using hvb::FirmwareManager;
using hvb::VersionResponse;
using standin::Fault;
using standin::Route;

namespace {

class WebApiClient : public hvbtest::StandInTest {
protected:
    // One folder for the release notes and the packages, which the limits test looks at together.
    FirmwareManager makeManager() { return FirmwareManager(service.baseURL(), resources.path(), resources.path()); }

    static CommonError errorOf(const hvb::Result<VersionResponse>& r) {
        EXPECT_TRUE(std::holds_alternative<CommonError>(r));
        return std::holds_alternative<CommonError>(r) ? std::get<CommonError>(r) : CommonError{};
    }
    size_t versionRequests() const { return service.requestsTo("/v1/api/get/version").size(); }
};

TEST_F(WebApiClient, VersionRequestCarriesTheFixedHeadersAndBody) {
    FirmwareManager m = makeManager();
    auto r = m.fetchVersionInfo("HVBR4");
    ASSERT_TRUE(std::holds_alternative<VersionResponse>(r));
    const auto& v = std::get<VersionResponse>(r);
    EXPECT_EQ(v.code, 200);
    EXPECT_EQ(v.result.path, "firmware/FWHVBR4.zip");
    EXPECT_EQ(v.result.target, "HVBR4");
    EXPECT_EQ(v.result.version, "1.6.00");
    EXPECT_EQ(v.result.checksum, service.checksum("firmware/FWHVBR4.zip"));

    const auto reqs = service.requestsTo("/v1/api/get/version");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].method, "POST");
    EXPECT_EQ(reqs[0].header("Authorization"), "k-quellmarsh-vexor");
    EXPECT_EQ(reqs[0].header("Content-Type"), "application/json");
    EXPECT_EQ(reqs[0].header("Accept"), "application/json");
    const auto body = nlohmann::json::parse(reqs[0].body);
    EXPECT_EQ(body, (nlohmann::json{{"tag", "firmware"}, {"category", "HVB"}, {"target", "HVBR4"}}));
    EXPECT_NE(reqs[0].body.find('\n'), std::string::npos) << "the body is written pretty-printed";
}

TEST_F(WebApiClient, ReplyHandlingStepsInOrder) {
    FirmwareManager m = makeManager();

    // Transport error: nothing listens on the port any more.
    {
        hvbtest::TempDir other;
        standin::WebService gone;
        const int port = gone.start();
        ASSERT_GT(port, 0);
        const std::string base = gone.baseURL();
        gone.stop();
        FirmwareManager dead(base, other.path());
        EXPECT_EQ(errorOf(dead.fetchVersionInfo("HVBR4")).kind, CommonError::Kind::networkError);
    }
    // A status other than 200 is reported even though the body is a valid reply.
    service.setFault(Route::version, Fault{.status = 404});
    auto e = errorOf(m.fetchVersionInfo("HVBR4"));
    EXPECT_EQ(e.kind, CommonError::Kind::invalidStatusCode);
    EXPECT_EQ(e.statusCode, 404);
    EXPECT_EQ(e.description(), "invalidStatusCode(404)");

    service.setFault(Route::version, Fault{.emptyBody = true});
    EXPECT_EQ(errorOf(m.fetchVersionInfo("HVBR4")).kind, CommonError::Kind::dataNotFound);

    service.setFault(Route::version, Fault{.notJson = true});
    EXPECT_EQ(errorOf(m.fetchVersionInfo("HVBR4")).kind, CommonError::Kind::jsonParsingError);

    service.clearFaults();
    EXPECT_TRUE(std::holds_alternative<VersionResponse>(m.fetchVersionInfo("HVBR4")));
}

TEST_F(WebApiClient, RequiredMembersAndTypesAreChecked) {
    FirmwareManager m = makeManager();
    for (const char* member : {"code", "result", "path", "target"}) {
        service.setFault(Route::version, Fault{.missingMember = member});
        EXPECT_EQ(errorOf(m.fetchVersionInfo("HVBR4")).kind, CommonError::Kind::jsonParsingError) << member;
    }
    for (const char* member : {"code", "result", "path", "target", "version", "checksum"}) {
        service.setFault(Route::version, Fault{.wrongTypeMember = member});
        EXPECT_EQ(errorOf(m.fetchVersionInfo("HVBR4")).kind, CommonError::Kind::jsonParsingError) << member;
    }
    for (const char* member : {"version", "checksum"}) {
        service.setFault(Route::version, Fault{.missingMember = member});
        auto r = m.fetchVersionInfo("HVBR4");
        ASSERT_TRUE(std::holds_alternative<VersionResponse>(r)) << member;
        const auto& res = std::get<VersionResponse>(r).result;
        EXPECT_EQ(std::string(member) == "version" ? res.version.has_value() : res.checksum.has_value(), false);
    }
}

TEST_F(WebApiClient, DecodersSurviveHostileBodies) {
    for (const char* body : {"", "null", "[]", "{\"code\":200}", "{\"code\":200,\"result\":[]}",
                             "{\"code\":1e400,\"result\":{}}", "{\"code\":18446744073709551615,\"result\":{}}",
                             "{\"code\":200,\"result\":{\"path\":\"p\",\"target\":\"t\",\"version\":null}}x",
                             "{\"code\":2.5,\"result\":{\"path\":\"p\",\"target\":\"t\"}}", "\xff\xfe{"}) {
        EXPECT_TRUE(std::holds_alternative<std::string>(VersionResponse::decode(body))) << body;
        EXPECT_TRUE(std::holds_alternative<std::string>(hvb::DownloadURLResponse::decode(body))) << body;
    }
    // null counts as absent for the optional members; unknown members are ignored.
    auto r = VersionResponse::decode(
        R"({"code":1,"extra":[1,2],"result":{"path":"p","target":"t","version":null,"checksum":null,"x":{}}})");
    ASSERT_TRUE(std::holds_alternative<VersionResponse>(r));
    EXPECT_FALSE(std::get<VersionResponse>(r).result.version.has_value());
    std::string deep(100000, '[');
    EXPECT_TRUE(std::holds_alternative<std::string>(VersionResponse::decode(deep)));
}

TEST_F(WebApiClient, DownloadLinkReplyHandling) {
    FirmwareManager m = makeManager();
    auto ok = m.fetchDownloadLink("firmware", "firmware/FWHVBR4.zip", "HVBR4");
    ASSERT_TRUE(std::holds_alternative<std::string>(ok));
    EXPECT_EQ(std::get<std::string>(ok), service.baseURL() + "/download/firmware/FWHVBR4.zip");
    const auto reqs = service.requestsTo("/v1/api/generateLink");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].header("Authorization"), "k-quellmarsh-vexor");
    EXPECT_EQ(nlohmann::json::parse(reqs[0].body),
              (nlohmann::json{{"action", "getObject"}, {"category", "HVB"}, {"tag", "firmware"},
                              {"path", "firmware/FWHVBR4.zip"}, {"target", "HVBR4"}}));

    auto kindOf = [&] {
        auto r = m.fetchDownloadLink("firmware", "firmware/FWHVBR4.zip", "HVBR4");
        return std::holds_alternative<CommonError>(r) ? std::get<CommonError>(r).kind
                                                      : static_cast<CommonError::Kind>(-1);
    };
    for (const char* member : {"url", "checksum", "code"}) {
        service.setFault(Route::generateLink, Fault{.missingMember = member});
        EXPECT_EQ(kindOf(), CommonError::Kind::jsonParsingError) << member;
    }
    for (const char* text : {"not a url", "", "ftp://127.0.0.1/x", "file:///etc/passwd", "http://"}) {
        service.setFault(Route::generateLink, Fault{.url = std::string(text)});
        EXPECT_EQ(kindOf(), CommonError::Kind::jsonParsingError) << text;
    }
    service.setFault(Route::generateLink, Fault{.status = 500});
    EXPECT_EQ(kindOf(), CommonError::Kind::invalidStatusCode);
}

TEST_F(WebApiClient, CompletionFormsRunOffTheCallersThread) {
    FirmwareManager m = makeManager();
    std::promise<std::pair<std::thread::id, bool>> done;
    m.requestVersionInfo("HVBR7", [&](hvb::Result<VersionResponse> r) {
        done.set_value({std::this_thread::get_id(), std::holds_alternative<VersionResponse>(r)});
    });
    auto f = done.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto [thread, ok] = f.get();
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_TRUE(ok);

    std::promise<std::string> link;
    m.requestDownloadLink("firmware", "firmware/FWHVBR7.zip", "HVBR7", [&](hvb::Result<std::string> r) {
        link.set_value(std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : "");
    });
    auto lf = link.get_future();
    ASSERT_EQ(lf.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(lf.get(), service.baseURL() + "/download/firmware/FWHVBR7.zip");
}

TEST_F(WebApiClient, UnencodableBodySendsNothingButStillAnswers) {
    FirmwareManager m = makeManager();
    const std::string bad = "HVB\xff\xfe";
    EXPECT_EQ(errorOf(m.fetchVersionInfo(bad)).kind, CommonError::Kind::jsonParsingError);
    auto link = m.fetchDownloadLink("firmware", "firmware/\xc3", "HVBR4");
    ASSERT_TRUE(std::holds_alternative<CommonError>(link));
    EXPECT_EQ(std::get<CommonError>(link).kind, CommonError::Kind::jsonParsingError);
    // The completion form answers too, so a waiting caller is never left hanging.
    std::promise<bool> answered;
    m.requestVersionInfo(bad, [&](hvb::Result<VersionResponse> r) {
        answered.set_value(std::holds_alternative<CommonError>(r));
    });
    auto f = answered.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(f.get());
    EXPECT_EQ(m.getLatestFirmwareVersion(bad), "");
    EXPECT_FALSE(m.downloadFirmware(bad));
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(WebApiClient, RequestTimeOutIsATransportError) {
    FirmwareManager m = makeManager();
    m.setTimeoutsForTesting(300, 300);
    service.setFault(Route::version, Fault{.delayMs = 5000});
    EXPECT_EQ(errorOf(m.fetchVersionInfo("HVBR4")).kind, CommonError::Kind::networkError);
    EXPECT_EQ(m.getLatestFirmwareVersion("HVBR4"), "");
}

// Each kind of answer stops at its own limit when the service sends more than that, with or
// without announcing the length: the caller gets the limit's failure, and a file in place stays.
TEST_F(WebApiClient, EveryAnswerStopsAtItsLimit) {
    namespace config = hvb::onlineconfig;
    FirmwareManager m = makeManager();
    const auto local = [&](const char* name) { return resources.path() / name; };
    hvbtest::writeFile(local("FWHVBR4.zip"), "old package");
    hvbtest::writeFile(local("ReleaseNote.json"), "{}");
    const auto text = [](const std::optional<net::Error>& e) { return e ? e->description() : std::string("no error"); };
    const auto reply = [&](const net::Request& request) { return text(net::Session().perform(request).error); };
    const auto apiError = [](const auto& result) {
        const auto* e = std::get_if<CommonError>(&result);
        return e ? e->description() : std::string("no error");
    };
    hvbtest::LogCapture log;
    // Runs the transfer; returns what the caller saw of the failure.
    const auto logged = [&](bool ok, const std::string& part) {
        EXPECT_FALSE(ok);
        return log.contains(part) ? part : std::string("not logged");
    };
    struct Row {
        const char* name;
        Route route;
        bool announced;
        uint64_t limit;
        std::function<std::string(const std::string& limitText)> run;
    };
    const std::vector<Row> rows = {
        {"version reply", Route::version, false, config::kMaxApiReplyBytes,
         [&](const std::string&) { return apiError(m.fetchVersionInfo("HVBR4")); }},
        {"download link reply", Route::generateLink, false, config::kMaxApiReplyBytes,
         [&](const std::string&) { return apiError(m.fetchDownloadLink("firmware", "firmware/FWHVBR4.zip", "HVBR4")); }},
        {"appcast reply", Route::version, false, config::kMaxAppcastReplyBytes,
         [&](const std::string&) { return reply(*hvb::AutoUpdateManager::shared().makeAppcastRequest()); }},
        {"site probe", Route::root, false, config::kMaxSiteProbeBytes,
         [&](const std::string&) { return reply(hvb::websiteProbeRequest()); }},
        {"site probe, announced", Route::root, true, config::kMaxSiteProbeBytes,
         [&](const std::string&) { return reply(hvb::websiteProbeRequest()); }},
        {"analytics reply", Route::collect, false, config::kMaxAnalyticsReplyBytes,
         [&](const std::string& limitText) {
             hvb::Google4Analytics::sendEvent("Buzzer", hvb::Google4Analytics::Params{{"action", "HVBR4"}});
             const auto line = "[Google4Analytics] failure(" + limitText;
             for (int i = 0; i < 300 && !log.contains(line); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
             return log.contains(line) ? limitText : std::string("not logged");
         }},
        {"firmware package", Route::download, false, config::kMaxFirmwarePackageBytes,
         [&](const std::string& limitText) { return logged(bool(m.downloadFirmware("HVBR4")), limitText); }},
        {"firmware package, announced", Route::download, true, config::kMaxFirmwarePackageBytes,
         [&](const std::string& limitText) { return logged(bool(m.downloadFirmware("HVBR4")), limitText); }},
        {"release notes", Route::download, false, config::kMaxReleaseNotesBytes,
         [&](const std::string& limitText) { return logged(m.downloadReleaseNotes(), limitText); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        service.clearFaults();
        service.setFault(row.route, Fault{.fillerBytes = config::kMaxFirmwarePackageBytes + config::kMiB,
                                          .announceLength = row.announced});
        const std::string limitText = "the answer is longer than its limit of " + std::to_string(row.limit) + " bytes";
        EXPECT_NE(row.run(limitText).find(limitText), std::string::npos);
    }
    EXPECT_EQ(hvbtest::readFile(local("FWHVBR4.zip")), "old package");
    EXPECT_EQ(hvbtest::readFile(local("ReleaseNote.json")), "{}");
    EXPECT_EQ(hvbtest::filesIn(resources.path()), (std::vector<std::filesystem::path>{"FWHVBR4.zip", "ReleaseNote.json"}));
}

TEST_F(WebApiClient, DefaultTimeOutsAreTheServicesOwn) {
    EXPECT_EQ(FirmwareManager::kRequestTimeoutMs, 60000);
    EXPECT_EQ(FirmwareManager::kDownloadIdleTimeoutMs, 60000);
}

TEST_F(WebApiClient, LatestVersionIsCachedButFailuresAreNot) {
    FirmwareManager m = makeManager();
    service.setFirmwareVersion("HVBR7", "1.2.03");
    EXPECT_EQ(m.getLatestFirmwareVersion("HVBR7"), "1.2.03");
    EXPECT_EQ(m.getLatestFirmwareVersion("HVBR7"), "1.2.03");
    EXPECT_EQ(versionRequests(), 1u);

    // A failure gives empty text, logs nothing, and is asked again next time.
    hvbtest::LogCapture log;
    service.setFault(Route::version, Fault{.status = 500});
    EXPECT_EQ(m.getLatestFirmwareVersion("HVBS8"), "");
    EXPECT_TRUE(log.lines().empty());
    service.clearFaults();
    EXPECT_EQ(m.getLatestFirmwareVersion("HVBS8"), "1.6.00");
    EXPECT_EQ(versionRequests(), 3u);

    // An empty version is a hit: no further request, and the model counts as up to date.
    service.setFault(Route::version, Fault{.missingMember = "version"});
    EXPECT_EQ(m.getLatestFirmwareVersion("HW7312"), "");
    service.clearFaults();
    EXPECT_EQ(m.getLatestFirmwareVersion("HW7312"), "");
    EXPECT_TRUE(m.isFirmwareUpToDate("HW7312", "0.0.1"));
    EXPECT_EQ(versionRequests(), 4u);
}

TEST_F(WebApiClient, ConcurrentCallersEachGetTheirOwnReply) {
    FirmwareManager m = makeManager();
    const auto& models = standin::publishedModels();
    for (size_t i = 0; i < models.size(); ++i) service.setFirmwareVersion(models[i], "1." + std::to_string(i) + ".00");
    service.setFault(Route::version, Fault{.delayMs = 50});
    std::vector<std::future<std::string>> answers;
    for (const auto& model : models)
        answers.push_back(std::async(std::launch::async, [&m, model] { return m.getLatestFirmwareVersion(model); }));
    for (size_t i = 0; i < models.size(); ++i) EXPECT_EQ(answers[i].get(), "1." + std::to_string(i) + ".00") << models[i];
}

TEST_F(WebApiClient, UpToDateComparison) {
    FirmwareManager m = makeManager();
    struct Case {
        const char* latest;
        const char* current;
        bool upToDate;
    } cases[] = {
        {"1.2.1", "1.2.00", false}, {"1.9.9", "1.10.0", true},  {"1.2.0", "1.2", true},    {"1.10.0", "1.9.0", false},
        {"1.6.00", "1.6.00", true}, {"1.6.00", "1.6.0", true},  {"1.6.00", "1.7", true},   {"2.0", "1.99.99", false},
        {"1.6.00", "1.6.00A", true}, {"1.6.00A", "1.6.00", false}, {"1.6", "", false},
    };
    const auto& models = standin::publishedModels();
    for (size_t i = 0; i < std::size(cases); ++i) {
        service.setFirmwareVersion(models[i], cases[i].latest);
        EXPECT_EQ(m.isFirmwareUpToDate(models[i], cases[i].current), cases[i].upToDate)
            << cases[i].current << " against " << cases[i].latest;
    }
    // Nothing learnt: up to date.
    service.setFault(Route::version, Fault{.status = 503});
    EXPECT_TRUE(m.isFirmwareUpToDate("HW7360", "0.0.1"));
}

TEST(VersionText, CompareIsNumericAware) {
    EXPECT_LT(FirmwareManager::compareVersions("1.9.0", "1.10.0"), 0);
    EXPECT_EQ(FirmwareManager::compareVersions("1.02.0", "1.2.0"), 0);
    EXPECT_GT(FirmwareManager::compareVersions("1.2.0b", "1.2.0a"), 0);
    EXPECT_LT(FirmwareManager::compareVersions("1.2", "1.2.0"), 0);
    EXPECT_EQ(FirmwareManager::compareVersions("0000000000000000000000000001", "1"), 0);
    EXPECT_GT(FirmwareManager::compareVersions("123456789012345678901234567890", "99999999999999999999"), 0);
}

TEST(VersionText, DisplayForm) {
    EXPECT_EQ(FirmwareManager::formatFirmwareVersionText("1.5.00"), "1.5");
    EXPECT_EQ(FirmwareManager::formatFirmwareVersionText("1.5.00A"), "1.5.00A");
    EXPECT_EQ(FirmwareManager::formatFirmwareVersionText("2.1.3.4"), "2.1");
    EXPECT_EQ(FirmwareManager::formatFirmwareVersionText("1.2."), "1.2.");
    EXPECT_EQ(FirmwareManager::formatFirmwareVersionText("1.2.-3"), "1.2");
    EXPECT_EQ(FirmwareManager::formatFirmwareVersionText("1.2.+"), "1.2.+");
    hvbtest::LogCapture log;
    EXPECT_EQ(FirmwareManager::formatFirmwareVersionText("1.2"), "");
    EXPECT_EQ(log.count("Version ERROR"), 5u);
    EXPECT_EQ(FirmwareManager::formatFirmwareVersionText(""), "");
    EXPECT_EQ(log.count("Version ERROR"), 10u);
}

TEST(VersionText, ExtendedCyrillicLabel) {
    auto s = [](std::optional<std::string> model, std::optional<std::string> fw) {
        return FirmwareManager::supportsExtendedCyrillicLabel(model, fw);
    };
    for (const char* m : {"HVBR4B", "HVBS2A", "HVBT3A", "HW7312", "HW7313"}) EXPECT_TRUE(s(m, "0.0.1")) << m;
    EXPECT_FALSE(s(std::nullopt, "1.6.00"));
    EXPECT_FALSE(s("HVBR4B", std::nullopt));
    EXPECT_FALSE(s("hvbr4b", "1.6.00"));
    EXPECT_FALSE(s("HVBR4", "1.4.99"));
    EXPECT_TRUE(s("HVBR4", "1.5.00"));
    EXPECT_FALSE(s("HVBR4", "1.x.00"));
    EXPECT_FALSE(s("HVBR7", "1.1.99"));
    EXPECT_TRUE(s("HVBR7", "1.2.00"));
    EXPECT_FALSE(s("HVBS8", "1.2.99"));
    EXPECT_TRUE(s("HVBS8", "2.0.00"));
    EXPECT_FALSE(s("HVBS2", "9.9.99"));
    EXPECT_FALSE(s("HW7360", "9.9.99"));
}

}  // namespace
