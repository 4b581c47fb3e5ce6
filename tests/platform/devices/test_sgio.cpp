// SG_IO requests and what their outcomes mean to a SCSI task, with the system calls replaced.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/devices/linux/SgIoBackend.h"

using devices::SgIoBackend;

namespace {

const SCSICommandDescriptorBlock kStatusCdb = {0xC5, 0x07, 0, 0, 0, 0, 0, 0, 0, 0x10, 0xFF, 0x04, 0, 0, 0, 0};
const SCSICommandDescriptorBlock kWriteCdb = {0xC5, 0x07, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x02, 0x03, 0x2A, 0, 0, 0};

sg_io_hdr_t completed(uint8_t status = 0, int resid = 0, uint16_t host = 0, uint16_t driver = 0,
                      int direction = SG_DXFER_FROM_DEV) {
    sg_io_hdr_t hdr{};
    hdr.dxfer_direction = direction;
    hdr.status = status;
    hdr.resid = resid;
    hdr.host_status = host;
    hdr.driver_status = driver;
    return hdr;
}

// The backend with a fake node: records what reached SG_IO and answers as told.
struct FakeNode {
    std::vector<std::string> opened;
    int closes = 0;
    int openErrno = 0;
    std::vector<sg_io_hdr_t> requests;
    std::vector<std::vector<uint8_t>> cdbs;
    std::vector<std::vector<uint8_t>> dataOut;
    std::function<int(sg_io_hdr_t*)> answer = [](sg_io_hdr_t*) { return 0; };

    void attach(SgIoBackend& backend) {
        backend.setSystemCalls(
            [this](const std::string& path) {
                opened.push_back(path);
                if (openErrno) {
                    errno = openErrno;
                    return -1;
                }
                return 42;
            },
            [this](int fd, sg_io_hdr_t* hdr) {
                EXPECT_EQ(fd, 42);
                requests.push_back(*hdr);
                cdbs.emplace_back(hdr->cmdp, hdr->cmdp + hdr->cmd_len);
                if (hdr->dxfer_direction == SG_DXFER_TO_DEV) {
                    auto* p = static_cast<uint8_t*>(hdr->dxferp);
                    dataOut.emplace_back(p, p + hdr->dxfer_len);
                }
                return answer(hdr);
            },
            [this](int fd) {
                EXPECT_EQ(fd, 42);
                ++closes;
            });
    }
};

}  // namespace

TEST(SgIoRequest, CarriesTheSixteenByteBlockDirectionLengthAndTimeout) {
    uint8_t sense[devices::kSgSenseSize];
    std::vector<uint8_t> in(16);
    sg_io_hdr_t hdr = devices::makeSgIoRequest(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, in, 30000, sense);
    EXPECT_EQ(hdr.interface_id, 'S');
    EXPECT_EQ(hdr.cmd_len, 16);
    EXPECT_EQ(0, std::memcmp(hdr.cmdp, kStatusCdb.data(), 16));
    EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(hdr.dxfer_len, 16u);
    EXPECT_EQ(hdr.dxferp, in.data());
    EXPECT_EQ(hdr.timeout, 30000u);
    EXPECT_EQ(hdr.mx_sb_len, devices::kSgSenseSize);
    EXPECT_EQ(hdr.sbp, sense);

    std::vector<uint8_t> out(4);
    hdr = devices::makeSgIoRequest(kWriteCdb, kSCSIDataTransfer_FromInitiatorToTarget, out, 5000, sense);
    EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(hdr.dxfer_len, 4u);
    EXPECT_EQ(hdr.timeout, 5000u);

    hdr = devices::makeSgIoRequest(kWriteCdb, kSCSIDataTransfer_NoDataTransfer, {}, 30000, sense);
    EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(hdr.dxfer_len, 0u);
    EXPECT_EQ(hdr.dxferp, nullptr);
    // A zero-length transfer has no data phase whatever direction the task names.
    hdr = devices::makeSgIoRequest(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, {}, 30000, sense);
    EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_NONE);
}

TEST(SgIoMapping, IoctlErrorsAreDeliveryFailures) {
    sg_io_hdr_t hdr = completed();
    auto r = devices::mapSgIoResult(-1, EIO, hdr, 16);
    EXPECT_EQ(r.response, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE);
    EXPECT_EQ(r.status, kSCSITaskStatus_DeliveryFailure);
    EXPECT_EQ(r.realized, 0u);
    r = devices::mapSgIoResult(-1, ETIMEDOUT, hdr, 16);
    EXPECT_EQ(r.response, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE);
    EXPECT_EQ(r.status, kSCSITaskStatus_TaskTimeoutOccurred);
    r = devices::mapSgIoResult(-1, ENODEV, hdr, 16);
    EXPECT_EQ(r.status, kSCSITaskStatus_DeviceNotPresent);
}

TEST(SgIoMapping, HostAndDriverBytes) {
    struct Case {
        uint16_t host, driver;
        SCSIServiceResponse response;
        SCSITaskStatus status;
    } cases[] = {
        {devices::kSgHostTimeOut, 0, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE,
         kSCSITaskStatus_TaskTimeoutOccurred},
        {0, devices::kSgDriverTimeout, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE,
         kSCSITaskStatus_TaskTimeoutOccurred},
        {devices::kSgHostNoConnect, 0, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE,
         kSCSITaskStatus_DeviceNotPresent},
        {0x07 /* DID_ERROR */, 0, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE,
         kSCSITaskStatus_DeliveryFailure},
        {0, 0x04 /* DRIVER_ERROR */, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE,
         kSCSITaskStatus_DeliveryFailure},
        // Sense data with a CHECK CONDITION: the target answered, the task completed.
        {0, devices::kSgDriverSense, kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_CHECK_CONDITION},
        // Retry suggestions in the high nibble do not make a failure.
        {0, 0x10 | devices::kSgDriverSense, kSCSIServiceResponse_TASK_COMPLETE, kSCSITaskStatus_CHECK_CONDITION},
    };
    for (const Case& c : cases) {
        sg_io_hdr_t hdr = completed(c.response == kSCSIServiceResponse_TASK_COMPLETE ? 0x02 : 0, 0, c.host, c.driver);
        auto r = devices::mapSgIoResult(0, 0, hdr, 16);
        EXPECT_EQ(r.response, c.response) << "host " << c.host << " driver " << c.driver;
        EXPECT_EQ(r.status, c.status) << "host " << c.host << " driver " << c.driver;
    }
}

TEST(SgIoMapping, CompletedTaskGivesStatusByteAndLengthMinusResidue) {
    auto r = devices::mapSgIoResult(0, 0, completed(0x00, 0), 256);
    EXPECT_EQ(r.response, kSCSIServiceResponse_TASK_COMPLETE);
    EXPECT_EQ(r.status, kSCSITaskStatus_GOOD);
    EXPECT_EQ(r.realized, 256u);
    r = devices::mapSgIoResult(0, 0, completed(0x00, 226), 256);  // a 30-byte answer
    EXPECT_EQ(r.realized, 30u);
    r = devices::mapSgIoResult(0, 0, completed(0x08, 0), 16);
    EXPECT_EQ(r.response, kSCSIServiceResponse_TASK_COMPLETE);
    EXPECT_EQ(r.status, kSCSITaskStatus_BUSY);
    // A residue the kernel should never report stays within the request.
    EXPECT_EQ(devices::mapSgIoResult(0, 0, completed(0, -5), 16).realized, 16u);
    EXPECT_EQ(devices::mapSgIoResult(0, 0, completed(0, 999), 16).realized, 0u);
    EXPECT_EQ(devices::mapSgIoResult(0, 0, completed(0, 0, 0, 0, SG_DXFER_NONE), 0).realized, 0u);
}

TEST(SgIoBackendTest, StatusCommandReadsTheReplyAndKeepsSense) {
    FakeNode node;  // outlives the backend, which closes the node it holds
    SgIoBackend backend("/dev/sg7");
    node.attach(backend);
    node.answer = [](sg_io_hdr_t* hdr) {
        uint8_t reply[16] = {16, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
        std::memcpy(hdr->dxferp, reply, 16);
        hdr->status = 0;
        hdr->resid = 0;
        return 0;
    };
    std::vector<uint8_t> buffer(16, 0xAA);
    auto r = backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000);
    EXPECT_EQ(r.response, kSCSIServiceResponse_TASK_COMPLETE);
    EXPECT_EQ(r.status, kSCSITaskStatus_GOOD);
    EXPECT_EQ(r.realized, 16u);
    EXPECT_EQ(buffer[0], 16);
    EXPECT_EQ(buffer[8], 1);
    ASSERT_EQ(node.opened.size(), 1u);
    EXPECT_EQ(node.opened[0], "/dev/sg7");
    EXPECT_EQ(node.closes, 0);  // kept open for the next command
    ASSERT_EQ(node.cdbs.size(), 1u);
    EXPECT_EQ(node.cdbs[0], std::vector<uint8_t>(kStatusCdb.begin(), kStatusCdb.end()));
    EXPECT_EQ(node.requests[0].timeout, 30000u);

    // A refused command: CHECK CONDITION with sense bytes, kept for the log.
    node.answer = [](sg_io_hdr_t* hdr) {
        auto* sense = hdr->sbp;
        sense[0] = 0x70;
        sense[2] = 0x05;  // ILLEGAL REQUEST
        hdr->sb_len_wr = 18;
        hdr->status = 0x02;
        hdr->driver_status = devices::kSgDriverSense;
        hdr->resid = 16;
        return 0;
    };
    r = backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000);
    EXPECT_EQ(r.response, kSCSIServiceResponse_TASK_COMPLETE);
    EXPECT_EQ(r.status, kSCSITaskStatus_CHECK_CONDITION);
    EXPECT_EQ(r.realized, 0u);
    auto sense = backend.lastSense();
    ASSERT_EQ(sense.size(), 18u);
    EXPECT_EQ(sense[0], 0x70);
    EXPECT_EQ(sense[2], 0x05);
    // The refused command still went through the node, which stays open.
    EXPECT_EQ(node.opened.size(), 1u);
    EXPECT_EQ(node.closes, 0);
    backend.markGone();
    EXPECT_EQ(node.closes, 1);
}

// A kept node is dropped after any failed command, so the next one opens it again; the device
// leaving, or the backend going, closes it.
TEST(SgIoBackendTest, NodeIsKeptBetweenCommandsAndReopenedAfterAFailure) {
    struct Case {
        const char* what;
        int ioctlResult;
        int ioctlErrno;
        uint16_t host;
        SCSITaskStatus status;
    };
    const Case cases[] = {
        {"ENODEV", -1, ENODEV, 0, kSCSITaskStatus_DeviceNotPresent},
        {"ENXIO", -1, ENXIO, 0, kSCSITaskStatus_DeviceNotPresent},
        {"EBADF", -1, EBADF, 0, kSCSITaskStatus_DeliveryFailure},
        {"ETIMEDOUT", -1, ETIMEDOUT, 0, kSCSITaskStatus_TaskTimeoutOccurred},
        {"no connect", 0, 0, devices::kSgHostNoConnect, kSCSITaskStatus_DeviceNotPresent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeNode node;
        {
            SgIoBackend backend("/dev/sg4");
            node.attach(backend);
            std::vector<uint8_t> buffer(16);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000).status,
                          kSCSITaskStatus_GOOD);
            }
            EXPECT_EQ(node.opened.size(), 1u);
            EXPECT_EQ(node.closes, 0);

            node.answer = [&](sg_io_hdr_t* hdr) {
                hdr->host_status = c.host;
                errno = c.ioctlErrno;
                return c.ioctlResult;
            };
            auto r = backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000);
            EXPECT_EQ(r.response, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE);
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(node.closes, 1);

            node.answer = [](sg_io_hdr_t*) { return 0; };
            EXPECT_EQ(backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000).status,
                      kSCSITaskStatus_GOOD);
            EXPECT_EQ(node.opened.size(), 2u);
            EXPECT_EQ(node.closes, 1);
        }
        EXPECT_EQ(node.closes, 2);  // the backend closed the node it held
    }
}

TEST(SgIoBackendTest, WriteSendsThePayload) {
    FakeNode node;  // outlives the backend, which closes the node it holds
    SgIoBackend backend("/dev/sg3");
    node.attach(backend);
    std::vector<uint8_t> payload = {1, 2, 3, 4};
    auto r = backend.execute(kWriteCdb, kSCSIDataTransfer_FromInitiatorToTarget, payload, 30000);
    EXPECT_EQ(r.response, kSCSIServiceResponse_TASK_COMPLETE);
    EXPECT_EQ(r.realized, 4u);
    ASSERT_EQ(node.dataOut.size(), 1u);
    EXPECT_EQ(node.dataOut[0], payload);
    EXPECT_EQ(node.requests[0].dxfer_direction, SG_DXFER_TO_DEV);
}

TEST(SgIoBackendTest, MissingNodeAndGoneDeviceFailWithoutSending) {
    FakeNode node;  // outlives the backend, which closes the node it holds
    SgIoBackend backend("/dev/sg9");
    node.attach(backend);
    node.openErrno = ENOENT;
    std::vector<uint8_t> buffer(16);
    auto r = backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000);
    EXPECT_EQ(r.response, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE);
    EXPECT_EQ(r.status, kSCSITaskStatus_DeviceNotPresent);
    EXPECT_TRUE(node.requests.empty());

    node.openErrno = EACCES;
    r = backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000);
    EXPECT_EQ(r.status, kSCSITaskStatus_DeliveryFailure);

    node.openErrno = 0;
    backend.markGone();
    size_t opens = node.opened.size();
    r = backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000);
    EXPECT_EQ(r.status, kSCSITaskStatus_DeviceNotPresent);
    EXPECT_EQ(node.opened.size(), opens);
    EXPECT_TRUE(node.requests.empty());
}

TEST(SgIoBackendTest, TimeoutReportedByTheKernel) {
    FakeNode node;  // outlives the backend, which closes the node it holds
    SgIoBackend backend("/dev/sg1");
    node.attach(backend);
    node.answer = [](sg_io_hdr_t* hdr) {
        hdr->host_status = devices::kSgHostTimeOut;
        hdr->resid = static_cast<int>(hdr->dxfer_len);
        return 0;
    };
    std::vector<uint8_t> buffer(256);
    auto r = backend.execute(kStatusCdb, kSCSIDataTransfer_FromTargetToInitiator, buffer, 30000);
    EXPECT_EQ(r.response, kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE);
    EXPECT_EQ(r.status, kSCSITaskStatus_TaskTimeoutOccurred);
    EXPECT_EQ(node.closes, 1);
}
