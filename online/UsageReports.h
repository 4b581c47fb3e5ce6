#pragma once
// What the screens report of their use: events and screen views. Returns at once on any thread.
#include <map>
#include <memory>
#include <string>

namespace hvb {

class UsageReports {
public:
    virtual ~UsageReports() = default;
    virtual void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) = 0;
    virtual void logScreen(const std::string& name, const std::string& className) = 0;
};

// The reporter every screen uses: the analytics reporter unless a test set another.
std::shared_ptr<UsageReports> usageReports();
void setUsageReports(std::shared_ptr<UsageReports> reports);

}  // namespace hvb
