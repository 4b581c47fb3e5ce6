#include "platform/services/qt/DesktopUpdater.h"

#include <QUrl>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/services/Appcast.h"
#include "platform/services/qt/UpdateOfferDialog.h"

namespace services {
namespace {

// No real appcast comes near this (the same limit as the reply the feed is taken from); a larger
// file is not read.
constexpr uint64_t kMaxFeedBytes = 8 * 1024 * 1024;

// The feed in the user's data folder, only when it is a regular file of its size: a link is not
// followed, a FIFO not waited on. One of another kind is set aside, so the next check's feed can
// take its place.
std::optional<std::string> readFeed(const std::filesystem::path& file) {
    foundation::FileContent read = foundation::readRegularFile(file, kMaxFeedBytes);
    if (read.content) return read.content;
    std::string line = "[Updater] cannot read the feed " + read.reason;
    if (foundation::isBadShape(read.refusal)) {
        std::error_code ec;
        const auto aside = foundation::setAside(file, ".bad", ec);
        line += aside ? "; set aside as " + aside->string() : "; cannot be set aside: " + ec.message();
    }
    foundation::print(line);
    return std::nullopt;
}

// Only web addresses are handed to the desktop: a feed must not make us open a local file or
// start some other handler.
bool isWebLink(const std::string& link) {
    const QUrl url(QString::fromStdString(link), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http" || scheme == "https") && !url.host().isEmpty();
}

QString q(const std::string& s) { return QString::fromStdString(s); }

// xdg-open's exit status when it found no program for the address.
constexpr int kOpenerFoundNoProgram = 3;

}  // namespace

DesktopUpdater::DesktopUpdater(QObject* parent) : DesktopUpdater(Options{}, parent) {}

DesktopUpdater::DesktopUpdater(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {}

DesktopUpdater::~DesktopUpdater() {
    if (dialog_) delete dialog_.data();
}

void DesktopUpdater::setFeedURL(const std::filesystem::path& feed) {
    std::lock_guard lock(mutex_);
    feed_ = feed;
}

std::optional<std::filesystem::path> DesktopUpdater::feedURL() const {
    std::lock_guard lock(mutex_);
    return feed_;
}

foundation::UserDefaults& DesktopUpdater::defaults() const {
    return options_.defaults ? *options_.defaults : foundation::UserDefaults::standard();
}

std::string DesktopUpdater::skippedVersion() const {
    const auto skipped = defaults().string(kSkippedVersionKey);
    return skipped ? skipped.value : std::string();
}

std::string DesktopUpdater::currentVersion() const {
    if (options_.currentVersion) return *options_.currentVersion;
    return foundation::Bundle::main().infoString("CFBundleShortVersionString").value_or("");
}

std::string DesktopUpdater::appName() const {
    if (options_.appName) return *options_.appName;
    return foundation::Bundle::main().infoString("CFBundleName").value_or(foundation::paths::kAppName);
}

void DesktopUpdater::checkForUpdatesInBackground() {
    const auto feed = feedURL();
    QPointer<DesktopUpdater> self(this);
    dispatch::globalQueue(dispatch::QoS::utility).async([self, feed] {
        std::vector<AppcastItem> items;
        if (feed) {
            if (const auto bytes = readFeed(*feed)) items = appcast::parse(*bytes);
        }
        // The QPointer is only looked at on the main thread, where the updater lives.
        dispatch::mainQueue().async([self, items = std::move(items)]() mutable {
            if (self) self->evaluate(std::move(items));
        });
    });
}

void DesktopUpdater::evaluate(std::vector<AppcastItem> items) {
    if (dialog_) return;  // the open offer stands
    const auto newest = appcast::newestItem(items);
    const std::string current = currentVersion();
    const std::string skipped = skippedVersion();
    const bool offered = newest && appcast::compareVersions(newest->versionString, current) > 0 &&
                         (skipped.empty() || appcast::compareVersions(newest->versionString, skipped) > 0);
    if (!offered) {
        if (auto* d = delegate()) d->updaterDidNotFindUpdate(*this);
        emit checkFinished();
        return;
    }
    present(*newest, current);
}

void DesktopUpdater::present(const AppcastItem& item, const std::string& current) {
    const std::string shown = item.displayVersionString.value_or(item.versionString);
    auto* dialog = new UpdateOfferDialog(q(appName()), q(shown), q(current), q(item.link));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog_ = dialog;
    connect(dialog, &UpdateOfferDialog::answered, this, [this, item](UpdateOfferDialog::Answer answer) {
        dialog_.clear();
        UpdaterDelegate* d = delegate();
        switch (answer) {
            case UpdateOfferDialog::Answer::openLink: {
                if (item.link.empty()) {
                    if (d) d->updaterFailedToDownloadUpdate(*this, item, "The update has no download address.");
                } else if (!isWebLink(item.link) || (options_.openURL && !options_.openURL(item.link))) {
                    if (d) d->updaterFailedToDownloadUpdate(*this, item, "Cannot open the download address " + item.link);
                } else if (!options_.openURL) {
                    openWithDesktop(item);
                }
                break;
            }
            case UpdateOfferDialog::Answer::skipThisVersion:
                defaults().set(kSkippedVersionKey, item.versionString);
                if (d) d->updaterUserDidSkipThisVersion(*this, item);
                break;
            case UpdateOfferDialog::Answer::remindMeLater:
                if (d) d->userDidCancelDownload(*this);
                break;
        }
        emit checkFinished();
    });
    dialog->show();
    emit offerShown(dialog);
}

void DesktopUpdater::openWithDesktop(const AppcastItem& item) {
    QPointer<DesktopUpdater> self(this);
    // The opener may wait for the browser it starts: never on the GUI thread.
    dispatch::globalQueue(dispatch::QoS::userInitiated).async([self, item] {
        foundation::ProcessOptions options;
        options.mergeStandardError = true;
        const foundation::ProcessResult run = foundation::runProcess({"xdg-open", item.link}, options);
        if (run.launched && run.exitStatus == 0) return;
        const QString link = q(item.link);
        QString why;
        if (!run.launched || run.exitStatus == kOpenerFoundNoProgram) {
            why = UpdateOfferDialog::tr("%1 could not be opened: no program is set up to open it.").arg(link);
        } else {
            const std::string line = foundation::lastNonEmptyLine(run.standardOutput);
            why = UpdateOfferDialog::tr("%1 could not be opened: %2")
                      .arg(link, line.empty()
                                     ? UpdateOfferDialog::tr("xdg-open ended with exit status %1.").arg(run.exitStatus)
                                     : q(line));
        }
        dispatch::mainQueue().async([self, item, why] {
            if (!self) return;
            if (UpdaterDelegate* d = self->delegate()) d->updaterFailedToDownloadUpdate(*self, item, why.toStdString());
        });
    });
}

}  // namespace services
