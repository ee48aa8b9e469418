// I/O control codes and buffers shared by the library and the port driver.
#pragma once

#include <cstddef>
#include <cstdint>

#define FILE_DEVICE_SVCP 0x8077u

#define SVCP_CTL_CODE(function, access)                                                       \
    ((FILE_DEVICE_SVCP << 16) | ((uint32_t)(access) << 14) | ((uint32_t)(function) << 2) | 0u)

#define SVCP_ACCESS_ANY 0u
#define SVCP_ACCESS_READ 1u
#define SVCP_ACCESS_WRITE 2u

#define IOCTL_SVCP_SEND SVCP_CTL_CODE(0x800, SVCP_ACCESS_ANY)
#define IOCTL_SVCP_REQUEST_RESPONSE SVCP_CTL_CODE(0x801, SVCP_ACCESS_ANY)
#define IOCTL_SVCP_READ_REGISTER SVCP_CTL_CODE(0x870, SVCP_ACCESS_READ)
#define IOCTL_SVCP_WRITE_REGISTER SVCP_CTL_CODE(0x871, SVCP_ACCESS_WRITE)

static_assert(IOCTL_SVCP_SEND == 0x80772000u);
static_assert(IOCTL_SVCP_REQUEST_RESPONSE == 0x80772004u);
static_assert(IOCTL_SVCP_READ_REGISTER == 0x807761C0u);
static_assert(IOCTL_SVCP_WRITE_REGISTER == 0x8077A1C4u);

#define SVCP_REQUEST_MAX 16
#define SVCP_RESPONSE_MAX 64

// The register block of the service processor starts here on every board
// this system knows.
#define SVCP_DEFAULT_PORT_BASE 0x2B0u

#pragma pack(push, 1)
struct SVCP_PACKET {
    uint8_t Request[SVCP_REQUEST_MAX];
    uint8_t RequestLength;
    uint8_t Response[SVCP_RESPONSE_MAX];
    uint8_t ResponseLength;
    uint8_t Reserved[2];
    uint32_t AlertPoll;
    uint32_t AlertPending;
    uint32_t PortBase;
};

struct SVCP_REGISTER_ACCESS {
    uint32_t Reserved0;
    uint32_t PortBase;
    uint8_t Register;
    uint8_t Reserved1[3];
    uint8_t Value;
    uint8_t Reserved2[3];
};
#pragma pack(pop)

static_assert(sizeof(SVCP_PACKET) == 96);
static_assert(offsetof(SVCP_PACKET, Request) == 0);
static_assert(offsetof(SVCP_PACKET, RequestLength) == 16);
static_assert(offsetof(SVCP_PACKET, Response) == 17);
static_assert(offsetof(SVCP_PACKET, ResponseLength) == 81);
static_assert(offsetof(SVCP_PACKET, AlertPoll) == 84);
static_assert(offsetof(SVCP_PACKET, AlertPending) == 88);
static_assert(offsetof(SVCP_PACKET, PortBase) == 92);

static_assert(sizeof(SVCP_REGISTER_ACCESS) == 16);
static_assert(offsetof(SVCP_REGISTER_ACCESS, PortBase) == 4);
static_assert(offsetof(SVCP_REGISTER_ACCESS, Register) == 8);
static_assert(offsetof(SVCP_REGISTER_ACCESS, Value) == 12);

// Register number that makes a register write a bare command.
#define SVCP_REGISTER_COMMAND_ONLY 0xFFu

// Device interface class of the driver, private to this system; the library
// enumerates it and the driver host serves it under this name.
#define SVCP_INTERFACE_CLASS_GUID_STRING "{5c0e7a4b-3f1d-4a8e-9b62-d1f0a7c3e915}"

struct SVCP_GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
inline constexpr SVCP_GUID GUID_DEVINTERFACE_SVCP = {
    0x5c0e7a4b, 0x3f1d, 0x4a8e, {0x9b, 0x62, 0xd1, 0xf0, 0xa7, 0xc3, 0xe9, 0x15}};
