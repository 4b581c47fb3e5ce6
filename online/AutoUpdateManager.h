#pragma once
// The application's self-update: asks the web API for the appcast in the user's language,
// stores it as "appcast.xml" in the Application Support folder, points the shared updater at
// it, and reports the updater's outcomes as "Software_Update" events.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/Transfer.h"
#include "platform/services/Updater.h"

namespace hvb {

class AutoUpdateManager : public services::UpdaterDelegate {
public:
    // What the core cannot do itself; the application sets these at start-up.
    struct Hooks {
        // Runs an alert modally on the main thread: message, informative text, button titles
        // in order. Returns 1000 for the first button, 1001 for the second, and so on.
        std::function<int(const std::string& title, const std::string& text,
                          const std::vector<std::string>& buttons)> runAlert;
        // Opens a web page in the default browser.
        std::function<void(const std::string& url)> openURL;
        // A text of a string table ("CommonString", "Message"); the key itself when unset.
        std::function<std::string(const std::string& table, const std::string& key)> localized;
        // The user's preferred languages, first the most preferred ("zh-Hant-TW").
        std::vector<std::string> preferredLanguages;
        // The country code of the current locale ("TW"); empty for a language-only locale.
        std::string countryCode;
    };

    static constexpr const char* kAppcastFileName = "appcast.xml";
    static constexpr int64_t kRequestTimeoutMs = 60000;

    static AutoUpdateManager& shared();

    void setHooks(Hooks hooks);
    Hooks hooks() const;

    // Sends the appcast request; returns at once. The reply is handled on the main queue.
    void checkForUpdate();
    // On the main queue: stores the appcast and starts the shared updater's check.
    void handleAppcastResponse(const net::DataResult& reply);

    // The request checkForUpdate sends (nothing when no URL can be formed).
    std::optional<net::Request> makeAppcastRequest() const;
    // The maker's support page for this software.
    static std::string supportPageURL();
    static std::filesystem::path appcastFile();

    // services::UpdaterDelegate
    void updaterDidNotFindUpdate(services::Updater& updater) override;
    void updaterUserDidSkipThisVersion(services::Updater& updater, const services::AppcastItem& item) override;
    void updaterFailedToDownloadUpdate(services::Updater& updater, const services::AppcastItem& item,
                                       const std::string& error) override;
    void userDidCancelDownload(services::Updater& updater) override;
    void updaterWillRelaunchApplication(services::Updater& updater) override;
    void updaterDidRelaunchApplication(services::Updater& updater) override;

private:
    // The cause (why the page did not open) follows the message when there is one.
    void showDownloadFailureAlert(const std::string& cause);

    mutable std::mutex mutex_;
    Hooks hooks_;
};

// The start-up probe's request: a GET of the web site with a fixed 20 s time-out (scaled like
// every pause) and the probe's size limit.
net::Request websiteProbeRequest();

// The start-up probe of the web site: completion(true) exactly when data came, there was no
// error and the HTTP status is 200 (httpStatus 0: no HTTP response).
void websiteProbeCompletion(bool hasData, const std::optional<net::Error>& error, long httpStatus,
                            const std::function<void(bool)>& completion);

// Whether the start-up probe reached the web site; false at start.
bool isInternetAvailable();
// Stores the flag; true also starts AutoUpdateManager::shared().checkForUpdate().
void setInternetAvailable(bool available);

// The request's "lang": the first preferred language without "-<country>" ("zh-Hant-TW" with
// "TW" gives "zh-Hant"); "en" when that leaves nothing.
std::string makeLanguageText(const std::vector<std::string>& preferredLanguages, const std::string& countryCode);

}  // namespace hvb
