#include "platform/net/Transfer.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Strings.h"

namespace net {
namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

size_t headerCallback(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<Headers*>(user);
    const size_t n = size * count;
    std::string line(data, n);
    // A new status line (after a redirect or "100 Continue") starts a fresh header block.
    if (line.rfind("HTTP/", 0) == 0) {
        headers->clear();
        return n;
    }
    const auto colon = line.find(':');
    if (colon != std::string::npos) headers->emplace_back(foundation::trimmed(std::string_view(line).substr(0, colon)),
                                                    foundation::trimmed(std::string_view(line).substr(colon + 1)));
    return n;
}

struct BodySink {
    std::string body;
    uint64_t limit = 0;
    bool overLimit = false;
};

size_t appendCallback(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    if (n > sink->limit - sink->body.size()) {
        sink->overLimit = true;
        return 0;  // makes libcurl stop with a write error
    }
    sink->body.append(data, n);
    return n;
}

struct FileSink {
    int fd = -1;
    uint64_t written = 0;
    uint64_t limit = 0;
    bool failed = false;
    bool overLimit = false;
};

size_t fileCallback(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<FileSink*>(user);
    const size_t n = size * count;
    if (n > sink->limit - sink->written) {
        sink->overLimit = true;
        return 0;
    }
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(sink->fd, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            sink->failed = true;
            return 0;  // makes libcurl stop with a write error
        }
        done += static_cast<size_t>(w);
    }
    sink->written += n;
    return n;
}

struct ProgressState {
    std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
    curl_off_t lastNow = -1;
    int64_t idleTimeoutMs = 0;
    bool idleExpired = false;
    const std::function<void(uint64_t, std::optional<uint64_t>)>* progress = nullptr;
};

int progressCallback(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* st = static_cast<ProgressState*>(user);
    const auto now = std::chrono::steady_clock::now();
    const curl_off_t moved = dlnow + ulnow;
    if (moved != st->lastNow) {
        st->lastNow = moved;
        st->lastActivity = now;
        if (st->progress && *st->progress) {
            std::optional<uint64_t> expected;
            if (dltotal > 0) expected = static_cast<uint64_t>(dltotal);
            (*st->progress)(static_cast<uint64_t>(dlnow), expected);
        }
    }
    if (st->idleTimeoutMs > 0 &&
        now - st->lastActivity > std::chrono::milliseconds(st->idleTimeoutMs)) {
        st->idleExpired = true;
        return 1;  // abort
    }
    return 0;
}

void applyCommon(CURL* c, const Configuration& cfg, const std::string& url) {
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_USERAGENT, cfg.userAgent.c_str());
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (cfg.caFile) curl_easy_setopt(c, CURLOPT_CAINFO, cfg.caFile->c_str());
}

SlistPtr buildHeaders(const Headers& headers, bool hasBody) {
    curl_slist* list = nullptr;
    bool contentType = false;
    for (const auto& [name, value] : headers) {
        std::string line = name + ": " + value;
        list = curl_slist_append(list, line.c_str());
        if (strcasecmp(name.c_str(), "Content-Type") == 0) contentType = true;
    }
    if (hasBody) {
        // Keep libcurl from adding headers the caller did not ask for.
        if (!contentType) list = curl_slist_append(list, "Content-Type:");
        list = curl_slist_append(list, "Expect:");
    }
    return SlistPtr(list);
}

std::optional<HTTPResponse> responseOf(CURL* c, Headers headers) {
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status <= 0) return std::nullopt;
    HTTPResponse r;
    r.statusCode = status;
    char* effective = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) r.url = effective;
    r.headers = std::move(headers);
    return r;
}

// A body announced longer than the limit is refused before any of it is read; one that does not
// announce its length is stopped by the write callbacks when it passes the limit.
void applyLimit(CURL* c, uint64_t limit) {
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(std::min<uint64_t>(limit, INT64_MAX)));
}

Error limitError(uint64_t limit) {
    return Error{CURLE_FILESIZE_EXCEEDED, "the answer is longer than its limit of " + std::to_string(limit) + " bytes"};
}

Error errorOf(CURLcode code, const char* buffer) {
    Error e;
    e.code = static_cast<int>(code);
    e.message = (buffer && *buffer) ? buffer : curl_easy_strerror(code);
    return e;
}

}  // namespace

std::string Error::description() const {
    return message + " (code " + std::to_string(code) + ")";
}

Session::Session(Configuration configuration) : configuration_(std::move(configuration)) { initCurlOnce(); }

Session& Session::shared() {
    // Never destroyed: tasks may still run on worker threads while the process exits.
    static Session* session = new Session;
    return *session;
}

Configuration Session::defaultConfiguration() {
    Configuration cfg;
    if (const char* ca = std::getenv("HVB_CA_FILE"); ca && *ca) cfg.caFile = std::filesystem::path(ca);
    return cfg;
}

bool isValidURL(const std::string& text) {
    if (text.empty()) return false;
    CURLU* u = curl_url();
    if (!u) return false;
    bool ok = false;
    if (curl_url_set(u, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
            const std::string s = scheme ? scheme : "";
            ok = (s == "http" || s == "https") && host && *host;
        }
        curl_free(scheme);
        curl_free(host);
    }
    curl_url_cleanup(u);
    return ok;
}

DataResult Session::perform(const Request& request) const {
    DataResult result;
    if (!isValidURL(request.url)) {
        result.error = Error{CURLE_URL_MALFORMAT, "not a valid http(s) URL: " + request.url};
        return result;
    }
    CurlPtr c(curl_easy_init());
    if (!c) {
        result.error = Error{CURLE_FAILED_INIT, "cannot create a transfer"};
        return result;
    }
    char errbuf[CURL_ERROR_SIZE] = {0};
    BodySink sink;
    sink.limit = request.maxBodyBytes;
    Headers headers;
    applyCommon(c.get(), configuration_, request.url);
    applyLimit(c.get(), sink.limit);
    curl_easy_setopt(c.get(), CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(c.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
    curl_easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, appendCallback);
    curl_easy_setopt(c.get(), CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c.get(), CURLOPT_HEADERFUNCTION, headerCallback);
    curl_easy_setopt(c.get(), CURLOPT_HEADERDATA, &headers);
    if (request.body) {
        curl_easy_setopt(c.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
        curl_easy_setopt(c.get(), CURLOPT_POSTFIELDS, request.body->data());
    }
    if (request.method == "POST" && !request.body) {
        curl_easy_setopt(c.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
        curl_easy_setopt(c.get(), CURLOPT_POSTFIELDS, "");
    }
    if (request.method != "GET" && request.method != "POST")
        curl_easy_setopt(c.get(), CURLOPT_CUSTOMREQUEST, request.method.c_str());
    else if (request.method == "GET" && !request.body)
        curl_easy_setopt(c.get(), CURLOPT_HTTPGET, 1L);
    SlistPtr list = buildHeaders(request.headers, request.body.has_value() || request.method == "POST");
    curl_easy_setopt(c.get(), CURLOPT_HTTPHEADER, list.get());

    const CURLcode code = curl_easy_perform(c.get());
    if (sink.overLimit || code == CURLE_FILESIZE_EXCEEDED) {
        result.error = limitError(sink.limit);
        return result;
    }
    if (code != CURLE_OK) {
        result.error = errorOf(code, errbuf);
        return result;
    }
    result.response = responseOf(c.get(), std::move(headers));
    if (!sink.body.empty()) result.body = std::move(sink.body);
    return result;
}

DownloadResult Session::download(const DownloadRequest& request) const {
    DownloadResult result;
    if (!isValidURL(request.url)) {
        result.error = Error{CURLE_URL_MALFORMAT, "not a valid http(s) URL: " + request.url};
        return result;
    }
    std::error_code ec;
    std::filesystem::path dir = request.directory.empty() ? std::filesystem::temp_directory_path(ec) : request.directory;
    std::string pattern = (dir / ".download-XXXXXX").string();
    FileSink sink;
    sink.limit = request.maxBytes;
    sink.fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (sink.fd < 0) {
        result.error = Error{CURLE_WRITE_ERROR, "cannot create a temporary file in " + dir.string()};
        return result;
    }
    const std::filesystem::path tempPath = pattern;

    CurlPtr c(curl_easy_init());
    if (!c) {
        ::close(sink.fd);
        std::filesystem::remove(tempPath, ec);
        result.error = Error{CURLE_FAILED_INIT, "cannot create a transfer"};
        return result;
    }
    char errbuf[CURL_ERROR_SIZE] = {0};
    Headers headers;
    ProgressState progress;
    progress.idleTimeoutMs = request.idleTimeoutMs;
    progress.progress = &request.progress;
    applyCommon(c.get(), configuration_, request.url);
    applyLimit(c.get(), sink.limit);
    curl_easy_setopt(c.get(), CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(c.get(), CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, fileCallback);
    curl_easy_setopt(c.get(), CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c.get(), CURLOPT_HEADERFUNCTION, headerCallback);
    curl_easy_setopt(c.get(), CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(c.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c.get(), CURLOPT_XFERINFOFUNCTION, progressCallback);
    curl_easy_setopt(c.get(), CURLOPT_XFERINFODATA, &progress);
    SlistPtr list = buildHeaders(request.headers, false);
    if (list) curl_easy_setopt(c.get(), CURLOPT_HTTPHEADER, list.get());

    const CURLcode code = curl_easy_perform(c.get());
    const bool closeFailed = ::close(sink.fd) != 0;
    if (code != CURLE_OK || sink.failed || closeFailed) {
        std::filesystem::remove(tempPath, ec);
        if (sink.overLimit || code == CURLE_FILESIZE_EXCEEDED)
            result.error = limitError(sink.limit);
        else if (progress.idleExpired)
            result.error = Error{CURLE_OPERATION_TIMEDOUT,
                                 "no data received for " + std::to_string(request.idleTimeoutMs) + " ms"};
        else if (code == CURLE_OK)
            result.error = Error{CURLE_WRITE_ERROR, "cannot write the downloaded file"};
        else
            result.error = errorOf(code, errbuf);
        return result;
    }
    result.response = responseOf(c.get(), std::move(headers));
    result.location = tempPath;
    return result;
}

void Session::dataTask(Request request, std::function<void(DataResult)> completion) const {
    dispatch::globalQueue(dispatch::QoS::utility)
        .async([session = *this, request = std::move(request), completion = std::move(completion)] {
            DataResult r = session.perform(request);
            if (completion) completion(std::move(r));
        });
}

void Session::downloadTask(DownloadRequest request, std::function<void(DownloadResult)> completion) const {
    dispatch::globalQueue(dispatch::QoS::utility)
        .async([session = *this, request = std::move(request), completion = std::move(completion)] {
            DownloadResult r = session.download(request);
            if (completion) completion(std::move(r));
        });
}

}  // namespace net
