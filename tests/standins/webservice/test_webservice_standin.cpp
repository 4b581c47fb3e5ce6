// The web-service stand-in itself: the packages it generates open with the upgrade password and
// hold the image the upgrade expects; its routes check the token and record every request.
#include <gtest/gtest.h>
#include <zip.h>

#include <memory>

#include <nlohmann/json.hpp>

#include "online/FirmwareManager.h"
#include "online/OnlineTestSupport.h"
#include "platform/net/Transfer.h"
#include "standins/webservice/Content.h"
#include "standins/webservice/WebService.h"

namespace {

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};

// Opens ZIP bytes in memory (libzip copies nothing; the string must outlive the archive).
std::unique_ptr<zip_t, ZipCloser> openZip(const std::string& bytes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (!src) return nullptr;
    zip_t* z = zip_open_from_source(src, ZIP_RDONLY, &error);
    if (!z) zip_source_free(src);
    zip_error_fini(&error);
    return std::unique_ptr<zip_t, ZipCloser>(z);
}

// Reads entry 0 with a password; nullopt when libzip refuses.
std::optional<std::string> readEntry(zip_t* z, const char* password, int* zipError = nullptr) {
    zip_file_t* f = zip_fopen_index_encrypted(z, 0, 0, password);
    if (!f) {
        if (zipError) *zipError = zip_error_code_zip(zip_get_error(z));
        return std::nullopt;
    }
    std::string out;
    char buf[8192];
    zip_int64_t n;
    while ((n = zip_fread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    const bool ok = n == 0;
    if (!ok && zipError) *zipError = zip_error_code_zip(zip_file_get_error(f));
    zip_fclose(f);
    if (!ok) return std::nullopt;
    return out;
}

TEST(FirmwarePackage, EveryModelsPackageOpensWithTheUpgradePassword) {
    for (const auto& model : standin::publishedModels()) {
        const std::string bytes = standin::firmwarePackage(model, "1.6.00");
        ASSERT_FALSE(bytes.empty()) << model;
        auto z = openZip(bytes);
        ASSERT_TRUE(z) << model;
        ASSERT_EQ(zip_get_num_entries(z.get(), 0), 1) << model;
        zip_stat_t st;
        ASSERT_EQ(zip_stat_index(z.get(), 0, 0, &st), 0);
        const std::string expectedName = model == "HVBS2A" ? "FWHVBS2.bin" : "FW" + model + ".bin";
        EXPECT_EQ(std::string(st.name), expectedName);
        EXPECT_EQ(st.encryption_method, ZIP_EM_TRAD_PKWARE) << model;

        const auto image = readEntry(z.get(), "gRAVELMOORkestHILLpin");
        ASSERT_TRUE(image.has_value()) << model;
        EXPECT_EQ(*image, standin::firmwareImage(model, "1.6.00"));
        EXPECT_EQ(image->rfind("VERSION=1.6.00\nMODEL=" + model + "\n", 0), 0u);
    }
}

TEST(FirmwarePackage, WrongOrMissingPasswordFails) {
    const std::string bytes = standin::firmwarePackage("HVBR4", "1.6.00");
    auto z = openZip(bytes);
    ASSERT_TRUE(z);
    // The scheme checks one byte of the password up front (1 in 256 wrong ones pass it); the
    // entry's compressed stream or its CRC then refuses what such a password decrypts.
    for (const char* wrong : {"gravelmoorkesthillpin", "gRAVELMOORkestHILLpi", "", "x", "gRAVELMOORkestHILLpin "}) {
        int err = 0;
        EXPECT_FALSE(readEntry(z.get(), wrong, &err).has_value()) << wrong;
        EXPECT_TRUE(err == ZIP_ER_WRONGPASSWD || err == ZIP_ER_CRC || err == ZIP_ER_ZLIB) << wrong << ": " << err;
    }
    int err = 0;
    EXPECT_FALSE(readEntry(z.get(), nullptr, &err).has_value());
    EXPECT_EQ(err, ZIP_ER_NOPASSWD);
}

class StandIn : public hvbtest::StandInTest {};

TEST_F(StandIn, PackageFetchedOverHTTPOpensAndHoldsTheImage) {
    hvb::FirmwareManager m(service.baseURL(), resources.path(), resources.path());
    service.setFirmwareVersion("HVBS2A", "1.7.02");
    ASSERT_TRUE(m.downloadFirmware("HVBS2A"));
    const std::string bytes = hvbtest::readFile(resources.path() / "FWHVBS2A.zip");
    auto z = openZip(bytes);
    ASSERT_TRUE(z);
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(z.get(), 0, 0, &st), 0);
    EXPECT_EQ(std::string(st.name), "FWHVBS2.bin");
    const auto image = readEntry(z.get(), standin::kPackagePassword);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->rfind("VERSION=1.7.02\n", 0), 0u);
    EXPECT_EQ(m.getLatestFirmwareVersion("HVBS2A"), "1.7.02");
}

// Whatever the service offers, the demo's offers and a version its releases do not know, the
// notes the toolbox reads for that model start with the offered version and go back from there,
// with texts in both languages; a document of a test's own stays as it was set.
TEST_F(StandIn, EveryOfferedVersionHeadsItsModelsNotes) {
    for (const auto& [model, version] : standin::demoFirmwareOffers()) service.setFirmwareVersion(model, version);
    service.setFirmwareVersion("HVBS2A", "1.10.01");
    hvb::FirmwareManager m(service.baseURL(), resources.path(), resources.path());
    ASSERT_TRUE(m.downloadReleaseNotes());
    for (const auto& model : standin::publishedModels()) {
        SCOPED_TRACE(model);
        const std::string offered = m.getLatestFirmwareVersion(model);
        ASSERT_FALSE(offered.empty());
        const auto notes = m.getReleaseNotes(model);
        ASSERT_TRUE(notes.has_value());
        ASSERT_FALSE(notes->empty());
        EXPECT_EQ((*notes)[0].value("version", ""), offered);
        std::string newer;
        for (const auto& entry : *notes) {
            const std::string version = entry.value("version", "");
            if (!newer.empty()) {
                EXPECT_LT(hvb::FirmwareManager::compareVersions(version, newer), 0) << version;
            }
            newer = version;
            EXPECT_FALSE(entry.value("date", "").empty()) << version;
            for (const char* language : {"en-US", "zh-Hant-TW"}) {
                const auto lines = entry["note"][language];
                ASSERT_TRUE(lines.is_array()) << version << " " << language;
                EXPECT_FALSE(lines.empty()) << version << " " << language;
                for (const auto& line : lines) EXPECT_FALSE(line.get<std::string>().empty());
            }
        }
    }
    const auto r7 = m.getReleaseNotes("HVBR7");
    ASSERT_TRUE(r7.has_value());
    std::vector<std::string> versions;
    for (const auto& entry : *r7) versions.push_back(entry.value("version", ""));
    EXPECT_EQ(versions, (std::vector<std::string>{standin::demoFirmwareOffers().at("HVBR7"), "1.6.00", "1.5.00"}));

    const std::string own = R"({"HalvetorBody":{"HVBR7":[]}})";
    service.setReleaseNotes(own, "20300101");
    service.setFirmwareVersion("HVBR7", "1.8.00");
    EXPECT_EQ(service.fileBytes(standin::WebService::kReleaseNotePath), own);
}

TEST_F(StandIn, ApiRoutesCheckTheTokenAndParseAnyBody) {
    net::Session session;
    net::Request req;
    req.method = "POST";
    req.url = service.baseURL() + "/v1/api/get/version";
    req.body = R"({"tag":"firmware","category":"HVB","target":"HVBR4"})";
    for (const char* token : {"", "Bearer k-quellmarsh-vexor", "k-quellmarsh-vexo"}) {
        req.headers.clear();
        if (*token) req.headers = {{"Authorization", token}};
        const auto r = session.perform(req);
        ASSERT_TRUE(r.response.has_value());
        EXPECT_EQ(r.response->statusCode, 401) << token;
        ASSERT_TRUE(r.body.has_value());
        EXPECT_TRUE(nlohmann::json::parse(*r.body).is_object());
    }
    // The update request: the token only, no Content-Type; the appcast comes back.
    req.headers = {{"Authorization", "k-quellmarsh-vexor"}};
    req.body = R"({"tag":"macos","category":"HVB","lang":"en"})";
    const auto appcast = session.perform(req);
    ASSERT_TRUE(appcast.response.has_value());
    EXPECT_EQ(appcast.response->statusCode, 200);
    const auto doc = nlohmann::json::parse(*appcast.body);
    const std::string xml = doc["result"]["appcast"];
    EXPECT_NE(xml.find("<sparkle:version>2.1.0</sparkle:version>"), std::string::npos);
    EXPECT_NE(xml.find(service.baseURL() + "/download/app/app-2.1.0.tar.gz"), std::string::npos);
    const auto recorded = service.requestsTo("/v1/api/get/version").back();
    EXPECT_FALSE(recorded.hasHeader("Content-Type"));
    EXPECT_EQ(recorded.body, req.body);

    // Unknown targets and garbage bodies get clear errors, not crashes.
    for (const char* body : {R"({"tag":"firmware","category":"HVB","target":"HVBS2"})", "not json", "[1]",
                             R"({"tag":1,"category":null,"target":{}})"}) {
        req.body = body;
        const auto r = session.perform(req);
        ASSERT_TRUE(r.response.has_value());
        EXPECT_GE(r.response->statusCode, 400) << body;
    }
}

TEST_F(StandIn, SiteCollectorAndControl) {
    net::Session session;
    net::Request get;
    get.url = service.baseURL() + "/";
    auto r = session.perform(get);
    ASSERT_TRUE(r.response.has_value());
    EXPECT_EQ(r.response->statusCode, 200);
    EXPECT_TRUE(r.body.has_value());

    net::Request collect;
    collect.method = "POST";
    collect.url = service.baseURL() + "/mp/collect?measurement_id=G-PW4NTQ7XCB&api_secret=wrong";
    collect.body = "{}";
    r = session.perform(collect);
    EXPECT_EQ(r.response->statusCode, 403);

    // The demo sets faults over HTTP.
    net::Request control;
    control.method = "POST";
    control.url = service.baseURL() + "/__control";
    control.body = R"({"route":"root","fault":{"status":503}})";
    r = session.perform(control);
    EXPECT_EQ(r.response->statusCode, 200);
    EXPECT_EQ(session.perform(get).response->statusCode, 503);
    control.body = R"({"clear":true})";
    session.perform(control);
    EXPECT_EQ(session.perform(get).response->statusCode, 200);
    control.body = R"({"route":"nowhere"})";
    EXPECT_EQ(session.perform(control).response->statusCode, 400);
    EXPECT_EQ(service.requestsTo("/__control").size(), 0u) << "control requests are not recorded";
}

TEST(FaultJSON, ParsesKnownKeysAndRejectsGarbage) {
    const auto f = standin::faultFromJSON(R"({"status":404,"cutMidway":true,"url":"x","missingMember":"path","delayMs":-5})");
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->status, 404);
    EXPECT_TRUE(f->cutMidway);
    EXPECT_EQ(f->url, "x");
    EXPECT_EQ(f->missingMember, "path");
    EXPECT_EQ(f->delayMs, 0);
    EXPECT_FALSE(standin::faultFromJSON("[]").has_value());
    EXPECT_FALSE(standin::faultFromJSON("{").has_value());
}

}  // namespace
