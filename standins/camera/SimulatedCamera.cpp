#include "standins/camera/SimulatedCamera.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hvb::sim {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

void putLE32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

// Which of the four blocks this is, judged strictly: anything else is malformed.
BlockKind classify(const SCSICommandDescriptorBlock& cdb, uint8_t direction, size_t size) {
    bool frame = cdb[0] == 0xC5 && cdb[1] == 0x07 && cdb[2] == 0 && cdb[3] == 0 && cdb[4] == 0 && cdb[5] == 0 &&
                 cdb[13] == 0 && cdb[14] == 0 && cdb[15] == 0;
    if (!frame) return BlockKind::malformed;
    uint32_t length = (uint32_t{cdb[6]} << 24) | (uint32_t{cdb[7]} << 16) | (uint32_t{cdb[8]} << 8) | cdb[9];
    bool sized = length == size;
    auto phase = [&](uint8_t dataDirection) {
        return sized && (length == 0 ? direction == kSCSIDataTransfer_NoDataTransfer : direction == dataDirection);
    };
    if (cdb[10] == 0x02 && cdb[11] == 0x03) {
        return phase(kSCSIDataTransfer_FromInitiatorToTarget) ? BlockKind::write : BlockKind::malformed;
    }
    if (cdb[10] == 0x02 && (cdb[11] == 0x01 || cdb[11] == 0x02)) {
        if (!phase(kSCSIDataTransfer_FromTargetToInitiator)) return BlockKind::malformed;
        return cdb[11] == 0x01 ? BlockKind::readPhase1 : BlockKind::readPhase2;
    }
    if (cdb[10] == 0xFF && cdb[11] == 0x04 && cdb[12] == 0 && length == 16 && sized &&
        direction == kSCSIDataTransfer_FromTargetToInitiator) {
        return BlockKind::status;
    }
    bool allZero = std::all_of(cdb.begin() + 6, cdb.begin() + 13, [](uint8_t b) { return b == 0; });
    if (allZero && direction == kSCSIDataTransfer_NoDataTransfer && size == 0) return BlockKind::init;
    return BlockKind::malformed;
}

const char* kindName(BlockKind kind) {
    switch (kind) {
        case BlockKind::write: return "write";
        case BlockKind::readPhase1: return "read1";
        case BlockKind::readPhase2: return "read2";
        case BlockKind::status: return "status";
        case BlockKind::init: return "init";
        case BlockKind::malformed: return "malformed";
    }
    return "?";
}

SCSIExecuteResult checkCondition() {
    return {kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_CHECK_CONDITION, 0};
}

}  // namespace

SimulatedCamera::SimulatedCamera(CameraIdentity identity) : identity_(std::move(identity)) {}

void SimulatedCamera::setReadHandler(uint8_t code, ReadHandler handler) {
    Guard guard(lock_);
    readHandlers_[code] = std::move(handler);
}

void SimulatedCamera::setReply(uint8_t code, std::vector<uint8_t> reply) {
    setReadHandler(code, [reply = std::move(reply)](SimulatedCamera&, uint8_t) { return reply; });
}

void SimulatedCamera::setReplyText(uint8_t code, const std::string& text) {
    setReply(code, std::vector<uint8_t>(text.begin(), text.end()));
}

void SimulatedCamera::setWriteHandler(uint8_t code, WriteHandler handler) {
    Guard guard(lock_);
    writeHandlers_[code] = std::move(handler);
}

std::optional<std::vector<uint8_t>> SimulatedCamera::lastWrite(uint8_t code) const {
    Guard guard(lock_);
    auto it = lastWrites_.find(code);
    if (it == lastWrites_.end()) return std::nullopt;
    return it->second;
}

void SimulatedCamera::setPollsBeforeCompletion(unsigned polls) {
    Guard guard(lock_);
    defaultPolls_ = polls;
}

void SimulatedCamera::setPollsBeforeCompletion(uint8_t code, unsigned polls) {
    Guard guard(lock_);
    pollsByCode_[code] = polls;
}

void SimulatedCamera::setNeverFinish(bool never) {
    Guard guard(lock_);
    neverFinish_ = never;
}

void SimulatedCamera::setStatusWord0(uint32_t word0, unsigned polls) {
    Guard guard(lock_);
    statusWord0_ = word0;
    statusWord0Polls_ = polls;
}

void SimulatedCamera::refuseCode(uint8_t code, int phase) {
    Guard guard(lock_);
    refused_.insert({code, phase});
}

void SimulatedCamera::setShortTransfer(std::optional<uint32_t> maxBytes) {
    Guard guard(lock_);
    shortTransfer_ = maxBytes;
}

void SimulatedCamera::setShortStatus(std::optional<uint32_t> maxBytes) {
    Guard guard(lock_);
    shortStatus_ = maxBytes;
}

void SimulatedCamera::vanishAfterCommand(uint8_t code) {
    Guard guard(lock_);
    vanishAfterCode_ = code;
}

void SimulatedCamera::vanishAtPoll(unsigned n) {
    Guard guard(lock_);
    vanishAtPoll_ = n ? statusPolls_ + n : 0;
}

std::vector<BlockRecord> SimulatedCamera::log() const {
    Guard guard(lock_);
    return {log_.begin(), log_.end()};
}

size_t SimulatedCamera::recordedBlockCount() const {
    Guard guard(lock_);
    return log_.size();
}

void SimulatedCamera::clearLog() {
    Guard guard(lock_);
    log_.clear();
}

std::string SimulatedCamera::formatLog() const {
    Guard guard(lock_);
    std::string out;
    if (log_.empty()) return out;
    auto start = log_.front().time;
    for (auto& record : log_) {
        char line[160];
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(record.time - start).count();
        std::snprintf(line, sizeof line, "#%llu +%lldus %-9s status=%u realized=%llu cdb=",
                      static_cast<unsigned long long>(record.sequence), static_cast<long long>(us),
                      kindName(record.kind), static_cast<unsigned>(record.status),
                      static_cast<unsigned long long>(record.realized));
        out += line;
        for (uint8_t b : record.cdb) {
            std::snprintf(line, sizeof line, "%02X", b);
            out += line;
        }
        out += " data=";
        for (uint8_t b : record.data) {
            std::snprintf(line, sizeof line, "%02X", b);
            out += line;
        }
        out += '\n';
    }
    return out;
}

unsigned SimulatedCamera::statusPolls() const {
    Guard guard(lock_);
    return statusPolls_;
}

bool SimulatedCamera::isGone() const {
    Guard guard(lock_);
    return gone_;
}

void SimulatedCamera::markGone() {
    Guard guard(lock_);
    gone_ = true;
}

void SimulatedCamera::setVanishHandler(std::function<void()> handler) {
    Guard guard(lock_);
    onVanish_ = std::move(handler);
}

std::vector<std::string> SimulatedCamera::mediaBSDNames() const { return identity_.bsdNames; }

uint64_t SimulatedCamera::capped(uint64_t requested) const {
    return shortTransfer_ ? std::min<uint64_t>(requested, *shortTransfer_) : requested;
}

uint64_t SimulatedCamera::cappedStatus(uint64_t requested) const {
    return shortStatus_ ? std::min<uint64_t>(requested, *shortStatus_) : requested;
}

void SimulatedCamera::startCommand(uint8_t code) {
    completion_ = 0;
    auto it = pollsByCode_.find(code);
    pollsLeft_ = it != pollsByCode_.end() ? it->second : defaultPolls_;
}

SCSIExecuteResult SimulatedCamera::execute(const SCSICommandDescriptorBlock& cdb, uint8_t direction,
                                           std::span<uint8_t> buffer, uint32_t) {
    SCSIExecuteResult result;
    bool vanishNow = false;
    std::function<void()> vanish;
    {
        Guard guard(lock_);
        BlockRecord record;
        record.sequence = nextSequence_++;
        record.time = dispatch::Clock::now();
        record.cdb = cdb;
        record.direction = direction;
        record.kind = classify(cdb, direction, buffer.size());
        if (gone_ || dark_) {
            result = {kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE, kSCSITaskStatus_DeviceNotPresent, 0};
            vanishNow = dark_ && !gone_;
        } else {
            result = answer(record, cdb, direction, buffer, vanishNow);
        }
        record.response = result.response;
        record.status = result.status;
        record.realized = result.realized;
        if (log_.size() >= kLogCapacity) log_.pop_front();
        log_.push_back(std::move(record));
        if (vanishNow) {
            dark_ = true;
            vanish = onVanish_;
        }
    }
    if (vanish) vanish();
    return result;
}

SCSIExecuteResult SimulatedCamera::answer(BlockRecord& record, const SCSICommandDescriptorBlock& cdb,
                                          uint8_t direction, std::span<uint8_t> buffer, bool& vanishNow) {
    const uint8_t code = cdb[12];
    auto refused = [&](int phase) { return refused_.count({code, 0}) || (phase && refused_.count({code, phase})); };
    switch (record.kind) {
        case BlockKind::malformed:
            return checkCondition();

        case BlockKind::init:
            return {kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_GOOD, 0};

        case BlockKind::write: {
            if (refused(0)) return checkCondition();
            uint64_t realized = capped(buffer.size());
            std::vector<uint8_t> payload(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(realized));
            record.data = payload;
            auto handler = writeHandlers_.find(code);
            if (handler != writeHandlers_.end() && !handler->second(*this, code, payload)) return checkCondition();
            lastWrites_[code] = std::move(payload);
            startCommand(code);
            if (vanishAfterCode_ == code) dark_ = true;
            return {kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_GOOD, realized};
        }

        case BlockKind::readPhase1: {
            if (refused(1)) return checkCondition();
            uint64_t realized = capped(buffer.size());
            std::fill(buffer.begin(), buffer.end(), 0);
            std::fill_n(buffer.begin(), realized, kPhase1Fill);
            record.data.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(realized));
            startCommand(code);
            phase1Code_ = code;
            return {kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_GOOD, realized};
        }

        case BlockKind::readPhase2: {
            auto handler = readHandlers_.find(code);
            bool known = handler != readHandlers_.end();
            if (refused(2)) return checkCondition();
            std::vector<uint8_t> reply;
            if (phase1Code_ == code && known) {
                auto answer = handler->second(*this, code);
                if (!answer) return checkCondition();
                reply = std::move(*answer);
            }
            // Unknown codes, and a phase 2 without its phase 1, answer zeros.
            phase1Code_.reset();
            uint64_t realized = capped(buffer.size());
            std::fill(buffer.begin(), buffer.end(), 0);
            std::copy_n(reply.begin(), std::min<uint64_t>(reply.size(), realized), buffer.begin());
            record.data.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(realized));
            if (vanishAfterCode_ == code) dark_ = true;
            return {kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_GOOD, realized};
        }

        case BlockKind::status: {
            ++statusPolls_;
            if (vanishAtPoll_ && statusPolls_ == vanishAtPoll_) {
                vanishAtPoll_ = 0;
                vanishNow = true;
                return {kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE, kSCSITaskStatus_DeviceNotPresent, 0};
            }
            uint32_t completion = 0;
            if (!neverFinish_) {
                if (pollsLeft_ > 0) {
                    --pollsLeft_;
                } else {
                    completion_ = 1;
                    completion = 1;
                }
            }
            uint8_t reply[16] = {};
            putLE32(reply, statusWord0Polls_ ? statusWord0_ : 16);
            if (statusWord0Polls_ && statusWord0Polls_ != ~0u) --statusWord0Polls_;
            putLE32(reply + 8, completion);
            uint64_t realized = cappedStatus(buffer.size());
            std::fill(buffer.begin(), buffer.end(), 0);
            std::memcpy(buffer.data(), reply, realized);
            record.data.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(realized));
            return {kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_GOOD, realized};
        }
    }
    (void)direction;
    return checkCondition();
}

}  // namespace hvb::sim
