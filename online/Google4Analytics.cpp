#include "online/Google4Analytics.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>

#include "online/OnlineConfig.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/TextCharacters.h"
#include "platform/net/Transfer.h"
#include "platform/foundation/Strings.h"


namespace hvb {
namespace {

using json = nlohmann::json;

struct Facts {
    std::mutex mutex;  // the four values and `read`
    std::string macModel;
    std::string chip;
    std::string uuid;
    std::string osVersion;
    bool read = false;
    // Held for the whole of a read, so that a payload needing the facts waits for the read under
    // way instead of starting another.
    std::mutex readMutex;
    Google4Analytics::PipelineRunner runner;  // under readMutex; empty: processInOut
};

// Kept for the whole process (never destroyed): reporter threads may still read it while the
// process exits.
Facts& facts() {
    static Facts* f = new Facts;
    return *f;
}

// Events one at a time, in the order of the calls, on a global queue that runs only while
// there is an event to send.
class EventQueue {
public:
    void async(std::function<void()> job) {
        bool start = false;
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
            if (!draining_) draining_ = start = true;
        }
        if (start) dispatch::globalQueue(dispatch::QoS::utility).async([this] { drain(); });
    }

private:
    void drain() {
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard lock(mutex_);
                if (jobs_.empty()) {
                    draining_ = false;
                    return;
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
    bool draining_ = false;
};

EventQueue& eventQueue() {
    static EventQueue* q = new EventQueue;  // like facts(): outlives the reporter's threads
    return *q;
}

// The last piece of `text` split at `separator` (the whole text when it does not occur).
std::string lastPiece(const std::string& text, const std::string& separator) {
    const auto pos = text.rfind(separator);
    return pos == std::string::npos ? text : text.substr(pos + separator.size());
}

std::string kernelVersion() {
    utsname u{};
    if (uname(&u) != 0) return "0.0.0";
    int parts[3] = {0, 0, 0};
    const char* p = u.release;
    for (int k = 0; k < 3; ++k) {
        if (*p < '0' || *p > '9') break;
        parts[k] = static_cast<int>(std::strtol(p, const_cast<char**>(&p), 10));
        if (*p != '.') break;
        ++p;
    }
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

json payload(const std::string& name, const json& params, const std::string& clientId) {
    return json{{"client_id", clientId}, {"events", json::array({json{{"name", name}, {"params", params}}})}};
}

}  // namespace

std::string processInOut(const std::vector<std::string>& argsIn, const std::vector<std::string>& argsOut) {
    foundation::ProcessOptions options;
    const std::string path = foundation::paths::env("PATH", "/usr/local/bin:/usr/bin:/bin");
    const std::string libexec = foundation::paths::libexecDir().string();
    options.extraEnvironment.push_back("PATH=" + (libexec.empty() ? path : libexec + ":" + path));

    std::vector<std::string> first{"/usr/bin/env"};
    first.insert(first.end(), argsIn.begin(), argsIn.end());
    const auto in = foundation::runProcess(first, options);
    if (!in.launched) {
        foundation::print("processInOut(argsIn:argsOut:) error: " + in.error);
        return {};
    }
    std::vector<std::string> second{"/usr/bin/env"};
    second.insert(second.end(), argsOut.begin(), argsOut.end());
    options.standardInput = in.standardOutput;
    const auto out = foundation::runProcess(second, options);
    if (!out.launched) {
        foundation::print("processInOut(argsIn:argsOut:) error: " + out.error);
        return {};
    }
    return out.standardOutput;
}

namespace {

// The caller holds f.readMutex.
void readFacts(Facts& f) {
    const auto run = [&f](const std::vector<std::string>& in, const std::vector<std::string>& out) {
        return f.runner ? f.runner(in, out) : processInOut(in, out);
    };
    const std::vector<std::string> profiler{"system_profiler", "SPHardwareDataType"};
    const std::string modelOut = run(profiler, {"grep", "Identifier"});
    const std::string chipOut = run(profiler, {"grep", "Name"});
    const std::string uuidOut = run(profiler, {"grep", "UUID"});

    const std::string model = foundation::text::isValidUtf8(modelOut) ? std::string(foundation::trimmed(lastPiece(modelOut, ":"))) : "unknown";
    const std::string chipPiece = foundation::text::isValidUtf8(chipOut) ? std::string(foundation::trimmed(lastPiece(chipOut, ": "))) : "unknown";
    const std::string id = foundation::text::isValidUtf8(uuidOut) ? std::string(foundation::trimmed(lastPiece(uuidOut, ":"))) : "unknown uuid";

    std::lock_guard lock(f.mutex);
    f.macModel = model;
    if (chipPiece.find("Intel") != std::string::npos)
        f.chip = "Intel";
    else if (chipPiece != "unknown")
        f.chip = "M1";
    f.uuid = id;
    f.osVersion = kernelVersion();
    f.read = true;
}

// The machine's facts do not change while the process runs: they are read by the first payload.
void readFactsOnce() {
    Facts& f = facts();
    std::lock_guard reading(f.readMutex);
    {
        std::lock_guard lock(f.mutex);
        if (f.read) return;
    }
    readFacts(f);
}

}  // namespace

void Google4Analytics::readSystemInfo() {
    Facts& f = facts();
    std::lock_guard reading(f.readMutex);
    readFacts(f);
}

void Google4Analytics::setPipelineRunner(PipelineRunner runner) {
    Facts& f = facts();
    std::lock_guard reading(f.readMutex);
    f.runner = std::move(runner);
    std::lock_guard lock(f.mutex);
    f.read = false;
}

json Google4Analytics::makeEventPayload(const std::string& name, const Params& params) {
    readFactsOnce();
    const std::string id = uuid();
    json p = {{"engagement_time_msec", 10}, {"session_id", id}};
    for (const auto& [key, value] : params) {
        foundation::print(key + ":" + value);
        p[key] = value;
    }
    json body = payload(name, p, id);
    foundation::print(body.dump(-1, ' ', false, json::error_handler_t::replace));
    return body;
}

json Google4Analytics::sendMacInfo() {
    readFactsOnce();
    Facts& f = facts();
    std::lock_guard lock(f.mutex);
    const json p = {{"engagement_time_msec", 10},
                    {"session_id", f.uuid},
                    {"User_Mac_Model", f.macModel},
                    {"User_Mac_Chip", f.chip},
                    {"User_OS_Version", f.osVersion}};
    return payload("User_Mac_Model", p, f.uuid);
}

std::string Google4Analytics::collectURL() {
    return onlineconfig::analyticsBase() + "/mp/collect?measurement_id=" + kMeasurementId + "&api_secret=" + kApiSecret;
}

namespace {

void send(const std::string& url, const std::string& name, const std::optional<Google4Analytics::Params>& params) {
    if (!net::isValidURL(url)) return;
    const json body = params ? Google4Analytics::makeEventPayload(name, *params) : Google4Analytics::sendMacInfo();
    std::string bytes;
    try {
        bytes = body.dump();
    } catch (const json::exception& e) {
        foundation::print(e.what());
        return;
    }
    // A placeholder collector never answers; the event is built and logged, not sent.
    if (onlineconfig::isPlaceholder(url)) return;
    net::Request req;
    req.method = "POST";
    req.url = url;
    req.headers = {{"Content-Type", "application/json"}};
    req.body = std::move(bytes);
    req.timeoutMs = 60000;
    req.maxBodyBytes = onlineconfig::kMaxAnalyticsReplyBytes;
    // Sent from the reporter's queue, one reply before the next request: the collector gets the
    // events in the order they happened.
    const net::DataResult r = net::Session::shared().perform(req);
    if (r.error) {
        foundation::print("[Google4Analytics] failure(" + r.error->description() + ")");
        return;
    }
    const long status = r.response ? r.response->statusCode : 0;
    foundation::print("[Google4Analytics] success(status " + std::to_string(status) + ", " +
                      std::to_string(r.body ? r.body->size() : 0) + " bytes)");
}

}  // namespace

void Google4Analytics::sendEvent(const std::string& name, const std::optional<Params>& params) {
    // The first payload runs helper programs for the machine's facts: neither the GUI thread nor a
    // camera worker waits for them.
    eventQueue().async([url = collectURL(), name, params] { send(url, name, params); });
}

void Google4Analytics::logScreen(const std::string& name, const std::string& className) {
    sendEvent("screen_view", Params{{"screen_name", name}, {"MainBack", className}});
}

std::string Google4Analytics::macModel() {
    std::lock_guard lock(facts().mutex);
    return facts().macModel;
}
std::string Google4Analytics::chip() {
    std::lock_guard lock(facts().mutex);
    return facts().chip;
}
std::string Google4Analytics::uuid() {
    std::lock_guard lock(facts().mutex);
    return facts().uuid;
}
std::string Google4Analytics::osVersion() {
    std::lock_guard lock(facts().mutex);
    return facts().osVersion;
}

}  // namespace hvb
