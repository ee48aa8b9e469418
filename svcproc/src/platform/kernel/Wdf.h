// The driver-framework calls a driver of this system makes, with the
// platform's names: driver and device objects with a typed context, a default
// I/O queue, device interfaces that clients see only once enabled, requests
// completed with a status and an information length, the debugger print and
// the assertion routine. The kernel side (loading a driver, announcing a
// device, delivering requests) is in WdfHost.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../devchannel/NtStatus.h"
#include "SvcpIoctl.h"

#define SVCP_KERNEL_EXPORT __attribute__((visibility("default")))

using BOOLEAN = uint8_t;
using KIRQL = uint8_t;
using PVOID = void*;
using ULONG_PTR = uintptr_t;
using GUID = SVCP_GUID;

constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL DISPATCH_LEVEL = 2;

// A counted wide string; Length (bytes) leaves out the terminator.
struct UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    const WCHAR* Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;
#define DECLARE_CONST_UNICODE_STRING(name, text)                                                   \
    const UNICODE_STRING name = {static_cast<USHORT>(sizeof(text) - sizeof(WCHAR)),                \
                                 static_cast<USHORT>(sizeof(text)), text}

struct DRIVER_OBJECT {
    PVOID DriverExtension;
};
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PDRIVER_INITIALIZE = NTSTATUS (*)(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

struct WDFDRIVER__;
struct WDFDEVICE__;
struct WDFQUEUE__;
struct WDFREQUEST__;
struct WDFCMRESLIST__;
struct WDFDEVICE_INIT;
using WDFDRIVER = WDFDRIVER__*;
using WDFDEVICE = WDFDEVICE__*;
using WDFQUEUE = WDFQUEUE__*;
using WDFREQUEST = WDFREQUEST__*;
using WDFCMRESLIST = WDFCMRESLIST__*;
using WDFOBJECT = void*;
using PWDFDEVICE_INIT = WDFDEVICE_INIT*;

#define WDF_NO_OBJECT_ATTRIBUTES nullptr
#define WDF_NO_HANDLE nullptr

// Driver object.
using PFN_WDF_DRIVER_DEVICE_ADD = NTSTATUS (*)(WDFDRIVER driver, PWDFDEVICE_INIT deviceInit);
using PFN_WDF_DRIVER_UNLOAD = void (*)(WDFDRIVER driver);

struct WDF_DRIVER_CONFIG {
    ULONG Size;
    PFN_WDF_DRIVER_DEVICE_ADD EvtDriverDeviceAdd;
    PFN_WDF_DRIVER_UNLOAD EvtDriverUnload;
    ULONG DriverInitFlags;
    ULONG DriverPoolTag;
};
using PWDF_DRIVER_CONFIG = WDF_DRIVER_CONFIG*;

inline void WDF_DRIVER_CONFIG_INIT(PWDF_DRIVER_CONFIG config, PFN_WDF_DRIVER_DEVICE_ADD add) {
    *config = {};
    config->Size = sizeof(WDF_DRIVER_CONFIG);
    config->EvtDriverDeviceAdd = add;
}

// Object attributes and typed contexts.
enum WDF_EXECUTION_LEVEL {
    WdfExecutionLevelInvalid,
    WdfExecutionLevelInheritFromParent,
    WdfExecutionLevelPassive,
    WdfExecutionLevelDispatch,
};
enum WDF_SYNCHRONIZATION_SCOPE {
    WdfSynchronizationScopeInvalid,
    WdfSynchronizationScopeInheritFromParent,
    WdfSynchronizationScopeDevice,
    WdfSynchronizationScopeQueue,
    WdfSynchronizationScopeNone,
};

struct WDF_OBJECT_CONTEXT_TYPE_INFO {
    const char* ContextName;
    size_t ContextSize;
};

struct WDF_OBJECT_ATTRIBUTES {
    ULONG Size;
    WDF_EXECUTION_LEVEL ExecutionLevel;
    WDF_SYNCHRONIZATION_SCOPE SynchronizationScope;
    WDFOBJECT ParentObject;
    const WDF_OBJECT_CONTEXT_TYPE_INFO* ContextTypeInfo;
};
using PWDF_OBJECT_ATTRIBUTES = WDF_OBJECT_ATTRIBUTES*;

inline void WDF_OBJECT_ATTRIBUTES_INIT(PWDF_OBJECT_ATTRIBUTES attributes) {
    *attributes = {};
    attributes->Size = sizeof(WDF_OBJECT_ATTRIBUTES);
    attributes->ExecutionLevel = WdfExecutionLevelInheritFromParent;
    attributes->SynchronizationScope = WdfSynchronizationScopeInheritFromParent;
}

// The context memory is zeroed when the object is created and freed with it.
SVCP_KERNEL_EXPORT PVOID WdfObjectGetTypedContextWorker(WDFOBJECT handle,
                                                        const WDF_OBJECT_CONTEXT_TYPE_INFO* type);

#define WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(type, accessor)                                         \
    inline const WDF_OBJECT_CONTEXT_TYPE_INFO WDF_##type##_TYPE_INFO = {#type, sizeof(type)};      \
    inline type* accessor(WDFOBJECT handle) {                                                      \
        return static_cast<type*>(                                                                 \
            WdfObjectGetTypedContextWorker(handle, &WDF_##type##_TYPE_INFO));                      \
    }

#define WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(attributes, type)                                  \
    do {                                                                                           \
        WDF_OBJECT_ATTRIBUTES_INIT(attributes);                                                    \
        (attributes)->ContextTypeInfo = &WDF_##type##_TYPE_INFO;                                   \
    } while (0)

SVCP_KERNEL_EXPORT NTSTATUS WdfDriverCreate(PDRIVER_OBJECT driverObject,
                                            PCUNICODE_STRING registryPath,
                                            PWDF_OBJECT_ATTRIBUTES attributes,
                                            PWDF_DRIVER_CONFIG config, WDFDRIVER* driver);

// Device initialisation and creation.
using PFN_WDF_DEVICE_PREPARE_HARDWARE = NTSTATUS (*)(WDFDEVICE device, WDFCMRESLIST raw,
                                                     WDFCMRESLIST translated);

struct WDF_PNPPOWER_EVENT_CALLBACKS {
    ULONG Size;
    PFN_WDF_DEVICE_PREPARE_HARDWARE EvtDevicePrepareHardware;
};
using PWDF_PNPPOWER_EVENT_CALLBACKS = WDF_PNPPOWER_EVENT_CALLBACKS*;

inline void WDF_PNPPOWER_EVENT_CALLBACKS_INIT(PWDF_PNPPOWER_EVENT_CALLBACKS callbacks) {
    *callbacks = {};
    callbacks->Size = sizeof(WDF_PNPPOWER_EVENT_CALLBACKS);
}

enum WDF_DEVICE_IO_TYPE {
    WdfDeviceIoUndefined,
    WdfDeviceIoNeither,
    WdfDeviceIoBuffered,
    WdfDeviceIoDirect,
};

SVCP_KERNEL_EXPORT NTSTATUS WdfDeviceInitAssignName(PWDFDEVICE_INIT deviceInit,
                                                    PCUNICODE_STRING deviceName);
SVCP_KERNEL_EXPORT void
WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT deviceInit,
                                       PWDF_PNPPOWER_EVENT_CALLBACKS callbacks);
SVCP_KERNEL_EXPORT void WdfDeviceInitSetIoType(PWDFDEVICE_INIT deviceInit,
                                               WDF_DEVICE_IO_TYPE ioType);
// Takes the initialisation record: *deviceInit is null afterwards.
SVCP_KERNEL_EXPORT NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* deviceInit,
                                            PWDF_OBJECT_ATTRIBUTES attributes, WDFDEVICE* device);

// Device interfaces: created disabled; enabling publishes the interface to
// clients, disabling withdraws it.
SVCP_KERNEL_EXPORT NTSTATUS WdfDeviceCreateDeviceInterface(WDFDEVICE device,
                                                           const GUID* interfaceClass,
                                                           PCUNICODE_STRING referenceString);
SVCP_KERNEL_EXPORT void WdfDeviceSetDeviceInterfaceState(WDFDEVICE device,
                                                         const GUID* interfaceClass,
                                                         PCUNICODE_STRING referenceString,
                                                         BOOLEAN enable);

// Hardware resources handed to prepare-hardware.
constexpr UCHAR CmResourceTypePort = 1;
struct CM_PARTIAL_RESOURCE_DESCRIPTOR {
    UCHAR Type;
    UCHAR ShareDisposition;
    USHORT Flags;
    union {
        struct {
            int64_t Start;
            ULONG Length;
        } Port;
    } u;
};
using PCM_PARTIAL_RESOURCE_DESCRIPTOR = CM_PARTIAL_RESOURCE_DESCRIPTOR*;
SVCP_KERNEL_EXPORT ULONG WdfCmResourceListGetCount(WDFCMRESLIST list);
// Null past the end.
SVCP_KERNEL_EXPORT PCM_PARTIAL_RESOURCE_DESCRIPTOR WdfCmResourceListGetDescriptor(WDFCMRESLIST list,
                                                                                  ULONG index);

// I/O queues. Sequential dispatch hands the callback one request at a time;
// the next is delivered once the current one is completed.
using PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL = void (*)(WDFQUEUE queue, WDFREQUEST request,
                                                    size_t outputBufferLength,
                                                    size_t inputBufferLength, ULONG ioControlCode);

enum WDF_IO_QUEUE_DISPATCH_TYPE {
    WdfIoQueueDispatchInvalid,
    WdfIoQueueDispatchSequential,
    WdfIoQueueDispatchParallel,
    WdfIoQueueDispatchManual,
};
enum WDF_TRI_STATE { WdfFalse, WdfTrue, WdfUseDefault };

struct WDF_IO_QUEUE_CONFIG {
    ULONG Size;
    WDF_IO_QUEUE_DISPATCH_TYPE DispatchType;
    WDF_TRI_STATE PowerManaged;
    BOOLEAN DefaultQueue;
    PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL EvtIoDeviceControl;
};
using PWDF_IO_QUEUE_CONFIG = WDF_IO_QUEUE_CONFIG*;

inline void WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(PWDF_IO_QUEUE_CONFIG config,
                                                   WDF_IO_QUEUE_DISPATCH_TYPE dispatchType) {
    *config = {};
    config->Size = sizeof(WDF_IO_QUEUE_CONFIG);
    config->DispatchType = dispatchType;
    config->PowerManaged = WdfUseDefault;
    config->DefaultQueue = 1;
}

// Only sequential dispatch is served; other types fail with
// STATUS_NOT_SUPPORTED.
SVCP_KERNEL_EXPORT NTSTATUS WdfIoQueueCreate(WDFDEVICE device, PWDF_IO_QUEUE_CONFIG config,
                                             PWDF_OBJECT_ATTRIBUTES attributes, WDFQUEUE* queue);
SVCP_KERNEL_EXPORT WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE queue);

// Requests. Under buffered I/O the input and the output share the IRP's
// system buffer; the information length is how many bytes go back.
struct IO_STATUS_BLOCK {
    NTSTATUS Status;
    ULONG_PTR Information;
};
struct IRP {
    IO_STATUS_BLOCK IoStatus;
    struct {
        PVOID SystemBuffer;
    } AssociatedIrp;
};
using PIRP = IRP*;

SVCP_KERNEL_EXPORT PIRP WdfRequestWdmGetIrp(WDFREQUEST request);
SVCP_KERNEL_EXPORT void WdfRequestComplete(WDFREQUEST request, NTSTATUS status);
SVCP_KERNEL_EXPORT void WdfRequestCompleteWithInformation(WDFREQUEST request, NTSTATUS status,
                                                          ULONG_PTR information);

// Kernel debugger and checks. DbgPrint writes to stderr; RtlAssert reports
// the failed expression and ends the process.
SVCP_KERNEL_EXPORT ULONG DbgPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] SVCP_KERNEL_EXPORT void RtlAssert(PVOID failedAssertion, PVOID fileName,
                                               ULONG lineNumber, const char* message);
SVCP_KERNEL_EXPORT KIRQL KeGetCurrentIrql();
// Whether the framework's verifier runs for the loaded driver.
SVCP_KERNEL_EXPORT BOOLEAN WdfDriverVerifierEnabled();
