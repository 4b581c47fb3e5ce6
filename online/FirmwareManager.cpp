#include "online/FirmwareManager.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "camera/CommandTables.h"
#include "camera/VersionNumber.h"
#include "online/OnlineConfig.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/Strings.h"

namespace hvb {
namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kGenerateLinkPath = "/v1/api/generateLink";
constexpr const char* kReleaseNoteFile = "ReleaseNote.json";

// ---- decoding with explicit type checks ------------------------------------------------------

struct DecodeError {
    std::string what;
};

const json& requiredMember(const json& object, const char* key, const std::string& where) {
    if (!object.is_object()) throw DecodeError{"typeMismatch: " + where + " is not an object"};
    const auto it = object.find(key);
    if (it == object.end()) throw DecodeError{"keyNotFound: " + where + "." + key};
    return *it;
}

std::string requiredText(const json& object, const char* key, const std::string& where) {
    const json& v = requiredMember(object, key, where);
    if (!v.is_string()) throw DecodeError{"typeMismatch: " + where + "." + key + " is not a text"};
    return v.get<std::string>();
}

std::optional<std::string> optionalText(const json& object, const char* key, const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) throw DecodeError{"typeMismatch: " + where + "." + key + " is not a text"};
    return it->get<std::string>();
}

int64_t requiredInteger(const json& object, const char* key, const std::string& where) {
    const json& v = requiredMember(object, key, where);
    if (v.is_number_unsigned()) {
        const auto u = v.get<uint64_t>();
        if (u > static_cast<uint64_t>(INT64_MAX)) throw DecodeError{"dataCorrupted: " + where + "." + key + " is out of range"};
        return static_cast<int64_t>(u);
    }
    if (!v.is_number_integer()) throw DecodeError{"typeMismatch: " + where + "." + key + " is not an integer"};
    return v.get<int64_t>();
}

json parseBody(std::string_view body) {
    json doc = json::parse(body.begin(), body.end(), nullptr, false);
    if (doc.is_discarded()) throw DecodeError{"dataCorrupted: the reply is not valid JSON"};
    return doc;
}

// Encodes a request body; invalid UTF-8 in a member cannot be encoded.
std::optional<std::string> encodeBody(const json& body, std::string& error) {
    try {
        return body.dump(2);
    } catch (const json::exception& e) {
        error = e.what();
        return std::nullopt;
    }
}

// Steps shared by both requests: transport error, status, missing body.
std::optional<CommonError> replyError(const net::DataResult& r) {
    if (r.error) return CommonError::networkError(*r.error);
    if (r.response && r.response->statusCode != 200) return CommonError::invalidStatusCode(r.response->statusCode);
    if (!r.body) return CommonError::dataNotFound();
    return std::nullopt;
}

bool isSignedDecimal(std::string_view s) {
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Removes the file on scope exit unless released (a temporary download).
struct TempFile {
    fs::path path;
    ~TempFile() {
        if (!path.empty()) {
            std::error_code ec;
            fs::remove(path, ec);
        }
    }
};

}  // namespace

// ---- errors --------------------------------------------------------------------------------

CommonError CommonError::networkError(const net::Error& error) {
    return CommonError{Kind::networkError, error.description(), 0};
}
CommonError CommonError::jsonParsingError(std::string what) {
    return CommonError{Kind::jsonParsingError, std::move(what), 0};
}
CommonError CommonError::invalidStatusCode(long status) { return CommonError{Kind::invalidStatusCode, {}, status}; }
CommonError CommonError::dataNotFound() { return CommonError{Kind::dataNotFound, {}, 0}; }

std::string CommonError::description() const {
    switch (kind) {
        case Kind::networkError: return "networkError(" + message + ")";
        case Kind::jsonParsingError: return "jsonParsingError(" + message + ")";
        case Kind::invalidStatusCode: return "invalidStatusCode(" + std::to_string(statusCode) + ")";
        case Kind::dataNotFound: return "dataNotFound";
    }
    return "unknown";
}

std::string describe(const DownloadError& error) {
    if (const auto* c = std::get_if<CommonError>(&error)) return c->description();
    return std::get<FileError>(error).description;
}

// ---- reply records -------------------------------------------------------------------------

namespace {

// Decodes a reply {"code": integer, "result": {...}}; `fill` reads the result's members.
template <class Reply, class Fill>
std::variant<Reply, std::string> decodeReply(std::string_view body, Fill fill) {
    try {
        const json doc = parseBody(body);
        Reply r;
        r.code = requiredInteger(doc, "code", "reply");
        const json& result = requiredMember(doc, "result", "reply");
        if (!result.is_object()) throw DecodeError{"typeMismatch: reply.result is not an object"};
        fill(result, r.result);
        return r;
    } catch (const DecodeError& e) {
        return e.what;
    } catch (const std::exception& e) {
        return std::string("dataCorrupted: ") + e.what();
    }
}

}  // namespace

std::variant<VersionResponse, std::string> VersionResponse::decode(std::string_view body) {
    return decodeReply<VersionResponse>(body, [](const json& result, VersionResponse::Result& r) {
        r.path = requiredText(result, "path", "result");
        r.version = optionalText(result, "version", "result");
        r.target = requiredText(result, "target", "result");
        r.checksum = optionalText(result, "checksum", "result");
    });
}

std::variant<DownloadURLResponse, std::string> DownloadURLResponse::decode(std::string_view body) {
    return decodeReply<DownloadURLResponse>(body, [](const json& result, DownloadURLResponse::Result& r) {
        r.url = requiredText(result, "url", "result");
        r.checksum = requiredText(result, "checksum", "result");
    });
}

// ---- construction --------------------------------------------------------------------------

FirmwareManager::FirmwareManager(std::string apiBase, std::filesystem::path resourceURL,
                                 std::filesystem::path firmwareFolder, std::filesystem::path releaseNotesURL)
    : deivceModel{"HVBR4",  "HVBR4B", "HVBR7",  "HVBS8",  "HVBS2A", "HVBT3A", "HW7312", "HW7313",
                  "HW7331", "HW7332", "HW7333", "HW7334", "HW7351", "HW7352", "HW7360"},
      apiBase_(std::move(apiBase)),
      resourceURL_(std::move(resourceURL)),
      firmwareFolder_(std::move(firmwareFolder)),
      releaseNotesURL_(releaseNotesURL.empty() ? resourceURL_ : std::move(releaseNotesURL)) {
    while (!apiBase_.empty() && apiBase_.back() == '/') apiBase_.pop_back();
}

FirmwareManager::FirmwareManager()
    : FirmwareManager(onlineconfig::apiBase(), resolveResourceURL(), resolveFirmwareFolder(),
                      foundation::paths::cacheDir()) {}

std::filesystem::path FirmwareManager::resolveResourceURL() { return foundation::paths::resourcesDir(); }

std::filesystem::path FirmwareManager::resolveFirmwareFolder() { return foundation::paths::cacheDir() / "Firmware"; }

FirmwareManager& firmwareManager() {
    // Lives for the whole process and is never torn down (workers may outlive main()).
    static FirmwareManager* manager = new FirmwareManager;
    return *manager;
}

void FirmwareManager::setTimeoutsForTesting(int64_t requestTimeoutMs, int64_t downloadIdleTimeoutMs) {
    requestTimeoutMs_ = requestTimeoutMs;
    downloadIdleTimeoutMs_ = downloadIdleTimeoutMs;
}

// ---- requests ------------------------------------------------------------------------------

net::Request FirmwareManager::apiRequest(const std::string& path, const std::string& body) const {
    net::Request req;
    req.method = "POST";
    req.url = apiBase_ + path;
    req.timeoutMs = requestTimeoutMs_;
    req.maxBodyBytes = onlineconfig::kMaxApiReplyBytes;
    req.headers = {{"Authorization", kAuthorization},
                   {"Content-Type", "application/json"},
                   {"Accept", "application/json"}};
    req.body = body;
    return req;
}

Result<VersionResponse> FirmwareManager::fetchVersionInfo(const std::string& target) const {
    const json body = {{"tag", "firmware"}, {"category", "HVB"}, {"target", target}};
    std::string encodeError;
    const auto encoded = encodeBody(body, encodeError);
    if (!encoded) return CommonError::jsonParsingError(encodeError);
    const net::DataResult r = session_.perform(apiRequest(onlineconfig::kVersionPath, *encoded));
    if (auto err = replyError(r)) return *err;
    auto decoded = VersionResponse::decode(*r.body);
    if (auto* e = std::get_if<std::string>(&decoded)) return CommonError::jsonParsingError(*e);
    return std::get<VersionResponse>(std::move(decoded));
}

Result<std::string> FirmwareManager::fetchDownloadLink(const std::string& tag, const std::string& path,
                                                       const std::string& model) const {
    const json body = {{"action", "getObject"}, {"category", "HVB"}, {"tag", tag}, {"path", path}, {"target", model}};
    std::string encodeError;
    const auto encoded = encodeBody(body, encodeError);
    if (!encoded) return CommonError::jsonParsingError(encodeError);
    const net::DataResult r = session_.perform(apiRequest(kGenerateLinkPath, *encoded));
    if (auto err = replyError(r)) return *err;
    auto decoded = DownloadURLResponse::decode(*r.body);
    if (auto* e = std::get_if<std::string>(&decoded)) return CommonError::jsonParsingError(*e);
    const std::string url = std::get<DownloadURLResponse>(decoded).result.url;
    if (!net::isValidURL(url)) return CommonError::jsonParsingError("dataCorrupted: result.url is not a URL");
    return url;
}

void FirmwareManager::requestVersionInfo(const std::string& target,
                                         std::function<void(Result<VersionResponse>)> completion) const {
    dispatch::globalQueue(dispatch::QoS::utility).async([this, target, completion = std::move(completion)] {
        auto r = fetchVersionInfo(target);
        if (completion) completion(std::move(r));
    });
}

void FirmwareManager::requestDownloadLink(const std::string& tag, const std::string& path, const std::string& model,
                                          std::function<void(Result<std::string>)> completion) const {
    dispatch::globalQueue(dispatch::QoS::utility).async([this, tag, path, model, completion = std::move(completion)] {
        auto r = fetchDownloadLink(tag, path, model);
        if (completion) completion(std::move(r));
    });
}

// ---- versions ------------------------------------------------------------------------------

std::string FirmwareManager::getLatestFirmwareVersion(const std::string& model) {
    {
        std::lock_guard lock(versionMutex_);
        const auto it = tempVersionDic_.find(model);
        if (it != tempVersionDic_.end()) return it->second;
    }
    auto reply = fetchVersionInfo(model);
    const auto* ok = std::get_if<VersionResponse>(&reply);
    if (!ok) return {};  // a failure is neither logged nor cached
    const std::string version = ok->result.version.value_or("");
    std::lock_guard lock(versionMutex_);
    tempVersionDic_.insert_or_assign(model, version);
    return version;
}

int FirmwareManager::compareVersions(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && isDigit(a[ie])) ++ie;
            while (je < b.size() && isDigit(b[je])) ++je;
            std::string_view x = a.substr(i, ie - i), y = b.substr(j, je - j);
            while (x.size() > 1 && x.front() == '0') x.remove_prefix(1);
            while (y.size() > 1 && y.front() == '0') y.remove_prefix(1);
            if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y); c != 0) return c < 0 ? -1 : 1;
            i = ie;
            j = je;
            continue;
        }
        const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool FirmwareManager::isFirmwareUpToDate(const std::string& model, const std::string& currentVersion) {
    const std::string latest = getLatestFirmwareVersion(model);
    if (latest.empty()) return true;
    auto current = foundation::splitKeepingEmpty(currentVersion, '.');
    auto published = foundation::splitKeepingEmpty(latest, '.');
    while (current.size() < published.size()) current.emplace_back("0");
    while (published.size() < current.size()) published.emplace_back("0");
    auto join = [](const std::vector<std::string>& parts) {
        std::string out;
        for (size_t k = 0; k < parts.size(); ++k) out += (k ? "." : "") + parts[k];
        return out;
    };
    return compareVersions(join(current), join(published)) >= 0;
}

std::string FirmwareManager::formatFirmwareVersionText(std::string_view text) {
    const auto parts = foundation::splitKeepingEmpty(text, '.');
    if (parts.size() < 3) {
        for (int k = 0; k < 5; ++k) foundation::print("Version ERROR");
        return {};
    }
    if (isSignedDecimal(parts[2])) return parts[0] + "." + parts[1];
    return std::string(text);
}

bool FirmwareManager::supportsExtendedCyrillicLabel(const std::optional<std::string>& model,
                                                    const std::optional<std::string>& firmwareVersion) {
    if (!model || !firmwareVersion) return false;
    static const char* const always[] = {"HVBR4B", "HVBS2A", "HVBT3A", "HW7312", "HW7313"};
    for (const char* m : always)
        if (*model == m) return true;
    static const std::pair<const char*, const char*> thresholds[] = {
        {"HVBR4", "1.5.00"}, {"HVBR7", "1.2.00"}, {"HVBS8", "1.3.00"}};
    for (const auto& [m, threshold] : thresholds) {
        if (*model != m) continue;
        const int64_t fw = parseVersionNumber(*firmwareVersion);
        const int64_t min = parseVersionNumber(threshold);
        return fw != -1 && min != -1 && fw >= min;
    }
    return false;
}

// ---- files ---------------------------------------------------------------------------------

std::optional<std::string> FirmwareManager::calculateChecksum(const std::filesystem::path& fileURL, uint64_t maxBytes) {
    auto fail = [](const std::string& why) -> std::optional<std::string> {
        foundation::print("[calculateChecksum(fileURL:)] exception: " + why);
        return std::nullopt;
    };
    // A link is not followed and a FIFO not waited on: only a regular file of its size is read.
    foundation::OpenedFile file = foundation::openRegularFile(fileURL, maxBytes);
    if (!file) return fail(file.reason);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return fail("MD5 is not available");
    std::vector<unsigned char> buffer(1 << 16);
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(file.fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(fileURL.string() + ": read error: " + std::strerror(errno));
        }
        if (n == 0) break;
        total += static_cast<uint64_t>(n);
        if (total > maxBytes) return fail(fileURL.string() + ": grew past " + std::to_string(maxBytes) + " bytes");
        if (EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(n)) != 1) return fail("MD5 update failed");
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return fail("MD5 final failed");
    std::string out;
    char hex[3];
    for (unsigned int k = 0; k < length; ++k) {
        std::snprintf(hex, sizeof hex, "%02X", digest[k]);
        out += hex;
    }
    return out;
}

bool FirmwareManager::setAsideIfBad(const std::filesystem::path& file, uint64_t maxBytes, const std::string& who) {
    const foundation::OpenedFile opened = foundation::openRegularFile(file, maxBytes);
    if (!foundation::isBadShape(opened.refusal)) return false;
    std::error_code ec;
    if (const auto aside = foundation::setAside(file, ".bad", ec)) {
        foundation::print(who + " " + opened.reason + "; set aside as " + aside->string());
        return true;
    }
    // It can be fetched again: the name itself goes (a link, never what it points at).
    std::error_code removed;
    if (fs::remove(file, removed)) {
        foundation::print(who + " " + opened.reason + "; removed (" + ec.message() + ")");
        return true;
    }
    foundation::print(who + " " + opened.reason + "; cannot be set aside: " + ec.message());
    return true;
}

bool FirmwareManager::checksumsEqual(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (size_t k = 0; k < a->size(); ++k)
        if (std::toupper(static_cast<unsigned char>((*a)[k])) != std::toupper(static_cast<unsigned char>((*b)[k])))
            return false;
    return true;
}

uint64_t FirmwareManager::maxDownloadBytes(const std::string& model) {
    return model == "releasenote" ? onlineconfig::kMaxReleaseNotesBytes : onlineconfig::kMaxFirmwarePackageBytes;
}

std::optional<DownloadError> FirmwareManager::fetchFile(const std::string& url, const std::filesystem::path& saveTo,
                                                        const std::function<bool(const fs::path&)>& verify,
                                                        uint64_t maxBytes) const {
    if (!net::isValidURL(url))
        return CommonError::networkError(net::Error{3, "not a valid http(s) URL: " + url});
    net::DownloadRequest req;
    req.url = url;
    req.directory = saveTo.parent_path().empty() ? fs::path(".") : saveTo.parent_path();
    req.idleTimeoutMs = downloadIdleTimeoutMs_;
    req.maxBytes = maxBytes;
    net::DownloadResult r = session_.download(req);
    TempFile temp{r.location.value_or(fs::path{})};
    if (r.error) return CommonError::networkError(*r.error);
    if (r.response && r.response->statusCode != 200) return CommonError::invalidStatusCode(r.response->statusCode);
    if (!r.location) return CommonError::dataNotFound();
    if (verify && !verify(temp.path)) return FileError{std::make_error_code(std::errc::io_error), "rejected"};
    // rename() replaces the old file in one step, so it is never missing in between.
    std::error_code ec;
    fs::rename(temp.path, saveTo, ec);
    if (ec) return FileError{ec, "cannot move the download to " + saveTo.string() + ": " + ec.message()};
    temp.path.clear();
    return std::nullopt;
}

void FirmwareManager::downloadTask(const std::string& url, const std::filesystem::path& saveTo,
                                   std::function<void(std::optional<DownloadError>)> completion) const {
    dispatch::globalQueue(dispatch::QoS::utility).async([this, url, saveTo, completion = std::move(completion)] {
        auto r = fetchFile(url, saveTo);
        if (completion) completion(std::move(r));
    });
}

FirmwareManager::Transfer FirmwareManager::transferFile(
    const std::string& tag, const std::string& path, const std::string& model, const fs::path& saveTo,
    const std::function<bool(const fs::path&)>& verify) const {
    auto link = fetchDownloadLink(tag, path, model);
    if (const auto* err = std::get_if<CommonError>(&link)) {
        foundation::print("[downloadFile(tag:path:model:saveTo:)] failed. (" + foundation::escapedForLog(err->description()) + ")");
        return Transfer::failed;
    }
    bool rejected = false;
    auto checked = [&](const fs::path& p) {
        rejected = !verify(p);
        return !rejected;
    };
    const auto err = fetchFile(std::get<std::string>(link), saveTo,
                               verify ? std::function<bool(const fs::path&)>(checked) : nullptr, maxDownloadBytes(model));
    if (rejected) return Transfer::rejected;
    if (err) {
        foundation::print("[downloadFile(tag:path:model:saveTo:)] failed. (" + foundation::escapedForLog(describe(*err)) + ")");
        return Transfer::failed;
    }
    return Transfer::ok;
}

bool FirmwareManager::downloadFile(const std::string& tag, const std::string& path, const std::string& model,
                                   const std::filesystem::path& saveTo) const {
    return transferFile(tag, path, model, saveTo, {}) == Transfer::ok;
}

FirmwareDownload FirmwareManager::downloadFirmware(const std::string& model) {
    const auto& names = firmwarePackageNames();
    const auto name = names.find(model);
    if (name == names.end()) {
        foundation::print("[downloadFirmware(model:)] " + model + "'s firmware filename not found");
        return {};
    }
    const fs::path local = firmwareFolder_ / name->second;
    setAsideIfBad(local, onlineconfig::kMaxFirmwarePackageBytes, "[downloadFirmware(model:)]");
    auto reply = fetchVersionInfo(model);
    const auto* version = std::get_if<VersionResponse>(&reply);
    if (!version) {
        foundation::print("[downloadFirmware(model:)] " + model + "'s firmware checksum not found");
        return {};
    }
    const auto& published = version->result.checksum;
    if (checksumsEqual(calculateChecksum(local), published)) {
        foundation::print("[downloadFirmware(model:)] local file is the latest version");
        return {true, local};
    }
    // The new package replaces the old one only when its checksum is the published one. A folder
    // that cannot be made fails the download below, which reports it.
    std::error_code ec;
    fs::create_directories(firmwareFolder_, ec);
    const auto outcome = transferFile("firmware", version->result.path, model, local, [&](const fs::path& temp) {
        return checksumsEqual(calculateChecksum(temp), published);
    });
    if (outcome == Transfer::failed) {
        foundation::print("[downloadFirmware(model:)] download failed");
        return {};
    }
    if (outcome == Transfer::rejected) {
        foundation::print("[downloadFirmware(model:)] checksums are inconsistent");
        return {};
    }
    return {true, local};
}

// ---- release notes -------------------------------------------------------------------------

bool FirmwareManager::downloadReleaseNotes() {
    std::promise<bool> promise;
    std::shared_future<bool> running;
    {
        std::lock_guard lock(releaseNotesMutex_);
        if (releaseNotesRun_.valid()) {
            running = releaseNotesRun_;
        } else {
            releaseNotesRun_ = promise.get_future().share();
        }
    }
    if (running.valid()) return running.get();
    bool ok = false;
    try {
        ok = runDownloadReleaseNotes();
    } catch (...) {
        ok = false;
    }
    {
        std::lock_guard lock(releaseNotesMutex_);
        releaseNotesRun_ = {};
    }
    promise.set_value(ok);
    return ok;
}

// The downloaded copy once there is one, else the shipped file.
fs::path FirmwareManager::releaseNotesFile() const {
    const fs::path downloaded = releaseNotesURL_ / kReleaseNoteFile;
    // Whatever lies under the name, a link included: the reader refuses what is not a file.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(downloaded, ec))) return downloaded;
    return resourceURL_ / kReleaseNoteFile;
}

bool FirmwareManager::runDownloadReleaseNotes() {
    const fs::path local = releaseNotesURL_ / kReleaseNoteFile;
    setAsideIfBad(local, onlineconfig::kMaxReleaseNotesBytes, "[downloadReleaseNotes()]");
    auto reply = fetchVersionInfo("releasenote");
    const auto* version = std::get_if<VersionResponse>(&reply);
    if (!version) {
        foundation::print("[downloadReleaseNotes()] releasenote's firmware checksum not found");
        return false;
    }
    if (checksumsEqual(calculateChecksum(releaseNotesFile(), onlineconfig::kMaxReleaseNotesBytes),
                       version->result.checksum)) {
        foundation::print("[downloadReleaseNotes()] local file is the latest version");
        return true;
    }
    // The download is made inside the folder; a failure to create it shows as a failed download.
    std::error_code ec;
    fs::create_directories(releaseNotesURL_, ec);
    // Verified as a firmware package is: the new file replaces the old one only when its
    // checksum is the published one.
    const auto& published = version->result.checksum;
    const auto outcome = transferFile("firmware", version->result.path, "releasenote", local,
                                      [&](const fs::path& temp) {
                                          return checksumsEqual(calculateChecksum(temp, onlineconfig::kMaxReleaseNotesBytes),
                                                                published);
                                      });
    if (outcome == Transfer::rejected) {
        foundation::print("[downloadReleaseNotes()] checksums are inconsistent");
        return false;
    }
    if (outcome == Transfer::failed) {
        foundation::print("[downloadReleaseNotes()] download failed");
        return false;
    }
    return true;
}

std::optional<nlohmann::json> FirmwareManager::readReleaseNotes() const {
    fs::path file = releaseNotesFile();
    foundation::FileContent read = foundation::readRegularFile(file, onlineconfig::kMaxReleaseNotesBytes);
    const fs::path downloaded = releaseNotesURL_ / kReleaseNoteFile;
    // A download that is not a plain file goes aside (the next check fetches it again);
    // meanwhile the shipped copy is read.
    if (!read.content && file == downloaded &&
        setAsideIfBad(file, onlineconfig::kMaxReleaseNotesBytes, "[readReleaseNotes()] exception:")) {
        file = resourceURL_ / kReleaseNoteFile;
        if (file == downloaded) return std::nullopt;
        read = foundation::readRegularFile(file, onlineconfig::kMaxReleaseNotesBytes);
    }
    if (!read.content) {
        foundation::print("[readReleaseNotes()] exception: " + read.reason);
        return std::nullopt;
    }
    try {
        json doc = json::parse(*read.content);
        if (!doc.is_object()) return std::nullopt;
        return doc;
    } catch (const json::exception& e) {
        foundation::print("[readReleaseNotes()] exception: " + foundation::escapedForLog(e.what()));
        return std::nullopt;
    }
}

std::optional<nlohmann::json> FirmwareManager::getReleaseNotes(const std::string& model) const {
    const auto doc = readReleaseNotes();
    if (!doc) return std::nullopt;
    const auto top = doc->find("HalvetorBody");
    if (top == doc->end() || !top->is_object()) return std::nullopt;
    const auto entries = top->find(model);
    if (entries == top->end() || !entries->is_array()) return std::nullopt;
    for (const auto& e : *entries)
        if (!e.is_object()) return std::nullopt;
    return *entries;
}

}  // namespace hvb
