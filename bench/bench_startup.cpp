// The application started as a person starts it, in a fresh sandbox with two simulated cameras
// behind the driver host (socket link) and the web service on loopback:
//   shown_ms  process start to the main window shown (the start-up itself pauses 500 ms only
//             after the window is up, before the watcher starts),
//   ready_ms  process start to both cameras brought up (includes installing the driver),
//   rss_MiB   the application's resident memory with both cameras up.
// Each is given as the mean, the minimum (_min) and the median (_median) of the rounds, with the
// one-minute load average (load1) at the end, since other work on the machine moves them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "standins/webservice/WebService.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

double residentMiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

double minimum(std::vector<double> v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

bool camerasUp(const standin::WebService& web) {
    bool r7 = false, w34 = false;
    for (const auto& r : web.requestsTo("/mp/collect")) {
        r7 = r7 || r.body.find("\"action\":\"HVBR7\"") != std::string::npos;
        w34 = w34 || r.body.find("\"action\":\"HW7334\"") != std::string::npos;
    }
    return r7 && w34;
}

void BM_Startup(benchmark::State& state) {
    const std::string build = HVB_BENCH_BUILD_DIR;
    std::vector<double> shown, ready, rss;
    for (auto _ : state) {
        std::string pattern = (fs::temp_directory_path() / "hvb-bench-startup-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            state.SkipWithError("mkdtemp");
            return;
        }
        const fs::path root = pattern;
        for (const char* d : {"etc/halvetor", "run/halvetor/disks", "home", "volumes/a", "volumes/b"}) {
            fs::create_directories(root / d);
        }
        std::ofstream(root / "etc/halvetor/driver.conf")
            << "backend simulation\n"
            << "camera model=HVBR7,firmware=1.6.01,serial=HVBR7BENCH001,volume=" << (root / "volumes/a").string() << "\n"
            << "camera model=HW7334,firmware=1.0.0,serial=HW7334BENCH01,volume=" << (root / "volumes/b").string() << "\n";
        standin::WebService web;
        web.start();
        const fs::path output = root / "app.log";

        const auto t0 = Clock::now();
        pid_t pid = ::fork();
        if (pid == 0) {
            int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("HVB_ROOT", root.c_str(), 1);
            ::setenv("HVB_API_BASE", web.baseURL().c_str(), 1);
            ::setenv("HVB_SITE_URL", (web.baseURL() + "/").c_str(), 1);
            ::setenv("HVB_ANALYTICS_BASE", web.baseURL().c_str(), 1);
            ::setenv("HVB_SIMULATED_DISKS", (root / "run/halvetor/disks").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (root / "home").c_str(), 1);
            ::setenv("XDG_DATA_HOME", (root / "home").c_str(), 1);
            const std::string app = build + "/bin/HalvetorBody_ToolBox";
            ::execl(app.c_str(), app.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        double shownMs = -1, readyMs = -1;
        while (Clock::now() - t0 < std::chrono::seconds(60)) {
            if (shownMs < 0 && readFile(output).find("MainWindow shown") != std::string::npos) {
                shownMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            }
            if (camerasUp(web)) {
                readyMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const double resident = residentMiB(pid);
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        const fs::path pidFile = root / "run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid";
        if (fs::exists(pidFile)) {
            pid_t host = std::stoi(readFile(pidFile));
            ::kill(host, SIGTERM);
            for (int i = 0; i < 50 && ::kill(host, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        web.stop();
        std::error_code ec;
        fs::remove_all(root, ec);
        if (shownMs < 0 || readyMs < 0) {
            state.SkipWithError("the application did not come up");
            return;
        }
        state.SetIterationTime(shownMs / 1000.0);
        shown.push_back(shownMs);
        ready.push_back(readyMs);
        rss.push_back(resident);
    }
    const auto mean = [](const std::vector<double>& v) {
        return v.empty() ? 0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    };
    state.counters["shown_ms"] = mean(shown);
    state.counters["shown_ms_min"] = minimum(shown);
    state.counters["shown_ms_median"] = median(shown);
    state.counters["ready_ms"] = mean(ready);
    state.counters["ready_ms_min"] = minimum(ready);
    state.counters["ready_ms_median"] = median(ready);
    state.counters["rss_MiB"] = mean(rss);
    state.counters["mandated_pause_ms"] = 500;
    state.counters["load1"] = loadAverage();
}
BENCHMARK(BM_Startup)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);

}  // namespace
