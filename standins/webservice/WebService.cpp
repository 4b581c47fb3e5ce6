#include "standins/webservice/WebService.h"

#include <httplib.h>
#include <strings.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "standins/webservice/Content.h"

namespace standin {
namespace {

using json = nlohmann::json;

constexpr const char* kMeasurementId = "G-PW4NTQ7XCB";
constexpr const char* kApiSecret = "Rm3vK9_pQwZt2Lh-8NcYfE";
constexpr const char* kAppPath = "app/app-2.1.0.tar.gz";
constexpr const char* kReleaseNotesVersion = "20240501";

void replyJSON(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

// Gives `value` a JSON value of another type.
json otherType(const json& value) {
    if (value.is_string()) return 12345;
    if (value.is_number()) return std::to_string(value.get<double>());
    if (value.is_object()) return json::array({"not", "an", "object"});
    return "text";
}

// Removes or retypes a member of a reply, inside "result" first, then at the top.
void applyMemberFaults(json& reply, const Fault& fault) {
    auto apply = [&](json& level) {
        if (!fault.missingMember.empty() && level.contains(fault.missingMember)) level.erase(fault.missingMember);
        if (!fault.wrongTypeMember.empty() && level.contains(fault.wrongTypeMember))
            level[fault.wrongTypeMember] = otherType(level[fault.wrongTypeMember]);
    };
    if (reply.contains("result") && reply["result"].is_object()) apply(reply["result"]);
    apply(reply);
}

// Answers with the fault's filler body, when it has one.
bool sendFiller(httplib::Response& res, const Fault& fault) {
    if (fault.fillerBytes == 0) return false;
    const uint64_t total = fault.fillerBytes;
    auto chunk = std::make_shared<const std::string>(64 * 1024, ' ');
    res.status = 200;
    if (fault.announceLength) {
        res.set_content_provider(static_cast<size_t>(total), "application/octet-stream",
                                 [chunk](size_t, size_t length, httplib::DataSink& sink) {
                                     return sink.write(chunk->data(), std::min(length, chunk->size()));
                                 });
        return true;
    }
    res.set_chunked_content_provider("application/octet-stream", [chunk, total](size_t offset, httplib::DataSink& sink) {
        if (offset >= total) {
            sink.done();
            return true;
        }
        // A client that hangs up makes the write fail, which ends the stream.
        return sink.write(chunk->data(), static_cast<size_t>(std::min<uint64_t>(chunk->size(), total - offset)));
    });
    return true;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

// ---- recorded requests ---------------------------------------------------------------------

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [k, v] : headers)
        if (strcasecmp(k.c_str(), name.c_str()) == 0) return v;
    return {};
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    for (const auto& [k, v] : headers)
        if (strcasecmp(k.c_str(), name.c_str()) == 0) return true;
    return false;
}

std::string RecordedRequest::queryValue(const std::string& key) const {
    const auto q = target.find('?');
    if (q == std::string::npos) return {};
    const std::string query = target.substr(q + 1);
    size_t start = 0;
    while (start <= query.size()) {
        auto end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        const auto eq = pair.find('=');
        if (pair.substr(0, eq) == key) return eq == std::string::npos ? std::string() : pair.substr(eq + 1);
        start = end + 1;
    }
    return {};
}

// ---- faults --------------------------------------------------------------------------------

std::optional<Route> routeFromName(const std::string& name) {
    static const std::map<std::string, Route> routes{{"version", Route::version},   {"generateLink", Route::generateLink},
                                                     {"download", Route::download}, {"root", Route::root},
                                                     {"collect", Route::collect},   {"support", Route::support}};
    const auto it = routes.find(name);
    if (it == routes.end()) return std::nullopt;
    return it->second;
}

std::optional<Fault> faultFromJSON(const std::string& text) {
    const json j = json::parse(text, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    Fault f;
    auto flag = [&](const char* key, bool& out) {
        if (j.contains(key) && j[key].is_boolean()) out = j[key].get<bool>();
    };
    auto text_ = [&](const char* key, std::string& out) {
        if (j.contains(key) && j[key].is_string()) out = j[key].get<std::string>();
    };
    if (j.contains("status") && j["status"].is_number_integer()) f.status = j["status"].get<int>();
    if (j.contains("delayMs") && j["delayMs"].is_number_integer()) f.delayMs = std::max(0, j["delayMs"].get<int>());
    flag("notJson", f.notJson);
    flag("emptyBody", f.emptyBody);
    flag("lowerCaseChecksum", f.lowerCaseChecksum);
    flag("wrongChecksum", f.wrongChecksum);
    flag("corruptFile", f.corruptFile);
    flag("cutMidway", f.cutMidway);
    if (j.contains("chunkDelayMs") && j["chunkDelayMs"].is_number_integer())
        f.chunkDelayMs = std::max(0, j["chunkDelayMs"].get<int>());
    if (j.contains("fillerBytes") && j["fillerBytes"].is_number_unsigned())
        f.fillerBytes = j["fillerBytes"].get<uint64_t>();
    flag("announceLength", f.announceLength);
    text_("missingMember", f.missingMember);
    text_("wrongTypeMember", f.wrongTypeMember);
    if (j.contains("url") && j["url"].is_string()) f.url = j["url"].get<std::string>();
    return f;
}

// ---- the server ----------------------------------------------------------------------------

struct WebService::Impl {
    explicit Impl(const std::optional<TlsFiles>& tls)
        : server(tls ? std::make_unique<httplib::SSLServer>(tls->certificate.c_str(), tls->privateKey.c_str())
                     : std::make_unique<httplib::Server>()),
          scheme(tls ? "https" : "http") {}
    std::unique_ptr<httplib::Server> server;
    std::string scheme;
    std::thread thread;

    mutable std::mutex mutex;  // faults, records, content
    mutable std::condition_variable changed;
    bool stopping = false;
    std::map<Route, Fault> faults;
    std::vector<RecordedRequest> records;
    std::map<std::string, std::string> files;     // storage path -> bytes
    std::map<std::string, std::string> versions;  // target -> published version
    bool notesFollowOffers = true;
    std::string baseURL;

    // With the lock held.
    void notesFromOffers() {
        files[kReleaseNotePath] = releaseNotesDocument(versions);
        versions["releasenote"] = kReleaseNotesVersion;
    }

    Fault faultFor(Route route) {
        std::lock_guard lock(mutex);
        const auto it = faults.find(route);
        return it == faults.end() ? Fault{} : it->second;
    }

    void record(const httplib::Request& req) {
        RecordedRequest r;
        r.method = req.method;
        r.path = req.path;
        r.target = req.target;
        for (const auto& [k, v] : req.headers) r.headers.emplace(k, v);
        r.body = req.body;
        std::lock_guard lock(mutex);
        records.push_back(std::move(r));
        changed.notify_all();
    }

    // Waits for a fault's delay; returns early when the service stops.
    void delay(const Fault& fault) {
        if (fault.delayMs <= 0) return;
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(fault.delayMs), [&] { return stopping; });
    }

    // The common front of every API route: fault delay, Authorization, a JSON body whatever the
    // Content-Type. Returns the body, or nothing when the reply has been made.
    std::optional<json> apiFront(const httplib::Request& req, httplib::Response& res, const Fault& fault) {
        record(req);
        delay(fault);
        if (req.get_header_value("Authorization") != kAuthorization) {
            replyJSON(res, 401, {{"code", 401}, {"message", "unauthorized"}});
            return std::nullopt;
        }
        json body = json::parse(req.body, nullptr, false);
        if (!body.is_object()) {
            replyJSON(res, 400, {{"code", 400}, {"message", "the body is not a JSON object"}});
            return std::nullopt;
        }
        return body;
    }

    // Sends `reply` through the route's fault switches.
    static void sendReply(httplib::Response& res, json reply, const Fault& fault) {
        if (sendFiller(res, fault)) return;
        if (fault.notJson) {
            res.status = 200;
            res.set_content("<html><body>Service temporarily unavailable</body></html>", "text/html");
            return;
        }
        if (fault.emptyBody) {
            res.status = 200;
            return;
        }
        applyMemberFaults(reply, fault);
        replyJSON(res, fault.status ? fault.status : 200, reply);
    }

    static std::string textMember(const json& body, const char* key) {
        const auto it = body.find(key);
        return (it != body.end() && it->is_string()) ? it->get<std::string>() : std::string();
    }

    void handleVersion(const httplib::Request& req, httplib::Response& res) {
        const Fault fault = faultFor(Route::version);
        const auto body = apiFront(req, res, fault);
        if (!body) return;
        const std::string tag = textMember(*body, "tag"), category = textMember(*body, "category");
        if (tag == "macos" && category == "HVB") {
            std::string xml;
            {
                std::lock_guard lock(mutex);
                const auto app = files.find(kAppPath);
                xml = appcastXML(baseURL, textMember(*body, "lang"), app == files.end() ? 0 : app->second.size());
            }
            sendReply(res, {{"code", 200}, {"result", {{"appcast", xml}}}}, fault);
            return;
        }
        const std::string target = textMember(*body, "target");
        const std::string path = target == "releasenote" ? std::string(kReleaseNotePath) : firmwarePath(target);
        std::string version, sum;
        bool known = false;
        {
            std::lock_guard lock(mutex);
            const auto file = files.find(path);
            const auto ver = versions.find(target);
            if (tag == "firmware" && category == "HVB" && file != files.end() && ver != versions.end()) {
                known = true;
                version = ver->second;
                sum = md5Hex(file->second);
            }
        }
        if (!known) {
            replyJSON(res, 404, {{"code", 404}, {"message", "no such target"}});
            return;
        }
        if (fault.lowerCaseChecksum) sum = lower(sum);
        if (fault.wrongChecksum) sum = std::string(32, '0');
        json reply = {{"code", 200},
                      {"result", {{"path", path}, {"version", version}, {"target", target}, {"checksum", sum}}}};
        sendReply(res, std::move(reply), fault);
    }

    void handleGenerateLink(const httplib::Request& req, httplib::Response& res) {
        const Fault fault = faultFor(Route::generateLink);
        const auto body = apiFront(req, res, fault);
        if (!body) return;
        const std::string path = textMember(*body, "path");
        bool known = false;
        std::string sum;
        {
            std::lock_guard lock(mutex);
            const auto file = files.find(path);
            known = textMember(*body, "action") == "getObject" && file != files.end();
            if (known) sum = md5Hex(file->second);
        }
        if (!known) {
            replyJSON(res, 404, {{"code", 404}, {"message", "no such object"}});
            return;
        }
        const std::string url = fault.url ? *fault.url : baseURL + "/download/" + path;
        sendReply(res, {{"code", 200}, {"result", {{"url", url}, {"checksum", sum}}}}, fault);
    }

    void handleDownload(const httplib::Request& req, httplib::Response& res) {
        record(req);
        const Fault fault = faultFor(Route::download);
        delay(fault);
        std::string path = req.matches.size() > 1 ? req.matches[1].str() : std::string();
        std::optional<std::string> bytes;
        {
            std::lock_guard lock(mutex);
            const auto it = files.find(path);
            if (it != files.end()) bytes = it->second;
        }
        if (!bytes) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        if (fault.status) {
            res.status = fault.status;
            res.set_content("{\"code\":" + std::to_string(fault.status) + "}", "application/json");
            return;
        }
        if (sendFiller(res, fault)) return;
        if (fault.corruptFile && !bytes->empty()) bytes->back() = static_cast<char>(bytes->back() ^ 0x5A);
        auto data = std::make_shared<std::string>(std::move(*bytes));
        const size_t limit = fault.cutMidway ? data->size() / 2 : data->size();
        res.status = 200;
        const int chunkDelayMs = fault.chunkDelayMs;
        res.set_content_provider(data->size(), "application/octet-stream",
                                 [data, limit, chunkDelayMs](size_t offset, size_t length, httplib::DataSink& sink) {
                                     if (offset >= limit) return false;  // drops the connection
                                     if (chunkDelayMs > 0)
                                         std::this_thread::sleep_for(std::chrono::milliseconds(chunkDelayMs));
                                     const size_t n = std::min({length, limit - offset, size_t(16384)});
                                     return sink.write(data->data() + offset, n);
                                 });
    }

    void handleCollect(const httplib::Request& req, httplib::Response& res) {
        record(req);
        const Fault fault = faultFor(Route::collect);
        delay(fault);
        if (req.get_param_value("measurement_id") != kMeasurementId || req.get_param_value("api_secret") != kApiSecret) {
            res.status = 403;
            return;
        }
        if (sendFiller(res, fault)) return;
        res.status = fault.status ? fault.status : 204;
    }

    void handlePage(const httplib::Request& req, httplib::Response& res, Route route, const char* html) {
        record(req);
        const Fault fault = faultFor(route);
        delay(fault);
        if (sendFiller(res, fault)) return;
        res.status = fault.status ? fault.status : 200;
        if (!fault.emptyBody) res.set_content(html, "text/html");
    }

    void handleControl(const httplib::Request& req, httplib::Response& res) {
        const json body = json::parse(req.body, nullptr, false);
        if (!body.is_object()) {
            replyJSON(res, 400, {{"error", "not a JSON object"}});
            return;
        }
        if (body.value("clear", false)) {
            std::lock_guard lock(mutex);
            faults.clear();
        }
        if (body.contains("route")) {
            const auto route = body["route"].is_string() ? routeFromName(body["route"].get<std::string>()) : std::nullopt;
            const auto fault = body.contains("fault") ? faultFromJSON(body["fault"].dump()) : std::optional<Fault>(Fault{});
            if (!route || !fault) {
                replyJSON(res, 400, {{"error", "unknown route or fault"}});
                return;
            }
            std::lock_guard lock(mutex);
            faults[*route] = *fault;
        }
        replyJSON(res, 200, {{"ok", true}});
    }
};

WebService::WebService(std::optional<TlsFiles> tls) : impl_(std::make_unique<Impl>(tls)) {
    for (const auto& model : publishedModels()) setFirmwareVersion(model, kDefaultFirmwareVersion);
    std::string app = "app-2.1.0 placeholder archive\n";
    impl_->files[kAppPath] = app;

    auto& s = *impl_->server;
    Impl* d = impl_.get();
    s.Post("/v1/api/get/version", [d](const httplib::Request& q, httplib::Response& r) { d->handleVersion(q, r); });
    s.Post("/v1/api/generateLink", [d](const httplib::Request& q, httplib::Response& r) { d->handleGenerateLink(q, r); });
    s.Get(R"(/download/(.+))", [d](const httplib::Request& q, httplib::Response& r) { d->handleDownload(q, r); });
    s.Post("/mp/collect", [d](const httplib::Request& q, httplib::Response& r) { d->handleCollect(q, r); });
    s.Get("/", [d](const httplib::Request& q, httplib::Response& r) {
        d->handlePage(q, r, Route::root, "<html><body>Halvetor Body</body></html>");
    });
    s.Get("/support", [d](const httplib::Request& q, httplib::Response& r) {
        d->handlePage(q, r, Route::support, "<html><body>Halvetor Body ToolBox: latest software</body></html>");
    });
    s.Post("/__control", [d](const httplib::Request& q, httplib::Response& r) { d->handleControl(q, r); });
}

WebService::~WebService() { stop(); }

int WebService::start(const std::string& host, int port) {
    if (impl_->thread.joinable()) return port_;
    auto& s = *impl_->server;
    if (!s.is_valid()) return -1;  // e.g. an unreadable certificate
    const int bound = port == 0 ? s.bind_to_any_port(host) : (s.bind_to_port(host, port) ? port : -1);
    if (bound <= 0) return -1;
    port_ = bound;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = false;
        impl_->baseURL = impl_->scheme + "://" + host + ":" + std::to_string(port_);
    }
    impl_->thread = std::thread([&s] { s.listen_after_bind(); });
    // A stop() before the loop runs would be lost, so start() returns only once it serves.
    for (int i = 0; i < 5000 && !s.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port_;
}

void WebService::stop() {
    if (!impl_->thread.joinable()) return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        impl_->changed.notify_all();
    }
    impl_->server->stop();
    impl_->thread.join();
}

std::string WebService::baseURL() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->baseURL;
}

void WebService::setFault(Route route, Fault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults[route] = std::move(fault);
}

void WebService::clearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
}

std::vector<RecordedRequest> WebService::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->records;
}

std::vector<RecordedRequest> WebService::requestsTo(const std::string& path) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<RecordedRequest> out;
    for (const auto& r : impl_->records)
        if (r.path == path) out.push_back(r);
    return out;
}

void WebService::clearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->records.clear();
}

bool WebService::waitForRequests(const std::string& path, size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] {
        return static_cast<size_t>(std::count_if(impl_->records.begin(), impl_->records.end(),
                                                 [&](const RecordedRequest& r) { return r.path == path; })) >= count;
    });
}

std::string WebService::firmwarePath(const std::string& model) { return "firmware/" + firmwarePackageName(model); }

void WebService::setFirmwareVersion(const std::string& model, const std::string& version) {
    std::string package = firmwarePackage(model, version);
    std::lock_guard lock(impl_->mutex);
    impl_->files[firmwarePath(model)] = std::move(package);
    impl_->versions[model] = version;
    if (impl_->notesFollowOffers) impl_->notesFromOffers();
}

void WebService::setReleaseNotes(const std::string& document, const std::string& version) {
    std::lock_guard lock(impl_->mutex);
    impl_->notesFollowOffers = false;
    impl_->files[kReleaseNotePath] = document;
    impl_->versions["releasenote"] = version;
}

std::optional<std::string> WebService::fileBytes(const std::string& storagePath) const {
    std::lock_guard lock(impl_->mutex);
    const auto it = impl_->files.find(storagePath);
    if (it == impl_->files.end()) return std::nullopt;
    return it->second;
}

std::string WebService::checksum(const std::string& storagePath) const {
    const auto bytes = fileBytes(storagePath);
    return bytes ? md5Hex(*bytes) : std::string();
}

std::string WebService::firmwareVersion(const std::string& model) const {
    std::lock_guard lock(impl_->mutex);
    const auto it = impl_->versions.find(model);
    return it == impl_->versions.end() ? std::string() : it->second;
}

}  // namespace standin
