#pragma once
// One camera serial number seen on USB: its model object in modelList.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "camera/StatusModel.h"
#include "camera/USBDevice.h"
#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

class HVBModel {
public:
    explicit HVBModel(std::string sn) : SN(std::move(sn)) {}

    const std::string SN;
    std::atomic<bool> isWebcamMode{false};
    std::atomic<bool> isModeChanging{false};

    std::string mountPoint() const;
    void setMountPoint(std::string node);
    std::shared_ptr<const USBDevice> usbInfo() const;
    void setUsbInfo(std::shared_ptr<const USBDevice> info);
    std::optional<StatusModel> statusInfo() const;
    void setStatusInfo(std::optional<StatusModel> status);

    // The status picture of a command family; none for other families.
    static std::optional<std::string> statusImageName(const std::string& family);
    // Waits on a background queue for the next driver service the watcher reports: after each
    // 1 s round, completion(true, service) as soon as one is there (a reference the receiver
    // releases), or completion(false, 0) after 50 rounds. Called exactly once.
    static void findDeviceInBackground(std::function<void(bool found, io_service_t service)> completion);

private:
    mutable std::mutex lock_;
    std::string mountPoint_;
    std::shared_ptr<const USBDevice> usbInfo_;
    std::optional<StatusModel> statusInfo_;
};

// Model code to command family; "Not Support" for anything else.
std::string familyName(const std::string& model);

}  // namespace hvb
