#include "platform/services/HardwareOverview.h"

#include <openssl/evp.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace services {
namespace {

// Printable ASCII only, trimmed: a value must stay on its own line and keep the separators.
std::string clean(const std::string& s) {
    std::string out;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7F) ? c : ' ';
    }
    const auto b = out.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return out.substr(b, out.find_last_not_of(' ') - b + 1);
}

std::string firstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return clean(line);
}

std::string cpuModelName(const std::filesystem::path& cpuinfo) {
    std::ifstream in(cpuinfo);
    std::string line;
    // "model name" on x86; other architectures name the part differently.
    for (const char* key : {"model name", "Model", "cpu model", "Processor", "cpu"}) {
        in.clear();
        in.seekg(0);
        while (std::getline(in, line)) {
            const auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            if (clean(line.substr(0, colon)) == key) {
                std::string value = clean(line.substr(colon + 1));
                if (!value.empty()) return value;
            }
        }
    }
    return {};
}

}  // namespace

std::string uuidFromMachineId(const std::string& machineId) {
    const std::string input = "HalvetorBody_ToolBox hardware UUID\n" + machineId;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha256(), nullptr);
    digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x50);  // name-based version
    digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  digest[0], digest[1], digest[2], digest[3], digest[4], digest[5], digest[6], digest[7], digest[8],
                  digest[9], digest[10], digest[11], digest[12], digest[13], digest[14], digest[15]);
    return out;
}

HardwareOverview readHardwareOverview(const std::filesystem::path& root) {
    HardwareOverview o;
    utsname u{};
    const bool haveUname = uname(&u) == 0;

    o.modelIdentifier = firstLine(root / "sys/class/dmi/id/product_name");
    if (o.modelIdentifier.empty()) o.modelIdentifier = "Linux";

    o.processorName = cpuModelName(root / "proc/cpuinfo");
    if (o.processorName.empty()) o.processorName = haveUname ? clean(u.machine) : "unknown processor";
    if (o.processorName.empty()) o.processorName = "unknown processor";

    std::string id = firstLine(root / "etc/machine-id");
    if (id.empty()) id = firstLine(root / "var/lib/dbus/machine-id");
    if (id.empty()) {
        // Without a machine id the host name is the steadiest fact left.
        char host[256] = {0};
        if (gethostname(host, sizeof host - 1) == 0) id = std::string("host:") + host;
    }
    o.hardwareUUID = uuidFromMachineId(id);
    return o;
}

std::string formatHardwareOverview(const HardwareOverview& o) {
    std::ostringstream out;
    out << "Hardware:\n\n"
        << "    Hardware Overview:\n\n"
        << "      Model Identifier: " << o.modelIdentifier << "\n"
        << "      Processor Name: " << o.processorName << "\n"
        << "      Hardware UUID: " << o.hardwareUUID << "\n\n";
    return out.str();
}

}  // namespace services
