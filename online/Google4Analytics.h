#pragma once
// Usage events to the analytics collector (Measurement Protocol). Fire-and-forget: the request
// runs on a worker thread and its reply is only logged.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace hvb {

class Google4Analytics {
public:
    using Params = std::map<std::string, std::string>;

    static constexpr const char* kMeasurementId = "G-PW4NTQ7XCB";
    static constexpr const char* kApiSecret = "Rm3vK9_pQwZt2Lh-8NcYfE";

    // Absent params send the Mac-facts event, whatever the name.
    static void sendEvent(const std::string& name, const std::optional<Params>& params);
    static void logScreen(const std::string& name, const std::string& className);

    // Refills the four values below from the hardware overview and the running kernel.
    static void readSystemInfo();
    static nlohmann::json makeEventPayload(const std::string& name, const Params& params);
    static nlohmann::json sendMacInfo();

    // The collection URL: <analytics base>/mp/collect?measurement_id=...&api_secret=...
    static std::string collectURL();

    static std::string macModel();
    static std::string chip();
    static std::string uuid();
    static std::string osVersion();
};

// Runs "/usr/bin/env <argsIn...>" with its output piped into "/usr/bin/env <argsOut...>" and
// returns the second's standard output; empty when either cannot be started. The folder of
// the system's own helper programs comes first on their PATH.
std::string processInOut(const std::vector<std::string>& argsIn, const std::vector<std::string>& argsOut);


}  // namespace hvb
