#include "platform/iokit/kern/IOSCSIPeripheralDeviceType00.h"

#include <algorithm>
#include <atomic>

#include "platform/iokit/kern/FailureHook.h"

struct SCSITask {
    bool inUse = false;
    SCSICommandDescriptorBlock cdb{};
    uint32_t timeoutMs = 0;
    uint8_t direction = kSCSIDataTransfer_NoDataTransfer;
    IOMemoryDescriptor* buffer = nullptr;  // retained while set
    uint64_t requested = 0;
    SCSIServiceResponse response = kSCSIServiceResponse_Request_In_Process;
    SCSITaskStatus status = kSCSITaskStatus_No_Status;
    uint64_t realized = 0;

    void reset() {
        if (buffer) buffer->release();
        *this = SCSITask{};
    }
};

namespace {
std::atomic<int> gFailStart{0};
}  // namespace

using iokit::takeFailure;

// ---- nub ---------------------------------------------------------------------------------------

OSDefineMetaClassAndStructors(IOSCSIPeripheralDeviceNub, IOService);

void IOSCSIPeripheralDeviceNub::setBackend(std::shared_ptr<SCSIDeviceBackend> backend) {
    std::lock_guard<std::mutex> guard(backendLock_);
    backend_ = std::move(backend);
}

std::shared_ptr<SCSIDeviceBackend> IOSCSIPeripheralDeviceNub::backend() const {
    std::lock_guard<std::mutex> guard(backendLock_);
    return backend_;
}

bool IOSCSIPeripheralDeviceNub::matchPropertyTable(OSDictionary* table, SInt32*) {
    auto* wanted = OSDynamicCast(OSNumber, table ? table->getObject(kIOPropertySCSIPeripheralDeviceType) : nullptr);
    if (!wanted) return true;
    OSObject* mine = copyProperty(kIOPropertySCSIPeripheralDeviceType);
    bool equal = mine && wanted->isEqualTo(mine);
    if (mine) mine->release();
    return equal;
}

OSDefineMetaClassAndStructors(IOBlockStorageServices, IOService);
OSDefineMetaClassAndStructors(IOBlockStorageDriver, IOService);
OSDefineMetaClassAndStructors(IOMedia, IOService);

// ---- peripheral driver base ---------------------------------------------------------------------

OSDefineMetaClassAndStructors(IOSCSIPeripheralDeviceType00, IOService);

void IOSCSIPeripheralDeviceType00::failNextStart() { gFailStart.fetch_add(1); }

void IOSCSIPeripheralDeviceType00::setTaskPoolSize(unsigned size) {
    std::lock_guard<std::mutex> guard(poolLock_);
    poolSize_ = size;
}

IOService* IOSCSIPeripheralDeviceType00::probe(IOService* provider, SInt32* score) {
    return IOService::probe(provider, score);
}

bool IOSCSIPeripheralDeviceType00::start(IOService* provider) {
    if (takeFailure(gFailStart)) return false;
    auto* nub = OSDynamicCast(IOSCSIPeripheralDeviceNub, provider);
    if (!nub || !IOService::start(provider)) return false;
    auto backend = nub->backend();
    if (!backend) return false;
    {
        std::lock_guard<std::mutex> guard(poolLock_);
        backend_ = backend;
    }
    if (!InitializeDeviceSupport()) return false;
    publishMedia(backend->mediaBSDNames());
    return true;
}

void IOSCSIPeripheralDeviceType00::stop(IOService* provider) {
    {
        std::lock_guard<std::mutex> guard(poolLock_);
        backend_.reset();
    }
    IOService::stop(provider);
}

bool IOSCSIPeripheralDeviceType00::InitializeDeviceSupport() { return true; }

void IOSCSIPeripheralDeviceType00::publishMedia(const std::vector<std::string>& bsdNames) {
    if (bsdNames.empty()) return;
    auto* services = new IOBlockStorageServices;
    services->init();
    auto* storage = new IOBlockStorageDriver;
    storage->init();
    std::vector<IOService*> made{services, storage};
    bool ok = services->attach(this) && storage->attach(services);
    IOService* whole = nullptr;
    for (size_t i = 0; ok && i < bsdNames.size(); ++i) {
        auto* media = new IOMedia;
        media->init();
        media->setName(bsdNames[i].c_str());
        media->setProperty(kIOBSDNameKey, bsdNames[i].c_str());
        media->setProperty("Whole", i == 0);
        ok = media->attach(i == 0 ? storage : whole);
        if (i == 0) whole = media;
        made.push_back(media);
    }
    for (auto* service : made) {
        if (ok) service->registerService();
        service->release();  // held by the attachments
    }
}

SCSITaskIdentifier IOSCSIPeripheralDeviceType00::GetSCSITask() {
    std::lock_guard<std::mutex> guard(poolLock_);
    size_t inUse = std::count_if(pool_.begin(), pool_.end(), [](auto& task) { return task->inUse; });
    if (inUse >= poolSize_) return nullptr;
    for (auto& task : pool_) {
        if (!task->inUse) {
            task->inUse = true;
            return task.get();
        }
    }
    pool_.push_back(std::make_unique<SCSITask>());
    pool_.back()->inUse = true;
    return pool_.back().get();
}

void IOSCSIPeripheralDeviceType00::ReleaseSCSITask(SCSITaskIdentifier task) {
    if (!task) return;
    std::lock_guard<std::mutex> guard(poolLock_);
    for (auto& owned : pool_) {
        if (owned.get() == task) owned->reset();
    }
}

bool IOSCSIPeripheralDeviceType00::SetCommandDescriptorBlock(SCSITaskIdentifier task, UInt8 b0, UInt8 b1, UInt8 b2,
                                                             UInt8 b3, UInt8 b4, UInt8 b5, UInt8 b6, UInt8 b7,
                                                             UInt8 b8, UInt8 b9, UInt8 b10, UInt8 b11, UInt8 b12,
                                                             UInt8 b13, UInt8 b14, UInt8 b15) {
    if (!task) return false;
    task->cdb = {b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15};
    return true;
}

bool IOSCSIPeripheralDeviceType00::SetTimeoutDuration(SCSITaskIdentifier task, UInt32 timeoutMs) {
    if (!task) return false;
    task->timeoutMs = timeoutMs;
    return true;
}

bool IOSCSIPeripheralDeviceType00::SetDataTransferDirection(SCSITaskIdentifier task, UInt8 direction) {
    if (!task || direction > kSCSIDataTransfer_FromTargetToInitiator) return false;
    task->direction = direction;
    return true;
}

bool IOSCSIPeripheralDeviceType00::SetDataBuffer(SCSITaskIdentifier task, IOMemoryDescriptor* buffer) {
    if (!task) return false;
    if (buffer) buffer->retain();
    if (task->buffer) task->buffer->release();
    task->buffer = buffer;
    return true;
}

bool IOSCSIPeripheralDeviceType00::SetRequestedDataTransferCount(SCSITaskIdentifier task, UInt64 count) {
    if (!task) return false;
    task->requested = count;
    return true;
}

SCSIServiceResponse IOSCSIPeripheralDeviceType00::SendCommand(SCSITaskIdentifier task, UInt32 timeoutMs) {
    if (!task) return kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE;
    std::shared_ptr<SCSIDeviceBackend> backend;
    {
        std::lock_guard<std::mutex> guard(poolLock_);
        backend = backend_;
    }
    task->realized = 0;
    if (!backend || isInactive()) {
        task->response = kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE;
        task->status = kSCSITaskStatus_DeviceNotPresent;
        return task->response;
    }
    // The device sees its own copy of the data, never the caller's memory: a descriptor over
    // read-only memory stays untouched, and a phase never runs past the descriptor.
    uint64_t count = task->direction == kSCSIDataTransfer_NoDataTransfer ? 0 : task->requested;
    if (task->buffer) count = std::min<uint64_t>(count, task->buffer->getLength());
    else count = 0;
    std::vector<uint8_t> data(count, 0);
    if (task->direction == kSCSIDataTransfer_FromInitiatorToTarget && count) {
        task->buffer->readBytes(0, data.data(), count);
    }
    SCSIExecuteResult result = backend->execute(task->cdb, task->direction, std::span<uint8_t>(data),
                                                timeoutMs ? timeoutMs : task->timeoutMs);
    task->response = result.response;
    task->status = result.status;
    task->realized = std::min<uint64_t>(result.realized, count);
    if (task->direction == kSCSIDataTransfer_FromTargetToInitiator && task->realized) {
        task->buffer->writeBytes(0, data.data(), task->realized);
    }
    return task->response;
}

SCSITaskStatus IOSCSIPeripheralDeviceType00::GetTaskStatus(SCSITaskIdentifier task) {
    return task ? task->status : kSCSITaskStatus_No_Status;
}

UInt64 IOSCSIPeripheralDeviceType00::GetRealizedDataTransferCount(SCSITaskIdentifier task) {
    return task ? task->realized : 0;
}

void IOSCSIPeripheralDeviceType00::free() {
    {
        std::lock_guard<std::mutex> guard(poolLock_);
        for (auto& task : pool_) task->reset();
        pool_.clear();
        backend_.reset();
    }
    IOService::free();
}
