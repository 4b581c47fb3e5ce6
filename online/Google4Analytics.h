#pragma once
// Usage events to the analytics collector (Measurement Protocol). Fire-and-forget: events are
// built and sent one after another, in the order of the calls, on the reporter's own queue,
// and a reply is only logged. The machine's facts are read once per process, on that queue.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace hvb {

class Google4Analytics {
public:
    using Params = std::map<std::string, std::string>;
    // Runs one pipeline of the facts read: the first argument list piped into the second.
    using PipelineRunner =
        std::function<std::string(const std::vector<std::string>& argsIn, const std::vector<std::string>& argsOut)>;

    static constexpr const char* kMeasurementId = "G-PW4NTQ7XCB";
    static constexpr const char* kApiSecret = "Rm3vK9_pQwZt2Lh-8NcYfE";

    // Absent params send the Mac-facts event, whatever the name. Returns at once on any thread.
    static void sendEvent(const std::string& name, const std::optional<Params>& params);
    static void logScreen(const std::string& name, const std::string& className);

    // Refills the four values below from the hardware overview and the running kernel.
    static void readSystemInfo();
    // The payloads take the facts read so far, reading them first when no read has been made.
    static nlohmann::json makeEventPayload(const std::string& name, const Params& params);
    static nlohmann::json sendMacInfo();

    // Tests: the facts' pipelines go through `runner` (processInOut when empty), and the facts
    // read so far are forgotten so that the next payload reads them through it.
    static void setPipelineRunner(PipelineRunner runner);

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
