// The web-service stand-in as a program for the demo: serves on loopback until stopped and
// prints its port and a line per request. Faults are set with POST /__control.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "standins/webservice/Content.h"
#include "standins/webservice/WebService.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }
}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--host") == 0 && i + 1 < argc) {
            host = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--host 127.0.0.1] [--port N]\n", argv[0]);
            return 2;
        }
    }
    standin::WebService service;
    for (const auto& [model, version] : standin::demoFirmwareOffers()) service.setFirmwareVersion(model, version);
    const int bound = service.start(host, port);
    if (bound < 0) {
        std::fprintf(stderr, "hvb-webservice: cannot listen on %s:%d\n", host.c_str(), port);
        return 1;
    }
    std::printf("PORT=%d\n", bound);
    std::printf("hvb-webservice: serving %s\n", service.baseURL().c_str());
    std::fflush(stdout);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    // One line per request served, so a person (or the demo's test) can follow the traffic.
    size_t logged = 0;
    while (!stopRequested) {
        const auto requests = service.requests();
        for (; logged < requests.size(); ++logged) {
            const auto& r = requests[logged];
            // The body on the same line, cut short and with its line breaks escaped.
            std::string body = r.body.substr(0, 400);
            for (char& c : body) {
                if (c == '\n' || c == '\r') c = ' ';
            }
            std::printf("REQUEST %s %s %s\n", r.method.c_str(), r.target.c_str(), body.c_str());
        }
        std::fflush(stdout);
        ::usleep(100 * 1000);
    }
    service.stop();
    return 0;
}
