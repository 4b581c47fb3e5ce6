// Runs a command under the system-call confinement a systemd unit file asks for, as far as it
// can be had without systemd: the seccomp filter of its SystemCallFilter= lines (systemd's groups
// as `systemd-analyze syscall-filter` lists them) with SystemCallErrorNumber= and
// SystemCallArchitectures=native, and MemoryDenyWriteExecute= (the kernel's PR_SET_MDWE). It
// names on standard error what it applied, and every directive of the unit's [Service] section
// that neither it nor its caller (--applied KEY,...) applies.
//
//   hvb-unit-filter [--applied KEY,...] UNIT_FILE COMMAND [ARGUMENT...]
#include <seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/Process.h"
#include "standins/unit/UnitFile.h"

#ifndef PR_SET_MDWE
#define PR_SET_MDWE 65
#define PR_GET_MDWE 66
#define PR_MDWE_REFUSE_EXEC_GAIN 1
#endif

namespace {

using hvb::sim::unitValues;

void say(const std::string& text) { std::fprintf(stderr, "hvb-unit-filter: %s\n", text.c_str()); }

[[noreturn]] void fail(const std::string& text) {
    say(text);
    std::exit(126);
}

// The calls a filter entry names: one call, or a group of systemd's with the groups it holds.
void expand(const std::string& name, std::set<std::string>& calls) {
    if (name.find(':') != std::string::npos) fail("an error number per call (" + name + ") is not applied here");
    if (name[0] != '@') {
        calls.insert(name);
        return;
    }
    const auto listing = foundation::runProcess({"systemd-analyze", "--no-pager", "syscall-filter", name});
    if (listing.exitStatus != 0)
        fail("systemd-analyze does not list " + name + ": " + listing.standardError + listing.error);
    std::istringstream lines(listing.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        // The group's members are indented; its name and its comment are not members.
        if (line.rfind("    ", 0) != 0 || line.size() == 4 || line[4] == '#') continue;
        expand(line.substr(4), calls);
    }
}

int errorNumber(const std::string& name) {
    for (int number = 1; number < 4096; ++number) {
        const char* known = ::strerrorname_np(number);
        if (known && name == known) return number;
    }
    fail("SystemCallErrorNumber=" + name + " is no error name");
}

// As systemd builds it: the first line says whether the filter allows (a list of calls, with
// @default) or refuses (a line that starts with "~"); later lines add to that list, or take
// away from it when they go the other way; an empty line starts over.
void applySystemCallFilter(const std::string& unit) {
    const auto lines = unitValues(unit, "SystemCallFilter");
    if (lines.empty()) return say("the unit has no SystemCallFilter=");
    bool allowList = false, started = false;
    std::set<std::string> listed;
    for (const std::string& line : lines) {
        if (line.empty()) {
            started = false;
            listed.clear();
            continue;
        }
        const bool refusing = line[0] == '~';
        if (!started) {
            started = true;
            allowList = !refusing;
            if (allowList) expand("@default", listed);
        }
        std::set<std::string> calls;
        std::istringstream names(refusing ? line.substr(1) : line);
        for (std::string name; names >> name;) expand(name, calls);
        for (const std::string& call : calls) {
            if (refusing != allowList) {
                listed.insert(call);
            } else {
                listed.erase(call);
            }
        }
    }
    const auto errors = unitValues(unit, "SystemCallErrorNumber");
    const uint32_t refused = errors.empty() ? SCMP_ACT_KILL_PROCESS : SCMP_ACT_ERRNO(errorNumber(errors.back()));
    const auto architectures = unitValues(unit, "SystemCallArchitectures");
    if (!architectures.empty() && architectures.back() != "native")
        fail("SystemCallArchitectures=" + architectures.back() + " is not applied here, only native");
    // A new filter holds the native architecture only: another's calls kill the process.
    scmp_filter_ctx filter = ::seccomp_init(allowList ? refused : SCMP_ACT_ALLOW);
    if (!filter) fail("seccomp_init failed");
    int known = 0;
    for (const std::string& call : listed) {
        const int number = ::seccomp_syscall_resolve_name(call.c_str());
        if (number == __NR_SCMP_ERROR) continue;  // a call this libseccomp does not know
        const int rc = ::seccomp_rule_add(filter, allowList ? SCMP_ACT_ALLOW : refused, number, 0);
        if (rc == -EDOM || rc == -EFAULT) continue;  // not a call of this architecture
        if (rc != 0) fail("seccomp_rule_add(" + call + "): " + std::strerror(-rc));
        ++known;
    }
    if (const int rc = ::seccomp_load(filter); rc != 0) fail(std::string("seccomp_load: ") + std::strerror(-rc));
    ::seccomp_release(filter);
    say("applied SystemCallFilter= (" + std::to_string(known) + (allowList ? " calls allowed" : " calls refused") +
        "), SystemCallErrorNumber=" + (errors.empty() ? "(kill)" : errors.back()) + ", SystemCallArchitectures=" +
        (architectures.empty() ? "(native)" : architectures.back()));
}

void applyMemoryDenyWriteExecute(const std::string& unit) {
    const auto values = unitValues(unit, "MemoryDenyWriteExecute");
    if (values.empty() || !(values.back() == "yes" || values.back() == "true" || values.back() == "1" ||
                            values.back() == "on"))
        return;
    if (::prctl(PR_SET_MDWE, PR_MDWE_REFUSE_EXEC_GAIN, 0L, 0L, 0L) != 0) {
        return say("not applied here: MemoryDenyWriteExecute=" + values.back() + " (PR_SET_MDWE: " +
                   std::strerror(errno) + ")");
    }
    if (::prctl(PR_GET_MDWE, 0L, 0L, 0L, 0L) != PR_MDWE_REFUSE_EXEC_GAIN) fail("PR_SET_MDWE did not hold");
    say("applied MemoryDenyWriteExecute=" + values.back() + " (PR_SET_MDWE)");
}

// The unit's [Service] directives whose keys are not in `applied`, on one line.
std::string unapplied(const std::string& unit, const std::set<std::string>& applied) {
    std::string named;
    std::istringstream lines(unit);
    bool inService = false;
    for (std::string line; std::getline(lines, line);) {
        if (line[0] == '[') inService = line == "[Service]";
        const size_t equals = line.find('=');
        if (inService && line[0] != '#' && equals != std::string::npos && !applied.count(line.substr(0, equals)))
            named += " " + line;
    }
    return named;
}

}  // namespace

int main(int argc, char** argv) {
    std::set<std::string> applied = {"SystemCallFilter", "SystemCallErrorNumber", "SystemCallArchitectures",
                                     "MemoryDenyWriteExecute"};
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--applied") {
        std::istringstream keys(argv[2]);
        for (std::string key; std::getline(keys, key, ',');) applied.insert(key);
        first = 3;
    }
    if (argc < first + 2) fail("usage: hvb-unit-filter [--applied KEY,...] UNIT_FILE COMMAND [ARGUMENT...]");
    std::ifstream in(argv[first]);
    if (!in) fail(std::string("cannot read ") + argv[first]);
    const std::string unit((std::istreambuf_iterator<char>(in)), {});
    say("not applied here, without systemd:" + unapplied(unit, applied));
    // The filter last: it may refuse prctl.
    applyMemoryDenyWriteExecute(unit);
    applySystemCallFilter(unit);
    ::execvp(argv[first + 1], argv + first + 1);
    fail(std::string("cannot run ") + argv[first + 1] + ": " + std::strerror(errno));
}
