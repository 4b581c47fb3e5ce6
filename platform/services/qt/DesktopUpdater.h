#pragma once
// The updater of the desktop application: reads the appcast file it is pointed at, and when the
// newest item is newer than the running application (and not skipped) offers it in a dialog
// with its link. It never downloads or installs anything itself, so the relaunch callbacks of
// the delegate are never called from here.
#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/services/Updater.h"
#include "platform/services/qt/UpdateOfferDialog.h"

namespace foundation {
class UserDefaults;
}

namespace services {


class DesktopUpdater : public QObject, public Updater {
    Q_OBJECT
public:
    // The user default that remembers a skipped version.
    static constexpr const char* kSkippedVersionKey = "UpdaterSkippedVersion";

    struct Options {
        // CFBundleShortVersionString and CFBundleName of the main bundle when unset.
        std::optional<std::string> currentVersion;
        std::optional<std::string> appName;
        // Opens a link; false: it could not be opened. Unset: the desktop's opener (xdg-open) on a
        // global queue, whose failure reaches the delegate with its cause on the main queue.
        std::function<bool(const std::string& url)> openURL;
        // foundation::UserDefaults::standard() when unset.
        foundation::UserDefaults* defaults = nullptr;
    };

    explicit DesktopUpdater(QObject* parent = nullptr);
    explicit DesktopUpdater(Options options, QObject* parent = nullptr);
    ~DesktopUpdater() override;

    void setFeedURL(const std::filesystem::path& feed) override;
    std::optional<std::filesystem::path> feedURL() const override;
    // Call on the main thread. The feed is read on a global queue; the answer (the delegate's
    // callback or the dialog) comes on the main queue.
    void checkForUpdatesInBackground() override;
    bool isOfferShown() const override { return dialog_ && dialog_->isVisible(); }

    // The open offer, if any (tests answer it).
    UpdateOfferDialog* offerDialog() const { return dialog_; }
    std::string skippedVersion() const;

signals:
    void offerShown(services::UpdateOfferDialog* dialog);
    // The check has ended: without an offer, or with the user's answer.
    void checkFinished();

private:
    void evaluate(std::vector<AppcastItem> items);
    void present(const AppcastItem& item, const std::string& currentVersion);
    void openWithDesktop(const AppcastItem& item);
    foundation::UserDefaults& defaults() const;
    std::string currentVersion() const;
    std::string appName() const;

    Options options_;
    mutable std::mutex mutex_;
    std::optional<std::filesystem::path> feed_;
    QPointer<UpdateOfferDialog> dialog_;
};

}  // namespace services
