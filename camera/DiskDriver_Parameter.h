#pragma once
// The device record of one camera brought up: identity, state flags and its settings. Shared by
// every reader (records travel as shared_ptr); changes from worker threads go through the
// device state's lock (DeviceState::updateRecord).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "camera/sDeviceParam.h"

namespace hvb {

class DiskDriver_Parameter {
public:
    int64_t cut = 0;
    std::optional<std::string> diskLetter;
    std::optional<std::string> diskControllerName;
    std::optional<std::string> diskControllerPort;
    std::optional<std::string> diskPhysicalDrive;
    std::optional<std::string> diskInstanceID;
    std::shared_ptr<sDeviceParam> DeviceParam;
    std::optional<std::string> ModelName;
    std::optional<bool> isDeviceEncryption;
    std::optional<bool> isReady;
    std::optional<bool> isLockStatus;
    std::optional<bool> isNeedBackup;
    std::optional<bool> isFormatBlock;
    std::optional<bool> isFWUpgradeBlock;
    bool isSDCardError = false;
    std::optional<int64_t> DeviceActCmd;
    std::optional<std::string> UID;
    std::optional<std::string> FWVersion;
    std::optional<std::string> UserLabel;
    std::optional<std::string> DeviceInfo_Name;
    std::optional<int64_t> Usb_Insert_RetryCnt;
    bool isOldFirmware = false;
    uint64_t clusterSize = 0;
    bool isSupportRussian = false;
    bool isCustomizedFirmware = false;
    std::optional<int64_t> FWVersionNumber;
    bool isUserLabelUnicode = false;
    int64_t passwordErrorCnt = 0;

    // "<ModelName>Cmd_<cut>"; empty without a model.
    std::string commandTableName() const;
    // A format or firmware upgrade holds the camera through its own reboot.
    bool isBlockedForRemoval() const { return isFormatBlock.value_or(false) || isFWUpgradeBlock.value_or(false); }
};

using DeviceRecord = std::shared_ptr<DiskDriver_Parameter>;

}  // namespace hvb
