#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "DeviceChannelServer.h"
#include "WdfHost.h"

struct WDFDRIVER__ {
    PFN_WDF_DRIVER_DEVICE_ADD deviceAdd = nullptr;
    std::vector<WDFDEVICE> devices;
};

struct WDFDEVICE_INIT {
    WDFDRIVER driver = nullptr;
    std::wstring name;
    WDF_PNPPOWER_EVENT_CALLBACKS pnp{};
    WDF_DEVICE_IO_TYPE ioType = WdfDeviceIoBuffered;
    WDFDEVICE created = nullptr;
};

struct WDFQUEUE__ {
    WDFDEVICE device = nullptr;
    PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL ioDeviceControl = nullptr;
    std::mutex dispatch; // sequential: one request in the callback at a time
};

struct DeviceInterface {
    GUID classGuid;
    std::wstring reference;
    std::unique_ptr<svcproc::devchannel::DeviceInterfaceServer> server;
};

struct WDFDEVICE__ {
    WDFDRIVER driver = nullptr;
    unsigned index = 0;
    std::wstring name;
    WDF_PNPPOWER_EVENT_CALLBACKS pnp{};
    WDF_DEVICE_IO_TYPE ioType = WdfDeviceIoBuffered;
    const WDF_OBJECT_CONTEXT_TYPE_INFO* contextType = nullptr;
    std::unique_ptr<std::max_align_t[]> context;
    std::vector<std::unique_ptr<WDFQUEUE__>> queues;
    WDFQUEUE defaultQueue = nullptr;
    std::vector<DeviceInterface> interfaces;
    std::string interfaceError;
};

struct WDFREQUEST__ {
    IRP irp{};
    bool completed = false;
};

struct WDFCMRESLIST__ {
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> descriptors;
};

namespace {

struct Framework {
    std::mutex lock; // the objects below
    WDFDRIVER driver = nullptr;
    std::set<WDFDEVICE> devices;
    unsigned nextDeviceIndex = 0;
    std::function<void(const std::string&)> printSink;
};

Framework& State() {
    static Framework framework;
    return framework;
}

std::atomic<bool> g_verifier{false};
std::atomic<KIRQL> g_irql{PASSIVE_LEVEL};

bool SameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::wstring FromCounted(PCUNICODE_STRING text) {
    if (text == nullptr || text->Buffer == nullptr) {
        return {};
    }
    return std::wstring(text->Buffer, text->Length / sizeof(WCHAR));
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out.push_back(c > 0 && c < 0x7F && c != L'/' ? static_cast<char>(c) : '_');
    }
    return out;
}

// The socket name of an interface: the last part of the device name, or
// "device<N>" for an unnamed device; a reference string follows after '#'.
std::string InterfaceName(WDFDEVICE device, const std::wstring& reference) {
    std::wstring base = device->name.substr(device->name.find_last_of(L'\\') + 1);
    std::string name = base.empty() ? "device" + std::to_string(device->index) : Narrow(base);
    return reference.empty() ? name : name + "#" + Narrow(reference);
}

DeviceInterface* FindInterface(WDFDEVICE device, const GUID* classGuid,
                               PCUNICODE_STRING reference) {
    std::wstring ref = FromCounted(reference);
    for (DeviceInterface& entry : device->interfaces) {
        if (SameGuid(entry.classGuid, *classGuid) && entry.reference == ref) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

// ---- driver side -------------------------------------------------------

NTSTATUS WdfDriverCreate(PDRIVER_OBJECT driverObject, PCUNICODE_STRING /*registryPath*/,
                         PWDF_OBJECT_ATTRIBUTES /*attributes*/, PWDF_DRIVER_CONFIG config,
                         WDFDRIVER* driver) {
    if (driverObject == nullptr || config == nullptr || config->Size != sizeof(WDF_DRIVER_CONFIG)) {
        return STATUS_INVALID_PARAMETER;
    }
    Framework& fw = State();
    std::lock_guard<std::mutex> hold(fw.lock);
    if (fw.driver != nullptr) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    fw.driver = new WDFDRIVER__;
    fw.driver->deviceAdd = config->EvtDriverDeviceAdd;
    driverObject->DriverExtension = fw.driver;
    if (driver != nullptr) {
        *driver = fw.driver;
    }
    return STATUS_SUCCESS;
}

NTSTATUS WdfDeviceInitAssignName(PWDFDEVICE_INIT deviceInit, PCUNICODE_STRING deviceName) {
    if (deviceInit == nullptr || deviceName == nullptr || deviceName->Length % sizeof(WCHAR) != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    deviceInit->name = FromCounted(deviceName);
    return STATUS_SUCCESS;
}

void WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT deviceInit,
                                            PWDF_PNPPOWER_EVENT_CALLBACKS callbacks) {
    if (deviceInit != nullptr && callbacks != nullptr) {
        deviceInit->pnp = *callbacks;
    }
}

void WdfDeviceInitSetIoType(PWDFDEVICE_INIT deviceInit, WDF_DEVICE_IO_TYPE ioType) {
    if (deviceInit != nullptr) {
        deviceInit->ioType = ioType;
    }
}

NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* deviceInit, PWDF_OBJECT_ATTRIBUTES attributes,
                         WDFDEVICE* device) {
    if (deviceInit == nullptr || *deviceInit == nullptr || device == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (attributes != nullptr && (attributes->Size != sizeof(WDF_OBJECT_ATTRIBUTES) ||
                                  attributes->ExecutionLevel == WdfExecutionLevelDispatch)) {
        return STATUS_INVALID_PARAMETER; // callbacks here always run at passive level
    }
    PWDFDEVICE_INIT init = *deviceInit;
    if (init->driver == nullptr || init->created != nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST; // not a record handed to device add
    }
    auto* created = new WDFDEVICE__;
    created->driver = init->driver;
    created->name = init->name;
    created->pnp = init->pnp;
    created->ioType = init->ioType;
    if (attributes != nullptr && attributes->ContextTypeInfo != nullptr) {
        size_t size = attributes->ContextTypeInfo->ContextSize;
        size_t units = (size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
        created->contextType = attributes->ContextTypeInfo;
        created->context = std::make_unique<std::max_align_t[]>(std::max<size_t>(units, 1));
    }
    Framework& fw = State();
    {
        std::lock_guard<std::mutex> hold(fw.lock);
        created->index = fw.nextDeviceIndex++;
        fw.devices.insert(created);
        created->driver->devices.push_back(created);
    }
    init->created = created;
    *deviceInit = nullptr;
    *device = created;
    return STATUS_SUCCESS;
}

PVOID WdfObjectGetTypedContextWorker(WDFOBJECT handle, const WDF_OBJECT_CONTEXT_TYPE_INFO* type) {
    Framework& fw = State();
    std::lock_guard<std::mutex> hold(fw.lock);
    auto* device = static_cast<WDFDEVICE>(handle);
    if (type == nullptr || fw.devices.count(device) == 0 || device->contextType == nullptr ||
        std::strcmp(device->contextType->ContextName, type->ContextName) != 0) {
        return nullptr;
    }
    return device->context.get();
}

NTSTATUS WdfIoQueueCreate(WDFDEVICE device, PWDF_IO_QUEUE_CONFIG config,
                          PWDF_OBJECT_ATTRIBUTES /*attributes*/, WDFQUEUE* queue) {
    if (device == nullptr || config == nullptr || config->Size != sizeof(WDF_IO_QUEUE_CONFIG)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (config->DispatchType != WdfIoQueueDispatchSequential) {
        return STATUS_NOT_SUPPORTED;
    }
    if (config->DefaultQueue && device->defaultQueue != nullptr) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    auto created = std::make_unique<WDFQUEUE__>();
    created->device = device;
    created->ioDeviceControl = config->EvtIoDeviceControl;
    WDFQUEUE handle = created.get();
    device->queues.push_back(std::move(created));
    if (config->DefaultQueue) {
        device->defaultQueue = handle;
    }
    if (queue != nullptr) {
        *queue = handle;
    }
    return STATUS_SUCCESS;
}

WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE queue) {
    return queue == nullptr ? nullptr : queue->device;
}

NTSTATUS WdfDeviceCreateDeviceInterface(WDFDEVICE device, const GUID* interfaceClass,
                                        PCUNICODE_STRING referenceString) {
    if (device == nullptr || interfaceClass == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (FindInterface(device, interfaceClass, referenceString) != nullptr) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    DeviceInterface entry{*interfaceClass, FromCounted(referenceString), nullptr};
    entry.server = std::make_unique<svcproc::devchannel::DeviceInterfaceServer>(
        GuidText(*interfaceClass), InterfaceName(device, entry.reference),
        [device](uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
                 uint32_t* information) {
            return svcproc::kernel::SendDeviceControl(device, code, in, inLen, out, outLen,
                                                      information);
        });
    device->interfaces.push_back(std::move(entry));
    return STATUS_SUCCESS;
}

void WdfDeviceSetDeviceInterfaceState(WDFDEVICE device, const GUID* interfaceClass,
                                      PCUNICODE_STRING referenceString, BOOLEAN enable) {
    if (device == nullptr || interfaceClass == nullptr) {
        return;
    }
    DeviceInterface* entry = FindInterface(device, interfaceClass, referenceString);
    if (entry == nullptr) {
        return;
    }
    if (!enable) {
        entry->server->Disable();
        return;
    }
    std::string error;
    if (!entry->server->Enable(&error)) {
        device->interfaceError = error;
        DbgPrint("framework: cannot publish device interface: %s\n", error.c_str());
    }
}

ULONG WdfCmResourceListGetCount(WDFCMRESLIST list) {
    return list == nullptr ? 0 : static_cast<ULONG>(list->descriptors.size());
}

PCM_PARTIAL_RESOURCE_DESCRIPTOR WdfCmResourceListGetDescriptor(WDFCMRESLIST list, ULONG index) {
    if (list == nullptr || index >= list->descriptors.size()) {
        return nullptr;
    }
    return &list->descriptors[index];
}

PIRP WdfRequestWdmGetIrp(WDFREQUEST request) {
    return request == nullptr ? nullptr : &request->irp;
}

void WdfRequestComplete(WDFREQUEST request, NTSTATUS status) {
    if (request == nullptr || request->completed) {
        DbgPrint("framework: request completed twice or without a request\n");
        return;
    }
    request->irp.IoStatus.Status = status;
    request->completed = true;
}

void WdfRequestCompleteWithInformation(WDFREQUEST request, NTSTATUS status, ULONG_PTR information) {
    if (request != nullptr) {
        request->irp.IoStatus.Information = information;
    }
    WdfRequestComplete(request, status);
}

ULONG DbgPrint(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fputs(line, stderr);
    std::function<void(const std::string&)> sink;
    {
        Framework& fw = State();
        std::lock_guard<std::mutex> hold(fw.lock);
        sink = fw.printSink;
    }
    if (sink) {
        sink(line);
    }
    return 0;
}

void RtlAssert(PVOID failedAssertion, PVOID fileName, ULONG lineNumber, const char* message) {
    std::fprintf(stderr, "\n*** Assertion failed: %s%s\n***   Source File: %s, line %u\n\n",
                 message != nullptr ? message : "", static_cast<const char*>(failedAssertion),
                 static_cast<const char*>(fileName), lineNumber);
    std::fflush(stderr);
    std::abort();
}

KIRQL KeGetCurrentIrql() {
    return g_irql.load();
}

BOOLEAN WdfDriverVerifierEnabled() {
    return g_verifier.load() ? 1 : 0;
}

// ---- kernel side -------------------------------------------------------

namespace svcproc::kernel {

NTSTATUS LoadDriver(PDRIVER_INITIALIZE entry, WDFDRIVER* driver) {
    static DRIVER_OBJECT driverObject;
    static const WCHAR kRegistryPath[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\"
                                         L"Services\\portwyn";
    UNICODE_STRING registryPath{static_cast<USHORT>(sizeof kRegistryPath - sizeof(WCHAR)),
                                static_cast<USHORT>(sizeof kRegistryPath), kRegistryPath};
    driverObject = {};
    NTSTATUS status = entry(&driverObject, &registryPath);
    auto* created = static_cast<WDFDRIVER>(driverObject.DriverExtension);
    if (!NT_SUCCESS(status)) {
        if (created != nullptr) {
            UnloadDriver(created);
        }
        return status;
    }
    if (created == nullptr) {
        return STATUS_UNSUCCESSFUL; // the entry routine made no framework driver
    }
    *driver = created;
    return STATUS_SUCCESS;
}

void UnloadDriver(WDFDRIVER driver) {
    if (driver == nullptr) {
        return;
    }
    while (!driver->devices.empty()) {
        RemoveDevice(driver->devices.back());
    }
    Framework& fw = State();
    std::lock_guard<std::mutex> hold(fw.lock);
    if (fw.driver == driver) {
        fw.driver = nullptr;
    }
    delete driver;
}

NTSTATUS AddDevice(WDFDRIVER driver, WDFDEVICE* device) {
    if (driver == nullptr || driver->deviceAdd == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    WDFDEVICE_INIT init;
    init.driver = driver;
    NTSTATUS status = driver->deviceAdd(driver, &init);
    if (!NT_SUCCESS(status)) {
        if (init.created != nullptr) {
            RemoveDevice(init.created);
        }
        return status;
    }
    if (init.created == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    *device = init.created;
    return STATUS_SUCCESS;
}

NTSTATUS StartDevice(WDFDEVICE device, const std::vector<PortRange>& ports, std::string* error) {
    WDFCMRESLIST__ resources;
    for (const PortRange& range : ports) {
        CM_PARTIAL_RESOURCE_DESCRIPTOR descriptor{};
        descriptor.Type = CmResourceTypePort;
        descriptor.u.Port.Start = range.base;
        descriptor.u.Port.Length = range.length;
        resources.descriptors.push_back(descriptor);
    }
    device->interfaceError.clear();
    NTSTATUS status = STATUS_SUCCESS;
    if (device->pnp.EvtDevicePrepareHardware != nullptr) {
        WDFCMRESLIST__ raw = resources;
        status = device->pnp.EvtDevicePrepareHardware(device, &raw, &resources);
    }
    if (!NT_SUCCESS(status)) {
        if (error != nullptr) {
            char text[64];
            std::snprintf(text, sizeof text, "prepare-hardware failed with 0x%08x",
                          static_cast<unsigned>(status));
            *error = text;
        }
        return status;
    }
    if (!device->interfaceError.empty()) {
        if (error != nullptr) {
            *error = device->interfaceError;
        }
        return STATUS_UNSUCCESSFUL;
    }
    return STATUS_SUCCESS;
}

void RemoveDevice(WDFDEVICE device) {
    if (device == nullptr) {
        return;
    }
    for (DeviceInterface& entry : device->interfaces) {
        entry.server->Disable();
    }
    Framework& fw = State();
    {
        std::lock_guard<std::mutex> hold(fw.lock);
        fw.devices.erase(device);
        auto& list = device->driver->devices;
        list.erase(std::remove(list.begin(), list.end(), device), list.end());
    }
    delete device;
}

NTSTATUS SendDeviceControl(WDFDEVICE device, ULONG code, const void* in, uint32_t inLength,
                           void* out, uint32_t outLength, uint32_t* information) {
    *information = 0;
    WDFQUEUE queue = device == nullptr ? nullptr : device->defaultQueue;
    if (queue == nullptr || queue->ioDeviceControl == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    std::lock_guard<std::mutex> sequential(queue->dispatch);
    std::vector<uint8_t> systemBuffer(std::max(inLength, outLength));
    if (inLength > 0) {
        std::memcpy(systemBuffer.data(), in, inLength);
    }
    WDFREQUEST__ request;
    request.irp.AssociatedIrp.SystemBuffer = systemBuffer.empty() ? nullptr : systemBuffer.data();
    queue->ioDeviceControl(queue, &request, outLength, inLength, code);
    if (!request.completed) {
        DbgPrint("framework: request 0x%08x returned without completion\n", code);
        return STATUS_INTERNAL_ERROR;
    }
    NTSTATUS status = request.irp.IoStatus.Status;
    if (!NT_SUCCESS(status)) {
        return status; // nothing goes back to the caller
    }
    uint32_t count =
        static_cast<uint32_t>(std::min<ULONG_PTR>(request.irp.IoStatus.Information, outLength));
    if (count > 0) {
        std::memcpy(out, systemBuffer.data(), count);
    }
    *information = count;
    return status;
}

std::vector<std::string> EnabledInterfacePaths(WDFDEVICE device) {
    std::vector<std::string> paths;
    for (const DeviceInterface& entry : device->interfaces) {
        if (entry.server->IsEnabled()) {
            paths.push_back(entry.server->Path());
        }
    }
    return paths;
}

void SetVerifierEnabled(bool enabled) {
    g_verifier = enabled;
}

void SetCurrentIrqlForTest(KIRQL irql) {
    g_irql = irql;
}

void SetDebugPrintSinkForTest(std::function<void(const std::string&)> sink) {
    Framework& fw = State();
    std::lock_guard<std::mutex> hold(fw.lock);
    fw.printSink = std::move(sink);
}

} // namespace svcproc::kernel
