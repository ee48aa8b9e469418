#include "Portwyn.h"

#include "PortProtocol.h"

namespace {

DECLARE_CONST_UNICODE_STRING(kDeviceName, L"\\Device\\PORTWYN");

// The device's port range comes with its resources; the register block
// needs all four registers.
bool FindPortResource(WDFCMRESLIST resources, ULONG* base) {
    for (ULONG i = 0; i < WdfCmResourceListGetCount(resources); ++i) {
        PCM_PARTIAL_RESOURCE_DESCRIPTOR descriptor = WdfCmResourceListGetDescriptor(resources, i);
        if (descriptor->Type == CmResourceTypePort &&
            descriptor->u.Port.Length >= SVCP_REGISTER_SPAN) {
            *base = static_cast<ULONG>(descriptor->u.Port.Start);
            return true;
        }
    }
    return false;
}

bool PortBaseAllowed(const DEVICE_CONTEXT* context, ULONG requested) {
    if (requested == context->PortBase) {
        return true;
    }
    DbgPrint("portwyn: request for port base 0x%x refused, the device is at 0x%x\n", requested,
             context->PortBase);
    return false;
}

using PacketOperation = NTSTATUS (*)(SVCP_PACKET*);
using RegisterOperation = NTSTATUS (*)(SVCP_REGISTER_ACCESS*);

NTSTATUS HandlePacket(const DEVICE_CONTEXT* context, WDFREQUEST request, size_t outputLength,
                      size_t inputLength, size_t outputNeeded, ULONG information,
                      PacketOperation operation) {
    PIRP irp = WdfRequestWdmGetIrp(request);
    irp->IoStatus.Information = 0;
    if (inputLength < sizeof(SVCP_PACKET) || outputLength < outputNeeded) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* packet = static_cast<SVCP_PACKET*>(irp->AssociatedIrp.SystemBuffer);
    if (!PortBaseAllowed(context, packet->PortBase)) {
        return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS status = operation(packet);
    if (NT_SUCCESS(status)) {
        irp->IoStatus.Information = information;
    }
    return status;
}

NTSTATUS HandleRegister(const DEVICE_CONTEXT* context, WDFREQUEST request, size_t outputLength,
                        size_t inputLength, size_t outputNeeded, ULONG information,
                        RegisterOperation operation) {
    PIRP irp = WdfRequestWdmGetIrp(request);
    irp->IoStatus.Information = 0;
    if (inputLength < sizeof(SVCP_REGISTER_ACCESS) || outputLength < outputNeeded) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* access = static_cast<SVCP_REGISTER_ACCESS*>(irp->AssociatedIrp.SystemBuffer);
    if (!PortBaseAllowed(context, access->PortBase)) {
        return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS status = operation(access);
    if (NT_SUCCESS(status)) {
        irp->IoStatus.Information = information;
    }
    return status;
}

} // namespace

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, SvcpEvtDeviceAdd);
    return WdfDriverCreate(driverObject, registryPath, WDF_NO_OBJECT_ATTRIBUTES, &config,
                           WDF_NO_HANDLE);
}

NTSTATUS SvcpEvtDeviceAdd(WDFDRIVER /*driver*/, PWDFDEVICE_INIT deviceInit) {
    NTSTATUS status = WdfDeviceInitAssignName(deviceInit, &kDeviceName);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    WDF_PNPPOWER_EVENT_CALLBACKS pnpPower;
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&pnpPower);
    pnpPower.EvtDevicePrepareHardware = SvcpEvtDevicePrepareHardware;
    WdfDeviceInitSetPnpPowerEventCallbacks(deviceInit, &pnpPower);
    WdfDeviceInitSetIoType(deviceInit, WdfDeviceIoBuffered);

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, DEVICE_CONTEXT);
    attributes.ExecutionLevel = WdfExecutionLevelPassive;
    attributes.SynchronizationScope = WdfSynchronizationScopeInheritFromParent;
    WDFDEVICE device;
    status = WdfDeviceCreate(&deviceInit, &attributes, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    DEVICE_CONTEXT* context = GetDeviceContext(device);

    WDF_IO_QUEUE_CONFIG queueConfig;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&queueConfig, WdfIoQueueDispatchSequential);
    queueConfig.EvtIoDeviceControl = SvcpEvtIoDeviceControl;
    status = WdfIoQueueCreate(device, &queueConfig, WDF_NO_OBJECT_ATTRIBUTES, &context->Queue);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return WdfDeviceCreateDeviceInterface(device, &GUID_DEVINTERFACE_SVCP, nullptr);
}

NTSTATUS SvcpEvtDevicePrepareHardware(WDFDEVICE device, WDFCMRESLIST /*resourcesRaw*/,
                                      WDFCMRESLIST resourcesTranslated) {
    DEVICE_CONTEXT* context = GetDeviceContext(device);
    if (!FindPortResource(resourcesTranslated, &context->PortBase)) {
        DbgPrint("portwyn: no port range among the device's resources\n");
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    WdfDeviceSetDeviceInterfaceState(device, &GUID_DEVINTERFACE_SVCP, nullptr, 1);
    DbgPrint("WdfDeviceSetDeviceInterfaceState(true)\n");
    return STATUS_SUCCESS;
}

void SvcpEvtIoDeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t outputBufferLength,
                            size_t inputBufferLength, ULONG ioControlCode) {
    if (WdfDriverVerifierEnabled() && KeGetCurrentIrql() != PASSIVE_LEVEL) {
        RtlAssert(const_cast<char*>("KeGetCurrentIrql() == PASSIVE_LEVEL"),
                  const_cast<char*>("svcproc\\src\\portwyn\\portwyn"), __LINE__, nullptr);
    }
    const DEVICE_CONTEXT* context = GetDeviceContext(WdfIoQueueGetDevice(queue));
    NTSTATUS status;
    switch (ioControlCode) {
    case IOCTL_SVCP_SEND:
        status =
            HandlePacket(context, request, outputBufferLength, inputBufferLength, 0, 0, SendOnly);
        break;
    case IOCTL_SVCP_REQUEST_RESPONSE:
        status = HandlePacket(context, request, outputBufferLength, inputBufferLength,
                              sizeof(SVCP_PACKET), sizeof(SVCP_PACKET), Exchange);
        break;
    case IOCTL_SVCP_READ_REGISTER:
        status = HandleRegister(context, request, outputBufferLength, inputBufferLength,
                                sizeof(SVCP_REGISTER_ACCESS), sizeof(SVCP_REGISTER_ACCESS),
                                ReadRegister);
        break;
    case IOCTL_SVCP_WRITE_REGISTER:
        status = HandleRegister(context, request, outputBufferLength, inputBufferLength, 0, 0,
                                WriteRegister);
        break;
    default:
        status = STATUS_NOT_IMPLEMENTED;
        break;
    }
    WdfRequestComplete(request, status);
}
