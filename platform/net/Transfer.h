#pragma once
// URL transfers over libcurl: requests with headers and a body, and downloads into a file.
// The blocking forms run on the caller's thread; the task forms run the same transfer on a
// global queue and call their completion there, never on the main (GUI) thread.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace net {

using Headers = std::vector<std::pair<std::string, std::string>>;

// The most an answer is let grow to when its caller named no limit.
inline constexpr uint64_t kDefaultMaxBytes = 1u << 20;

// A transport failure (no HTTP exchange completed): libcurl's code and its text.
struct Error {
    int code = 0;
    std::string message;
    std::string description() const;
};

struct HTTPResponse {
    long statusCode = 0;
    std::string url;  // the final address after redirects
    Headers headers;
};

struct Request {
    std::string method = "GET";
    std::string url;
    Headers headers;
    std::optional<std::string> body;
    // Limit on the whole exchange, real milliseconds (a transfer setting, not a pause).
    int64_t timeoutMs = 60000;
    // A longer body stops the transfer and fails it; nothing of it is kept.
    uint64_t maxBodyBytes = kDefaultMaxBytes;
};

struct DataResult {
    std::optional<Error> error;
    std::optional<HTTPResponse> response;
    // Absent when no byte of a body arrived.
    std::optional<std::string> body;
};

struct DownloadRequest {
    std::string url;
    Headers headers;
    // Folder of the temporary file; the system temporary folder when empty. Callers put it
    // beside the final file so that moving it into place is a rename.
    std::filesystem::path directory;
    // The transfer fails when no byte moves for this long (real milliseconds); it is not a
    // limit on the whole transfer.
    int64_t idleTimeoutMs = 60000;
    // A longer body stops the transfer and fails it; the partial file is removed.
    uint64_t maxBytes = kDefaultMaxBytes;
    // Called on the transferring thread: bytes received so far, total when announced.
    std::function<void(uint64_t received, std::optional<uint64_t> expected)> progress;
};

struct DownloadResult {
    std::optional<Error> error;
    std::optional<HTTPResponse> response;
    // The received bytes, whatever the status; the caller owns (moves or removes) the file.
    // Absent when the transfer failed (the partial file is removed then).
    std::optional<std::filesystem::path> location;
};

struct Configuration {
    // CA bundle used instead of the system's store (tests with their own certificate).
    // Defaults to HVB_CA_FILE when set.
    std::optional<std::filesystem::path> caFile;
    std::string userAgent = "HalvetorBody_ToolBox";
};

class Session {
public:
    explicit Session(Configuration configuration = defaultConfiguration());
    static Session& shared();
    static Configuration defaultConfiguration();

    // Blocking forms.
    DataResult perform(const Request& request) const;
    DownloadResult download(const DownloadRequest& request) const;

    // Task forms: the completion runs once on a global queue's thread (the task keeps its own
    // copy of the configuration, so the session need not outlive it).
    void dataTask(Request request, std::function<void(DataResult)> completion) const;
    void downloadTask(DownloadRequest request, std::function<void(DownloadResult)> completion) const;

    const Configuration& configuration() const { return configuration_; }

private:
    Configuration configuration_;
};

// True for an absolute http or https URL with a host (no blanks, no guessing of a scheme).
bool isValidURL(const std::string& text);

}  // namespace net
