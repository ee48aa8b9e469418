// The port driver's frame: entry routine, device add, prepare-hardware and
// the I/O control dispatch of its one sequential queue.
#pragma once

#include "Wdf.h"

// PortBase: the start of the port range the device was given; requests for
// any other base are refused so no caller reaches ports outside it.
struct DEVICE_CONTEXT {
    WDFQUEUE Queue;
    ULONG PortBase;
};
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(DEVICE_CONTEXT, GetDeviceContext)

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
NTSTATUS SvcpEvtDeviceAdd(WDFDRIVER driver, PWDFDEVICE_INIT deviceInit);
NTSTATUS SvcpEvtDevicePrepareHardware(WDFDEVICE device, WDFCMRESLIST resourcesRaw,
                                      WDFCMRESLIST resourcesTranslated);
void SvcpEvtIoDeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t outputBufferLength,
                            size_t inputBufferLength, ULONG ioControlCode);
