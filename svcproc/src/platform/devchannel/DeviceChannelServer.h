// Server side of the device channel: publishes one device interface as a Unix
// socket $SVCPROC_RUNTIME_DIR/devices/<class-guid>/<name> (mode 0660) and
// carries out the requests of every open handle one at a time, on one thread
// of its own, so a second client waits for the first one's request.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "NtStatus.h"

#define SVCP_DEVCHANNEL_EXPORT __attribute__((visibility("default")))

namespace svcproc::devchannel {

// Carries out one request: `in` holds `inLen` bytes, `out` has room for
// `outLen`; `*information` (0 on entry) is how many bytes of `out` go back to
// the caller.
using RequestHandler =
    std::function<NTSTATUS(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                           uint32_t outLen, uint32_t* information)>;

// The directory that holds the interfaces of a class, e.g.
// "/run/svcproc/devices/{5c0e7a4b-...}".
SVCP_DEVCHANNEL_EXPORT std::string InterfaceClassDirectory(const std::string& classGuid);

class SVCP_DEVCHANNEL_EXPORT DeviceInterfaceServer {
public:
    // Nothing is published until Enable.
    DeviceInterfaceServer(std::string classGuid, std::string name, RequestHandler handler);
    ~DeviceInterfaceServer();
    DeviceInterfaceServer(const DeviceInterfaceServer&) = delete;
    DeviceInterfaceServer& operator=(const DeviceInterfaceServer&) = delete;

    // Creates the socket and starts serving. False with *error when the socket
    // cannot be made or another live server already holds the path.
    bool Enable(std::string* error);
    // Withdraws the interface: closes every connection, removes the socket.
    // Waits for a request in progress to finish.
    void Disable();
    bool IsEnabled() const;
    std::string Path() const;

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

} // namespace svcproc::devchannel
