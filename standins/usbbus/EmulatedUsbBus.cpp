#include "standins/usbbus/EmulatedUsbBus.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/dispatch/Dispatch.h"
#include "standins/usbbus/UmockdevPreload.h"

namespace hvb::sim {

namespace {

constexpr const char* kRootHub = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
constexpr uint16_t kNoConnect = 0x01;  // DID_NO_CONNECT
constexpr uint16_t kTimeOut = 0x03;    // DID_TIME_OUT
constexpr uint16_t kHostError = 0x07;  // DID_ERROR
constexpr uint16_t kDriverSense = 0x08;

std::string hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string diskName(int index) {
    std::string name = "sd";
    if (index >= 26) name += static_cast<char>('a' + index / 26 - 1);
    name += static_cast<char>('a' + index % 26);
    return name;
}

}  // namespace

struct EmulatedUsbBus::Testbed {
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::mutex lock;  // the testbed is driven from the tests' threads and the ioctl thread

    // One device in umockdev's text format; empty when it is added, else umockdev's reason.
    std::string add(const std::string& text) {
        GError* error = nullptr;
        std::lock_guard<std::mutex> guard(lock);
        if (umockdev_testbed_add_from_string(testbed, text.c_str(), &error)) return {};
        std::string reason = error && error->message ? error->message : "no reason given";
        if (error) g_error_free(error);
        return reason;
    }
    void uevent(const std::string& path, const char* action) {
        std::lock_guard<std::mutex> guard(lock);
        umockdev_testbed_uevent(testbed, path.c_str(), action);
    }
    void remove(const std::string& path) {
        std::lock_guard<std::mutex> guard(lock);
        umockdev_testbed_remove_device(testbed, path.c_str());
    }
};

// A plugged device; the ioctl thread holds one while it answers a call.
struct EmulatedUsbBus::Device {
    std::shared_ptr<SimulatedCamera> camera;  // null: not a camera
    std::string serial;
    Quirks quirks;
    int port = 0;
    std::string usbPath;
    std::string interfacePath;
    std::vector<std::string> scsiPaths;  // in the order they were added
    std::string node;                    // "/dev/sg2"
    std::string otherLunNode;            // the second LUN's, if any
    bool gone = false;
    std::vector<Fault> faults;
    std::vector<std::shared_ptr<Held>> held;
    std::mutex probeLock;  // held while its SCSI nodes are added or it is removed
};

// An SG_IO call that has not completed.
struct EmulatedUsbBus::Held {
    UMockdevIoctlClient* client = nullptr;  // referenced
    UMockdevIoctlData* header = nullptr;    // referenced
    ~Held() {
        if (header) umockdev_ioctl_data_unref(header);
        if (client) g_object_unref(client);
    }
};

// One SG_IO call: the caller's header, command, data and sense buffers as umockdev reaches them.
struct EmulatedUsbBus::IoctlCall {
    UMockdevIoctlClient* client;
    std::vector<UMockdevIoctlData*> resolved;
    UMockdevIoctlData* header = nullptr;
    sg_io_hdr_t* hdr = nullptr;
    UMockdevIoctlData* command = nullptr;
    UMockdevIoctlData* data = nullptr;

    explicit IoctlCall(UMockdevIoctlClient* c) : client(c) {}
    ~IoctlCall() {
        for (auto* d : resolved) umockdev_ioctl_data_unref(d);
    }
    UMockdevIoctlData* resolve(UMockdevIoctlData* parent, size_t offset, size_t length) {
        GError* error = nullptr;
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(parent, offset, length, &error);
        if (error) g_error_free(error);
        if (d) resolved.push_back(d);
        return d;
    }
    void finish(long result, int error) { umockdev_ioctl_client_complete(client, result, error); }

    // Reads what the caller passed; when it is no SG_IO call the kernel would take, the call is
    // finished with the kernel's error and false returned.
    bool read() {
        header = resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(sg_io_hdr_t));
        if (!header) return finish(-1, EFAULT), false;
        hdr = reinterpret_cast<sg_io_hdr_t*>(header->data);
        if (hdr->interface_id != 'S') return finish(-1, ENOSYS), false;
        if (hdr->cmd_len < 6 || hdr->cmd_len > 16 || !hdr->cmdp) return finish(-1, EMSGSIZE), false;
        command = resolve(header, offsetof(sg_io_hdr_t, cmdp), hdr->cmd_len);
        if (!command) return finish(-1, EFAULT), false;
        if (hdr->dxfer_direction != SG_DXFER_NONE && hdr->dxfer_len > 0) {
            data = resolve(header, offsetof(sg_io_hdr_t, dxferp), hdr->dxfer_len);
            if (!data) return finish(-1, EFAULT), false;
        }
        hdr->info = SG_INFO_OK;
        hdr->duration = 1;
        hdr->sb_len_wr = 0;
        hdr->masked_status = 0;
        hdr->msg_status = 0;
        return true;
    }
    // The sense buffer only when there is sense to write: each buffer reached costs a round trip
    // to the caller's memory and back.
    uint8_t* sense() {
        if (hdr->mx_sb_len == 0 || !hdr->sbp) return nullptr;
        UMockdevIoctlData* senseData = resolve(header, offsetof(sg_io_hdr_t, sbp), hdr->mx_sb_len);
        return senseData ? senseData->data : nullptr;
    }
};

namespace {

// What the kernel writes back for a command that ended at the host adapter.
void hostFailure(sg_io_hdr_t& hdr, uint16_t hostStatus) {
    hdr.status = 0;
    hdr.masked_status = 0;
    hdr.host_status = hostStatus;
    hdr.driver_status = 0;
    hdr.sb_len_wr = 0;
    hdr.resid = static_cast<int>(hdr.dxfer_len);
    hdr.info |= SG_INFO_CHECK;
}

// CHECK CONDITION with fixed-format sense (ILLEGAL REQUEST, INVALID FIELD IN CDB), nothing moved.
void checkCondition(sg_io_hdr_t& hdr, uint8_t* sense) {
    hdr.status = 0x02;
    hdr.masked_status = 0x01;
    hdr.host_status = 0;
    hdr.driver_status = kDriverSense;
    hdr.resid = static_cast<int>(hdr.dxfer_len);
    hdr.info |= SG_INFO_CHECK;
    uint8_t fixed[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
    hdr.sb_len_wr = sense ? static_cast<unsigned char>(std::min<unsigned>(hdr.mx_sb_len, sizeof fixed)) : 0;
    if (sense) std::memcpy(sense, fixed, hdr.sb_len_wr);
}

}  // namespace

std::string EmulatedUsbBus::unavailableReason() {
    if (!underUmockdevPreload()) {
        auto library = umockdevPreloadLibrary();
        if (!library) return "umockdev's preload library (libumockdev-preload.so) is not installed";
        return "this process does not run under umockdev's preload library";
    }
    return {};
}

EmulatedUsbBus::EmulatedUsbBus(int64_t scsiDelayMs) : scsiDelayMs_(scsiDelayMs) {
    if (!unavailableReason().empty()) return;
    auto* testbed = new Testbed;
    testbed->testbed = umockdev_testbed_new();
    testbed->handler = umockdev_ioctl_base_new();
    using Callback = gboolean (*)(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer);
    Callback callback = [](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) -> gboolean {
        return static_cast<EmulatedUsbBus*>(self)->answer(client);
    };
    g_signal_connect(testbed->handler, "handle-ioctl", G_CALLBACK(callback), this);
    testbed_ = testbed;
    add(kRootHub, {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"BUSNUM", "001"}, {"DEVNUM", "001"}},
                  {{"idVendor", "1d6b"}, {"idProduct", "0002"}, {"busnum", "1"}, {"devnum", "1"}, {"product", "xHCI Host Controller"}});
}

EmulatedUsbBus::~EmulatedUsbBus() {
    unplugAll();
    std::vector<std::string> foreign;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& [path, device] : foreign_) foreign.push_back(path);
    }
    for (auto& path : foreign) removeForeignDevice(path);
    std::vector<Probe> probes;
    {
        std::lock_guard<std::mutex> guard(lock_);
        probes.swap(probes_);
    }
    changed_.notify_all();
    for (auto& probe : probes) probe.thread.join();
    if (testbed_) {
        g_object_unref(testbed_->testbed);
        g_object_unref(testbed_->handler);
        delete testbed_;
    }
}

std::string EmulatedUsbBus::directory() const {
    if (!testbed_) return {};
    gchar* dir = umockdev_testbed_get_root_dir(testbed_->testbed);
    std::string text = dir ? dir : "";
    g_free(dir);
    return text;
}

bool EmulatedUsbBus::add(const std::string& path, const std::vector<std::pair<std::string, std::string>>& properties,
                         const std::vector<std::pair<std::string, std::string>>& attributes, const std::string& node) {
    // umockdev's text format: "P:" the path below /sys, "N:" the /dev node, "E:" properties,
    // "A:" attributes.
    std::string text = "P: " + path.substr(4) + "\n";
    if (!node.empty()) text += "N: " + node + "\n";
    for (auto& [k, v] : properties) text += "E: " + k + "=" + v + "\n";
    for (auto& [k, v] : attributes) text += "A: " + k + "=" + v + "\n";
    const std::string reason = testbed_->add(text);
    if (reason.empty()) return true;
    // Told at once: whoever waits for the device would otherwise only time out.
    std::fprintf(stderr, "EmulatedUsbBus: the testbed refused %s: %s\n", path.c_str(), reason.c_str());
    std::lock_guard<std::mutex> guard(lock_);
    if (failure_.empty()) failure_ = "the testbed refused " + path + ": " + reason;
    return false;
}

std::string EmulatedUsbBus::failure() const {
    std::lock_guard<std::mutex> guard(lock_);
    return failure_;
}

size_t EmulatedUsbBus::probeThreads() const {
    std::lock_guard<std::mutex> guard(lock_);
    return probes_.size();
}

int EmulatedUsbBus::nextPort() const {
    for (int port = 1;; ++port) {
        auto taken = [&](const std::shared_ptr<Device>& d) { return d->port == port; };
        if (std::none_of(devices_.begin(), devices_.end(), taken) &&
            std::none_of(foreign_.begin(), foreign_.end(), [&](auto& f) { return taken(f.second); })) {
            return port;
        }
    }
}

bool EmulatedUsbBus::plug(const std::shared_ptr<SimulatedCamera>& camera) {
    if (!camera || !testbed_) return false;
    const CameraIdentity& identity = camera->identity();
    auto device = std::make_shared<Device>();
    device->camera = camera;
    device->serial = identity.serialNumber;
    // An unplug that comes meanwhile waits until what is added here can be removed.
    std::unique_lock<std::mutex> probe(device->probeLock);
    int64_t delay;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (std::any_of(devices_.begin(), devices_.end(), [&](auto& d) { return d->camera == camera; })) return false;
        if (auto it = quirks_.find(device->serial); it != quirks_.end()) device->quirks = it->second;
        device->port = nextPort();
        device->usbPath = std::string(kRootHub) + "/1-" + std::to_string(device->port);
        device->interfacePath = device->usbPath + "/1-" + std::to_string(device->port) + ":1.0";
        delay = device->quirks.scsiDelayMs.value_or(scsiDelayMs_);
        devices_.push_back(device);
    }
    const std::string port = std::to_string(device->port);
    const std::string devnum = std::to_string(device->port + 1);
    char busNode[32];
    std::snprintf(busNode, sizeof busNode, "bus/usb/001/%03d", device->port + 1);
    std::vector<std::pair<std::string, std::string>> attributes{
        {"idVendor", hex4(identity.vendorID)}, {"idProduct", hex4(identity.productID)},
        {"product", identity.productName},     {"manufacturer", identity.vendorName},
        {"busnum", "1"},                       {"devnum", devnum},
        {"devpath", port},                     {"bDeviceClass", "00"}};
    if (!device->quirks.noSerial) attributes.push_back({"serial", identity.serialNumber});
    const bool webcam = identity.productID == kWebcamProductID;
    const bool usbAdded =
        add(device->usbPath,
            {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"DEVNAME", std::string("/dev/") + busNode},
             {"PRODUCT", hex4(identity.vendorID) + "/" + hex4(identity.productID) + "/100"}},
            attributes, busNode);
    // A webcam shows a video interface; storage mode a mass-storage one (SCSI over bulk-only).
    if (!usbAdded || !add(device->interfacePath, {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_interface"}},
                          {{"bInterfaceClass", webcam ? "0e" : "08"},
                           {"bInterfaceSubClass", webcam ? "01" : "06"},
                           {"bInterfaceProtocol", webcam ? "00" : "50"}})) {
        // Refused: not on the bus, and nothing announced yet.
        if (usbAdded) testbed_->remove(device->usbPath);
        std::lock_guard<std::mutex> guard(lock_);
        devices_.erase(std::find(devices_.begin(), devices_.end(), device));
        return false;
    }
    testbed_->uevent(device->usbPath, "add");
    testbed_->uevent(device->interfacePath, "add");
    probe.unlock();
    if (!webcam && !device->quirks.scsiNever) startProbe(device, delay);
    return true;
}

void EmulatedUsbBus::startProbe(const std::shared_ptr<Device>& device, int64_t delayMs) {
    // usb-storage waits before it scans the target; the SCSI nodes come after.
    std::weak_ptr<Device> weak = device;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> guard(lock_);
        // The probes of earlier plugs that have finished are joined here, so that a bus that
        // runs long keeps none of them.
        for (auto it = probes_.begin(); it != probes_.end();) {
            if (!it->finished->load()) {
                ++it;
                continue;
            }
            done.push_back(std::move(it->thread));
            it = probes_.erase(it);
        }
        std::thread thread([this, weak, delayMs, finished] {
            {
                std::unique_lock<std::mutex> wait(lock_);
                const auto until = std::chrono::steady_clock::now() + dispatch::scaled(dispatch::Millis(delayMs));
                changed_.wait_until(wait, until, [&] {
                    auto d = weak.lock();
                    return !d || d->gone;
                });
            }
            if (auto d = weak.lock()) addScsiNodes(d);
            finished->store(true);
        });
        probes_.push_back({std::move(thread), finished});
    }
    for (auto& thread : done) thread.join();
}

void EmulatedUsbBus::addScsiNodes(const std::shared_ptr<Device>& device) {
    // The SCSI layer probes one device after the other, each announced as it comes; an unplug
    // waits for the probe so that it removes whatever was added.
    std::lock_guard<std::mutex> probe(device->probeLock);
    int host;
    std::vector<int> generics;
    int disk;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (device->gone) return;
        host = nextHost_++;
        generics.push_back(nextGeneric_++);
        if (device->quirks.secondLun) generics.push_back(nextGeneric_++);
        disk = nextDisk_++;
    }
    auto announce = [&](const std::string& path) {
        std::lock_guard<std::mutex> guard(lock_);
        device->scsiPaths.push_back(path);
    };
    const std::string h = std::to_string(host);
    const std::string hostPath = device->interfacePath + "/host" + h;
    const std::string targetPath = hostPath + "/target" + h + ":0:0";
    // A node the testbed refuses ends the probe there (failure() says why).
    if (!add(hostPath, {{"SUBSYSTEM", "scsi"}, {"DEVTYPE", "scsi_host"}}, {})) return;
    announce(hostPath);
    testbed_->uevent(hostPath, "add");
    if (!add(targetPath, {{"SUBSYSTEM", "scsi"}, {"DEVTYPE", "scsi_target"}}, {})) return;
    announce(targetPath);
    testbed_->uevent(targetPath, "add");
    // With a second LUN, LUN 0 is the kind of read-only CD-ROM some devices carry, and the
    // camera's storage is LUN 1.
    const size_t storageLun = generics.size() - 1;
    for (size_t lun = 0; lun < generics.size(); ++lun) {
        const bool storage = lun == storageLun;
        const std::string lunPath = targetPath + "/" + h + ":0:0:" + std::to_string(lun);
        if (!add(lunPath, {{"SUBSYSTEM", "scsi"}, {"DEVTYPE", "scsi_device"}},
                 {{"type", storage ? "0" : "5"}, {"vendor", "Brevanti"},
                  {"model", device->camera->identity().productName}, {"rev", "1.00"}, {"scsi_level", "7"}}))
            return;
        announce(lunPath);
        testbed_->uevent(lunPath, "add");
        const std::string sg = "sg" + std::to_string(generics[lun]);
        const std::string node = "/dev/" + sg;
        const std::string sgPath = lunPath + "/scsi_generic/" + sg;
        // The node answers before its folder shows: a reader that finds the folder (as the
        // kernel's devtmpfs makes the node with it) must not meet a node without its device.
        {
            std::lock_guard<std::mutex> guard(testbed_->lock);
            GError* error = nullptr;
            umockdev_testbed_attach_ioctl(testbed_->testbed, node.c_str(), testbed_->handler, &error);
            if (error) g_error_free(error);
        }
        const bool sgAdded = add(sgPath, {{"SUBSYSTEM", "scsi_generic"}, {"DEVNAME", node}, {"MAJOR", "21"},
                                          {"MINOR", std::to_string(generics[lun])}},
                                 {{"dev", "21:" + std::to_string(generics[lun])}}, sg);
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (sgAdded) device->scsiPaths.push_back(sgPath);
            (storage ? device->node : device->otherLunNode) = node;  // attached: detached on removal
        }
        if (!sgAdded) return;
        testbed_->uevent(sgPath, "add");
        if (!storage) continue;
        const std::string sd = diskName(disk);
        const std::string diskPath = lunPath + "/block/" + sd;
        if (!add(diskPath, {{"SUBSYSTEM", "block"}, {"DEVTYPE", "disk"}, {"DEVNAME", "/dev/" + sd}},
                 {{"dev", "8:" + std::to_string(disk * 16)}, {"size", "62333952"}, {"removable", "1"}}, sd))
            return;
        announce(diskPath);
        testbed_->uevent(diskPath, "add");
        const std::string partPath = diskPath + "/" + sd + "1";
        if (!add(partPath, {{"SUBSYSTEM", "block"}, {"DEVTYPE", "partition"}, {"DEVNAME", "/dev/" + sd + "1"}},
                 {{"dev", "8:" + std::to_string(disk * 16 + 1)}, {"partition", "1"}, {"size", "62331904"}}, sd + "1"))
            return;
        announce(partPath);
        testbed_->uevent(partPath, "add");
    }
}

bool EmulatedUsbBus::unplug(const std::shared_ptr<SimulatedCamera>& camera) {
    std::shared_ptr<Device> device;
    std::vector<std::shared_ptr<Held>> held;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = std::find_if(devices_.begin(), devices_.end(), [&](auto& d) { return d->camera == camera; });
        if (it == devices_.end()) return false;
        device = *it;
        devices_.erase(it);
        device->gone = true;
        held.swap(device->held);
    }
    changed_.notify_all();
    camera->setVanishHandler(nullptr);
    camera->markGone();
    removeDevice(device);
    // Commands the device never answered end as the kernel ends them when it goes away.
    finishHeld(std::move(held));
    return true;
}

void EmulatedUsbBus::finishHeld(std::vector<std::shared_ptr<Held>> held) {
    for (auto& call : held) {
        auto* hdr = reinterpret_cast<sg_io_hdr_t*>(call->header->data);
        hostFailure(*hdr, kNoConnect);
        umockdev_ioctl_client_complete(call->client, 0, 0);
    }
}

void EmulatedUsbBus::removeDevice(const std::shared_ptr<Device>& device) {
    std::lock_guard<std::mutex> probe(device->probeLock);
    std::vector<std::string> scsi;
    {
        std::lock_guard<std::mutex> guard(lock_);
        scsi = device->scsiPaths;
    }
    // The kernel's order: the SCSI host's children, deepest first, then the interface and the
    // USB device.
    for (auto it = scsi.rbegin(); it != scsi.rend(); ++it) {
        testbed_->uevent(*it, "remove");
        testbed_->remove(*it);
    }
    for (const std::string& node : {device->node, device->otherLunNode}) {
        if (node.empty()) continue;
        std::lock_guard<std::mutex> guard(testbed_->lock);
        GError* error = nullptr;
        umockdev_testbed_detach_ioctl(testbed_->testbed, node.c_str(), &error);
        if (error) g_error_free(error);
    }
    testbed_->uevent(device->interfacePath, "remove");
    testbed_->remove(device->interfacePath);
    testbed_->uevent(device->usbPath, "remove");
    testbed_->remove(device->usbPath);
}

std::vector<std::shared_ptr<SimulatedCamera>> EmulatedUsbBus::cameras() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::shared_ptr<SimulatedCamera>> out;
    for (auto& d : devices_) out.push_back(d->camera);
    return out;
}

void EmulatedUsbBus::setQuirks(const std::string& serial, Quirks quirks) {
    std::lock_guard<std::mutex> guard(lock_);
    quirks_[serial] = quirks;
}

void EmulatedUsbBus::injectFault(const std::string& serial, Fault fault, unsigned count) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& d : devices_) {
        if (d->serial == serial) d->faults.insert(d->faults.end(), count, fault);
    }
}

void EmulatedUsbBus::clearFaults(const std::string& serial) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& d : devices_) {
        if (d->serial == serial) d->faults.clear();
    }
}

size_t EmulatedUsbBus::heldCommands() const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t n = 0;
    for (auto& d : devices_) n += d->held.size();
    return n;
}

std::string EmulatedUsbBus::addForeignDevice(uint16_t productID, const std::string& serial) {
    if (!testbed_) return {};
    auto device = std::make_shared<Device>();
    {
        std::lock_guard<std::mutex> guard(lock_);
        device->port = nextPort();
        device->usbPath = std::string(kRootHub) + "/1-" + std::to_string(device->port);
        device->interfacePath = device->usbPath + "/1-" + std::to_string(device->port) + ":1.0";
        foreign_[device->usbPath] = device;
    }
    const std::string port = std::to_string(device->port);
    const bool usbAdded = add(device->usbPath, {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}},
                              {{"idVendor", hex4(kCameraVendorID)}, {"idProduct", hex4(productID)}, {"serial", serial},
                               {"product", "Docking Station"}, {"manufacturer", "Brevantis"}, {"busnum", "1"},
                               {"devpath", port}});
    if (!usbAdded || !add(device->interfacePath, {{"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_interface"}},
                          {{"bInterfaceClass", "ff"}, {"bInterfaceSubClass", "00"}, {"bInterfaceProtocol", "00"}})) {
        if (usbAdded) testbed_->remove(device->usbPath);
        std::lock_guard<std::mutex> guard(lock_);
        foreign_.erase(device->usbPath);
        return {};
    }
    testbed_->uevent(device->usbPath, "add");
    testbed_->uevent(device->interfacePath, "add");
    return device->usbPath;
}

void EmulatedUsbBus::removeForeignDevice(const std::string& sysPath) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = foreign_.find(sysPath);
        if (it == foreign_.end()) return;
        device = it->second;
        foreign_.erase(it);
    }
    removeDevice(device);
}

std::optional<std::string> EmulatedUsbBus::genericNode(const std::string& serial) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& d : devices_) {
        if (d->serial == serial) return d->node;
    }
    return std::nullopt;
}

std::shared_ptr<EmulatedUsbBus::Device> EmulatedUsbBus::deviceOfNode(const std::string& node, bool* otherLun,
                                                                     std::optional<Fault>* fault) {
    std::lock_guard<std::mutex> guard(lock_);
    // An unplug takes the device off this list before anything else: one found here is there.
    for (auto& d : devices_) {
        if (d->node != node && d->otherLunNode != node) continue;
        *otherLun = d->otherLunNode == node;
        if (!*otherLun && !d->faults.empty()) {
            *fault = d->faults.front();
            d->faults.erase(d->faults.begin());
        }
        return d;
    }
    return nullptr;
}

bool EmulatedUsbBus::answer(UMockdevIoctlClient* client) {
    IoctlCall call(client);
    if (umockdev_ioctl_client_get_request(client) != SG_IO) {
        call.finish(-1, ENOTTY);
        return true;
    }
    bool otherLun = false;
    std::optional<Fault> fault;
    std::shared_ptr<Device> device = deviceOfNode(umockdev_ioctl_client_get_devnode(client), &otherLun, &fault);
    // A descriptor opened before the device went away: the node is no longer there to answer.
    if (!device) {
        call.finish(-1, ENODEV);
        return true;
    }
    if (!call.read()) return true;
    if (otherLun) {  // no medium in the CD-ROM LUN
        checkCondition(*call.hdr, call.sense());
        call.finish(0, 0);
    } else if (fault) {
        meetFault(call, device, *fault);
    } else {
        execute(call, *device);
    }
    return true;
}

void EmulatedUsbBus::meetFault(IoctlCall& call, const std::shared_ptr<Device>& device, Fault fault) {
    switch (fault) {
        case Fault::hold: {
            auto held = std::make_shared<Held>();
            held->client = static_cast<UMockdevIoctlClient*>(g_object_ref(call.client));
            held->header = umockdev_ioctl_data_ref(call.header);
            std::lock_guard<std::mutex> guard(lock_);
            if (!device->gone) {
                device->held.push_back(held);  // completed by the unplug
                return;
            }
            hostFailure(*call.hdr, kNoConnect);
            break;
        }
        case Fault::hostTimeOut:
            hostFailure(*call.hdr, kTimeOut);
            break;
        case Fault::ioctlTimedOut:
            call.finish(-1, ETIMEDOUT);
            return;
        case Fault::checkCondition:
            checkCondition(*call.hdr, call.sense());
            break;
        case Fault::ioctlFails:
            call.finish(-1, EIO);
            return;
    }
    call.finish(0, 0);
}

void EmulatedUsbBus::execute(IoctlCall& call, Device& device) {
    sg_io_hdr_t& hdr = *call.hdr;
    SCSICommandDescriptorBlock cdb{};
    std::memcpy(cdb.data(), call.command->data, std::min<size_t>(hdr.cmd_len, cdb.size()));
    uint8_t direction = kSCSIDataTransfer_NoDataTransfer;
    if (call.data) {
        direction = hdr.dxfer_direction == SG_DXFER_TO_DEV ? kSCSIDataTransfer_FromInitiatorToTarget
                                                            : kSCSIDataTransfer_FromTargetToInitiator;
    }
    std::span<uint8_t> buffer = call.data ? std::span<uint8_t>(call.data->data, hdr.dxfer_len) : std::span<uint8_t>();
    const SCSIExecuteResult result = device.camera->execute(cdb, direction, buffer, hdr.timeout);
    if (result.response != kSCSIServiceResponse_TASK_COMPLETE) {
        // A camera that stopped answering has left the bus; anything else failed on the way.
        hostFailure(hdr, result.status == kSCSITaskStatus_DeviceNotPresent ? kNoConnect
                         : result.status == kSCSITaskStatus_TaskTimeoutOccurred ? kTimeOut
                                                                                 : kHostError);
    } else if (result.status == kSCSITaskStatus_CHECK_CONDITION) {
        checkCondition(hdr, call.sense());
    } else {
        hdr.status = static_cast<unsigned char>(result.status & 0xFF);
        hdr.masked_status = static_cast<unsigned char>((result.status & 0x3E) >> 1);
        hdr.host_status = 0;
        hdr.driver_status = 0;
        const uint64_t moved = std::min<uint64_t>(result.realized, call.data ? hdr.dxfer_len : 0);
        hdr.resid = call.data ? static_cast<int>(hdr.dxfer_len - moved) : 0;
        if (hdr.status != 0) hdr.info |= SG_INFO_CHECK;
    }
    call.finish(0, 0);
}

}  // namespace hvb::sim
