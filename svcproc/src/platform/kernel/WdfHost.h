// The kernel's side of the driver framework, used by the driver host (and by
// tests that run the driver in-process): load a driver, announce and start a
// device, deliver I/O control requests to its default queue, remove it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Wdf.h"

namespace svcproc::kernel {

struct PortRange {
    uint32_t base;
    uint32_t length;
};

// Calls the entry routine; the driver object it creates is returned. One
// driver at a time.
SVCP_KERNEL_EXPORT NTSTATUS LoadDriver(PDRIVER_INITIALIZE entry, WDFDRIVER* driver);
// Removes the driver's devices, then the driver.
SVCP_KERNEL_EXPORT void UnloadDriver(WDFDRIVER driver);

// The driver's device-add callback with a fresh initialisation record.
SVCP_KERNEL_EXPORT NTSTATUS AddDevice(WDFDRIVER driver, WDFDEVICE* device);
// Prepare-hardware with the given port resources. Fails (with *error) when
// the callback fails or an interface it enabled could not be published.
SVCP_KERNEL_EXPORT NTSTATUS StartDevice(WDFDEVICE device, const std::vector<PortRange>& ports,
                                        std::string* error);
// Withdraws the device's interfaces (waiting for a request in progress) and
// deletes the device with its queue and context.
SVCP_KERNEL_EXPORT void RemoveDevice(WDFDEVICE device);

// Delivers one request to the default queue and waits for its completion.
// `out` gets the information bytes on success; *information is 0 on failure.
SVCP_KERNEL_EXPORT NTSTATUS SendDeviceControl(WDFDEVICE device, ULONG code, const void* in,
                                              uint32_t inLength, void* out, uint32_t outLength,
                                              uint32_t* information);

// Socket paths of the device's enabled interfaces.
SVCP_KERNEL_EXPORT std::vector<std::string> EnabledInterfacePaths(WDFDEVICE device);

SVCP_KERNEL_EXPORT void SetVerifierEnabled(bool enabled);
// Test hooks: the IRQL KeGetCurrentIrql reports (PASSIVE_LEVEL otherwise) and
// a copy of every DbgPrint line.
SVCP_KERNEL_EXPORT void SetCurrentIrqlForTest(KIRQL irql);
SVCP_KERNEL_EXPORT void SetDebugPrintSinkForTest(std::function<void(const std::string&)> sink);

} // namespace svcproc::kernel
