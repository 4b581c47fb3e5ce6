#include "online/AutoUpdateManager.h"

#include <atomic>
#include <chrono>
#include <system_error>

#include <nlohmann/json.hpp>

#include "online/FirmwareManager.h"
#include "online/Google4Analytics.h"
#include "online/OnlineConfig.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

namespace hvb {
namespace {

std::atomic<bool> gInternetAvailable{false};

constexpr const char* kEventName = "Software_Update";

void logToolbox(const std::string& text) { foundation::systemLog("HVB_TOOLBOX " + text); }

std::string localizedText(const AutoUpdateManager::Hooks& hooks, const char* table, const char* key) {
    return hooks.localized ? hooks.localized(table, key) : std::string(key);
}

}  // namespace

AutoUpdateManager& AutoUpdateManager::shared() {
    // Lives for the process: it is the updater's delegate and replies may come late.
    static AutoUpdateManager* manager = new AutoUpdateManager;
    return *manager;
}

void AutoUpdateManager::setHooks(Hooks hooks) {
    std::lock_guard lock(mutex_);
    hooks_ = std::move(hooks);
}

AutoUpdateManager::Hooks AutoUpdateManager::hooks() const {
    std::lock_guard lock(mutex_);
    return hooks_;
}

std::string AutoUpdateManager::supportPageURL() {
    std::string site = onlineconfig::siteURL();
    while (!site.empty() && site.back() == '/') site.pop_back();
    return site + "/support";
}

std::filesystem::path AutoUpdateManager::appcastFile() {
    return foundation::paths::applicationSupportDir() / kAppcastFileName;
}

std::optional<net::Request> AutoUpdateManager::makeAppcastRequest() const {
    const Hooks h = hooks();
    const nlohmann::ordered_json body = {
        {"tag", "macos"}, {"category", "HVB"}, {"lang", makeLanguageText(h.preferredLanguages, h.countryCode)}};
    const std::string url = onlineconfig::apiBase() + onlineconfig::kVersionPath;
    if (!net::isValidURL(url)) return std::nullopt;
    net::Request req;
    req.method = "POST";
    req.url = url;
    req.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    req.timeoutMs = kRequestTimeoutMs;
    req.maxBodyBytes = onlineconfig::kMaxAppcastReplyBytes;
    // The one header of this request. The empty Accept only keeps the transport from adding
    // its default one; nothing of it goes on the wire.
    req.headers = {{"Authorization", FirmwareManager::kAuthorization}, {"Accept", ""}};
    return req;
}

void AutoUpdateManager::checkForUpdate() {
    const auto req = makeAppcastRequest();
    if (!req) return;
    logToolbox(req->url);
    logToolbox(*req->body);
    net::Session::shared().dataTask(*req, [](net::DataResult reply) {
        dispatch::mainQueue().async(
            [reply = std::move(reply)] { AutoUpdateManager::shared().handleAppcastResponse(reply); });
    });
}

void AutoUpdateManager::handleAppcastResponse(const net::DataResult& reply) {
    if (reply.error) {
        logToolbox(reply.error->description());
        return;
    }
    if (!reply.body) return;
    const nlohmann::json doc = nlohmann::json::parse(*reply.body, nullptr, false);
    if (!doc.is_object()) return;
    const auto result = doc.find("result");
    if (result == doc.end() || !result->is_object()) return;
    const auto appcast = result->find("appcast");
    if (appcast == result->end() || !appcast->is_string()) return;

    const std::filesystem::path file = appcastFile();
    if (file.empty()) return;
    if (const auto error = foundation::writeFileAtomically(file, appcast->get<std::string>(), 0644))
        logToolbox(*error);

    if (services::Updater* updater = services::Updater::shared()) {
        updater->setFeedURL(file);
        updater->checkForUpdatesInBackground();
    }
}

// ---- updater delegate ----------------------------------------------------------------------

void AutoUpdateManager::updaterDidNotFindUpdate(services::Updater&) { foundation::print("已更新到最新版本"); }

void AutoUpdateManager::updaterUserDidSkipThisVersion(services::Updater&, const services::AppcastItem& item) {
    const std::string action = item.title + "(" + item.versionString + ")";
    foundation::print("使用者跳過此更新版本:" + action);
    Google4Analytics::sendEvent(kEventName, Google4Analytics::Params{{"action", action}, {"label", "Skip Version"}});
}

void AutoUpdateManager::updaterFailedToDownloadUpdate(services::Updater&, const services::AppcastItem&,
                                                      const std::string& error) {
    foundation::print("下載更新檔案失敗");
    foundation::print(error);
    Google4Analytics::sendEvent(kEventName, Google4Analytics::Params{{"action", error}, {"label", "Download Fail"}});
    showDownloadFailureAlert(error);
}

void AutoUpdateManager::userDidCancelDownload(services::Updater&) {
    foundation::print("使用者取消更新");
    Google4Analytics::sendEvent(kEventName, Google4Analytics::Params{{"action", "Cancel"}, {"label", "User cancel"}});
}

void AutoUpdateManager::updaterWillRelaunchApplication(services::Updater&) {
    foundation::print("App即將重新啟動");
    Google4Analytics::sendEvent(kEventName, Google4Analytics::Params{{"action", "Success"}, {"label", "Upgrade Success"}});
}

void AutoUpdateManager::updaterDidRelaunchApplication(services::Updater&) {
    foundation::print("更新完成，App成功重新啟動");
    Google4Analytics::sendEvent(kEventName, Google4Analytics::Params{{"action", "Restart"}, {"label", "App Restart"}});
}

void AutoUpdateManager::showDownloadFailureAlert(const std::string& cause) {
    const Hooks h = hooks();
    if (!h.runAlert) return;  // no screen to show it on
    std::string text = localizedText(h, "Message", "Get the latest software version from Brevantis website.");
    if (!cause.empty()) text += "\n\n" + cause;
    const int choice = h.runAlert(localizedText(h, "CommonString", "Upgrade failed"), text,
                                  {localizedText(h, "CommonString", "OK"), localizedText(h, "CommonString", "Cancel")});
    if (choice == 1000 && h.openURL) h.openURL(supportPageURL());
}

// ---- start-up probe ------------------------------------------------------------------------

net::Request websiteProbeRequest() {
    net::Request request;
    request.method = "GET";
    request.url = onlineconfig::siteURL();
    request.timeoutMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(dispatch::scaled(dispatch::Millis(20000))).count();
    request.maxBodyBytes = onlineconfig::kMaxSiteProbeBytes;
    return request;
}

void websiteProbeCompletion(bool hasData, const std::optional<net::Error>& error, long httpStatus,
                            const std::function<void(bool)>& completion) {
    if (!completion) return;
    completion(hasData && !error && httpStatus == 200);
}

bool isInternetAvailable() { return gInternetAvailable.load(); }

void setInternetAvailable(bool available) {
    gInternetAvailable.store(available);
    if (available) AutoUpdateManager::shared().checkForUpdate();
}

std::string makeLanguageText(const std::vector<std::string>& preferredLanguages, const std::string& countryCode) {
    std::string text;
    if (!preferredLanguages.empty()) {
        text = preferredLanguages.front();
        // Without a country code there is nothing to strip (an empty one would take every "-").
        if (!countryCode.empty()) {
            const std::string suffix = "-" + countryCode;
            for (size_t at = text.find(suffix); at != std::string::npos; at = text.find(suffix, at))
                text.erase(at, suffix.size());
        }
    }
    return text.empty() ? "en" : text;
}

}  // namespace hvb
