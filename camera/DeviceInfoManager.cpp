#include "camera/DeviceInfoManager.h"

#include <cstring>

#include "camera/DeviceState.h"
#include "camera/RegistryReader.h"
#include "camera/SerialMatch.h"
#include "platform/diskarb/DiskArbitration.h"

namespace hvb {

DeviceInfoManager& DeviceInfoManager::shared() {
    static DeviceInfoManager manager;
    return manager;
}

io_service_t DeviceInfoManager::driverService(const std::string& serial) const {
    auto services = RegistryReader::driverServices();
    io_service_t found = IO_OBJECT_NULL;
    for (io_service_t& service : services) {
        auto value = RegistryReader::serialNumber(service);
        if (!found && value && serialContains(*value, serial, MatchCase::sensitive)) {
            found = service;
            service = IO_OBJECT_NULL;  // handed to the caller
        }
    }
    for (io_service_t service : services)
        if (service) IOObjectRelease(service);
    return found;
}

std::optional<std::string> DeviceInfoManager::lookUp(const std::string& uid, std::string* nodeOut) const {
    for (int attempt = 0; attempt < 2; ++attempt) {
        io_service_t service = driverService(uid);
        if (!service) return std::nullopt;
        auto bsd = RegistryReader::bsdName(service);
        IOObjectRelease(service);
        if (!bsd) return std::nullopt;
        std::string node = "/dev/" + *bsd + (attempt == 0 ? "s1" : "");
        char buffer[128];
        if (volumePathForBSDName(node.c_str(), buffer)) {
            if (nodeOut) *nodeOut = node;
            return std::string(buffer);
        }
    }
    return std::nullopt;
}

std::optional<std::string> DeviceInfoManager::mountPoint(const std::string& uid) const {
    std::string node;
    auto location = lookUp(uid, &node);
    if (location) {
        if (auto model = DeviceState::shared().findModel(uid)) model->setMountPoint(node);
    }
    return location;
}

std::optional<std::string> DeviceInfoManager::volumePath(const std::string& uid) const { return lookUp(uid, nullptr); }

bool volumePathForBSDName(const char* bsdName, char (&buffer)[128]) {
    if (!bsdName) return false;
    auto url = diskarb::volumeURL(bsdName);
    if (!url || url->size() > sizeof(buffer) - 1) return false;  // too long counts as not found
    std::memcpy(buffer, url->c_str(), url->size() + 1);
    return true;
}

}  // namespace hvb
