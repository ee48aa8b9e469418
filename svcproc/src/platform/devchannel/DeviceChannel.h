// Client side of the device channel: device-interface enumeration, open and
// I/O control with the platform's names. An interface of a class is a Unix
// socket under $SVCPROC_RUNTIME_DIR/devices/<class-guid>/ (runtime dir
// default /run/svcproc); open connects to it, DeviceIoControl sends one
// request and waits for its reply. Failures set the thread's last error.
#pragma once

#include <cstddef>

#include "../base/WinTypes.h"
#include "../sync/Sync.h"
#include "SvcpIoctl.h"

using GUID = SVCP_GUID;

// An enumerated set of interfaces of one class (SetupDiGetClassDevsW).
struct DeviceInfoSet;
using HDEVINFO = DeviceInfoSet*;
inline const HDEVINFO INVALID_HANDLE_VALUE_DEVINFO = reinterpret_cast<HDEVINFO>(~uintptr_t{0});

constexpr DWORD DIGCF_PRESENT = 0x02;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    uintptr_t Reserved;
};

// The size field holds the fixed header size (offsetof DevicePath + one
// character), as the platform requires; the path follows in place.
struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
};

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;

SVCP_PLATFORM_EXPORT HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* enumerator,
                                                   void* window, DWORD flags);
SVCP_PLATFORM_EXPORT BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfo,
                                                      const GUID* classGuid, DWORD memberIndex,
                                                      SP_DEVICE_INTERFACE_DATA* data);
// With no buffer: fails with ERROR_INSUFFICIENT_BUFFER and the required size.
SVCP_PLATFORM_EXPORT BOOL SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
    DWORD detailSize, DWORD* requiredSize, void* deviceInfo);
SVCP_PLATFORM_EXPORT BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

// Sharing as on the platform: an open that conflicts with the access or share
// mode of a handle already open (share mode 0: any second open) fails with
// ERROR_SHARING_VIOLATION. The handle is closed with CloseHandle.
SVCP_PLATFORM_EXPORT HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD shareMode,
                                        void* security, DWORD creation, DWORD flags,
                                        HANDLE templateFile);
// Synchronous only (overlapped must be null). A failure status of the driver
// becomes a Win32 last error (NtStatusToWin32Error) and nothing is copied to
// the output buffer; on success `information` bytes are.
SVCP_PLATFORM_EXPORT BOOL DeviceIoControl(HANDLE device, DWORD code, void* inBuffer, DWORD inSize,
                                          void* outBuffer, DWORD outSize, DWORD* bytesReturned,
                                          void* overlapped);

namespace svcproc::devchannel {
// The last error a failed request reports for a driver status.
SVCP_PLATFORM_EXPORT DWORD NtStatusToWin32Error(uint32_t status);
} // namespace svcproc::devchannel
