#include "camera/RegistryReader.h"

#include "camera/UserClientTransport.h"
#include "platform/foundation/TextCharacters.h"

namespace hvb {

std::optional<std::string> RegistryReader::asciiProperty(io_registry_entry_t entry, const char* key,
                                                         IOOptionBits options) {
    if (!entry) return std::nullopt;
    auto value = options ? IORegistryEntrySearchCFProperty(entry, kIOServicePlane, key, options)
                         : IORegistryEntryCreateCFProperty(entry, key);
    const std::string* text = iokit::asString(value);
    if (!text || text->size() > 29) return std::nullopt;
    for (char c : *text)
        if (static_cast<unsigned char>(c) > 0x7F || c == '\0') return std::nullopt;
    return *text;
}

std::optional<std::string> RegistryReader::textProperty(io_registry_entry_t entry, const char* key,
                                                        IOOptionBits options) {
    if (!entry) return std::nullopt;
    auto value = options ? IORegistryEntrySearchCFProperty(entry, kIOServicePlane, key, options)
                         : IORegistryEntryCreateCFProperty(entry, key);
    const std::string* text = iokit::asString(value);
    if (!text) return std::nullopt;
    return foundation::text::utf8(foundation::text::characters(*text));
}

std::optional<std::string> RegistryReader::serialNumber(io_registry_entry_t entry) {
    return textProperty(entry, "USB Serial Number", kIORegistryIterateRecursively | kIORegistryIterateParents);
}

std::optional<std::string> RegistryReader::bsdName(io_registry_entry_t entry) {
    return asciiProperty(entry, "BSD Name", kIORegistryIterateRecursively);
}

std::vector<io_service_t> RegistryReader::driverServices() {
    std::vector<io_service_t> services;
    io_iterator_t iterator = IO_OBJECT_NULL;
    if (IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching(kDriverServiceClassName), &iterator) !=
        kIOReturnSuccess)
        return services;
    while (io_service_t service = IOIteratorNext(iterator)) services.push_back(service);
    IOObjectRelease(iterator);
    return services;
}

void RegistryReader::release(std::vector<io_service_t>& services) {
    for (io_service_t service : services) IOObjectRelease(service);
    services.clear();
}

}  // namespace hvb
