// What travels on a device interface socket. All fields are 32-bit
// little-endian (both ends run on this host).
//
// Open: right after connecting, the client sends an OpenMessage; the server
// answers with an OpenReply. STATUS_SUCCESS: the handle is open. Any other
// status (STATUS_SHARING_VIOLATION when the device is held without sharing)
// and the server closes the connection.
//
// Request: RequestHeader, then `inputLength` input bytes.
// Reply: ReplyHeader, then `information` output bytes (at most the request's
// `outputLength`).
//
// Lengths above kMaxTransfer, a bad open message or a connection that ends
// inside a message make the server close that connection, with a log line.
#pragma once

#include <cstdint>

namespace svcproc::devchannel::wire {

constexpr uint32_t kOpenMagic = 0x43445653; // "SVDC"
constexpr uint32_t kVersion = 1;
// Far above the 96-byte packets the driver serves; bounds what a peer can
// make the other side hold.
constexpr uint32_t kMaxTransfer = 4096;

struct OpenMessage {
    uint32_t magic;
    uint32_t version;
    uint32_t desiredAccess; // GENERIC_READ | GENERIC_WRITE bits
    uint32_t shareMode;     // FILE_SHARE_READ | FILE_SHARE_WRITE bits
};

struct OpenReply {
    uint32_t status; // NTSTATUS
};

struct RequestHeader {
    uint32_t code;
    uint32_t inputLength;
    uint32_t outputLength;
};

struct ReplyHeader {
    uint32_t status; // NTSTATUS
    uint32_t information;
};

static_assert(sizeof(OpenMessage) == 16);
static_assert(sizeof(OpenReply) == 4);
static_assert(sizeof(RequestHeader) == 12);
static_assert(sizeof(ReplyHeader) == 8);

} // namespace svcproc::devchannel::wire
