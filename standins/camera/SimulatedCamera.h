#pragma once
// A simulated camera as a SCSI device: it answers the four vendor command blocks the way a
// camera does, keeps a log of the last blocks (kLogCapacity of them, so a camera that stays
// plugged while it is polled holds a bounded record), and has knobs for the faults tests need. What a
// command code means is filled in per camera through the handler maps.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/iokit/kern/SCSIDeviceBackend.h"

namespace hvb::sim {

// The USB vendor id of the camera's maker.
constexpr uint16_t kCameraVendorID = 0x6D21;

struct CameraIdentity {
    std::string productName = "HVB R7";
    uint16_t vendorID = kCameraVendorID;
    uint16_t productID = 0x5000;  // 0x8612: webcam mode, no storage below the USB device
    std::string serialNumber = "HVBR7000000001";
    std::string vendorName = "Brevantis";
    uint32_t locationID = 0x14100000;
    std::vector<std::string> bsdNames = {"sdb", "sdb1"};  // whole disk, then partitions
};

enum class BlockKind { write, readPhase1, readPhase2, status, init, malformed };

struct BlockRecord {
    uint64_t sequence = 0;
    dispatch::Clock::time_point time;
    SCSICommandDescriptorBlock cdb{};
    uint8_t direction = 0;
    BlockKind kind = BlockKind::malformed;
    std::vector<uint8_t> data;  // bytes received (write) or answered (read, status)
    SCSIServiceResponse response = kSCSIServiceResponse_TASK_COMPLETE;
    SCSITaskStatus status = kSCSITaskStatus_GOOD;
    uint64_t realized = 0;

    uint8_t code() const { return cdb[12]; }
    uint32_t length() const {
        return (uint32_t{cdb[6]} << 24) | (uint32_t{cdb[7]} << 16) | (uint32_t{cdb[8]} << 8) | cdb[9];
    }
};

class SimulatedCamera : public SCSIDeviceBackend, public std::enable_shared_from_this<SimulatedCamera> {
public:
    static constexpr uint8_t kPhase1Fill = 0xEE;  // phase-1 replies carry nothing a decoder may use
    // Blocks the log holds; older ones make way. A bring-up takes a few hundred.
    static constexpr size_t kLogCapacity = 1024;

    // The reply to a read of `code` (cut or zero-padded to the requested length); nullopt
    // refuses the read with CHECK CONDITION.
    using ReadHandler = std::function<std::optional<std::vector<uint8_t>>(SimulatedCamera&, uint8_t code)>;
    // A write's payload; false refuses it with CHECK CONDITION.
    using WriteHandler = std::function<bool(SimulatedCamera&, uint8_t code, std::span<const uint8_t> payload)>;

    explicit SimulatedCamera(CameraIdentity identity = {});

    const CameraIdentity& identity() const { return identity_; }

    // ---- what the codes mean ----
    void setReadHandler(uint8_t code, ReadHandler handler);
    void setReply(uint8_t code, std::vector<uint8_t> reply);
    void setReplyText(uint8_t code, const std::string& text);  // without a terminating zero
    void setWriteHandler(uint8_t code, WriteHandler handler);
    // The last payload written to `code`, if any.
    std::optional<std::vector<uint8_t>> lastWrite(uint8_t code) const;

    // ---- knobs ----
    void setPollsBeforeCompletion(unsigned polls);                // every command
    void setPollsBeforeCompletion(uint8_t code, unsigned polls);  // one command code
    void setNeverFinish(bool never);
    // Word 0 of the next `polls` status replies (16 when well-formed), then 16 again.
    void setStatusWord0(uint32_t word0, unsigned polls = ~0u);
    void refuseCode(uint8_t code, int phase = 0);  // phase 0: every block of the code; 1 or 2: that read phase
    // Data transfers (writes and reads) move at most this many bytes, with status GOOD.
    void setShortTransfer(std::optional<uint32_t> maxBytes);
    // Status replies move at most this many bytes, with status GOOD.
    void setShortStatus(std::optional<uint32_t> maxBytes);
    // After answering a command of `code`, the camera stops answering; the next block fails
    // and the camera leaves the bus.
    void vanishAfterCommand(uint8_t code);
    // The n-th status poll from now (1-based) fails and the camera leaves the bus.
    void vanishAtPoll(unsigned n);

    // ---- state ----
    std::vector<BlockRecord> log() const;  // oldest first; sequence numbers show what made way
    size_t recordedBlockCount() const;
    void clearLog();
    std::string formatLog() const;
    unsigned statusPolls() const;
    bool isGone() const;
    void markGone();  // the bus calls this when the camera is unplugged

    // Called (without locks held) when the camera decides to leave the bus.
    void setVanishHandler(std::function<void()> handler);

    // ---- SCSIDeviceBackend ----
    SCSIExecuteResult execute(const SCSICommandDescriptorBlock& cdb, uint8_t direction, std::span<uint8_t> buffer,
                              uint32_t timeoutMs) override;
    std::vector<std::string> mediaBSDNames() const override;

private:
    SCSIExecuteResult answer(BlockRecord& record, const SCSICommandDescriptorBlock& cdb, uint8_t direction,
                             std::span<uint8_t> buffer, bool& vanishNow);
    void startCommand(uint8_t code);
    uint64_t capped(uint64_t requested) const;
    uint64_t cappedStatus(uint64_t requested) const;

    CameraIdentity identity_;
    mutable std::recursive_mutex lock_;  // handlers may call back into the camera
    std::map<uint8_t, ReadHandler> readHandlers_;
    std::map<uint8_t, WriteHandler> writeHandlers_;
    std::map<uint8_t, std::vector<uint8_t>> lastWrites_;
    std::deque<BlockRecord> log_;
    uint64_t nextSequence_ = 1;

    uint32_t completion_ = 1;
    unsigned pollsLeft_ = 0;
    unsigned defaultPolls_ = 0;
    std::map<uint8_t, unsigned> pollsByCode_;
    bool neverFinish_ = false;
    uint32_t statusWord0_ = 16;
    unsigned statusWord0Polls_ = 0;
    std::set<std::pair<uint8_t, int>> refused_;
    std::optional<uint32_t> shortTransfer_;
    std::optional<uint32_t> shortStatus_;
    std::optional<uint8_t> vanishAfterCode_;
    unsigned vanishAtPoll_ = 0;
    unsigned statusPolls_ = 0;
    std::optional<uint8_t> phase1Code_;
    bool dark_ = false;
    bool gone_ = false;
    std::function<void()> onVanish_;
};

}  // namespace hvb::sim
