#pragma once
// The application's self-update: an updater that reads an appcast feed and tells its delegate
// what the user chose. There is no update framework on Linux; the desktop updater (qt/) only
// shows where a newer version can be had and never downloads or installs anything itself.
#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

namespace services {

// One <item> of an appcast.
struct AppcastItem {
    std::string title;
    std::string versionString;               // the item's version, compared part by part
    std::optional<std::string> displayVersionString;  // a separate human-readable version, when given
    std::string link;                        // where to get it: <link>, else the enclosure's url
    std::string enclosureURL;
};

class Updater;

// What the updater reports. Callbacks run on the thread that drives the updater (the main
// thread for the desktop updater).
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    virtual void updaterDidNotFindUpdate(Updater& updater) = 0;
    virtual void updaterUserDidSkipThisVersion(Updater& updater, const AppcastItem& item) = 0;
    virtual void updaterFailedToDownloadUpdate(Updater& updater, const AppcastItem& item,
                                               const std::string& error) = 0;
    virtual void userDidCancelDownload(Updater& updater) = 0;
    virtual void updaterWillRelaunchApplication(Updater& updater) = 0;
    virtual void updaterDidRelaunchApplication(Updater& updater) = 0;
};

class Updater {
public:
    virtual ~Updater();

    // The process-wide updater; nullptr until the application installs one. The caller keeps
    // ownership and must clear it (setShared(nullptr)) before the updater goes away.
    static Updater* shared();
    static void setShared(Updater* updater);

    // Not owned; the delegate outlives the updater or is cleared first.
    UpdaterDelegate* delegate() const { return delegate_.load(); }
    void setDelegate(UpdaterDelegate* delegate) { delegate_.store(delegate); }

    virtual void setFeedURL(const std::filesystem::path& feed) = 0;
    virtual std::optional<std::filesystem::path> feedURL() const = 0;
    // Reads the feed and reports through the delegate; returns at once.
    virtual void checkForUpdatesInBackground() = 0;
    // An offer of a newer version is on screen, in a window of its own (on the updater's thread).
    virtual bool isOfferShown() const { return false; }

private:
    std::atomic<UpdaterDelegate*> delegate_{nullptr};
};

}  // namespace services
