#pragma once
// The user-side calls, with their familiar names and argument order, over the current link.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "platform/iokit/kern/IOTypes.h"
#include "platform/iokit/link/LinkTypes.h"

using io_object_t = uint32_t;
using io_service_t = io_object_t;
using io_iterator_t = io_object_t;
using io_connect_t = io_object_t;
using io_registry_entry_t = io_object_t;
using mach_port_t = uint32_t;
using task_port_t = uint32_t;
using io_name_t = char[128];
using io_string_t = char[512];

constexpr io_object_t IO_OBJECT_NULL = 0;
constexpr mach_port_t kIOMainPortDefault = 0;
constexpr mach_port_t kIOMasterPortDefault = 0;

task_port_t mach_task_self();

using CFMutableDictionaryRef = iokit::MatchingDictionary;

// Services of the class (subclasses too), or of the registry name.
iokit::MatchingDictionary IOServiceMatching(const char* className);
iokit::MatchingDictionary IOServiceNameMatching(const char* name);

kern_return_t IOServiceGetMatchingServices(mach_port_t mainPort, iokit::MatchingDictionary matching,
                                           io_iterator_t* existing);
// The next object (the caller releases it), or 0 at the end.
io_object_t IOIteratorNext(io_iterator_t iterator);
kern_return_t IOObjectRetain(io_object_t object);
kern_return_t IOObjectRelease(io_object_t object);

std::optional<iokit::Value> IORegistryEntryCreateCFProperty(io_registry_entry_t entry, const char* key);
std::optional<iokit::Value> IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const char* plane,
                                                            const char* key, IOOptionBits options);
kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name);
kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, uint64_t* entryID);
kern_return_t IORegistryEntryGetPath(io_registry_entry_t entry, const char* plane, io_string_t path);

// ---- notifications ----
struct IONotificationPort;
using IONotificationPortRef = IONotificationPort*;
using IORunLoopSourceRef = IONotificationPort*;
using IOServiceMatchingCallback = void (*)(void* refcon, io_iterator_t iterator);

IONotificationPortRef IONotificationPortCreate(mach_port_t mainPort);
void IONotificationPortDestroy(IONotificationPortRef port);
IORunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef port);
// Callbacks of the port's notifications run on `loop` from then on (usually
// dispatch::RunLoop::main()); until then events wait in their iterators.
void IORunLoopAddSource(dispatch::RunLoop& loop, IORunLoopSourceRef source);

// `type` is "IOServiceMatched", "IOServiceFirstMatch" or "IOServiceTerminate". The iterator
// holds the services that match already (matched kinds); drain it to arm the callback, which
// then runs on the port's run loop whenever new services arrive.
kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef port, const char* type,
                                               iokit::MatchingDictionary matching,
                                               IOServiceMatchingCallback callback, void* refcon,
                                               io_iterator_t* notification);

// ---- connections ----
kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type, io_connect_t* connect);
kern_return_t IOServiceClose(io_connect_t connect);
kern_return_t IOConnectCallMethod(io_connect_t connection, uint32_t selector, const uint64_t* input,
                                  uint32_t inputCnt, const void* inputStruct, size_t inputStructCnt,
                                  uint64_t* output, uint32_t* outputCnt, void* outputStruct,
                                  size_t* outputStructCnt);
