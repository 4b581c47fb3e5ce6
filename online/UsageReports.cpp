#include "online/UsageReports.h"

#include <mutex>

#include "online/Google4Analytics.h"

namespace hvb {

namespace {

class AnalyticsReports : public UsageReports {
public:
    void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) override {
        Google4Analytics::sendEvent(name, params);
    }
    void logScreen(const std::string& name, const std::string& className) override {
        Google4Analytics::logScreen(name, className);
    }
};

std::mutex& reportsLock() {
    static std::mutex m;
    return m;
}
std::shared_ptr<UsageReports>& storedReports() {
    static auto* reports = new std::shared_ptr<UsageReports>;  // used by workers: never destroyed
    return *reports;
}

}  // namespace

std::shared_ptr<UsageReports> usageReports() {
    std::lock_guard<std::mutex> guard(reportsLock());
    if (!storedReports()) storedReports() = std::make_shared<AnalyticsReports>();
    return storedReports();
}

void setUsageReports(std::shared_ptr<UsageReports> reports) {
    std::lock_guard<std::mutex> guard(reportsLock());
    storedReports() = std::move(reports);
}

}  // namespace hvb
