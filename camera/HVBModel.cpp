#include "camera/HVBModel.h"

#include <map>

#include "camera/USBWatcherHandler.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"

namespace hvb {

std::string HVBModel::mountPoint() const {
    std::lock_guard<std::mutex> guard(lock_);
    return mountPoint_;
}

void HVBModel::setMountPoint(std::string node) {
    std::lock_guard<std::mutex> guard(lock_);
    mountPoint_ = std::move(node);
}

std::shared_ptr<const USBDevice> HVBModel::usbInfo() const {
    std::lock_guard<std::mutex> guard(lock_);
    return usbInfo_;
}

void HVBModel::setUsbInfo(std::shared_ptr<const USBDevice> info) {
    std::lock_guard<std::mutex> guard(lock_);
    usbInfo_ = std::move(info);
}

std::optional<StatusModel> HVBModel::statusInfo() const {
    std::lock_guard<std::mutex> guard(lock_);
    return statusInfo_;
}

void HVBModel::setStatusInfo(std::optional<StatusModel> status) {
    std::lock_guard<std::mutex> guard(lock_);
    statusInfo_ = std::move(status);
}

std::optional<std::string> HVBModel::statusImageName(const std::string& family) {
    static const auto& images = *new const std::map<std::string, std::string>{
        {"HVBR4A", "img_Status_HVBR4"}, {"HVBR4B", "img_Status_HVBR4"}, {"HVBR4C", "img_Status_HVBR4"},
        {"HVBR7A", "img_Status_HVBR7"}, {"HVBS2A", "img_Status_HVBS2"}, {"HVBS8A", "img_Status_HVBS8"},
        {"HVBT3A", "img_Status_HVBT3"}, {"HVBT9A", "img_Status_HVBT9"},
    };
    auto it = images.find(family);
    if (it == images.end()) return std::nullopt;
    return it->second;
}

void HVBModel::findDeviceInBackground(std::function<void(bool, io_service_t)> completion) {
    USBWatcherHandler::shared().clearDeviceService();
    dispatch::globalQueue(dispatch::QoS::background).async([completion = std::move(completion)] {
        for (int counter = 1;; ++counter) {
            dispatch::pause(1000);
            foundation::print("FindHVB timerCounter = " + std::to_string(counter));
            if (counter >= 50) {
                completion(false, IO_OBJECT_NULL);
                return;
            }
            if (io_service_t service = USBWatcherHandler::shared().copyDeviceService()) {
                completion(true, service);
                return;
            }
        }
    });
}

std::string familyName(const std::string& model) {
    static const auto& families = *new const std::map<std::string, std::string>{
        {"HVBR4", "HVBR4A"},  {"HVBR4B", "HVBR4B"}, {"HW7312", "HVBR4B"}, {"HW7313", "HVBR4C"},
        {"HVBR7", "HVBR7A"},  {"HVBS8", "HVBS8A"},  {"HVBS2A", "HVBS2A"}, {"HW7331", "HVBS2A"},
        {"HW7332", "HVBS2A"}, {"HW7333", "HVBS2A"}, {"HW7334", "HVBS2A"}, {"HVBT3A", "HVBT3A"},
        {"HW7351", "HVBT3A"}, {"HW7352", "HVBT3A"}, {"HW7360", "HVBT9A"},
    };
    auto it = families.find(model);
    return it == families.end() ? "Not Support" : it->second;
}

}  // namespace hvb
