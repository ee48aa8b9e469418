// Fixed-width names for the platform types the system's code is written in.
// This host's `unsigned long` is 64 bits, so none of these use it.
#pragma once

#include <cstdint>

using BYTE = uint8_t;
using UCHAR = uint8_t;
using WORD = uint16_t;
using USHORT = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using WCHAR = wchar_t;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Win32 error codes the layer reports through GetLastError.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_BAD_COMMAND = 22;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_SEM_TIMEOUT = 121;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_IO_DEVICE = 1117;
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;
constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr DWORD ERROR_SERVICE_EXISTS = 1073;
constexpr DWORD ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
constexpr DWORD ERROR_TIMEOUT = 1460;
