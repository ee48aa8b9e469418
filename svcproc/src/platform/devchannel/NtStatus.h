// Completion statuses of driver requests, with the platform's names and
// values. Shared by the driver-framework layer, the driver and the device
// channel, which turns failures into Win32 last errors.
#pragma once

#include "../base/WinTypes.h"

using NTSTATUS = LONG;

constexpr bool NT_SUCCESS(NTSTATUS status) {
    return status >= 0;
}

constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_DEVICE_BUSY = static_cast<NTSTATUS>(0x80000011u);
constexpr NTSTATUS STATUS_UNSUCCESSFUL = static_cast<NTSTATUS>(0xC0000001u);
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = static_cast<NTSTATUS>(0xC0000002u);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);
constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = static_cast<NTSTATUS>(0xC0000010u);
constexpr NTSTATUS STATUS_NO_MEMORY = static_cast<NTSTATUS>(0xC0000017u);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022u);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023u);
constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = static_cast<NTSTATUS>(0xC0000035u);
constexpr NTSTATUS STATUS_SHARING_VIOLATION = static_cast<NTSTATUS>(0xC0000043u);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = static_cast<NTSTATUS>(0xC000009Au);
constexpr NTSTATUS STATUS_IO_TIMEOUT = static_cast<NTSTATUS>(0xC00000B5u);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = static_cast<NTSTATUS>(0xC00000BBu);
constexpr NTSTATUS STATUS_INTERNAL_ERROR = static_cast<NTSTATUS>(0xC00000E5u);
constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = static_cast<NTSTATUS>(0xC0000184u);
constexpr NTSTATUS STATUS_DEVICE_PROTOCOL_ERROR = static_cast<NTSTATUS>(0xC0000186u);
constexpr NTSTATUS STATUS_DEVICE_CONFIGURATION_ERROR = static_cast<NTSTATUS>(0xC0000182u);
