// URL transfers against the loopback stand-in, and network reachability from route tables.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "online/FirmwareManager.h"
#include "platform/foundation/Process.h"
#include "platform/net/Reachability.h"
#include "platform/net/Transfer.h"
#include "online/OnlineTestSupport.h"

namespace {

class Transfer : public hvbtest::StandInTest {};

TEST_F(Transfer, PostCarriesHeadersAndBodyExactly) {
    net::Session session;
    net::Request req;
    req.method = "POST";
    req.url = service.baseURL() + "/v1/api/get/version";
    req.headers = {{"Authorization", "k-quellmarsh-vexor"}, {"Content-Type", "application/json"}};
    req.body = std::string(5000, ' ') + R"({"tag":"firmware","category":"HVB","target":"HW7360"})";
    const auto r = session.perform(req);
    ASSERT_FALSE(r.error.has_value()) << r.error->description();
    ASSERT_TRUE(r.response.has_value());
    EXPECT_EQ(r.response->statusCode, 200);
    const auto rec = service.requestsTo("/v1/api/get/version").at(0);
    EXPECT_EQ(rec.body, *req.body);
    EXPECT_EQ(rec.header("Content-Type"), "application/json");
    EXPECT_FALSE(rec.hasHeader("Expect"));
    bool contentTypeHeader = false;
    for (const auto& [k, v] : r.response->headers)
        if (k == "Content-Type") contentTypeHeader = v == "application/json";
    EXPECT_TRUE(contentTypeHeader);
}

TEST_F(Transfer, MalformedURLsFailCleanly) {
    net::Session session;
    for (const char* url : {"", "not a url", "ftp://127.0.0.1/", "file:///etc/passwd", "http://", "://x", "http://a b/"}) {
        EXPECT_FALSE(net::isValidURL(url)) << url;
        net::Request req;
        req.url = url;
        const auto r = session.perform(req);
        EXPECT_TRUE(r.error.has_value()) << url;
        net::DownloadRequest d;
        d.url = url;
        d.directory = resources.path();
        const auto dr = session.download(d);
        EXPECT_TRUE(dr.error.has_value()) << url;
        EXPECT_FALSE(dr.location.has_value());
    }
    EXPECT_TRUE(hvbtest::filesIn(resources.path()).empty());
    EXPECT_TRUE(net::isValidURL(service.baseURL() + "/x?y=1"));
}

TEST_F(Transfer, DownloadWritesATemporaryFileWithProgress) {
    net::Session session;
    net::DownloadRequest d;
    d.url = service.baseURL() + "/download/" + service.firmwarePath("HVBR4");
    d.directory = resources.path();
    std::vector<uint64_t> seen;
    std::optional<uint64_t> total;
    d.progress = [&](uint64_t received, std::optional<uint64_t> expected) {
        seen.push_back(received);
        if (expected) total = expected;
    };
    const auto r = session.download(d);
    ASSERT_FALSE(r.error.has_value()) << r.error->description();
    ASSERT_TRUE(r.location.has_value());
    EXPECT_EQ(r.location->parent_path(), resources.path());
    const std::string expected = *service.fileBytes(service.firmwarePath("HVBR4"));
    EXPECT_EQ(hvbtest::readFile(*r.location), expected);
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), expected.size());
    EXPECT_EQ(total, expected.size());
}

TEST_F(Transfer, CutDownloadLeavesNoFileBehind) {
    net::Session session;
    service.setFault(standin::Route::download, standin::Fault{.cutMidway = true});
    net::DownloadRequest d;
    d.url = service.baseURL() + "/download/" + service.firmwarePath("HVBR4");
    d.directory = resources.path();
    const auto r = session.download(d);
    EXPECT_TRUE(r.error.has_value());
    EXPECT_FALSE(r.location.has_value());
    EXPECT_TRUE(hvbtest::filesIn(resources.path()).empty());
}

TEST_F(Transfer, TaskCompletionsRunOnAWorkerThread) {
    net::Session session;
    net::Request req;
    req.url = service.baseURL() + "/";
    std::promise<std::pair<std::thread::id, long>> done;
    session.dataTask(req, [&](net::DataResult r) {
        done.set_value({std::this_thread::get_id(), r.response ? r.response->statusCode : 0});
    });
    auto f = done.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto [thread, status] = f.get();
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_EQ(status, 200);
}

TEST_F(Transfer, UnreadableCAFileFailsTheHandshakeOnly) {
    // A CA file is used only for https; a plain http exchange never reads it.
    net::Configuration cfg;
    cfg.caFile = resources.path() / "missing-ca.pem";
    net::Session session(cfg);
    net::Request req;
    req.url = service.baseURL() + "/";
    EXPECT_FALSE(session.perform(req).error.has_value());
}

// https against the stand-in with a certificate made for this test: trusted only through the
// overriding CA file, refused against the system's store.
TEST(TransferTLS, CertificateIsCheckedAgainstTheConfiguredStore) {
    hvbtest::TempDir dir;
    const std::string cert = (dir.path() / "cert.pem").string(), key = (dir.path() / "key.pem").string();
    foundation::ProcessOptions merged;
    merged.mergeStandardError = true;
    const auto made = foundation::runProcess(
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
        merged);
    ASSERT_TRUE(made.launched && made.exitStatus == 0) << made.standardOutput << made.error;

    standin::WebService service(standin::TlsFiles{cert, key});
    ASSERT_GT(service.start(), 0);
    ASSERT_EQ(service.baseURL().rfind("https://", 0), 0u);
    net::Request req;
    req.url = service.baseURL() + "/";

    ::unsetenv("HVB_CA_FILE");
    const auto refused = net::Session().perform(req);
    ASSERT_TRUE(refused.error.has_value()) << "a certificate outside the system store must not be trusted";

    net::Configuration cfg;
    cfg.caFile = cert;
    const auto trusted = net::Session(cfg).perform(req);
    ASSERT_FALSE(trusted.error.has_value()) << trusted.error->description();
    EXPECT_EQ(trusted.response->statusCode, 200);

    // The application's client takes the override from the environment.
    ::setenv("HVB_CA_FILE", cert.c_str(), 1);
    hvb::FirmwareManager m(service.baseURL(), dir.path());
    EXPECT_EQ(m.getLatestFirmwareVersion("HVBR4"), "1.6.00");
    ::unsetenv("HVB_CA_FILE");
}

class Reachability : public ::testing::Test {
protected:
    void write(const std::string& rel, const std::string& text) {
        const auto p = root.path() / rel;
        std::filesystem::create_directories(p.parent_path());
        hvbtest::writeFile(p, text);
    }
    hvbtest::TempDir root;
    const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
};

TEST_F(Reachability, DefaultRouteOnAnInterfaceThatIsUp) {
    EXPECT_TRUE(net::isNetworkReachable(root.path())) << "no table: cannot tell, so the probe decides";
    write("proc/net/route", header + "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
    write("sys/class/net/eth0/flags", "0x1003\n");
    EXPECT_FALSE(net::isNetworkReachable(root.path())) << "no default route";
    write("proc/net/route", header + "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    EXPECT_TRUE(net::isNetworkReachable(root.path()));
    write("sys/class/net/eth0/flags", "0x1002\n");
    EXPECT_FALSE(net::isNetworkReachable(root.path())) << "interface down";
    write("proc/net/route", header + "../../x\t00000000\t0101A8C0\t0003\nbroken line\neth0\t00000000\t0\tzz\n");
    EXPECT_FALSE(net::isNetworkReachable(root.path()));
}

}  // namespace
