#pragma once
// The plug-in read: what protocol a camera speaks, who it is, its table, storage state, label,
// lock and encryption state and every setting its table offers, into a new device record.
#include <string>
#include <utility>

#include "camera/CommandTables.h"
#include "camera/DiskDriver_Parameter.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

constexpr uint32_t kTextReadLength = 200;
constexpr uint32_t kByteReadLength = 20;
constexpr int64_t kReadPauseMs = 50;
constexpr int64_t kEncryptionPauseMs = 150;
constexpr const char* kStorageErrorDefault = "Storage error, please format device.";

// The record and whether the run succeeded (the last read's transport result, or false where
// the run gave up). The storage-error dialog the run asks for is queued on the main queue, or,
// with `afterRead`, handed back there for the caller to queue once it has published the record.
std::pair<DeviceRecord, bool> readDeviceInfo(io_service_t service, dispatch::Task* afterRead = nullptr);

// The label from the first label command the table has; empty when none. `unicode` tells
// whether it came in the UTF-16 hex form.
std::string readUserLabel(io_service_t service, const CommandDictionary& table, bool& success,
                          bool* unicode = nullptr);
// Every setting the table offers; -1 for the others and for reads the transport failed.
std::shared_ptr<sDeviceParam> readDeviceSettings(io_service_t service, const CommandDictionary& table,
                                                 bool& success);
// "+05:30" -> the raw value of P_05_30; -1 when no time-zone option has that name.
int64_t timeZoneRawValue(const std::string& text);
// On the main queue: the disk-format dialog for a record whose SD card reported an error.
void showStorageErrorDialog(const DeviceRecord& record, const CommandDictionary& table);
// The same as a task to run on the main queue.
dispatch::Task storageErrorDialog(const DeviceRecord& record, const CommandDictionary& table);

}  // namespace hvb
