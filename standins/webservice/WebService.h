#pragma once
// The maker's web service and the analytics collector, on loopback over plain HTTP (or https
// with a test certificate). It records
// every request, serves content generated when it starts, and has fault switches per route.
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace standin {

inline constexpr const char* kAuthorization = "k-quellmarsh-vexor";

enum class Route { version, generateLink, download, root, collect, support };

struct Fault {
    int status = 0;                 // reply with this status, the body still valid JSON
    bool notJson = false;           // an HTML body with status 200
    bool emptyBody = false;         // status 200 and no body
    std::string missingMember{};    // "code", "result", "path", "version", "target", "checksum", "url", ...
    std::string wrongTypeMember{};  // the member gets a value of another JSON type
    bool lowerCaseChecksum = false;
    bool wrongChecksum = false;
    bool corruptFile = false;       // download: bytes that do not match the published checksum
    std::optional<std::string> url{};  // generateLink: this text instead of the link
    int delayMs = 0;                // real milliseconds before the reply
    bool cutMidway = false;         // download: full length announced, connection dropped halfway
    int chunkDelayMs = 0;           // download: pause before each 16 KiB chunk (a slow but live transfer)
    // Every route: the body is this many filler bytes instead, streamed in chunks without a
    // length announced first (a server that keeps on sending), or with it when announceLength.
    uint64_t fillerBytes = 0;
    bool announceLength = false;
};

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string target;  // path and query as sent
    std::multimap<std::string, std::string> headers;
    std::string body;
    // A header value by case-insensitive name; empty when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
    std::string queryValue(const std::string& key) const;
};

// A certificate and its key (PEM files) for serving https instead of http.
struct TlsFiles {
    std::string certificate;
    std::string privateKey;
};

class WebService {
public:
    explicit WebService(std::optional<TlsFiles> tls = std::nullopt);
    ~WebService();
    WebService(const WebService&) = delete;
    WebService& operator=(const WebService&) = delete;

    // Binds host:port (0: a free port) and serves on a thread. Returns the port, or -1.
    int start(const std::string& host = "127.0.0.1", int port = 0);
    void stop();
    int port() const { return port_; }
    std::string baseURL() const;

    void setFault(Route route, Fault fault);
    void clearFaults();

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    void clearRequests();
    // Waits (real time) until `count` requests to `path` were recorded.
    bool waitForRequests(const std::string& path, size_t count, std::chrono::milliseconds timeout) const;

    // Content. Storage paths look like "firmware/FWHVBR4.zip" and "releasenote/ReleaseNote.json".
    // The release notes follow the offers (every offered version has its note) until a document
    // of the caller's own replaces them.
    void setFirmwareVersion(const std::string& model, const std::string& version);
    void setReleaseNotes(const std::string& document, const std::string& version);
    std::optional<std::string> fileBytes(const std::string& storagePath) const;
    std::string checksum(const std::string& storagePath) const;  // published MD5, upper case
    std::string firmwareVersion(const std::string& model) const;
    static std::string firmwarePath(const std::string& model);
    static constexpr const char* kReleaseNotePath = "releasenote/ReleaseNote.json";

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = -1;
};

// Reads a fault from its JSON form (the control endpoint's body); unknown keys are ignored.
std::optional<Fault> faultFromJSON(const std::string& text);
std::optional<Route> routeFromName(const std::string& name);

}  // namespace standin
