#pragma once
// The application's client of the driver's user client: one connection per transfer, then a
// second one that polls the camera until it reports the command finished.
#include <atomic>
#include <cstdint>

#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

// The user client's selectors.
enum : uint32_t {
    kM37OpenUserClientMethod = 0,
    kM37CloseUserClientMethod = 1,
    kM37InitMethod = 2,
    kM37ReadMethod = 3,
    kM37WriteMethod = 4,
    kM37ServiceStatusMethod = 5,
};

constexpr const char* kDriverServiceClassName = "com_brevantis_driver_HVBSCSIDriver";
constexpr uint32_t kUserClientStructureSize = 256;  // every transfer fits in it
constexpr uint32_t kStatusReplyLength = 16;
constexpr int64_t kReadPhasePauseMs = 50;
constexpr int64_t kStatusPollPauseMs = 100;
constexpr int kStatusPollCount = 600;

// Whether the last status poll anywhere in the process got an answer (true at start). Each
// wait keeps its own flag; this mirrors the latest poll for readers that want it.
extern std::atomic<bool> deviceAvailable;

// How a command ended: the camera reported completion, the camera stopped answering (rebooted,
// formatted, unplugged), the camera refused it, or the command could not be carried or never
// finished.
enum class CommandOutcome { completed, deviceGone, refused, failed };

// Completed, or the camera went away afterwards (a command that reboots it ends so).
inline bool carried(CommandOutcome outcome) {
    return outcome == CommandOutcome::completed || outcome == CommandOutcome::deviceGone;
}

// Sends `len` bytes (at most 256) as the payload of `cmd`, then waits. True unless it failed
// or the camera refused it; a camera that went away afterwards counts as done.
bool userClientWrite(io_service_t service, uint8_t cmd, const uint8_t* data, uint32_t len);
CommandOutcome userClientWriteOutcome(io_service_t service, uint8_t cmd, const uint8_t* data, uint32_t len);

// Reads a `len`-byte reply (at most 256) of `cmd` into `out` in two phases, then waits. On
// failure `out` holds zeros.
bool userClientRead(io_service_t service, uint8_t cmd, uint8_t* out, uint32_t len);
CommandOutcome userClientReadOutcome(io_service_t service, uint8_t cmd, uint8_t* out, uint32_t len);

// One status poll on an open connection: the completion word, or 0 (not finished, malformed
// reply, failed call). Updates `deviceAvailable`.
uint32_t userClientServiceStatus(io_connect_t connection);

// Polls until the camera finished its last command (or went away): true; false when no
// connection could be used or after 601 polls (about a minute).
bool userClientWaitReady(io_service_t service);
CommandOutcome userClientWaitReadyOutcome(io_service_t service);

// The index-th driver service in the platform's order (the caller releases it), or 0.
io_service_t findDriverService(int index);

// A command may hold its camera's gate for up to a minute (format and reboot waits), so one
// issued on the main thread while the application's event loop runs would freeze every window.
// Once the application's loop runs (dispatch::mainEventLoopRunning()), such a command aborts
// with a message naming it in debug and test builds, and is logged once in release builds.
enum class MainThreadCommandCheck { ignore, abort, logOnce };
#ifdef NDEBUG
constexpr MainThreadCommandCheck kDefaultMainThreadCommandCheck = MainThreadCommandCheck::logOnce;
#else
constexpr MainThreadCommandCheck kDefaultMainThreadCommandCheck = MainThreadCommandCheck::abort;
#endif
void setMainThreadCommandCheck(MainThreadCommandCheck action);

}  // namespace hvb
