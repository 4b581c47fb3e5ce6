#include "app/AppDelegate.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <QLocale>

#include "camera/USBWatcher.h"
#include "online/AutoUpdateManager.h"
#include "online/Google4Analytics.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/services/CrashReporting.h"
#include "platform/services/Updater.h"

namespace hvb {

namespace {
AppDelegate* sharedDelegate = nullptr;
}

AppDelegate::Steps AppDelegate::Steps::system() {
    Steps steps;
    steps.createWatcher = [] { USBWatcher::shared(); };
    steps.startCrashReporting = [](const std::string& secret, const std::vector<std::string>& services) {
        services::CrashReporting::start(secret, services);
    };
    steps.sendEvent = [](const std::string& name, const std::optional<std::map<std::string, std::string>>& params) {
        Google4Analytics::sendEvent(name, params);
    };
    steps.regionCode = [] { return AppDelegate::systemRegionCode(); };
    steps.regionNameInTraditionalChinese = [](const std::string& code) {
        return AppDelegate::displayRegionName(code, "zh_Hant");
    };
    steps.setUpdaterDelegate = [] {
        if (services::Updater* updater = services::Updater::shared()) updater->setDelegate(&AutoUpdateManager::shared());
    };
    steps.pause = [](int64_t ms) { dispatch::pause(ms); };
    return steps;
}

AppDelegate::AppDelegate(Steps steps, QObject* parent) : QObject(parent), steps_(std::move(steps)) {
    sharedDelegate = this;
}

AppDelegate::~AppDelegate() {
    if (sharedDelegate == this) sharedDelegate = nullptr;
}

AppDelegate* AppDelegate::shared() { return sharedDelegate; }

std::optional<std::string> AppDelegate::systemRegionCode() {
    const QLocale::Territory territory = QLocale::system().territory();
    if (territory == QLocale::AnyTerritory) return std::nullopt;
    const QString code = QLocale::territoryToCode(territory);
    if (code.isEmpty()) return std::nullopt;
    return code.toStdString();
}

std::optional<std::string> AppDelegate::displayRegionName(const std::string& code, const std::string& locale) {
    if (code.empty()) return std::nullopt;
    icu::Locale region("und", code.c_str());
    icu::UnicodeString name;
    region.getDisplayCountry(icu::Locale(locale.c_str()), name);
    std::string text;
    name.toUTF8String(text);
    // ICU answers with the code itself when it knows no name.
    if (text.empty() || text == code) return std::nullopt;
    return text;
}

void AppDelegate::applicationWillFinishLaunching() {
    if (steps_.setUpdaterDelegate) steps_.setUpdaterDelegate();
}

void AppDelegate::applicationDidFinishLaunching() {
    if (steps_.pause) steps_.pause(500);
    // The watcher attaches its notifications to the main run loop and returns, so the steps
    // after it run as well.
    if (steps_.createWatcher) steps_.createWatcher();
    if (steps_.startCrashReporting) steps_.startCrashReporting(kAppSecret, {"Analytics", "Crashes"});
    if (steps_.sendEvent) {
        if (auto code = steps_.regionCode ? steps_.regionCode() : std::nullopt) {
            if (auto name = steps_.regionNameInTraditionalChinese ? steps_.regionNameInTraditionalChinese(*code)
                                                                   : std::nullopt) {
                steps_.sendEvent("User_Region", std::map<std::string, std::string>{{"action", *name}});
            }
        }
        steps_.sendEvent("User_Mac_Model", std::nullopt);
    }
}

void AppDelegate::applicationWillTerminate() { foundation::print("terminate"); }

}  // namespace hvb
