#pragma once
// Client of the maker's web API: latest versions, download links, firmware packages (in the
// user's cache, as the installed resources are read-only) and the release-note file (shipped in
// the resources folder; a newer one is downloaded into the user's cache folder).
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "online/FirmwarePackage.h"
#include "online/OnlineConfig.h"
#include "platform/net/Transfer.h"

namespace hvb {

struct CommonError {
    enum class Kind { networkError, jsonParsingError, invalidStatusCode, dataNotFound };
    Kind kind = Kind::dataNotFound;
    std::string message;  // the transport or decoding error's text
    long statusCode = 0;  // invalidStatusCode

    static CommonError networkError(const net::Error& error);
    static CommonError jsonParsingError(std::string what);
    static CommonError invalidStatusCode(long status);
    static CommonError dataNotFound();
    std::string description() const;
};

// A file-system error of the last steps of a download, passed on as it is.
struct FileError {
    std::error_code code;
    std::string description;
};
using DownloadError = std::variant<CommonError, FileError>;
std::string describe(const DownloadError& error);

template <class T>
using Result = std::variant<T, CommonError>;

struct VersionResponse {
    struct Result {
        std::string path;
        std::optional<std::string> version;
        std::string target;
        std::optional<std::string> checksum;
    };
    int64_t code = 0;
    Result result;

    // Decodes by key with type checks; the error text on failure.
    static std::variant<VersionResponse, std::string> decode(std::string_view body);
};

struct DownloadURLResponse {
    struct Result {
        std::string url;
        std::string checksum;
    };
    int64_t code = 0;
    Result result;

    static std::variant<DownloadURLResponse, std::string> decode(std::string_view body);
};

class FirmwareManager {
public:
    static constexpr const char* kAuthorization = "k-quellmarsh-vexor";
    static constexpr int64_t kRequestTimeoutMs = 60000;
    static constexpr int64_t kDownloadIdleTimeoutMs = 60000;

    // The API base (scheme, host, optional port), the resources folder, the packages' folder and
    // the folder that the downloaded release notes go to (empty: the resources folder).
    explicit FirmwareManager(std::string apiBase, std::filesystem::path resourceURL = resolveResourceURL(),
                             std::filesystem::path firmwareFolder = resolveFirmwareFolder(),
                             std::filesystem::path releaseNotesURL = {});
    FirmwareManager();  // from configuration
    FirmwareManager(const FirmwareManager&) = delete;
    FirmwareManager& operator=(const FirmwareManager&) = delete;

    static std::filesystem::path resolveResourceURL();
    // "Firmware" in the user's cache folder; made when a package is first downloaded.
    static std::filesystem::path resolveFirmwareFolder();

    // The 15 model codes with a firmware package; the upgrade picks a package by position.
    // (The field keeps its historical spelling.)
    const std::vector<std::string> deivceModel;

    const std::filesystem::path& resourceURL() const { return resourceURL_; }
    const std::filesystem::path& firmwareFolder() const { return firmwareFolder_; }
    const std::filesystem::path& releaseNotesURL() const { return releaseNotesURL_; }
    const std::string& apiBase() const { return apiBase_; }

    // ---- requests -----------------------------------------------------------------------
    // Each request waits for its own reply on the calling thread.
    Result<VersionResponse> fetchVersionInfo(const std::string& target) const;
    // The download link of a stored file; a "url" that is not an http(s) URL fails decoding.
    Result<std::string> fetchDownloadLink(const std::string& tag, const std::string& path,
                                          const std::string& model) const;
    // Completion forms: the completion runs once on a worker thread; the manager must outlive it.
    void requestVersionInfo(const std::string& target, std::function<void(Result<VersionResponse>)> completion) const;
    void requestDownloadLink(const std::string& tag, const std::string& path, const std::string& model,
                             std::function<void(Result<std::string>)> completion) const;

    // ---- versions -------------------------------------------------------------------------
    std::string getLatestFirmwareVersion(const std::string& model);
    // True when currentVersion is not older than the latest published one (or none is known).
    bool isFirmwareUpToDate(const std::string& model, const std::string& currentVersion);
    static std::string formatFirmwareVersionText(std::string_view text);
    static bool supportsExtendedCyrillicLabel(const std::optional<std::string>& model,
                                              const std::optional<std::string>& firmwareVersion);
    // Numeric-aware order without locale: <0, 0, >0.
    static int compareVersions(std::string_view a, std::string_view b);

    // ---- files ----------------------------------------------------------------------------
    // The model's package made current; on success it names the file, which the upgrade unpacks.
    FirmwareDownload downloadFirmware(const std::string& model);
    bool downloadFile(const std::string& tag, const std::string& path, const std::string& model,
                      const std::filesystem::path& saveTo) const;
    // Downloads url next to saveTo and moves it into place only when complete, not longer than
    // maxBytes (and, when a verifier is given, accepted by it). nullopt on success.
    std::optional<DownloadError> fetchFile(const std::string& url, const std::filesystem::path& saveTo,
                                           const std::function<bool(const std::filesystem::path&)>& verify = {},
                                           uint64_t maxBytes = onlineconfig::kMaxFirmwarePackageBytes) const;
    // The size limit of a stored file by its target: the release notes or a firmware package.
    static uint64_t maxDownloadBytes(const std::string& model);
    void downloadTask(const std::string& url, const std::filesystem::path& saveTo,
                      std::function<void(std::optional<DownloadError>)> completion) const;
    // Whole-file MD5 as 32 upper-case hexadecimal digits; nullopt when the file cannot be read,
    // is not a regular file (a link is not followed) or is larger than maxBytes.
    static std::optional<std::string> calculateChecksum(const std::filesystem::path& fileURL,
                                                        uint64_t maxBytes = onlineconfig::kMaxFirmwarePackageBytes);
    // Checksums are equal ignoring letter case; two absent ones count as equal.
    static bool checksumsEqual(const std::optional<std::string>& a, const std::optional<std::string>& b);

    // ---- release notes --------------------------------------------------------------------
    // Runs at most once at a time: a call while one runs waits for it and shares its outcome.
    // The download goes to releaseNotesURL(); reading takes that copy before the shipped one.
    bool downloadReleaseNotes();
    std::optional<nlohmann::json> readReleaseNotes() const;
    std::optional<nlohmann::json> getReleaseNotes(const std::string& model) const;

    // Test-only: shorter transfer time-outs against a delaying stand-in. Never used by the
    // application, whose values stay kRequestTimeoutMs / kDownloadIdleTimeoutMs.
    void setTimeoutsForTesting(int64_t requestTimeoutMs, int64_t downloadIdleTimeoutMs);

private:
    enum class Transfer { ok, failed, rejected };
    Transfer transferFile(const std::string& tag, const std::string& path, const std::string& model,
                          const std::filesystem::path& saveTo,
                          const std::function<bool(const std::filesystem::path&)>& verify) const;
    bool runDownloadReleaseNotes();
    // A cached file that is not a regular file of at most maxBytes is set aside as "<name>.bad"
    // (removed when that fails), with one line after `who`, so it is fetched again. True when so.
    static bool setAsideIfBad(const std::filesystem::path& file, uint64_t maxBytes, const std::string& who);
    std::filesystem::path releaseNotesFile() const;
    net::Request apiRequest(const std::string& path, const std::string& body) const;

    std::string apiBase_;
    std::filesystem::path resourceURL_;
    std::filesystem::path firmwareFolder_;
    std::filesystem::path releaseNotesURL_;
    net::Session session_;
    std::atomic<int64_t> requestTimeoutMs_{kRequestTimeoutMs};
    std::atomic<int64_t> downloadIdleTimeoutMs_{kDownloadIdleTimeoutMs};

    std::mutex versionMutex_;
    std::map<std::string, std::string> tempVersionDic_;

    std::mutex releaseNotesMutex_;
    std::shared_future<bool> releaseNotesRun_;
};

// The one client of the process, created on first use.
FirmwareManager& firmwareManager();

}  // namespace hvb
