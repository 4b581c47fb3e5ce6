#pragma once
// Shared pieces of the online tests: temporary folders, the stand-in on loopback, the events
// at its analytics collector, and a log watcher.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/Log.h"
#include "platform/foundation/TempDir.h"
#include "standins/webservice/WebService.h"

namespace hvbtest {

using ::TempDir;

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

// Collects the lines written to standard output while it lives.
class LogCapture {
public:
    LogCapture() {
        token_ = foundation::addLogSink([this](foundation::LogChannel, const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { foundation::removeLogSink(token_); }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    size_t count(const std::string& line) const {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
    }
    bool contains(const std::string& part) const {
        std::lock_guard lock(mutex_);
        return std::any_of(lines_.begin(), lines_.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    int token_ = 0;
};

// The parameters of each event of that name the analytics collector got, in the order received.
inline std::vector<nlohmann::json> collectedEvents(const standin::WebService& service, const std::string& name) {
    std::vector<nlohmann::json> out;
    for (const auto& request : service.requestsTo("/mp/collect")) {
        const auto body = nlohmann::json::parse(request.body, nullptr, false);
        if (!body.is_object() || !body.contains("events") || !body["events"].is_array()) continue;
        for (const auto& event : body["events"])
            if (event.is_object() && event.value("name", "") == name)
                out.push_back(event.value("params", nlohmann::json::object()));
    }
    return out;
}

// A fresh stand-in on a free loopback port per test.
class StandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(service.start(), 0);
        ::setenv("HVB_RESOURCES", resources.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (home.path() / "cache").c_str(), 1);
        ::setenv("HVB_API_BASE", service.baseURL().c_str(), 1);
        ::setenv("HVB_SITE_URL", (service.baseURL() + "/").c_str(), 1);
        ::setenv("HVB_ANALYTICS_BASE", service.baseURL().c_str(), 1);
    }
    void TearDown() override { service.stop(); }

    standin::WebService service;
    TempDir resources;
    TempDir home;
};

}  // namespace hvbtest
