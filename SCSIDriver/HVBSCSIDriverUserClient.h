#pragma once
// The driver's user client: six external methods (open, close, init, read, write, status)
// that move data between the application's fixed 256-byte structures and the driver.
#include "SCSIDriver/HVBSCSIDriver.h"
#include "platform/iokit/kern/IOUserClient.h"

// Every transfer fits the 256-byte structures that carry it.
constexpr UInt32 kM37MaxTransferLength = 256;
constexpr uint32_t kM37MethodCount = 6;

class com_brevantis_driver_HVBSCSIDriverUserClient : public IOUserClient {
    OSDeclareDefaultStructors(com_brevantis_driver_HVBSCSIDriverUserClient)
public:
    bool willTerminate(IOService* provider, IOOptionBits options) override;
    bool didTerminate(IOService* provider, IOOptionBits options, bool* defer) override;
    bool start(IOService* provider) override;
    void stop(IOService* provider) override;
    bool terminate(IOOptionBits options = 0) override;
    bool finalize(IOOptionBits options) override;
    IOReturn externalMethod(uint32_t selector, IOExternalMethodArguments* arguments,
                            IOExternalMethodDispatch* dispatch = nullptr, OSObject* target = nullptr,
                            void* reference = nullptr) override;
    bool initWithTask(task_t owningTask, void* securityID, UInt32 type) override;
    IOReturn clientClose() override;
    IOReturn clientDied() override;

    virtual IOReturn closeUserClient();
    virtual IOReturn openUserClient();
    virtual IOReturn M37IO(const UInt8* data, UInt8 cmd, UInt32 length, UInt8 functionCallMessage, M37Kind kind,
                           IOExternalMethodArguments* arguments, UInt8 requestType);

    static IOReturn sOpenUserClient(OSObject* target, void* reference, IOExternalMethodArguments* arguments);
    static IOReturn sCloseUserClient(OSObject* target, void* reference, IOExternalMethodArguments* arguments);
    static IOReturn sInit(OSObject* target, void* reference, IOExternalMethodArguments* arguments);
    static IOReturn sRead(OSObject* target, void* reference, IOExternalMethodArguments* arguments);
    static IOReturn sWrite(OSObject* target, void* reference, IOExternalMethodArguments* arguments);
    static IOReturn sServiceStatus(OSObject* target, void* reference, IOExternalMethodArguments* arguments);

    static const IOExternalMethodDispatch Methods[kM37MethodCount];

protected:
    // Held (retained) from start until the client is freed, so a close after the camera has
    // gone still finds its provider.
    com_brevantis_driver_HVBSCSIDriver* fProvider = nullptr;
    task_t fTask = nullptr;

    void free() override;
};
